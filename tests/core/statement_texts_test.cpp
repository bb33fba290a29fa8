// Every statement text the tool sends, checked as T-SQL by a real parser:
// full runs of every category from both sources, with and without the
// weighed items' option, a dry run with its savepoints, the pre-flight
// check over the same demo and over targets and sources changed so that it
// takes its slower paths, and the SQL Server catalogue's queries each
// record their distinct texts; a Python check (scripts/check_tsql_texts.py,
// with sqlglot's T-SQL dialect) parses each one and holds its functions to
// the allow-list of the T-SQL adapter.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/preflight.h"
#include "app/run_driver.h"
#include "db/catalog.h"
#include "db/forwarding_session.h"
#include "db/odbc/sql_server_texts.h"
#include "db/odbc/tsql_catalog.h"
#include "db/rehearsal_session.h"
#include "db/sqlite/tsql_rewriter.h"
#include "demo/generator.h"
#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/odbc_sqlite.h"
#include "support/raw_db.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

// Forwards everything to a real session and remembers every text it is
// given; outcomes of statements and cursors become this session's too.
class RecordingSession final : public ForwardingSession {
 public:
  RecordingSession(std::unique_ptr<Session> inner, std::set<std::string>& texts)
      : ForwardingSession(std::move(inner)), texts_(texts) {}

  long execute(std::string_view sql) override {
    texts_.emplace(sql);
    return ForwardingSession::execute(sql);
  }
  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    texts_.emplace(sql);
    return ForwardingSession::prepare(sql);
  }
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override {
    texts_.emplace(sql);
    return ForwardingSession::openCursor(sql, inputs);
  }

 private:
  bool forwardsBatches() const override { return false; }

  std::set<std::string>& texts_;
};

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Where the texts of the record `name` are written: the build tree, so
// that a failure can be looked at after the test.
std::string recordPath(const std::string& name) {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : ".") + "/" + name + ".jsonl";
}

// Runs scripts/check_tsql_texts.py over `file`, with the adapter's
// functions and `more` allowed; its output and exit code.
int checkTexts(const std::string& file, const std::vector<std::string>& more, std::string& output) {
  std::string functions;
  for (const std::string& f : tsqlFunctionAllowList()) {
    functions += (functions.empty() ? "" : ",") + f;
  }
  for (const std::string& f : more) {
    functions += "," + f;
  }
  const std::string command = std::string("/usr/bin/python3 ") + CONVERT_SOURCE_DIR +
                              "/scripts/check_tsql_texts.py '" + file + "' '" + functions +
                              "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    output = "cannot run " + command;
    return -1;
  }
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
    output.append(buf, n);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Success when every text of `texts` passes the check; otherwise the
// check's findings and every text. The texts are kept as `name`.jsonl.
// Writes `texts` in their order as the record `name`; its path.
template <typename Texts>
std::string writeRecord(const Texts& texts, const std::string& name) {
  const std::string file = recordPath(name);
  std::ofstream out(file);
  for (const std::string& text : texts) {
    out << jsonString(text) << "\n";
  }
  return file;
}

::testing::AssertionResult allTsql(const std::set<std::string>& texts, const std::string& name,
                                   const std::vector<std::string>& moreFunctions = {}) {
  const std::string file = writeRecord(texts, name);
  std::string output;
  if (checkTexts(file, moreFunctions, output) == 0) {
    return ::testing::AssertionSuccess();
  }
  std::string all;
  for (const std::string& t : texts) {
    all += t + "\n";
  }
  return ::testing::AssertionFailure() << output << "\nThe texts are in " << file << ":\n" << all;
}

