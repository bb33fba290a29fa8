#pragma once

#include "db/forwarding_session.h"

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
class RehearsalSession final : public ForwardingSession {
 public:
  explicit RehearsalSession(Session& inner) : ForwardingSession(inner) {}

  // Undoes every change made through this session, savepoints included.
  // Returns the rollback's SQLCode.
  long finish();
  // Savepoints made so far, one per commit.
  int savepoints() const { return savepoints_; }

  long connect() override;
  void disconnect() override;
  long commit() override;
  long rollback() override;

 private:
  int savepoints_ = 0;
};

}  // namespace cvt
