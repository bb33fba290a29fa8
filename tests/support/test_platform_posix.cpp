#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_platform.h"

namespace cvt::test {

std::string makeTempFolder(const std::string& prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  return mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
}

void setEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnv(const std::string& name) { unsetenv(name.c_str()); }

long processId() { return static_cast<long>(getpid()); }

bool makeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

}  // namespace cvt::test
