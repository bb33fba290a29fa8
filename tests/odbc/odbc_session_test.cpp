// The ODBC backend against a real driver manager and driver: unixODBC with
// the SQLite3 ODBC driver, the T-SQL functions loaded as an extension.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "db/session.h"
#include "support/db_folder.h"
#include "support/odbc_sqlite.h"

namespace cvt {
namespace {

using test::DbFolder;

class OdbcSession : public ::testing::Test {
 protected:
  void SetUp() override {
    db.exec("dravik_pro",
            "INSERT INTO bi_t_region_info VALUES ('01', '华北'), ('02', '华南'), ('03', NULL)");
    SQLCA = test::connectOdbcSqlite(db);
    ASSERT_TRUE(SQLCA->connected());
  }

  long long targetCount(const std::string& where = "1=1") const {
    return std::stoll(*db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code WHERE " + where));
  }

  DbFolder db;
  std::unique_ptr<Session> SQLCA;
};

TEST_F(OdbcSession, RunsTsqlAcrossDatabasesWithRowCounts) {
  // Cross-database insert with a table hint, through the client-side
  // rewrite and the attached source file.
  EXPECT_EQ(SQLCA->execute("insert into t_bd_base_code(type_no, code_id, code_name) "
                           "select 'RG', region_no, isnull(region_name, '') "
                           "from dravik_pro..bi_t_region_info with(nolock)"),
            0)
      << SQLCA->SQLErrText();
  EXPECT_EQ(SQLCA->SQLNRows(), 3);
  // A Chinese literal inside the statement text arrives intact.
  EXPECT_EQ(SQLCA->execute("insert into t_bd_base_code(type_no, code_id, code_name) "
                           "values ('PP', '9', '品牌')"),
            0)
      << SQLCA->SQLErrText();

  struct Case {
    const char* sql;
    long code;
    long long rows;
  };
  const std::vector<Case> cases = {
      {"update t_bd_base_code set code_name = 'x' where code_id = 'none'", 100, 0},
      {"delete t_bd_base_code where code_id = 'none'", 100, 0},
      {"insert into t_bd_base_code(type_no, code_id) select 'RG', region_no "
       "from dravik_pro..bi_t_region_info where 1 = 0",
       100, 0},
      {"update t_bd_base_code set code_type = 'A' where type_no = 'RG' and code_id <> '03'", 0, 2},
      {"select count(*) from t_bd_base_code", 0, 0},
      {"truncate table t_rm_cashier", 0, 0},  // empty table: not a change
      {"ALTER TABLE t_bd_base_code disable TRIGGER all", 0, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SQLCA->execute(c.sql), c.code) << c.sql << ": " << SQLCA->SQLErrText();
    EXPECT_EQ(SQLCA->SQLNRows(), c.rows) << c.sql;
  }
  SQLCA->commit();
  EXPECT_EQ(SQLCA->SQLCode(), 0);
  EXPECT_EQ(targetCount("code_type = 'A'"), 2);
  EXPECT_EQ(db.scalar("tillexv8", "SELECT code_name FROM t_bd_base_code WHERE code_id = '9'"),
            "品牌");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT code_name FROM t_bd_base_code WHERE code_id = '01'"),
            "华北");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT table_name FROM tsql_trigger_off"), "t_bd_base_code");
}

TEST_F(OdbcSession, RollbackUndoesAndDisconnectCommits) {
  db.exec("tillexv8", "INSERT INTO t_rm_cashier(cashier_id) VALUES ('0001')");
  ASSERT_EQ(SQLCA->execute("truncate table t_rm_cashier"), 0) << SQLCA->SQLErrText();
  ASSERT_EQ(SQLCA->execute("ALTER TABLE t_bd_item_info disable TRIGGER all"), 0);
  ASSERT_EQ(SQLCA->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '1')"), 0);
  SQLCA->rollback();
  EXPECT_EQ(SQLCA->SQLCode(), 0);
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_rm_cashier"), "1");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
  EXPECT_EQ(targetCount(), 0);

  // Pending work is kept by a disconnect (the close sequence relies on it)
  // but dropped when the session goes without one.
  ASSERT_EQ(SQLCA->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '2')"), 0);
  SQLCA->disconnect();
  EXPECT_FALSE(SQLCA->connected());
  EXPECT_EQ(targetCount(), 1);
  EXPECT_LT(SQLCA->execute("select 1"), 0);

  auto other = test::connectOdbcSqlite(db);
  ASSERT_EQ(other->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '3')"), 0);
  other.reset();
  EXPECT_EQ(targetCount(), 1);
}

TEST_F(OdbcSession, FailuresCarryTheDriverTextAndSpareEarlierWork) {
  ASSERT_EQ(SQLCA->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '1')"), 0);

  EXPECT_LT(SQLCA->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '1')"), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("UNIQUE"), std::string::npos) << SQLCA->SQLErrText();
  EXPECT_LT(SQLCA->execute("select x from no_such_table"), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("no_such_table"), std::string::npos) << SQLCA->SQLErrText();
  EXPECT_LT(SQLCA->execute("select * from dravik_xx..bi_t_region_info"), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("dravik_xx"), std::string::npos) << SQLCA->SQLErrText();
  EXPECT_LT(SQLCA->execute("ALTER TABLE t_no_such disable TRIGGER all"), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("t_no_such"), std::string::npos) << SQLCA->SQLErrText();

  // The failures failed alone: the first insert is still pending.
  SQLCA->commit();
  EXPECT_EQ(targetCount(), 1);
}

TEST_F(OdbcSession, PreparedStatementIsReusedWithChangingValues) {
  auto insert = SQLCA->prepare(
      "insert into t_sys_system(sys_var_name, sys_var_id, sys_var_value) "
      "values (?, ?, ?)");
  const std::string long_name(100, 'n');  // outgrows the first buffer, fits the column
  const std::vector<std::vector<Value>> rows = {
      {"PP", "1", "品牌一"},
      {"PP", "2", std::nullopt},
      {"PP", "3", long_name},
      {"PP", "4", "x"},
  };
  for (const auto& inputs : rows) {
    EXPECT_EQ(insert->execute(inputs), 0) << SQLCA->SQLErrText();
    EXPECT_EQ(SQLCA->SQLNRows(), 1);
  }
  auto update = SQLCA->prepare("update t_sys_system set sys_var_value = ? where sys_var_id = ?");
  EXPECT_EQ(update->execute({"改", "2"}), 0);
  EXPECT_EQ(update->execute({"改", "9"}), 100);
  EXPECT_LT(insert->execute({"PP", "1", "dup"}), 0);
  // Too few values never run with the rest taken as NULL.
  EXPECT_LT(insert->execute({"PP", "6"}), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("3 placeholders but 2 values"), std::string::npos)
      << SQLCA->SQLErrText();
  EXPECT_EQ(insert->execute({"PP", "5", "after a failure"}), 0) << SQLCA->SQLErrText();

  auto broken = SQLCA->prepare("insert into no_such_table values (?)");
  EXPECT_LT(broken->execute({"1"}), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("no_such_table"), std::string::npos);

  SQLCA->commit();
  const auto stored = db.query(
      "tillexv8", "SELECT sys_var_id, sys_var_value FROM t_sys_system ORDER BY sys_var_id");
  ASSERT_EQ(stored.size(), 5u);
  EXPECT_EQ(stored[0][1], "品牌一");
  EXPECT_EQ(stored[1][1], "改");
  EXPECT_EQ(stored[2][1], long_name);
  EXPECT_EQ(stored[3][1], "x");  // the shorter value leaves nothing of the longer one
}

TEST_F(OdbcSession, CursorStreamsWhileOtherStatementsRun) {
  db.exec("dravik_pro", "INSERT INTO bi_t_region_info VALUES ('04', '东北'), ('05', '西北')");
  auto cursor = SQLCA->openCursor(
      "SELECT region_no, region_name  FROM dravik_pro..bi_t_region_info "
      "where region_no > ? order by region_no;",
      {"01"});
  EXPECT_EQ(cursor->columns(), (std::vector<std::string>{"region_no", "region_name"}));
  auto insert = SQLCA->prepare(
      "insert into t_bd_base_code(type_no, code_id, code_name) "
      "values ('RG', ?, ?)");
  std::vector<Row> seen;
  Row row;
  while (cursor->fetch(row) == 0) {
    seen.push_back(row);
    // The member card pattern: a write per fetched row on the same session.
    ASSERT_EQ(insert->execute({row[0], row[1]}), 0) << SQLCA->SQLErrText();
  }
  EXPECT_EQ(SQLCA->SQLCode(), 100);
  EXPECT_EQ(cursor->fetch(row), 100);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0], (Row{"02", "华南"}));
  EXPECT_EQ(seen[1], (Row{"03", std::nullopt}));
  EXPECT_EQ(seen[3], (Row{"05", "西北"}));
  SQLCA->commit();
  EXPECT_EQ(targetCount(), 4);

