#pragma once

// What every implementation of the TSQL collation does alike, whatever
// orders the characters: trailing blanks never count, and text the
// platform's collator cannot take compares by its bytes.

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace cvt::collation {

// The length of `s` without its trailing blanks.
inline std::size_t withoutTrailingBlanks(const char* s, std::size_t n) {
  while (n > 0 && s[n - 1] == ' ') {
    --n;
  }
  return n;
}

// Negative, zero or positive as `a` sorts by its bytes before, equal to or
// after `b`.
inline int bytewise(const char* a, std::size_t na, const char* b, std::size_t nb) {
  const int c = std::memcmp(a, b, std::min(na, nb));
  if (c != 0) {
    return c;
  }
  return na == nb ? 0 : (na < nb ? -1 : 1);
}

}  // namespace cvt::collation
