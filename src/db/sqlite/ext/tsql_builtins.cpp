// T-SQL built-in functions that SQLite lacks or has with another meaning:
//  - tsql_round(x, n, cut, p, s): round(x, n[, cut]) on the exact decimal,
//    half away from zero (cut != 0 cuts toward zero), n < 0 rounding left
//    of the point; the result keeps x's type, so a digit more than
//    decimal(p, s) holds fails with the numeric overflow error (round(0.7,
//    0) of a numeric(1,1)); p = -1: x is an int, p = 0: unknown;
//  - tsql_datalength(x, bytes): the bytes x takes: bytes > 0 is its
//    type's fixed size, -1 a varchar (code page 936: two bytes per
//    character outside ASCII), -2 an nvarchar (two per UTF-16 unit);
//  - tsql_number(x): a text compared with a number is read as one, or
//    fails with SQL Server's conversion error;
//  - tsql_datetime_text(x, style): convert(varchar, datetime, style) for
//    the styles 0/100, 20/120, 21/121, 23, 102, 108, 111, 112.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

void roundFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const int places = sqlite3_value_int(argv[1]);
  const bool cut = sqlite3_value_int(argv[2]) != 0;
  const int precision = sqlite3_value_int(argv[3]);
  const int scale = sqlite3_value_int(argv[4]);
  Dec d;
  if (!decFromValue(argv[0], d)) {
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return;
  }
  const int drop = d.scale - places;  // digits to clear
  if (drop > 0) {
    const Wide& unit = wideTen(std::min(drop, 77));
    Wide kept = cut ? Wide(d.unscaled / unit) : roundDown(d.unscaled, std::min(drop, 77));
    d.unscaled = kept * unit;
  }
  if (precision == -1) {
    const Dec whole = rescale(d, 0);
    if (whole.unscaled > Wide(std::numeric_limits<std::int32_t>::max()) ||
        whole.unscaled < Wide(std::numeric_limits<std::int32_t>::min())) {
      sqlite3_result_error(ctx, kIntOverflow, -1);
      return;
    }
  } else if (precision > 0 && digitCount(rescale(d, scale).unscaled) > precision) {
    sqlite3_result_error(ctx, kDecimalOverflow, -1);
    return;
  }
  resultDec(ctx, d);
}

void datalengthFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const int bytes = sqlite3_value_int(argv[1]);
  if (bytes > 0) {
    sqlite3_result_int(ctx, bytes);
    return;
  }
  std::string text;
  argText(argv[0], text);
  const std::size_t units = textUnits(text, bytes == -2);
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(bytes == -2 ? units * 2 : units));
}

void numberFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int type = sqlite3_value_type(argv[0]);
  if (type != SQLITE_TEXT) {
    sqlite3_result_value(ctx, argv[0]);
    return;
  }
  Dec d;
  if (!decFromValue(argv[0], d)) {
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return;
  }
  resultDec(ctx, d);
}

void datetimeTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string text;
  if (!argText(argv[0], text)) {
    sqlite3_result_null(ctx);
    return;
  }
  DateTime d;
  if (readDatetime(text, d) != DatetimeRead::Ok) {
    sqlite3_result_error(ctx, kBadDatetime, -1);
    return;
  }
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char buf[64];
  switch (sqlite3_value_int(argv[1])) {
    case 0:
    case 100: {
      const int hour12 = d.hour % 12 == 0 ? 12 : d.hour % 12;
      std::snprintf(buf, sizeof buf, "%s %2d %04d %2d:%02d%s", kMonths[d.month - 1], d.day, d.year,
                    hour12, d.minute, d.hour < 12 ? "AM" : "PM");
      break;
    }
    case 20:
    case 120:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month, d.day,
                    d.hour, d.minute, d.second);
      break;
    case 21:
    case 121:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", d.year, d.month, d.day,
                    d.hour, d.minute, d.second, d.millis);
      break;
    case 23:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
      break;
    case 102:
      std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", d.year, d.month, d.day);
      break;
    case 108:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", d.hour, d.minute, d.second);
      break;
    case 111:
      std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", d.year, d.month, d.day);
      break;
    case 112:
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.year, d.month, d.day);
      break;
    default:
      resultError(ctx, std::to_string(sqlite3_value_int(argv[1])) +
                           " is not a valid style number when converting from datetime to a "
                           "character string.");
      return;
  }
  resultText(ctx, buf);
}

}  // namespace cvt::tsql_impl
