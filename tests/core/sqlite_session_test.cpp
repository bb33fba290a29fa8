// The embedded session: connection rules, result codes, the one open
// transaction, bound statements, streaming cursors and the extension.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/session.h"
#include "platform/paths.h"
#include "support/db_folder.h"

namespace cvt {
namespace {

std::unique_ptr<Session> sessionOn(const std::string& serverName, const std::string& database) {
  auto s = makeSession("SQLite");
  s->settings.DBMS = "SQLite";
  s->settings.ServerName = serverName;
  s->settings.Database = database;
  return s;
}

TEST(SqliteConnect, FolderPortAndDatabaseRules) {
  test::DbFolder folder;
  struct Case {
    std::string server;
    std::string database;
    bool connects;
    std::string text;  // part of the error text
  };
  const std::string missing = folder.path() + "/nowhere";
  std::fclose(std::fopen(folder.file("empty").c_str(), "w"));
  for (const Case& c : {
           Case{folder.path(), "tillexv8", true, ""},
           Case{folder.path() + ",1433", "tillexv8", true, ""},
           Case{"  " + folder.path() + " , 2000 ", "TILLEXV8", true, ""},
           Case{folder.path(), "", true, ""},
           Case{folder.path(), "dravik_pro", true, ""},
           Case{missing + ",1433", "tillexv8", false,
                platform::utf8Path(platform::fsPath(missing) / "tillexv8.db")},
           Case{folder.path(), "tillex_old", false, "tillex_old.db"},
           Case{folder.path(), "empty", false, "is empty"},
           Case{"", "tillexv8", false, "folder"},
       }) {
    SCOPED_TRACE(c.server + " / " + c.database);
    auto s = sessionOn(c.server, c.database);
    const long code = s->connect();
    EXPECT_EQ(code == 0, c.connects) << s->SQLErrText();
    EXPECT_EQ(s->connected(), c.connects);
    EXPECT_NE(s->SQLErrText().find(c.text), std::string::npos) << s->SQLErrText();
  }
  // A failed connect never creates the file it looked for.
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_FALSE(std::filesystem::exists(folder.file("tillex_old")));
  EXPECT_EQ(std::filesystem::file_size(folder.file("empty")), 0U);
}

TEST(SqliteConnect, AnotherMainDatabaseStillReachesTheTarget) {
  test::DbFolder folder;
  folder.exec("dravik_pro", "insert into bi_t_region_info values ('01','north')");
  folder.exec("tillexv8", "insert into t_bd_branch_info values ('00','head','0')");
  auto s = sessionOn(folder.path(), "dravik_pro");
  ASSERT_EQ(s->connect(), 0) << s->SQLErrText();
  Value name;
  Value branch;
  EXPECT_EQ(s->selectInto("select region_name from dravik_pro..bi_t_region_info", {}, {&name}), 0);
  EXPECT_EQ(s->selectInto("select branch_no from tillexv8..t_bd_branch_info", {}, {&branch}), 0);
  EXPECT_EQ(name, Value("north"));
  EXPECT_EQ(branch, Value("00"));
}

TEST(SqliteConnect, StrayFilesInTheFolderDoNotStopTheConnect) {
  test::DbFolder folder;
  for (const char* name : {"notes.db", "odd name.db"}) {
    std::FILE* f = std::fopen((folder.path() + "/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("this is not a database, but long enough to have a header of sorts......", f);
    std::fclose(f);
  }
  auto s = folder.connect();
  ASSERT_TRUE(s->connected()) << s->SQLErrText();
  EXPECT_LT(s->execute("delete from notes..t"), 0);
  EXPECT_EQ(s->SQLErrText(), "Invalid object name 'notes..t'.");
  EXPECT_EQ(s->execute("delete from dravik_std..bi_t_region_info"), 100);
}

TEST(SqliteConnect, UnknownOrMissingDbmsNeverCrashes) {
  auto unset = makeSession("");
  EXPECT_NE(unset->connect(), 0);
  EXPECT_NE(unset->SQLErrText().find("DBMS"), std::string::npos);
  EXPECT_LT(unset->execute("select 1"), 0);
  Row row;
  EXPECT_LT(unset->openCursor("select 1")->fetch(row), 0);

  auto idle = makeSession("sqlite");  // not connected yet
  EXPECT_LT(idle->execute("select 1"), 0);
  EXPECT_LT(idle->prepare("select 1")->execute({}), 0);
  idle->commit();
  EXPECT_LT(idle->SQLCode(), 0);
}

class SqliteSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder.exec("tillexv8",
                "insert into t_bd_item_info (item_no,item_name,price) values "
                "('I1','one',12.5),('I2','two',3),('I3','three',NULL)");
    s = folder.connect();
  }
  Value scalar(const std::string& sql) { return folder.scalar("tillexv8", sql); }

  test::DbFolder folder;
  std::unique_ptr<Session> s;
};

TEST_F(SqliteSessionTest, ResultCodesOfStatements) {
  struct Case {
    const char* sql;
    long code;
    long long rows;
  };
  for (const Case& c : {
           Case{"insert t_bd_branch_info (branch_no) values ('01')", 0, 1},
           Case{"update t_bd_item_info set item_name = 'x' where item_no like 'I%'", 0, 3},
           Case{"update t_bd_item_info set item_name = 'x' where item_no = 'none'", 100, 0},
           Case{"delete t_bd_base_code where type_no='RG'", 100, 0},
           Case{"insert into t_bd_base_code (type_no,code_id) select type_no,code_id from "
                "t_bd_base_code",
                100, 0},
           Case{"truncate table t_rm_spec_price", 0, 0},
           Case{"select item_no from t_bd_item_info", 0, 0},
           Case{"select * from t_nosuch", -1, 0},
       }) {
    SCOPED_TRACE(c.sql);
    EXPECT_EQ(s->execute(c.sql), c.code) << s->SQLErrText();
    EXPECT_EQ(s->SQLNRows(), c.rows);
  }
  EXPECT_EQ(s->SQLErrText(), "no such table: t_nosuch");
}

TEST_F(SqliteSessionTest, AConstraintViolationFailsOnlyItsOwnStatement) {
  ASSERT_EQ(s->execute("insert t_bd_branch_info (branch_no) values ('01')"), 0);
  EXPECT_LT(s->execute("insert t_bd_item_info (item_no) values ('I1')"), 0);
  EXPECT_NE(s->SQLErrText().find("UNIQUE constraint failed"), std::string::npos);
  // An INSERT ... SELECT that fails half-way leaves none of its rows.
  EXPECT_LT(s->execute("insert t_bd_item_info (item_no) select 'I9' union all select 'I1'"), 0);
  ASSERT_EQ(s->execute("insert t_bd_branch_info (branch_no) values ('02')"), 0);
  s->commit();
  EXPECT_EQ(scalar("select group_concat(branch_no) from t_bd_branch_info"), Value("01,02"));
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("3"));
}

TEST_F(SqliteSessionTest, WorkStaysPendingUntilCommitAndRollbackUndoesIt) {
  ASSERT_EQ(s->execute("truncate table t_bd_item_info"), 0);
  ASSERT_EQ(s->execute("ALTER TABLE t_bd_item_info disable TRIGGER all"), 0);
  // Another connection sees nothing of it yet.
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("3"));
  s->rollback();
  EXPECT_EQ(s->SQLCode(), 0);
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("3"));
  EXPECT_EQ(scalar("select count(*) from tsql_trigger_off"), Value("0"));

  // Commit and rollback without an open transaction are harmless.
  s->commit();
  s->rollback();
  EXPECT_EQ(s->SQLCode(), 0);

  // Disconnect keeps what was issued just before it.
  ASSERT_EQ(s->execute("delete t_bd_item_info where item_no = 'I3'"), 0);
  s->disconnect();
  EXPECT_FALSE(s->connected());
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("2"));

  // A session dropped without disconnect loses its pending work.
  auto dropped = folder.connect();
  ASSERT_EQ(dropped->execute("delete t_bd_item_info"), 0);
  dropped.reset();
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("2"));
}

