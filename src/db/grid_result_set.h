#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt {

// The presentation string the steps hand to buildGridDefinition.
inline constexpr const char* kGridPresentation = "style(type=grid)";

// Outcome of building a grid definition: the definition text to pass to
// GridResultSet::create, and an error text that is empty on success.
struct GridDefinition {
  std::string syntax;
  std::string error;
};

// Builds the definition of a grid result set from a SELECT text and a
// presentation string. The SELECT is checked through `SQLCA` (opened as a
// cursor to learn its column names; its rows are not read), so a statement
// the engine rejects is reported here, with the engine's text. Only a
// SELECT is accepted: the text is never executed as anything that writes.
// Returns the definition, or an empty definition and a non-empty error.
GridDefinition buildGridDefinition(Session& SQLCA, std::string_view select,
                                   std::string_view presentation);

// A client-side result set: every row of a SELECT held in memory in the
// order the server returned them, each value as text (or NULL), read by row
// number (from 1) and column name. Created from a definition, bound to a
// session, then retrieved. The destructor releases everything, so a step
// that scopes it releases it on every path before its next phase.
class GridResultSet {
 public:
  GridResultSet() = default;
  ~GridResultSet() = default;
  GridResultSet(const GridResultSet&) = delete;
  GridResultSet& operator=(const GridResultSet&) = delete;

  // Takes the definition made by buildGridDefinition. Returns an error text,
  // empty on success; on error the result set stays unusable.
  std::string create(std::string_view syntax);

  // Attaches the result set to the session that retrieve() reads through.
  // REQUIRES: `SQLCA` outlives the result set or the next bind/destroy.
  void bind(Session& SQLCA);

  // Runs the SELECT and holds all its rows, replacing rows held before.
  // Returns the number of rows, or -1 on failure (not created, not bound,
  // or an engine error) with errorText() telling why; no rows are held
  // after a failure.
  long retrieve();

  // Number of rows held (0 before a successful retrieve).
  long rowCount() const { return static_cast<long>(rows_.size()); }

  // The value of column `column` (name compared without regard to case) in
  // row `row`, counted from 1. Returns nullopt for a NULL value, and also
  // for a row outside 1..rowCount() or an unknown column; errorText() then
  // says which.
  Value getString(long row, std::string_view column);

  // Releases the rows, the definition and the binding. Idempotent; the
  // destructor does the same.
  void destroy();

  // The error text of the latest operation that failed, or empty.
  const std::string& errorText() const { return error_; }

 private:
  bool created_ = false;
  Session* session_ = nullptr;
  std::string select_;
  std::vector<std::string> columns_;  // names as defined, in result order
  std::vector<Row> rows_;
  std::string error_;
};

}  // namespace cvt
