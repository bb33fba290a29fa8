#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt {

// What a step sees of the window (or of the batch command standing in for
// it): the progress display and the modal message box.
class StepUi {
 public:
  virtual ~StepUi() = default;
  // wf_set_bar, real overload: shows `as_text` as the status line and
  // lengthens the bar by `ar_value` times the track's width.
  virtual void wf_set_bar(float ar_value, const std::string& as_text) = 0;
  // A modal message box with `title`, `text` and a single OK button; blocks
  // until the operator has closed it.
  virtual void messageBox(const std::string& title, const std::string& text) = 0;
  // The same box with `details` available under the text: why a failure
  // happened (the database's text and the statement), or a run's summary.
  // A front end that has no place for details shows the box alone.
  virtual void messageBoxWithDetails(const std::string& title, const std::string& text,
                                     const std::string& /*details*/) {
    messageBox(title, text);
  }
  // The failure message after which the step returns false: the run ends
  // with it. Default: messageBoxWithDetails().
  virtual void stepFailureMessage(const std::string& title, const std::string& text,
                                  const std::string& details) {
    messageBoxWithDetails(title, text, details);
  }
};

// Everything one step call needs. The run driver fills it before the first
// step; `idec_count` is already positive then.
struct StepContext {
  Session& SQLCA;
  StepUi& ui;
  long idec_count = 0;           // sum of the ticked categories' weights
  bool cbx_subno_to_no = false;  // "weighed items' number is in the self-assigned code"
  long long rowsWritten = 0;     // rows written by the step's refill statements
  bool failureShown = false;     // a failure was shown although the step went on
};

// A conversion step: true when its work succeeded and was committed, false
// after it has shown its failure message. It never throws.
using StepFn = bool (*)(StepContext& ctx, const std::string& as_source);

inline constexpr std::string_view kDravikPro = "dravik_pro";
inline constexpr std::string_view kDravikStd = "dravik_std";
inline constexpr const char* kNoticeTitle = "提示";

// The status and failure texts of the skeleton, built from a category name
// or given whole by steps that store them as literals.
struct StepTexts {
  std::string deleting;      // before clearing
  std::string deleteFailed;  // clearing failed
  std::string importing;     // before refilling
  std::string importFailed;  // refilling failed
};

// "正在删除" + ls_type + "信息", "删除" + ls_type + "信息" + bang, ... ; `bang`
// is the full-width "！" for most steps and the ASCII "!" for some.
StepTexts textsForType(std::string_view ls_type, std::string_view bang = "！");

// The protocol helpers every step is written with. Only a negative SQLCode
// counts as failure unless a step names another test.
class StepRunner {
 public:
  explicit StepRunner(StepContext& ctx) : ctx_(ctx) {}

  Session& SQLCA() { return ctx_.SQLCA; }
  StepContext& context() { return ctx_; }

  // wf_set_bar with share / idec_count (decimal division, handed over as a
  // real) and `text`.
  void bar(long share, const std::string& text);
  // Shows `text` in a message box titled "提示", with failureDetails() of
  // the session at this moment under it, and returns false.
  bool fail(const std::string& text);
  // The same with details of the caller's (for a failure whose statement
  // is no longer the session's latest).
  bool fail(const std::string& text, const std::string& details);
  // Shows a failure after which the step goes on and still succeeds; the
  // run then reports that not everything went well.
  void failAndGoOn(const std::string& text, const std::string& details);
  // Executes `sql`; on a negative SQLCode shows `failText` and returns false.
  bool run(std::string_view sql, const std::string& failText);
  // Like run(), and counts the rows the statement wrote as refilled rows.
  bool refill(std::string_view sql, const std::string& failText);
  // Commits; a commit the database refuses is the step's failure: shows
  // `failText` (the text of the moment the commit closes) and returns false.
  bool commit(const std::string& failText);
  // After a failure that a loop of the step may tolerate: when the engine
  // ended the transaction with it, the work pending before it is gone, and
  // going on would build on work that no longer exists. Then shows
  // `failText` and returns true (the step must return false).
  bool failedForGood(const std::string& failText);

 private:
  StepContext& ctx_;
};

// The plain skeleton: clear, refill from the source, optional repairs,
// commit. `repairs` runs after the refill and returns false after it has
// shown its own failure message.
struct SkeletonSpec {
  StepTexts texts;
  std::string clearSql;
  long share1 = 0;        // bar advance before the refill
  std::string refillPro;  // refill text for dravik_pro
  std::string refillStd;  // refill text for dravik_std
  long share2 = 0;        // bar advance after the commit
  std::function<bool(StepRunner&)> repairs;
  // Shown when the closing commit fails; empty: the refill's failure text.
  std::string commitFailed;
};

bool runSkeleton(StepContext& ctx, const std::string& as_source, const SkeletonSpec& spec);

// Why the session's latest operation failed, for the details under a
// failure message: the database's text and the statement that was sent, each
// on a line of its own; empty when neither is known. A password that the
// operator typed is masked wherever it would appear.
std::string failureDetails(const Session& SQLCA);
// The same from a database text and a statement captured earlier.
std::string failureDetails(const Session& SQLCA, std::string_view errorText,
                           std::string_view statement);

// The refill statement of `as_source`: `proSql` for dravik_pro, `stdSql` for
// dravik_std, none for any other name (what Category::refills returns).
std::vector<std::string> refillFor(const std::string& as_source, std::string_view proSql,
                                   std::string_view stdSql);

// Divides a step's share by the run's total weight, as a decimal division
// whose result is handed to wf_set_bar as a real.
float shareOf(long share, long idec_count);

}  // namespace cvt
