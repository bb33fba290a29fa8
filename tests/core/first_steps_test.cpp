// The regions, brands and cashiers steps, called on their own as the run
// driver calls them, on real target and source tables.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingRunUi;

bool callStep(StepFn step, Session& SQLCA, RecordingRunUi& ui, const std::string& as_source,
              long idec_count = 10) {
  StepContext ctx{SQLCA, ui, idec_count, false, 0};
  const bool ok = step(ctx, as_source);
  ui.steps.push_back({"", ok, ctx.rowsWritten, 0});
  return ok;
}

std::vector<Row> rows(const DbFolder& db, const std::string& sql) {
  return db.query("tillexv8", sql);
}

struct StepCase {
  const char* name;
  StepFn step;
  std::vector<std::string> statuses;  // before clearing, before refilling
  std::string deleteFailed;
  std::string importFailed;
  const char* targetTable;
  const char* countSql;  // the category's rows in the target
};

const std::vector<StepCase>& stepCases() {
  static const std::vector<StepCase> kCases = {
      {"regions",
       wf_convert_region_info,
       {"正在删除区域信息", "正在导入区域信息"},
       "删除区域信息失败！",
       "导入区域信息失败！",
       "t_bd_base_code",
       "SELECT count(*) FROM t_bd_base_code WHERE type_no='RG'"},
      {"brands",
       wf_convert_item_pp,
       {"正在删除商品品牌信息", "正在导入商品品牌信息"},
       "删除商品品牌信息失败！",
       "导入商品品牌信息失败！",
       "t_bd_base_code",
       "SELECT count(*) FROM t_bd_base_code WHERE type_no='PP'"},
      {"cashiers",
       wf_convert_cashier,
       {"正在删除收银员信息", "正在导入收银员信息"},
       "删除收银员信息失败！",
       "导入收银员信息失败！",
       "t_rm_cashier",
       "SELECT count(*) FROM t_rm_cashier"},
  };
  return kCases;
}

TEST(FirstSteps, EmptySourceSucceedsWithTheSkeletonsTextsAndShares) {
  for (const auto& c : stepCases()) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("tillexv8",
            "INSERT INTO t_bd_base_code(type_no, code_id) VALUES ('RG', '01'), ('PP', '0001');"
            "INSERT INTO t_rm_cashier(cashier_id) VALUES ('0001');");
    auto SQLCA = db.connect();
    RecordingRunUi ui;

    EXPECT_TRUE(callStep(c.step, *SQLCA, ui, "dravik_std", /*idec_count=*/100));

    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(ui.statuses, (std::vector<std::string>{c.statuses[0], c.statuses[1], ""}));
    // 5 / 100 of a 2048-wide track twice, each call truncating.
    EXPECT_EQ(ui.widths, (std::vector<int>{0, 102, 204}));
    // Committed by the step itself: visible to another connection.
    EXPECT_EQ(db.scalar("tillexv8", c.countSql), "0");
  }
}

TEST(FirstSteps, FailedClearingShowsTheDeleteTextAndStops) {
  for (const auto& c : stepCases()) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("tillexv8", std::string("DROP TABLE ") + c.targetTable + ";");
    auto SQLCA = db.connect();
    RecordingRunUi ui;

    EXPECT_FALSE(callStep(c.step, *SQLCA, ui, "dravik_pro"));

    EXPECT_EQ(ui.messages, (decltype(ui.messages){{"提示", c.deleteFailed}}));
    EXPECT_EQ(ui.statuses, std::vector<std::string>{c.statuses[0]});
  }
}

TEST(Regions, CodesAreCutToFourCharactersFromTheChosenSource) {
  DbFolder db;
  db.exec("tillexv8",
          "INSERT INTO t_bd_base_code(type_no, code_id, code_name) VALUES "
          "('RG', '77', 'old'), ('PP', '0001', 'brand'), ('PP', 'PP', 'brand PP');");
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('01', 'short'), ('020304', 'long');");
  db.exec("dravik_pro", "INSERT INTO bi_t_region_info VALUES ('0909', 'pro only');");
  auto SQLCA = db.connect();

  for (const auto& [source, expected] : std::vector<std::pair<std::string, std::vector<Row>>>{
           {"dravik_std", {{"RG", "01", "short"}, {"RG", "0203", "long"}}},
           {"dravik_pro", {{"RG", "0909", "pro only"}}}}) {
    SCOPED_TRACE(source);
    RecordingRunUi ui;
    EXPECT_TRUE(callStep(wf_convert_region_info, *SQLCA, ui, source));
    EXPECT_EQ(rows(db,
                   "SELECT type_no, code_id, code_name FROM t_bd_base_code "
                   "WHERE type_no='RG' ORDER BY code_id"),
              expected);
    EXPECT_EQ(ui.steps.back().rows, static_cast<long long>(expected.size()));
  }
  EXPECT_EQ(rows(db, "SELECT code_id FROM t_bd_base_code WHERE type_no='PP' ORDER BY code_id"),
            (std::vector<Row>{{"0001"}, {"PP"}}));
}

