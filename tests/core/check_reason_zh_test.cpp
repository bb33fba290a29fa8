// The check's findings as the window tells them: one schema change of the
// demo per case, the real check, and every finding it makes told in Chinese
// (a sentence the Chinese telling does not know would come back in English).

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

#include "app/preflight.h"
#include "app/preflight_zh.h"
#include "demo/generator.h"
#include "support/db_folder.h"
#include "support/odbc_sqlite.h"

namespace cvt {
namespace {

// The statements that rebuild `table` of `db` from its CREATE text with
// `from` replaced by `to`, empty: the step's refill replaces its rows.
std::string rebuilt(const test::DbFolder& folder, const std::string& db, const std::string& table,
                    const std::string& from, const std::string& to) {
  const Value create = folder.scalar(
      db, "SELECT sql FROM sqlite_master WHERE type='table' AND name='" + table + "'");
  const std::string changed = std::regex_replace(create.value_or(""), std::regex(from), to);
  EXPECT_NE(changed, create.value_or("")) << from;
  return "DROP TABLE " + table + "; " + changed + ";";
}

bool hasChinese(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
}

TEST(CheckReasonZh, EveryFindingOfTheCheckIsToldInChinese) {
  if (test::odbcBackendRequested()) {
    GTEST_SKIP() << "the catalogue of a SQLite file is not read through ODBC";
  }
  test::DbFolder base;
  DemoOptions options;
  options.folder = base.path();
  options.seed = 5;
  ASSERT_TRUE(generateDemo(options).ok);
  struct Case {
    const char* db;
    std::string sql;  // plain SQLite, or "" with `from` and `to` for a rebuilt table
    const char* table;
    const char* from;
    const char* to;
    const char* category;
    const char* expected;  // part of one finding's Chinese reason
  };
  const Case cases[] = {
      {"tillexv8", "", "t_rm_cashier", R"(cashier_grant varchar\(40\))",
       "cashier_grant varchar(10)", "cashier",
       "t_rm_cashier.cashier_grant 的类型是 varchar(10)，但转换会写入 "},
      {"tillexv8", "", "t_rm_vip_type", R"(memo varchar\(100\))", "memo varchar(100) NOT NULL",
       "vip", "t_rm_vip_type.memo 不允许空值，但转换会在 "},
      {"tillexv8", "", "t_rm_cashier", R"(discount_rate DECIMAL\(8,4\))",
       "discount_rate DECIMAL(8,4), CHECK (cashier_grant <> '00000000000000000')", "cashier",
       "t_rm_cashier 的检查约束 CHECK (cashier_grant <> '00000000000000000') 会拒绝转换写入的 "},
      {"tillexv8",
       "DELETE FROM t_rm_vip_good_flow; CREATE UNIQUE INDEX ux_flag ON t_rm_vip_good_flow "
       "(vgf_flag)",
       "", "", "", "vip",
       "转换会让 t_rm_vip_good_flow 的唯一索引 ux_flag（vgf_flag）出现 2 "
       "个重复的键；例如：'1'（178 行）"},
      {"tillexv8", "CREATE UNIQUE INDEX ux_date ON t_rm_saving_plus_record (oper_date)", "", "", "",
       "vip", "转换会让 t_rm_saving_plus_record 的唯一索引 ux_date（oper_date）出现 1 个重复的键"},
      {"tillexv8", "CREATE TRIGGER tr_cashier AFTER INSERT ON t_rm_cashier BEGIN SELECT 1; END", "",
       "", "", "cashier", "t_rm_cashier 有触发器 tr_cashier，转换不会停用它们"},
      {"tillexv8", "ALTER TABLE t_rm_cashier RENAME COLUMN cashier_grant TO gone", "", "", "",
       "cashier", "目标列 t_rm_cashier.cashier_grant 不存在"},
      {"tillexv8", "ALTER TABLE t_sys_system RENAME TO gone", "", "", "", "vip",
       "目标表 t_sys_system 不存在，会员积分和充值记录将使用门店编号 00"},
      {"tillexv8", "ALTER TABLE t_rm_cashier RENAME TO gone", "", "", "", "cashier",
       "目标表 t_rm_cashier 不存在"},
      {"dravik_pro", "ALTER TABLE pos_t_cashier RENAME TO gone", "", "", "", "cashier",
       "来源表 dravik_pro..pos_t_cashier 不存在"},
      {"dravik_pro", "ALTER TABLE pos_t_cashier RENAME COLUMN cashier_name TO gone", "", "", "",
       "cashier", "来源列 dravik_pro..pos_t_cashier.cashier_name 不存在"},
      {"tillexv8", "DROP INDEX ix_item_info_clsno", "", "", "", "cls",
       "而 t_bd_item_info 的 item_clsno 列没有索引"},
  };
  for (const Case& c : cases) {
    test::DbFolder copy;
    copy.copyFrom(base);
    copy.exec(c.db, c.sql.empty() ? rebuilt(copy, c.db, c.table, c.from, c.to) : c.sql);
    auto session = copy.connect();
    const CheckReport report = checkConversion(*session, "dravik_pro", {c.category});
    session->rollback();
    std::string told;
    for (const auto& f : report.findings) {
      const std::string zh = checkReasonZh(f);
      told += zh + "\n";
      EXPECT_NE(zh, f.text) << "left in English: " << f.text;
      EXPECT_TRUE(hasChinese(zh)) << zh;
    }
    EXPECT_NE(told.find(c.expected), std::string::npos) << c.expected << "\nnot among:\n"
                                                        << told << checkTable(report);
  }
}

}  // namespace
}  // namespace cvt
