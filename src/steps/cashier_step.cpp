#include "steps/catalog.h"

namespace cvt {

namespace {

constexpr const char* kCashierType = "收银员";
constexpr long kShareBeforeRefill = 5;
constexpr long kShareAfterCommit = 5;

// Cashier 9999 belongs to the installation and is kept.
constexpr const char* kClearCashiersSql = "delete t_rm_cashier where cashier_id<>'9999'";

// Each cashier's password becomes its own number, with no rights granted
// and no discount.
constexpr const char* kRefillCashiersProSql =
    "insert into t_rm_cashier(cashier_id,cashier_name,cashier_pw,cashier_grant, "
    "cashier_status,discount_rate) select cashier_id,cashier_name,cashier_id,"
    "'00000000000000000',cashier_status,1 from dravik_pro..pos_t_cashier";
constexpr const char* kRefillCashiersStdSql =
    "insert into t_rm_cashier(cashier_id,cashier_name,cashier_pw,cashier_grant, "
    "cashier_status,discount_rate) select cashier_id,cashier_name,cashier_id,"
    "'00000000000000000',cashier_status,1 from dravik_std..pos_t_cashier";

}  // namespace

bool wf_convert_cashier(StepContext& ctx, const std::string& as_source) {
  static const SkeletonSpec kSpec{textsForType(kCashierType),
                                  kClearCashiersSql,
                                  kShareBeforeRefill,
                                  kRefillCashiersProSql,
                                  kRefillCashiersStdSql,
                                  kShareAfterCommit,
                                  {},
                                  {}};
  return runSkeleton(ctx, as_source, kSpec);
}

std::vector<std::string> refillsOfCashiers(const std::string& as_source) {
  return refillFor(as_source, kRefillCashiersProSql, kRefillCashiersStdSql);
}

}  // namespace cvt
