#include "members/decimal_text.h"

#include <cstddef>

namespace cvt {

namespace {

constexpr long kMaxExponent = 1000;

// A parsed number: (-1)^negative x digits x 10^exponent, `digits` without
// leading or trailing zeros (empty for zero).
struct Parsed {
  bool negative = false;
  std::string digits;
  long exponent = 0;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::optional<Parsed> parse(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) {
    return std::nullopt;
  }
  text = text.substr(first, text.find_last_not_of(' ') - first + 1);

  Parsed p;
  std::size_t pos = 0;
  if (text[pos] == '+' || text[pos] == '-') {
    p.negative = text[pos] == '-';
    ++pos;
  }
  bool sawDigit = false;
  bool sawPoint = false;
  long fractionDigits = 0;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (isDigit(c)) {
      sawDigit = true;
      p.digits.push_back(c);
      if (sawPoint) {
        ++fractionDigits;
      }
    } else if (c == '.' && !sawPoint) {
      sawPoint = true;
    } else {
      break;
    }
  }
  if (!sawDigit) {
    return std::nullopt;
  }
  long exponent = 0;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    ++pos;
    bool negativeExponent = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
      negativeExponent = text[pos] == '-';
      ++pos;
    }
    if (pos == text.size() || !isDigit(text[pos])) {
      return std::nullopt;  // an exponent needs at least one digit
    }
    for (; pos < text.size() && isDigit(text[pos]); ++pos) {
      exponent = exponent * 10 + (text[pos] - '0');
      if (exponent > kMaxExponent) {
        return std::nullopt;
      }
    }
    if (negativeExponent) {
      exponent = -exponent;
    }
  }
  if (pos != text.size()) {
    return std::nullopt;
  }

  const auto lead = p.digits.find_first_not_of('0');
  if (lead == std::string::npos) {
    return Parsed{};  // zero, whatever its sign and scale
  }
  p.digits.erase(0, lead);
  const auto last = p.digits.find_last_not_of('0');
  const auto trailing = static_cast<long>(p.digits.size() - last - 1);
  p.digits.erase(last + 1);
  p.exponent = exponent - fractionDigits + trailing;
  return p;
}

std::string format(const Parsed& p) {
  if (p.digits.empty()) {
    return "0";
  }
  std::string out = p.negative ? "-" : "";
  if (p.exponent >= 0) {
    out += p.digits;
    out.append(static_cast<std::size_t>(p.exponent), '0');
    return out;
  }
  const auto fraction = static_cast<std::size_t>(-p.exponent);
  if (fraction >= p.digits.size()) {
    out += "0.";
    out.append(fraction - p.digits.size(), '0');
    out += p.digits;
  } else {
    const std::size_t whole = p.digits.size() - fraction;
    out.append(p.digits, 0, whole);
    out += '.';
    out.append(p.digits, whole);
  }
  return out;
}

}  // namespace

std::optional<std::string> normalizeDecimal(std::string_view text) { return scaleDecimal(text, 0); }

std::optional<std::string> scaleDecimal(std::string_view text, int places) {
  auto parsed = parse(text);
  if (!parsed) {
    return std::nullopt;
  }
  if (!parsed->digits.empty()) {
    parsed->exponent += places;
  }
  return format(*parsed);
}

std::optional<int> compareWithZero(std::string_view text) {
  const auto parsed = parse(text);
  if (!parsed) {
    return std::nullopt;
  }
  if (parsed->digits.empty()) {
    return 0;
  }
  return parsed->negative ? -1 : 1;
}

}  // namespace cvt
