// Items, suppliers and customers, special prices and opening stock in one
// run of the real convert-batch executable on the embedded backend.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/db_folder.h"

namespace cvt {
namespace {

using test::DbFolder;

struct Outcome {
  int status = -1;
  std::string out;
};

// Runs convert-batch on the folder of `db` with `args`; the settings store
// is pointed at a file that does not exist so that only the options count.
Outcome runBatch(const DbFolder& db, const std::string& args) {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  const std::string command = "CONVERT_SETTINGS_FILE=/nonexistent/settings.ini '" +
                              std::string(dir != nullptr ? dir : ".") +
                              "/convert-batch' --dbms SQLite --server '" + db.path() + "' " + args +
                              " </dev/null 2>&1";
  Outcome outcome;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot start " << command;
    return outcome;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    outcome.out.append(buffer, n);
  }
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

// A weighed item A whose self-assigned code is B, sold by a consignment
// supplier; an ordinary item P; a price and stock for each.
void seed(const DbFolder& db) {
  db.exec("dravik_pro", R"SQL(
    INSERT INTO bi_t_item_info(item_no, item_subno, flag2, sup_no, price)
    VALUES ('A', 'B', 'Z', 'S001', 10), ('P', 'Q', NULL, 'S002', 4), ('R', NULL, NULL, NULL, 1);
    INSERT INTO bi_t_supcust_info(supcust_no, supcust_flag, sup_name, region_no)
    VALUES ('S001', 'S', '城东代销部', '010203'), ('S002', 'S', '城西批发', '02');
    INSERT INTO pos_t_spec_price(branch_no, item_no, special_type, spe_price, start_date)
    VALUES ('00', 'A', '2', 8, '2024-01-01'), ('00', 'P', '2', 3, '2024-01-01'),
           ('00', 'P', '1', 2, '2024-01-01');
    INSERT INTO ic_t_branch_stock(branch_no, item_no, stock_qty, cost_price)
    VALUES ('00', 'A', -2, 3), ('00', 'P', 5, 1), ('01', 'P', 9, 9);
  )SQL");
  db.exec("tillexv8", "INSERT INTO t_bd_branch_info(branch_no, property) VALUES ('00', '0');");
}

constexpr const char* kArgs =
    "--source dravik_pro --subno-to-no --categories item,supcust,spec_price,stock";

void expectConverted(const DbFolder& db) {
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT item_no, item_subno, item_sup_flag FROM t_bd_item_info ORDER BY 1"),
            (std::vector<Row>{{"B", "A", "B"}, {"P", "Q", "A"}, {"R", "0", "A"}}));
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT supcust_no, sale_way, region_no FROM t_bd_supcust_info "
                     "ORDER BY 1"),
            (std::vector<Row>{{"S001", "B", "0102"}, {"S002", "A", "02"}}));
  EXPECT_EQ(db.query("tillexv8", "SELECT item_no, spe_price FROM t_rm_spec_price ORDER BY 1"),
            (std::vector<Row>{{"B", "8"}, {"P", "3"}}));
  EXPECT_EQ(db.query("tillexv8",
                     "SELECT item_no, real_qty, sheet_amt, db_no FROM t_im_flow "
                     "ORDER BY 1"),
            (std::vector<Row>{{"B", "2", "6", "-"}, {"P", "5", "5", "+"}}));
  // The driver's branch prices see the items as the later steps left them.
  EXPECT_EQ(db.query("tillexv8", "SELECT item_no, sale_way FROM t_pc_branch_price ORDER BY 1"),
            (std::vector<Row>{{"B", "B"}, {"P", "A"}, {"R", "A"}}));
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
}

TEST(ThreeStepsBatch, EventsFollowEveryStepOfTheRun) {
  DbFolder db;
  seed(db);
  const Outcome o = runBatch(db, std::string(kArgs) + " --events jsonl");
  ASSERT_EQ(o.status, 0) << o.out;

  // Each step reports in run order with the rows its refill wrote.
  const std::vector<std::string> steps = {
      R"({"event":"step","category":"item","ok":true,"rows":3,)",
      R"({"event":"step","category":"supcust","ok":true,"rows":2,)",
      R"({"event":"step","category":"spec_price","ok":true,"rows":2,)",
      R"({"event":"step","category":"stock","ok":true,"rows":2,)",
  };
  std::size_t at = 0;
  for (const auto& s : steps) {
    const std::size_t found = o.out.find(s, at);
    ASSERT_NE(found, std::string::npos) << s << "\n" << o.out;
    at = found;
  }
  // The status lines of this run's steps, the one before the item update
  // among them, come before the stock step's report.
  for (const char* status : {"正在根据供应商和客户修改商品信息", "正在导入销售特价信息",
                             "正在删除库存流水数据", "正在导入库存数据信息"}) {
    const std::size_t found = o.out.find(status);
    EXPECT_NE(found, std::string::npos) << status;
    EXPECT_LT(found, at) << status;
  }
  EXPECT_EQ(o.out.find("失败"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(R"({"event":"message","title":"提示","text":"数据传输完成!"})"),
            std::string::npos);
  EXPECT_NE(o.out.find(R"({"event":"end","outcome":"completed"})"), std::string::npos);
  expectConverted(db);
}

TEST(ThreeStepsBatch, SummaryListsEveryStepWithItsRows) {
  DbFolder db;
  seed(db);
  const Outcome o = runBatch(db, kArgs);
  ASSERT_EQ(o.status, 0) << o.out;

  const std::size_t header = o.out.find("category");
  ASSERT_NE(header, std::string::npos) << o.out;
  std::vector<std::string> lines;
  for (std::size_t start = header; start < o.out.size();) {
    const std::size_t end = o.out.find('\n', start);
    if (end == start) {
      break;  // the verification table follows after a blank line
    }
    lines.push_back(o.out.substr(start, end - start));
    start = end == std::string::npos ? o.out.size() : end + 1;
  }
  ASSERT_EQ(lines.size(), 5U) << o.out;
  const std::vector<std::pair<std::string, std::string>> rows = {
      {"item", "3"}, {"supcust", "2"}, {"spec_price", "2"}, {"stock", "2"}};
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string& line = lines[i + 1];
    EXPECT_NE(line.find(" " + rows[i].first + " "), std::string::npos) << line;
    EXPECT_NE(line.find(" " + rows[i].second + " "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 4), "  ok") << line;
  }
  expectConverted(db);
}

}  // namespace
}  // namespace cvt
