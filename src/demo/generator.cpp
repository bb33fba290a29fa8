#include "demo/generator.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "db/sqlite/tsql_functions.h"
#include "demo/schema.h"

namespace cvt {

namespace {

using Text = std::optional<std::string>;

// splitmix64: small, fast and the same on every platform and compiler,
// which the standard library's distributions are not.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}

  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, n) for sample data. REQUIRES: n > 0.
  long below(long n) { return static_cast<long>(next() % static_cast<std::uint64_t>(n)); }
  long between(long lo, long hi) { return lo + below(hi - lo + 1); }
  bool percent(long p) { return below(100) < p; }
  template <std::size_t N>
  const char* pick(const std::array<const char*, N>& items) {
    return items[static_cast<std::size_t>(below(static_cast<long>(N)))];
  }

 private:
  std::uint64_t state_;
};

constexpr std::array kSurnames = {"王", "李", "张", "刘", "陈", "杨", "黄", "赵", "吴", "周",
                                  "徐", "孙", "马", "朱", "胡", "郭", "何", "高", "林", "罗"};
constexpr std::array kGiven = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "军", "洋",
                               "勇", "艳", "杰", "娟", "涛", "明", "超", "秀", "霞", "平",
                               "刚", "桂", "英", "华", "玉", "兰", "建", "国", "志", "红"};
constexpr std::array kCities = {"上海", "北京", "广州", "杭州", "南京",
                                "武汉", "成都", "苏州", "天津", "重庆"};
constexpr std::array kRoads = {"中山路", "人民路", "解放路", "建设路", "和平路",
                               "长江路", "黄河路", "文化路", "新华路", "胜利路"};
constexpr std::array kWords = {"金", "银", "华", "美", "佳", "康", "乐", "福",
                               "龙", "凤", "祥", "瑞", "宏", "盛", "鑫", "丰"};
constexpr std::array kTrades = {"食品", "商贸", "贸易", "日用品", "饮料", "粮油", "百货"};
constexpr std::array kFirmEnds = {"有限公司", "批发部", "商行", "经营部"};
constexpr std::array kShops = {"超市", "便利店", "食堂", "宾馆", "公司"};
constexpr std::array kQualities = {"精选", "特级", "家庭装", "经典", "原味",
                                   "清香", "低糖", "有机",   "优质", "特惠"};
constexpr std::array kGoods = {"牛奶",   "酸奶", "面包",   "饼干", "大米",   "面粉",   "花生油",
                               "酱油",   "食醋", "矿泉水", "绿茶", "啤酒",   "方便面", "火腿肠",
                               "洗衣粉", "牙膏", "毛巾",   "纸巾", "洗发水", "巧克力"};
constexpr std::array kFresh = {"苹果", "香蕉", "猪肉", "牛肉",   "鸡蛋", "白菜",
                               "土豆", "鲜鱼", "葡萄", "西红柿", "黄瓜", "虾仁"};
constexpr std::array kSizes = {"500g", "1kg", "250ml", "1L", "330ml", "5kg", "200g", "12只装"};
constexpr std::array kUnits = {"个", "瓶", "袋", "盒", "包", "箱", "听"};
constexpr std::array kTops = {"食品", "饮料", "日化", "生鲜", "家电",
                              "文具", "服装", "烟酒", "粮油", "百货"};

constexpr long kTopCount = 10;     // two-character classes 01..10
constexpr long kMidsPerTop = 5;    // four-character classes under each
constexpr long kLeavesPerMid = 8;  // six-character classes 01..08 under each
constexpr long kMids = kTopCount * kMidsPerTop;
constexpr long kLeaves = kMids * kLeavesPerMid;
constexpr long kBranchesWithPrices = 7;  // property '0' or '1'

std::string pad(long n, int width) {
  std::string digits = std::to_string(n);
  if (static_cast<int>(digits.size()) < width) {
    digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
  }
  return digits;
}

// A whole number of hundredths as exact decimal text: 1250 -> "12.50".
std::string money(long cents) {
  const bool negative = cents < 0;
  const long a = negative ? -cents : cents;
  return (negative ? "-" : "") + std::to_string(a / 100) + "." + pad(a % 100, 2);
}

// A whole number of thousandths as exact decimal text: -3000 -> "-3.000".
std::string quantity(long thousandths) {
  const bool negative = thousandths < 0;
  const long a = negative ? -thousandths : thousandths;
  return (negative ? "-" : "") + std::to_string(a / 1000) + "." + pad(a % 1000, 3);
}

// A day counted from 2019-01-01 as 'YYYY-MM-DD HH:MM:SS.000'.
std::string date(long day, long secondOfDay = 0) {
  // Days since 1970-01-01 to a civil date (proleptic Gregorian).
  long z = day + 17897 + 719468;
  const long era = (z >= 0 ? z : z - 146096) / 146097;
  const long doe = z - era * 146097;
  const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long mp = (5 * doy + 2) / 153;
  const long d = doy - (153 * mp + 2) / 5 + 1;
  const long m = mp < 10 ? mp + 3 : mp - 9;
  const long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return std::to_string(y) + "-" + pad(m, 2) + "-" + pad(d, 2) + " " + pad(secondOfDay / 3600, 2) +
         ":" + pad(secondOfDay / 60 % 60, 2) + ":" + pad(secondOfDay % 60, 2) + ".000";
}

