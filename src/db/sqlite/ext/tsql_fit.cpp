// The values stored into columns of SQL Server types (tsql_fit_*): cut,
// rounded, range-checked or failed as SQL Server does, where SQLite would
// keep whatever it was given.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

const char* intTypeName(sqlite3_int64 bytes) {
  switch (bytes) {
    case 1:
      return "tinyint";
    case 2:
      return "smallint";
    case 8:
      return "bigint";
    default:
      return "int";
  }
}

bool intFits(sqlite3_int64 value, sqlite3_int64 bytes) {
  switch (bytes) {
    case 1:
      return value >= 0 && value <= 255;
    case 2:
      return value >= -32768 && value <= 32767;
    case 8:
      return true;
    default:
      return value >= std::numeric_limits<std::int32_t>::min() &&
             value <= std::numeric_limits<std::int32_t>::max();
  }
}

}  // namespace

bool parseInteger(std::string_view text, sqlite3_int64& out) {
  text = trimBlanks(text);
  std::string digits(text);
  if (digits.empty() || digits == "+" || digits == "-") {
    return false;
  }
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (!isDigitChar(digits[i]) && !(i == 0 && (digits[i] == '+' || digits[i] == '-'))) {
      return false;
    }
  }
  errno = 0;
  out = std::strtoll(digits.c_str(), nullptr, 10);
  return errno == 0;
}

// tsql_fit_text(x, n, utf16, pad): x stored into a text column of n units.
// Blanks beyond n are dropped as SQL Server drops them; any other
// character beyond n fails the statement. pad = 1 fills a char(n) or
// nchar(n) column with blanks.
void fitTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto limit = static_cast<std::size_t>(sqlite3_value_int64(argv[1]));
  const bool utf16 = sqlite3_value_int64(argv[2]) != 0;
  const bool pad = sqlite3_value_int64(argv[3]) != 0;
  if (type == SQLITE_TEXT) {
    // Most values fit as they are: measured in place, stored unchanged.
    const auto* data = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const std::string_view view(data, static_cast<std::size_t>(sqlite3_value_bytes(argv[0])));
    if (!pad && textUnits(view, utf16) <= limit) {
      sqlite3_result_value(ctx, argv[0]);
      return;
    }
  }
  std::string text;
  argText(argv[0], text);
  std::size_t units = textUnits(text, utf16);
  while (units > limit && !text.empty() && text.back() == ' ') {
    text.pop_back();
    --units;
  }
  if (units > limit) {
    sqlite3_result_error(ctx, kTruncated, -1);
    return;
  }
  if (pad) {
    text.append(limit - units, ' ');
  }
  resultText(ctx, text);
}

// -------------------------------------------------------------- numbers

// tsql_fit_decimal(x, p, s, money): x stored into a decimal(p, s) column
// (money = 1: a money column, decimal(19, 4) with its own messages). The
// value is rounded to s places on its decimal digits; an integer part
// longer than p - s digits fails with the arithmetic overflow error.
void fitDecimalFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const auto precision = static_cast<std::size_t>(sqlite3_value_int64(argv[1]));
  const auto scale = static_cast<std::size_t>(sqlite3_value_int64(argv[2]));
  const bool money = sqlite3_value_int64(argv[3]) != 0;
  const char* overflow = money ? kMoneyOverflow : kNumericOverflow;
  if (type == SQLITE_FLOAT && !std::isfinite(sqlite3_value_double(argv[0]))) {
    sqlite3_result_error(ctx, overflow, -1);
    return;
  }
  // 10^0 .. 10^18.
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                       1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
  if (type == SQLITE_INTEGER) {
    // A whole number fits when its digits do; no rounding to do. Any 64-bit
    // integer fits more than 18 digits.
    const sqlite3_int64 value = sqlite3_value_int64(argv[0]);
    bool fits = precision - scale > 18;
    if (!fits) {
      sqlite3_int64 limit = 1;
      for (std::size_t i = 0; i < precision - scale; ++i) {
        limit *= 10;
      }
      fits = value > -limit && value < limit;
    }
    if (fits) {
      sqlite3_result_value(ctx, argv[0]);
    } else {
      sqlite3_result_error(ctx, overflow, -1);
    }
    return;
  }
  if (type == SQLITE_FLOAT && scale <= 18) {
    // A real whose decimal digits (the 15 SQLite keeps) end within the
    // scale needs no rounding. Scaled, it then lies within a few units of
    // the last place of an integer: far closer than any real with a digit
    // beyond the scale could, since 15 digits leave a remainder of at
    // least 1e-15 of the value. The others take the exact way below.
    const double value = sqlite3_value_double(argv[0]);
    const double scaled = value * kPowers[scale];
    const double whole = std::nearbyint(scaled);
    if (std::fabs(scaled) < 1e15 && std::fabs(scaled - whole) <= 5e-16 * std::fabs(whole)) {
      if (precision > 15 || std::fabs(whole) < kPowers[precision]) {
        sqlite3_result_value(ctx, argv[0]);
      } else {
        sqlite3_result_error(ctx, overflow, -1);
      }
      return;
    }
  }
  Dec d;
  if (!decFromValue(argv[0], d)) {
    sqlite3_result_error(ctx,
                         money ? "Cannot convert a char value to money. The char value has "
                                 "incorrect syntax."
                               : kVarcharToNumeric,
                         -1);
    return;
  }
  d = rescale(d, static_cast<int>(scale));
  if (digitCount(d.unscaled) > static_cast<int>(precision)) {
    sqlite3_result_error(ctx, overflow, -1);
    return;
  }
  resultDec(ctx, d);
}

