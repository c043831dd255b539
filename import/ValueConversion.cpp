#include "import/ValueConversion.h"

#include "core/AppError.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <cfenv>
#include <cmath>

namespace Convert {

namespace {

constexpr qint32 kErrOverflow = 6;
const QDate kDayZero(1899, 12, 30);

[[noreturn]] void mismatch(const QVariant &value)
{
    throw AppError(ErrorCode::TypeMismatch, QStringLiteral("Type mismatch: '%1'").arg(value.toString()));
}

// The user's locale (the system's unless the program set another). Group separators are
// neither written nor read: "1.500" under German is refused, not taken as 1500 or 1.5.
QLocale userLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

bool isNumber(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// A number written in the user's format, or in the plain C format when it holds no character
// that the user's format uses as a group separator.
bool parseNumber(const QString &text, double &number)
{
    bool ok = false;
    const QLocale locale = userLocale();
    number = locale.toDouble(text.trimmed(), &ok);
    if (!ok && !text.contains(locale.groupSeparator())) {
        QLocale plain = QLocale::c();
        plain.setNumberOptions(QLocale::RejectGroupSeparator);
        number = plain.toDouble(text.trimmed(), &ok);
    }
    return ok;
}

QString timeText(const QTime &time)
{
    QString format = userLocale().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1String(" t")).remove(QLatin1Char('t'));
    return userLocale().toString(time, format.trimmed());
}

QVariant fromDays(double days)
{
    // Whole days count from day zero; the fraction is the time of day, for negative days too.
    const double whole = std::trunc(days);
    if (whole < -657434 || whole > 2958465)
        throw AppError(kErrOverflow, QStringLiteral("Overflow: %1 is no date").arg(days));
    const QDate date = kDayZero.addDays(qint64(whole));
    const qint64 ms = std::llround(std::fabs(days - whole) * 86400000.0);
    if (ms == 0)
        return date;
    return QDateTime(date, QTime(0, 0).addMSecs(int(std::min<qint64>(ms, 86399999))));
}

// Two-digit years: 00-29 are in the 2000s, 30-99 in the 1900s.
int fullYear(int twoDigits)
{
    return twoDigits + (twoDigits < 30 ? 2000 : 1900);
}

enum class DatePart { Day, Month, MonthName, Year };

// The order of day, month and year in a date format, and the words it quotes ("de" in
// "d 'de' MMMM"). Weekdays are left out: a date may be written with or without one.
struct DateLayout {
    QList<DatePart> parts;
    QStringList words;
};

DateLayout layoutOf(const QString &format)
{
    DateLayout layout;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            const qsizetype end = format.indexOf(QLatin1Char('\''), i + 1);
            const QString quoted = format.mid(i + 1, end < 0 ? -1 : end - i - 1);
            layout.words += quoted.split(QRegularExpression(QStringLiteral("[^\\p{L}]+")), Qt::SkipEmptyParts);
            i = end < 0 ? format.size() : end + 1;
            continue;
        }
        qsizetype n = 1;
        while (i + n < format.size() && format[i + n] == c)
            ++n;
        if (c == QLatin1Char('d') && n <= 2)
            layout.parts << DatePart::Day;
        else if (c == QLatin1Char('M'))
            layout.parts << (n <= 2 ? DatePart::Month : DatePart::MonthName);
        else if (c == QLatin1Char('y'))
            layout.parts << DatePart::Year;
        i += n;
    }
    return layout;
}

bool sameName(QString name, const QString &word)
{
    if (name.endsWith(QLatin1Char('.')))
        name.chop(1); // abbreviations such as "Dez."
    return name.compare(word, Qt::CaseInsensitive) == 0;
}

// The month that a full or abbreviated month name of the locale names; 0 when none.
int monthNamed(const QLocale &locale, const QString &word)
{
    for (int month = 1; month <= 12; ++month)
        for (const QLocale::FormatType format : {QLocale::LongFormat, QLocale::ShortFormat})
            if (sameName(locale.monthName(month, format), word) ||
                sameName(locale.standaloneMonthName(month, format), word))
                return month;
    return 0;
}

bool isDayName(const QLocale &locale, const QString &word)
{
    for (int day = 1; day <= 7; ++day)
        for (const QLocale::FormatType format : {QLocale::LongFormat, QLocale::ShortFormat})
            if (sameName(locale.dayName(day, format), word) || sameName(locale.standaloneDayName(day, format), word))
                return true;
    return false;
}

