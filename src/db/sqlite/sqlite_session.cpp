#include "db/sqlite/sqlite_session.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <list>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "db/catalog.h"
#include "db/names.h"
#include "db/sqlite/ext/tsql_functions_impl.h"
#include "db/sqlite/tsql_functions.h"
#include "db/sqlite/tsql_rewriter.h"
#include "platform/paths.h"

namespace cvt {

namespace {

// Statements the session itself sends, next to the step that sends them.
// The first writing statement takes the target's write lock at once,
// while the busy wait still applies: a transaction that had read first and
// met another writer only when it wrote would fail at once, without
// waiting. Only the target's lock is taken (BEGIN IMMEDIATE would lock the
// attached sources as well, and every commit would then become a commit
// across several databases, with a super-journal and its disk flushes).
constexpr const char* kBegin = "BEGIN";
constexpr const char* kTakeWriteLock = "DELETE FROM main.tsql_trigger_off WHERE 0";
constexpr const char* kCommit = "COMMIT";
constexpr const char* kRollback = "ROLLBACK";
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
constexpr const char* kCreateTriggerOffTable =
    "CREATE TABLE IF NOT EXISTS main.tsql_trigger_off "
    "(table_name TEXT PRIMARY KEY COLLATE NOCASE)";
constexpr const char* kAttach = "ATTACH DATABASE ? AS ";
// Rows left here by a run that never reached its close sequence.
constexpr const char* kSelectTriggersOff =
    "SELECT table_name FROM main.tsql_trigger_off ORDER BY table_name";
// Write-ahead log with a disk flush at checkpoints only: a commit costs a
// write to the log, not a flush, so the weighed items' one commit per swap
// stays cheap. Every commit survives a crash of the process (the log is in
// the operating system's hands when commit returns); a power cut or a crash
// of the operating system may lose the latest commits, never the database's
// consistency. Only the target is switched: the sources are only read. A
// checkpoint (and its flush) comes after about 64 MB of log, which is also
// the size the log is cut back to afterwards.
constexpr const char* kConnectionSettings =
    "PRAGMA main.journal_mode=WAL;"
    "PRAGMA main.synchronous=NORMAL;"
    "PRAGMA main.journal_size_limit=67108864;"
    "PRAGMA wal_autocheckpoint=16384;";

constexpr const char* kDefaultDatabase = "tillexv8";
// How long the session waits for another program's lock before a statement
// fails with "database is locked". One wait for each time the lock is met:
// once it has run out, further statements fail at once until one gets its
// lock, so that a run against a locked database ends in seconds, not in a
// wait for every statement of the run and of its close.
constexpr std::chrono::milliseconds kBusyWait{5000};
constexpr std::chrono::milliseconds kBusyPoll{20};

struct BusyBudget {
  std::optional<std::chrono::steady_clock::time_point> deadline;
};

int busyWait(void* budget, int /*count*/) {
  auto& b = *static_cast<BusyBudget*>(budget);
  const auto now = std::chrono::steady_clock::now();
  if (!b.deadline) {
    b.deadline = now + kBusyWait;
  }
  if (now >= *b.deadline) {
    return 0;
  }
  std::this_thread::sleep_for(
      std::min<std::chrono::steady_clock::duration>(kBusyPoll, *b.deadline - now));
  return 1;
}
constexpr std::size_t kStatementCacheSize = 64;

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// close_v2 lets statements that outlive a disconnect be finalized later.
struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

std::string trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') {
    s.remove_prefix(1);
  }
  while (!s.empty() && s.back() == ' ') {
    s.remove_suffix(1);
  }
  return std::string(s);
}

// "folder,1433" -> "folder": a port means nothing to a folder.
std::string folderOf(const std::string& serverName) {
  std::string folder = trimmed(serverName);
  const std::size_t comma = folder.rfind(',');
  if (comma != std::string::npos) {
    const std::string port = trimmed(std::string_view(folder).substr(comma + 1));
    if (std::all_of(port.begin(), port.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; })) {
      folder = trimmed(std::string_view(folder).substr(0, comma));
    }
  }
  return folder;
}

bool isPlainIdentifier(const std::string& name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])) != 0) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

