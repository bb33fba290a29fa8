// The ODBC session's statements: execute(), prepared statements with
// their bound inputs, and many rows sent at once as parameter arrays.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/names.h"
#include "db/odbc/odbc_session_parts.h"
#include "db/odbc/utf16_text.h"

namespace cvt::odbc {

namespace {

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

}  // namespace

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

SQLRETURN BoundInputs::bind(SQLHSTMT stmt, const std::vector<Value>& inputs) {
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

int placeholderCount(SQLHSTMT stmt) {
  SQLSMALLINT count = 0;
  return SQL_SUCCEEDED(SQLNumParams(stmt, &count)) ? count : -1;
}

SqlResult checkInputCount(const char* what, int placeholders, const std::vector<Value>& inputs) {
  if (placeholders < 0 || inputs.size() == static_cast<std::size_t>(placeholders)) {
    return SqlResult::ok();
  }
  return SqlResult::error(std::string("The ") + what + " has " + std::to_string(placeholders) +
                          " placeholders but " + std::to_string(inputs.size()) +
                          " values were bound.");
}

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

}  // namespace cvt::odbc