TEST_F(SqliteSessionTest, PreparedStatementRunsInALoop) {
  auto update = s->prepare(
      "update t_bd_item_info set other2 =? , item_subno =? , item_no =? where item_no =?");
  EXPECT_EQ(update->execute({Value("I1"), Value("I1"), Value("N1"), Value("I1")}), 0);
  EXPECT_EQ(update->execute({std::nullopt, Value("I2"), Value("N2"), Value("I2")}), 0);
  EXPECT_EQ(update->execute({Value("x"), Value("x"), Value("x"), Value("none")}), 100);
  // Taking a number already in use fails that row only.
  EXPECT_LT(update->execute({Value("I3"), Value("I3"), Value("N1"), Value("I3")}), 0);
  EXPECT_LT(update->execute({Value("too few")}), 0);
  EXPECT_NE(s->SQLErrText().find("4 placeholders"), std::string::npos);
  s->commit();
  EXPECT_EQ(
      folder.query("tillexv8",
                   "select item_no, item_subno, other2 from t_bd_item_info order by item_no"),
      (std::vector<Row>{
          {"I3", std::nullopt, std::nullopt}, {"N1", "I1", "I1"}, {"N2", "I2", std::nullopt}}));

  // A text that cannot be prepared reports at every execute.
  auto broken = s->prepare("insert into t_nosuch values (?)");
  EXPECT_LT(s->SQLCode(), 0);
  EXPECT_LT(broken->execute({Value("1")}), 0);
  EXPECT_LT(broken->execute({Value("2")}), 0);
  EXPECT_EQ(s->SQLErrText(), "no such table: t_nosuch");

  // After a disconnect the statement fails instead of touching a closed handle.
  s->disconnect();
  EXPECT_LT(update->execute({Value("a"), Value("b"), Value("c"), Value("d")}), 0);
}

