// items_bench: converts items and item classes on the embedded backend at
// growing sizes and reports the time of each step and the peak memory.
//
//   items_bench [N ...]        (default: 10000 100000 1000000)
//
// For every size it runs three times, with 1 %, 5 % and 6 % of the items
// weighed (the demo data weighs 6 %), each run in a child process of its
// own so that the peak memory belongs to that run alone. A run converts
// the items once untimed, so that both timed runs start from a full table,
// then with the weighed-item box unticked (set-based) and ticked (one
// update and one commit per weighed item), and then the classes, of which
// 3000 have codes longer than six characters (some under full prefixes, so
// that their new codes carry into the next prefix). Exit status: 0 every
// run converted, 1 not.
//
// The swap floor: between the two timed runs, SQLite alone, on its own
// connection with the embedded session's settings, gives each weighed item
// of the unticked run's table the same change as a swap (its number moves
// to another place in the key) in a transaction of its own, with prepared
// statements and nothing else. Unticked plus that time, over unticked, is
// the least that the ticked path can cost on SQLite while it commits every
// swap by itself.

#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bench_util.h"
#include "db/session.h"
#include "db/sqlite/sqlite_session.h"
#include "db/sqlite/tsql_functions.h"
#include "demo/schema.h"
#include "steps/catalog.h"

namespace {

constexpr long kLongClassesPerPrefix = 30;  // 100 four-character prefixes

// A UI that shows nothing but remembers a failure message.
class QuietUi final : public cvt::StepUi {
 public:
  void wf_set_bar(float, const std::string&) override {}
  void messageBox(const std::string&, const std::string& text) override { failure = text; }
  std::string failure;
};

// Classes: 5 top levels, 100 four-character prefixes, ten six-character
// codes under each (99 under the five prefixes 0501-0505, which are full),
// and ?L long codes under the first six-character code of every prefix.
constexpr const char* kFillClassesSql = R"SQL(
WITH RECURSIVE
  t(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM t WHERE i < 5),
  s(j) AS (SELECT 1 UNION ALL SELECT j + 1 FROM s WHERE j < 20),
  k(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM k WHERE x < 99)
INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag, display_flag)
SELECT printf('%02d', i), 'top ' || i, '0', '1' FROM t
UNION ALL SELECT printf('%02d%02d', i, j), 'mid', '0', '1' FROM t, s
UNION ALL SELECT printf('%02d%02d%02d', i, j, x), 'low', '0', '1' FROM t, s, k
  WHERE x <= CASE WHEN i = 5 AND j <= 5 THEN 99 ELSE 10 END
UNION ALL SELECT printf('%02d%02d01%02d', i, j, x), 'long', '0', '1' FROM t, s, k WHERE x <= ?L;
)SQL";

// Items: one in ?W weighed (flag2 Z), about one in 97 marked J, brands that
// the brand fix shortens, a third of the items on long class codes.
constexpr const char* kFillItemsSql = R"SQL(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?N)
INSERT INTO bi_t_item_info(item_no, item_subno, item_name, item_clsno, item_brand, unit_no,
                           price, base_price, sale_price, vip_price, ly_deduct, combine_sta,
                           status, display_flag, sup_no, flag2)
SELECT printf('%08d', i), printf('S%07d', i), 'item ' || i,
       CASE WHEN i % 3 = 0
            THEN printf('%02d%02d01%02d', 1 + i % 5, 1 + (i / 5) % 20, 1 + (i / 100) % ?L)
            ELSE printf('%02d%02d%02d', 1 + i % 5, 1 + (i / 5) % 20, 1 + (i / 100) % 10) END,
       printf('%05d', i % 20000), 'pcs',
       (i % 1000) / 10.0, (i % 800) / 10.0, (i % 1000) / 10.0, (i % 900) / 10.0, 0.05, '0',
       '1', '1', printf('%06d', i % 500),
       CASE WHEN i % ?W = 0 THEN 'Z' WHEN i % 97 = 0 THEN 'J' ELSE NULL END
FROM n;
)SQL";