TEST(StatementTexts, EveryTextOfFullRunsIsTsqlWithAllowedFunctionsOnly) {
  if (test::odbcBackendRequested()) {
    GTEST_SKIP() << "the texts do not depend on the backend";
  }
  std::set<std::string> texts;
  for (const bool pro : {true, false}) {
    for (const bool subno : {false, true}) {
      SCOPED_TRACE(std::string(pro ? "dravik_pro" : "dravik_std") +
                   (subno ? ", weighed items" : ""));
      test::DbFolder db;
      DemoOptions options;
      options.folder = db.path();
      const DemoResult demo = generateDemo(options);
      ASSERT_TRUE(demo.ok) << demo.error;
      RecordingSession SQLCA(db.connect(), texts);
      test::RecordingRunUi ui;
      RunChoice choice;
      choice.rb_1 = pro;
      choice.ticked.fill(true);
      choice.cbx_subno_to_no = subno;
      const RunReport report = runConversion(SQLCA, ui, choice);
      closeSession(SQLCA);
      std::string shown;
      for (const auto& [title, text] : ui.messages) {
        shown += title + ": " + text + "\n";
      }
      EXPECT_EQ(report.outcome, RunOutcome::Completed) << shown;
    }
  }
  // The batch command's dry run: a commit becomes a savepoint, a rollback
  // after one returns to it.
  {
    test::DbFolder db;
    DemoOptions options;
    options.folder = db.path();
    ASSERT_TRUE(generateDemo(options).ok);
    RecordingSession SQLCA(db.connect(), texts);
    RehearsalSession rehearsal(SQLCA);
    test::RecordingRunUi ui;
    RunChoice choice;
    choice.rb_1 = true;
    choice.ticked.fill(true);
    EXPECT_EQ(runConversion(rehearsal, ui, choice).outcome, RunOutcome::Completed);
    EXPECT_GT(rehearsal.savepoints(), 0);
    EXPECT_EQ(rehearsal.rollback(), 0) << rehearsal.SQLErrText();
    EXPECT_EQ(rehearsal.finish(), 0) << rehearsal.SQLErrText();
  }
  EXPECT_TRUE(allTsql(texts, "statement_texts"));
  EXPECT_GT(texts.size(), 50U);
}

