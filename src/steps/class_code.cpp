#include "steps/class_code.h"

namespace cvt {

namespace {

constexpr std::size_t kShortCodeLength = 6;

bool isNullOrEmpty(const Value& v) { return !v.has_value() || v->empty(); }

bool endsInDoubleZero(std::string_view code) {
  return code.size() >= 2 && code.substr(code.size() - 2) == "00";
}

}  // namespace

std::string successorCode(std::string_view code) {
  // Blanks around a code do not make it another number.
  const std::size_t first = code.find_first_not_of(' ');
  code = first == std::string_view::npos ? std::string_view{} : code.substr(first);
  code = code.substr(0, code.find_last_not_of(' ') + 1);
  bool numeric = !code.empty();
  for (const char c : code) {
    if (c < '0' || c > '9') {
      numeric = false;
      break;
    }
  }
  // Only the last six digits of the sum are kept, and they depend only on
  // the last six digits of the code: reading those alone is exact and never
  // overflows, however long the code.
  long long value = 0;
  if (numeric) {
    const std::string_view tail =
        code.size() > kShortCodeLength ? code.substr(code.size() - kShortCodeLength) : code;
    for (const char c : tail) {
      value = value * 10 + (c - '0');
    }
  }
  const std::string text = "000000" + std::to_string(value + 1);
  return text.substr(text.size() - kShortCodeLength);
}

std::string leadingChars(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) {
    ++pos;
    // Skip the continuation bytes of a multi-byte character.
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0U) == 0x80U) {
      ++pos;
    }
  }
  return std::string(text.substr(0, pos));
}

std::optional<std::string> newClassCode(const std::string& longCode,
                                        const LargestUnderPrefix& largest) {
  const Value maxUnderPrefix = largest(longCode);
  if (isNullOrEmpty(maxUnderPrefix)) {
    return leadingChars(longCode, kShortCodeLength);
  }
  std::string code = successorCode(*maxUnderPrefix);
  // Every pass moves the candidate into the next four-digit prefix (wrapping
  // from 9999 to 0000), so a bound of one pass per prefix is enough to try
  // them all and guarantees the search ends on any data.
  for (int carries = 0; endsInDoubleZero(code); ++carries) {
    if (carries == kClassPrefixCount) {
      return std::nullopt;
    }
    const Value temp = largest(code);
    code = successorCode(isNullOrEmpty(temp) ? code : *temp);
  }
  return code;
}

}  // namespace cvt
