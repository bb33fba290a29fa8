#pragma once

// Small text helpers shared by the backends, the steps and the app, so that
// each rule is written once.

#include <algorithm>
#include <string>
#include <string_view>

namespace cvt {

// `text` without the characters of `chars` at either end.
inline std::string_view trimmedOf(std::string_view text, std::string_view chars) {
  const auto first = text.find_first_not_of(chars);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(chars) - first + 1);
}

// `text` without the blanks at either end; tabs and line breaks stay. The
// window's fields, the settings' port and the source's codes are trimmed
// so.
inline std::string_view trimBlanks(std::string_view text) { return trimmedOf(text, " "); }

// `text` without white space (blank, tab, line break, vertical tab, form
// feed) at either end: a value of a connection string or a server name.
inline std::string_view trimSpace(std::string_view text) { return trimmedOf(text, " \t\n\v\f\r"); }

// A server name of the settings: "host" or "host,port", SQL Server's client
// address form (for the embedded backend the host is a folder).
struct ServerAddress {
  std::string host;
  std::string port;  // empty when the name has none
};

// Splits `server` at its last comma when what follows is a port number
// (digits, possibly none: "host," is the host alone); any other suffix
// stays part of the host, and the driver reports it as unknown. White space
// around each part is dropped.
inline ServerAddress splitServerAddress(std::string_view server) {
  server = trimSpace(server);
  const auto comma = server.rfind(',');
  if (comma != std::string_view::npos) {
    const std::string_view port = trimSpace(server.substr(comma + 1));
    if (std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return {std::string(trimSpace(server.substr(0, comma))), std::string(port)};
    }
  }
  return {std::string(server), {}};
}

}  // namespace cvt
