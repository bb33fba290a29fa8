#include "app/preflight.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include "app/run_driver.h"
#include "db/catalog.h"
#include "db/names.h"
#include "steps/catalog.h"

namespace cvt {

namespace {

constexpr const char* kRunWide = "run";

// The branch number that the member-card step writes into the points and
// recharge tables, read as that step reads it.
constexpr const char* kBranchNoSql =
    "SELECT sys_var_value FROM t_sys_system Where sys_var_id ='g_branch_no'";
constexpr const char* kDefaultBranchNo = "00";

// Shown values are cut, so that one odd row cannot flood the report.
constexpr std::size_t kShownValue = 40;

// ---------------------------------------------------------------- texts

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t\r\n;");
  return std::string(text.substr(first, last - first + 1));
}

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

// An insert ... select statement taken apart.
struct RefillShape {
  std::string target;
  std::vector<std::string> columns;
  std::vector<std::string> exprs;
  std::string from;   // the from clause as written (tables and aliases)
  std::string where;  // empty when there is none
};

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

// A table of a from clause: `db..table alias` or `table`.
struct SourceTable {
  std::string database;  // empty: the target
  std::string table;
  std::string alias;
};

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

// The column names an expression reads: identifiers that are neither
// keywords nor function names, with their qualifier when they have one.
struct ColumnRef {
  std::string qualifier;
  std::string name;
};

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

// Bytes of a text in the Chinese code page 936 (one for ASCII, two for
// every other character), as char and varchar columns measure it; or
// UTF-16 units, as nchar and nvarchar do.
long long measured(const std::string& utf8, bool national) {
  long long units = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    const std::size_t len = lead < 0x80U    ? 1
                            : lead >= 0xF0U ? 4
                            : lead >= 0xE0U ? 3
                            : lead >= 0xC0U ? 2
                                            : 1;
    units += national ? (len == 4 ? 2 : 1) : (len == 1 ? 1 : 2);
    i += len;
  }
  return units;
}

bool isTextType(const std::string& type) {
  return type == "char" || type == "varchar" || type == "nchar" || type == "nvarchar";
}

bool isNational(const std::string& type) { return type == "nchar" || type == "nvarchar"; }

std::string declared(const ColumnInfo& c) {
  if (isTextType(c.type)) {
    return c.type + "(" + std::to_string(c.length) + ")";
  }
  if (c.precision > 0) {
    return c.type + "(" + std::to_string(c.precision) + "," + std::to_string(c.scale) + ")";
  }
  return c.type;
}

// A value quoted for a finding, cut after kShownValue characters (never in
// the middle of one).
std::string shown(const std::string& value) {
  std::size_t at = 0;
  for (std::size_t chars = 0; at < value.size() && chars < kShownValue; ++chars) {
    ++at;
    while (at < value.size() && (static_cast<unsigned char>(value[at]) & 0xC0U) == 0x80U) {
      ++at;
    }
  }
  std::string out(1, '\'');
  out.append(value, 0, at);
  out += at < value.size() ? "...'" : "'";
  return out;
}

// ---------------------------------------------------------------- checks

// Tables and columns a category's other statements (clearing, repairs,
// later phases) use besides its refills, so that a target missing them is
// found before the run rather than half-way through it.
struct TableUse {
  const char* table;
  std::vector<const char*> columns;
};