TEST(Regions, DuplicateCodeFailsWithoutRollingBackItself) {
  DbFolder db;
  db.exec("tillexv8",
          "INSERT INTO t_bd_base_code(type_no, code_id, code_name) VALUES ('RG', '77', 'old');");
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101', 'a'), ('010102', 'b');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  EXPECT_FALSE(callStep(wf_convert_region_info, *SQLCA, ui, "dravik_std"));

  EXPECT_EQ(ui.messages, (decltype(ui.messages){{"提示", "导入区域信息失败！"}}));
  EXPECT_EQ(ui.widths, (std::vector<int>{0, 1024}));  // not advanced after the failure
  // The clearing is still pending in the session: rolling back is the
  // driver's job, not the step's.
  Value pending;
  SQLCA->selectInto("select count(*) from t_bd_base_code where type_no='RG'", {}, {&pending});
  EXPECT_EQ(pending, "0");
  SQLCA->rollback();
  EXPECT_EQ(rows(db, "SELECT code_id, code_name FROM t_bd_base_code"),
            (std::vector<Row>{{"77", "old"}}));
}

TEST(Brands, OnlyFiveCharacterFlaggedCodesBelow9999BecomeBrands) {
  DbFolder db;
  db.exec("tillexv8",
          "INSERT INTO t_bd_base_code(type_no, code_id, code_name) VALUES "
          "('PP', 'PP', 'kept'), ('PP', '0777', 'old'), ('RG', '01', 'region');");
  db.exec("dravik_pro", R"SQL(
    INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag) VALUES
      ('10001', 'five', '1'),
      ('2002 ', 'four with a blank', '1'),
      ('3003', 'four', '1'),
      ('400004', 'six', '1'),
      ('99999', 'at or above 9999', '1'),
      ('50005', 'not a brand', '0');
  )SQL");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  EXPECT_TRUE(callStep(wf_convert_item_pp, *SQLCA, ui, "dravik_pro"));

  EXPECT_EQ(rows(db,
                 "SELECT type_no, code_id, code_name, english_name, code_type "
                 "FROM t_bd_base_code ORDER BY type_no, code_id"),
            (std::vector<Row>{{"PP", "0001", "five", "", "品牌"},
                              {"PP", "PP", "kept", std::nullopt, std::nullopt},
                              {"RG", "01", "region", std::nullopt, std::nullopt}}));
}

TEST(Brands, TwoSourceBrandsWithTheSameLastFourFail) {
  DbFolder db;
  db.exec("tillexv8", "INSERT INTO t_bd_base_code(type_no, code_id) VALUES ('PP', '0777');");
  db.exec("dravik_std",
          "INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag) VALUES "
          "('10001', 'a', '1'), ('20001', 'b', '1');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  EXPECT_FALSE(callStep(wf_convert_item_pp, *SQLCA, ui, "dravik_std"));
  EXPECT_EQ(ui.messages, (decltype(ui.messages){{"提示", "导入商品品牌信息失败！"}}));
  SQLCA->rollback();
  EXPECT_EQ(rows(db, "SELECT code_id FROM t_bd_base_code"), (std::vector<Row>{{"0777"}}));
}

TEST(Cashiers, KeepCashier9999AndTakeTheirNumbersAsPasswords) {
  DbFolder db;
  db.exec("tillexv8",
          "INSERT INTO t_rm_cashier(cashier_id, cashier_name, cashier_pw) VALUES "
          "('9999', 'admin', 'secret'), ('0001', 'gone', 'x');");
  db.exec("dravik_std",
          "INSERT INTO pos_t_cashier VALUES ('0002', 'anna', 'her own', '1'), "
          "('0003', 'ben', NULL, '0');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  EXPECT_TRUE(callStep(wf_convert_cashier, *SQLCA, ui, "dravik_std"));

  EXPECT_EQ(
      rows(db,
           "SELECT cashier_id, cashier_name, cashier_pw, cashier_grant, "
           "cashier_status, discount_rate FROM t_rm_cashier ORDER BY cashier_id"),
      (std::vector<Row>{{"0002", "anna", "0002", "00000000000000000", "1", "1"},
                        {"0003", "ben", "0003", "00000000000000000", "0", "1"},
                        {"9999", "admin", "secret", std::nullopt, std::nullopt, std::nullopt}}));
}

TEST(Cashiers, SourceCashier9999CollidesWithTheKeptOne) {
  DbFolder db;
  db.exec("tillexv8", "INSERT INTO t_rm_cashier(cashier_id) VALUES ('9999'), ('0001');");
  db.exec("dravik_pro", "INSERT INTO pos_t_cashier VALUES ('9999', 'boss', 'pw', '1');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  EXPECT_FALSE(callStep(wf_convert_cashier, *SQLCA, ui, "dravik_pro"));
  EXPECT_EQ(ui.messages, (decltype(ui.messages){{"提示", "导入收银员信息失败！"}}));
  SQLCA->rollback();
  EXPECT_EQ(rows(db, "SELECT cashier_id FROM t_rm_cashier ORDER BY cashier_id"),
            (std::vector<Row>{{"0001"}, {"9999"}}));
}

}  // namespace
}  // namespace cvt