std::string personName(Rng& rng) {
  std::string name = rng.pick(kSurnames);
  name += rng.pick(kGiven);
  if (rng.percent(60)) {
    name += rng.pick(kGiven);
  }
  return name;
}

std::string address(Rng& rng) {
  return std::string(rng.pick(kCities)) + "市" + rng.pick(kRoads) +
         std::to_string(rng.between(1, 999)) + "号";
}

std::string phone(Rng& rng) { return "13" + pad(rng.below(1000000000L), 9); }

// Owns one database file opened for writing. Every operation after the
// first failure does nothing, so a writer can run a whole sequence and
// report the first error at the end.
class Writer {
 public:
  explicit Writer(const std::string& file) {
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      fail("cannot create " + file + ": " +
           (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
      return;
    }
    if (registerTsqlFunctions(db_) != SQLITE_OK) {
      fail("cannot register the T-SQL functions on " + file);
    }
  }
  ~Writer() {
    if (db_ != nullptr) {
      sqlite3_close(db_);
    }
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }
  sqlite3* handle() const { return db_; }

  void exec(const std::string& sql) {
    if (!ok()) {
      return;
    }
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
      fail(std::string(message != nullptr ? message : "error") + " in: " + sql.substr(0, 200));
    }
    sqlite3_free(message);
  }

