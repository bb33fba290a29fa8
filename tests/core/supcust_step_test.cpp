#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

#include "platform/local_time.h"
#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingStepUi;

std::string localNow(std::time_t offsetSeconds = 0) {
  const std::time_t t = std::time(nullptr) + offsetSeconds;
  const std::tm tm = platform::localTime(t);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

// Target rows the step must spare or repair, items that name suppliers,
// and a branch table that knows branch 01 only.
constexpr const char* kTargetSeed = R"SQL(
INSERT INTO t_bd_supcust_info(supcust_no, supcust_flag, sup_name, region_no, check_out_flag, sale_way, settle_branch)
VALUES ('0', 'S', '默认供应商', '990011', '1', 'A', '5'),
       ('X1', 'O', '其他往来', NULL, '1', 'A', '01'),
       ('X2', 'O', '其他往来二', NULL, '1', 'A', '02'),
       ('X3', 'O', '其他往来三', NULL, '1', 'A', NULL),
       ('OLD', 'S', '旧供应商', NULL, '1', 'A', NULL),
       ('OLDC', 'C', '旧客户', NULL, '1', 'A', NULL);
INSERT INTO t_bd_cust_type(type_id, type_name, oper_date, oper_id)
VALUES ('t1', 'one', '2001-01-01 00:00:00.000', '7'), ('t2', 'two', NULL, NULL);
INSERT INTO t_bd_branch_info(branch_no, branch_name, property) VALUES ('01', '一店', '1');
INSERT INTO t_bd_item_info(item_no, main_supcust, item_sup_flag)
VALUES ('I1', 'S001', 'A'), ('I2', 'S001', 'A'), ('I3', 'S003', 'X'), ('I4', 'NOPE', 'Y'),
       ('I5', 'S002', 'A');
)SQL";

constexpr const char* kSourceSeed = R"SQL(
INSERT INTO bi_t_supcust_info(supcust_no, supcust_flag, sup_name, region_no, check_out_flag,
                              sup_man, zip, credit_amt, sup_type)
VALUES ('S001', 'S', '华北代销公司', '010203', '1', '张三', '100000', 1234.5, '1'),
       ('S002', 'S', '代销联营商店', '01', '1', NULL, NULL, NULL, NULL),
       ('S003', 'S', '普通供应商', '0102', NULL, NULL, NULL, NULL, NULL),
       ('C001', 'C', '大客户', NULL, '1', NULL, NULL, NULL, NULL);
)SQL";

class SupcustStep : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db.exec("tillexv8", kTargetSeed);
    db.exec(GetParam(), kSourceSeed);
    // The other source holds a row that must never be read.
    const std::string other = GetParam() == "dravik_pro" ? "dravik_std" : "dravik_pro";
    db.exec(other, "INSERT INTO bi_t_supcust_info(supcust_no, supcust_flag) VALUES ('WRONG', 'S')");
  }

  Value col(const std::string& column, const std::string& no, const std::string& flag) {
    return db.scalar("tillexv8", "SELECT " + column + " FROM t_bd_supcust_info WHERE supcust_no='" +
                                     no + "' AND supcust_flag='" + flag + "'");
  }

  DbFolder db;
};

