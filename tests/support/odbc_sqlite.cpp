#include "support/odbc_sqlite.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace cvt::test {

std::string tsqlExtensionPath() {
  const char* given = std::getenv("CONVERT_TSQL_EXT");
  if (given != nullptr && *given != '\0') {
    return given;
  }
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  const std::filesystem::path base =
      dir != nullptr && *dir != '\0' ? std::filesystem::path(dir) : std::filesystem::current_path();
  return (base / "libtsqlext.so").string();
}

std::string odbcSqliteDbParm() {
  return std::string("Driver='") + kSqliteOdbcDriver + "',LoadExt='" + tsqlExtensionPath() + "'";
}

SessionSettings odbcSqliteSettings(const DbFolder& folder) {
  SessionSettings settings;
  settings.DBMS = "ODBC";
  settings.DBParm = odbcSqliteDbParm();
  settings.ServerName = folder.path();
  settings.Database = "tillexv8";
  settings.LogId = "sa";
  return settings;
}

std::unique_ptr<Session> connectOdbcSqlite(const DbFolder& folder) {
  SessionSettings settings = odbcSqliteSettings(folder);
  auto session = makeSession(settings.DBMS);
  session->settings = std::move(settings);
  if (session->connect() != 0) {
    ADD_FAILURE() << "ODBC connect failed: " << session->SQLErrText();
  }
  return session;
}

bool odbcBackendRequested() {
  const char* backend = std::getenv("CONVERT_TEST_BACKEND");
  return backend != nullptr && std::string_view(backend) == "odbc";
}

}  // namespace cvt::test
