#include "app/settings_store.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/paths.h"

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

}  // namespace

std::string settingsFileOverride() {
  const char* path = std::getenv(kSettingsFileVariable);
  return path != nullptr ? std::string(path) : std::string();
}

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

}  // namespace cvt
