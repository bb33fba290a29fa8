#pragma once

#include <memory>
#include <string>

#include "db/session.h"
#include "support/db_folder.h"

namespace cvt::test {

// The SQLite3 ODBC driver, named by its file so that no registration in
// odbcinst.ini is needed.
inline constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// The loadable T-SQL extension as the driver loads it: $CONVERT_TSQL_EXT
// when set (under Wine the host's Linux build, since the driver is the
// host's), else this build's $CONVERT_BUILD_DIR/libtsqlext.so (CMake sets
// the variable for ctest), else beside the working directory.
std::string tsqlExtensionPath();

// DBParm that selects the SQLite3 ODBC driver and loads the extension.
std::string odbcSqliteDbParm();

// Session settings that reach `folder` through the ODBC backend, unixODBC
// and the SQLite3 ODBC driver, the way an operator selects a data source:
// DBMS "ODBC", DBParm naming the driver and the extension, ServerName the
// folder, Database tillexv8.
SessionSettings odbcSqliteSettings(const DbFolder& folder);

// A session on `folder` through the ODBC backend, connected (the test fails
// when the connect does).
std::unique_ptr<Session> connectOdbcSqlite(const DbFolder& folder);

// True when the environment asks for tests to reach their databases
// through ODBC: CONVERT_TEST_BACKEND=odbc. DbFolder::connect() then gives
// connectOdbcSqlite(), so a suite written against connect() runs through
// either backend unchanged.
bool odbcBackendRequested();

}  // namespace cvt::test
