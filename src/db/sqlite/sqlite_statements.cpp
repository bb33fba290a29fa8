// The embedded session's statements: texts translated and prepared once,
// run with their inputs, rows sent many at once where the statement's form
// allows, and cursors over a query's rows.

#include <sqlite3.h>

#include <algorithm>

#include "db/names.h"
#include "db/sqlite/ext/tsql_parts.h"
#include "db/sqlite/sqlite_session_parts.h"

namespace cvt::embedded {

Value columnValue(sqlite3_stmt* stmt, int column) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      return std::nullopt;
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_column_int64(stmt, column));
    case SQLITE_FLOAT:
      return tsql_impl::formatReal(sqlite3_column_double(stmt, column));
    default: {
      const void* data = sqlite3_column_blob(stmt, column);
      const int bytes = sqlite3_column_bytes(stmt, column);
      if (data == nullptr) {
        return std::string();
      }
      return std::string(static_cast<const char*>(data), static_cast<std::size_t>(bytes));
    }
  }
}

namespace {

// Rows of a prepared statement sent at once run inside a savepoint, so that
// a batch that did not change exactly one row per row can be undone and
// run again one row at a time, which tells each row's own outcome.
constexpr const char* kSaveBatch = "SAVEPOINT tsql_batch";
constexpr const char* kReleaseBatch = "RELEASE tsql_batch";
constexpr const char* kUndoBatch = "ROLLBACK TO tsql_batch";
// Rows per batch: enough that the statement's own cost vanishes against
// its rows', few enough that a batch undone and run again costs little.
// Fewer rows than the minimum go one at a time.
constexpr std::size_t kMaxBatchRows = 500;
constexpr std::size_t kMinBatchRows = 8;
constexpr std::size_t kStatementCacheSize = 64;

// Column `column` of the current row into `out`, reusing its storage.
void storeColumn(sqlite3_stmt* stmt, int column, Value& out) {
  switch (sqlite3_column_type(stmt, column)) {
    case SQLITE_NULL:
      out.reset();
      return;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* data = sqlite3_column_blob(stmt, column);
      const auto bytes = static_cast<std::size_t>(sqlite3_column_bytes(stmt, column));
      if (!out) {
        out.emplace();
      }
      out->assign(data != nullptr ? static_cast<const char*>(data) : "",
                  data != nullptr ? bytes : 0);
      return;
    }
    default:
      out = columnValue(stmt, column);
  }
}

// True when `form` has a plain head and every value of the rows [from,
// from + count) that it fits would be stored unchanged by the fitting:
// then the rows can go without the fitting calls.
bool fitAsTheyAre(const BatchForm& form, const std::vector<std::vector<Value>>& rows,
                  std::size_t from, std::size_t count) {
  if (form.plainHead.empty()) {
    return false;
  }
  for (std::size_t i = from; i < from + count; ++i) {
    const std::vector<Value>& row = rows[i];
    for (std::size_t k = 0; k < row.size() && k < form.plainFits.size(); ++k) {
      const auto& fit = form.plainFits[k];
      if (!fit || !row[k]) {
        continue;
      }
      const std::size_t units = tsql_impl::textUnits(*row[k], fit->utf16);
      const auto limit = static_cast<std::size_t>(fit->length);
      if (fit->pad ? units != limit : units > limit) {
        return false;
      }
    }
  }
  return true;
}

class SqliteStatement final : public Statement {
 public:
  SqliteStatement(SqliteSession& session, std::shared_ptr<Prepared> prepared)
      : session_(session), generation_(session.generation()), prepared_(std::move(prepared)) {}

  long execute(const std::vector<Value>& inputs) override {
    session_.noted(prepared_->text);
    if (!session_.isCurrent(generation_)) {
      return session_.report(
          SqlResult::error("The statement belongs to a connection that has been closed."));
    }
    if (session_.stopRequested()) {
      return session_.SQLCode();
    }
    return session_.run(*prepared_, inputs);
  }

