#include "app/run_driver.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/failing_session.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::FailingSession;
using test::RecordingRunUi;

constexpr const char* kNotice = "提示";

// Target rows the run replaces or must leave alone, and source rows in
// both source databases that tell them apart.
void seed(const DbFolder& db) {
  db.exec("tillexv8", R"SQL(
    INSERT INTO t_bd_base_code(type_no, code_id, code_name) VALUES
      ('RG', '9901', 'old region'), ('PP', 'PP', 'kept brand'), ('PP', '0009', 'old brand');
    INSERT INTO t_rm_cashier(cashier_id, cashier_name, cashier_pw) VALUES
      ('9999', 'admin', 'x'), ('0001', 'old cashier', 'y');
    INSERT INTO t_bd_item_info(item_no, main_supcust, item_sup_flag, price, trans_price,
                               trade_type, base_price, sale_price, vip_price, status)
      VALUES ('A1', 'S1', 'A', 10.5, 8, '1', 7, 10.5, 9.5, '1'),
             ('A2', 'S2', 'B', 20, 15.25, '2', 12, 20, 19, '1');
    INSERT INTO t_bd_branch_info(branch_no, branch_name, property) VALUES
      ('0001', 'head office', '0'), ('0002', 'shop', '1'), ('0003', 'warehouse', '2');
    INSERT INTO t_pc_branch_price(branch_no, item_no, price) VALUES ('0001', 'A1', 99);
    DELETE FROM t_sys_change_log;
  )SQL");
  db.exec("dravik_std", R"SQL(
    INSERT INTO bi_t_region_info VALUES ('0101', 'north'), ('02', 'south');
    INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag) VALUES ('10001', 'brand one', '1');
    INSERT INTO pos_t_cashier VALUES ('0002', 'anna', 'pw', '1');
  )SQL");
  db.exec("dravik_pro", "INSERT INTO bi_t_region_info VALUES ('0301', 'east');");
}

std::vector<std::string> column(const DbFolder& db, const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& row : db.query("tillexv8", sql)) {
    out.push_back(row.at(0).value_or("NULL"));
  }
  return out;
}

std::vector<std::string> regions(const DbFolder& db) {
  return column(db, "SELECT code_id FROM t_bd_base_code WHERE type_no='RG' ORDER BY code_id");
}
std::vector<std::string> brands(const DbFolder& db) {
  return column(db, "SELECT code_id FROM t_bd_base_code WHERE type_no='PP' ORDER BY code_id");
}
std::vector<std::string> cashiers(const DbFolder& db) {
  return column(db, "SELECT cashier_id FROM t_rm_cashier ORDER BY cashier_id");
}
// Tables whose triggers are off, as committed.
std::vector<std::string> triggersOff(const DbFolder& db) {
  return column(db, "SELECT table_name FROM tsql_trigger_off ORDER BY table_name");
}

const std::vector<std::string> kAllSwitched = {
    "t_bd_base_code", "t_bd_item_cls", "t_bd_item_info",  "t_bd_supcust_info",
    "t_rm_payflow",   "t_rm_saleflow", "t_rm_spec_price", "t_rm_vip_info"};

RunChoice tick(std::initializer_list<std::string_view> keys, bool rb_1 = false) {
  RunChoice choice;
  choice.rb_1 = rb_1;
  const auto& cats = categories();
  for (auto key : keys) {
    for (std::size_t i = 0; i < cats.size(); ++i) {
      if (cats[i].key == key) {
        choice.ticked[i] = true;
      }
    }
  }
  return choice;
}

TEST(RunDriver, NothingTickedShowsTheMessageAndChangesNoData) {
  DbFolder db;
  seed(db);
  auto SQLCA = db.connect();
  RecordingRunUi ui;
  ui.progress.wf_set_bar(0.5F, "previous run");

  const RunReport report = runConversion(*SQLCA, ui, RunChoice{});

  EXPECT_EQ(report.outcome, RunOutcome::NothingChosen);
  EXPECT_EQ(ui.messages, (decltype(ui.messages){{kNotice, "请选择需要传输的信息!"}}));
  EXPECT_TRUE(ui.steps.empty());
  // The bar is emptied; the status line of the previous run stays.
  EXPECT_EQ(ui.widths, std::vector<int>{0});
  EXPECT_EQ(ui.progress.status(), "previous run");
  EXPECT_FALSE(ui.busyNow());
  SQLCA->rollback();
  EXPECT_EQ(regions(db), std::vector<std::string>{"9901"});
  EXPECT_EQ(cashiers(db), (std::vector<std::string>{"0001", "9999"}));
  EXPECT_TRUE(triggersOff(db).empty());
}

