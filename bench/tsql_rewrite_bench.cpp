// tsql_rewrite_bench: what the T-SQL adapter costs per statement, next to
// what executing a simple statement costs.
//
//   tsql_rewrite_bench [--iterations N]
//
// Rewrite rows: rewriteTsql on each kind of statement the conversion sends
// (uncached), and a hit in the rewrite cache. Execute rows: a one-row
// UPDATE by primary key on a 1,000-row table, sent through the embedded
// session (immediate text and prepared statement with bound values) and,
// as the floor, straight to SQLite (prepared once, and prepared every time).

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/session.h"
#include "db/sqlite/tsql_functions.h"
#include "db/sqlite/tsql_rewriter.h"
#include "demo/schema.h"

namespace {

namespace fs = std::filesystem;

// Statement texts of the conversion, one per construct family.
struct Sample {
  const char* name;
  const char* sql;
};

constexpr Sample kSamples[] = {
    {"short delete", "delete t_rm_cashier where cashier_id<>'9999'"},
    {"truncate", "truncate table t_rm_spec_price"},
    {"trigger switch", "ALTER TABLE t_bd_item_info disable TRIGGER all"},
    {"select top, hint, bound",
     "select top 1 1 from t_bd_item_cls with ( nolock ) where item_clsno =?"},
    {"update from, hint",
     "update t_rm_spec_price set item_no =t_bd_item_info.item_no from t_bd_item_info with ( "
     "nolock ) where t_rm_spec_price.item_no =t_bd_item_info.item_subno and "
     "t_bd_item_info.num3 =1"},
    {"update, exists, top",
     "update t_bd_supcust_info set settle_branch = '00' where "
     "len(t_bd_supcust_info.settle_branch) <> 2 or (len(settle_branch) = 2 and not "
     "exists(select top 1 1 from t_bd_branch_info with(nolock) where branch_no = settle_branch "
     "))"},
    {"insert select 28 columns",
     "insert into t_bd_item_info "
     "(item_no,item_subno,item_name,item_subname,item_clsno,item_brand,item_brandname,unit_no,"
     "item_size,product_area,price,base_price,sale_price,combine_sta,status,display_flag,other1,"
     "other2 ,other3 ,num1,num2,main_supcust,item_sup_flag ,sup_ly_rate,vip_price,dpfm_type,"
     "vip_acc_flag,num3) select "
     "item_no,isnull(item_subno,'0'),item_name,item_subname,item_clsno,item_brand,item_brandname,"
     "unit_no,item_size,product_area,isnull(price,0),isnull(base_price,0),isnull(sale_price,0),"
     "combine_sta,status,display_flag,other1,other2 ,other3,num1,num2,case when sup_no is null "
     "then '0' when len(sup_no) > 8 then '0' else sup_no end,'A' "
     ",ly_deduct,vip_price,'0','0',(case flag2 when 'Z' then 1 when 'J' then 2 else 0 end) from "
     "dravik_pro..bi_t_item_info"},
};

double nanosPer(std::size_t iterations, const std::function<void()>& body) {
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < iterations; ++i) {
    body();
  }
  const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / static_cast<double>(iterations);
}

void row(const std::string& what, double nanos) {
  std::printf("| %-44s | %10.2f |\n", what.c_str(), nanos / 1000.0);
}

bool execRaw(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s\n", error != nullptr ? error : "error");
    sqlite3_free(error);
    return false;
  }
  return true;
}

// Builds tillexv8.db and dravik_pro.db in `folder`, with 1,000 items.
bool buildDatabases(const fs::path& folder) {
  for (const auto& [name, ddl] : {std::pair{"tillexv8", &cvt::targetSchemaSql()},
                                  std::pair{"dravik_pro", &cvt::sourceSchemaSql()}}) {
    sqlite3* db = nullptr;
    const std::string file = (folder / (std::string(name) + ".db")).string();
    if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) {
      return false;
    }
    cvt::registerTsqlFunctions(db);
    bool ok = execRaw(db, "BEGIN") && execRaw(db, *ddl);
    if (ok && std::strcmp(name, "tillexv8") == 0) {
      ok = execRaw(db,
                   "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000) "
                   "INSERT INTO t_bd_item_info (item_no, item_name) SELECT 'I' || i, 'item' "
                   "FROM n");
    }
    ok = ok && execRaw(db, "COMMIT");
    sqlite3_close(db);
    if (!ok) {
      return false;
    }
  }
  return true;
}

}  // namespace