  // Rows go to the engine many at once where the statement's shape allows
  // (see BatchForm), and one at a time otherwise; either way each row ends
  // as execute() would have ended it.
  BatchOutcome executeBatch(const std::vector<std::vector<Value>>& rows, OnFailure onFailure,
                            const RowObserver& afterRow) override {
    BatchOutcome outcome;
    outcome.codes.reserve(rows.size());
    const auto told = [&](std::size_t row, long code) {
      if (afterRow) {
        afterRow(row, code);
      }
      outcome.codes.push_back(code);
    };
    std::size_t next = 0;
    while (next < rows.size()) {
      const std::size_t count =
          session_.isCurrent(generation_) ? session_.batchRows(*prepared_, rows, next) : 0;
      if (count > 0) {
        const BatchRun ran = session_.runBatch(*prepared_, rows, next, count);
        if (ran == BatchRun::Done) {
          for (std::size_t i = 0; i < count; ++i) {
            told(next + i, kSqlOk);
          }
          next += count;
          continue;
        }
        if (ran == BatchRun::Failed) {
          told(next, session_.SQLCode());
          return outcome;
        }
      }
      const std::size_t end = next + std::max<std::size_t>(count, 1);
      for (; next < end; ++next) {
        const long code = execute(rows[next]);
        told(next, code);
        if (code != kSqlOk && onFailure == OnFailure::Stop) {
          return outcome;
        }
      }
    }
    return outcome;
  }

 private:
  SqliteSession& session_;
  std::uint64_t generation_;
  std::shared_ptr<Prepared> prepared_;
};

// Streams rows straight from sqlite3_step: nothing is read ahead.
class SqliteCursor final : public Cursor {
 public:
  SqliteCursor(SqliteSession& session, StmtPtr stmt, SqlResult failure, std::string_view text)
      : session_(session),
        generation_(session.generation()),
        stmt_(std::move(stmt)),
        failure_(std::move(failure)),
        text_(text) {
    if (stmt_ != nullptr) {
      const int count = sqlite3_column_count(stmt_.get());
      for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(stmt_.get(), i);
        columns_.emplace_back(name != nullptr ? name : "");
      }
    }
  }

  long fetch(Row& row) override {
    if (failure_.failed()) {
      // Other statements may have run since the open: the failure is this
      // cursor's.
      session_.noted(text_);
      return session_.report(failure_);
    }
    if (stmt_ == nullptr) {
      return session_.report(SqlResult::noData());
    }
    if (!session_.isCurrent(generation_)) {
      stmt_.reset();
      return session_.report(
          SqlResult::error("The cursor belongs to a connection that has been closed."));
    }
    sqlite3* db = sqlite3_db_handle(stmt_.get());
    const bool hadTransaction = sqlite3_get_autocommit(db) == 0;
    const int rc = sqlite3_step(stmt_.get());
    if (rc == SQLITE_ROW) {
      // The caller's row is refilled in place: a loop that fetches into the
      // same row reuses its texts' storage.
      const int count = sqlite3_column_count(stmt_.get());
      row.resize(static_cast<std::size_t>(count));
      for (int i = 0; i < count; ++i) {
        storeColumn(stmt_.get(), i, row[static_cast<std::size_t>(i)]);
      }
      return session_.report(SqlResult::ok());
    }
    if (rc == SQLITE_DONE) {
      stmt_.reset();  // releases the read lock at once
      return session_.report(SqlResult::noData());
    }
    const std::string message = sqlite3_errmsg(db);
    stmt_.reset();
    // Later fetches repeat the error, but the ended transaction is told
    // only once, with the fetch that ended it.
    failure_ = SqlResult{-(rc & 0xff), message};
    session_.noted(text_);
    return session_.engineFailure(rc, message, hadTransaction);
  }

  const std::vector<std::string>& columns() const override { return columns_; }

  void close() override {
    stmt_.reset();
    failure_ = SqlResult::ok();
  }

 private:
  SqliteSession& session_;
  std::uint64_t generation_;
  StmtPtr stmt_;
  SqlResult failure_;
  std::string text_;
  std::vector<std::string> columns_;
};

}  // namespace

