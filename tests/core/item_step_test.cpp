#include <gtest/gtest.h>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingStepUi;

constexpr const char* kSourceColumns =
    "(item_no, item_subno, item_name, item_subname, item_clsno, item_brand, item_brandname, "
    "unit_no, item_size, product_area, price, base_price, sale_price, vip_price, ly_deduct, "
    "combine_sta, status, display_flag, other1, other2, other3, num1, num2, sup_no, flag2)";

// The target columns the refill writes, in a fixed order for comparisons.
constexpr const char* kTargetColumns =
    "item_no, item_subno, item_name, item_subname, item_clsno, item_brand, item_brandname, "
    "unit_no, item_size, product_area, price, base_price, sale_price, combine_sta, status, "
    "display_flag, other1, other2, other3, num1, num2, main_supcust, item_sup_flag, sup_ly_rate, "
    "vip_price, dpfm_type, vip_acc_flag, num3";

class ItemStepTest : public ::testing::Test {
 protected:
  // One source row; `flag2` and the numbers vary per test.
  void addItem(const std::string& source, const std::string& itemNo, const std::string& subNo,
               const std::string& flag2, const std::string& brand = "NULL",
               const std::string& other2 = "'o2'") {
    db.exec(source, "INSERT INTO bi_t_item_info " + std::string(kSourceColumns) + " VALUES ('" +
                        itemNo + "', " + subNo + ", 'n', NULL, '01', " + brand +
                        ", NULL, NULL, NULL, NULL, 1, 1, 1, 1, 0, '0', '1', '1', NULL, " + other2 +
                        ", NULL, NULL, NULL, '1', " + flag2 + ");");
  }

  bool run(const std::string& source, bool ticked = false) {
    if (!SQLCA) {
      SQLCA = db.connect();
    }
    StepContext ctx{*SQLCA, ui, 100, ticked};
    return wf_convert_item_info(ctx, source);
  }

  // item_no, item_subno, other2 of the target row numbered `itemNo`.
  Row numbers(const std::string& itemNo) {
    const auto rows = db.query(
        "tillexv8",
        "SELECT item_no, item_subno, other2 FROM t_bd_item_info WHERE item_no = '" + itemNo + "'");
    return rows.empty() ? Row{} : rows.front();
  }

  DbFolder db;
  RecordingStepUi ui;
  std::unique_ptr<Session> SQLCA;
};

Row row(std::initializer_list<Value> values) { return Row(values); }

