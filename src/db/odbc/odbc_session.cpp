// The ODBC session: connecting (SQL Server, or a SQLite data source with
// its neighbouring files attached), transactions, and telling whether the
// engine rolled back the transaction a failed statement ran in.

#include "db/odbc/odbc_session.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "db/names.h"
#include "db/odbc/odbc_connection_string.h"
#include "db/odbc/odbc_session_parts.h"
#include "db/odbc/sql_server_texts.h"
#include "db/odbc/utf16_text.h"
#include "platform/driver_paths.h"
#include "platform/paths.h"

namespace cvt {

namespace odbc {

namespace {

// Sent to a SQLite data source after connecting, with auto-commit still on
// (SQLite cannot attach inside a transaction).
constexpr const char* kListDatabases = "PRAGMA database_list";
constexpr const char* kAttachDatabase = "ATTACH DATABASE ";  // + 'file' AS name
constexpr const char* kCreateTriggerOffTable =
    "CREATE TABLE IF NOT EXISTS tsql_trigger_off (table_name TEXT PRIMARY KEY COLLATE NOCASE)";

constexpr const char* kSwitchedOffTables = "SELECT table_name FROM tsql_trigger_off";

// A SQLite data source cannot be asked through the driver, which opens a
// transaction of its own before every statement: each transaction that
// carries work first writes a numbered row into a temporary table, and the
// row is gone exactly when the engine rolled that transaction back.
constexpr const char* kCreateMarkerTable =
    "CREATE TEMP TABLE IF NOT EXISTS tsql_tx_marker (n INTEGER PRIMARY KEY)";
constexpr const char* kInsertMarker = "INSERT INTO temp.tsql_tx_marker (n) VALUES (";  // + n)
constexpr const char* kCountMarker = "SELECT count(*) FROM temp.tsql_tx_marker WHERE n = ";
constexpr const char* kBeginAgain = "BEGIN";
constexpr const char* kEndedNote = " (the engine rolled back the open transaction)";

// SQLite's default limit on attached databases.
constexpr std::size_t kMaxAttached = 10;

std::string quotedLiteral(std::string_view text) {
  std::string out = "'";
  for (const char c : text) {
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  out += '\'';
  return out;
}

}  // namespace

long OdbcSession::connect() {
  if (connected()) {
    disconnect();
  }
  setRows(0);
  password_ = settings.LogPass;
  const OdbcConnectRequest request = buildOdbcConnectRequest(settings);
  if (!request.ok()) {
    return setResult(SqlResult::error(request.error));
  }

  OdbcEnvHandle env;
  if (!SQL_SUCCEEDED(env.allocate(SQL_NULL_HANDLE))) {
    return setResult(SqlResult::error("The ODBC driver manager could not be loaded."));
  }
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, attributeValue(SQL_OV_ODBC3), 0);
  OdbcDbcHandle dbc;
  if (!SQL_SUCCEEDED(dbc.allocate(env.get()))) {
    return setResult(SqlResult::error(scrubbed(diagnostics(SQL_HANDLE_ENV, env.get(), mode_))));
  }
  SQLSetConnectAttr(dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                    attributeValue(static_cast<std::uintptr_t>(request.loginTimeoutSeconds)), 0);

