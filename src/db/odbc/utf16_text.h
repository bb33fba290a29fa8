#pragma once

#include <string>
#include <string_view>

namespace cvt {

// Converts UTF-8 text to UTF-16. A byte sequence that is not valid UTF-8
// (a stray continuation byte, a truncated or overlong sequence, a
// surrogate code point) becomes U+FFFD, so bad input never stops a
// conversion and never reads past the end of `text`.
std::u16string utf8ToUtf16(std::string_view text);

// Converts UTF-16 text to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view text);

}  // namespace cvt