std::string substitute(std::string sql, std::string_view key, long value) {
  const std::string text = std::to_string(value);
  for (auto at = sql.find(key); at != std::string::npos; at = sql.find(key, at)) {
    sql.replace(at, key.size(), text);
  }
  return sql;
}

bool execAll(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::fprintf(stderr, "items_bench: %s\n", err != nullptr ? err : "?");
  }
  sqlite3_free(err);
  return rc == SQLITE_OK;
}

// Builds the three databases in `dir`. The target's triggers of the two
// tables are switched off, as the run driver does before its steps.
bool buildDatabases(const std::string& dir, long items, long weighedEvery) {
  for (const char* name : {"tillexv8", "dravik_pro", "dravik_std"}) {
    sqlite3* db = nullptr;
    const std::string file = dir + "/" + name + ".db";
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
      sqlite3_close(db);
      return false;
    }
    cvt::registerTsqlFunctions(db);
    const bool target = std::string_view(name) == "tillexv8";
    bool ok = execAll(db, target ? cvt::targetSchemaSql() : cvt::sourceSchemaSql());
    if (ok && target) {
      ok =
          execAll(db, "INSERT INTO tsql_trigger_off VALUES ('t_bd_item_info'), ('t_bd_item_cls');");
    }
    if (ok && std::string_view(name) == "dravik_pro") {
      std::string fill = substitute(kFillItemsSql, "?N", items);
      fill = substitute(fill, "?W", weighedEvery);
      fill = substitute(fill, "?L", kLongClassesPerPrefix);
      ok = execAll(db, "BEGIN;" + fill + substitute(kFillClassesSql, "?L", kLongClassesPerPrefix) +
                           "COMMIT;");
    }
    sqlite3_close(db);
    if (!ok) {
      return false;
    }
  }
  return true;
}

struct Timed {
  bool ok = false;
  double seconds = 0;
  std::uint64_t statements = 0;
};

Timed timeStep(cvt::Session& SQLCA, cvt::StepFn step, bool ticked, long weight) {
  QuietUi ui;
  cvt::StepContext ctx{SQLCA, ui, weight, ticked};
  const auto before = SQLCA.statementsExecuted();
  const benchutil::Stopwatch watch;
  Timed t;
  t.ok = step(ctx, "dravik_pro");
  t.seconds = watch.seconds();
  t.statements = SQLCA.statementsExecuted() - before;
  if (!t.ok) {
    std::fprintf(stderr, "items_bench: step failed: %s\n", ui.failure.c_str());
  }
  return t;
}

