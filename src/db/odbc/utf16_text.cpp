#include "db/odbc/utf16_text.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace cvt {

namespace {

// UTF-16 in the byte order of char16_t on this machine, without a byte
// order mark.
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";
constexpr char16_t kReplacementUtf16[] = {u'\uFFFD'};

// One iconv conversion, open for the life of the object.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (isOpen()) {
      iconv_close(cd_);
    }
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `size` bytes at `in` into `out`, which has room for the
  // longest result, and returns the bytes written. Where the input is not
  // valid, `badLength(at, left)` says how many bytes the bad sequence
  // covers; one `replacement` takes their place and the conversion goes on
  // after them.
  template <class BadLength>
  std::size_t convert(const char* in, std::size_t size, char* out, std::size_t capacity,
                      std::string_view replacement, BadLength badLength) {
    char* dst = out;
    std::size_t dstLeft = capacity;
    if (!isOpen()) {
      // Never the case for glibc, which builds these two encodings in.
      return 0;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // a fresh start
    char* src = const_cast<char*>(in);               // iconv never writes its input
    std::size_t srcLeft = size;
    while (srcLeft > 0) {
      if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) {
        break;
      }
      // EILSEQ: a bad sequence at `src`; EINVAL: one cut off by the end.
      const int error = errno;
      if ((error != EILSEQ && error != EINVAL) || dstLeft < replacement.size()) {
        break;  // E2BIG cannot happen with room for the longest result
      }
      std::memcpy(dst, replacement.data(), replacement.size());
      dst += replacement.size();
      dstLeft -= replacement.size();
      const std::size_t skip = error == EILSEQ ? badLength(src, srcLeft) : srcLeft;
      src += skip;
      srcLeft -= skip;
    }
    return capacity - dstLeft;
  }

 private:
  bool isOpen() const { return cd_ != reinterpret_cast<iconv_t>(std::intptr_t{-1}); }

  iconv_t cd_;
};

// The bytes of a bad UTF-8 sequence at `at`: its first byte and the
// continuation bytes that this byte announces, so that one broken
// character leaves one U+FFFD and a byte after it that starts a character
// of its own is kept.
std::size_t badUtf8Length(const char* at, std::size_t left) {
  const auto lead = static_cast<unsigned char>(at[0]);
  const std::size_t announced = lead >= 0xF8   ? 1
                                : lead >= 0xF0 ? 4
                                : lead >= 0xE0 ? 3
                                : lead >= 0xC0 ? 2
                                               : 1;
  std::size_t length = 1;
  while (length < announced && length < left &&
         (static_cast<unsigned char>(at[length]) & 0xC0U) == 0x80U) {
    ++length;
  }
  return length;
}

// A bad UTF-16 sequence is one unpaired surrogate.
std::size_t badUtf16Length(const char* /*at*/, std::size_t left) {
  return std::min(sizeof(char16_t), left);
}

}  // namespace

std::u16string utf8ToUtf16(std::string_view text) {
  thread_local Converter converter(kUtf16, "UTF-8");
  const std::string_view replacement(reinterpret_cast<const char*>(kReplacementUtf16),
                                     sizeof kReplacementUtf16);
  // Every byte of UTF-8 (or each bad one) gives at most one UTF-16 unit.
  std::u16string out(text.size(), u'\0');
  const std::size_t bytes =
      converter.convert(text.data(), text.size(), reinterpret_cast<char*>(out.data()),
                        out.size() * sizeof(char16_t), replacement, badUtf8Length);
  out.resize(bytes / sizeof(char16_t));
  return out;
}

std::string utf16ToUtf8(std::u16string_view text) {
  thread_local Converter converter("UTF-8", kUtf16);
  // Every UTF-16 unit (or each unpaired one) gives at most three bytes.
  std::string out(text.size() * 3, '\0');
  const std::size_t bytes =
      converter.convert(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(char16_t),
                        out.data(), out.size(), kReplacementUtf8, badUtf16Length);
  out.resize(bytes);
  return out;
}

}  // namespace cvt
