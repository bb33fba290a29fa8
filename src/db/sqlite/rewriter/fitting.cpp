// Declared types: each value stored into a column of a SQL Server type
// passes the fitting function of the column's rule (tsql_fit_text,
// _decimal, _int, _datetime), unless it cannot break it (fitsAlready: a
// literal that fits, a column whose own type fits within).
// Takes a statement whose functions and operators are rewritten, from
// dispatch (INSERT: identityInsert, fitInsert) and rewriteUpdate (SET); the
// functions pass asks fitsAlready for isnull's second argument. An insert
// that names the identity column fails; one without a column list names
// every other column.

#include <algorithm>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

// INSERT INTO t [(columns)] VALUES ... | SELECT ...: every value bound
// for a column of a SQL Server type passes its fitting function. A
// query's rows are named by a common table expression so that each of
// its columns can be fitted whatever the query's shape.
// An identity column takes no value from an insert: naming it fails as
// on SQL Server (IDENTITY_INSERT is never on here), and an insert
// without a column list fills the other columns, in their order.
bool Rewriter::identityInsert() {
  const auto table = tableName(2);
  const TableColumns* columns =
      table && ctx_.types ? ctx_.types->find(table->schema, table->name) : nullptr;
  if (columns == nullptr || columns->identity.empty()) {
    return true;
  }
  const std::size_t at = table->end;
  if (at < t_.size() && isPunct(t_[at], "(") && at + 1 < t_.size() && !isKw(t_[at + 1], "select") &&
      !isKw(t_[at + 1], "with")) {
    const std::size_t close = matchParen(at);
    for (const auto& [b, e] : splitTop(at + 1, close)) {
      if (e == b + 1 && isName(t_[b]) && equalsNoCase(nameOf(t_[b]), columns->identity)) {
        return fail("Cannot insert explicit value for identity column in table '" + table->name +
                    "' when IDENTITY_INSERT is set to OFF.");
      }
    }
    return true;
  }
  Tokens list = {punct("(", true)};
  for (const auto& column : columns->columns) {
    if (column.first == columns->identity) {
      continue;
    }
    if (list.size() > 1) {
      list.push_back(punct(","));
    }
    list.push_back(word(column.first));
  }
  list.push_back(punct(")"));
  t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(at), list.begin(), list.end());
  return true;
}

bool Rewriter::fitInsert() {
  const auto table = tableName(2);
  if (!table) {
    return true;  // SQLite reports the syntax error
  }
  const TableColumns* declared = declaredColumns(*table);
  if (declared == nullptr) {
    return true;
  }
  std::size_t at = table->end;
  std::vector<const ColumnRule*> rules;
  if (at < t_.size() && isPunct(t_[at], "(") && at + 1 < t_.size() && !isKw(t_[at + 1], "select") &&
      !isKw(t_[at + 1], "with")) {
    const std::size_t close = matchParen(at);
    for (const auto& [b, e] : splitTop(at + 1, close)) {
      rules.push_back(e == b + 1 && isName(t_[b]) ? declared->find(nameOf(t_[b])) : nullptr);
    }
    at = close + 1;
  } else {
    for (const auto& column : declared->columns) {
      rules.push_back(&column.second);
    }
  }
  if (std::none_of(rules.begin(), rules.end(), [](const ColumnRule* r) {
        return r != nullptr && r->kind != ColumnRule::Kind::None;
      })) {
    return true;
  }
  if (at < t_.size() && isKw(t_[at], "values")) {
    Tokens out = slice(0, at + 1);
    std::size_t m = at + 1;
    while (m < t_.size()) {
      if (isPunct(t_[m], ",")) {
        out.push_back(t_[m++]);
        continue;
      }
      if (!isPunct(t_[m], "(")) {
        return fail("Incorrect syntax in insert: a row of values is expected.");
      }
      const std::size_t close = matchParen(m);
      out.push_back(t_[m]);
      const auto values = splitTop(m + 1, close);
      for (std::size_t v = 0; v < values.size(); ++v) {
        if (v > 0) {
          out.push_back(punct(","));
        }
        const ColumnRule* rule = v < rules.size() ? rules[v] : nullptr;
        const Tokens value = fitted(rule, slice(values[v].first, values[v].second));
        out.insert(out.end(), value.begin(), value.end());
      }
      out.push_back(t_[close]);
      m = close + 1;
    }
    t_ = std::move(out);
    return true;
  }
  if (at >= t_.size() ||
      !(isKw(t_[at], "select") || isKw(t_[at], "with") || isPunct(t_[at], "("))) {
    return true;  // DEFAULT VALUES and the like: nothing to fit
  }
  if (fitSelectList(at, rules)) {
    return true;
  }
  // Any other query (a compound one, or one that selects *): its rows
  // are named by a first branch that yields none, so that each column
  // can be fitted whatever the query's shape. The statement still
  // begins with INSERT, which drivers that count rows rely on.
  Tokens out = slice(0, at);
  Tokens names = {word("SELECT")};
  out.push_back(word("SELECT"));
  for (std::size_t c = 0; c < rules.size(); ++c) {
    const std::string name = "\"c" + std::to_string(c + 1) + "\"";
    if (c > 0) {
      out.push_back(punct(","));
      names.push_back(punct(","));
    }
    const Tokens value = fitted(rules[c], {Token{Tok::Quoted, name, true}});
    out.insert(out.end(), value.begin(), value.end());
    names.push_back(word("NULL"));
    names.push_back(word("AS"));
    names.push_back(Token{Tok::Quoted, name, true});
  }
  out.push_back(word("FROM"));
  out.push_back(punct("(", true));
  names.front().space = false;
  out.insert(out.end(), names.begin(), names.end());
  for (const char* w : {"WHERE", "0", "UNION", "ALL", "SELECT", "*", "FROM"}) {
    out.push_back(Token{Tok::Word, w, true});
  }
  out.push_back(punct("(", true));
  Tokens query = slice(at, t_.size());
  query.front().space = false;
  out.insert(out.end(), query.begin(), query.end());
  out.push_back(punct(")"));
  out.push_back(punct(")"));
  out.push_back(word("AS"));
  out.push_back(Token{Tok::Quoted, "\"tsql_row\"", true});
  t_ = std::move(out);
  return true;
}