// A connection of its own to the target in `dir`, or null.
sqlite3* openTarget(const std::string& dir) {
  sqlite3* db = nullptr;
  if (sqlite3_open((dir + "/tillexv8.db").c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  return db;
}

// Copies the target's log into the database and empties it.
void checkpoint(const std::string& dir) {
  sqlite3* db = openTarget(dir);
  if (db != nullptr) {
    execAll(db, "PRAGMA main.wal_checkpoint(TRUNCATE)");
  }
  sqlite3_close(db);
}

// The swap floor (see the top of the file) on the target in `dir`, which
// the session must not hold in a transaction.
Timed timeSwapFloor(const std::string& dir) {
  Timed t;
  sqlite3* db = openTarget(dir);
  if (db == nullptr) {
    return t;
  }
  cvt::registerTsqlFunctions(db);
  std::vector<std::string> keys;
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* begin = nullptr;
  sqlite3_stmt* swap = nullptr;
  sqlite3_stmt* commit = nullptr;
  bool ok = execAll(db, cvt::embeddedConnectionSettings()) &&
            sqlite3_prepare_v2(db, "SELECT item_no FROM t_bd_item_info WHERE num3 = 1", -1, &select,
                               nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "BEGIN", -1, &begin, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "UPDATE t_bd_item_info SET item_no = other2 WHERE item_no = ?",
                               -1, &swap, nullptr) == SQLITE_OK &&
            sqlite3_prepare_v2(db, "COMMIT", -1, &commit, nullptr) == SQLITE_OK;
  const benchutil::Stopwatch watch;
  while (ok && sqlite3_step(select) == SQLITE_ROW) {
    keys.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(select, 0)));
  }
  for (const std::string& key : keys) {
    if (!ok) {
      break;
    }
    sqlite3_bind_text(swap, 1, key.c_str(), static_cast<int>(key.size()), SQLITE_STATIC);
    ok = sqlite3_step(begin) == SQLITE_DONE && sqlite3_step(swap) == SQLITE_DONE &&
         sqlite3_changes(db) == 1 && sqlite3_step(commit) == SQLITE_DONE;
    sqlite3_reset(begin);
    sqlite3_reset(swap);
    sqlite3_reset(commit);
  }
  t.seconds = watch.seconds();
  t.ok = ok && !keys.empty();
  if (!t.ok) {
    std::fprintf(stderr, "items_bench: swap floor failed: %s\n", sqlite3_errmsg(db));
  }
  for (sqlite3_stmt* stmt : {select, begin, swap, commit}) {
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return t;
}

// Converts one size at one weighed share and prints one line. Returns the
// exit status of the child.
int measure(long items, long weighedEvery) {
  namespace fs = std::filesystem;
  std::string dir = (fs::temp_directory_path() / "items-bench-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("items_bench: mkdtemp");
    return 1;
  }
  int status = 1;
  if (buildDatabases(dir, items, weighedEvery)) {
    auto SQLCA = cvt::makeSession("SQLite");
    SQLCA->settings.DBMS = "SQLite";
    SQLCA->settings.ServerName = dir;
    SQLCA->settings.Database = "tillexv8";
    SQLCA->settings.LogId = "sa";
    if (SQLCA->connect() != 0) {
      std::fprintf(stderr, "items_bench: connect failed: %s\n", SQLCA->SQLErrText().c_str());
    } else {
      // Each timed part starts with an empty log, so that no part pays
      // for the checkpoint of another's pages.
      const Timed warm = timeStep(*SQLCA, cvt::wf_convert_item_info, false, 100);
      checkpoint(dir);
      const Timed unticked = timeStep(*SQLCA, cvt::wf_convert_item_info, false, 100);
      checkpoint(dir);
      const Timed floor = timeSwapFloor(dir);
      checkpoint(dir);
      const Timed ticked = timeStep(*SQLCA, cvt::wf_convert_item_info, true, 100);
      const Timed classes = timeStep(*SQLCA, cvt::wf_convert_item_cls, false, 10);
      const bool ok = warm.ok && unticked.ok && floor.ok && ticked.ok && classes.ok;
      std::printf(
          "%9ld  %3ld%%  %10.2f  %10.2f %8llu  %8.2f  %8.2f  %8.2f  %10.2f %8llu  %9.1f%s\n", items,
          100 / weighedEvery, unticked.seconds, ticked.seconds,
          static_cast<unsigned long long>(ticked.statements), ticked.seconds / unticked.seconds,
          floor.seconds, (unticked.seconds + floor.seconds) / unticked.seconds, classes.seconds,
          static_cast<unsigned long long>(classes.statements), benchutil::peakMiB(),
          ok ? "" : "  FAILED");
      SQLCA->disconnect();
      status = ok ? 0 : 1;
    }
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<std::vector<long>> sizes =
      benchutil::sizesFromArguments(argc, argv, {10000, 100000, 1000000});
  if (!sizes) {
    std::fprintf(stderr, "usage: items_bench [N ...]\n");
    return 2;
  }
  std::printf("%d long class codes\n", static_cast<int>(100 * kLongClassesPerPrefix));
  std::printf("%9s  %4s  %10s  %10s %8s  %8s  %8s  %8s  %10s %8s  %9s\n", "items", "wgh",
              "unticked s", "ticked s", "stmts", "t / u", "floor s", "floor/u", "classes s",
              "stmts", "peak MiB");
  int result = 0;
  for (const long n : *sizes) {
    for (const long weighedEvery : {100L, 20L, 16L}) {
      if (!benchutil::runInChild([&] { return measure(n, weighedEvery); })) {
        result = 1;
      }
    }
  }
  return result;
}