TEST(RunDriver, OnlyRegionsRunsTheWholeRoad) {
  DbFolder db;
  seed(db);
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  const RunReport report = runConversion(*SQLCA, ui, tick({"region"}));

  EXPECT_EQ(report.outcome, RunOutcome::Completed);
  EXPECT_EQ(report.is_source, "dravik_std");
  EXPECT_EQ(report.idec_count, 10);
  EXPECT_EQ(ui.widths, (std::vector<int>{0, 0, 1024, 2048, 2048}));
  EXPECT_EQ(ui.statuses, (std::vector<std::string>{"", "正在删除区域信息", "正在导入区域信息", "",
                                                   "数据传输完成"}));
  EXPECT_EQ(ui.messages, (decltype(ui.messages){{kNotice, "数据传输完成!"}}));
  ASSERT_EQ(ui.steps.size(), 1U);
  EXPECT_EQ(ui.steps[0].category, "region");
  EXPECT_TRUE(ui.steps[0].ok);
  EXPECT_EQ(ui.steps[0].rows, 2);
  EXPECT_NE(ui.details.find("region"), std::string::npos) << ui.details;
  EXPECT_EQ(ui.busyCalls, (std::vector<bool>{true, false}));

  EXPECT_EQ(regions(db), (std::vector<std::string>{"0101", "02"}));
  EXPECT_EQ(brands(db), (std::vector<std::string>{"0009", "PP"}));
  // The suspension kept the region inserts out of the change log.
  EXPECT_EQ(db.scalar("tillexv8",
                      "SELECT count(*) FROM t_sys_change_log WHERE table_name='t_bd_base_code'"),
            "0");

  // The enabling statements follow the last commit; the close makes them
  // permanent.
  closeSession(*SQLCA);
  EXPECT_TRUE(triggersOff(db).empty());
  EXPECT_FALSE(SQLCA->connected());
}

TEST(RunDriver, FirstSourceRadioButtonReadsTheProSource) {
  DbFolder db;
  seed(db);
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  const RunReport report = runConversion(*SQLCA, ui, tick({"region"}, /*rb_1=*/true));

  EXPECT_EQ(report.is_source, "dravik_pro");
  EXPECT_EQ(regions(db), std::vector<std::string>{"0301"});
}

TEST(RunDriver, BranchPricesGoToSellingBranchesOnlyAndSpareExistingRows) {
  DbFolder db;
  seed(db);
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  runConversion(*SQLCA, ui, tick({"cashier"}));

  const auto rows = db.query("tillexv8",
                             "SELECT branch_no, item_no, supcust_no, sale_way, price, "
                             "branch_sale FROM t_pc_branch_price ORDER BY branch_no, item_no");
  const std::vector<Row> expected = {
      {"0001", "A1", std::nullopt, std::nullopt, "99", std::nullopt},  // untouched
      {"0001", "A2", "S2", "B", "15.25", "1"},                         // trade_type 2: trans_price
      {"0002", "A1", "S1", "A", "10.5", "1"},
      {"0002", "A2", "S2", "B", "15.25", "1"},
  };
  EXPECT_EQ(rows, expected);
  // Branch prices are not among the switched tables: their trigger fired.
  EXPECT_EQ(db.scalar("tillexv8",
                      "SELECT count(*) FROM t_sys_change_log WHERE "
                      "table_name='t_pc_branch_price'"),
            "3");
}

