#pragma once

#include <memory>

#include "db/catalog.h"
#include "db/session.h"

namespace cvt {

// The catalogue of a SQL Server database read with T-SQL through `session`
// (INFORMATION_SCHEMA for columns and keys, sys.triggers for switched-off
// triggers, HAS_PERMS_BY_NAME for rights).
// REQUIRES: `session` is connected to SQL Server and outlives the catalogue.
std::unique_ptr<Catalog> makeTsqlCatalog(Session& session);

}  // namespace cvt
