#include "app/preflight_writes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <utility>

#include "app/preflight_filters.h"
#include "app/preflight_sql.h"
#include "app/run_driver.h"
#include "db/names.h"
#include "db/sqlite/collation.h"
#include "db/value_fit.h"
#include "members/balance_cipher.h"
#include "members/decimal_text.h"
#include "steps/catalog.h"
#include "steps/class_code.h"

namespace cvt {

namespace {

using preflight::parseRefill;
using preflight::RefillShape;

constexpr const char* kRunWide = "run";
constexpr std::size_t kShownChars = 40;
constexpr std::size_t kExamples = 3;
// Rows of bound values sent in one literal query (SQLite allows 500 terms
// in one compound select).
constexpr std::size_t kLiteralChunk = 200;

constexpr const char* kBranchNoSql =
    "SELECT sys_var_value FROM t_sys_system Where sys_var_id ='g_branch_no'";

// ------------------------------------------------------------------ models

// One statement of the run that writes rows, as the check evaluates it.
// Expressions name a table whose rows earlier statements of the run change
// as @table: it stands for those rows as the run would have left them.
struct Model {
  std::string category;
  std::string what;  // how findings name the statement
  std::string table;
  bool update = false;
  std::vector<std::pair<std::string, std::string>> values;  // column, expression
  // Insert: the select's from clause (empty: one row without a table) and
  // where clause. Update: the where clause over the table's rows (alias t).
  std::string from;
  std::string where;
  std::string key;  // expression naming a row in the examples
  // Insert: the rows of the table that stay beside the new ones (a
  // condition over them), none when the step empties the table.
  std::optional<std::string> keep;
  // The step takes a failure of this statement without failing.
  bool tolerated = false;
  // Insert: the rows are every combination of the from clause's tables
  // that the where clause lets through, so that a value read from one table
  // may be looked at over that table alone first.
  bool product = false;
  // Insert: the where clause can fail on no row (it compares texts with
  // texts only), so rows it lets through need not be read to know that.
  bool whereCannotFail = false;
  // Insert: columns on which no written row matches a row that stays (the
  // where clause leaves out every row whose values there match one).
  std::vector<std::string> absentFromKept;
};

std::string quoted(std::string_view text) {
  std::string out(1, '\'');
  for (const char c : text) {
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  return out + "'";
}

// The rows a clearing "delete ... where cond" leaves: those where cond is
// false or unknown.
std::string keptBy(const std::string& deleteCondition) {
  return "case when (" + deleteCondition + ") then 0 else 1 end = 1";
}

Model refillModel(const std::string& category, const RefillShape& shape,
                  std::optional<std::string> keep) {
  Model m;
  m.category = category;
  m.what = "the refill of " + shape.target;
  m.table = shape.target;
  for (std::size_t i = 0; i < shape.columns.size(); ++i) {
    m.values.emplace_back(shape.columns[i], shape.exprs[i]);
  }
  m.from = shape.from;
  m.where = shape.where;
  m.key = shape.exprs.empty() ? "NULL" : shape.exprs.front();
  m.keep = std::move(keep);
  return m;
}

Model updateModel(const std::string& category, std::string what, std::string table,
                  std::vector<std::pair<std::string, std::string>> values, std::string where,
                  std::string key, bool tolerated = false) {
  Model m;
  m.category = category;
  m.what = std::move(what);
  m.table = std::move(table);
  m.update = true;
  m.values = std::move(values);
  m.where = std::move(where);
  m.key = std::move(key);
  m.tolerated = tolerated;
  return m;
}

// The weighed items (num3 = 1, or the items marked 2) keep their number and
// copy it into the sub-number; the displaced sub-number goes to other2.
Model keepNumberModel(const std::string& marker, const std::string& what) {
  return updateModel("item", what, "t_bd_item_info",
                     {{"other2", "t.item_subno"}, {"item_subno", "t.item_no"}}, "t.num3=" + marker,
                     "t.item_no");
}

// Moves rows that name a weighed item's old number to its current one, as
// the special-price and stock steps do with the box ticked.
Model followWeighedModel(const std::string& category, const std::string& table) {
  const std::string match = " from @t_bd_item_info i where t.item_no = i.item_subno and i.num3 = 1";
  return updateModel(category, "the move of " + table + " rows to the weighed items' numbers",
                     table, {{"item_no", "(select top 1 i.item_no" + match + ")"}},
                     "exists (select 1" + match + ")", "t.item_no");
}

std::vector<Model> refillModels(const std::string& category, const std::string& as_source,
                                const std::optional<std::string>& keep) {
  std::vector<Model> out;
  const Category* c = findCategory(category);
  if (c == nullptr || c->refills == nullptr) {
    return out;
  }
  for (const auto& sql : c->refills(as_source)) {
    if (const auto shape = parseRefill(sql)) {
      out.push_back(refillModel(category, *shape, keep));
    }
  }
  return out;
}

// ------------------------------------------------------------------ texts

std::string plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool isTextType(const std::string& type) {
  return type == "char" || type == "varchar" || type == "nchar" || type == "nvarchar";
}

bool isNumericType(const std::string& type) {
  return type == "decimal" || type == "numeric" || type == "money" || type == "smallmoney" ||
         type == "int" || type == "bigint" || type == "smallint" || type == "tinyint" ||
         type == "float" || type == "real" || type == "integer";
}

std::string typeName(const ColumnInfo& c);

// The declared type a value is fitted to.
std::string declaredOf(const ColumnInfo& c) {
  if (!c.declared.empty()) {
    return c.declared;
  }
  return typeName(c);
}

// The type as findings name it: "varchar(10)", "decimal(16,4)", "int".
std::string typeName(const ColumnInfo& c) {
  if (isTextType(c.type) && c.length > 0) {
    return c.type + "(" + std::to_string(c.length) + ")";
  }
  if (c.precision > 0) {
    return c.type + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
  }
  return c.type;
}

// The default an insert gives a column it leaves out, as an expression the
// check can select; none when the default is not a plain literal or the
// current time (its NULL rule is then taken as met).
std::optional<std::string> defaultExpression(const Value& given) {
  if (!given) {
    return std::string("NULL");
  }
  std::string text = preflight::trimmed(*given);
  while (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    text = preflight::trimmed(text.substr(1, text.size() - 2));
  }
  if (text.empty()) {
    return std::nullopt;
  }
  if (text.front() == '\'' && text.back() == '\'' && text.size() >= 2) {
    return text;
  }
  if (lowered(text) == "getdate()" || lowered(text) == "current_timestamp") {
    return std::string("getdate()");
  }
  if (lowered(text) == "null") {
    return std::string("NULL");
  }
  const bool number = std::all_of(text.begin(), text.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+';
  });
  return number ? std::optional<std::string>(text) : std::nullopt;
}

// Characters as len() counts them: trailing blanks aside.
std::size_t charLength(std::string_view text) {
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  std::size_t n = 0;
  for (const char c : text) {
    n += (static_cast<unsigned char>(c) & 0xC0U) != 0x80U ? 1 : 0;
  }
  return n;
}

int collate(const std::string& a, const std::string& b) {
  return collation::compare(a.data(), a.size(), b.data(), b.size());
}

// A number in one form per value, so that 1, 1.0 and 01 compare equal.
std::string canonicalNumber(const std::string& text) {
  const auto normal = normalizeDecimal(text);
  return normal ? *normal : text;
}

bool mentions(const std::string& clause, const std::string& column) {
  const std::string text = lowered(clause);
  const std::string name = lowered(column);
  for (std::size_t at = text.find(name); at != std::string::npos; at = text.find(name, at + 1)) {
    const bool before =
        at == 0 || !(std::isalnum(static_cast<unsigned char>(text[at - 1])) || text[at - 1] == '_');
    const std::size_t end = at + name.size();
    const bool after = end >= text.size() ||
                       !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_');
    if (before && after) {
      return true;
    }
  }
  return false;
}

// An error of a query that reads a column or table the database lacks: the
// statement of the run that reads it fails the same way.
bool missingObject(const std::string& error) {
  const std::string e = lowered(error);
  return e.find("no such column") != std::string::npos ||
         e.find("no such table") != std::string::npos ||
         e.find("invalid column name") != std::string::npos ||
         e.find("invalid object name") != std::string::npos;
}

// ------------------------------------------------------------- shortcuts

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
// that is not among SQLite's own that mind those blanks.
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

// ------------------------------------------------------------- predictor

// Rows that break one rule, counted, with the first few as examples.
struct Breach {
  std::string column;
  std::string rule;
  std::string error;
  long long rows = 0;
  std::vector<std::string> examples;
};

class Predictor {
 public:
  Predictor(Session& SQLCA, Catalog& catalog, std::string source, CheckReport& report)
      : SQLCA_(SQLCA), catalog_(catalog), source_(std::move(source)), report_(report) {}

