#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "app/run_driver.h"

namespace cvt::gui {

class w_convert3;

// The window as the run driver sees it from the worker thread that runs
// the conversion. Every call reaches the window on its own thread through
// its event queue, in the order the driver made them: progress and status
// calls are posted and the run goes on; a message box blocks the run until
// the operator has closed it. Once the operator has asked to stop, the
// failure that the stop causes is not shown: the window says why the run
// ended when it has ended.
class WindowRunUi : public RunUi {
 public:
  // `chosen`: keys of the categories whose steps the run will call, in the
  // run's order. A rehearsal's completion is told by the window after
  // everything was rolled back, not by the driver.
  WindowRunUi(w_convert3& window, const std::atomic<bool>& stop, std::vector<std::string> chosen,
              bool rehearsal)
      : window_(window), stop_(stop), chosen_(std::move(chosen)), rehearsal_(rehearsal) {}

  void wf_set_bar(float ar_value, const std::string& as_text) override;
  void wf_set_bar(int ai_value) override;
  void messageBox(const std::string& title, const std::string& text) override;
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& details) override;
  void stepFailureMessage(const std::string& title, const std::string& text,
                          const std::string& details) override;
  void completionMessage(const std::string& title, const std::string& text,
                         const RunReport& report) override;
  void working(const std::string& status) override;
  void setBusy(bool busy) override;
  void stepFinished(const std::string& category, bool ok, long long rows, double seconds) override;
  bool interruptRequested() override { return stop_.load(); }

 private:
  w_convert3& window_;
  const std::atomic<bool>& stop_;
  std::vector<std::string> chosen_;
  bool rehearsal_;
  std::size_t finished_ = 0;  // steps that have returned
};

// "以下类别没有转换：" and the labels of `keys`, the first marked as rolled
// back when `firstRolledBack`; empty for no keys.
std::string notConvertedNote(const std::vector<std::string>& keys, bool firstRolledBack);

}  // namespace cvt::gui