// `<folder>/<name>.db`; database names ignore case as on SQL Server, so a
// file whose name differs only in case is the same database.
std::filesystem::path databaseFile(const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::path exact = folder / (name + ".db");
  std::error_code ec;
  if (std::filesystem::exists(exact, ec)) {
    return exact;
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::filesystem::path& path = entry.path();
    if (path.extension() == ".db" && lowered(platform::utf8Path(path.stem())) == lowered(name)) {
      return path;
    }
  }
  return exact;
}

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

// A translated text prepared on the connection: what execute(), prepared
// statements and cursors run.
struct Prepared {
  std::vector<StmtPtr> statements;
  SqlKind kind = SqlKind::Other;
  SqlResult failure;  // set when the text could not be translated or prepared
  int parameters = 0;
  std::string text;  // as the caller wrote it, for lastStatementText()
  bool changesSchema = false;
  // Many rows at once: the form, the declared types it was judged by, the
  // statements made of it by number of rows, and whether one of those
  // failed to prepare (then the rows always go one at a time).
  BatchForm batch;
  std::shared_ptr<const DeclaredTypes> batchTypes;
  std::map<std::size_t, StmtPtr> batchStatements;
  bool batchRefused = false;
};

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

// What became of rows sent at once.
enum class BatchRun {
  Done,    // every row ran and changed exactly one row
  Undone,  // nothing of them remains: they are to run one at a time
  Failed,  // failed as a whole, and cannot be run again (the session holds why)
};

class SqliteSession final : public Session {
 public:
  SqliteSession() = default;
  ~SqliteSession() override {
    // A session dropped without disconnect() behaves like a broken
    // connection: its pending work is rolled back by the close.
    closeConnection();
  }

  long connect() override;
  void disconnect() override;
  bool connected() const override { return db_ != nullptr; }
  long execute(std::string_view sql) override;
  long commit() override { return endTransaction(kCommit, commit_); }
  long rollback() override { return endTransaction(kRollback, rollback_); }
  std::unique_ptr<Statement> prepare(std::string_view sql) override;
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override;
  std::unique_ptr<Catalog> catalog() override;

  // For the statements and cursors of this session.
  long report(SqlResult result) { return setResult(std::move(result)); }
  bool stopRequested() { return interrupted(); }
  void counted() {
    countStatement();
    countRoundTrip();
  }
  void noted(std::string_view sql) { noteStatement(sql); }
  bool isCurrent(std::uint64_t generation) const {
    return db_ != nullptr && generation == generation_;
  }
  std::uint64_t generation() const { return generation_; }
  long notConnected() {
    return report(SqlResult::error("The session is not connected to a database."));
  }
  std::shared_ptr<Prepared> prepareText(std::string_view sql);
  long run(Prepared& prepared, const std::vector<Value>& inputs);
  long engineFailure(int rc, const std::string& message, bool hadTransaction);
  bool beginIfNeeded();
  // How many of `rows`, from `from` on, can go at once; 0 when the next
  // one goes alone.
  std::size_t batchRows(const Prepared& prepared, const std::vector<std::vector<Value>>& rows,
                        std::size_t from) const;
  BatchRun runBatch(Prepared& prepared, const std::vector<std::vector<Value>>& rows,
                    std::size_t from, std::size_t count);
  bool bind(sqlite3_stmt* stmt, const std::vector<Value>& inputs, std::size_t& next);
  // `copy` false: the value is read where it is, and must stay there
  // until the statement has run and its bindings are cleared.
  bool bindValue(sqlite3_stmt* stmt, int parameter, const Value& value, bool copy = true);
  sqlite3* handle() const { return db_.get(); }
  // The schema name under which `database` is reachable on the connection
  // ("main" for the target), or empty when it is not.
  std::string schemaOf(const std::string& database) const {
    if (database.empty() || lowered(database) == lowered(context_.targetDatabase)) {
      return "main";
    }
    return attached_.count(lowered(database)) > 0 ? database : std::string();
  }

