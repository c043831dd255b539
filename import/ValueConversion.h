#pragma once

#include <QVariant>

// The conversions field assignment applies to a source value before it writes it. Each throws
// AppError (type mismatch or overflow) for a value it cannot convert.
namespace Convert {

// The general text form: numbers in general number format, dates in the short date format
// (with the time when there is one), Booleans as "True" and "False". Null gives "".
QString toText(const QVariant &value);
// A date (QDate), or a date and time (QDateTime): from a date value, from a number of days
// since 30 December 1899, or from text in the user's short or long date format or ISO 8601.
QVariant toDate(const QVariant &value);
// A 32-bit integer, rounded half to even.
int toInt32(const QVariant &value);
// 0 is False, any other number True; the texts "True" and "False".
bool toBoolean(const QVariant &value);

} // namespace Convert
