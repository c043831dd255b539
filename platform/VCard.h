#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// Reading and writing vCard 3.0 text: escaping, structured values, line folding at 75 octets
// without splitting a UTF-8 character, and unfolding on read.
namespace vcard {

struct Property {
    QString name; // upper case
    QList<std::pair<QString, QString>> params; // a TYPE value is a list: "WORK,VOICE"
    QString value; // as it stands in the file, still escaped

    QString param(const QString &name) const;
    // The TYPE values, in upper case and sorted, however they were written (one list, or TYPE
    // given twice).
    QStringList types() const;
    bool operator==(const Property &) const = default;
};

using Card = QList<Property>;

QString escapeText(const QString &text);
QString unescapeText(const QString &text);
// Joins escaped parts with an unescaped separator (';' for N, ORG, ADR; ',' for lists).
QString joinValue(const QStringList &parts, QChar separator = QLatin1Char(';'));
// Splits at unescaped separators and unescapes each part.
QStringList splitValue(const QString &raw, QChar separator = QLatin1Char(';'));

// The TYPE values of a list ("WORK,VOICE") as a sorted set, to compare with Property::types().
QStringList typeSet(const QString &types);
// The TYPE parameter of a list; none for an empty list.
QList<std::pair<QString, QString>> typeParams(const QString &types);
// Splits at the first unescaped separator: the first part unescaped, the rest as written
// (empty when there is no separator).
std::pair<QString, QString> splitFirst(const QString &raw, QChar separator = QLatin1Char(';'));

// A date or date-time value (BDAY): ISO 8601, and read also in the basic form 19800229. An
// invalid QVariant when the text is no date.
QString dateText(const QVariant &value);
QVariant dateValue(const QString &text);

// A typed value in a kind parameter (null, boolean, integer, number, date, date-time, text) and
// its text, which gives back the same value and type.
std::pair<QString, QString> encodeTyped(const QVariant &value);
QVariant decodeTyped(const QString &kind, const QString &raw);

// One content line with CRLF, folded where it passes 75 octets.
QByteArray writeProperty(const Property &property);
QByteArray foldLine(const QByteArray &line);

// Writes content lines straight into a card's bytes, one character at a time: what
// writeProperty() gives for each line (UTF-8 without NUL characters, a lone surrogate as '?',
// folded as foldLine() folds, CRLF at its end), with no text in between.
class LineWriter {
public:
    LineWriter();
    // Text as it is, and text escaped as escapeText() escapes it.
    LineWriter &text(QStringView text);
    LineWriter &escaped(QStringView text);
    // A whole property.
    LineWriter &property(const Property &property);
    // Ends the line: the next text starts a new one.
    void end();
    // Whole lines as written, folded, each ended.
    void raw(const char *lines);
    QByteArray take();

private:
    template <bool Escape> void write(QStringView text);
    void unit(char16_t u);
    void put(char32_t c, int octets);
    void grow(qsizetype more);

    QByteArray m_bytes;
    char *m_at = nullptr;
    char *m_limit = nullptr;
    int m_used = 0;      // octets on the current physical line
    int m_room = 0;      // octets it may hold
    char16_t m_high = 0; // a high surrogate waiting for its low one
};

// The cards of a file; throws AppError when the text is not vCard.
QList<Card> parse(const QByteArray &text);

} // namespace vcard
