#pragma once

// SQL Server's outcomes where SQLite would quietly differ: values stored
// into columns of SQL Server types (tsql_fit_*), the arithmetic operators
// (tsql_add and its kin: '+' on texts concatenates, a zero divisor and an
// int overflow fail) and substring's start and length rules. Included by
// tsql_functions_impl.h, under the same rules: <sqlite3.h> or
// <sqlite3ext.h> comes first and everything is inline.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_datetime.h"
#include "db/sqlite/ext/tsql_decimal.h"

namespace cvt::tsql_impl {

inline constexpr const char* kTruncated = "String or binary data would be truncated.";
inline constexpr const char* kDivideByZero = "Divide by zero error encountered.";
inline constexpr const char* kIntOverflow =
    "Arithmetic overflow error converting expression to data type int.";
inline constexpr const char* kBigintOverflow =
    "Arithmetic overflow error converting expression to data type bigint.";
inline constexpr const char* kNumericOverflow =
    "Arithmetic overflow error converting numeric to data type numeric.";
inline constexpr const char* kMoneyOverflow =
    "Arithmetic overflow error converting numeric to data type money.";
inline constexpr const char* kVarcharToNumeric = "Error converting data type varchar to numeric.";
inline constexpr const char* kBadDatetime =
    "Conversion failed when converting date and/or time from character string.";
inline constexpr const char* kDatetimeRange =
    "The conversion of a varchar data type to a datetime data type resulted in an out-of-range "
    "value.";

inline void resultError(sqlite3_context* ctx, const std::string& text) {
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

inline std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') {
    s.remove_prefix(1);
  }
  while (!s.empty() && s.back() == ' ') {
    s.remove_suffix(1);
  }
  return s;
}

inline bool isDigitChar(char c) { return c >= '0' && c <= '9'; }

// ---------------------------------------------------------------- texts

// Length of `s` in the units a column measures: bytes of code page 936
// (varchar, char: every character outside ASCII takes two) or UTF-16 code
// units (nvarchar, nchar: a character beyond the BMP takes two).
inline std::size_t textUnits(std::string_view s, bool utf16) {
  std::size_t n = 0;
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      ++n;
    } else if (u >= 0xC0) {
      n += utf16 ? (u >= 0xF0 ? 2 : 1) : 2;
    }
  }
  return n;
}

// tsql_fit_text(x, n, utf16, pad): x stored into a text column of n units.
// Blanks beyond n are dropped as SQL Server drops them; any other
// character beyond n fails the statement. pad = 1 fills a char(n) or
// nchar(n) column with blanks.
inline void fitTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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
inline void fitDecimalFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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

