// The settings store where there is no registry: an INI file.

#include <ini.h>

#include <algorithm>

#include "app/settings_store.h"
#include "db/text_helpers.h"

namespace cvt {

namespace {

bool sameLetters(std::string_view a, std::string_view b) {
  const auto lower = [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

// The parser's options, set once for the process before its first use:
// a value keeps a ';' (a Dbparm list separates its pairs with it), an
// indented line is a value of its own rather than the continuation of the
// one before, and a line may be as long as a value can sensibly be.
void configureIniParser() {
#ifdef CONVERT_INIH_RUNTIME_OPTIONS
  static const bool configured = [] {
    ini_allow_inline_comments = false;
    ini_allow_multiline = false;
    ini_use_stack = false;
    ini_allow_realloc = true;
    ini_max_line = 1 << 20;  // the buffer grows to this only for such a line
    return true;
  }();
  (void)configured;
#endif
}

// Keeps the values of the settings key (and those before any section).
int keepValue(void* user, const char* section, const char* name, const char* value) {
  const std::string_view ours = kSettingsKey;
  const std::string_view sectionName = trimmedOf(section, " \t");
  const bool inOurs = sectionName.empty() || sameLetters(sectionName, ours);
  if (inOurs && *name != '\0') {
    std::string_view text = value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
      text = text.substr(1, text.size() - 2);
    }
    static_cast<SettingsStore*>(user)->set(name, std::string(text));
  }
  return 1;  // a line the parser does not understand never stops the others
}

}  // namespace

SettingsStore SettingsStore::fromIniText(std::string_view text) {
  configureIniParser();
  SettingsStore store;
  // The parser's result names the first line it did not understand; such
  // lines are skipped, as a missing value is.
  ini_parse_string(std::string(text).c_str(), keepValue, &store);
  return store;
}

SettingsStore SettingsStore::open() { return fromFile(location()); }

std::string SettingsStore::location() {
  if (std::string file = settingsFileOverride(); !file.empty()) {
    return file;
  }
  return kDefaultSettingsFile;
}

}  // namespace cvt
