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
  // ranks compare equal (a and A). Zero for every other byte: those are
  // off the fast path.
  std::array<unsigned char, 256> rank{};

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

// True when every byte of s[from, to) is on the fast path.
bool plain(const unsigned char* s, std::size_t from, std::size_t to, const unsigned char* rank) {
  for (std::size_t j = from; j < to; ++j) {
    if (rank[s[j]] == 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

int compare(const char* a, std::size_t lengthA, const char* b, std::size_t lengthB) {
  const Collator& c = collator();
  const std::size_t na = withoutTrailingBlanks(a, lengthA);
  const std::size_t nb = withoutTrailingBlanks(b, lengthB);
  const auto* pa = reinterpret_cast<const unsigned char*>(a);
  const auto* pb = reinterpret_cast<const unsigned char*>(b);
  const unsigned char* rank = c.rank.data();
  const std::size_t common = std::min(na, nb);
  std::size_t i = 0;
  while (i < common && rank[pa[i]] == rank[pb[i]] && rank[pa[i]] != 0) {
    ++i;
  }
  if (i < common) {
    // Two plain characters of different ranks decide only if the rest of
    // both texts stays on the fast path; otherwise a later character (an
    // accent, say) can still decide, so ICU sees the whole texts.
    const unsigned char ra = rank[pa[i]];
    const unsigned char rb = rank[pb[i]];
    if (ra != 0 && rb != 0 && plain(pa, i + 1, na, rank) && plain(pb, i + 1, nb, rank)) {
      return ra < rb ? -1 : 1;
    }
  } else if (plain(na > nb ? pa : pb, common, std::max(na, nb), rank)) {
    return na == nb ? 0 : (na < nb ? -1 : 1);
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
