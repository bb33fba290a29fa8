#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "db/catalog.h"
#include "db/session.h"

namespace cvt {

// A rehearsal of a conversion on the real target: a session that passes
// every statement to `inner` unchanged, but never ends the transaction.
// Each commit becomes a savepoint (SAVE TRANSACTION) and each rollback
// returns to the latest one (ROLLBACK TRANSACTION), or undoes everything
// when no commit came yet, so that every step fails and recovers as in a
// real run; finish() rolls everything back. Results of statements made
// through it (prepared statements and cursors included) are its own.
// REQUIRES: `inner` is connected and outlives this session; nothing else
// uses `inner` while this session is in use.
class RehearsalSession final : public Session {
 public:
  explicit RehearsalSession(Session& inner) : inner_(inner) { settings = inner.settings; }

  // Undoes every change made through this session, savepoints included.
  // Returns the rollback's SQLCode.
  long finish();
  // Savepoints made so far, one per commit.
  int savepoints() const { return savepoints_; }

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

 private:
  class Forwarded;
  class ForwardedCursor;

  // Takes over the inner session's outcome of the operation just made.
  long mirror();

  Session& inner_;
  int savepoints_ = 0;
};

}  // namespace cvt