TEST_F(SqliteSessionTest, CursorStreamsRowsAndValuesComeBackAsText) {
  // The third row fails in its own fetch: the first two were delivered
  // before the engine reached it.
  auto cursor = s->openCursor(
      "select item_no, price, case when item_no = 'I3' then left(item_no, -1) else item_name "
      "end as name from t_bd_item_info order by item_no");
  EXPECT_EQ(cursor->columns(), (std::vector<std::string>{"item_no", "price", "name"}));
  Row row;
  ASSERT_EQ(cursor->fetch(row), 0);
  EXPECT_EQ(row, (Row{"I1", "12.5", "one"}));
  ASSERT_EQ(cursor->fetch(row), 0);
  EXPECT_EQ(row, (Row{"I2", "3", "two"}));
  EXPECT_LT(cursor->fetch(row), 0);
  EXPECT_EQ(row, (Row{"I2", "3", "two"}));  // untouched by a failed fetch
  cursor->close();
  EXPECT_EQ(cursor->fetch(row), 100);

  auto all = s->openCursor("select item_no from t_bd_item_info where item_no = ?", {Value("I2")});
  EXPECT_EQ(all->fetch(row), 0);
  EXPECT_EQ(all->fetch(row), 100);
  EXPECT_EQ(all->fetch(row), 100);

  Row values;
  ASSERT_EQ(
      s->openCursor("select 7, 0.1, 123456789012.34, 2.0, null, '会员卡', -0.5")->fetch(values), 0);
  EXPECT_EQ(values, (Row{"7", "0.1", "123456789012.34", "2", std::nullopt, "会员卡", "-0.5"}));

  EXPECT_LT(s->openCursor("delete t_bd_item_info")->fetch(row), 0);
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("3"));
}