const std::map<std::string, std::vector<TableUse>>& otherUses() {
  static const std::map<std::string, std::vector<TableUse>> kUses = {
      {"item", {{"t_bd_item_info", {"item_no", "item_subno", "other2", "num3", "item_brand"}}}},
      {"cls",
       {{"t_bd_item_cls", {"item_clsno", "cls_parent"}}, {"t_bd_item_info", {"item_clsno"}}}},
      {"supcust",
       {{"t_bd_supcust_info",
         {"supcust_no", "supcust_flag", "sale_way", "sup_name", "region_no", "check_out_flag",
          "settle_branch"}},
        {"t_bd_cust_type", {"type_id", "type_name", "oper_date", "oper_id"}},
        {"t_bd_item_info", {"item_sup_flag", "main_supcust"}},
        {"t_bd_branch_info", {"branch_no"}}}},
      {"vip",
       {{"t_sys_system", {"sys_var_id", "sys_var_value"}},
        {"t_rm_vip_consume",
         {"card_id", "branch_no", "vip_cur_acc_amount", "vip_acc_amount", "vip_minus_total",
          "com_flag"}},
        {"t_rm_vip_good_flow",
         {"vgf_branch_no", "vgf_vip_no", "vgf_flag", "vgf_item_no", "vgf_item_num", "vgf_vip_num",
          "vgf_oper", "vgf_date", "memo"}},
        {"t_rm_saving_plus_record",
         {"card_id", "plus_count", "oper_id", "oper_date", "old_count", "branch_no", "other1",
          "plus_real_count"}}}},
      {"spec_price", {{"t_bd_item_info", {"item_no", "item_subno", "num3"}}}},
      {"stock", {{"t_im_branch_stock", {}}, {"t_bd_item_info", {"item_no", "item_subno", "num3"}}}},
      {kRunWide,
       {{"t_bd_branch_info", {"branch_no", "property"}},
        {"t_pc_branch_price", {"branch_no", "item_no", "supcust_no", "sale_way", "price"}}}},
  };
  return kUses;
}

class Checker {
 public:
  Checker(Session& SQLCA, std::string source)
      : SQLCA_(SQLCA), catalog_(SQLCA.catalog()), source_(std::move(source)) {}

  CheckReport run(const std::vector<std::string>& chosen) {
    bool sourceExists = false;
    const SqlResult reached = catalog_->databaseExists(source_, sourceExists);
    if (reached.failed()) {
      warn(kRunWide,
           "the database catalogue cannot be read, so nothing was checked: " + reached.text);
      return std::move(report_);
    }
    if (!sourceExists) {
      fail(kRunWide, "the source database " + source_ + " does not exist");
    }
    checkTriggers(chosen);
    checkUses(kRunWide);
    for (const auto& key : chosen) {
      const Category* category = findCategory(key);
      if (category == nullptr || category->refills == nullptr) {
        continue;
      }
      for (const auto& sql : category->refills(source_)) {
        auto shape = parseRefill(sql);
        if (!shape) {
          warn(key, "a refill statement could not be read for checking");
          continue;
        }
        checkRefill(key, *shape, sourceExists);
        refills_.emplace_back(key, std::move(*shape));
      }
      checkUses(key);
      if (key == "vip") {
        checkBranchNumber();
      }
    }
    checkRights();
    return std::move(report_);
  }

 private:
  void fail(const std::string& category, std::string text) {
    report_.findings.push_back({category, CheckSeverity::WillFail, std::move(text)});
  }
  void warn(const std::string& category, std::string text) {
    report_.findings.push_back({category, CheckSeverity::Warning, std::move(text)});
  }

  // The table as the catalogue describes it, read once.
  const TableInfo* table(const std::string& database, const std::string& name,
                         const std::string& category) {
    const std::string key = lowered(database) + ".." + lowered(name);
    auto found = tables_.find(key);
    if (found == tables_.end()) {
      TableInfo info;
      const SqlResult result = catalog_->describe(database, name, info);
      if (result.failed()) {
        warn(category, "the columns of " + name + " cannot be read: " + result.text);
      }
      found = tables_.emplace(key, std::move(info)).first;
    }
    return &found->second;
  }

  void checkTriggers(const std::vector<std::string>& chosen) {
    static const std::map<std::string, std::vector<std::string>> kOwners = {
        {"t_bd_item_info", {"item"}},         {"t_bd_item_cls", {"cls"}},
        {"t_bd_base_code", {"pp", "region"}}, {"t_bd_supcust_info", {"supcust"}},
        {"t_rm_vip_info", {"vip"}},           {"t_rm_spec_price", {"spec_price"}}};
    std::vector<std::string> tables(suspendedTables().begin(), suspendedTables().end());
    std::vector<std::string> off;
    const SqlResult result = catalog_->triggersOff(tables, off);
    if (result.failed()) {
      warn(kRunWide, "whether triggers are switched off cannot be read: " + result.text);
      return;
    }
    for (const auto& t : off) {
      std::string category = kRunWide;
      const auto owner = kOwners.find(t);
      if (owner != kOwners.end()) {
        for (const auto& candidate : owner->second) {
          if (std::find(chosen.begin(), chosen.end(), candidate) != chosen.end()) {
            category = candidate;
            break;
          }
        }
      }
      warn(category, "the triggers of " + t +
                         " are switched off now (left so by a run that did not end); a "
                         "completed run or closing the tool switches them on");
    }
  }

