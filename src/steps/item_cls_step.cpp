// The item classes step: refills t_bd_item_cls from the source, moves
// classes with codes longer than six characters to free six-character codes
// (their items follow), and recomputes every class's parent.

#include <cstdlib>

#include "db/grid_result_set.h"
#include "steps/catalog.h"
#include "steps/class_code.h"

namespace cvt {

namespace {

constexpr const char* kDeleteClasses = "delete from t_bd_item_cls where item_clsno<>'LB'";

constexpr const char* kInsertClassesPro =
    "insert into t_bd_item_cls (display_flag,item_clsname,item_clsno,item_flag) select "
    "display_flag,item_clsname,item_clsno,item_flag from dravik_pro..bi_t_item_cls where "
    "item_flag='0'";
constexpr const char* kInsertClassesStd =
    "insert into t_bd_item_cls (display_flag,item_clsname,item_clsno,item_flag) select "
    "display_flag,item_clsname,item_clsno,item_flag from dravik_std..bi_t_item_cls where "
    "item_flag='0'";

constexpr const char* kSelectLongCodes =
    "select item_clsno as item_clsno from t_bd_item_cls with(nolock) where len(item_clsno) > 6";

// Input: a code; output: the largest six-character code sharing its first
// four characters (NULL when there is none).
constexpr const char* kLargestUnderPrefix =
    "select max ( item_clsno ) from t_bd_item_cls tab_a with ( nolock ) where left ( "
    "tab_a.item_clsno , 4 ) =left ( ? , 4 ) and len ( tab_a.item_clsno ) =6";

// Input: the candidate code; a row when it is taken.
constexpr const char* kCodeTaken =
    "select top 1 1 from t_bd_item_cls with ( nolock ) where item_clsno =?";

// Inputs: new code, old code.
constexpr const char* kRenameClass = "update t_bd_item_cls set item_clsno =? where item_clsno =?";
constexpr const char* kMoveItems = "update t_bd_item_info set item_clsno =? where item_clsno =?";

// Fails on a one-character code (negative length for left).
constexpr const char* kRecomputeParents =
    "update t_bd_item_cls set cls_parent =left ( item_clsno , LEN ( item_clsno ) - 2 )";

constexpr const char* kImportFailed = "导入商品类别信息失败！";
// The renumbering has no failure text of its own for what it tolerates; a
// failure it cannot tolerate (see renumberLongCodes) is shown with this one.
constexpr const char* kModifyFailed = "修改商品类别信息失败！";

constexpr long kShareImport = 5;
constexpr long kShareDone = 5;

// A fix-up that failed leaves the classes as inserted (or with their long
// codes) while the run goes on, so the operator is told why.
constexpr const char* kFixUpFailed = "修改商品类别信息失败！\n原因：";

// Why a fix-up failed, captured before the rollback that follows it clears
// the session's outcome.
struct FixUpFailure {
  std::string reason;
  std::string details;
};

FixUpFailure captureFailure(Session& SQLCA, std::string reason) {
  return {std::move(reason), failureDetails(SQLCA)};
}

// Renumbers the long codes held in `lds_cls` in one transaction and then
// recomputes the parents. A failed rename rolls back every rename and item
// move made so far and ends the loop; the parents are still recomputed, on
// the codes as inserted. A failed parent update rolls back the whole phase.
// Either failure is shown and the step still succeeds: the refilled classes
// stay committed. Two are failures of the step: a statement with which the
// engine ended the transaction (the renames and item moves before it are
// gone, and going on would move items to codes their classes never got),
// and a refused commit. Returns false after showing the failure text.
bool renumberLongCodes(StepRunner& step, GridResultSet& lds_cls) {
  Session& SQLCA = step.SQLCA();
  const auto rename = SQLCA.prepare(kRenameClass);
  const auto moveItems = SQLCA.prepare(kMoveItems);
  bool ended = false;
  const LargestUnderPrefix largest = [&SQLCA, &ended](const std::string& code) {
    // Preset empty: a look-up that finds no row or fails leaves it so.
    Value found = std::string();
    if (ended) {
      return found;  // the step fails below, with this failure as the last
    }
    if (SQLCA.selectInto(kLargestUnderPrefix, {code}, {&found}) < 0 && SQLCA.transactionEnded()) {
      ended = true;
    }
    return found;
  };

  bool lb_commit = false;
  for (long ll_row = 1; ll_row <= lds_cls.rowCount(); ++ll_row) {
    const Value ls_item_clsno = lds_cls.getString(ll_row, "item_clsno");
    if (!ls_item_clsno) {
      continue;  // the select only yields codes longer than six characters
    }
    const std::string& ls_item_clsno_old = *ls_item_clsno;
    const std::optional<std::string> ls_max_item_clsno = newClassCode(ls_item_clsno_old, largest);
    if (ended) {
      return step.fail(kModifyFailed);
    }
    if (!ls_max_item_clsno) {
      continue;  // every prefix is full: the class keeps its long code
    }

    Value taken = std::string("0");
    if (SQLCA.selectInto(kCodeTaken, {*ls_max_item_clsno}, {&taken}) < 0 &&
        step.failedForGood(kModifyFailed)) {
      return false;
    }
    const long ll_count = std::strtol(taken.value_or("0").c_str(), nullptr, 10);
    if (ll_count == 1) {
      continue;  // the code is taken: the class and its items stay as they are
    }

    // Here a rename that matches no row (100) fails as well as an error.
    if (rename->execute({ls_max_item_clsno, ls_item_clsno_old}) != kSqlOk) {
      if (step.failedForGood(kModifyFailed)) {
        return false;
      }
      // An engine that changed no row says nothing about it.
      const FixUpFailure failed = captureFailure(
          SQLCA, SQLCA.SQLCode() < 0 ? SQLCA.SQLErrText()
                                     : "the rename of class " + ls_item_clsno_old + " to " +
                                           *ls_max_item_clsno + " changed no row");
      SQLCA.rollback();
      lb_commit = false;
      step.failAndGoOn(kFixUpFailed + failed.reason, failed.details);
      break;
    }
    lb_commit = true;
    // Outcome ignored, unless the engine took the renames with it.
    if (moveItems->execute({ls_max_item_clsno, ls_item_clsno_old}) < 0 &&
        step.failedForGood(kModifyFailed)) {
      return false;
    }
  }

  SQLCA.execute(kRecomputeParents);
  if (SQLCA.SQLCode() != kSqlOk) {
    if (step.failedForGood(kModifyFailed)) {
      return false;
    }
    // 100 means an empty class table: there was nothing to lose.
    const bool failed = SQLCA.SQLCode() < 0;
    const FixUpFailure failure = captureFailure(SQLCA, SQLCA.SQLErrText());
    SQLCA.rollback();
    lb_commit = false;
    if (failed) {
      step.failAndGoOn(kFixUpFailed + failure.reason, failure.details);
    }
  } else {
    lb_commit = true;
  }
  if (lb_commit) {
    return step.commit(kModifyFailed);
  }
  return true;
}

// Everything after the refill, which is committed first. Fails only for a
// refused commit or a transaction the engine ended; what else goes wrong
// here is shown and the step goes on.
bool repairClasses(StepRunner& step) {
  Session& SQLCA = step.SQLCA();
  if (!step.commit(kImportFailed)) {
    return false;
  }
  // The long codes are read completely before the first rename; the result
  // set is released when this scope ends, on every path.
  GridResultSet lds_cls;
  const GridDefinition definition = buildGridDefinition(SQLCA, kSelectLongCodes, kGridPresentation);
  if (!definition.error.empty() && step.failedForGood(kModifyFailed)) {
    return false;
  }
  std::string ls_err = definition.error;
  if (ls_err.empty()) {
    ls_err = lds_cls.create(definition.syntax);
  }
  if (!ls_err.empty()) {
    // No renumbering and no parent update.
    step.failAndGoOn(kFixUpFailed + ls_err, failureDetails(SQLCA));
    return true;
  }
  lds_cls.bind(SQLCA);
  if (lds_cls.retrieve() < 0) {
    if (step.failedForGood(kModifyFailed)) {
      return false;
    }
    // No row to renumber; the parents are still recomputed below.
    step.failAndGoOn(kFixUpFailed + lds_cls.errorText(), failureDetails(SQLCA));
  }
  return renumberLongCodes(step, lds_cls);
}

}  // namespace

bool wf_convert_item_cls(StepContext& ctx, const std::string& as_source) {
  SkeletonSpec spec;
  spec.texts = textsForType("商品类别");
  spec.clearSql = kDeleteClasses;
  spec.share1 = kShareImport;
  spec.refillPro = kInsertClassesPro;
  spec.refillStd = kInsertClassesStd;
  spec.share2 = kShareDone;
  spec.repairs = repairClasses;
  spec.commitFailed = kModifyFailed;
  return runSkeleton(ctx, as_source, spec);
}

std::vector<std::string> refillsOfClasses(const std::string& as_source) {
  return refillFor(as_source, kInsertClassesPro, kInsertClassesStd);
}

}  // namespace cvt