  long long count(const std::string& table) {
    long long rows = -1;
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = "SELECT count(*) FROM " + table;
    if (ok() && sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      rows = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  void fail(std::string message) {
    if (error_.empty()) {
      error_ = std::move(message);
    }
  }

 private:
  sqlite3* db_ = nullptr;
  std::string error_;
};

// A prepared INSERT of one table, executed once per row.
class Inserter {
 public:
  Inserter(Writer& writer, const std::string& table, const std::vector<std::string>& columns)
      : writer_(writer), table_(table) {
    std::string sql = "INSERT INTO " + table + " (";
    std::string marks;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      sql += (i == 0 ? "" : ",") + columns[i];
      marks += i == 0 ? "?" : ",?";
    }
    sql += ") VALUES (" + marks + ")";
    if (writer_.ok() &&
        sqlite3_prepare_v2(writer_.handle(), sql.c_str(), -1, &stmt_, nullptr) != SQLITE_OK) {
      writer_.fail(std::string(sqlite3_errmsg(writer_.handle())) + " in: " + sql);
    }
  }
  ~Inserter() { sqlite3_finalize(stmt_); }
  Inserter(const Inserter&) = delete;
  Inserter& operator=(const Inserter&) = delete;

  void row(const std::vector<Text>& values) {
    if (!writer_.ok() || stmt_ == nullptr) {
      return;
    }
    for (std::size_t i = 0; i < values.size(); ++i) {
      const int index = static_cast<int>(i) + 1;
      if (values[i]) {
        sqlite3_bind_text(stmt_, index, values[i]->c_str(), static_cast<int>(values[i]->size()),
                          SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(stmt_, index);
      }
    }
    if (sqlite3_step(stmt_) != SQLITE_DONE) {
      writer_.fail(std::string(sqlite3_errmsg(writer_.handle())) + " inserting into " + table_);
    }
    sqlite3_reset(stmt_);
    ++rows_;
  }

  long long rows() const { return rows_; }

 private:
  Writer& writer_;
  std::string table_;
  sqlite3_stmt* stmt_ = nullptr;
  long long rows_ = 0;
};

// Opens a fresh file with the schema and starts the one bulk transaction.
// A new file that nobody else reads needs no rollback journal or syncs; the
// finished file is an ordinary database.
void startFile(Writer& writer, const std::string& schema) {
  writer.exec("PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;");
  writer.exec(schema);
  writer.exec("BEGIN");
}

// --- the source databases ------------------------------------------------

std::string classCode(long leafOrMid, bool leaf) {
  // Leaves and mids are numbered from 0; codes are two characters per level.
  if (leaf) {
    const long mid = leafOrMid / kLeavesPerMid;
    return pad(mid / kMidsPerTop + 1, 2) + pad(mid % kMidsPerTop + 1, 2) +
           pad(leafOrMid % kLeavesPerMid + 1, 2);
  }
  return pad(leafOrMid / kMidsPerTop + 1, 2) + pad(leafOrMid % kMidsPerTop + 1, 2);
}

// The k-th class code longer than six characters: under leaf (k % 400) of
// its mid, one or two more digits. Every mid keeps room for its long codes
// among the free six-character codes after its eight leaves.
std::string longClassCode(long k) {
  const std::string leaf = classCode(k % kLeaves, true);
  const long round = k / kLeaves;
  if (k % 7 == 3) {
    return leaf + std::to_string(round % 9 + 1);
  }
  return leaf + pad(round + 1, 2);
}

std::string supplierCode(long k) {
  // Every tenth supplier number is eight characters long, the longest that
  // an item may name as its main supplier.
  return k % 10 == 9 ? "S" + pad(k, 7) : "S" + pad(k, 4);
}

std::string brandCode(long k) { return "1" + pad(k + 1, 4); }

struct SourceFacts {
  long long classes = 0;      // item_flag '0'
  long long brandsMoved = 0;  // item_flag '1', five characters, below '9999'
  long long regions = 0;
  long long supcust = 0;
  long long vipTypes = 0;
  long long cards = 0;
  long long pointFlows = 0;  // cards whose remaining points are not 0
  long long recharges = 0;   // stored-value cards with a balance other than 0
  long long specType2 = 0;
  long long cashiers = 0;
  long long stockFlows = 0;  // branch 00 rows whose item exists
  std::vector<TableCount> tables;
};

enum class Flavor { Pro, Std };

void writeClasses(Writer& w, Rng& rng, const DemoSizes& sizes, SourceFacts& facts) {
  Inserter cls(w, "bi_t_item_cls", {"item_clsno", "item_clsname", "item_flag", "display_flag"});
  for (long t = 0; t < kTopCount; ++t) {
    cls.row({pad(t + 1, 2), std::string(kTops[static_cast<std::size_t>(t)]), "0", "1"});
  }
  for (long m = 0; m < kMids; ++m) {
    cls.row({classCode(m, false),
             std::string(kTops[static_cast<std::size_t>(m / kMidsPerTop)]) + "类" +
                 pad(m % kMidsPerTop + 1, 2),
             "0", "1"});
  }
  for (long l = 0; l < kLeaves; ++l) {
    cls.row({classCode(l, true), std::string(rng.pick(kQualities)) + rng.pick(kGoods) + "类", "0",
             rng.percent(95) ? "1" : "0"});
  }
  for (long k = 0; k < sizes.longClasses; ++k) {
    cls.row({longClassCode(k), std::string(rng.pick(kGoods)) + "细类" + std::to_string(k + 1), "0",
             "1"});
  }
  facts.classes = cls.rows();
  // Brands live among the classes with item_flag '1'. Only five-character
  // codes below '9999' become brands; the others show the rule's limits.
  for (long b = 0; b < sizes.brands; ++b) {
    cls.row({brandCode(b), std::string(rng.pick(kWords)) + rng.pick(kWords) + "牌", "1", "1"});
  }
  cls.row({"98888", "瑞丰牌", "1", "1"});   // five characters below '9999': moved as 8888
  cls.row({"99999", "杂牌", "1", "1"});     // sorts above '9999': not a brand
  cls.row({"2345", "四位牌", "1", "1"});    // four characters: not a brand
  cls.row({"123456", "六位牌", "1", "1"});  // six characters: not a brand
  facts.brandsMoved = sizes.brands + 1;
  facts.tables.push_back({"bi_t_item_cls", cls.rows()});
}

std::vector<std::string> writeRegions(Writer& w, SourceFacts& facts) {
  // Codes of two, four and six characters whose first four characters are
  // all different, so that the cut to four characters keeps them apart.
  std::vector<std::string> codes = {"09"};
  for (long r = 1; r <= 20; ++r) {
    codes.push_back("01" + pad(r, 2));
  }
  for (long r = 1; r <= 10; ++r) {
    codes.push_back("02" + pad(r, 2) + "01");
  }
  Inserter region(w, "bi_t_region_info", {"region_no", "region_name"});
  for (std::size_t i = 0; i < codes.size(); ++i) {
    region.row({codes[i], std::string(kCities[i % kCities.size()]) +
                              (codes[i].size() == 6 ? "郊区" : "片区") + std::to_string(i + 1)});
  }
  facts.regions = region.rows();
  facts.tables.push_back({"bi_t_region_info", region.rows()});
  return codes;
}

// Way of sale that a supplier's name will give it: 'A', 'B' (代销) or 'C' (联营).
std::vector<char> writeSupcust(Writer& w, Rng& rng, const DemoSizes& sizes,
                               const std::vector<std::string>& regions, SourceFacts& facts) {
  Inserter sc(w, "bi_t_supcust_info",
              {"supcust_no",    "supcust_flag",   "sup_name",     "sup_type",
               "region_no",     "sup_man",        "sup_addr",     "zip",
               "sup_tel",       "sup_fax",        "sup_email",    "sup_acct_back",
               "sup_acct_no",   "sup_tax_no",     "credit_amt",   "check_out_date",
               "check_out_day", "check_out_flag", "display_flag", "other1",
               "other2",        "other3"});
  std::vector<char> ways;
  auto common = [&](const std::string& no, const char* flag, const std::string& name) {
    sc.row({no,
            std::string(flag),
            name,
            std::string(rng.percent(80) ? "1" : "2"),
            regions[static_cast<std::size_t>(rng.below(static_cast<long>(regions.size())))],
            personName(rng),
            address(rng),
            pad(rng.between(100000, 899999), 6),
            phone(rng),
            rng.percent(50) ? Text(phone(rng)) : std::nullopt,
            rng.percent(30) ? Text("sales" + std::to_string(rng.below(1000)) + "@example.com")
                            : std::nullopt,
            std::string(rng.pick(kCities)) + "商业银行",
            pad(rng.below(1000000000L), 12),
            rng.percent(70) ? Text(pad(rng.below(1000000000L), 15)) : std::nullopt,
            money(rng.between(0, 50000) * 100),
            date(rng.between(0, 1500)),
            std::to_string(rng.between(0, 30)),
            std::string(rng.percent(50) ? "1" : "0"),
            "1",
            std::nullopt,
            std::nullopt,
            std::nullopt});
  };
  for (long k = 1; k <= sizes.suppliers; ++k) {
    std::string name =
        std::string(rng.pick(kCities)) + rng.pick(kWords) + rng.pick(kWords) + rng.pick(kTrades);
    char way = 'A';
    const long roll = rng.below(100);
    if (roll < 3) {
      name += "代销联营";  // both words: the later 'C' wins
      way = 'C';
    } else if (roll < 15) {
      name += "代销";
      way = 'B';
    } else if (roll < 25) {
      name += "联营";
      way = 'C';
    }
    name += rng.pick(kFirmEnds);
    common(supplierCode(k), "S", name);
    ways.push_back(way);
  }
  for (long k = 1; k <= sizes.customers; ++k) {
    std::string name =
        std::string(rng.pick(kCities)) + rng.pick(kWords) + rng.pick(kWords) + rng.pick(kShops);
    if (k % 17 == 0) {
      name += "代销点";
    }
    common(std::string("C").append(pad(k, 4)), "C", name);
  }
  facts.supcust = sc.rows();
  facts.tables.push_back({"bi_t_supcust_info", sc.rows()});
  return ways;
}

struct ItemRef {
  std::string no;
  Text subno;
  bool weighed = false;
};

std::vector<ItemRef> writeItems(Writer& w, Rng& rng, const DemoSizes& sizes, Flavor flavor,
                                const std::vector<char>& ways, SourceFacts& facts) {
  Inserter item(w, "bi_t_item_info",
                {"item_no",     "item_subno",     "item_name",    "item_subname", "item_clsno",
                 "item_brand",  "item_brandname", "unit_no",      "item_size",    "product_area",
                 "price",       "base_price",     "sale_price",   "vip_price",    "ly_deduct",
                 "combine_sta", "status",         "display_flag", "other1",       "other2",
                 "other3",      "num1",           "num2",         "sup_no",       "flag2"});
  std::vector<ItemRef> refs;
  refs.reserve(static_cast<std::size_t>(sizes.items));
  for (long k = 0; k < sizes.items; ++k) {
    ItemRef ref{"69" + pad(k + 1, 11), std::nullopt, false};
    const long kind = rng.below(100);
    Text flag2 = rng.percent(70) ? std::nullopt : Text("0");
    std::string name;
    if (kind < 6) {  // weighed: sold by a scale code held in the sub-number
      flag2 = "Z";
      ref.weighed = true;
      ref.subno = rng.percent(97) ? Text(std::to_string(200000 + k)) : std::nullopt;
      name = std::string("散装") + rng.pick(kFresh);
    } else if (kind < 8) {
      flag2 = "J";
      ref.subno = "J" + pad(k + 1, 6);
      name = std::string(rng.pick(kQualities)) + rng.pick(kGoods) + "(计件)";
    } else {
      ref.subno = rng.percent(50) ? Text("A" + std::to_string(k + 1)) : std::nullopt;
      name = std::string(rng.pick(kQualities)) + rng.pick(kGoods);
    }
    std::string cls;
    const long where = rng.below(100);
    if (where < 4 && sizes.longClasses > 0) {
      cls = longClassCode(rng.below(sizes.longClasses));
    } else if (where < 10) {
      cls = classCode(rng.below(kMids), false);
    } else {
      cls = classCode(rng.below(kLeaves), true);
    }
    Text brand;
    Text brandName;
    const long b = rng.below(100);
    if (flavor == Flavor::Std && b < 5) {
      brand = "QS";
      brandName = "杂牌";
    } else if (b < 80) {
      brand = brandCode(rng.below(sizes.brands));
      brandName = std::string(rng.pick(kWords)) + "牌";
    } else if (b < 85) {
      brand = "2345";
    } else if (b < 87) {
      brand = "99999";
    }  // else no brand at all
    Text supNo;
    char way = 'A';
    const long s = rng.below(100);
    if (s < 90) {
      const long sup = rng.between(1, sizes.suppliers);
      supNo = supplierCode(sup);
      way = ways[static_cast<std::size_t>(sup - 1)];
    } else if (s < 95) {
      supNo = std::nullopt;
    } else {
      supNo = "SUP" + pad(k, 9);  // longer than eight characters
    }
    const long sale = rng.between(50, 99900);
    item.row({ref.no,
              ref.subno,
              name,
              rng.percent(30) ? Text(name.substr(0, 6)) : std::nullopt,
              cls,
              brand,
              brandName,
              std::string(ref.weighed ? "公斤" : rng.pick(kUnits)),
              std::string(ref.weighed ? "散装" : rng.pick(kSizes)),
              std::string(rng.pick(kCities)),
              rng.percent(98) ? Text(money(sale * rng.between(60, 90) / 100)) : std::nullopt,
              money(sale * 9 / 10),
              rng.percent(99) ? Text(money(sale)) : std::nullopt,
              money(sale * 95 / 100),
              way == 'C' ? money(rng.between(5, 25)) : "0",
              "0",
              rng.percent(97) ? "1" : "0",
              "1",
              std::nullopt,
              std::nullopt,
              std::nullopt,
              std::to_string(rng.below(10)),
              std::nullopt,
              supNo,
              flag2});
    refs.push_back(std::move(ref));
  }
  facts.tables.push_back({"bi_t_item_info", item.rows()});
  return refs;
}

void writeCards(Writer& w, Rng& rng, const DemoSizes& sizes, SourceFacts& facts) {
  Inserter type(w, "pos_t_vip_type",
                {"type_id", "type_name", "sale_way", "discount", "memo", "oper_id", "oper_date"});
  type.row({"01", "普通会员卡", "1", "0.95", "积分卡", "1001", date(10)});
  type.row({"02", "储值卡", "2", "1.00", "储值", "1001", date(10)});
  type.row({"03", "积分储值卡", "2", "0.98", std::nullopt, "1001", date(12)});
  type.row({"04", "员工卡", "1", "0.90", "内部员工", "1001", date(40)});
  facts.vipTypes = type.rows();
  facts.tables.push_back({"pos_t_vip_type", type.rows()});

  Inserter card(w, "pos_t_vip_info",
                {"card_id",      "card_status", "card_type",    "oper_date",       "oper_id",
                 "other1",       "other2",      "other3",       "vip_add",         "vip_email",
                 "vip_end_date", "vip_name",    "vip_sex",      "vip_start_date",  "vip_tax",
                 "vip_tel",      "vip_zip",     "card_balance", "vip_cons_amount", "total_integral",
                 "vip_integral", "cons_count"});
  for (long k = 0; k < sizes.cards; ++k) {
    const long t = rng.below(100);
    const char* cardType = t < 40 ? "01" : t < 70 ? "02" : t < 95 ? "03" : "04";
    const bool stored = t >= 40 && t < 95;
    Text balance;
    const long b = rng.below(100);
    if (k == 0) {
      balance = "12.50";  // the worked example of the balance cipher
    } else if (stored) {
      balance = b < 85   ? Text(money(rng.between(1, 500000)))
                : b < 92 ? Text("0.00")
                : b < 95 ? Text(money(-rng.between(1, 30000)))
                         : std::nullopt;
    } else {
      balance = b < 70 ? Text("0.00") : b < 90 ? Text(money(rng.between(1, 20000))) : std::nullopt;
    }
    if (stored && balance && *balance != "0.00") {
      ++facts.recharges;
    }
    Text total;
    Text remaining;
    if (rng.percent(92)) {
      const long acc = rng.between(0, 5000);
      total = std::to_string(acc);
      const long r = rng.below(100);
      if (r < 95) {  // else the remaining points are unknown (NULL)
        const long left = r < 70 ? rng.between(0, acc) : r < 85 ? 0 : -rng.between(1, 50);
        remaining = std::to_string(left);
        if (left != 0) {
          ++facts.pointFlows;
        }
      }
    }
    const long start = rng.between(0, 1800);
    card.row({"8" + pad(k + 1, 9),
              std::string(rng.percent(95) ? "0" : "1"),
              std::string(cardType),
              date(start),
              "1001",
              std::nullopt,
              std::nullopt,
              std::nullopt,
              address(rng),
              rng.percent(20) ? Text("vip" + std::to_string(k + 1) + "@example.com") : std::nullopt,
              date(start + 3 * 365),
              personName(rng),
              std::string(rng.percent(50) ? "男" : "女"),
              date(start),
              std::nullopt,
              phone(rng),
              pad(rng.between(100000, 899999), 6),
              balance,
              money(rng.between(0, 2000000)),
              total,
              remaining,
              std::to_string(rng.between(0, 400))});
  }
  facts.cards = card.rows();
  facts.tables.push_back({"pos_t_vip_info", card.rows()});
}

void writeSpecPrices(Writer& w, Rng& rng, const DemoSizes& sizes, const std::vector<ItemRef>& items,
                     SourceFacts& facts) {
  Inserter spec(w, "pos_t_spec_price",
                {"branch_no", "item_no", "special_type", "old_price", "spe_price", "discount",
                 "sale_qnty", "sold_qnty", "start_date", "end_date", "other1", "other2", "other3"});
  const long stride = std::max(1L, sizes.items / std::max(1L, sizes.specPrices));
  // Weighed items' special prices often name the scale code. They are
  // taken from items that the stride skips, so that no item has a price
  // under both of its numbers.
  std::vector<std::string> scaleCodes;
  for (long i = 0; i < sizes.items; ++i) {
    const ItemRef& ref = items[static_cast<std::size_t>(i)];
    if (ref.weighed && ref.subno && i % stride != 0) {
      scaleCodes.push_back(*ref.subno);
    }
  }
  std::size_t nextScaleCode = 0;
  for (long j = 0; j < sizes.specPrices && j * stride < sizes.items; ++j) {
    const long t = j % 20;
    const char* type = t < 9 ? "2" : t < 17 ? "1" : "3";
    std::string itemNo = items[static_cast<std::size_t>(j * stride)].no;
    if (j % 10 == 4 && nextScaleCode < scaleCodes.size()) {
      itemNo = scaleCodes[nextScaleCode++];
    }
    const long old = rng.between(100, 50000);
    const long start = rng.between(1800, 2000);
    spec.row({rng.percent(50) ? std::string("00") : "0" + std::to_string(rng.between(1, 5)), itemNo,
              std::string(type), money(old), money(old * 8 / 10), "0.80",
              rng.percent(60) ? Text(quantity(rng.between(1, 500) * 1000)) : std::nullopt,
              quantity(rng.between(0, 50) * 1000), date(start), date(start + rng.between(7, 60)),
              std::nullopt, std::nullopt, std::nullopt});
    if (t < 9) {
      ++facts.specType2;
    }
  }
  facts.tables.push_back({"pos_t_spec_price", spec.rows()});
}

void writeCashiers(Writer& w, Rng& rng, const DemoSizes& sizes, SourceFacts& facts) {
  // The target keeps its own cashier 9999, so the source numbers stop short of it.
  Inserter cashier(w, "pos_t_cashier",
                   {"cashier_id", "cashier_name", "cashier_pw", "cashier_status"});
  for (long k = 1; k <= sizes.cashiers; ++k) {
    cashier.row({pad(k, 4), personName(rng), pad(rng.below(1000000), 6),
                 std::string(rng.percent(90) ? "1" : "0")});
  }
  facts.cashiers = cashier.rows();
  facts.tables.push_back({"pos_t_cashier", cashier.rows()});
}

void writeStock(Writer& w, Rng& rng, const DemoSizes& sizes, const std::vector<ItemRef>& items,
                SourceFacts& facts) {
  Inserter stock(w, "ic_t_branch_stock", {"branch_no", "item_no", "stock_qty", "cost_price"});
  auto quantityText = [&]() -> Text {
    const long q = rng.below(100);
    if (q < 85) {
      return quantity(rng.between(1, 500000));
    }
    if (q < 90) {
      return quantity(-rng.between(1, 20) * 1000);
    }
    return q < 95 ? Text("0") : std::nullopt;
  };
  auto costText = [&]() -> Text {
    return rng.percent(95) ? Text(money(rng.between(10, 50000))) : std::nullopt;
  };
  const long head = sizes.stockRows * 3 / 4;
  const long headStride = std::max(1L, sizes.items / std::max(1L, head));
  for (long j = 0; j < head; ++j) {
    std::string itemNo;
    if (j % 100 == 42 || j * headStride >= sizes.items) {
      itemNo = "6999" + pad(j, 9);  // stock of an item the source no longer lists
    } else {
      itemNo = items[static_cast<std::size_t>(j * headStride)].no;
      ++facts.stockFlows;
    }
    stock.row({"00", itemNo, quantityText(), costText()});
  }
  const long rest = sizes.stockRows - head;
  constexpr long kOtherBranches = 4;
  const long perBranch = rest / kOtherBranches + 1;
  const long restStride = std::max(1L, sizes.items / perBranch);
  for (long j = 0; j < rest; ++j) {
    const long i = (j / kOtherBranches) * restStride + j % kOtherBranches;
    if (i >= sizes.items) {
      break;
    }
    stock.row({std::string("0").append(std::to_string(j % kOtherBranches + 1)),
               items[static_cast<std::size_t>(i)].no, quantityText(), costText()});
  }
  facts.tables.push_back({"ic_t_branch_stock", stock.rows()});
}

bool writeSource(const std::string& file, const DemoSizes& sizes, std::uint64_t seed, Flavor flavor,
                 SourceFacts& facts, std::string& error) {
  Writer w(file);
  startFile(w, sourceSchemaSql());
  Rng rng(seed);
  writeClasses(w, rng, sizes, facts);
  const auto regions = writeRegions(w, facts);
  const auto ways = writeSupcust(w, rng, sizes, regions, facts);
  const auto items = writeItems(w, rng, sizes, flavor, ways, facts);
  writeCards(w, rng, sizes, facts);
  writeSpecPrices(w, rng, sizes, items, facts);
  writeCashiers(w, rng, sizes, facts);
  writeStock(w, rng, sizes, items, facts);
  w.exec("COMMIT");
  error = w.error();
  return w.ok();
}

// --- the target database -------------------------------------------------

// The installation's own rows: what the conversion must keep (branches,
// system settings, spared codes, cashier 9999) and stale rows that it
// replaces. `firstItems` are item numbers that the conversion will load.
bool writeTarget(const std::string& file, const std::vector<std::string>& firstItems,
                 std::vector<TableCount>& kept, long long& changeLog, std::string& error) {
  Writer w(file);
  startFile(w, targetSchemaSql());
  {
    Inserter branch(w, "t_bd_branch_info", {"branch_no", "branch_name", "property"});
    branch.row({"00", "总部", "0"});
    const std::array<const char*, 6> shops = {"中山路店", "人民路店", "解放路店",
                                              "建设路店", "和平路店", "长江路店"};
    for (std::size_t i = 0; i < shops.size(); ++i) {
      branch.row({pad(static_cast<long>(i) + 1, 2), std::string(shops[i]), "1"});
    }
    branch.row({"07", "加盟店", "2"});
    branch.row({"08", "配送中心", "3"});
    branch.row({"09", "已撤销门店", "9"});
    kept.push_back({"t_bd_branch_info", branch.rows()});
  }
  {
    Inserter sys(w, "t_sys_system", {"sys_var_id", "sys_var_name", "sys_var_value"});
    sys.row({"g_branch_no", "本机机构编码", " 00 "});
    sys.row({"g_sys_name", "系统名称", "连锁超市管理系统"});
    sys.row({"g_version", "版本", "8.0"});
    kept.push_back({"t_sys_system", sys.rows()});
  }
  w.exec(
      "INSERT INTO t_bd_item_cls(item_clsno,item_clsname,cls_parent,display_flag,item_flag) VALUES"
      " ('LB','临时类别',NULL,'1','0'),('99','旧类别',NULL,'1','0'),('9901','旧小类','99','1','0');"
      "INSERT INTO t_bd_base_code(type_no,code_id,code_name,english_name,code_type) VALUES"
      " ('PP','PP','其他品牌','','品牌'),('DW','01','个','',''),('DW','02','箱','',''),"
      " ('DW','03','公斤','',''),('RG','9901','旧区域','',''),('PP','0999','旧品牌','','品牌');"
      "INSERT INTO t_bd_supcust_info(supcust_no,supcust_flag,sup_name,sale_way,settle_branch) "
      "VALUES"
      " ('0','S','默认供应商','A','5'),('X01','O','内部往来','A','01'),"
      " ('S9999','S','旧供应商','A','00'),('C9999','C','旧客户','A','00');"
      "INSERT INTO t_bd_cust_type(type_id,type_name,oper_date,oper_id) VALUES"
      " ('01','零售客户','2019-01-01 00:00:00.000','1001');"
      "INSERT INTO t_rm_cashier(cashier_id,cashier_name,cashier_pw,cashier_grant,cashier_status,"
      "discount_rate) VALUES ('9999','系统管理员','9999','11111111111111111','1',1),"
      " ('0001','旧收银员','1','00000000000000000','1',1);"
      "INSERT INTO t_bd_item_info(item_no,item_name,price) VALUES"
      " ('OLD0001','旧商品一',1),('OLD0002','旧商品二',2),('OLD0003','旧商品三',3);"
      "INSERT INTO t_rm_vip_type(type_id,type_name) VALUES ('09','旧卡类');"
      "INSERT INTO t_rm_vip_info(card_id,card_type,residual_amt) VALUES ('OLDCARD1','09','3-');"
      "INSERT INTO t_rm_vip_consume(card_id,branch_no,vip_acc_amount) VALUES ('OLDCARD1','00',5);"
      "INSERT INTO t_rm_vip_good_flow(vgf_branch_no,vgf_vip_no,vgf_flag) VALUES "
      "('00','OLDCARD1','3');"
      "INSERT INTO t_rm_saving_plus_record(card_id,plus_count) VALUES ('OLDCARD1',5);"
      "INSERT INTO t_rm_spec_price(branch_no,item_no,special_type,spe_price,start_date) VALUES"
      " ('00','OLD0001','2',1,'2019-01-01 00:00:00.000');"
      "INSERT INTO t_im_flow(voucher_no,item_no,real_qty) VALUES "
      "('PD','OLD0001',1),('PD','OLD0002',2);"
      "INSERT INTO t_im_branch_stock(branch_no,item_no,stock_qty) VALUES"
      " ('0001','OLD0001',1),('0001','OLD0002',2),('0001','OLD0003',3);"
      "INSERT INTO t_rm_saleflow(branch_no,item_no,sale_qnty,sale_money,oper_date) VALUES"
      " ('01','OLD0001',1,1,'2019-01-01 00:00:00.000'),('01','OLD0002',2,4,'2019-01-01 "
      "00:00:00.000');"
      "INSERT INTO t_rm_payflow(branch_no,pay_way,pay_amount,oper_date) VALUES"
      " ('01','RMB',5,'2019-01-01 00:00:00.000');");
  kept.push_back({"t_rm_saleflow", 2});
  kept.push_back({"t_rm_payflow", 1});
  {
    // Branch prices that exist before the run: kept as they are, and the
    // fill adds none for those branch and item pairs.
    Inserter price(w, "t_pc_branch_price",
                   {"branch_no", "item_no", "supcust_no", "sale_way", "price", "branch_sale"});
    for (std::size_t i = 0; i < firstItems.size() && i < 3; ++i) {
      price.row({"01", firstItems[i], "0", "A", "9.90", "1"});
    }
    for (std::size_t i = 0; i < firstItems.size() && i < 2; ++i) {
      price.row({"07", firstItems[i], "0", "A", "8.80", "1"});  // a branch that gets no fill
    }
    price.row({"01", "OLD0001", "0", "A", "1.00", "1"});  // an item that no longer exists
  }
  w.exec("COMMIT");
  changeLog = w.count("t_sys_change_log");
  error = w.error();
  return w.ok();
}

bool removeDatabase(const std::filesystem::path& file, std::string& error) {
  std::error_code ec;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::filesystem::remove(file.string() + suffix, ec);
    if (ec) {
      error = "cannot remove " + file.string() + suffix + ": " + ec.message();
      return false;
    }
  }
  return true;
}

}  // namespace