  void run(const std::vector<std::string>& chosen, bool subnoToNo);

 private:
  struct Table {
    TableInfo info;
    TableRules rules;
    bool rulesRead = false;
  };

  Table& table(const std::string& name) {
    const std::string key = lowered(name);
    auto found = tables_.find(key);
    if (found == tables_.end()) {
      Table t;
      catalog_.describe("", name, t.info);
      const SqlResult read = catalog_.rules("", name, t.rules);
      t.rulesRead = !read.failed();
      found = tables_.emplace(key, std::move(t)).first;
    }
    return found->second;
  }

  // The rows of `name` as the run would have left them so far.
  std::string state(const std::string& name) {
    const auto found = states_.find(lowered(name));
    if (found != states_.end()) {
      return found->second;
    }
    std::string cols;
    for (const auto& c : table(name).info.columns) {
      cols += (cols.empty() ? "" : ", ") + c.name;
    }
    return "select " + cols + " from " + name;
  }

  // `text` with every @table standing for the table's rows at this point.
  std::string expand(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] != '@') {
        out += text[i];
        continue;
      }
      std::size_t end = i + 1;
      while (end < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[end])) != 0 || text[end] == '_')) {
        ++end;
      }
      const std::string name = text.substr(i + 1, end - i - 1);
      out += states_.count(lowered(name)) > 0 ? "(" + states_[lowered(name)] + ")" : name;
      i = end - 1;
    }
    return out;
  }

  void add(const Model& m, CheckSeverity severity, std::string text, const std::string& column = {},
           const std::string& rule = {}, long long rows = 0,
           std::vector<std::string> examples = {}) {
    CheckFinding f;
    f.category = m.category;
    f.severity = severity;
    f.text = std::move(text);
    f.table = m.table;
    f.column = column;
    f.rule = rule;
    f.rows = rows;
    f.examples = std::move(examples);
    report_.findings.push_back(std::move(f));
  }

  // A column the statement writes that the table lacks fails the statement;
  // said once, unless the category's column checks said so already.
  void missingColumn(const Model& m, const std::string& column) {
    const std::string text = "the target column " + m.table + "." + column + " does not exist";
    const bool told =
        std::any_of(report_.findings.begin(), report_.findings.end(),
                    [&](const CheckFinding& f) { return f.text.find(text) != std::string::npos; });
    if (!told) {
      add(m, severityOf(m), text + " (" + m.what + " writes it)", column, "column exists");
    }
  }

  CheckSeverity severityOf(const Model& m) const {
    return m.tolerated ? CheckSeverity::Warning : CheckSeverity::WillFail;
  }

  std::string consequence(const Model& m) const {
    return m.tolerated ? " (the step goes on without those rows)" : "";
  }

  void report(const Model& m, const Breach& b, const std::string& sentence) {
    std::string text = sentence;
    if (!b.examples.empty()) {
      text += "; for example ";
      for (std::size_t i = 0; i < b.examples.size(); ++i) {
        text += (i > 0 ? ", " : "") + b.examples[i];
      }
    }
    add(m, severityOf(m), text + consequence(m), b.column, b.rule, b.rows, b.examples);
  }

  void evaluate(const Model& m);
  void evaluateRows(const Model& m, Table& t, const std::string& rowSelect,
                    const std::vector<bool>& written, const std::vector<std::string>& exprs);
  using Breaches = std::map<std::pair<std::size_t, std::string>, Breach>;
  bool fitRows(const Model& m, Table& t, const std::string& query, const std::vector<bool>& fitted,
               Breaches& breaches);
  void checkUnique(const Model& m, Table& t, const std::string& rowSelect,
                   const std::vector<bool>& written);
  bool keysMayCollide(const Model& m, const Table& t, const std::string& rowSelect,
                      const std::vector<std::size_t>& parts,
                      const std::optional<std::string>& others);
  void compareKeys(const Model& m, Table& t, const std::string& rowSelect, const IndexInfo& index,
                   const std::vector<std::size_t>& parts, const std::optional<std::string>& others);
  void checkQueries(const Model& m, Table& t, const std::string& rowSelect,
                    const std::vector<bool>& written);
  void advance(const Model& m, Table& t, const std::vector<std::string>& exprs);
  void warnTriggers(const Model& m, Table& t);

  void renumberClasses();
  void balances(const std::string& branchNo);
  void recharges(const std::string& branchNo);
  // `known`: columns every value of which is known to fit; `unread`: rows
  // written besides `rows`, left out because no rule needs their values.
  void fitBound(const Model& m, const std::vector<std::string>& columns,
                const std::vector<Row>& rows, const std::vector<std::string>& keys, bool checkKeys,
                const std::vector<bool>& known = {}, long long unread = 0);
  bool mentioned(const Table& t, const std::vector<std::string>& columns) const;

  Session& SQLCA_;
  Catalog& catalog_;
  std::string source_;
  CheckReport& report_;
  ValueFitter fitter_;
  std::map<std::string, Table> tables_;
  std::map<std::string, std::string> states_;
  std::set<std::string> triggersWarned_;

  // What lets the check skip reading rows (see knownToFit, keysDistinct).
  struct Origin {
    std::string alias;
    std::string database;  // empty: the target
    std::string table;
    const ColumnInfo* column = nullptr;
    bool mayBeNull = false;  // NULL as well when no row matches
  };
  std::optional<Origin> origin(const Model& m, const std::string& expr);
  const TableInfo& sourceTable(const std::string& database, const std::string& name);
  const TableRules* rulesOf(const Origin& o);
  enum class Typed { No, Checked, Written };
  Typed typed(const Origin& o);
  FitLimits limitsOf(const ColumnInfo& c) {
    return ValueFitter::limits(fitter_.rule(declaredOf(c)));
  }
  bool knownToFit(const Model& m, const ColumnInfo& c, const std::string& expr);
  bool keysDistinct(const Model& m, const Table& t, const std::vector<std::size_t>& parts,
                    bool others);
  std::optional<std::string> givenExpr(const Model& m, const ColumnInfo& c) const;

  std::map<std::string, TableInfo> sources_;
  std::map<std::string, std::optional<TableRules>> sourceRules_;
  // Target tables whose rows, as the run leaves them so far, were all
  // written by statements the check fitted; the columns of target tables
  // where a value did not fit (or could not be fitted); whether a target
  // column's rows as they stand before the run all fit its type.
  std::set<std::string> rewritten_;
  std::map<std::string, bool> conforms_;
  std::map<std::string, std::set<std::string>> breached_;
  // Target tables where a key of a unique index may be shared.
  std::set<std::string> keysBreached_;
  // The columns of the statement being evaluated whose values broke a rule.
  std::set<std::size_t> modelBreached_;
};

