#pragma once

// The order the TSQL collation gives two texts, as the server's default
// Chinese collation compares them: case- and width-insensitive,
// accent-sensitive, trailing blanks ignored, Chinese in pinyin order,
// punctuation before digits before letters.
//
// One implementation per platform: collation_icu.cpp takes the order from
// ICU's Chinese tailoring, collation_windows.cpp from the system's own
// sorting. Both are safe to call from several threads at once.

#include <cstddef>

namespace cvt::collation {

// Negative, zero or positive as UTF-8 text `a` sorts before, equal to or
// after `b`. Invalid UTF-8 never fails: it compares by its bytes.
int compare(const char* a, std::size_t lengthA, const char* b, std::size_t lengthB);

}  // namespace cvt::collation
