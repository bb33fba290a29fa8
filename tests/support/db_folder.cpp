#include "support/db_folder.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "db/sqlite/tsql_functions.h"
#include "demo/schema.h"
#include "platform/paths.h"
#include "support/odbc_sqlite.h"
#include "support/test_platform.h"

namespace cvt::test {

namespace {

struct Db {
  sqlite3* handle = nullptr;
  explicit Db(const std::string& file) {
    if (sqlite3_open(file.c_str(), &handle) != SQLITE_OK) {
      throw std::runtime_error("cannot open " + file);
    }
    sqlite3_busy_timeout(handle, 5000);
    registerTsqlFunctions(handle);
    // Fixture writes need no durability: without syncing, building a folder
    // takes milliseconds instead of a second and a half of disk flushes.
    sqlite3_exec(handle, "PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
  }
  ~Db() { sqlite3_close(handle); }
  Db(const Db&) = delete;
  Db& operator=(const Db&) = delete;
};

}  // namespace

DbFolder::DbFolder(const std::string& prefix) {
  path_ = makeTempFolder(prefix);
  if (path_.empty()) {
    throw std::runtime_error("no temporary folder");
  }
  exec("tillexv8", "BEGIN;" + targetSchemaSql() + "COMMIT;");
  exec("dravik_pro", "BEGIN;" + sourceSchemaSql() + "COMMIT;");
  exec("dravik_std", "BEGIN;" + sourceSchemaSql() + "COMMIT;");
}

DbFolder::~DbFolder() {
  std::error_code ec;
  std::filesystem::remove_all(platform::fsPath(path_), ec);
}

void DbFolder::exec(const std::string& database, const std::string& sql) const {
  Db db(file(database));
  char* err = nullptr;
  const int rc = sqlite3_exec(db.handle, sql.c_str(), nullptr, nullptr, &err);
  const std::string msg = err != nullptr ? err : "";
  sqlite3_free(err);
  ASSERT_EQ(rc, SQLITE_OK) << msg << "\n" << sql;
}

std::vector<Row> DbFolder::query(const std::string& database, const std::string& sql) const {
  Db db(file(database));
  sqlite3_stmt* stmt = nullptr;
  std::vector<Row> rows;
  if (sqlite3_prepare_v2(db.handle, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
    ADD_FAILURE() << sqlite3_errmsg(db.handle) << "\n" << sql;
    return rows;
  }
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    Row row;
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
        row.emplace_back(std::nullopt);
      } else {
        row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
      }
    }
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(stmt);
  return rows;
}

Value DbFolder::scalar(const std::string& database, const std::string& sql) const {
  auto rows = query(database, sql);
  if (rows.empty() || rows.front().empty()) {
    return std::nullopt;
  }
  return rows.front().front();
}

void DbFolder::copyFrom(const DbFolder& other) const {
  for (const char* db : {"tillexv8", "dravik_pro", "dravik_std"}) {
    // Removed first: MinGW's libstdc++ refuses to overwrite with copy_file.
    std::filesystem::remove(file(db));
    std::filesystem::copy_file(other.file(db), file(db));
  }
}

std::unique_ptr<Session> DbFolder::connect() const {
  if (odbcBackendRequested()) {
    return connectOdbcSqlite(*this);
  }
  auto session = makeSession("SQLite");
  session->settings.DBMS = "SQLite";
  session->settings.ServerName = path_;
  session->settings.Database = "tillexv8";
  session->settings.LogId = "sa";
  if (session->connect() != 0) {
    ADD_FAILURE() << "connect failed: " << session->SQLErrText();
  }
  return session;
}

}  // namespace cvt::test
