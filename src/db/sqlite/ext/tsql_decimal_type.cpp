#include "db/sqlite/ext/tsql_decimal_type.h"

#include <algorithm>

namespace cvt::tsql_impl {

DecType decResultType(DecOp op, DecType a, DecType b) {
  const int p1 = a.precision;
  const int s1 = a.scale;
  const int p2 = b.precision;
  const int s2 = b.scale;
  int p = 0;
  int s = 0;
  switch (op) {
    case DecOp::Add:
    case DecOp::Subtract: {
      s = std::max(s1, s2);
      const int whole = std::max(p1 - s1, p2 - s2);
      p = s + whole + 1;
      if (p > kMaxPrecision) {
        s = std::max(0, kMaxPrecision - whole);
        p = kMaxPrecision;
      }
      return DecType{p, s};
    }
    case DecOp::Multiply:
      p = p1 + p2 + 1;
      s = s1 + s2;
      break;
    case DecOp::Divide:
      s = std::max(6, s1 + p2 + 1);
      p = p1 - s1 + s2 + s;
      break;
    case DecOp::Modulo:
      s = std::max(s1, s2);
      p = std::min(p1 - s1, p2 - s2) + s;
      return DecType{std::min(std::max(p, 1), kMaxPrecision), std::min(s, kMaxPrecision)};
  }
  if (p > kMaxPrecision) {
    const int whole = p - s;
    if (whole < 32) {
      s = std::min(s, kMaxPrecision - whole);
    } else if (s > 6) {
      s = 6;
    }
    p = kMaxPrecision;
  }
  return DecType{p, s};
}

}  // namespace cvt::tsql_impl