const TableColumns* Rewriter::declaredColumns(const NameRef& table) const {
  if (!ctx_.types) {
    return nullptr;
  }
  const TableColumns* columns = ctx_.types->find(table.schema, table.name);
  return columns != nullptr && columns->anyRule ? columns : nullptr;
}

// `value` wrapped in the function that fits it to `rule` (see
// tsql_fit_text and its kin); unchanged when the rule asks nothing.
Tokens Rewriter::fitted(const ColumnRule* rule, Tokens value) {
  if (rule == nullptr || rule->kind == ColumnRule::Kind::None || value.empty() ||
      (value.size() == 1 && isKw(value[0], "default"))) {
    return value;
  }
  const bool space = value.front().space;
  value.front().space = false;
  Tokens out;
  auto arg = [&](int n) {
    out.push_back(punct(","));
    Token t = number(std::to_string(n));
    t.space = true;
    out.push_back(std::move(t));
  };
  switch (rule->kind) {
    case ColumnRule::Kind::Text:
      out = {word("tsql_fit_text"), punct("(")};
      out.insert(out.end(), value.begin(), value.end());
      arg(rule->length);
      arg(rule->utf16 ? 1 : 0);
      arg(rule->pad ? 1 : 0);
      break;
    case ColumnRule::Kind::Decimal:
      out = {word("tsql_fit_decimal"), punct("(")};
      out.insert(out.end(), value.begin(), value.end());
      arg(rule->precision);
      arg(rule->scale);
      arg(rule->money ? 1 : 0);
      break;
    case ColumnRule::Kind::Integer:
      out = {word("tsql_fit_int"), punct("(")};
      out.insert(out.end(), value.begin(), value.end());
      arg(rule->bytes);
      break;
    default:
      out = {word("tsql_fit_datetime"), punct("(")};
      out.insert(out.end(), value.begin(), value.end());
      break;
  }
  out.push_back(punct(")"));
  out.front().space = space;
  return out;
}

// The tables named in the FROM clause that starts at `from` (kNone or
// anything but FROM: none), in lists and in join chains.
std::vector<Rewriter::SourceTable> Rewriter::sourceTables(std::size_t from) const {
  std::vector<SourceTable> out;
  if (from >= t_.size() || !isKw(t_[from], "from") || !ctx_.types) {
    return out;
  }
  std::size_t end = t_.size();
  for (const char* kw : {"where", "group", "having", "order", "limit"}) {
    end =
        std::min(end, findTop(kw, from + 1, t_.size()) == kNone ? t_.size()
                                                                : findTop(kw, from + 1, t_.size()));
  }
  bool expectTable = true;
  for (std::size_t i = from + 1; i < end; ++i) {
    if (isPunct(t_[i], "(")) {
      i = matchParen(i);
      expectTable = false;
      continue;
    }
    if (isPunct(t_[i], ",") || isKw(t_[i], "join")) {
      expectTable = true;
      continue;
    }
    if (!expectTable) {
      continue;
    }
    expectTable = false;
    const auto table = tableName(i);
    if (!table) {
      continue;
    }
    SourceTable source{table->name, ctx_.types->find(table->schema, table->name)};
    std::size_t k = table->end;
    if (k < end && isKw(t_[k], "as")) {
      ++k;
    }
    if (k < end && isName(t_[k]) && !isClauseKeyword(t_[k])) {
      source.name = nameOf(t_[k]);
    }
    out.push_back(std::move(source));
    i = k > table->end ? k : table->end - 1;
  }
  return out;
}

