#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "demo/generator.h"
#include "support/db_folder.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

// Every row of every table of the three databases, in a stable order.
std::string dump(const test::DbFolder& folder) {
  std::string out;
  for (const char* db : {"tillexv8", "dravik_pro", "dravik_std"}) {
    for (const auto& table :
         folder.query(db, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
      out += std::string(db) + "." + *table[0] + "\n";
      for (const auto& row :
           folder.query(db, "SELECT * FROM \"" + *table[0] + "\" ORDER BY rowid")) {
        for (const auto& v : row) {
          out += v.value_or("<null>") + "|";
        }
        out += "\n";
      }
    }
  }
  return out;
}

DemoResult generate(const test::DbFolder& folder, std::uint64_t seed, long scale = 1) {
  DemoOptions options;
  options.folder = folder.path();
  options.scale = scale;
  options.seed = seed;
  DemoResult result = generateDemo(options);
  EXPECT_TRUE(result.ok) << result.error;
  return result;
}

TEST(DemoGenerator, SameSeedSameDataOtherSeedOtherData) {
  test::DbFolder a;
  test::DbFolder b;
  test::DbFolder c;
  const DemoResult ra = generate(a, 7);
  const DemoResult rb = generate(b, 7);
  generate(c, 8);
  const std::string da = dump(a);
  EXPECT_EQ(da, dump(b));
  EXPECT_NE(da, dump(c));
  EXPECT_EQ(manifestText(ra.manifest), manifestText(rb.manifest));
}

// The data that the conversion's rules are about is there to exercise them.
TEST(DemoGenerator, HoldsTheCasesThatTheStepsTreat) {
  test::DbFolder folder;
  generate(folder, 1);
  struct Case {
    const char* what;
    const char* db;
    const char* countSql;
  };
  const std::vector<Case> cases = {
      {"weighed items", "dravik_pro", "SELECT count(*) FROM bi_t_item_info WHERE flag2='Z'"},
      {"a weighed item without sub-number", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_info WHERE flag2='Z' AND item_subno IS NULL"},
      {"items marked J", "dravik_pro", "SELECT count(*) FROM bi_t_item_info WHERE flag2='J'"},
      {"five-character brand codes", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_cls WHERE item_flag='1' AND length(item_clsno)=5"},
      {"brand codes the rule skips", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_cls WHERE item_flag='1' AND item_clsno IN "
       "('99999','2345','123456')"},
      {"items with five-character brands", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_info WHERE length(item_brand)=5"},
      {"class codes longer than six", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_cls WHERE item_flag='0' AND length(item_clsno)>6"},
      {"items in long classes", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_info WHERE length(item_clsno)>6"},
      {"four-character regions", "dravik_pro",
       "SELECT count(*) FROM bi_t_region_info WHERE length(region_no)=4"},
      {"six-character regions", "dravik_pro",
       "SELECT count(*) FROM bi_t_region_info WHERE length(region_no)=6"},
      {"consignment suppliers", "dravik_pro",
       "SELECT count(*) FROM bi_t_supcust_info WHERE supcust_flag='S' AND sup_name LIKE '%代销%'"},
      {"joint-operation suppliers", "dravik_pro",
       "SELECT count(*) FROM bi_t_supcust_info WHERE supcust_flag='S' AND sup_name LIKE '%联营%'"},
      {"customers", "dravik_pro", "SELECT count(*) FROM bi_t_supcust_info WHERE supcust_flag='C'"},
      {"items of a consignment supplier", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_info i JOIN bi_t_supcust_info s ON s.supcust_no=i.sup_no "
       "WHERE s.sup_name LIKE '%代销%'"},
      {"supplier numbers null or too long", "dravik_pro",
       "SELECT count(*) FROM bi_t_item_info WHERE sup_no IS NULL OR length(sup_no)>8"},
      {"cards of type 01", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE card_type='01'"},
      {"cards of type 02 with a balance", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE card_type='02' AND card_balance>0"},
      {"cards of type 03 with a negative balance", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE card_type='03' AND card_balance<0"},
      {"a card balance of 12.5", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE card_balance=12.5"},
      {"null balances", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE card_balance IS NULL"},
      {"points used and negative", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE vip_integral<0"},
      {"null points", "dravik_pro",
       "SELECT count(*) FROM pos_t_vip_info WHERE total_integral IS NULL OR vip_integral IS NULL"},
      {"special prices of type 2", "dravik_pro",
       "SELECT count(*) FROM pos_t_spec_price WHERE special_type='2'"},
      {"special prices of other types", "dravik_pro",
       "SELECT count(DISTINCT special_type) - 1 FROM pos_t_spec_price"},
      {"special prices naming a weighed item's sub-number", "dravik_pro",
       "SELECT count(*) FROM pos_t_spec_price p JOIN bi_t_item_info i ON i.item_subno=p.item_no "
       "WHERE i.flag2='Z'"},
      {"stock in branch 00", "dravik_pro",
       "SELECT count(*) FROM ic_t_branch_stock WHERE branch_no='00'"},
      {"stock in other branches", "dravik_pro",
       "SELECT count(*) FROM ic_t_branch_stock WHERE branch_no<>'00'"},
      {"negative and null stock", "dravik_pro",
       "SELECT min(count(CASE WHEN stock_qty<0 THEN 1 END), count(*)-count(stock_qty)) "
       "FROM ic_t_branch_stock"},
      {"stock of items the source lacks", "dravik_pro",
       "SELECT count(*) FROM ic_t_branch_stock s WHERE NOT EXISTS "
       "(SELECT 1 FROM bi_t_item_info i WHERE i.item_no=s.item_no)"},
      {"brand QS in the 200-series source", "dravik_std",
       "SELECT count(*) FROM bi_t_item_info WHERE item_brand='QS'"},
      {"the target's cashier 9999", "tillexv8",
       "SELECT count(*) FROM t_rm_cashier WHERE cashier_id='9999'"},
      {"the g_branch_no row", "tillexv8",
       "SELECT count(*) FROM t_sys_system WHERE sys_var_id='g_branch_no'"},
      {"branches of property 0", "tillexv8",
       "SELECT count(*) FROM t_bd_branch_info WHERE property='0'"},
      {"branches of property 1", "tillexv8",
       "SELECT count(*) FROM t_bd_branch_info WHERE property='1'"},
      {"branches of other properties", "tillexv8",
       "SELECT count(*) FROM t_bd_branch_info WHERE property NOT IN ('0','1')"},
      {"spared class LB and brand PP", "tillexv8",
       "SELECT (SELECT count(*) FROM t_bd_item_cls WHERE item_clsno='LB') * "
       "(SELECT count(*) FROM t_bd_base_code WHERE type_no='PP' AND code_id='PP')"},
  };
  for (const auto& c : cases) {
    const Value n = folder.scalar(c.db, c.countSql);
    ASSERT_TRUE(n.has_value()) << c.what;
    EXPECT_GT(std::stoll(*n), 0) << c.what;
  }
  // The source numbers stop short of the target's own cashier.
  EXPECT_EQ(
      folder.scalar("dravik_pro", "SELECT count(*) FROM pos_t_cashier WHERE cashier_id='9999'"),
      "0");
}

TEST(DemoGenerator, ManifestCountsTheSourceAndSurvivesItsText) {
  test::DbFolder folder;
  const DemoResult result = generate(folder, 3, 2);
  for (const auto& t : result.manifest.source) {
    EXPECT_EQ(folder.scalar("dravik_pro", "SELECT count(*) FROM " + t.name), std::to_string(t.rows))
        << t.name;
  }
  EXPECT_EQ(result.manifest.categories.front().name, "item");
  EXPECT_EQ(result.manifest.categories.front().rows, 2000);

  DemoManifest back;
  std::string error;
  ASSERT_TRUE(parseManifest(manifestText(result.manifest), back, error)) << error;
  EXPECT_EQ(manifestText(back), manifestText(result.manifest));

  for (const char* bad : {"", "scale x\nexpected t 1\n", "expected t\n", "expected t -1\n",
                          "expected t 1 extra\n", "unknown t 1\n"}) {
    EXPECT_FALSE(parseManifest(bad, back, error)) << bad;
  }
}

TEST(DemoGenerator, RejectsBadOptionsWithoutTouchingFiles) {
  test::DbFolder folder;
  DemoOptions options;
  options.folder = folder.path();
  options.scale = 0;
  EXPECT_FALSE(generateDemo(options).ok);
  options.scale = 1;
  options.folder = folder.path() + "/missing";
  const DemoResult result = generateDemo(options);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find("missing"), std::string::npos);
  // The folder's own target is still the empty one it was made with.
  EXPECT_EQ(folder.scalar("tillexv8", "SELECT count(*) FROM t_bd_branch_info"), "0");
}

// The manifest is a promise about the conversion: a full run of every
// category from dravik_pro leaves exactly the counted rows, with the
// triggers back on and every suspended table's inserts unlogged.
TEST(DemoGenerator, FullConversionLeavesTheRowsTheManifestExpects) {
  test::DbFolder folder;
  const DemoResult generated = generate(folder, 5);

  auto session = folder.connect();
  test::RecordingRunUi ui;
  RunChoice choice;
  choice.rb_1 = true;
  choice.ticked.fill(true);
  const RunReport report = runConversion(*session, ui, choice);
  closeSession(*session);
  ASSERT_EQ(report.outcome, RunOutcome::Completed);
  EXPECT_FALSE(report.branchPriceFailed);
  EXPECT_EQ(ui.texts().back(), "数据传输完成!");
  for (const auto& c : generated.manifest.categories) {
    bool seen = false;
    for (const auto& s : report.steps) {
      if (s.category == c.name) {
        seen = true;
        EXPECT_TRUE(s.ok) << c.name;
        EXPECT_EQ(s.rows, c.rows) << c.name << ": rows written";
      }
    }
    EXPECT_TRUE(seen) << c.name << " did not run";
  }

  std::vector<CountCheck> checks;
  std::string error;
  ASSERT_TRUE(checkDemo(folder.path(), generated.manifest, checks, error)) << error;
  for (const auto& c : checks) {
    EXPECT_TRUE(c.matches()) << c.table << ": expected " << c.expected << ", found " << c.actual;
  }
}

}  // namespace
}  // namespace cvt
