#pragma once

// The embedded session's parts, shared by its files: the session itself
// (connection, transactions: sqlite_session.cpp), its statements, cursors
// and many rows at once (sqlite_statements.cpp) and its catalogue
// (sqlite_catalog.cpp).

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "db/names.h"
#include "db/session.h"
#include "db/sqlite/declared_types.h"
#include "db/sqlite/tsql_rewriter.h"

namespace cvt::embedded {

struct BusyBudget {
  std::optional<std::chrono::steady_clock::time_point> deadline;
};

struct StmtFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// close_v2 lets statements that outlive a disconnect be finalized later.
struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

// Column `column` of the current row as the session gives values back
// (sqlite_statements.cpp).
Value columnValue(sqlite3_stmt* stmt, int column);

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
  long commit() override;
  long rollback() override;
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

}  // namespace cvt::embedded
