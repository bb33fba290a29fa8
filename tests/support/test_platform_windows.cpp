#include <windows.h>

#include <filesystem>
#include <random>

#include "platform/paths.h"
#include "support/test_platform.h"

namespace cvt::test {

std::string makeTempFolder(const std::string& prefix) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path folder =
        base / (prefix + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) {
      return platform::utf8Path(folder);
    }
  }
  return {};
}

void setEnv(const std::string& name, const std::string& value) {
  _wputenv_s(platform::fsPath(name).c_str(), platform::fsPath(value).c_str());
}

void unsetEnv(const std::string& name) { _wputenv_s(platform::fsPath(name).c_str(), L""); }

long processId() { return static_cast<long>(GetCurrentProcessId()); }

bool makeFifo(const std::string& /*path*/) { return false; }

}  // namespace cvt::test