std::shared_ptr<Prepared> SqliteSession::prepareText(std::string_view sql) {
  if (typesStale_) {
    readDeclaredTypes();
  }
  auto prepared = std::make_shared<Prepared>();
  prepared->text.assign(sql);
  const auto rewritten = rewrites_.rewrite(sql, context_);
  if (!rewritten->ok()) {
    prepared->failure = SqlResult::error(rewritten->error);
    return prepared;
  }
  prepared->kind = rewritten->kind;
  prepared->changesSchema = rewritten->changesSchema;
  if (rewritten->statements.size() == 1) {
    prepared->batch = rewritten->batch;
    prepared->batchTypes = context_.types;
  }
  for (const std::string& text : rewritten->statements) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), text.c_str(), static_cast<int>(text.size() + 1),
                                      &raw, nullptr);
    StmtPtr stmt(raw);
    if (rc != SQLITE_OK || stmt == nullptr) {
      prepared->statements.clear();
      prepared->failure =
          SqlResult{rc != SQLITE_OK ? -(rc & 0xff) : kSqlError,
                    rc != SQLITE_OK ? sqlite3_errmsg(db_.get()) : "The statement text is empty."};
      return prepared;
    }
    prepared->parameters += sqlite3_bind_parameter_count(stmt.get());
    prepared->statements.push_back(std::move(stmt));
  }
  return prepared;
}

long SqliteSession::engineFailure(int rc, const std::string& message, bool hadTransaction) {
  SqlResult result{-(rc & 0xff), message};
  if (hadTransaction && sqlite3_get_autocommit(db_.get()) != 0) {
    result.text += " (the engine rolled back the open transaction)";
    result.transactionEnded = true;
  }
  return report(std::move(result));
}

bool SqliteSession::bind(sqlite3_stmt* stmt, const std::vector<Value>& inputs, std::size_t& next) {
  const int count = sqlite3_bind_parameter_count(stmt);
  for (int i = 1; i <= count; ++i, ++next) {
    if (!bindValue(stmt, i, inputs[next])) {
      return false;
    }
  }
  return true;
}

bool SqliteSession::bindValue(sqlite3_stmt* stmt, int parameter, const Value& value, bool copy) {
  const int rc =
      value ? sqlite3_bind_text64(stmt, parameter, value->data(), value->size(),
                                  copy ? tsql_impl::transientText() : SQLITE_STATIC, SQLITE_UTF8)
            : sqlite3_bind_null(stmt, parameter);
  if (rc != SQLITE_OK) {
    report(SqlResult{-(rc & 0xff), sqlite3_errmsg(db_.get())});
    return false;
  }
  return true;
}

long SqliteSession::run(Prepared& prepared, const std::vector<Value>& inputs) {
  if (prepared.failure.failed()) {
    return report(prepared.failure);
  }
  if (inputs.size() != static_cast<std::size_t>(prepared.parameters)) {
    return report(SqlResult::error("The statement has " + std::to_string(prepared.parameters) +
                                   " placeholders but " + std::to_string(inputs.size()) +
                                   " values were bound."));
  }
  // Reads run outside a transaction when none is open, as SQL Server's
  // reads take no lasting locks; anything that writes opens one.
  if (prepared.kind != SqlKind::Query && !beginIfNeeded()) {
    return SQLCode();
  }
  const bool hadTransaction = sqlite3_get_autocommit(db_.get()) == 0;
  counted();
  std::size_t next = 0;
  sqlite3_int64 changes = 0;
  for (StmtPtr& stmt : prepared.statements) {
    sqlite3_reset(stmt.get());
    // Every placeholder is bound anew below: nothing of the previous
    // execution's values can remain.
    if (!bind(stmt.get(), inputs, next)) {
      return SQLCode();
    }
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) {
      rc = sqlite3_step(stmt.get());
    }
    if (rc != SQLITE_DONE) {
      const std::string message = sqlite3_errmsg(db_.get());
      sqlite3_reset(stmt.get());
      setRows(0);
      return engineFailure(rc, message, hadTransaction);
    }
    changes = sqlite3_changes64(db_.get());
    sqlite3_reset(stmt.get());
  }
  if (prepared.kind != SqlKind::Query) {
    busy_.deadline.reset();  // the lock was had: the next one may be waited for again
  }
  if (prepared.changesSchema) {
    typesStale_ = true;
  }
  if (prepared.kind == SqlKind::Change) {
    setRows(changes);
    return report(changes == 0 ? SqlResult::noData() : SqlResult::ok());
  }
  setRows(0);
  return report(SqlResult::ok());
}

