#include "import/ValueConversion.h"

#include "app/AppError.h"

#include <QDateTime>
#include <QLocale>
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

QLocale userLocale()
{
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
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

// A number written in the user's format, or in the plain C format.
bool parseNumber(const QString &text, double &number)
{
    bool ok = false;
    number = userLocale().toDouble(text.trimmed(), &ok);
    if (!ok)
        number = QLocale::c().toDouble(text.trimmed(), &ok);
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

QVariant dateOnlyWhenMidnight(const QDateTime &when)
{
    if (when.time() == QTime(0, 0))
        return when.date();
    return when;
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
        return userLocale().toString(value.toDate(), QLocale::ShortFormat);
    case QMetaType::QDateTime: {
        const QDateTime when = value.toDateTime();
        const QString day = userLocale().toString(when.date(), QLocale::ShortFormat);
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
            const QDate day = locale.toDate(text, format);
            if (day.isValid())
                return day;
            const QDateTime when = locale.toDateTime(text, format);
            if (when.isValid())
                return dateOnlyWhenMidnight(when);
        }
        const QDate iso = QDate::fromString(text, Qt::ISODate);
        if (iso.isValid())
            return iso;
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
