#include "app/port_rule.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace cvt {
namespace {

struct JoinCase {
  const char* server;
  std::optional<std::string> port;
  const char* expectedServer;
  std::optional<std::string> expectedPort;  // the port field, when joined
};

TEST(PortRule, JoinsReplacesOrLeavesAlone) {
  const JoinCase cases[] = {
      {"SRV", "2000", "SRV,2000", "2000"},
      {"SRV,1500", "2000", "SRV,2000", "2000"},     // numeric suffix replaced
      {"SRV,abc", "2000", "SRV,abc,2000", "2000"},  // other suffix kept
      {"SRV,1500", " 1433 ", "SRV,1500", std::nullopt},
      {"SRV,1500", std::nullopt, "SRV,1500", std::nullopt},
      {"SRV,1500", "", "SRV,1500", std::nullopt},
      {"SRV", "   ", "SRV", std::nullopt},
      {"SRV", "1433", "SRV", std::nullopt},
      {"SRV", " 2000 ", "SRV,2000", "2000"},  // port trimmed
      {"", "2000", ",2000", "2000"},
      {"SRV,", "2000", "SRV,,2000", "2000"},     // empty suffix is no port
      {"a,b,1500", "2000", "a,b,2000", "2000"},  // only the last comma counts
      {"SRV,15 00", "2000", "SRV,15 00,2000", "2000"},
      {"SRV,-15", "2000", "SRV,-15,2000", "2000"},
      {"数据库,1500", "2000", "数据库,2000", "2000"},
      {"SRV", "\t2000", "SRV,\t2000", "\t2000"},  // only blanks are trimmed
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.server) + " / " + c.port.value_or("<null>"));
    const PortJoin j = joinPort(c.server, c.port);
    EXPECT_EQ(j.serverName, c.expectedServer);
    EXPECT_EQ(j.port, c.expectedPort);
  }
}

TEST(PortRule, JoiningTwiceNeverDoublesThePort) {
  const std::string once = joinPort("SRV", "2000").serverName;
  EXPECT_EQ(joinPort(once, "2000").serverName, "SRV,2000");
  EXPECT_EQ(joinPort(once, "3000").serverName, "SRV,3000");
}

TEST(PortRule, TrimsBlanksOnly) {
  EXPECT_EQ(trimBlanks("  pass word  "), "pass word");
  EXPECT_EQ(trimBlanks("   "), "");
  EXPECT_EQ(trimBlanks("\tx \n"), "\tx \n");
}

}  // namespace
}  // namespace cvt
