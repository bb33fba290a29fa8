// e2e_bench: the end-to-end benchmark. For each scale it generates the demo
// data, runs a full conversion of every category from dravik_pro with the
// tool, and runs the same transformation as the leanest SQLite execution
// on a fresh copy of the same data (the floor). It prints wall time, peak
// memory and statements of both, the ratio tool / floor, how time grows
// with scale and where each side's time goes by step; it checks that both
// left the rows that the generated data calls for and that every table of
// the two target databases holds the same rows.
//
//   e2e_bench [--base UNITS] [--scales 1,4,16] [--work DIR] [--repeat N] [--callgrind] [--keep]
//   e2e_bench --odbc [--base UNITS] [--work DIR] [--keep]
//
// --odbc runs the conversion at 1x once through the ODBC backend (unixODBC,
// the SQLite3 ODBC driver and the T-SQL extension built beside this
// program) and once embedded, compares their targets and reports the
// member cards' round trips.
//
// --callgrind also runs floor and tool once more under callgrind and
// prints the instructions of every step, which do not move with load.
//
// One scale of 1 is UNITS demo scale units (default 50: 50k items, 100k
// member cards, 20k stock rows, 10 branches). Each conversion runs in a
// child process of its own (this program again, with --tool DIR or
// --floor DIR), so that its wall time and peak memory are its own. With
// --repeat N floor and tool take N turns each on fresh copies; the table
// shows medians, and the ratio is the median of the turns' ratios.
//
// The tool's side is the conversion as the batch command runs it: the
// embedded session, the run driver and the nine steps, with a front end that
// draws nothing. The floor's side is described where it is built below.

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/run_driver.h"
#include "bench_util.h"
#include "db/session.h"
#include "db/sqlite/ext/tsql_parts.h"
#include "db/sqlite/sqlite_session.h"
#include "db/sqlite/tsql_functions.h"
#include "demo/generator.h"
#include "members/balance_cipher.h"
#include "members/decimal_text.h"

namespace {

namespace fs = std::filesystem;

// --- the tool's side --------------------------------------------------------

class QuietUi final : public cvt::RunUi {
 public:
  explicit QuietUi(const cvt::Session& session) : session_(session) {}
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
  // Round trips of each step: the session's count at its end, less the
  // count at the end of the step before.
  void stepFinished(const std::string& category, bool, long long, double) override {
    const std::uint64_t now = session_.roundTrips();
    roundTrips.emplace_back(category, now - lastCount_);
    lastCount_ = now;
  }
  void start() { lastCount_ = session_.roundTrips(); }

  std::vector<std::string> messages;
  std::vector<std::pair<std::string, std::uint64_t>> roundTrips;

