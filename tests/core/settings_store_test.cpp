#include "app/settings_store.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/connection.h"

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

TEST(SettingsStore, AFileThatCannotBeReadIsEmptyAndSaysWhy) {
  const std::string folder = std::filesystem::temp_directory_path().string();
  struct Case {
    std::string path;
    std::string problem;
  };
  // Files that never end or would not fit in memory are refused unread.
  const std::string big = folder + "/settings-big-" + std::to_string(getpid()) + ".ini";
  std::ofstream(big) << "DBMS=SQLite\n" << std::string(kMaxSettingsFileBytes, ';');
  std::vector<Case> cases = {
      {"/nonexistent/dir/8.0.ini", "the settings file /nonexistent/dir/8.0.ini does not exist"},
      {folder, "the settings file " + folder + " could not be read: Is a directory"},
      {big, "the settings file " + big + " could not be read: it is larger than 1 MB"},
  };
  const std::string fifo = folder + "/settings-fifo-" + std::to_string(getpid());
  if (mkfifo(fifo.c_str(), 0600) == 0) {
    cases.push_back(
        {fifo, "the settings file " + fifo + " could not be read: it is not a regular file"});
  }
  if (std::filesystem::exists("/dev/zero")) {
    cases.push_back(
        {"/dev/zero", "the settings file /dev/zero could not be read: it is not a regular file"});
  }
  for (const Case& c : cases) {
    const auto store = SettingsStore::fromFile(c.path);
    EXPECT_EQ(store.problem(), c.problem);
    for (const char* name : kSettingsValueNames) {
      EXPECT_EQ(store.value(name), std::nullopt) << name;
    }
    // The connect that follows names it after its own text.
    auto SQLCA = makeSession(readOpenDefaults(store).settings.DBMS, store.problem());
    EXPECT_LT(SQLCA->connect(), 0);
    EXPECT_EQ(SQLCA->SQLErrText(),
              "No database interface (DBMS) is configured: " + c.problem + ".");
  }
  std::filesystem::remove(big);
  std::filesystem::remove(fifo);
}

// Points the variable at a file for the life of the object.
class SettingsFile {
 public:
  explicit SettingsFile(const std::string& text)
      : path_(std::filesystem::temp_directory_path() /
              ("settings-" + std::to_string(getpid()) + ".ini")) {
    std::ofstream(path_) << text;
    setenv(kSettingsFileVariable, path_.c_str(), 1);
  }
  ~SettingsFile() {
    unsetenv(kSettingsFileVariable);
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

TEST(OpenDefaults, FillTheSessionAndFieldsFromTheStore) {
  SettingsStore store;
  store.set("DBMS", "ODBC");
  store.set("Database", "other");
  store.set("ServerName", "SRV,1500");
  store.set("Dbparm", "Driver=FreeTDS");
  store.set("conn_port", " 2000 ");
  const OpenDefaults d = readOpenDefaults(store);
  EXPECT_EQ(d.settings.DBMS, "ODBC");
  EXPECT_EQ(d.settings.Database, "other");
  EXPECT_EQ(d.settings.DBParm, "Driver=FreeTDS");
  EXPECT_EQ(d.settings.ServerName, "SRV,2000");
  EXPECT_FALSE(d.settings.AutoCommit);
  EXPECT_EQ(d.sle_server, "SRV,2000");
  EXPECT_EQ(d.sle_port, "2000");
  EXPECT_EQ(d.sle_sa, "sa");
}

TEST(OpenDefaults, EmptyStoreGivesEmptyFieldsAndSa) {
  const OpenDefaults d = readOpenDefaults(SettingsStore{});
  EXPECT_EQ(d.settings.DBMS, "");
  EXPECT_EQ(d.settings.ServerName, "");
  EXPECT_EQ(d.sle_server, "");
  EXPECT_EQ(d.sle_port, "");
  EXPECT_EQ(d.sle_sa, "sa");
}

}  // namespace
}  // namespace cvt