// True when the value [b, e) of a select list cannot break `rule`, so
// fitting it would change nothing: a text or an integer literal that
// fits, or a column whose own declared type fits within the rule (a
// value SQL Server could hold there fits here too).
bool Rewriter::fitsAlready(const ColumnRule* rule, std::size_t b, std::size_t e,
                           const std::vector<SourceTable>& sources) const {
  using Kind = ColumnRule::Kind;
  if (rule == nullptr || rule->kind == Kind::None) {
    return true;
  }
  if (e == b + 1 && t_[b].type == Tok::String) {
    const std::string& text = t_[b].text;  // quoted, quotes doubled
    bool ascii = true;
    for (char c : text) {
      ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    }
    std::size_t length = 0;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      length += (text[i] == '\'' ? (++i, 1U) : 1U);
    }
    return rule->kind == Kind::Text && ascii &&
           (rule->pad ? length == static_cast<std::size_t>(rule->length)
                      : length <= static_cast<std::size_t>(rule->length));
  }
  if (e == b + 1 && t_[b].type == Tok::Number) {
    const std::string& digits = t_[b].text;
    const bool whole = digits.size() <= 9 && std::all_of(digits.begin(), digits.end(), [](char c) {
                         return c >= '0' && c <= '9';
                       });
    if (!whole) {
      return false;
    }
    const auto width = static_cast<int>(digits.size());
    return (rule->kind == Kind::Decimal && width <= rule->precision - rule->scale) ||
           (rule->kind == Kind::Integer && (rule->bytes >= 4 || (rule->bytes == 2 && width <= 4) ||
                                            (rule->bytes == 1 && width <= 2)));
  }
  // A value in parentheses fits when the value does; a searched or simple
  // CASE when every result it can give does (without ELSE it may give
  // NULL, which fits anywhere).
  if (e > b + 2 && isPunct(t_[b], "(") && matchParen(b) == e - 1) {
    return fitsAlready(rule, b + 1, e - 1, sources);
  }
  if (e > b + 2 && isKw(t_[b], "case") && isKw(t_[e - 1], "end")) {
    std::size_t result = kNone;  // where the current result begins
    int depth = 0;
    for (std::size_t i = b + 1; i < e; ++i) {
      if (isPunct(t_[i], "(")) {
        i = matchParen(i);
        if (i == kNone) {
          return false;
        }
        continue;
      }
      if (isKw(t_[i], "case")) {
        ++depth;
        continue;
      }
      const bool end = isKw(t_[i], "end");
      if (depth > 0) {
        depth -= end ? 1 : 0;
        continue;
      }
      if (end || isKw(t_[i], "when") || isKw(t_[i], "else")) {
        if (result != kNone && !fitsAlready(rule, result, i, sources)) {
          return false;
        }
        result = isKw(t_[i], "else") ? i + 1 : kNone;
      } else if (isKw(t_[i], "then")) {
        result = i + 1;
      }
    }
    return true;
  }
  // isnull(a, b) (now ifnull) and abs(a) give one of their arguments'
  // values: they fit when their arguments do.
  if (e > b + 2 && t_[b].type == Tok::Word && isPunct(t_[b + 1], "(")) {
    const std::size_t close = matchParen(b + 1);
    const bool tail = close + 1 == e || (close + 3 == e && isKw(t_[close + 1], "collate"));
    const bool ifnull = isKw(t_[b], "ifnull") || isKw(t_[b], "coalesce");
    const bool abs = isKw(t_[b], "abs") && rule->kind != Kind::Text;
    if (!tail || !(ifnull || abs)) {
      return false;
    }
    const auto args = splitTop(b + 2, close);
    return (abs ? args.size() == 1 : args.size() >= 2) &&
           std::all_of(args.begin(), args.end(), [&](const auto& arg) {
             return fitsAlready(rule, arg.first, arg.second, sources);
           });
  }
  // A column, bare or qualified.
  const ColumnRule* source = columnAt(b, e, sources);
  return source != nullptr && ruleWithin(*source, *rule);
}