TEST_P(SupcustStep, RefillsSparesAndRepairs) {
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 40, false};
  const std::string before = localNow();
  ASSERT_TRUE(wf_convert_supcust_info(ctx, GetParam()));
  // A datetime keeps 1/300 second: a stamp taken at .999 reads as the next
  // second.
  const std::string after = localNow(1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(ctx.rowsWritten, 4);

  // Spared rows stay, the other S and C rows are replaced by the source's.
  const auto keys = db.query("tillexv8",
                             "SELECT supcust_no || '/' || supcust_flag FROM t_bd_supcust_info "
                             "ORDER BY supcust_no, supcust_flag");
  std::vector<std::string> got;
  for (const auto& r : keys) {
    got.push_back(*r[0]);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"0/S", "C001/C", "S001/S", "S002/S", "S003/S", "X1/O",
                                           "X2/O", "X3/O"}));

  struct Case {
    const char* no;
    const char* flag;
    const char* column;
    Value expected;
  };
  const std::vector<Case> cases = {
      // Way of sale from the name; "联营" wins over "代销".
      {"S001", "S", "sale_way", "B"},
      {"S002", "S", "sale_way", "C"},
      {"S003", "S", "sale_way", "A"},
      {"C001", "C", "sale_way", "A"},
      // Region numbers cut to four characters, spared rows included.
      {"S001", "S", "region_no", "0102"},
      {"S002", "S", "region_no", "01"},
      {"0", "S", "region_no", "9900"},
      {"C001", "C", "region_no", std::nullopt},
      // Settlement flag cleared everywhere.
      {"S001", "S", "check_out_flag", "0"},
      {"S003", "S", "check_out_flag", "0"},
      {"X1", "O", "check_out_flag", "0"},
      // Settlement branches: unknown or malformed become '00', NULL stays.
      {"0", "S", "settle_branch", "00"},
      {"X1", "O", "settle_branch", "01"},
      {"X2", "O", "settle_branch", "00"},
      {"X3", "O", "settle_branch", std::nullopt},
      {"S001", "S", "settle_branch", std::nullopt},
      // Columns copied as they are.
      {"S001", "S", "sup_man", "张三"},
      {"S001", "S", "zip", "100000"},
      {"S001", "S", "credit_amt", "1234.5"},
      {"S001", "S", "sup_name", "华北代销公司"},
      {"0", "S", "sup_name", "默认供应商"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(col(c.column, c.no, c.flag), c.expected) << c.no << "/" << c.flag << " " << c.column;
  }

  // Items of 'B' and 'C' suppliers follow them; the rest keep their flag.
  const auto items =
      db.query("tillexv8", "SELECT item_no, item_sup_flag FROM t_bd_item_info ORDER BY item_no");
  ASSERT_EQ(items.size(), 5U);
  const std::vector<std::string> flags = {"B", "B", "X", "Y", "C"};
  for (std::size_t i = 0; i < items.size(); ++i) {
    EXPECT_EQ(items[i][1], flags[i]) << *items[i][0];
  }

  // The customer types hold exactly the placeholder, stamped with the run.
  const auto types =
      db.query("tillexv8", "SELECT type_id, type_name, oper_id, oper_date FROM t_bd_cust_type");
  ASSERT_EQ(types.size(), 1U);
  EXPECT_EQ(types[0][0], "exp");
  EXPECT_EQ(types[0][1], "exp");
  EXPECT_EQ(types[0][2], "1001");
  ASSERT_TRUE(types[0][3].has_value());
  const std::string stamp = types[0][3]->substr(0, 19);
  EXPECT_LE(before, stamp);
  EXPECT_GE(after, stamp);

  // Committed: a rollback now changes nothing.
  SQLCA->rollback();
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_supcust_info"), "8");
}

INSTANTIATE_TEST_SUITE_P(BothSources, SupcustStep,
                         ::testing::Values(std::string("dravik_pro"), std::string("dravik_std")));

TEST(SupcustStepProgress, EightPointsAddingUpToFortyFiveFortieths) {
  DbFolder db;
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 40, false};
  ASSERT_TRUE(wf_convert_supcust_info(ctx, "dravik_pro"));

  const std::string m = "正在修改供应商和客户信息";
  EXPECT_EQ(ui.statuses,
            (std::vector<std::string>{"正在删除供应商和客户信息", "正在导入供应商和客户信息", m, m,
                                      m, m, "正在根据供应商和客户修改商品信息", ""}));
  const std::vector<long> shares = {0, 5, 10, 5, 5, 5, 5, 10};
  ASSERT_EQ(ui.values.size(), shares.size());
  for (std::size_t i = 0; i < shares.size(); ++i) {
    EXPECT_EQ(ui.values[i], shareOf(shares[i], 40)) << i;
  }
  // 45/40 of a 2048-wide track, before the driver's final fill.
  EXPECT_EQ(ui.progress.barWidth(), 2304);
}

