// The member-card step sends its balance updates and recharge records many
// at once: through the ODBC backend as parameter arrays, on the embedded
// backend as one statement per batch. A failure at one card among
// thousands must end exactly as with the rows sent one per call: the same
// message, and after the driver's rollback the same rows in every member
// table.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "steps/catalog.h"
#include "support/db_folder.h"
#include "support/failing_session.h"
#include "support/odbc_sqlite.h"
#include "support/recording_step_ui.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::RecordingStepUi;

constexpr int kCards = 3000;

// kCards cards K00001.. of types 01 to 03 with balances of every sign.
std::string sourceCards() {
  return "INSERT INTO pos_t_vip_type(type_id, type_name) VALUES ('01','a'),('02','b'),('03','c');"
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
         std::to_string(kCards) +
         ") INSERT INTO pos_t_vip_info(card_id, card_type, card_balance, total_integral, "
         "vip_integral) SELECT printf('K%05d', i), printf('%02d', 1 + i % 3), "
         "(i % 17 - 5) * 1.25, i % 40, i % 7 FROM n;";
}

// Every member table's rows, in a fixed order, without the clock columns.
std::vector<Row> memberRows(const DbFolder& db) {
  std::vector<Row> rows;
  for (const char* sql : {
           "SELECT 'type', type_id, type_name FROM t_rm_vip_type ORDER BY 2",
           "SELECT 'card', card_id, residual_amt, acc_num, dec_num FROM t_rm_vip_info ORDER BY 2",
           "SELECT 'consume', card_id, branch_no, vip_acc_amount FROM t_rm_vip_consume ORDER BY 2",
           "SELECT 'flow', vgf_vip_no, vgf_flag, vgf_vip_num FROM t_rm_vip_good_flow ORDER BY 2",
           "SELECT 'plus', card_id, plus_count, plus_real_count, branch_no FROM "
           "t_rm_saving_plus_record ORDER BY 2",
       }) {
    const auto part = db.query("tillexv8", sql);
    rows.insert(rows.end(), part.begin(), part.end());
  }
  return rows;
}

struct Outcome {
  bool ok = false;
  std::vector<std::pair<std::string, std::string>> messages;
  std::vector<Row> rows;
  std::uint64_t roundTrips = 0;
};

enum class Path { OneRowPerCall, Embedded, Odbc };

// Runs the step as the run driver does (rollback after a failure) on a
// fresh folder with `trigger` in the target.
Outcome convert(Path path, const std::string& trigger) {
  DbFolder db;
  db.exec("tillexv8",
          "INSERT INTO t_rm_vip_info(card_id, card_type, residual_amt) VALUES ('OLD', '02', 'x');"
          "INSERT INTO t_rm_saving_plus_record(card_id, plus_count) VALUES ('OLD', 1);");
  db.exec("dravik_pro", sourceCards());
  if (!trigger.empty()) {
    db.exec("tillexv8", trigger);
  }
  Outcome out;
  {
    std::unique_ptr<Session> SQLCA =
        path == Path::Odbc ? test::connectOdbcSqlite(db) : db.connect();
    if (path == Path::OneRowPerCall) {
      // The wrapper sends each row alone.
      SQLCA = std::make_unique<test::FailingSession>(std::move(SQLCA));
    }
    RecordingStepUi ui;
    StepContext ctx{*SQLCA, ui, 30, false};
    out.ok = wf_dravik_vip(ctx, "dravik_pro");
    if (!out.ok) {
      SQLCA->rollback();
    }
    out.messages = ui.messages;
    out.roundTrips = SQLCA->roundTrips();
    SQLCA->disconnect();
  }
  out.rows = memberRows(db);
  return out;
}

TEST(OdbcVipBatch, AFailureAtOneCardEndsAsRowByRow) {
  const auto at = [](const char* when, const char* table, const char* action) {
    return std::string("CREATE TRIGGER injected BEFORE ") + when + " ON " + table +
           " WHEN NEW.card_id = 'K01777' BEGIN SELECT " + action + "; END;";
  };
  const struct {
    const char* name;
    std::string trigger;
    bool ok;
  } cases[] = {
      {"no failure", "", true},
      {"a balance update fails", at("UPDATE", "t_rm_vip_info", "RAISE(ABORT, 'refused')"), false},
      {"a balance update changes no row", at("UPDATE", "t_rm_vip_info", "RAISE(IGNORE)"), false},
      {"a recharge insert fails",
       at("INSERT", "t_rm_saving_plus_record", "RAISE(ABORT, 'refused')"), false},
      {"a recharge insert writes no row", at("INSERT", "t_rm_saving_plus_record", "RAISE(IGNORE)"),
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome rowByRow = convert(Path::OneRowPerCall, c.trigger);
    EXPECT_EQ(rowByRow.ok, c.ok);
    for (const Path path : {Path::Embedded, Path::Odbc}) {
      SCOPED_TRACE(path == Path::Odbc ? "through ODBC" : "embedded");
      const Outcome batched = convert(path, c.trigger);
      EXPECT_EQ(batched.ok, c.ok);
      EXPECT_EQ(batched.messages, rowByRow.messages);
      EXPECT_EQ(batched.rows, rowByRow.rows);
      if (c.trigger.empty()) {
        // The cards went many at once, not one round trip each.
        EXPECT_LT(batched.roundTrips, static_cast<std::uint64_t>(kCards / 50));
      }
    }
  }
}

}  // namespace
}  // namespace cvt