 private:
  void closeConnection();
  // Runs one of the session's own transaction statements, prepared once:
  // a loop that commits after every row pays no parse per commit.
  int control(const char* sql, StmtPtr& slot);
  long endTransaction(const char* sql, StmtPtr& slot);
  void readTriggersOff();
  void attachFolder(const std::filesystem::path& folder, const std::string& mainName);
  void readDeclaredTypes();

  DbPtr db_;
  StmtPtr begin_;  // the transaction statements, once prepared
  StmtPtr lock_;
  StmtPtr commit_;
  StmtPtr rollback_;
  StmtPtr saveBatch_;  // the batch savepoint's statements, once prepared
  StmtPtr releaseBatch_;
  StmtPtr undoBatch_;
  std::uint64_t generation_ = 0;
  std::set<std::string> attached_;  // lower-case names
  RewriteContext context_;
  RewriteCache rewrites_;
  BusyBudget busy_;
  bool typesStale_ = false;  // a statement changed a table since the types were read
  // Prepared texts of execute(), most recently used first.
  std::list<std::pair<std::string, std::shared_ptr<Prepared>>> statementLru_;
  std::unordered_map<std::string_view, decltype(statementLru_)::iterator> statementMap_;
};

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

long SqliteSession::connect() {
  disconnect();  // a second connect keeps the first connection's pending work
  const std::string folderText = folderOf(settings.ServerName);
  if (folderText.empty()) {
    return report(SqlResult::error(
        "No database folder given: ServerName must name the folder that holds tillexv8.db."));
  }
  std::string mainName = trimmed(settings.Database);
  if (mainName.empty()) {
    mainName = kDefaultDatabase;
  }
  const std::filesystem::path folder = platform::fsPath(folderText);
  const std::filesystem::path file = databaseFile(folder, mainName);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    return report(
        SqlResult::error("The database file '" + platform::utf8Path(file) + "' does not exist."));
  }
  // SQLite takes an empty file for an empty database and would write its
  // own table into it: a file that holds nothing is no target to convert
  // into, and stays as it is.
  if (std::filesystem::file_size(file, ec) == 0 && !ec) {
    return report(
        SqlResult::error("The database file '" + platform::utf8Path(file) + "' is empty."));
  }
  sqlite3* raw = nullptr;
  // The session is only ever used by one thread at a time, so SQLite need
  // not take its connection lock around every call.
  const int rc = sqlite3_open_v2(platform::utf8Path(file).c_str(), &raw,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  DbPtr db(raw);
  if (rc != SQLITE_OK) {
    const std::string why = raw != nullptr ? sqlite3_errmsg(raw) : sqlite3_errstr(rc);
    return report(SqlResult{
        -(rc & 0xff), "Cannot open the database file '" + platform::utf8Path(file) + "': " + why});
  }
  busy_.deadline.reset();
  sqlite3_busy_handler(db.get(), busyWait, &busy_);
  // A file that cannot switch its journal (another connection holds it,
  // or its folder offers no shared memory) keeps its own mode and still
  // connects: the settings are about speed, not about what a commit means.
  sqlite3_exec(db.get(), kConnectionSettings, nullptr, nullptr, nullptr);
  if (registerTsqlFunctions(db.get()) != SQLITE_OK ||
      sqlite3_exec(db.get(), kCreateTriggerOffTable, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return report(SqlResult::error("Cannot prepare the database file '" + platform::utf8Path(file) +
                                   "': " + sqlite3_errmsg(db.get())));
  }
  db_ = std::move(db);
  readTriggersOff();
  attachFolder(folder, mainName);
  ++generation_;
  context_.targetDatabase = mainName;
  context_.isAttached = [this](std::string_view name) {
    return attached_.count(lowered(name)) > 0;
  };
  readDeclaredTypes();
  return report(SqlResult::ok());
}

// The declared column types of every table, which the rewriter fits stored
// values to. Read at connect and again after a statement changed a table.
void SqliteSession::readDeclaredTypes() {
  sqlite3* db = db_.get();
  context_.types = DeclaredTypes::read(
      [db](const std::string& sql, std::vector<std::vector<std::string>>& rows) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
          sqlite3_finalize(raw);
          return false;
        }
        StmtPtr stmt(raw);
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
          std::vector<std::string> row;
          for (int i = 0; i < sqlite3_column_count(stmt.get()); ++i) {
            const Value value = columnValue(stmt.get(), i);
            row.push_back(value ? *value : std::string());
          }
          rows.push_back(std::move(row));
        }
        return rc == SQLITE_DONE;
      });
  typesStale_ = false;
  rewrites_.clear();
  statementMap_.clear();
  statementLru_.clear();
}

