#include "import/DuplicateIndex.h"

#include <QStringList>

#include <algorithm>

namespace {

// Lower case, blanks folded, accents dropped.
QString plain(const QString &text)
{
    // Plain ASCII has no accents to drop: it is only lowered, without decomposing it first.
    if (std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; }))
        return text.toLower().simplified();
    QString out;
    for (const QChar c : text.normalized(QString::NormalizationForm_D))
        if (c.category() != QChar::Mark_NonSpacing)
            out += c.toLower();
    return out.simplified();
}

// The keys of a contact: "e:" and each e-mail address, then "n:" name and company.
QStringList keysOf(const outlook::ContactData &c)
{
    QStringList keys;
    for (const char *property : {"EmailAddress", "Email2Address", "Email3Address"}) {
        const QString mail = c.property(QLatin1String(property)).toString().trimmed().toLower();
        if (!mail.isEmpty())
            keys << QStringLiteral("e:") + mail;
    }
    QString name = c.property(QStringLiteral("FullName")).toString();
    if (name.trimmed().isEmpty())
        name = c.property(QStringLiteral("FirstName")).toString() + QLatin1Char(' ') +
               c.property(QStringLiteral("MiddleName")).toString() + QLatin1Char(' ') +
               c.property(QStringLiteral("LastName")).toString();
    const QString company = plain(c.property(QStringLiteral("CompanyName")).toString());
    name = plain(name);
    if (!name.isEmpty() || !company.isEmpty())
        keys << QStringLiteral("n:") + name + QLatin1Char('|') + company;
    return keys;
}

} // namespace

void DuplicateIndex::addFolder(outlook::Items &items)
{
    for (auto contact = items.GetFirst(); contact; contact = items.GetNext())
        add(contact);
}

void DuplicateIndex::add(const std::shared_ptr<outlook::ContactItem> &contact)
{
    for (const QString &key : keysOf(contact->data()))
        if (!m_byKey.contains(key))
            m_byKey.insert(key, m_keepContacts ? contact : nullptr);
}

bool DuplicateIndex::find(const outlook::ContactData &contact, std::shared_ptr<outlook::ContactItem> *existing) const
{
    const QStringList keys = keysOf(contact);
    // An e-mail address decides before a name does.
    for (const QString &key : keys) {
        const auto found = m_byKey.constFind(key);
        if (found != m_byKey.cend()) {
            if (existing)
                *existing = *found;
            return true;
        }
    }
    return false;
}
