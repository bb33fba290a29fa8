#pragma once

#include <string>
#include <vector>

#include "app/preflight.h"
#include "db/catalog.h"
#include "db/session.h"

namespace cvt {

// Predicts every write of a run of the `chosen` categories from
// `as_source` (with the weighed items' option `subnoToNo`), without writing:
// each statement that writes rows (refills, repairs, the member cards'
// balances, points and recharge records, the weighed items' swaps, the
// class renumbering, the branch-price fill) is evaluated as a read-only
// query over the target as the earlier statements of the run would leave
// it, and every value it would write is fitted to its column by the
// engine's own rules and held against the column's NULL rule, the primary
// key and every unique index, the CHECK constraints and the foreign keys.
// What it finds, and what it cannot tell, is added to `report`.
// REQUIRES: SQLCA connected; `catalog` is SQLCA's.
void predictWrites(Session& SQLCA, Catalog& catalog, const std::string& as_source,
                   const std::vector<std::string>& chosen, bool subnoToNo, CheckReport& report);

// A value as a finding quotes it: quoted, cut after 40 characters, control
// characters escaped.
std::string shownValue(const Value& value);

}  // namespace cvt
