#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

#include "db/forwarding_session.h"
#include "members/balance_cipher.h"
#include "members/decimal_text.h"
#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingStepUi;

// Rows of a previous conversion: each must be gone after a good run and
// back after a rollback that reaches its table.
constexpr const char* kOldTargetRows = R"SQL(
INSERT INTO t_rm_vip_type(type_id, type_name) VALUES ('OLD', '旧类型');
INSERT INTO t_rm_vip_info(card_id, card_type, residual_amt) VALUES ('OLDCARD', '02', 'x');
INSERT INTO t_rm_vip_consume(card_id, branch_no) VALUES ('OLDCARD', '00');
INSERT INTO t_rm_vip_good_flow(vgf_vip_no, vgf_flag) VALUES ('OLDCARD', '3');
INSERT INTO t_rm_saving_plus_record(card_id, plus_count) VALUES ('OLDCARD', 1);
)SQL";

// C01..C06 cover the balance and points cases: stored-value types '02' and
// '03', the plain type '01', zero, negative, null and a ten-thousandth.
constexpr const char* kSourceCards = R"SQL(
INSERT INTO pos_t_vip_type(type_id, type_name, sale_way, discount, memo, oper_id, oper_date)
VALUES ('01', '普通卡', 'A', 1, NULL, '1001', '2020-01-01 00:00:00.000'),
       ('02', '储值卡', 'A', 0.95, '储值', '1001', '2020-01-01 00:00:00.000'),
       ('03', '积分储值卡', 'B', 0.9, NULL, '1001', '2020-01-01 00:00:00.000');
INSERT INTO pos_t_vip_info(card_id, card_type, card_status, vip_name, card_balance,
                           total_integral, vip_integral, vip_cons_amount, cons_count)
VALUES ('C01', '02', '0', '甲', 12.5, 100, 30, 200, 3),
       ('C02', '03', '0', '乙', -3, 0, -5, 0, 0),
       ('C03', '01', '0', '丙', 12.5, 50, 0, 10, 1),
       ('C04', '02', '0', '丁', 0, 0, 0, 0, 0),
       ('C05', '02', '0', '戊', NULL, 0, 0, 0, 0),
       ('C06', '03', '0', '己', 0.0001, 0, 0, 0, 0);
)SQL";

// First column of every row, NULL shown as "<null>".
std::vector<std::string> column(const DbFolder& db, const std::string& sql) {
  std::vector<std::string> out;
  for (const auto& row : db.query("tillexv8", sql)) {
    out.push_back(row.at(0).value_or("<null>"));
  }
  return out;
}

std::string residualOf(const DbFolder& db, const std::string& card) {
  return db
      .scalar("tillexv8", "SELECT residual_amt FROM t_rm_vip_info WHERE card_id='" + card + "'")
      .value_or("<null>");
}

// What the run driver does around a step: roll back after a failure.
bool runLikeDriver(Session& SQLCA, RecordingStepUi& ui, const std::string& source,
                   long idec_count = 30) {
  StepContext ctx{SQLCA, ui, idec_count, false};
  const bool ok = wf_dravik_vip(ctx, source);
  EXPECT_EQ(ctx.idec_count, idec_count) << "the run's total weight belongs to the driver";
  if (!ok) {
    SQLCA.rollback();
  }
  return ok;
}

class VipStep : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    db.exec("tillexv8", kOldTargetRows);
    db.exec(GetParam(), kSourceCards);
    // The other source holds a card that must never be read.
    const std::string other = GetParam() == "dravik_pro" ? "dravik_std" : "dravik_pro";
    db.exec(other,
            "INSERT INTO pos_t_vip_info(card_id, card_type, card_balance) "
            "VALUES ('WRONG', '02', 99)");
    db.exec(other, "INSERT INTO pos_t_vip_type(type_id) VALUES ('WRONG')");
  }

  DbFolder db;
};

