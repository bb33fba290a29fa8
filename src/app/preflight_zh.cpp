#include "app/preflight_zh.h"

#include <array>
#include <regex>
#include <string_view>

namespace cvt {
namespace {

bool startsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

bool contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

std::string count(long long n) { return std::to_string(n); }

// "例如：a；b；c", or nothing.
std::string examplesZh(const CheckFinding& f) {
  if (f.examples.empty()) {
    return {};
  }
  // A clashing key's example ends with how many rows share it; a key that
  // every row shares is named so.
  static const std::regex kShared(R"( \((\d+) rows\)$)");
  static const std::regex kEvery(R"(^every row\b)");
  std::string out = "；例如：";
  for (std::size_t i = 0; i < f.examples.size(); ++i) {
    out += (i > 0 ? "；" : "") +
           std::regex_replace(std::regex_replace(f.examples[i], kShared, "（$1 行）"), kEvery,
                              "所有行");
  }
  return out;
}

// Rows a step leaves out instead of failing.
std::string consequenceZh(const CheckFinding& f) {
  return contains(f.text, "(the step goes on without those rows)")
             ? "（该步骤会略过这些行继续进行）"
             : "";
}

// "主键（a, b）" or "唯一索引 ix（a, b）", from "primary key (a, b)" or
// "unique index ix (a, b)"; the columns come from the finding when the rule
// does not name them.
std::string keyRuleZh(const CheckFinding& f) {
  std::string_view rule = f.rule;
  std::string columns = f.column;
  if (const auto open = rule.find(" ("); open != std::string_view::npos && rule.back() == ')') {
    columns = std::string(rule.substr(open + 2, rule.size() - open - 3));
    rule = rule.substr(0, open);
  }
  std::string name =
      startsWith(rule, "primary key")
          ? std::string("主键")
          : "唯一索引 " + std::string(rule.substr(std::string_view("unique index ").size()));
  return columns.empty() ? name : name + "（" + columns + "）";
}

// Findings about the rows a statement would write, told from their fields.
std::string writtenRowsZh(const CheckFinding& f) {
  const std::string where = f.table + "." + f.column;
  if (f.rule == "column exists") {
    return "目标列 " + where + " 不存在，转换要写入该列";
  }
  if (f.rule == "NOT NULL") {
    if (contains(f.text, "without a default")) {
      return where + " 不允许空值且没有默认值，但转换写入的 " + count(f.rows) + " 行不含该列" +
             consequenceZh(f);
    }
    return where + " 不允许空值，但转换会在 " + count(f.rows) + " 行中写入空值" + examplesZh(f) +
           consequenceZh(f);
  }
  if (startsWith(f.rule, "primary key") || startsWith(f.rule, "unique index ")) {
    return "转换会让 " + f.table + " 的" + keyRuleZh(f) + "出现 " + count(f.rows) + " 个重复的键" +
           examplesZh(f) + consequenceZh(f);
  }
  if (startsWith(f.rule, "CHECK (")) {
    if (f.rows > 0) {
      return f.table + " 的检查约束 " + f.rule + " 会拒绝转换写入的 " + count(f.rows) + " 行" +
             examplesZh(f) + consequenceZh(f);
    }
    if (contains(f.text, "does not write")) {
      return f.table + " 的检查约束 " + f.rule + " 读取的列不由转换写入，未作核对";
    }
    const auto colon = f.text.find("writes: ");
    return f.table + " 的检查约束 " + f.rule + " 无法按转换写入的行核对" +
           (colon == std::string::npos ? "" : "：" + f.text.substr(colon + 8));
  }
  if (f.rule == "trigger") {
    static const std::regex kTriggers(
        R"(^\S+ has triggers? (.*), which the run does not switch off)");
    std::smatch m;
    const std::string names =
        std::regex_search(f.text, m, kTriggers) ? " " + m[1].str() : std::string();
    return f.table + " 有触发器" + names + "，转换不会停用它们，未核对它们对写入的行做什么";
  }
  if (f.rule == "no index") {
    return "类别重新编号将移动 " + count(f.rows) +
           " 个类别的商品，而 t_bd_item_info 的 item_clsno "
           "列没有索引：每次移动都要读取整个商品表（10 万件商品时每次约 19 "
           "毫秒），商品表大时这一部分很慢；为 t_bd_item_info (item_clsno) 建立索引即可加快";
  }
  if (f.rule == "a number") {
    static const std::regex kSource(R"( of (\S+) (is|are) not a number)");
    std::smatch m;
    const std::string source =
        std::regex_search(f.text, m, kSource) ? m[1].str() : std::string("来源会员表");
    return source + " 中有 " + count(f.rows) + " 张卡的余额不是数字，余额更新会因此停止" +
           examplesZh(f);
  }
  if (f.rows > 0 && !f.column.empty()) {
    return where + " 的类型是 " + f.rule + "，但转换会写入 " + count(f.rows) + " 个放不下的值" +
           examplesZh(f) + consequenceZh(f);
  }
  return {};
}

struct Shape {
  std::regex pattern;
  std::string (*say)(const std::smatch&);
};

// The other sentences of the check, by their shape. The error texts they
// end with are the database's own and stay as the database wrote them.
const std::array<Shape, 14>& shapes() {
  static const std::array<Shape, 14> kShapes = {{
      {std::regex(R"(^the target (table|column) (\S+) does not exist, so the member cards' points )"
                  R"(and recharge records take the branch number (\S+)$)"),
       [](const std::smatch& m) {
         return (m[1] == "table" ? "目标表 " : "目标列 ") + m[2].str() +
                " 不存在，会员积分和充值记录将使用门店编号 " + m[3].str();
       }},
      {std::regex(R"(^the source database (\S+) does not exist$)"),
       [](const std::smatch& m) { return "来源数据库 " + m[1].str() + " 不存在"; }},
      {std::regex(R"(^the target table (\S+) does not exist$)"),
       [](const std::smatch& m) { return "目标表 " + m[1].str() + " 不存在"; }},
      {std::regex(R"(^the target column (\S+) does not exist)"),
       [](const std::smatch& m) { return "目标列 " + m[1].str() + " 不存在"; }},
      {std::regex(R"(^the source table (\S+) does not exist$)"),
       [](const std::smatch& m) { return "来源表 " + m[1].str() + " 不存在"; }},
      {std::regex(R"(^the source column (\S+) does not exist$)"),
       [](const std::smatch& m) { return "来源列 " + m[1].str() + " 不存在"; }},
      {std::regex(R"(^the login may not (\S+) (\S+)$)"),
       [](const std::smatch& m) {
         return "登录用户没有对 " + m[2].str() + " 执行 " + m[1].str() + " 的权限";
       }},
      {std::regex(R"(^the triggers of (\S+) are switched off now)"),
       [](const std::smatch& m) {
         return m[1].str() +
                " 的触发器目前是停用的（上次转换没有正常结束）；转换完成或关闭本工具时会重新启用";
       }},
      {std::regex(R"(^the database catalogue cannot be read, so nothing was checked: (.*)$)"),
       [](const std::smatch& m) { return "无法读取数据库目录，未作任何检查：" + m[1].str(); }},
      {std::regex(R"(^the columns of (\S+) cannot be read: (.*)$)"),
       [](const std::smatch& m) { return "无法读取 " + m[1].str() + " 的列：" + m[2].str(); }},
      {std::regex(R"(^whether triggers are switched off cannot be read: (.*)$)"),
       [](const std::smatch& m) { return "无法读取触发器是否停用：" + m[1].str(); }},
      {std::regex(R"(^the login's rights cannot be read: (.*)$)"),
       [](const std::smatch& m) { return "无法读取登录用户的权限：" + m[1].str(); }},
      {std::regex(
           R"(^the catalogue does not show the indexes, CHECK constraints, foreign keys and triggers of (\S+),)"),
       [](const std::smatch& m) {
         return "数据库目录不显示 " + m[1].str() +
                " 的索引、检查约束、外键和触发器，写入它的行只按列核对";
       }},
      {std::regex(R"(^(\S+) has foreign keys, which were not evaluated)"),
       [](const std::smatch& m) { return m[1].str() + " 有外键，未逐行核对写入的行"; }},
  }};
  return kShapes;
}

// Sentences naming the statement ("the refill of t_x cannot run ...: error").
std::string statementZh(const CheckFinding& f) {
  static const std::array<std::pair<std::string_view, std::string_view>, 5> kEnds = {{
      {" cannot run on the target as it stands: ", "在目标数据库现有结构上无法执行："},
      {" could not be evaluated: ", "无法核对："},
      {" fails on the rows it would write: ", "写入这些行时会失败："},
      {" writes could not be read to compare keys: ", "无法读取表中保留的行以比较键："},
      {" writes: ", "无法按写入的行核对："},
  }};
  for (const auto& [english, chinese] : kEnds) {
    const auto at = f.text.find(english);
    if (at != std::string::npos) {
      const std::string subject = f.table.empty() ? std::string("转换的语句") : f.table + " 的写入";
      return subject + std::string(chinese) + f.text.substr(at + english.size());
    }
  }
  if (f.text == "a refill statement could not be read for checking") {
    return "有一条重新填充的语句无法读取，未作核对";
  }
  return {};
}

}  // namespace

std::string checkReasonZh(const CheckFinding& finding) {
  if (!finding.rule.empty() && !finding.table.empty()) {
    if (std::string zh = writtenRowsZh(finding); !zh.empty()) {
      return zh;
    }
  }
  for (const Shape& shape : shapes()) {
    std::smatch m;
    if (std::regex_search(finding.text, m, shape.pattern)) {
      return shape.say(m);
    }
  }
  if (std::string zh = statementZh(finding); !zh.empty()) {
    return zh;
  }
  return finding.text;
}

}  // namespace cvt
