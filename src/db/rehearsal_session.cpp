#include "db/rehearsal_session.h"

#include <string>
#include <utility>

namespace cvt {

namespace {

// One name serves every savepoint: a return goes to the latest of them,
// which is the latest commit of the run.
constexpr const char* kSaveSql = "SAVE TRANSACTION convert_rehearsal";
constexpr const char* kReturnSql = "ROLLBACK TRANSACTION convert_rehearsal";

}  // namespace

class RehearsalSession::Forwarded final : public Statement {
 public:
  Forwarded(RehearsalSession& owner, std::unique_ptr<Statement> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  long execute(const std::vector<Value>& inputs) override {
    inner_->execute(inputs);
    return owner_.mirror();
  }
  // The rows go as the real session sends them; each row's observer finds
  // that row's result here too.
  BatchOutcome executeBatch(const std::vector<std::vector<Value>>& rows, OnFailure onFailure,
                            const RowObserver& afterRow) override {
    BatchOutcome outcome = inner_->executeBatch(rows, onFailure, [&](std::size_t row, long code) {
      owner_.mirror();
      if (afterRow) {
        afterRow(row, code);
      }
    });
    owner_.mirror();
    return outcome;
  }

 private:
  RehearsalSession& owner_;
  std::unique_ptr<Statement> inner_;
};

class RehearsalSession::ForwardedCursor final : public Cursor {
 public:
  ForwardedCursor(RehearsalSession& owner, std::unique_ptr<Cursor> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  long fetch(Row& row) override {
    inner_->fetch(row);
    return owner_.mirror();
  }
  const std::vector<std::string>& columns() const override { return inner_->columns(); }
  void close() override { inner_->close(); }

 private:
  RehearsalSession& owner_;
  std::unique_ptr<Cursor> inner_;
};

long RehearsalSession::mirror() {
  noteStatement(inner_.lastStatementText());
  setRows(inner_.SQLNRows());
  return setResult(inner_.lastResult());
}

long RehearsalSession::connect() {
  // The rehearsal runs on a connection made beforehand; connecting again
  // would end its transaction.
  return setResult(inner_.connected() ? SqlResult::ok()
                                      : SqlResult::error("The rehearsal has no connection."));
}

void RehearsalSession::disconnect() {
  // Closing a rehearsal keeps nothing: what a disconnect would commit is
  // rolled back instead.
  finish();
}

long RehearsalSession::execute(std::string_view sql) {
  countStatement();
  inner_.execute(sql);
  return mirror();
}

long RehearsalSession::commit() {
  inner_.execute(kSaveSql);
  if (inner_.SQLCode() >= 0) {
    ++savepoints_;
  }
  noteStatement(inner_.lastStatementText());
  setRows(0);
  return setResult(inner_.SQLCode() < 0 ? inner_.lastResult() : SqlResult::ok());
}

long RehearsalSession::rollback() {
  // After the engine ended the transaction its savepoints are gone too:
  // what remains is undone as a whole, and the rehearsal starts again from
  // the state before it.
  if (savepoints_ == 0 || inner_.transactionEnded()) {
    savepoints_ = 0;
    inner_.rollback();
  } else {
    inner_.execute(kReturnSql);
  }
  noteStatement(inner_.lastStatementText());
  setRows(0);
  return setResult(inner_.SQLCode() < 0 ? inner_.lastResult() : SqlResult::ok());
}

long RehearsalSession::finish() {
  inner_.rollback();
  savepoints_ = 0;
  setRows(0);
  return setResult(inner_.lastResult());
}

std::unique_ptr<Statement> RehearsalSession::prepare(std::string_view sql) {
  auto inner = inner_.prepare(sql);
  mirror();
  return std::make_unique<Forwarded>(*this, std::move(inner));
}

std::unique_ptr<Cursor> RehearsalSession::openCursor(std::string_view sql,
                                                     const std::vector<Value>& inputs) {
  auto inner = inner_.openCursor(sql, inputs);
  mirror();
  return std::make_unique<ForwardedCursor>(*this, std::move(inner));
}

}  // namespace cvt
