#include <algorithm>
#include <cctype>
#include <regex>

#include "app/preflight_filters.h"
#include "app/preflight_predictor.h"
#include "members/decimal_text.h"

namespace cvt::preflight {

// `expr` as a column name with its qualifier, when it is nothing more.
std::optional<preflight::ColumnRef> plainColumn(std::string_view expr) {
  std::string text = preflight::trimmed(expr);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    text = preflight::trimmed(text.substr(1, text.size() - 2));
  }
  auto identifier = [](std::string_view word) {
    return !word.empty() &&
           (std::isalpha(static_cast<unsigned char>(word.front())) != 0 || word.front() == '_') &&
           std::all_of(word.begin(), word.end(), [](char c) {
             return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
           });
  };
  preflight::ColumnRef ref;
  const auto dot = text.find('.');
  ref.name = dot == std::string::npos ? text : text.substr(dot + 1);
  ref.qualifier = dot == std::string::npos ? std::string() : text.substr(0, dot);
  if (!identifier(ref.name) || (dot != std::string::npos && !identifier(ref.qualifier)) ||
      lowered(ref.name) == "null") {
    return std::nullopt;
  }
  return ref;
}

// `expr` as the value it always is, when it is a literal: a quoted text,
// a number or NULL. Empty optional: not a literal.
std::optional<Value> literalValue(std::string_view expr) {
  std::string text = preflight::trimmed(expr);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    text = preflight::trimmed(text.substr(1, text.size() - 2));
  }
  if (lowered(text) == "null") {
    return Value();
  }
  if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'') {
    std::string body;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
      if (text[i] == '\'') {
        if (text[i + 1] != '\'' || i + 2 >= text.size()) {
          return std::nullopt;  // two texts side by side, not one
        }
        ++i;
      }
      body += text[i];
    }
    return Value(body);
  }
  if (!text.empty() && normalizeDecimal(text) && text.find_first_of("eE") == std::string::npos) {
    return Value(text);
  }
  return std::nullopt;
}

// Whether every value a column of `from` can hold fits a column of `to`
// unchanged in kind: as wide or wider, as many places or more. Types
// without such a comparison do not fit.
bool holdsEvery(const FitLimits& from, const ColumnInfo& fromColumn, const FitLimits& to,
                const ColumnInfo& toColumn) {
  switch (to.kind) {
    case FitLimits::Kind::Text:
      return from.kind == FitLimits::Kind::Text && from.utf16 == to.utf16 && from.length > 0 &&
             from.length <= to.length;
    case FitLimits::Kind::Decimal:
      return from.kind == FitLimits::Kind::Decimal && from.scale <= to.scale &&
             from.precision - from.scale <= to.precision - to.scale;
    case FitLimits::Kind::Integer:
      return from.kind == FitLimits::Kind::Integer && from.bytes <= to.bytes;
    case FitLimits::Kind::Datetime:
      return from.kind == FitLimits::Kind::Datetime &&
             lowered(fromColumn.type) == lowered(toColumn.type);
    default:
      return false;
  }
}

// Whether two text columns compare their values alike, blanks at the end
// ignored (as a column padded with blanks needs): the same collation, one
// that is not among SQLite's own that mind those blanks (every collation
// SQL Server's catalogue names ignores them).
bool sameComparison(const ColumnInfo& a, const ColumnInfo& b) {
  const std::string name = lowered(a.collation);
  return !name.empty() && name == lowered(b.collation) && name != "binary" && name != "nocase";
}

// Whether a where clause may fail on a row: it computes or compares with
// a number. A text compared with a text cannot fail.
bool whereMayFail(const std::string& where) {
  bool quoted = false;
  for (std::size_t i = 0; i < where.size(); ++i) {
    const char c = where[i];
    if (c == '\'') {
      quoted = !quoted;
      continue;
    }
    if (quoted) {
      continue;
    }
    const bool word = i > 0 && (std::isalnum(static_cast<unsigned char>(where[i - 1])) != 0 ||
                                where[i - 1] == '_');
    if (std::isdigit(static_cast<unsigned char>(c)) != 0 && !word) {
      // "select 1" and "top 1" compute nothing from a row.
      std::size_t back = i;
      while (back > 0 && where[back - 1] == ' ') {
        --back;
      }
      std::size_t begin = back;
      while (begin > 0 && std::isalpha(static_cast<unsigned char>(where[begin - 1])) != 0) {
        --begin;
      }
      const std::string before = lowered(where.substr(begin, back - begin));
      if (before != "select" && before != "top") {
        return true;
      }
      while (i + 1 < where.size() && std::isdigit(static_cast<unsigned char>(where[i + 1])) != 0) {
        ++i;
      }
      continue;
    }
    if (c == '+' || c == '-' || c == '*' || c == '/' || c == '%') {
      return true;
    }
  }
  return false;
}

