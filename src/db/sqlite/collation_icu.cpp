// The TSQL collation on ICU. The server's default Chinese collation is
// ICU's "zh" tailoring (pinyin) at secondary strength: letters and accents
// count, case and width (tertiary differences) do not. Punctuation keeps its
// primary weight ("non-ignorable"), so it sorts before digits and letters.
//
// Nearly every key the conversion compares is short printable ASCII, where
// ICU gives each character one primary weight and no secondary difference;
// there a byte-wise walk over the characters' ranks is the same order. The
// ranks are taken from the collator itself when it is first used, so the
// fast path cannot drift from ICU.

#include <unicode/ucol.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "db/sqlite/collation.h"
#include "db/sqlite/collation_text.h"

namespace cvt::collation {
namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kLastPrintable = 0x7e;

struct Collator {
  UCollator* icu = nullptr;
  // Rank of each printable ASCII character in the collator's order; equal
  // ranks compare equal (a and A). Zero for characters off the fast path.
  std::array<unsigned char, 128> rank{};

  Collator() {
    UErrorCode status = U_ZERO_ERROR;
    icu = ucol_open("zh", &status);
    if (U_FAILURE(status) || icu == nullptr) {
      icu = nullptr;
      return;
    }
    ucol_setStrength(icu, UCOL_SECONDARY);
    status = U_ZERO_ERROR;
    ucol_setAttribute(icu, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
    // ICU's Chinese tailoring moves Han before Latin; the server keeps
    // digits and Latin letters before Chinese.
    int32_t noReordering[] = {UCOL_REORDER_CODE_NONE};
    ucol_setReorderCodes(icu, noReordering, 1, &status);
    std::array<char, 128> chars{};
    std::size_t count = 0;
    for (int c = kFirstPrintable; c <= kLastPrintable; ++c) {
      chars[count++] = static_cast<char>(c);
    }
    const auto icuOrder = [this](char x, char y) {
      UErrorCode s = U_ZERO_ERROR;
      return ucol_strcollUTF8(icu, &x, 1, &y, 1, &s) == UCOL_LESS;
    };
    std::stable_sort(chars.begin(), chars.begin() + static_cast<std::ptrdiff_t>(count), icuOrder);
    unsigned char next = 1;
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0 && icuOrder(chars[i - 1], chars[i])) {
        ++next;
      }
      rank[static_cast<unsigned char>(chars[i])] = next;
    }
  }
  ~Collator() {
    if (icu != nullptr) {
      ucol_close(icu);
    }
  }
  Collator(const Collator&) = delete;
  Collator& operator=(const Collator&) = delete;
};

const Collator& collator() {
  static const Collator instance;
  return instance;
}

}  // namespace

int compare(const char* a, std::size_t lengthA, const char* b, std::size_t lengthB) {
  const Collator& c = collator();
  const std::size_t na = withoutTrailingBlanks(a, lengthA);
  const std::size_t nb = withoutTrailingBlanks(b, lengthB);
  const std::size_t common = std::min(na, nb);
  std::size_t i = 0;
  for (; i < common; ++i) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[i]);
    if (ca >= 128 || cb >= 128 || c.rank[ca] == 0 || c.rank[cb] == 0) {
      break;
    }
    if (c.rank[ca] != c.rank[cb]) {
      // Only if the rest of both texts stays on the fast path is this the
      // collator's answer; otherwise a later character (an accent, say)
      // can still decide, so ICU sees the whole texts.
      bool plain = true;
      for (std::size_t j = i + 1; j < na && plain; ++j) {
        const auto x = static_cast<unsigned char>(a[j]);
        plain = x < 128 && c.rank[x] != 0;
      }
      for (std::size_t j = i + 1; j < nb && plain; ++j) {
        const auto x = static_cast<unsigned char>(b[j]);
        plain = x < 128 && c.rank[x] != 0;
      }
      if (plain) {
        return c.rank[ca] < c.rank[cb] ? -1 : 1;
      }
      break;
    }
  }
  if (i == common) {
    bool plain = true;
    const char* longer = na > nb ? a : b;
    for (std::size_t j = common; j < std::max(na, nb) && plain; ++j) {
      const auto x = static_cast<unsigned char>(longer[j]);
      plain = x < 128 && c.rank[x] != 0;
    }
    if (plain) {
      return na == nb ? 0 : (na < nb ? -1 : 1);
    }
  }
  if (c.icu == nullptr) {
    return bytewise(a, na, b, nb);
  }
  UErrorCode status = U_ZERO_ERROR;
  const UCollationResult r =
      ucol_strcollUTF8(c.icu, a, static_cast<int32_t>(na), b, static_cast<int32_t>(nb), &status);
  if (U_FAILURE(status)) {
    return bytewise(a, na, b, nb);
  }
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

}  // namespace cvt::collation