 private:
  const cvt::Session& session_;
  std::uint64_t lastCount_ = 0;
};

// The loadable T-SQL extension built beside this program.
std::string extensionBesideSelf() {
  return (fs::canonical("/proc/self/exe").parent_path() / "libtsqlext.so").string();
}

constexpr const char* kSqliteOdbcDriver = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// The tool's conversion on `folder`, through the embedded backend or, with
// `throughOdbc`, through the ODBC backend with the SQLite3 ODBC driver.
int runTool(const std::string& folder, bool throughOdbc) {
  auto SQLCA = cvt::makeSession(throughOdbc ? "ODBC" : "SQLite");
  SQLCA->settings.DBMS = throughOdbc ? "ODBC" : "SQLite";
  SQLCA->settings.ServerName = folder;
  SQLCA->settings.Database = "tillexv8";
  SQLCA->settings.LogId = "sa";
  if (throughOdbc) {
    SQLCA->settings.DBParm =
        std::string("Driver='") + kSqliteOdbcDriver + "',LoadExt='" + extensionBesideSelf() + "'";
  }
  if (SQLCA->connect() != 0) {
    std::printf("error connect: %s\n", SQLCA->SQLErrText().c_str());
    return 3;
  }
  QuietUi ui(*SQLCA);
  cvt::RunChoice choice;
  choice.rb_1 = true;
  choice.ticked.fill(true);
  const benchutil::Stopwatch started;
  ui.start();
  const cvt::RunReport report = cvt::runConversion(*SQLCA, ui, choice);
  cvt::closeSession(*SQLCA);
  const double total = started.seconds();
  const bool completed = report.outcome == cvt::RunOutcome::Completed && !report.branchPriceFailed;
  std::printf("statements %llu\n", static_cast<unsigned long long>(SQLCA->statementsExecuted()));
  std::printf("roundtrips %llu\n", static_cast<unsigned long long>(SQLCA->roundTrips()));
  for (const auto& [category, count] : ui.roundTrips) {
    std::printf("trips.%s %llu\n", category.c_str(), static_cast<unsigned long long>(count));
  }
  // Where the time goes: each step, and the driver's own work (triggers,
  // branch prices, the close sequence) as the rest.
  std::printf("run %.3f\n", total);
  double steps = 0;
  for (const auto& step : report.steps) {
    std::printf("step.%s %.3f\n", step.category.c_str(), step.seconds);
    steps += step.seconds;
  }
  std::printf("step.driver %.3f\n", total - steps);
  std::printf("outcome %s\n", completed ? "completed" : "failed");
  for (const auto& m : ui.messages) {
    std::printf("message %s\n", m.c_str());
  }
  return completed ? 0 : 1;
}

// --- the floor's side -------------------------------------------------------
//
// The floor is the leanest SQLite execution of the same conversion: every
// category's work as set-based statements in SQLite's own dialect, on a
// connection with the same journal, sync and page-cache settings as the
// embedded session, committed where the run commits (a step's commits and
// the driver's), so that both write the same transactions to the log and
// meet its checkpoints at the same points. Datetimes copied from the sources
// are brought to the stored form of a datetime as the session's fitting
// does. The balances are enciphered and the recharge amounts deciphered by
// registered functions inside single statements. Only the class renumbering
// stays a loop, because every new code depends on the codes given before it.

constexpr const char* kNow = "strftime('%Y-%m-%d %H:%M:%f','now','localtime')";

// Markers among a category's statements: "@commit" ends the open
// transaction where the run commits; "@classes" stands for the class
// renumbering loop. A transaction opens before the first statement after a
// commit, as the session opens one.
constexpr const char* kCommitHere = "@commit";
constexpr const char* kRenumberClassesHere = "@classes";

struct FloorCategory {
  std::string key;  // the run driver's step key; "driver" for its own work
  std::vector<std::string> statements;
};

std::vector<FloorCategory> floorScript(const std::string& branch) {
  const std::string now = kNow;
  const std::string branchLiteral = "'" + branch + "'";
  return {
      // The driver suspends the triggers of eight tables.
      {"driver",
       {"INSERT OR IGNORE INTO tsql_trigger_off(table_name) VALUES ('t_bd_item_info'),"
        "('t_bd_item_cls'),('t_bd_base_code'),('t_bd_supcust_info'),('t_rm_vip_info'),"
        "('t_rm_spec_price'),('t_rm_saleflow'),('t_rm_payflow')"}},  // pending, as in the run
      {"item",
       {"DELETE FROM t_bd_item_info",
        "INSERT INTO t_bd_item_info (item_no,item_subno,item_name,item_subname,item_clsno,"
        "item_brand,item_brandname,unit_no,item_size,product_area,price,base_price,sale_price,"
        "combine_sta,status,display_flag,other1,other2,other3,num1,num2,main_supcust,"
        "item_sup_flag,sup_ly_rate,vip_price,dpfm_type,vip_acc_flag,num3) SELECT item_no,"
        "ifnull(item_subno,'0'),item_name,item_subname,item_clsno,item_brand,item_brandname,"
        "unit_no,item_size,product_area,ifnull(price,0),ifnull(base_price,0),"
        "ifnull(sale_price,0),combine_sta,status,display_flag,other1,other2,other3,num1,num2,"
        "CASE WHEN sup_no IS NULL THEN '0' WHEN length(rtrim(sup_no))>8 THEN '0' ELSE sup_no "
        "END,'A',ly_deduct,vip_price,'0','0',(CASE flag2 WHEN 'Z' THEN 1 WHEN 'J' THEN 2 ELSE 0 "
        "END) FROM dravik_pro.bi_t_item_info",
        kCommitHere,
        "UPDATE t_bd_item_info SET other2=item_subno,item_subno=item_no WHERE num3 IN (1,2)",
        "UPDATE t_bd_item_info SET item_brand=substr(rtrim(item_brand),-4) WHERE "
        "item_brand<'9999' AND length(rtrim(item_brand))=5",
        kCommitHere}},
      {"cls",
       {"DELETE FROM t_bd_item_cls WHERE item_clsno<>'LB'",
        "INSERT INTO t_bd_item_cls (display_flag,item_clsname,item_clsno,item_flag) SELECT "
        "display_flag,item_clsname,item_clsno,item_flag FROM dravik_pro.bi_t_item_cls WHERE "
        "item_flag='0'",
        kCommitHere, kRenumberClassesHere,
        "UPDATE t_bd_item_cls SET cls_parent=substr(item_clsno,1,length(rtrim(item_clsno))-2)",
        kCommitHere}},
      {"pp",
       {"DELETE FROM t_bd_base_code WHERE type_no='PP' AND code_id<>'PP'",
        "INSERT INTO t_bd_base_code(type_no,code_id,code_name,english_name,code_type) SELECT "
        "'PP',substr(rtrim(item_clsno),-4),item_clsname,'','品牌' FROM "
        "dravik_pro.bi_t_item_cls WHERE item_flag='1' AND item_clsno<'9999' AND "
        "length(rtrim(item_clsno))=5",
        kCommitHere}},
      {"region",
       {"DELETE FROM t_bd_base_code WHERE type_no='RG'",
        "INSERT INTO t_bd_base_code(type_no,code_id,code_name) SELECT 'RG',substr(region_no,1,4),"
        "region_name FROM dravik_pro.bi_t_region_info",
        kCommitHere}},
      {"supcust",
       {"DELETE FROM t_bd_supcust_info WHERE supcust_flag IN ('S','C') AND supcust_no<>'0'",
        "DELETE FROM t_bd_cust_type",
        "INSERT INTO t_bd_cust_type(type_id,type_name,oper_date,oper_id) VALUES ('exp','exp'," +
            now + ",'1001')",
        // The repairs of way of sale, region and check-out flag: on the
        // rows that the clearing spared, then as the new rows go in.
        "UPDATE t_bd_supcust_info SET check_out_flag='0',region_no=substr(region_no,1,4),"
        "sale_way=CASE WHEN sup_name LIKE '%联营%' THEN 'C' WHEN sup_name LIKE '%代销%' THEN 'B' "
        "ELSE sale_way END",
        "INSERT INTO t_bd_supcust_info(check_out_date,check_out_day,check_out_flag,credit_amt,"
        "display_flag,other1,other2,other3,region_no,sup_acct_back,sup_acct_no,sup_addr,"
        "sup_email,sup_fax,sup_man,sup_name,sup_tax_no,sup_tel,sup_type,supcust_flag,supcust_no,"
        "zip,sale_way) SELECT tsql_fit_datetime(check_out_date),check_out_day,'0',credit_amt,"
        "display_flag,other1,"
        "other2,other3,substr(region_no,1,4),sup_acct_back,sup_acct_no,sup_addr,sup_email,"
        "sup_fax,sup_man,sup_name,sup_tax_no,sup_tel,sup_type,supcust_flag,supcust_no,zip,CASE "
        "WHEN sup_name LIKE '%联营%' THEN 'C' WHEN sup_name LIKE '%代销%' THEN 'B' ELSE 'A' END "
        "FROM dravik_pro.bi_t_supcust_info",
        "UPDATE t_bd_item_info SET item_sup_flag=s.sale_way FROM t_bd_supcust_info s WHERE "
        "t_bd_item_info.main_supcust=s.supcust_no AND s.sale_way<>'A'",
        "UPDATE t_bd_supcust_info SET settle_branch='00' WHERE length(rtrim(settle_branch))<>2 "
        "OR (length(rtrim(settle_branch))=2 AND NOT EXISTS (SELECT 1 FROM t_bd_branch_info "
        "WHERE branch_no=settle_branch))",
        kCommitHere}},
      {"vip",
       {"DELETE FROM t_rm_vip_type",
        "INSERT INTO t_rm_vip_type(type_id,type_name,sale_way,discount,memo,oper_id,oper_date) "
        "SELECT type_id,type_name,sale_way,discount,memo,oper_id,tsql_fit_datetime(oper_date) FROM "
        "dravik_pro.pos_t_vip_type",
        "DELETE FROM t_rm_vip_info",
        // The cards go in with their plain balances, which the next
        // statement enciphers, as the cards' own commit point requires.
        "INSERT INTO t_rm_vip_info (card_id,card_status,card_type,oper_date,oper_id,other1,"
        "other2,other3,vip_add,vip_email,vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax,"
        "vip_tel,vip_zip,residual_amt,consum_amt,acc_num,dec_num,use_num,consum_count) SELECT "
        "card_id,card_status,card_type,tsql_fit_datetime(oper_date),oper_id,other1,other2,other3,"
        "vip_add,vip_email,tsql_fit_datetime(vip_end_date),vip_name,vip_sex,"
        "tsql_fit_datetime(vip_start_date),vip_tax,vip_tel,vip_zip,"
        "floor_balance_text(card_balance),vip_cons_amount,total_integral,"
        "(total_integral-vip_integral),999999,cons_count FROM dravik_pro.pos_t_vip_info",
        "UPDATE t_rm_vip_info SET residual_amt=s.stored FROM (SELECT card_id,"
        "floor_stored_balance(card_balance) AS stored FROM dravik_pro.pos_t_vip_info) s WHERE "
        "t_rm_vip_info.card_id=s.card_id",
        "DELETE FROM t_rm_vip_consume", "DELETE FROM t_rm_vip_good_flow",
        "INSERT INTO t_rm_vip_good_flow(vgf_branch_no,vgf_vip_no,vgf_flag,vgf_item_no,"
        "vgf_item_num,vgf_vip_num,vgf_oper,vgf_date,memo) SELECT " +
            branchLiteral +
            ",card_id,(CASE WHEN (acc_num-dec_num)>0 THEN '3' ELSE '1' END),'',0,"
            "abs(acc_num-dec_num),'1001'," +
            now + ",'数据导入' FROM t_rm_vip_info WHERE (acc_num-dec_num)<>0",
        "INSERT INTO t_rm_vip_consume(card_id,branch_no,vip_cur_acc_amount,vip_acc_amount,"
        "vip_minus_total,com_flag) SELECT card_id," +
            branchLiteral + ",acc_num,acc_num,dec_num,'0' FROM t_rm_vip_info",
        kCommitHere, "DELETE FROM t_rm_saving_plus_record",
        "INSERT INTO t_rm_saving_plus_record(card_id,plus_count,oper_id,oper_date,old_count,"
        "branch_no,other1,plus_real_count) SELECT card_id,plus,'1001'," +
            now + ",0," + branchLiteral +
            ",'数据转入',plus FROM (SELECT card_id,floor_recharge(residual_amt) AS plus FROM "
            "t_rm_vip_info WHERE card_type IN ('02','03')) WHERE plus IS NOT NULL",
        kCommitHere}},
      {"spec_price",
       {"DELETE FROM t_rm_spec_price",
        "INSERT INTO t_rm_spec_price(branch_no,item_no,special_type,old_price,spe_price,discount,"
        "sale_qty,sold_qty,start_date,end_date,other1,other2,other3) SELECT branch_no,item_no,"
        "special_type,old_price,spe_price,discount,sale_qnty,sold_qnty,tsql_fit_datetime(start_"
        "date),"
        "tsql_fit_datetime(end_date),"
        "other1,other2,other3 FROM dravik_pro.pos_t_spec_price WHERE special_type='2'",
        kCommitHere}},
      {"cashier",
       {"DELETE FROM t_rm_cashier WHERE cashier_id<>'9999'",
        "INSERT INTO t_rm_cashier(cashier_id,cashier_name,cashier_pw,cashier_grant,"
        "cashier_status,discount_rate) SELECT cashier_id,cashier_name,cashier_id,"
        "'00000000000000000',cashier_status,1 FROM dravik_pro.pos_t_cashier",
        kCommitHere}},
      {"stock",
       {"DELETE FROM t_im_flow",
        // Truncate starts the flow numbers again at 1.
        "DELETE FROM sqlite_sequence WHERE name='t_im_flow'", "DELETE FROM t_im_branch_stock",
        "INSERT INTO t_im_flow(voucher_no,oper_date,item_no,real_qty,price,sheet_amt,branch_no,"
        "d_branch_no,trans_no,db_no,supcust_no,sale_way,oper_id) SELECT 'PD'," +
            now +
            ",a.item_no,ifnull(abs(a.stock_qty),0),ifnull(a.cost_price,0),"
            "tsql_fit_decimal(ifnull(abs(a.stock_qty),0)*ifnull(a.cost_price,0),16,4,0),'0001',"
            "'','PD',CASE WHEN "
            "a.stock_qty<0 THEN '-' ELSE '+' END,b.sup_no,'A','1001' FROM "
            "dravik_pro.ic_t_branch_stock a, dravik_pro.bi_t_item_info b WHERE "
            "a.item_no=b.item_no AND a.branch_no='00'",
        kCommitHere}},
      // The driver's branch prices, then the triggers back on.
      {"driver",
       {"INSERT INTO t_pc_branch_price (branch_no,item_no,supcust_no,sale_way,price,base_price,"
        "sale_price,vip_price,sup_ly_rate,branch_price,branch_sale,item_stock,base_price1,"
        "base_price2,base_price3,base_price4,status) SELECT b.branch_no,a.item_no,"
        "a.main_supcust,a.item_sup_flag,(CASE trade_type WHEN '2' THEN a.trans_price ELSE "
        "a.price END),a.base_price,a.sale_price,a.vip_price,a.sup_ly_rate,a.branch_price,'1',"
        "a.item_stock,a.base_price1,a.base_price2,a.base_price3,a.base_price4,a.status FROM "
        "t_bd_item_info a, t_bd_branch_info b WHERE b.property IN ('0','1') AND NOT EXISTS "
        "(SELECT 1 FROM t_pc_branch_price c WHERE c.branch_no=b.branch_no AND "
        "c.item_no=a.item_no)",
        kCommitHere,
        // The close sequence: the triggers back on, committed.
        "DELETE FROM tsql_trigger_off", kCommitHere}},
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
  sqlite3_stmt* handle() { return stmt_; }

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

// A column value as the embedded session hands it to the tool: integers and
// texts as they are, reals in the session's shortest exact form.
std::optional<std::string> sessionText(sqlite3_value* value) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return std::nullopt;
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(value));
    case SQLITE_FLOAT:
      return cvt::tsql_impl::formatReal(sqlite3_value_double(value));
    default:
      return std::string(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                         static_cast<std::size_t>(sqlite3_value_bytes(value)));
  }
}

