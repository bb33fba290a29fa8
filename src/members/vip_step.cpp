#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "db/text_helpers.h"
#include "members/balance_cipher.h"
#include "members/decimal_text.h"
#include "steps/catalog.h"

namespace cvt {

namespace {

// Category names of the six groups, as the status and failure texts show
// them.
constexpr const char* kVipTypeType = "会员卡类型";
constexpr const char* kVipInfoType = "会员卡资料";
constexpr const char* kConsumeType = "会员积分明细表";
constexpr const char* kGoodFlowType = "会员积分冲减流水表";
constexpr const char* kSavingType = "会员充值流水";

constexpr const char* kUpdatingBalances = "正在更新会员卡余额信息";
constexpr const char* kBalanceUpdateFailed = "更新会员卡余额失败！";
constexpr const char* kReasonLabel = "原因：";

// Progress shares of P1 to P10. They add up to the category's weight (30),
// so this step fills exactly its own part of the bar and the steps after it
// keep theirs.
constexpr long kShareP1 = 2;
constexpr long kShareP2 = 2;
constexpr long kShareP3 = 3;
constexpr long kShareP4 = 3;
constexpr long kShareP5 = 4;
constexpr long kShareP6 = 3;
constexpr long kShareP7 = 3;
constexpr long kShareP8 = 3;
constexpr long kShareP9 = 4;
constexpr long kShareP10 = 3;

// The target's own branch number, used for the points and recharge rows.
constexpr const char* kSelectBranchNoSql =
    "SELECT sys_var_value FROM t_sys_system Where sys_var_id ='g_branch_no'";
constexpr const char* kDefaultBranchNo = "00";

constexpr const char* kDeleteVipTypesSql = "delete from t_rm_vip_type";
constexpr const char* kInsertVipTypesSqlHead =
    "insert into t_rm_vip_type(type_id,type_name,sale_way,discount,memo,oper_id,oper_date) "
    "select type_id,type_name,sale_way,discount,memo,oper_id,oper_date from ";
constexpr const char* kInsertVipTypesSqlTail = "..pos_t_vip_type ";

// The cards hold their plain balance text here until the balance phase
// below replaces it with the enciphered form, in the same transaction.
constexpr const char* kTruncateVipInfoSql = "truncate table t_rm_vip_info";
constexpr const char* kInsertVipInfoSqlHead =
    "insert into t_rm_vip_info (card_id,card_status,card_type,oper_date,oper_id,other1,other2,"
    "other3,vip_add, vip_email,vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax,vip_tel,"
    "vip_zip,residual_amt,consum_amt,acc_num,dec_num,use_num,consum_count) "
    "select card_id,card_status,card_type,oper_date,oper_id,other1,other2,other3,vip_add, "
    "vip_email,vip_end_date,vip_name,vip_sex,vip_start_date,vip_tax, vip_tel,vip_zip, "
    "convert(varchar(20),card_balance),vip_cons_amount,total_integral,"
    "(total_integral - vip_integral),999999,cons_count from ";
constexpr const char* kInsertVipInfoSqlTail = "..pos_t_vip_info";

// my_cursor: one row per source card, read while the cards are updated.
constexpr const char* kSelectBalancesSqlHead = "SELECT card_id, card_balance  FROM ";
constexpr const char* kSelectBalancesSqlTail = "..pos_t_vip_info;";
constexpr const char* kUpdateBalanceSql =
    "update t_rm_vip_info set residual_amt = ? where card_id = ?";

constexpr const char* kDeleteConsumeSql = "delete from t_rm_vip_consume";
constexpr const char* kDeleteGoodFlowSql = "delete from t_rm_vip_good_flow";
// ls_sql5 and ls_sql6 carry the branch number as a literal between these
// pieces; their failure messages show the whole statement.
constexpr const char* kInsertGoodFlowSqlHead =
    "Insert t_rm_vip_good_flow(vgf_branch_no, vgf_vip_no, vgf_flag, vgf_item_no, vgf_item_num, "
    "vgf_vip_num, vgf_oper, vgf_date, memo)  Select '";
constexpr const char* kInsertGoodFlowSqlTail =
    "',card_id,(case when (acc_num - dec_num)>0 then '3' else '1' end),'',0,"
    "abs(acc_num - dec_num),'1001',getdate(),'数据导入' from t_rm_vip_info "
    "where (acc_num - dec_num)<>0";
constexpr const char* kInsertConsumeSqlHead =
    "Insert t_rm_vip_consume (card_id,branch_no,vip_cur_acc_amount,vip_acc_amount,"
    "vip_minus_total,com_flag) select    card_id,'";
constexpr const char* kInsertConsumeSqlTail = "' , acc_num,acc_num,dec_num,'0' from t_rm_vip_info";

constexpr const char* kDeleteSavingSql = "delete from t_rm_saving_plus_record";
// cur_saving: the stored-value cards with their enciphered balances.
constexpr const char* kSelectSavingSql =
    "select card_id , residual_amt from t_rm_vip_info where card_type in ( '02' , '03' )";
// Bound in order: card, amount, branch, amount again.
constexpr const char* kInsertSavingSql =
    "insert into t_rm_saving_plus_record(card_id,plus_count,oper_id,oper_date,old_count,"
    "branch_no,other1,plus_real_count) values (?,?,'1001',getdate(),0,?,'数据转入',?)";

constexpr const char* kLf = "\n";

// Cards whose balance updates or recharge records go to the session at
// once.
constexpr std::size_t kBatchCards = 500;

// Column `i` of a fetched row; null when the row is shorter than expected,
// so that an odd result can never make the step throw.
const Value& column(const Row& row, std::size_t i) {
  static const Value kNull;
  return i < row.size() ? row[i] : kNull;
}

// The body of a quoted literal: every quote doubled, so that a quote in the
// value can neither end the literal early nor change the statement.
std::string quotedBody(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    out.push_back(c);
    if (c == '\'') {
      out.push_back('\'');
    }
  }
  return out;
}

// The points statements' failure text: the statement between two blank
// lines, then the digit that tells the two apart.
std::string pointsFailText(const std::string& sql, std::string_view digit) {
  return std::string("导入") + kLf + kLf + sql + " " + kLf + kLf + " " + std::string(digit) +
         "信息失败！";
}

// The branch number, "00" when the row is missing or its value is
// null, empty or blank. The query's own outcome is deliberately not looked
// at: any failure there also leaves the default.
std::string readBranchNo(Session& SQLCA) {
  Value ls_branch_no;
  SQLCA.selectInto(kSelectBranchNoSql, {}, {&ls_branch_no});
  std::string branch(trimBlanks(ls_branch_no.value_or(std::string())));
  if (branch.empty()) {
    branch = kDefaultBranchNo;
  }
  return branch;
}

// Card types and cards. They are not committed here: until the balance
// phase has enciphered every balance they hold plain amounts, which any
// reader would decipher into wrong ones. A failure before the commit after
// the points leaves every member table as it was.
bool convertTypesAndCards(StepRunner& step, const std::string& as_source) {
  Session& SQLCA = step.SQLCA();
  const StepTexts types = textsForType(kVipTypeType);
  step.bar(kShareP1, types.deleting);
  if (!step.run(kDeleteVipTypesSql, types.deleteFailed)) {
    return false;
  }
  step.bar(kShareP2, types.importing);
  if (as_source != kDravikPro && as_source != kDravikStd) {
    // Only the two sources exist; a name is never spliced into a statement
    // unless it is one of them.
    return step.fail(types.importFailed);
  }
  const std::string insertTypes = kInsertVipTypesSqlHead + as_source + kInsertVipTypesSqlTail;
  if (!step.refill(insertTypes, types.importFailed)) {
    return false;
  }

  const StepTexts cards = textsForType(kVipInfoType);
  step.bar(kShareP3, cards.deleting);
  if (!step.run(kTruncateVipInfoSql, cards.deleteFailed)) {
    return false;
  }
  step.bar(kShareP4, cards.importing);
  const std::string insertCards = kInsertVipInfoSqlHead + as_source + kInsertVipInfoSqlTail;
  SQLCA.execute(insertCards);
  if (SQLCA.SQLCode() < 0) {
    return step.fail(cards.importFailed + kLf + kReasonLabel + SQLCA.SQLErrText());
  }
  step.context().rowsWritten += SQLCA.SQLNRows();
  return true;
}

// Every card's balance x 10000, enciphered, one bound update per
// card. Nothing is committed here.
//
// A fetch error and a balance that is not a number end the phase as a
// failed update: otherwise the commit after the points would keep a mix of
// enciphered and plain balances, and the plain ones would later decipher
// into wrong amounts. The details of a failure name the card it stopped at.
//
// The updates go to the session in batches of kBatchCards, which a server
// backend sends as one round trip each. A card whose update fails or
// changes no row stops the phase as before: the cards before it have been
// updated, and the failure's rollback undoes every update of the phase.
bool encipherBalances(StepRunner& step, const std::string& as_source) {
  Session& SQLCA = step.SQLCA();
  step.bar(kShareP5, kUpdatingBalances);
  const std::string ls_sql = kSelectBalancesSqlHead + as_source + kSelectBalancesSqlTail;
  const auto update = SQLCA.prepare(kUpdateBalanceSql);
  const auto my_cursor = SQLCA.openCursor(ls_sql);
  std::vector<std::vector<Value>> pending;
  pending.reserve(kBatchCards);
  // Every card of the batch must have changed its row. The card number is
  // the cards' key, so a total below the batch's size means a card missed.
  // Returns the details of the failure, or nothing when the batch went in.
  const auto flush = [&]() -> std::optional<std::string> {
    const auto outcome = update->executeBatch(pending, Statement::OnFailure::Stop);
    std::optional<std::string> failed;
    for (std::size_t i = 0; i < outcome.codes.size() && !failed; ++i) {
      if (outcome.codes[i] != kSqlOk) {
        failed = failureDetails(SQLCA) + kLf + "Card: " + pending[i][1].value_or("NULL") +
                 (outcome.codes[i] == kSqlNoData ? ", no row changed" : "");
      }
    }
    if (!failed && (outcome.codes.size() != pending.size() ||
                    (outcome.totalChanged &&
                     *outcome.totalChanged < static_cast<long long>(pending.size())))) {
      failed = failureDetails(SQLCA) + kLf + "A card of those from " +
               pending.front()[1].value_or("NULL") + " to " + pending.back()[1].value_or("NULL") +
               ": no row changed";
    }
    pending.clear();
    return failed;
  };
  Row row;
  long code = my_cursor->fetch(row);
  while (code == kSqlOk) {
    const Value& ls_id = column(row, 0);
    const Value& ldec_amt = column(row, 1);
    // A null balance stays null through the multiplication and enciphers
    // to the empty text.
    std::string ls_amt;
    if (ldec_amt) {
      const auto scaled = timesTenThousand(*ldec_amt);
      if (!scaled) {
        // The cards before it are sent first, so that the failure is told
        // at the same card whatever the batch size.
        if (auto failed = flush()) {
          return step.fail(kBalanceUpdateFailed, *failed);
        }
        return step.fail(kBalanceUpdateFailed, failureDetails(SQLCA, {}, ls_sql) + kLf +
                                                   "Card: " + ls_id.value_or("NULL") +
                                                   ", balance '" + *ldec_amt + "' is not a number");
      }
      ls_amt = of_str_encrypt(*scaled);
    }
    pending.push_back({std::move(ls_amt), ls_id});
    // 100 (no card row matched) is a failure too: the card would keep its
    // plain balance.
    if (pending.size() == kBatchCards) {
      if (auto failed = flush()) {
        return step.fail(kBalanceUpdateFailed, *failed);
      }
    }
    code = my_cursor->fetch(row);
  }
  const SqlResult fetched = SQLCA.lastResult();
  my_cursor->close();
  if (!pending.empty()) {
    if (auto failed = flush()) {
      return step.fail(kBalanceUpdateFailed, *failed);
    }
  }
  if (code < 0) {
    return step.fail(kBalanceUpdateFailed, "Database error: " + fetched.text);
  }
  return true;
}

// The points tables, then the first commit: card types, cards with their
// enciphered balances, and points.
bool convertPoints(StepRunner& step, const std::string& ls_branch_no) {
  const StepTexts consume = textsForType(kConsumeType);
  step.bar(kShareP6, consume.deleting);
  if (!step.run(kDeleteConsumeSql, consume.deleteFailed)) {
    return false;
  }
  const StepTexts goodFlow = textsForType(kGoodFlowType);
  step.bar(kShareP7, goodFlow.deleting);
  if (!step.run(kDeleteGoodFlowSql, goodFlow.deleteFailed)) {
    return false;
  }
  const std::string branchLiteral = quotedBody(ls_branch_no);
  const std::string ls_sql5 = kInsertGoodFlowSqlHead + branchLiteral + kInsertGoodFlowSqlTail;
  if (!step.refill(ls_sql5, pointsFailText(ls_sql5, "5"))) {
    return false;
  }
  const std::string ls_sql6 = kInsertConsumeSqlHead + branchLiteral + kInsertConsumeSqlTail;
  if (!step.refill(ls_sql6, pointsFailText(ls_sql6, "6"))) {
    return false;
  }
  return step.commit(pointsFailText(ls_sql6, "6"));
}

// One recharge record per stored-value card with a balance
// other than 0, then the second commit. A failing insert does not stop the
// loop; the failure is reported once, after every card had its turn.
bool generateRecharges(StepRunner& step, const std::string& ls_branch_no) {
  Session& SQLCA = step.SQLCA();
  const StepTexts saving = textsForType(kSavingType);
  step.bar(kShareP8, saving.deleting);
  if (!step.run(kDeleteSavingSql, saving.deleteFailed)) {
    return false;
  }
  step.bar(kShareP9, "正在生成" + std::string(kSavingType) + "信息");
  const std::string generateFailed = "生成" + std::string(kSavingType) + "信息失败！";

  bool lb_error = false;
  bool ended = false;        // the engine ended the transaction with a failure
  std::string firstFailure;  // details of the first failed insert
  long long written = 0;
  {
    const auto insert = SQLCA.prepare(kInsertSavingSql);
    const auto cur_saving = SQLCA.openCursor(kSelectSavingSql);
    std::vector<std::vector<Value>> pending;
    pending.reserve(kBatchCards);
    // The records go in batches; a failing one marks the error and the
    // others still go in, unless the engine ended the transaction with it:
    // then the records before it are gone and the step fails at once.
    const auto flush = [&]() {
      long long succeeded = 0;
      // Each failing row is seen while the session still holds its error.
      const auto outcome = insert->executeBatch(
          pending, Statement::OnFailure::Continue, [&](std::size_t i, long code) {
            if (code == kSqlOk) {
              ++succeeded;
              return;
            }
            if (!lb_error) {
              firstFailure =
                  failureDetails(SQLCA) + kLf + "Card: " + pending[i][0].value_or("NULL");
            }
            lb_error = true;
            ended = ended || (code < 0 && SQLCA.transactionEnded());
          });
      if (outcome.codes.size() != pending.size()) {
        lb_error = true;
      }
      // A total below the rows that went in without error: some insert
      // wrote no row.
      if (outcome.totalChanged && *outcome.totalChanged < succeeded) {
        if (!lb_error) {
          firstFailure = failureDetails(SQLCA) + kLf + "A record of those from card " +
                         pending.front()[0].value_or("NULL") + " to " +
                         pending.back()[0].value_or("NULL") + " was not written";
        }
        lb_error = true;
        succeeded = *outcome.totalChanged;
      }
      written += succeeded;
      pending.clear();
    };
    Row row;
    long code = cur_saving->fetch(row);
    while (code == kSqlOk && !ended) {
      const Value& ls_cardid = column(row, 0);
      const Value& ls_residual_amt = column(row, 1);
      // A deciphered text that is not a number (an empty or foreign
      // residual_amt) counts as no balance.
      const auto ldec_plus = divideByTenThousand(wf_str_decrypt(ls_residual_amt));
      if (ldec_plus && compareWithZero(*ldec_plus) != 0) {
        pending.push_back({ls_cardid, ldec_plus, ls_branch_no, ldec_plus});
        if (pending.size() == kBatchCards) {
          flush();
        }
      }
      if (!ended) {
        code = cur_saving->fetch(row);
      }
    }
    const SqlResult fetched = SQLCA.lastResult();
    cur_saving->close();
    if (!pending.empty() && !ended) {
      flush();
    }
    if (ended) {
      // The records inserted so far went with the transaction.
      return step.fail(generateFailed, firstFailure);
    }
    // A cursor that broke off has not seen every card.
    if (code < 0) {
      if (!lb_error) {
        firstFailure = "Database error: " + fetched.text;
      }
      lb_error = true;
    }
  }
  if (lb_error) {
    return step.fail(generateFailed, firstFailure);
  }
  step.context().rowsWritten += written;
  if (!step.commit(generateFailed)) {
    return false;
  }
  step.bar(kShareP10, "");
  return true;
}

}  // namespace

// The step never changes idec_count: its shares are parts of the run's
// total like every other step's.
bool wf_dravik_vip(StepContext& ctx, const std::string& as_source) {
  StepRunner step(ctx);
  const std::string ls_branch_no = readBranchNo(ctx.SQLCA);
  // The query's outcome is not looked at, but a failure with which the
  // engine ended the transaction took pending work with it (the trigger
  // suspension, when this is the run's first step).
  if (step.failedForGood(textsForType(kVipTypeType).deleteFailed)) {
    return false;
  }
  return convertTypesAndCards(step, as_source) && encipherBalances(step, as_source) &&
         convertPoints(step, ls_branch_no) && generateRecharges(step, ls_branch_no);
}

std::vector<std::string> refillsOfMembers(const std::string& as_source) {
  if (as_source != kDravikPro && as_source != kDravikStd) {
    return {};
  }
  return {kInsertVipTypesSqlHead + as_source + kInsertVipTypesSqlTail,
          kInsertVipInfoSqlHead + as_source + kInsertVipInfoSqlTail};
}

}  // namespace cvt
