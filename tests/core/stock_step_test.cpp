#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingStepUi;

// Old flow and branch stock rows that the step clears; a weighed item W
// (num3 = 1) whose former number WOLD is now its sub-number, and an
// ordinary item N whose sub-number NSUB must not pull rows over.
constexpr const char* kTargetSeed = R"SQL(
INSERT INTO t_im_flow(voucher_no, item_no, real_qty) VALUES ('OLD', 'STALE', 1);
INSERT INTO t_im_branch_stock(branch_no, item_no, stock_qty) VALUES ('0001', 'STALE', 1);
INSERT INTO t_bd_item_info(item_no, item_subno, num3, main_supcust)
VALUES ('W', 'WOLD', 1, '0'), ('N', 'NSUB', 0, '0');
)SQL";

constexpr const char* kSourceSeed = R"SQL(
INSERT INTO bi_t_item_info(item_no, sup_no)
VALUES ('NEG', 'S001'), ('ZERO', 'SUPPLIER-LONGER'), ('NULLQ', NULL), ('NULLC', 'S002'),
       ('FRAC', 'S003'), ('WOLD', 'S004'), ('NSUB', 'S005');
INSERT INTO ic_t_branch_stock(branch_no, item_no, stock_qty, cost_price)
VALUES ('00', 'NEG', -3, 2),
       ('00', 'ZERO', 0, 5),
       ('00', 'NULLQ', NULL, 4),
       ('00', 'NULLC', 7, NULL),
       ('00', 'FRAC', 2.5, 1.1),
       ('00', 'WOLD', 1, 1),
       ('00', 'NSUB', 1, 1),
       ('00', 'NOITEM', 9, 9),
       ('01', 'NEG', 50, 50);
)SQL";

struct StockRun {
  std::string source;
  bool ticked;
};

class StockStep : public ::testing::TestWithParam<StockRun> {};

TEST_P(StockStep, WritesStockTakeRowsOfBranchZeroZero) {
  const StockRun& run = GetParam();
  DbFolder db;
  db.exec("tillexv8", kTargetSeed);
  db.exec(run.source, kSourceSeed);
  const std::string other = run.source == "dravik_pro" ? "dravik_std" : "dravik_pro";
  db.exec(other,
          "INSERT INTO bi_t_item_info(item_no) VALUES ('WRONG');"
          "INSERT INTO ic_t_branch_stock(branch_no, item_no, stock_qty) VALUES ('00', 'WRONG', 1)");

  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 100, run.ticked};
  ASSERT_TRUE(wf_convert_stock(ctx, run.source));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ctx.rowsWritten, 7);

  const std::string weighed = run.ticked ? "W" : "WOLD";
  // item_no, real_qty, price, sheet_amt, db_no, supcust_no
  const std::vector<Row> expected = {
      {"FRAC", "2.5", "1.1", "2.75", "+", "S003"},
      {"NEG", "3", "2", "6", "-", "S001"},
      {"NSUB", "1", "1", "1", "+", "S005"},
      {"NULLC", "7", "0", "0", "+", "S002"},
      {"NULLQ", "0", "4", "0", "+", std::nullopt},
      {weighed, "1", "1", "1", "+", "S004"},
      {"ZERO", "0", "5", "0", "+", "SUPPLIER-LONGER"},
  };
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT item_no, real_qty, price, sheet_amt, db_no, supcust_no FROM t_im_flow "
                     "ORDER BY item_no COLLATE BINARY"),
            expected);

  // The constant columns of a stock-take row in warehouse 0001.
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT DISTINCT voucher_no, branch_no, d_branch_no, trans_no, sale_way, "
                     "oper_id, oper_date IS NOT NULL FROM t_im_flow"),
            (std::vector<Row>{{"PD", "0001", "", "PD", "A", "1001", "1"}}));
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_im_branch_stock"), "0");

  EXPECT_EQ(ui.statuses, (std::vector<std::string>{"正在删除库存流水数据", "正在删除库存数据信息",
                                                   "正在导入库存数据信息", ""}));
  EXPECT_EQ(ui.values,
            (std::vector<float>{0.0F, shareOf(40, 100), shareOf(10, 100), shareOf(50, 100)}));
}

INSTANTIATE_TEST_SUITE_P(Cases, StockStep,
                         ::testing::Values(StockRun{"dravik_pro", false},
                                           StockRun{"dravik_pro", true},
                                           StockRun{"dravik_std", false},
                                           StockRun{"dravik_std", true}));

TEST(StockStepFailure, ShowsTheTextOfTheMomentAndCommitsNothing) {
  struct Case {
    const char* name;
    const char* database;
    const char* setup;
    bool ticked;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"flow clear", "tillexv8",
       "CREATE TRIGGER f BEFORE DELETE ON t_im_flow BEGIN SELECT RAISE(ABORT, 'no'); END;", false,
       "删除库存流水数据失败！"},
      {"branch stock clear", "tillexv8",
       "CREATE TRIGGER f BEFORE DELETE ON t_im_branch_stock BEGIN SELECT RAISE(ABORT, 'no'); END;",
       false, "删除库存数据信息失败！"},
      {"refill", "dravik_pro", "DROP TABLE ic_t_branch_stock", false, "导入库存数据信息失败！"},
      {"move", "tillexv8",
       "CREATE TRIGGER f BEFORE UPDATE ON t_im_flow BEGIN SELECT RAISE(ABORT, 'no'); END;", true,
       "导入库存数据信息失败!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("tillexv8", kTargetSeed);
    db.exec("dravik_pro", kSourceSeed);
    db.exec(c.database, c.setup);
    auto SQLCA = db.connect();
    RecordingStepUi ui;
    StepContext ctx{*SQLCA, ui, 100, c.ticked};
    EXPECT_FALSE(wf_convert_stock(ctx, "dravik_pro"));
    EXPECT_EQ(ui.messages, (std::vector<std::pair<std::string, std::string>>{{"提示", c.message}}));
    SQLCA->rollback();
    EXPECT_EQ(db.scalar("tillexv8", "SELECT group_concat(item_no) FROM t_im_flow"), "STALE");
    EXPECT_EQ(db.scalar("tillexv8", "SELECT group_concat(item_no) FROM t_im_branch_stock"),
              "STALE");
  }
}

// The items step of the same run gives a weighed item its self-assigned
// code as number; its stock follows it there.
TEST(StockStepAfterItems, FlowFollowsTheSwappedWeighedItem) {
  DbFolder db;
  db.exec("dravik_pro", R"SQL(
    INSERT INTO bi_t_item_info(item_no, item_subno, flag2, sup_no)
    VALUES ('A', 'B', 'Z', 'S1'), ('P', 'Q', NULL, 'S2');
    INSERT INTO ic_t_branch_stock(branch_no, item_no, stock_qty, cost_price)
    VALUES ('00', 'A', 4, 2), ('00', 'P', 1, 1);
  )SQL");
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 200, true};
  ASSERT_TRUE(wf_convert_item_info(ctx, "dravik_pro"));
  ASSERT_TRUE(wf_convert_stock(ctx, "dravik_pro"));
  EXPECT_TRUE(ui.messages.empty());

  EXPECT_EQ(db.query("tillexv8", "SELECT item_no, real_qty, sheet_amt FROM t_im_flow ORDER BY 1"),
            (std::vector<Row>{{"B", "4", "8"}, {"P", "1", "1"}}));
}

}  // namespace
}  // namespace cvt