void Predictor::warnTriggers(const Model& m, Table& t) {
  if (!t.rulesRead || !t.rules.exposed) {
    if (triggersWarned_.insert(lowered(m.table) + " rules").second) {
      add(m, CheckSeverity::Warning,
          "the catalogue does not show the indexes, CHECK constraints, foreign keys and "
          "triggers of " +
              m.table + ", so the rows written into it were checked against its columns only");
    }
    return;
  }
  const auto& suspended = suspendedTables();
  const bool switched = std::any_of(suspended.begin(), suspended.end(),
                                    [&](std::string_view s) { return sameName(s, m.table); });
  if (switched || t.rules.triggers.empty() || !triggersWarned_.insert(lowered(m.table)).second) {
    return;
  }
  std::string names;
  for (const auto& n : t.rules.triggers) {
    names += (names.empty() ? "" : ", ") + n;
  }
  add(m, CheckSeverity::Warning,
      m.table + " has trigger" + (t.rules.triggers.size() == 1 ? " " : "s ") + names +
          ", which the run does not switch off; what " +
          (t.rules.triggers.size() == 1 ? "it does" : "they do") +
          " with the rows written was not checked",
      {}, "trigger");
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

void Predictor::evaluate(const Model& m) {
  Table& t = table(m.table);
  if (!t.info.exists) {
    return;  // reported with the tables the category uses
  }
  for (const auto& [column, expr] : m.values) {
    if (t.info.find(column) == nullptr) {
      missingColumn(m, column);
      return;
    }
  }
  warnTriggers(m, t);
  // One expression per column of the table: what the statement writes
  // there, or what the row keeps (update) or gets by default (insert).
  std::vector<std::string> exprs;
  std::vector<bool> written;
  for (const auto& c : t.info.columns) {
    const auto given = std::find_if(m.values.begin(), m.values.end(),
                                    [&](const auto& v) { return sameName(v.first, c.name); });
    if (given != m.values.end()) {
      exprs.push_back("(" + expand(given->second) + ")");
      written.push_back(true);
    } else if (m.update) {
      exprs.push_back("t." + c.name);
      written.push_back(false);
    } else if (c.identity) {
      exprs.emplace_back("NULL");
      written.push_back(false);
    } else {
      const auto d = defaultExpression(c.defaultValue);
      exprs.push_back(d ? *d : "NULL");
      // A default the check cannot select still gives the column a value.
      written.push_back(d.has_value() && !c.identity);
    }
  }
  std::string list;
  for (std::size_t i = 0; i < exprs.size(); ++i) {
    list += (i > 0 ? ", " : "") + exprs[i] + " as " + t.info.columns[i].name;
  }
  std::string rowSelect;
  if (m.update) {
    rowSelect = "select " + list + ", " + expand(m.key) + " as chk_key from (" + state(m.table) +
                ") t" + (m.where.empty() ? "" : " where " + expand(m.where));
  } else {
    rowSelect = "select " + list + ", " + expand(m.key) + " as chk_key" +
                (m.from.empty() ? "" : " from " + expand(m.from)) +
                (m.where.empty() ? "" : " where " + expand(m.where));
  }
  // A query that cannot even be compiled names what the target lacks, or
  // is one the check cannot put; one that fails on the rows fails the run's
  // statement the same way.
  {
    auto probe = SQLCA_.openCursor("select * from (" + rowSelect + ") chk_probe where 1 = 0");
    Row row;
    if (probe->fetch(row) < 0) {
      const std::string error = SQLCA_.SQLErrText();
      if (missingObject(error)) {
        // What is missing is usually reported already, with the tables and
        // columns the category uses; one finding of it is enough.
        const bool told = std::any_of(
            report_.findings.begin(), report_.findings.end(), [&](const CheckFinding& f) {
              return f.category == m.category && f.severity == CheckSeverity::WillFail;
            });
        if (!told || m.tolerated) {
          add(m, severityOf(m), m.what + " cannot run on the target as it stands: " + error);
        }
      } else {
        add(m, CheckSeverity::Warning, m.what + " could not be evaluated: " + error);
      }
      return;
    }
  }
  modelBreached_.clear();
  evaluateRows(m, t, rowSelect, written, exprs);
  checkUnique(m, t, rowSelect, written);
  checkQueries(m, t, rowSelect, written);
  advance(m, t, exprs);
  for (const auto i : modelBreached_) {
    breached_[lowered(m.table)].insert(lowered(t.info.columns[i].name));
  }
  if (!m.update && !m.keep) {
    rewritten_.insert(lowered(m.table));
  }
}

// The rows whose values all fit are left out by the query itself; those
// that may not are fetched and fitted one by one. When the database cannot
// put that query (a condition it refuses, a value it cannot compare), every
// row is fetched. Values known to fit without a row being read (see
// knownToFit) are not looked at.
void Predictor::evaluateRows(const Model& m, Table& t, const std::string& rowSelect,
                             const std::vector<bool>& written,
                             const std::vector<std::string>& exprs) {
  const auto& columns = t.info.columns;
  const std::vector<preflight::SourceTable> from =
      m.update ? std::vector<preflight::SourceTable>() : preflight::fromTables(m.from);
  // One query per set of tables the values read: a condition over one
  // table of a join is then tested once per row of that table, not once
  // per row of the join. Each query fits only its own columns, so that
  // every value is fitted once.
  struct Group {
    std::string condition;
    std::vector<bool> fitted;
    std::string list;  // the group's values over its one table (see below)
  };
  std::map<std::string, Group> groups;
  std::vector<bool> looked(columns.size(), false);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnInfo& c = columns[i];
    if (c.identity || !written[i]) {
      continue;
    }
    const auto expr = givenExpr(m, c);
    if (expr && knownToFit(m, c, *expr)) {
      continue;
    }
    looked[i] = true;
    const std::string value = "t." + c.name;
    std::string condition =
        preflight::mayNotFit(ValueFitter::limits(fitter_.rule(declaredOf(c))), value);
    if (!c.nullable) {
      condition = condition.empty() ? value + " is null" : condition + " or " + value + " is null";
    }
    if (condition.empty()) {
      // Never true, but the value is still computed, so that a value the
      // statement cannot compute fails this query as it fails the run.
      condition = "datalength(" + value + ") < 0";
    }
    std::set<std::string> reads;
    if (!m.update) {
      for (const auto& ref : preflight::columnsOf(expr ? *expr : "")) {
        reads.insert(lowered(ref.qualifier));
      }
    }
    std::string key;
    for (const auto& r : reads) {
      key += r + ",";
    }
    auto& group = groups[key];
    group.condition += (group.condition.empty() ? "" : " or ") + condition;
    group.fitted.resize(columns.size(), false);
    group.fitted[i] = true;
    group.list += (group.list.empty() ? "" : ", ") + exprs[i] + " as " + c.name;
  }
  // The values of a product of tables that read one of them are looked at
  // over that table alone first, all its rows: when none may break a rule
  // there, none of those the statement writes does.
  auto alone = [&](const std::string& key, const Group& group) -> std::optional<std::string> {
    if (!m.product || from.size() < 2 || key.empty() || key.find(',') + 1 != key.size()) {
      return std::nullopt;
    }
    for (const auto& s : from) {
      const std::string name =
          !s.table.empty() && s.table.front() == '@' ? s.table.substr(1) : s.table;
      const std::string alias = s.alias.empty() ? name : s.alias;
      if (lowered(alias) + "," == key) {
        const std::string source =
            s.database.empty() ? expand(s.table) : s.database + ".." + s.table;
        return "select top 1 1 from (select " + group.list + " from " + source + " " + alias +
               ") t where " + group.condition;
      }
    }
    return std::nullopt;
  };
  Breaches breaches;
  bool filtered = true;
  bool readRows = false;
  for (const auto& [key, group] : groups) {
    if (const auto query = alone(key, group)) {
      auto cursor = SQLCA_.openCursor(*query);
      Row row;
      if (cursor->fetch(row) == kSqlNoData) {
        continue;
      }
    }
    readRows = true;
    filtered =
        filtered && fitRows(m, t, "select * from (" + rowSelect + ") t where " + group.condition,
                            group.fitted, breaches);
  }
  if (!filtered) {
    breaches.clear();
    if (!fitRows(m, t, rowSelect, looked, breaches)) {
      add(m, severityOf(m),
          m.what + " fails on the rows it would write: " + SQLCA_.SQLErrText() + consequence(m));
      for (std::size_t i = 0; i < columns.size(); ++i) {
        modelBreached_.insert(i);
      }
      return;
    }
  } else if (!readRows && !m.whereCannotFail && whereMayFail(m.where)) {
    // No value needed a row read, but the rows the statement picks may
    // still make it fail.
    Value n;
    if (SQLCA_.selectInto("select count(*) from (" + rowSelect + ") t", {}, {&n}) != kSqlOk) {
      add(m, severityOf(m),
          m.what + " fails on the rows it would write: " + SQLCA_.SQLErrText() + consequence(m));
      for (std::size_t i = 0; i < columns.size(); ++i) {
        modelBreached_.insert(i);
      }
      return;
    }
  }
  for (const auto& [where, b] : breaches) {
    const ColumnInfo& c = columns[where.first];
    modelBreached_.insert(where.first);
    if (b.rule == "NOT NULL") {
      report(m, b,
             m.table + "." + c.name + " is NOT NULL, but " + m.what + " would leave it NULL in " +
                 plural(b.rows, "row", "rows") + " (" + b.error + ")");
    } else {
      report(m, b,
             m.table + "." + c.name + " is " + b.rule + ", but " + m.what + " would write " +
                 plural(b.rows, "value", "values") + " it cannot hold (" + b.error + ")");
    }
  }
}

