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

// The names of the tables of the connected database that have a trigger
// switched off, one per row: read by the catalogue and by the session when
// it connects.
inline constexpr const char* kDisabledTriggerTablesSql =
    "select distinct object_name(parent_id) from sys.triggers where is_disabled = 1 and "
    "parent_class = 1";

}  // namespace cvt
