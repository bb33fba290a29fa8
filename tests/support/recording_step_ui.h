#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/progress_model.h"
#include "steps/step.h"

namespace cvt::test {

// A StepUi that remembers every call: the values and status texts of the
// progress display (also applied to a ProgressModel, so a test can read
// the bar's width) and the message boxes with their titles and details.
class RecordingStepUi final : public StepUi {
 public:
  void wf_set_bar(float ar_value, const std::string& as_text) override {
    values.push_back(ar_value);
    statuses.push_back(as_text);
    progress.wf_set_bar(ar_value, as_text);
  }
  void messageBox(const std::string& title, const std::string& text) override {
    messageBoxWithDetails(title, text, {});
  }
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& text_details) override {
    messages.emplace_back(title, text);
    details.push_back(text_details);
  }

  std::vector<float> values;
  std::vector<std::string> statuses;
  std::vector<std::pair<std::string, std::string>> messages;
  std::vector<std::string> details;  // of each message, "" when it had none
  ProgressModel progress;
};

}  // namespace cvt::test
