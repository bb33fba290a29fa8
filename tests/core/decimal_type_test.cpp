// SQL Server's result types of decimal arithmetic, from the table of
// "Precision, scale, and length" and its reduction beyond 38 digits.

#include <gtest/gtest.h>

#include "db/sqlite/ext/tsql_decimal_type.h"

namespace cvt {
namespace {

using tsql_impl::DecOp;
using tsql_impl::DecType;

TEST(DecimalResultType, FollowsTheServersTableAndItsReduction) {
  struct Case {
    DecOp op;
    DecType a;
    DecType b;
    DecType want;
  };
  const Case cases[] = {
      {DecOp::Add, {16, 4}, {1, 4}, {17, 4}},
      {DecOp::Subtract, {10, 2}, {5, 4}, {13, 4}},
      {DecOp::Multiply, {16, 4}, {16, 4}, {33, 8}},
      {DecOp::Divide, {10, 2}, {1, 0}, {14, 6}},     // cast(10 as decimal(10,2)) / 4
      {DecOp::Divide, {2, 1}, {1, 0}, {7, 6}},       // 1.0 / 3
      {DecOp::Divide, {38, 10}, {38, 10}, {38, 6}},  // integer part of 38: scale 6
      {DecOp::Multiply, {38, 7}, {38, 0}, {38, 6}},
      {DecOp::Multiply, {20, 10}, {20, 10}, {38, 17}},  // integer part 21 keeps its room
      {DecOp::Multiply, {38, 2}, {38, 2}, {38, 4}},     // scale under 6 stays
      {DecOp::Add, {38, 0}, {38, 0}, {38, 0}},
      {DecOp::Add, {38, 10}, {38, 20}, {38, 10}},
      {DecOp::Modulo, {10, 2}, {5, 0}, {7, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << static_cast<int>(c.op) << " (" << c.a.precision << "," << c.a.scale << ") ("
                 << c.b.precision << "," << c.b.scale << ")");
    const DecType got = tsql_impl::decResultType(c.op, c.a, c.b);
    EXPECT_EQ(got.precision, c.want.precision);
    EXPECT_EQ(got.scale, c.want.scale);
  }
}

}  // namespace
}  // namespace cvt
