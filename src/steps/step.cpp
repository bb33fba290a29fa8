#include "steps/step.h"

namespace cvt {

StepTexts textsForType(std::string_view ls_type, std::string_view bang) {
  const std::string type(ls_type);
  const std::string b(bang);
  return StepTexts{"正在删除" + type + "信息", "删除" + type + "信息失败" + b,
                   "正在导入" + type + "信息", "导入" + type + "信息失败" + b};
}

std::vector<std::string> refillFor(const std::string& as_source, std::string_view proSql,
                                   std::string_view stdSql) {
  if (as_source == kDravikPro) {
    return {std::string(proSql)};
  }
  if (as_source == kDravikStd) {
    return {std::string(stdSql)};
  }
  return {};
}

float shareOf(long share, long idec_count) {
  if (idec_count == 0) {
    return 0.0F;
  }
  // Both operands are whole numbers; the quotient in double precision is the
  // correctly rounded value of the exact decimal quotient to far more digits
  // than the single-precision real that the progress display takes.
  return static_cast<float>(static_cast<double>(share) / static_cast<double>(idec_count));
}

void StepRunner::bar(long share, const std::string& text) {
  ctx_.ui.wf_set_bar(shareOf(share, ctx_.idec_count), text);
}

bool StepRunner::fail(const std::string& text) { return fail(text, failureDetails(ctx_.SQLCA)); }

bool StepRunner::fail(const std::string& text, const std::string& details) {
  ctx_.ui.stepFailureMessage(kNoticeTitle, text, details);
  return false;
}

void StepRunner::failAndGoOn(const std::string& text, const std::string& details) {
  ctx_.failureShown = true;
  ctx_.ui.messageBoxWithDetails(kNoticeTitle, text, details);
}

namespace {

// Passwords shorter than this are not looked for: they would match parts of
// ordinary statement texts and make the details unreadable, as the ODBC
// backend's error texts also assume.
constexpr std::size_t kShortestMaskedPassword = 4;

void maskPassword(std::string& text, const std::string& password) {
  if (password.size() < kShortestMaskedPassword) {
    return;
  }
  for (std::size_t at = text.find(password); at != std::string::npos;
       at = text.find(password, at + 3)) {
    text.replace(at, password.size(), "***");
  }
}

}  // namespace

std::string failureDetails(const Session& SQLCA) {
  // Only a failed operation has a database text worth showing; the
  // statement is shown either way, since a check of the tool's own (a row
  // that was not changed, a value that is not a number) follows it.
  return failureDetails(SQLCA, SQLCA.SQLCode() < 0 ? SQLCA.SQLErrText() : std::string_view(),
                        SQLCA.lastStatementText());
}

std::string failureDetails(const Session& SQLCA, std::string_view errorText,
                           std::string_view statement) {
  std::string details;
  if (!errorText.empty()) {
    details += "Database error: ";
    details += errorText;
  }
  if (!statement.empty()) {
    if (!details.empty()) {
      details += '\n';
    }
    details += "Statement: ";
    details += statement;
  }
  maskPassword(details, SQLCA.settings.LogPass);
  return details;
}

bool StepRunner::run(std::string_view sql, const std::string& failText) {
  ctx_.SQLCA.execute(sql);
  if (ctx_.SQLCA.SQLCode() < 0) {
    return fail(failText);
  }
  return true;
}

bool StepRunner::refill(std::string_view sql, const std::string& failText) {
  if (!run(sql, failText)) {
    return false;
  }
  ctx_.rowsWritten += ctx_.SQLCA.SQLNRows();
  return true;
}

bool StepRunner::commit(const std::string& failText) {
  if (ctx_.SQLCA.commit() < 0) {
    return fail(failText);
  }
  return true;
}

bool StepRunner::failedForGood(const std::string& failText) {
  if (!ctx_.SQLCA.transactionEnded()) {
    return false;
  }
  fail(failText);
  return true;
}

bool runSkeleton(StepContext& ctx, const std::string& as_source, const SkeletonSpec& spec) {
  StepRunner step(ctx);
  step.bar(0, spec.texts.deleting);
  if (!step.run(spec.clearSql, spec.texts.deleteFailed)) {
    return false;
  }
  step.bar(spec.share1, spec.texts.importing);
  std::string ls_sql;
  if (as_source == kDravikPro) {
    ls_sql = spec.refillPro;
  } else if (as_source == kDravikStd) {
    ls_sql = spec.refillStd;
  } else {
    // Only the two sources exist; anything else cannot be refilled from.
    return step.fail(spec.texts.importFailed);
  }
  if (!step.refill(ls_sql, spec.texts.importFailed)) {
    return false;
  }
  if (spec.repairs && !spec.repairs(step)) {
    return false;
  }
  if (!step.commit(spec.commitFailed.empty() ? spec.texts.importFailed : spec.commitFailed)) {
    return false;
  }
  step.bar(spec.share2, "");
  return true;
}

}  // namespace cvt
