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

// A name that needs no quoting: a letter or '_' first, then letters, digits
// and '_'. Files named so in a database folder are attached under their name.
inline bool isPlainIdentifier(std::string_view name) {
  if (name.empty() || std::isdigit(static_cast<unsigned char>(name.front())) != 0) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

}  // namespace cvt
