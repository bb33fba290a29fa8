#include "app/preflight_writes.h"

#include <algorithm>
#include <cstdio>

#include "app/preflight_predictor.h"
#include "steps/catalog.h"

namespace cvt {

namespace preflight {

Model updateModel(const std::string& category, std::string what, std::string table,
                  std::vector<std::pair<std::string, std::string>> values, std::string where,
                  std::string key, bool tolerated) {
  Model m;
  m.category = category;
  m.what = std::move(what);
  m.table = std::move(table);
  m.update = true;
  m.values = std::move(values);
  m.where = std::move(where);
  m.key = std::move(key);
  m.tolerated = tolerated;
  return m;
}

namespace {

Model refillModel(const std::string& category, const RefillShape& shape,
                  std::optional<std::string> keep) {
  Model m;
  m.category = category;
  m.what = "the refill of " + shape.target;
  m.table = shape.target;
  for (std::size_t i = 0; i < shape.columns.size(); ++i) {
    m.values.emplace_back(shape.columns[i], shape.exprs[i]);
  }
  m.from = shape.from;
  m.where = shape.where;
  m.key = shape.exprs.empty() ? "NULL" : shape.exprs.front();
  m.keep = std::move(keep);
  return m;
}

// The weighed items (num3 = 1, or the items marked 2) keep their number and
// copy it into the sub-number; the displaced sub-number goes to other2.
Model keepNumberModel(const std::string& marker, const std::string& what) {
  return updateModel("item", what, "t_bd_item_info",
                     {{"other2", "t.item_subno"}, {"item_subno", "t.item_no"}}, "t.num3=" + marker,
                     "t.item_no");
}

// Moves rows that name a weighed item's old number to its current one, as
// the special-price and stock steps do with the box ticked.
Model followWeighedModel(const std::string& category, const std::string& table) {
  const std::string match = " from @t_bd_item_info i where t.item_no = i.item_subno and i.num3 = 1";
  return updateModel(category, "the move of " + table + " rows to the weighed items' numbers",
                     table, {{"item_no", "(select top 1 i.item_no" + match + ")"}},
                     "exists (select 1" + match + ")", "t.item_no");
}

std::vector<Model> refillModels(const std::string& category, const std::string& as_source,
                                const std::optional<std::string>& keep) {
  std::vector<Model> out;
  const Category* c = findCategory(category);
  if (c == nullptr || c->refills == nullptr) {
    return out;
  }
  for (const auto& sql : c->refills(as_source)) {
    if (const auto shape = parseRefill(sql)) {
      out.push_back(refillModel(category, *shape, keep));
    }
  }
  return out;
}

}  // namespace

void Predictor::run(const std::vector<std::string>& chosen, bool subnoToNo) {
  const bool pro = source_ == kDravikPro;
  auto ticked = [&](const char* key) {
    return std::find(chosen.begin(), chosen.end(), key) != chosen.end();
  };
  if (ticked("item")) {
    for (const auto& m : refillModels("item", source_, std::nullopt)) {
      evaluate(m);
    }
    if (pro) {
      if (!subnoToNo) {
        evaluate(keepNumberModel("1", "the weighed items' numbers"));
      } else {
        swapWeighed();
      }
      evaluate(keepNumberModel("2", "the numbers of the items marked 2"));
    }
    evaluate(updateModel(
        "item", "the brand code repair", "t_bd_item_info",
        {{"item_brand", "right(rtrim(t.item_brand),4)"}},
        "t.item_brand<'9999'and len(rtrim(t.item_brand))=5 and t.item_brand is not null",
        "t.item_no"));
  }
  if (ticked("cls")) {
    for (const auto& m : refillModels("cls", source_, keptBy("item_clsno<>'LB'"))) {
      evaluate(m);
    }
    renumberClasses();
  }
  if (ticked("pp")) {
    for (const auto& m :
         refillModels("pp", source_, keptBy("type_no='PP' and code_id not in ('PP')"))) {
      evaluate(m);
    }
  }
  if (ticked("region")) {
    for (const auto& m : refillModels("region", source_, keptBy("type_no='RG'"))) {
      evaluate(m);
    }
  }
  if (ticked("supcust")) {
    Model type;
    type.category = "supcust";
    type.what = "the customer type 'exp'";
    type.table = "t_bd_cust_type";
    type.values = {{"type_id", "'exp'"},
                   {"type_name", "'exp'"},
                   {"oper_date", "getdate ( )"},
                   {"oper_id", "'1001'"}};
    type.key = "'exp'";
    evaluate(type);
    for (const auto& m : refillModels("supcust", source_,
                                      keptBy("supcust_flag in ('S','C') and supcust_no<>'0'"))) {
      evaluate(m);
    }
    const std::string supcust = "t_bd_supcust_info";
    const std::string what = "the suppliers' repair";
    evaluate(updateModel("supcust", what + " (way of sale B)", supcust, {{"sale_way", "'B'"}},
                         "t.sup_name like '%代销%'", "t.supcust_no"));
    evaluate(updateModel("supcust", what + " (way of sale C)", supcust, {{"sale_way", "'C'"}},
                         "t.sup_name like '%联营%'", "t.supcust_no"));
    evaluate(updateModel("supcust", what + " (region numbers)", supcust,
                         {{"region_no", "left(t.region_no,4)"}}, "", "t.supcust_no"));
    evaluate(updateModel("supcust", what + " (settlement flag)", supcust,
                         {{"check_out_flag", "'0'"}}, "", "t.supcust_no"));
    const std::string match =
        " from @t_bd_supcust_info s where t.main_supcust = s.supcust_no and not s.sale_way='A'";
    evaluate(updateModel("supcust", "the items' way of sale from their suppliers", "t_bd_item_info",
                         {{"item_sup_flag", "(select top 1 s.sale_way" + match + ")"}},
                         "exists (select 1" + match + ")", "t.item_no"));
    evaluate(updateModel("supcust", what + " (settlement branches)", supcust,
                         {{"settle_branch", "'00'"}},
                         "len(t.settle_branch) <> 2 or (len(t.settle_branch) = 2 and not "
                         "exists(select top 1 1 from @t_bd_branch_info b where b.branch_no = "
                         "t.settle_branch ))",
                         "t.supcust_no"));
  }
  if (ticked("vip")) {
    // The branch number as the step reads it: blanks trimmed, "00" when
    // there is none.
    Value read;
    SQLCA_.selectInto(kBranchNoSql, {}, {&read});
    std::string branch = read.value_or("");
    branch.erase(0, std::min(branch.size(), branch.find_first_not_of(' ')));
    branch.erase(branch.find_last_not_of(' ') + 1);
    if (branch.empty()) {
      branch = "00";
    }
    for (const auto& m : refillModels("vip", source_, std::nullopt)) {
      evaluate(m);
    }
    balances(branch);
    Model flow;
    flow.category = "vip";
    flow.what = "the points deduction flow";
    flow.table = "t_rm_vip_good_flow";
    flow.values = {{"vgf_branch_no", quoted(branch)},
                   {"vgf_vip_no", "card_id"},
                   {"vgf_flag", "(case when (acc_num - dec_num)>0 then '3' else '1' end)"},
                   {"vgf_item_no", "''"},
                   {"vgf_item_num", "0"},
                   {"vgf_vip_num", "abs(acc_num - dec_num)"},
                   {"vgf_oper", "'1001'"},
                   {"vgf_date", "getdate()"},
                   {"memo", "'数据导入'"}};
    flow.from = "@t_rm_vip_info v";
    flow.where = "(acc_num - dec_num)<>0";
    flow.key = "card_id";
    evaluate(flow);
    Model consume;
    consume.category = "vip";
    consume.what = "the points detail";
    consume.table = "t_rm_vip_consume";
    consume.values = {{"card_id", "card_id"},
                      {"branch_no", quoted(branch)},
                      {"vip_cur_acc_amount", "acc_num"},
                      {"vip_acc_amount", "acc_num"},
                      {"vip_minus_total", "dec_num"},
                      {"com_flag", "'0'"}};
    consume.from = "@t_rm_vip_info v";
    consume.key = "card_id";
    evaluate(consume);
    recharges(branch);
  }
  if (ticked("spec_price")) {
    for (const auto& m : refillModels("spec_price", source_, std::nullopt)) {
      evaluate(m);
    }
    if (subnoToNo) {
      evaluate(followWeighedModel("spec_price", "t_rm_spec_price"));
    }
  }
  if (ticked("cashier")) {
    for (const auto& m : refillModels("cashier", source_, keptBy("cashier_id<>'9999'"))) {
      evaluate(m);
    }
  }
  if (ticked("stock")) {
    for (const auto& m : refillModels("stock", source_, std::nullopt)) {
      evaluate(m);
    }
    if (subnoToNo) {
      evaluate(followWeighedModel("stock", "t_im_flow"));
    }
  }
  // After the last step the driver gives every selling branch a price row
  // for every item it has none for.
  Model prices;
  prices.category = kRunWide;
  prices.what = "the branch-price fill";
  prices.table = "t_pc_branch_price";
  prices.values = {{"branch_no", "b.branch_no"},
                   {"item_no", "a.item_no"},
                   {"supcust_no", "a.main_supcust"},
                   {"sale_way", "a.item_sup_flag"},
                   {"price", "(case a.trade_type when '2' then a.trans_price else a.price end)"},
                   {"base_price", "a.base_price"},
                   {"sale_price", "a.sale_price"},
                   {"vip_price", "a.vip_price"},
                   {"sup_ly_rate", "a.sup_ly_rate"},
                   {"branch_price", "a.branch_price"},
                   {"branch_sale", "'1'"},
                   {"item_stock", "a.item_stock"},
                   {"base_price1", "a.base_price1"},
                   {"base_price2", "a.base_price2"},
                   {"base_price3", "a.base_price3"},
                   {"base_price4", "a.base_price4"},
                   {"status", "a.status"}};
  prices.from = "@t_bd_item_info a, @t_bd_branch_info b";
  prices.where =
      "b.property in ('0','1') and not exists (select 1 from @t_pc_branch_price c where "
      "c.branch_no = b.branch_no and c.item_no = a.item_no)";
  prices.key = "b.branch_no + '/' + a.item_no";
  prices.keep = "1 = 1";
  prices.product = true;
  prices.whereCannotFail = true;
  prices.absentFromKept = {"branch_no", "item_no"};
  evaluate(prices);
}

}  // namespace preflight

std::string shownValue(const Value& value) {
  if (!value) {
    return "NULL";
  }
  std::string out(1, '\'');
  std::size_t chars = 0;
  std::size_t i = 0;
  for (; i < value->size() && chars < preflight::kShownChars; ++chars) {
    const auto c = static_cast<unsigned char>((*value)[i]);
    if (c < 0x20U || c == 0x7FU) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\x%02X", c);
      out += escaped;
      ++i;
      continue;
    }
    out += static_cast<char>(c);
    ++i;
    while (i < value->size() && (static_cast<unsigned char>((*value)[i]) & 0xC0U) == 0x80U) {
      out += (*value)[i];
      ++i;
    }
  }
  out += i < value->size() ? "...'" : "'";
  return out;
}

void predictWrites(Session& SQLCA, Catalog& catalog, const std::string& as_source,
                   const std::vector<std::string>& chosen, bool subnoToNo, CheckReport& report) {
  preflight::Predictor(SQLCA, catalog, as_source, report).run(chosen, subnoToNo);
}

}  // namespace cvt
