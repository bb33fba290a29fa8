#pragma once

// The T-SQL functions and the TSQL collation, written once for two homes:
// the conversion core (linked against SQLite) and the loadable extension
// libtsqlext (which reaches SQLite through the extension API table). The
// including file must have included <sqlite3.h>, or <sqlite3ext.h> after
// SQLITE_EXTENSION_INIT1, first; every function here is inline so that the
// two homes never clash.

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "db/sqlite/collation.h"
#include "platform/local_time.h"

namespace cvt::tsql_impl {

inline sqlite3_destructor_type transientText() {
  // SQLITE_TRANSIENT without its C-style cast.
  return reinterpret_cast<sqlite3_destructor_type>(static_cast<std::intptr_t>(-1));
}

// Plain decimal text of a double: at most 15 significant digits (what
// SQLite keeps of a decimal stored as REAL), no exponent, no trailing
// zeros: 12.5 -> "12.5", 3.0 -> "3", 1e20 -> "100000000000000000000".
inline std::string formatReal(double value) {
  if (std::isnan(value)) {
    return "NaN";
  }
  if (std::isinf(value)) {
    return value < 0 ? "-Inf" : "Inf";
  }
  if (value == 0) {
    return "0";
  }
  // [-]d.dddddddddddddde[+-]xx, correctly rounded (as printf's %.14e,
  // without its cost: a card's balance passes here twice).
  char buf[64];
  const auto printed =
      std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 14);
  std::string_view text(buf, static_cast<std::size_t>(printed.ptr - buf));
  const bool negative = text.front() == '-';
  if (negative) {
    text.remove_prefix(1);
  }
  const std::size_t e = text.find('e');
  char digits[16];
  std::size_t count = 0;
  for (const char c : text.substr(0, e)) {
    if (c != '.' && count < sizeof digits) {
      digits[count++] = c;
    }
  }
  int exponent = 0;
  for (const char c : text.substr(e + 2)) {
    exponent = exponent * 10 + (c - '0');
  }
  if (text[e + 1] == '-') {
    exponent = -exponent;
  }
  while (count > 1 && digits[count - 1] == '0') {
    --count;
  }
  const std::string_view significant(digits, count);
  std::string out = negative ? "-" : "";
  const int pointAt = exponent + 1;  // digits before the decimal point
  if (pointAt <= 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-pointAt), '0');
    out += significant;
  } else if (static_cast<std::size_t>(pointAt) >= count) {
    out += significant;
    out.append(static_cast<std::size_t>(pointAt) - count, '0');
  } else {
    out += significant.substr(0, static_cast<std::size_t>(pointAt));
    out += '.';
    out += significant.substr(static_cast<std::size_t>(pointAt));
  }
  return out;
}

// The text SQL Server would see for an argument; false for NULL.
inline bool argText(sqlite3_value* value, std::string& out) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return false;
    case SQLITE_INTEGER:
      out = std::to_string(sqlite3_value_int64(value));
      return true;
    case SQLITE_FLOAT:
      out = formatReal(sqlite3_value_double(value));
      return true;
    default: {
      const auto* text = sqlite3_value_text(value);
      const int bytes = sqlite3_value_bytes(value);
      out.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
      return true;
    }
  }
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

inline void resultText(sqlite3_context* ctx, std::string_view text) {
  sqlite3_result_text64(ctx, text.data(), text.size(), transientText(), SQLITE_UTF8);
}

// len(x): characters without the trailing blanks; NULL stays NULL.
inline void lenFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string text;
  if (!argText(argv[0], text)) {
    sqlite3_result_null(ctx);
    return;
  }
  std::string_view view(text);
  while (!view.empty() && view.back() == ' ') {
    view.remove_suffix(1);
  }
  sqlite3_result_int64(ctx, static_cast<sqlite3_int64>(utf8Length(view)));
}

