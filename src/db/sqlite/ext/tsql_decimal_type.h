#pragma once

// SQL Server's result type of decimal arithmetic, without any value: what
// the rewriter uses to type an expression at translation time and the
// functions use at run time (tsql_decimal.h). Plain C++, no SQLite.

namespace cvt::tsql_impl {

inline constexpr int kMaxPrecision = 38;

struct DecType {
  int precision = 0;  // 0: not known until a value is seen
  int scale = 0;
};

enum class DecOp { Add, Subtract, Multiply, Divide, Modulo };

// SQL Server's result type of `a op b` for decimal operands (the table of
// "Precision, scale, and length"), capped at 38 digits: for + and - the
// integer part keeps its room and the scale gives way; for * and / an
// integer part under 32 digits keeps its room, a longer one leaves at
// least 6 places (or the scale, if smaller).
DecType decResultType(DecOp op, DecType a, DecType b);

}  // namespace cvt::tsql_impl
