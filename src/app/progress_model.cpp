#include "app/progress_model.h"

#include <cmath>
#include <limits>

namespace cvt {

void ProgressModel::wf_set_bar(int ai_value) {
  if (ai_value == 0) {
    bar_ = 0;
  } else if (ai_value == 1) {
    bar_ = static_cast<std::int16_t>(track_);
    status_ = "数据传输完成";
  } else {
    return;
  }
  changed();
}

void ProgressModel::wf_set_bar(float ar_value, const std::string& as_text) {
  status_ = as_text;
  // Single precision throughout, truncated toward zero, as the display
  // has always computed it.
  const float sum = static_cast<float>(track_) * ar_value + static_cast<float>(bar_);
  const float t = std::trunc(sum);
  // A 16-bit width wraps like the integer it is stored in; clamp only what
  // cannot be represented at all (NaN or beyond any int).
  long long w = 0;
  if (std::isfinite(t) && std::fabs(t) < 1e18F) {
    w = static_cast<long long>(t);
  }
  bar_ = static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(w) & 0xFFFFU));
  changed();
}

void ProgressModel::changed() {
  if (listener_) {
    listener_();
  }
}

}  // namespace cvt
