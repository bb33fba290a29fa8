#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace cvt {

// The progress display's state: the track's width (st_text), the bar's
// width (st_status, a 16-bit integer) and the status line (st_state), with
// the exact arithmetic of wf_set_bar. Shared by the window and the batch
// command; a listener repaints after every change.
class ProgressModel {
 public:
  static constexpr int kDefaultTrackWidth = 2048;  // layout units

  explicit ProgressModel(int trackWidth = kDefaultTrackWidth) : track_(trackWidth) {}

  // Integer overload: 0 empties the bar (status unchanged); 1 fills it and
  // sets the status to "数据传输完成"; anything else does nothing.
  void wf_set_bar(int ai_value);
  // Real overload: status = as_text; bar = trunc(float(track) * ar_value +
  // float(bar)), stored as a 16-bit integer.
  void wf_set_bar(float ar_value, const std::string& as_text);

  int trackWidth() const { return track_; }
  void setTrackWidth(int width) { track_ = width; }
  std::int16_t barWidth() const { return bar_; }
  const std::string& status() const { return status_; }

  // Called after every wf_set_bar call that reached the model.
  void setListener(std::function<void()> listener) { listener_ = std::move(listener); }

 private:
  void changed();

  int track_;
  std::int16_t bar_ = 0;
  std::string status_;
  std::function<void()> listener_;
};

}  // namespace cvt
