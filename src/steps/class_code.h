#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "db/session.h"

namespace cvt {

// Item class codes hold two characters per level; a class's parent is its
// code less the last two characters. Codes of the target have at most six
// characters, so a longer code is moved to a free six-character code under
// the same four-character prefix.

// Number of distinct four-digit prefixes, and so the most carries a search
// for a new code can make before it has visited every prefix.
inline constexpr int kClassPrefixCount = 10000;

// The successor of a code read as a decimal number: the last six characters
// of "000000" followed by the number plus 1. A code that is not made only
// of the digits 0-9 (blanks around it aside) reads as 0. Examples: 010199 -> 010200, 999999 ->
// 000000, 0101AB -> 000001.
std::string successorCode(std::string_view code);

// The first `count` characters of `text` (UTF-8 characters, not bytes).
std::string leadingChars(std::string_view text, std::size_t count);

// Asks the database for the largest six-character code that shares the
// first four characters of `code`; null or empty when there is none (or
// when the question failed).
using LargestUnderPrefix = std::function<Value(const std::string& code)>;

// The new six-character code for the long code `longCode`:
//  - the first six characters of the long code when no six-character code
//    shares its first four characters;
//  - otherwise the successor of the largest such code; when that successor
//    ends in "00" the count has rolled into the next prefix, and the search
//    carries on with the successor of the largest code under that prefix
//    (or of the rolled code itself when the prefix is empty), until a code
//    not ending in "00" is found.
// Each carry moves to the next prefix, so after kClassPrefixCount carries
// every prefix is full: the search then gives up and returns nullopt, and
// the class keeps its long code.
// Whether the code returned is already taken is the caller's question.
std::optional<std::string> newClassCode(const std::string& longCode,
                                        const LargestUnderPrefix& largest);

}  // namespace cvt
