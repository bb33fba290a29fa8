#include "support/raw_db.h"

#include <regex>

#include "db/sqlite/tsql_functions.h"

namespace cvt::test {

RawDb::RawDb(const std::string& file) {
  sqlite3_open(file.c_str(), &db_);
  registerTsqlFunctions(db_);  // the TSQL collation of the text columns
}

RawDb::~RawDb() { sqlite3_close(db_); }

bool RawDb::exec(const std::string& sql) {
  return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::vector<std::vector<std::string>> RawDb::rows(const std::string& sql) {
  std::vector<std::vector<std::string>> out;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      std::vector<std::string> row;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* t = sqlite3_column_text(stmt, i);
        row.emplace_back(t != nullptr ? reinterpret_cast<const char*>(t) : "");
      }
      out.push_back(std::move(row));
    }
  }
  sqlite3_finalize(stmt);
  return out;
}

std::vector<RawColumn> RawDb::columns(const std::string& table) {
  std::vector<RawColumn> out;
  for (const auto& r :
       rows("SELECT name, type, \"notnull\", pk FROM pragma_table_info('" + table + "')")) {
    out.push_back({r[0], r[1], r[2] == "1", r[3] != "0"});
  }
  return out;
}

bool RawDb::rewrite(const std::string& table, const std::string& from, const std::string& to) {
  const auto sql =
      rows("SELECT sql FROM sqlite_master WHERE type='table' AND name='" + table + "'");
  if (sql.empty()) {
    return false;
  }
  const std::string changed = std::regex_replace(sql[0][0], std::regex(from, std::regex::icase), to,
                                                 std::regex_constants::format_first_only);
  if (changed == sql[0][0]) {
    return false;
  }
  sqlite3_stmt* stmt = nullptr;
  exec("PRAGMA writable_schema=ON");
  sqlite3_prepare_v2(db_, "UPDATE sqlite_master SET sql=?1 WHERE type='table' AND name=?2", -1,
                     &stmt, nullptr);
  sqlite3_bind_text(stmt, 1, changed.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_text(stmt, 2, table.c_str(), -1, SQLITE_TRANSIENT);
  const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
  sqlite3_finalize(stmt);
  exec("PRAGMA writable_schema=OFF");
  return ok;
}

}  // namespace cvt::test
