// The order of exact decimals. A decimal of more than 15 significant digits
// is stored as a blob of its text (tsql_decimal.h), and SQLite ranks every
// blob above every number; these functions order decimals by their values
// instead. The rewriter calls them only where an operand can hold such a
// value, so that everything else keeps SQLite's own comparisons and indexes.
//
//  - tsql_compare(a, b): -1, 0 or 1 as a is below, equal to or above b;
//    NULL when either is NULL; a text that is no number fails with SQL
//    Server's conversion error;
//  - tsql_between(x, a, b): x BETWEEN a AND b with SQL's NULL rules;
//  - tsql_decimal_key(x): a blob whose bytes sort (memcmp) as the values
//    do, for ORDER BY; NULL stays NULL, a value that is no number is given
//    back as it is;
//  - tsql_min_decimal(x), tsql_max_decimal(x): min and max by value; the
//    result is the value as stored.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

// Negative, zero or positive as `a` is below, equal to or above `b`.
int decCompare(const Dec& a, const Dec& b) {
  if (a.scale == b.scale) {
    return a.unscaled < b.unscaled ? -1 : a.unscaled > b.unscaled ? 1 : 0;
  }
  const int sa = a.unscaled < 0 ? -1 : a.unscaled > 0 ? 1 : 0;
  const int sb = b.unscaled < 0 ? -1 : b.unscaled > 0 ? 1 : 0;
  if (sa != sb) {
    return sa < sb ? -1 : 1;
  }
  // Same sign: bring both to the larger scale; 512 bits hold the product
  // of any 76-digit value and a power of ten up to 10^76.
  const int scale = std::max(a.scale, b.scale);
  const Wider x = Wider(a.unscaled) * Wider(wideTen(scale - a.scale));
  const Wider y = Wider(b.unscaled) * Wider(wideTen(scale - b.scale));
  return x < y ? -1 : x > y ? 1 : 0;
}

// Negative, zero or positive as the integer `i` is below, equal to or above
// the real `r` (no NaN), exactly: neither is rounded to the other's type.
int intRealCompare(std::int64_t i, double r) {
  if (r < -9223372036854775808.0) {
    return 1;
  }
  if (r >= 9223372036854775808.0) {
    return -1;
  }
  const auto whole = static_cast<std::int64_t>(r);  // toward zero, exact
  if (i != whole) {
    return i < whole ? -1 : 1;
  }
  const double fraction = r - static_cast<double>(whole);  // exact
  return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

// Compares two values that are numbers as SQLite holds them, without
// reading them as decimals: nearly every value is an integer or a real,
// and only a blob or a text needs the decimal. False when either is one.
bool compareNumbers(sqlite3_value* a, sqlite3_value* b, int& out) {
  const int ta = sqlite3_value_type(a);
  const int tb = sqlite3_value_type(b);
  if (ta == SQLITE_INTEGER && tb == SQLITE_INTEGER) {
    const sqlite3_int64 x = sqlite3_value_int64(a);
    const sqlite3_int64 y = sqlite3_value_int64(b);
    out = x < y ? -1 : x > y ? 1 : 0;
    return true;
  }
  if (ta == SQLITE_FLOAT && tb == SQLITE_FLOAT) {
    const double x = sqlite3_value_double(a);
    const double y = sqlite3_value_double(b);
    if (std::isnan(x) || std::isnan(y)) {
      return false;
    }
    out = x < y ? -1 : x > y ? 1 : 0;
    return true;
  }
  if (ta == SQLITE_INTEGER && tb == SQLITE_FLOAT && !std::isnan(sqlite3_value_double(b))) {
    out = intRealCompare(sqlite3_value_int64(a), sqlite3_value_double(b));
    return true;
  }
  if (ta == SQLITE_FLOAT && tb == SQLITE_INTEGER && !std::isnan(sqlite3_value_double(a))) {
    out = -intRealCompare(sqlite3_value_int64(b), sqlite3_value_double(a));
    return true;
  }
  return false;
}

// Reads an argument that is not NULL as a decimal; false with the
// conversion error set when it is no number.
bool decArgument(sqlite3_context* ctx, sqlite3_value* value, Dec& out) {
  if (decFromValue(value, out)) {
    return true;
  }
  sqlite3_result_error(ctx, kVarcharToNumeric, -1);
  return false;
}

void compareFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  int order = 0;
  if (compareNumbers(argv[0], argv[1], order)) {
    sqlite3_result_int(ctx, order);
    return;
  }
  Dec a;
  Dec b;
  if (decArgument(ctx, argv[0], a) && decArgument(ctx, argv[1], b)) {
    sqlite3_result_int(ctx, decCompare(a, b));
  }
}

void betweenFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(ctx);
    return;
  }
  Dec x;
  if (!decArgument(ctx, argv[0], x)) {
    return;
  }
  // x >= a AND x <= b: either side false makes it false, else an unknown
  // side makes it unknown.
  bool unknown = false;
  for (int i = 1; i <= 2; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      unknown = true;
      continue;
    }
    Dec bound;
    if (!decArgument(ctx, argv[i], bound)) {
      return;
    }
    const int c = decCompare(x, bound);
    if ((i == 1 && c < 0) || (i == 2 && c > 0)) {
      sqlite3_result_int(ctx, 0);
      return;
    }
  }
  if (unknown) {
    sqlite3_result_null(ctx);
  } else {
    sqlite3_result_int(ctx, 1);
  }
}