TEST_F(SqliteSessionTest, CursorLoopWritesAndCommitsAsTheMemberCardStepDoes) {
  folder.exec("dravik_pro",
              "insert into pos_t_vip_info (card_id,card_balance) values ('C1',12.5),('C2',-3)");
  folder.exec("tillexv8",
              "insert into t_rm_vip_info (card_id,residual_amt) values ('C1','x'),('C2','y')");
  auto cursor = s->openCursor("SELECT card_id, card_balance  FROM dravik_pro..pos_t_vip_info;");
  auto update = s->prepare("update t_rm_vip_info set residual_amt = ? where card_id = ?");
  Row row;
  while (cursor->fetch(row) == 0) {
    ASSERT_EQ(update->execute({row[1], row[0]}), 0) << s->SQLErrText();
    s->commit();
  }
  EXPECT_EQ(s->SQLCode(), 100);
  EXPECT_EQ(folder.query("tillexv8", "select residual_amt from t_rm_vip_info order by card_id"),
            (std::vector<Row>{{"12.5"}, {"-3"}}));
}

TEST_F(SqliteSessionTest, SelectIntoLeavesOutputsAloneWithoutARow) {
  Value name = "preset";
  Value price = "preset";
  EXPECT_EQ(s->selectInto("select item_name, price from t_bd_item_info where item_no = ?",
                          {Value("I1")}, {&name, &price}),
            0);
  EXPECT_EQ(name, Value("one"));
  EXPECT_EQ(price, Value("12.5"));

  Value untouched = "preset";
  EXPECT_EQ(s->selectInto("SELECT sys_var_value FROM t_sys_system Where sys_var_id "
                          "='g_branch_no'",
                          {}, {&untouched}),
            100);
  EXPECT_EQ(untouched, Value("preset"));
  EXPECT_LT(s->selectInto("select item_no from t_bd_item_info", {}, {&untouched}), 0);
  EXPECT_EQ(untouched, Value("preset"));
}

TEST_F(SqliteSessionTest, InterruptStopsTheNextStatement) {
  const std::uint64_t before = s->statementsExecuted();
  s->setInterruptCheck([] { return true; });
  EXPECT_LT(s->execute("delete t_bd_item_info"), 0);
  Row row;
  EXPECT_LT(s->openCursor("select 1")->fetch(row), 0);
  s->setInterruptCheck(nullptr);
  EXPECT_EQ(s->statementsExecuted(), before);
  s->commit();
  EXPECT_EQ(scalar("select count(*) from t_bd_item_info"), Value("3"));
  EXPECT_EQ(s->execute("delete t_bd_item_info where item_no = 'I1'"), 0);
  EXPECT_EQ(s->statementsExecuted(), before + 1);
}

// The loadable extension gives a plain SQLite connection the same
// functions and collation.
TEST(TsqlExtension, LoadsIntoAPlainConnection) {
  const char* buildDir = std::getenv("CONVERT_BUILD_DIR");
  ASSERT_NE(buildDir, nullptr) << "CONVERT_BUILD_DIR is not set";
  const std::string library = std::string(buildDir) + "/" + CONVERT_TSQL_EXT_FILE;
  ASSERT_TRUE(std::filesystem::exists(library)) << library;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_enable_load_extension(db, 1);
  char* error = nullptr;
  const int rc = sqlite3_load_extension(db, library.c_str(), nullptr, &error);
  EXPECT_EQ(rc, SQLITE_OK) << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_stmt* stmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db,
                               "select tsql_len('ab  '), tsql_right('10001', 4), "
                               "'A1 ' = 'a1' collate TSQL",
                               -1, &stmt, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(stmt, 0), 2);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)), "0001");
  EXPECT_EQ(sqlite3_column_int(stmt, 2), 1);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

}  // namespace
}  // namespace cvt
