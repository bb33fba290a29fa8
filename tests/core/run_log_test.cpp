#include "app/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/test_platform.h"

namespace cvt {
namespace {

namespace fs = std::filesystem;

std::vector<nlohmann::ordered_json> linesOf(const fs::path& file) {
  std::vector<nlohmann::ordered_json> out;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    out.push_back(nlohmann::ordered_json::parse(line));
  }
  return out;
}

class TempFolder {
 public:
  TempFolder() { path_ = test::makeTempFolder("convert-log-"); }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  fs::path path() const { return path_; }

 private:
  std::string path_;
};

TEST(RunLog, AppendsTimedEventsWithoutTheSecretAndMakesItsFolder) {
  const TempFolder tmp;
  const fs::path file = tmp.path() / "deeper" / "log.jsonl";
  {
    RunLog log(file.string());
    ASSERT_TRUE(log.on()) << log.problem();
    log.write(endEvent("completed"));
  }
  {
    RunLog log(file.string());
    log.setSecret("Geheim-1");
    log.write(messageEvent("提示", "连接数据库失败!login failed for Geheim-1",
                           "Statement: connect PWD=Geheim-1;"));
  }
  const auto lines = linesOf(file);
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0].begin().key(), "time");
  EXPECT_EQ(lines[0]["event"], "end");
  EXPECT_EQ(lines[1]["text"], "连接数据库失败!login failed for ***");
  EXPECT_EQ(lines[1]["details"], "Statement: connect PWD=***;");

  // A file that cannot be written leaves the log off; writing is harmless.
  RunLog refused((tmp.path() / "deeper" / "log.jsonl" / "under-a-file").string());
  EXPECT_FALSE(refused.on());
  EXPECT_FALSE(refused.problem().empty());
  refused.write(endEvent("failed"));
}

}  // namespace
}  // namespace cvt