std::size_t SqliteSession::batchRows(const Prepared& prepared,
                                     const std::vector<std::vector<Value>>& rows,
                                     std::size_t from) const {
  // A form judged by declared types (keys, triggers) that a statement has
  // changed since no longer holds.
  if (!prepared.batch.usable() || prepared.batchRefused || prepared.failure.failed() ||
      typesStale_ || prepared.batchTypes != context_.types) {
    return 0;
  }
  const auto perRow = static_cast<std::size_t>(prepared.batch.rowParameters);
  const auto variables =
      static_cast<std::size_t>(sqlite3_limit(db_.get(), SQLITE_LIMIT_VARIABLE_NUMBER, -1));
  const std::size_t count =
      std::min({rows.size() - from, kMaxBatchRows, variables / std::max<std::size_t>(perRow, 1)});
  if (count < kMinBatchRows) {
    return 0;
  }
  // A row with the wrong number of values goes alone, to be told so.
  for (std::size_t i = from; i < from + count; ++i) {
    if (rows[i].size() != perRow) {
      return 0;
    }
  }
  return count;
}

BatchRun SqliteSession::runBatch(Prepared& prepared, const std::vector<std::vector<Value>>& rows,
                                 std::size_t from, std::size_t count) {
  noteStatement(prepared.text);
  // Refusals before anything was sent are met again by the first row.
  if (stopRequested() || !beginIfNeeded()) {
    return BatchRun::Undone;
  }
  const bool plain = fitAsTheyAre(prepared.batch, rows, from, count);
  // Keyed by size and form.
  const std::size_t key = count * 2 + (plain ? 1 : 0);
  if (prepared.batchStatements.count(key) == 0 && prepared.batchStatements.size() >= 4) {
    // Only a few sizes recur (full batches and a last one).
    prepared.batchStatements.clear();
  }
  StmtPtr& slot = prepared.batchStatements[key];
  if (slot == nullptr) {
    const std::string text = prepared.batch.text(count, plain);
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), text.c_str(), static_cast<int>(text.size() + 1),
                                      &raw, nullptr);
    slot.reset(raw);
    if (rc != SQLITE_OK || slot == nullptr) {
      prepared.batchStatements.erase(key);
      prepared.batchRefused = true;
      return BatchRun::Undone;
    }
  }
  sqlite3_stmt* stmt = slot.get();
  if (control(kSaveBatch, saveBatch_) != SQLITE_OK) {
    return BatchRun::Undone;
  }
  // Undoes whatever the batch did. Should that fail, the rows cannot be
  // run again without being applied twice: the batch fails as a whole.
  const auto undo = [&](const std::string& why) {
    if (control(kUndoBatch, undoBatch_) == SQLITE_OK &&
        control(kReleaseBatch, releaseBatch_) == SQLITE_OK) {
      return BatchRun::Undone;
    }
    report(SqlResult::error(
        why + " The rows sent at once could not be undone: " + sqlite3_errmsg(db_.get())));
    return BatchRun::Failed;
  };
  countStatement();
  countRoundTrip();
  sqlite3_reset(stmt);
  // The rows' values are read in place: the bindings are cleared before
  // this returns.
  struct Unbind {
    sqlite3_stmt* stmt;
    ~Unbind() { sqlite3_clear_bindings(stmt); }
  } unbind{stmt};
  int parameter = 0;
  for (std::size_t i = from; i < from + count; ++i) {
    for (const Value& value : rows[i]) {
      if (!bindValue(stmt, ++parameter, value, false)) {
        return undo(lastResult().text);
      }
    }
  }
  int rc = SQLITE_ROW;
  while (rc == SQLITE_ROW) {
    rc = sqlite3_step(stmt);
  }
  if (rc != SQLITE_DONE) {
    const std::string message = sqlite3_errmsg(db_.get());
    sqlite3_reset(stmt);
    if (sqlite3_get_autocommit(db_.get()) != 0) {
      // The engine ended the transaction: the rows before the failing
      // one went with it, as they would have one at a time. Which row
      // failed is not known; the failure is told at the first.
      setRows(0);
      engineFailure(rc,
                    message + " (while " + std::to_string(count) +
                        " rows were sent at once, from the first row named)",
                    true);
      return BatchRun::Failed;
    }
    return undo(message);
  }
  const sqlite3_int64 changes = sqlite3_changes64(db_.get());
  sqlite3_reset(stmt);
  if (changes != static_cast<sqlite3_int64>(count)) {
    return undo("A row of the batch changed no row or more than one.");
  }
  if (control(kReleaseBatch, releaseBatch_) != SQLITE_OK) {
    return undo(sqlite3_errmsg(db_.get()));
  }
  busy_.deadline.reset();
  // As after the last row run alone: it changed one row.
  setRows(1);
  report(SqlResult::ok());
  return BatchRun::Done;
}

