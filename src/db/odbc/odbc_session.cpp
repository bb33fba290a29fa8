#include "db/odbc/odbc_session.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "db/dialect.h"
#include "db/names.h"
#include "db/odbc/odbc_connection_string.h"
#include "db/odbc/odbc_handles.h"
#include "db/odbc/tsql_catalog.h"
#include "db/odbc/utf16_text.h"
#include "platform/driver_paths.h"

namespace cvt {

namespace {

static_assert(sizeof(SQLWCHAR) == sizeof(char16_t),
              "texts cross the ODBC boundary as UTF-16, two bytes a character");

constexpr const char* kNotConnected = "Not connected to the database.";

// Sent to SQL Server after connecting: a server configured to suppress row
// counts would otherwise hide the "changed no rows" outcome (100).
constexpr const char* kRowCountsOn = "SET NOCOUNT OFF";

// Sent to a SQLite data source after connecting, with auto-commit still on
// (SQLite cannot attach inside a transaction).
constexpr const char* kListDatabases = "PRAGMA database_list";
constexpr const char* kAttachDatabase = "ATTACH DATABASE ";  // + 'file' AS name
constexpr const char* kCreateTriggerOffTable =
    "CREATE TABLE IF NOT EXISTS tsql_trigger_off (table_name TEXT PRIMARY KEY COLLATE NOCASE)";

// Tables whose triggers are switched off, read at connect (SQL Server).
constexpr const char* kDisabledTriggerTables =
    "select distinct object_name(parent_id) from sys.triggers where is_disabled = 1 and "
    "parent_class = 1";
constexpr const char* kSwitchedOffTables = "SELECT table_name FROM tsql_trigger_off";

// After a failure: is the transaction that held the pending work still
// open? SQL Server counts its open transactions, and marks one that can no
// longer commit with XACT_STATE() -1.
constexpr const char* kTransactionState = "SELECT @@TRANCOUNT, XACT_STATE()";
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

// How texts (statements, names, messages) cross the ODBC boundary. Data
// values always travel as SQL_C_WCHAR, which every driver here converts.
// The SQLite ODBC driver of Debian has no wide entry points, and the driver
// manager narrows wide texts for it byte by byte; SQLite's own encoding is
// UTF-8, so its texts go through the narrow entry points unchanged.
enum class TextMode { Wide, Utf8 };

SQLWCHAR* sqlText(std::u16string& text) { return reinterpret_cast<SQLWCHAR*>(text.data()); }
SQLCHAR* sqlText(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

SQLPOINTER attributeValue(std::uintptr_t value) { return reinterpret_cast<SQLPOINTER>(value); }

// True for INSERT, UPDATE, DELETE and MERGE: the statements whose "changed
// no rows" is reported as 100. Leading blanks, comments and '(' are skipped.
bool changesData(std::string_view sql) {
  std::size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (std::isspace(static_cast<unsigned char>(c)) != 0 || c == '(' || c == ';') {
      ++i;
    } else if (sql.substr(i, 2) == "--") {
      const auto end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
    } else if (sql.substr(i, 2) == "/*") {
      const auto end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
    } else {
      break;
    }
  }
  std::size_t end = i;
  while (end < sql.size() && std::isalpha(static_cast<unsigned char>(sql[end])) != 0) {
    ++end;
  }
  const std::string keyword = lowered(sql.substr(i, end - i));
  return keyword == "insert" || keyword == "update" || keyword == "delete" || keyword == "merge";
}

bool isIdentifier(std::string_view name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front())) != 0) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

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

std::filesystem::path pathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The SQLite ODBC driver wraps SQLite's own message as "[SQLite]text (code)".
// The wrapping says nothing the message does not, and without it a SQLite
// data source reads the same through this backend as through the embedded
// one.
std::string sqliteMessageLine(std::string line) {
  constexpr std::string_view kPrefix = "[SQLite]";
  if (line.rfind(kPrefix, 0) == 0) {
    line.erase(0, kPrefix.size());
  }
  if (!line.empty() && line.back() == ')') {
    const auto open = line.rfind(" (");
    if (open != std::string::npos && open + 3 < line.size() &&
        std::all_of(line.begin() + static_cast<std::ptrdiff_t>(open) + 2, line.end() - 1,
                    [](char c) { return c >= '0' && c <= '9'; })) {
      line.erase(open);
    }
  }
  return line;
}

std::string sqliteMessage(const std::string& text) {
  std::string out;
  std::size_t start = 0;
  while (true) {
    const auto end = text.find('\n', start);
    out += sqliteMessageLine(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) {
      return out;
    }
    out += '\n';
    start = end + 1;
  }
}