  auto failed = SQLCA->openCursor("select * from no_such_table");
  EXPECT_LT(failed->fetch(row), 0);
  EXPECT_NE(SQLCA->SQLErrText().find("no_such_table"), std::string::npos);
  EXPECT_LT(failed->fetch(row), 0);  // never mistaken for the end of the rows
  failed->close();
  EXPECT_EQ(failed->fetch(row), 100);
  auto unbound = SQLCA->openCursor("select 1 where 1 = ?");
  EXPECT_LT(unbound->fetch(row), 0);

  auto closed = SQLCA->openCursor("select region_no from dravik_pro..bi_t_region_info");
  closed->close();
  EXPECT_EQ(closed->fetch(row), 100);
}

TEST_F(OdbcSession, SingletonSelectAndExactText) {
  Value name = "preset";
  EXPECT_EQ(SQLCA->selectInto("select region_name from dravik_pro..bi_t_region_info "
                              "where region_no = ?",
                              {"02"}, {&name}),
            0);
  EXPECT_EQ(name, "华南");
  name = "preset";
  EXPECT_EQ(SQLCA->selectInto("select region_name from dravik_pro..bi_t_region_info "
                              "where region_no = ?",
                              {"99"}, {&name}),
            100);
  EXPECT_EQ(name, "preset");
  EXPECT_LT(SQLCA->selectInto("select region_name from dravik_pro..bi_t_region_info", {}, {&name}),
            0);

  // Texts and numbers come back as exact text; the T-SQL functions come
  // from the extension loaded by the driver.
  Value a, b, c, d;
  ASSERT_EQ(SQLCA->selectInto("select '0.1', 12345678901234567, len('中文  '), "
                              "left(getdate(), 2)",
                              {}, {&a, &b, &c, &d}),
            0)
      << SQLCA->SQLErrText();
  EXPECT_EQ(a, "0.1");
  EXPECT_EQ(b, "12345678901234567");
  EXPECT_EQ(c, "2");
  EXPECT_EQ(d, "20");
}

