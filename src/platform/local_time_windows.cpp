#include "platform/local_time.h"

namespace cvt::platform {

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
  return local;
}

}  // namespace cvt::platform
