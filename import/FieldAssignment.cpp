#include "import/FieldAssignment.h"

#include "catalog/MappingKey.h"
#include "core/AppError.h"
#include "core/AppState.h"
#include "core/MessageBoxes.h"
#include "core/Services.h"
#include "import/EmailCheck.h"
#include "import/ValueConversion.h"
#include "outlook/ContactProperties.h"
#include "outlook/ContactStore.h"

namespace {

// Leading and trailing blanks removed, as the notes and street lines want them.
QString trimBlanks(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && text[start] == QLatin1Char(' '))
        ++start;
    while (end > start && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(start, end - start);
}

void writeStandard(AppState &state, outlook::ContactItem &contact, const QString &key,
                   const ContactProperties::Property &property)
{
    using ContactProperties::Kind;
    using ContactProperties::RowFlag;
    const QVariant &value = state.currentValue;
    switch (property.kind) {
    case Kind::Text:
        contact.SetProperty(key, Convert::toText(value));
        break;
    case Kind::Date:
        contact.SetProperty(key, Convert::toDate(value));
        break;
    case Kind::Gender:
        contact.SetProperty(key, Convert::toInt32(value));
        break;
    case Kind::Boolean:
        contact.SetProperty(key, Convert::toBoolean(value));
        break;
    }
    AppState::RowFlags &flags = state.rowFlags;
    switch (property.flag) {
    case RowFlag::Phone:
        flags.hasPhone = true;
        break;
    case RowFlag::Address:
        flags.hasAddress = true;
        break;
    case RowFlag::ContactName:
        flags.hasContactName = true;
        break;
    case RowFlag::CompanyName:
        flags.hasCompanyName = true;
        break;
    case RowFlag::Email: {
        // The address stands in the contact whatever the check says; only the flag depends on it.
        QString code;
        if (CheckEmailAddress(Convert::toText(value), code))
            flags.hasValidEmail = true;
        break;
    }
    case RowFlag::None:
        break;
    }
}

void endOfRow(AppState &state, outlook::ContactItem &contact)
{
    for (int a = 0; a < MappingKey::kAddressCount; ++a) {
        if (!state.street[a].streetLines)
            continue;
        // Only lines with text are joined: empty ones would leave bare line breaks that other
        // programs show as an empty address. With nothing to join, a mapped street stays.
        auto &lines = state.streetLineTexts[a];
        QStringList texts;
        for (const QString &line : lines)
            if (!trimBlanks(line).isEmpty())
                texts << trimBlanks(line);
        lines = {};
        if (texts.isEmpty())
            continue;
        const QString property = MappingKey::streetProperty(a);
        contact.SetProperty(property, texts.join(kCrLf));
        if (!contact.GetProperty(property).toString().isEmpty())
            state.rowFlags.hasAddress = true;
        state.rowFlags.hasData = true;
    }
    if (!state.potentialValue.isEmpty()) {
        state.notesText = QStringLiteral("Potential Value: ") + trimBlanks(state.potentialValue) + kCrLf;
        state.potentialValue.clear();
    }
    if (!state.timeFrame.isEmpty()) {
        state.notesText += QStringLiteral("Time Frame: ") + trimBlanks(state.timeFrame) + kCrLf;
        state.timeFrame.clear();
        state.rowFlags.hasData = true;
    }
    state.notesText += contact.GetProperty(QStringLiteral("Body")).toString();
    if (!state.notesText.isEmpty()) {
        contact.SetProperty(QStringLiteral("Body"), state.notesText);
        state.rowFlags.hasData = true;
        state.notesText.clear();
    }
}

} // namespace

FieldKey::FieldKey(const QString &key)
    : key(key), parsed(MappingKey::parse(key)), property(ContactProperties::find(key))
{}

qint16 SetContactField(AppState &state, Services &services, outlook::ContactItem &contact, const QString &key)
{
    return SetContactField(state, services, contact, FieldKey(key));
}

qint16 SetContactField(AppState &state, Services &services, outlook::ContactItem &contact, const FieldKey &field)
{
    const QString &key = field.key;
    const MappingKey::Parsed &parsed = field.parsed;
    const bool userDefined = parsed.kind == MappingKey::Kind::UserDefined;
    try {
        if (userDefined) {
            contact.UserProperties().Add(parsed.name, outlook::olText, true);
            contact.UserProperties().SetValue(parsed.name, state.currentValue.isNull() ? QVariant(QStringLiteral(" "))
                                                                                       : state.currentValue);
            return FieldResult::Skipped;
        }
        switch (parsed.kind) {
        case MappingKey::Kind::StreetLine:
            state.streetLineTexts[parsed.address][parsed.line] = Convert::toText(state.currentValue);
            // Joined lines count as an address at the row's end, once it is known they hold text.
            if (!state.street[parsed.address].streetLines)
                state.rowFlags.hasAddress = true;
            break;
        case MappingKey::Kind::PotentialValue:
            state.potentialValue = Convert::toText(state.currentValue);
            break;
        case MappingKey::Kind::TimeFrame:
            state.timeFrame = Convert::toText(state.currentValue);
            break;
        case MappingKey::Kind::ProductId:
            contact.SetProperty(QStringLiteral("Categories"), Convert::toText(state.currentValue));
            break;
        case MappingKey::Kind::RowEnd:
            endOfRow(state, contact);
            break;
        default: // a contact property, or a key nothing handles
            if (field.property)
                writeStandard(state, contact, key, *field.property);
            else
                services.boxes().show(QStringLiteral("Field not handled: ") + key);
        }
        return FieldResult::Handled;
    } catch (const std::exception &) {
        if (!userDefined)
            return FieldResult::Skipped; // the field is left out; the row goes on
        const MessageBoxes::Answer answer = services.boxes().show(
            QStringLiteral("Unable to update the field <") + parsed.name + QStringLiteral(">") + kCrLf +
                QStringLiteral("as a User Defined field - field skipped") + kCrLf +
                QStringLiteral("Do you want to continue importing this file?"),
            MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Critical, QStringLiteral("Updating Contact"));
        return answer == MessageBoxes::Answer::No ? FieldResult::Stop : FieldResult::Skipped;
    }
}
