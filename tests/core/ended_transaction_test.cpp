// A failure with which the engine rolls back the whole transaction, on the
// real engine (a trigger raising ROLLBACK does what SQL Server does for a
// deadlock victim): the session says so, and the loops that tolerate a
// failing statement stop instead of building on work that is gone.

#include <gtest/gtest.h>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingStepUi;

TEST(EndedTransaction, SessionTellsAnEndedTransactionFromAStatementThatFailsAlone) {
  DbFolder db;
  db.exec("tillexv8", R"SQL(
    CREATE TABLE t_probe (k varchar(10) PRIMARY KEY);
    CREATE TRIGGER t_probe_doom BEFORE INSERT ON t_probe WHEN NEW.k = 'doom'
    BEGIN SELECT RAISE(ROLLBACK, 'doomed'); END;
  )SQL");
  auto SQLCA = db.connect();
  ASSERT_EQ(SQLCA->execute("insert into t_probe (k) values ('a')"), kSqlOk);

  // A duplicate key fails alone: the pending row stays.
  EXPECT_LT(SQLCA->execute("insert into t_probe (k) values ('a')"), 0);
  EXPECT_FALSE(SQLCA->transactionEnded());
  EXPECT_EQ(SQLCA->commit(), kSqlOk);
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_probe"), "1");

  // The engine's rollback takes the pending row with it, through a prepared
  // statement as through execute().
  ASSERT_EQ(SQLCA->execute("insert into t_probe (k) values ('b')"), kSqlOk);
  const auto insert = SQLCA->prepare("insert into t_probe (k) values (?)");
  EXPECT_LT(insert->execute({std::string("doom")}), 0);
  EXPECT_TRUE(SQLCA->transactionEnded()) << SQLCA->SQLErrText();
  // The next statement starts afresh and is not marked.
  ASSERT_EQ(SQLCA->execute("insert into t_probe (k) values ('c')"), kSqlOk);
  EXPECT_FALSE(SQLCA->transactionEnded());
  EXPECT_LT(SQLCA->execute("insert into t_probe (k) values ('doom')"), 0);
  EXPECT_TRUE(SQLCA->transactionEnded());
  EXPECT_EQ(SQLCA->commit(), kSqlOk);
  EXPECT_EQ(db.scalar("tillexv8", "SELECT group_concat(k) FROM t_probe"), "a");
}

// One weighed item whose swap the target refuses, alone (ABORT) or with the
// whole transaction (ROLLBACK); the class whose items' move is refused the
// same two ways.
struct Refusal {
  const char* raise;
  bool stepOk;
};

class RefusedRow : public ::testing::TestWithParam<Refusal> {
 protected:
  void SetUp() override {
    db.exec("dravik_pro", R"SQL(
      INSERT INTO bi_t_item_info(item_no, item_subno, item_clsno, flag2) VALUES
        ('1001', '21', '01010201', 'Z'), ('1002', '22', '01010202', 'Z');
      INSERT INTO bi_t_item_cls(item_clsno, item_flag) VALUES ('01', '0'), ('0101', '0'),
        ('010101', '0'), ('01010201', '0'), ('01010202', '0');
    )SQL");
  }

  void refuseUpdate(const std::string& when) {
    db.exec("tillexv8", "CREATE TRIGGER refuse BEFORE UPDATE ON t_bd_item_info WHEN " + when +
                            " BEGIN SELECT RAISE(" + GetParam().raise + ", 'refused'); END;");
  }

  std::vector<Row> items() {
    return db.query("tillexv8",
                    "SELECT item_no, item_subno, item_clsno FROM t_bd_item_info ORDER BY 1");
  }

  DbFolder db;
  RecordingStepUi ui;
};

TEST_P(RefusedRow, WeighedItemSwap) {
  refuseUpdate("OLD.item_no = '1002'");
  auto SQLCA = db.connect();
  StepContext ctx{*SQLCA, ui, 100, true};
  const bool ok = wf_convert_item_info(ctx, "dravik_pro");
  SQLCA->rollback();  // as the run driver does after a failed step

  EXPECT_EQ(ok, GetParam().stepOk);
  if (GetParam().stepOk) {
    EXPECT_TRUE(ui.messages.empty());
  } else {
    ASSERT_EQ(ui.messages.size(), 1U);
    EXPECT_EQ(ui.messages.front().second, "修改商品信息失败！");
  }
  // The first swap was committed; the refused row keeps its numbers.
  const std::vector<Row> expected = {{"1002", "22", "01010202"}, {"21", "1001", "01010201"}};
  EXPECT_EQ(items(), expected);
}

TEST_P(RefusedRow, ClassItemsMove) {
  db.exec("tillexv8",
          "INSERT INTO t_bd_item_info(item_no, item_clsno) VALUES "
          "('1001', '01010201'), ('1002', '01010202');");
  refuseUpdate("OLD.item_no = '1001'");
  auto SQLCA = db.connect();
  StepContext ctx{*SQLCA, ui, 100, false};
  const bool ok = wf_convert_item_cls(ctx, "dravik_pro");
  SQLCA->rollback();

  const auto classes = db.query("tillexv8", "SELECT item_clsno FROM t_bd_item_cls ORDER BY 1");
  EXPECT_EQ(ok, GetParam().stepOk);
  if (GetParam().stepOk) {
    // A move refused alone is ignored: the class is renamed, its item stays.
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(classes, (std::vector<Row>{{"01"}, {"0101"}, {"010101"}, {"010102"}, {"010103"}}));
    EXPECT_EQ(items(), (std::vector<Row>{{"1001", std::nullopt, "01010201"},
                                         {"1002", std::nullopt, "010103"}}));
  } else {
    // The renames went with the transaction: classes as inserted, items
    // where they were.
    ASSERT_EQ(ui.messages.size(), 1U);
    EXPECT_EQ(ui.messages.front().second, "修改商品类别信息失败！");
    EXPECT_EQ(classes,
              (std::vector<Row>{{"01"}, {"0101"}, {"010101"}, {"01010201"}, {"01010202"}}));
    EXPECT_EQ(items(), (std::vector<Row>{{"1001", std::nullopt, "01010201"},
                                         {"1002", std::nullopt, "01010202"}}));
  }
}

INSTANTIATE_TEST_SUITE_P(AloneOrEndingTheTransaction, RefusedRow,
                         ::testing::Values(Refusal{"ABORT", true}, Refusal{"ROLLBACK", false}),
                         [](const auto& param) { return std::string(param.param.raise); });

}  // namespace
}  // namespace cvt
