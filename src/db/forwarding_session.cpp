#include "db/forwarding_session.h"

#include <utility>

namespace cvt {

class ForwardingSession::ForwardedStatement final : public Statement {
 public:
  ForwardedStatement(ForwardingSession& owner, std::unique_ptr<Statement> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  long execute(const std::vector<Value>& inputs) override {
    return owner_.executePrepared(*inner_, inputs);
  }
  BatchOutcome executeBatch(const std::vector<std::vector<Value>>& rows, OnFailure onFailure,
                            const RowObserver& afterRow) override {
    if (!owner_.forwardsBatches()) {
      return Statement::executeBatch(rows, onFailure, afterRow);
    }
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
  ForwardingSession& owner_;
  std::unique_ptr<Statement> inner_;
};

class ForwardingSession::ForwardedCursor final : public Cursor {
 public:
  ForwardedCursor(ForwardingSession& owner, std::unique_ptr<Cursor> inner)
      : owner_(owner), inner_(std::move(inner)) {}
  long fetch(Row& row) override { return owner_.fetchForwarded(*inner_, row); }
  const std::vector<std::string>& columns() const override { return inner_->columns(); }
  void close() override { inner_->close(); }

 private:
  ForwardingSession& owner_;
  std::unique_ptr<Cursor> inner_;
};

ForwardingSession::ForwardingSession(Session& inner) : inner_(inner) {
  settings = inner.settings;
  statementsSeen_ = inner.statementsExecuted();
  roundTripsSeen_ = inner.roundTrips();
}

ForwardingSession::ForwardingSession(std::unique_ptr<Session> owned) : ForwardingSession(*owned) {
  owned_ = std::move(owned);
}

long ForwardingSession::mirror() {
  for (; statementsSeen_ < inner_.statementsExecuted(); ++statementsSeen_) {
    countStatement();
  }
  for (; roundTripsSeen_ < inner_.roundTrips(); ++roundTripsSeen_) {
    countRoundTrip();
  }
  noteStatement(inner_.lastStatementText());
  setRows(inner_.SQLNRows());
  return setResult(inner_.lastResult());
}

long ForwardingSession::connect() {
  inner_.connect();
  setTriggersOffAtConnect(inner_.triggersOffAtConnect());
  return mirror();
}

void ForwardingSession::disconnect() {
  inner_.disconnect();
  mirror();
}

long ForwardingSession::execute(std::string_view sql) {
  inner_.execute(sql);
  return mirror();
}

long ForwardingSession::commit() {
  inner_.commit();
  return mirror();
}

long ForwardingSession::rollback() {
  inner_.rollback();
  return mirror();
}

std::unique_ptr<Statement> ForwardingSession::prepare(std::string_view sql) {
  auto statement = forwardStatement(inner_.prepare(sql));
  mirror();
  return statement;
}

std::unique_ptr<Cursor> ForwardingSession::openCursor(std::string_view sql,
                                                      const std::vector<Value>& inputs) {
  auto cursor = forwardCursor(inner_.openCursor(sql, inputs));
  mirror();
  return cursor;
}

long ForwardingSession::executePrepared(Statement& inner, const std::vector<Value>& inputs) {
  inner.execute(inputs);
  return mirror();
}

long ForwardingSession::fetchForwarded(Cursor& inner, Row& row) {
  inner.fetch(row);
  return mirror();
}

std::unique_ptr<Statement> ForwardingSession::forwardStatement(std::unique_ptr<Statement> inner) {
  return std::make_unique<ForwardedStatement>(*this, std::move(inner));
}

std::unique_ptr<Cursor> ForwardingSession::forwardCursor(std::unique_ptr<Cursor> inner) {
  return std::make_unique<ForwardedCursor>(*this, std::move(inner));
}

}  // namespace cvt
