#include "app/verification.h"

#include <algorithm>
#include <cstdlib>

namespace cvt {

namespace {

// `$src` in a count text stands for the source database of the run.
constexpr std::string_view kSourceToken = "$src";

// The counts that tell whether one category's target holds what its source
// had. Every text is a plain count, so that reading it changes nothing.
struct CountRule {
  std::string_view key;
  std::string_view source;   // every row of the source table
  std::string_view kept;     // the source rows that the refill reads; empty: all
  std::string_view target;   // the category's rows in the target
  std::string_view cleared;  // the target rows the clearing statement deletes; empty: all
};

// The filters and spared rows below are those of the steps' clearing and
// refill statements; a count that drifts from its step would flag a
// correct run, which the full-run test shows at once.
constexpr CountRule kRules[] = {
    {"item", "select count(*) from $src..bi_t_item_info", "", "select count(*) from t_bd_item_info",
     ""},
    {"cls", "select count(*) from $src..bi_t_item_cls",
     "select count(*) from $src..bi_t_item_cls where item_flag='0'",
     "select count(*) from t_bd_item_cls",
     "select count(*) from t_bd_item_cls where item_clsno<>'LB'"},
    {"pp", "select count(*) from $src..bi_t_item_cls",
     "select count(*) from $src..bi_t_item_cls where item_flag='1' and item_clsno<'9999' and "
     "len(rtrim(item_clsno))=5",
     "select count(*) from t_bd_base_code where type_no='PP'",
     "select count(*) from t_bd_base_code where type_no='PP' and code_id not in ('PP')"},
    {"region", "select count(*) from $src..bi_t_region_info", "",
     "select count(*) from t_bd_base_code where type_no='RG'", ""},
    {"supcust", "select count(*) from $src..bi_t_supcust_info", "",
     "select count(*) from t_bd_supcust_info",
     "select count(*) from t_bd_supcust_info where supcust_flag in ('S','C') and "
     "supcust_no<>'0'"},
    {"vip", "select count(*) from $src..pos_t_vip_info", "", "select count(*) from t_rm_vip_info",
     ""},
    {"spec_price", "select count(*) from $src..pos_t_spec_price",
     "select count(*) from $src..pos_t_spec_price where special_type = '2'",
     "select count(*) from t_rm_spec_price", ""},
    {"cashier", "select count(*) from $src..pos_t_cashier", "", "select count(*) from t_rm_cashier",
     "select count(*) from t_rm_cashier where cashier_id<>'9999'"},
    {"stock", "select count(*) from $src..ic_t_branch_stock",
     "select count(*) from $src..ic_t_branch_stock a, $src..bi_t_item_info b where "
     "a.item_no=b.item_no and a.branch_no = '00'",
     "select count(*) from t_im_flow", ""},
};

const CountRule* ruleFor(std::string_view key) {
  for (const auto& rule : kRules) {
    if (rule.key == key) {
      return &rule;
    }
  }
  return nullptr;
}

std::string withSource(std::string_view text, const std::string& source) {
  std::string out(text);
  for (std::size_t at = out.find(kSourceToken); at != std::string::npos;
       at = out.find(kSourceToken, at + source.size())) {
    out.replace(at, kSourceToken.size(), source);
  }
  return out;
}

// Several counts read with one select, `select (a), (b), ...`, so that a
// category costs one round trip; false (with the engine's text in `note`)
// when they could not be read.
bool counts(Session& SQLCA, const std::vector<std::string>& texts,
            const std::vector<long long*>& values, std::string& note) {
  std::string sql = "select ";
  for (std::size_t i = 0; i < texts.size(); ++i) {
    sql += (i > 0 ? ", (" : "(") + texts[i] + ")";
  }
  std::vector<Value> read(texts.size());
  std::vector<Value*> outputs;
  for (auto& v : read) {
    outputs.push_back(&v);
  }
  const long code = SQLCA.selectInto(sql, {}, outputs);
  if (code != kSqlOk) {
    note = code < 0 ? SQLCA.SQLErrText() : std::string("no count returned");
    return false;
  }
  for (std::size_t i = 0; i < read.size(); ++i) {
    const char* text = read[i] ? read[i]->c_str() : "";
    char* end = nullptr;
    *values[i] = std::strtoll(text, &end, 10);
    if (end == text) {
      note = "a count is not a number: " + read[i].value_or("NULL");
      return false;
    }
  }
  return true;
}

}  // namespace

void RunVerification::baseline(Session& SQLCA, const std::string& as_source,
                               const std::vector<std::string>& chosen) {
  source_ = as_source;
  chosen_.clear();
  for (const auto& key : chosen) {
    const CountRule* rule = ruleFor(key);
    if (rule == nullptr) {
      continue;
    }
    Baseline b{key, 0, {}};
    if (!rule->cleared.empty()) {
      long long all = 0;
      long long cleared = 0;
      if (counts(SQLCA, {std::string(rule->target), std::string(rule->cleared)}, {&all, &cleared},
                 b.note)) {
        b.spared = all - cleared;
      }
    }
    chosen_.push_back(std::move(b));
  }
}

std::vector<CategoryVerification> RunVerification::verify(Session& SQLCA) const {
  std::vector<CategoryVerification> out;
  for (const auto& b : chosen_) {
    const CountRule* rule = ruleFor(b.category);
    CategoryVerification v;
    v.category = b.category;
    v.note = b.note;
    long long kept = 0;
    std::vector<std::string> texts = {withSource(rule->source, source_), std::string(rule->target)};
    std::vector<long long*> values = {&v.source, &v.target};
    if (!rule->kept.empty()) {
      texts.push_back(withSource(rule->kept, source_));
      values.push_back(&kept);
    }
    const bool counted = b.note.empty() && counts(SQLCA, texts, values, v.note);
    if (counted && rule->kept.empty()) {
      kept = v.source;
    }
    v.explained = b.spared - (v.source - kept);
    v.ok = counted && v.target == v.source + v.explained;
    if (counted && !v.ok) {
      v.note = std::to_string(v.target - v.source - v.explained) +
               " rows that the conversion's rules do not explain";
    }
    out.push_back(std::move(v));
  }
  return out;
}

std::string verificationTable(const std::vector<CategoryVerification>& rows) {
  if (rows.empty()) {
    return {};
  }
  std::size_t width = std::string_view("verify").size();
  for (const auto& r : rows) {
    width = std::max(width, r.category.size());
  }
  auto pad = [](std::string text, std::size_t w, bool left) {
    if (text.size() < w) {
      text.insert(left ? 0 : text.size(), w - text.size(), ' ');
    }
    return text;
  };
  std::string out = pad("verify", width, false) + "  " + pad("source", 10, true) + "  " +
                    pad("target", 10, true) + "  " + pad("explained", 10, true) + "  result\n";
  for (const auto& r : rows) {
    out += pad(r.category, width, false) + "  " + pad(std::to_string(r.source), 10, true) + "  " +
           pad(std::to_string(r.target), 10, true) + "  " +
           pad(std::to_string(r.explained), 10, true) + "  " + (r.ok ? "ok" : "FLAGGED");
    if (!r.ok && !r.note.empty()) {
      out += ": " + r.note;
    }
    out += "\n";
  }
  return out;
}

}  // namespace cvt
