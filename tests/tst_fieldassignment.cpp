#include "TestServices.h"
#include "import/FieldAssignment.h"
#include "import/ValueConversion.h"
#include "outlook/ContactProperties.h"
#include "platform/ContactCard.h"
#include "platform/VCardStore.h"

#include <QDateTime>
#include <QLocale>
#include <QTest>

namespace {

// A contact held in memory; saving does nothing.
class MemoryContact : public outlook::ContactItem {
public:
    void Close(int) override {}
};

QString flagsSet(const AppState::RowFlags &f)
{
    QStringList set{f.hasPhone ? "phone" : "",         f.hasAddress ? "address" : "",  f.hasContactName ? "name" : "",
                    f.hasCompanyName ? "company" : "", f.hasValidEmail ? "email" : "", f.hasData ? "data" : ""};
    set.removeAll(QString());
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
        const QString text = key.startsWith(QLatin1String("Email")) ? key + QStringLiteral("@example.org")
                             : key == QLatin1String("Categories")   ? QStringLiteral("Customer, VIP")
                                                                    : QStringLiteral("Zoë; %1, \\ value").arg(key);
        return {text, text};
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
    void fields_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QVariant>("stored"); // invalid: the field is skipped
        QTest::addColumn<QString>("flags");
        const QDate christmas(1980, 12, 25), day(2024, 2, 29);
        const auto row = [](const char *name, const char *locale, const char *key, const QVariant &value,
                            const QVariant &stored) { QTest::newRow(name) << locale << key << value << stored << ""; };
        // A text written as it is, and the row flags it sets.
        const auto flagged = [](const char *name, const char *key, const char *value, const char *flags) {
            QTest::newRow(name) << "C" << key << QVariant(value) << QVariant(value) << flags;
        };
        row("US short", "en_US", "Birthday", "12/25/1980", christmas);
        row("US one-digit month", "en_US", "Birthday", "4/23/1975", QDate(1975, 4, 23));
        row("US two-digit year", "en_US", "Birthday", "2/29/24", day);
        row("US 1900s", "en_US", "Birthday", "12/25/80", christmas);
        row("US month name", "en_US", "Birthday", "Dec 25, 1980", christmas);
        row("US no such day", "en_US", "Birthday", "2/30/1980", QVariant());
        row("US day first", "en_US", "Birthday", "25.12.1980", QVariant());
        row("German short", "de_DE", "Birthday", "25.12.1980", christmas);
        row("German two-digit year", "de_DE", "Anniversary", "29.02.00", QDate(2000, 2, 29));
        row("German long", "de_DE", "Birthday", "25. Dezember 1980", christmas);
        row("German abbreviated", "de_DE", "Birthday", "Do., 25. Dez. 1980", christmas);
        row("German ISO date and time", "de_DE", "Birthday", "1980-12-25T10:30:00",
            QDateTime(christmas, QTime(10, 30)));
        row("C", "C", "Birthday", "25 Dec 1980", christmas);
        row("C ISO", "C", "Birthday", "1980-12-25", christmas);
        row("German decimal", "de_DE", "Gender", "1,5", 2);
        row("German group separator", "de_DE", "Gender", "0.002", QVariant());
        row("US group separator", "en_US", "Gender", "0,001", QVariant());
        row("date value", "C", "Birthday", day, day);
        row("date from days", "C", "Birthday", 45000, QDate(2023, 3, 15));
        row("date and time from days", "C", "Anniversary", 45000.5, QDateTime(QDate(2023, 3, 15), QTime(12, 0)));
        row("not a date", "C", "Birthday", "not a date", QVariant());
        row("gender rounded", "C", "Gender", 0.5, 0);
        row("gender out of range", "C", "Gender", 5, QVariant());
        row("gender not a number", "C", "Gender", "male", QVariant());
        row("boolean yes", "C", "NoAging", "yes", QVariant());
        row("boolean text", "C", "NoAging", "false", false);
        row("boolean number", "C", "Journal", 3, true);
        row("number as text", "C", "CustomerID", 1250.5, "1250.5");
        row("large number as text", "C", "CustomerID", 1e20, "1E+20");
        row("Boolean as text", "C", "Hobby", true, "True");
        row("date as text", "C", "Hobby", day, "29 Feb 2024");
        row("date as text, US", "en_US", "Hobby", day, "2/29/2024"); // the century kept
        row("date as text, German", "de_DE", "Hobby", QDateTime(day, QTime(9, 5)), "29.02.2024 09:05:00");
        flagged("primary phone", "PrimaryTelephoneNumber", "555", "phone");
        flagged("assistant's phone", "AssistantTelephoneNumber", "555", "");
        flagged("address", "HomeAddress", "1 Main St", "address");
        flagged("post office box", "OtherAddressPostOfficeBox", "9", "address");
        flagged("city", "MailingAddressCity", "Oslo", "");
        flagged("full name", "FullName", "Ann Lee", "name");
        flagged("middle name", "MiddleName", "Q", "");
        flagged("company", "CompanyName", "Acme", "company");
        // An address that fails the check is written all the same; only the flag stays off.
        flagged("e-mail 3", "Email3Address", "j@x.org", "email");
        flagged("e-mail without a dot", "EmailAddress", "john@example", "");
        flagged("e-mail without @", "EmailAddress", "john.example.com", "");
        flagged("nine after the dot", "EmailAddress", "a@b.abcdefghi", "");
        flagged("eight after the dot", "EmailAddress", "a@b.abcdefgh", "email");
    }