// Attaches every other *.db of the folder under its stem. SQLite cannot
// attach inside a transaction, so this happens once, at connect.
void SqliteSession::attachFolder(const std::filesystem::path& folder, const std::string& mainName) {
  std::vector<std::pair<std::string, std::filesystem::path>> candidates;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::filesystem::path& path = entry.path();
    std::error_code typeError;
    if (path.extension() != ".db" || !entry.is_regular_file(typeError)) {
      continue;
    }
    const std::string stem = platform::utf8Path(path.stem());
    if (isPlainIdentifier(stem) && lowered(stem) != lowered(mainName) && lowered(stem) != "main" &&
        lowered(stem) != "temp") {
      candidates.emplace_back(stem, path);
    }
  }
  std::sort(candidates.begin(), candidates.end());
  const auto limit = static_cast<std::size_t>(sqlite3_limit(db_.get(), SQLITE_LIMIT_ATTACHED, -1));
  for (const auto& [stem, path] : candidates) {
    if (attached_.size() >= limit) {
      break;  // further databases stay unreachable ("Invalid object name")
    }
    const std::string sql = std::string(kAttach) + "\"" + stem + "\"";
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr);
    StmtPtr stmt(raw);
    if (rc == SQLITE_OK) {
      sqlite3_bind_text(stmt.get(), 1, platform::utf8Path(path).c_str(), -1,
                        tsql_impl::transientText());
      rc = sqlite3_step(stmt.get());
    }
    // A file that SQLite cannot attach (not a database, unreadable) stays
    // out; statements that name it fail as an unknown database would.
    if (rc == SQLITE_DONE) {
      attached_.insert(lowered(stem));
    }
  }
}

// Read with no transaction open, before anything else runs on the session.
void SqliteSession::readTriggersOff() {
  std::vector<std::string> tables;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_.get(), kSelectTriggersOff, -1, &raw, nullptr) == SQLITE_OK) {
    StmtPtr stmt(raw);
    while (sqlite3_step(stmt.get()) == SQLITE_ROW) {
      const unsigned char* name = sqlite3_column_text(stmt.get(), 0);
      if (name != nullptr) {
        tables.emplace_back(reinterpret_cast<const char*>(name));
      }
    }
  }
  setTriggersOffAtConnect(std::move(tables));
}

void SqliteSession::closeConnection() {
  begin_.reset();
  lock_.reset();
  commit_.reset();
  rollback_.reset();
  saveBatch_.reset();
  releaseBatch_.reset();
  undoBatch_.reset();
  statementMap_.clear();
  statementLru_.clear();
  rewrites_.clear();
  attached_.clear();
  if (db_ != nullptr) {
    ++generation_;
  }
  db_.reset();
}

void SqliteSession::disconnect() {
  if (db_ == nullptr) {
    return;
  }
  SqlResult outcome = SqlResult::ok();
  if (sqlite3_get_autocommit(db_.get()) == 0 &&
      sqlite3_exec(db_.get(), kCommit, nullptr, nullptr, nullptr) != SQLITE_OK) {
    outcome = SqlResult::error(std::string("The pending work could not be committed: ") +
                               sqlite3_errmsg(db_.get()));
  }
  closeConnection();
  report(std::move(outcome));
}

int SqliteSession::control(const char* sql, StmtPtr& slot) {
  if (slot == nullptr) {
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db_.get(), sql, -1, &raw, nullptr);
    slot.reset(raw);
    if (rc != SQLITE_OK) {
      return rc;
    }
  }
  const int rc = sqlite3_step(slot.get());
  // The message stays readable after the reset that ends the statement.
  sqlite3_reset(slot.get());
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