void resultText(sqlite3_context* context, const std::optional<std::string>& text) {
  if (text) {
    sqlite3_result_text64(context, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else {
    sqlite3_result_null(context);
  }
}

// floor_balance_text(card_balance): the balance as text, as the cards'
// insert converts it.
void floorBalanceText(sqlite3_context* context, int, sqlite3_value** argv) {
  const auto text = sessionText(argv[0]);
  resultText(context, text ? cvt::normalizeDecimal(*text) : std::nullopt);
}

// floor_stored_balance(card_balance): the balance x 10000, enciphered; ''
// for a null balance. A balance that is not a number stops the floor, as it
// stops the tool's balance phase.
void floorStoredBalance(sqlite3_context* context, int, sqlite3_value** argv) {
  const auto text = sessionText(argv[0]);
  std::optional<std::string> scaled;
  if (text) {
    scaled = cvt::timesTenThousand(*text);
    if (!scaled) {
      sqlite3_result_error(context, "balance is not a number", -1);
      return;
    }
  }
  resultText(context, cvt::of_str_encrypt(scaled));
}

// floor_recharge(residual_amt): the deciphered amount in currency units, or
// null when it is zero or not a number (no recharge record).
void floorRecharge(sqlite3_context* context, int, sqlite3_value** argv) {
  const auto plus = cvt::divideByTenThousand(cvt::wf_str_decrypt(sessionText(argv[0])));
  if (!plus || cvt::compareWithZero(*plus).value_or(0) == 0) {
    sqlite3_result_null(context);
    return;
  }
  resultText(context, plus);
}

void registerFloorFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "floor_balance_text", 1, flags, nullptr, floorBalanceText, nullptr,
                          nullptr);
  sqlite3_create_function(db, "floor_stored_balance", 1, flags, nullptr, floorStoredBalance,
                          nullptr, nullptr);
  sqlite3_create_function(db, "floor_recharge", 1, flags, nullptr, floorRecharge, nullptr, nullptr);
}