// Fits the values of the `fitted` columns of the rows `query` returns (the
// row select's columns) and adds the rules they break to `breaches`; false
// when the query fails.
bool Predictor::fitRows(const Model& m, Table& t, const std::string& query,
                        const std::vector<bool>& fitted, Breaches& breaches) {
  const auto& columns = t.info.columns;
  auto breach = [&](std::size_t i, const std::string& rule, const std::string& error,
                    const std::string& key, const Value& value) {
    Breach& b = breaches[{i, rule}];
    b.column = columns[i].name;
    b.rule = rule;
    b.error = error;
    if (++b.rows <= static_cast<long long>(kExamples)) {
      b.examples.push_back(shownValue(key) + ": " + shownValue(value));
    }
  };
  std::vector<const ValueFitter::Rule*> rules;
  for (const auto& c : columns) {
    rules.push_back(fitter_.rule(declaredOf(c)));
  }
  auto cursor = SQLCA_.openCursor(query);
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    const std::string key =
        row.size() > columns.size() ? row[columns.size()].value_or("NULL") : std::string("?");
    for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i) {
      const ColumnInfo& c = columns[i];
      if (c.identity || !fitted[i]) {
        continue;  // kept as it is, given a default the check cannot read, or another query's
      }
      const FitOutcome fit = fitter_.fit(rules[i], row[i]);
      if (!fit.ok) {
        breach(i, typeName(c), fit.error, key, row[i]);
      } else if (!fit.stored && !c.nullable) {
        const bool given = std::any_of(m.values.begin(), m.values.end(),
                                       [&](const auto& v) { return sameName(v.first, c.name); });
        breach(i, "NOT NULL",
               given ? "Cannot insert the value NULL into column '" + c.name + "'"
                     : "the statement leaves the column out and it has no default",
               key, row[i]);
      }
    }
  }
  return code >= 0;
}

void Predictor::checkUnique(const Model& m, Table& t, const std::string& rowSelect,
                            const std::vector<bool>& written) {
  if (!t.rules.exposed) {
    return;
  }
  const auto& columns = t.info.columns;
  for (const IndexInfo& index : t.rules.indexes) {
    if (!index.unique) {
      continue;
    }
    std::vector<std::size_t> parts;
    bool usable = !index.columns.empty();
    bool touched = !m.update;
    for (const auto& name : index.columns) {
      const auto at = std::find_if(columns.begin(), columns.end(),
                                   [&](const ColumnInfo& c) { return sameName(c.name, name); });
      if (at == columns.end() || at->identity) {
        usable = false;
        break;
      }
      const auto i = static_cast<std::size_t>(at - columns.begin());
      parts.push_back(i);
      touched = touched || written[i];
    }
    if (!usable || !touched) {
      continue;
    }
    // The rows of the table beside the written ones: those the clearing
    // spares (insert) or the update leaves alone.
    std::optional<std::string> others;
    if (m.update && !m.where.empty()) {
      others = keptBy(expand(m.where));
    } else if (!m.update && m.keep) {
      others = *m.keep;
    }
    if (keysDistinct(m, t, parts, others.has_value())) {
      continue;
    }
    if (keysMayCollide(m, t, rowSelect, parts, others)) {
      compareKeys(m, t, rowSelect, index, parts, others);
    }
  }
}

// Whether any key of the written rows may be shared, asked of the database:
// the keys grouped in the form the column stores them, which makes equal
// every two keys the column would take as equal (and perhaps more). True
// as well when the database cannot answer.
bool Predictor::keysMayCollide(const Model& m, const Table& t, const std::string& rowSelect,
                               const std::vector<std::size_t>& parts,
                               const std::optional<std::string>& others) {
  const auto& columns = t.info.columns;
  std::string written;
  std::string kept;
  std::string names;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const ColumnInfo& c = columns[parts[k]];
    const std::string declared = declaredOf(c);
    const std::string form =
        preflight::storedForm(ValueFitter::limits(fitter_.rule(declared)), declared, "t." + c.name);
    if (form.empty()) {
      return true;
    }
    const std::string name = "chk_k" + std::to_string(k);
    written += form + " as " + name + ", ";
    kept += form + ", ";
    names += (k > 0 ? ", " : "") + name;
  }
  std::string rows = "select " + written + "1 as chk_mine from (" + rowSelect + ") t";
  if (others) {
    rows += " union all select " + kept + "0 from (" + state(m.table) + ") t where " + *others;
  }
  Value shared;
  const long code = SQLCA_.selectInto("select count(*) from (select " + names + " from (" + rows +
                                          ") u group by " + names +
                                          " having count(*) > 1 and max(chk_mine) = 1) d",
                                      {}, {&shared});
  return code != kSqlOk || !shared || *shared != "0";
}

// The keys of the written rows and of the rows beside them, fitted as the
// column stores them and compared as the target's collation compares them.
void Predictor::compareKeys(const Model& m, Table& t, const std::string& rowSelect,
                            const IndexInfo& index, const std::vector<std::size_t>& parts,
                            const std::optional<std::string>& others) {
  const auto& columns = t.info.columns;
  struct Entry {
    Row key;
    bool mine = false;
  };
  std::vector<Entry> entries;
  std::string list;
  for (const auto i : parts) {
    list += (list.empty() ? "" : ", ") + ("t." + columns[i].name);
  }
  auto read = [&](const std::string& query, bool mine) {
    auto cursor = SQLCA_.openCursor(query);
    Row row;
    long code = 0;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      Entry e;
      e.mine = mine;
      for (std::size_t k = 0; k < parts.size() && k < row.size(); ++k) {
        const FitOutcome fit = fitter_.fit(declaredOf(columns[parts[k]]), row[k]);
        e.key.push_back(fit.ok ? fit.stored : row[k]);
      }
      entries.push_back(std::move(e));
    }
    return code >= 0;
  };
  if (!read("select " + list + " from (" + rowSelect + ") t", true)) {
    keysBreached_.insert(lowered(m.table));
    return;  // the rows' own failure is reported with their values
  }
  // Keys not found apart leave the table's unique indexes unrelied on by
  // later statements.
  if (others &&
      !read("select " + list + " from (" + state(m.table) + ") t where " + *others, false)) {
    add(m, CheckSeverity::Warning,
        "the rows that stay in " + m.table + " beside those " + m.what +
            " writes could not be read to compare keys: " + SQLCA_.SQLErrText());
    keysBreached_.insert(lowered(m.table));
    return;
  }
  if (t.rules.nullsDistinct) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const Entry& e) {
                                   return std::any_of(e.key.begin(), e.key.end(),
                                                      [](const Value& v) { return !v; });
                                 }),
                  entries.end());
  }
  auto compare = [&](const Entry& a, const Entry& b) {
    for (std::size_t k = 0; k < parts.size(); ++k) {
      const Value& x = a.key[k];
      const Value& y = b.key[k];
      if (!x || !y) {
        if (x.has_value() != y.has_value()) {
          return x.has_value() ? 1 : -1;
        }
        continue;
      }
      const ColumnInfo& c = columns[parts[k]];
      int d = 0;
      if (isTextType(c.type)) {
        d = collate(*x, *y);
      } else if (isNumericType(c.type)) {
        d = canonicalNumber(*x).compare(canonicalNumber(*y));
      } else {
        d = x->compare(*y);
      }
      if (d != 0) {
        return d;
      }
    }
    return 0;
  };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const Entry& a, const Entry& b) { return compare(a, b) < 0; });
  Breach b;
  std::string names;
  for (const auto& n : index.columns) {
    names += (names.empty() ? "" : ", ") + n;
  }
  b.rule = std::string(index.primary ? "primary key" : "unique index ") +
           (index.primary ? "" : index.name) + " (" + names + ")";
  b.column = names;
  for (std::size_t i = 0; i < entries.size();) {
    std::size_t j = i + 1;
    bool mine = entries[i].mine;
    while (j < entries.size() && compare(entries[i], entries[j]) == 0) {
      mine = mine || entries[j].mine;
      ++j;
    }
    if (j - i > 1 && mine) {
      if (++b.rows <= static_cast<long long>(kExamples)) {
        std::string value;
        for (const auto& v : entries[i].key) {
          value += (value.empty() ? "" : ", ") + shownValue(v);
        }
        b.examples.push_back(value + " (" + std::to_string(j - i) + " rows)");
      }
    }
    i = j;
  }
  if (b.rows > 0) {
    report(m, b,
           plural(b.rows, "key", "keys") + " of " + m.table + " (" + names +
               ") would be given to several rows by " + m.what + ", which the " + b.rule +
               " forbids");
    keysBreached_.insert(lowered(m.table));
  }
}

