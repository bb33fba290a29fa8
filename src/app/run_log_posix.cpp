// Where the user's own data lives on Linux and other XDG systems.

#include "app/run_log.h"

namespace cvt {

std::string userDataFolder(const EnvLookup& getenv) {
  const auto value = [&](const char* name) {
    auto v = getenv ? getenv(name) : std::nullopt;
    return v && !v->empty() ? *v : std::string();
  };
  if (std::string xdg = value("XDG_DATA_HOME"); !xdg.empty()) {
    return xdg;
  }
  const std::string home = value("HOME");
  return home.empty() ? std::string() : home + "/.local/share";
}

}  // namespace cvt