// The check's own reads: over the plain demo, then over targets and sources
// changed so that values may not fit, keys may meet and constraints may
// refuse rows, which makes the check read rows it otherwise vouches for and
// hand rules to the database to judge.
TEST(StatementTexts, EveryTextOfTheCheckIsTsqlWithAllowedFunctionsOnly) {
  if (test::odbcBackendRequested()) {
    GTEST_SKIP() << "the texts do not depend on the backend";
  }
  std::vector<std::string> every;
  for (const auto& c : categories()) {
    every.emplace_back(c.key);
  }
  std::set<std::string> texts;
  auto check = [&](const test::DbFolder& db, const std::string& source, bool subno) {
    RecordingSession SQLCA(db.connect(), texts);
    checkConversion(SQLCA, source, every, subno);
    EXPECT_EQ(SQLCA.rollback(), 0) << SQLCA.SQLErrText();
    SQLCA.disconnect();
  };
  for (const bool pro : {true, false}) {
    for (const bool subno : {false, true}) {
      test::DbFolder db;
      DemoOptions options;
      options.folder = db.path();
      ASSERT_TRUE(generateDemo(options).ok);
      check(db, pro ? "dravik_pro" : "dravik_std", subno);
    }
  }

  test::DbFolder base;
  DemoOptions options;
  options.folder = base.path();
  options.seed = 5;
  ASSERT_TRUE(generateDemo(options).ok);
  struct Change {
    const char* database;
    const char* table;
    const char* from;  // pattern of the table's CREATE text ("": none)
    const char* to;
    std::vector<std::string> then;  // each run afterwards on the reopened file
  };
  const Change changes[] = {
      // Text columns narrowed, one written by a select, one by the loops.
      {"tillexv8",
       "t_rm_cashier",
       R"(cashier_grant varchar\(40\))",
       "cashier_grant varchar(10)",
       {}},
      {"tillexv8", "t_rm_vip_info", R"(residual_amt varchar\(20\))", "residual_amt varchar(6)", {}},
      {"tillexv8", "t_rm_saving_plus_record", R"(card_id varchar\(20\))", "card_id varchar(5)", {}},
      // A decimal's precision cut.
      {"tillexv8",
       "t_rm_vip_good_flow",
       R"(vgf_vip_num DECIMAL\(16,4\))",
       "vgf_vip_num DECIMAL(6,4)",
       {}},
      // NOT NULL added.
      {"tillexv8",
       "t_bd_supcust_info",
       R"(settle_branch varchar\(10\))",
       "settle_branch varchar(10) NOT NULL",
       {}},
      // Unique indexes, over rows selected and over rows the check computes.
      {"tillexv8", "", "", "", {"CREATE UNIQUE INDEX ux_name ON t_bd_item_info (item_name)"}},
      {"tillexv8",
       "",
       "",
       "",
       {"CREATE UNIQUE INDEX ux_plus ON t_rm_saving_plus_record (branch_no, card_id)"}},
      // CHECK constraints, over rows selected and over rows the check
      // computes, and a foreign key.
      {"tillexv8", "t_rm_cashier", R"(\)\s*$)", ", CHECK (cashier_grant <> '1001'))", {}},
      {"tillexv8", "t_rm_saving_plus_record", R"(\)\s*$)", ", CHECK (plus_count >= 10000))", {}},
      {"tillexv8",
       "t_rm_vip_info",
       R"(\)\s*$)",
       ", FOREIGN KEY (card_type) REFERENCES t_rm_vip_type (type_id))",
       {}},
      // A source column widened, with one value that wide.
      {"dravik_pro",
       "pos_t_vip_info",
       R"(card_id varchar\(20\))",
       "card_id varchar(30)",
       {"UPDATE pos_t_vip_info SET card_id = 'C' || substr('000000000000000000000000000' || "
        "rowid, -27) WHERE rowid = 1"}},
      // A source's primary key dropped, with a row doubled.
      {"dravik_pro",
       "pos_t_vip_info",
       R"(\s*PRIMARY KEY)",
       "",
       {"PRAGMA writable_schema=ON; DELETE FROM sqlite_master WHERE type='index' AND "
        "tbl_name='pos_t_vip_info'; PRAGMA writable_schema=OFF",
        "INSERT INTO pos_t_vip_info SELECT * FROM pos_t_vip_info WHERE rowid = 1"}},
  };
  bool subno = false;
  for (const Change& c : changes) {
    const std::string what = std::string(c.table) + ": " + c.to + (c.then.empty() ? "" : c.then[0]);
    test::DbFolder copy;
    copy.copyFrom(base);
    if (*c.from != '\0') {
      test::RawDb db(copy.file(c.database));
      ASSERT_TRUE(db.rewrite(c.table, c.from, c.to)) << what;
    }
    for (const std::string& sql : c.then) {
      test::RawDb db(copy.file(c.database));
      ASSERT_TRUE(db.exec(sql)) << what;
    }
    check(copy, "dravik_pro", subno);
    subno = !subno;
  }

  EXPECT_TRUE(allTsql(texts, "check_texts"));
  // Every kind of read the check builds was made, so that none escaped the
  // parser: each is known by how its text starts and what it holds (and,
  // where two kinds start alike, what it lacks).
  const struct {
    const char* read;
    const char* starts;
    const char* holds;
    const char* lacks;
  } reads[] = {
      {"a statement's rows, compiled", "select * from (", ") chk_probe where 1 = 0", nullptr},
      {"texts that may be too long", "select * from (", "datalength(t.", nullptr},
      {"numbers that may be too large", "select * from (", " <= -99", nullptr},
      {"dates that may not convert", "select * from (", "convert(datetime, t.", nullptr},
      {"a column made NOT NULL", "select * from (", "t.settle_branch is null", nullptr},
      {"rows as earlier statements leave them", "select * from (", ") k where ", nullptr},
      {"a source's values alone", "select top 1 1 from (select ", "", nullptr},
      {"a target column's values before the run", "select top 1 1 from t_", "", nullptr},
      {"whether a statement's rows can be read", "select count(*) from (select ", "", "chk_mine"},
      {"keys grouped", "select count(*) from (select chk_k0",
       "having count(*) > 1 and max(chk_mine) = 1", nullptr},
      {"keys grouped with the rows that stay", "select count(*) from (select chk_k0",
       "union all select convert(", nullptr},
      {"keys read to compare", "select t.", "", "item_clsno"},
      {"a CHECK constraint over selected rows", "select chk_key from (select ",
       "where not (cashier_grant", nullptr},
      {"a CHECK constraint over computed rows", "select chk_key from (select '",
       "where not (plus_count", nullptr},
      {"a foreign key", "select chk_key from (", "not exists (select 1 from (", nullptr},
      {"the card balances", "SELECT card_id, card_balance  FROM", "", nullptr},
      {"the cards counted", "select count(*) from dravik_pro..pos_t_vip_info", "", nullptr},
      {"the stored-value cards", "select card_id, card_balance from", "", nullptr},
      {"the classes to renumber", "select t.item_clsno from (", "", nullptr},
  };
  for (const auto& r : reads) {
    const bool made = std::any_of(texts.begin(), texts.end(), [&](const std::string& t) {
      return t.rfind(r.starts, 0) == 0 && t.find(r.holds) != std::string::npos &&
             (r.lacks == nullptr || t.find(r.lacks) == std::string::npos);
    });
    EXPECT_TRUE(made) << "no text reads " << r.read;
  }
  EXPECT_GT(texts.size(), 100U);
}