// Runs one statement of the floor; any failure stops the floor.
void floorExec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::printf("error %s in %s\n", message != nullptr ? message : "?", sql.c_str());
    std::exit(1);
  }
}

// One category of the floor. Kept out of line so that a profiler can cut
// the floor's cost at the categories (callgrind --dump-before), as it cuts
// the tool's at its steps.
[[gnu::noinline]] void runFloorCategory(sqlite3* db, const FloorCategory& category,
                                        std::uint64_t& statements) {
  for (const std::string& sql : category.statements) {
    if (sql == kCommitHere) {
      if (sqlite3_get_autocommit(db) == 0) {
        floorExec(db, "COMMIT");
      }
      continue;
    }
    if (sqlite3_get_autocommit(db) != 0) {
      floorExec(db, "BEGIN");
    }
    if (sql == kRenumberClassesHere) {
      renumberClasses(db, statements);
    } else {
      floorExec(db, sql);
      ++statements;
    }
  }
}

int runFloor(const std::string& folder) {
  sqlite3* db = nullptr;
  const std::string target = folder + "/tillexv8.db";
  // Opened as the embedded session opens its connection.
  if (sqlite3_open_v2(target.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    std::printf("error open %s\n", target.c_str());
    return 3;
  }
  const auto exec = [db](const std::string& sql) { floorExec(db, sql); };
  // The tables declare the TSQL collation, which comes with the T-SQL
  // functions; the statements use SQLite's own functions otherwise.
  cvt::registerTsqlFunctions(db);
  registerFloorFunctions(db);
  exec(cvt::embeddedConnectionSettings());
  exec("ATTACH DATABASE '" + folder + "/dravik_pro.db' AS dravik_pro");

  const benchutil::Stopwatch started;
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
  std::map<std::string, double> seconds;
  for (const FloorCategory& category : floorScript(branch)) {
    const benchutil::Stopwatch start;
    runFloorCategory(db, category, statements);
    seconds[category.key] += start.seconds();
  }
  // The close checkpoints the log into the database, as the tool's close
  // of its session does; it is the driver's work on both sides.
  const benchutil::Stopwatch closing;
  sqlite3_close(db);
  seconds["driver"] += closing.seconds();
  const double total = started.seconds();
  std::printf("statements %llu\n", static_cast<unsigned long long>(statements));
  std::printf("run %.3f\n", total);
  for (const auto& [key, s] : seconds) {
    std::printf("step.%s %.3f\n", key.c_str(), s);
  }
  std::printf("outcome completed\n");
  return 0;
}

// --- comparing the target tables ---------------------------------------------

// Columns that the conversion fills with the clock (getdate()): only
// whether they are set is compared.
bool isClockColumn(const std::string& table, const std::string& column) {
  static const std::set<std::pair<std::string, std::string>> kClock = {
      {"t_bd_cust_type", "oper_date"},
      {"t_rm_vip_good_flow", "vgf_date"},
      {"t_rm_saving_plus_record", "oper_date"},
      {"t_im_flow", "oper_date"},
  };
  return kClock.count({table, column}) > 0;
}

// A table's rows as a multiset: the count, and the sum and xor of one
// 64-bit hash per row (over each value's type and bytes), so that the same
// rows give the same digest in any order.
struct Digest {
  long long rows = 0;
  std::uint64_t sum = 0;
  std::uint64_t mix = 0;
  bool operator==(const Digest&) const = default;
};

std::uint64_t fnv1a(std::uint64_t hash, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
  }
  return hash;
}