    void fields()
    {
        QFETCH(QString, locale);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QFETCH(QVariant, stored);
        QFETCH(QString, flags);
        QLocale::setDefault(QLocale(locale));
        TestServices t;
        MemoryContact contact;
        const qint16 result = put(t, contact, key, value);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(result, stored.isValid() ? FieldResult::Handled : FieldResult::Skipped);
        QCOMPARE(contact.GetProperty(key), stored);
        QVERIFY(t.boxes.boxes.isEmpty()); // a rejected value is skipped without a word
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
        QVERIFY(t.boxes.boxes.isEmpty());
        const QByteArray card = vcardstore::cardFromContact(QStringLiteral("uid-all"), contact.data());
        QCOMPARE(vcardstore::contactFromCard(card), contact.data());
        // Properties other programs know by their own names, in the forms they read.
        for (const char *property :
             {"\r\nBDAY:1980-02-29\r\n", "\r\nCATEGORIES:Customer,VIP\r\n", "\r\nX-GENDER:Male\r\n",
              "\r\nADR;TYPE=WORK:", "\r\nTEL;TYPE=WORK,VOICE:", "\r\nNICKNAME:",
              "\r\nEMAIL;TYPE=INTERNET,PREF;X-MIREL-SLOT=1:", "\r\nEMAIL;TYPE=INTERNET;X-MIREL-SLOT=2:"})
            QVERIFY2(card.contains(property), property);
        QVERIFY(vcardstore::readCard(card).foreign.isEmpty());
    }

    void rowEnd_data()
    {
        QTest::addColumn<int>("joined"); // the address whose street lines are joined: CO, ML, HM, OT; -1 for none
        QTest::addColumn<QStringList>("fields"); // key=value, in the order of the row
        QTest::addColumn<QString>("property");
        QTest::addColumn<QVariant>("result");
        QTest::addColumn<QString>("flags");
        const auto row = [](const char *name, int joined, const QStringList &fields, const char *property,
                            const QVariant &result, const char *flags) {
            QTest::newRow(name) << joined << fields << property << result << flags;
        };
        const char *co = "BusinessAddressStreet";
        row("line 2 alone", 0, {"##COStreet2=Suite 4"}, co, "Suite 4", "address,data");
        row("trimmed lines", 0, {"##COStreet1=  12 Main St  ", "##COStreet3=Unit 3"}, co, "12 Main St\r\nUnit 3",
            "address,data");
        row("lines not joined", -1, {"##COStreet1=12 Main St"}, co, QVariant(), "address");
        row("no lines", 0, {}, co, QVariant(), "");
        row("blank lines", 0, {"##COStreet1=  ", "##COStreet2= "}, co, QVariant(), "");
        row("no lines keep the mapped street", 0, {"BusinessAddressStreet=1 Main St"}, co, "1 Main St", "address");
        row("joined lines win", 0, {"##COStreet1=New 1", "BusinessAddressStreet=Old street"}, co, "New 1",
            "address,data");
        row("mailing", 1, {"##MLStreet1=PO 9"}, "MailingAddressStreet", "PO 9", "address,data");
        row("home", 2, {"##HMStreet3=3"}, "HomeAddressStreet", "3", "address,data");
        row("other", 3, {"##OTStreet1=a", "##OTStreet2=b", "##OTStreet3=c"}, "OtherAddressStreet", "a\r\nb\r\nc",
            "address,data");
        row("notes above the body", -1, {"Body=Met at fair", "##Value=5000", "##TimeFrame=Q3"}, "Body",
            "Potential Value: 5000\r\nTime Frame: Q3\r\nMet at fair", "data");
        row("potential value trimmed", -1, {"##Value=  7  "}, "Body", "Potential Value: 7\r\n", "data");
        row("time frame alone", -1, {"##TimeFrame=soon"}, "Body", "Time Frame: soon\r\n", "data");
    }

    void rowEnd()
    {
        QFETCH(int, joined);
        QFETCH(QStringList, fields);
        QFETCH(QString, property);
        QFETCH(QVariant, result);
        QFETCH(QString, flags);
        TestServices t;
        if (joined >= 0)
            t.state.street[joined].streetLines = true;
        MemoryContact contact;
        for (const QString &field : fields)
            put(t, contact, field.section(QLatin1Char('='), 0, 0), field.section(QLatin1Char('='), 1));
        QCOMPARE(put(t, contact, QStringLiteral("##END"), QVariant()), FieldResult::Handled);
        QCOMPARE(contact.GetProperty(property), result);
        QCOMPARE(flagsSet(t.state.rowFlags), flags);
        // Nothing kept aside for the row is left for the next one.
        QVERIFY(t.state.potentialValue.isEmpty() && t.state.timeFrame.isEmpty() && t.state.notesText.isEmpty());
        QVERIFY(joined < 0 || t.state.streetLineTexts[joined] == (std::array<QString, 3>{}));
    }

    void keysBesideTheContactProperties()
    {
        TestServices t;
        MemoryContact contact;
        for (const char *key : {"Nickname", "@@Names", "##XXStreet1"}) // letter case counts
            QCOMPARE(put(t, contact, key, QStringLiteral("x")), FieldResult::Handled);
        QCOMPARE(t.boxes.texts(), (QStringList{"Field not handled: Nickname", "Field not handled: @@Names",
                                               "Field not handled: ##XXStreet1"}));
        QVERIFY(contact.data().properties.isEmpty());
        QCOMPARE(put(t, contact, QStringLiteral("##ProdID"), 1234), FieldResult::Handled);
        QCOMPARE(contact.GetProperty(QStringLiteral("Categories")), QVariant(QStringLiteral("1234")));
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
