// tsql_sum(x, kind, scale): SQL Server's SUM. The sum of an int column is
// an int and fails with the int overflow error beyond int's range (kind 4),
// of a bigint a bigint (8); of a decimal(p, s) it is a decimal(38, s),
// summed exactly and failing beyond 38 digits (kind 0; scale -1: the
// values' own); kind -1 (type unknown) takes integers that all lie in
// int's range for ints, other integers for bigints, and sums any fraction
// exactly. A text value fails as SQL Server's SUM of a varchar does.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

struct SumState {
  bool started = false;
  bool any = false;     // a value that is not NULL came
  bool failed = false;  // the error is set; the group gives nothing more
  bool exact = false;   // a fraction or a sum beyond 64 bits: `total` holds it
  bool wide = false;    // an integer beyond int's range came
  int kind = -1;
  int scale = -1;
  std::int64_t integer = 0;
  Dec total;
};

static_assert(std::is_trivially_destructible_v<SumState>,
              "SQLite frees the aggregate's memory without running a destructor");

// SQLite's aggregate memory is aligned for 8 bytes; the wide integer asks
// for more, so the state sits at the first aligned address within it.
SumState* sumState(sqlite3_context* ctx, bool create) {
  constexpr std::size_t kBytes = sizeof(SumState) + alignof(SumState);
  void* memory = sqlite3_aggregate_context(ctx, create ? static_cast<int>(kBytes) : 0);
  if (memory == nullptr) {
    return nullptr;
  }
  std::size_t space = kBytes;
  void* at = memory;
  std::align(alignof(SumState), sizeof(SumState), at, space);
  auto* state = static_cast<SumState*>(at);
  if (!state->started) {  // SQLite hands out zeroed memory the first time
    state = new (at) SumState();
    state->started = true;
  }
  return state;
}

void addExact(SumState& s, const Dec& d) {
  if (!s.exact) {
    s.total = Dec{Wide(s.integer), 0};
    s.exact = true;
  }
  const int scale = std::max(s.total.scale, d.scale);
  s.total =
      Dec{s.total.unscaled * wideTen(scale - s.total.scale) + d.unscaled * wideTen(scale - d.scale),
          scale};
}

}  // namespace

void sumStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  SumState* s = sumState(ctx, true);
  if (s == nullptr) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  const int type = sqlite3_value_type(argv[0]);
  if (s->failed || type == SQLITE_NULL) {
    return;
  }
  if (!s->any) {
    s->any = true;
    s->kind = sqlite3_value_int(argv[1]);
    s->scale = sqlite3_value_int(argv[2]);
  }
  if (type == SQLITE_TEXT) {
    s->failed = true;
    sqlite3_result_error(ctx, "Operand data type varchar is invalid for sum operator.", -1);
    return;
  }
  if (type == SQLITE_INTEGER && !s->exact) {
    const std::int64_t value = sqlite3_value_int64(argv[0]);
    s->wide = s->wide || !isInt32(value);
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(s->integer, value, &sum)) {
      s->integer = sum;
      return;
    }
  }
  Dec d;
  if (!decFromValue(argv[0], d)) {
    s->failed = true;
    sqlite3_result_error(ctx, kVarcharToNumeric, -1);
    return;
  }
  addExact(*s, d);
  if (digitCount(s->total.unscaled) > 2 * kMaxPrecision) {
    s->failed = true;
    sqlite3_result_error(ctx, kDecimalOverflow, -1);
  }
}

void sumFinal(sqlite3_context* ctx) {
  SumState* s = sumState(ctx, false);
  if (s == nullptr || !s->any) {
    sqlite3_result_null(ctx);
    return;
  }
  if (s->failed) {
    return;
  }
  // Of an unknown type, integers that are all of int's range are ints, as
  // the operators judge them.
  const int kind = s->kind == -1 && !s->exact && !s->wide ? 4 : s->kind;
  if (kind == 4 || kind == 8) {
    const bool fits = !s->exact && (kind == 8 || isInt32(s->integer));
    if (!fits) {
      sqlite3_result_error(ctx, kind == 4 ? kIntOverflow : kBigintOverflow, -1);
      return;
    }
    sqlite3_result_int64(ctx, s->integer);
    return;
  }
  if (!s->exact) {
    sqlite3_result_int64(ctx, s->integer);
    return;
  }
  Dec total = s->total;
  if (s->kind == 0 && s->scale >= 0) {
    total = rescale(total, s->scale);
  }
  if (digitCount(total.unscaled) > kMaxPrecision) {
    sqlite3_result_error(ctx, kDecimalOverflow, -1);
    return;
  }
  resultDec(ctx, total);
}

// tsql_sum_int(x, bytes): sum of an int (bytes 4) or bigint (8) column;
// a total beyond the type fails with its arithmetic overflow error, as
// SQL Server's does. NULLs are skipped; no row, or only NULLs, give NULL.
struct IntSum {
  sqlite3_int64 total;
  sqlite3_int64 bytes;
  bool any;
  bool overflow;
};

void sumIntStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* state = static_cast<IntSum*>(sqlite3_aggregate_context(ctx, sizeof(IntSum)));
  if (state == nullptr) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  state->bytes = sqlite3_value_int64(argv[1]);
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL || state->overflow) {
    return;
  }
  state->any = true;
  sqlite3_int64 next = 0;
  if (__builtin_add_overflow(state->total, sqlite3_value_int64(argv[0]), &next) ||
      (state->bytes == 4 && !isInt32(next))) {
    state->overflow = true;
    return;
  }
  state->total = next;
}

void sumIntFinal(sqlite3_context* ctx) {
  auto* state = static_cast<IntSum*>(sqlite3_aggregate_context(ctx, 0));
  if (state == nullptr || !state->any) {
    sqlite3_result_null(ctx);
  } else if (state->overflow) {
    resultError(ctx, state->bytes == 4 ? kIntOverflow : kBigintOverflow);
  } else {
    sqlite3_result_int64(ctx, state->total);
  }
}

}  // namespace cvt::tsql_impl
