// The text functions: len, left, right, substring, convert to a text type,
// tsql_error and getdate, the plain text of an argument as SQL Server would
// see it, and the TSQL collation's comparison.

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/collation.h"
#include "db/sqlite/ext/tsql_parts.h"
#include "platform/local_time.h"

namespace cvt::tsql_impl {

std::string formatReal(double value) {
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

bool argText(sqlite3_value* value, std::string& out) {
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

namespace {

// left(x, n) and right(x, n) in characters; a negative n fails with SQL
// Server's message. The user data is the function's name, for the message.
void leftRight(sqlite3_context* ctx, sqlite3_value** argv, bool left) {
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

}  // namespace

// len(x): characters without the trailing blanks; NULL stays NULL.
void lenFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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

void leftFunction(sqlite3_context* ctx, int, sqlite3_value** argv) { leftRight(ctx, argv, true); }
void rightFunction(sqlite3_context* ctx, int, sqlite3_value** argv) { leftRight(ctx, argv, false); }

// tsql_convert_text(n, pad, x): convert(varchar(n) / char(n), x). Text is
// cut to n characters as SQL Server does; a number that does not fit fails
// with SQL Server's overflow error instead of losing digits. n = 0 means no
// limit (varchar(max)); pad = 1 fills char(n) with blanks.
void convertTextFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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
void errorFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string text;
  if (!argText(argv[0], text)) {
    text = "Error raised by the statement.";
  }
  sqlite3_result_error(ctx, text.c_str(), static_cast<int>(text.size()));
}

// getdate(): local time 'YYYY-MM-DD HH:MM:SS.mmm'. Rewritten statements do
// not call it (they take SQLite's statement time, fixed for a statement);
// it is there for texts written directly for SQLite, such as triggers.
void getdateFunction(sqlite3_context* ctx, int, sqlite3_value**) {
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
int tsqlCompare(void*, int lengthA, const void* a, int lengthB, const void* b) {
  return collation::compare(static_cast<const char*>(a), static_cast<std::size_t>(lengthA),
                            static_cast<const char*>(b), static_cast<std::size_t>(lengthB));
}

// tsql_substring(x, start, length) in characters: the characters at
// positions start .. start + length - 1 that exist (a start before 1 eats
// into the length); a negative length fails.
void substringFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
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

}  // namespace cvt::tsql_impl
