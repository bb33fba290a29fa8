#pragma once

// The pieces of the pre-flight check's prediction of a run's writes (see
// predictWrites) that its files share: the model of a writing statement,
// the texts and type rules they use, and the predictor that evaluates the
// statements in the run's order. preflight_writes.cpp lays out the run's
// statements, preflight_evaluate.cpp evaluates one, preflight_shortcuts.cpp
// tells what needs no row read, preflight_loops.cpp follows the member-card
// step's loops and the class renumbering.

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/preflight.h"
#include "app/preflight_sql.h"
#include "app/preflight_writes.h"
#include "db/catalog.h"
#include "db/names.h"
#include "db/session.h"
#include "db/value_fit.h"

namespace cvt::preflight {

inline constexpr const char* kRunWide = "run";
inline constexpr std::size_t kShownChars = 40;
inline constexpr std::size_t kExamples = 3;
// Rows of bound values sent in one literal query (SQLite allows 500 terms
// in one compound select).
inline constexpr std::size_t kLiteralChunk = 200;

inline constexpr const char* kBranchNoSql =
    "SELECT sys_var_value FROM t_sys_system Where sys_var_id ='g_branch_no'";

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

// An update of `table`'s rows (alias t) that `where` picks.
Model updateModel(const std::string& category, std::string what, std::string table,
                  std::vector<std::pair<std::string, std::string>> values, std::string where,
                  std::string key, bool tolerated = false);

// ------------------------------------------------------------------ texts

// `text` as a T-SQL literal.
std::string quoted(std::string_view text);
// The rows a clearing "delete ... where cond" leaves.
std::string keptBy(const std::string& deleteCondition);
std::string plural(long long n, const char* one, const char* many);
bool isTextType(const std::string& type);
bool isNumericType(const std::string& type);
// The declared type a value is fitted to.
std::string declaredOf(const ColumnInfo& c);
// The type as findings name it: "varchar(10)", "decimal(16,4)", "int".
std::string typeName(const ColumnInfo& c);
// The default an insert gives a column it leaves out, as an expression.
std::optional<std::string> defaultExpression(const Value& given);
// Characters as len() counts them.
std::size_t charLength(std::string_view text);
int collate(const std::string& a, const std::string& b);
// A number in one form per value.
std::string canonicalNumber(const std::string& text);
// Two stored values of a key column of `c` in the column's order: NULLs
// first and equal to each other, texts under the collation, numbers by
// value.
int compareKeyValues(const ColumnInfo& c, const Value& x, const Value& y);
// Whether `clause` names `column` as a whole word.
bool mentions(const std::string& clause, const std::string& column);
// An error of a query that reads a column or table the database lacks.
bool missingObject(const std::string& error);

// ------------------------------------------------------------- shortcuts

// `expr` as a column name with its qualifier, when it is nothing more.
std::optional<ColumnRef> plainColumn(std::string_view expr);
// `expr` as the value it always is, when it is a literal.
std::optional<Value> literalValue(std::string_view expr);
// Whether every value a column of `from` can hold fits a column of `to`.
bool holdsEvery(const FitLimits& from, const ColumnInfo& fromColumn, const FitLimits& to,
                const ColumnInfo& toColumn);
// Whether two text columns compare their values alike.
bool sameComparison(const ColumnInfo& a, const ColumnInfo& b);
// Whether a where clause may fail on a row.
bool whereMayFail(const std::string& where);

// ------------------------------------------------------------- predictor

// Rows that break one rule, counted, with the first few as examples.
struct Breach {
  std::string column;
  std::string rule;
  std::string error;
  long long rows = 0;
  std::vector<std::string> examples;
};

// A breach of `index` with nothing counted yet: the index's columns as its
// column, the index as its rule.
Breach keyBreach(const IndexInfo& index);
// An example of a key `rows` rows share.
std::string keyExample(const Row& key, std::size_t rows);

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

  // Keys of a unique index that several rows would share.
  void reportKeys(const Model& m, const Breach& b) {
    report(m, b,
           plural(b.rows, "key", "keys") + " of " + m.table + " (" + b.column +
               ") would be given to several rows by " + m.what + ", which the " + b.rule +
               " forbids");
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
  void swapWeighed();
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

}  // namespace cvt::preflight
