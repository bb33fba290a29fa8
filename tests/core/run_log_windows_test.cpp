// The run log's folder on Windows.

#include <gtest/gtest.h>

#include "support/daily_log_cases.h"

namespace cvt {
namespace {

TEST(RunLog, TheDaysFileLiesInTheUsersDataFolder) {
  expectDailyLogFiles({
      {{{"LOCALAPPDATA", "C:\\Users\\op\\AppData\\Local"}, {"HOME", "/home/op"}},
       "C:\\Users\\op\\AppData\\Local\\convert\\2026-03-04.jsonl"},
      {{{"LOCALAPPDATA", "D:\\数据"}}, "D:\\数据\\convert\\2026-03-04.jsonl"},
      {{{"LOCALAPPDATA", ""}, {"HOME", "/home/op"}}, ""},
      {{}, ""},
  });
}

}  // namespace
}  // namespace cvt
