#pragma once

struct sqlite3;

namespace cvt {

// Name of the collation that gives SQL Server's default comparison rules
// (letters compared without regard to case, trailing blanks ignored by =,
// <>, <, in, max). Text columns of an embedded database declare it:
//   item_no varchar(20) COLLATE TSQL
inline constexpr const char* kTsqlCollation = "TSQL";

// The table in which a database records the tables whose triggers are
// switched off. "ALTER TABLE t disable TRIGGER all" inserts t,
// "... enable TRIGGER all" deletes it; both are ordinary statements of the
// open transaction, so a rollback undoes them. A trigger that honours the
// switch declares:
//   CREATE TRIGGER ... WHEN NOT EXISTS
//     (SELECT 1 FROM tsql_trigger_off WHERE table_name = 't_bd_item_info')
inline constexpr const char* kTriggerOffTable = "tsql_trigger_off";

// Registers the T-SQL functions (len, left, right, getdate, the convert
// helper, ...) and the TSQL collation on `db`. Returns an SQLite result
// code (SQLITE_OK on success).
int registerTsqlFunctions(sqlite3* db);

}  // namespace cvt
