// The settings store on Windows: the registry key as the product's
// installer writes it, set here by the system's own reg.exe and read back
// through the registry API.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "platform/paths.h"
#include "support/test_platform.h"

namespace cvt {
namespace {

const std::string kKey = std::string(kSettingsKey);

// The two registry views a 64-bit program sees: the 32-bit one
// (WOW6432Node) and its own.
const char* const kViews[] = {"/reg:32", "/reg:64"};

int reg(const std::vector<std::string>& args) {
  std::string output;
  const int code = test::runProgram("reg", args, &output);
  EXPECT_NE(code, -1) << "reg.exe could not be started";
  return code;
}

void deleteKeys() {
  for (const char* view : kViews) {
    reg({"delete", kKey, "/f", view});
  }
}

void addValue(const char* view, const std::string& name, const std::string& data,
              const std::string& type = "REG_SZ") {
  ASSERT_EQ(reg({"add", kKey, "/v", name, "/t", type, "/d", data, "/f", view}), 0) << name;
}

// A .reg file in the form regedit writes: UTF-16 with its byte order mark.
void importFile(const std::string& text, const char* view) {
  const std::filesystem::path file = std::filesystem::path(test::makeTempFolder("reg-")) / "s.reg";
  const std::u16string wide = platform::fsPath(text).u16string();
  std::ofstream out(file, std::ios::binary);
  out.write("\xFF\xFE", 2);
  for (char16_t c : wide) {
    const char pair[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    out.write(pair, 2);
  }
  out.close();
  ASSERT_EQ(reg({"import", platform::utf8Path(file), view}), 0);
  std::filesystem::remove_all(file.parent_path());
}

// One test, so that no other test of the registry runs at the same time.
TEST(RegistrySettings, ThirtyTwoBitViewFirstAndTextsExact) {
  deleteKeys();
  {
    SCOPED_TRACE("no key in either view");
    const SettingsStore store = SettingsStore::open();
    EXPECT_EQ(store.value("DBMS"), std::nullopt);
    EXPECT_EQ(store.problem(), "the registry key " + kKey + " cannot be opened");
  }
  {
    SCOPED_TRACE("the 64-bit view only");
    addValue("/reg:64", "DBMS", "ODBC");
    addValue("/reg:64", "ServerName", "SRV64");
    const SettingsStore store = SettingsStore::open();
    EXPECT_EQ(store.value("DBMS"), "ODBC");
    EXPECT_EQ(store.value("servername"), "SRV64");
    EXPECT_EQ(store.problem(), "");
  }
  {
    SCOPED_TRACE("both views: the 32-bit key wins whole, even without a value");
    addValue("/reg:32", "DBMS", "SQLite");
    addValue("/reg:32", "conn_port", " 2000 ");
    addValue("/reg:32", "Dbparm", "7", "REG_DWORD");
    const SettingsStore store = SettingsStore::open();
    EXPECT_EQ(store.value("DBMS"), "SQLite");
    EXPECT_EQ(store.value("ServerName"), std::nullopt);
    EXPECT_EQ(store.value("conn_port"), " 2000 ");
    EXPECT_EQ(store.value("Dbparm"), std::nullopt);  // not a string value
  }
  {
    SCOPED_TRACE("Chinese text imported in the 32-bit view");
    deleteKeys();
    const std::map<std::string, std::string> values = {
        {"DBMS", "ODBC"},
        {"Database", "天新v8"},
        {"ServerName", "D:\\数据\\门店 1,1500"},
        {"Dbparm", "Driver={SQL Server};APP=转换！"},
        {"conn_port", "２０００"},
    };
    std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[" + kKey + "]\r\n";
    for (const auto& [name, value] : values) {
      std::string escaped;
      for (char c : value) {
        escaped += c == '\\' ? "\\\\" : std::string(1, c);
      }
      text += "\"" + name + "\"=\"" + escaped + "\"\r\n";
    }
    importFile(text, "/reg:32");
    const SettingsStore store = SettingsStore::open();
    for (const auto& [name, value] : values) {
      EXPECT_EQ(store.value(name), value) << name;
    }
  }
  deleteKeys();
}

}  // namespace
}  // namespace cvt
