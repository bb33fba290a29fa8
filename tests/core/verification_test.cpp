#include "app/verification.h"

#include <gtest/gtest.h>

#include <string>

#include "app/run_driver.h"
#include "demo/generator.h"
#include "support/db_folder.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

RunChoice everything(bool pro, bool subnoToNo) {
  RunChoice choice;
  choice.rb_1 = pro;
  choice.ticked.fill(true);
  choice.cbx_subno_to_no = subnoToNo;
  return choice;
}

void generate(const test::DbFolder& folder) {
  DemoOptions options;
  options.folder = folder.path();
  options.scale = 1;
  options.seed = 3;
  const DemoResult result = generateDemo(options);
  ASSERT_TRUE(result.ok) << result.error;
}

// The demo data holds every kind of row the rules leave out or spare:
// classes that are brands, special prices of other types, stock of other
// branches and of unknown items, the spared brand, cashier and supplier.
TEST(RunVerification, FullDemoRunsVerifyEveryCategory) {
  struct Case {
    bool pro;
    bool subnoToNo;
  };
  for (const Case c : {Case{true, false}, Case{true, true}, Case{false, false}}) {
    SCOPED_TRACE(std::string(c.pro ? "dravik_pro" : "dravik_std") +
                 (c.subnoToNo ? " weighed" : ""));
    test::DbFolder folder;
    generate(folder);
    auto SQLCA = folder.connect();
    test::RecordingRunUi ui;
    const RunReport report = runConversion(*SQLCA, ui, everything(c.pro, c.subnoToNo));
    ASSERT_EQ(report.outcome, RunOutcome::Completed);
    ASSERT_EQ(report.verification.size(), 9U);
    for (const auto& v : report.verification) {
      EXPECT_TRUE(v.ok) << v.category << ": " << v.note;
      EXPECT_GT(v.source, 0) << v.category;
    }
    EXPECT_FALSE(report.verificationFlagged());
    // Rows left out by the rules, and rows the clearing spared, are both
    // part of the explanation.
    for (const auto& v : report.verification) {
      if (v.category == "spec_price" || v.category == "stock") {
        EXPECT_LT(v.explained, 0) << v.category;
      }
      if (v.category == "cashier") {
        EXPECT_EQ(v.explained, 1);
      }
    }
    EXPECT_NE(ui.details.find("verify"), std::string::npos) << ui.details;
  }
}

// A target trigger that throws a row away behind the conversion's back: the
// step and the run succeed, the count does not add up.
TEST(RunVerification, RowLostByATargetTriggerIsFlagged) {
  test::DbFolder folder;
  generate(folder);
  folder.exec("tillexv8", R"SQL(
    CREATE TRIGGER lose_one_cashier AFTER INSERT ON t_rm_cashier
    WHEN NEW.cashier_id = '0002'
    BEGIN DELETE FROM t_rm_cashier WHERE cashier_id = NEW.cashier_id; END;
  )SQL");
  auto SQLCA = folder.connect();
  test::RecordingRunUi ui;
  RunChoice choice;
  choice.rb_1 = true;
  choice.ticked[3] = true;  // regions
  choice.ticked[7] = true;  // cashiers
  const RunReport report = runConversion(*SQLCA, ui, choice);
  ASSERT_EQ(report.outcome, RunOutcome::Completed);
  ASSERT_EQ(report.verification.size(), 2U);
  EXPECT_TRUE(report.verification[0].ok);
  EXPECT_EQ(report.verification[1].category, "cashier");
  EXPECT_FALSE(report.verification[1].ok);
  EXPECT_EQ(report.verification[1].target + 1,
            report.verification[1].source + report.verification[1].explained);
  EXPECT_TRUE(report.verificationFlagged());
  EXPECT_NE(runSummary(report).find("FLAGGED"), std::string::npos);
}

// A category whose counts cannot be read is flagged, not passed.
TEST(RunVerification, UncountableCategoryIsFlagged) {
  test::DbFolder folder;
  generate(folder);
  auto SQLCA = folder.connect();
  RunVerification verification;
  verification.baseline(*SQLCA, "no_such_source", {"region"});
  const auto rows = verification.verify(*SQLCA);
  ASSERT_EQ(rows.size(), 1U);
  EXPECT_FALSE(rows[0].ok);
  EXPECT_FALSE(rows[0].note.empty());
}

}  // namespace
}  // namespace cvt
