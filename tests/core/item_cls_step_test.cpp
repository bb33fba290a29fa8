#include <gtest/gtest.h>

#include <map>

#include "app/run_driver.h"
#include "steps/catalog.h"
#include "steps/class_code.h"
#include "support/db_folder.h"
#include "support/failing_session.h"
#include "support/recording_run_ui.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::FailingSession;
using test::RecordingRunUi;
using test::RecordingStepUi;

using Parents = std::map<std::string, Value>;      // class code -> cls_parent
using ItemClasses = std::map<std::string, Value>;  // item number -> item_clsno

class ItemClsStepTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // LB survives the delete; OLD does not.
    db.exec("tillexv8",
            "INSERT INTO t_bd_item_cls (item_clsno, item_clsname, cls_parent, item_flag) VALUES "
            "('LB', 'kept', 'zz', '0'), ('OLD', 'gone', NULL, '0');");
  }

  // Source classes (item_flag '0'), inserted in the order given, which is
  // the order the long codes are read back in.
  void addClasses(const std::string& source, const std::vector<std::string>& codes) {
    for (const auto& code : codes) {
      db.exec(source,
              "INSERT INTO bi_t_item_cls (item_clsno, item_clsname, item_flag, "
              "display_flag) VALUES ('" +
                  code + "', 'c" + code + "', '0', '1');");
    }
  }

  void addItems(const ItemClasses& items) {
    for (const auto& [itemNo, cls] : items) {
      db.exec("tillexv8", "INSERT INTO t_bd_item_info (item_no, item_clsno) VALUES ('" + itemNo +
                              "', '" + cls.value_or("") + "');");
    }
  }

  bool run(const std::string& source = "dravik_pro") {
    SQLCA = db.connect();
    StepContext ctx{*SQLCA, ui, 10, false};
    const bool ok = wf_convert_item_cls(ctx, source);
    // Whatever the step left uncommitted would vanish here.
    SQLCA->rollback();
    return ok;
  }

  Parents parents() {
    Parents out;
    for (const auto& r : db.query("tillexv8", "SELECT item_clsno, cls_parent FROM t_bd_item_cls")) {
      out[*r[0]] = r[1];
    }
    return out;
  }

  ItemClasses itemClasses() {
    ItemClasses out;
    for (const auto& r : db.query("tillexv8", "SELECT item_no, item_clsno FROM t_bd_item_info")) {
      out[*r[0]] = r[1];
    }
    return out;
  }

  DbFolder db;
  RecordingStepUi ui;
  std::unique_ptr<Session> SQLCA;
};

TEST_F(ItemClsStepTest, LongCodesMoveUnderTheirPrefixWithTheirItemsAndParentsFollow) {
  for (const std::string source : {"dravik_pro", "dravik_std"}) {
    addClasses(source,
               {"01", "0101", "010101", "010102", "01010201", "01010202", "0102", "01020301"});
    db.exec(source,
            "INSERT INTO bi_t_item_cls (item_clsno, item_clsname, item_flag, display_flag) "
            "VALUES ('B1', 'a brand', '1', '1');");
  }
  const ItemClasses items = {
      {"I1", "01010201"}, {"I2", "01010202"}, {"I3", "01020301"}, {"I4", "010101"}};
  const Parents expected = {{"01", ""},         {"0101", "01"},     {"010101", "0101"},
                            {"010102", "0101"}, {"010103", "0101"}, {"010104", "0101"},
                            {"0102", "01"},     {"010203", "0102"}, {"LB", ""}};
  const ItemClasses moved = {
      {"I1", "010103"}, {"I2", "010104"}, {"I3", "010203"}, {"I4", "010101"}};

  for (const std::string source : {"dravik_pro", "dravik_std"}) {
    SCOPED_TRACE(source);
    db.exec("tillexv8", "DELETE FROM t_bd_item_info;");
    addItems(items);
    ui = RecordingStepUi();
    ASSERT_TRUE(run(source));
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(parents(), expected);
    EXPECT_EQ(itemClasses(), moved);
    EXPECT_EQ(db.scalar("tillexv8",
                        "SELECT count(*) FROM t_bd_item_cls WHERE item_flag = '0' AND "
                        "display_flag = '1' AND item_clsname = 'c01010201'"),
              "1");  // the renamed class keeps its name and flags
    EXPECT_EQ(db.scalar("tillexv8", "SELECT item_clsname FROM t_bd_item_cls WHERE item_clsno='LB'"),
              "kept");
  }
  EXPECT_EQ(ui.statuses,
            (std::vector<std::string>{"正在删除商品类别信息", "正在导入商品类别信息", ""}));
  EXPECT_EQ(ui.values, (std::vector<float>{0.0F, 0.5F, 0.5F}));
}