// The diagnostic records of a handle, one message a line, repeats dropped.
std::string diagnostics(SQLSMALLINT kind, SQLHANDLE handle, TextMode mode) {
  std::vector<std::string> messages;
  for (SQLSMALLINT record = 1; record <= 32; ++record) {
    std::string message;
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (mode == TextMode::Wide) {
      SQLWCHAR state[6] = {};
      std::u16string buffer(512, u'\0');
      SQLRETURN rc = SQLGetDiagRecW(kind, handle, record, state, &native, sqlText(buffer),
                                    static_cast<SQLSMALLINT>(buffer.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(buffer.size())) {
        buffer.assign(static_cast<std::size_t>(length) + 1, u'\0');
        rc = SQLGetDiagRecW(kind, handle, record, state, &native, sqlText(buffer),
                            static_cast<SQLSMALLINT>(buffer.size()), &length);
      }
      if (!SQL_SUCCEEDED(rc)) {
        break;
      }
      buffer.resize(
          std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), buffer.size() - 1));
      message = utf16ToUtf8(buffer);
    } else {
      SQLCHAR state[6] = {};
      std::string buffer(1024, '\0');
      SQLRETURN rc = SQLGetDiagRec(kind, handle, record, state, &native, sqlText(buffer),
                                   static_cast<SQLSMALLINT>(buffer.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(buffer.size())) {
        buffer.assign(static_cast<std::size_t>(length) + 1, '\0');
        rc = SQLGetDiagRec(kind, handle, record, state, &native, sqlText(buffer),
                           static_cast<SQLSMALLINT>(buffer.size()), &length);
      }
      if (!SQL_SUCCEEDED(rc)) {
        break;
      }
      buffer.resize(
          std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), buffer.size() - 1));
      message = std::move(buffer);
    }
    if (std::find(messages.begin(), messages.end(), message) == messages.end()) {
      messages.push_back(std::move(message));
    }
  }
  std::string text;
  for (const auto& message : messages) {
    if (!text.empty()) {
      text += '\n';
    }
    text += message;
  }
  return text;
}

// Input values bound to a statement handle. The buffers stay bound across
// executions; a parameter is bound again only when its value outgrows its
// buffer (or the number of values changes).
class BoundInputs {
 public:
  SQLRETURN bind(SQLHSTMT stmt, const std::vector<Value>& inputs) {
    if (inputs.size() != slots_.size()) {
      SQLFreeStmt(stmt, SQL_RESET_PARAMS);
      slots_.clear();
      slots_.resize(inputs.size());  // fresh slots: every one is bound below
    }
    for (std::size_t i = 0; i < inputs.size(); ++i) {
      Slot& slot = slots_[i];
      std::size_t needed = 1;
      if (inputs[i]) {
        slot.text = utf8ToUtf16(*inputs[i]);
        needed = std::max<std::size_t>(slot.text.size(), 1);
      }
      bool rebind = slot.capacity == 0;
      if (needed > slot.capacity) {
        // Grow in large steps, so that a loop of growing values rebinds
        // rarely and the declared parameter size stays stable.
        slot.capacity = std::max<std::size_t>(64, slot.capacity);
        while (slot.capacity < needed) {
          slot.capacity *= 2;
        }
        slot.buffer.assign(slot.capacity + 1, u'\0');
        rebind = true;
      }
      if (inputs[i]) {
        std::copy(slot.text.begin(), slot.text.end(), slot.buffer.begin());
        slot.indicator = static_cast<SQLLEN>(slot.text.size() * sizeof(char16_t));
      } else {
        slot.indicator = SQL_NULL_DATA;
      }
      if (rebind) {
        const SQLRETURN rc = SQLBindParameter(
            stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
            slot.capacity, 0, slot.buffer.data(),
            static_cast<SQLLEN>(slot.buffer.size() * sizeof(char16_t)), &slot.indicator);
        if (!SQL_SUCCEEDED(rc)) {
          slot.capacity = 0;
          return rc;
        }
      }
    }
    return SQL_SUCCESS;
  }

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

// Many rows of input values bound column by column, for one execution
// with a parameter array. Every value travels as UTF-16 text, as single
// rows do; a column's width is that of its longest value.
class ArrayInputs {
 public:
  // Binds rows [first, first + count) of `rows`. Every row has `columns`
  // values.
  SQLRETURN bind(SQLHSTMT stmt, const std::vector<std::vector<Value>>& rows, std::size_t first,
                 std::size_t count, std::size_t columns) {
    columns_.assign(columns, Column{});
    for (std::size_t c = 0; c < columns; ++c) {
      Column& column = columns_[c];
      std::vector<std::u16string> texts(count);
      column.width = 1;
      for (std::size_t r = 0; r < count; ++r) {
        const Value& value = rows[first + r][c];
        if (value) {
          texts[r] = utf8ToUtf16(*value);
          column.width = std::max(column.width, texts[r].size());
        }
      }
      const std::size_t stride = column.width + 1;
      column.buffer.assign(stride * count, u'\0');
      column.indicators.assign(count, SQL_NULL_DATA);
      for (std::size_t r = 0; r < count; ++r) {
        if (rows[first + r][c]) {
          std::copy(texts[r].begin(), texts[r].end(),
                    column.buffer.begin() + static_cast<std::ptrdiff_t>(r * stride));
          column.indicators[r] = static_cast<SQLLEN>(texts[r].size() * sizeof(char16_t));
        }
      }
      const SQLRETURN rc = SQLBindParameter(
          stmt, static_cast<SQLUSMALLINT>(c + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR,
          column.width, 0, column.buffer.data(), static_cast<SQLLEN>(stride * sizeof(char16_t)),
          column.indicators.data());
      if (!SQL_SUCCEEDED(rc)) {
        return rc;
      }
    }
    return SQL_SUCCESS;
  }

 private:
  struct Column {
    std::size_t width = 1;           // characters of the widest value
    std::vector<char16_t> buffer;    // one slot of width + 1 per row
    std::vector<SQLLEN> indicators;  // one per row
  };
  std::vector<Column> columns_;
};

// The number of placeholders of a prepared statement, or -1 when the
// driver cannot tell.
int placeholderCount(SQLHSTMT stmt) {
  SQLSMALLINT count = 0;
  return SQL_SUCCEEDED(SQLNumParams(stmt, &count)) ? count : -1;
}

// Drivers bind a missing value as NULL without a word; a caller that gives
// too few or too many values has made a mistake that must not run.
SqlResult checkInputCount(const char* what, int placeholders, const std::vector<Value>& inputs) {
  if (placeholders < 0 || inputs.size() == static_cast<std::size_t>(placeholders)) {
    return SqlResult::ok();
  }
  return SqlResult::error(std::string("The ") + what + " has " + std::to_string(placeholders) +
                          " placeholders but " + std::to_string(inputs.size()) +
                          " values were bound.");
}

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

// ---- prepared statements ---------------------------------------------------

class OdbcSession::OdbcStatement final : public Statement {
 public:
  OdbcStatement(OdbcSession& session, std::string_view sql)
      : session_(session), alive_(session.alive_), text_(sql) {
    error_ = prepare(sql);
    session_.setResult(error_);
  }

