#include "db/odbc/odbc_connection_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cvt {
namespace {

SessionSettings settingsFor(std::string dbms, std::string dbparm, std::string server,
                            std::string login = "sa", std::string password = "pw") {
  SessionSettings s;
  s.DBMS = std::move(dbms);
  s.DBParm = std::move(dbparm);
  s.ServerName = std::move(server);
  s.LogId = std::move(login);
  s.LogPass = std::move(password);
  s.Database = "tillexv8";
  return s;
}

struct BuildCase {
  const char* name;
  SessionSettings settings;
  std::string expected;
  OdbcDriverKind kind;
  int timeout;
};

TEST(OdbcConnectionString, BuildsFromSettingsAndDbParm) {
  const std::string sqlite_driver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";
  const std::vector<BuildCase> cases = {
      {"host alone, default FreeTDS", settingsFor("MSS Microsoft SQL Server", "", "SRV"),
       "Driver=FreeTDS;Server=SRV;UID=sa;PWD=pw;Database=tillexv8;TDS_Version=7.4;ClientCharset="
       "UTF-8;"
       "MARS_Connection=Yes",
       OdbcDriverKind::FreeTds, kDefaultLoginTimeoutSeconds},
      {"FreeTDS takes the port apart",
       settingsFor("SNC SQL Native Client(OLE DB)", "", " SRV , 2000 "),
       "Driver=FreeTDS;Server=SRV;Port=2000;UID=sa;PWD=pw;Database=tillexv8;"
       "TDS_Version=7.4;ClientCharset=UTF-8;MARS_Connection=Yes",
       OdbcDriverKind::FreeTds, kDefaultLoginTimeoutSeconds},
      {"a suffix that is no port stays with the host", settingsFor("ODBC", "", "SRV,abc,2000"),
       "Driver=FreeTDS;Server={SRV,abc};Port=2000;UID=sa;PWD=pw;Database=tillexv8;"
       "TDS_Version=7.4;ClientCharset=UTF-8;MARS_Connection=Yes",
       OdbcDriverKind::FreeTds, kDefaultLoginTimeoutSeconds},
      {"Microsoft driver keeps host,port; quoted driver name is braced",
       settingsFor("OLE DB", "Driver='ODBC Driver 18 for SQL Server'", "SRV,1500"),
       "Driver={ODBC Driver 18 for SQL Server};Server={SRV,1500};UID=sa;PWD=pw;"
       "Database=tillexv8;MARS_Connection=Yes",
       OdbcDriverKind::Microsoft, kDefaultLoginTimeoutSeconds},
      {"password with separators and braces is braced, } doubled",
       settingsFor("ODBC", "", "SRV", "sa", "a;b}c d"),
       "Driver=FreeTDS;Server=SRV;UID=sa;PWD={a;b}}c d};Database=tillexv8;"
       "TDS_Version=7.4;ClientCharset=UTF-8;MARS_Connection=Yes",
       OdbcDriverKind::FreeTds, kDefaultLoginTimeoutSeconds},
      {"DBParm: driver file, timeout, added and overriding attributes, Provider dropped",
       settingsFor("ODBC",
                   " Driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so ; LoginTimeout = 3 ,"
                   "TDS_Version=7.3, mars_connection=No, Provider='SQLOLEDB'",
                   "SRV,1433"),
       "Driver=/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so;Server=SRV;Port=1433;UID=sa;PWD=pw;"
       "Database=tillexv8;TDS_Version=7.3;ClientCharset=UTF-8;MARS_Connection=No",
       OdbcDriverKind::FreeTds, 3},
      {"quoted values: doubled quote, double quotes, braces",
       settingsFor("ODBC", "App='it''s, mine', WSID=\"a;b\", Encrypt={no}", "SRV"),
       "Driver=FreeTDS;Server=SRV;UID=sa;PWD=pw;Database=tillexv8;TDS_Version=7.4;ClientCharset="
       "UTF-8;"
       "MARS_Connection=Yes;App={it's, mine};WSID={a;b};Encrypt=no",
       OdbcDriverKind::FreeTds, kDefaultLoginTimeoutSeconds},
      {"a DSN replaces the default driver; no login without LogId",
       settingsFor("ODBC", "DSN=tillex", "SRV,1500", "", ""),
       "DSN=tillex;Server={SRV,1500};Database=tillexv8", OdbcDriverKind::Other,
       kDefaultLoginTimeoutSeconds},
      {"SQLite data source: the folder holds the file, no login sent",
       settingsFor("ODBC", "Driver='" + sqlite_driver + "',LoadExt='/b/libtsqlext.so'",
                   "/tmp/dbs,1433"),
       "Driver=" + sqlite_driver +
           ";Database=/tmp/dbs/tillexv8.db;NoCreat=1;"
           "LoadExt=/b/libtsqlext.so",
       OdbcDriverKind::Sqlite, kDefaultLoginTimeoutSeconds},
      {"SQLite data source: the driver takes its values bare, blanks and all",
       settingsFor("ODBC", "Driver='SQLite3 ODBC Driver',LoadExt='/b c/libtsqlext.so'",
                   "/tmp/my dbs"),
       "Driver={SQLite3 ODBC Driver};Database=/tmp/my dbs/tillexv8.db;NoCreat=1;"
       "LoadExt=/b c/libtsqlext.so",
       OdbcDriverKind::Sqlite, kDefaultLoginTimeoutSeconds},
      {"SQLite data source: DBParm names the file",
       settingsFor("ODBC", "Driver=SQLite3;Database=/x/y.db", "ignored"),
       "Driver=SQLite3;Database=/x/y.db;NoCreat=1", OdbcDriverKind::Sqlite,
       kDefaultLoginTimeoutSeconds},
  };
  for (const auto& c : cases) {
    const OdbcConnectRequest request = buildOdbcConnectRequest(c.settings, "FreeTDS");
    EXPECT_TRUE(request.ok()) << c.name << ": " << request.error;
    EXPECT_EQ(request.connectionString, c.expected) << c.name;
    EXPECT_EQ(request.driverKind, c.kind) << c.name;
    EXPECT_EQ(request.loginTimeoutSeconds, c.timeout) << c.name;
  }
}

TEST(OdbcConnectionString, MalformedDbParmFailsWithoutQuotingValues) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Driver", "\"Driver\" is not a key=value pair"},
      {"PWD='secret1", "the value of \"PWD\" has no closing '"},
      {"PWD={secret1", "the value of \"PWD\" has no closing }"},
      {"PWD='secret1'x", "unexpected text after the quoted value of \"PWD\""},
      {"=secret1", "a value has no key"},
      {"LoginTimeout=0", "LoginTimeout must be a whole number of seconds from 1 to 600"},
      {"LoginTimeout=601", "LoginTimeout must be"},
      {"LoginTimeout=3s", "LoginTimeout must be"},
      {"Driver=SQLite3,Database='/x;secret1/y.db'",
       "The SQLite ODBC driver cannot take a ';' in the value of \"Database\""},
  };
  for (const auto& [dbparm, expected] : cases) {
    const OdbcConnectRequest request =
        buildOdbcConnectRequest(settingsFor("ODBC", dbparm, "SRV", "sa", "secret1"), "FreeTDS");
    EXPECT_FALSE(request.ok()) << dbparm;
    EXPECT_NE(request.error.find(expected), std::string::npos) << dbparm << " -> " << request.error;
    EXPECT_EQ(request.error.find("secret1"), std::string::npos) << request.error;
  }
}

