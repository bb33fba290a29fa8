#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/progress_model.h"
#include "app/run_driver.h"

namespace cvt::test {

// A RunUi that remembers what a run showed: the bar's width after every
// wf_set_bar call (applied to a real ProgressModel with the default
// 2048-wide track), the status texts, the message boxes, the busy pointer
// and the steps reported. interruptAfter lets a test ask for a stop.
class RecordingRunUi final : public RunUi {
 public:
  void wf_set_bar(float ar_value, const std::string& as_text) override {
    values.push_back(ar_value);
    progress.wf_set_bar(ar_value, as_text);
    record();
  }
  void wf_set_bar(int ai_value) override {
    progress.wf_set_bar(ai_value);
    record();
  }
  void setBusy(bool busy) override { busyCalls.push_back(busy); }
  void messageBox(const std::string& title, const std::string& text) override {
    messageBoxWithDetails(title, text, {});
  }
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& text_details) override {
    messages.emplace_back(title, text);
    messageDetails.push_back(text_details);
    details = text_details;
  }
  void stepFinished(const std::string& category, bool ok, long long rows,
                    double /*seconds*/) override {
    steps.push_back({category, ok, rows, 0});
  }
  bool interruptRequested() override { return stop; }

  bool busyNow() const { return !busyCalls.empty() && busyCalls.back(); }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& m : messages) {
      out.push_back(m.second);
    }
    return out;
  }

  ProgressModel progress;
  std::vector<float> values;
  std::vector<int> widths;
  std::vector<std::string> statuses;
  std::vector<std::pair<std::string, std::string>> messages;
  std::string details;                      // of the latest message
  std::vector<std::string> messageDetails;  // of each message, "" when it had none
  std::vector<bool> busyCalls;
  std::vector<StepReport> steps;
  bool stop = false;

 private:
  void record() {
    widths.push_back(progress.barWidth());
    statuses.push_back(progress.status());
  }
};

}  // namespace cvt::test