  mode_ = request.driverKind == OdbcDriverKind::Sqlite ? TextMode::Utf8 : TextMode::Wide;
  SQLRETURN rc = SQL_ERROR;
  if (mode_ == TextMode::Wide) {
    std::u16string text = utf8ToUtf16(request.connectionString);
    rc = SQLDriverConnectW(dbc.get(), nullptr, sqlText(text), static_cast<SQLSMALLINT>(text.size()),
                           nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  } else {
    std::string text = request.connectionString;
    rc = SQLDriverConnect(dbc.get(), nullptr, sqlText(text), static_cast<SQLSMALLINT>(text.size()),
                          nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  }
  if (!SQL_SUCCEEDED(rc)) {
    std::string text = scrubbed(diagnostics(SQL_HANDLE_DBC, dbc.get(), mode_));
    if (text.empty()) {
      text = "The ODBC driver refused the connection without saying why.";
    }
    return setResult(SqlResult::error(std::move(text)));
  }

  env_ = std::move(env);
  dbc_ = std::move(dbc);
  alive_ = std::make_shared<bool>(true);
  dialect_.reset();
  attached_.clear();
  if (!SQL_SUCCEEDED(direct_.allocate(dbc_.get()))) {
    const SqlResult result = failure(SQL_HANDLE_DBC, dbc_.get());
    closeConnection();
    return setResult(result);
  }

  char dbms[64] = {};
  SQLSMALLINT length = 0;
  SQLGetInfo(dbc_.get(), SQL_DBMS_NAME, dbms, static_cast<SQLSMALLINT>(sizeof dbms), &length);
  sqlite_ = lowered(dbms).rfind("sqlite", 0) == 0;
  if (sqlite_ && makeSqliteDialect_) {
    dialect_ = makeSqliteDialect_();
  }
  if (sqlite_ && !dialect_) {
    const SqlResult result =
        SqlResult::error("The data source is SQLite, which this build cannot translate T-SQL for.");
    closeConnection();
    return setResult(result);
  }
  long long ignored_rows = 0;
  if (sqlite_) {
    mode_ = TextMode::Utf8;
    dialect_->reset(
        settings.Database.empty() ? "tillexv8" : settings.Database, [this](std::string_view name) {
          const std::string wanted = lowered(name);
          return std::any_of(attached_.begin(), attached_.end(),
                             [&](const std::string& a) { return lowered(a) == wanted; });
        });
    attachNeighbours();
    runDirect(kCreateTriggerOffTable, false, ignored_rows);
    runDirect(kCreateMarkerTable, false, ignored_rows);
    setTriggersOffAtConnect(readColumn(kSwitchedOffTables));
    dialect_->learnSchema(
        [this](const std::string& sql, std::vector<std::vector<std::string>>& rows) {
          return queryDirect(sql, rows);
        });
  } else {
    runDirect(kRowCountsOnSql, false, ignored_rows);
    setTriggersOffAtConnect(readColumn(kDisabledTriggerTablesSql));
  }
  pending_ = false;
  markerWritten_ = false;

  if (!SQL_SUCCEEDED(SQLSetConnectAttr(dbc_.get(), SQL_ATTR_AUTOCOMMIT,
                                       attributeValue(SQL_AUTOCOMMIT_OFF), 0))) {
    const SqlResult result = failure(SQL_HANDLE_DBC, dbc_.get());
    closeConnection();
    return setResult(result);
  }
  return setResult(SqlResult::ok());
}

// Attaches every other <name>.db in the target file's folder under its
// name, as the embedded backend does, so that `dravik_pro..t` resolves.
bool OdbcSession::attachNeighbours() {
  std::string main_file;
  if (!SQL_SUCCEEDED(execDirect(direct_.get(), kListDatabases))) {
    SQLFreeStmt(direct_.get(), SQL_CLOSE);
    return false;
  }
  while (SQL_SUCCEEDED(SQLFetch(direct_.get()))) {
    char name[256] = {};
    char file[4096] = {};
    SQLLEN name_length = 0;
    SQLLEN file_length = 0;
    SQLGetData(direct_.get(), 2, SQL_C_CHAR, name, static_cast<SQLLEN>(sizeof name), &name_length);
    SQLGetData(direct_.get(), 3, SQL_C_CHAR, file, static_cast<SQLLEN>(sizeof file), &file_length);
    if (std::string_view(name) == "main" && file_length > 0) {
      main_file = file;
    }
  }
  SQLFreeStmt(direct_.get(), SQL_CLOSE);
  if (main_file.empty()) {
    return false;
  }

  // The driver names its files in its own form; the folder is listed here.
  const std::filesystem::path main_path = platform::fsPath(platform::localFilePath(main_file));
  std::vector<std::pair<std::string, std::filesystem::path>> candidates;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(main_path.parent_path(), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::filesystem::path& path = it->path();
    if (lowered(platform::utf8Path(path.extension())) != ".db" || !it->is_regular_file(ec)) {
      continue;
    }
    const std::string name = platform::utf8Path(path.stem());
    std::error_code same_ec;
    if (!isPlainIdentifier(name) || std::filesystem::equivalent(path, main_path, same_ec) ||
        lowered(name) == "main" || lowered(name) == "temp") {
      continue;
    }
    candidates.emplace_back(name, path);
  }
  std::sort(candidates.begin(), candidates.end());
  for (const auto& [name, path] : candidates) {
    if (attached_.size() >= kMaxAttached) {
      break;
    }
    long long rows = 0;
    const std::string attach = kAttachDatabase +
                               quotedLiteral(platform::driverFilePath(platform::utf8Path(path))) +
                               " AS " + name;
    if (!runDirect(attach, false, rows).failed()) {
      attached_.push_back(name);
    }
  }
  return true;
}

void OdbcSession::disconnect() {
  if (!connected()) {
    setResult(SqlResult::ok());
    return;
  }
  // Statements issued just before a close (the trigger switches of the
  // close sequence) stay in force.
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_COMMIT);
  const SqlResult result =
      SQL_SUCCEEDED(rc) ? SqlResult::ok() : failure(SQL_HANDLE_DBC, dbc_.get());
  closeConnection();
  setResult(result);
}

void OdbcSession::closeConnection() {
  *alive_ = false;
  direct_.reset();
  dbc_.reset();
  env_.reset();
  sqlite_ = false;
  attached_.clear();
  dialect_.reset();
}

long OdbcSession::endTransaction(SQLSMALLINT completion) {
  noteStatement(completion == SQL_COMMIT ? "COMMIT" : "ROLLBACK");
  if (!connected()) {
    return setResult(SqlResult::error(kNotConnected));
  }
  countRoundTrip();
  const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), completion);
  const bool hadPending = pending_;
  pending_ = false;
  markerWritten_ = false;
  if (SQL_SUCCEEDED(rc)) {
    return setResult(SqlResult::ok());
  }
  SqlResult result = failure(SQL_HANDLE_DBC, dbc_.get());
  // A commit the server refused may have ended the transaction (a lost
  // connection, a deadlock) or left it open (SQLite busy): in both cases
  // the caller rolls back, which is harmless either way.
  result.transactionEnded = hadPending;
  return setResult(std::move(result));
}

void OdbcSession::startWork() {
  pending_ = true;
  if (sqlite_ && !markerWritten_) {
    long long rows = 0;
    ++marker_;
    markerWritten_ =
        !runDirect(kInsertMarker + std::to_string(marker_) + ")", false, rows).failed();
  }
}

SqlResult OdbcSession::noticeEnded(SqlResult result) {
  if (!result.failed() || !connected()) {
    return result;
  }
  bool ended = false;
  if (sqlite_) {
    if (!markerWritten_) {
      return result;  // no marker, no answer: assume the transaction stands
    }
    const std::vector<std::string> count = readColumn(kCountMarker + std::to_string(marker_));
    ended = !count.empty() && count.front() == "0";
    if (ended) {
      // The driver still believes its transaction open and would let every
      // later statement commit on its own: open the transaction it
      // believes in.
      long long rows = 0;
      runDirect(kBeginAgain, false, rows);
      markerWritten_ = false;
    }
  } else {
    const SQLRETURN rc = execDirect(direct_.get(), kTransactionStateSql);
    if (SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLFetch(direct_.get()))) {
      SQLINTEGER trancount = 1;
      SQLINTEGER state = 1;
      SQLLEN length = 0;
      SQLGetData(direct_.get(), 1, SQL_C_SLONG, &trancount, 0, &length);
      SQLGetData(direct_.get(), 2, SQL_C_SLONG, &state, 0, &length);
      ended = trancount == 0 || state == -1;
    }
    SQLFreeStmt(direct_.get(), SQL_CLOSE);
    if (ended) {
      // What remains of it (a transaction that can no longer commit) goes
      // too, so that the next statement starts a transaction of its own.
      SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
    }
  }
  if (ended) {
    pending_ = false;
    result.transactionEnded = true;
    result.text += kEndedNote;
  }
  return result;
}

std::vector<std::string> OdbcSession::readColumn(const std::string& sql) {
  std::vector<std::string> values;
  if (SQL_SUCCEEDED(execDirect(direct_.get(), sql))) {
    while (SQL_SUCCEEDED(SQLFetch(direct_.get()))) {
      char buffer[512] = {};
      SQLLEN length = 0;
      if (SQL_SUCCEEDED(SQLGetData(direct_.get(), 1, SQL_C_CHAR, buffer,
                                   static_cast<SQLLEN>(sizeof buffer), &length)) &&
          length != SQL_NULL_DATA) {
        values.emplace_back(buffer);
      }
    }
  }
  SQLFreeStmt(direct_.get(), SQL_CLOSE);
  return values;
}

}  // namespace odbc

std::unique_ptr<Session> makeOdbcSession(SqlDialectFactory sqliteDialect) {
  return std::make_unique<odbc::OdbcSession>(std::move(sqliteDialect));
}

}  // namespace cvt