std::uint64_t finalMix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  return x ^ (x >> 33);
}

// Digests of every table of the database file, by table name; "" in
// `error` when all could be read.
std::map<std::string, Digest> tableDigests(const fs::path& file, std::string& error) {
  std::map<std::string, Digest> out;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    error = "cannot open " + file.string();
    sqlite3_close(db);
    return out;
  }
  cvt::registerTsqlFunctions(db);  // the TSQL collation of the tables
  std::vector<std::string> tables;
  {
    Prepared list(db, "SELECT name FROM sqlite_schema WHERE type='table' ORDER BY name");
    while (list.step()) {
      tables.push_back(*list.text(0));
    }
  }
  for (const std::string& table : tables) {
    std::vector<std::string> columns;
    {
      Prepared info(db, "SELECT name FROM pragma_table_info(?)");
      info.bind(1, table);
      while (info.step()) {
        columns.push_back(*info.text(0));
      }
    }
    std::string select;
    for (const std::string& column : columns) {
      select += select.empty() ? "SELECT " : ",";
      select +=
          isClockColumn(table, column) ? "\"" + column + "\" IS NOT NULL" : "\"" + column + "\"";
    }
    Prepared rows(db, select + " FROM \"" + table + "\"");
    Digest digest;
    sqlite3_stmt* stmt = nullptr;
    while (rows.step()) {
      stmt = rows.handle();
      std::uint64_t hash = 0xcbf29ce484222325ULL;
      for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        int type = sqlite3_column_type(stmt, i);
        const void* bytes = type == SQLITE_NULL ? nullptr : sqlite3_column_blob(stmt, i);
        auto size = static_cast<std::size_t>(sqlite3_column_bytes(stmt, i));
        // A decimal kept as a real reads back as its 15 significant digits,
        // and a whole one may be kept as the integer or the real of the
        // same value (30681, or 30680.999999999996 from a floating-point
        // product): digests see the value as the engine reads it.
        std::string readAs;
        if (type == SQLITE_FLOAT) {
          char text[32];
          std::snprintf(text, sizeof text, "%.15g", sqlite3_column_double(stmt, i));
          readAs = text;
          if (readAs.find_first_not_of("-0123456789") == std::string::npos) {
            type = SQLITE_INTEGER;
          }
          bytes = readAs.data();
          size = readAs.size();
        }
        hash = fnv1a(hash, &type, sizeof type);
        hash = fnv1a(hash, &size, sizeof size);
        if (bytes != nullptr) {
          hash = fnv1a(hash, bytes, size);
        }
      }
      hash = finalMix(hash);
      ++digest.rows;
      digest.sum += hash;
      digest.mix ^= hash;
    }
    out[table] = digest;
  }
  sqlite3_close(db);
  return out;
}

// The tables whose contents differ between the two target databases, with
// their row counts ("" when every table holds the same rows).
std::string compareTargets(const fs::path& tool, const fs::path& floor, std::size_t& tables) {
  std::string error;
  const auto a = tableDigests(tool, error);
  const auto b = tableDigests(floor, error);
  if (!error.empty()) {
    return " " + error;
  }
  tables = a.size();
  std::string out;
  std::set<std::string> names;
  for (const auto& [name, digest] : a) {
    names.insert(name);
  }
  for (const auto& [name, digest] : b) {
    names.insert(name);
  }
  for (const std::string& name : names) {
    const auto ia = a.find(name);
    const auto ib = b.find(name);
    if (ia == a.end() || ib == b.end() || !(ia->second == ib->second)) {
      out += " " + name + " " + (ia == a.end() ? "-" : std::to_string(ia->second.rows)) + "/" +
             (ib == b.end() ? "-" : std::to_string(ib->second.rows));
    }
  }
  return out;
}