  ~OdbcStatement() override {
    if (!*alive_) {
      stmt_.release();
    }
  }

  long execute(const std::vector<Value>& inputs) override {
    session_.noteStatement(text_);
    session_.setRows(0);
    if (error_.failed()) {
      return session_.setResult(error_);
    }
    if (!*alive_) {
      return session_.setResult(SqlResult::error(kNotConnected));
    }
    if (session_.interrupted()) {
      return session_.SQLCode();
    }
    session_.countStatement();
    const SqlResult mismatch = checkInputCount("statement", parameters_, inputs);
    if (mismatch.failed()) {
      return session_.setResult(mismatch);
    }
    session_.startWork();
    const SqlResult prelude = session_.runPrelude(translation_);
    if (prelude.failed()) {
      return session_.setResult(session_.noticeEnded(prelude));
    }
    if (!SQL_SUCCEEDED(inputs_.bind(stmt_.get(), inputs))) {
      return session_.setResult(session_.failure(SQL_HANDLE_STMT, stmt_.get()));
    }
    long long rows = 0;
    session_.countRoundTrip();
    const SQLRETURN rc = SQLExecute(stmt_.get());
    const SqlResult result = session_.finish(stmt_.get(), rc, translation_.changesData, rows);
    SQLFreeStmt(stmt_.get(), SQL_CLOSE);
    session_.setRows(rows);
    return session_.setResult(session_.noticeEnded(result));
  }

