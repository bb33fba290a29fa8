#include "db/sqlite/tsql_functions.h"

#include <sqlite3.h>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt {

int registerTsqlFunctions(sqlite3* db) { return tsql_impl::registerAll(db); }

}  // namespace cvt
