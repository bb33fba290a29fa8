// The embedded backend runs the rows of a prepared statement many at once,
// and they end exactly as the same rows run one at a time: the same code
// for each row, told to the observer while the session holds that row's
// result, and the same rows in every table afterwards. Wherever a row
// fails, changes nothing or meets another row of the batch, the batch is
// undone and its rows run again one by one. (Through ODBC the rows go as
// parameter arrays, whose looser outcome the member-card tests cover.)
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/session.h"
#include "support/db_folder.h"
#include "support/failing_session.h"

namespace cvt {
namespace {

using test::DbFolder;
using test::FailingSession;

constexpr int kRows = 1200;  // more than two batches of the backends

constexpr const char* kSchema =
    "CREATE TABLE t_batch_card (card_id varchar(20) COLLATE TSQL NOT NULL PRIMARY KEY,"
    " amt varchar(8) COLLATE TSQL, note varchar(10) COLLATE TSQL);"
    "CREATE TABLE t_batch_log (id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " card_id varchar(20) COLLATE TSQL NOT NULL, amt DECIMAL(16,4), oper_date datetime);"
    "CREATE TABLE t_batch_seen (card_id TEXT);"
    "CREATE TRIGGER t_batch_log_seen AFTER INSERT ON t_batch_log"
    " BEGIN INSERT INTO t_batch_seen VALUES (NEW.card_id); END;"
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1200)"
    " INSERT INTO t_batch_card (card_id, note) SELECT printf('C%04d', i), 'n' FROM n;";

constexpr const char* kUpdate = "update t_batch_card set amt = ? where card_id = ?";
constexpr const char* kInsert =
    "insert into t_batch_log (card_id, amt, oper_date) values (?, ?, getdate())";

// C0001, C0002, ...
std::string card(int i) {
  const std::string number = std::to_string(i + 1);
  return "C" + std::string(4 - std::min<std::size_t>(4, number.size()), '0') + number;
}

struct Seen {
  std::size_t row;
  long code;
  std::string text;
  bool operator==(const Seen&) const = default;
};

struct Outcome {
  std::vector<long> codes;
  std::vector<Seen> seen;
  std::vector<Row> rows;
  std::uint64_t roundTrips = 0;
};

struct Case {
  const char* name;
  const char* statement;
  Statement::OnFailure onFailure;
  // Changes the rows of a run in which every row would go in.
  std::function<void(std::vector<std::vector<Value>>&)> change;
  const char* trigger;  // created on the target before the run, or ""
};

std::vector<std::vector<Value>> rowsFor(const Case& c) {
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < kRows; ++i) {
    if (std::string(c.statement) == kUpdate) {
      rows.push_back({std::to_string(i % 97) + ".5", card(i)});
    } else {
      rows.push_back({card(i), std::to_string(i) + ".25"});
    }
  }
  if (c.change) {
    c.change(rows);
  }
  return rows;
}

// Runs the case's rows through `session`, then commits, and reads back
// every table the statements touch. `counter` is the session that talks to
// the engine.
Outcome run(const Case& c, const DbFolder& db, Session& session, const Session& counter) {
  Outcome out;
  const auto statement = session.prepare(c.statement);
  const auto rows = rowsFor(c);
  const std::uint64_t before = counter.roundTrips();
  const auto outcome = statement->executeBatch(rows, c.onFailure, [&](std::size_t row, long code) {
    if (code != kSqlOk) {
      out.seen.push_back({row, code, session.SQLErrText()});
    }
  });
  out.roundTrips = counter.roundTrips() - before;
  out.codes = outcome.codes;
  EXPECT_EQ(session.commit(), kSqlOk) << session.SQLErrText();
  for (const char* sql : {"SELECT card_id, amt, note FROM t_batch_card ORDER BY rowid",
                          "SELECT id, card_id, amt, oper_date IS NOT NULL FROM t_batch_log "
                          "ORDER BY id",
                          "SELECT rowid, card_id FROM t_batch_seen ORDER BY rowid"}) {
    const auto part = db.query("tillexv8", sql);
    out.rows.insert(out.rows.end(), part.begin(), part.end());
  }
  return out;
}

Outcome runCase(const Case& c, bool oneAtATime) {
  DbFolder db;
  db.exec("tillexv8", kSchema);
  if (*c.trigger != '\0') {
    db.exec("tillexv8", c.trigger);
  }
  auto session = db.connect();
  if (!oneAtATime) {
    return run(c, db, *session, *session);
  }
  // The wrapper sends each row alone.
  FailingSession single(std::move(session));
  return run(c, db, single, single.inner());
}

