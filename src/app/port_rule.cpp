#include "app/port_rule.h"

namespace cvt {

namespace {

// A port number is a run of decimal digits. Signs, decimal points and
// blanks make the suffix part of the host name, so it is kept.
bool isPortNumber(std::string_view text) {
  if (text.empty()) {
    return false;
  }
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
  }
  return true;
}

}  // namespace

PortJoin joinPort(std::string_view serverName, const std::optional<std::string>& conn_port) {
  PortJoin out{std::string(serverName), std::nullopt};
  if (!conn_port) {
    return out;
  }
  std::string port(trimBlanks(*conn_port));
  if (port.empty() || port == kDefaultPort) {
    return out;
  }
  // The text behind the last comma is the earlier port, if it is a number.
  // Comma and digits are single bytes in every encoding the names arrive in,
  // so cutting by bytes never splits a character of the host name.
  const auto comma = out.serverName.rfind(',');
  if (comma != std::string::npos &&
      isPortNumber(std::string_view(out.serverName).substr(comma + 1))) {
    out.serverName.resize(comma);
  }
  out.serverName += ',';
  out.serverName += port;
  out.port = std::move(port);
  return out;
}

}  // namespace cvt