long SqliteSession::endTransaction(const char* sql, StmtPtr& slot) {
  noteStatement(sql);
  if (db_ == nullptr) {
    return notConnected();
  }
  if (sqlite3_get_autocommit(db_.get()) != 0) {
    return report(SqlResult::ok());  // nothing open: nothing to end
  }
  countRoundTrip();
  const int rc = control(sql, slot);
  if (rc != SQLITE_OK) {
    // A commit refused for a busy database leaves the transaction open for
    // the caller's rollback; after an I/O error the engine has ended it.
    return engineFailure(rc, sqlite3_errmsg(db_.get()), true);
  }
  busy_.deadline.reset();
  return report(SqlResult::ok());
}

bool SqliteSession::beginIfNeeded() {
  if (sqlite3_get_autocommit(db_.get()) == 0) {
    return true;
  }
  int rc = control(kBegin, begin_);
  if (rc == SQLITE_OK) {
    rc = control(kTakeWriteLock, lock_);
    if (rc != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db_.get());
      control(kRollback, rollback_);
      report(SqlResult{-(rc & 0xff), message});
      return false;
    }
  }
  if (rc != SQLITE_OK) {
    report(SqlResult{-(rc & 0xff), sqlite3_errmsg(db_.get())});
    return false;
  }
  return true;
}

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

}  // namespace

namespace {

// The catalogue of the embedded backend, read from SQLite's own: the
// declared column types (pragma table_xinfo), the trigger switch table,
// and for rights whether the target file can be written at all.
class SqliteCatalog final : public Catalog {
 public:
  explicit SqliteCatalog(SqliteSession& session) : session_(session) {}

  SqlResult databaseExists(const std::string& database, bool& exists) override {
    exists = session_.connected() && !session_.schemaOf(database).empty();
    return session_.connected() ? SqlResult::ok() : notConnected();
  }

  SqlResult describe(const std::string& database, const std::string& table,
                     TableInfo& out) override {
    out = TableInfo{};
    if (!session_.connected()) {
      return notConnected();
    }
    const std::string schema = session_.schemaOf(database);
    if (schema.empty()) {
      return SqlResult::ok();
    }
    int keyParts = 0;
    const SqlResult result =
        query("SELECT name, type, pk, \"notnull\", dflt_value FROM pragma_table_xinfo(?1, ?2)",
              {table, schema}, [&](sqlite3_stmt* stmt) {
                ColumnInfo column;
                column.name = text(stmt, 0);
                readDeclaredType(text(stmt, 1), column);
                column.key = sqlite3_column_int(stmt, 2) > 0;
                keyParts += column.key ? 1 : 0;
                column.nullable = sqlite3_column_int(stmt, 3) == 0 && !column.key;
                if (sqlite3_column_type(stmt, 4) != SQLITE_NULL) {
                  column.defaultValue = text(stmt, 4);
                }
                out.columns.push_back(std::move(column));
                out.exists = true;
              });
    // An INTEGER PRIMARY KEY of its own is the row number SQLite assigns:
    // the embedded form of an identity column.
    for (auto& column : out.columns) {
      column.identity = keyParts == 1 && column.key && lowered(column.declared) == "integer";
      column.nullable = column.nullable || column.identity;
    }
    return result;
  }

