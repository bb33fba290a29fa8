#include "app/settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "app/connection.h"
#include "support/test_platform.h"

namespace cvt {
namespace {

TEST(SettingsStore, AFileThatCannotBeReadIsEmptyAndSaysWhy) {
  const std::string folder = std::filesystem::temp_directory_path().string();
  struct Case {
    std::string path;
    std::string problem;
  };
  // Files that never end or would not fit in memory are refused unread.
  const std::string big = folder + "/settings-big-" + std::to_string(test::processId()) + ".ini";
  std::ofstream(big) << "DBMS=SQLite\n" << std::string(kMaxSettingsFileBytes, ';');
  std::vector<Case> cases = {
      {"/nonexistent/dir/8.0.ini", "the settings file /nonexistent/dir/8.0.ini does not exist"},
      {folder, "the settings file " + folder + " could not be read: Is a directory"},
      {big, "the settings file " + big + " could not be read: it is larger than 1 MB"},
  };
  const std::string fifo = folder + "/settings-fifo-" + std::to_string(test::processId());
  if (test::makeFifo(fifo)) {
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