// Each case: the source classes, the class of item I before the step
// (none when empty), and what the committed tables hold afterwards.
TEST_F(ItemClsStepTest, RenumberingCases) {
  struct Case {
    std::string name;
    std::vector<std::string> classes;
    std::string itemOn;
    std::string setup;  // extra SQL on the target before the step
    Parents parents;
    ItemClasses items;
  };
  const Case cases[] = {
      {"no long code: only parents",
       {"01", "0101"},
       "",
       "",
       {{"01", ""}, {"0101", "01"}, {"LB", ""}},
       {}},
      {"computed code is taken: the class and its item stay",
       {"0101AB", "000001", "01010201"},
       "01010201",
       "",
       {{"0101AB", "0101"}, {"000001", "0000"}, {"01010201", "010102"}, {"LB", ""}},
       {{"I", "01010201"}}},
      {"non-numeric six-character code: the successor is 000001",
       {"0101AB", "01010201"},
       "01010201",
       "",
       {{"0101AB", "0101"}, {"000001", "0000"}, {"LB", ""}},
       {{"I", "000001"}}},
      {"carry over 010199 into a prefix that holds codes",
       {"010199", "010205", "01010201"},
       "01010201",
       "",
       {{"010199", "0101"}, {"010205", "0102"}, {"010206", "0102"}, {"LB", ""}},
       {{"I", "010206"}}},
      {"carry over 010199 into an empty prefix",
       {"010199", "01010201"},
       "01010201",
       "",
       {{"010199", "0101"}, {"010201", "0102"}, {"LB", ""}},
       {{"I", "010201"}}},
      {"carry over 999999 wraps to 000000 and on to 000001",
       {"999999", "99999901"},
       "99999901",
       "",
       {{"999999", "9999"}, {"000001", "0000"}, {"LB", ""}},
       {{"I", "000001"}}},
      {"two long codes under one parent get consecutive codes",
       {"010105", "01010501", "01010502"},
       "01010502",
       "",
       {{"010105", "0101"}, {"010106", "0101"}, {"010107", "0101"}, {"LB", ""}},
       {{"I", "010107"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db.exec("dravik_pro", "DELETE FROM bi_t_item_cls;");
    db.exec("tillexv8",
            "DELETE FROM t_bd_item_info; DELETE FROM t_bd_item_cls; "
            "DROP TRIGGER IF EXISTS skip_rename; DROP TRIGGER IF EXISTS reject_rename; "
            "INSERT INTO t_bd_item_cls (item_clsno, cls_parent) VALUES ('LB', 'zz');");
    addClasses("dravik_pro", c.classes);
    if (!c.setup.empty()) {
      db.exec("tillexv8", c.setup);
    }
    if (!c.itemOn.empty()) {
      addItems({{"I", c.itemOn}});
    }
    ui = RecordingStepUi();
    EXPECT_TRUE(run());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(parents(), c.parents);
    EXPECT_EQ(itemClasses(), c.items);
  }
}

// A fix-up that fails keeps the rollback and the step's success, and the
// operator is told why; the run completes as one that showed a failure.
TEST_F(ItemClsStepTest, FixUpFailuresAreShownAndTheRunCompletes) {
  struct Case {
    std::string name;
    std::vector<std::string> classes;
    std::string setup;    // extra SQL on the target before the run
    bool breakResultSet;  // the select of the long codes fails
    std::string reason;   // follows "原因："
    std::string statement;
    Parents parents;
    ItemClasses items;
  };
  const std::string renameSql = "update t_bd_item_cls set item_clsno =? where item_clsno =?";
  const Case cases[] = {
      {"one-character class: the parent update fails, the renumbering is rolled back",
       {"A", "010101", "01010201"},
       "",
       false,
       "Invalid length parameter passed to the left function.",
       "update t_bd_item_cls set cls_parent =left ( item_clsno , LEN ( item_clsno ) - 2 )",
       {{"A", std::nullopt}, {"010101", std::nullopt}, {"01010201", std::nullopt}, {"LB", "zz"}},
       {{"I", "01010201"}}},
      {"rename matching no row: earlier renames and moves undone, parents on inserted codes",
       {"010101", "01010201", "01010301"},
       "CREATE TRIGGER skip_rename BEFORE UPDATE OF item_clsno ON t_bd_item_cls "
       "WHEN OLD.item_clsno = '01010301' BEGIN SELECT RAISE(IGNORE); END;",
       false,
       "the rename of class 01010301 to 010103 changed no row",
       renameSql,
       {{"010101", "0101"}, {"01010201", "010102"}, {"01010301", "010103"}, {"LB", ""}},
       {{"I", "01010201"}}},
      {"a rename that the database refuses ends the loop the same way",
       {"010101", "01010201"},
       "CREATE TRIGGER reject_rename BEFORE UPDATE OF item_clsno ON t_bd_item_cls "
       "BEGIN SELECT RAISE(ABORT, 'no renames'); END;",
       false,
       "no renames",
       renameSql,
       {{"010101", "0101"}, {"01010201", "010102"}, {"LB", ""}},
       {{"I", "01010201"}}},
      {"the result set cannot be built: no renumbering and no parent update",
       {"01", "01010201"},
       "",
       true,
       "injected failure",
       "select item_clsno as item_clsno from t_bd_item_cls with(nolock) where len(item_clsno) > 6",
       {{"01", std::nullopt}, {"01010201", std::nullopt}, {"LB", "zz"}},
       {{"I", "01010201"}}},
  };
  RunChoice choice;
  for (std::size_t i = 0; i < categories().size(); ++i) {
    choice.ticked[i] = categories()[i].key == "cls";
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db.exec("dravik_std", "DELETE FROM bi_t_item_cls;");
    db.exec("tillexv8",
            "DELETE FROM t_bd_item_info; DELETE FROM t_bd_item_cls; "
            "DROP TRIGGER IF EXISTS skip_rename; DROP TRIGGER IF EXISTS reject_rename; "
            "INSERT INTO t_bd_item_cls (item_clsno, cls_parent) VALUES ('LB', 'zz');");
    addClasses("dravik_std", c.classes);
    if (!c.setup.empty()) {
      db.exec("tillexv8", c.setup);
    }
    addItems({{"I", "01010201"}});
    FailingSession session(db.connect());
    if (c.breakResultSet) {
      session.failCursorsContaining("len(item_clsno) > 6");
    }
    // Only the wrapper that breaks the result set stands between the step
    // and the engine; every other case runs on the engine's own session.
    Session& target = c.breakResultSet ? static_cast<Session&>(session) : session.inner();
    RecordingRunUi runUi;

    const RunReport report = runConversion(target, runUi, choice);
    closeSession(target);

    EXPECT_EQ(report.outcome, RunOutcome::Completed);
    EXPECT_TRUE(report.failureShown);
    ASSERT_EQ(report.steps.size(), 1U);
    EXPECT_TRUE(report.steps[0].ok);
    ASSERT_EQ(runUi.messages.size(), 2U);
    EXPECT_EQ(runUi.messages[0].first, "提示");
    const std::string& text = runUi.messages[0].second;
    EXPECT_EQ(text.rfind("修改商品类别信息失败！\n原因：", 0), 0U) << text;
    EXPECT_NE(text.find(c.reason), std::string::npos) << text;
    EXPECT_NE(runUi.messageDetails[0].find("Statement: " + c.statement), std::string::npos)
        << runUi.messageDetails[0];
    EXPECT_EQ(runUi.messages[1].second, "数据传输完成!");
    EXPECT_EQ(parents(), c.parents);
    EXPECT_EQ(itemClasses(), c.items);
  }
}

TEST_F(ItemClsStepTest, FailedDeleteOrInsertIsReportedAndRolledBackByTheDriver) {
  struct Case {
    std::string setup;
    std::string message;
  };
  const Case cases[] = {
      {"CREATE TRIGGER no_delete BEFORE DELETE ON t_bd_item_cls "
       "BEGIN SELECT RAISE(ABORT, 'locked'); END;",
       "删除商品类别信息失败！"},
      // The source holds LB too, which collides with the kept class.
      {"", "导入商品类别信息失败！"},
  };
  addClasses("dravik_pro", {"01", "LB"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    db.exec("tillexv8", "DROP TRIGGER IF EXISTS no_delete;");
    if (!c.setup.empty()) {
      db.exec("tillexv8", c.setup);
    }
    ui = RecordingStepUi();
    EXPECT_FALSE(run());  // run() rolls back as the driver does
    ASSERT_EQ(ui.messages.size(), 1U);
    EXPECT_EQ(ui.messages[0], std::make_pair(std::string("提示"), c.message));
    EXPECT_EQ(parents(), (Parents{{"LB", "zz"}, {"OLD", std::nullopt}}));
  }
}

// The search for a free code must end on any data. With every prefix full
// (each holding its xx99) there is none: the search gives up after one
// visit to every prefix and the class keeps its long code.
TEST(NewClassCode, CarrySearchEndsOnAnyData) {
  struct Case {
    std::string name;
    std::string longCode;
    std::string freePrefix;  // the one prefix without codes; empty for none
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"every prefix full", "01010201", "", std::nullopt},
      {"only a far prefix free, reached by wrapping", "01010201", "0005", "000501"},
      {"the next prefix free", "01010201", "0102", "010201"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    int lookups = 0;
    const LargestUnderPrefix full = [&](const std::string& code) -> Value {
      ++lookups;
      const std::string prefix = code.substr(0, 4);
      if (prefix == c.freePrefix) {
        return std::nullopt;
      }
      return prefix + "99";
    };
    EXPECT_EQ(newClassCode(c.longCode, full), c.expected);
    EXPECT_LE(lookups, kClassPrefixCount + 1);
  }
}

}  // namespace
}  // namespace cvt
