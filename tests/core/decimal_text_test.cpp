#include "members/decimal_text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace cvt {
namespace {

TEST(DecimalText, ScalesByTenThousandExactly) {
  struct Case {
    std::string text;
    std::string times;    // x 10000
    std::string divided;  // / 10000
  };
  const Case cases[] = {
      {"12.5", "125000", "0.00125"},
      {"12.5000", "125000", "0.00125"},
      {"125000", "1250000000", "12.5"},
      {"-3", "-30000", "-0.0003"},
      {"0", "0", "0"},
      {"-0.0000", "0", "0"},
      {"0.0001", "1", "0.00000001"},
      {"0.00001", "0.1", "0.000000001"},
      {" 007.10 ", "71000", "0.00071"},
      {"+2", "20000", "0.0002"},
      {".5", "5000", "0.00005"},
      {"5.", "50000", "0.0005"},
      {"1.25e1", "125000", "0.00125"},
      {"-4E-4", "-4", "-0.00000004"},
      // 0.1 has no exact binary form; here it stays exact far beyond what
      // a double would keep.
      {"123456789012.3456", "1234567890123456", "12345678.90123456"},
      {"99999999999999999999999999.9999", "999999999999999999999999999999",
       "9999999999999999999999.99999999"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(timesTenThousand(c.text), c.times) << c.text;
    EXPECT_EQ(divideByTenThousand(c.text), c.divided) << c.text;
  }
  EXPECT_EQ(divideByTenThousand("125000"), "12.5");
  EXPECT_EQ(divideByTenThousand("-30000"), "-3");
}

TEST(DecimalText, RejectsWhatIsNotANumber) {
  for (const char* bad :
       {"",    "   ", "-",   "+",    ".",      "-.",   "1.2.3", "12a", "a12", "1 2",
        "--1", "1e",  "1e+", "1e5x", "1e1001", "0x10", "\t1",   "1,5", "nan", "inf"}) {
    EXPECT_EQ(normalizeDecimal(bad), std::nullopt) << bad;
    EXPECT_EQ(timesTenThousand(bad), std::nullopt) << bad;
    EXPECT_EQ(compareWithZero(bad), std::nullopt) << bad;
  }
}

TEST(DecimalText, ComparesWithZero) {
  EXPECT_EQ(compareWithZero("12.5"), 1);
  EXPECT_EQ(compareWithZero("-0.0001"), -1);
  EXPECT_EQ(compareWithZero("-0.000"), 0);
  EXPECT_EQ(compareWithZero("0e5"), 0);
  EXPECT_EQ(normalizeDecimal("-000.000"), "0");
  EXPECT_EQ(normalizeDecimal("1e3"), "1000");
}

}  // namespace
}  // namespace cvt
