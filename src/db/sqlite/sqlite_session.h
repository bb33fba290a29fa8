#pragma once

#include <memory>

#include "db/session.h"

namespace cvt {

// The embedded backend: a Session on SQLite files, selected by DBMS
// "SQLite". `ServerName` names a folder (a trailing ",port" is ignored);
// the main database is `<folder>/<Database>.db` (Database empty means
// tillexv8) and must exist: connect never creates it. Every other
// `<folder>/<name>.db` whose name is a plain identifier is attached under
// that name, so that statements can address it as `name..table` (at most
// as many as SQLite's attach limit allows, in name order). Statements are
// T-SQL texts, translated by the T-SQL rewriter (tsql_rewriter.h); the
// T-SQL functions and the TSQL collation are registered on connect, and the
// trigger-switch table is created in the main database if it is missing.
//
// Auto-commit is off: the first statement after connect, commit or
// rollback opens a transaction that every further statement joins. A
// failed statement undoes only itself; the transaction stays open (should
// the engine itself roll back, the error text says so).
//
// SQLCode: 0 success or a row; 100 for an INSERT, UPDATE or DELETE that
// changed no row, an exhausted cursor or an empty singleton select; -1 for
// a text the adapter refuses or a session misuse; minus SQLite's primary
// result code (for example -19 for a constraint) for an engine failure.
std::unique_ptr<Session> makeSqliteSession();

// The settings (PRAGMA statements) that connect applies to the main
// database before anything else, for whoever must run SQLite the same way.
const char* embeddedConnectionSettings();

}  // namespace cvt
