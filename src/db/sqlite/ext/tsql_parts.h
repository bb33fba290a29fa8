#pragma once

// The T-SQL functions and the TSQL collation, written once for two homes:
// the conversion core (linked against SQLite) and the loadable extension
// libtsqlext (which reaches SQLite through the extension API table, see
// tsql_sqlite_api.h). Each piece is a .cpp file compiled into both; this
// header holds what they share: SQL Server's messages, the small helpers,
// and the functions that registerAll puts on a connection, by file.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_datetime.h"
#include "db/sqlite/ext/tsql_decimal.h"
#include "db/sqlite/ext/tsql_sqlite_api.h"
#include "db/text_helpers.h"  // trimBlanks

namespace cvt::tsql_impl {

// ------------------------------------------------------------- messages

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
inline constexpr const char* kDecimalOverflow =
    "Arithmetic overflow error converting expression to data type numeric.";

// -------------------------------------------------------- small helpers

inline sqlite3_destructor_type transientText() {
  // SQLITE_TRANSIENT without its C-style cast.
  return reinterpret_cast<sqlite3_destructor_type>(static_cast<std::intptr_t>(-1));
}

inline void resultText(sqlite3_context* ctx, std::string_view text) {
  sqlite3_result_text64(ctx, text.data(), text.size(), transientText(), SQLITE_UTF8);
}

inline void resultError(sqlite3_context* ctx, const std::string& text) {
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

inline bool isDigitChar(char c) { return c >= '0' && c <= '9'; }

inline bool isInt32(sqlite3_int64 v) {
  return v >= std::numeric_limits<std::int32_t>::min() &&
         v <= std::numeric_limits<std::int32_t>::max();
}

inline bool isUtf8Continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

inline std::size_t utf8Length(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) {
    if (!isUtf8Continuation(c)) {
      ++n;
    }
  }
  return n;
}

// Byte offset of character `chars` of `s` (s.size() when past the end).
inline std::size_t utf8Offset(std::string_view s, std::size_t chars) {
  std::size_t i = 0;
  while (i < s.size() && chars > 0) {
    ++i;
    while (i < s.size() && isUtf8Continuation(s[i])) {
      ++i;
    }
    --chars;
  }
  return i;
}

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

// ------------------------------------------- tsql_text_functions.cpp

// Plain decimal text of a double: at most 15 significant digits (what
// SQLite keeps of a decimal stored as REAL), no exponent, no trailing
// zeros: 12.5 -> "12.5", 3.0 -> "3", 1e20 -> "100000000000000000000".
std::string formatReal(double value);

// The text SQL Server would see for an argument; false for NULL.
bool argText(sqlite3_value* value, std::string& out);

void lenFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void leftFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void rightFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void substringFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void convertTextFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void errorFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void getdateFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
int tsqlCompare(void* context, int lengthA, const void* a, int lengthB, const void* b);

// ------------------------------------------------------ tsql_fit.cpp

// Reads [blanks][sign]digits[blanks] into `out`; false when the text is not
// an integer or does not fit 64 bits.
bool parseInteger(std::string_view text, sqlite3_int64& out);

void fitTextFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void fitDecimalFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void fitIntFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void fitDatetimeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// ----------------------------------------------- tsql_arithmetic.cpp

void addFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void subtractFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void multiplyFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void divideFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void moduloFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// ------------------------------------------------------ tsql_sum.cpp

void sumStep(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void sumFinal(sqlite3_context* ctx);
void sumIntStep(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void sumIntFinal(sqlite3_context* ctx);

// ------------------------------------------------- tsql_builtins.cpp

void roundFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void datalengthFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void numberFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void datetimeTextFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// ------------------------------------------- tsql_more_functions.cpp

// Whether `a` and `b` hold the same characters as the TSQL collation sees
// them (case and width aside); ASCII without the collation's cost.
bool sameUnderCollation(std::string_view a, std::string_view b);

void replaceFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void singleStep(sqlite3_context* ctx, int argc, sqlite3_value** argv);
void singleFinal(sqlite3_context* ctx);

// ----------------------------------------------------- tsql_like.cpp

void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv);

// ---------------------------------------------- tsql_decimal_order.cpp

// Registers tsql_compare, tsql_between, tsql_decimal_key,
// tsql_min_decimal and tsql_max_decimal, which order decimals of more
// than 15 significant digits (held as blobs) by value; an SQLite result
// code.
int registerDecimalOrder(sqlite3* db);

// ------------------------------------------------- tsql_register.cpp

// What a connection must not do to give SQL Server's results:
//  - Bloom filters hash a join key's bytes, so keys that the TSQL collation
//    holds equal ('S1 ' and 'S1', 's1' and 'S1') never meet: a join
//    through an automatic or analysed index silently loses rows. The
//    automatic index itself compares with the collation and stays on.
//  - a double-quoted text is a name in T-SQL: one that names no column
//    fails instead of becoming a string.
int configureConnection(sqlite3* db);

// Registers everything on `db` and sets the connection up (see
// configureConnection). Returns the first SQLite error code, or SQLITE_OK.
int registerAll(sqlite3* db);

}  // namespace cvt::tsql_impl