TEST_F(OdbcSession, InterruptStopsBeforeTheStatementIsSent) {
  bool stop = true;
  SQLCA->setInterruptCheck([&] { return stop; });
  EXPECT_LT(SQLCA->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '1')"), 0);
  stop = false;
  EXPECT_EQ(SQLCA->execute("insert into t_bd_base_code(type_no, code_id) values ('PP', '2')"), 0);
  SQLCA->commit();
  EXPECT_EQ(targetCount(), 1);
  EXPECT_EQ(targetCount("code_id = '2'"), 1);
}

TEST(OdbcSessionConnect, FailsWithATextAndNeverCreatesTheTarget) {
  DbFolder db;
  struct Case {
    const char* name;
    std::string server;
    std::string dbparm_suffix;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"missing target file", db.path() + "/nowhere", "", "[SQLite]"},
      {"malformed DBParm", db.path(), ",LoadExt='unterminated", "DBParm: the value of \"LoadExt\""},
  };
  for (const auto& c : cases) {
    SessionSettings settings = test::odbcSqliteSettings(db);
    settings.ServerName = c.server;
    settings.DBParm += c.dbparm_suffix;
    auto session = makeSession(settings.DBMS);
    session->settings = settings;
    EXPECT_NE(session->connect(), 0) << c.name;
    EXPECT_FALSE(session->connected()) << c.name;
    EXPECT_NE(session->SQLErrText().find(c.expected), std::string::npos)
        << c.name << ": " << session->SQLErrText();
    EXPECT_LT(session->execute("select 1"), 0) << c.name;
  }
  EXPECT_FALSE(std::filesystem::exists(db.path() + "/nowhere/tillexv8.db"));
}

}  // namespace
}  // namespace cvt
