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

// Item W is a weighed item (num3 = 1) whose numbers the items step swapped:
// its current number is 'W', its former number 'WOLD' is the sub-number.
// Item N (num3 = 0) has sub-number 'NSUB' and must not pull prices over.
constexpr const char* kTargetSeed = R"SQL(
INSERT INTO t_rm_spec_price(branch_no, item_no, special_type, start_date)
VALUES ('00', 'STALE', '2', '2001-01-01');
INSERT INTO t_bd_item_info(item_no, item_subno, num3)
VALUES ('W', 'WOLD', 1), ('N', 'NSUB', 0);
)SQL";

constexpr const char* kSourceSeed = R"SQL(
INSERT INTO pos_t_spec_price(branch_no, item_no, special_type, old_price, spe_price, discount,
                             sale_qnty, sold_qnty, start_date, end_date, other1, other2, other3)
VALUES ('00', 'WOLD', '2', 10.5, 8.25, 0.8, 100, 12.5, '2024-01-01', '2024-02-01', 'a', 'b', 'c'),
       ('00', 'NSUB', '2', 3, 2, 1, NULL, NULL, '2024-01-01', NULL, NULL, NULL, NULL),
       ('00', 'P1', '1', 3, 2, 1, NULL, NULL, '2024-01-01', NULL, NULL, NULL, NULL),
       ('00', 'P3', '3', 3, 2, 1, NULL, NULL, '2024-01-01', NULL, NULL, NULL, NULL);
)SQL";

struct PriceRun {
  std::string source;
  bool ticked;
  std::vector<std::string> items;  // item numbers afterwards, sorted
};

class SpecPriceStep : public ::testing::TestWithParam<PriceRun> {};

TEST_P(SpecPriceStep, RefillsTypeTwoAndMovesWeighedItemsWhenTicked) {
  const PriceRun& run = GetParam();
  DbFolder db;
  db.exec("tillexv8", kTargetSeed);
  db.exec(run.source, kSourceSeed);
  const std::string other = run.source == "dravik_pro" ? "dravik_std" : "dravik_pro";
  db.exec(other,
          "INSERT INTO pos_t_spec_price(branch_no, item_no, special_type, start_date) "
          "VALUES ('00', 'WRONG', '2', '2024-01-01')");

  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 50, run.ticked};
  ASSERT_TRUE(wf_convert_spec_price(ctx, run.source));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ctx.rowsWritten, 2);

  const auto rows = db.query("tillexv8", "SELECT item_no FROM t_rm_spec_price ORDER BY item_no");
  std::vector<std::string> items;
  for (const auto& r : rows) {
    items.push_back(*r[0]);
  }
  EXPECT_EQ(items, run.items);

  // Every column carried, the quantities under their target names.
  const auto full = db.query(
      "tillexv8",
      "SELECT branch_no, special_type, old_price, spe_price, discount, sale_qty, sold_qty, "
      "start_date, end_date, other1, other2, other3 FROM t_rm_spec_price WHERE old_price = 10.5");
  ASSERT_EQ(full.size(), 1U);
  EXPECT_EQ(full[0], (Row{"00", "2", "10.5", "8.25", "0.8", "100", "12.5", "2024-01-01",
                          "2024-02-01", "a", "b", "c"}));

  EXPECT_EQ(ui.statuses,
            (std::vector<std::string>{"正在删除销售特价信息", "正在导入销售特价信息", ""}));
  EXPECT_EQ(ui.values, (std::vector<float>{0.0F, shareOf(10, 50), shareOf(40, 50)}));
}

INSTANTIATE_TEST_SUITE_P(Cases, SpecPriceStep,
                         ::testing::Values(PriceRun{"dravik_pro", false, {"NSUB", "WOLD"}},
                                           PriceRun{"dravik_pro", true, {"NSUB", "W"}},
                                           PriceRun{"dravik_std", false, {"NSUB", "WOLD"}},
                                           PriceRun{"dravik_std", true, {"NSUB", "W"}}));

TEST(SpecPriceStepFailure, ShowsTheTextsWithAsciiBangAndCommitsNothing) {
  struct Case {
    const char* name;
    const char* database;
    const char* setup;
    bool ticked;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"clear", "tillexv8",
       "CREATE TRIGGER f BEFORE DELETE ON t_rm_spec_price BEGIN SELECT RAISE(ABORT, 'no'); END;",
       false, "删除销售特价信息失败!"},
      {"refill", "dravik_pro", "DROP TABLE pos_t_spec_price", false, "导入销售特价信息失败!"},
      // The move of weighed items' prices has no text of its own.
      {"move", "tillexv8",
       "CREATE TRIGGER f BEFORE UPDATE ON t_rm_spec_price BEGIN SELECT RAISE(ABORT, 'no'); END;",
       true, "导入销售特价信息失败!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("tillexv8", kTargetSeed);
    db.exec("dravik_pro", kSourceSeed);
    db.exec(c.database, c.setup);
    auto SQLCA = db.connect();
    RecordingStepUi ui;
    StepContext ctx{*SQLCA, ui, 50, c.ticked};
    EXPECT_FALSE(wf_convert_spec_price(ctx, "dravik_pro"));
    EXPECT_EQ(ui.messages, (std::vector<std::pair<std::string, std::string>>{{"提示", c.message}}));
    SQLCA->rollback();
    EXPECT_EQ(db.scalar("tillexv8", "SELECT group_concat(item_no) FROM t_rm_spec_price"), "STALE");
  }
}

// The items step of the same run gives a weighed item its self-assigned
// code as number; its special price follows it there.
TEST(SpecPriceStepAfterItems, PriceFollowsTheSwappedWeighedItem) {
  DbFolder db;
  db.exec("dravik_pro", R"SQL(
    INSERT INTO bi_t_item_info(item_no, item_subno, flag2) VALUES ('A', 'B', 'Z'), ('P', 'Q', NULL);
    INSERT INTO pos_t_spec_price(branch_no, item_no, special_type, spe_price, start_date)
    VALUES ('00', 'A', '2', 5, '2024-01-01'), ('00', 'P', '2', 6, '2024-01-01');
  )SQL");
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 150, true};
  ASSERT_TRUE(wf_convert_item_info(ctx, "dravik_pro"));
  ASSERT_TRUE(wf_convert_spec_price(ctx, "dravik_pro"));
  EXPECT_TRUE(ui.messages.empty());

  EXPECT_EQ(db.query("tillexv8", "SELECT item_no, spe_price FROM t_rm_spec_price ORDER BY 1"),
            (std::vector<Row>{{"B", "5"}, {"P", "6"}}));
  EXPECT_EQ(db.scalar("tillexv8", "SELECT item_no FROM t_bd_item_info WHERE item_subno = 'A'"),
            "B");
}

}  // namespace
}  // namespace cvt
