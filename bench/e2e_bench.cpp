// e2e_bench: the end-to-end benchmark. For each scale it generates the demo
// data, runs a full conversion of every category from dravik_pro with the
// tool, and runs the same work as plain SQLite statements on a fresh copy
// of the same data (the floor). It prints wall time, peak memory and
// statements of both, the ratio tool / floor and how time grows with scale,
// and checks that both left the rows that the generated data calls for.
//
//   e2e_bench [--base UNITS] [--scales 1,4,16] [--work DIR] [--keep]
//
// One scale of 1 is UNITS demo scale units (default 50: 50k items, 100k
// member cards, 20k stock rows, 10 branches). Each conversion runs in a
// child process of its own (this program again, with --tool DIR or
// --floor DIR), so that its wall time and peak memory are its own.
//
// The tool's side is the conversion as the batch command runs it: the
// embedded session, the run driver and the nine steps, with a front end that
// draws nothing. The floor's side is the same conversion hand-translated to
// SQLite's dialect and sent straight to SQLite: the same statements and
// commit points, the row-by-row loops of the member cards and the class
// renumbering as prepared statements, nothing else.

#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_driver.h"
#include "bench_util.h"
#include "db/session.h"
#include "db/sqlite/tsql_functions.h"
#include "demo/generator.h"
#include "members/balance_cipher.h"
#include "members/decimal_text.h"

namespace {

namespace fs = std::filesystem;

// --- the tool's side --------------------------------------------------------

class QuietUi final : public cvt::RunUi {
 public:
  void wf_set_bar(float, const std::string&) override {}
  void wf_set_bar(int) override {}
  void setBusy(bool) override {}
  void messageBox(const std::string& title, const std::string& text) override {
    messages.push_back(title + ": " + text);
  }
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string&) override {
    messageBox(title, text);
  }
  std::vector<std::string> messages;
};

int runTool(const std::string& folder) {
  auto SQLCA = cvt::makeSession("SQLite");
  SQLCA->settings.DBMS = "SQLite";
  SQLCA->settings.ServerName = folder;
  SQLCA->settings.Database = "tillexv8";
  SQLCA->settings.LogId = "sa";
  if (SQLCA->connect() != 0) {
    std::printf("error connect: %s\n", SQLCA->SQLErrText().c_str());
    return 3;
  }
  QuietUi ui;
  cvt::RunChoice choice;
  choice.rb_1 = true;
  choice.ticked.fill(true);
  const cvt::RunReport report = cvt::runConversion(*SQLCA, ui, choice);
  cvt::closeSession(*SQLCA);
  const bool completed = report.outcome == cvt::RunOutcome::Completed && !report.branchPriceFailed;
  std::printf("statements %llu\n", static_cast<unsigned long long>(SQLCA->statementsExecuted()));
  std::printf("outcome %s\n", completed ? "completed" : "failed");
  for (const auto& m : ui.messages) {
    std::printf("message %s\n", m.c_str());
  }
  return completed ? 0 : 1;
}

// --- the floor's side -------------------------------------------------------

constexpr const char* kNow = "strftime('%Y-%m-%d %H:%M:%f','now','localtime')";