void Predictor::checkQueries(const Model& m, Table& t, const std::string& rowSelect,
                             const std::vector<bool>& written) {
  if (!t.rules.exposed) {
    return;
  }
  const auto& columns = t.info.columns;
  auto writes = [&](const std::string& text) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if ((written[i] || !m.update) && mentions(text, columns[i].name)) {
        return true;
      }
    }
    return false;
  };
  auto count = [&](const std::string& condition, const std::string& rule, const std::string& what,
                   const std::string& sentence) {
    auto cursor = SQLCA_.openCursor("select chk_key from (" + rowSelect + ") t where " + condition);
    Row row;
    long code = 0;
    Breach b;
    b.rule = rule;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      if (++b.rows <= static_cast<long long>(kExamples)) {
        b.examples.push_back(shownValue(row.empty() ? Value() : row[0]));
      }
    }
    if (code < 0) {
      add(m, CheckSeverity::Warning,
          what + " of " + m.table + " could not be evaluated against the rows " + m.what +
              " writes: " + SQLCA_.SQLErrText(),
          {}, rule);
    } else if (b.rows > 0) {
      report(m, b, sentence + " would refuse " + plural(b.rows, "row", "rows") + " of " + m.what);
    }
  };
  for (const CheckInfo& check : t.rules.checks) {
    if (!writes(check.clause)) {
      continue;
    }
    const std::string name = check.name.empty() ? std::string() : " " + check.name;
    count("not (" + check.clause + ")", "CHECK (" + check.clause + ")",
          "the CHECK constraint" + name,
          "the CHECK constraint" + name + " (" + check.clause + ") of " + m.table);
  }
  for (const ForeignKeyInfo& fk : t.rules.foreignKeys) {
    bool touched = !m.update;
    std::string present;
    std::string match;
    for (std::size_t k = 0; k < fk.columns.size() && k < fk.refColumns.size(); ++k) {
      const auto* c = t.info.find(fk.columns[k]);
      for (std::size_t i = 0; c != nullptr && i < columns.size(); ++i) {
        touched = touched || (written[i] && sameName(columns[i].name, fk.columns[k]));
      }
      present += (k > 0 ? " and " : "") + ("t." + fk.columns[k] + " is not null");
      match += (k > 0 ? " and " : "") + ("r." + fk.refColumns[k] + " = t." + fk.columns[k]);
    }
    if (!touched || present.empty()) {
      continue;
    }
    std::string cols;
    for (const auto& c : fk.columns) {
      cols += (cols.empty() ? "" : ", ") + c;
    }
    count(present + " and not exists (select 1 from " + expand("@" + fk.refTable) + " r where " +
              match + ")",
          "FOREIGN KEY (" + cols + ") REFERENCES " + fk.refTable, "the foreign key " + fk.name,
          "the foreign key " + fk.name + " (" + cols + ") of " + m.table + " to " + fk.refTable);
  }
}

void Predictor::advance(const Model& m, Table& t, const std::vector<std::string>& exprs) {
  const auto& columns = t.info.columns;
  std::string plain;
  std::string list;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    plain += (i > 0 ? ", " : "") + ("k." + columns[i].name);
    list += (i > 0 ? ", " : "") + exprs[i] + " as " + columns[i].name;
  }
  const std::string before = state(m.table);
  std::string after;
  if (m.update) {
    std::string set;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const bool given = exprs[i] != "t." + columns[i].name;
      std::string e = exprs[i];
      if (given && !m.where.empty()) {
        e = "case when (" + expand(m.where) + ") then " + exprs[i] + " else t." + columns[i].name +
            " end";
      }
      set += (i > 0 ? ", " : "") + e + " as " + columns[i].name;
    }
    after = "select " + set + " from (" + before + ") t";
  } else {
    const std::string added = "select " + list + (m.from.empty() ? "" : " from " + expand(m.from)) +
                              (m.where.empty() ? "" : " where " + expand(m.where));
    after = m.keep ? "select " + plain + " from (" + before + ") k where " + *m.keep +
                         " union all " + added
                   : added;
  }
  states_[lowered(m.table)] = after;
}

