// convert-batch reaches both backends by the same options: a full
// conversion of the demo data through the ODBC backend (unixODBC and the
// SQLite3 ODBC driver) leaves the same target as through the embedded one,
// and an unreachable SQL Server fails the connect with the driver's text.
#include <gtest/gtest.h>
#include <sqlite3.h>

// Platform section (tests run on Linux only): the batch command runs as a
// child process through the shell.
#include <stdio.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "db/sqlite/tsql_functions.h"
#include "demo/generator.h"
#include "support/db_folder.h"
#include "support/odbc_sqlite.h"

namespace cvt {
namespace {

struct BatchRun {
  int status = -1;
  std::string output;
};

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Runs convert-batch with `arguments` and no settings store of the machine.
BatchRun runBatch(const std::string& environment, const std::vector<std::string>& arguments) {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  std::string command = "CONVERT_SETTINGS_FILE=/nonexistent/settings.ini " + environment + " " +
                        quoted(std::string(dir != nullptr ? dir : ".") + "/convert-batch");
  for (const auto& argument : arguments) {
    command += " " + quoted(argument);
  }
  command += " 2>&1";
  BatchRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot start " << command;
    return run;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    run.output.append(buffer, n);
  }
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Every row of every target table as text, without the columns that hold
// the time of the run.
std::vector<std::string> targetContents(const std::string& folder) {
  std::vector<std::string> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((folder + "/tillexv8.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    ADD_FAILURE() << "cannot open " << folder;
    sqlite3_close(db);
    return out;
  }
  registerTsqlFunctions(db);
  auto rows = [&](const std::string& sql) {
    std::vector<std::string> result;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(db) << ": " << sql;
      return result;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const unsigned char* text = sqlite3_column_text(stmt, i);
        row += text != nullptr ? reinterpret_cast<const char*>(text) : "<null>";
        row += '|';
      }
      result.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    return result;
  };
  for (const auto& table :
       rows("SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 't\\_%' "
            "ESCAPE '\\' ORDER BY name")) {
    const std::string name = table.substr(0, table.size() - 1);
    const auto columns = rows("SELECT group_concat(name, ', ') FROM pragma_table_info('" + name +
                              "') WHERE name NOT LIKE '%date%' AND name NOT LIKE '%time%'");
    out.push_back("== " + name);
    std::string list = columns.front();
    list.pop_back();
    for (auto& row : rows("SELECT " + list + " FROM " + name + " ORDER BY " + list)) {
      out.push_back(std::move(row));
    }
  }
  sqlite3_close(db);
  return out;
}

TEST(OdbcBatch, FullConversionMatchesTheEmbeddedBackend) {
  // Folders that the demo generator fills anew.
  test::DbFolder embedded;
  test::DbFolder odbc;
  for (const auto* folder : {&embedded, &odbc}) {
    DemoOptions options;
    options.folder = folder->path();
    const DemoResult demo = generateDemo(options);
    ASSERT_TRUE(demo.ok) << demo.error;
  }
  const std::vector<std::string> common = {"--source", "dravik_pro", "--categories", "all"};

  std::vector<std::string> args = {"--server", embedded.path(), "--dbms", "SQLite"};
  args.insert(args.end(), common.begin(), common.end());
  const BatchRun first = runBatch("", args);
  ASSERT_EQ(first.status, 0) << first.output;

  args = {"--server", odbc.path(), "--dbms", "ODBC", "--dbparm", test::odbcSqliteDbParm()};
  args.insert(args.end(), common.begin(), common.end());
  const BatchRun second = runBatch("", args);
  ASSERT_EQ(second.status, 0) << second.output;

  const auto expected = targetContents(embedded.path());
  const auto actual = targetContents(odbc.path());
  EXPECT_GT(expected.size(), 10000u);
  EXPECT_EQ(actual, expected);
}

TEST(OdbcBatch, UnreachableServerFailsTheConnectWithTheDriversText) {
  const BatchRun run =
      runBatch("CONVERT_TEST_PASSWORD=Geheim-Pass1",
               {"--server", "no-such-host.invalid", "--port", "2000", "--dbms",
                "MSS Microsoft SQL Server", "--dbparm", "LoginTimeout=3", "--password-env",
                "CONVERT_TEST_PASSWORD", "--categories", "region", "--events", "jsonl"});
  EXPECT_EQ(run.status, 3) << run.output;
  EXPECT_NE(run.output.find("连接数据库失败![FreeTDS]"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("Geheim-Pass1"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace cvt