// SQL Server's catalogue stood in for: every text the catalogue sends is
// recorded, and a text that reads one of the views in `answers` is answered
// with the rows SQL Server would give, written as a select of literals
// that the session under it runs; any other with no row.
class CatalogueStandIn final : public ForwardingSession {
 public:
  CatalogueStandIn(std::unique_ptr<Session> inner, std::set<std::string>& texts,
                   std::vector<std::pair<std::string, std::string>> answers)
      : ForwardingSession(std::move(inner)), texts_(texts), answers_(std::move(answers)) {}

  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& /*inputs*/) override {
    texts_.emplace(sql);
    for (const auto& [view, rows] : answers_) {
      if (sql.find(view) != std::string_view::npos) {
        return ForwardingSession::openCursor(rows, {});
      }
    }
    return ForwardingSession::openCursor("select 1 where 1 = 0", {});
  }

 private:
  std::set<std::string>& texts_;
  std::vector<std::pair<std::string, std::string>> answers_;
};

// The catalogue read from SQL Server: its texts, for the target and for a
// source database, and those the session sends the server on its own
// account, are T-SQL with only the system functions they need besides the
// adapter's; and what the catalogue makes of the rows, the collation of a
// text column included, which lets the check trust a source's unique key.
TEST(StatementTexts, EveryTextOfTheSqlServerCatalogueIsTsql) {
  if (test::odbcBackendRequested()) {
    GTEST_SKIP() << "the texts do not depend on the backend";
  }
  test::DbFolder db;
  std::set<std::string> texts;
  CatalogueStandIn SQLCA(
      db.connect(), texts,
      {{"INFORMATION_SCHEMA.COLUMNS",
        "select 'card_id', 'varchar', 20, NULL, NULL, 'NO', NULL, 0, 'Chinese_PRC_CI_AS' "
        "union all select 'card_balance', 'decimal', NULL, 16, 4, 'YES', '((0))', 0, NULL "
        "union all select 'flow_id', 'int', NULL, 10, 0, 'NO', NULL, 1, NULL"},
       {"INFORMATION_SCHEMA.KEY_COLUMN_USAGE", "select 'card_id'"},
       {"sys.indexes", "select 'pk_card', 1, 1, 'card_id'"},
       {"sys.check_constraints", "select 'ck_balance', '([card_balance]>=(0))'"},
       {"sys.foreign_keys", "select 'fk_type', 'card_type', 't_rm_vip_type', 'type_id'"},
       {"is_disabled = 1", "select 't_bd_item_info'"},
       {"sys.triggers", "select 'tr_card'"},
       {"db_id(", "select 1"},
       {"HAS_PERMS_BY_NAME", "select 0"}});
  auto catalog = makeTsqlCatalog(SQLCA);
  bool exists = false;
  EXPECT_FALSE(catalog->databaseExists("dravik_pro", exists).failed()) << SQLCA.SQLErrText();
  EXPECT_TRUE(exists);
  std::vector<std::string> off;
  EXPECT_FALSE(catalog->triggersOff({"t_bd_item_info", "t_bd_item_cls"}, off).failed())
      << SQLCA.SQLErrText();
  EXPECT_EQ(off, std::vector<std::string>{"t_bd_item_info"});
  std::vector<TableRight> missing;
  EXPECT_FALSE(catalog->missingRights({{"", "t_rm_vip_info", "INSERT"}}, missing).failed())
      << SQLCA.SQLErrText();
  EXPECT_EQ(missing.size(), 1U);
  for (const std::string database : {"", "dravik_pro"}) {
    SCOPED_TRACE(database);
    TableInfo info;
    ASSERT_FALSE(catalog->describe(database, "t_rm_vip_info", info).failed()) << SQLCA.SQLErrText();
    ASSERT_EQ(info.columns.size(), 3U);
    EXPECT_EQ(info.columns[0].declared, "varchar(20)");
    EXPECT_EQ(info.columns[0].collation, "Chinese_PRC_CI_AS");
    EXPECT_TRUE(info.columns[0].key);
    EXPECT_FALSE(info.columns[0].nullable);
    EXPECT_EQ(info.columns[1].declared, "decimal(16,4)");
    EXPECT_EQ(info.columns[1].collation, "");
    EXPECT_TRUE(info.columns[2].identity);
    TableRules rules;
    ASSERT_FALSE(catalog->rules(database, "t_rm_vip_info", rules).failed()) << SQLCA.SQLErrText();
    ASSERT_EQ(rules.indexes.size(), 1U);
    EXPECT_TRUE(rules.indexes[0].primary);
    ASSERT_EQ(rules.checks.size(), 1U);
    EXPECT_EQ(rules.checks[0].clause, "([card_balance]>=(0))");
    ASSERT_EQ(rules.foreignKeys.size(), 1U);
    EXPECT_EQ(rules.foreignKeys[0].refTable, "t_rm_vip_type");
    EXPECT_EQ(rules.triggers, std::vector<std::string>{"tr_card"});
  }
  EXPECT_EQ(texts.size(), 15U);  // three, then six for each database
  texts.insert({kRowCountsOnSql, kDisabledTriggerTablesSql, kTransactionStateSql});
  EXPECT_TRUE(allTsql(
      texts, "catalogue_texts",
      {"db_id", "object_id", "object_name", "columnproperty", "has_perms_by_name", "xact_state"}));
}

