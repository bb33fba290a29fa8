#include "members/balance_cipher.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

namespace cvt {
namespace {

TEST(BalanceCipher, WorkedExamples) {
  struct Case {
    std::string plain;
    std::string enciphered;
  };
  const Case cases[] = {
      {"125000", "64250-"}, {"12.5", "7.0-"}, {"7", "3"},  // one character: shifted by -4
      {"12", "0-"},  // two: the reversed "21" shifted by -2, then -4
      {"-3", "1)"},  // the minus sign takes part like any other byte
  };
  for (const auto& c : cases) {
    EXPECT_EQ(of_str_encrypt(c.plain), c.enciphered) << c.plain;
    EXPECT_EQ(wf_str_decrypt(c.enciphered), c.plain) << c.enciphered;
  }
}

TEST(BalanceCipher, TrimsBlanksOnlyAndTurnsNothingIntoEmptyText) {
  EXPECT_EQ(of_str_encrypt(" 12.5 "), "7.0-");
  EXPECT_EQ(wf_str_decrypt(of_str_encrypt("  12.5")), "12.5");
  EXPECT_EQ(wf_str_decrypt(" 64250- "), "125000");
  // Only code 32 counts as a blank: a tab is a character like any other.
  EXPECT_EQ(of_str_encrypt("\t7").size(), 2U);

  for (const std::optional<std::string>& nothing :
       {std::optional<std::string>{}, std::optional<std::string>{""},
        std::optional<std::string>{"   "}}) {
    EXPECT_EQ(of_str_encrypt(nothing), "");
    EXPECT_EQ(wf_str_decrypt(nothing), "");
  }
  EXPECT_EQ(of_str_encrypt(std::nullopt), "");
}

TEST(BalanceCipher, DeciphersForeignTextToSameLength) {
  const std::string foreign = "hello world";
  EXPECT_EQ(wf_str_decrypt(foreign).size(), foreign.size());
  // Bytes whose shift leaves the byte range wrap around and still invert.
  const std::string high = "\xF0\xFE\x01\x02";
  EXPECT_EQ(wf_str_decrypt(of_str_encrypt(high)), high);
}

// Every balance text of up to 37 characters enciphers to printable ASCII
// without blanks, of the same length, and deciphers back exactly.
TEST(BalanceCipher, RoundTripsRandomBalanceTexts) {
  std::mt19937 rng(20240611U);
  const std::string alphabet = "0123456789.-";
  std::uniform_int_distribution<std::size_t> lengthOf(1, 37);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> digitOnly(0, 9);
  for (int round = 0; round < 5000; ++round) {
    const std::size_t n = lengthOf(rng);
    std::string plain;
    const bool digitsOnly = round % 2 == 0;
    for (std::size_t i = 0; i < n; ++i) {
      plain.push_back(alphabet[digitsOnly ? digitOnly(rng) : pick(rng)]);
    }
    const std::string enciphered = of_str_encrypt(plain);
    ASSERT_EQ(enciphered.size(), plain.size()) << plain;
    for (const char c : enciphered) {
      ASSERT_GE(c, 41) << plain;
      ASSERT_LE(c, 125) << plain;
    }
    ASSERT_EQ(wf_str_decrypt(enciphered), plain);
  }
}

}  // namespace
}  // namespace cvt
