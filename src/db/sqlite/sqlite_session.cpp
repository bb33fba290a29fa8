#include "db/sqlite/sqlite_session.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "db/names.h"
#include "db/sqlite/ext/tsql_parts.h"
#include "db/sqlite/sqlite_session_parts.h"
#include "db/sqlite/tsql_functions.h"
#include "db/text_helpers.h"
#include "platform/paths.h"

namespace cvt {

namespace embedded {

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

// "folder,1433" -> "folder": a port means nothing to a folder.
std::string folderOf(const std::string& serverName) { return splitServerAddress(serverName).host; }

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

}  // namespace

long SqliteSession::commit() { return endTransaction(kCommit, commit_); }
long SqliteSession::rollback() { return endTransaction(kRollback, rollback_); }

long SqliteSession::connect() {
  disconnect();  // a second connect keeps the first connection's pending work
  const std::string folderText = folderOf(settings.ServerName);
  if (folderText.empty()) {
    return report(SqlResult::error(
        "No database folder given: ServerName must name the folder that holds tillexv8.db."));
  }
  std::string mainName(trimBlanks(settings.Database));
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

}  // namespace embedded

const char* embeddedConnectionSettings() { return embedded::kConnectionSettings; }

std::unique_ptr<Session> makeSqliteSession() { return std::make_unique<embedded::SqliteSession>(); }

}  // namespace cvt