const TableInfo& Predictor::sourceTable(const std::string& database, const std::string& name) {
  const std::string key = lowered(database) + ".." + lowered(name);
  auto found = sources_.find(key);
  if (found == sources_.end()) {
    TableInfo info;
    catalog_.describe(database, name, info);
    found = sources_.emplace(key, std::move(info)).first;
  }
  return found->second;
}

// The unique indexes that hold over the rows `o`'s table gives the
// statement; null when none can be relied on.
const TableRules* Predictor::rulesOf(const Origin& o) {
  if (o.database.empty()) {
    Table& t = table(o.table);
    const bool held = t.rulesRead && t.rules.exposed && keysBreached_.count(lowered(o.table)) == 0;
    return held ? &t.rules : nullptr;
  }
  const std::string key = lowered(o.database) + ".." + lowered(o.table);
  auto found = sourceRules_.find(key);
  if (found == sourceRules_.end()) {
    TableRules rules;
    const bool read = !catalog_.rules(o.database, o.table, rules).failed() && rules.exposed;
    found = sourceRules_.emplace(key, read ? std::optional<TableRules>(rules) : std::nullopt).first;
  }
  return found->second ? &*found->second : nullptr;
}

// Where the value `expr` of `m` comes from, when it is one column of one
// table the statement reads.
std::optional<Predictor::Origin> Predictor::origin(const Model& m, const std::string& expr) {
  // The first match's column of a table the run has written, or NULL:
  // "(select top 1 s.col from @table s where ...)", whose where clause
  // cannot fail on a row.
  static const std::regex kFirstMatch(
      R"(^\(\s*select\s+top\s+1\s+(\w+)\.(\w+)\s+from\s+@(\w+)\s+(\w+)\s+where\s[^()]*\)$)",
      std::regex::icase);
  std::smatch match;
  const std::string text = preflight::trimmed(expr);
  if (std::regex_match(text, match, kFirstMatch) && sameName(match[1].str(), match[4].str()) &&
      !whereMayFail(text)) {
    const ColumnInfo* c = table(match[3].str()).info.find(match[2].str());
    if (c == nullptr) {
      return std::nullopt;
    }
    return Origin{match[4].str(), "", match[3].str(), c, true};
  }
  const auto ref = plainColumn(expr);
  if (!ref) {
    return std::nullopt;
  }
  if (m.update) {
    if (!ref->qualifier.empty() && !sameName(ref->qualifier, "t")) {
      return std::nullopt;
    }
    const ColumnInfo* c = table(m.table).info.find(ref->name);
    return c == nullptr ? std::nullopt : std::optional<Origin>(Origin{"t", "", m.table, c, false});
  }
  std::optional<Origin> found;
  for (const auto& s : preflight::fromTables(m.from)) {
    const bool state = !s.table.empty() && s.table.front() == '@';
    if (s.database.empty() && !state) {
      return std::nullopt;  // a target table read as it stands: not one this check wrote
    }
    Origin o;
    o.database = s.database;
    o.table = state ? s.table.substr(1) : s.table;
    o.alias = s.alias.empty() ? o.table : s.alias;
    if (!ref->qualifier.empty() && !sameName(ref->qualifier, o.alias)) {
      continue;
    }
    const TableInfo& info =
        o.database.empty() ? table(o.table).info : sourceTable(o.database, o.table);
    o.column = info.find(ref->name);
    if (o.column == nullptr) {
      continue;
    }
    if (found) {
      return std::nullopt;  // the name is not the statement's to resolve here
    }
    found = o;
  }
  return found;
}

// Whether the values of `o` are known to be of its column's declared type.
// A source database's are: the server that holds it keeps every column to
// its type (Written). A target table's are when none of that column's
// values written by the run so far broke a rule, and the table's rows were
// either all written by the run (Written) or, for those it has from before
// the run, found to fit by a query (Checked).
Predictor::Typed Predictor::typed(const Origin& o) {
  if (!o.database.empty()) {
    return Typed::Written;
  }
  const std::string key = lowered(o.table);
  const std::string column = lowered(o.column->name);
  const auto breached = breached_.find(key);
  if (breached != breached_.end() && breached->second.count(column) > 0) {
    return Typed::No;
  }
  if (rewritten_.count(key) > 0) {
    return Typed::Written;
  }
  auto found = conforms_.find(key + "." + column);
  if (found == conforms_.end()) {
    const ColumnInfo& c = *o.column;
    const std::string value = "t." + c.name;
    std::string condition = preflight::mayNotFit(limitsOf(c), value);
    if (!c.nullable) {
      condition += (condition.empty() ? "" : " or ") + value + " is null";
    }
    bool fits = true;
    if (!condition.empty()) {
      auto cursor = SQLCA_.openCursor("select top 1 1 from " + o.table + " t where " + condition);
      Row row;
      fits = cursor->fetch(row) == kSqlNoData;
    }
    found = conforms_.emplace(key + "." + column, fits).first;
  }
  return found->second ? Typed::Checked : Typed::No;
}

