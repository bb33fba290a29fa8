// LIKE as SQL Server matches it, in place of SQLite's own like(): '%' any
// run of characters, '_' one character, '[abc]' and '[a-c]' one character
// of a set or range, '[^...]' one character outside it, ESCAPE making the
// next pattern character literal. Characters compare as the TSQL collation
// compares them (case and width aside), ranges by the collation's order.
// The rewriter trims the matched value's trailing blanks; the pattern's
// own count.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/sqlite/collation.h"
#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

// One character of UTF-8 text from byte `i` on.
std::string_view likeCharAt(std::string_view s, std::size_t i) {
  std::size_t end = i + 1;
  while (end < s.size() && isUtf8Continuation(s[end])) {
    ++end;
  }
  return s.substr(i, end - i);
}

struct LikeItem {
  enum class Kind { Char, One, Many, Set } kind = Kind::Char;
  std::string_view text;                                           // Char
  bool negated = false;                                            // Set
  std::vector<std::pair<std::string_view, std::string_view>> set;  // Set: ranges, lo == hi alike
};

// The pattern as items; false when it can match nothing (a '[' without
// its ']', an escape character at the end).
bool likeParse(std::string_view p, std::string_view escape, std::vector<LikeItem>& out) {
  std::size_t i = 0;
  while (i < p.size()) {
    const std::string_view c = likeCharAt(p, i);
    i += c.size();
    LikeItem item;
    if (!escape.empty() && c == escape) {
      if (i >= p.size()) {
        return false;
      }
      item.text = likeCharAt(p, i);
      i += item.text.size();
    } else if (c == "%") {
      item.kind = LikeItem::Kind::Many;
    } else if (c == "_") {
      item.kind = LikeItem::Kind::One;
    } else if (c == "[") {
      item.kind = LikeItem::Kind::Set;
      if (i < p.size() && p[i] == '^') {
        item.negated = true;
        ++i;
      }
      bool closed = false;
      while (i < p.size()) {
        std::string_view lo = likeCharAt(p, i);
        i += lo.size();
        if (lo == "]") {
          closed = true;
          break;
        }
        if (!escape.empty() && lo == escape && i < p.size()) {
          lo = likeCharAt(p, i);
          i += lo.size();
        }
        std::string_view hi = lo;
        // a-z is a range; a '-' first or last in the set stands for itself.
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
          hi = likeCharAt(p, i + 1);
          i += 1 + hi.size();
        }
        item.set.emplace_back(lo, hi);
      }
      if (!closed) {
        return false;
      }
    } else {
      item.text = c;
    }
    out.push_back(std::move(item));
  }
  return true;
}

bool likeItemMatches(const LikeItem& item, std::string_view c) {
  switch (item.kind) {
    case LikeItem::Kind::Char:
      return sameUnderCollation(item.text, c);
    case LikeItem::Kind::One:
      return true;
    case LikeItem::Kind::Many:
      return false;
    case LikeItem::Kind::Set: {
      bool in = false;
      for (const auto& [lo, hi] : item.set) {
        if (lo == hi ? sameUnderCollation(lo, c)
                     : collation::compare(lo.data(), lo.size(), c.data(), c.size()) <= 0 &&
                           collation::compare(c.data(), c.size(), hi.data(), hi.size()) <= 0) {
          in = true;
          break;
        }
      }
      return in != item.negated;
    }
  }
  return false;
}

// Whether `value` matches `items`: a walk that remembers the last '%' and
// lets it take one more character whenever what follows it fails.
bool likeMatches(const std::vector<LikeItem>& items, std::string_view value) {
  std::size_t p = 0;
  std::size_t v = 0;
  std::size_t starP = std::string_view::npos;
  std::size_t starV = 0;
  while (v < value.size()) {
    if (p < items.size() && items[p].kind == LikeItem::Kind::Many) {
      starP = p++;
      starV = v;
      continue;
    }
    const std::string_view c = likeCharAt(value, v);
    if (p < items.size() && likeItemMatches(items[p], c)) {
      ++p;
      v += c.size();
      continue;
    }
    if (starP == std::string_view::npos) {
      return false;
    }
    p = starP + 1;
    starV += likeCharAt(value, starV).size();
    v = starV;
  }
  while (p < items.size() && items[p].kind == LikeItem::Kind::Many) {
    ++p;
  }
  return p == items.size();
}

}  // namespace

// like(pattern, value[, escape]): SQLite calls it for `value LIKE pattern
// [ESCAPE escape]`. NULL in any argument gives NULL.
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  std::string pattern;
  std::string value;
  std::string escape;
  if (!argText(argv[0], pattern) || !argText(argv[1], value) ||
      (argc > 2 && !argText(argv[2], escape))) {
    sqlite3_result_null(ctx);
    return;
  }
  if (argc > 2 && utf8Length(escape) != 1) {
    const std::string message =
        "The invalid escape character \"" + escape + "\" was specified in a LIKE predicate.";
    sqlite3_result_error(ctx, message.c_str(), -1);
    return;
  }
  std::vector<LikeItem> items;
  sqlite3_result_int(ctx, likeParse(pattern, escape, items) && likeMatches(items, value) ? 1 : 0);
}

}  // namespace cvt::tsql_impl
