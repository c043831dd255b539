#pragma once

#include <QString>
#include <QVariant>

// How a workbook's number formats make dates: a number shown with a date or time format is a
// date, a time or both; every other number stays a number.
namespace NumberFormats {

// True for a built-in format number that shows a date or a time.
bool isBuiltInDate(int formatNumber);
// True for a format code with day, month, year, hour or second codes outside quoted text,
// brackets and escaped characters ("yyyy-mm-dd", "h:mm", not "0.00" or "[Red]0" or "\"d\"0").
bool isDateCode(QStringView code);

// A spreadsheet serial day as a value: a date when it holds no time of day, a time when it holds
// no day, else a date and time. The 1900 system counts 1900-01-01 as day 1 and keeps the day
// 1900-02-29 that never was; the 1904 system counts from 1904-01-01 as day 0. A serial outside
// the years 1900 (1904) to 9999 gives an invalid QVariant: the caller keeps the number.
QVariant dateFromSerial(double serial, bool system1904);

} // namespace NumberFormats
