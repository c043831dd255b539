#pragma once

#include <QVariant>

// The conversions field assignment applies to a source value before it writes it. Each throws
// AppError (type mismatch or overflow) for a value it cannot convert.
namespace Convert {

// The general text form: numbers in general number format, dates in the short date format
// (with the time when there is one), Booleans as "True" and "False". Null gives "".
QString toText(const QVariant &value);
// A date (QDate), or a date and time (QDateTime): from a date value, from a number of days
// since 30 December 1899, or from text in the user's short or long date format (month names
// full or abbreviated, years of four digits or of two: 00-29 are 2000-2029, 30-99 1930-1999)
// or in ISO 8601.
QVariant toDate(const QVariant &value);
// A 32-bit integer, rounded half to even. Text in the user's number format without group
// separators, or in the C format when it holds none of the user's group separators.
int toInt32(const QVariant &value);
// 0 is False, any other number True; the texts "True" and "False".
bool toBoolean(const QVariant &value);

} // namespace Convert
