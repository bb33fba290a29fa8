#pragma once

#include <string>
#include <string_view>

namespace cvt::platform {

// A SQLite data source reached through ODBC opens its files itself, so the
// paths it is given and the ones it reports are in the driver's own form.
// Natively that is the program's own form. A Windows program under Wine
// reaches the host's drivers (Wine's odbc32 hands every call to the host's
// unixODBC), which know Unix paths only.

// `local` (UTF-8, as the program names files) as the driver must be given
// it. Under Wine a Windows path, relative or not, becomes the Unix path of
// the same file; a path that starts with '/' is taken as the host's own
// already. Anything that cannot be mapped is returned unchanged.
std::string driverFilePath(std::string_view local);

// A path the driver reported (`driver`, UTF-8) as this program can open
// it. Unchanged when it cannot be mapped.
std::string localFilePath(std::string_view driver);

}  // namespace cvt::platform