DemoSizes demoSizes(long scale) {
  DemoSizes s;
  s.items = 1000 * scale;
  s.cards = 2000 * scale;
  s.stockRows = 400 * scale;
  s.specPrices = 100 * scale;
  s.suppliers = 20 + 10 * scale;
  s.customers = 5 + 3 * scale;
  s.cashiers = std::min(9000L, 8 + scale / 2);
  s.brands = std::min(8000L, 20 + 2 * scale);
  s.longClasses = std::min(3000L, 4 + scale / 4);
  return s;
}

std::string manifestPath(const std::string& folder) {
  return (std::filesystem::path(folder) / "demo-manifest.txt").string();
}

DemoResult generateDemo(const DemoOptions& options) {
  DemoResult result;
  if (options.scale < 1) {
    result.error = "the scale must be at least 1";
    return result;
  }
  const std::filesystem::path folder(options.folder);
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) {
    result.error = "not a folder: " + options.folder;
    return result;
  }
  for (const char* name : {"tillexv8.db", "dravik_pro.db", "dravik_std.db"}) {
    if (!removeDatabase(folder / name, result.error)) {
      return result;
    }
  }
  const DemoSizes sizes = demoSizes(options.scale);
  SourceFacts pro;
  if (!writeSource((folder / "dravik_pro.db").string(), sizes, options.seed, Flavor::Pro, pro,
                   result.error)) {
    return result;
  }
  if (options.withStd) {
    SourceFacts stdFacts;
    if (!writeSource((folder / "dravik_std.db").string(), sizes,
                     options.seed ^ 0x5354445F534545DULL, Flavor::Std, stdFacts, result.error)) {
      return result;
    }
  }
  std::vector<std::string> firstItems;
  for (long k = 0; k < std::min(3L, sizes.items); ++k) {
    firstItems.push_back("69" + pad(k + 1, 11));
  }
  std::vector<TableCount> kept;
  long long changeLog = 0;
  if (!writeTarget((folder / "tillexv8.db").string(), firstItems, kept, changeLog, result.error)) {
    return result;
  }

  DemoManifest& m = result.manifest;
  m.scale = options.scale;
  m.seed = options.seed;
  m.source = pro.tables;
  // The member cards' rows: types, cards, one points detail per card, the
  // points flows and the recharge records.
  m.categories = {{"item", sizes.items},
                  {"cls", pro.classes},
                  {"pp", pro.brandsMoved},
                  {"region", pro.regions},
                  {"supcust", pro.supcust},
                  {"vip", pro.vipTypes + 2 * pro.cards + pro.pointFlows + pro.recharges},
                  {"spec_price", pro.specType2},
                  {"cashier", pro.cashiers},
                  {"stock", pro.stockFlows}};
  // Spared rows: class LB; brand PP and the three unit codes; supplier 0
  // and the row that is neither supplier nor customer; cashier 9999. The
  // installation's branch prices are kept, and every item gets a price in
  // each of the branches whose property is '0' or '1'.
  // The installation holds six branch prices (three of them for loaded
  // items in a branch that takes part in the fill).
  const long long filled = sizes.items * kBranchesWithPrices - 3;
  const long long prices = filled + 6;
  m.expected = {{"t_bd_item_info", sizes.items},
                {"t_bd_item_cls", pro.classes + 1},
                {"t_bd_base_code", pro.regions + pro.brandsMoved + 4},
                {"t_bd_supcust_info", pro.supcust + 2},
                {"t_bd_cust_type", 1},
                {"t_rm_vip_type", pro.vipTypes},
                {"t_rm_vip_info", pro.cards},
                {"t_rm_vip_consume", pro.cards},
                {"t_rm_vip_good_flow", pro.pointFlows},
                {"t_rm_saving_plus_record", pro.recharges},
                {"t_rm_spec_price", pro.specType2},
                {"t_rm_cashier", pro.cashiers + 1},
                {"t_im_flow", pro.stockFlows},
                {"t_im_branch_stock", 0},
                {"t_pc_branch_price", prices},
                {"tsql_trigger_off", 0},
                // t_pc_branch_price keeps its trigger during a run: each
                // price the fill adds is logged.
                {"t_sys_change_log", changeLog + filled}};
  m.expected.insert(m.expected.end(), kept.begin(), kept.end());
  result.ok = true;
  return result;
}

