#include "app/preflight_sql.h"

#include <set>
#include <utility>

#include "db/names.h"
#include "db/sqlite/tsql_syntax.h"

namespace cvt::preflight {

namespace {

using tsql::isKw;
using tsql::isPunct;
using tsql::kNone;
using tsql::Tok;

// A statement text read into tokens once, with each token's place in it,
// so that the parts handed back are quoted as written. A text the
// tokenizer refuses (an unterminated literal) has no tokens, and so no
// words and no commas.
struct Reading {
  std::string_view sql;
  tsql::Tokens tokens;
  std::vector<tsql::Span> spans;
};

Reading readText(std::string_view sql) {
  Reading r{sql, {}, {}};
  std::string error;
  if (!tsql::tokenize(sql, r.tokens, r.spans, error)) {
    r.tokens.clear();
    r.spans.clear();
  }
  return r;
}

// The first token that is the word `word` outside parentheses and starts
// at byte `from` or later, or kNone.
std::size_t topWord(const Reading& r, std::string_view word, std::size_t from) {
  int depth = 0;
  for (std::size_t i = 0; i < r.tokens.size(); ++i) {
    const tsql::Token& t = r.tokens[i];
    if (isPunct(t, "(")) {
      ++depth;
    } else if (isPunct(t, ")")) {
      --depth;
    } else if (depth == 0 && r.spans[i].begin >= from && isKw(t, word)) {
      return i;
    }
  }
  return kNone;
}

// The text of bytes [begin, end) split at the commas outside parentheses
// among tokens [from, to), each part as written between its commas,
// trimmed.
std::vector<std::string> partsOf(const Reading& r, std::size_t from, std::size_t to,
                                 std::size_t begin, std::size_t end) {
  std::vector<std::string> parts;
  std::size_t start = begin;
  for (const auto& range : tsql::splitTop(r.tokens, from, to)) {
    if (range.second < to) {  // a comma ends the part
      const tsql::Span& comma = r.spans[range.second];
      parts.push_back(trimmed(r.sql.substr(start, comma.begin - start)));
      start = comma.end;
    }
  }
  parts.push_back(trimmed(r.sql.substr(start, end - start)));
  return parts;
}

std::string textBetween(const Reading& r, std::size_t begin, std::size_t end) {
  return trimmed(r.sql.substr(begin, end - begin));
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

std::size_t findWord(std::string_view sql, std::string_view word, std::size_t from) {
  const Reading r = readText(sql);
  const std::size_t at = topWord(r, word, from);
  return at == kNone ? std::string_view::npos : r.spans[at].begin;
}

std::vector<std::string> splitTop(std::string_view text) {
  const Reading r = readText(text);
  return partsOf(r, 0, r.tokens.size(), 0, text.size());
}

std::optional<RefillShape> parseRefill(std::string_view sql) {
  const Reading r = readText(sql);
  const tsql::Tokens& t = r.tokens;
  const std::size_t insert = topWord(r, "insert", 0);
  if (insert == kNone) {
    return std::nullopt;
  }
  std::size_t open = insert + 1;
  while (open < t.size() && !isPunct(t[open], "(")) {
    ++open;
  }
  const std::size_t close = open < t.size() ? tsql::matchParen(t, open) : kNone;
  if (close == kNone) {
    return std::nullopt;
  }
  RefillShape shape;
  std::size_t at = r.spans[insert].end;
  const std::size_t into = topWord(r, "into", at);
  if (into != kNone && into < open) {
    at = r.spans[into].end;
  }
  shape.target = textBetween(r, at, r.spans[open].begin);
  shape.columns = partsOf(r, open + 1, close, r.spans[open].end, r.spans[close].begin);
  const std::size_t select = topWord(r, "select", r.spans[close].begin);
  const std::size_t from = select == kNone ? kNone : topWord(r, "from", r.spans[select].begin);
  if (from == kNone) {
    return std::nullopt;
  }
  shape.exprs = partsOf(r, select + 1, from, r.spans[select].end, r.spans[from].begin);
  const std::size_t where = topWord(r, "where", r.spans[from].begin);
  if (where == kNone) {
    shape.from = textBetween(r, r.spans[from].end, sql.size());
  } else {
    shape.from = textBetween(r, r.spans[from].end, r.spans[where].begin);
    shape.where = textBetween(r, r.spans[where].end, sql.size());
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
  const Reading r = readText(expr);
  const tsql::Tokens& t = r.tokens;
  std::vector<ColumnRef> out;
  for (std::size_t i = 0; i < t.size();) {
    // Variables are no columns, and digits glued to a number are its own.
    const bool glued = i > 0 && !t[i].space && t[i - 1].type == Tok::Number;
    if (!tsql::isName(t[i]) || t[i].text.front() == '@' || glued) {
      ++i;
      continue;
    }
    // A name with its qualifiers: names and dots with nothing between.
    std::string word = tsql::nameOf(t[i]);
    std::size_t end = i + 1;
    while (end < t.size() && !t[end].space && (tsql::isName(t[end]) || isPunct(t[end], "."))) {
      word += tsql::nameOf(t[end]);
      ++end;
    }
    const bool call = end < t.size() && isPunct(t[end], "(");
    i = end;
    if (call || kKeywords.count(lowered(word)) > 0) {
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