// The sort key of `d`: a class byte (negative, zero, positive), the
// decimal exponent of its first significant digit, then its significant
// digits; for a negative value the exponent and digits are inverted and a
// final 0xFF makes a shorter digit string (a smaller magnitude) sort
// above a longer one that begins with it.
std::string decSortKey(const Dec& d) {
  if (d.unscaled == 0) {
    return std::string(1, '\x80');
  }
  const bool negative = d.unscaled < 0;
  std::string digits = (negative ? Wide(-d.unscaled) : d.unscaled).str();
  int scale = d.scale;
  while (digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
    --scale;
  }
  // value = 0.digits * 10^exponent, |exponent| <= 80.
  const int exponent = static_cast<int>(digits.size()) - scale;
  std::string key;
  key.reserve(digits.size() + 3);
  key += negative ? '\x40' : '\xC0';
  key += static_cast<char>(negative ? 127 - exponent : 128 + exponent);
  for (const char c : digits) {
    key += negative ? static_cast<char>('9' - c + '0') : c;
  }
  if (negative) {
    key += '\xFF';
  }
  return key;
}

void decimalKeyFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  Dec d;
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || !decFromValue(argv[0], d)) {
    sqlite3_result_value(ctx, argv[0]);
    return;
  }
  const std::string key = decSortKey(d);
  sqlite3_result_blob64(ctx, key.data(), key.size(), transientText());
}

// min and max by value. The state keeps the best value so far both as a
// decimal (to compare) and as SQLite holds it (to give back).
struct ExtremeState {
  bool started = false;
  bool failed = false;
  sqlite3_value* best = nullptr;  // owned: sqlite3_value_dup
  Dec value;
};

static_assert(std::is_trivially_destructible_v<ExtremeState>,
              "SQLite frees the aggregate's memory without running a destructor");

// SQLite's aggregate memory is aligned for 8 bytes; the wide integer asks
// for more, so the state sits at the first aligned address within it.
ExtremeState* extremeState(sqlite3_context* ctx, bool create) {
  constexpr std::size_t kBytes = sizeof(ExtremeState) + alignof(ExtremeState);
  void* memory = sqlite3_aggregate_context(ctx, create ? static_cast<int>(kBytes) : 0);
  if (memory == nullptr) {
    return nullptr;
  }
  std::size_t space = kBytes;
  void* at = memory;
  std::align(alignof(ExtremeState), sizeof(ExtremeState), at, space);
  auto* state = static_cast<ExtremeState*>(at);
  if (!state->started) {  // SQLite hands out zeroed memory the first time
    state = new (at) ExtremeState();
    state->started = true;
  }
  return state;
}

template <int kSign>  // -1: min, 1: max
void extremeStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  ExtremeState* s = extremeState(ctx, true);
  if (s == nullptr) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  if (s->failed || sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    return;
  }
  Dec d;
  if (!decArgument(ctx, argv[0], d)) {
    s->failed = true;
    return;
  }
  if (s->best != nullptr && decCompare(d, s->value) * kSign <= 0) {
    return;
  }
  sqlite3_value* copy = sqlite3_value_dup(argv[0]);
  if (copy == nullptr) {
    s->failed = true;
    sqlite3_result_error_nomem(ctx);
    return;
  }
  sqlite3_value_free(s->best);
  s->best = copy;
  s->value = d;
}

// Also runs when SQLite drops a group early (a failed statement), so the
// copy is always freed.
void extremeFinal(sqlite3_context* ctx) {
  ExtremeState* s = extremeState(ctx, false);
  if (s == nullptr) {
    sqlite3_result_null(ctx);
    return;
  }
  if (!s->failed) {
    if (s->best != nullptr) {
      sqlite3_result_value(ctx, s->best);
    } else {
      sqlite3_result_null(ctx);
    }
  }
  sqlite3_value_free(s->best);
  s->best = nullptr;
}

}  // namespace

int registerDecimalOrder(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  int rc = sqlite3_create_function_v2(db, "tsql_compare", 2, kFlags, nullptr, compareFunction,
                                      nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function_v2(db, "tsql_between", 3, kFlags, nullptr, betweenFunction,
                                    nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function_v2(db, "tsql_decimal_key", 1, kFlags, nullptr, decimalKeyFunction,
                                    nullptr, nullptr, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function_v2(db, "tsql_min_decimal", 1, kFlags, nullptr, nullptr,
                                    extremeStep<-1>, extremeFinal, nullptr);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function_v2(db, "tsql_max_decimal", 1, kFlags, nullptr, nullptr,
                                    extremeStep<1>, extremeFinal, nullptr);
  }
  return rc;
}

}  // namespace cvt::tsql_impl