// left(x, n) and right(x, n) in characters; a negative n fails with SQL
// Server's message. The user data is the function's name, for the message.
inline void leftRight(sqlite3_context* ctx, sqlite3_value** argv, bool left) {
  std::string text;
  if (!argText(argv[0], text) || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  const sqlite3_int64 n = sqlite3_value_int64(argv[1]);
  if (n < 0) {
    sqlite3_result_error(ctx,
                         left ? "Invalid length parameter passed to the left function."
                              : "Invalid length parameter passed to the right function.",
                         -1);
    return;
  }
  const std::size_t count = static_cast<std::size_t>(n);
  const std::size_t length = utf8Length(text);
  if (left) {
    resultText(ctx, std::string_view(text).substr(0, utf8Offset(text, count)));
  } else {
    const std::size_t skip = count >= length ? 0 : length - count;
    resultText(ctx, std::string_view(text).substr(utf8Offset(text, skip)));
  }
}

inline void leftFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  leftRight(ctx, argv, true);
}
inline void rightFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  leftRight(ctx, argv, false);
}

// tsql_convert_text(n, pad, x): convert(varchar(n) / char(n), x). Text is
// cut to n characters as SQL Server does; a number that does not fit fails
// with SQL Server's overflow error instead of losing digits. n = 0 means no
// limit (varchar(max)); pad = 1 fills char(n) with blanks.
inline void convertTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string text;
  if (!argText(argv[2], text)) {
    sqlite3_result_null(ctx);
    return;
  }
  const sqlite3_int64 limit = sqlite3_value_int64(argv[0]);
  const bool pad = sqlite3_value_int64(argv[1]) != 0;
  if (limit < 0 || limit > 8000) {
    sqlite3_result_error(
        ctx, "The size given to the type 'varchar' exceeds the maximum allowed (8000).", -1);
    return;
  }
  const std::size_t n = static_cast<std::size_t>(limit);
  const int type = sqlite3_value_type(argv[2]);
  const std::size_t length = utf8Length(text);
  if (n > 0 && length > n) {
    if (type == SQLITE_INTEGER) {
      // An integer too long for the text becomes '*', as SQL Server writes
      // an int that does not fit (a decimal fails instead).
      resultText(ctx, "*");
      return;
    }
    if (type == SQLITE_FLOAT || type == SQLITE_BLOB) {  // a blob is an exact decimal
      sqlite3_result_error(
          ctx, "Arithmetic overflow error converting numeric to data type varchar.", -1);
      return;
    }
    text.resize(utf8Offset(text, n));
  } else if (pad && n > length) {
    text.append(n - length, ' ');
  }
  resultText(ctx, text);
}

// tsql_error(text): fails the statement with `text`. Lets a rewritten
// statement report SQL Server's own message.
inline void errorFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string text;
  if (!argText(argv[0], text)) {
    text = "Error raised by the statement.";
  }
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

// getdate(): local time 'YYYY-MM-DD HH:MM:SS.mmm'. Rewritten statements do
// not call it (they take SQLite's statement time, fixed for a statement);
// it is there for texts written directly for SQLite, such as triggers.
inline void getdateFunction(sqlite3_context* ctx, int, sqlite3_value**) {
  const auto now = std::chrono::system_clock::now();
  const std::tm local = cvt::platform::localTime(std::chrono::system_clock::to_time_t(now));
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03lld", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<long long>(millis));
  resultText(ctx, buf);
}

// The TSQL collation: the server's default Chinese collation (see
// db/sqlite/collation.h for what it ignores and what it keeps).
inline int tsqlCompare(void*, int lengthA, const void* a, int lengthB, const void* b) {
  return collation::compare(static_cast<const char*>(a), static_cast<std::size_t>(lengthA),
                            static_cast<const char*>(b), static_cast<std::size_t>(lengthB));
}

}  // namespace cvt::tsql_impl