  // Sends the rows as parameter arrays, up to kParamSetRows in one round
  // trip. Texts that the session sends in several parts, statements that
  // failed to prepare and drivers that refuse parameter arrays go one row
  // per call.
  BatchOutcome executeBatch(const std::vector<std::vector<Value>>& rows, OnFailure onFailure,
                            const RowObserver& afterRow = {}) override {
    const bool shaped = std::all_of(rows.begin(), rows.end(), [this](const auto& inputs) {
      return static_cast<int>(inputs.size()) == parameters_;
    });
    if (!arrays_ || rows.size() < 2 || parameters_ <= 0 || !shaped || error_.failed() || !*alive_ ||
        translation_.statements.size() != 1) {
      return Statement::executeBatch(rows, onFailure, afterRow);
    }
    BatchOutcome outcome;
    outcome.codes.reserve(rows.size());
    SqlResult firstFailure = SqlResult::ok();
    bool perRow = true;
    long long total = 0;
    std::size_t next = 0;
    while (next < rows.size()) {
      if (session_.interrupted()) {
        // Every row not yet sent fails as execute() would have.
        const std::size_t left = onFailure == OnFailure::Stop ? 1 : rows.size() - next;
        outcome.codes.insert(outcome.codes.end(), left, session_.SQLCode());
        return outcome;
      }
      const std::size_t count = std::min(kParamSetRows, rows.size() - next);
      Chunk chunk = runChunk(rows, next, count);
      if (!chunk.sent) {
        // The driver cannot take arrays: the rest goes one row per call.
        arrays_ = false;
        const std::vector<std::vector<Value>> rest(rows.begin() + static_cast<std::ptrdiff_t>(next),
                                                   rows.end());
        const std::size_t offset = next;
        BatchOutcome tail = Statement::executeBatch(
            rest, onFailure, [&afterRow, offset](std::size_t row, long code) {
              if (afterRow) {
                afterRow(offset + row, code);
              }
            });
        outcome.codes.insert(outcome.codes.end(), tail.codes.begin(), tail.codes.end());
        if (!perRow) {
          for (const long code : tail.codes) {
            total += code == kSqlOk ? 1 : 0;
          }
          outcome.totalChanged = total;
        }
        return outcome;
      }
      perRow = perRow && chunk.perRowCounts;
      total += chunk.changed;
      bool stop = false;
      // The observer of a failing row finds the array's diagnostics.
      session_.setResult(chunk.failure.failed() ? chunk.failure : SqlResult::ok());
      for (const long code : chunk.codes) {
        if (afterRow) {
          afterRow(outcome.codes.size(), code);
        }
        outcome.codes.push_back(code);
        if (code != kSqlOk) {
          if (!firstFailure.failed() && code < 0) {
            firstFailure = chunk.failure;
          }
          if (onFailure == OnFailure::Stop) {
            stop = true;
            break;
          }
        }
      }
      next += chunk.codes.size();
      if (stop) {
        break;
      }
    }
    if (!perRow) {
      outcome.totalChanged = total;
    }
    session_.setResult(firstFailure);
    return outcome;
  }

 private:
  // Rows of one round trip: at most this many, which keeps a round trip's
  // buffers small while the round trips per row stay far below 1 %.
  static constexpr std::size_t kParamSetRows = 500;
  static constexpr SQLUSMALLINT kStatusUnset = 0xFFFF;

  // What one execution with a parameter array did.
  struct Chunk {
    bool sent = false;          // false: the driver refused the array
    std::vector<long> codes;    // rows [first, first + codes.size()) were run
    bool perRowCounts = false;  // the codes tell 0 from 100
    long long changed = 0;      // rows changed by the rows that were run
    SqlResult failure;          // the error of the failing rows
  };

