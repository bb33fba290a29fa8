// Full runs of every category on a small fixture, once with a fault at every
// statement (failing alone, and ending the transaction) and once with a
// refused commit at every commit, the close sequence's included. What each
// run must leave is not restated step by step: a clean run, cut at its
// commit points, says it. A failed run leaves the target exactly as the
// clean run's last commit before the fault did; a run that tolerated the
// fault completes with the one completion message.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_driver.h"
#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/failing_session.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::FailingSession;
using test::RecordingRunUi;
using Fault = FailingSession::Fault;

constexpr const char* kCompleted = "数据传输完成!";

// Something of every kind each step handles: weighed items with and
// without a sub-number, an item marked J, a five-character brand, long
// class codes (two under one parent), regions, suppliers and customers,
// cards of the stored-value types with balances, special prices of a
// weighed item, stock in two branches; the target's own rows to keep.
void seed(const DbFolder& db) {
  db.exec("tillexv8", R"SQL(
    INSERT INTO t_bd_branch_info VALUES ('0001', 'head', '0'), ('0002', 'shop', '1'),
                                        ('0003', 'depot', '2');
    INSERT INTO t_sys_system VALUES ('g_branch_no', 'branch', ' 0001 ');
    INSERT INTO t_bd_item_cls(item_clsno, item_clsname) VALUES ('LB', 'kept'), ('77', 'stale');
    INSERT INTO t_bd_base_code(type_no, code_id, code_name) VALUES ('PP', 'PP', 'kept'),
                                                                   ('PP', '0009', 'stale');
    INSERT INTO t_rm_cashier(cashier_id, cashier_name, cashier_pw) VALUES ('9999', 'boss', 'x');
    INSERT INTO t_bd_item_info(item_no, item_name) VALUES ('OLD', 'stale item');
  )SQL");
  for (const char* source : {"dravik_pro", "dravik_std"}) {
    db.exec(source, R"SQL(
      INSERT INTO bi_t_item_info(item_no, item_subno, item_name, item_clsno, item_brand, price,
                                 sup_no, flag2) VALUES
        ('1001', '21', '苹果', '01010201', '10001', 3.5, 'S1', 'Z'),
        ('1002', NULL, '梨', '01010202', 'QS', 2, NULL, 'Z'),
        ('1003', '23', 'tea ''green''', '01020301', '1234', 9.9, 'S123456789', 'J'),
        ('1004', '24', 'rice', '010101', '20002', 12, 'S2', NULL);
      INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag, display_flag) VALUES
        ('01', 'food', '0', '1'), ('0101', 'fruit', '0', '1'), ('010101', 'apples', '0', '1'),
        ('010102', 'pears', '0', '1'), ('01010201', 'long one', '0', '1'),
        ('01010202', 'long two', '0', '1'), ('0102', 'drinks', '0', '1'),
        ('01020301', 'long three', '0', '1'), ('10001', '品牌一', '1', '1'),
        ('20002', 'brand two', '1', '1');
      INSERT INTO bi_t_region_info VALUES ('01', '北区'), ('0101', 'north one');
      INSERT INTO bi_t_supcust_info(supcust_no, supcust_flag, sup_name, region_no) VALUES
        ('S1', 'S', '代销 supplier', '01'), ('S2', 'S', '联营 supplier', '0101'),
        ('C1', 'C', 'customer', '01');
      INSERT INTO pos_t_vip_type VALUES ('01', 'plain', 'A', 1, '', '1001', '2020-01-01'),
                                        ('02', 'stored', 'A', 0.9, '', '1001', '2020-01-01');
      INSERT INTO pos_t_vip_info(card_id, card_type, card_balance, vip_cons_amount,
                                 total_integral, vip_integral, cons_count) VALUES
        ('V1', '01', 5, 0, 100, 30, 1), ('V2', '02', 12.5, 1, 10, 0, 2),
        ('V3', '03', -3, 2, 0, -5, 3), ('V4', '02', 0, 0, 0, 0, 0);
      INSERT INTO pos_t_spec_price(branch_no, item_no, special_type, spe_price, start_date)
        VALUES ('0001', '21', '2', 3, '2020-01-01'), ('0001', '1004', '2', 10, '2020-01-01'),
               ('0001', '1003', '1', 8, '2020-01-01');
      INSERT INTO pos_t_cashier VALUES ('0002', 'anna', 'pw', '1');
      INSERT INTO ic_t_branch_stock VALUES ('00', '1001', -3, 2), ('00', '21', 4, 1),
                                           ('01', '1004', 5, 1);
    )SQL");
  }
}