// True when every value that `from` admits also fits `to` unchanged.
bool Rewriter::ruleWithin(const ColumnRule& from, const ColumnRule& to) {
  using Kind = ColumnRule::Kind;
  auto integerDigits = [](int bytes) {
    return bytes == 1 ? 3 : bytes == 2 ? 5 : bytes == 4 ? 10 : 19;
  };
  switch (to.kind) {
    case Kind::Text: {
      if (from.kind != Kind::Text || (to.pad && !(from.pad && from.length == to.length))) {
        return false;
      }
      // In to's units, the most that from's length can take.
      const int most = from.utf16 == to.utf16 ? from.length
                       : from.utf16           ? from.length * 2  // UTF-16 units -> bytes
                                              : from.length;               // bytes -> UTF-16 units
      return most <= to.length;
    }
    case Kind::Decimal:
      if (from.kind == Kind::Decimal) {
        return from.scale <= to.scale && from.precision - from.scale <= to.precision - to.scale;
      }
      return from.kind == Kind::Integer && integerDigits(from.bytes) <= to.precision - to.scale;
    case Kind::Integer:
      return from.kind == Kind::Integer &&
             (from.bytes == to.bytes || (from.bytes < to.bytes && !(to.bytes == 1)));
    case Kind::Datetime:
      // A datetime column of a database written by other means may hold
      // any spelling of its instants: every one is brought to the stored
      // form.
      return false;
    default:
      return true;
  }
}

// INSERT ... SELECT list FROM ... with a plain select (one SELECT, no *):
// each item of the list is fitted where it stands, keeping its alias.
// False when the query has another shape.
bool Rewriter::fitSelectList(std::size_t at, const std::vector<const ColumnRule*>& rules) {
  if (!isKw(t_[at], "select")) {
    return false;
  }
  for (const char* kw : {"union", "except", "intersect"}) {
    if (findTop(kw, at, t_.size()) != kNone) {
      return false;
    }
  }
  std::size_t first = at + 1;
  if (first < t_.size() && (isKw(t_[first], "distinct") || isKw(t_[first], "all"))) {
    ++first;
  }
  std::size_t last = t_.size();
  for (const char* kw : {"from", "where", "group", "having", "order", "limit"}) {
    last = std::min(
        last, findTop(kw, first, t_.size()) == kNone ? t_.size() : findTop(kw, first, t_.size()));
  }
  const auto items = splitTop(first, last);
  if (items.size() != rules.size()) {
    return false;  // SQLite reports the count mismatch
  }
  const std::vector<SourceTable> sources = sourceTables(last);
  Tokens out = slice(0, first);
  for (std::size_t n = 0; n < items.size(); ++n) {
    auto [b, e] = items[n];
    if (b == e || (e == b + 1 && isPunct(t_[b], "*")) ||
        (e > b + 1 && isPunct(t_[e - 1], "*") && isPunct(t_[e - 2], "."))) {
      return false;
    }
    // An alias, with or without AS, stays after the fitted value.
    std::size_t valueEnd = e;
    if (e >= b + 3 && isKw(t_[e - 2], "as")) {
      valueEnd = e - 2;
    } else if (e >= b + 2 && isName(t_[e - 1]) && !isStopWord(t_[e - 1]) &&
               !isKw(t_[e - 1], "null") &&
               (isName(t_[e - 2]) || t_[e - 2].type == Tok::String ||
                t_[e - 2].type == Tok::Number || t_[e - 2].type == Tok::Param ||
                isPunct(t_[e - 2], ")")) &&
               !(isName(t_[e - 2]) && isStopWord(t_[e - 2])) && !isKw(t_[e - 2], "collate")) {
      valueEnd = e - 1;
    }
    if (n > 0) {
      out.push_back(punct(","));
    }
    const Tokens value = fitsAlready(rules[n], b, valueEnd, sources)
                             ? slice(b, valueEnd)
                             : fitted(rules[n], slice(b, valueEnd));
    out.insert(out.end(), value.begin(), value.end());
    const Tokens alias = slice(valueEnd, e);
    out.insert(out.end(), alias.begin(), alias.end());
  }
  const Tokens rest = slice(last, t_.size());
  out.insert(out.end(), rest.begin(), rest.end());
  t_ = std::move(out);
  return true;
}

}  // namespace cvt::rewrite
