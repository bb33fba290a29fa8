#include "db/sqlite/ext/tsql_decimal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_parts.h"

namespace cvt::tsql_impl {

namespace {

template <typename T>
T powerOfTen(int n) {
  T p = 1;
  for (int i = 0; i < n; ++i) {
    p *= 10;
  }
  return p;
}

}  // namespace

bool decFromText(std::string_view text, Dec& out) {
  while (!text.empty() && text.front() == ' ') {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  // The digits gather in a 64-bit integer while there are at most 18 of
  // them, and only a longer value goes on in the wide one.
  std::uint64_t small = 0;
  Wide value = 0;
  bool wide = false;
  int digits = 0;
  int scale = 0;
  bool point = false;
  bool any = false;
  for (const char c : text) {
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') {
      return false;
    }
    any = true;
    if (digits > 0 || c != '0') {
      if (++digits > 76) {
        return false;
      }
    }
    const auto digit = static_cast<unsigned>(c - '0');
    if (wide) {
      value = value * 10 + digit;
    } else if (digits <= 18) {
      small = small * 10 + digit;
    } else {
      value = Wide(small) * 10 + digit;
      wide = true;
    }
    if (point) {
      ++scale;
    }
  }
  if (!any) {
    return false;
  }
  if (!wide) {
    value = Wide(small);
  }
  out.unscaled = negative ? Wide(-value) : value;
  out.scale = scale;
  return true;
}

std::string decToText(const Dec& d) {
  const bool negative = d.unscaled < 0;
  std::string digits;
  if (fitsInt64(d.unscaled)) {
    const auto v = static_cast<std::int64_t>(d.unscaled);
    digits =
        std::to_string(v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v));
  } else {
    digits = (negative ? Wide(-d.unscaled) : d.unscaled).str();
  }
  int scale = d.scale;
  while (scale > 0 && digits.size() > 1 && digits.back() == '0') {
    digits.pop_back();
    --scale;
  }
  if (scale > 0 && digits == "0") {
    scale = 0;
  }
  const auto s = static_cast<std::size_t>(scale);
  if (digits.size() <= s) {
    digits.insert(0, s - digits.size() + 1, '0');
  }
  if (s > 0) {
    digits.insert(digits.size() - s, 1, '.');
  }
  return negative ? "-" + digits : digits;
}

Wide roundDown(const Wide& v, int n) {
  if (n <= 0) {
    return v;
  }
  const Wide& p = wideTen(n);
  Wide q = v / p;
  const Wide r = v % p;
  if ((r < 0 ? Wide(-r) : r) * 2 >= p) {
    q += v < 0 ? -1 : 1;
  }
  return q;
}

Dec rescale(const Dec& d, int scale) {
  if (scale >= d.scale) {
    return Dec{d.unscaled * wideTen(scale - d.scale), scale};
  }
  return Dec{roundDown(d.unscaled, d.scale - scale), scale};
}

DecType typeOfValue(const Dec& d) {
  const int digits = digitCount(d.unscaled);
  return DecType{std::min(kMaxPrecision, std::max(digits, d.scale)),
                 std::min(d.scale, kMaxPrecision)};
}

DecStatus decCompute(DecOp op, const Dec& a, const Dec& b, DecType type, Dec& out) {
  switch (op) {
    case DecOp::Add:
    case DecOp::Subtract: {
      const int scale = std::max(a.scale, b.scale);
      const Wide x = a.unscaled * wideTen(scale - a.scale);
      const Wide y = b.unscaled * wideTen(scale - b.scale);
      out = rescale(Dec{op == DecOp::Add ? Wide(x + y) : Wide(x - y), scale}, type.scale);
      break;
    }
    case DecOp::Multiply: {
      // Both factors have at most 38 digits once fitted; a wider one (a
      // value the caller could not type) is brought to 38 first.
      const Dec x = digitCount(a.unscaled) > kMaxPrecision ? rescale(a, 0) : a;
      const Dec y = digitCount(b.unscaled) > kMaxPrecision ? rescale(b, 0) : b;
      if (digitCount(x.unscaled) > kMaxPrecision || digitCount(y.unscaled) > kMaxPrecision) {
        return DecStatus::Overflow;
      }
      out = rescale(Dec{x.unscaled * y.unscaled, x.scale + y.scale}, type.scale);
      break;
    }
    case DecOp::Divide:
    case DecOp::Modulo: {
      if (b.unscaled == 0) {
        return DecStatus::DivideByZero;
      }
      if (op == DecOp::Modulo) {
        const int scale = std::max(a.scale, b.scale);
        const Wide x = a.unscaled * wideTen(scale - a.scale);
        const Wide y = b.unscaled * wideTen(scale - b.scale);
        out = rescale(Dec{x % y, scale}, type.scale);
        break;
      }
      // q = a / b at type.scale places, cut toward zero:
      // a.u * 10^(type.scale - a.scale + b.scale) / b.u.
      const int shift = type.scale - a.scale + b.scale;
      Wider x = Wider(a.unscaled);
      Wider y = Wider(b.unscaled);
      if (shift >= 0) {
        x *= powerOfTen<Wider>(shift);
      } else {
        y *= powerOfTen<Wider>(-shift);
      }
      const Wider q = x / y;
      if (boost::multiprecision::abs(q) >= powerOfTen<Wider>(kMaxPrecision)) {
        return DecStatus::Overflow;
      }
      out = Dec{Wide(q), type.scale};
      break;
    }
  }
  if (type.precision > 0 && digitCount(out.unscaled) > type.precision) {
    return DecStatus::Overflow;
  }
  return DecStatus::Ok;
}

bool decFromValue(sqlite3_value* value, Dec& out) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      return false;
    case SQLITE_INTEGER:
      out = Dec{Wide(sqlite3_value_int64(value)), 0};
      return true;
    case SQLITE_FLOAT:
      return decFromText(formatReal(sqlite3_value_double(value)), out);
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_value_blob(value));
      const auto bytes = static_cast<std::size_t>(sqlite3_value_bytes(value));
      return text != nullptr && decFromText(std::string_view(text, bytes), out);
    }
  }
}

void resultDec(sqlite3_context* ctx, const Dec& d) {
  static const Wide kInt64Max = Wide(std::numeric_limits<std::int64_t>::max());
  if (fitsInt64(d.unscaled)) {
    auto v = static_cast<std::int64_t>(d.unscaled);
    int scale = d.scale;
    while (scale > 0 && v % 10 == 0) {
      v /= 10;
      --scale;
    }
    if (scale == 0) {
      sqlite3_result_int64(ctx, v);
      return;
    }
    const std::uint64_t m =
        v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    if (digitCount(m) <= 15) {
      const std::string text = decToText(Dec{Wide(v), scale});
      sqlite3_result_double(ctx, std::strtod(text.c_str(), nullptr));
      return;
    }
  }
  Wide u = d.unscaled;
  int scale = d.scale;
  while (scale > 0 && u % 10 == 0) {
    u /= 10;
    --scale;
  }
  if (scale == 0 && u <= kInt64Max && u >= -kInt64Max) {
    sqlite3_result_int64(ctx, static_cast<std::int64_t>(u));
    return;
  }
  const std::string text = decToText(Dec{u, scale});
  if (digitCount(u) <= 15) {
    sqlite3_result_double(ctx, std::strtod(text.c_str(), nullptr));
    return;
  }
  sqlite3_result_blob64(ctx, text.data(), text.size(), transientText());
}

}  // namespace cvt::tsql_impl