  Chunk runChunk(const std::vector<std::vector<Value>>& rows, std::size_t first,
                 std::size_t count) {
    Chunk chunk;
    SQLHSTMT stmt = stmt_.get();
    std::vector<SQLUSMALLINT> status(count, kStatusUnset);
    SQLULEN processed = 0;
    inputs_.forget();
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    // A driver without arrays may accept the size with a warning and keep
    // 1: the size is read back before anything is sent.
    SQLULEN size = 0;
    const bool ready =
        SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, attributeValue(count), 0)) &&
        SQL_SUCCEEDED(SQLGetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, &size, 0, nullptr)) &&
        size == count &&
        SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, status.data(), 0)) &&
        SQL_SUCCEEDED(SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0)) &&
        SQL_SUCCEEDED(
            arrayInputs_.bind(stmt, rows, first, count, static_cast<std::size_t>(parameters_)));
    if (ready) {
      chunk.sent = true;
      for (std::size_t i = 0; i < count; ++i) {
        session_.countStatement();
      }
      session_.countRoundTrip();
      const SQLRETURN rc = SQLExecute(stmt);
      if (rc == SQL_ERROR) {
        failedChunk(chunk, status, processed, count);
      } else {
        finishedChunk(chunk, status, count);
      }
    }
    SQLFreeStmt(stmt, SQL_CLOSE);
    SQLFreeStmt(stmt, SQL_RESET_PARAMS);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, attributeValue(1), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAM_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, nullptr, 0);
    return chunk;
  }

  // Every row was run; rows that the driver marks as failed fail.
  void finishedChunk(Chunk& chunk, const std::vector<SQLUSMALLINT>& status, std::size_t count) {
    SQLHSTMT stmt = stmt_.get();
    const bool anyError = std::find(status.begin(), status.end(),
                                    static_cast<SQLUSMALLINT>(SQL_PARAM_ERROR)) != status.end();
    if (anyError) {
      chunk.failure = session_.failure(SQL_HANDLE_STMT, stmt);
    }
    // One count per row when the driver reports them so (SQL Server does);
    // otherwise one count for the whole array.
    std::vector<long long> counts;
    SQLLEN count0 = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt, &count0))) {
      counts.push_back(count0);
    }
    while (true) {
      const SQLRETURN more = SQLMoreResults(stmt);
      if (!SQL_SUCCEEDED(more)) {
        break;
      }
      SQLLEN later = -1;
      if (SQL_SUCCEEDED(SQLRowCount(stmt, &later))) {
        counts.push_back(later);
      }
    }
    std::size_t successes = 0;
    for (std::size_t i = 0; i < count; ++i) {
      successes += status[i] == SQL_PARAM_ERROR ? 0U : 1U;
    }
    chunk.perRowCounts = rowCountsPerSet() && counts.size() == successes;
    std::size_t nextCount = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (status[i] == SQL_PARAM_ERROR) {
        chunk.codes.push_back(chunk.failure.code);
        continue;
      }
      long code = kSqlOk;
      if (chunk.perRowCounts) {
        const long long changed = std::max<long long>(counts[nextCount++], 0);
        chunk.changed += changed;
        code = translation_.changesData && changed == 0 ? kSqlNoData : kSqlOk;
      }
      chunk.codes.push_back(code);
    }
    if (!chunk.perRowCounts) {
      // A driver without counts per set reports the array's total; one with
      // them but more counts than rows (a trigger's own) gives their sum.
      for (std::size_t i = 0; i < counts.size() && (i == 0 || rowCountsPerSet()); ++i) {
        chunk.changed += std::max<long long>(counts[i], 0);
      }
    }
  }

  // The array stopped at an error. With the driver's row statuses, they
  // tell which rows ran and which failed; without them, the rows before
  // the count of processed rows ran and the next one failed.
  void failedChunk(Chunk& chunk, const std::vector<SQLUSMALLINT>& status, SQLULEN processed,
                   std::size_t count) {
    chunk.failure = session_.failure(SQL_HANDLE_STMT, stmt_.get());
    const std::size_t done = std::min<std::size_t>(processed, count);
    const bool statuses =
        done > 0 && std::none_of(status.begin(), status.begin() + static_cast<std::ptrdiff_t>(done),
                                 [](SQLUSMALLINT s) { return s == kStatusUnset; });
    if (statuses) {
      for (std::size_t i = 0; i < done; ++i) {
        const bool ok = status[i] == SQL_PARAM_SUCCESS || status[i] == SQL_PARAM_SUCCESS_WITH_INFO;
        chunk.codes.push_back(ok ? kSqlOk : chunk.failure.code);
        chunk.changed += ok ? 1 : 0;
      }
    } else {
      const std::size_t failing = std::min(done, count - 1);
      chunk.codes.assign(failing, kSqlOk);
      chunk.codes.push_back(chunk.failure.code);
      chunk.changed = static_cast<long long>(failing);
    }
  }

  // True when the driver reports one row count per parameter set.
  bool rowCountsPerSet() {
    if (!perSetCounts_) {
      SQLUINTEGER value = 0;
      perSetCounts_ = SQL_SUCCEEDED(SQLGetInfo(session_.dbc_.get(), SQL_PARAM_ARRAY_ROW_COUNTS,
                                               &value, sizeof value, nullptr)) &&
                      value == SQL_PARC_BATCH;
    }
    return *perSetCounts_;
  }

  SqlResult prepare(std::string_view sql) {
    if (!session_.connected()) {
      return SqlResult::error(kNotConnected);
    }
    translation_ = session_.translate(sql);
    if (translation_.error.failed()) {
      return translation_.error;
    }
    if (!SQL_SUCCEEDED(stmt_.allocate(session_.dbc_.get()))) {
      return session_.failure(SQL_HANDLE_DBC, session_.dbc_.get());
    }
    if (!SQL_SUCCEEDED(session_.prepareText(stmt_.get(), translation_.statements.back()))) {
      return session_.failure(SQL_HANDLE_STMT, stmt_.get());
    }
    parameters_ = placeholderCount(stmt_.get());
    return SqlResult::ok();
  }

  OdbcSession& session_;
  std::shared_ptr<bool> alive_;
  OdbcStmtHandle stmt_;
  Translation translation_;
  SqlResult error_;  // a failed preparation, reported at every execute
  int parameters_ = -1;
  std::string text_;  // as the caller wrote it, for lastStatementText()
  BoundInputs inputs_;
  ArrayInputs arrayInputs_;
  bool arrays_ = true;                // false once the driver refused an array
  std::optional<bool> perSetCounts_;  // asked of the driver at the first array
};

// ---- cursors ---------------------------------------------------------------

// Invariant: while Open, the statement handle holds an executed result that
// has been fetched up to the row last delivered; rows are read one at a
// time from the driver, never gathered by the session. In every other
// state the handle has been let go.
class OdbcSession::OdbcCursor final : public Cursor {
 public:
  OdbcCursor(OdbcSession& session, std::string_view sql, const std::vector<Value>& inputs)
      : session_(session), alive_(session.alive_), text_(sql) {
    session_.noteStatement(text_);
    error_ = open(sql, inputs);
    if (error_.failed()) {
      state_ = State::Failed;
      releaseHandle();
    }
    session_.setResult(error_);
  }

  ~OdbcCursor() override { releaseHandle(); }

