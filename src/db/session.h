#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvt {

// A value exchanged with the database: NULL, or text. Numbers and decimals
// travel as their exact decimal text, never as binary floating point.
using Value = std::optional<std::string>;
using Row = std::vector<Value>;

// Result codes of a session operation, as callers test them.
inline constexpr long kSqlOk = 0;        // success, or a row was delivered
inline constexpr long kSqlNoData = 100;  // no row, no more rows, or nothing changed
inline constexpr long kSqlError = -1;    // failure; the text says why

// The outcome of one operation: a code and the engine's own error text.
struct SqlResult {
  long code = kSqlOk;
  std::string text;
  // Set on a failure after which the engine itself had rolled back the
  // whole open transaction (SQL Server for many errors and for a deadlock
  // victim, SQLite for I/O and disk-full errors and ROLLBACK conflicts):
  // the work that was pending before the failing statement is gone.
  bool transactionEnded = false;

  bool failed() const { return code < 0; }
  static SqlResult ok() { return {}; }
  static SqlResult noData() { return {kSqlNoData, {}}; }
  static SqlResult error(std::string message) { return {kSqlError, std::move(message)}; }
};

// Connection settings of the session, named as the installation's settings
// store names them. DBMS and DBParm are opaque strings from that store.
struct SessionSettings {
  std::string DBMS;
  std::string DBParm;
  std::string ServerName;
  std::string LogId;
  std::string LogPass;
  std::string Database;
  bool AutoCommit = false;
};

class Session;
class Catalog;

// A statement with bound inputs, prepared once and executed any number of
// times. Placeholders are written as '?' and bound in order.
// REQUIRES: the session that made it outlives it.
class Statement {
 public:
  virtual ~Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // Executes with `inputs` bound to the placeholders in order. Sets and
  // returns the session's SQLCode: 0 success, 100 when a data-changing
  // statement changed no rows, negative on failure (also when preparing
  // the text failed; the preparation error is then reported here).
  virtual long execute(const std::vector<Value>& inputs) = 0;

  // How a batch treats a row whose code is not 0.
  enum class OnFailure {
    Stop,      // no later row of the batch is run by this call
    Continue,  // every other row still runs
  };

  // What executeBatch() did, row by row in the order given.
  struct BatchOutcome {
    // One code per row that was run, as execute() would have set it: 0,
    // 100 (changed no rows) or negative. With OnFailure::Stop the rows
    // after the first code that is not 0 are missing.
    std::vector<long> codes;
    // Set when the engine reports only the total of rows that the batch
    // changed: a row without error then has code 0 even if it changed
    // nothing, and only this total tells.
    std::optional<long long> totalChanged;
  };

  // Executes the statement once for each element of `rows` (its inputs),
  // in order. A backend that can send many rows in one round trip does so
  // (with OnFailure::Stop, rows sent in the same round trip as the failing
  // one may already have run: the caller's failure path, which undoes the
  // open transaction, must not depend on them). Callers read the outcome;
  // the session's SQLCode afterwards is that of the last request sent.
  // `afterRow`, when given, is called with each row's index and code as
  // soon as its outcome is known, while the session still holds that row's
  // result (for a row of a parameter array: the array's diagnostics).
  using RowObserver = std::function<void(std::size_t row, long code)>;
  virtual BatchOutcome executeBatch(const std::vector<std::vector<Value>>& rows,
                                    OnFailure onFailure, const RowObserver& afterRow = {});

 protected:
  Statement() = default;
};

// A forward-only cursor that streams its rows: it never holds the whole
// result. Closing happens in the destructor (or by close()).
// REQUIRES: the session that made it outlives it.
class Cursor {
 public:
  virtual ~Cursor() = default;
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  // Fetches the next row into `row` (one Value per column). Sets and returns
  // the session's SQLCode: 0 a row was delivered, 100 no more rows, negative
  // on error (including an open that failed). `row` is untouched unless 0.
  virtual long fetch(Row& row) = 0;

  // Names of the result columns, as the engine reports them (empty when the
  // open failed).
  virtual const std::vector<std::string>& columns() const = 0;

  // Releases the cursor early; fetch() then returns 100. Idempotent.
  virtual void close() = 0;

 protected:
  Cursor() = default;
};

// The one database session (SQLCA). Auto-commit is off: every statement,
// truncate and trigger switches included, joins one open transaction that
// lasts until commit() or rollback(). After every operation SQLCode() and
// SQLErrText() tell its outcome.
class Session {
 public:
  virtual ~Session() = default;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  SessionSettings settings;

