#include "steps/catalog.h"

namespace cvt {

namespace {

// This step keeps its texts as whole literals rather than building them
// from a category name.
const StepTexts kBrandTexts{"正在删除商品品牌信息", "删除商品品牌信息失败！",
                            "正在导入商品品牌信息", "导入商品品牌信息失败！"};
constexpr long kShareBeforeRefill = 5;
constexpr long kShareAfterCommit = 5;

// The brand 'PP' survives: items of the 200-series source whose brand is
// QS are given it by the items step.
constexpr const char* kClearBrandsSql =
    "delete t_bd_base_code where type_no='PP' and code_id not in ('PP')";

// Brands live among the source's item classes: flagged '1', five characters
// long; the last four characters become the brand code, as they do for the
// items' brand codes.
constexpr const char* kRefillBrandsProSql =
    "insert into t_bd_base_code(type_no,code_id,code_name,english_name,code_type) select "
    "'PP',right(rtrim(item_clsno),4),item_clsname,'','品牌' from dravik_pro..bi_t_item_cls "
    "where item_flag='1' and item_clsno<'9999'and len(rtrim(item_clsno))=5";
constexpr const char* kRefillBrandsStdSql =
    "insert into t_bd_base_code(type_no,code_id,code_name,english_name,code_type) select "
    "'PP',right(rtrim(item_clsno),4),item_clsname,'','品牌' from dravik_std..bi_t_item_cls "
    "where item_flag='1' and item_clsno<'9999'and len(rtrim(item_clsno))=5";

}  // namespace

bool wf_convert_item_pp(StepContext& ctx, const std::string& as_source) {
  static const SkeletonSpec kSpec{kBrandTexts,
                                  kClearBrandsSql,
                                  kShareBeforeRefill,
                                  kRefillBrandsProSql,
                                  kRefillBrandsStdSql,
                                  kShareAfterCommit,
                                  {},
                                  {}};
  return runSkeleton(ctx, as_source, kSpec);
}

std::vector<std::string> refillsOfBrands(const std::string& as_source) {
  return refillFor(as_source, kRefillBrandsProSql, kRefillBrandsStdSql);
}

}  // namespace cvt