  long fetch(Row& row) override {
    if (state_ == State::Failed) {
      session_.noteStatement(text_);      // the failure is this cursor's, whatever ran since
      return session_.setResult(error_);  // never mistaken for the end of the rows
    }
    if (state_ != State::Open) {
      return session_.setResult(SqlResult::noData());
    }
    if (!*alive_) {
      return fail(SqlResult::error(kNotConnected));
    }
    const SQLRETURN rc = SQLFetch(stmt_.get());
    if (rc == SQL_NO_DATA) {
      state_ = State::Exhausted;
      releaseHandle();  // frees the connection for the next statement at once
      return session_.setResult(SqlResult::noData());
    }
    if (!SQL_SUCCEEDED(rc)) {
      SqlResult failure = session_.failure(SQL_HANDLE_STMT, stmt_.get());
      releaseHandle();
      return fail(session_.noticeEnded(std::move(failure)));
    }
    Row values;
    values.reserve(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      Value value;
      if (!readColumn(static_cast<SQLUSMALLINT>(i + 1), value)) {
        return fail(session_.failure(SQL_HANDLE_STMT, stmt_.get()));
      }
      if (value && session_.dialect_) {
        session_.dialect_->readValue(*value);
      }
      values.push_back(std::move(value));
    }
    row = std::move(values);
    return session_.setResult(SqlResult::ok());
  }

  const std::vector<std::string>& columns() const override { return columns_; }

  void close() override {
    state_ = State::Closed;
    releaseHandle();
  }

 private:
  SqlResult open(std::string_view sql, const std::vector<Value>& inputs) {
    if (!session_.connected()) {
      return SqlResult::error(kNotConnected);
    }
    if (session_.interrupted()) {
      return session_.lastResult();
    }
    session_.countStatement();
    const Translation translation = session_.translate(sql);
    if (translation.error.failed()) {
      return translation.error;
    }
    if (!SQL_SUCCEEDED(stmt_.allocate(session_.dbc_.get()))) {
      return session_.failure(SQL_HANDLE_DBC, session_.dbc_.get());
    }
    if (!SQL_SUCCEEDED(session_.prepareText(stmt_.get(), translation.statements.back()))) {
      return session_.failure(SQL_HANDLE_STMT, stmt_.get());
    }
    const SqlResult mismatch = checkInputCount("select", placeholderCount(stmt_.get()), inputs);
    if (mismatch.failed()) {
      return mismatch;
    }
    session_.startWork();
    const SqlResult prelude = session_.runPrelude(translation);
    if (prelude.failed()) {
      return session_.noticeEnded(prelude);
    }
    if (!SQL_SUCCEEDED(inputs_.bind(stmt_.get(), inputs))) {
      return session_.failure(SQL_HANDLE_STMT, stmt_.get());
    }
    session_.countRoundTrip();
    const SQLRETURN rc = SQLExecute(stmt_.get());
    if (!SQL_SUCCEEDED(rc)) {
      SqlResult failure = session_.failure(SQL_HANDLE_STMT, stmt_.get());
      releaseHandle();
      return session_.noticeEnded(std::move(failure));
    }
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt_.get(), &count))) {
      return session_.failure(SQL_HANDLE_STMT, stmt_.get());
    }
    for (SQLSMALLINT column = 1; column <= count; ++column) {
      columns_.push_back(columnName(static_cast<SQLUSMALLINT>(column)));
    }
    return SqlResult::ok();
  }

  std::string columnName(SQLUSMALLINT column) {
    SQLSMALLINT length = 0;
    SQLSMALLINT type = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    if (session_.mode_ == TextMode::Wide) {
      std::u16string name(256, u'\0');
      if (!SQL_SUCCEEDED(SQLDescribeColW(stmt_.get(), column, sqlText(name),
                                         static_cast<SQLSMALLINT>(name.size()), &length, &type,
                                         &size, &digits, &nullable))) {
        return {};
      }
      name.resize(
          std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), name.size() - 1));
      return utf16ToUtf8(name);
    }
    std::string name(768, '\0');
    if (!SQL_SUCCEEDED(SQLDescribeCol(stmt_.get(), column, sqlText(name),
                                      static_cast<SQLSMALLINT>(name.size()), &length, &type, &size,
                                      &digits, &nullable))) {
      return {};
    }
    name.resize(
        std::min(static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), name.size() - 1));
    return name;
  }

  // Reads one column of the current row as text, in pieces when it is
  // longer than the buffer. Returns false on a driver error.
  bool readColumn(SQLUSMALLINT column, Value& value) {
    constexpr std::size_t kChunk = 512;
    char16_t buffer[kChunk];
    std::u16string text;
    while (true) {
      SQLLEN indicator = 0;
      const SQLRETURN rc = SQLGetData(stmt_.get(), column, SQL_C_WCHAR, buffer,
                                      static_cast<SQLLEN>(sizeof buffer), &indicator);
      if (rc == SQL_NO_DATA) {
        break;  // the previous piece was the last
      }
      if (!SQL_SUCCEEDED(rc)) {
        return false;
      }
      if (indicator == SQL_NULL_DATA) {
        value.reset();
        return true;
      }
      const bool truncated =
          indicator == SQL_NO_TOTAL || static_cast<std::size_t>(indicator) >= sizeof buffer;
      if (truncated) {
        text.append(buffer, kChunk - 1);  // the last place holds the terminator
        continue;
      }
      text.append(buffer, static_cast<std::size_t>(indicator) / sizeof(char16_t));
      break;
    }
    value = utf16ToUtf8(text);
    return true;
  }

  long fail(SqlResult error) {
    error_ = std::move(error);
    state_ = State::Failed;
    releaseHandle();
    session_.noteStatement(text_);
    return session_.setResult(error_);
  }

  void releaseHandle() {
    if (!stmt_) {
      return;
    }
    if (*alive_) {
      SQLFreeStmt(stmt_.get(), SQL_CLOSE);
      stmt_.reset();
    } else {
      stmt_.release();  // closing the connection freed it
    }
  }

  enum class State { Open, Exhausted, Failed, Closed };

  OdbcSession& session_;
  std::shared_ptr<bool> alive_;
  OdbcStmtHandle stmt_;
  BoundInputs inputs_;
  std::vector<std::string> columns_;
  State state_ = State::Open;
  SqlResult error_;   // a failed open or fetch, reported at every later fetch
  std::string text_;  // as the caller wrote it, for lastStatementText()
};

