#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// Reading and writing vCard 3.0 text: escaping, structured values, line folding at 75 octets
// without splitting a UTF-8 character, and unfolding on read.
namespace vcard {

struct Property {
    QString name; // upper case
    QList<std::pair<QString, QString>> params; // a TYPE value is a list: "WORK,VOICE"
    QString value; // as it stands in the file, still escaped

    QString param(const QString &name) const;
    bool operator==(const Property &) const = default;
};

using Card = QList<Property>;

QString escapeText(const QString &text);
QString unescapeText(const QString &text);
// Joins escaped parts with an unescaped separator (';' for N, ORG, ADR; ',' for lists).
QString joinValue(const QStringList &parts, QChar separator = QLatin1Char(';'));
// Splits at unescaped separators and unescapes each part.
QStringList splitValue(const QString &raw, QChar separator = QLatin1Char(';'));

// One content line with CRLF, folded where it passes 75 octets.
QByteArray writeProperty(const Property &property);
QByteArray foldLine(const QByteArray &line);

// The cards of a file; throws AppError when the text is not vCard.
QList<Card> parse(const QByteArray &text);

} // namespace vcard