// tsql_fit_int(x, bytes): x stored into a tinyint (1), smallint (2), int
// (4) or bigint (8) column. A number loses its fraction (toward zero); a
// text must be an integer ('' is 0); a value outside the type's range
// fails with SQL Server's overflow error.
void fitIntFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const sqlite3_int64 bytes = sqlite3_value_int64(argv[1]);
  const std::string name = intTypeName(bytes);
  const std::string overflow =
      "Arithmetic overflow error converting expression to data type " + name + ".";
  sqlite3_int64 value = 0;
  switch (sqlite3_value_type(argv[0])) {
    case SQLITE_NULL:
      sqlite3_result_null(ctx);
      return;
    case SQLITE_INTEGER:
      value = sqlite3_value_int64(argv[0]);
      break;
    case SQLITE_FLOAT: {
      const double real = std::trunc(sqlite3_value_double(argv[0]));
      if (!(real >= -9.2e18 && real <= 9.2e18)) {
        resultError(ctx, overflow);
        return;
      }
      value = static_cast<sqlite3_int64>(real);
      break;
    }
    default: {
      std::string text;
      argText(argv[0], text);
      if (trimBlanks(text).empty()) {
        value = 0;
      } else if (!parseInteger(text, value)) {
        resultError(ctx, "Conversion failed when converting the varchar value '" + text +
                             "' to data type " + name + ".");
        return;
      }
      if (!intFits(value, bytes)) {
        resultError(ctx, "The conversion of the varchar value '" + text + "' overflowed an " +
                             name + " column. Use a larger integer column.");
        return;
      }
    }
  }
  if (!intFits(value, bytes)) {
    resultError(ctx, overflow);
    return;
  }
  sqlite3_result_int64(ctx, value);
}

// -------------------------------------------------------------- datetime

// tsql_fit_datetime(x): x stored into a datetime column, as SQL Server reads
// it (a text as a date and time, '' as 1900-01-01; a number as days from
// 1900-01-01), rounded to its 1/300 second and stored as
// 'yyyy-mm-dd hh:mi:ss.mmm', so that one instant has one stored form.
void fitDatetimeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  const int type = sqlite3_value_type(argv[0]);
  if (type == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  DateTime value;
  if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) {
    if (datetimeFromDays(sqlite3_value_double(argv[0]), value) != DatetimeRead::Ok) {
      sqlite3_result_error(
          ctx, "Arithmetic overflow error converting expression to data type datetime.", -1);
      return;
    }
  } else {
    std::string text;
    argText(argv[0], text);
    const DatetimeRead read = readDatetime(text, value);
    if (read != DatetimeRead::Ok) {
      sqlite3_result_error(ctx, read == DatetimeRead::OutOfRange ? kDatetimeRange : kBadDatetime,
                           -1);
      return;
    }
  }
  resultText(ctx, formatDatetime(value));
}

}  // namespace cvt::tsql_impl
