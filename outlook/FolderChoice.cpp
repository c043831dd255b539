#include "outlook/FolderChoice.h"

#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"

QString UserFieldTypeName(int type)
{
    switch (type) {
    case outlook::olText:
        return QStringLiteral("Text");
    case outlook::olNumber:
        return QStringLiteral("Numbers");
    case outlook::olDateTime:
        return QStringLiteral("Date/Time");
    case outlook::olYesNo:
        return QStringLiteral("Yes/No");
    case outlook::olDuration:
        return QStringLiteral("Duration");
    case outlook::olKeywords:
        return QStringLiteral("Keywords");
    case outlook::olPercent:
        return QStringLiteral("Percent");
    case outlook::olCurrency:
        return QStringLiteral("Currency");
    case outlook::olFormula:
        return QStringLiteral("Formula");
    case outlook::olCombination:
        return QStringLiteral("Combination");
    default:
        return QStringLiteral("Unknown ") + QString::number(type);
    }
}

bool EnsureContactConnection(AppState &state, Services &services)
{
    if (state.outlookNamespace)
        return true;
    try {
        state.outlookApplication = services.createContactApplication(QStringLiteral("Outlook.Application"));
        if (!state.outlookApplication)
            throw AppError(ErrorCode::ObjectMissing, QStringLiteral("The contact store could not be opened."));
        state.outlookNamespace = state.outlookApplication->GetNamespace(QStringLiteral("MAPI"));
        return true;
    } catch (const std::exception &e) {
        state.outlookApplication.reset();
        ReportError(services.boxes(), TrappedError(e));
        return false;
    }
}

void ListUserDefinedFields(AppState &state, const outlook::UserProperties &fields)
{
    state.userDefinedFields.clear();
    for (const outlook::UserProperty &field : fields.items())
        state.userDefinedFields << std::pair{field.name, UserFieldTypeName(field.type)};
    if (!state.customForm)
        return;
    state.customFormNotice =
        QStringLiteral("The Outlook Contact Folder you have selected uses a <Custom Form> that contains ") +
        QString::number(state.customFieldCount) + QStringLiteral(" ") +
        QStringLiteral("User Defined Fields that may have special processing associated with them. ") +
        QStringLiteral("It is highly recommended that you contact your CRM vendor or application developer ") +
        QStringLiteral("to confirm that you can safely add contacts to this folder without impacting any ") +
        QStringLiteral("integrity rules that may be enforced when you add a contact manually. ") +
        QStringLiteral("You should also ask if they have a customized <import function> for this ") +
        QStringLiteral("folder. A customized version of <MIREL> can be developed if proper information is provided ") +
        QStringLiteral("You may proceed to use <Mirel> to import contacts at your own risk. You will only be able ") +
        QStringLiteral(
            "to <map> to standard Outlook Contact fields. All fields that are not <mapped> will be ignored. ") +
        QStringLiteral(
            "You will not be able to <map to> or update any <user defined fields> in this release of <MIREL>.");
}

bool ChooseContactFolder(AppState &state, Services &services)
{
    try {
        if (!EnsureContactConnection(state, services))
            return false;
        services.folders->offerDuplicatePolicy(state.duplicatePolicy);
        for (;;) {
            state.targetFolder = services.folders->pickFolder(*state.outlookNamespace);
            if (!state.targetFolder)
                return false;
            if (const auto policy = services.folders->chosenDuplicatePolicy())
                state.duplicatePolicy = *policy;
            if (state.targetFolder->DefaultItemType() == outlook::olContactItem)
                break;
            services.boxes().show(QStringLiteral("Only Contact Folders can be selected"));
        }
        state.folderEntryId = state.targetFolder->EntryID();
        state.folderStoreId = state.targetFolder->StoreID();
        state.folderName = state.targetFolder->Name();
        std::shared_ptr<outlook::Items> items = state.targetFolder->Items();
        const std::shared_ptr<outlook::ContactItem> first = items->GetFirst();
        if (!first) {
            state.customFieldCount = 0;
            state.customForm = false;
            state.customFormName = outlook::kStandardContactClass;
        } else {
            state.targetFolder = state.outlookNamespace->GetFolderFromID(state.folderEntryId);
            items = state.targetFolder->Items();
            state.customFieldCount = qint16(first->UserProperties().Count());
            state.customFormName = first->MessageClass();
            state.customForm = state.customFormName != outlook::kStandardContactClass;
        }
        // A blank item of the folder's form, never saved, shows the form's fields.
        const std::shared_ptr<outlook::ContactItem> blank = items->Add(state.customFormName);
        ListUserDefinedFields(state, blank->UserProperties());
        if (state.customForm) {
            services.customForms->ask(state);
            return state.useCustomFolder;
        }
        return true;
    } catch (const std::exception &e) {
        ReportFileError(services.boxes(), TrappedError(e));
        return false;
    }
}
