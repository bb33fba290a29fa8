#include <string>
#include <string_view>

#include "steps/catalog.h"
#include "steps/step.h"

namespace cvt {

namespace {

constexpr std::string_view kType = "供应商和客户";

// Suppliers and customers share one table; the row '0' and rows of any
// other kind belong to the installation and survive the refill.
constexpr std::string_view kClearSupcust =
    "delete  t_bd_supcust_info where supcust_flag in ('S','C') and supcust_no<>'0'";

// The customer types are reset to one placeholder type that the refilled
// customers can point at.
constexpr std::string_view kClearCustType = "delete from t_bd_cust_type";
constexpr std::string_view kInsertCustType =
    "insert into t_bd_cust_type ( type_id , type_name , oper_date , oper_id ) values ( 'exp' , "
    "'exp' , getdate ( ) , '1001' )";

// The refill: every supplier and customer of the source, all with way of
// sale 'A' until the repairs below derive it from the name. Kept as the
// pieces it is made of, followed by the source database's table.
// clang-format off
constexpr std::string_view kRefillColumns =
    "insert into t_bd_supcust_info(check_out_date,check_out_day,check_out_flag,credit_amt,display_flag,other1,"
    "other2,other3,region_no,sup_acct_back,sup_acct_no,sup_addr,sup_email,sup_fax, "
    "sup_man,sup_name,sup_tax_no,sup_tel,sup_type,supcust_flag,supcust_no ,zip,sale_way) "
    " select check_out_date,check_out_day,check_out_flag,credit_amt,display_flag,other1, "
    " other2,other3,region_no,sup_acct_back,sup_acct_no,sup_addr,sup_email,sup_fax,sup_man, "
    " sup_name,sup_tax_no,sup_tel,sup_type,supcust_flag,supcust_no ,zip,'A' ";
// clang-format on
constexpr std::string_view kFromPro = " from dravik_pro..bi_t_supcust_info";
constexpr std::string_view kFromStd = " from dravik_std..bi_t_supcust_info";

// Repairs, in this order: "联营" must win over "代销" when a name holds both,
// so the 'C' update runs after the 'B' one.
constexpr std::string_view kSaleWayB =
    "update t_bd_supcust_info set sale_way='B' where sup_name like '%代销%'";
constexpr std::string_view kSaleWayC =
    "update t_bd_supcust_info set sale_way='C' where sup_name like '%联营%'";
// Region numbers are four characters wide in the target's region codes.
constexpr std::string_view kRegionCut = "update t_bd_supcust_info set region_no=left(region_no,4)";
constexpr std::string_view kCheckOutFlag = "update t_bd_supcust_info set check_out_flag = '0'";
// Items follow the way of sale of their main supplier; items of 'A'
// suppliers and of unknown suppliers keep what the items step gave them.
constexpr std::string_view kItemSupFlag =
    "update t_bd_item_info set item_sup_flag=sale_way from t_bd_item_info,t_bd_supcust_info "
    "where t_bd_item_info.main_supcust=t_bd_supcust_info.supcust_no and not sale_way='A'";
// A settlement branch must name an existing branch; anything else settles
// at head office '00'. A NULL branch compares neither way and stays NULL.
constexpr std::string_view kSettleBranch =
    "update t_bd_supcust_info set settle_branch = '00' where len(t_bd_supcust_info.settle_branch) "
    "<> 2 or (len(settle_branch) = 2 and not exists(select top 1 1 from t_bd_branch_info "
    "with(nolock) where branch_no = settle_branch ))";

}  // namespace

bool wf_convert_supcust_info(StepContext& ctx, const std::string& as_source) {
  StepRunner step(ctx);
  const std::string ls_type(kType);
  const StepTexts texts = textsForType(ls_type);
  const std::string modifying = "正在修改" + ls_type + "信息";
  const std::string modifyFailed = "修改" + ls_type + "信息失败！";

  step.bar(0, texts.deleting);
  if (!step.run(kClearSupcust, texts.deleteFailed)) {
    return false;
  }

  Session& SQLCA = step.SQLCA();
  SQLCA.execute(kClearCustType);
  if (SQLCA.SQLCode() < 0) {
    return step.fail("删除t_bd_cust_type失败！" + SQLCA.SQLErrText());
  }
  // This insert writes exactly one row, so anything but 0 (100 included)
  // means the placeholder type is missing.
  SQLCA.execute(kInsertCustType);
  if (SQLCA.SQLCode() != kSqlOk) {
    return step.fail("插入t_bd_cust_type失败!" + SQLCA.SQLErrText());
  }

  step.bar(5, texts.importing);
  std::string ls_sql(kRefillColumns);
  if (as_source == kDravikPro) {
    ls_sql += kFromPro;
  } else if (as_source == kDravikStd) {
    ls_sql += kFromStd;
  } else {
    return step.fail(texts.importFailed);
  }
  if (!step.refill(ls_sql, texts.importFailed)) {
    return false;
  }

  step.bar(10, modifying);
  if (!step.run(kSaleWayB, modifyFailed)) {
    return false;
  }
  step.bar(5, modifying);
  if (!step.run(kSaleWayC, modifyFailed)) {
    return false;
  }
  step.bar(5, modifying);
  if (!step.run(kRegionCut, modifyFailed)) {
    return false;
  }
  step.bar(5, modifying);
  if (!step.run(kCheckOutFlag, modifyFailed)) {
    return false;
  }
  step.bar(5, "正在根据" + ls_type + "修改商品信息");
  if (!step.run(kItemSupFlag, "根据" + ls_type + "修改商品信息失败！")) {
    return false;
  }
  if (!step.run(kSettleBranch, modifyFailed)) {
    return false;
  }

  if (!step.commit(modifyFailed)) {
    return false;
  }
  step.bar(10, "");
  return true;
}

std::vector<std::string> refillsOfSupcust(const std::string& as_source) {
  return refillFor(as_source, std::string(kRefillColumns) + std::string(kFromPro),
                   std::string(kRefillColumns) + std::string(kFromStd));
}

}  // namespace cvt