// Every table of the target but the trigger switches (checked apart), each
// row as text, rows sorted; getdate() stamps of this run read as "now".
// One plain connection reads it all: the sweep takes a thousand of these.
std::string targetState(const DbFolder& db) {
  char today[16];
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(today, sizeof today, "%Y-%m-%d", &local);
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.file("tillexv8").c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) !=
      SQLITE_OK) {
    sqlite3_close(handle);
    ADD_FAILURE() << "cannot read the target";
    return {};
  }
  auto rowsOf = [handle, &today](const std::string& sql) {
    std::vector<std::string> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      ADD_FAILURE() << sqlite3_errmsg(handle) << "\n" << sql;
    }
    while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
      std::string line;
      for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
        if (text == nullptr) {
          line += "NULL|";
        } else if (std::string_view(text).rfind(today, 0) == 0) {
          line += "now|";
        } else {
          line += std::string(text) + "|";
        }
      }
      rows.push_back(std::move(line));
    }
    sqlite3_finalize(stmt);
    return rows;
  };
  std::string state;
  for (const std::string& table :
       rowsOf("SELECT name FROM sqlite_master WHERE type = 'table' AND name <> "
              "'tsql_trigger_off' ORDER BY name")) {
    const std::string name = table.substr(0, table.size() - 1);  // the trailing '|'
    std::vector<std::string> rows = rowsOf("SELECT * FROM \"" + name + "\"");
    std::sort(rows.begin(), rows.end());
    state += "[" + name + "]\n";
    for (const auto& line : rows) {
      state += line + "\n";
    }
  }
  sqlite3_close(handle);
  return state;
}

