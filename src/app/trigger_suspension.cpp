#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_driver.h"
#include "db/names.h"

namespace cvt {

namespace {

// The tables whose triggers a run switches off, in the order they are
// handled. Tables the run writes that are missing here (the branch prices)
// keep their triggers while the run works.
constexpr std::array<std::string_view, 8> kSwitchedTables = {
    "t_bd_item_info", "t_bd_item_cls",   "t_bd_base_code", "t_bd_supcust_info",
    "t_rm_vip_info",  "t_rm_spec_price", "t_rm_saleflow",  "t_rm_payflow",
};

constexpr std::array<const char*, 8> kDisableTriggerSql = {
    "ALTER TABLE t_bd_item_info disable TRIGGER all",
    "ALTER TABLE t_bd_item_cls disable TRIGGER all",
    "ALTER TABLE t_bd_base_code disable TRIGGER all",
    "ALTER TABLE t_bd_supcust_info disable TRIGGER all",
    "ALTER TABLE t_rm_vip_info disable TRIGGER all",
    "ALTER TABLE t_rm_spec_price disable TRIGGER all",
    "ALTER TABLE t_rm_saleflow disable TRIGGER all",
    "ALTER TABLE t_rm_payflow disable TRIGGER all",
};

constexpr std::array<const char*, 8> kEnableTriggerSql = {
    "ALTER TABLE t_bd_item_info enable TRIGGER all",
    "ALTER TABLE t_bd_item_cls enable TRIGGER all",
    "ALTER TABLE t_bd_base_code enable TRIGGER all",
    "ALTER TABLE t_bd_supcust_info enable TRIGGER all",
    "ALTER TABLE t_rm_vip_info enable TRIGGER all",
    "ALTER TABLE t_rm_spec_price enable TRIGGER all",
    "ALTER TABLE t_rm_saleflow enable TRIGGER all",
    "ALTER TABLE t_rm_payflow enable TRIGGER all",
};

// Every statement is tried; a table the installation lacks, or a login
// without the right to alter it, must not keep the others from switching.
// The statements join the open transaction: the caller's next commit makes
// them permanent and a rollback before it undoes them. When a failure ended
// the transaction, the switches sent before it were undone by the engine;
// all eight are sent once more (switching twice is harmless), so that the
// tables are not left half switched.
void runAll(Session& SQLCA, const std::array<const char*, 8>& statements) {
  for (int pass = 0; pass < 2; ++pass) {
    bool ended = false;
    for (const char* ls_sql : statements) {
      if (SQLCA.execute(ls_sql) < 0 && SQLCA.transactionEnded()) {
        ended = true;
      }
    }
    if (!ended) {
      return;
    }
  }
}

}  // namespace

const std::array<std::string_view, 8>& suspendedTables() { return kSwitchedTables; }

std::vector<std::string> triggersLeftOff(const Session& SQLCA) {
  std::vector<std::string> tables;
  for (const std::string_view table : kSwitchedTables) {
    const auto& off = SQLCA.triggersOffAtConnect();
    if (std::any_of(off.begin(), off.end(),
                    [&](const std::string& name) { return sameName(name, table); })) {
      tables.emplace_back(table);
    }
  }
  return tables;
}

void wf_disable_trigger(Session& SQLCA) { runAll(SQLCA, kDisableTriggerSql); }

void wf_enable_trigger(Session& SQLCA) { runAll(SQLCA, kEnableTriggerSql); }

}  // namespace cvt
