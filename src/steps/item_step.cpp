// The items step: refills t_bd_item_info from the source, then repairs the
// numbers of weighed items and of items marked 2, and the width of brand
// codes.

#include "db/grid_result_set.h"
#include "steps/catalog.h"

namespace cvt {

namespace {

constexpr const char* kTruncateItems = "truncate table t_bd_item_info";

constexpr const char* kInsertItemsPro =
    "insert into t_bd_item_info "
    "(item_no,item_subno,item_name,item_subname,item_clsno,item_brand,item_brandname,unit_no,"
    "item_size,product_area,price,base_price,sale_price,combine_sta,status,display_flag,other1,"
    "other2 ,other3 ,num1,num2,main_supcust,item_sup_flag ,sup_ly_rate,vip_price,dpfm_type,"
    "vip_acc_flag,num3) "
    "select item_no,isnull(item_subno,'0'),item_name,item_subname,item_clsno,item_brand,"
    "item_brandname,unit_no,item_size,product_area,isnull(price,0),isnull(base_price,0),"
    "isnull(sale_price,0),combine_sta,status,display_flag,other1,other2 ,other3,num1,num2,"
    "case when sup_no is null then '0' when len(sup_no) > 8 then '0' else sup_no end,'A' ,"
    "ly_deduct,vip_price,'0','0',(case flag2 when 'Z' then 1 when 'J' then 2 else 0 end) "
    "from dravik_pro..bi_t_item_info";

constexpr const char* kInsertItemsStd =
    "insert into t_bd_item_info "
    "(item_no,item_subno,item_name,item_subname,item_clsno,item_brand,item_brandname,unit_no,"
    "item_size,product_area,price,base_price,sale_price,combine_sta,status,display_flag,other1,"
    "other2 ,other3 ,num1,num2,main_supcust,item_sup_flag ,sup_ly_rate,vip_price,dpfm_type,"
    "vip_acc_flag) "
    "select item_no,isnull(item_subno,'0'),item_name,item_subname,item_clsno,"
    "case item_brand when 'QS' then 'PP' else item_brand end,item_brandname,unit_no,item_size,"
    "product_area,isnull(price,0),isnull(base_price,0),isnull(sale_price,0),combine_sta,status,"
    "display_flag,other1,other2 ,other3,num1,num2,"
    "case when sup_no is null then '0' when len(sup_no) > 8 then '0' else sup_no end,'A' ,"
    "0,0,'0','0' from dravik_std..bi_t_item_info";

// Weighed items (num3 = 1) with the box unticked: the item number stays and
// is copied into the sub-number; the displaced sub-number goes to other2.
constexpr const char* kWeighedKeepNumber =
    "update t_bd_item_info set other2=item_subno,item_subno=item_no where num3=1";

// With the box ticked the weighed items are swapped one by one, so that a
// row whose new number is already taken fails alone.
constexpr const char* kSelectWeighed =
    "select item_no,item_subno from t_bd_item_info with(nolock) where num3=1";
// Inputs: old item number, old item number, old sub-number, old item number.
constexpr const char* kSwapWeighed =
    "update t_bd_item_info set other2 =? , item_subno =? , item_no =? where item_no =?";

constexpr const char* kMarkedTwoKeepNumber =
    "update t_bd_item_info set other2=item_subno,item_subno=item_no where num3=2";

// Five-character brand codes below "9999" keep their last four characters,
// matching the four-character codes the brands step derives from
// five-character source class codes.
constexpr const char* kShortenBrands =
    "update t_bd_item_info set item_brand=right(rtrim(item_brand),4) where item_brand<'9999'and "
    "len(rtrim(item_brand))=5 and item_brand is not null";

constexpr const char* kImportFailed = "导入商品信息失败！";
constexpr const char* kModifying = "正在修改商品信息";
constexpr const char* kModifyFailed = "修改商品信息失败！";

constexpr long kShareImport = 10;
constexpr long kShareModify = 70;
constexpr long kShareMarkedTwo = 5;
constexpr long kShareBrands = 5;
constexpr long kShareDone = 5;

// The ticked path: every weighed item swaps its item number and sub-number
// in a transaction of its own. A row the database rejects is rolled back
// and keeps its numbers; nothing is shown and the loop goes on. A result set
// that cannot be built or created skips the swaps silently. What is not
// tolerated: a failure with which the engine ended the transaction, and a
// commit the database refuses; both end the step with its failure text.
bool swapWeighedNumbers(StepRunner& step) {
  Session& SQLCA = step.SQLCA();
  GridResultSet lds_item_info;
  const GridDefinition definition = buildGridDefinition(SQLCA, kSelectWeighed, kGridPresentation);
  if (!definition.error.empty() && step.failedForGood(kModifyFailed)) {
    return false;
  }
  std::string ls_err = definition.error;
  if (ls_err.empty()) {
    ls_err = lds_item_info.create(definition.syntax);
  }
  if (!ls_err.empty()) {
    return true;
  }
  lds_item_info.bind(SQLCA);
  // All rows are read before the first update, so the updates never disturb
  // the rows being walked. A failed retrieve holds no rows.
  if (lds_item_info.retrieve() < 0 && step.failedForGood(kModifyFailed)) {
    return false;
  }
  const auto swap = SQLCA.prepare(kSwapWeighed);
  for (long ll_row = 1; ll_row <= lds_item_info.rowCount(); ++ll_row) {
    const Value ls_item_no = lds_item_info.getString(ll_row, "item_no");
    const Value ls_item_subno = lds_item_info.getString(ll_row, "item_subno");
    if (swap->execute({ls_item_no, ls_item_no, ls_item_subno, ls_item_no}) < 0) {
      if (step.failedForGood(kModifyFailed)) {
        return false;
      }
      SQLCA.rollback();
    } else if (!step.commit(kModifyFailed)) {
      return false;
    }
  }
  return true;
}

// Everything after the refill. The refill is committed first, so that the
// emptied and refilled table survives a failure of any later statement.
bool repairItems(StepRunner& step, const std::string& as_source) {
  if (!step.commit(kImportFailed)) {
    return false;
  }
  step.bar(kShareModify, kModifying);
  const bool pro = as_source == kDravikPro;
  if (pro) {
    if (!step.context().cbx_subno_to_no) {
      // Committed only with the brand fix below.
      if (!step.run(kWeighedKeepNumber, kModifyFailed)) {
        return false;
      }
    } else if (!swapWeighedNumbers(step)) {
      return false;
    }
  }
  step.bar(kShareMarkedTwo, kModifying);
  if (pro && !step.run(kMarkedTwoKeepNumber, kModifyFailed)) {
    return false;
  }
  step.bar(kShareBrands, kModifying);
  // The skeleton commits after this last repair.
  return step.run(kShortenBrands, kModifyFailed);
}

}  // namespace

bool wf_convert_item_info(StepContext& ctx, const std::string& as_source) {
  SkeletonSpec spec;
  spec.texts = textsForType("商品");
  spec.clearSql = kTruncateItems;
  spec.share1 = kShareImport;
  spec.refillPro = kInsertItemsPro;
  spec.refillStd = kInsertItemsStd;
  spec.share2 = kShareDone;
  spec.repairs = [&as_source](StepRunner& step) { return repairItems(step, as_source); };
  spec.commitFailed = kModifyFailed;
  return runSkeleton(ctx, as_source, spec);
}

std::vector<std::string> refillsOfItems(const std::string& as_source) {
  return refillFor(as_source, kInsertItemsPro, kInsertItemsStd);
}

}  // namespace cvt