// The expression `m` writes into `c`: the given one, or the default an
// insert gives a column it leaves out.
std::optional<std::string> Predictor::givenExpr(const Model& m, const ColumnInfo& c) const {
  const auto given = std::find_if(m.values.begin(), m.values.end(),
                                  [&](const auto& v) { return sameName(v.first, c.name); });
  if (given != m.values.end()) {
    return given->second;
  }
  if (m.update || c.identity) {
    return std::nullopt;
  }
  return defaultExpression(c.defaultValue);
}

// Whether every value `expr` gives `c` fits it without a row being read: a
// literal that fits, or a column whose type every value of fits `c` (and
// that holds no NULL when `c` takes none).
bool Predictor::knownToFit(const Model& m, const ColumnInfo& c, const std::string& expr) {
  if (const auto literal = literalValue(expr)) {
    const FitOutcome fit = fitter_.fit(fitter_.rule(declaredOf(c)), *literal);
    return fit.ok && (fit.stored.has_value() || c.nullable);
  }
  const auto o = origin(m, expr);
  return o && typed(*o) != Typed::No && (c.nullable || (!o->column->nullable && !o->mayBeNull)) &&
         holdsEvery(limitsOf(*o->column), *o->column, limitsOf(c), c);
}

// Whether the rows `m` writes cannot share a key of the index on `parts`,
// known from where their keys come from: every table the statement reads
// gives its rows a unique index of columns without NULLs, and each of those
// columns is written unchanged into a column of the key that compares
// alike. The written rows then differ in the key as their sources differ.
// With `others` (rows that stay beside them), the statement's where clause
// must also leave out every row matching one of those.
bool Predictor::keysDistinct(const Model& m, const Table& t, const std::vector<std::size_t>& parts,
                             bool others) {
  if (m.update) {
    return false;
  }
  const auto& columns = t.info.columns;
  std::map<std::string, std::set<std::string>> covered;  // alias -> its columns in the key
  for (const auto i : parts) {
    const ColumnInfo& c = columns[i];
    const auto expr = givenExpr(m, c);
    if (!expr || modelBreached_.count(i) > 0) {
      return false;
    }
    if (literalValue(*expr)) {
      continue;  // the same in every row, and stored (no breach): the other columns tell
    }
    const auto o = origin(m, *expr);
    if (!o || o->mayBeNull) {
      return false;
    }
    // The value is stored as it is read: by its type, or, for a text that
    // was fitted one by one without fault, because a text that fits is
    // stored unchanged (blanks at its end aside).
    const FitLimits from = limitsOf(*o->column);
    const FitLimits to = limitsOf(c);
    const bool text = from.kind == FitLimits::Kind::Text && to.kind == FitLimits::Kind::Text;
    const bool unchanged = typed(*o) == Typed::Written
                               ? !o->column->nullable && holdsEvery(from, *o->column, to, c)
                               : text && !c.nullable;
    if (!unchanged || (to.kind == FitLimits::Kind::Text && !sameComparison(*o->column, c))) {
      return false;
    }
    covered[lowered(o->alias)].insert(lowered(o->column->name));
  }
  if (others) {
    for (const auto& name : m.absentFromKept) {
      const bool inKey = std::any_of(parts.begin(), parts.end(), [&](std::size_t i) {
        return sameName(columns[i].name, name);
      });
      if (!inKey) {
        return false;
      }
    }
    if (m.absentFromKept.empty()) {
      return false;
    }
  }
  for (const auto& s : preflight::fromTables(m.from)) {
    Origin o;
    o.database = s.database;
    const bool state = !s.table.empty() && s.table.front() == '@';
    o.table = state ? s.table.substr(1) : s.table;
    o.alias = s.alias.empty() ? o.table : s.alias;
    const TableRules* rules = rulesOf(o);
    const auto mine = covered.find(lowered(o.alias));
    if (rules == nullptr || mine == covered.end()) {
      return false;
    }
    const bool unique =
        std::any_of(rules->indexes.begin(), rules->indexes.end(), [&](const IndexInfo& index) {
          return index.unique && !index.columns.empty() &&
                 std::all_of(index.columns.begin(), index.columns.end(), [&](const std::string& n) {
                   return mine->second.count(lowered(n)) > 0;
                 });
        });
    if (!unique) {
      return false;
    }
  }
  return true;
}

}  // namespace cvt::preflight
