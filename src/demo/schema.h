#pragma once

#include <string>

namespace cvt {

// DDL of the target database tillexv8 as an embedded (SQLite) database: every
// table that the conversion and the run driver touch, with keys, the
// trigger-switch table and one trigger per switched table that honours it.
// REQUIRES: the T-SQL functions and collation are registered on the
// connection that runs it (registerTsqlFunctions).
const std::string& targetSchemaSql();

// DDL of one source database (dravik_pro or dravik_std; both have the same
// tables). Same requirement.
const std::string& sourceSchemaSql();

}  // namespace cvt