TEST(RunDriver, FailedBranchPriceFillIsReportedAndTheRunStillFinishes) {
  DbFolder db;
  seed(db);
  db.exec("tillexv8",
          "CREATE TRIGGER refuse_prices BEFORE INSERT ON t_pc_branch_price "
          "BEGIN SELECT RAISE(ABORT, 'price rows refused'); END;");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  const RunReport report = runConversion(*SQLCA, ui, tick({"region"}));

  EXPECT_EQ(report.outcome, RunOutcome::Completed);
  EXPECT_TRUE(report.branchPriceFailed);
  ASSERT_EQ(ui.messages.size(), 2U);
  EXPECT_EQ(ui.messages[0].first, kNotice);
  EXPECT_EQ(ui.messages[0].second.rfind("生成分店价格信息失败！\n原因：", 0), 0U)
      << ui.messages[0].second;
  EXPECT_NE(ui.messages[0].second.find("price rows refused"), std::string::npos);
  EXPECT_EQ(ui.messages[1], std::make_pair(std::string(kNotice), std::string("数据传输完成!")));
  EXPECT_EQ(ui.widths.back(), 2048);
  EXPECT_FALSE(ui.busyNow());
  EXPECT_EQ(regions(db), (std::vector<std::string>{"0101", "02"}));
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_pc_branch_price"), "1");
  closeSession(*SQLCA);
  EXPECT_TRUE(triggersOff(db).empty());
}

TEST(RunDriver, StepFailingBeforeTheFirstCommitUndoesTheSuspension) {
  DbFolder db;
  seed(db);
  // Both become region 0101: the target's key refuses the second.
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('010102', 'north too');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  const RunReport report = runConversion(*SQLCA, ui, tick({"region", "cashier"}));

  EXPECT_EQ(report.outcome, RunOutcome::StepFailed);
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"导入区域信息失败！"});
  ASSERT_EQ(ui.steps.size(), 1U);  // the cashiers never ran
  EXPECT_FALSE(ui.steps[0].ok);
  EXPECT_FALSE(ui.busyNow());
  EXPECT_EQ(ui.widths.back(), 512);  // the bar keeps the moment of failure (5 / 20)
  EXPECT_EQ(regions(db), std::vector<std::string>{"9901"});
  EXPECT_EQ(cashiers(db), (std::vector<std::string>{"0001", "9999"}));
  EXPECT_TRUE(triggersOff(db).empty());
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_pc_branch_price"), "1");
}

TEST(RunDriver, StepFailingAfterAnEarlierCommitLeavesTriggersOffUntilClose) {
  DbFolder db;
  seed(db);
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('010102', 'north too');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  const RunReport report = runConversion(*SQLCA, ui, tick({"pp", "region"}));

  EXPECT_EQ(report.outcome, RunOutcome::StepFailed);
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"导入区域信息失败！"});
  EXPECT_EQ(brands(db), (std::vector<std::string>{"0001", "PP"}));  // committed by its step
  EXPECT_EQ(regions(db), std::vector<std::string>{"9901"});
  EXPECT_EQ(triggersOff(db), kAllSwitched);

  closeSession(*SQLCA);
  EXPECT_TRUE(triggersOff(db).empty());
}

