// The run log's folder on XDG systems.

#include <gtest/gtest.h>

#include "support/daily_log_cases.h"

namespace cvt {
namespace {

TEST(RunLog, TheDaysFileLiesInTheUsersDataFolder) {
  expectDailyLogFiles({
      {{{"XDG_DATA_HOME", "/x/data"}, {"HOME", "/home/op"}}, "/x/data/convert/2026-03-04.jsonl"},
      {{{"XDG_DATA_HOME", ""}, {"HOME", "/home/op"}},
       "/home/op/.local/share/convert/2026-03-04.jsonl"},
      {{{"HOME", "/home/op"}}, "/home/op/.local/share/convert/2026-03-04.jsonl"},
      {{}, ""},
  });
}

}  // namespace
}  // namespace cvt
