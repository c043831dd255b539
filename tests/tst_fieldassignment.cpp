#include "TestServices.h"
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

    void rowFlags_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("flags");
        const auto row = [](const char *name, const char *key, const char *value, const char *flags) {
            QTest::newRow(name) << key << value << flags;
        };
        row("primary phone", "PrimaryTelephoneNumber", "555", "phone");
        row("assistant's phone", "AssistantTelephoneNumber", "555", "");
        row("address", "HomeAddress", "1 Main St", "address");
        row("post office box", "OtherAddressPostOfficeBox", "9", "address");
        row("city", "MailingAddressCity", "Oslo", "");
        row("full name", "FullName", "Ann Lee", "name");
        row("middle name", "MiddleName", "Q", "");
        row("company", "CompanyName", "Acme", "company");
        // An address that fails the check is written all the same; only the flag stays off.
        row("e-mail 3", "Email3Address", "j@x.org", "email");
        row("e-mail without a dot", "EmailAddress", "john@example", "");
        row("e-mail without @", "EmailAddress", "john.example.com", "");
        row("nine after the dot", "EmailAddress", "a@b.abcdefghi", "");
        row("eight after the dot", "EmailAddress", "a@b.abcdefgh", "email");
    }

    void rowFlags()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QString, flags);
        TestServices t;
        MemoryContact contact;
        QCOMPARE(put(t, contact, key, value), FieldResult::Handled);
        QCOMPARE(contact.GetProperty(key), QVariant(value));
        QCOMPARE(flagsSet(t.state.rowFlags), flags);
    }

    void cardWithEveryPropertyReadsBack()
    {
        TestServices t;
        MemoryContact contact;
        for (const QString &key : ContactProperties::names()) {
            const auto [input, stored] = sampleFor(key);
            QCOMPARE(put(t, contact, key, input), FieldResult::Handled);
            QCOMPARE(contact.GetProperty(key), stored);
        }
        put(t, contact, QStringLiteral("UDRégion, Zone; 2"), 12);
        put(t, contact, QStringLiteral("UDEmpty"), QVariant());
        QVERIFY(t.boxes.boxes.isEmpty());
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
        const auto row = [](const char *name, const char *key, const QVariant &value, const QVariant &stored) {
            QTest::newRow(name) << key << value << stored;
        };
        const QDate day(2024, 2, 29);
        row("date value", "Birthday", day, day);
        row("date from days", "Birthday", 45000, QDate(2023, 3, 15));
        row("date and time from days", "Anniversary", 45000.5, QDateTime(QDate(2023, 3, 15), QTime(12, 0)));
        row("day zero", "Birthday", 0.0, QDate(1899, 12, 30));
        row("not a date", "Birthday", "not a date", QVariant());
        row("gender text", "Gender", "2", 2);
        row("gender rounded", "Gender", 0.5, 0);
        row("gender out of range", "Gender", 5, QVariant());
        row("gender not a number", "Gender", "male", QVariant());
        row("boolean yes", "NoAging", "yes", QVariant());
        row("boolean text", "NoAging", "false", false);
        row("boolean number", "Journal", 3, true);
        row("number as text", "CustomerID", 1250.5, "1250.5");
        row("large number as text", "CustomerID", 1e20, "1E+20");
        row("Boolean as text", "Hobby", true, "True");
        row("date as text", "Hobby", day, QLocale().toString(day, QLocale::ShortFormat));
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
        const auto row = [](const char *name, const char *prefix, bool joined, const QStringList &lines,
                            const char *mapped, const QVariant &street, const char *flags) {
            QTest::newRow(name) << prefix << joined << lines << mapped << street << flags;
        };
        row("line 2 alone", "CO", true, {"", "Suite 4", ""}, "", "Suite 4", "address,data");
        row("trimmed lines", "CO", true, {"  12 Main St  ", "", "Unit 3"}, "", "12 Main St\r\nUnit 3", "address,data");
        row("flag off", "CO", false, {"12 Main St", "", ""}, "", QVariant(), "address");
        row("no lines, flag on", "CO", true, {"", "", ""}, "", QVariant(), "");
        row("blank lines", "CO", true, {"  ", " ", ""}, "", QVariant(), "");
        row("no lines keep the mapped street", "CO", true, {"", "", ""}, "1 Main St", "1 Main St", "");
        row("joined lines win", "CO", true, {"New 1", "", ""}, "Old street", "New 1", "address,data");
        row("mailing", "ML", true, {"PO 9", "", ""}, "", "PO 9", "address,data");
        row("home", "HM", true, {"", "", "3"}, "", "3", "address,data");
        row("other", "OT", true, {"a", "b", "c"}, "", "a\r\nb\r\nc", "address,data");
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
        QTest::addColumn<QVariant>("result"); // invalid: no notes, and the row holds no data
        const auto row = [](const char *name, const char *potential, const char *timeFrame, const char *body,
                            const QVariant &result) {
            QTest::newRow(name) << potential << timeFrame << body << result;
        };
        row("both above the body", "5000", "Q3", "Met at fair",
            "Potential Value: 5000\r\nTime Frame: Q3\r\nMet at fair");
        row("trimmed", "  7  ", "", "", "Potential Value: 7\r\n");
        row("time frame alone", "", "soon", "", "Time Frame: soon\r\n");
        row("body alone", "", "", "Just this", "Just this");
        row("nothing", "", "", "", QVariant());
    }

    void notes()
    {
        QFETCH(QString, potential);
        QFETCH(QString, timeFrame);
        QFETCH(QString, body);
        QFETCH(QVariant, result);
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
        QCOMPARE(t.state.rowFlags.hasData, result.isValid());
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
};

QTEST_APPLESS_MAIN(TestFieldAssignment)
#include "tst_fieldassignment.moc"