// The parser check itself refuses what SQL Server refuses, each fault with
// its reason, and passes what it runs; else the tests above prove nothing.
TEST(StatementTexts, TheTextCheckRefusesWhatSqlServerRefuses) {
  if (test::odbcBackendRequested()) {
    GTEST_SKIP() << "the check does not depend on the backend";
  }
  // Queries and CASE expressions nested `depth` deep.
  auto nestedQueries = [](int depth) {
    std::string text = "select a from t";
    for (int i = 1; i < depth; ++i) {
      text = "select a from (" + text + ") t" + std::to_string(i);
    }
    return text;
  };
  auto nestedCases = [](int depth) {
    std::string text = "0";
    for (int i = 0; i < depth; ++i) {
      text = "case when a = " + std::to_string(i) + " then 1 else " + text + " end";
    }
    return "select " + text + " as b from t";
  };
  const struct {
    std::string text;
    std::string reason;  // "" when the text is T-SQL
  } cases[] = {
      {"select a || b from t", "the operator ||"},
      {"select a from t limit 1", "LIMIT"},
      {"select a from t where a == 1", "the operator =="},
      {"select a from t where b = \"x\"", "double quotes"},
      {"select ifnull(a, 0) from t", "calls ifnull"},
      {"select * from (select a from t)", "a derived table without an alias"},
      {"select * from (select a + 1 from t) u", "column 1 of the derived table u has no name"},
      {"select * from (select a, b as a from t) u", "the derived table u names a twice"},
      {"select * from (select a from t order by a) u", "a derived table ordered without TOP"},
      {"select (a > b) as c from t", "the condition (a > b) stands where"},
      {"select a from t where b in (select b from @t_bd_item_info)",
       "the variable @t_bd_item_info"},
      {"select @@TRANCOUNT", ""},
      {"SAVE TRANSACTION convert_rehearsal", ""},
      {"select top 1 a from (select a, b from t union all select a, 0 from u) v where "
       "case when (b <> 'x') then 0 else 1 end = 1 and not exists (select 1 from w where w.a = "
       "v.a)",
       ""},
      {"update t set a = isnull(b, '0') from u with(nolock) where t.c = u.c", ""},
      {nestedQueries(32), ""},
      {nestedQueries(33), "queries nested 33 deep"},
      {nestedCases(10), ""},
      {nestedCases(11), "CASE expressions nested 11 deep"},
  };
  std::vector<std::string> texts;
  for (const auto& c : cases) {
    texts.emplace_back(c.text);
  }
  std::string output;
  EXPECT_EQ(checkTexts(writeRecord(texts, "refused_texts"), {}, output), 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string found = "text " + std::to_string(i + 1) + " ";
    const auto at = output.find(found);
    if (cases[i].reason.empty()) {
      EXPECT_EQ(at, std::string::npos) << cases[i].text << "\n" << output;
    } else {
      EXPECT_NE(output.find(found + cases[i].reason), std::string::npos) << cases[i].text << "\n"
                                                                         << output;
    }
  }
}

}  // namespace
}  // namespace cvt
