#include "db/session.h"

#include "db/catalog.h"

namespace cvt {

// One row at a time: what every backend can do.
Statement::BatchOutcome Statement::executeBatch(const std::vector<std::vector<Value>>& rows,
                                                OnFailure onFailure, const RowObserver& afterRow) {
  BatchOutcome outcome;
  outcome.codes.reserve(rows.size());
  for (const auto& inputs : rows) {
    const long code = execute(inputs);
    if (afterRow) {
      afterRow(outcome.codes.size(), code);
    }
    outcome.codes.push_back(code);
    if (code != kSqlOk && onFailure == OnFailure::Stop) {
      break;
    }
  }
  return outcome;
}

long Session::setResult(SqlResult result) {
  last_ = std::move(result);
  return last_.code;
}

namespace {

// The catalogue of a session that cannot read its databases' catalogue.
class NoCatalog final : public Catalog {
 public:
  SqlResult databaseExists(const std::string&, bool&) override { return unavailable(); }
  SqlResult describe(const std::string&, const std::string&, TableInfo&) override {
    return unavailable();
  }
  SqlResult triggersOff(const std::vector<std::string>&, std::vector<std::string>&) override {
    return unavailable();
  }
  SqlResult missingRights(const std::vector<TableRight>&, std::vector<TableRight>&) override {
    return unavailable();
  }

 private:
  static SqlResult unavailable() {
    return SqlResult::error("This connection cannot read the database catalogue.");
  }
};

}  // namespace

std::unique_ptr<Catalog> Session::catalog() { return std::make_unique<NoCatalog>(); }

bool Session::interrupted() {
  if (interrupt_ && interrupt_()) {
    setResult(SqlResult::error("Interrupted by the operator before the statement was sent."));
    return true;
  }
  return false;
}

long Session::selectInto(std::string_view sql, const std::vector<Value>& inputs,
                         const std::vector<Value*>& outputs) {
  auto cursor = openCursor(sql, inputs);
  Row row;
  const long code = cursor->fetch(row);
  if (code != kSqlOk) {
    return code;  // 100 leaves the outputs as the caller preset them
  }
  Row extra;
  const long next = cursor->fetch(extra);
  if (next == kSqlOk) {
    return setResult(SqlResult::error("Select returned more than one row"));
  }
  if (next < 0) {
    return next;
  }
  for (std::size_t i = 0; i < outputs.size() && i < row.size(); ++i) {
    if (outputs[i] != nullptr) {
      *outputs[i] = row[i];
    }
  }
  return setResult(SqlResult::ok());
}

}  // namespace cvt