long long triggersOff(const DbFolder& db) {
  return std::stoll(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off").value_or("-1"));
}

struct Config {
  const char* name;
  bool pro;
  bool weighed;
};

// The clean run, cut at its commit points.
struct CleanRun {
  std::vector<std::string> states;        // [k]: after commit k; [0]: before the run
  std::vector<std::size_t> statementsAt;  // [k]: statements sent before commit k
  std::size_t firstStepStart = 0;         // statements sent before the first step
  std::vector<std::size_t> stepEnds;      // statements sent when each step ended
  std::vector<std::string> stepNames;     // the category of each step
  std::size_t statements = 0;
  std::size_t commits = 0;  // the close sequence's included
};

class FaultSweep : public ::testing::TestWithParam<Config> {
 protected:
  // Only the target is ever written: the sources are read, never changed.
  void SetUp() override {
    seed(db_);
    std::filesystem::copy_file(db_.file("tillexv8"), db_.file("tillexv8") + ".seeded");
  }

  void restore() {
    std::filesystem::copy_file(db_.file("tillexv8") + ".seeded", db_.file("tillexv8"),
                               std::filesystem::copy_options::overwrite_existing);
  }

  RunChoice choice() const {
    RunChoice c;
    c.rb_1 = GetParam().pro;
    c.ticked.fill(true);
    c.cbx_subno_to_no = GetParam().weighed;
    return c;
  }

  // One run with `fault` set up on the session; the close sequence runs
  // through the same session, as the window's and the batch command's do.
  struct Faulty {
    RunReport report;
    CloseOutcome closed;
    std::vector<std::string> messages;
    bool faulted = false;
  };
  template <typename Arm>
  Faulty run(Arm arm) {
    restore();
    FailingSession SQLCA(db_.connect());
    arm(SQLCA);
    RecordingRunUi ui;
    Faulty out;
    out.report = runConversion(SQLCA, ui, choice());
    out.closed = closeSession(SQLCA);
    out.messages = ui.texts();
    out.faulted = SQLCA.faulted();
    return out;
  }

  DbFolder db_;
};

// The step that sent statement `n` of the clean run: the first step whose
// recorded end is not before it.
std::string stepAt(const CleanRun& clean, std::size_t n) {
  if (n <= clean.firstStepStart) {
    return "(driver)";
  }
  for (std::size_t i = 0; i < clean.stepEnds.size(); ++i) {
    if (n <= clean.stepEnds[i]) {
      return clean.stepNames[i];
    }
  }
  return "(driver)";
}

// The last commit of the clean run made before statement `n` was sent.
std::size_t lastCommitBefore(const CleanRun& clean, std::size_t n) {
  std::size_t k = 0;
  while (k + 1 < clean.statementsAt.size() && clean.statementsAt[k + 1] < n) {
    ++k;
  }
  return k;
}

// A RunUi that also notes how many statements had been sent when each step
// ended, to tell which step sent a statement.
class StepEndUi final : public RunUi {
 public:
  StepEndUi(RecordingRunUi& inner, FailingSession& session) : inner_(inner), session_(session) {}
  void wf_set_bar(float v, const std::string& t) override { inner_.wf_set_bar(v, t); }
  void wf_set_bar(int v) override { inner_.wf_set_bar(v); }
  // The pointer turns busy once the triggers are switched off, just before
  // the first step.
  void setBusy(bool b) override {
    if (b) {
      firstStepStart = session_.statements();
    }
    inner_.setBusy(b);
  }
  void messageBox(const std::string& t, const std::string& x) override { inner_.messageBox(t, x); }
  void messageBoxWithDetails(const std::string& t, const std::string& x,
                             const std::string& d) override {
    inner_.messageBoxWithDetails(t, x, d);
  }
  void stepFinished(const std::string& category, bool ok, long long rows, double s) override {
    ends.push_back(session_.statements());
    names.push_back(category);
    inner_.stepFinished(category, ok, rows, s);
  }
  std::size_t firstStepStart = 0;
  std::vector<std::size_t> ends;
  std::vector<std::string> names;

 private:
  RecordingRunUi& inner_;
  FailingSession& session_;
};

TEST_P(FaultSweep, EveryStatementAndCommitLeavesWhatTheCommitPointsPromise) {
  // The clean run, with its cuts.
  CleanRun clean;
  {
    restore();
    FailingSession SQLCA(db_.connect());
    clean.states.push_back(targetState(db_));
    clean.statementsAt.push_back(0);
    SQLCA.afterCommit = [&](std::size_t) {
      clean.states.push_back(targetState(db_));
      clean.statementsAt.push_back(SQLCA.statements());
    };
    RecordingRunUi recorded;
    StepEndUi ui(recorded, SQLCA);
    const RunReport report = runConversion(SQLCA, ui, choice());
    clean.statements = SQLCA.statements();
    const CloseOutcome closed = closeSession(SQLCA);
    clean.commits = SQLCA.commits();
    clean.firstStepStart = ui.firstStepStart;
    clean.stepEnds = ui.ends;
    clean.stepNames = ui.names;
    ASSERT_EQ(report.outcome, RunOutcome::Completed);
    ASSERT_FALSE(report.branchPriceFailed);
    ASSERT_FALSE(closed.failed);
    ASSERT_EQ(recorded.texts(), std::vector<std::string>{kCompleted});
    ASSERT_EQ(report.steps.size(), 9U);
    ASSERT_EQ(triggersOff(db_), 0);
  }
  const std::string finalState = targetState(db_);
  ASSERT_EQ(clean.states.back(), finalState);  // the close commits only the switches

  std::size_t tried = 0;
  std::size_t asPromised = 0;
  std::size_t tolerated = 0;
  std::map<std::string, std::size_t> failedSteps;

  for (std::size_t n = 1; n <= clean.statements; ++n) {
    for (const Fault kind : {Fault::Alone, Fault::EndsTransaction}) {
      const std::string where =
          "statement " + std::to_string(n) +
          (kind == Fault::Alone ? " failing alone" : " ending the transaction") + " in " +
          stepAt(clean, n);
      SCOPED_TRACE(where);
      const Faulty got = run([&](FailingSession& s) { s.failStatement(n, kind); });
      ++tried;
      ASSERT_TRUE(got.faulted);
      EXPECT_FALSE(got.closed.failed);
      EXPECT_EQ(triggersOff(db_), 0) << "the close sequence switches every trigger on";
      if (got.report.outcome == RunOutcome::StepFailed) {
        // One message, the failing step's, and the target as of the last
        // commit before the fault.
        const std::string step = stepAt(clean, n);
        ASSERT_FALSE(got.report.steps.empty());
        EXPECT_EQ(got.report.steps.back().category, step);
        ASSERT_EQ(got.messages.size(), 1U);
        EXPECT_NE(got.messages.front().find("失败"), std::string::npos) << got.messages.front();
        const std::string expected = clean.states[lastCommitBefore(clean, n)];
        const bool promised = targetState(db_) == expected;
        EXPECT_TRUE(promised) << "not as of commit " << lastCommitBefore(clean, n);
        asPromised += promised ? 1 : 0;
        ++failedSteps[step];
        continue;
      }
      // Tolerated: the run completes, with the completion message last and
      // at most the branch-price fill's own message before it.
      ASSERT_EQ(got.report.outcome, RunOutcome::Completed);
      ASSERT_FALSE(got.messages.empty());
      EXPECT_EQ(got.messages.back(), kCompleted);
      // A failure shown on the way (the branch-price fill, the classes'
      // fix-up) adds its one message.
      EXPECT_LE(got.messages.size(), got.report.failureShown ? 2U : 1U);
      // A transaction the engine ended is never carried on as if it were
      // still there: past the first step, such a fault fails its step.
      if (kind == Fault::EndsTransaction && stepAt(clean, n) != "(driver)") {
        ADD_FAILURE() << "an ended transaction was tolerated";
      }
      ++tolerated;
      asPromised += 1;
    }
  }

  for (std::size_t k = 1; k <= clean.commits; ++k) {
    SCOPED_TRACE("commit " + std::to_string(k) + " of " + std::to_string(clean.commits));
    const Faulty got = run([&](FailingSession& s) { s.failCommit(k); });
    ++tried;
    ASSERT_TRUE(got.faulted);
    const std::string expected = clean.states[k - 1];
    if (k == clean.commits) {
      // The close sequence's commit: the run completed, the close says the
      // triggers may be off, and they are; the next connect notices them
      // and its close switches them on.
      EXPECT_EQ(got.report.outcome, RunOutcome::Completed);
      EXPECT_TRUE(got.closed.failed);
      EXPECT_NE(got.closed.message.find("触发器"), std::string::npos);
      EXPECT_EQ(targetState(db_), expected);
      EXPECT_EQ(triggersOff(db_), 8);
      auto again = db_.connect();
      EXPECT_EQ(triggersLeftOff(*again).size(), 8U);
      EXPECT_FALSE(closeSession(*again).failed);
      EXPECT_EQ(triggersOff(db_), 0);
      ++asPromised;
      continue;
    }
    EXPECT_FALSE(got.closed.failed);
    EXPECT_EQ(triggersOff(db_), 0);
    const bool promised = targetState(db_) == expected;
    EXPECT_TRUE(promised) << "not as of commit " << k - 1;
    if (k + 1 == clean.commits) {
      // The driver's commit after the branch-price fill.
      EXPECT_EQ(got.report.outcome, RunOutcome::Completed);
      EXPECT_TRUE(got.report.branchPriceFailed);
      ASSERT_EQ(got.messages.size(), 2U);
      EXPECT_EQ(got.messages.front().rfind("生成分店价格信息失败！", 0), 0U);
    } else {
      EXPECT_EQ(got.report.outcome, RunOutcome::StepFailed);
      ASSERT_EQ(got.messages.size(), 1U);
      EXPECT_NE(got.messages.front().find("失败"), std::string::npos);
      ASSERT_FALSE(got.report.steps.empty());
      EXPECT_EQ(got.report.steps.back().category, stepAt(clean, clean.statementsAt[k]));
    }
    asPromised += promised ? 1 : 0;
  }

  std::string byStep;
  for (const auto& [step, count] : failedSteps) {
    byStep += " " + step + "=" + std::to_string(count);
  }
  std::printf(
      "[ sweep    ] %s: %zu statements, %zu commits; %zu faults tried, %zu as promised "
      "(%zu tolerated with the run completed); step failures:%s\n",
      GetParam().name, clean.statements, clean.commits, tried, asPromised, tolerated,
      byStep.c_str());
  EXPECT_EQ(asPromised, tried);
}

INSTANTIATE_TEST_SUITE_P(AllCategories, FaultSweep,
                         ::testing::Values(Config{"dravik_pro", true, false},
                                           Config{"dravik_pro_weighed", true, true},
                                           Config{"dravik_std", false, false}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace cvt