TEST_F(ItemStepTest, EachSourceFillsEveryColumnOfItsMap) {
  for (const std::string source : {"dravik_pro", "dravik_std"}) {
    db.exec(source, "INSERT INTO bi_t_item_info " + std::string(kSourceColumns) +
                        " VALUES "
                        "('1001', '2001', 'name', 'sub', '0101', 'QS', 'bn', 'pcs', '500g', "
                        " 'here', 12.5, 10.25, 11, 9.9, 0.15, '0', '1', '1', 'o1', 'o2', 'o3', "
                        " 1.5, 2, '12345678', NULL),"
                        "('1002', NULL, 'nulls', NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                        " NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                        " NULL, NULL, NULL, 'X'),"
                        "('1003', '3', 'long sup', NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                        " 1, 1, 1, 1, 1, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
                        " '123456789', 'X');");
  }
  db.exec("tillexv8", "INSERT INTO t_bd_item_info (item_no) VALUES ('old');");

  struct Case {
    std::string source;
    Row full;            // item 1001
    Row nulls;           // item 1002
    Value longSupplier;  // main_supcust of item 1003
  };
  const Case cases[] = {
      {"dravik_pro",
       row({"1001", "2001",     "name", "sub",  "0101", "QS", "bn", "pcs", "500g", "here",
            "12.5", "10.25",    "11",   "0",    "1",    "1",  "o1", "o2",  "o3",   "1.5",
            "2",    "12345678", "A",    "0.15", "9.9",  "0",  "0",  "0"}),
       row({"1002",       "0",          "nulls",      std::nullopt, std::nullopt, std::nullopt,
            std::nullopt, std::nullopt, std::nullopt, std::nullopt, "0",          "0",
            "0",          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
            std::nullopt, std::nullopt, std::nullopt, "0",          "A",          std::nullopt,
            std::nullopt, "0",          "0",          "0"}),
       "0"},
      {"dravik_std",
       row({"1001", "2001",     "name", "sub", "0101", "PP", "bn", "pcs", "500g", "here",
            "12.5", "10.25",    "11",   "0",   "1",    "1",  "o1", "o2",  "o3",   "1.5",
            "2",    "12345678", "A",    "0",   "0",    "0",  "0",  "0"}),
       row({"1002",       "0",          "nulls",      std::nullopt, std::nullopt, std::nullopt,
            std::nullopt, std::nullopt, std::nullopt, std::nullopt, "0",          "0",
            "0",          std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
            std::nullopt, std::nullopt, std::nullopt, "0",          "A",          "0",
            "0",          "0",          "0",          "0"}),
       "0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    ui = RecordingStepUi();
    ASSERT_TRUE(run(c.source));
    EXPECT_TRUE(ui.messages.empty());
    SQLCA->rollback();  // what the step committed is all that remains
    const std::string select = "SELECT " + std::string(kTargetColumns) + " FROM t_bd_item_info ";
    EXPECT_EQ(db.query("tillexv8", select + "WHERE item_no = '1001'"), std::vector<Row>{c.full});
    EXPECT_EQ(db.query("tillexv8", select + "WHERE item_no = '1002'"), std::vector<Row>{c.nulls});
    EXPECT_EQ(db.scalar("tillexv8", "SELECT main_supcust FROM t_bd_item_info WHERE item_no='1003'"),
              c.longSupplier);
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_item_info"), "3");  // 'old' gone
  }
  const std::vector<std::string> statuses = {"正在删除商品信息", "正在导入商品信息",
                                             "正在修改商品信息", "正在修改商品信息",
                                             "正在修改商品信息", ""};
  EXPECT_EQ(ui.statuses, statuses);
  const std::vector<float> values = {0.0F, 0.1F, 0.7F, 0.05F, 0.05F, 0.05F};
  EXPECT_EQ(ui.values, values);
}

TEST_F(ItemStepTest, NumThreeComesFromFlag2OnlyForPro) {
  for (const std::string source : {"dravik_pro", "dravik_std"}) {
    addItem(source, "Z1", "'s'", "'Z'");
    addItem(source, "J1", "'s'", "'J'");
    addItem(source, "X1", "'s'", "'X'");
    addItem(source, "N1", "'s'", "NULL");
  }
  const std::string select = "SELECT item_no, num3 FROM t_bd_item_info ORDER BY item_no";
  ASSERT_TRUE(run("dravik_pro"));
  EXPECT_EQ(db.query("tillexv8", select), (std::vector<Row>{row({"J1", "2"}), row({"N1", "0"}),
                                                            row({"X1", "0"}), row({"Z1", "1"})}));
  ASSERT_TRUE(run("dravik_std"));
  EXPECT_EQ(db.query("tillexv8", select), (std::vector<Row>{row({"J1", "0"}), row({"N1", "0"}),
                                                            row({"X1", "0"}), row({"Z1", "0"})}));
}

TEST_F(ItemStepTest, BrandCodesOfFiveCharactersBelow9999KeepTheirLastFour) {
  struct Case {
    std::string source;
    std::string brand;
    Value stored;
  };
  const Case cases[] = {
      {"dravik_pro", "'12345'", "2345"},    {"dravik_pro", "'1234'", "1234"},
      {"dravik_pro", "'99999'", "99999"},   {"dravik_pro", "NULL", std::nullopt},
      {"dravik_pro", "'QS'", "QS"},         {"dravik_std", "'12345'", "2345"},
      {"dravik_std", "'99999'", "99999"},   {"dravik_std", "'QS'", "PP"},
      {"dravik_std", "NULL", std::nullopt},
  };
  int n = 0;
  for (const auto& c : cases) {
    addItem(c.source, "B" + std::to_string(n++), "'s'", "NULL", c.brand);
  }
  for (const std::string source : {"dravik_pro", "dravik_std"}) {
    ASSERT_TRUE(run(source));
    SQLCA->rollback();
    n = 0;
    for (const auto& c : cases) {
      const std::string itemNo = "B" + std::to_string(n++);
      if (c.source != source) {
        continue;
      }
      SCOPED_TRACE(source + " " + c.brand);
      EXPECT_EQ(db.scalar("tillexv8",
                          "SELECT item_brand FROM t_bd_item_info WHERE item_no = '" + itemNo + "'"),
                c.stored);
    }
  }
}

// Weighed item W (sub-number S, other2 o2) and item M marked 2 (sub-number
// T), for each source and each state of the check box.
TEST_F(ItemStepTest, WeighedAndMarkedItemsGetTheirNumbersByPathAndSource) {
  struct Case {
    std::string source;
    bool ticked;
    Row weighed;  // item_no, item_subno, other2 of the row that was W
    std::string weighedKey;
    Row marked;
  };
  const Case cases[] = {
      {"dravik_pro", false, row({"W", "W", "S"}), "W", row({"M", "M", "T"})},
      {"dravik_pro", true, row({"S", "W", "W"}), "S", row({"M", "M", "T"})},
      {"dravik_std", false, row({"W", "S", "o2"}), "W", row({"M", "T", "o2"})},
      {"dravik_std", true, row({"W", "S", "o2"}), "W", row({"M", "T", "o2"})},
  };
  for (const std::string source : {"dravik_pro", "dravik_std"}) {
    addItem(source, "W", "'S'", "'Z'");
    addItem(source, "M", "'T'", "'J'");
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source + (c.ticked ? " ticked" : " unticked"));
    ASSERT_TRUE(run(c.source, c.ticked));
    EXPECT_TRUE(ui.messages.empty());
    SQLCA->rollback();
    EXPECT_EQ(numbers(c.weighedKey), c.weighed);
    EXPECT_EQ(numbers("M"), c.marked);
  }
}

