#include "db/rehearsal_session.h"

namespace cvt {

namespace {

// One name serves every savepoint: a return goes to the latest of them,
// which is the latest commit of the run.
constexpr const char* kSaveSql = "SAVE TRANSACTION convert_rehearsal";
constexpr const char* kReturnSql = "ROLLBACK TRANSACTION convert_rehearsal";

}  // namespace

long RehearsalSession::connect() {
  // The rehearsal runs on a connection made beforehand; connecting again
  // would end its transaction.
  return setResult(inner().connected() ? SqlResult::ok()
                                       : SqlResult::error("The rehearsal has no connection."));
}

void RehearsalSession::disconnect() {
  // Closing a rehearsal keeps nothing: what a disconnect would commit is
  // rolled back instead.
  finish();
}

long RehearsalSession::commit() {
  inner().execute(kSaveSql);
  if (inner().SQLCode() >= 0) {
    ++savepoints_;
  }
  mirror();
  setRows(0);
  return setResult(inner().SQLCode() < 0 ? inner().lastResult() : SqlResult::ok());
}

long RehearsalSession::rollback() {
  // After the engine ended the transaction its savepoints are gone too:
  // what remains is undone as a whole, and the rehearsal starts again from
  // the state before it.
  if (savepoints_ == 0 || inner().transactionEnded()) {
    savepoints_ = 0;
    inner().rollback();
  } else {
    inner().execute(kReturnSql);
  }
  mirror();
  setRows(0);
  return setResult(inner().SQLCode() < 0 ? inner().lastResult() : SqlResult::ok());
}

long RehearsalSession::finish() {
  inner().rollback();
  savepoints_ = 0;
  mirror();
  setRows(0);
  return setResult(inner().lastResult());
}

}  // namespace cvt
