#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt::test {

// Wraps a real session and fails chosen statements before they reach it,
// as a lost connection or a server error would. Every other statement runs
// on the wrapped session, whose outcome becomes this session's. Statements
// executed through execute() are counted from 1 and remembered.
// REQUIRES: callers use execute(), commit() and rollback() only; prepared
// statements and cursors go straight to the wrapped session (apart from
// the cursors failCursorsContaining() names).
class FailingSession final : public Session {
 public:
  explicit FailingSession(std::unique_ptr<Session> inner) : inner_(std::move(inner)) {}

  // Fail the statement number `n` (1-based); 0 fails none.
  void failStatement(std::size_t n) { failAt_ = n; }
  const std::vector<std::string>& executed() const { return executed_; }
  Session& inner() { return *inner_; }

  long connect() override { return setResult({inner_->connect(), inner_->SQLErrText()}); }
  void disconnect() override { inner_->disconnect(); }
  bool connected() const override { return inner_->connected(); }
  long execute(std::string_view sql) override {
    noteStatement(sql);
    executed_.emplace_back(sql);
    countStatement();
    if (executed_.size() == failAt_) {
      setRows(0);
      return setResult(SqlResult::error("injected failure"));
    }
    inner_->execute(sql);
    setRows(inner_->SQLNRows());
    return setResult(inner_->lastResult());
  }
  void commit() override { inner_->commit(); }
  void rollback() override { inner_->rollback(); }
  std::unique_ptr<Statement> prepare(std::string_view sql) override { return inner_->prepare(sql); }
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override {
    if (!cursorMarker_.empty() && sql.find(cursorMarker_) != std::string_view::npos) {
      noteStatement(sql);
      return std::make_unique<RefusedCursor>(*this);
    }
    return inner_->openCursor(sql, inputs);
  }

  // Every cursor whose text contains `marker` fails at its first fetch, as
  // one that the engine refused to open; its failure becomes this session's.
  void failCursorsContaining(std::string marker) { cursorMarker_ = std::move(marker); }

 private:
  class RefusedCursor final : public Cursor {
   public:
    explicit RefusedCursor(FailingSession& session) : session_(session) {}
    long fetch(Row& /*row*/) override {
      return session_.setResult(SqlResult::error("injected failure"));
    }
    const std::vector<std::string>& columns() const override { return columns_; }
    void close() override {}

   private:
    FailingSession& session_;
    std::vector<std::string> columns_;
  };

  std::unique_ptr<Session> inner_;
  std::size_t failAt_ = 0;
  std::vector<std::string> executed_;
  std::string cursorMarker_;
};

}  // namespace cvt::test
