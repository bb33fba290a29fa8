#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cvt {

// Exact decimal numbers carried as text. Money and balances never pass
// through binary floating point: every operation here works on the digits.
//
// Accepted input: optional blanks (code 32) around, an optional sign '+' or
// '-', digits with at most one decimal point and at least one digit, and an
// optional exponent ('e' or 'E', optional sign, digits, magnitude at most
// 1000) as engines write large or small reals. Anything else is not a
// number.
//
// Canonical output: an optional '-', the integer digits without leading
// zeros ("0" when there are none), and a '.' followed by the fraction only
// when the fraction is not zero, without trailing zeros. Zero is "0", never
// "-0". Examples: "012.500" -> "12.5", "-0.0" -> "0", "1.5e2" -> "150".

// The canonical text of `text`, or nullopt when it is not a number.
std::optional<std::string> normalizeDecimal(std::string_view text);

// The canonical text of `text` x 10^places (a negative `places` divides),
// exact, or nullopt when `text` is not a number.
// REQUIRES: |places| is small (the result is written out in full).
std::optional<std::string> scaleDecimal(std::string_view text, int places);

// A balance counted in ten-thousandths of the currency unit: "12.5" ->
// "125000". nullopt when `text` is not a number.
inline std::optional<std::string> timesTenThousand(std::string_view text) {
  return scaleDecimal(text, 4);
}

// The reverse: "125000" -> "12.5", "1" -> "0.0001". nullopt when `text` is
// not a number.
inline std::optional<std::string> divideByTenThousand(std::string_view text) {
  return scaleDecimal(text, -4);
}

// -1, 0 or 1 as `text` is below, equal to or above zero; nullopt when it
// is not a number.
std::optional<int> compareWithZero(std::string_view text);

}  // namespace cvt