  void checkUses(const std::string& key) {
    const auto uses = otherUses().find(key);
    if (uses == otherUses().end()) {
      return;
    }
    for (const auto& use : uses->second) {
      const TableInfo* info = table("", use.table, key);
      if (!info->exists) {
        fail(key, std::string("the target table ") + use.table + " does not exist");
        continue;
      }
      for (const char* column : use.columns) {
        if (info->find(column) == nullptr) {
          fail(key,
               std::string("the target column ") + use.table + "." + column + " does not exist");
        }
      }
    }
  }

  void checkRefill(const std::string& key, const RefillShape& shape, bool sourceExists) {
    const TableInfo* target = table("", shape.target, key);
    bool complete = target->exists;
    if (!target->exists) {
      fail(key, "the target table " + shape.target + " does not exist");
    }
    for (const auto& c : shape.columns) {
      if (target->exists && target->find(c) == nullptr) {
        fail(key, "the target column " + shape.target + "." + c + " does not exist");
        complete = false;
      }
    }
    if (!sourceExists) {
      return;
    }
    const auto sources = fromTables(shape.from);
    for (const auto& s : sources) {
      const TableInfo* info = table(s.database, s.table, key);
      if (!info->exists) {
        fail(key, "the source table " + s.database + ".." + s.table + " does not exist");
        complete = false;
      }
    }
    if (!complete) {
      return;  // the data questions below would only repeat the failure
    }
    std::set<std::string> reported;
    auto checkColumns = [&](std::string_view expr) {
      bool ok = true;
      for (const auto& ref : columnsOf(expr)) {
        if (!sourceHas(sources, ref, key)) {
          ok = false;
          if (reported.insert(lowered(ref.name)).second) {
            fail(key, "the source column " + sourceName(sources, ref) + " does not exist");
          }
        }
      }
      return ok;
    };
    const bool whereOk = checkColumns(shape.where);
    std::vector<bool> exprOk;
    for (const auto& e : shape.exprs) {
      exprOk.push_back(checkColumns(e));
    }
    if (!whereOk) {
      return;
    }
    for (std::size_t i = 0; i < shape.exprs.size(); ++i) {
      const ColumnInfo* column = target->find(shape.columns[i]);
      if (!exprOk[i] || column == nullptr || columnsOf(shape.exprs[i]).empty()) {
        continue;
      }
      if (isTextType(column->type) && column->length > 0) {
        checkWidth(key, shape, shape.exprs[i], shape.target, *column);
      } else if ((column->type == "decimal" || column->type == "numeric") &&
                 column->precision > 0) {
        checkPrecision(key, shape, shape.exprs[i], shape.target, *column);
      }
    }
    checkKeys(key, shape, *target, exprOk);
  }

  bool sourceHas(const std::vector<SourceTable>& sources, const ColumnRef& ref,
                 const std::string& key) {
    for (const auto& s : sources) {
      if (!ref.qualifier.empty() && lowered(ref.qualifier) != lowered(s.alias) &&
          lowered(ref.qualifier) != lowered(s.table)) {
        continue;
      }
      if (table(s.database, s.table, key)->find(ref.name) != nullptr) {
        return true;
      }
    }
    return false;
  }

  std::string sourceName(const std::vector<SourceTable>& sources, const ColumnRef& ref) {
    for (const auto& s : sources) {
      if (ref.qualifier.empty() || lowered(ref.qualifier) == lowered(s.alias) ||
          lowered(ref.qualifier) == lowered(s.table)) {
        return (s.database.empty() ? "" : s.database + "..") + s.table + "." + ref.name;
      }
    }
    return ref.name;
  }

  std::string whereAnd(const RefillShape& shape) const {
    return shape.where.empty() ? std::string(" where ") : " where (" + shape.where + ") and ";
  }