TEST_P(VipStep, ConvertsCardsBalancesPointsAndRecharges) {
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  StepContext ctx{*SQLCA, ui, 30, false};
  ASSERT_TRUE(wf_dravik_vip(ctx, GetParam()));
  EXPECT_TRUE(ui.messages.empty());
  // 3 types, 6 cards, 2 flow rows, 6 consume rows, 3 recharge records.
  EXPECT_EQ(ctx.rowsWritten, 20);

  EXPECT_EQ(column(db, "SELECT type_id FROM t_rm_vip_type ORDER BY type_id"),
            (std::vector<std::string>{"01", "02", "03"}));
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT type_name, sale_way, memo, oper_id FROM t_rm_vip_type "
                     "WHERE type_id='02'")
                .at(0),
            (Row{"储值卡", "A", "储值", "1001"}));
  EXPECT_EQ(column(db, "SELECT card_id FROM t_rm_vip_info ORDER BY card_id"),
            (std::vector<std::string>{"C01", "C02", "C03", "C04", "C05", "C06"}));

  // Balance x 10000 as exact text, enciphered; a null balance stores ''.
  const std::map<std::string, std::string> stored = {
      {"C01", "64250-"}, {"C02", of_str_encrypt("-30000")},
      {"C03", "64250-"}, {"C04", of_str_encrypt("0")},
      {"C05", ""},       {"C06", of_str_encrypt("1")},
  };
  for (const auto& [card, residual] : stored) {
    EXPECT_EQ(residualOf(db, card), residual) << card;
  }
  EXPECT_EQ(wf_str_decrypt(residualOf(db, "C02")), "-30000");

  // Points: acc_num - dec_num is the source's remaining points.
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT acc_num, dec_num, use_num, consum_amt, consum_count "
                     "FROM t_rm_vip_info WHERE card_id='C01'")
                .at(0),
            (Row{"100", "70", "999999", "200", "3"}));
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT vgf_vip_no, vgf_flag, vgf_vip_num, vgf_branch_no, vgf_item_no, "
                     "vgf_item_num, vgf_oper, memo, vgf_date IS NOT NULL "
                     "FROM t_rm_vip_good_flow ORDER BY vgf_vip_no"),
            (std::vector<Row>{{"C01", "3", "30", "00", "", "0", "1001", "数据导入", "1"},
                              {"C02", "1", "5", "00", "", "0", "1001", "数据导入", "1"}}));
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT card_id, branch_no, vip_cur_acc_amount, vip_acc_amount, "
                     "vip_minus_total, com_flag FROM t_rm_vip_consume "
                     "WHERE card_id IN ('C01','C03') ORDER BY card_id"),
            (std::vector<Row>{{"C01", "00", "100", "100", "70", "0"},
                              {"C03", "00", "50", "50", "50", "0"}}));
  EXPECT_EQ(column(db, "SELECT card_id FROM t_rm_vip_consume ORDER BY card_id"),
            (std::vector<std::string>{"C01", "C02", "C03", "C04", "C05", "C06"}));

  // Recharge records: stored-value cards with a balance other than 0 only.
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT card_id, plus_count, plus_real_count, old_count, oper_id, branch_no, "
                     "other1, oper_date IS NOT NULL FROM t_rm_saving_plus_record ORDER BY card_id"),
            (std::vector<Row>{{"C01", "12.5", "12.5", "0", "1001", "00", "数据转入", "1"},
                              {"C02", "-3", "-3", "0", "1001", "00", "数据转入", "1"},
                              {"C06", "0.0001", "0.0001", "0", "1001", "00", "数据转入", "1"}}));
}

INSTANTIATE_TEST_SUITE_P(BothSources, VipStep, ::testing::Values("dravik_pro", "dravik_std"));

TEST(VipStepProgress, ShowsEveryStatusAndAdvancesByTheCategoryWeight) {
  DbFolder db;
  db.exec("dravik_pro", kSourceCards);
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  // The whole run weighs 300; this step owns 30 of it, a tenth of the bar.
  ASSERT_TRUE(runLikeDriver(*SQLCA, ui, "dravik_pro", 300));
  EXPECT_EQ(ui.statuses,
            (std::vector<std::string>{"正在删除会员卡类型信息", "正在导入会员卡类型信息",
                                      "正在删除会员卡资料信息", "正在导入会员卡资料信息",
                                      "正在更新会员卡余额信息", "正在删除会员积分明细表信息",
                                      "正在删除会员积分冲减流水表信息", "正在删除会员充值流水信息",
                                      "正在生成会员充值流水信息", ""}));
  const float total = std::accumulate(ui.values.begin(), ui.values.end(), 0.0F);
  EXPECT_NEAR(total, 0.1F, 1e-6F);
  for (const float v : ui.values) {
    EXPECT_GT(v, 0.0F);
  }
  const int track = ui.progress.trackWidth();
  EXPECT_LE(ui.progress.barWidth(), track / 10);
  EXPECT_GE(ui.progress.barWidth(), track / 10 - 10);
}

