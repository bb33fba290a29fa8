#pragma once

// The run log's daily file as each system names it: the platform tests
// hold only their table of environments and the file each gives.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/run_log.h"

namespace cvt {

struct DailyLogCase {
  std::map<std::string, std::string> env;
  std::string file;  // "" when the environment names no data folder
};

// Checks the day's file for 2026-03-04 12:00 UTC, which is that day in
// every time zone within twelve hours, under each case's environment.
inline void expectDailyLogFiles(const std::vector<DailyLogCase>& cases) {
  const auto noon = std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + std::chrono::hours{12};
  for (const DailyLogCase& c : cases) {
    const std::map<std::string, std::string> vars = c.env;
    const EnvLookup env = [vars](const std::string& name) -> std::optional<std::string> {
      const auto it = vars.find(name);
      return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    EXPECT_EQ(dailyRunLogFile(env, noon), c.file);
  }
}

}  // namespace cvt
