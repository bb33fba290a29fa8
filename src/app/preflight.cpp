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

#include "app/preflight_sql.h"
#include "app/preflight_writes.h"
#include "app/run_driver.h"
#include "db/catalog.h"
#include "db/names.h"
#include "steps/catalog.h"

namespace cvt {

namespace {

using preflight::ColumnRef;
using preflight::columnsOf;
using preflight::fromTables;
using preflight::parseRefill;
using preflight::RefillShape;
using preflight::SourceTable;

constexpr const char* kRunWide = "run";

// ---------------------------------------------------------------- checks

// Tables and columns a category's other statements (clearing, repairs,
// later phases) use besides its refills, so that a target missing them is
// found before the run rather than half-way through it.
struct TableUse {
  const char* table;
  std::vector<const char*> columns;
  // What the run does without the table or a column of it, when it goes on
  // regardless: then their absence is a warning.
  const char* without = nullptr;
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
       {{"t_sys_system",
         {"sys_var_id", "sys_var_value"},
         "the member cards' points and recharge records take the branch number 00"},
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

  CheckReport run(const std::vector<std::string>& chosen, bool subnoToNo) {
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
    }
    checkRights();
    if (sourceExists) {
      predictWrites(SQLCA_, *catalog_, source_, chosen, subnoToNo, report_);
    }
    return std::move(report_);
  }

 private:
  void add(const std::string& category, CheckSeverity severity, std::string text) {
    CheckFinding f;
    f.category = category;
    f.severity = severity;
    f.text = std::move(text);
    report_.findings.push_back(std::move(f));
  }
  void fail(const std::string& category, std::string text) {
    add(category, CheckSeverity::WillFail, std::move(text));
  }
  void warn(const std::string& category, std::string text) {
    add(category, CheckSeverity::Warning, std::move(text));
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
      auto missing = [&](const std::string& what) {
        if (use.without != nullptr) {
          warn(key, what + " does not exist, so " + use.without);
        } else {
          fail(key, what + " does not exist");
        }
      };
      if (!info->exists) {
        missing(std::string("the target table ") + use.table);
        continue;
      }
      for (const char* column : use.columns) {
        if (info->find(column) == nullptr) {
          missing(std::string("the target column ") + use.table + "." + column);
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
      for (const auto& ref : columnsOf(expr)) {
        if (!sourceHas(sources, ref, key) && reported.insert(lowered(ref.name)).second) {
          fail(key, "the source column " + sourceName(sources, ref) + " does not exist");
        }
      }
    };
    checkColumns(shape.where);
    for (const auto& e : shape.exprs) {
      checkColumns(e);
    }
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
                            const std::vector<std::string>& chosen, bool subnoToNo) {
  return Checker(SQLCA, as_source).run(chosen, subnoToNo);
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
