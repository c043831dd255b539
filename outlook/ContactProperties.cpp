#include "outlook/ContactProperties.h"

#include <QHash>

namespace ContactProperties {

namespace {

const QHash<QString, Kind> &table()
{
    static const QHash<QString, Kind> kinds = [] {
        QHash<QString, Kind> t;
        const char *const text[] = {
            "Account", "AssistantName", "AssistantTelephoneNumber", "BillingInformation", "Body", "BusinessAddressCity",
            "BusinessAddressCountry", "BusinessAddressPostalCode", "BusinessAddressState", "BusinessFaxNumber",
            "BusinessHomePage", "Categories", "Children", "Companies", "ComputerNetworkName", "CustomerID",
            "Department", "FTPSite", "GovernmentIDNumber", "Hobby", "HomeAddressCity", "HomeAddressCountry",
            "HomeAddressPostalCode", "HomeAddressState", "HomeFaxNumber", "Initials", "InternetFreeBusyAddress",
            "ISDNNumber", "JobTitle", "Language", "MailingAddressCity", "MailingAddressCountry",
            "MailingAddressPostalCode", "MailingAddressState", "ManagerName", "MiddleName", "Mileage",
            "NetMeetingAlias", "NetMeetingServer", "NickName", "OfficeLocation", "OrganizationalIDNumber",
            "OtherAddressCity", "OtherAddressCountry", "OtherAddressPostalCode", "OtherAddressState", "OtherFaxNumber",
            "PagerNumber", "PersonalHomePage", "Profession", "RadioTelephoneNumber", "ReferredBy", "Spouse", "Subject",
            "Suffix", "TelexNumber", "Title", "TTYDDTelephoneNumber", "WebPage",
            // addresses
            "BusinessAddress", "BusinessAddressPostOfficeBox", "BusinessAddressStreet", "HomeAddress",
            "HomeAddressPostOfficeBox", "HomeAddressStreet", "MailingAddress", "MailingAddressPostOfficeBox",
            "MailingAddressStreet", "OtherAddress", "OtherAddressPostOfficeBox", "OtherAddressStreet",
            // names and e-mail
            "FirstName", "FullName", "LastName", "CompanyName", "EmailAddress", "Email2Address", "Email3Address"};
        for (const char *name : text)
            t.insert(QLatin1String(name), Kind::Text);
        for (const QString &name : phoneNumbers())
            t.insert(name, Kind::Text);
        t.insert(QStringLiteral("Anniversary"), Kind::Date);
        t.insert(QStringLiteral("Birthday"), Kind::Date);
        t.insert(QStringLiteral("Gender"), Kind::Gender);
        t.insert(QStringLiteral("Journal"), Kind::Boolean);
        t.insert(QStringLiteral("NoAging"), Kind::Boolean);
        return t;
    }();
    return kinds;
}

} // namespace

bool kindOf(const QString &name, Kind &kind)
{
    const auto it = table().constFind(name);
    if (it == table().constEnd())
        return false;
    kind = *it;
    return true;
}

const QStringList &phoneNumbers()
{
    static const QStringList phones{
        QStringLiteral("PrimaryTelephoneNumber"),   QStringLiteral("BusinessTelephoneNumber"),
        QStringLiteral("Business2TelephoneNumber"), QStringLiteral("CompanyMainTelephoneNumber"),
        QStringLiteral("MobileTelephoneNumber"),    QStringLiteral("HomeTelephoneNumber"),
        QStringLiteral("Home2TelephoneNumber"),     QStringLiteral("CarTelephoneNumber"),
        QStringLiteral("OtherTelephoneNumber"),     QStringLiteral("CallbackTelephoneNumber")};
    return phones;
}

const QStringList &names()
{
    static const QStringList all = [] {
        QStringList list = table().keys();
        list.sort();
        return list;
    }();
    return all;
}

} // namespace ContactProperties
