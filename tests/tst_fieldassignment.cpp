#include "TestServices.h"
#include "import/EmailCheck.h"
#include "import/FieldAssignment.h"
#include "import/ValueConversion.h"
#include "outlook/ContactProperties.h"
#include "platform/ContactCard.h"
#include "platform/VCardStore.h"

#include <QDateTime>
#include <QLocale>
#include <QTest>

using outlook::ContactData;

namespace {

// A contact held in memory; saving does nothing.
class MemoryContact : public outlook::ContactItem {
public:
    void Close(int) override {}
};

// The flag each key should set, as the users' documentation groups them.
QString expectedFlag(const QString &key)
{
    static const QStringList phones{"Business2TelephoneNumber", "BusinessTelephoneNumber",    "CallbackTelephoneNumber",
                                    "CarTelephoneNumber",       "CompanyMainTelephoneNumber", "Home2TelephoneNumber",
                                    "HomeTelephoneNumber",      "MobileTelephoneNumber",      "OtherTelephoneNumber",
                                    "PrimaryTelephoneNumber"};
    static const QStringList addresses{"BusinessAddress", "BusinessAddressPostOfficeBox", "BusinessAddressStreet",
                                       "HomeAddress",     "HomeAddressPostOfficeBox",     "HomeAddressStreet",
                                       "MailingAddress",  "MailingAddressPostOfficeBox",  "MailingAddressStreet",
                                       "OtherAddress",    "OtherAddressPostOfficeBox",    "OtherAddressStreet"};
    if (phones.contains(key))
        return QStringLiteral("phone");
    if (addresses.contains(key))
        return QStringLiteral("address");
    if (key == QLatin1String("FirstName") || key == QLatin1String("FullName") || key == QLatin1String("LastName"))
        return QStringLiteral("name");
    if (key == QLatin1String("CompanyName"))
        return QStringLiteral("company");
    if (key.startsWith(QLatin1String("Email")))
        return QStringLiteral("email");
    return QString();
}

QString flagsSet(const AppState::RowFlags &f)
{
    QStringList set;
    if (f.hasPhone)
        set << QStringLiteral("phone");
    if (f.hasAddress)
        set << QStringLiteral("address");
    if (f.hasContactName)
        set << QStringLiteral("name");
    if (f.hasCompanyName)
        set << QStringLiteral("company");
    if (f.hasValidEmail)
        set << QStringLiteral("email");
    if (f.hasData)
        set << QStringLiteral("data");
    return set.join(QLatin1Char(','));
}

// A value each key takes, as the source would give it, and what the contact then holds.
std::pair<QVariant, QVariant> sampleFor(const QString &key)
{
    ContactProperties::Kind kind;
    ContactProperties::kindOf(key, kind);
    switch (kind) {
    case ContactProperties::Kind::Date:
        return {QStringLiteral("1980-02-29"), QDate(1980, 2, 29)};
    case ContactProperties::Kind::Gender:
        return {QStringLiteral("2"), 2};
    case ContactProperties::Kind::Boolean:
        return {QStringLiteral("True"), true};
    default:
        if (key.startsWith(QLatin1String("Email")))
            return {key + QStringLiteral("@example.org"), key + QStringLiteral("@example.org")};
        if (key == QLatin1String("Categories"))
            return {QStringLiteral("Customer, VIP"), QStringLiteral("Customer, VIP")};
        return {QStringLiteral("Zoë; %1, \\ value").arg(key), QStringLiteral("Zoë; %1, \\ value").arg(key)};
    }
}

qint16 put(TestServices &t, outlook::ContactItem &contact, const QString &key, const QVariant &value)
{
    t.state.currentValue = value;
    return SetContactField(t.state, t.services, contact, key);
}

} // namespace

