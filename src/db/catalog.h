#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt {

// One column as the database declares it. `type` is the base type in lower
// case ("varchar", "decimal", "int", ...); `length` the declared length of
// a text type (bytes for char/varchar, characters for nchar/nvarchar; -1
// when none, also for varchar(max)); `precision`/`scale` those of a
// decimal or numeric type (-1 when none).
struct ColumnInfo {
  std::string name;
  std::string type;
  long long length = -1;
  int precision = -1;
  int scale = -1;
  bool key = false;  // part of the table's primary key
};

struct TableInfo {
  bool exists = false;
  std::vector<ColumnInfo> columns;

  // The column named `name` (compared without regard to case), or null.
  const ColumnInfo* find(std::string_view name) const;
};

// A right that a run needs on a table: SELECT, INSERT, UPDATE, DELETE or
// ALTER.
struct TableRight {
  std::string database;  // empty: the target
  std::string table;
  std::string right;
};

// What a database says about its own tables, read without changing
// anything. Every call returns the outcome of its queries: ok, or a
// failure with the engine's text (then the outputs are unspecified).
class Catalog {
 public:
  virtual ~Catalog() = default;
  // Whether the database named `database` can be reached on the session.
  virtual SqlResult databaseExists(const std::string& database, bool& exists) = 0;
  // The columns of `table` in `database` (empty: the target); `out.exists`
  // false when there is no such table.
  virtual SqlResult describe(const std::string& database, const std::string& table,
                             TableInfo& out) = 0;
  // Those of `tables` (in the target) whose triggers are switched off now.
  virtual SqlResult triggersOff(const std::vector<std::string>& tables,
                                std::vector<std::string>& off) = 0;
  // Those of `needed` that the login does not hold. An engine without
  // rights (a SQLite file) holds them all.
  virtual SqlResult missingRights(const std::vector<TableRight>& needed,
                                  std::vector<TableRight>& missing) = 0;
};

// A declared type text ("varchar(20)", "DECIMAL(16,4)", "int", "nvarchar(max)")
// read into `column`'s type, length, precision and scale.
void readDeclaredType(std::string_view declared, ColumnInfo& column);

}  // namespace cvt