// The set-based statements in SQLite's dialect, in the conversion's order.
// A "COMMIT" entry is a commit point of the conversion; "@classes",
// "@balances" and "@recharges" are its row-by-row loops.
std::vector<std::string> floorScript() {
  const std::string now = kNow;
  return {
      // The driver suspends the triggers of eight tables.
      "INSERT OR IGNORE INTO tsql_trigger_off(table_name) VALUES ('t_bd_item_info'),"
      "('t_bd_item_cls'),('t_bd_base_code'),('t_bd_supcust_info'),('t_rm_vip_info'),"
      "('t_rm_spec_price'),('t_rm_saleflow'),('t_rm_payflow')",
      // Items.
      "DELETE FROM t_bd_item_info",
      "INSERT INTO t_bd_item_info (item_no,item_subno,item_name,item_subname,item_clsno,"
      "item_brand,item_brandname,unit_no,item_size,product_area,price,base_price,sale_price,"
      "combine_sta,status,display_flag,other1,other2,other3,num1,num2,main_supcust,item_sup_flag,"
      "sup_ly_rate,vip_price,dpfm_type,vip_acc_flag,num3) SELECT item_no,ifnull(item_subno,'0'),"
      "item_name,item_subname,item_clsno,item_brand,item_brandname,unit_no,item_size,"
      "product_area,ifnull(price,0),ifnull(base_price,0),ifnull(sale_price,0),combine_sta,status,"
      "display_flag,other1,other2,other3,num1,num2,CASE WHEN sup_no IS NULL THEN '0' WHEN "
      "length(rtrim(sup_no))>8 THEN '0' ELSE sup_no END,'A',ly_deduct,vip_price,'0','0',"
      "(CASE flag2 WHEN 'Z' THEN 1 WHEN 'J' THEN 2 ELSE 0 END) FROM dravik_pro.bi_t_item_info",
      "COMMIT",
      "UPDATE t_bd_item_info SET other2=item_subno,item_subno=item_no WHERE num3=1",
      "UPDATE t_bd_item_info SET other2=item_subno,item_subno=item_no WHERE num3=2",
      "UPDATE t_bd_item_info SET item_brand=substr(rtrim(item_brand),-4) WHERE item_brand<'9999' "
      "AND length(rtrim(item_brand))=5 AND item_brand IS NOT NULL",
      "COMMIT",
      // Item classes.
      "DELETE FROM t_bd_item_cls WHERE item_clsno<>'LB'",
      "INSERT INTO t_bd_item_cls (display_flag,item_clsname,item_clsno,item_flag) SELECT "
      "display_flag,item_clsname,item_clsno,item_flag FROM dravik_pro.bi_t_item_cls WHERE "
      "item_flag='0'",
      "COMMIT",
      "@classes",
      "UPDATE t_bd_item_cls SET cls_parent=substr(item_clsno,1,length(rtrim(item_clsno))-2)",
      "COMMIT",
      // Brands.
      "DELETE FROM t_bd_base_code WHERE type_no='PP' AND code_id NOT IN ('PP')",
      "INSERT INTO t_bd_base_code(type_no,code_id,code_name,english_name,code_type) SELECT 'PP',"
      "substr(rtrim(item_clsno),-4),item_clsname,'','品牌' FROM dravik_pro.bi_t_item_cls WHERE "
      "item_flag='1' AND item_clsno<'9999' AND length(rtrim(item_clsno))=5",
      "COMMIT",
      // Regions.
      "DELETE FROM t_bd_base_code WHERE type_no='RG'",
      "INSERT INTO t_bd_base_code(type_no,code_id,code_name) SELECT 'RG',substr(region_no,1,4),"
      "region_name FROM dravik_pro.bi_t_region_info",
      "COMMIT",
      // Suppliers and customers.
      "DELETE FROM t_bd_supcust_info WHERE supcust_flag IN ('S','C') AND supcust_no<>'0'",
      "DELETE FROM t_bd_cust_type",
      "INSERT INTO t_bd_cust_type(type_id,type_name,oper_date,oper_id) VALUES ('exp','exp'," + now +
          ",'1001')",
      "INSERT INTO t_bd_supcust_info(check_out_date,check_out_day,check_out_flag,credit_amt,"
      "display_flag,other1,other2,other3,region_no,sup_acct_back,sup_acct_no,sup_addr,sup_email,"
      "sup_fax,sup_man,sup_name,sup_tax_no,sup_tel,sup_type,supcust_flag,supcust_no,zip,sale_way) "
      "SELECT check_out_date,check_out_day,check_out_flag,credit_amt,display_flag,other1,other2,"
      "other3,region_no,sup_acct_back,sup_acct_no,sup_addr,sup_email,sup_fax,sup_man,sup_name,"
      "sup_tax_no,sup_tel,sup_type,supcust_flag,supcust_no,zip,'A' FROM "
      "dravik_pro.bi_t_supcust_info",
      "UPDATE t_bd_supcust_info SET sale_way='B' WHERE sup_name LIKE '%代销%'",
      "UPDATE t_bd_supcust_info SET sale_way='C' WHERE sup_name LIKE '%联营%'",
      "UPDATE t_bd_supcust_info SET region_no=substr(region_no,1,4)",
      "UPDATE t_bd_supcust_info SET check_out_flag='0'",
      "UPDATE t_bd_item_info SET item_sup_flag=s.sale_way FROM t_bd_supcust_info s WHERE "
      "t_bd_item_info.main_supcust=s.supcust_no AND NOT s.sale_way='A'",
      "UPDATE t_bd_supcust_info SET settle_branch='00' WHERE length(rtrim(settle_branch))<>2 OR "
      "(length(rtrim(settle_branch))=2 AND NOT EXISTS (SELECT 1 FROM t_bd_branch_info WHERE "
      "branch_no=settle_branch))",
      "COMMIT",
      // Member cards.
      "DELETE FROM t_rm_vip_type",
      "INSERT INTO t_rm_vip_type(type_id,type_name,sale_way,discount,memo,oper_id,oper_date) "
      "SELECT type_id,type_name,sale_way,discount,memo,oper_id,oper_date FROM "
      "dravik_pro.pos_t_vip_type",
      "DELETE FROM t_rm_vip_info",
      "INSERT INTO t_rm_vip_info (card_id,card_status,card_type,oper_date,oper_id,other1,other2,"
      "other3,vip_add,vip_email,vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax,vip_tel,"
      "vip_zip,residual_amt,consum_amt,acc_num,dec_num,use_num,consum_count) SELECT card_id,"
      "card_status,card_type,oper_date,oper_id,other1,other2,other3,vip_add,vip_email,"
      "vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax,vip_tel,vip_zip,CAST(card_balance AS "
      "TEXT),vip_cons_amount,total_integral,(total_integral-vip_integral),999999,cons_count FROM "
      "dravik_pro.pos_t_vip_info",
      "COMMIT",
      "@balances",
      "DELETE FROM t_rm_vip_consume",
      "DELETE FROM t_rm_vip_good_flow",
      "INSERT INTO t_rm_vip_good_flow(vgf_branch_no,vgf_vip_no,vgf_flag,vgf_item_no,vgf_item_num,"
      "vgf_vip_num,vgf_oper,vgf_date,memo) SELECT @branch,card_id,(CASE WHEN (acc_num-dec_num)>0 "
      "THEN '3' ELSE '1' END),'',0,abs(acc_num-dec_num),'1001'," +
          now + ",'数据导入' FROM t_rm_vip_info WHERE (acc_num-dec_num)<>0",
      "INSERT INTO t_rm_vip_consume(card_id,branch_no,vip_cur_acc_amount,vip_acc_amount,"
      "vip_minus_total,com_flag) SELECT card_id,@branch,acc_num,acc_num,dec_num,'0' FROM "
      "t_rm_vip_info",
      "COMMIT",
      "DELETE FROM t_rm_saving_plus_record",
      "@recharges",
      "COMMIT",
      // Special prices.
      "DELETE FROM t_rm_spec_price",
      "INSERT INTO t_rm_spec_price(branch_no,item_no,special_type,old_price,spe_price,discount,"
      "sale_qty,sold_qty,start_date,end_date,other1,other2,other3) SELECT branch_no,item_no,"
      "special_type,old_price,spe_price,discount,sale_qnty,sold_qnty,start_date,end_date,other1,"
      "other2,other3 FROM dravik_pro.pos_t_spec_price WHERE special_type='2'",
      "COMMIT",
      // Cashiers.
      "DELETE FROM t_rm_cashier WHERE cashier_id<>'9999'",
      "INSERT INTO t_rm_cashier(cashier_id,cashier_name,cashier_pw,cashier_grant,cashier_status,"
      "discount_rate) SELECT cashier_id,cashier_name,cashier_id,'00000000000000000',"
      "cashier_status,1 FROM dravik_pro.pos_t_cashier",
      "COMMIT",
      // Opening stock.
      "DELETE FROM t_im_flow",
      "DELETE FROM t_im_branch_stock",
      "INSERT INTO t_im_flow(voucher_no,oper_date,item_no,real_qty,price,sheet_amt,branch_no,"
      "d_branch_no,trans_no,db_no,supcust_no,sale_way,oper_id) SELECT 'PD'," +
          now +
          ",a.item_no,ifnull(abs(a.stock_qty),0),ifnull(a.cost_price,0),"
          "ifnull(abs(a.stock_qty),0)*ifnull(a.cost_price,0),'0001','','PD',CASE WHEN "
          "a.stock_qty<0 THEN '-' ELSE '+' END,b.sup_no,'A','1001' FROM "
          "dravik_pro.ic_t_branch_stock a, dravik_pro.bi_t_item_info b WHERE a.item_no=b.item_no "
          "AND a.branch_no='00'",
      "COMMIT",
      // The driver's branch prices, then the triggers back on.
      "INSERT INTO t_pc_branch_price (branch_no,item_no,supcust_no,sale_way,price,base_price,"
      "sale_price,vip_price,sup_ly_rate,branch_price,branch_sale,item_stock,base_price1,"
      "base_price2,base_price3,base_price4,status) SELECT b.branch_no,a.item_no,a.main_supcust,"
      "a.item_sup_flag,(CASE trade_type WHEN '2' THEN a.trans_price ELSE a.price END),"
      "a.base_price,a.sale_price,a.vip_price,a.sup_ly_rate,a.branch_price,'1',a.item_stock,"
      "a.base_price1,a.base_price2,a.base_price3,a.base_price4,a.status FROM t_bd_item_info a, "
      "t_bd_branch_info b WHERE b.property IN ('0','1') AND NOT EXISTS (SELECT 1 FROM "
      "t_pc_branch_price c WHERE c.branch_no=b.branch_no AND c.item_no=a.item_no)",
      "COMMIT",
      "DELETE FROM tsql_trigger_off",
      "COMMIT",
  };
}