// --- the benchmark ----------------------------------------------------------

// A measured run of this program in one mode, with the facts it printed
// ("statements", "outcome", ...: one "name value" per line).
struct ChildRun : benchutil::ChildRun {
  std::map<std::string, std::string> facts;
};

// Runs this program again with `mode` and `folder` and measures the child.
ChildRun runChild(const std::string& self, const char* mode, const std::string& folder) {
  ChildRun run;
  static_cast<benchutil::ChildRun&>(run) = benchutil::runProgram({self, mode, folder});
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
  ChildRun tool;                                   // the run of median time
  ChildRun floor;                                  // the run of median time
  double ratio = 0;                                // median of the ratios of the runs taken in turn
  std::map<std::string, double> toolSteps;         // median seconds per step
  std::map<std::string, double> floorSteps;        // median seconds per step
  std::map<std::string, double> toolInstructions;  // by step, under callgrind
  std::map<std::string, double> floorInstructions;  // by step, under callgrind
  std::string toolDiff;
  std::string floorDiff;
  std::string tableDiff;
  std::size_t tables = 0;
};

void copyDatabase(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

double median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The run whose time is the median of `runs`, with the median of every
// step's time in `steps`.
ChildRun medianRun(std::vector<ChildRun> runs, std::map<std::string, double>& steps) {
  std::map<std::string, std::vector<double>> times;
  for (const auto& run : runs) {
    for (const auto& [key, value] : run.facts) {
      if (key.rfind("step.", 0) == 0) {
        times[key.substr(5)].push_back(std::strtod(value.c_str(), nullptr));
      }
    }
  }
  for (const auto& [key, values] : times) {
    steps[key] = median(values);
  }
  std::sort(runs.begin(), runs.end(),
            [](const ChildRun& a, const ChildRun& b) { return a.seconds < b.seconds; });
  return runs[runs.size() / 2];
}

// The steps in the order of the run; "driver" is the driver's own work.
const char* const kStepKeys[] = {"item", "cls",        "pp",      "region", "supcust",
                                 "vip",  "spec_price", "cashier", "stock",  "driver"};

// Instructions of each step of one run of `mode` on `folder` under
// callgrind, which do not move with the machine's load; empty when valgrind
// cannot run. The run is cut into parts where each step begins and ends:
// the tool's at the run driver's start, the first step and the end of
// every step; the floor's at every category. The parts are: connecting,
// the driver's work before the first step, the nine steps, and the
// driver's branch prices and close.
std::map<std::string, double> countInstructions(const std::string& self, const char* mode,
                                                const fs::path& folder) {
  const std::string out = (folder / "callgrind.out").string();
  std::vector<std::string> args = {"valgrind", "--tool=callgrind", "--callgrind-out-file=" + out};
  if (std::string(mode) == "--tool") {
    for (const char* at :
         {"cvt::runConversion*", "cvt::wf_convert_item_info*", "*QuietUi::stepFinished*"}) {
      args.push_back(std::string("--dump-before=") + at);
    }
  } else {
    args.emplace_back("--dump-before=*runFloorCategory*");
  }
  args.insert(args.end(), {self, mode, folder.string()});
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    execvp("valgrind", argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  std::map<std::string, double> steps;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    return steps;
  }
  const auto total = [](const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("totals:", 0) == 0 || line.rfind("summary:", 0) == 0) {
        return std::strtod(line.c_str() + line.find(':') + 1, nullptr);
      }
    }
    return 0.0;
  };
  constexpr std::size_t kParts = 11;  // numbered parts; the last one has no number
  for (std::size_t part = 2; part <= kParts; ++part) {
    const fs::path file = out + "." + std::to_string(part);
    if (!fs::exists(file)) {
      return {};
    }
    steps[part == 2 ? "driver" : kStepKeys[part - 3]] += total(file);
  }
  steps["driver"] += total(out);
  return steps;
}

