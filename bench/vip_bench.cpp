// vip_bench: converts N member cards with the member-card step on the
// embedded backend and reports the time, the statements sent per card and
// the peak memory of the process.
//
//   vip_bench [N ...]        (default: 10000 100000 1000000)
//
// Each size runs in a child process of its own, so that the peak memory
// belongs to that size alone. Exit status: 0 every size converted, 1 not.

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
#include "db/sqlite/tsql_functions.h"
#include "demo/schema.h"
#include "steps/catalog.h"

namespace {

// A UI that shows nothing but remembers a failure message.
class QuietUi final : public cvt::StepUi {
 public:
  void wf_set_bar(float, const std::string&) override {}
  void messageBox(const std::string&, const std::string& text) override { failure = text; }
  std::string failure;
};

// Cards of the three types in turn, balances with up to two decimals (some
// zero, some negative), points that leave both signs of remaining points.
constexpr const char* kFillCardsSql = R"SQL(
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < ?1)
INSERT INTO pos_t_vip_info(card_id, card_type, card_status, vip_name, card_balance,
                           total_integral, vip_integral, vip_cons_amount, cons_count)
SELECT printf('V%09d', i), printf('%02d', i % 3 + 1), '0', 'member ' || i,
       CASE WHEN i % 10 = 0 THEN 0 WHEN i % 17 = 0 THEN -(i % 500) ELSE (i % 100000) / 100.0 END,
       i % 1000, (i % 1000) - (i % 300), i % 5000, i % 50
FROM n;
INSERT INTO pos_t_vip_type(type_id, type_name) VALUES ('01', 'plain'), ('02', 'stored'),
                                                       ('03', 'stored and points');
)SQL";

bool execAll(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
  if (rc != SQLITE_OK) {
    std::fprintf(stderr, "vip_bench: %s\n", err != nullptr ? err : "?");
  }
  sqlite3_free(err);
  return rc == SQLITE_OK;
}

// Builds the three databases in `dir`, the source holding `cards` cards.
bool buildDatabases(const std::string& dir, long cards) {
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
    if (ok && std::string_view(name) == "dravik_pro") {
      std::string fill = kFillCardsSql;
      const std::string count = std::to_string(cards);
      fill.replace(fill.find("?1"), 2, count);
      ok = execAll(db, "BEGIN;" + fill + "COMMIT;");
    }
    sqlite3_close(db);
    if (!ok) {
      return false;
    }
  }
  return true;
}

// Converts `cards` cards and prints one line. Returns the exit status.
int measure(long cards) {
  namespace fs = std::filesystem;
  std::string dir = (fs::temp_directory_path() / "vip-bench-XXXXXX").string();
  if (mkdtemp(dir.data()) == nullptr) {
    std::perror("vip_bench: mkdtemp");
    return 1;
  }
  int status = 1;
  if (buildDatabases(dir, cards)) {
    auto SQLCA = cvt::makeSession("SQLite");
    SQLCA->settings.DBMS = "SQLite";
    SQLCA->settings.ServerName = dir;
    SQLCA->settings.Database = "tillexv8";
    SQLCA->settings.LogId = "sa";
    if (SQLCA->connect() != 0) {
      std::fprintf(stderr, "vip_bench: connect failed: %s\n", SQLCA->SQLErrText().c_str());
    } else {
      QuietUi ui;
      cvt::StepContext ctx{*SQLCA, ui, 30, false};
      const auto before = SQLCA->statementsExecuted();
      const benchutil::Stopwatch watch;
      const bool ok = cvt::wf_dravik_vip(ctx, "dravik_pro");
      const double seconds = watch.seconds();
      const auto statements = SQLCA->statementsExecuted() - before;
      std::printf("%9ld cards  %8.2f s  %9.0f cards/s  %6.3f statements/card  peak %7.1f MiB%s\n",
                  cards, seconds, static_cast<double>(cards) / seconds,
                  static_cast<double>(statements) / static_cast<double>(cards),
                  benchutil::peakMiB(), ok ? "" : "  FAILED");
      if (!ok) {
        std::fprintf(stderr, "vip_bench: %s\n", ui.failure.c_str());
      }
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
    std::fprintf(stderr, "usage: vip_bench [N ...]\n");
    return 2;
  }
  int result = 0;
  for (const long n : *sizes) {
    if (!benchutil::runInChild([&] { return measure(n); })) {
      result = 1;
    }
  }
  return result;
}
