#include "db/odbc/utf16_text.h"

#include <cstdint>

namespace cvt {

// Decoded by hand rather than by a system converter: Windows and Linux
// offer different ones with different habits for bad input, and the text
// a driver receives must not depend on the machine.

namespace {

constexpr char32_t kReplacement = U'\uFFFD';

bool isContinuation(unsigned char byte) { return (byte & 0xC0U) == 0x80U; }

// The bytes of a bad UTF-8 sequence at `at`: its first byte and the
// continuation bytes that this byte announces, so that one broken
// character leaves one U+FFFD and a byte after it that starts a character
// of its own is kept.
std::size_t badUtf8Length(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t announced = lead >= 0xF8   ? 1
                                : lead >= 0xF0 ? 4
                                : lead >= 0xE0 ? 3
                                : lead >= 0xC0 ? 2
                                               : 1;
  std::size_t length = 1;
  while (length < announced && at + length < text.size() &&
         isContinuation(static_cast<unsigned char>(text[at + length]))) {
    ++length;
  }
  return length;
}

// The character at `at` and its length in bytes; a length of zero when
// the bytes there are not a well-formed character (overlong forms,
// surrogates and values past U+10FFFF included).
std::pair<char32_t, std::size_t> decodeUtf8(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) {
    return {lead, 1};
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1FU;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0FU;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07U;
    least = 0x10000;
  } else {
    return {0, 0};
  }
  if (at + length > text.size()) {
    return {0, 0};
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[at + i]);
    if (!isContinuation(byte)) {
      return {0, 0};
    }
    value = (value << 6) | (byte & 0x3FU);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
    return {0, 0};
  }
  return {value, length};
}

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t at = 0;
  while (at < text.size()) {
    const auto [c, length] = decodeUtf8(text, at);
    if (length == 0) {
      out += static_cast<char16_t>(kReplacement);
      at += badUtf8Length(text, at);
      continue;
    }
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    at += length;
  }
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      appendUtf8(out, 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                          (static_cast<char32_t>(text[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUtf8(out, kReplacement);  // an unpaired surrogate
    } else {
      appendUtf8(out, unit);
    }
  }
  return out;
}

}  // namespace cvt
