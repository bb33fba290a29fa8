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
// The bodies live in tsql_decimal.cpp; the small helpers the hot paths call
// per value stay inline here.

#include <array>
#include <boost/multiprecision/cpp_int.hpp>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "db/sqlite/ext/tsql_decimal_type.h"
#include "db/sqlite/ext/tsql_sqlite_api.h"

namespace cvt::tsql_impl {

using Wide = boost::multiprecision::int256_t;
using Wider = boost::multiprecision::int512_t;

struct Dec {
  Wide unscaled = 0;  // the value times 10^scale
  int scale = 0;
};

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
bool decFromText(std::string_view text, Dec& out);

// The exact text: [-]digits[.digits], trailing fraction zeros dropped.
std::string decToText(const Dec& d);

// `v` divided by 10^n, rounded half away from zero.
Wide roundDown(const Wide& v, int n);

// `d` at `scale` places: more places append zeros, fewer round half away
// from zero.
Dec rescale(const Dec& d, int scale);

// A value's own type: its digits and its scale.
DecType typeOfValue(const Dec& d);

enum class DecStatus { Ok, Overflow, DivideByZero };

// a op b exactly, brought to `type` (see the contract at the top).
DecStatus decCompute(DecOp op, const Dec& a, const Dec& b, DecType type, Dec& out);

// Reads an SQLite value as a decimal (see the contract). False for NULL and
// for a text that is no number.
bool decFromValue(sqlite3_value* value, Dec& out);

// Hands `d` back to SQLite exactly (see the contract).
void resultDec(sqlite3_context* ctx, const Dec& d);

}  // namespace cvt::tsql_impl
