#include "app/StartupVerification.h"

#include "app/DefaultBackends.h"
#include "core/AppState.h"
#include "core/ErrorReport.h"
#include "core/MessageBoxes.h"
#include "core/ServerLogins.h"
#include "core/Services.h"
#include "platform/DataAccess.h"
#include "platform/VCardStore.h"
#include "store/TemplateDatabase.h"

#include <QDir>

namespace {

const QString kTitle = QStringLiteral("Mirel Startup Verification");

void fatal(Services &services, const ErrorInfo &error, const QString &message)
{
    services.boxes().show(QString::number(error.number) + QLatin1Char(' ') + error.description);
    services.boxes().show(message, MessageBoxes::Buttons::Ok, MessageBoxes::Icon::Critical, kTitle);
    services.endProgram();
}

} // namespace

void UseDefaultBackends(Services &services)
{
    services.checkDataAccess = [] {
        auto connection = DataAccess::Connection::openInMemory(kTemplateDatabasePassword);
        if (connection->cipherVersion().isEmpty())
            throw AppError(ErrorCode::CannotCreateObject,
                           QStringLiteral("The database engine is not SQLCipher: the template database could not be "
                                          "protected by its password."),
                           DataAccess::kEngineSource);
    };
    const QString storePath = services.dataPath + QLatin1Char('/') + vcardstore::kDefaultStoreDir;
    // Servers are opened with the login the services give at the time.
    ServerLogins *const *logins = &services.logins;
    services.createContactApplication = [storePath, logins](const QString &) -> std::shared_ptr<outlook::Application> {
        return std::make_shared<vcardstore::VCardApplication>(
            storePath, true, [logins](const QUrl &server) -> std::optional<ServerLogin> {
                return *logins ? (*logins)->loginFor(server) : std::nullopt;
            });
    };
}

bool StartupVerification(AppState &state, Services &services)
{
    try {
        services.checkDataAccess();
    } catch (const std::exception &e) {
        fatal(services, TrappedError(e),
              QStringLiteral("ADO has not been installed on this computer or it has been deleted - ") + kCrLf +
                  QStringLiteral("please re-install before running Mirel"));
        return false;
    }

    try {
        // Only proves that the store can be opened; released at once.
        services.createContactApplication(QStringLiteral("outlook.application")).reset();
    } catch (const std::exception &e) {
        fatal(services, TrappedError(e),
              QStringLiteral("Outlook 2000 or 2002 must be installed in order to use Mirel"));
        return false;
    }

    if (!OpenTemplateDatabase(state, services)) {
        services.boxes().show(QStringLiteral("A critical error has occured - Mirel cannot continue"));
        services.endProgram();
        return false;
    }

    try {
        state.outlookApplication = services.createContactApplication(QStringLiteral("Outlook.Application"));
        if (!state.outlookApplication)
            throw AppError(ErrorCode::ObjectMissing, QStringLiteral("The contact store could not be opened."));
        state.outlookNamespace = state.outlookApplication->GetNamespace(QStringLiteral("MAPI"));
    } catch (const std::exception &e) {
        ReportError(services.boxes(), TrappedError(e));
    }
    return true;
}