std::string manifestText(const DemoManifest& manifest) {
  std::ostringstream out;
  out << "scale " << manifest.scale << "\nseed " << manifest.seed << "\n";
  for (const auto& [section, rows] :
       {std::pair{"source", &manifest.source}, std::pair{"category", &manifest.categories},
        std::pair{"expected", &manifest.expected}}) {
    for (const auto& t : *rows) {
      out << section << " " << t.name << " " << t.rows << "\n";
    }
  }
  return out.str();
}

bool parseManifest(const std::string& text, DemoManifest& manifest, std::string& error) {
  DemoManifest m;
  std::istringstream in(text);
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty()) {
      continue;
    }
    std::istringstream fields(line);
    std::string key;
    std::string name;
    long long rows = 0;
    fields >> key;
    bool good = true;
    if (key == "scale") {
      good = static_cast<bool>(fields >> m.scale);
    } else if (key == "seed") {
      good = static_cast<bool>(fields >> m.seed);
    } else if (key == "source" || key == "category" || key == "expected") {
      good = static_cast<bool>(fields >> name >> rows) && rows >= 0;
      auto& list = key == "source" ? m.source : key == "category" ? m.categories : m.expected;
      list.push_back({name, rows});
    } else {
      good = false;
    }
    std::string rest;
    if (!good || (fields >> rest)) {
      error = "malformed manifest line " + std::to_string(lineNo) + ": " + line;
      return false;
    }
  }
  if (m.expected.empty()) {
    error = "the manifest lists no expected table";
    return false;
  }
  manifest = std::move(m);
  return true;
}

bool checkDemo(const std::string& folder, const DemoManifest& manifest,
               std::vector<CountCheck>& checks, std::string& error) {
  const std::string file = (std::filesystem::path(folder) / "tillexv8.db").string();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    error = "cannot open " + file + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return false;
  }
  registerTsqlFunctions(db);
  checks.clear();
  for (const auto& t : manifest.expected) {
    CountCheck check{t.name, t.rows, -1};
    // The names come from the manifest file: quote them as identifiers.
    std::string quoted = "\"";
    for (char c : t.name) {
      quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    quoted += "\"";
    sqlite3_stmt* stmt = nullptr;
    const std::string sql = "SELECT count(*) FROM " + quoted;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      check.actual = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    checks.push_back(check);
  }
  sqlite3_close(db);
  return true;
}

}  // namespace cvt
