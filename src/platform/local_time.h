#pragma once

#include <ctime>

namespace cvt::platform {

// The broken-down local time of `when`; each system has its own
// thread-safe form of localtime().
std::tm localTime(std::time_t when);

}  // namespace cvt::platform