int bench(long base, const std::vector<long>& multiples, const fs::path& work, bool keep,
          int repeat, bool callgrind) {
  const std::string self = fs::canonical("/proc/self/exe").string();
  std::vector<Row> rows;
  for (long multiple : multiples) {
    Row row;
    row.multiple = multiple;
    const long scale = base * multiple;
    row.sizes = cvt::demoSizes(scale);
    const fs::path dataDir = work / ("x" + std::to_string(multiple) + "-data");
    const fs::path toolDir = work / ("x" + std::to_string(multiple) + "-tool");
    const fs::path floorDir = work / ("x" + std::to_string(multiple) + "-floor");
    fs::create_directories(dataDir);

    std::fprintf(stderr, "x%ld: generating %ld items, %ld cards, %ld stock rows...\n", multiple,
                 row.sizes.items, row.sizes.cards, row.sizes.stockRows);
    const benchutil::Stopwatch generating;
    cvt::DemoOptions options;
    options.folder = dataDir.string();
    options.scale = scale;
    options.seed = 1;
    options.withStd = false;  // the conversion reads dravik_pro only
    const cvt::DemoResult generated = cvt::generateDemo(options);
    if (!generated.ok) {
      std::fprintf(stderr, "generation failed: %s\n", generated.error.c_str());
      return 1;
    }
    row.generateSeconds = generating.seconds();

    // Floor and tool take turns on fresh copies of the same data, so that
    // a change in the machine's load weighs on both alike.
    std::vector<ChildRun> toolRuns;
    std::vector<ChildRun> floorRuns;
    std::vector<double> ratios;
    for (int turn = 0; turn < repeat; ++turn) {
      for (const fs::path& dir : {toolDir, floorDir}) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : {"tillexv8.db", "dravik_pro.db"}) {
          copyDatabase(dataDir / name, dir / name);
        }
      }
      std::fprintf(stderr, "x%ld: floor (%d/%d)...\n", multiple, turn + 1, repeat);
      floorRuns.push_back(runChild(self, "--floor", floorDir.string()));
      std::fprintf(stderr, "x%ld: tool (%d/%d)...\n", multiple, turn + 1, repeat);
      toolRuns.push_back(runChild(self, "--tool", toolDir.string()));
      if (floorRuns.back().seconds > 0) {
        ratios.push_back(toolRuns.back().seconds / floorRuns.back().seconds);
      }
    }
    if (callgrind) {
      for (const fs::path& dir : {toolDir, floorDir}) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const char* name : {"tillexv8.db", "dravik_pro.db"}) {
          copyDatabase(dataDir / name, dir / name);
        }
      }
      std::fprintf(stderr, "x%ld: floor and tool under callgrind...\n", multiple);
      row.floorInstructions = countInstructions(self, "--floor", floorDir);
      row.toolInstructions = countInstructions(self, "--tool", toolDir);
    }
    row.ratio = median(ratios);
    row.tool = medianRun(toolRuns, row.toolSteps);
    row.floor = medianRun(floorRuns, row.floorSteps);
    row.toolDiff = differences(toolDir.string(), generated.manifest);
    row.floorDiff = differences(floorDir.string(), generated.manifest);
    row.tableDiff = compareTargets(toolDir / "tillexv8.db", floorDir / "tillexv8.db", row.tables);
    for (const auto& run : {toolRuns.back(), floorRuns.back()}) {
      if (run.status != 0) {
        std::fprintf(stderr, "x%ld: exit %d\n%s", multiple, run.status, run.output.c_str());
      }
    }
    rows.push_back(row);
    if (!keep) {
      fs::remove_all(dataDir);
      fs::remove_all(toolDir);
      fs::remove_all(floorDir);
    }
  }

  std::printf(
      "\nEnd-to-end conversion of every category from dravik_pro (scale 1x = %ld demo units, "
      "median of %d runs taken in turn)\n\n",
      base, repeat);
  std::printf("%-5s %8s %8s %7s | %8s %8s %10s | %8s %8s %8s | %6s | %s\n", "scale", "items",
              "cards", "stock", "tool s", "peak MB", "stmts", "floor s", "peak MB", "stmts",
              "tool/fl", "rows");
  bool allGood = true;
  for (const auto& r : rows) {
    const bool good = r.tool.status == 0 && r.floor.status == 0 && r.toolDiff.empty() &&
                      r.floorDiff.empty() && r.tableDiff.empty();
    allGood = allGood && good;
    const std::string verdict =
        good ? "as generated, " + std::to_string(r.tables) + " tables identical"
             : "DIFFER tool:" + r.toolDiff + " floor:" + r.floorDiff + " tables:" + r.tableDiff;
    std::printf("%-5s %8ld %8ld %7ld | %8.2f %8.1f %10s | %8.2f %8.1f %8s | %6.2f | %s\n",
                ("x" + std::to_string(r.multiple)).c_str(), r.sizes.items, r.sizes.cards,
                r.sizes.stockRows, r.tool.seconds, r.tool.peakMiB,
                r.tool.facts.count("statements") ? r.tool.facts.at("statements").c_str() : "?",
                r.floor.seconds, r.floor.peakMiB,
                r.floor.facts.count("statements") ? r.floor.facts.at("statements").c_str() : "?",
                r.ratio, verdict.c_str());
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
    std::printf("\nBy step (median seconds; driver = trigger switches, branch prices, close):\n");
    std::printf("  %-11s", "step");
    for (const auto& r : rows) {
      std::printf(" | %7s %7s %6s", ("x" + std::to_string(r.multiple) + " tool").c_str(), "floor",
                  "ratio");
    }
    std::printf("\n");
    for (const char* key : kStepKeys) {
      std::printf("  %-11s", key);
      for (const auto& r : rows) {
        const auto t = r.toolSteps.find(key);
        const auto f = r.floorSteps.find(key);
        const double ts = t == r.toolSteps.end() ? 0 : t->second;
        const double fs = f == r.floorSteps.end() ? 0 : f->second;
        std::printf(" | %7.2f %7.2f %6.2f", ts, fs, fs > 0 ? ts / fs : 0.0);
      }
      std::printf("\n");
    }
    if (callgrind) {
      std::printf("\nBy step under callgrind (millions of instructions, one run each):\n");
      std::printf("  %-11s", "step");
      for (const auto& r : rows) {
        std::printf(" | %9s %9s %6s", ("x" + std::to_string(r.multiple) + " tool").c_str(), "floor",
                    "ratio");
      }
      std::printf("\n");
      for (const char* key : {"item", "cls", "pp", "region", "supcust", "vip", "spec_price",
                              "cashier", "stock", "driver", "total"}) {
        std::printf("  %-11s", key);
        for (const auto& r : rows) {
          const auto count = [key](const std::map<std::string, double>& steps) {
            double sum = 0;
            for (const auto& [step, n] : steps) {
              sum += std::string(key) == "total" || step == key ? n : 0;
            }
            return sum / 1e6;
          };
          const double t = count(r.toolInstructions);
          const double f = count(r.floorInstructions);
          std::printf(" | %9.1f %9.1f %6.3f", t, f, f > 0 ? t / f : 0.0);
        }
        std::printf("\n");
      }
    }
    std::printf("\nGeneration time (not measured above):");
    for (const auto& r : rows) {
      std::printf(" x%ld %.1f s", r.multiple, r.generateSeconds);
    }
    std::printf("\n");
  }
  return allGood ? 0 : 1;
}

