// The defaults the check can stand in for: how a catalogue writes a
// column's default (SQLite as declared, SQL Server in parentheses, an
// nvarchar's text as N'...') and the expression the check selects for it.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/preflight_predictor.h"

namespace cvt::preflight {
namespace {

TEST(CheckDefaults, CatalogueDefaultsBecomeExpressions) {
  struct Case {
    std::optional<std::string> given;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {std::nullopt, "NULL"},       {"((0))", "0"},
      {"('00')", "'00'"},           {"(N'数据')", "N'数据'"},
      {"(getdate())", "getdate()"}, {"CURRENT_TIMESTAMP", "getdate()"},
      {"(NULL)", "NULL"},           {"(newid())", std::nullopt},
      {"N", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(defaultExpression(c.given), c.expected) << c.given.value_or("(none)");
  }
}

}  // namespace
}  // namespace cvt::preflight
