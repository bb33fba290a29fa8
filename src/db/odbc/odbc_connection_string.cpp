#include "db/odbc/odbc_connection_string.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "db/names.h"
#include "db/odbc/odbc_handles.h"
#include "db/text_helpers.h"
#include "platform/driver_paths.h"

namespace cvt {

namespace {

using Attribute = std::pair<std::string, std::string>;

bool isSeparator(char c) { return c == ',' || c == ';'; }

// Attributes in the order they were first set; setting a key again replaces
// its value in place, which is how DBParm overrides what the settings built.
class AttributeList {
 public:
  void set(std::string key, std::string value) {
    for (auto& attribute : list_) {
      if (sameName(attribute.first, key)) {
        attribute.second = std::move(value);
        return;
      }
    }
    list_.emplace_back(std::move(key), std::move(value));
  }

  // ODBC syntax: key=value pairs joined by ';'. A value that holds a blank
  // or a character the syntax gives a meaning to is braced, '}' doubled,
  // except where `bare` says the one who reads the value takes it up to the
  // next ';' as it stands (see bareForSqlite).
  std::string text(bool (*bare)(std::string_view key) = nullptr) const {
    std::string out;
    for (const auto& [key, value] : list_) {
      if (!out.empty()) {
        out += ';';
      }
      out += key;
      out += '=';
      const bool needs_braces = (bare == nullptr || !bare(key)) &&
                                value.find_first_of("[]{}(),;?*=!@ \t") != std::string::npos;
      if (needs_braces) {
        out += '{';
        for (const char c : value) {
          out += c;
          if (c == '}') {
            out += '}';
          }
        }
        out += '}';
      } else {
        out += value;
      }
    }
    return out;
  }

  const std::vector<Attribute>& items() const { return list_; }

 private:
  std::vector<Attribute> list_;
};

// The SQLite3 ODBC driver reads its own attributes up to the next ';' and
// keeps braces as part of the value: a braced file path names no file. The
// driver manager's own (the driver, the data source) take braces.
bool bareForSqlite(std::string_view key) {
  return !sameName(key, "Driver") && !sameName(key, "DSN");
}

// The key of the first bare value that holds a ';', which no syntax can
// carry to a driver that reads up to it; empty when there is none.
std::string semicolonIn(const AttributeList& list, bool (*bare)(std::string_view key)) {
  for (const auto& [key, value] : list.items()) {
    if (bare(key) && value.find(';') != std::string::npos) {
      return key;
    }
  }
  return {};
}

struct ParsedParm {
  std::vector<Attribute> pairs;
  std::string error;
};

// Reads a value that starts with `open` at text[i]; `close` doubled inside
// stands for itself. Returns nullopt when the closing character is missing.
std::optional<std::string> readEnclosed(std::string_view text, std::size_t& i, char close) {
  std::string value;
  ++i;  // the opening character
  while (i < text.size()) {
    if (text[i] == close) {
      if (i + 1 < text.size() && text[i + 1] == close) {
        value += close;
        i += 2;
        continue;
      }
      ++i;
      return value;
    }
    value += text[i++];
  }
  return std::nullopt;
}

// Parses DBParm. Error texts name keys but never values: a value may be a
// password.
ParsedParm parseDbParm(std::string_view text) {
  ParsedParm parsed;
  std::size_t i = 0;
  while (true) {
    while (i < text.size() &&
           (isSeparator(text[i]) || std::isspace(static_cast<unsigned char>(text[i])) != 0)) {
      ++i;
    }
    if (i >= text.size()) {
      return parsed;
    }
    const std::size_t key_start = i;
    while (i < text.size() && text[i] != '=' && !isSeparator(text[i])) {
      ++i;
    }
    const std::string key(trimSpace(text.substr(key_start, i - key_start)));
    if (i >= text.size() || text[i] != '=') {
      parsed.error = "DBParm: \"" + key + "\" is not a key=value pair.";
      return parsed;
    }
    if (key.empty()) {
      parsed.error = "DBParm: a value has no key in front of its '='.";
      return parsed;
    }
    ++i;  // '='
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
      ++i;
    }
    std::string value;
    if (i < text.size() && (text[i] == '\'' || text[i] == '"' || text[i] == '{')) {
      const char close = text[i] == '{' ? '}' : text[i];
      auto enclosed = readEnclosed(text, i, close);
      if (!enclosed) {
        parsed.error =
            "DBParm: the value of \"" + key + "\" has no closing " + std::string(1, close) + ".";
        return parsed;
      }
      value = std::move(*enclosed);
      while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])) != 0) {
        ++i;
      }
      if (i < text.size() && !isSeparator(text[i])) {
        parsed.error = "DBParm: unexpected text after the quoted value of \"" + key + "\".";
        return parsed;
      }
    } else {
      const std::size_t value_start = i;
      while (i < text.size() && !isSeparator(text[i])) {
        ++i;
      }
      value = std::string(trimSpace(text.substr(value_start, i - value_start)));
    }
    parsed.pairs.emplace_back(key, std::move(value));
  }
}

std::optional<int> parseSeconds(std::string_view text) {
  if (text.empty() || text.size() > 4) {
    return std::nullopt;
  }
  int value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > kMaxLoginTimeoutSeconds) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::string newestSqlServerDriver(const std::vector<std::string>& installed) {
  for (const char* wanted : kSqlServerDrivers) {
    for (const std::string& name : installed) {
      if (lowered(name) == lowered(wanted)) {
        return name;
      }
    }
  }
  return kSqlServerDrivers[0];
}

