// The ODBC driver for SQL Server on Windows: the newest of Microsoft's that
// is installed. Every Windows carries the old "SQL Server" driver, so there
// is always one, if only the oldest.

#include "db/odbc/odbc_connection_string.h"

namespace cvt {

std::string defaultOdbcDriver() { return newestSqlServerDriver(installedOdbcDrivers()); }

}  // namespace cvt
