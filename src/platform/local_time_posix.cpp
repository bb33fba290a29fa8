#include "platform/local_time.h"

namespace cvt::platform {

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

}  // namespace cvt::platform