class TestFieldAssignment : public QObject {
    Q_OBJECT

private slots:
    void valuesInTheUsersFormat_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QVariant>("stored"); // invalid: the field is skipped
        const QVariant christmas(QDate(1980, 12, 25));
        const auto row = [](const char *name, const char *locale, const char *key, const char *value,
                            const QVariant &stored) { QTest::newRow(name) << locale << key << value << stored; };
        row("US short", "en_US", "Birthday", "12/25/1980", christmas);
        row("US one-digit month", "en_US", "Birthday", "4/23/1975", QDate(1975, 4, 23));
        row("US two-digit year", "en_US", "Birthday", "2/29/24", QDate(2024, 2, 29));
        row("US 1900s", "en_US", "Birthday", "12/25/80", christmas);
        row("US month name", "en_US", "Birthday", "Dec 25, 1980", christmas);
        row("US no such day", "en_US", "Birthday", "2/30/1980", QVariant());
        row("US day first", "en_US", "Birthday", "25.12.1980", QVariant());
        row("German short", "de_DE", "Birthday", "25.12.1980", christmas);
        row("German two-digit year", "de_DE", "Anniversary", "29.02.00", QDate(2000, 2, 29));
        row("German long", "de_DE", "Birthday", "25. Dezember 1980", christmas);
        row("German abbreviated", "de_DE", "Birthday", "Do., 25. Dez. 1980", christmas);
        row("German ISO date and time", "de_DE", "Birthday", "1980-12-25T10:30:00",
            QDateTime(QDate(1980, 12, 25), QTime(10, 30)));
        row("C", "C", "Birthday", "25 Dec 1980", christmas);
        row("C ISO", "C", "Birthday", "1980-12-25", christmas);
        row("German decimal", "de_DE", "Gender", "1,5", 2);
        row("German group separator", "de_DE", "Gender", "0.002", QVariant());
        row("US group separator", "en_US", "Gender", "0,001", QVariant());
    }

    void valuesInTheUsersFormat()
    {
        QFETCH(QString, locale);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QVariant, stored);
        QLocale::setDefault(QLocale(locale));
        TestServices t;
        MemoryContact contact;
        const qint16 result = put(t, contact, key, value);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(result, stored.isValid() ? FieldResult::Handled : FieldResult::Skipped);
        QCOMPARE(contact.GetProperty(key), stored);
    }

    void emailCheck_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<QString>("code");
        QTest::newRow("ordinary") << "john@example.com" << true << "kept";
        QTest::newRow("no dot") << "john@example" << false << "E1";
        QTest::newRow("no @") << "john.example.com" << false << "E1";
        QTest::newRow("empty") << "" << false << "E1";
        QTest::newRow("ends in a dot") << "john@example." << false << "E2";
        QTest::newRow("nine after the dot") << "a@b.abcdefghi" << false << "E2";
        QTest::newRow("eight after the dot") << "a@b.abcdefgh" << true << "kept";
        QTest::newRow("country code") << "ann@shop.co.uk" << true << "kept";
        QTest::newRow("dot before @") << "a.b@c" << true << "kept";
        QTest::newRow("no name") << "john.smith" << false << "E1";
        QTest::newRow("spaces are not looked at") << "j s@x y.org" << true << "kept";
    }

    void emailCheck()
    {
        QFETCH(QString, address);
        QFETCH(bool, accepted);
        QFETCH(QString, code);
        QString out = QStringLiteral("kept");
        QCOMPARE(CheckEmailAddress(address, out), accepted);
        QCOMPARE(out, code);
    }

    void everyStandardKey_data()
    {
        QTest::addColumn<QString>("key");
        for (const QString &key : ContactProperties::names())
            QTest::newRow(qPrintable(key)) << key;
    }

    void everyStandardKey()
    {
        QFETCH(QString, key);
        TestServices t;
        MemoryContact contact;
        const auto [input, stored] = sampleFor(key);
        QCOMPARE(put(t, contact, key, input), FieldResult::Handled);
        QCOMPARE(contact.GetProperty(key), stored);
        QCOMPARE(flagsSet(t.state.rowFlags), expectedFlag(key));
        // Saved as a card and read back, the property is the same.
        const ContactData back = vcardstore::contactFromCard(vcardstore::cardFromContact("u", contact.data()));
        QCOMPARE(back.property(key), stored);
        QVERIFY(t.boxes.boxes.isEmpty());
    }

    void cardWithEveryPropertyReadsBack()
    {
        TestServices t;
        MemoryContact contact;
        for (const QString &key : ContactProperties::names())
            put(t, contact, key, sampleFor(key).first);
        put(t, contact, QStringLiteral("UDRégion, Zone; 2"), 12);
        put(t, contact, QStringLiteral("UDEmpty"), QVariant());
        QCOMPARE(contact.data().properties.size(), ContactProperties::names().size());
        const QByteArray card = vcardstore::cardFromContact(QStringLiteral("uid-all"), contact.data());
        QCOMPARE(vcardstore::contactFromCard(card), contact.data());
        for (const QByteArray &line : card.split('\n'))
            QVERIFY2(line.size() <= 76, line.constData()); // 75 octets and the CR
        for (const char *property :
             {"\r\nFN:", "\r\nN:", "\r\nTEL;TYPE=CELL:", "\r\nADR;TYPE=WORK:", "\r\nBDAY:1980-02-29\r\n",
              "\r\nX-ANNIVERSARY:1980-02-29\r\n", "\r\nNOTE:", "\r\nCATEGORIES:Customer,VIP\r\n", "\r\nX-SPOUSE:",
              "\r\nX-GENDER:Male\r\n", "\r\nNICKNAME:", "\r\nURL;TYPE=HOME:", "\r\nTEL;TYPE=WORK,VOICE:",
              "\r\nEMAIL;TYPE=INTERNET,PREF;X-MIREL-SLOT=1:", "\r\nEMAIL;TYPE=INTERNET;X-MIREL-SLOT=2:"})
            QVERIFY2(card.contains(property), property);
        QVERIFY(vcardstore::readCard(card).foreign.isEmpty());
        if (qEnvironmentVariableIsSet("MIREL_KEEP_CARD")) // for checking by hand with another vCard reader
            writeBytes(qEnvironmentVariable("MIREL_KEEP_CARD"), card);
    }

    void conversions_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("stored"); // invalid: the field is skipped
        const QDate day(2024, 2, 29);
        QTest::newRow("date value") << "Birthday" << QVariant(day) << QVariant(day);
        QTest::newRow("date from days") << "Birthday" << QVariant(45000) << QVariant(QDate(2023, 3, 15));
        QTest::newRow("date and time from days")
            << "Anniversary" << QVariant(45000.5) << QVariant(QDateTime(QDate(2023, 3, 15), QTime(12, 0)));
        QTest::newRow("day zero") << "Birthday" << QVariant(0.0) << QVariant(QDate(1899, 12, 30));
        QTest::newRow("ISO text") << "Birthday" << QVariant("2024-02-29") << QVariant(day);
        QTest::newRow("user's long format")
            << "Birthday" << QVariant(QLocale().toString(day, QLocale::LongFormat)) << QVariant(day);
        QTest::newRow("not a date") << "Birthday" << QVariant("not a date") << QVariant();
        QTest::newRow("gender text") << "Gender" << QVariant("2") << QVariant(2);
        QTest::newRow("gender rounded") << "Gender" << QVariant(0.5) << QVariant(0);
        QTest::newRow("gender out of range") << "Gender" << QVariant(5) << QVariant();
        QTest::newRow("gender not a number") << "Gender" << QVariant("male") << QVariant();
        QTest::newRow("boolean yes") << "NoAging" << QVariant("yes") << QVariant();
        QTest::newRow("boolean text") << "NoAging" << QVariant("false") << QVariant(false);
        QTest::newRow("boolean number") << "Journal" << QVariant(3) << QVariant(true);
        QTest::newRow("number as text") << "CustomerID" << QVariant(1250.5) << QVariant("1250.5");
        QTest::newRow("whole number as text") << "CustomerID" << QVariant(42) << QVariant("42");
        QTest::newRow("large number as text") << "CustomerID" << QVariant(1e20) << QVariant("1E+20");
        QTest::newRow("Boolean as text") << "Hobby" << QVariant(true) << QVariant("True");
        QTest::newRow("date as text") << "Hobby" << QVariant(day)
                                      << QVariant(QLocale().toString(day, QLocale::ShortFormat));
    }

    void conversions()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QVariant, stored);
        TestServices t;
        MemoryContact contact;
        QCOMPARE(put(t, contact, key, value), stored.isValid() ? FieldResult::Handled : FieldResult::Skipped);
        QCOMPARE(contact.GetProperty(key), stored);
        QVERIFY(t.boxes.boxes.isEmpty()); // a rejected value is skipped without a word
    }

    void keysThatAreNotHandled_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("other letter case") << "Nickname";
        QTest::newRow("group") << "@@Names";
        QTest::newRow("street line of no address") << "##XXStreet1";
    }

    void keysThatAreNotHandled()
    {
        QFETCH(QString, key);
        TestServices t;
        MemoryContact contact;
        QCOMPARE(put(t, contact, key, QStringLiteral("x")), FieldResult::Handled);
        QCOMPARE(t.boxes.texts(), QStringList{"Field not handled: " + key});
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::None);
        QVERIFY(contact.data().properties.isEmpty());
        MemoryContact other;
        QCOMPARE(put(t, other, QStringLiteral("NickName"), QStringLiteral("x")), FieldResult::Handled);
        QCOMPARE(other.GetProperty(QStringLiteral("NickName")), QVariant(QStringLiteral("x")));
    }

    void streetLines_data()
    {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<bool>("joined");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("mappedStreet");
        QTest::addColumn<QVariant>("street");
        QTest::addColumn<QString>("flags");
        QTest::newRow("line 2 alone") << "CO" << true << QStringList{"", "Suite 4", ""} << "" << QVariant("Suite 4")
                                      << "address,data";
        QTest::newRow("trimmed lines") << "CO" << true << QStringList{"  12 Main St  ", "", "Unit 3"} << ""
                                       << QVariant("12 Main St\r\nUnit 3") << "address,data";
        QTest::newRow("flag off") << "CO" << false << QStringList{"12 Main St", "", ""} << "" << QVariant()
                                  << "address";
        QTest::newRow("no lines, flag on") << "CO" << true << QStringList{"", "", ""} << "" << QVariant() << "";
        QTest::newRow("blank lines") << "CO" << true << QStringList{"  ", " ", ""} << "" << QVariant() << "";
        QTest::newRow("no lines keep the mapped street")
            << "CO" << true << QStringList{"", "", ""} << "1 Main St" << QVariant("1 Main St") << "";
        QTest::newRow("joined lines win")
            << "CO" << true << QStringList{"New 1", "", ""} << "Old street" << QVariant("New 1") << "address,data";
        QTest::newRow("mailing") << "ML" << true << QStringList{"PO 9", "", ""} << "" << QVariant("PO 9")
                                 << "address,data";
        QTest::newRow("home") << "HM" << true << QStringList{"", "", "3"} << "" << QVariant("3") << "address,data";
        QTest::newRow("other") << "OT" << true << QStringList{"a", "b", "c"} << "" << QVariant("a\r\nb\r\nc")
                               << "address,data";
    }

    void streetLines()
    {
        QFETCH(QString, prefix);
        QFETCH(bool, joined);
        QFETCH(QStringList, lines);
        QFETCH(QString, mappedStreet);
        QFETCH(QVariant, street);
        QFETCH(QString, flags);
        const QMap<QString, QString> properties{{"CO", "BusinessAddressStreet"},
                                                {"ML", "MailingAddressStreet"},
                                                {"HM", "HomeAddressStreet"},
                                                {"OT", "OtherAddressStreet"}};
        TestServices t;
        t.state.business.streetLines = prefix == QLatin1String("CO") && joined;
        t.state.mailing.streetLines = prefix == QLatin1String("ML") && joined;
        t.state.home.streetLines = prefix == QLatin1String("HM") && joined;
        t.state.other.streetLines = prefix == QLatin1String("OT") && joined;
        MemoryContact contact;
        for (int i = 0; i < 3; ++i)
            if (!lines[i].isEmpty())
                put(t, contact, QStringLiteral("##%1Street%2").arg(prefix).arg(i + 1), lines[i]);
        if (!mappedStreet.isEmpty()) {
            put(t, contact, properties[prefix], mappedStreet);
            t.state.rowFlags.hasAddress = false; // only the street lines decide here
        }
        QCOMPARE(put(t, contact, QStringLiteral("##END"), QVariant()), FieldResult::Handled);
        QCOMPARE(contact.GetProperty(properties[prefix]), street);
        QCOMPARE(flagsSet(t.state.rowFlags), flags);
        // The lines of a joined address are emptied; those of an address not joined stay.
        const int a = QStringList{"CO", "ML", "HM", "OT"}.indexOf(prefix);
        QCOMPARE(t.state.streetLineTexts[a][0].isEmpty(), joined || lines[0].isEmpty());
    }

    void notes_data()
    {
        QTest::addColumn<QString>("potential");
        QTest::addColumn<QString>("timeFrame");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QVariant>("result");
        QTest::addColumn<bool>("hasData");
        QTest::newRow("both above the body")
            << "5000"
            << "Q3"
            << "Met at fair" << QVariant("Potential Value: 5000\r\nTime Frame: Q3\r\nMet at fair") << true;
        QTest::newRow("trimmed") << "  7  "
                                 << ""
                                 << "" << QVariant("Potential Value: 7\r\n") << true;
        QTest::newRow("time frame alone") << ""
                                          << "soon"
                                          << "" << QVariant("Time Frame: soon\r\n") << true;
        QTest::newRow("body alone") << ""
                                    << ""
                                    << "Just this" << QVariant("Just this") << true;
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "" << QVariant() << false;
    }

    void notes()
    {
        QFETCH(QString, potential);
        QFETCH(QString, timeFrame);
        QFETCH(QString, body);
        QFETCH(QVariant, result);
        QFETCH(bool, hasData);
        TestServices t;
        MemoryContact contact;
        if (!body.isEmpty())
            put(t, contact, QStringLiteral("Body"), body);
        if (!potential.isEmpty())
            put(t, contact, QStringLiteral("##Value"), potential);
        if (!timeFrame.isEmpty())
            put(t, contact, QStringLiteral("##TimeFrame"), timeFrame);
        put(t, contact, QStringLiteral("##END"), QVariant());
        QCOMPARE(contact.GetProperty(QStringLiteral("Body")), result);
        QCOMPARE(t.state.rowFlags.hasData, hasData);
        QVERIFY(t.state.potentialValue.isEmpty() && t.state.timeFrame.isEmpty() && t.state.notesText.isEmpty());
    }

    void productCategory()
    {
        TestServices t;
        MemoryContact contact;
        QCOMPARE(put(t, contact, QStringLiteral("##ProdID"), 1234), FieldResult::Handled);
        QCOMPARE(contact.GetProperty(QStringLiteral("Categories")), QVariant(QStringLiteral("1234")));
        QCOMPARE(flagsSet(t.state.rowFlags), QString());
    }

    void userDefinedFields()
    {
        TestServices t;
        MemoryContact contact;
        QCOMPARE(put(t, contact, QStringLiteral("UDRegion"), QVariant()), FieldResult::Skipped);
        QCOMPARE(put(t, contact, QStringLiteral("UDZone, Été; 2"), 12), FieldResult::Skipped);
        QCOMPARE(put(t, contact, QStringLiteral("UDWhen"), QDate(2024, 1, 2)), FieldResult::Skipped);
        const auto &fields = contact.UserProperties();
        QCOMPARE(fields.Count(), 3);
        QCOMPARE(fields.Item(0), (outlook::UserProperty{"Region", outlook::olText, QStringLiteral(" ")}));
        QCOMPARE(fields.Item(1), (outlook::UserProperty{"Zone, Été; 2", outlook::olText, 12}));
        QCOMPARE(fields.Item(2).value, QVariant(QDate(2024, 1, 2))); // the value as it came
        QCOMPARE(flagsSet(t.state.rowFlags), QString());
        QCOMPARE(vcardstore::contactFromCard(vcardstore::cardFromContact("u", contact.data())), contact.data());
    }

    void userDefinedFieldThatCannotBeWritten_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("result");
        QTest::newRow("go on") << int(MessageBoxes::Answer::Yes) << int(FieldResult::Skipped);
        QTest::newRow("stop") << int(MessageBoxes::Answer::No) << int(FieldResult::Stop);
    }

    void userDefinedFieldThatCannotBeWritten()
    {
        QFETCH(int, answer);
        QFETCH(int, result);
        TestServices t;
        MemoryContact contact;
        t.boxes.answer(MessageBoxes::Answer(answer));
        QCOMPARE(int(put(t, contact, QStringLiteral("UD"), QStringLiteral("x"))), result); // a field without a name
        QCOMPARE(t.boxes.texts(), QStringList{"Unable to update the field <>\r\nas a User Defined field - field "
                                              "skipped\r\nDo you want to continue importing this file?"});
        QCOMPARE(t.boxes.boxes[0].title, QStringLiteral("Updating Contact"));
        QCOMPARE(t.boxes.boxes[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(t.boxes.boxes[0].buttons, MessageBoxes::Buttons::YesNo);
    }

    void invalidEmailStillWritten()
    {
        TestServices t;
        MemoryContact contact;
        put(t, contact, QStringLiteral("EmailAddress"), QStringLiteral("john.smith"));
        QCOMPARE(contact.GetProperty(QStringLiteral("EmailAddress")), QVariant(QStringLiteral("john.smith")));
        QVERIFY(!t.state.rowFlags.hasValidEmail);
        put(t, contact, QStringLiteral("Email3Address"), QStringLiteral("j@x.org"));
        QVERIFY(t.state.rowFlags.hasValidEmail);
    }
};

QTEST_APPLESS_MAIN(TestFieldAssignment)
#include "tst_fieldassignment.moc"
