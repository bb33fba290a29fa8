// The run log's folder on Windows.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>

#include "app/run_log.h"

namespace cvt {
namespace {

EnvLookup envOf(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
}

TEST(RunLog, TheDaysFileLiesInTheUsersDataFolder) {
  // 2026-03-04 12:00 UTC is that day in every time zone within twelve hours.
  const auto noon = std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + std::chrono::hours{12};
  struct Case {
    std::map<std::string, std::string> env;
    std::string file;
  };
  for (const Case& c : {
           Case{{{"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"}, {"HOME", "/home/op"}},
                "C:\\Users\\op\\AppData\\Local\\convert\\2026-03-04.jsonl"},
           Case{{{"LOCALAPPDATA", "D:\\数据"}}, "D:\\数据\\convert\\2026-03-04.jsonl"},
           Case{{{"LOCALAPPDATA", ""}, {"HOME", "/home/op"}}, ""},
           Case{{}, ""},
       }) {
    EXPECT_EQ(dailyRunLogFile(envOf(c.env), noon), c.file);
  }
}

}  // namespace
}  // namespace cvt