// Values the check computes itself (the loops of the member-card step), in
// the order of `columns`, fitted and held against the NULL rules, the
// unique indexes among themselves and the CHECK constraints.
void Predictor::fitBound(const Model& m, const std::vector<std::string>& columns,
                         const std::vector<Row>& rows, const std::vector<std::string>& keys,
                         bool checkKeys, const std::vector<bool>& known, long long unread) {
  Table& t = table(m.table);
  if (!t.info.exists) {
    return;
  }
  std::vector<const ColumnInfo*> targets;
  for (const auto& name : columns) {
    const ColumnInfo* c = t.info.find(name);
    if (c == nullptr) {
      missingColumn(m, name);
      return;
    }
    targets.push_back(c);
  }
  warnTriggers(m, t);
  const long long written = static_cast<long long>(rows.size()) + unread;
  std::vector<const ValueFitter::Rule*> rules;
  for (const auto* c : targets) {
    rules.push_back(fitter_.rule(declaredOf(*c)));
  }
  std::map<std::pair<std::size_t, std::string>, Breach> breaches;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 0; i < targets.size() && i < rows[r].size(); ++i) {
      if (i < known.size() && known[i]) {
        continue;
      }
      const FitOutcome fit = fitter_.fit(rules[i], rows[r][i]);
      std::string rule;
      std::string error;
      if (!fit.ok) {
        rule = typeName(*targets[i]);
        error = fit.error;
      } else if (!fit.stored && !targets[i]->nullable) {
        rule = "NOT NULL";
        error = "Cannot insert the value NULL into column '" + targets[i]->name + "'";
      } else {
        continue;
      }
      Breach& b = breaches[{i, rule}];
      b.column = targets[i]->name;
      b.rule = rule;
      b.error = error;
      if (++b.rows <= static_cast<long long>(kExamples)) {
        b.examples.push_back(shownValue(keys[r]) + ": " + shownValue(rows[r][i]));
      }
    }
  }
  for (const auto& [at, b] : breaches) {
    breached_[lowered(m.table)].insert(lowered(b.column));
    report(m, b,
           m.table + "." + b.column + " is " + b.rule + ", but " + m.what + " would write " +
               plural(b.rows, "value", "values") + " it cannot hold (" + b.error + ")");
  }
  if (!m.update) {
    // Columns an insert leaves out get their defaults.
    for (const auto& c : t.info.columns) {
      const bool given = std::any_of(columns.begin(), columns.end(),
                                     [&](const std::string& n) { return sameName(n, c.name); });
      if (!given && !c.nullable && !c.identity && !c.defaultValue && written > 0) {
        Breach b;
        b.column = c.name;
        b.rule = "NOT NULL";
        b.rows = written;
        report(m, b,
               m.table + "." + c.name + " is NOT NULL without a default, but " + m.what +
                   " leaves it out of " + plural(b.rows, "row", "rows"));
      }
    }
  }
  if (!t.rules.exposed || written == 0) {
    return;
  }
  // The values as literal rows, for the rules only the database can judge.
  auto literal = [&](const Value& v, const ColumnInfo& c) {
    if (!v) {
      return std::string("NULL");
    }
    return isNumericType(c.type) && normalizeDecimal(*v) ? *normalizeDecimal(*v) : quoted(*v);
  };
  std::vector<std::string> chunks;
  for (std::size_t r = 0; r < rows.size(); r += kLiteralChunk) {
    std::string sql;
    for (std::size_t k = r; k < std::min(rows.size(), r + kLiteralChunk); ++k) {
      sql += k > r ? " union all select " : "select ";
      for (std::size_t i = 0; i < targets.size(); ++i) {
        sql += literal(rows[k][i], *targets[i]) + " as " + targets[i]->name + ", ";
      }
      sql += quoted(keys[k]) + " as chk_key";
    }
    chunks.push_back(sql);
  }
  for (const CheckInfo& check : t.rules.checks) {
    bool all = true;
    bool any = false;
    for (const auto& c : t.info.columns) {
      if (mentions(check.clause, c.name)) {
        const bool given = std::any_of(columns.begin(), columns.end(),
                                       [&](const std::string& n) { return sameName(n, c.name); });
        all = all && given;
        any = any || given;
      }
    }
    if (!any) {
      continue;
    }
    if (!all) {
      add(m, CheckSeverity::Warning,
          "the CHECK constraint (" + check.clause + ") of " + m.table + " reads columns that " +
              m.what + " does not write, so it was not evaluated",
          {}, "CHECK (" + check.clause + ")");
      continue;
    }
    Breach b;
    b.rule = "CHECK (" + check.clause + ")";
    bool failed = false;
    for (const auto& chunk : chunks) {
      auto cursor = SQLCA_.openCursor("select chk_key from (" + chunk + ") t where not (" +
                                      check.clause + ")");
      Row row;
      long code = 0;
      while ((code = cursor->fetch(row)) == kSqlOk) {
        if (++b.rows <= static_cast<long long>(kExamples)) {
          b.examples.push_back(shownValue(row.empty() ? Value() : row[0]));
        }
      }
      if (code < 0) {
        add(m, CheckSeverity::Warning,
            "the CHECK constraint (" + check.clause + ") of " + m.table +
                " could not be evaluated against the rows " + m.what +
                " writes: " + SQLCA_.SQLErrText(),
            {}, b.rule);
        failed = true;
        break;
      }
    }
    if (!failed && b.rows > 0) {
      report(m, b,
             "the CHECK constraint (" + check.clause + ") of " + m.table + " would refuse " +
                 plural(b.rows, "row", "rows") + " of " + m.what);
    }
  }
  if (!t.rules.foreignKeys.empty()) {
    add(m, CheckSeverity::Warning,
        m.table + " has foreign keys, which were not evaluated against the rows " + m.what +
            " writes one by one");
  }
  if (!checkKeys) {
    return;
  }
  // Unique indexes among the written rows (the table is emptied first).
  for (const IndexInfo& index : t.rules.indexes) {
    if (!index.unique) {
      continue;
    }
    std::vector<std::size_t> parts;
    for (const auto& name : index.columns) {
      const auto at = std::find_if(columns.begin(), columns.end(),
                                   [&](const std::string& n) { return sameName(n, name); });
      if (at == columns.end()) {
        parts.clear();
        break;
      }
      parts.push_back(static_cast<std::size_t>(at - columns.begin()));
    }
    if (parts.empty()) {
      continue;
    }
    std::vector<std::size_t> order(rows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
      order[i] = i;
    }
    auto compare = [&](std::size_t a, std::size_t b) {
      for (const auto i : parts) {
        const std::string x = rows[a][i].value_or("");
        const std::string y = rows[b][i].value_or("");
        const int d = isTextType(targets[i]->type) ? collate(x, y)
                                                   : canonicalNumber(x).compare(canonicalNumber(y));
        if (d != 0) {
          return d;
        }
      }
      return 0;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return compare(a, b) < 0; });
    Breach b;
    b.rule = index.primary ? "primary key" : "unique index " + index.name;
    for (std::size_t i = 0; i < order.size();) {
      std::size_t j = i + 1;
      while (j < order.size() && compare(order[i], order[j]) == 0) {
        ++j;
      }
      if (j - i > 1 && ++b.rows <= static_cast<long long>(kExamples)) {
        b.examples.push_back(shownValue(keys[order[i]]) + " (" + std::to_string(j - i) + " rows)");
      }
      i = j;
    }
    if (b.rows > 0) {
      report(m, b,
             plural(b.rows, "key", "keys") + " of " + m.table +
                 " would be given to several rows by " + m.what + ", which the " + b.rule +
                 " forbids");
    }
  }
}

bool Predictor::mentioned(const Table& t, const std::vector<std::string>& columns) const {
  return std::any_of(t.rules.checks.begin(), t.rules.checks.end(), [&](const CheckInfo& check) {
    return std::any_of(columns.begin(), columns.end(),
                       [&](const std::string& c) { return mentions(check.clause, c); });
  });
}

// The widest text a balance of a decimal(p, s) column becomes once
// multiplied by 10000 and written without leading zeros: its digits, four
// more places before the point, a sign and, with more than four places, a
// point.
int scaledBalanceWidth(const FitLimits& balance) {
  const int places = balance.scale > 4 ? 1 : 0;
  return std::max(balance.precision - balance.scale + 4, balance.precision) + 1 + places;
}

// The balance phase: every source card's balance x 10000, enciphered, into
// residual_amt of its card. The cipher keeps a text's length, so when the
// source's balances are decimals that give texts no longer than the column
// takes, no card need be read.
void Predictor::balances(const std::string& /*branchNo*/) {
  Model m;
  m.category = "vip";
  m.what = "the balance update";
  m.table = "t_rm_vip_info";
  m.update = true;
  const std::string cards = source_ + "..pos_t_vip_info";
  const ColumnInfo* balance = sourceTable(source_, "pos_t_vip_info").find("card_balance");
  Table& t = table(m.table);
  const ColumnInfo* residual = t.info.find("residual_amt");
  if (balance != nullptr && residual != nullptr && !mentioned(t, {"residual_amt"})) {
    const FitLimits from = limitsOf(*balance);
    const FitLimits to = limitsOf(*residual);
    if (from.kind == FitLimits::Kind::Decimal && to.kind == FitLimits::Kind::Text &&
        to.length >= scaledBalanceWidth(from) && to.length <= 4000) {
      Value n;
      if (SQLCA_.selectInto("select count(*) from " + cards, {}, {&n}) == kSqlOk && n) {
        fitBound(m, {"residual_amt"}, {}, {}, false, {true}, std::atoll(n->c_str()));
        return;
      }
    }
  }
  auto cursor = SQLCA_.openCursor("SELECT card_id, card_balance  FROM " + cards + ";");
  std::vector<Row> rows;
  std::vector<std::string> keys;
  Breach bad;
  bad.rule = "a number";
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    const Value id = row.empty() ? Value() : row[0];
    const Value amount = row.size() > 1 ? row[1] : Value();
    std::string stored;
    if (amount) {
      const auto scaled = timesTenThousand(*amount);
      if (!scaled) {
        if (++bad.rows <= static_cast<long long>(kExamples)) {
          bad.examples.push_back(shownValue(id) + ": " + shownValue(amount));
        }
        continue;
      }
      stored = of_str_encrypt(*scaled);
    }
    rows.push_back({Value(stored)});
    keys.push_back(id.value_or("NULL"));
  }
  if (code < 0) {
    return;  // a missing source table or column is reported elsewhere
  }
  if (bad.rows > 0) {
    report(m, bad,
           plural(bad.rows, "card balance", "card balances") + " of " + source_ +
               "..pos_t_vip_info " + (bad.rows == 1 ? "is" : "are") +
               " not a number, which stops the balance update");
  }
  fitBound(m, {"residual_amt"}, rows, keys, false);
}

