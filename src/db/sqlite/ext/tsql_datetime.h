#pragma once

// SQL Server's datetime as a value: the texts it reads (language us_english,
// DATEFORMAT mdy, two-digit years up to 49 in the 2000s), its range
// 1753-01-01 to 9999-12-31 and its clock of 1/300 second, and the one form
// in which the embedded engine stores each instant: 'yyyy-mm-dd
// hh:mi:ss.mmm' (the form SQL Server sends it in), or 'yyyy-mm-dd' alone for
// midnight, the form a date without a time is written in. Two spellings of
// one instant are then one value for keys, comparisons, DISTINCT and ORDER
// BY, and the stored texts sort as their instants do (a date alone is a
// prefix of every later instant of its day).
// Plain C++, shared by the session and the loadable extension; the reading
// itself is in tsql_datetime.cpp.

#include <string>
#include <string_view>

namespace cvt::tsql_impl {

struct DateTime {
  int year = 1900, month = 1, day = 1, hour = 0, minute = 0, second = 0, millis = 0;
};

enum class DatetimeRead {
  Ok,
  NotADate,    // SQL Server: "Conversion failed when converting date and/or time ..." (241)
  OutOfRange,  // SQL Server: "... resulted in an out-of-range value." (242)
};

// Reads a text as SQL Server reads it into a datetime (blanks around it
// ignored; '' is 1900-01-01 00:00): a date, a date and a time, or a time
// alone (on 1900-01-01). The time is rounded to SQL Server's 1/300 second.
DatetimeRead readDatetime(std::string_view text, DateTime& out);

// A number read as a datetime: days (and fractions of a day) from
// 1900-01-01, as SQL Server converts an int, decimal or float.
DatetimeRead datetimeFromDays(double days, DateTime& out);

// The stored form: 'yyyy-mm-dd hh:mi:ss.mmm', or 'yyyy-mm-dd' at midnight.
std::string formatDatetime(const DateTime& d);

}  // namespace cvt::tsql_impl