TEST(SqliteBatchedRows, EndAsTheSameRowsOneAtATime) {
  using OnFailure = Statement::OnFailure;
  const auto at = [](std::size_t row, std::size_t column, Value value) {
    return [=](std::vector<std::vector<Value>>& rows) { rows[row][column] = std::move(value); };
  };
  const Case cases[] = {
      {"every update changes its row", kUpdate, OnFailure::Stop, {}, ""},
      {"an update finds no card", kUpdate, OnFailure::Stop, at(700, 1, "NOPE"), ""},
      {"an update's key is null", kUpdate, OnFailure::Stop, at(700, 1, std::nullopt), ""},
      {"an update's value is too long", kUpdate, OnFailure::Stop, at(700, 0, "123456789"), ""},
      {"the last update fails", kUpdate, OnFailure::Stop, at(kRows - 1, 0, "123456789"), ""},
      {"an update's value fits once its blanks go", kUpdate, OnFailure::Stop,
       at(700, 0, "12345678  "), ""},
      {"an update's value of four Chinese characters fits", kUpdate, OnFailure::Stop,
       at(700, 0, "一二三四"), ""},
      {"an update's value of five Chinese characters is too long", kUpdate, OnFailure::Stop,
       at(700, 0, "一二三四五"), ""},
      {"a card twice, the second one later", kUpdate, OnFailure::Stop, at(700, 1, card(10)), ""},
      {"a card again with a trailing blank", kUpdate, OnFailure::Stop, at(701, 1, card(700) + " "),
       ""},
      {"a trigger on update sees every row",
       kUpdate,
       OnFailure::Stop,
       {},
       "CREATE TRIGGER t_batch_card_upd AFTER UPDATE ON t_batch_card"
       " BEGIN INSERT INTO t_batch_seen VALUES (NEW.card_id || '/' || "
       "(SELECT count(*) FROM t_batch_card WHERE amt IS NOT NULL)); END;"},
      {"every insert goes in", kInsert, OnFailure::Continue, {}, ""},
      {"an insert without its card", kInsert, OnFailure::Continue, at(700, 0, std::nullopt), ""},
      {"an insert of an amount that is no number", kInsert, OnFailure::Continue, at(1100, 1, "x"),
       ""},
      {"an insert that a trigger skips",
       kInsert,
       OnFailure::Continue,
       {},
       "CREATE TRIGGER t_batch_log_skip BEFORE INSERT ON t_batch_log"
       " WHEN NEW.card_id = 'C0701' BEGIN SELECT RAISE(IGNORE); END;"},
      {"an insert that fails and stops", kInsert, OnFailure::Stop, at(700, 0, std::nullopt), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome single = runCase(c, true);
    const Outcome batched = runCase(c, false);
    EXPECT_EQ(batched.codes, single.codes);
    EXPECT_EQ(batched.seen, single.seen);
    EXPECT_EQ(batched.rows, single.rows);
    EXPECT_EQ(single.roundTrips, single.codes.size());
    if (c.change == nullptr && *c.trigger == '\0') {
      // Nothing failed: the rows went in a few requests, not one each.
      EXPECT_LT(batched.roundTrips, static_cast<std::uint64_t>(kRows / 50));
    }
  }
}

// A failure with which the engine ends the transaction cannot be undone and
// run again: the rows of the batch fail with it, the session says that the
// transaction ended, and after the rollback nothing of the run remains, as
// with the rows one at a time.
TEST(SqliteBatchedRows, FailWithTheTransactionTheEngineEnds) {
  for (const bool oneAtATime : {true, false}) {
    SCOPED_TRACE(oneAtATime ? "one at a time" : "at once");
    DbFolder db;
    db.exec("tillexv8", kSchema);
    db.exec("tillexv8",
            "CREATE TRIGGER t_batch_log_end BEFORE INSERT ON t_batch_log"
            " WHEN NEW.card_id = 'C0701' BEGIN SELECT RAISE(ROLLBACK, 'ended here'); END;");
    std::unique_ptr<Session> session = db.connect();
    if (oneAtATime) {
      session = std::make_unique<FailingSession>(std::move(session));
    }
    const Case c{"", kInsert, Statement::OnFailure::Stop, {}, ""};
    const auto statement = session->prepare(kInsert);
    bool ended = false;
    const auto outcome =
        statement->executeBatch(rowsFor(c), c.onFailure, [&](std::size_t, long code) {
          if (code < 0) {
            ended = session->transactionEnded();
            EXPECT_NE(session->SQLErrText().find("ended here"), std::string::npos);
          }
        });
    EXPECT_TRUE(ended);
    ASSERT_FALSE(outcome.codes.empty());
    EXPECT_LT(outcome.codes.back(), 0);
    session->rollback();
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_batch_log"), "0");
    EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_batch_seen"), "0");
  }
}

}  // namespace
}  // namespace cvt
