#pragma once

// Exact decimals for the T-SQL functions. SQL Server keeps a decimal as an
// integer of at most 38 digits and a scale; so does Dec, on Boost's
// fixed-width integers (256 bits: room for the product of two 38-digit
// values; 512 for a quotient's scaled dividend). Nothing here passes
// through binary floating point.
//
// Contract:
//  - decFromValue reads an SQLite value as a decimal: an integer exactly, a
//    real through its 15 significant digits (all SQLite keeps of a DECIMAL
//    stored as REAL), a text or blob as its exact digits;
//  - decResultType gives SQL Server's precision and scale of + - * / %
//    over decimal(p1,s1) and decimal(p2,s2), capped at 38 digits with the
//    server's scale reduction;
//  - decCompute computes exactly and brings the result to the result type:
//    * and the scale reduction round half away from zero, / truncates as
//    the server's division does; more digits than the precision is SQL
//    Server's overflow error;
//  - resultDec hands a value back as SQLite can keep it exactly: an integer
//    when whole, a real when it has at most 15 significant digits (a real
//    reads back as those digits), else a blob holding the decimal text
//    (column affinity leaves a blob alone, reads give its text). The
//    functions take such a blob as that decimal.
// Included by tsql_strict_impl.h under the same rules: <sqlite3.h> or
// <sqlite3ext.h> comes first and everything is inline.

#include <algorithm>
#include <array>
#include <boost/multiprecision/cpp_int.hpp>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_decimal_type.h"

namespace cvt::tsql_impl {

using Wide = boost::multiprecision::int256_t;
using Wider = boost::multiprecision::int512_t;

struct Dec {
  Wide unscaled = 0;  // the value times 10^scale
  int scale = 0;
};

template <typename T>
inline T powerOfTen(int n) {
  T p = 1;
  for (int i = 0; i < n; ++i) {
    p *= 10;
  }
  return p;
}

inline const Wide& wideTen(int n) {
  static const auto table = [] {
    std::array<Wide, 80> t{};
    t[0] = 1;
    for (std::size_t i = 1; i < t.size(); ++i) {
      t[i] = t[i - 1] * 10;
    }
    return t;
  }();
  return table[static_cast<std::size_t>(n)];
}

// Whether `v` fits a 64-bit integer (one below its smallest, so that its
// magnitude fits too). Nearly every value the conversion meets does, and
// takes the cheaper paths below.
inline bool fitsInt64(const Wide& v) {
  static const Wide kMax = Wide(std::numeric_limits<std::int64_t>::max());
  static const Wide kMin = -kMax;
  return v <= kMax && v >= kMin;
}

// Decimal digits of `m` (0 has one).
inline int digitCount(std::uint64_t m) {
  int n = 1;
  while (m >= 10) {
    m /= 10;
    ++n;
  }
  return n;
}

// Decimal digits of |v| (0 has one).
inline int digitCount(const Wide& v) {
  if (fitsInt64(v)) {
    const auto x = static_cast<std::int64_t>(v);
    return digitCount(x < 0 ? 0 - static_cast<std::uint64_t>(x) : static_cast<std::uint64_t>(x));
  }
  Wide a = v < 0 ? Wide(-v) : v;
  int n = 1;
  while (n < 77 && a >= wideTen(n)) {
    ++n;
  }
  return n;
}

// Reads [blanks][sign]digits[.digits][blanks] exactly; false for anything
// else or for more than 76 digits.
inline bool decFromText(std::string_view text, Dec& out) {
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

// The exact text: [-]digits[.digits], trailing fraction zeros dropped.
inline std::string decToText(const Dec& d) {
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

// `v` divided by 10^n, rounded half away from zero.
inline Wide roundDown(const Wide& v, int n) {
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

// `d` at `scale` places: more places append zeros, fewer round half away
// from zero.
inline Dec rescale(const Dec& d, int scale) {
  if (scale >= d.scale) {
    return Dec{d.unscaled * wideTen(scale - d.scale), scale};
  }
  return Dec{roundDown(d.unscaled, d.scale - scale), scale};
}

// A value's own type: its digits and its scale.
inline DecType typeOfValue(const Dec& d) {
  const int digits = digitCount(d.unscaled);
  return DecType{std::min(kMaxPrecision, std::max(digits, d.scale)),
                 std::min(d.scale, kMaxPrecision)};
}

enum class DecStatus { Ok, Overflow, DivideByZero };

// a op b exactly, brought to `type` (see the contract at the top).
inline DecStatus decCompute(DecOp op, const Dec& a, const Dec& b, DecType type, Dec& out) {
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

// Reads an SQLite value as a decimal (see the contract). False for NULL and
// for a text that is no number.
inline bool decFromValue(sqlite3_value* value, Dec& out) {
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

// Hands `d` back to SQLite exactly (see the contract).
inline void resultDec(sqlite3_context* ctx, const Dec& d) {
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