inline const char* intTypeName(sqlite3_int64 bytes) {
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

inline bool intFits(sqlite3_int64 value, sqlite3_int64 bytes) {
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

// Reads [blanks][sign]digits[blanks] into `out`; false when the text is not
// an integer or does not fit 64 bits.
inline bool parseInteger(std::string_view text, sqlite3_int64& out) {
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

// tsql_fit_int(x, bytes): x stored into a tinyint (1), smallint (2), int
// (4) or bigint (8) column. A number loses its fraction (toward zero); a
// text must be an integer ('' is 0); a value outside the type's range
// fails with SQL Server's overflow error.
inline void fitIntFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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
inline void fitDatetimeFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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

// ----------------------------------------------------------- arithmetic

enum class Op { Add, Subtract, Multiply, Divide, Modulo };

inline const char* opName(Op op) {
  switch (op) {
    case Op::Add:
      return "add";
    case Op::Subtract:
      return "subtract";
    case Op::Multiply:
      return "multiply";
    case Op::Divide:
      return "divide";
    default:
      return "modulo";
  }
}

inline bool isInt32(sqlite3_int64 v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

// A text operand beside a number takes the number's type, as SQL Server
// converts the lower type to the higher. False with the error set when the
// text is not such a number.
inline bool textAsNumber(sqlite3_context* ctx, sqlite3_value* value, bool asInteger,
                         sqlite3_int64& integer, double& real) {
  std::string text;
  argText(value, text);
  if (asInteger) {
    if (trimBlanks(text).empty()) {
      integer = 0;  // '' (or blanks) converts to 0 for an int
      return true;
    }
    if (!parseInteger(text, integer)) {
      resultError(ctx, "Conversion failed when converting the varchar value '" + text +
                           "' to data type int.");
      return false;
    }
    return true;
  }
  Dec d;
  if (!decFromText(text, d)) {
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return false;
  }
  real = std::strtod(std::string(trimBlanks(text)).c_str(), nullptr);
  return true;
}

inline constexpr const char* kDecimalOverflow =
    "Arithmetic overflow error converting expression to data type numeric.";

inline DecOp decOp(Op op) {
  switch (op) {
    case Op::Add:
      return DecOp::Add;
    case Op::Subtract:
      return DecOp::Subtract;
    case Op::Multiply:
      return DecOp::Multiply;
    case Op::Divide:
      return DecOp::Divide;
    default:
      return DecOp::Modulo;
  }
}

// a op b as decimals of the types `ta` and `tb` (precision 0: the value's
// own), exact, with SQL Server's result type, rounding and overflow.
inline void decimalArithmetic(sqlite3_context* ctx, sqlite3_value* va, sqlite3_value* vb, Op op,
                              DecType ta, DecType tb) {
  if (sqlite3_value_type(va) == SQLITE_NULL || sqlite3_value_type(vb) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Dec a;
  Dec b;
  if (!decFromValue(va, a) || !decFromValue(vb, b)) {
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return;
  }
  if (ta.precision == 0) {
    ta = typeOfValue(a);
  }
  if (tb.precision == 0) {
    tb = typeOfValue(b);
  }
  Dec out;
  switch (decCompute(decOp(op), a, b, decResultType(decOp(op), ta, tb), out)) {
    case DecStatus::Overflow:
      sqlite3_result_error(ctx, kDecimalOverflow, -1);
      return;
    case DecStatus::DivideByZero:
      sqlite3_result_error(ctx, kDivideByZero, -1);
      return;
    case DecStatus::Ok:
      resultDec(ctx, out);
      return;
  }
}

// tsql_add(a, b) and its kin: the binary operators with SQL Server's
// outcome. NULL with a NULL operand; two texts concatenate under '+' (and
// fail under the others); a text beside a number is read as that number;
// integers stay integers and an int result beyond int's range fails; a
// zero divisor fails; an exact decimal (a blob, see tsql_decimal.h) makes
// the operation decimal. The six-argument form tsql_add(a, b, p1, s1, p2,
// s2) is the decimal operation over decimal(p1, s1) and decimal(p2, s2)
// (precision 0: the value's own digits), as the rewriter types the
// operands by their declarations.
inline void arithmetic(sqlite3_context* ctx, int argc, sqlite3_value** argv, Op op) {
  if (argc == 6) {
    decimalArithmetic(ctx, argv[0], argv[1], op,
                      DecType{sqlite3_value_int(argv[2]), sqlite3_value_int(argv[3])},
                      DecType{sqlite3_value_int(argv[4]), sqlite3_value_int(argv[5])});
    return;
  }
  int ta = sqlite3_value_type(argv[0]);
  int tb = sqlite3_value_type(argv[1]);
  if (ta == SQLITE_NULL || tb == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  if (ta == SQLITE_BLOB || tb == SQLITE_BLOB) {
    decimalArithmetic(ctx, argv[0], argv[1], op, DecType{}, DecType{});
    return;
  }
  const bool textA = ta == SQLITE_TEXT;
  const bool textB = tb == SQLITE_TEXT;
  if (textA && textB) {
    if (op != Op::Add) {
      resultError(ctx, std::string("Operand data type varchar is invalid for ") + opName(op) +
                           " operator.");
      return;
    }
    std::string a;
    std::string b;
    argText(argv[0], a);
    argText(argv[1], b);
    resultText(ctx, a + b);
    return;
  }
  sqlite3_int64 ia = 0;
  sqlite3_int64 ib = 0;
  double ra = 0;
  double rb = 0;
  if (textA) {
    if (!textAsNumber(ctx, argv[0], tb == SQLITE_INTEGER, ia, ra)) {
      return;
    }
    ta = tb;
  } else if (ta == SQLITE_INTEGER) {
    ia = sqlite3_value_int64(argv[0]);
  } else {
    ra = sqlite3_value_double(argv[0]);
  }
  if (textB) {
    if (!textAsNumber(ctx, argv[1], ta == SQLITE_INTEGER, ib, rb)) {
      return;
    }
    tb = ta;
  } else if (tb == SQLITE_INTEGER) {
    ib = sqlite3_value_int64(argv[1]);
  } else {
    rb = sqlite3_value_double(argv[1]);
  }
  if (ta == SQLITE_INTEGER && tb == SQLITE_INTEGER) {
    sqlite3_int64 out = 0;
    bool overflow = false;
    switch (op) {
      case Op::Add:
        overflow = __builtin_add_overflow(ia, ib, &out);
        break;
      case Op::Subtract:
        overflow = __builtin_sub_overflow(ia, ib, &out);
        break;
      case Op::Multiply:
        overflow = __builtin_mul_overflow(ia, ib, &out);
        break;
      case Op::Divide:
      case Op::Modulo:
        if (ib == 0) {
          sqlite3_result_error(ctx, kDivideByZero, -1);
          return;
        }
        if (ia == std::numeric_limits<sqlite3_int64>::min() && ib == -1) {
          overflow = true;
        } else {
          out = op == Op::Divide ? ia / ib : ia % ib;
        }
        break;
    }
    if (overflow) {
      sqlite3_result_error(ctx, kBigintOverflow, -1);
      return;
    }
    // Two values of int's range are ints to SQL Server: so is the result.
    if (isInt32(ia) && isInt32(ib) && !isInt32(out)) {
      sqlite3_result_error(ctx, kIntOverflow, -1);
      return;
    }
    sqlite3_result_int64(ctx, out);
    return;
  }
  const double a = ta == SQLITE_INTEGER ? static_cast<double>(ia) : ra;
  const double b = tb == SQLITE_INTEGER ? static_cast<double>(ib) : rb;
  double out = 0;
  switch (op) {
    case Op::Add:
      out = a + b;
      break;
    case Op::Subtract:
      out = a - b;
      break;
    case Op::Multiply:
      out = a * b;
      break;
    case Op::Divide:
    case Op::Modulo:
      if (b == 0) {
        sqlite3_result_error(ctx, kDivideByZero, -1);
        return;
      }
      out = op == Op::Divide ? a / b : std::fmod(a, b);
      break;
  }
  sqlite3_result_double(ctx, out);
}

inline void addFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Add);
}
inline void subtractFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Subtract);
}
inline void multiplyFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Multiply);
}
inline void divideFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Divide);
}
inline void moduloFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  arithmetic(ctx, argc, argv, Op::Modulo);
}

}  // namespace cvt::tsql_impl

