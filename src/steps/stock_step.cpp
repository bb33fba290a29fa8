#include <string>
#include <string_view>

#include "steps/catalog.h"
#include "steps/step.h"

namespace cvt {

namespace {

// The flow table is named on its own in the first status line and its
// failure text; the rest of the step speaks of stock data.
constexpr std::string_view kFlowType = "库存流水数据";
constexpr std::string_view kStockType = "库存数据";

constexpr std::string_view kClearFlow = "truncate table t_im_flow";
// Branch stock is rebuilt by the target from the flow rows written below.
constexpr std::string_view kClearBranchStock = "truncate table t_im_branch_stock";

// One stock-take row ('PD') per item that the source's branch 00 holds and
// that the source's item table knows, booked to warehouse 0001. The
// quantity is stored as its absolute value and the sign goes to db_no.
constexpr std::string_view kRefillPro =
    "insert into t_im_flow(voucher_no,oper_date, item_no,real_qty,price,sheet_amt, "
    "branch_no,d_branch_no,trans_no,db_no,supcust_no,sale_way,oper_id) select "
    "'PD',getdate(),a.item_no,isnull(abs(a.stock_qty),0),isnull(a.cost_price,0), "
    "isnull(abs(a.stock_qty),0)*isnull(a.cost_price,0), '0001','','PD',case when a.stock_qty<0 "
    "then '-' else '+' end, b.sup_no,'A','1001' from dravik_pro..ic_t_branch_stock a, "
    "dravik_pro..bi_t_item_info b where a.item_no=b.item_no and a.branch_no = '00'";
constexpr std::string_view kRefillStd =
    "insert into t_im_flow(voucher_no,oper_date, item_no,real_qty,price,sheet_amt, "
    "branch_no,d_branch_no,trans_no,db_no,supcust_no,sale_way,oper_id) select "
    "'PD',getdate(),a.item_no,isnull(abs(a.stock_qty),0),isnull(a.cost_price,0), "
    "isnull(abs(a.stock_qty),0)*isnull(a.cost_price,0), '0001','','PD',case when a.stock_qty<0 "
    "then '-' else '+' end, b.sup_no,'A','1001' from dravik_std..ic_t_branch_stock a, "
    "dravik_std..bi_t_item_info b where a.item_no=b.item_no and a.branch_no = '00'";

// Weighed items (num3 = 1) may have been given a new item number; their
// flow rows follow them from the number now held as sub-number.
constexpr std::string_view kFollowWeighedItems =
    "update t_im_flow set item_no =t_bd_item_info.item_no from t_bd_item_info with ( nolock ) "
    "where t_im_flow.item_no =t_bd_item_info.item_subno and t_bd_item_info.num3 =1";

}  // namespace

bool wf_convert_stock(StepContext& ctx, const std::string& as_source) {
  StepRunner step(ctx);
  std::string ls_type(kFlowType);
  step.bar(0, "正在删除" + ls_type);
  if (!step.run(kClearFlow, "删除" + ls_type + "失败！")) {
    return false;
  }

  ls_type = kStockType;
  const StepTexts texts = textsForType(ls_type);
  step.bar(40, texts.deleting);
  if (!step.run(kClearBranchStock, texts.deleteFailed)) {
    return false;
  }

  step.bar(10, texts.importing);
  std::string_view ls_sql;
  if (as_source == kDravikPro) {
    ls_sql = kRefillPro;
  } else if (as_source == kDravikStd) {
    ls_sql = kRefillStd;
  } else {
    return step.fail(texts.importFailed);
  }
  if (!step.refill(ls_sql, texts.importFailed)) {
    return false;
  }

  if (ctx.cbx_subno_to_no && !step.run(kFollowWeighedItems, "导入" + ls_type + "信息失败!")) {
    return false;
  }

  if (!step.commit(texts.importFailed)) {
    return false;
  }
  step.bar(50, "");
  return true;
}

std::vector<std::string> refillsOfStock(const std::string& as_source) {
  return refillFor(as_source, kRefillPro, kRefillStd);
}

}  // namespace cvt
