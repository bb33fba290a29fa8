#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace cvt::test {

// A column of a SQLite table as its CREATE text declares it.
struct RawColumn {
  std::string name;
  std::string type;
  bool notNull = false;
  bool key = false;
};

// A database file of a test folder, opened raw: for schema edits no
// statement of the tool would make (a narrowed column, a dropped key), as
// a database administrator might have made them on the server. The T-SQL
// functions and the TSQL collation are registered, so that the text
// columns' CREATE texts stay readable.
class RawDb {
 public:
  explicit RawDb(const std::string& file);
  ~RawDb();
  RawDb(const RawDb&) = delete;
  RawDb& operator=(const RawDb&) = delete;

  // Runs one or more plain SQLite statements; false on any error.
  bool exec(const std::string& sql);
  // The rows of a plain SQLite select, every value as text ("" for NULL).
  std::vector<std::vector<std::string>> rows(const std::string& sql);
  std::vector<RawColumn> columns(const std::string& table);
  // Replaces the first match of the pattern `from` (a regular expression,
  // any case) in the table's CREATE text with `to`; the rows stay as they
  // are, as after an ALTER that the server would make. False when the
  // table or the pattern is not found.
  bool rewrite(const std::string& table, const std::string& from, const std::string& to);

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace cvt::test
