#include "platform/paths.h"

namespace cvt::platform {

// The standard library converts char8_t text to the native form itself,
// whatever the system's narrow code page, on every platform.
std::filesystem::path fsPath(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Path(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace cvt::platform
