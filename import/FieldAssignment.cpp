#include "import/FieldAssignment.h"

#include "app/AppError.h"
#include "app/AppState.h"
#include "app/Services.h"
#include "import/EmailCheck.h"
#include "import/ValueConversion.h"
#include "outlook/ContactProperties.h"
#include "outlook/ContactStore.h"
#include "platform/MessageBoxes.h"

#include <QHash>

namespace {

enum class Flag { None, Phone, Address, ContactName, CompanyName, Email };

// The flag each standard key sets; keys not listed set none.
Flag flagOf(const QString &key)
{
    static const QHash<QString, Flag> flags = [] {
        QHash<QString, Flag> f;
        for (const QString &k : ContactProperties::phoneNumbers())
            f.insert(k, Flag::Phone);
        for (const char *k :
             {"BusinessAddress", "BusinessAddressPostOfficeBox", "BusinessAddressStreet", "HomeAddress",
              "HomeAddressPostOfficeBox", "HomeAddressStreet", "MailingAddress", "MailingAddressPostOfficeBox",
              "MailingAddressStreet", "OtherAddress", "OtherAddressPostOfficeBox", "OtherAddressStreet"})
            f.insert(QLatin1String(k), Flag::Address);
        for (const char *k : {"FirstName", "FullName", "LastName"})
            f.insert(QLatin1String(k), Flag::ContactName);
        f.insert(QStringLiteral("CompanyName"), Flag::CompanyName);
        for (const char *k : {"EmailAddress", "Email2Address", "Email3Address"})
            f.insert(QLatin1String(k), Flag::Email);
        return f;
    }();
    return flags.value(key, Flag::None);
}

// The addresses in the order the row's end joins them: business, mailing, home, other.
constexpr const char *kStreetCodes[] = {"CO", "ML", "HM", "OT"};
constexpr const char *kStreetProperties[] = {"BusinessAddressStreet", "MailingAddressStreet", "HomeAddressStreet",
                                             "OtherAddressStreet"};

AppState::StreetFlags &streetFlags(AppState &state, int address)
{
    switch (address) {
    case 0:
        return state.business;
    case 1:
        return state.mailing;
    case 2:
        return state.home;
    default:
        return state.other;
    }
}

// "##COStreet1" ... "##OTStreet3": the address (0 to 3) and the line (0 to 2); false otherwise.
bool streetLine(const QString &key, int &address, int &line)
{
    if (key.size() != 11 || !key.startsWith(QLatin1String("##")) || key.mid(4, 6) != QLatin1String("Street"))
        return false;
    for (int a = 0; a < 4; ++a) {
        if (key.mid(2, 2) == QLatin1String(kStreetCodes[a]) && key[10] >= QLatin1Char('1') &&
            key[10] <= QLatin1Char('3')) {
            address = a;
            line = key[10].digitValue() - 1;
            return true;
        }
    }
    return false;
}

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

void writeStandard(AppState &state, outlook::ContactItem &contact, const QString &key, ContactProperties::Kind kind)
{
    using ContactProperties::Kind;
    const QVariant &value = state.currentValue;
    switch (kind) {
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
    switch (flagOf(key)) {
    case Flag::Phone:
        flags.hasPhone = true;
        break;
    case Flag::Address:
        flags.hasAddress = true;
        break;
    case Flag::ContactName:
        flags.hasContactName = true;
        break;
    case Flag::CompanyName:
        flags.hasCompanyName = true;
        break;
    case Flag::Email: {
        // The address stands in the contact whatever the check says; only the flag depends on it.
        QString code;
        if (CheckEmailAddress(Convert::toText(value), code))
            flags.hasValidEmail = true;
        break;
    }
    case Flag::None:
        break;
    }
}

void endOfRow(AppState &state, outlook::ContactItem &contact)
{
    for (int a = 0; a < 4; ++a) {
        if (!streetFlags(state, a).streetLines)
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
        const QString property = QLatin1String(kStreetProperties[a]);
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

qint16 SetContactField(AppState &state, Services &services, outlook::ContactItem &contact, const QString &key)
{
    const bool userDefined = key.startsWith(QLatin1String("UD"));
    const QString fieldName = key.mid(2);
    try {
        if (userDefined) {
            contact.UserProperties().Add(fieldName, outlook::olText, true);
            contact.UserProperties().SetValue(fieldName, state.currentValue.isNull() ? QVariant(QStringLiteral(" "))
                                                                                     : state.currentValue);
            return FieldResult::Skipped;
        }
        ContactProperties::Kind kind;
        int address = 0;
        int line = 0;
        if (ContactProperties::kindOf(key, kind)) {
            writeStandard(state, contact, key, kind);
        } else if (streetLine(key, address, line)) {
            state.streetLineTexts[address][line] = Convert::toText(state.currentValue);
            // Joined lines count as an address at the row's end, once it is known they hold text.
            if (!streetFlags(state, address).streetLines)
                state.rowFlags.hasAddress = true;
        } else if (key == QLatin1String("##Value")) {
            state.potentialValue = Convert::toText(state.currentValue);
        } else if (key == QLatin1String("##TimeFrame")) {
            state.timeFrame = Convert::toText(state.currentValue);
        } else if (key == QLatin1String("##ProdID")) {
            contact.SetProperty(QStringLiteral("Categories"), Convert::toText(state.currentValue));
        } else if (key == QLatin1String("##END")) {
            endOfRow(state, contact);
        } else {
            services.boxes().show(QStringLiteral("Field not handled: ") + key);
        }
        return FieldResult::Handled;
    } catch (const std::exception &) {
        if (!userDefined)
            return FieldResult::Skipped; // the field is left out; the row goes on
        const MessageBoxes::Answer answer = services.boxes().show(
            QStringLiteral("Unable to update the field <") + fieldName + QStringLiteral(">") + kCrLf +
                QStringLiteral("as a User Defined field - field skipped") + kCrLf +
                QStringLiteral("Do you want to continue importing this file?"),
            MessageBoxes::Buttons::YesNo, MessageBoxes::Icon::Critical, QStringLiteral("Updating Contact"));
        return answer == MessageBoxes::Answer::No ? FieldResult::Stop : FieldResult::Skipped;
    }
}
