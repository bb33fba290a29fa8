#include <string>
#include <string_view>

#include "steps/catalog.h"
#include "steps/step.h"

namespace cvt {

namespace {

constexpr std::string_view kType = "销售特价";

constexpr std::string_view kClear = "truncate table t_rm_spec_price";

// Only special prices of type '2' are carried over; the source names the
// quantity columns sale_qnty and sold_qnty.
constexpr std::string_view kRefillPro =
    "insert into t_rm_spec_price(branch_no,item_no,special_type,old_price, "
    "spe_price,discount,sale_qty,sold_qty,start_date,end_date,other1,other2,other3) select "
    "branch_no,item_no,special_type,old_price,spe_price,discount,sale_qnty,sold_qnty, "
    "start_date,end_date,other1,other2,other3 from dravik_pro..pos_t_spec_price where "
    "special_type = '2'";
constexpr std::string_view kRefillStd =
    "insert into t_rm_spec_price(branch_no,item_no,special_type,old_price, "
    "spe_price,discount,sale_qty,sold_qty,start_date,end_date,other1,other2,other3) select "
    "branch_no,item_no,special_type,old_price,spe_price,discount,sale_qnty,sold_qnty, "
    "start_date,end_date,other1,other2,other3 from dravik_std..pos_t_spec_price where "
    "special_type = '2'";

// Weighed items (num3 = 1) may have been given a new item number; their
// special prices follow them from the number now held as sub-number.
constexpr std::string_view kFollowWeighedItems =
    "update t_rm_spec_price set item_no =t_bd_item_info.item_no from t_bd_item_info with ( "
    "nolock ) where t_rm_spec_price.item_no =t_bd_item_info.item_subno and t_bd_item_info.num3 "
    "=1";

}  // namespace

bool wf_convert_spec_price(StepContext& ctx, const std::string& as_source) {
  SkeletonSpec spec;
  spec.texts = textsForType(kType, "!");
  spec.clearSql = kClear;
  spec.share1 = 10;
  spec.refillPro = kRefillPro;
  spec.refillStd = kRefillStd;
  spec.share2 = 40;
  // A failed move is reported as a failed import: the prices are not
  // usable until they sit on the items' current numbers.
  const std::string importFailed = spec.texts.importFailed;
  spec.repairs = [importFailed](StepRunner& step) {
    if (!step.context().cbx_subno_to_no) {
      return true;
    }
    return step.run(kFollowWeighedItems, importFailed);
  };
  return runSkeleton(ctx, as_source, spec);
}

std::vector<std::string> refillsOfSpecPrices(const std::string& as_source) {
  return refillFor(as_source, kRefillPro, kRefillStd);
}

}  // namespace cvt
