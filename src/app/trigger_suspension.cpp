#include <array>
#include <string>

#include "app/run_driver.h"

namespace cvt {

namespace {

// The tables whose triggers a run switches off, in the order they are
// handled. Tables the run writes that are missing here (the branch prices)
// keep their triggers while the run works.
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
// them permanent and a rollback before it undoes them.
void runAll(Session& SQLCA, const std::array<const char*, 8>& statements) {
  for (const char* ls_sql : statements) {
    SQLCA.execute(ls_sql);
  }
}

}  // namespace

const std::array<const char*, 8>& suspendedTables() {
  static constexpr std::array<const char*, 8> kTables = {
      "t_bd_item_info", "t_bd_item_cls",   "t_bd_base_code", "t_bd_supcust_info",
      "t_rm_vip_info",  "t_rm_spec_price", "t_rm_saleflow",  "t_rm_payflow"};
  return kTables;
}

void wf_disable_trigger(Session& SQLCA) { runAll(SQLCA, kDisableTriggerSql); }

void wf_enable_trigger(Session& SQLCA) { runAll(SQLCA, kEnableTriggerSql); }

}  // namespace cvt