  void checkWidth(const std::string& key, const RefillShape& shape, const std::string& expr,
                  const std::string& targetTable, const ColumnInfo& column) {
    const bool national = isNational(column.type);
    // A value of more characters than half the width may need more bytes
    // than the width; only those are read and measured exactly.
    const long long threshold = national ? column.length : column.length / 2;
    const std::string sql = "select " + expr + " from " + shape.from + whereAnd(shape) + "len(" +
                            expr + ") > " + std::to_string(threshold);
    auto cursor = SQLCA_.openCursor(sql);
    Row row;
    long code = 0;
    long long over = 0;
    long long longest = 0;
    std::string example;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      const std::string value = row.empty() ? std::string() : row[0].value_or("");
      const long long size = measured(value, national);
      if (size > column.length) {
        ++over;
        if (size > longest) {
          longest = size;
          example = value;
        }
      }
    }
    if (code < 0) {
      warn(key, "the width of " + targetTable + "." + column.name +
                    " could not be checked: " + SQLCA_.SQLErrText());
      return;
    }
    if (over > 0) {
      fail(key, targetTable + "." + column.name + " is " + declared(column) + ", but " +
                    std::to_string(over) + " source value" + (over == 1 ? " is" : "s are") +
                    " longer (" + expr + ", longest " + std::to_string(longest) +
                    (national ? " characters: " : " bytes: ") + shown(example) + ")");
    }
  }

  void checkPrecision(const std::string& key, const RefillShape& shape, const std::string& expr,
                      const std::string& targetTable, const ColumnInfo& column) {
    std::string limit(1, '1');
    limit.append(static_cast<std::size_t>(std::max(0, column.precision - column.scale)), '0');
    const std::string sql =
        "select count(*) from " + shape.from + whereAnd(shape) + "abs(" + expr + ") >= " + limit;
    Value count;
    if (SQLCA_.selectInto(sql, {}, {&count}) < 0) {
      warn(key, "the size of " + targetTable + "." + column.name +
                    " could not be checked: " + SQLCA_.SQLErrText());
      return;
    }
    const long long over = std::strtoll(count.value_or("0").c_str(), nullptr, 10);
    if (over > 0) {
      fail(key, targetTable + "." + column.name + " is " + declared(column) + ", but " +
                    std::to_string(over) + " source value" + (over == 1 ? " does" : "s do") +
                    " not fit (" + expr + " of " + limit + " or more)");
    }
  }

  void checkKeys(const std::string& key, const RefillShape& shape, const TableInfo& target,
                 const std::vector<bool>& exprOk) {
    std::vector<std::string> parts;
    std::vector<std::string> names;
    for (const auto& column : target.columns) {
      if (!column.key) {
        continue;
      }
      std::size_t i = 0;
      while (i < shape.columns.size() && lowered(shape.columns[i]) != lowered(column.name)) {
        ++i;
      }
      if (i == shape.columns.size() || !exprOk[i]) {
        return;  // a key part the refill does not write: nothing to compare
      }
      if (columnsOf(shape.exprs[i]).empty()) {
        continue;  // a constant part is the same for every row
      }
      // Keys compare as the target's collation does: without regard to
      // case or trailing blanks.
      parts.push_back(isTextType(column.type) ? "upper(rtrim(" + shape.exprs[i] + "))"
                                              : shape.exprs[i]);
      names.push_back(column.name);
    }
    if (parts.empty()) {
      return;
    }
    std::string list;
    std::string nameList;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      list += (i > 0 ? "," : "") + parts[i];
      nameList += (i > 0 ? ", " : "") + names[i];
    }
    const std::string sql = "select " + list + ", count(*) from " + shape.from +
                            (shape.where.empty() ? "" : " where " + shape.where) + " group by " +
                            list + " having count(*) > 1";
    auto cursor = SQLCA_.openCursor(sql);
    Row row;
    long code = 0;
    long long groups = 0;
    std::string example;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      if (++groups == 1) {
        for (std::size_t i = 0; i + 1 < row.size(); ++i) {
          example += (i > 0 ? ", " : "") + shown(row[i].value_or("NULL"));
        }
        example += " (" + row.back().value_or("?") + " rows)";
      }
    }
    if (code < 0) {
      warn(key, "the keys of " + shape.target + " could not be checked: " + SQLCA_.SQLErrText());
      return;
    }
    if (groups > 0) {
      fail(key, std::to_string(groups) + " key" + (groups == 1 ? "" : "s") + " of " + shape.target +
                    " (" + nameList + ") would be given to several source rows, " + "for example " +
                    example);
    }
  }

  void checkBranchNumber() {
    Value branch = std::string(kDefaultBranchNo);
    if (SQLCA_.selectInto(kBranchNoSql, {}, {&branch}) < 0) {
      return;  // a missing table or column is reported by checkUses
    }
    const std::string value = branch.value_or(kDefaultBranchNo);
    for (const auto& [t, c] : std::vector<std::pair<const char*, const char*>>{
             {"t_rm_vip_good_flow", "vgf_branch_no"},
             {"t_rm_vip_consume", "branch_no"},
             {"t_rm_saving_plus_record", "branch_no"}}) {
      const TableInfo* info = table("", t, "vip");
      const ColumnInfo* column = info->find(c);
      if (column == nullptr || !isTextType(column->type) || column->length <= 0) {
        continue;
      }
      if (measured(value, isNational(column->type)) > column->length) {
        fail("vip", std::string(t) + "." + c + " is " + declared(*column) +
                        ", but the branch number written into it, " + shown(value) +
                        " (t_sys_system g_branch_no), is longer");
      }
    }
  }

  void checkRights() {
    std::vector<TableRight> needed;
    for (const std::string_view t : suspendedTables()) {
      needed.push_back({"", std::string(t), "ALTER"});
    }
    needed.push_back({"", "t_pc_branch_price", "INSERT"});
    std::map<std::string, std::string> owner;  // "db..table right" -> category
    for (const auto& [key, shape] : refills_) {
      for (const char* right : {"DELETE", "INSERT", "UPDATE"}) {
        needed.push_back({"", shape.target, right});
        owner.emplace(lowered(shape.target) + " " + right, key);
      }
      for (const auto& t : fromTables(shape.from)) {
        needed.push_back({t.database, t.table, "SELECT"});
        owner.emplace(lowered(t.database + ".." + t.table) + " SELECT", key);
      }
    }
    std::vector<TableRight> missing;
    const SqlResult result = catalog_->missingRights(needed, missing);
    if (result.failed()) {
      warn(kRunWide, "the login's rights cannot be read: " + result.text);
      return;
    }
    std::set<std::string> seen;
    for (const auto& m : missing) {
      const std::string name = m.database.empty() ? m.table : m.database + ".." + m.table;
      if (!seen.insert(lowered(name) + " " + m.right).second) {
        continue;
      }
      const auto o = owner.find(lowered(name) + " " + m.right);
      fail(o == owner.end() ? kRunWide : o->second, "the login may not " + m.right + " " + name);
    }
  }

  Session& SQLCA_;
  std::unique_ptr<Catalog> catalog_;
  std::string source_;
  std::map<std::string, TableInfo> tables_;
  // The refills of the chosen categories, read once, with their category.
  std::vector<std::pair<std::string, RefillShape>> refills_;
  CheckReport report_;
};

}  // namespace

