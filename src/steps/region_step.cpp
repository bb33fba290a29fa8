#include "steps/catalog.h"

namespace cvt {

namespace {

constexpr const char* kRegionType = "区域";
constexpr long kShareBeforeRefill = 5;
constexpr long kShareAfterCommit = 5;

// Other coded lists share the table (brands under 'PP'); only regions go.
constexpr const char* kClearRegionsSql = "delete from t_bd_base_code where type_no='RG'";

// Region numbers are cut to four characters, the same cut the suppliers and
// customers step makes, so both sides meet on the same codes.
constexpr const char* kRefillRegionsProSql =
    "insert into t_bd_base_code(type_no,code_id,code_name) select "
    "'RG',left(region_no,4),region_name from dravik_pro..bi_t_region_info";
constexpr const char* kRefillRegionsStdSql =
    "insert into t_bd_base_code(type_no,code_id,code_name) select "
    "'RG',left(region_no,4),region_name from dravik_std..bi_t_region_info";

}  // namespace

bool wf_convert_region_info(StepContext& ctx, const std::string& as_source) {
  static const SkeletonSpec kSpec{textsForType(kRegionType),
                                  kClearRegionsSql,
                                  kShareBeforeRefill,
                                  kRefillRegionsProSql,
                                  kRefillRegionsStdSql,
                                  kShareAfterCommit,
                                  {},
                                  {}};
  return runSkeleton(ctx, as_source, kSpec);
}

std::vector<std::string> refillsOfRegions(const std::string& as_source) {
  return refillFor(as_source, kRefillRegionsProSql, kRefillRegionsStdSql);
}

}  // namespace cvt