TEST_F(ItemStepTest, TickedSwapRejectedByTheKeyLeavesThatRowAloneAndGoesOn) {
  addItem("dravik_pro", "W1", "'S1'", "'Z'");
  addItem("dravik_pro", "W2", "'P'", "'Z'");  // P is another item's number
  addItem("dravik_pro", "P", "'x'", "NULL");
  addItem("dravik_pro", "W3", "NULL", "'Z'");  // arrives with sub-number 0
  addItem("dravik_pro", "W4", "'S4'", "'Z'");

  ASSERT_TRUE(run("dravik_pro", true));
  EXPECT_TRUE(ui.messages.empty());
  SQLCA->rollback();
  EXPECT_EQ(numbers("S1"), row({"S1", "W1", "W1"}));
  EXPECT_EQ(numbers("W2"), row({"W2", "P", "o2"}));
  EXPECT_EQ(numbers("P"), row({"P", "x", "o2"}));
  EXPECT_EQ(numbers("0"), row({"0", "W3", "W3"}));
  EXPECT_EQ(numbers("S4"), row({"S4", "W4", "W4"}));
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_item_info"), "5");
}

TEST_F(ItemStepTest, TickedWithoutWeighedItemsSucceeds) {
  addItem("dravik_pro", "A", "'s'", "NULL");
  ASSERT_TRUE(run("dravik_pro", true));
  SQLCA->rollback();
  EXPECT_EQ(numbers("A"), row({"A", "s", "o2"}));
}

// The brand fix fails: the driver rolls back after the false result. What
// the step committed before (the refill, each ticked swap) stays; the
// unticked update and the update of items marked 2 go with the rollback.
TEST_F(ItemStepTest, FailedBrandFixKeepsOnlyWhatTheStepCommitted) {
  addItem("dravik_pro", "W", "'S'", "'Z'");
  addItem("dravik_pro", "M", "'T'", "'J'");
  addItem("dravik_pro", "B", "'s'", "NULL", "'12345'");
  db.exec("tillexv8",
          "CREATE TRIGGER brand_locked BEFORE UPDATE OF item_brand ON t_bd_item_info "
          "BEGIN SELECT RAISE(ABORT, 'brand codes are locked'); END;");
  struct Case {
    bool ticked;
    std::string weighedKey;
    Row weighed;
  };
  const Case cases[] = {
      {false, "W", row({"W", "S", "o2"})},
      {true, "S", row({"S", "W", "W"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ticked ? "ticked" : "unticked");
    ui = RecordingStepUi();
    EXPECT_FALSE(run("dravik_pro", c.ticked));
    SQLCA->rollback();  // as the run driver does after a failed step
    ASSERT_EQ(ui.messages.size(), 1U);
    EXPECT_EQ(ui.messages[0].first, "提示");
    EXPECT_EQ(ui.messages[0].second, "修改商品信息失败！");
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_item_info"), "3");
    EXPECT_EQ(numbers(c.weighedKey), c.weighed);
    EXPECT_EQ(numbers("M"), row({"M", "T", "o2"}));
    EXPECT_EQ(numbers("B"), row({"B", "s", "o2"}));
    EXPECT_EQ(db.scalar("tillexv8", "SELECT item_brand FROM t_bd_item_info WHERE item_no = 'B'"),
              "12345");
    EXPECT_EQ(ui.statuses.size(), 5U);  // the bar stops before its last share
  }
}

TEST_F(ItemStepTest, FailedRefillReportsAndTheRollbackRestoresTheOldItems) {
  db.exec("tillexv8", "INSERT INTO t_bd_item_info (item_no) VALUES ('old');");
  db.exec("dravik_pro", "DROP TABLE bi_t_item_info;");
  EXPECT_FALSE(run("dravik_pro"));
  SQLCA->rollback();
  ASSERT_EQ(ui.messages.size(), 1U);
  EXPECT_EQ(ui.messages[0], std::make_pair(std::string("提示"), std::string("导入商品信息失败！")));
  EXPECT_EQ(db.scalar("tillexv8", "SELECT item_no FROM t_bd_item_info"), "old");
}

}  // namespace
}  // namespace cvt
