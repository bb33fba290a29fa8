// The TSQL collation on Windows' own sorting. The server's Chinese_PRC
// collations are Windows' zh-CN sort (pinyin) compared case-, kana- and
// width-insensitively and accent-sensitively, which are exactly the flags
// below. SORT_STRINGSORT keeps the hyphen and the apostrophe among the other
// punctuation, sorting before digits and letters, as the ICU implementation
// does with its non-ignorable punctuation.

#include <windows.h>

#include <climits>
#include <string>

#include "db/sqlite/collation.h"
#include "db/sqlite/collation_text.h"

namespace cvt::collation {
namespace {

constexpr DWORD kFlags = NORM_IGNORECASE | NORM_IGNOREKANATYPE | NORM_IGNOREWIDTH | SORT_STRINGSORT;

// `s` as UTF-16, or false when it is not well-formed UTF-8.
bool toWide(const char* s, std::size_t n, std::wstring& out) {
  out.clear();
  if (n == 0) {
    return true;
  }
  const int size = static_cast<int>(n);
  const int wide = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, size, nullptr, 0);
  if (wide <= 0) {
    return false;
  }
  out.resize(static_cast<std::size_t>(wide));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s, size, out.data(), wide) == wide;
}

}  // namespace

int compare(const char* a, std::size_t lengthA, const char* b, std::size_t lengthB) {
  const std::size_t na = withoutTrailingBlanks(a, lengthA);
  const std::size_t nb = withoutTrailingBlanks(b, lengthB);
  thread_local std::wstring wa;
  thread_local std::wstring wb;
  if (na > INT_MAX || nb > INT_MAX || !toWide(a, na, wa) || !toWide(b, nb, wb)) {
    return bytewise(a, na, b, nb);
  }
  const int r = CompareStringEx(L"zh-CN", kFlags, wa.data(), static_cast<int>(wa.size()), wb.data(),
                                static_cast<int>(wb.size()), nullptr, nullptr, 0);
  if (r == 0) {
    return bytewise(a, na, b, nb);
  }
  return r - CSTR_EQUAL;
}

}  // namespace cvt::collation