// ---- the session -----------------------------------------------------------

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
    runDirect(kRowCountsOn, false, ignored_rows);
    setTriggersOffAtConnect(readColumn(kDisabledTriggerTables));
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
  const std::filesystem::path main_path = pathOf(platform::localFilePath(main_file));
  std::vector<std::pair<std::string, std::filesystem::path>> candidates;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(main_path.parent_path(), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::filesystem::path& path = it->path();
    if (lowered(utf8Of(path.extension())) != ".db" || !it->is_regular_file(ec)) {
      continue;
    }
    const std::string name = utf8Of(path.stem());
    std::error_code same_ec;
    if (!isIdentifier(name) || std::filesystem::equivalent(path, main_path, same_ec) ||
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
    const std::string attach =
        kAttachDatabase + quotedLiteral(platform::driverFilePath(utf8Of(path))) + " AS " + name;
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
    const SQLRETURN rc = execDirect(direct_.get(), kTransactionState);
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

Translation OdbcSession::translate(std::string_view sql) {
  Translation translation;
  if (!sqlite_) {
    translation.statements.emplace_back(sql);
    translation.changesData = changesData(sql);
    return translation;
  }
  return dialect_->translate(sql);
}

SqlResult OdbcSession::runPrelude(const Translation& translation) {
  for (std::size_t i = 0; i + 1 < translation.statements.size(); ++i) {
    long long rows = 0;
    SqlResult result = runDirect(translation.statements[i], false, rows);
    if (result.failed()) {
      return result;
    }
  }
  return SqlResult::ok();
}

SqlResult OdbcSession::runDirect(const std::string& text, bool changes_data, long long& rows) {
  countRoundTrip();
  const SQLRETURN rc = execDirect(direct_.get(), text);
  SqlResult result = finish(direct_.get(), rc, changes_data, rows);
  SQLFreeStmt(direct_.get(), SQL_CLOSE);
  return result;
}

bool OdbcSession::queryDirect(const std::string& text,
                              std::vector<std::vector<std::string>>& rows) {
  SQLRETURN rc = execDirect(direct_.get(), text);
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(rc) || !SQL_SUCCEEDED(SQLNumResultCols(direct_.get(), &columns))) {
    SQLFreeStmt(direct_.get(), SQL_CLOSE);
    return false;
  }
  while (SQL_SUCCEEDED(rc = SQLFetch(direct_.get()))) {
    std::vector<std::string> row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      std::string value;
      char chunk[512];
      SQLLEN length = 0;
      SQLRETURN got = SQL_SUCCESS;
      // Long values arrive in pieces, each but the last filling the buffer.
      while (SQL_SUCCEEDED(got = SQLGetData(direct_.get(), c, SQL_C_CHAR, chunk,
                                            static_cast<SQLLEN>(sizeof chunk), &length))) {
        if (length == SQL_NULL_DATA) {
          break;
        }
        const bool partial =
            got == SQL_SUCCESS_WITH_INFO &&
            (length == SQL_NO_TOTAL || length >= static_cast<SQLLEN>(sizeof chunk));
        value += partial ? std::string(chunk, sizeof chunk - 1) : std::string(chunk);
        if (!partial) {
          break;
        }
      }
      row.push_back(std::move(value));
    }
    rows.push_back(std::move(row));
  }
  SQLFreeStmt(direct_.get(), SQL_CLOSE);
  return rc == SQL_NO_DATA;
}

