// Loadable SQLite extension with the T-SQL functions and the TSQL
// collation, so that a SQLite database reached through an ODBC driver
// understands the same rewritten statements as the embedded session.
// Load it as "libtsqlext" (entry point sqlite3_tsqlext_init, also exported
// under the default name sqlite3_extension_init).

#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1

#include "db/sqlite/ext/tsql_parts.h"

extern "C" {

__attribute__((visibility("default"))) int sqlite3_tsqlext_init(sqlite3* db, char** error,
                                                                const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  const int rc = cvt::tsql_impl::registerAll(db);
  if (rc != SQLITE_OK && error != nullptr) {
    *error = sqlite3_mprintf("cannot register the T-SQL functions (code %d)", rc);
  }
  return rc;
}

__attribute__((visibility("default"))) int sqlite3_extension_init(sqlite3* db, char** error,
                                                                  const sqlite3_api_routines* api) {
  return sqlite3_tsqlext_init(db, error, api);
}

}  // extern "C"
