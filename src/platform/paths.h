#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace cvt::platform {

// Paths travel through the tool as UTF-8 text (settings, options, SQLite's
// file names). These convert at the edge to the file system's own form,
// which is wide text on Windows, so that Chinese folder names survive.
std::filesystem::path fsPath(std::string_view utf8);
std::string utf8Path(const std::filesystem::path& path);

}  // namespace cvt::platform
