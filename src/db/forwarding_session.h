#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "db/catalog.h"
#include "db/session.h"

namespace cvt {

// A session that passes every operation to another session and takes over
// its outcome: the base of every decorator (the rehearsal, the tests' fault
// injector and recorders). A decorator overrides only what it changes. The
// statements and cursors handed out here forward through the hooks below,
// so that an override sees every execute and fetch made through them.
//
// Statements and round trips are counted as the inner session counts them,
// so that a decorated session's counters tell what reached the engine.
// REQUIRES: the inner session outlives this one (or is owned by it).
class ForwardingSession : public Session {
 public:
  explicit ForwardingSession(Session& inner);
  explicit ForwardingSession(std::unique_ptr<Session> owned);

  // Connects the inner session and takes over what it found at connect.
  long connect() override;
  void disconnect() override;
  bool connected() const override { return inner_.connected(); }
  long execute(std::string_view sql) override;
  long commit() override;
  long rollback() override;
  std::unique_ptr<Statement> prepare(std::string_view sql) override;
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override;
  std::unique_ptr<Catalog> catalog() override { return inner_.catalog(); }

  Session& inner() { return inner_; }

 protected:
  // Takes over the inner session's outcome of the operation just made: its
  // result, rows changed, statement text and counters. Returns SQLCode.
  long mirror();

  // Runs one execute of a statement handed out by prepare().
  virtual long executePrepared(Statement& inner, const std::vector<Value>& inputs);
  // True when a batch goes to the inner statement as a whole (as the inner
  // session sends it, each row's outcome mirrored before the caller's
  // observer sees it); false runs it row by row through executePrepared().
  virtual bool forwardsBatches() const { return true; }
  // Runs one fetch of a cursor handed out by openCursor().
  virtual long fetchForwarded(Cursor& inner, Row& row);

  // Wraps an object of the inner session so that it reports here.
  std::unique_ptr<Statement> forwardStatement(std::unique_ptr<Statement> inner);
  std::unique_ptr<Cursor> forwardCursor(std::unique_ptr<Cursor> inner);

 private:
  class ForwardedStatement;
  class ForwardedCursor;

  std::unique_ptr<Session> owned_;
  Session& inner_;
  std::uint64_t statementsSeen_ = 0;
  std::uint64_t roundTripsSeen_ = 0;
};

}  // namespace cvt