// The declared column types of the demo target, as a session reads them at
// connect: the rewrites below fit their values as a real run's do.
std::shared_ptr<const cvt::DeclaredTypes> demoTargetTypes() {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  cvt::registerTsqlFunctions(db);
  sqlite3_exec(db, cvt::targetSchemaSql().c_str(), nullptr, nullptr, nullptr);
  auto types = cvt::DeclaredTypes::read(
      [db](const std::string& sql, std::vector<std::vector<std::string>>& rows) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
          return false;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
          std::vector<std::string> row;
          for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
          }
          rows.push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        return true;
      });
  sqlite3_close(db);
  return types;
}

int main(int argc, char** argv) {
  std::size_t iterations = 20000;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0) {
      iterations = static_cast<std::size_t>(std::strtoul(argv[i + 1], nullptr, 10));
    }
  }
  if (iterations == 0) {
    iterations = 1;
  }

  cvt::RewriteContext context;
  context.isAttached = [](std::string_view name) { return name == "dravik_pro"; };
  context.types = demoTargetTypes();

  std::printf("T-SQL adapter cost, %zu iterations per row (microseconds per statement)\n\n",
              iterations);
  std::printf("| %-44s | %10s |\n", "operation", "us/stmt");
  std::printf("|%s|%s|\n", std::string(46, '-').c_str(), std::string(12, '-').c_str());

  volatile std::size_t sink = 0;
  for (const Sample& sample : kSamples) {
    const auto check = cvt::rewriteTsql(sample.sql, context);
    if (!check.ok()) {
      std::fprintf(stderr, "%s: %s\n", sample.name, check.error.c_str());
      return 1;
    }
    row(std::string("rewrite: ") + sample.name, nanosPer(iterations, [&] {
          sink = sink + cvt::rewriteTsql(sample.sql, context).statements.size();
        }));
  }
  cvt::RewriteCache cache;
  row("rewrite cache hit (28-column insert)", nanosPer(iterations, [&] {
        sink = sink + cache.rewrite(kSamples[6].sql, context)->statements.size();
      }));

  // Executing: a folder of its own, removed at the end.
  std::string pattern = (fs::temp_directory_path() / "tsql-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path folder(pattern);
  int status = 0;
  if (!buildDatabases(folder)) {
    status = 1;
  } else {
    constexpr const char* kUpdate =
        "update t_bd_item_info set item_name = 'x' where item_no = 'I500'";
    constexpr const char* kUpdateBound =
        "update t_bd_item_info set item_name = ? where item_no = ?";
    auto session = cvt::makeSession("SQLite");
    session->settings.ServerName = folder.string();
    session->settings.Database = "tillexv8";
    if (session->connect() != 0) {
      std::fprintf(stderr, "%s\n", session->SQLErrText().c_str());
      status = 1;
    } else {
      row("execute: session, immediate text",
          nanosPer(iterations, [&] { session->execute(kUpdate); }));
      auto statement = session->prepare(kUpdateBound);
      const std::vector<cvt::Value> inputs = {cvt::Value("x"), cvt::Value("I500")};
      row("execute: session, prepared, 2 bound values",
          nanosPer(iterations, [&] { statement->execute(inputs); }));
      if (session->SQLCode() != 0) {
        std::fprintf(stderr, "%s\n", session->SQLErrText().c_str());
        status = 1;
      }
      session->commit();
      session->disconnect();
    }

    sqlite3* db = nullptr;
    sqlite3_open((folder / "tillexv8.db").string().c_str(), &db);
    cvt::registerTsqlFunctions(db);  // the table's text columns declare COLLATE TSQL
    execRaw(db, "BEGIN");
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, kUpdate, -1, &stmt, nullptr) != SQLITE_OK) {
      std::fprintf(stderr, "%s\n", sqlite3_errmsg(db));
      status = 1;
    }
    row("floor: SQLite, prepared once", nanosPer(iterations, [&] {
          sqlite3_step(stmt);
          sqlite3_reset(stmt);
        }));
    sqlite3_finalize(stmt);
    row("floor: SQLite, prepare + step + finalize", nanosPer(iterations, [&] {
          sqlite3_stmt* each = nullptr;
          sqlite3_prepare_v2(db, kUpdate, -1, &each, nullptr);
          sqlite3_step(each);
          sqlite3_finalize(each);
        }));
    execRaw(db, "COMMIT");
    sqlite3_close(db);
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return status;
}
