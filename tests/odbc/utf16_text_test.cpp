#include "db/odbc/utf16_text.h"

#include <gtest/gtest.h>

#include <string>

namespace cvt {
namespace {

TEST(Utf16Text, RoundTripsAndReplacesEachBrokenCharacterOnce) {
  struct Case {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"chinese", "中文", u"中文"},
      {"emoji", "a😀b",
       u"a\xD83D\xDE00"
       "b"},
      {"embedded zero", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"stray continuation bytes",
       "a\x80\x80"
       "b",
       u"a\xFFFD\xFFFD"
       "b"},
      {"cut off at the end", "a\xE4\xB8", u"a\xFFFD"},
      {"cut off before a character",
       "\xE4\xB8"
       "A",
       u"\xFFFD"
       "A"},
      {"overlong",
       "\xC0\x80"
       "x",
       u"\xFFFD"
       "x"},
      {"surrogate",
       "\xED\xA0\x80"
       "x",
       u"\xFFFD"
       "x"},
      {"beyond U+10FFFF",
       "\xF4\x90\x80\x80"
       "x",
       u"\xFFFD"
       "x"},
      {"invalid lead byte",
       "\xF8\x80"
       "x",
       u"\xFFFD\xFFFD"
       "x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16);
  }
  const std::string longText = std::string(10000, 'x') + "中";
  EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(longText)), longText);
}

TEST(Utf16Text, UnpairedSurrogatesBecomeReplacements) {
  EXPECT_EQ(utf16ToUtf8(u"a\xD800"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf16ToUtf8(u"a\xDC00"
                        "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(utf16ToUtf8(u"a\xD800"), "a\xEF\xBF\xBD");
  EXPECT_EQ(utf16ToUtf8(u"\xD83D\xDE00"), "😀");
  EXPECT_EQ(utf16ToUtf8(u""), "");
}

}  // namespace
}  // namespace cvt
