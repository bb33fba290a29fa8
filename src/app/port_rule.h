#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "db/text_helpers.h"  // trimBlanks: the fields are trimmed of blanks only

namespace cvt {

// The port that a server name carries by default; it is never written out.
inline constexpr std::string_view kDefaultPort = "1433";

// The outcome of the port joining rule.
struct PortJoin {
  // The server name to connect to.
  std::string serverName;
  // The trimmed port when it was joined onto the server name; nullopt when
  // the server name was left as it was (no port, a blank one, or 1433).
  std::optional<std::string> port;
};

// The port joining rule shared by the window's open event and the connect
// button. A null `conn_port`, or one that is "" or "1433" once trimmed,
// leaves `serverName` untouched. Otherwise a numeric suffix after the last
// comma of `serverName` (an earlier port) is cut off together with its
// comma, and "," + the trimmed port is appended. A suffix that is not a
// number stays: "SRV,abc" with port 2000 gives "SRV,abc,2000".
// `serverName` is taken as given (callers trim it where they must).
PortJoin joinPort(std::string_view serverName, const std::optional<std::string>& conn_port);

}  // namespace cvt