// Each statement made to fail by a real database feature; the step shows
// the message of that moment, stops, and leaves its work uncommitted.
TEST(SupcustStepFailure, ShowsTheMessageOfTheFailingStatementAndCommitsNothing) {
  struct Case {
    const char* name;
    const char* database;
    const char* setup;
    const char* message;     // the whole text, or its start when the server's text follows
    const char* serverText;  // the engine's error text that must follow, or null
  };
  const std::vector<Case> cases = {
      {"clear", "tillexv8",
       "CREATE TRIGGER f BEFORE DELETE ON t_bd_supcust_info BEGIN SELECT RAISE(ABORT, 'no clear'); "
       "END;",
       "删除供应商和客户信息失败！", nullptr},
      {"cust type delete", "tillexv8",
       "CREATE TRIGGER f BEFORE DELETE ON t_bd_cust_type BEGIN SELECT RAISE(ABORT, 'no types'); "
       "END;",
       "删除t_bd_cust_type失败！", "no types"},
      {"cust type insert", "tillexv8",
       "CREATE TRIGGER f BEFORE INSERT ON t_bd_cust_type BEGIN SELECT RAISE(ABORT, 'no exp'); END;",
       "插入t_bd_cust_type失败!", "no exp"},
      // An insert that writes no row is a failure too: the type is missing.
      {"cust type insert ignored", "tillexv8",
       "CREATE TRIGGER f BEFORE INSERT ON t_bd_cust_type BEGIN SELECT RAISE(IGNORE); END;",
       "插入t_bd_cust_type失败!", nullptr},
      // The spared row '0' collides with the source's row '0'.
      {"refill", "dravik_pro",
       "INSERT INTO bi_t_supcust_info(supcust_no, supcust_flag, sup_name) VALUES ('0', 'S', 'x')",
       "导入供应商和客户信息失败！", nullptr},
      {"sale way", "tillexv8",
       "CREATE TRIGGER f BEFORE UPDATE OF sale_way ON t_bd_supcust_info BEGIN SELECT RAISE(ABORT, "
       "'no'); END;",
       "修改供应商和客户信息失败！", nullptr},
      {"item update", "tillexv8",
       "CREATE TRIGGER f BEFORE UPDATE OF item_sup_flag ON t_bd_item_info BEGIN SELECT "
       "RAISE(ABORT, 'no'); END;",
       "根据供应商和客户修改商品信息失败！", nullptr},
      {"settle branch", "tillexv8",
       "CREATE TRIGGER f BEFORE UPDATE OF settle_branch ON t_bd_supcust_info BEGIN SELECT "
       "RAISE(ABORT, 'no'); END;",
       "修改供应商和客户信息失败！", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("tillexv8", kTargetSeed);
    db.exec("dravik_pro", kSourceSeed);
    db.exec(c.database, c.setup);
    auto SQLCA = db.connect();
    RecordingStepUi ui;
    StepContext ctx{*SQLCA, ui, 40, false};
    EXPECT_FALSE(wf_convert_supcust_info(ctx, "dravik_pro"));
    ASSERT_EQ(ui.messages.size(), 1U);
    EXPECT_EQ(ui.messages[0].first, "提示");
    if (c.serverText != nullptr) {
      const std::string& text = ui.messages[0].second;
      EXPECT_EQ(text.rfind(c.message, 0), 0U) << text;
      EXPECT_NE(text.find(c.serverText), std::string::npos) << text;
    } else {
      EXPECT_EQ(ui.messages[0].second, c.message);
    }
    // The driver's rollback restores the target as it was.
    SQLCA->rollback();
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_supcust_info"), "6");
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_cust_type"), "2");
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_item_info WHERE item_sup_flag='B'"),
              "0");
  }
}

}  // namespace
}  // namespace cvt