long SqliteSession::execute(std::string_view sql) {
  noteStatement(sql);
  if (db_ == nullptr) {
    return notConnected();
  }
  if (stopRequested()) {
    return SQLCode();
  }
  if (typesStale_) {
    readDeclaredTypes();
  }
  std::shared_ptr<Prepared> prepared;
  const auto hit = statementMap_.find(sql);
  if (hit != statementMap_.end()) {
    statementLru_.splice(statementLru_.begin(), statementLru_, hit->second);
    prepared = hit->second->second;
  } else {
    prepared = prepareText(sql);
    if (!prepared->failure.failed()) {  // failures are not kept: the schema may change
      statementLru_.emplace_front(std::string(sql), prepared);
      statementMap_.emplace(statementLru_.front().first, statementLru_.begin());
      if (statementLru_.size() > kStatementCacheSize) {
        statementMap_.erase(statementLru_.back().first);
        statementLru_.pop_back();
      }
    }
  }
  return run(*prepared, {});
}

std::unique_ptr<Statement> SqliteSession::prepare(std::string_view sql) {
  if (db_ == nullptr) {
    auto prepared = std::make_shared<Prepared>();
    prepared->text.assign(sql);
    prepared->failure = SqlResult::error("The session is not connected to a database.");
    notConnected();
    return std::make_unique<SqliteStatement>(*this, std::move(prepared));
  }
  auto prepared = prepareText(sql);
  report(prepared->failure);
  return std::make_unique<SqliteStatement>(*this, std::move(prepared));
}

std::unique_ptr<Cursor> SqliteSession::openCursor(std::string_view sql,
                                                  const std::vector<Value>& inputs) {
  noteStatement(sql);
  if (db_ == nullptr) {
    notConnected();
    return std::make_unique<SqliteCursor>(*this, nullptr, lastResult(), sql);
  }
  if (stopRequested()) {
    return std::make_unique<SqliteCursor>(*this, nullptr, lastResult(), sql);
  }
  auto prepared = prepareText(sql);
  if (prepared->failure.failed()) {
    report(prepared->failure);
    return std::make_unique<SqliteCursor>(*this, nullptr, prepared->failure, sql);
  }
  if (prepared->statements.size() != 1 || prepared->kind != SqlKind::Query) {
    const SqlResult failure = SqlResult::error("A cursor needs a single SELECT statement.");
    report(failure);
    return std::make_unique<SqliteCursor>(*this, nullptr, failure, sql);
  }
  if (inputs.size() != static_cast<std::size_t>(prepared->parameters)) {
    const SqlResult failure = SqlResult::error(
        "The select has " + std::to_string(prepared->parameters) + " placeholders but " +
        std::to_string(inputs.size()) + " values were bound.");
    report(failure);
    return std::make_unique<SqliteCursor>(*this, nullptr, failure, sql);
  }
  StmtPtr stmt = std::move(prepared->statements.front());
  std::size_t next = 0;
  if (!bind(stmt.get(), inputs, next)) {
    return std::make_unique<SqliteCursor>(*this, nullptr, lastResult(), sql);
  }
  counted();
  report(SqlResult::ok());
  return std::make_unique<SqliteCursor>(*this, std::move(stmt), SqlResult::ok(), sql);
}

}  // namespace cvt::embedded