  SqlResult rules(const std::string& database, const std::string& table, TableRules& out) override {
    out = TableRules{};
    if (!session_.connected()) {
      return notConnected();
    }
    const std::string schema = session_.schemaOf(database);
    if (schema.empty()) {
      return SqlResult::ok();
    }
    out.exposed = true;
    out.nullsDistinct = true;
    SqlResult result = query("SELECT name, \"unique\", origin FROM pragma_index_list(?1, ?2)",
                             {table, schema}, [&](sqlite3_stmt* stmt) {
                               IndexInfo index;
                               index.name = text(stmt, 0);
                               index.unique = sqlite3_column_int(stmt, 1) != 0;
                               index.primary = text(stmt, 2) == "pk";
                               out.indexes.push_back(std::move(index));
                             });
    for (auto& index : out.indexes) {
      if (result.failed()) {
        break;
      }
      result =
          query("SELECT name FROM pragma_index_info(?1, ?2) ORDER BY seqno", {index.name, schema},
                [&](sqlite3_stmt* stmt) { index.columns.push_back(text(stmt, 0)); });
    }
    if (result.failed()) {
      return result;
    }
    std::map<int, ForeignKeyInfo> keys;
    result = query(
        "SELECT id, \"table\", \"from\", \"to\" FROM pragma_foreign_key_list(?1, ?2)"
        " ORDER BY id, seq",
        {table, schema}, [&](sqlite3_stmt* stmt) {
          ForeignKeyInfo& key = keys[sqlite3_column_int(stmt, 0)];
          key.refTable = text(stmt, 1);
          key.columns.push_back(text(stmt, 2));
          key.refColumns.push_back(text(stmt, 3));
        });
    for (auto& [id, key] : keys) {
      key.name = "fk" + std::to_string(id);
      out.foreignKeys.push_back(std::move(key));
    }
    if (result.failed()) {
      return result;
    }
    const std::string master = "\"" + schema + "\".sqlite_master";
    std::string definition;
    result = query(("SELECT type, name, sql FROM " + master +
                    " WHERE tbl_name = ?1 COLLATE NOCASE AND type IN ('table', 'trigger')")
                       .c_str(),
                   {table}, [&](sqlite3_stmt* stmt) {
                     if (text(stmt, 0) == "trigger") {
                       out.triggers.push_back(text(stmt, 1));
                     } else {
                       definition = text(stmt, 2);
                     }
                   });
    out.checks = checkClausesOf(definition);
    return result;
  }

  SqlResult triggersOff(const std::vector<std::string>& tables,
                        std::vector<std::string>& off) override {
    off.clear();
    if (!session_.connected()) {
      return notConnected();
    }
    std::set<std::string> switchedOff;
    SqlResult result =
        query("SELECT table_name FROM main.tsql_trigger_off", {},
              [&](sqlite3_stmt* stmt) { switchedOff.insert(lowered(text(stmt, 0))); });
    for (const auto& table : tables) {
      if (switchedOff.count(lowered(table)) > 0) {
        off.push_back(table);
      }
    }
    return result;
  }

  SqlResult missingRights(const std::vector<TableRight>& needed,
                          std::vector<TableRight>& missing) override {
    missing.clear();
    if (!session_.connected()) {
      return notConnected();
    }
    // A file opened read-only (or on a read-only medium) refuses every write.
    for (const auto& right : needed) {
      const std::string schema = session_.schemaOf(right.database);
      if (right.right != "SELECT" && !schema.empty() &&
          sqlite3_db_readonly(session_.handle(), schema.c_str()) == 1) {
        missing.push_back(right);
      }
    }
    return SqlResult::ok();
  }

 private:
  static SqlResult notConnected() {
    return SqlResult::error("The session is not connected to a database.");
  }
  static std::string text(sqlite3_stmt* stmt, int column) {
    const auto* raw = sqlite3_column_text(stmt, column);
    return raw != nullptr ? reinterpret_cast<const char*>(raw) : std::string();
  }

  template <typename OnRow>
  SqlResult query(const char* sql, const std::vector<std::string>& inputs, OnRow onRow) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(session_.handle(), sql, -1, &raw, nullptr);
    StmtPtr stmt(raw);
    for (std::size_t i = 0; rc == SQLITE_OK && i < inputs.size(); ++i) {
      rc = sqlite3_bind_text(stmt.get(), static_cast<int>(i + 1), inputs[i].c_str(), -1,
                             tsql_impl::transientText());
    }
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
      rc = sqlite3_step(stmt.get());
      if (rc == SQLITE_ROW) {
        onRow(stmt.get());
      }
    }
    if (rc != SQLITE_DONE) {
      return SqlResult{-(rc & 0xff), sqlite3_errmsg(session_.handle())};
    }
    return SqlResult::ok();
  }

  SqliteSession& session_;
};

}  // namespace

std::unique_ptr<Catalog> SqliteSession::catalog() { return std::make_unique<SqliteCatalog>(*this); }

const char* embeddedConnectionSettings() { return kConnectionSettings; }

std::unique_ptr<Session> makeSqliteSession() { return std::make_unique<SqliteSession>(); }

}  // namespace cvt
