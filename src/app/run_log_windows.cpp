// Where the user's own data lives on Windows: the local (not roaming) part
// of the profile, since a run log belongs to this machine.

#include "app/run_log.h"

namespace cvt {

std::string userDataFolder(const EnvLookup& getenv) {
  auto v = getenv ? getenv("LOCALAPPDATA") : std::nullopt;
  return v ? *v : std::string();
}

}  // namespace cvt
