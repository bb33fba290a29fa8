#pragma once

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

namespace cvt {

// Database, table and column names compare without regard to case (ASCII
// letters only), as both engines compare them.
inline bool sameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// `text` with ASCII letters in lower case: a name as a key of a map or set.
inline std::string lowered(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

}  // namespace cvt