TEST(VipStepBranch, ComesFromTheSystemTableOrDefaultsTo00) {
  struct Case {
    const char* name;
    const char* setup;  // t_sys_system rows
    std::string expected;
  };
  const Case cases[] = {
      {"no row", "", "00"},
      {"null value",
       "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES ('g_branch_no', NULL)", "00"},
      {"blank value",
       "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES ('g_branch_no', '   ')", "00"},
      {"blanks trimmed",
       "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES ('g_branch_no', ' 07 ')", "07"},
      {"quote inside",
       "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES ('g_branch_no', 'A''1')", "A'1"},
      {"quote and comment",
       "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES ('g_branch_no', ''' --')",
       "' --"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("dravik_pro", kSourceCards);
    db.exec("tillexv8", std::string(c.setup) +
                            ";INSERT INTO t_sys_system(sys_var_id, sys_var_value) "
                            "VALUES ('g_other', 'ZZ')");
    auto SQLCA = db.connect();
    RecordingStepUi ui;
    ASSERT_TRUE(runLikeDriver(*SQLCA, ui, "dravik_pro"));
    const std::vector<std::string> one{c.expected};
    EXPECT_EQ(column(db, "SELECT DISTINCT vgf_branch_no FROM t_rm_vip_good_flow"), one);
    EXPECT_EQ(column(db, "SELECT DISTINCT branch_no FROM t_rm_vip_consume"), one);
    EXPECT_EQ(column(db, "SELECT DISTINCT branch_no FROM t_rm_saving_plus_record"), one);
    EXPECT_EQ(column(db, "SELECT count(*) FROM t_rm_vip_consume"), std::vector<std::string>{"6"});
  }
}

// A stored balance that does not decipher into a number (here rewritten by
// a trigger of the installation) gives no recharge record and no failure.
TEST(VipStepRecharge, SkipsStoredBalancesThatAreNotNumbers) {
  DbFolder db;
  db.exec("dravik_pro", kSourceCards);
  db.exec("tillexv8", R"SQL(
CREATE TRIGGER garble AFTER UPDATE OF residual_amt ON t_rm_vip_info
WHEN NEW.card_id = 'C01'
BEGIN UPDATE t_rm_vip_info SET residual_amt = 'AB?' WHERE card_id = 'C01'; END;
)SQL");
  auto SQLCA = db.connect();
  RecordingStepUi ui;
  ASSERT_TRUE(runLikeDriver(*SQLCA, ui, "dravik_pro"));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(column(db, "SELECT card_id FROM t_rm_saving_plus_record ORDER BY card_id"),
            (std::vector<std::string>{"C02", "C06"}));
}

// A session that passes everything to a real one and can break a chosen
// fetch of the cursor whose text contains a marker. It also records how the
// step uses the session: prepared statements and cursors open at once.
class ProbeSession final : public ForwardingSession {
 public:
  explicit ProbeSession(std::unique_ptr<Session> inner) : ForwardingSession(std::move(inner)) {}

  void breakFetch(std::string marker, int n) {
    breakMarker_ = std::move(marker);
    breakAt_ = n;
  }

  int prepares = 0;
  int openCursors = 0;
  int maxOpenCursors = 0;

  long connect() override { return mirror(); }
  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    ++prepares;
    return ForwardingSession::prepare(sql);
  }
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override {
    ++openCursors;
    maxOpenCursors = std::max(maxOpenCursors, openCursors);
    const bool breaks = !breakMarker_.empty() && sql.find(breakMarker_) != std::string_view::npos;
    return std::make_unique<ProbeCursor>(*this, inner().openCursor(sql, inputs),
                                         breaks ? breakAt_ : 0);
  }

  long broken() { return setResult(SqlResult::error("connection lost during fetch")); }

 private:
  bool forwardsBatches() const override { return false; }

  class ProbeCursor final : public Cursor {
   public:
    ProbeCursor(ProbeSession& s, std::unique_ptr<Cursor> inner, int breakAt)
        : s_(s), inner_(std::move(inner)), breakAt_(breakAt) {}
    ~ProbeCursor() override { close(); }
    long fetch(Row& row) override {
      if (++fetches_ == breakAt_) {
        return s_.broken();
      }
      inner_->fetch(row);
      return s_.mirror();
    }
    const std::vector<std::string>& columns() const override { return inner_->columns(); }
    void close() override {
      inner_->close();
      if (!closed_) {
        closed_ = true;
        --s_.openCursors;
      }
    }

   private:
    ProbeSession& s_;
    std::unique_ptr<Cursor> inner_;
    int breakAt_;
    int fetches_ = 0;
    bool closed_ = false;
  };

  std::string breakMarker_;
  int breakAt_ = 0;
};

