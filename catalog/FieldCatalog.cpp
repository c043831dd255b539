#include "catalog/FieldCatalog.h"

#include "catalog/MappingKey.h"

#include <QHash>

namespace {

struct Row {
    int level;
    const char *text;
    const char *key;
    const char *parent;
};

// The catalog in tree order: each node follows its parent and its elder siblings.
constexpr Row kCatalog[] = {
    {1, "Names", "@@Names", ""},
    {2, "Company Name", "CompanyName", "@@Names"},
    {2, "Contact Name (Full)", "FullName", "@@Names"},
    {3, "Title", "Title", "FullName"},
    {3, "First Name", "FirstName", "FullName"},
    {3, "Initials", "Initials", "FullName"},
    {3, "Middle Name", "MiddleName", "FullName"},
    {3, "Last Name", "LastName", "FullName"},
    {3, "Suffix", "Suffix", "FullName"},
    {2, "Assistant Name", "AssistantName", "@@Names"},
    {2, "Manager's Name", "ManagerName", "@@Names"},
    {2, "Nick Name", "NickName", "@@Names"},
    {1, "Physical Addresses", "@@PhysicalAddresses", ""},
    {2, "Company Address", "@@CompanyAddress", "@@PhysicalAddresses"},
    {3, "CO Street Address (Full)", "BusinessAddressStreet", "@@CompanyAddress"},
    {4, "CO Street Addr1", "##COStreet1", "BusinessAddressStreet"},
    {4, "CO Street Addr2", "##COStreet2", "BusinessAddressStreet"},
    {4, "CO Street Addr3", "##COStreet3", "BusinessAddressStreet"},
    {3, "CO PO Box", "BusinessAddressPostOfficeBox", "@@CompanyAddress"},
    {3, "CO City", "BusinessAddressCity", "@@CompanyAddress"},
    {3, "CO Prov/State", "BusinessAddressState", "@@CompanyAddress"},
    {3, "CO Postal Code", "BusinessAddressPostalCode", "@@CompanyAddress"},
    {3, "CO Country", "BusinessAddressCountry", "@@CompanyAddress"},
    {2, "Mailing Address", "@@MailingAddress", "@@PhysicalAddresses"},
    {3, "ML Street Address (Full)", "MailingAddressStreet", "@@MailingAddress"},
    {4, "ML Street Addr1", "##MLStreet1", "MailingAddressStreet"},
    {4, "ML Street Addr2", "##MLStreet2", "MailingAddressStreet"},
    {4, "ML Street Addr3", "##MLStreet3", "MailingAddressStreet"},
    {3, "ML PO Box", "MailingAddressPostOfficeBox", "@@MailingAddress"},
    {3, "ML City", "MailingAddressCity", "@@MailingAddress"},
    {3, "ML Prov/State", "MailingAddressState", "@@MailingAddress"},
    {3, "ML Postal Code", "MailingAddressPostalCode", "@@MailingAddress"},
    {3, "ML Country", "MailingAddressCountry", "@@MailingAddress"},
    {2, "Home Address", "@@HomeAddress", "@@PhysicalAddresses"},
    {3, "HM Street Address (Full)", "HomeAddressStreet", "@@HomeAddress"},
    {4, "HM Street Addr1", "##HMStreet1", "HomeAddressStreet"},
    {4, "HM Street Addr2", "##HMStreet2", "HomeAddressStreet"},
    {4, "HM Street Addr3", "##HMStreet3", "HomeAddressStreet"},
    {3, "HM PO Box", "HomeAddressPostOfficeBox", "@@HomeAddress"},
    {3, "HM City", "HomeAddressCity", "@@HomeAddress"},
    {3, "HM Prov/State", "HomeAddressState", "@@HomeAddress"},
    {3, "HM Postal Code", "HomeAddressPostalCode", "@@HomeAddress"},
    {3, "HM Country", "HomeAddressCountry", "@@HomeAddress"},
    {2, "Other Address", "@@OtherAddress", "@@PhysicalAddresses"},
    {3, "OT Street Address (Full)", "OtherAddressStreet", "@@OtherAddress"},
    {4, "OT Street Addr1", "##OTStreet1", "OtherAddressStreet"},
    {4, "OT Street Addr2", "##OTStreet2", "OtherAddressStreet"},
    {4, "OT Street Addr3", "##OTStreet3", "OtherAddressStreet"},
    {3, "OT PO Box", "OtherAddressPostOfficeBox", "@@OtherAddress"},
    {3, "OT City", "OtherAddressCity", "@@OtherAddress"},
    {3, "OT Prov/State", "OtherAddressState", "@@OtherAddress"},
    {3, "OT Postal Code", "OtherAddressPostalCode", "@@OtherAddress"},
    {3, "OT Country", "OtherAddressCountry", "@@OtherAddress"},
    {1, "Phone Numbers", "@@PhoneNumbers", ""},
    {2, "Assistant's Number", "AssistantTelephoneNumber", "@@PhoneNumbers"},
    {2, "Main Company Number", "BusinessTelephoneNumber", "@@PhoneNumbers"},
    {2, "Direct Office Number", "Business2TelephoneNumber", "@@PhoneNumbers"},
    {2, "Business Fax Number", "BusinessFaxNumber", "@@PhoneNumbers"},
    {2, "Home Number", "HomeTelephoneNumber", "@@PhoneNumbers"},
    {2, "Home Number2", "Home2TelephoneNumber", "@@PhoneNumbers"},
    {2, "Home Fax Number", "HomeFaxNumber", "@@PhoneNumbers"},
    {2, "Other Phone Number", "OtherTelephoneNumber", "@@PhoneNumbers"},
    {2, "Other Fax Number", "OtherFaxNumber", "@@PhoneNumbers"},
    {2, "Cell Number", "CarTelephoneNumber", "@@PhoneNumbers"},
    {2, "Pager Number", "MobileTelephoneNumber", "@@PhoneNumbers"},
    {2, "Primary Phone Number", "PrimaryTelephoneNumber", "@@PhoneNumbers"},
    {1, "Email Addresses", "@@Email", ""},
    {2, "Primary Email Address", "EmailAddress", "@@Email"},
    {2, "Email Address2", "Email2Address", "@@Email"},
    {2, "Email Address3", "Email3Address", "@@Email"},
    {1, "Various Dates", "@@Dates", ""},
    {2, "Contact/Anniversary Date", "Anniversary", "@@Dates"},
    {2, "Birth Date", "Birthday", "@@Dates"},
    {1, "Web Pages", "@@WebSites", ""},
    {2, "Company URL", "WebPage", "@@WebSites"},
    {2, "Personal URL", "PersonalHomePage", "@@WebSites"},
    {1, "Account ID", "Account", ""},
    {1, "Catagory(ies)", "Categories", ""},
    {1, "Comments", "Body", ""},
    {1, "Customer ID", "CustomerID", ""},
    {1, "Department", "Department", ""},
    {1, "Gender", "Gender", ""},
    {1, "Job Title", "JobTitle", ""},
    {1, "Language", "Language", ""},
    {1, "Referred By/Source", "ReferredBy", ""},
};

} // namespace

const QList<CatalogNode> &FieldCatalog::nodes()
{
    static const QList<CatalogNode> all = [] {
        QList<CatalogNode> list;
        for (const Row &row : kCatalog)
            list << CatalogNode{row.level, QString::fromUtf8(row.text), QLatin1String(row.key),
                                QLatin1String(row.parent)};
        return list;
    }();
    return all;
}

const CatalogNode *FieldCatalog::find(const QString &key)
{
    static const QHash<QString, int> byKey = [] {
        QHash<QString, int> index;
        for (int i = 0; i < nodes().size(); ++i)
            index.insert(nodes()[i].key, i);
        return index;
    }();
    const auto it = byKey.constFind(key);
    return it == byKey.constEnd() ? nullptr : &nodes()[*it];
}

bool FieldCatalog::isGroupKey(const QString &key)
{
    return MappingKey::parse(key).kind == MappingKey::Kind::Group;
}

bool FieldCatalog::isStreetLineKey(const QString &key)
{
    return MappingKey::parse(key).kind == MappingKey::Kind::StreetLine;
}
