// convert-batch.exe as the operator runs it on Windows: its settings only
// from the registry key (in the 32-bit view, where the product's installer
// writes it), Chinese in its arguments, its settings and its output.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings_store.h"
#include "platform/paths.h"
#include "support/db_folder.h"
#include "support/test_platform.h"

namespace cvt {
namespace {

namespace fs = std::filesystem;

std::string batchExecutable() {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/convert-batch.exe";
}

int reg(const std::vector<std::string>& args) {
  std::string output;
  return test::runProgram("reg", args, &output);
}

// The first column of the first row of a plain select, or the error.
std::string scalar(const fs::path& file, const char* sql) {
  sqlite3* db = nullptr;
  std::string out;
  if (sqlite3_open_v2(platform::utf8Path(file).c_str(), &db, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    out = sqlite3_errmsg(db);
  } else {
    // The columns name the TSQL collation; byte order is enough here.
    sqlite3_create_collation(
        db, "TSQL", SQLITE_UTF8, nullptr, [](void*, int na, const void* a, int nb, const void* b) {
          const int c = std::memcmp(a, b, static_cast<std::size_t>(std::min(na, nb)));
          return c != 0 ? c : na - nb;
        });
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
      out = sqlite3_errmsg(db);
    } else if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0) != nullptr) {
      out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    }
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return out;
}

TEST(BatchOnWindows, ConvertsWithTheRegistrysSettingsAndChineseIntact) {
  const std::string key(kSettingsKey);
  reg({"delete", key, "/f", "/reg:32"});
  reg({"delete", key, "/f", "/reg:64"});
  test::DbFolder db;
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101', '北区'), ('02', '南区');");
  // The databases move to a folder with a Chinese name, named only by the
  // registry.
  const fs::path folder =
      fs::temp_directory_path() / platform::fsPath("门店数据-" + std::to_string(test::processId()));
  fs::create_directories(folder);
  for (const char* name : {"tillexv8", "dravik_pro", "dravik_std"}) {
    fs::copy_file(platform::fsPath(db.file(name)), folder / (std::string(name) + ".db"),
                  fs::copy_options::overwrite_existing);
  }
  ASSERT_EQ(reg({"add", key, "/v", "DBMS", "/d", "SQLite", "/f", "/reg:32"}), 0);
  ASSERT_EQ(
      reg({"add", key, "/v", "ServerName", "/d", platform::utf8Path(folder), "/f", "/reg:32"}), 0);
  // A stale key in the 64-bit view is not read.
  ASSERT_EQ(reg({"add", key, "/v", "ServerName", "/d", "C:\\nowhere", "/f", "/reg:64"}), 0);
  const fs::path log = folder / platform::fsPath("运行日志.jsonl");

  std::string output;
  const int status = test::runProgram(
      batchExecutable(), {"--categories", "region", "--log", platform::utf8Path(log)}, &output);

  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find("正在导入区域信息"), std::string::npos) << output;
  EXPECT_NE(output.find("数据传输完成!"), std::string::npos) << output;
  EXPECT_EQ(scalar(folder / "tillexv8.db",
                   "SELECT group_concat(code_name, ',') FROM "
                   "(SELECT code_name FROM t_bd_base_code WHERE type_no = 'RG' "
                   "ORDER BY code_id)"),
            "北区,南区");
  EXPECT_TRUE(fs::exists(log)) << "the log named in Chinese";

  // A Chinese argument the command refuses comes back in its message.
  output.clear();
  EXPECT_EQ(test::runProgram(batchExecutable(), {"--categories", "区域"}, &output), 2);
  EXPECT_NE(output.find("unknown category '区域'"), std::string::npos) << output;

  reg({"delete", key, "/f", "/reg:32"});
  reg({"delete", key, "/f", "/reg:64"});
  std::error_code ec;
  fs::remove_all(folder, ec);
}

}  // namespace
}  // namespace cvt
