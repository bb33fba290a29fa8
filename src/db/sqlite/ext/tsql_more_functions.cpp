// replace with SQL Server's outcome, and the aggregate that makes a
// subquery used as a value fail on a second row.

#include <cctype>
#include <string>
#include <string_view>

#include "db/sqlite/collation.h"
#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

bool sameUnderCollation(std::string_view a, std::string_view b) {
  bool ascii = a.size() == b.size();
  for (std::size_t i = 0; ascii && i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) {
      ascii = false;
      break;
    }
    if (x != y && !(std::isalpha(x) != 0 && std::tolower(x) == std::tolower(y))) {
      return false;
    }
  }
  if (ascii) {
    return true;
  }
  return collation::compare(a.data(), a.size(), b.data(), b.size()) == 0;
}

// replace(s, find, with): every occurrence of find in s, found as the
// TSQL collation compares (so 'B' finds 'b'), left to right, replaced.
// NULL in any argument gives NULL; an empty find changes nothing.
void replaceFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  std::string s;
  std::string find;
  std::string with;
  if (!argText(argv[0], s) || !argText(argv[1], find) || !argText(argv[2], with)) {
    sqlite3_result_null(ctx);
    return;
  }
  if (find.empty()) {
    resultText(ctx, s);
    return;
  }
  const std::size_t findChars = utf8Length(find);
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t end = i + utf8Offset(std::string_view(s).substr(i), findChars);
    const std::string_view candidate(s.data() + i, end - i);
    if (utf8Length(candidate) == findChars && sameUnderCollation(candidate, find)) {
      out += with;
      i = end;
      continue;
    }
    std::size_t next = i + 1;
    while (next < s.size() && isUtf8Continuation(s[next])) {
      ++next;
    }
    out.append(s, i, next - i);
    i = next;
  }
  resultText(ctx, out);
}

// tsql_single(x): the one value of a subquery used as a value; NULL for
// none, SQL Server's error for a second.
struct SingleValue {
  sqlite3_int64 rows;
  sqlite3_value* value;
};

void singleStep(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* state = static_cast<SingleValue*>(sqlite3_aggregate_context(ctx, sizeof(SingleValue)));
  if (state == nullptr) {
    sqlite3_result_error_nomem(ctx);
    return;
  }
  if (++state->rows == 1) {
    state->value = sqlite3_value_dup(argv[0]);
    return;
  }
  sqlite3_result_error(ctx,
                       "Subquery returned more than 1 value. This is not permitted when the "
                       "subquery follows =, !=, <, <= , >, >= or when the subquery is used as an "
                       "expression.",
                       -1);
}

void singleFinal(sqlite3_context* ctx) {
  auto* state = static_cast<SingleValue*>(sqlite3_aggregate_context(ctx, 0));
  if (state == nullptr || state->value == nullptr) {
    sqlite3_result_null(ctx);
    return;
  }
  if (state->rows == 1) {
    sqlite3_result_value(ctx, state->value);
  }
  sqlite3_value_free(state->value);
  state->value = nullptr;
}

}  // namespace cvt::tsql_impl
