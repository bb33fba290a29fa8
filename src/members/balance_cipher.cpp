#include "members/balance_cipher.h"

#include <algorithm>
#include <cstddef>

#include "db/text_helpers.h"

namespace cvt {

namespace {

// d(i) = 2 * (n - i - 2) for the position i = k + 1 of a text of length n,
// as the amount to add modulo 256 (a negative shift wraps instead of
// leaving the byte range).
unsigned shiftAt(std::size_t k, std::size_t n) {
  const long long d = 2 * (static_cast<long long>(n) - static_cast<long long>(k) - 3);
  return static_cast<unsigned>(((d % 256) + 256) % 256);
}

unsigned char shifted(char c, unsigned delta) {
  return static_cast<unsigned char>((static_cast<unsigned char>(c) + delta) % 256U);
}

}  // namespace

std::string of_str_encrypt(std::optional<std::string_view> as_source) {
  if (!as_source) {
    return {};
  }
  const std::string_view ls_text = trimBlanks(*as_source);
  const std::size_t ll_len = ls_text.size();
  std::string ls_result(ls_text.rbegin(), ls_text.rend());
  for (std::size_t k = 0; k < ll_len; ++k) {
    ls_result[k] = static_cast<char>(shifted(ls_result[k], shiftAt(k, ll_len)));
  }
  return ls_result;
}

std::string wf_str_decrypt(std::optional<std::string_view> as_source) {
  if (!as_source) {
    return {};
  }
  const std::string_view ls_text = trimBlanks(*as_source);
  const std::size_t ll_len = ls_text.size();
  std::string ls_result(ls_text);
  for (std::size_t k = 0; k < ll_len; ++k) {
    const unsigned undo = (256U - shiftAt(k, ll_len)) % 256U;
    ls_result[k] = static_cast<char>(shifted(ls_result[k], undo));
  }
  std::reverse(ls_result.begin(), ls_result.end());
  return ls_result;
}

}  // namespace cvt
