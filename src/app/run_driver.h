#pragma once

#include <array>
#include <string>
#include <vector>

#include "app/verification.h"
#include "db/session.h"
#include "steps/step.h"

namespace cvt {

struct RunReport;

// What a front end (the window or the batch command) offers the run driver:
// the step UI plus the integer overload of the progress display, the busy
// pointer and the completion message.
class RunUi : public StepUi {
 public:
  using StepUi::wf_set_bar;
  // wf_set_bar, integer overload: 0 empties the bar, 1 fills it and sets
  // the status line to "数据传输完成", anything else does nothing.
  virtual void wf_set_bar(int ai_value) = 0;
  // Busy (true) or normal (false) mouse pointer, or the batch equivalent.
  virtual void setBusy(bool busy) = 0;
  // The message that ends a completed run, with the run's report.
  // Default: runSummary() as the box's details.
  virtual void completionMessage(const std::string& title, const std::string& text,
                                 const RunReport& report);
  // The driver's own work between the steps (counting, the branch-price
  // fill, the verification), named for a status line that must not stand
  // empty while the run works. Not a progress call. Default: nothing.
  virtual void working(const std::string& /*status*/) {}
  // Called after each step that ran, with its outcome (for summaries and
  // event streams). Default: nothing.
  virtual void stepFinished(const std::string& /*category*/, bool /*ok*/, long long /*rows*/,
                            double /*seconds*/) {}
  // True when the operator asked to stop (the batch command's Ctrl-C). The
  // driver asks between two steps and before the branch-price fill and then
  // ends the run as after a failed step. Default: never.
  virtual bool interruptRequested() { return false; }
};

// The operator's choice for one run, as the window's controls hold it.
struct RunChoice {
  bool rb_1 = false;             // 300-series source chosen (dravik_pro)
  std::array<bool, 9> ticked{};  // category boxes, in categories() order
  bool cbx_sale = false;         // hidden sales box; never starts a step
  bool cbx_subno_to_no = false;  // weighed items' number in the self code
};

enum class RunOutcome { Completed, StepFailed, NothingChosen };

struct StepReport {
  std::string category;  // key: item, cls, ...
  bool ok = false;
  long long rows = 0;  // rows written by the step's refill statements
  double seconds = 0;
  bool failureShown = false;  // succeeded, but a failure was shown on the way
};

struct RunReport {
  RunOutcome outcome = RunOutcome::NothingChosen;
  std::string is_source;
  long idec_count = 0;
  bool branchPriceFailed = false;
  // A failure was shown although the run went on: the branch-price fill or a
  // step that reports a failed repair and still succeeds.
  bool failureShown = false;
  bool interrupted = false;  // ended by interruptRequested() or a stopped statement
  std::vector<StepReport> steps;
  // Source against target rows of every category, after a completed run.
  std::vector<CategoryVerification> verification;

  // True when a completed run's verification found rows that the rules do
  // not explain (or could not count them).
  bool verificationFlagged() const;
};

// The run's summary as a small text table, one row per step that ran
// (category, rows written by its refill statements, seconds, ok or failed),
// plus a line when the branch-price fill failed, then the verification
// table of a completed run.
std::string runSummary(const RunReport& report);

// Switches off (on) all triggers of the eight target tables, in order, each
// failure skipped silently; no commit or rollback of its own. A failure
// with which the engine ended the transaction took the switches before it
// along: they are sent once more.
void wf_disable_trigger(Session& SQLCA);
// The eight tables whose triggers a run switches, in their order.
const std::array<std::string_view, 8>& suspendedTables();
void wf_enable_trigger(Session& SQLCA);

// Of the eight tables, those whose triggers the session found switched off
// when it connected (an earlier run was killed before its close sequence),
// in the order of the eight.
std::vector<std::string> triggersLeftOff(const Session& SQLCA);

// One conversion run: the clicked event of the convert button.
// REQUIRES: SQLCA connected.
RunReport runConversion(Session& SQLCA, RunUi& ui, const RunChoice& choice);

// What the close sequence achieved. `failed` when its commit was refused:
// the triggers of the eight tables may then still be switched off, and
// `message` (for a message box titled "提示") says so, with the reason.
struct CloseOutcome {
  bool failed = false;
  std::string message;
};

// The window's close sequence: triggers on, committed, disconnect. Shows
// nothing itself; safe without a connection.
CloseOutcome closeSession(Session& SQLCA);

}  // namespace cvt