#include "db/sqlite/ext/tsql_sum_impl.h"  // after the arithmetic it shares

namespace cvt::tsql_impl {

// tsql_substring(x, start, length) in characters: the characters at
// positions start .. start + length - 1 that exist (a start before 1 eats
// into the length); a negative length fails.
inline void substringFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string text;
  if (!argText(argv[0], text) || sqlite3_value_type(argv[1]) == SQLITE_NULL ||
      sqlite3_value_type(argv[2]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const sqlite3_int64 start = sqlite3_value_int64(argv[1]);
  const sqlite3_int64 length = sqlite3_value_int64(argv[2]);
  if (length < 0) {
    sqlite3_result_error(ctx, "Invalid length parameter passed to the substring function.", -1);
    return;
  }
  const sqlite3_int64 first = start < 1 ? 1 : start;
  const sqlite3_int64 end = start > std::numeric_limits<sqlite3_int64>::max() - length
                                ? std::numeric_limits<sqlite3_int64>::max()
                                : start + length;  // one past the last position
  if (end <= first) {
    resultText(ctx, "");
    return;
  }
  const std::size_t from = utf8Offset(text, static_cast<std::size_t>(first - 1));
  const std::size_t to = utf8Offset(text, static_cast<std::size_t>(end - 1));
  resultText(ctx, std::string_view(text).substr(from, to - from));
}

// ------------------------------------------------------ connection setup

// Optimisation bits of SQLite's internal mask (sqliteInt.h) that
// SQLITE_TESTCTRL_OPTIMIZATIONS switches off.
inline constexpr unsigned kBloomFilter = 0x00080000U;
inline constexpr unsigned kBloomPulldown = 0x00100000U;

// What a connection must not do to give SQL Server's results:
//  - Bloom filters hash a join key's bytes, so keys that the TSQL collation
//    holds equal ('S1 ' and 'S1', 's1' and 'S1') never meet: a join
//    through an automatic or analysed index silently loses rows. The
//    automatic index itself compares with the collation and stays on.
//  - a double-quoted text is a name in T-SQL: one that names no column
//    fails instead of becoming a string.
inline int configureConnection(sqlite3* db) {
  sqlite3_test_control(SQLITE_TESTCTRL_OPTIMIZATIONS, db, kBloomFilter | kBloomPulldown);
  return sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, static_cast<int*>(nullptr));
}

}  // namespace cvt::tsql_impl
