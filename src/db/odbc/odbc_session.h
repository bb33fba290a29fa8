#pragma once

#include <memory>

#include "db/dialect.h"
#include "db/session.h"

namespace cvt {

// Makes the session's ODBC backend (unixODBC on Linux, the system driver
// manager on Windows), which reaches SQL Server for every DBMS value other
// than "SQLite". Its connection string comes from the settings as
// buildOdbcConnectRequest describes (db/odbc_connection_string.h).
//
// Codes and texts mean what they mean for the embedded backend: auto-commit
// is off, SQL_NO_DATA and a data-changing statement that changed no rows
// give 100, a failure gives a negative code with the driver's diagnostic
// records as text (the password never appears in it). Texts cross the ODBC
// boundary as UTF-16; values are exchanged as exact text.
//
// When the data source turns out to be SQLite (a test setup through the
// SQLite ODBC driver), statements are rewritten client-side from T-SQL, the
// other *.db files beside the target file are attached under their names,
// and texts cross as UTF-8, SQLite's own encoding. The T-SQL functions then
// come from the loadable extension named in DBParm (LoadExt=...), and the
// texts are translated by the dialect that `sqliteDialect` makes; without
// one, connecting to a SQLite data source fails.
std::unique_ptr<Session> makeOdbcSession(SqlDialectFactory sqliteDialect);

}  // namespace cvt
