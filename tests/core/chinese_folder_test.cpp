// A folder of databases with a Chinese name and a blank in it. Through ODBC
// the driver opens the files itself, so the paths it is given and reports
// cross platform::driverFilePath and localFilePath: under Wine a Windows
// path must reach the host's driver as the Unix path of the same file.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/db_folder.h"

namespace cvt {
namespace {

TEST(FolderNamedInChinese, StatementsReachEveryDatabaseOfIt) {
  const test::DbFolder db("数据 目录-");
  db.exec("dravik_pro", "CREATE TABLE probe (name varchar(20)); INSERT INTO probe VALUES ('区域')");
  auto SQLCA = db.connect();
  ASSERT_TRUE(SQLCA->connected());
  // The source database is reached as the target's neighbour file.
  ASSERT_EQ(SQLCA->execute("INSERT INTO t_bd_base_code (type_no, code_id, code_name) "
                           "SELECT 'RG', '01', name FROM dravik_pro..probe"),
            0)
      << SQLCA->SQLErrText();
  ASSERT_EQ(SQLCA->commit(), 0) << SQLCA->SQLErrText();
  SQLCA->disconnect();
  EXPECT_EQ(db.scalar("tillexv8", "SELECT code_name FROM t_bd_base_code WHERE type_no = 'RG'"),
            Value("区域"));
}

}  // namespace
}  // namespace cvt
