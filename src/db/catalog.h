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
  // The type as declared ("varchar(20)", "decimal(16,4)", "int"); what a
  // value stored into the column is fitted to.
  std::string declared;
  bool nullable = true;
  // The default an insert that leaves the column out gives it, as the
  // catalogue writes it ("'0'", "((0))", "(getdate())"); none: NULL.
  Value defaultValue;
  bool identity = false;  // numbered by the database itself
  // The collation that compares the column's values (a text column's
  // COLLATE); empty when the catalogue does not say.
  std::string collation;
};

struct TableInfo {
  bool exists = false;
  std::vector<ColumnInfo> columns;

  // The column named `name` (compared without regard to case), or null.
  const ColumnInfo* find(std::string_view name) const;
};

// An index of a table: its columns in key order.
struct IndexInfo {
  std::string name;
  bool unique = false;
  bool primary = false;
  std::vector<std::string> columns;
};

// A CHECK constraint: its name (may be empty) and its condition as the
// catalogue writes it.
struct CheckInfo {
  std::string name;
  std::string clause;
};

// A foreign key of a table: its columns and the columns of the table they
// refer to, in the same order.
struct ForeignKeyInfo {
  std::string name;
  std::vector<std::string> columns;
  std::string refTable;
  std::vector<std::string> refColumns;
};

// The rules a table puts on the rows stored into it, beyond its columns'
// types and NULL rules.
struct TableRules {
  // False when the catalogue does not expose them (then the lists are
  // empty whatever the table holds).
  bool exposed = false;
  std::vector<IndexInfo> indexes;
  std::vector<CheckInfo> checks;
  std::vector<ForeignKeyInfo> foreignKeys;
  std::vector<std::string> triggers;  // names of triggers that are switched on
  // A unique index admits several rows whose key holds a NULL (SQLite)
  // rather than treating NULLs as equal (SQL Server).
  bool nullsDistinct = false;
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
  // The indexes, CHECK constraints, foreign keys and triggers of `table` in
  // `database` (empty: the target). An engine whose catalogue does not
  // expose them leaves `out.exposed` false.
  virtual SqlResult rules(const std::string& database, const std::string& table, TableRules& out);
};

// The CHECK constraints of a CREATE TABLE text, with their names where the
// text gives them (CONSTRAINT name CHECK (...)).
std::vector<CheckInfo> checkClausesOf(std::string_view createTable);

// A declared type text ("varchar(20)", "DECIMAL(16,4)", "int", "nvarchar(max)")
// read into `column`'s type, length, precision and scale.
void readDeclaredType(std::string_view declared, ColumnInfo& column);

}  // namespace cvt
