#include "app/settings_store.h"

#include <ini.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace cvt {

namespace {

std::string lowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

std::string_view trimSpace(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
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
  const std::string_view sectionName = trimSpace(section);
  const bool inOurs = sectionName.empty() || lowerAscii(sectionName) == lowerAscii(ours);
  if (inOurs && *name != '\0') {
    std::string_view text = value;
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
      text = text.substr(1, text.size() - 2);
    }
    static_cast<SettingsStore*>(user)->set(name, std::string(text));
  }
  return 1;  // a line the parser does not understand never stops the others
}

std::string overrideFile() {
  const char* path = std::getenv(kSettingsFileVariable);
  return path != nullptr ? std::string(path) : std::string();
}

}  // namespace

void SettingsStore::set(std::string_view name, std::string text) {
  values_[lowerAscii(name)] = std::move(text);
}

std::optional<std::string> SettingsStore::value(std::string_view name) const {
  const auto it = values_.find(lowerAscii(name));
  if (it == values_.end()) {
    return std::nullopt;
  }
  return it->second;
}

SettingsStore SettingsStore::fromIniText(std::string_view text) {
  configureIniParser();
  SettingsStore store;
  // The parser's result names the first line it did not understand; such
  // lines are skipped, as a missing value is.
  ini_parse_string(std::string(text).c_str(), keepValue, &store);
  return store;
}

SettingsStore SettingsStore::fromFile(const std::string& path) {
  SettingsStore store;
  // Only a regular file of sensible size is read: a device or a pipe named
  // here by mistake may never end, and nothing the store holds comes near
  // a megabyte. A missing or unreadable file leaves the store empty, and
  // says why.
  const std::string what = "the settings file " + path;
  std::error_code error;
  const auto status = std::filesystem::status(platform::fsPath(path), error);
  if (status.type() == std::filesystem::file_type::not_found) {
    store.problem_ = what + " does not exist";
    return store;
  }
  if (error) {
    store.problem_ = what + " could not be read: " + error.message();
    return store;
  }
  if (status.type() == std::filesystem::file_type::directory) {
    store.problem_ = what + " could not be read: " + std::strerror(EISDIR);
    return store;
  }
  if (status.type() != std::filesystem::file_type::regular) {
    store.problem_ = what + " could not be read: it is not a regular file";
    return store;
  }
  std::ifstream file(platform::fsPath(path), std::ios::binary);
  std::string text(kMaxSettingsFileBytes + 1, '\0');
  if (file) {
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
  }
  if (file.bad() || (!file && !file.eof())) {
    store.problem_ = what + " could not be read";
    return store;
  }
  text.resize(static_cast<std::size_t>(file.gcount()));
  if (text.size() > kMaxSettingsFileBytes) {
    store.problem_ = what + " could not be read: it is larger than 1 MB";
    return store;
  }
  store = fromIniText(text);
  return store;
}

// ---------------------------------------------------------------------------
// Platform section: where the machine's store lives.
// ---------------------------------------------------------------------------
#ifdef _WIN32

namespace {

std::wstring wide(std::string_view text) {
  if (text.empty()) {
    return {};
  }
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

std::string utf8(const wchar_t* text, std::size_t length) {
  if (length == 0) {
    return {};
  }
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

// Owns an open registry key (or none).
class RegistryKey {
 public:
  // Opens the settings key in the registry view `view`.
  explicit RegistryKey(REGSAM view) {
    const std::wstring path = wide(kSettingsKey.substr(kSettingsKey.find('\\') + 1));
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key_) !=
        ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~RegistryKey() {
    if (key_ != nullptr) {
      RegCloseKey(key_);
    }
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  bool isOpen() const { return key_ != nullptr; }

  // A string value, or nullopt when it is missing or not a string.
  std::optional<std::string> string(const char* name) const {
    const std::wstring wname = wide(name);
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
      return std::nullopt;
    }
    std::wstring buf(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key_, wname.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buf.data()),
                         &bytes) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    // The stored string may or may not carry its terminating zero.
    std::size_t len = bytes / sizeof(wchar_t);
    while (len > 0 && buf[len - 1] == L'\0') {
      --len;
    }
    return utf8(buf.data(), len);
  }

 private:
  HKEY key_ = nullptr;
};

SettingsStore readKey(const RegistryKey& key) {
  SettingsStore store;
  for (const char* name : kSettingsValueNames) {
    if (auto text = key.string(name)) {
      store.set(name, std::move(*text));
    }
  }
  return store;
}

}  // namespace

SettingsStore SettingsStore::open() {
  if (const std::string file = overrideFile(); !file.empty()) {
    return fromFile(file);
  }
  // The product's installer is a 32-bit program, so its key usually lies in
  // the 32-bit view; a 64-bit installation writes the native one.
  if (const RegistryKey key32(KEY_WOW64_32KEY); key32.isOpen()) {
    return readKey(key32);
  }
  if (const RegistryKey key64(KEY_WOW64_64KEY); key64.isOpen()) {
    return readKey(key64);
  }
  SettingsStore missing;
  missing.problem_ = "the registry key " + std::string(kSettingsKey) + " cannot be opened";
  return missing;
}

std::string SettingsStore::location() {
  if (const std::string file = overrideFile(); !file.empty()) {
    return file;
  }
  return std::string(kSettingsKey);
}

#else  // systems without a registry

SettingsStore SettingsStore::open() { return fromFile(location()); }

std::string SettingsStore::location() {
  if (std::string file = overrideFile(); !file.empty()) {
    return file;
  }
  return kDefaultSettingsFile;
}

#endif

}  // namespace cvt
