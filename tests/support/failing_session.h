#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/forwarding_session.h"

namespace cvt::test {

// Wraps a real session and makes one chosen operation fail, as a lost
// connection, a server error or a busy database would. Every statement
// that reaches the engine is counted from 1, in the order it is sent:
// execute(), each execute of a prepared statement, each cursor open and
// each fetch (selectInto and the grid result set go through these too).
// Commits are counted from 1 apart.
//
// A statement fault fails the chosen statement instead of sending it,
// either alone (the transaction and its pending work stay) or ending the
// transaction, as an engine that rolls back the whole transaction with the
// error does: the wrapped session rolls back and the failure says so. A
// commit fault refuses the chosen commit and leaves the transaction open,
// as a busy database does. Every other operation runs on the wrapped
// session, whose outcome becomes this session's.
//
// Apart from the counted faults, every cursor whose text contains the
// marker given to failCursorsContaining() fails at its first fetch.
class FailingSession final : public ForwardingSession {
 public:
  enum class Fault { Alone, EndsTransaction };

  explicit FailingSession(std::unique_ptr<Session> inner) : ForwardingSession(std::move(inner)) {}

  // Fail the statement number `n` (1-based); 0 fails none.
  void failStatement(std::size_t n, Fault kind = Fault::Alone) {
    failAt_ = n;
    kind_ = kind;
  }
  // Refuse the commit number `n` (1-based); 0 refuses none.
  void failCommit(std::size_t n) { failCommitAt_ = n; }
  // Called after every commit that went through, with its number.
  std::function<void(std::size_t)> afterCommit;

  std::size_t statements() const { return statements_; }
  std::size_t commits() const { return commits_; }
  // True once the chosen fault has happened.
  bool faulted() const { return faulted_; }

  long execute(std::string_view sql) override {
    noteStatement(sql);
    if (injected()) {
      return SQLCode();
    }
    return ForwardingSession::execute(sql);
  }
  long commit() override {
    ++commits_;
    if (commits_ == failCommitAt_) {
      faulted_ = true;
      return setResult(SqlResult::error("injected commit failure"));
    }
    const long code = ForwardingSession::commit();
    if (code == kSqlOk && afterCommit) {
      afterCommit(commits_);
    }
    return code;
  }
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override {
    noteStatement(sql);
    if (!cursorMarker_.empty() && sql.find(cursorMarker_) != std::string_view::npos) {
      return std::make_unique<FaultyCursor>(*this, nullptr, SqlResult::error("injected failure"));
    }
    if (injected()) {
      return std::make_unique<FaultyCursor>(*this, nullptr, lastResult());
    }
    auto cursor =
        std::make_unique<FaultyCursor>(*this, inner().openCursor(sql, inputs), SqlResult::ok());
    mirror();
    return cursor;
  }

  // Every cursor whose text contains `marker` fails at its first fetch, as
  // one that the engine refused to open; its failure becomes this session's.
  void failCursorsContaining(std::string marker) { cursorMarker_ = std::move(marker); }

 private:
  // Prepared statements run row by row, so that every row counts as a
  // statement that can be chosen to fail.
  long executePrepared(Statement& statement, const std::vector<Value>& inputs) override {
    if (injected()) {
      return SQLCode();
    }
    return ForwardingSession::executePrepared(statement, inputs);
  }
  bool forwardsBatches() const override { return false; }

  // A cursor whose open failed reports it at every fetch, as the backends'
  // cursors do; a failed fetch ends the cursor the same way.
  class FaultyCursor final : public Cursor {
   public:
    FaultyCursor(FailingSession& s, std::unique_ptr<Cursor> inner, SqlResult failure)
        : s_(s), inner_(std::move(inner)), failure_(std::move(failure)) {}
    long fetch(Row& row) override {
      if (failure_.failed()) {
        // An ended transaction is told once, at the first report.
        const SqlResult told = failure_;
        failure_.transactionEnded = false;
        return s_.setResult(told);
      }
      if (inner_ == nullptr) {
        return s_.setResult(SqlResult::noData());
      }
      if (s_.injected()) {
        failure_ = s_.lastResult();
        failure_.transactionEnded = false;
        inner_.reset();
        return s_.SQLCode();
      }
      inner_->fetch(row);
      return s_.mirror();
    }
    const std::vector<std::string>& columns() const override {
      return inner_ != nullptr ? inner_->columns() : kNone;
    }
    void close() override {
      if (inner_ != nullptr) {
        inner_->close();
      }
    }

   private:
    static inline const std::vector<std::string> kNone;
    FailingSession& s_;
    std::unique_ptr<Cursor> inner_;
    SqlResult failure_;
  };

  // Counts one statement; true (with the failure set) when it is the one
  // chosen to fail.
  bool injected() {
    ++statements_;
    if (statements_ != failAt_) {
      return false;
    }
    faulted_ = true;
    setRows(0);
    SqlResult failure = SqlResult::error("injected failure");
    if (kind_ == Fault::EndsTransaction) {
      inner().rollback();
      failure.text += " (the engine rolled back the open transaction)";
      failure.transactionEnded = true;
    }
    setResult(std::move(failure));
    return true;
  }

  std::size_t failAt_ = 0;
  Fault kind_ = Fault::Alone;
  std::size_t failCommitAt_ = 0;
  std::size_t statements_ = 0;
  std::size_t commits_ = 0;
  bool faulted_ = false;
  std::string cursorMarker_;
};

}  // namespace cvt::test