// The member cards' round trips: the conversion through the ODBC backend
// (the SQLite3 ODBC driver, parameter arrays) next to the embedded one,
// whose count is one round trip per statement, as a server would see the
// row-by-row loops. Prints the counts, the round trips per card and the
// time that 1 ms per round trip would add for 1M cards.
int odbcRoundTrips(long base, const fs::path& work, bool keep) {
  const std::string self = fs::canonical("/proc/self/exe").string();
  const fs::path dataDir = work / "odbc-data";
  const fs::path embeddedDir = work / "odbc-embedded";
  const fs::path odbcDir = work / "odbc-odbc";
  fs::create_directories(dataDir);
  cvt::DemoOptions options;
  options.folder = dataDir.string();
  options.scale = base;
  options.seed = 1;
  options.withStd = false;
  std::fprintf(stderr, "odbc: generating %ld demo units...\n", base);
  const cvt::DemoResult generated = cvt::generateDemo(options);
  if (!generated.ok) {
    std::fprintf(stderr, "generation failed: %s\n", generated.error.c_str());
    return 1;
  }
  for (const fs::path& dir : {embeddedDir, odbcDir}) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const char* name : {"tillexv8.db", "dravik_pro.db"}) {
      copyDatabase(dataDir / name, dir / name);
    }
  }
  std::fprintf(stderr, "odbc: embedded...\n");
  const ChildRun embedded = runChild(self, "--tool", embeddedDir.string());
  std::fprintf(stderr, "odbc: through ODBC...\n");
  const ChildRun odbc = runChild(self, "--tool-odbc", odbcDir.string());
  std::size_t tables = 0;
  const std::string tableDiff =
      compareTargets(embeddedDir / "tillexv8.db", odbcDir / "tillexv8.db", tables);
  const long cards = cvt::demoSizes(base).cards;
  const auto trips = [](const ChildRun& run, const char* key) {
    const auto it = run.facts.find(key);
    return it == run.facts.end() ? 0.0 : std::strtod(it->second.c_str(), nullptr);
  };
  std::printf("\nMember cards through ODBC (SQLite3 ODBC driver), %ld cards (%ld demo units)\n\n",
              cards, base);
  std::printf("  %-34s %12s %10s %22s\n", "", "round trips", "per card", "at 1 ms, 1M cards");
  for (const auto& [label, run] :
       {std::pair<const char*, const ChildRun*>{"embedded (500 rows a statement)", &embedded},
        std::pair<const char*, const ChildRun*>{"ODBC (parameter arrays of 500)", &odbc}}) {
    const double vip = trips(*run, "trips.vip");
    const double perCard = vip / static_cast<double>(cards);
    std::printf("  %-34s %12.0f %10.4f %20.1f s\n", label, vip, perCard, perCard * 1e6 * 1e-3);
  }
  std::printf("\n  whole run through ODBC: %.2f s, %.0f round trips, %s; embedded %.2f s\n",
              odbc.seconds, trips(odbc, "roundtrips"),
              odbc.status == 0 && tableDiff.empty()
                  ? ("completed, " + std::to_string(tables) + " tables identical").c_str()
                  : ("DIFFER:" + tableDiff + " exit " + std::to_string(odbc.status)).c_str(),
              embedded.seconds);
  if (odbc.status != 0) {
    std::fprintf(stderr, "%s", odbc.output.c_str());
  }
  if (!keep) {
    fs::remove_all(dataDir);
    fs::remove_all(embeddedDir);
    fs::remove_all(odbcDir);
  }
  return odbc.status == 0 && embedded.status == 0 && tableDiff.empty() ? 0 : 1;
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
    return runTool(args[1], false);
  }
  if (args.size() == 2 && args[0] == "--tool-odbc") {
    return runTool(args[1], true);
  }
  if (args.size() == 2 && args[0] == "--floor") {
    return runFloor(args[1]);
  }
  long base = 50;
  std::vector<long> multiples = {1, 4, 16};
  fs::path work = fs::temp_directory_path() / "convert-e2e-bench";
  bool keep = false;
  int repeat = 1;
  bool callgrind = false;
  bool odbc = false;
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
    } else if (args[i] == "--repeat" && hasValue) {
      repeat = static_cast<int>(std::strtol(args[++i].c_str(), nullptr, 10));
    } else if (args[i] == "--odbc") {
      odbc = true;
    } else if (args[i] == "--callgrind") {
      callgrind = true;
    } else if (args[i] == "--keep") {
      keep = true;
    } else {
      std::fprintf(stderr,
                   "usage: e2e_bench [--base UNITS] [--scales 1,4,16] [--work DIR] [--repeat N] "
                   "[--callgrind] "
                   "[--keep] [--odbc]\n");
      return 2;
    }
  }
  if (base < 1 || repeat < 1) {
    std::fprintf(stderr, "e2e_bench: --base and --repeat must be at least 1\n");
    return 2;
  }
  if (odbc) {
    return odbcRoundTrips(base, work, keep);
  }
  return bench(base, multiples, work, keep, repeat, callgrind);
}
