// The settings store's INI file, which stands for the registry key where
// there is no registry.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/settings_store.h"
#include "support/test_platform.h"

namespace cvt {
namespace {

TEST(SettingsStore, ReadsValuesOfTheKeyCaseInsensitively) {
  const auto store = SettingsStore::fromIniText(
      "\xEF\xBB\xBF; installation settings\r\n"
      "DBMS = SQLite\r\n"
      "[Other]\r\n"
      "Database=wrong\r\n"
      "ServerName=wrong\r\n"
      "[hkey_local_machine\\software\\vantor\\tillex\\8.0]\r\n"
      "  # comment\r\n"
      "database=tillexv8\r\n"
      "ServerName = SRV,1500\r\n"
      "Dbparm=Encrypt=no;TrustServerCertificate=yes\r\n"
      "conn_port=\" 2000 \"\r\n"
      "no equals sign here\r\n"
      "Empty=\r\n");
  EXPECT_EQ(store.value("DBMS"), "SQLite");
  EXPECT_EQ(store.value("Database"), "tillexv8");
  EXPECT_EQ(store.value("servername"), "SRV,1500");
  EXPECT_EQ(store.value("Dbparm"), "Encrypt=no;TrustServerCertificate=yes");
  EXPECT_EQ(store.value("conn_port"), " 2000 ");
  EXPECT_EQ(store.value("Empty"), "");
  EXPECT_EQ(store.value("missing"), std::nullopt);
}

TEST(SettingsStore, SemicolonsIndentedNamesAndLongLinesAreKept) {
  const std::string driver = "/opt/drivers/" + std::string(600, 'd') + ".so";
  const auto store = SettingsStore::fromIniText(
      "[HKEY_LOCAL_MACHINE\\Software\\Vantor\\tillex\\8.0]\n"
      "Dbparm=Driver=FreeTDS ; Encrypt=no ;TDS_Version=7.3\n"
      "  ServerName = SRV\n"
      "\tconn_port=2000\n"
      "Database=" +
      driver + "\n");
  EXPECT_EQ(store.value("Dbparm"), "Driver=FreeTDS ; Encrypt=no ;TDS_Version=7.3");
  EXPECT_EQ(store.value("ServerName"), "SRV");
  EXPECT_EQ(store.value("conn_port"), "2000");
  EXPECT_EQ(store.value("Database"), driver);
}

// Points the variable at a file for the life of the object.
class SettingsFile {
 public:
  explicit SettingsFile(const std::string& text)
      : path_(std::filesystem::temp_directory_path() /
              ("settings-" + std::to_string(test::processId()) + ".ini")) {
    std::ofstream(path_) << text;
    test::setEnv(kSettingsFileVariable, path_.string());
  }
  ~SettingsFile() {
    test::unsetEnv(kSettingsFileVariable);
    std::filesystem::remove(path_);
  }
  SettingsFile(const SettingsFile&) = delete;
  SettingsFile& operator=(const SettingsFile&) = delete;

 private:
  std::filesystem::path path_;
};

TEST(SettingsStore, VariablePointsTheMachineStoreAtAFile) {
  const SettingsFile file("DBMS=SQLite\nServerName=/data\n");
  EXPECT_EQ(SettingsStore::open().value("ServerName"), "/data");
  EXPECT_EQ(SettingsStore::open().problem(), "");
  EXPECT_NE(SettingsStore::location().find("settings-"), std::string::npos);
}

}  // namespace
}  // namespace cvt
