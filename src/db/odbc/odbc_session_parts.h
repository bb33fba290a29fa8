#pragma once

// The ODBC session's parts, shared by its files: the session itself
// (connection, transactions: odbc_session.cpp), its statements, batches
// and parameter arrays (odbc_statements.cpp), its cursors and columns
// (odbc_cursors.cpp), and how texts cross the boundary, UTF-16 or narrow,
// with the diagnostics that come back (odbc_text_modes.cpp).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/dialect.h"
#include "db/odbc/odbc_handles.h"
#include "db/odbc/tsql_catalog.h"
#include "db/session.h"

namespace cvt::odbc {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t),
              "texts cross the ODBC boundary as UTF-16, two bytes a character");

inline constexpr const char* kNotConnected = "Not connected to the database.";

// How texts (statements, names, messages) cross the ODBC boundary. Data
// values always travel as SQL_C_WCHAR, which every driver here converts.
// The SQLite ODBC driver of Debian has no wide entry points, and the driver
// manager narrows wide texts for it byte by byte; SQLite's own encoding is
// UTF-8, so its texts go through the narrow entry points unchanged.
enum class TextMode { Wide, Utf8 };

inline SQLWCHAR* sqlText(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }
inline SQLCHAR* sqlText(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

inline SQLPOINTER attributeValue(std::uintptr_t value) {
  return reinterpret_cast<SQLPOINTER>(value);
}

// True for INSERT, UPDATE, DELETE and MERGE: the statements whose "changed
// no rows" is reported as 100. Leading blanks, comments and '(' are skipped.
bool changesData(std::string_view sql);

// The diagnostic records of a handle, one message a line, repeats dropped.
std::string diagnostics(SQLSMALLINT kind, SQLHANDLE handle, TextMode mode);

// Input values bound to a statement handle. The buffers stay bound across
// executions; a parameter is bound again only when its value outgrows its
// buffer (or the number of values changes).
class BoundInputs {
 public:
  SQLRETURN bind(SQLHSTMT stmt, const std::vector<Value>& inputs);

  // The statement's bindings were reset elsewhere: bind every value anew
  // next time.
  void forget() { slots_.clear(); }

 private:
  struct Slot {
    std::u16string text;
    std::vector<char16_t> buffer;  // bound; its storage moves only on a rebind
    std::size_t capacity = 0;      // characters; 0 until bound
    SQLLEN indicator = 0;
  };
  // Slots never move once bound: the vector is resized only together with
  // a reset of every binding.
  std::vector<Slot> slots_;
};

// The number of placeholders of a prepared statement, or -1 when the
// driver cannot tell.
int placeholderCount(SQLHSTMT stmt);

// Drivers bind a missing value as NULL without a word; a caller that gives
// too few or too many values has made a mistake that must not run.
SqlResult checkInputCount(const char* what, int placeholders, const std::vector<Value>& inputs);

// What the session sends for one statement text: the text itself for SQL
// Server, the dialect's statements for a SQLite data source.
using Translation = DialectTranslation;

class OdbcSession final : public Session {
 public:
  explicit OdbcSession(SqlDialectFactory sqliteDialect)
      : makeSqliteDialect_(std::move(sqliteDialect)) {}
  ~OdbcSession() override {
    if (connected()) {
      // Work that nobody committed is not committed behind the owner's back.
      SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
      closeConnection();
    }
  }

  long connect() override;
  void disconnect() override;
  bool connected() const override { return static_cast<bool>(dbc_); }

  long execute(std::string_view sql) override;
  long commit() override { return endTransaction(SQL_COMMIT); }
  long rollback() override { return endTransaction(SQL_ROLLBACK); }

  std::unique_ptr<Statement> prepare(std::string_view sql) override;
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override;
  // SQL Server's catalogue through T-SQL; a SQLite data source has none
  // that T-SQL can read.
  std::unique_ptr<Catalog> catalog() override {
    return connected() && !sqlite_ ? makeTsqlCatalog(*this) : Session::catalog();
  }

 private:
  class OdbcStatement;
  class OdbcCursor;

  void closeConnection();
  long endTransaction(SQLSMALLINT completion);
  // Before every statement that reaches the engine: remembers that work
  // may be pending and, on a SQLite data source, marks the transaction.
  void startWork();
  // `result` as it is, or, when it is a failure with which the engine
  // rolled back the transaction the statement ran in, marked so.
  SqlResult noticeEnded(SqlResult result);
  // The first column of every row of `sql`, sent directly.
  std::vector<std::string> readColumn(const std::string& sql);
  bool attachNeighbours();
  Translation translate(std::string_view sql);

  // Runs all but the last statement of `translation` directly: the parts
  // of one T-SQL text, counted and checked for interruption as one.
  // Returns the first failure, or ok.
  SqlResult runPrelude(const Translation& translation);
  // Sends one text directly on the session's own statement handle.
  SqlResult runDirect(const std::string& text, bool changes_data, long long& rows);
  // Runs a query directly and reads every row, values as text ("" for
  // NULL). False when the query failed.
  bool queryDirect(const std::string& text, std::vector<std::vector<std::string>>& rows);
  // Reads the outcome of an execution on `stmt` that returned `rc`, and
  // drains any further results so that an error raised late (by a trigger,
  // say) still fails the statement.
  SqlResult finish(SQLHSTMT stmt, SQLRETURN rc, bool changes_data, long long& rows);

  SQLRETURN execDirect(SQLHSTMT stmt, const std::string& text);
  SQLRETURN prepareText(SQLHSTMT stmt, const std::string& text);
  SqlResult failure(SQLSMALLINT kind, SQLHANDLE handle) const;
  std::string scrubbed(std::string text) const;

  OdbcEnvHandle env_;
  OdbcDbcHandle dbc_;
  OdbcStmtHandle direct_;  // for execute(); closed after every statement
  // Shared with every statement and cursor made on this connection: false
  // once the connection is closed, since closing it freed their handles.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(false);
  TextMode mode_ = TextMode::Wide;
  std::string password_;

  bool sqlite_ = false;
  std::vector<std::string> attached_;
  bool pending_ = false;      // statements sent since the last commit or rollback
  std::uint64_t marker_ = 0;  // number of the current transaction's marker row
  bool markerWritten_ = false;
  SqlDialectFactory makeSqliteDialect_;
  std::unique_ptr<SqlDialect> dialect_;  // set while connected to SQLite
};

}  // namespace cvt::odbc