  long SQLCode() const { return last_.code; }
  const std::string& SQLErrText() const { return last_.text; }
  const SqlResult& lastResult() const { return last_; }
  // True when the latest operation failed and the engine rolled back the
  // open transaction with it (see SqlResult::transactionEnded).
  bool transactionEnded() const { return last_.failed() && last_.transactionEnded; }
  // Tables whose triggers were found switched off when the session
  // connected: a run that was killed between switching them off and on
  // leaves them so. Empty when none were, or the engine cannot tell.
  const std::vector<std::string>& triggersOffAtConnect() const { return triggersOff_; }
  // Rows changed by the latest data-changing statement (0 otherwise).
  long long SQLNRows() const { return rows_; }
  // Statements sent to the engine since the session was made.
  std::uint64_t statementsExecuted() const { return statements_; }
  // The text of the statement most recently sent, as the caller wrote it
  // (execute, a prepared statement's execute, a cursor's open; "COMMIT" and
  // "ROLLBACK" for those), so that a failure can be shown with the
  // statement that caused it. Never a connection string.
  const std::string& lastStatementText() const { return lastStatement_; }
  // Requests that waited for the engine's answer since the session was
  // made: statements (a batch of rows sent at once counts once), cursor
  // opens, commits and rollbacks. Rows fetched from an open cursor arrive
  // streamed and are not counted.
  std::uint64_t roundTrips() const { return roundTrips_; }

  // Connects with `settings`. Returns SQLCode: 0 connected, anything else
  // failed, with the engine's text in SQLErrText().
  virtual long connect() = 0;
  // Disconnects. Work pending in the open transaction is committed first,
  // so that statements issued just before a close stay in force.
  virtual void disconnect() = 0;
  virtual bool connected() const = 0;

  // Executes a statement text immediately, without result rows.
  virtual long execute(std::string_view sql) = 0;
  // End the open transaction. Each returns SQLCode: 0, or negative when
  // the engine refused (a busy or locked database, a lost connection, a
  // full log). After a failed commit nothing of the transaction is
  // guaranteed to be stored; the caller rolls back.
  virtual long commit() = 0;
  virtual long rollback() = 0;

  // Prepares a statement with '?' placeholders. Never returns null; a
  // failed preparation reports its error at every execute().
  virtual std::unique_ptr<Statement> prepare(std::string_view sql) = 0;

  // Opens a streaming cursor over a select with '?' placeholders bound to
  // `inputs`. Never returns null; a failed open reports at the first fetch.
  virtual std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                             const std::vector<Value>& inputs = {}) = 0;

  // Singleton select: runs `sql` with `inputs`; on a row (SQLCode 0) stores
  // its columns into `outputs` in order; on 100 leaves `outputs` unchanged;
  // negative on error, also when the select returns more than one row.
  long selectInto(std::string_view sql, const std::vector<Value>& inputs,
                  const std::vector<Value*>& outputs);

  // What the connected databases say about their tables, read without
  // changing anything. Never null; a backend that cannot tell answers
  // every question with a failure that says so.
  virtual std::unique_ptr<Catalog> catalog();

  // Called before every statement is sent; when it returns true the
  // statement is not sent and fails with an interruption error. Lets a
  // front end honour Ctrl-C between two statements.
  void setInterruptCheck(std::function<bool()> check) { interrupt_ = std::move(check); }

 protected:
  Session() = default;

  // Backends record every outcome through these.
  long setResult(SqlResult result);
  void setRows(long long rows) { rows_ = rows; }
  void countStatement() { ++statements_; }
  void noteStatement(std::string_view sql) { lastStatement_.assign(sql); }
  void setTriggersOffAtConnect(std::vector<std::string> tables) {
    triggersOff_ = std::move(tables);
  }
  void countRoundTrip() { ++roundTrips_; }
  // True (and SQLCode set to the interruption error) when the front end
  // asked to stop before the next statement.
  bool interrupted();

 private:
  SqlResult last_;
  long long rows_ = 0;
  std::uint64_t statements_ = 0;
  std::string lastStatement_;
  std::uint64_t roundTrips_ = 0;
  std::function<bool()> interrupt_;
  std::vector<std::string> triggersOff_;
};

// Makes the session that `dbms` selects: the embedded SQLite backend for
// "SQLite" (any case), the ODBC backend for any other non-empty value.
// An empty DBMS gives a session whose connect fails with a clear text,
// followed by `why` when it is given (where the setting was looked for).
std::unique_ptr<Session> makeSession(const std::string& dbms, const std::string& why = {});

}  // namespace cvt