const char* severityName(CheckSeverity severity) {
  return severity == CheckSeverity::WillFail ? "will fail" : "warning";
}

bool CheckReport::willFail() const {
  return std::any_of(findings.begin(), findings.end(),
                     [](const CheckFinding& f) { return f.severity == CheckSeverity::WillFail; });
}

CheckReport checkConversion(Session& SQLCA, const std::string& as_source,
                            const std::vector<std::string>& chosen) {
  return Checker(SQLCA, as_source).run(chosen);
}

std::string checkTable(const CheckReport& report) {
  std::size_t width = std::string_view("category").size();
  for (const auto& f : report.findings) {
    width = std::max(width, f.category.size());
  }
  auto pad = [](std::string text, std::size_t w) {
    if (text.size() < w) {
      text.append(w - text.size(), ' ');
    }
    return text;
  };
  std::string out;
  long long failing = 0;
  if (!report.findings.empty()) {
    out += pad("category", width) + "  " + pad("severity", 9) + "  reason\n";
  }
  for (const auto& f : report.findings) {
    failing += f.severity == CheckSeverity::WillFail ? 1 : 0;
    out += pad(f.category, width) + "  " + pad(severityName(f.severity), 9) + "  " + f.text + "\n";
  }
  const long long warnings = static_cast<long long>(report.findings.size()) - failing;
  const std::string counts = std::to_string(failing) + " will fail, " + std::to_string(warnings) +
                             " warning" + (warnings == 1 ? "" : "s");
  out += failing > 0 ? "verdict: the run would fail (" + counts + ")\n"
                     : "verdict: nothing will fail (" + counts + ")\n";
  return out;
}

}  // namespace cvt