// One recharge record per stored-value card whose balance is not 0.
void Predictor::recharges(const std::string& branchNo) {
  Model m;
  m.category = "vip";
  m.what = "the recharge records";
  m.table = "t_rm_saving_plus_record";
  const std::vector<std::string> columns = {
      "card_id", "plus_count", "oper_id", "old_count", "branch_no", "other1", "plus_real_count"};
  const std::vector<Value> literals = {
      Value(), Value(), Value("1001"), Value("0"), Value(branchNo), Value("数据转入"), Value()};
  // Which columns take every value the loop could give them: the card
  // numbers and amounts by their source columns' types (the amounts are the
  // balances, which the cipher gives back unchanged), the rest as the
  // literals they are.
  Table& t = table(m.table);
  const TableInfo& source = sourceTable(source_, "pos_t_vip_info");
  const ColumnInfo* card = source.find("card_id");
  const ColumnInfo* balance = source.find("card_balance");
  std::vector<bool> known(columns.size(), false);
  for (std::size_t i = 0; i < columns.size() && t.info.exists; ++i) {
    const ColumnInfo* to = t.info.find(columns[i]);
    if (to == nullptr) {
      continue;
    }
    const ColumnInfo* from = i == 0 ? card : literals[i] ? nullptr : balance;
    if (literals[i]) {
      const FitOutcome fit = fitter_.fit(fitter_.rule(declaredOf(*to)), literals[i]);
      known[i] = fit.ok && (fit.stored.has_value() || to->nullable);
    } else if (from != nullptr) {
      known[i] = holdsEvery(limitsOf(*from), *from, limitsOf(*to), *to) &&
                 (to->nullable || i > 0 || !from->nullable);
    }
  }
  // The keys among the records: a unique index that takes in the card
  // number, which the source's unique index keeps apart, is met.
  const Origin cardOrigin{"", source_, "pos_t_vip_info", card, false};
  const TableRules* sourceRules = card != nullptr ? rulesOf(cardOrigin) : nullptr;
  const bool cardsApart = card != nullptr && !card->nullable && sourceRules != nullptr &&
                          t.info.find("card_id") != nullptr &&
                          sameComparison(*card, *t.info.find("card_id")) &&
                          std::any_of(sourceRules->indexes.begin(), sourceRules->indexes.end(),
                                      [](const IndexInfo& index) {
                                        return index.unique && index.columns.size() == 1 &&
                                               sameName(index.columns.front(), "card_id");
                                      });
  const bool keysMet =
      std::all_of(t.rules.indexes.begin(), t.rules.indexes.end(), [&](const IndexInfo& index) {
        const bool ours =
            std::all_of(index.columns.begin(), index.columns.end(), [&](const std::string& n) {
              return std::any_of(columns.begin(), columns.end(),
                                 [&](const std::string& c) { return sameName(c, n); });
            });
        const bool byCard =
            std::any_of(index.columns.begin(), index.columns.end(),
                        [](const std::string& n) { return sameName(n, "card_id"); });
        return !index.unique || !ours || (byCard && cardsApart && known[0]);
      });
  if (t.info.exists && std::all_of(known.begin(), known.end(), [](bool k) { return k; }) &&
      keysMet && !mentioned(t, columns) && balance != nullptr &&
      limitsOf(*balance).kind == FitLimits::Kind::Decimal) {
    Value n;
    if (SQLCA_.selectInto("select count(*) from " + source_ +
                              "..pos_t_vip_info where card_type in ( '02' , '03' ) and "
                              "card_balance <> 0",
                          {}, {&n}) == kSqlOk &&
        n) {
      fitBound(m, columns, {}, {}, true, known, std::atoll(n->c_str()));
      return;
    }
  }
  // The cards' types as the refill stores them, with the balances the
  // balance phase enciphers and this loop reads back.
  auto cursor = SQLCA_.openCursor("select card_id, card_balance from " + source_ +
                                  "..pos_t_vip_info where card_type in ( '02' , '03' )");
  std::vector<Row> rows;
  std::vector<std::string> keys;
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    const Value id = row.empty() ? Value() : row[0];
    const Value amount = row.size() > 1 ? row[1] : Value();
    if (!amount) {
      continue;
    }
    const auto scaled = timesTenThousand(*amount);
    if (!scaled) {
      continue;
    }
    const auto plus = divideByTenThousand(wf_str_decrypt(of_str_encrypt(*scaled)));
    if (!plus || compareWithZero(*plus) == 0) {
      continue;
    }
    rows.push_back({id, Value(*plus), Value("1001"), Value("0"), Value(branchNo), Value("数据转入"),
                    Value(*plus)});
    keys.push_back(id.value_or("NULL"));
  }
  if (code < 0) {
    return;
  }
  fitBound(m, columns, rows, keys, true, known);
}

// The class renumbering: the long codes move to free six-character codes
// as the step picks them, their items follow, and every parent is
// recomputed.
void Predictor::renumberClasses() {
  Table& cls = table("t_bd_item_cls");
  if (!cls.info.exists || cls.info.find("item_clsno") == nullptr) {
    return;
  }
  auto cursor = SQLCA_.openCursor("select t.item_clsno from (" + state("t_bd_item_cls") + ") t");
  std::vector<std::string> codes;
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    if (!row.empty() && row[0]) {
      codes.push_back(*row[0]);
    }
  }
  if (code < 0) {
    return;  // the refill's findings say why
  }
  auto same = [](const std::string& a, const std::string& b) { return collate(a, b) == 0; };
  const LargestUnderPrefix largest = [&](const std::string& probe) {
    Value best;
    const std::string prefix = leadingChars(probe, 4);
    for (const auto& c : codes) {
      if (charLength(c) == 6 && same(leadingChars(c, 4), prefix) &&
          (!best || collate(c, *best) > 0)) {
        best = c;
      }
    }
    return best;
  };
  std::vector<std::pair<std::string, std::string>> renames;
  const std::vector<std::string> longCodes = [&] {
    std::vector<std::string> out;
    for (const auto& c : codes) {
      if (charLength(c) > 6) {
        out.push_back(c);
      }
    }
    return out;
  }();
  for (const auto& old : longCodes) {
    const auto fresh = newClassCode(old, largest);
    if (!fresh || std::any_of(codes.begin(), codes.end(),
                              [&](const std::string& c) { return same(c, *fresh); })) {
      continue;
    }
    for (auto& c : codes) {
      if (c == old) {
        c = *fresh;
      }
    }
    renames.emplace_back(old, *fresh);
  }
  if (!renames.empty()) {
    std::string mapping = "case t.item_clsno";
    std::string olds;
    for (const auto& [from, to] : renames) {
      mapping += " when " + quoted(from) + " then " + quoted(to);
      olds += (olds.empty() ? "" : ",") + quoted(from);
    }
    mapping += " else t.item_clsno end";
    evaluate(updateModel("cls", "the class renumbering", "t_bd_item_cls", {{"item_clsno", mapping}},
                         "t.item_clsno in (" + olds + ")", "t.item_clsno"));
    // The items follow; the step does not look at how that went.
    Table& items = table("t_bd_item_info");
    if (items.info.exists && items.info.find("item_clsno") != nullptr) {
      evaluate(updateModel("cls", "the move of items to their classes' new codes", "t_bd_item_info",
                           {{"item_clsno", mapping}}, "t.item_clsno in (" + olds + ")", "t.item_no",
                           true));
      const bool indexed =
          items.rules.exposed && std::any_of(items.rules.indexes.begin(), items.rules.indexes.end(),
                                             [](const IndexInfo& i) {
                                               return !i.columns.empty() &&
                                                      sameName(i.columns.front(), "item_clsno");
                                             });
      if (items.rules.exposed && !indexed) {
        Model m;
        m.category = "cls";
        m.table = "t_bd_item_info";
        add(m, CheckSeverity::Warning,
            "the class renumbering will move the items of " +
                plural(static_cast<long long>(renames.size()), "class", "classes") +
                ", and t_bd_item_info has no index on item_clsno: each move reads the whole item "
                "table (about 19 ms per move at 100,000 items), so this part takes long on a "
                "large item table; an index on t_bd_item_info (item_clsno) makes it quick",
            "item_clsno", "no index", static_cast<long long>(renames.size()));
      }
    }
  }
  evaluate(updateModel("cls", "the parent classes' update", "t_bd_item_cls",
                       {{"cls_parent", "left ( t.item_clsno , LEN ( t.item_clsno ) - 2 )"}}, "",
                       "t.item_clsno"));
}

