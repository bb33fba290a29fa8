// The ODBC session's cursors: rows read one at a time from the driver, and
// the columns of a row as text, in pieces when they are long.

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/odbc/odbc_session_parts.h"
#include "db/odbc/utf16_text.h"

namespace cvt::odbc {

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

std::unique_ptr<Cursor> OdbcSession::openCursor(std::string_view sql,
                                                const std::vector<Value>& inputs) {
  return std::make_unique<OdbcCursor>(*this, sql, inputs);
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

}  // namespace cvt::odbc
