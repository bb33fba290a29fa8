#include <cctype>

#include "db/odbc/odbc_session.h"
#include "db/session.h"
#include "db/sqlite/sqlite_session.h"
#include "db/sqlite/tsql_rewriter.h"

namespace cvt {

namespace {

// The session of an installation without a DBMS setting: every operation
// fails with a text that says so, nothing crashes.
class UnconfiguredSession final : public Session {
 public:
  explicit UnconfiguredSession(const std::string& why)
      : text_(why.empty() ? "No database interface (DBMS) is configured."
                          : "No database interface (DBMS) is configured: " + why + ".") {}
  long connect() override { return fail(); }
  void disconnect() override {}
  bool connected() const override { return false; }
  long execute(std::string_view) override { return fail(); }
  long commit() override { return fail(); }
  long rollback() override { return fail(); }
  std::unique_ptr<Statement> prepare(std::string_view) override {
    fail();
    return std::make_unique<FailingStatement>(*this);
  }
  std::unique_ptr<Cursor> openCursor(std::string_view, const std::vector<Value>&) override {
    fail();
    return std::make_unique<FailingCursor>(*this);
  }

 private:
  long fail() { return setResult(SqlResult::error(text_)); }

  std::string text_;

  class FailingStatement final : public Statement {
   public:
    explicit FailingStatement(UnconfiguredSession& session) : session_(session) {}
    long execute(const std::vector<Value>&) override { return session_.fail(); }

   private:
    UnconfiguredSession& session_;
  };

  class FailingCursor final : public Cursor {
   public:
    explicit FailingCursor(UnconfiguredSession& session) : session_(session) {}
    long fetch(Row&) override { return session_.fail(); }
    const std::vector<std::string>& columns() const override { return columns_; }
    void close() override {}

   private:
    UnconfiguredSession& session_;
    std::vector<std::string> columns_;
  };
};

bool isSqlite(const std::string& dbms) {
  static constexpr std::string_view kSqlite = "sqlite";
  if (dbms.size() != kSqlite.size()) {
    return false;
  }
  for (std::size_t i = 0; i < dbms.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(dbms[i])) != kSqlite[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::unique_ptr<Session> makeSession(const std::string& dbms, const std::string& why) {
  if (isSqlite(dbms)) {
    return makeSqliteSession();
  }
  if (dbms.empty()) {
    return std::make_unique<UnconfiguredSession>(why);
  }
  return makeOdbcSession(&makeSqliteDialect);
}

}  // namespace cvt