// A date written as the layout orders it: day and month of one or two digits, the month by
// number or by name, the year of two or four digits; any separators between them. An invalid
// day ("2/30/1980") gives an invalid date.
QDate dateInLayout(const QString &text, const QLocale &locale, const DateLayout &layout)
{
    static const QRegularExpression token(QStringLiteral("[0-9]+|[\\p{L}\\p{M}]+"));
    QStringList tokens;
    for (auto it = token.globalMatch(text); it.hasNext();) {
        const QString t = it.next().captured();
        if (t[0].isDigit() || !(isDayName(locale, t) || layout.words.contains(t, Qt::CaseInsensitive)))
            tokens << t;
    }
    if (layout.parts.size() != 3 || tokens.size() != 3)
        return {};
    int day = 0;
    int month = 0;
    int year = 0;
    for (int i = 0; i < 3; ++i) {
        const QString &t = tokens[i];
        const bool number = t[0].isDigit();
        switch (layout.parts[i]) {
        case DatePart::Day:
        case DatePart::Month:
            if (!number || t.size() > 2)
                return {};
            (layout.parts[i] == DatePart::Day ? day : month) = t.toInt();
            break;
        case DatePart::MonthName:
            if (number)
                return {};
            month = monthNamed(locale, t);
            break;
        case DatePart::Year:
            if (!number || (t.size() != 2 && t.size() != 4))
                return {};
            year = t.size() == 2 ? fullYear(t.toInt()) : t.toInt();
            break;
        }
    }
    return QDate(year, month, day);
}

QVariant dateOnlyWhenMidnight(const QDateTime &when)
{
    if (when.time() == QTime(0, 0))
        return when.date();
    return when;
}

// A day as the user's locale writes it briefly, but with the whole year: a short format's
// two-digit year ("08.01.00") would leave the century to guessing.
QString dayText(QDate day)
{
    const QLocale locale = userLocale();
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return locale.toString(day, format);
}

} // namespace

QString toText(const QVariant &value)
{
    if (value.isNull())
        return QString();
    switch (value.typeId()) {
    case QMetaType::QString:
        return value.toString();
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::Short:
        return QString::number(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float: {
        QString text = userLocale().toString(value.toDouble(), 'g', 15);
        text.replace(QLatin1String("e+"), QLatin1String("E+")).replace(QLatin1String("e-"), QLatin1String("E-"));
        return text;
    }
    case QMetaType::QDate:
        return dayText(value.toDate());
    case QMetaType::QDateTime: {
        const QDateTime when = value.toDateTime();
        const QString day = dayText(when.date());
        return when.time() == QTime(0, 0) ? day : day + QLatin1Char(' ') + timeText(when.time());
    }
    case QMetaType::QTime:
        return timeText(value.toTime());
    default:
        return value.toString();
    }
}

QVariant toDate(const QVariant &value)
{
    if (value.isNull())
        mismatch(value);
    switch (value.typeId()) {
    case QMetaType::QDate:
        if (value.toDate().isValid())
            return value.toDate();
        break;
    case QMetaType::QDateTime:
        if (value.toDateTime().isValid())
            return dateOnlyWhenMidnight(value.toDateTime());
        break;
    case QMetaType::Bool:
        return fromDays(value.toBool() ? -1 : 0);
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        const QLocale locale = userLocale();
        for (const QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
            const QDate day = dateInLayout(text, locale, layoutOf(locale.dateFormat(format)));
            if (day.isValid())
                return day;
        }
        for (const QLocale::FormatType format : {QLocale::ShortFormat, QLocale::LongFormat}) {
            QDateTime when = locale.toDateTime(text, format);
            if (when.isValid() && !locale.dateTimeFormat(format).contains(QLatin1String("yyyy")))
                when = when.addYears(fullYear(when.date().year() % 100) - when.date().year());
            if (when.isValid())
                return dateOnlyWhenMidnight(when);
        }
        QDateTime isoTime = QDateTime::fromString(text, Qt::ISODate);
        if (!isoTime.isValid())
            isoTime = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (isoTime.isValid())
            return dateOnlyWhenMidnight(isoTime);
        break;
    }
    default:
        if (isNumber(value))
            return fromDays(value.toDouble());
    }
    mismatch(value);
}

int toInt32(const QVariant &value)
{
    double number = 0;
    if (value.isNull())
        mismatch(value);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? -1 : 0;
    if (isNumber(value))
        number = value.toDouble();
    else if (value.typeId() == QMetaType::QString) {
        if (!parseNumber(value.toString(), number))
            mismatch(value);
    } else if (value.typeId() == QMetaType::QDate || value.typeId() == QMetaType::QDateTime) {
        const QDateTime when = value.toDateTime();
        number = double(kDayZero.daysTo(when.date())) + when.time().msecsSinceStartOfDay() / 86400000.0;
    } else {
        mismatch(value);
    }
    // Halves go to the even neighbour.
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(number);
    std::fesetround(mode);
    if (!std::isfinite(rounded) || rounded < -2147483648.0 || rounded > 2147483647.0)
        throw AppError(kErrOverflow, QStringLiteral("Overflow: %1").arg(value.toString()));
    return int(rounded);
}

bool toBoolean(const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (isNumber(value))
        return value.toDouble() != 0;
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
            return true;
        if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
            return false;
        double number = 0;
        if (parseNumber(text, number))
            return number != 0;
    }
    mismatch(value);
}

} // namespace Convert
