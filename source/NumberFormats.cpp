#include "source/NumberFormats.h"

#include <QDateTime>
#include <cmath>

namespace NumberFormats {

bool isBuiltInDate(int formatNumber)
{
    // 14-22: the standard dates and times; 27-36 and 50-58: the East Asian ones; 45-47: minutes
    // and seconds.
    return (formatNumber >= 14 && formatNumber <= 22) || (formatNumber >= 27 && formatNumber <= 36) ||
           (formatNumber >= 45 && formatNumber <= 47) || (formatNumber >= 50 && formatNumber <= 58);
}

bool isDateCode(QStringView code)
{
    bool quoted = false;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const char16_t c = code[i].unicode();
        if (quoted) {
            quoted = c != u'"';
            continue;
        }
        switch (c) {
        case u'"':
            quoted = true;
            break;
        case u'\\': // an escaped character
        case u'_':  // a space as wide as the next character
        case u'*':  // the next character repeated
            ++i;
            break;
        case u'[': { // a colour, a condition or a locale
            const qsizetype close = code.indexOf(u']', i);
            if (close < 0)
                return false;
            i = close;
            break;
        }
        case u'd':
        case u'D':
        case u'm':
        case u'M':
        case u'y':
        case u'Y':
        case u'h':
        case u'H':
        case u's':
        case u'S':
            return true;
        default:
            break;
        }
    }
    return false;
}

QVariant dateFromSerial(double serial, bool system1904)
{
    // 9999-12-31 is day 2958465 of the 1900 system.
    const double last = system1904 ? 2957003 : 2958465;
    if (!std::isfinite(serial) || serial < 0 || serial >= last + 1)
        return QVariant();
    const qint64 ms = std::llround(serial * 86400000.0);
    qint64 day = ms / 86400000;
    const QTime time = QTime::fromMSecsSinceStartOfDay(int(ms % 86400000));
    if (!system1904 && day == 0)
        return time; // day 0 of the 1900 system is no day: a time alone
    QDate date;
    if (system1904)
        date = QDate(1904, 1, 1).addDays(day);
    else if (day < 60)
        date = QDate(1899, 12, 31).addDays(day);
    else if (day == 60)
        date = QDate(1900, 2, 28); // the leap day 1900 never had
    else
        date = QDate(1899, 12, 30).addDays(day);
    if (time == QTime(0, 0))
        return date;
    return QDateTime(date, time);
}

} // namespace NumberFormats
