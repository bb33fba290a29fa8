#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace cvt {

// The installation's settings: the registry key of the installed target
// product, with the string values below. The tool only ever reads it.
inline constexpr std::string_view kSettingsKey =
    "HKEY_LOCAL_MACHINE\\Software\\Vantor\\tillex\\8.0";
inline constexpr const char* kSettingsValueNames[] = {"DBMS", "Database", "ServerName", "Dbparm",
                                                      "conn_port"};

// Names a settings file that replaces the machine's store (on every
// platform). Tests and the demo point it at a file of their own.
inline constexpr const char* kSettingsFileVariable = "CONVERT_SETTINGS_FILE";

// Where the key lives on systems without a registry: the machine-wide
// configuration folder stands for HKEY_LOCAL_MACHINE, "Software" is
// dropped, the remaining parts of the key become folders and the last one
// the file name. The file is INI text:
//
//   ; lines starting with ';' or '#' are comments
//   [HKEY_LOCAL_MACHINE\Software\Vantor\tillex\8.0]
//   DBMS=SQLite
//   ServerName=/srv/convert/data
//   conn_port=" 2000 "
//
// Names and values are trimmed of blanks around '=' (or ':'); a value in
// double quotes is taken as written between them (blanks kept, no escapes),
// and a ';' inside a value belongs to it. A line the parser does not
// understand is skipped.
// Value names, like the registry's, are compared without regard to case.
// Values before any [section] count as well; other sections are ignored.
// A larger settings file is refused rather than read.
inline constexpr std::size_t kMaxSettingsFileBytes = 1 << 20;

inline constexpr const char* kDefaultSettingsFile = "/etc/Vantor/tillex/8.0.ini";

// A read-only snapshot of the settings. A missing file, key or value is
// not an error: the value is simply absent, and problem() says why the
// store holds nothing at all.
// The file named by CONVERT_SETTINGS_FILE, or an empty text.
std::string settingsFileOverride();

class SettingsStore {
 public:
  SettingsStore() = default;

  // The machine's store: the file named by CONVERT_SETTINGS_FILE when that
  // variable is set and not empty; otherwise the registry key on Windows and
  // kDefaultSettingsFile elsewhere.
  static SettingsStore open();
  // The values of an INI file; none when it is missing or unreadable.
  static SettingsStore fromFile(const std::string& path);
  // The values of INI text.
  static SettingsStore fromIniText(std::string_view text);

  // Where open() reads: the file's path or the registry key.
  static std::string location();

  // The string value `name`, or nullopt when the store does not hold it.
  std::optional<std::string> value(std::string_view name) const;

  // Adds or replaces the value `name` of this snapshot (never of the
  // machine's store, which stays read only).
  void set(std::string_view name, std::string text);

  // Why the store could not be read (its file or key is missing or
  // unreadable), for the operator; empty when it was read.
  const std::string& problem() const { return problem_; }

 private:
  std::map<std::string, std::string> values_;  // keyed by lower-case name
  std::string problem_;
};

}  // namespace cvt
