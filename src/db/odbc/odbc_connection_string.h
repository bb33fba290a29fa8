#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt {

// How the connection string spells the server and which defaults it gets:
// FreeTDS wants the port as an attribute of its own, the Microsoft drivers
// take "host,port", a SQLite data source is a file and needs no login.
enum class OdbcDriverKind { FreeTds, Microsoft, Sqlite, Other };

// Seconds an unreachable server may take before connecting gives up.
inline constexpr int kDefaultLoginTimeoutSeconds = 10;
inline constexpr int kMaxLoginTimeoutSeconds = 600;

// The driver used when DBParm names none: FreeTDS as registered by the
// Debian package; on Windows the newest installed Microsoft driver (see
// newestSqlServerDriver). One implementation per platform.
std::string defaultOdbcDriver();

// Microsoft's drivers for SQL Server, newest first. Each keeps its own
// encryption default: "ODBC Driver 18" encrypts and checks the server's
// certificate, the older ones encrypt only when asked (Encrypt=yes).
inline constexpr const char* kSqlServerDrivers[] = {"ODBC Driver 18 for SQL Server",
                                                    "ODBC Driver 17 for SQL Server",
                                                    "SQL Server Native Client 11.0", "SQL Server"};

// The first of kSqlServerDrivers among `installed` (names compared without
// regard to case), or the newest one when none is installed, so that the
// connect's error names the driver to install.
std::string newestSqlServerDriver(const std::vector<std::string>& installed);

// The drivers the ODBC driver manager knows (SQLDrivers); empty when it
// cannot be asked.
std::vector<std::string> installedOdbcDrivers();

// Everything the ODBC backend needs to open a connection.
struct OdbcConnectRequest {
  std::string connectionString;  // holds the password: never show it
  OdbcDriverKind driverKind = OdbcDriverKind::Other;
  int loginTimeoutSeconds = kDefaultLoginTimeoutSeconds;
  std::string error;  // non-empty when DBParm could not be understood

  bool ok() const { return error.empty(); }
};

// Builds the ODBC connection string from the session settings.
//
// DBParm is a list of key=value pairs separated by ',' or ';'. A value may be
// quoted with ' or " (the quote doubled inside stands for itself) or braced
// with {} ('}}' inside stands for '}'); keys are compared without regard to
// case. Keys the tool itself uses:
//   Driver=<name or file>   the ODBC driver (default: `default_driver`)
//   DSN=<name>              a configured data source instead of a driver
//   LoginTimeout=<seconds>  1..600, default 10
//   Provider=<...>          ignored: an OLE DB provider means nothing here
// Every other pair is a connection-string attribute that adds to or
// overrides the ones built from the settings (Server, Port, UID, PWD,
// Database, and the driver's defaults: MARS_Connection=Yes for SQL Server
// so that a cursor stays open while other statements run; for FreeTDS also
// TDS_Version=7.4 and ClientCharset=UTF-8; for SQLite NoCreat=1).
//
// ServerName has the form "host" or "host,port". For a SQLite data source
// the settings name no server: Database is the file <ServerName>/<Database>.db
// in the driver's form of paths (platform/driver_paths.h) unless DBParm
// names the file, and no login is sent.
//
// Returns the request; on a malformed DBParm, `error` says what is wrong
// without quoting any value (a value may be a password).
OdbcConnectRequest buildOdbcConnectRequest(const SessionSettings& settings,
                                           std::string_view default_driver = defaultOdbcDriver());

// Classifies a driver by its registered name or file name.
OdbcDriverKind odbcDriverKindOf(std::string_view driver);

}  // namespace cvt
