#include "app/run_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace cvt {
namespace {

namespace fs = std::filesystem;

EnvLookup envOf(std::map<std::string, std::string> vars) {
  return [vars](const std::string& name) -> std::optional<std::string> {
    const auto it = vars.find(name);
    return it == vars.end() ? std::nullopt : std::optional<std::string>(it->second);
  };
}

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
  TempFolder() {
    std::string tmpl = (fs::temp_directory_path() / "convert-log-XXXXXX").string();
    path_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
  }
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

TEST(RunLog, TheDaysFileLiesInTheUsersDataFolder) {
  // 2026-03-04 12:00 UTC is that day in every time zone within twelve hours.
  const auto noon = std::chrono::sys_days{std::chrono::year{2026} / 3 / 4} + std::chrono::hours{12};
  struct Case {
    std::map<std::string, std::string> env;
    std::string file;
  };
  for (const Case& c : {
           Case{{{"XDG_DATA_HOME", "/x/data"}, {"HOME", "/home/op"}},
                "/x/data/convert/2026-03-04.jsonl"},
           Case{{{"XDG_DATA_HOME", ""}, {"HOME", "/home/op"}},
                "/home/op/.local/share/convert/2026-03-04.jsonl"},
           Case{{{"HOME", "/home/op"}}, "/home/op/.local/share/convert/2026-03-04.jsonl"},
           Case{{}, ""},
       }) {
    EXPECT_EQ(dailyRunLogFile(envOf(c.env), noon), c.file);
  }
}

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
