// The ODBC driver default on Windows, from the driver manager's own list.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "db/odbc/odbc_connection_string.h"

namespace cvt {
namespace {

TEST(OdbcDriversOnWindows, TheDefaultIsTheNewestListedSqlServerDriver) {
  const std::vector<std::string> installed = installedOdbcDrivers();
  // Every Windows carries at least the "SQL Server" driver; under Wine the
  // list is the host's (unixODBC's) own, which holds the SQLite driver.
  ASSERT_FALSE(installed.empty());
  const std::string chosen = defaultOdbcDriver();
  EXPECT_EQ(chosen, newestSqlServerDriver(installed));
  EXPECT_TRUE(std::any_of(std::begin(kSqlServerDrivers), std::end(kSqlServerDrivers),
                          [&](const char* d) { return chosen == d; }))
      << chosen;
  const OdbcConnectRequest request = buildOdbcConnectRequest(SessionSettings{});
  EXPECT_NE(request.connectionString.find("Driver={" + chosen + "}"), std::string::npos)
      << request.connectionString;
}

}  // namespace
}  // namespace cvt