// A prepared statement of the floor, reset after every use.
class Prepared {
 public:
  Prepared(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      std::printf("error prepare: %s in %s\n", sqlite3_errmsg(db), sql.c_str());
      std::exit(1);
    }
  }
  ~Prepared() { sqlite3_finalize(stmt_); }
  Prepared(const Prepared&) = delete;
  Prepared& operator=(const Prepared&) = delete;

  Prepared& bind(int index, const std::optional<std::string>& value) {
    if (value) {
      sqlite3_bind_text(stmt_, index, value->c_str(), static_cast<int>(value->size()),
                        SQLITE_TRANSIENT);
    } else {
      sqlite3_bind_null(stmt_, index);
    }
    return *this;
  }
  // Steps once: true on a row.
  bool step() { return sqlite3_step(stmt_) == SQLITE_ROW; }
  // Runs a statement without rows and resets it; returns the changes.
  int run(sqlite3* db) {
    const int rc = sqlite3_step(stmt_);
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE) {
      std::printf("error step: %s\n", sqlite3_errmsg(db));
      std::exit(1);
    }
    return sqlite3_changes(db);
  }
  std::optional<std::string> text(int column) {
    if (sqlite3_column_type(stmt_, column) == SQLITE_NULL) {
      return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column)));
  }
  void reset() { sqlite3_reset(stmt_); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

std::string successor(const std::string& code) {
  long long n = 0;
  bool numeric = !code.empty();
  for (char c : code) {
    numeric = numeric && c >= '0' && c <= '9';
  }
  if (numeric) {
    n = std::stoll(code);
  }
  const std::string digits = "000000" + std::to_string(n + 1);
  return digits.substr(digits.size() - 6);
}

// The class renumbering: long codes moved to free six-character codes under
// their four-character prefix, with the items that point at them.
void renumberClasses(sqlite3* db, std::uint64_t& statements) {
  std::vector<std::string> longCodes;
  {
    Prepared list(db, "SELECT item_clsno FROM t_bd_item_cls WHERE length(rtrim(item_clsno))>6");
    ++statements;
    while (list.step()) {
      longCodes.push_back(*list.text(0));
    }
  }
  Prepared maxUnder(db,
                    "SELECT max(item_clsno) FROM t_bd_item_cls WHERE substr(item_clsno,1,4)="
                    "substr(?,1,4) AND length(rtrim(item_clsno))=6");
  Prepared probe(db, "SELECT 1 FROM t_bd_item_cls WHERE item_clsno=? LIMIT 1");
  Prepared rename(db, "UPDATE t_bd_item_cls SET item_clsno=? WHERE item_clsno=?");
  Prepared move(db, "UPDATE t_bd_item_info SET item_clsno=? WHERE item_clsno=?");
  auto largest = [&](const std::string& code) {
    maxUnder.bind(1, code);
    ++statements;
    std::optional<std::string> found = maxUnder.step() ? maxUnder.text(0) : std::nullopt;
    maxUnder.reset();
    return found.value_or("");
  };
  for (const auto& code : longCodes) {
    std::string next = largest(code);
    if (next.empty()) {
      next = code.substr(0, 6);
    } else {
      next = successor(next);
      while (next.size() >= 2 && next.substr(next.size() - 2) == "00") {
        const std::string temp = largest(next);
        next = temp.empty() ? successor(next) : successor(temp);
      }
    }
    probe.bind(1, next);
    ++statements;
    const bool taken = probe.step();
    probe.reset();
    if (taken) {
      continue;
    }
    statements += 2;
    rename.bind(1, next).bind(2, code).run(db);
    move.bind(1, next).bind(2, code).run(db);
  }
}

void encipherBalances(sqlite3* db, std::uint64_t& statements) {
  Prepared cards(db, "SELECT card_id, card_balance FROM dravik_pro.pos_t_vip_info");
  Prepared update(db, "UPDATE t_rm_vip_info SET residual_amt=? WHERE card_id=?");
  ++statements;
  while (cards.step()) {
    const auto id = cards.text(0);
    const auto amount = cards.text(1);
    const auto scaled = amount ? cvt::timesTenThousand(*amount) : std::nullopt;
    update.bind(1, cvt::of_str_encrypt(scaled)).bind(2, id).run(db);
    ++statements;
  }
}

void generateRecharges(sqlite3* db, const std::string& branch, std::uint64_t& statements) {
  Prepared cards(db,
                 "SELECT card_id, residual_amt FROM t_rm_vip_info WHERE card_type IN ('02','03')");
  Prepared insert(db,
                  "INSERT INTO t_rm_saving_plus_record(card_id,plus_count,oper_id,oper_date,"
                  "old_count,branch_no,other1,plus_real_count) VALUES (?1,?2,'1001'," +
                      std::string(kNow) + ",0,?3,'数据转入',?2)");
  ++statements;
  while (cards.step()) {
    const auto plus = cvt::divideByTenThousand(cvt::wf_str_decrypt(cards.text(1)));
    if (!plus || cvt::compareWithZero(*plus).value_or(0) == 0) {
      continue;
    }
    insert.bind(1, cards.text(0)).bind(2, plus).bind(3, branch).run(db);
    ++statements;
  }
}

int runFloor(const std::string& folder) {
  sqlite3* db = nullptr;
  const std::string target = folder + "/tillexv8.db";
  if (sqlite3_open_v2(target.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    std::printf("error open %s\n", target.c_str());
    return 3;
  }
  // The tables declare the TSQL collation; the T-SQL functions come along
  // but the statements above use SQLite's own.
  cvt::registerTsqlFunctions(db);
  auto exec = [&](const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      std::printf("error %s in %s\n", message != nullptr ? message : "?", sql.c_str());
      std::exit(1);
    }
  };
  exec("ATTACH DATABASE '" + folder + "/dravik_pro.db' AS dravik_pro");

  std::string branch = "00";
  {
    Prepared q(db,
               "SELECT trim(sys_var_value,' ') FROM t_sys_system WHERE sys_var_id='g_branch_no'");
    if (q.step()) {
      branch = q.text(0).value_or("");
    }
    if (branch.empty()) {
      branch = "00";
    }
  }
  std::uint64_t statements = 1;
  bool open = false;
  for (std::string sql : floorScript()) {
    if (sql == "COMMIT") {
      if (open) {
        exec("COMMIT");
        open = false;
      }
      continue;
    }
    if (!open) {
      exec("BEGIN");
      open = true;
    }
    if (sql == "@classes") {
      renumberClasses(db, statements);
    } else if (sql == "@balances") {
      encipherBalances(db, statements);
    } else if (sql == "@recharges") {
      generateRecharges(db, branch, statements);
    } else {
      for (auto at = sql.find("@branch"); at != std::string::npos; at = sql.find("@branch")) {
        sql.replace(at, 7, "'" + branch + "'");
      }
      exec(sql);
      ++statements;
    }
  }
  sqlite3_close(db);
  std::printf("statements %llu\n", static_cast<unsigned long long>(statements));
  std::printf("outcome completed\n");
  return 0;
}

// --- the benchmark ----------------------------------------------------------

struct ChildRun {
  double seconds = 0;
  double peakMiB = 0;
  int status = -1;
  std::map<std::string, std::string> facts;  // "statements", "outcome", ...
  std::string output;
};

// Runs this program again with `mode` and `folder` and measures the child:
// wall time from fork to exit, and its peak resident memory from wait4.
// POSIX only (fork, exec, wait4).
ChildRun runChild(const std::string& self, const char* mode, const std::string& folder) {
  ChildRun run;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) {
    return run;
  }
  // Writes still pending from generating or copying the data would
  // otherwise land in the middle of the measured run.
  sync();
  const benchutil::Stopwatch watch;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execl(self.c_str(), self.c_str(), mode, folder.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeFds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = watch.seconds();
  run.peakMiB = benchutil::peakMiB(usage);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::istringstream lines(run.output);
  std::string line;
  while (std::getline(lines, line)) {
    const auto space = line.find(' ');
    if (space != std::string::npos) {
      run.facts[line.substr(0, space)] = line.substr(space + 1);
    }
  }
  return run;
}

// Rows of the expected tables that differ from the manifest ("" when none).
std::string differences(const std::string& folder, const cvt::DemoManifest& manifest) {
  std::vector<cvt::CountCheck> checks;
  std::string error;
  if (!cvt::checkDemo(folder, manifest, checks, error)) {
    return error;
  }
  std::string out;
  for (const auto& c : checks) {
    if (!c.matches()) {
      out += " " + c.table + " " + std::to_string(c.actual) + "/" + std::to_string(c.expected);
    }
  }
  return out;
}

struct Row {
  long multiple = 0;
  cvt::DemoSizes sizes;
  double generateSeconds = 0;
  ChildRun tool;
  ChildRun floor;
  std::string toolDiff;
  std::string floorDiff;
};

void copyDatabase(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

int bench(long base, const std::vector<long>& multiples, const fs::path& work, bool keep) {
  const std::string self = fs::canonical("/proc/self/exe").string();
  std::vector<Row> rows;
  for (long multiple : multiples) {
    Row row;
    row.multiple = multiple;
    const long scale = base * multiple;
    row.sizes = cvt::demoSizes(scale);
    const fs::path toolDir = work / ("x" + std::to_string(multiple) + "-tool");
    const fs::path floorDir = work / ("x" + std::to_string(multiple) + "-floor");
    fs::create_directories(toolDir);
    fs::create_directories(floorDir);

    std::fprintf(stderr, "x%ld: generating %ld items, %ld cards, %ld stock rows...\n", multiple,
                 row.sizes.items, row.sizes.cards, row.sizes.stockRows);
    const benchutil::Stopwatch generating;
    cvt::DemoOptions options;
    options.folder = toolDir.string();
    options.scale = scale;
    options.seed = 1;
    options.withStd = false;  // the conversion reads dravik_pro only
    const cvt::DemoResult generated = cvt::generateDemo(options);
    if (!generated.ok) {
      std::fprintf(stderr, "generation failed: %s\n", generated.error.c_str());
      return 1;
    }
    row.generateSeconds = generating.seconds();
    for (const char* name : {"tillexv8.db", "dravik_pro.db"}) {
      copyDatabase(toolDir / name, floorDir / name);
    }

    std::fprintf(stderr, "x%ld: floor...\n", multiple);
    row.floor = runChild(self, "--floor", floorDir.string());
    std::fprintf(stderr, "x%ld: tool...\n", multiple);
    row.tool = runChild(self, "--tool", toolDir.string());
    row.toolDiff = differences(toolDir.string(), generated.manifest);
    row.floorDiff = differences(floorDir.string(), generated.manifest);
    if (row.tool.status != 0 || row.floor.status != 0) {
      std::fprintf(stderr, "x%ld: tool exit %d, floor exit %d\n%s%s", multiple, row.tool.status,
                   row.floor.status, row.tool.output.c_str(), row.floor.output.c_str());
    }
    rows.push_back(row);
    if (!keep) {
      fs::remove_all(toolDir);
      fs::remove_all(floorDir);
    }
  }

  std::printf(
      "\nEnd-to-end conversion of every category from dravik_pro (scale 1x = %ld demo units)\n\n",
      base);
  std::printf("%-5s %8s %8s %7s | %8s %8s %10s | %8s %8s %8s | %6s | %s\n", "scale", "items",
              "cards", "stock", "tool s", "peak MB", "stmts", "floor s", "peak MB", "stmts",
              "tool/fl", "rows");
  bool allGood = true;
  for (const auto& r : rows) {
    const bool good =
        r.tool.status == 0 && r.floor.status == 0 && r.toolDiff.empty() && r.floorDiff.empty();
    allGood = allGood && good;
    std::printf(
        "%-5s %8ld %8ld %7ld | %8.2f %8.1f %10s | %8.2f %8.1f %8s | %6.2f | %s\n",
        ("x" + std::to_string(r.multiple)).c_str(), r.sizes.items, r.sizes.cards, r.sizes.stockRows,
        r.tool.seconds, r.tool.peakMiB,
        r.tool.facts.count("statements") ? r.tool.facts.at("statements").c_str() : "?",
        r.floor.seconds, r.floor.peakMiB,
        r.floor.facts.count("statements") ? r.floor.facts.at("statements").c_str() : "?",
        r.floor.seconds > 0 ? r.tool.seconds / r.floor.seconds : 0.0,
        good ? "as generated" : ("DIFFER tool:" + r.toolDiff + " floor:" + r.floorDiff).c_str());
  }
  if (!rows.empty()) {
    const Row& first = rows.front();
    std::printf("\nGrowth against x%ld (time ratio / data ratio; 1.00 is linear):\n",
                first.multiple);
    for (const auto& r : rows) {
      const double data = static_cast<double>(r.multiple) / static_cast<double>(first.multiple);
      std::printf("  x%-4ld tool %6.2fx time (%.2f)   floor %6.2fx time (%.2f)\n", r.multiple,
                  r.tool.seconds / first.tool.seconds, r.tool.seconds / first.tool.seconds / data,
                  r.floor.seconds / first.floor.seconds,
                  r.floor.seconds / first.floor.seconds / data);
    }
    std::printf("\nGeneration time (not measured above):");
    for (const auto& r : rows) {
      std::printf(" x%ld %.1f s", r.multiple, r.generateSeconds);
    }
    std::printf("\n");
  }
  return allGood ? 0 : 1;
}

std::optional<std::vector<long>> parseList(const std::string& text) {
  std::vector<long> out;
  std::istringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    const long v = std::strtol(item.c_str(), &end, 10);
    if (item.empty() || *end != '\0' || v < 1) {
      return std::nullopt;
    }
    out.push_back(v);
  }
  if (out.empty()) {
    return std::nullopt;
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 2 && args[0] == "--tool") {
    return runTool(args[1]);
  }
  if (args.size() == 2 && args[0] == "--floor") {
    return runFloor(args[1]);
  }
  long base = 50;
  std::vector<long> multiples = {1, 4, 16};
  fs::path work = fs::temp_directory_path() / "convert-e2e-bench";
  bool keep = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--base" && hasValue) {
      base = std::strtol(args[++i].c_str(), nullptr, 10);
    } else if (args[i] == "--scales" && hasValue) {
      const auto list = parseList(args[++i]);
      if (!list) {
        std::fprintf(stderr, "e2e_bench: --scales wants a comma list of whole numbers\n");
        return 2;
      }
      multiples = *list;
    } else if (args[i] == "--work" && hasValue) {
      work = args[++i];
    } else if (args[i] == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: e2e_bench [--base UNITS] [--scales 1,4,16] [--work DIR] [--keep]\n");
      return 2;
    }
  }
  if (base < 1) {
    std::fprintf(stderr, "e2e_bench: --base must be at least 1\n");
    return 2;
  }
  return bench(base, multiples, work, keep);
}