TEST(OdbcConnectionString, ClassifiesDrivers) {
  const std::vector<std::pair<std::string, OdbcDriverKind>> cases = {
      {"FreeTDS", OdbcDriverKind::FreeTds},
      {"/usr/lib/x86_64-linux-gnu/odbc/libtdsodbc.so", OdbcDriverKind::FreeTds},
      {"ODBC Driver 18 for SQL Server", OdbcDriverKind::Microsoft},
      {"SQL Server", OdbcDriverKind::Microsoft},
      {"SQL Server Native Client 11.0", OdbcDriverKind::Microsoft},
      {"libmsodbcsql-18.so", OdbcDriverKind::Microsoft},
      {"SQLite3", OdbcDriverKind::Sqlite},
      {"/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so", OdbcDriverKind::Sqlite},
      {"PostgreSQL Unicode", OdbcDriverKind::Other},
  };
  for (const auto& [driver, kind] : cases) {
    EXPECT_EQ(odbcDriverKindOf(driver), kind) << driver;
  }
}

TEST(OdbcConnectionString, TheNewestInstalledSqlServerDriverIsTheDefault) {
  struct Case {
    std::vector<std::string> installed;
    std::string chosen;
  };
  for (const Case& c : {
           Case{{"SQL Server", "ODBC Driver 17 for SQL Server", "SQLite3"},
                "ODBC Driver 17 for SQL Server"},
           Case{{"SQL Server", "odbc driver 18 for sql server", "ODBC Driver 17 for SQL Server"},
                "odbc driver 18 for sql server"},
           Case{{"SQL Server Native Client 11.0", "SQL Server"}, "SQL Server Native Client 11.0"},
           Case{{"Microsoft Access Driver (*.mdb)", "SQL Server"}, "SQL Server"},
           Case{{"FreeTDS", "SQLite3"}, "ODBC Driver 18 for SQL Server"},
           Case{{}, "ODBC Driver 18 for SQL Server"},
       }) {
    EXPECT_EQ(newestSqlServerDriver(c.installed), c.chosen);
  }
}

}  // namespace
}  // namespace cvt
