// The settings store on Windows: the registry key the product's installer
// writes.

#include <windows.h>

#include "app/settings_store.h"

namespace cvt {

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
  if (const std::string file = settingsFileOverride(); !file.empty()) {
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
  if (const std::string file = settingsFileOverride(); !file.empty()) {
    return file;
  }
  return std::string(kSettingsKey);
}

SettingsStore SettingsStore::fromIniText(std::string_view /*text*/) {
  // The settings live in the registry here; no INI reader is built in.
  SettingsStore store;
  store.problem_ =
      "INI settings are not read on Windows, where the settings live in the registry key " +
      std::string(kSettingsKey);
  return store;
}

}  // namespace cvt
