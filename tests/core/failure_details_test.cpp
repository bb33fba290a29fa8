// The reason under every failure message: the database's text and the
// statement that failed, as details under the message's own text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/run_driver.h"
#include "steps/catalog.h"
#include "steps/step.h"
#include "support/db_folder.h"
#include "support/failing_session.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::FailingSession;
using test::RecordingRunUi;

RunChoice only(std::string_view key) {
  RunChoice choice;
  for (std::size_t i = 0; i < categories().size(); ++i) {
    choice.ticked[i] = categories()[i].key == key;
  }
  return choice;
}

// Each step's refill made to fail by the engine: a column it fills is
// missing from the target table, while its clearing statement still runs.
TEST(FailureDetails, EveryStepsFailedRefillShowsItsTextWithTheReasonUnderIt) {
  struct Case {
    const char* category;
    const char* table;
    const char* column;
    std::string text;       // the message, exactly
    std::string statement;  // how the refill statement begins
  };
  const Case cases[] = {
      {"item", "t_bd_item_info", "item_size", "导入商品信息失败！",
       "insert into t_bd_item_info (item_no,item_subno,"},
      {"cls", "t_bd_item_cls", "display_flag", "导入商品类别信息失败！",
       "insert into t_bd_item_cls (display_flag,"},
      {"pp", "t_bd_base_code", "english_name", "导入商品品牌信息失败！",
       "insert into t_bd_base_code(type_no,code_id,code_name,english_name,"},
      {"region", "t_bd_base_code", "code_name", "导入区域信息失败！",
       "insert into t_bd_base_code(type_no,code_id,code_name) select 'RG'"},
      {"supcust", "t_bd_supcust_info", "sup_fax", "导入供应商和客户信息失败！",
       "insert into t_bd_supcust_info(check_out_date,"},
      {"vip", "t_rm_vip_type", "memo", "导入会员卡类型信息失败！",
       "insert into t_rm_vip_type(type_id,"},
      {"spec_price", "t_rm_spec_price", "other3", "导入销售特价信息失败!",
       "insert into t_rm_spec_price(branch_no,"},
      {"cashier", "t_rm_cashier", "cashier_grant", "导入收银员信息失败！",
       "insert into t_rm_cashier(cashier_id,"},
      {"stock", "t_im_flow", "sheet_amt", "导入库存数据信息失败！",
       "insert into t_im_flow(voucher_no,"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.category);
    DbFolder db;
    db.exec("tillexv8", std::string("ALTER TABLE ") + c.table + " RENAME COLUMN " + c.column +
                            " TO " + c.column + "_gone;");
    auto SQLCA = db.connect();
    RecordingRunUi ui;

    const RunReport report = runConversion(*SQLCA, ui, only(c.category));
    closeSession(*SQLCA);

    EXPECT_EQ(report.outcome, RunOutcome::StepFailed);
    ASSERT_EQ(ui.messages, (decltype(ui.messages){{"提示", c.text}}));
    const std::string& details = ui.messageDetails.at(0);
    EXPECT_EQ(details.rfind("Database error: ", 0), 0U) << details;
    EXPECT_NE(details.find(c.column), std::string::npos) << details;
    EXPECT_NE(details.find("\nStatement: " + c.statement), std::string::npos) << details;
    EXPECT_NE(details.find("dravik_std..", 0), std::string::npos) << details;
  }
}

// The statement text is the caller's, whichever way it was sent.
TEST(FailureDetails, TheSessionRemembersTheLastStatementItSent) {
  DbFolder db;
  auto SQLCA = db.connect();
  EXPECT_EQ(SQLCA->lastStatementText(), "");

  const std::string insert = "insert into t_rm_cashier (cashier_id) values ('0007')";
  SQLCA->execute(insert);
  EXPECT_EQ(SQLCA->lastStatementText(), insert);

  const std::string update = "update t_rm_cashier set cashier_name = ? where cashier_id = ?";
  const auto statement = SQLCA->prepare(update);
  statement->execute({std::string("x"), std::string("0007")});
  EXPECT_EQ(SQLCA->lastStatementText(), update);

  const std::string select = "select top 1 cashier_name from t_rm_cashier with(nolock)";
  const auto cursor = SQLCA->openCursor(select);
  EXPECT_EQ(SQLCA->lastStatementText(), select);
  cursor->close();

  SQLCA->commit();
  EXPECT_EQ(SQLCA->lastStatementText(), "COMMIT");

  // A failure keeps its statement until the next one is sent.
  SQLCA->execute("delete from no_such_table");
  EXPECT_EQ(failureDetails(*SQLCA).rfind("Database error: ", 0), 0U) << failureDetails(*SQLCA);
  EXPECT_NE(failureDetails(*SQLCA).find("\nStatement: delete from no_such_table"),
            std::string::npos);
}

// Whatever the statement carries, the typed password never shows.
TEST(FailureDetails, ThePasswordIsMaskedInDetails) {
  DbFolder db;
  FailingSession SQLCA(db.connect());
  SQLCA.settings.LogPass = "Secr3t-pw";
  SQLCA.failStatement(1);
  SQLCA.execute("update t_sys_system set sys_var_value = 'Secr3t-pw'");

  const std::string details = failureDetails(SQLCA);
  EXPECT_EQ(details.find("Secr3t-pw"), std::string::npos) << details;
  EXPECT_EQ(details,
            "Database error: injected failure\n"
            "Statement: update t_sys_system set sys_var_value = '***'");
}

TEST(FailureDetails, TheBranchPriceFillShowsItsStatement) {
  DbFolder db;
  db.exec("tillexv8",
          "CREATE TRIGGER refuse_prices BEFORE INSERT ON t_pc_branch_price "
          "BEGIN SELECT RAISE(ABORT, 'price rows refused'); END;"
          "INSERT INTO t_bd_item_info(item_no) VALUES ('A1');"
          "INSERT INTO t_bd_branch_info(branch_no, property) VALUES ('0001', '0');");
  auto SQLCA = db.connect();
  RecordingRunUi ui;

  const RunReport report = runConversion(*SQLCA, ui, only("region"));

  EXPECT_EQ(report.outcome, RunOutcome::Completed);
  EXPECT_TRUE(report.failureShown);
  ASSERT_EQ(ui.messages.size(), 2U);
  const std::string& details = ui.messageDetails[0];
  EXPECT_NE(details.find("price rows refused"), std::string::npos) << details;
  EXPECT_NE(details.find("\nStatement: insert t_pc_branch_price (branch_no,item_no,"),
            std::string::npos)
      << details;
}

}  // namespace
}  // namespace cvt