void Predictor::run(const std::vector<std::string>& chosen, bool subnoToNo) {
  const bool pro = source_ == kDravikPro;
  auto ticked = [&](const char* key) {
    return std::find(chosen.begin(), chosen.end(), key) != chosen.end();
  };
  if (ticked("item")) {
    for (const auto& m : refillModels("item", source_, std::nullopt)) {
      evaluate(m);
    }
    if (pro) {
      if (!subnoToNo) {
        evaluate(keepNumberModel("1", "the weighed items' numbers"));
      } else {
        evaluate(updateModel(
            "item", "the weighed items' number swap", "t_bd_item_info",
            {{"other2", "t.item_no"}, {"item_subno", "t.item_no"}, {"item_no", "t.item_subno"}},
            "t.num3=1", "t.item_no", true));
      }
      evaluate(keepNumberModel("2", "the numbers of the items marked 2"));
    }
    evaluate(updateModel(
        "item", "the brand code repair", "t_bd_item_info",
        {{"item_brand", "right(rtrim(t.item_brand),4)"}},
        "t.item_brand<'9999'and len(rtrim(t.item_brand))=5 and t.item_brand is not null",
        "t.item_no"));
  }
  if (ticked("cls")) {
    for (const auto& m : refillModels("cls", source_, keptBy("item_clsno<>'LB'"))) {
      evaluate(m);
    }
    renumberClasses();
  }
  if (ticked("pp")) {
    for (const auto& m :
         refillModels("pp", source_, keptBy("type_no='PP' and code_id not in ('PP')"))) {
      evaluate(m);
    }
  }
  if (ticked("region")) {
    for (const auto& m : refillModels("region", source_, keptBy("type_no='RG'"))) {
      evaluate(m);
    }
  }
  if (ticked("supcust")) {
    Model type;
    type.category = "supcust";
    type.what = "the customer type 'exp'";
    type.table = "t_bd_cust_type";
    type.values = {{"type_id", "'exp'"},
                   {"type_name", "'exp'"},
                   {"oper_date", "getdate ( )"},
                   {"oper_id", "'1001'"}};
    type.key = "'exp'";
    evaluate(type);
    for (const auto& m : refillModels("supcust", source_,
                                      keptBy("supcust_flag in ('S','C') and supcust_no<>'0'"))) {
      evaluate(m);
    }
    const std::string supcust = "t_bd_supcust_info";
    const std::string what = "the suppliers' repair";
    evaluate(updateModel("supcust", what + " (way of sale B)", supcust, {{"sale_way", "'B'"}},
                         "t.sup_name like '%代销%'", "t.supcust_no"));
    evaluate(updateModel("supcust", what + " (way of sale C)", supcust, {{"sale_way", "'C'"}},
                         "t.sup_name like '%联营%'", "t.supcust_no"));
    evaluate(updateModel("supcust", what + " (region numbers)", supcust,
                         {{"region_no", "left(t.region_no,4)"}}, "", "t.supcust_no"));
    evaluate(updateModel("supcust", what + " (settlement flag)", supcust,
                         {{"check_out_flag", "'0'"}}, "", "t.supcust_no"));
    const std::string match =
        " from @t_bd_supcust_info s where t.main_supcust = s.supcust_no and not s.sale_way='A'";
    evaluate(updateModel("supcust", "the items' way of sale from their suppliers", "t_bd_item_info",
                         {{"item_sup_flag", "(select top 1 s.sale_way" + match + ")"}},
                         "exists (select 1" + match + ")", "t.item_no"));
    evaluate(updateModel("supcust", what + " (settlement branches)", supcust,
                         {{"settle_branch", "'00'"}},
                         "len(t.settle_branch) <> 2 or (len(t.settle_branch) = 2 and not "
                         "exists(select top 1 1 from @t_bd_branch_info b where b.branch_no = "
                         "t.settle_branch ))",
                         "t.supcust_no"));
  }
  if (ticked("vip")) {
    // The branch number as the step reads it: blanks trimmed, "00" when
    // there is none.
    Value read;
    SQLCA_.selectInto(kBranchNoSql, {}, {&read});
    std::string branch = read.value_or("");
    branch.erase(0, std::min(branch.size(), branch.find_first_not_of(' ')));
    branch.erase(branch.find_last_not_of(' ') + 1);
    if (branch.empty()) {
      branch = "00";
    }
    for (const auto& m : refillModels("vip", source_, std::nullopt)) {
      evaluate(m);
    }
    balances(branch);
    Model flow;
    flow.category = "vip";
    flow.what = "the points deduction flow";
    flow.table = "t_rm_vip_good_flow";
    flow.values = {{"vgf_branch_no", quoted(branch)},
                   {"vgf_vip_no", "card_id"},
                   {"vgf_flag", "(case when (acc_num - dec_num)>0 then '3' else '1' end)"},
                   {"vgf_item_no", "''"},
                   {"vgf_item_num", "0"},
                   {"vgf_vip_num", "abs(acc_num - dec_num)"},
                   {"vgf_oper", "'1001'"},
                   {"vgf_date", "getdate()"},
                   {"memo", "'数据导入'"}};
    flow.from = "@t_rm_vip_info v";
    flow.where = "(acc_num - dec_num)<>0";
    flow.key = "card_id";
    evaluate(flow);
    Model consume;
    consume.category = "vip";
    consume.what = "the points detail";
    consume.table = "t_rm_vip_consume";
    consume.values = {{"card_id", "card_id"},
                      {"branch_no", quoted(branch)},
                      {"vip_cur_acc_amount", "acc_num"},
                      {"vip_acc_amount", "acc_num"},
                      {"vip_minus_total", "dec_num"},
                      {"com_flag", "'0'"}};
    consume.from = "@t_rm_vip_info v";
    consume.key = "card_id";
    evaluate(consume);
    recharges(branch);
  }
  if (ticked("spec_price")) {
    for (const auto& m : refillModels("spec_price", source_, std::nullopt)) {
      evaluate(m);
    }
    if (subnoToNo) {
      evaluate(followWeighedModel("spec_price", "t_rm_spec_price"));
    }
  }
  if (ticked("cashier")) {
    for (const auto& m : refillModels("cashier", source_, keptBy("cashier_id<>'9999'"))) {
      evaluate(m);
    }
  }
  if (ticked("stock")) {
    for (const auto& m : refillModels("stock", source_, std::nullopt)) {
      evaluate(m);
    }
    if (subnoToNo) {
      evaluate(followWeighedModel("stock", "t_im_flow"));
    }
  }
  // After the last step the driver gives every selling branch a price row
  // for every item it has none for.
  Model prices;
  prices.category = kRunWide;
  prices.what = "the branch-price fill";
  prices.table = "t_pc_branch_price";
  prices.values = {{"branch_no", "b.branch_no"},
                   {"item_no", "a.item_no"},
                   {"supcust_no", "a.main_supcust"},
                   {"sale_way", "a.item_sup_flag"},
                   {"price", "(case a.trade_type when '2' then a.trans_price else a.price end)"},
                   {"base_price", "a.base_price"},
                   {"sale_price", "a.sale_price"},
                   {"vip_price", "a.vip_price"},
                   {"sup_ly_rate", "a.sup_ly_rate"},
                   {"branch_price", "a.branch_price"},
                   {"branch_sale", "'1'"},
                   {"item_stock", "a.item_stock"},
                   {"base_price1", "a.base_price1"},
                   {"base_price2", "a.base_price2"},
                   {"base_price3", "a.base_price3"},
                   {"base_price4", "a.base_price4"},
                   {"status", "a.status"}};
  prices.from = "@t_bd_item_info a, @t_bd_branch_info b";
  prices.where =
      "b.property in ('0','1') and not exists (select 1 from @t_pc_branch_price c where "
      "c.branch_no = b.branch_no and c.item_no = a.item_no)";
  prices.key = "b.branch_no + '/' + a.item_no";
  prices.keep = "1 = 1";
  prices.product = true;
  prices.whereCannotFail = true;
  prices.absentFromKept = {"branch_no", "item_no"};
  evaluate(prices);
}

}  // namespace

std::string shownValue(const Value& value) {
  if (!value) {
    return "NULL";
  }
  std::string out(1, '\'');
  std::size_t chars = 0;
  std::size_t i = 0;
  for (; i < value->size() && chars < kShownChars; ++chars) {
    const auto c = static_cast<unsigned char>((*value)[i]);
    if (c < 0x20U || c == 0x7FU) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\x%02X", c);
      out += escaped;
      ++i;
      continue;
    }
    out += static_cast<char>(c);
    ++i;
    while (i < value->size() && (static_cast<unsigned char>((*value)[i]) & 0xC0U) == 0x80U) {
      out += (*value)[i];
      ++i;
    }
  }
  out += i < value->size() ? "...'" : "'";
  return out;
}

void predictWrites(Session& SQLCA, Catalog& catalog, const std::string& as_source,
                   const std::vector<std::string>& chosen, bool subnoToNo, CheckReport& report) {
  Predictor(SQLCA, catalog, as_source, report).run(chosen, subnoToNo);
}

}  // namespace cvt
