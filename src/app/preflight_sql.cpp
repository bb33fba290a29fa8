#include "app/preflight_sql.h"

#include <cctype>
#include <set>

#include "db/names.h"

namespace cvt::preflight {

namespace {

bool identChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

// Positions of `sql` outside quoted strings and at paren depth 0.
template <typename Visit>
void topLevel(std::string_view sql, Visit visit) {
  int depth = 0;
  bool quoted = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (quoted) {
      quoted = c != '\'';
      continue;
    }
    if (c == '\'') {
      quoted = true;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (depth == 0 && !visit(i)) {
      return;
    }
  }
}

}  // namespace

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n;");
  return std::string(text.substr(first, last - first + 1));
}

// The first whole word `word` (any case) at depth 0 from `from`, or npos.
std::size_t findWord(std::string_view sql, std::string_view word, std::size_t from) {
  std::size_t found = std::string_view::npos;
  topLevel(sql, [&](std::size_t i) {
    if (i < from || i + word.size() > sql.size()) {
      return true;
    }
    if ((i > 0 && identChar(sql[i - 1])) ||
        (i + word.size() < sql.size() && identChar(sql[i + word.size()]))) {
      return true;
    }
    if (lowered(sql.substr(i, word.size())) == word) {
      found = i;
      return false;
    }
    return true;
  });
  return found;
}

std::vector<std::string> splitTop(std::string_view text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  topLevel(text, [&](std::size_t i) {
    if (text[i] == ',') {
      parts.push_back(trimmed(text.substr(start, i - start)));
      start = i + 1;
    }
    return true;
  });
  parts.push_back(trimmed(text.substr(start)));
  return parts;
}

std::optional<RefillShape> parseRefill(std::string_view sql) {
  RefillShape shape;
  std::size_t at = findWord(sql, "insert", 0);
  if (at == std::string_view::npos) {
    return std::nullopt;
  }
  at += 6;
  const std::size_t into = findWord(sql, "into", at);
  const std::size_t open = sql.find('(', at);
  if (open == std::string_view::npos) {
    return std::nullopt;
  }
  if (into != std::string_view::npos && into < open) {
    at = into + 4;
  }
  shape.target = trimmed(sql.substr(at, open - at));
  int depth = 0;
  std::size_t close = open;
  for (; close < sql.size(); ++close) {
    depth += sql[close] == '(' ? 1 : sql[close] == ')' ? -1 : 0;
    if (depth == 0) {
      break;
    }
  }
  if (close >= sql.size()) {
    return std::nullopt;
  }
  shape.columns = splitTop(sql.substr(open + 1, close - open - 1));
  const std::size_t select = findWord(sql, "select", close);
  const std::size_t from =
      select == std::string_view::npos ? select : findWord(sql, "from", select);
  if (from == std::string_view::npos) {
    return std::nullopt;
  }
  shape.exprs = splitTop(sql.substr(select + 6, from - select - 6));
  const std::size_t where = findWord(sql, "where", from);
  if (where == std::string_view::npos) {
    shape.from = trimmed(sql.substr(from + 4));
  } else {
    shape.from = trimmed(sql.substr(from + 4, where - from - 4));
    shape.where = trimmed(sql.substr(where + 5));
  }
  if (shape.columns.size() != shape.exprs.size()) {
    return std::nullopt;
  }
  return shape;
}

std::vector<SourceTable> fromTables(const std::string& from) {
  std::vector<SourceTable> out;
  for (const auto& item : splitTop(from)) {
    SourceTable t;
    const auto space = item.find_first_of(" \t");
    std::string name = item.substr(0, space);
    if (space != std::string::npos) {
      t.alias = trimmed(item.substr(space));
    }
    const auto dots = name.find("..");
    if (dots != std::string::npos) {
      t.database = name.substr(0, dots);
      name = name.substr(dots + 2);
    }
    t.table = name;
    out.push_back(std::move(t));
  }
  return out;
}

std::vector<ColumnRef> columnsOf(std::string_view expr) {
  static const std::set<std::string> kKeywords = {
      "case", "when", "then", "else", "end",    "is",      "null",   "not",    "and",  "or",
      "in",   "like", "as",   "with", "nolock", "between", "exists", "select", "from", "where"};
  std::vector<ColumnRef> out;
  for (std::size_t i = 0; i < expr.size();) {
    const char c = expr[i];
    if (c == '\'') {
      const auto close = expr.find('\'', i + 1);
      i = close == std::string_view::npos ? expr.size() : close + 1;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
      while (i < expr.size() && (identChar(expr[i]) || expr[i] == '.')) {
        ++i;
      }
      continue;
    }
    if (!identChar(c)) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < expr.size() && (identChar(expr[end]) || expr[end] == '.')) {
      ++end;
    }
    const std::string word(expr.substr(i, end - i));
    std::size_t next = end;
    while (next < expr.size() && expr[next] == ' ') {
      ++next;
    }
    i = end;
    if ((next < expr.size() && expr[next] == '(') || kKeywords.count(lowered(word)) > 0) {
      continue;
    }
    ColumnRef ref;
    const auto dot = word.rfind('.');
    ref.name = dot == std::string::npos ? word : word.substr(dot + 1);
    ref.qualifier = dot == std::string::npos ? std::string() : word.substr(0, dot);
    if (!ref.name.empty()) {
      out.push_back(std::move(ref));
    }
  }
  return out;
}

}  // namespace cvt::preflight