// Fails each statement of a run in turn and checks that every category is
// either wholly converted or wholly as before, as the commit points promise.
TEST(RunDriver, AFailureAtAnyStatementLeavesEachCategoryWholeOldOrWholeNew) {
  struct Phase {
    std::size_t statements;  // how many statements it sends
    std::string name;
  };
  // pp, region and cashier run in this order, two statements each. The
  // counts of the verification (one select each: an open and two fetches)
  // come before the suspension (the rows that pp and cashier spare) and
  // after the last commit (the source, target and kept rows of each
  // category); a failing count flags the verification, never fails a run.
  const std::vector<Phase> phases = {{6, "baseline"}, {8, "disable"}, {2, "pp"},
                                     {2, "region"},   {2, "cashier"}, {1, "branch price"},
                                     {9, "verify"},   {8, "enable"}};
  // One seeded folder, restored from a copy before every run.
  DbFolder db;
  seed(db);
  const std::vector<std::string> databases = {"tillexv8", "dravik_pro", "dravik_std"};
  for (const auto& name : databases) {
    std::filesystem::copy_file(db.file(name), db.file(name) + ".seeded");
  }
  std::size_t n = 0;
  for (const auto& phase : phases) {
    for (std::size_t k = 0; k < phase.statements; ++k) {
      ++n;
      SCOPED_TRACE("statement " + std::to_string(n) + " in " + phase.name);
      for (const auto& name : databases) {
        // Removed first: MinGW's libstdc++ refuses to overwrite with copy_file.
        std::filesystem::remove(db.file(name));
        std::filesystem::copy_file(db.file(name) + ".seeded", db.file(name));
      }
      FailingSession SQLCA(db.connect());
      SQLCA.failStatement(n);
      RecordingRunUi ui;

      const RunReport report = runConversion(SQLCA, ui, tick({"pp", "region", "cashier"}));
      closeSession(SQLCA);

      const bool stepFailed =
          phase.name == "pp" || phase.name == "region" || phase.name == "cashier";
      EXPECT_EQ(report.outcome, stepFailed ? RunOutcome::StepFailed : RunOutcome::Completed);
      const bool ppNew = phase.name != "pp";
      const bool regionNew = ppNew && phase.name != "region";
      const bool cashierNew = regionNew && phase.name != "cashier";
      using Codes = std::vector<std::string>;
      EXPECT_EQ(brands(db), (ppNew ? Codes{"0001", "PP"} : Codes{"0009", "PP"}));
      EXPECT_EQ(regions(db), (regionNew ? Codes{"0101", "02"} : Codes{"9901"}));
      EXPECT_EQ(cashiers(db), (cashierNew ? Codes{"0002", "9999"} : Codes{"0001", "9999"}));
      EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_pc_branch_price"),
                stepFailed || phase.name == "branch price" ? "1" : "4");
      // One enabling statement that did not reach the database leaves its
      // table switched off only when it was the one that failed; the close
      // sequence switches it on again.
      EXPECT_TRUE(triggersOff(db).empty());
      EXPECT_FALSE(ui.busyNow());
    }
  }
  EXPECT_EQ(n, 38U);
}

TEST(RunDriver, OperatorStopEndsTheRunLikeAFailedStep) {
  DbFolder db;
  seed(db);
  auto SQLCA = db.connect();
  RecordingRunUi ui;
  // The stop arrives while the brands step works: its refill is refused
  // (the count of the brands that the run will spare, eight trigger
  // switches, the brands' delete, then the refill).
  std::size_t statements = 0;
  SQLCA->setInterruptCheck([&] {
    ui.stop = ++statements > 10;
    return ui.stop;
  });

  const RunReport report = runConversion(*SQLCA, ui, tick({"pp", "region"}));
  SQLCA->setInterruptCheck(nullptr);
  closeSession(*SQLCA);

  EXPECT_EQ(report.outcome, RunOutcome::StepFailed);
  EXPECT_TRUE(report.interrupted);
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"导入商品品牌信息失败！"});
  EXPECT_EQ(brands(db), (std::vector<std::string>{"0009", "PP"}));
  EXPECT_EQ(regions(db), std::vector<std::string>{"9901"});
  EXPECT_TRUE(triggersOff(db).empty());
}

TEST(TriggerSuspension, AMissingTableIsSkippedAndTheRestStillSwitch) {
  DbFolder db;
  db.exec("tillexv8", "DROP TABLE t_rm_saleflow;");
  auto SQLCA = db.connect();

  wf_disable_trigger(*SQLCA);
  SQLCA->commit();
  std::vector<std::string> expected = kAllSwitched;
  std::erase(expected, "t_rm_saleflow");
  EXPECT_EQ(triggersOff(db), expected);

  // Switching twice is harmless; a rollback undoes a pending switch.
  wf_disable_trigger(*SQLCA);
  wf_enable_trigger(*SQLCA);
  SQLCA->rollback();
  EXPECT_EQ(triggersOff(db), expected);
  wf_enable_trigger(*SQLCA);
  SQLCA->commit();
  EXPECT_TRUE(triggersOff(db).empty());
}

TEST(CloseSession, IsSilentWithoutAConnection) {
  auto SQLCA = makeSession("SQLite");
  closeSession(*SQLCA);
  EXPECT_FALSE(SQLCA->connected());
}

}  // namespace
}  // namespace cvt