TEST(VipStepSession, PreparesOnceAndNeverOpensTwoCursors) {
  DbFolder db;
  db.exec("dravik_pro", kSourceCards);
  ProbeSession SQLCA(db.connect());
  RecordingStepUi ui;
  ASSERT_TRUE(runLikeDriver(SQLCA, ui, "dravik_pro"));
  EXPECT_EQ(SQLCA.prepares, 2);  // the balance update and the recharge insert
  EXPECT_EQ(SQLCA.maxOpenCursors, 1);
  EXPECT_EQ(SQLCA.openCursors, 0);
}

// How far the step's work survives a failure and the driver's rollback.
enum class Kept {
  Nothing,           // every member table exactly as before the step
  BalancesAndPoints  // everything but the recharge records
};

// Every row of every member table, in storage order.
std::vector<std::vector<Row>> memberTables(const DbFolder& db) {
  std::vector<std::vector<Row>> out;
  for (const char* table : {"t_rm_vip_type", "t_rm_vip_info", "t_rm_vip_consume",
                            "t_rm_vip_good_flow", "t_rm_saving_plus_record"}) {
    out.push_back(db.query("tillexv8", std::string("SELECT * FROM ") + table + " ORDER BY rowid"));
  }
  return out;
}

TEST(VipStepFailure, LeavesWhatTheCommitPointsPromise) {
  struct Case {
    const char* name;
    std::string targetSql;    // a trigger that refuses the statement
    std::string sourceSql;    // extra source rows
    std::string breakCursor;  // marker of a cursor whose fetch breaks
    int breakAt;
    std::string branch;         // g_branch_no as a literal's body, "" for none
    std::string messagePrefix;  // the message text starts with it
    std::string messageSuffix;  // ... and ends with it
    std::string messageInside;  // ... and contains it
    Kept kept;
    std::string detailsInside = {};  // the details under the message contain it
  };
  const auto refuse = [](const std::string& when, const std::string& table,
                         const std::string& condition = "1") {
    return "CREATE TRIGGER refuse BEFORE " + when + " ON " + table + " WHEN " + condition +
           " BEGIN SELECT RAISE(ABORT, 'refused by the test'); END;";
  };
  const Case cases[] = {
      {"types delete", refuse("DELETE", "t_rm_vip_type"), "", "", 0, "", "删除会员卡类型信息失败！",
       "删除会员卡类型信息失败！", "", Kept::Nothing},
      {"cards import carries the server text",
       refuse("INSERT", "t_rm_vip_info", "NEW.card_id = 'C03'"), "", "", 0, "",
       "导入会员卡资料信息失败！\n原因：", "", "refused by the test", Kept::Nothing,
       "Statement: insert into t_rm_vip_info (card_id,"},
      // From here to the points the failures leave no card of this run
      // behind: none was committed with its balance still plain.
      {"a balance update among many", refuse("UPDATE", "t_rm_vip_info", "NEW.card_id = 'C03'"), "",
       "", 0, "", "更新会员卡余额失败！", "更新会员卡余额失败！", "", Kept::Nothing,
       "refused by the test\nStatement: update t_rm_vip_info set residual_amt = ? where card_id = "
       "?\nCard: C03"},
      {"a balance update that changes no row",
       "CREATE TRIGGER skip BEFORE UPDATE ON t_rm_vip_info WHEN NEW.card_id = 'C04' "
       "BEGIN SELECT RAISE(IGNORE); END;",
       "", "", 0, "", "更新会员卡余额失败！", "更新会员卡余额失败！", "", Kept::Nothing,
       "Card: C04, no row changed"},
      {"a balance that is not a number", "",
       "INSERT INTO pos_t_vip_info(card_id, card_type, card_balance) VALUES ('C07', '02', 'abc')",
       "", 0, "", "更新会员卡余额失败！", "更新会员卡余额失败！", "", Kept::Nothing,
       "Card: C07, balance 'abc' is not a number"},
      {"the balance cursor breaks", "", "", "card_balance", 3, "", "更新会员卡余额失败！",
       "更新会员卡余额失败！", "", Kept::Nothing, "connection lost during fetch"},
      {"points flow insert shows its statement", refuse("INSERT", "t_rm_vip_good_flow"), "", "", 0,
       "0''1", "导入\n\nInsert t_rm_vip_good_flow(", " \n\n 5信息失败！", " Select '0''1',card_id,",
       Kept::Nothing, "refused by the test\nStatement: Insert t_rm_vip_good_flow("},
      {"points detail insert shows its statement", refuse("INSERT", "t_rm_vip_consume"), "", "", 0,
       "", "导入\n\nInsert t_rm_vip_consume (", " \n\n 6信息失败！", "select    card_id,'00' ,",
       Kept::Nothing, "refused by the test\nStatement: Insert t_rm_vip_consume ("},
      {"recharge delete", refuse("DELETE", "t_rm_saving_plus_record"), "", "", 0, "",
       "删除会员充值流水信息失败！", "删除会员充值流水信息失败！", "", Kept::BalancesAndPoints},
      {"one recharge insert among many",
       refuse("INSERT", "t_rm_saving_plus_record", "NEW.card_id = 'C02'"), "", "", 0, "",
       "生成会员充值流水信息失败！", "生成会员充值流水信息失败！", "", Kept::BalancesAndPoints,
       "refused by the test\nStatement: insert into t_rm_saving_plus_record(card_id,"},
      {"the recharge cursor breaks", "", "", "residual_amt from", 2, "",
       "生成会员充值流水信息失败！", "生成会员充值流水信息失败！", "", Kept::BalancesAndPoints},
  };

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DbFolder db;
    db.exec("tillexv8", kOldTargetRows);
    db.exec("dravik_pro", kSourceCards);
    if (!c.sourceSql.empty()) {
      db.exec("dravik_pro", c.sourceSql);
    }
    if (!c.branch.empty()) {
      db.exec("tillexv8",
              "INSERT INTO t_sys_system(sys_var_id, sys_var_value) VALUES "
              "('g_branch_no', '" +
                  c.branch + "')");
    }
    if (!c.targetSql.empty()) {
      db.exec("tillexv8", c.targetSql);
    }
    const auto before = memberTables(db);
    ProbeSession SQLCA(db.connect());
    if (!c.breakCursor.empty()) {
      SQLCA.breakFetch(c.breakCursor, c.breakAt);
    }
    RecordingStepUi ui;
    StepContext ctx{SQLCA, ui, 30, false};
    ASSERT_FALSE(wf_dravik_vip(ctx, "dravik_pro"));
    ASSERT_EQ(ui.messages.size(), 1U);
    EXPECT_EQ(ui.messages[0].first, "提示");
    const std::string& text = ui.messages[0].second;
    EXPECT_EQ(text.rfind(c.messagePrefix, 0), 0U) << text;
    EXPECT_TRUE(
        text.size() >= c.messageSuffix.size() &&
        text.compare(text.size() - c.messageSuffix.size(), std::string::npos, c.messageSuffix) == 0)
        << text;
    EXPECT_NE(text.find(c.messageInside), std::string::npos) << text;
    EXPECT_NE(ui.details[0].find(c.detailsInside), std::string::npos) << ui.details[0];

    if (std::string_view(c.name) == "one recharge insert among many") {
      // Every other card had its turn before the failure was reported.
      auto pending =
          SQLCA.openCursor("select card_id from t_rm_saving_plus_record order by card_id", {});
      std::vector<std::string> cards;
      for (Row row; pending->fetch(row) == kSqlOk;) {
        cards.push_back(row.at(0).value_or(""));
      }
      EXPECT_EQ(cards, (std::vector<std::string>{"C01", "C06"}));
    }
    SQLCA.rollback();  // what the run driver does after a failed step

    const auto types = column(db, "SELECT type_id FROM t_rm_vip_type ORDER BY type_id");
    const auto consume = column(db, "SELECT card_id FROM t_rm_vip_consume ORDER BY card_id");
    const auto flow = column(db, "SELECT vgf_vip_no FROM t_rm_vip_good_flow ORDER BY vgf_vip_no");
    // The recharge records of this run never survive a failure.
    EXPECT_EQ(column(db, "SELECT card_id FROM t_rm_saving_plus_record"),
              std::vector<std::string>{"OLDCARD"});
    switch (c.kept) {
      case Kept::Nothing:
        EXPECT_EQ(types, std::vector<std::string>{"OLD"});
        EXPECT_EQ(column(db, "SELECT card_id FROM t_rm_vip_info"),
                  std::vector<std::string>{"OLDCARD"});
        EXPECT_EQ(memberTables(db), before);
        break;
      case Kept::BalancesAndPoints:
        EXPECT_EQ(types, (std::vector<std::string>{"01", "02", "03"}));
        EXPECT_EQ(residualOf(db, "C01"), "64250-");
        EXPECT_EQ(consume, (std::vector<std::string>{"C01", "C02", "C03", "C04", "C05", "C06"}));
        EXPECT_EQ(flow, (std::vector<std::string>{"C01", "C02"}));
        break;
    }
  }
}

}  // namespace
}  // namespace cvt