SqlResult OdbcSession::finish(SQLHSTMT stmt, SQLRETURN rc, bool changes_data, long long& rows) {
  rows = 0;
  if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(rc)) {
    return failure(SQL_HANDLE_STMT, stmt);
  }
  SQLLEN count = 0;
  if (rc != SQL_NO_DATA && !SQL_SUCCEEDED(SQLRowCount(stmt, &count))) {
    count = -1;  // unknown: never reported as "no rows"
  }
  while (true) {
    const SQLRETURN more = SQLMoreResults(stmt);
    if (more == SQL_ERROR) {
      return failure(SQL_HANDLE_STMT, stmt);
    }
    if (!SQL_SUCCEEDED(more)) {
      break;
    }
    // The counts of a trigger's statements arrive before the count of the
    // statement that fired it: the last count is the statement's own.
    SQLLEN later = -1;
    if (SQL_SUCCEEDED(SQLRowCount(stmt, &later)) && later >= 0) {
      count = later;
    }
  }
  if (!changes_data) {
    return SqlResult::ok();
  }
  rows = count > 0 ? static_cast<long long>(count) : 0;
  return count == 0 ? SqlResult::noData() : SqlResult::ok();
}

long OdbcSession::execute(std::string_view sql) {
  noteStatement(sql);
  setRows(0);
  if (!connected()) {
    return setResult(SqlResult::error(kNotConnected));
  }
  if (interrupted()) {
    return SQLCode();
  }
  countStatement();
  const Translation translation = translate(sql);
  if (translation.error.failed()) {
    return setResult(translation.error);
  }
  startWork();
  const SqlResult prelude = runPrelude(translation);
  if (prelude.failed()) {
    return setResult(noticeEnded(prelude));
  }
  long long rows = 0;
  const SqlResult result = runDirect(translation.statements.back(), translation.changesData, rows);
  setRows(rows);
  return setResult(noticeEnded(result));
}

std::unique_ptr<Statement> OdbcSession::prepare(std::string_view sql) {
  return std::make_unique<OdbcStatement>(*this, sql);
}

std::unique_ptr<Cursor> OdbcSession::openCursor(std::string_view sql,
                                                const std::vector<Value>& inputs) {
  return std::make_unique<OdbcCursor>(*this, sql, inputs);
}

SQLRETURN OdbcSession::execDirect(SQLHSTMT stmt, const std::string& text) {
  if (mode_ == TextMode::Wide) {
    std::u16string wide = utf8ToUtf16(text);
    return SQLExecDirectW(stmt, sqlText(wide), static_cast<SQLINTEGER>(wide.size()));
  }
  std::string narrow = text;
  return SQLExecDirect(stmt, sqlText(narrow), static_cast<SQLINTEGER>(narrow.size()));
}

SQLRETURN OdbcSession::prepareText(SQLHSTMT stmt, const std::string& text) {
  if (mode_ == TextMode::Wide) {
    std::u16string wide = utf8ToUtf16(text);
    return SQLPrepareW(stmt, sqlText(wide), static_cast<SQLINTEGER>(wide.size()));
  }
  std::string narrow = text;
  return SQLPrepare(stmt, sqlText(narrow), static_cast<SQLINTEGER>(narrow.size()));
}

SqlResult OdbcSession::failure(SQLSMALLINT kind, SQLHANDLE handle) const {
  std::string text = scrubbed(diagnostics(kind, handle, mode_));
  if (sqlite_) {
    text = sqliteMessage(text);
  }
  if (text.empty()) {
    text = "The ODBC driver reported a failure without a diagnostic record.";
  }
  return SqlResult::error(std::move(text));
}

// Drivers do not echo the password, but a message that quotes a connection
// string would: every PWD=... is masked, and so is the password itself when
// it is long enough not to be an ordinary word of a message.
std::string OdbcSession::scrubbed(std::string text) const {
  for (std::size_t at = lowered(text).find("pwd="); at != std::string::npos;
       at = lowered(text).find("pwd=", at + 7)) {
    const std::size_t value = at + 4;
    std::size_t end = value;
    if (end < text.size() && text[end] == '{') {
      // A braced value ends at the first '}' that is not doubled.
      for (++end; end < text.size(); ++end) {
        if (text[end] == '}') {
          if (end + 1 < text.size() && text[end + 1] == '}') {
            ++end;
          } else {
            ++end;
            break;
          }
        }
      }
    } else {
      end = std::min(text.find(';', value), text.size());
    }
    text.replace(value, end - value, "***");
  }
  if (password_.size() >= 4) {
    for (std::size_t at = text.find(password_); at != std::string::npos;
         at = text.find(password_, at + 3)) {
      text.replace(at, password_.size(), "***");
    }
  }
  return text;
}

}  // namespace

std::unique_ptr<Session> makeOdbcSession(SqlDialectFactory sqliteDialect) {
  return std::make_unique<OdbcSession>(std::move(sqliteDialect));
}

}  // namespace cvt