std::vector<std::string> installedOdbcDrivers() {
  std::vector<std::string> names;
  OdbcEnvHandle env;
  if (!SQL_SUCCEEDED(env.allocate(SQL_NULL_HANDLE))) {
    return names;
  }
  SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION,
                reinterpret_cast<SQLPOINTER>(static_cast<std::uintptr_t>(SQL_OV_ODBC3)), 0);
  SQLCHAR name[512];
  SQLCHAR attributes[2048];
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT attributesLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (SQL_SUCCEEDED(SQLDrivers(env.get(), direction, name, sizeof name, &nameLength, attributes,
                                  sizeof attributes, &attributesLength))) {
    names.emplace_back(reinterpret_cast<const char*>(name));
    direction = SQL_FETCH_NEXT;
  }
  return names;
}

OdbcDriverKind odbcDriverKindOf(std::string_view driver) {
  const std::string name = lowered(driver);
  if (name.find("sqlite") != std::string::npos) {
    return OdbcDriverKind::Sqlite;
  }
  if (name.find("freetds") != std::string::npos || name.find("tdsodbc") != std::string::npos) {
    return OdbcDriverKind::FreeTds;
  }
  if (name.find("sql server") != std::string::npos || name.find("msodbcsql") != std::string::npos ||
      name.find("sqlncli") != std::string::npos ||
      name.find("sql native client") != std::string::npos) {
    return OdbcDriverKind::Microsoft;
  }
  return OdbcDriverKind::Other;
}

OdbcConnectRequest buildOdbcConnectRequest(const SessionSettings& settings,
                                           std::string_view default_driver) {
  OdbcConnectRequest request;
  ParsedParm parm = parseDbParm(settings.DBParm);
  if (!parm.error.empty()) {
    request.error = std::move(parm.error);
    return request;
  }

  std::optional<std::string> driver;
  std::optional<std::string> dsn;
  std::vector<Attribute> extra;
  for (auto& [key, value] : parm.pairs) {
    if (sameName(key, "Driver")) {
      driver = value;
    } else if (sameName(key, "DSN")) {
      dsn = value;
    } else if (sameName(key, "LoginTimeout")) {
      const auto seconds = parseSeconds(trimSpace(value));
      if (!seconds) {
        request.error = "DBParm: LoginTimeout must be a whole number of seconds from 1 to " +
                        std::to_string(kMaxLoginTimeoutSeconds) + ".";
        return request;
      }
      request.loginTimeoutSeconds = *seconds;
    } else if (sameName(key, "Provider")) {
      // An OLE DB provider name carried over from an installation's
      // settings; no ODBC driver understands it.
    } else {
      extra.emplace_back(key, value);
    }
  }
  if (!driver && !dsn) {
    driver = std::string(default_driver);
  }

  AttributeList attributes;
  if (dsn) {
    attributes.set("DSN", *dsn);
  }
  if (driver) {
    attributes.set("Driver", *driver);
  }
  request.driverKind = driver ? odbcDriverKindOf(*driver) : OdbcDriverKind::Other;

  const std::string server(trimSpace(settings.ServerName));
  if (request.driverKind == OdbcDriverKind::Sqlite) {
    // The embedded backend's layout: the folder holds <database>.db. The
    // file is never created by a connect.
    std::string file = settings.Database + ".db";
    const std::string folder = splitServerAddress(server).host;
    if (!folder.empty()) {
      file = folder + "/" + file;
    }
    attributes.set("Database", platform::driverFilePath(file));
    attributes.set("NoCreat", "1");
  } else {
    if (!server.empty()) {
      if (request.driverKind == OdbcDriverKind::FreeTds) {
        auto [host, port] = splitServerAddress(server);
        if (lowered(host).rfind("tcp:", 0) == 0) {
          host.erase(0, 4);
        }
        attributes.set("Server", host);
        if (!port.empty()) {
          attributes.set("Port", port);
        }
      } else {
        attributes.set("Server", server);
      }
    }
    if (!settings.LogId.empty()) {
      attributes.set("UID", settings.LogId);
      attributes.set("PWD", settings.LogPass);
    }
    if (!settings.Database.empty()) {
      attributes.set("Database", settings.Database);
    }
    if (request.driverKind == OdbcDriverKind::FreeTds) {
      // Left to guess, FreeTDS tries one protocol version after another,
      // each with a full login time-out, and its older versions send the
      // password in clear text. Every SQL Server of this century speaks
      // 7.x and answers a 7.4 login with its own version.
      attributes.set("TDS_Version", "7.4");
      attributes.set("ClientCharset", "UTF-8");
    }
    if (request.driverKind == OdbcDriverKind::FreeTds ||
        request.driverKind == OdbcDriverKind::Microsoft) {
      attributes.set("MARS_Connection", "Yes");
    }
  }
  for (auto& [key, value] : extra) {
    attributes.set(std::move(key), std::move(value));
  }
  if (request.driverKind == OdbcDriverKind::Sqlite) {
    const std::string key = semicolonIn(attributes, bareForSqlite);
    if (!key.empty()) {
      request.error = "The SQLite ODBC driver cannot take a ';' in the value of \"" + key + "\".";
      return request;
    }
    request.connectionString = attributes.text(bareForSqlite);
  } else {
    request.connectionString = attributes.text();
  }
  return request;
}

}  // namespace cvt
