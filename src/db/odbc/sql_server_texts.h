#pragma once

// The texts the ODBC session and the catalogue send to SQL Server on their
// own account (not a caller's statements), written once here so that the
// tests can hold them to T-SQL too: no test reaches a real server.

namespace cvt {

// Sent after connecting: a server configured to suppress row counts would
// otherwise hide the "changed no rows" outcome (100).
inline constexpr const char* kRowCountsOnSql = "SET NOCOUNT OFF";

// The names of the tables of the connected database that have a trigger
// switched off, one per row: read by the catalogue and by the session when
// it connects.
inline constexpr const char* kDisabledTriggerTablesSql =
    "select distinct object_name(parent_id) from sys.triggers where is_disabled = 1 and "
    "parent_class = 1";

// After a failure: is the transaction that held the pending work still
// open? SQL Server counts its open transactions, and marks one that can no
// longer commit with XACT_STATE() -1.
inline constexpr const char* kTransactionStateSql = "SELECT @@TRANCOUNT, XACT_STATE()";

}  // namespace cvt