#include "db/sqlite/ext/tsql_strict_impl.h"
// The built-ins use the exact decimals and datetimes included above.
#include "db/sqlite/ext/tsql_builtins_impl.h"
// Needs the strict functions' helpers.
#include "db/sqlite/ext/tsql_more_functions.h"
// LIKE as the server matches it.
#include "db/sqlite/ext/tsql_like.h"
// Long decimals ordered by value.
#include "db/sqlite/ext/tsql_decimal_order.h"

namespace cvt::tsql_impl {

// Registers everything on `db` and sets the connection up (see
// configureConnection). Returns the first SQLite error code, or SQLITE_OK.
inline int registerAll(sqlite3* db) {
  struct Fn {
    const char* name;
    int args;
    void (*fn)(sqlite3_context*, int, sqlite3_value**);
    bool deterministic;
  };
  static const Fn kFunctions[] = {
      {"tsql_len", 1, lenFunction, true},
      {"len", 1, lenFunction, true},
      {"tsql_left", 2, leftFunction, true},
      {"tsql_right", 2, rightFunction, true},
      {"tsql_convert_text", 3, convertTextFunction, true},
      {"tsql_error", 1, errorFunction, false},
      {"getdate", 0, getdateFunction, false},
      {"tsql_substring", 3, substringFunction, true},
      {"tsql_add", 2, addFunction, true},
      {"tsql_subtract", 2, subtractFunction, true},
      {"tsql_multiply", 2, multiplyFunction, true},
      {"tsql_divide", 2, divideFunction, true},
      {"tsql_modulo", 2, moduloFunction, true},
      {"tsql_add", 6, addFunction, true},
      {"tsql_subtract", 6, subtractFunction, true},
      {"tsql_multiply", 6, multiplyFunction, true},
      {"tsql_divide", 6, divideFunction, true},
      {"tsql_modulo", 6, moduloFunction, true},
      {"tsql_fit_text", 4, fitTextFunction, true},
      {"tsql_fit_decimal", 4, fitDecimalFunction, true},
      {"tsql_fit_int", 2, fitIntFunction, true},
      {"tsql_fit_datetime", 1, fitDatetimeFunction, true},
      {"tsql_round", 5, roundFunction, true},
      {"tsql_datalength", 2, datalengthFunction, true},
      {"tsql_replace", 3, replaceFunction, true},
      {"like", 2, likeFunction, true},
      {"like", 3, likeFunction, true},
      {"tsql_number", 1, numberFunction, true},
      {"tsql_datetime_text", 2, datetimeTextFunction, true},
  };
  for (const Fn& f : kFunctions) {
    const int flags = SQLITE_UTF8 | (f.deterministic ? SQLITE_DETERMINISTIC : 0);
    const int rc = sqlite3_create_function_v2(db, f.name, f.args, flags, nullptr, f.fn, nullptr,
                                              nullptr, nullptr);
    if (rc != SQLITE_OK) {
      return rc;
    }
  }
  if (const int rc = sqlite3_create_function_v2(db, "tsql_sum", 3, SQLITE_UTF8, nullptr, nullptr,
                                                sumStep, sumFinal, nullptr);
      rc != SQLITE_OK) {
    return rc;
  }
  if (const int rc = sqlite3_create_function_v2(db, "tsql_sum_int", 2, SQLITE_UTF8, nullptr,
                                                nullptr, sumIntStep, sumIntFinal, nullptr);
      rc != SQLITE_OK) {
    return rc;
  }
  if (const int rc = sqlite3_create_function_v2(db, "tsql_single", 1, SQLITE_UTF8, nullptr, nullptr,
                                                singleStep, singleFinal, nullptr);
      rc != SQLITE_OK) {
    return rc;
  }
  if (const int rc = registerDecimalOrder(db); rc != SQLITE_OK) {
    return rc;
  }
  const int rc =
      sqlite3_create_collation_v2(db, "TSQL", SQLITE_UTF8, nullptr, tsqlCompare, nullptr);
  return rc != SQLITE_OK ? rc : configureConnection(db);
}

}  // namespace cvt::tsql_impl
