// The ODBC driver for SQL Server on Linux: FreeTDS, under the name Debian's
// tdsodbc package registers.

#include "db/odbc/odbc_connection_string.h"

namespace cvt {

std::string defaultOdbcDriver() { return "FreeTDS"; }

}  // namespace cvt
