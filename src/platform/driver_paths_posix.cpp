// On POSIX systems the drivers run in the program's own world: one form of
// paths for both.

#include "platform/driver_paths.h"

namespace cvt::platform {

std::string driverFilePath(std::string_view local) { return std::string(local); }

std::string localFilePath(std::string_view driver) { return std::string(driver); }

}  // namespace cvt::platform
