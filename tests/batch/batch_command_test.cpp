// convert-batch run as a real process on the embedded backend.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "demo/generator.h"
#include "support/db_folder.h"

namespace cvt {
namespace {

using test::DbFolder;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> lines() const {
    std::vector<std::string> result;
    std::size_t start = 0;
    while (start < out.size()) {
      std::size_t end = out.find('\n', start);
      if (end == std::string::npos) {
        end = out.size();
      }
      result.push_back(out.substr(start, end - start));
      start = end + 1;
    }
    return result;
  }
};

std::string batchExecutable() {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/convert-batch";
}

struct Launch {
  std::vector<std::string> args;
  std::map<std::string, std::string> env{};  // added to a minimal environment
  std::string stdinText{};
  bool terminal = false;  // stdout on a pseudo-terminal instead of a pipe
  // Called with each complete stdout line as it arrives; may signal `pid`.
  std::function<void(const std::string& line, pid_t pid)> onLine{};
};

// Runs convert-batch and collects its exit status and output.
Outcome run(const Launch& launch) {
  int inPipe[2];
  int outPipe[2];
  int errPipe[2];
  if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) {
    ADD_FAILURE() << "pipe failed";
    return {};
  }
  int ptyMaster = -1;
  std::string ptyName;
  if (launch.terminal) {
    ptyMaster = posix_openpt(O_RDWR | O_NOCTTY);
    if (ptyMaster < 0 || grantpt(ptyMaster) != 0 || unlockpt(ptyMaster) != 0) {
      ADD_FAILURE() << "no pseudo-terminal";
      return {};
    }
    ptyName = ptsname(ptyMaster);
  }

  std::vector<std::string> envText = {"PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                      "CONVERT_SETTINGS_FILE=/nonexistent/settings.ini"};
  for (const auto& [name, value] : launch.env) {
    std::erase_if(envText, [&](const std::string& e) { return e.rfind(name + "=", 0) == 0; });
    envText.push_back(name + "=" + value);
  }
  std::vector<std::string> argText = {batchExecutable()};
  argText.insert(argText.end(), launch.args.begin(), launch.args.end());

  const pid_t pid = fork();
  if (pid == 0) {
    dup2(inPipe[0], 0);
    if (launch.terminal) {
      const int slave = open(ptyName.c_str(), O_RDWR);
      dup2(slave, 1);
    } else {
      dup2(outPipe[1], 1);
    }
    dup2(errPipe[1], 2);
    for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
      close(fd);
    }
    std::vector<char*> argv;
    for (auto& a : argText) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : envText) {
      envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  if (!launch.stdinText.empty()) {
    const ssize_t written = write(inPipe[1], launch.stdinText.data(), launch.stdinText.size());
    EXPECT_EQ(written, static_cast<ssize_t>(launch.stdinText.size()));
  }
  close(inPipe[1]);

  Outcome outcome;
  const int outFd = launch.terminal ? ptyMaster : outPipe[0];
  if (launch.terminal) {
    close(outPipe[0]);
  }
  std::size_t lineStart = 0;
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? outFd : -1, POLLIN, 0}, {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, 60000) <= 0) {
      ADD_FAILURE() << "convert-batch hangs";
      kill(pid, SIGKILL);
      break;
    }
    char buffer[4096];
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = read(outFd, buffer, sizeof buffer);
      if (n <= 0) {
        outOpen = false;  // a pty reports EIO once the child has gone
      } else {
        outcome.out.append(buffer, static_cast<std::size_t>(n));
        for (std::size_t end; (end = outcome.out.find('\n', lineStart)) != std::string::npos;
             lineStart = end + 1) {
          if (launch.onLine) {
            launch.onLine(outcome.out.substr(lineStart, end - lineStart), pid);
          }
        }
      }
    }
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t n = read(errPipe[0], buffer, sizeof buffer);
      if (n <= 0) {
        errOpen = false;
      } else {
        outcome.err.append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  close(outFd);
  close(errPipe[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

// The options that reach the embedded databases of `db`.
std::vector<std::string> target(const DbFolder& db, std::vector<std::string> more) {
  std::vector<std::string> args = {"--dbms", "SQLite", "--server", db.path()};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

void seed(const DbFolder& db) {
  db.exec("tillexv8", R"SQL(
    INSERT INTO t_bd_base_code(type_no, code_id, code_name) VALUES
      ('RG', '9901', 'old'), ('PP', '0777', 'old brand');
    INSERT INTO t_rm_cashier(cashier_id) VALUES ('9999'), ('0001');
    INSERT INTO t_bd_item_info(item_no, price) VALUES ('A1', 3);
    INSERT INTO t_bd_branch_info(branch_no, property) VALUES ('0001', '0');
  )SQL");
  db.exec("dravik_std", R"SQL(
    INSERT INTO bi_t_region_info VALUES ('0101', 'north'), ('02', 'south');
    INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag) VALUES ('10001', 'b', '1');
  )SQL");
}

Value triggersOff(const DbFolder& db) {
  return db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off");
}

const char* const kStepRegionOk = R"({"event":"step","category":"region","ok":true,"rows":2,)";

TEST(BatchCommand, BadUsageExitsWithAOneLineReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "--bogus"},
      {{"--categories", "region,nope"}, "nope"},
      {{"--source", "dravik_x"}, "dravik_x"},
      {{"--source=dravik_std", "--subno-to-no"}, "--subno-to-no"},
      {{"--events", "xml"}, "xml"},
      {{"--server"}, "--server"},
      {{"leftover"}, "leftover"},
      {{"--password-env", "PW", "--password-stdin"}, "--password-stdin"},
      {{"--password-env", "CONVERT_TEST_UNSET_VARIABLE"}, "CONVERT_TEST_UNSET_VARIABLE"},
      {{"--password", "hunter2"}, "--password-env"},
      {{"--password=hunter2"}, "--password-env"},
  };
  for (const auto& [args, named] : cases) {
    SCOPED_TRACE(args.front());
    const Outcome o = run({args});
    EXPECT_EQ(o.status, 2);
    EXPECT_TRUE(o.out.empty()) << o.out;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_NE(o.err.find(named), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("hunter2"), std::string::npos) << "a password echoed: " << o.err;
  }
}

TEST(BatchCommand, HelpAndVersion) {
  const Outcome help = run({{"--help"}});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--categories"), std::string::npos);
  const Outcome version = run({{"--version"}});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("convert-batch ", 0), 0U) << version.out;
}

TEST(BatchCommand, CompletedRunReportsEveryEventInOrder) {
  DbFolder db;
  seed(db);
  // The connection comes from the settings store, as for the window.
  const std::string ini = db.path() + "/settings.ini";
  std::ofstream(ini) << "[HKEY_LOCAL_MACHINE\\Software\\Vantor\\tillex\\8.0]\nDBMS=SQLite\n"
                     << "ServerName=" << db.path() << "\n";

  const Outcome o = run({{"--categories", "region", "--events", "jsonl", "--password-stdin"},
                         {{"CONVERT_SETTINGS_FILE", ini}},
                         "not used by a folder\nsecond line\n"});

  EXPECT_EQ(o.status, 0) << o.err;
  const auto lines = o.lines();
  ASSERT_EQ(lines.size(), 10U) << o.out;
  EXPECT_EQ(lines[0], R"({"event":"message","title":"提示","text":"连接数据库成功!"})");
  EXPECT_EQ(lines[1], R"({"event":"progress","width":0,"status":""})");
  EXPECT_EQ(lines[2], R"({"event":"progress","width":0,"status":"正在删除区域信息"})");
  EXPECT_EQ(lines[3], R"({"event":"progress","width":1024,"status":"正在导入区域信息"})");
  EXPECT_EQ(lines[4], R"({"event":"progress","width":2048,"status":""})");
  EXPECT_EQ(lines[5].rfind(kStepRegionOk, 0), 0U) << lines[5];
  EXPECT_EQ(lines[6], R"({"event":"progress","width":2048,"status":"数据传输完成"})");
  EXPECT_EQ(lines[7], R"({"event":"message","title":"提示","text":"数据传输完成!"})");
  EXPECT_EQ(
      lines[8],
      R"({"event":"verify","category":"region","source":2,"target":2,"explained":0,"ok":true})");
  EXPECT_EQ(lines[9], R"({"event":"end","outcome":"completed"})");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code WHERE type_no='RG'"), "2");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_pc_branch_price"), "1");
  EXPECT_EQ(triggersOff(db), "0");
}

// The lines of a run log, each without its leading time.
std::vector<std::string> logLines(const std::string& file) {
  std::vector<std::string> out;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    auto event = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(event.begin().key(), "time") << line;
    event.erase("time");
    out.push_back(event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  }
  return out;
}

TEST(BatchLog, EveryRunAppendsItsEventsToTheDaysLogOrTheGivenFile) {
  DbFolder db;
  seed(db);
  const std::string home = db.path() + "/data-home";
  const std::string secret = "Geheim-Pass1";
  const Outcome o = run({target(db, {"--categories", "region", "--events", "jsonl",
                                     "--password-env", "CONVERT_TEST_PW"}),
                         {{"CONVERT_TEST_PW", secret}, {"XDG_DATA_HOME", home}}});
  ASSERT_EQ(o.status, 0) << o.err;

  const auto days = std::filesystem::directory_iterator(home + "/convert");
  ASSERT_NE(days, std::filesystem::directory_iterator());
  const std::string daily = days->path().string();
  // The log holds what --events prints, progress aside, after the run's start.
  std::vector<std::string> expected{
      R"({"event":"start","front":"batch","mode":"convert","server":")" + db.path() +
      R"(","login":"sa","database":"tillexv8","source":"dravik_std","categories":["region"]})"};
  for (const auto& line : o.lines()) {
    if (line.find(R"({"event":"progress")") != 0) {
      expected.push_back(line);
    }
  }
  EXPECT_EQ(logLines(daily), expected);

  // --log writes elsewhere and leaves the day's log alone; a second run
  // appends.
  const std::string elsewhere = db.path() + "/runs.jsonl";
  for (int i = 0; i < 2; ++i) {
    const Outcome again = run({target(db, {"--categories", "region", "--log", elsewhere,
                                           "--password-env", "CONVERT_TEST_PW"}),
                               {{"CONVERT_TEST_PW", secret}, {"XDG_DATA_HOME", home}}});
    EXPECT_EQ(again.status, 0) << again.err;
  }
  EXPECT_EQ(logLines(daily).size(), expected.size());
  const auto twice = logLines(elsewhere);
  EXPECT_EQ(
      std::count_if(twice.begin(), twice.end(),
                    [](const std::string& l) { return l.find(R"("event":"end")") != l.npos; }),
      2);
  for (const auto& line : twice) {
    EXPECT_EQ(line.find(secret), std::string::npos) << line;
  }
}

TEST(BatchCommand, FailedStepRollsBackAndTheCloseSequenceStillRuns) {
  DbFolder db;
  seed(db);
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('010102', 'clash');");

  const Outcome o = run({target(db, {"--categories", "pp,region", "--events=jsonl",
                                     "--password-env", "CONVERT_TEST_PW"}),
                         {{"CONVERT_TEST_PW", "pw"}}});

  EXPECT_EQ(o.status, 1) << o.err;
  const auto lines = o.lines();
  // The reason follows the message's own text: the engine's text and the
  // statement that failed.
  const std::string failed =
      R"({"event":"message","title":"提示","text":"导入区域信息失败！","details":"Database error: )";
  const auto at = o.out.find(failed);
  ASSERT_NE(at, std::string::npos) << o.out;
  const std::string line = o.out.substr(at, o.out.find('\n', at) - at);
  EXPECT_NE(line.find("UNIQUE"), std::string::npos) << line;
  EXPECT_NE(line.find(R"(\nStatement: insert into t_bd_base_code(type_no,code_id,code_name) )"
                      R"(select 'RG',left(region_no,4),region_name from )"
                      R"(dravik_std..bi_t_region_info"})"),
            std::string::npos)
      << line;
  EXPECT_NE(o.out.find(R"({"event":"step","category":"region","ok":false,)"), std::string::npos);
  EXPECT_EQ(o.out.find("数据传输完成!"), std::string::npos);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), R"({"event":"end","outcome":"failed"})");
  // Brands were committed by their step, regions rolled back; the close
  // sequence switched the committed suspension off again.
  EXPECT_EQ(db.scalar("tillexv8", "SELECT code_id FROM t_bd_base_code WHERE type_no='PP'"), "0001");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT code_id FROM t_bd_base_code WHERE type_no='RG'"), "9901");
  EXPECT_EQ(triggersOff(db), "0");
}

TEST(BatchCommand, FailedBranchPriceFillCompletesButExitsWithFailure) {
  DbFolder db;
  seed(db);
  db.exec("tillexv8",
          "CREATE TRIGGER refuse_prices BEFORE INSERT ON t_pc_branch_price "
          "BEGIN SELECT RAISE(ABORT, 'no prices'); END;");

  const Outcome o = run({target(db, {"--categories", "region", "--events", "jsonl"})});

  EXPECT_EQ(o.status, 1) << o.err;
  const std::string failed =
      R"({"event":"message","title":"提示","text":"生成分店价格信息失败！\n原因：)";
  const auto at = o.out.find(failed);
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_GT(o.out.find("数据传输完成!", at), at);
  EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"failed"})");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code WHERE type_no='RG'"), "2");
}

// A completed run whose target does not hold what the source had (here a
// target trigger throws a region away) is not reported as a success.
TEST(BatchCommand, FlaggedVerificationCompletesButExitsWithFailure) {
  DbFolder db;
  seed(db);
  db.exec("tillexv8",
          "CREATE TRIGGER lose_region AFTER INSERT ON t_bd_base_code WHEN NEW.code_id = '02' "
          "BEGIN DELETE FROM t_bd_base_code WHERE code_id = NEW.code_id; END;");

  const Outcome o = run({target(db, {"--categories", "region", "--events", "jsonl"})});

  EXPECT_EQ(o.status, 1) << o.err;
  EXPECT_NE(o.out.find(R"({"event":"message","title":"提示","text":"数据传输完成!"})"),
            std::string::npos);
  EXPECT_NE(
      o.out.find(
          R"({"event":"verify","category":"region","source":2,"target":1,"explained":0,"ok":false})"),
      std::string::npos)
      << o.out;
  EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"failed"})");
}

TEST(BatchCommand, PlainOutputIndentsTheReasonUnderAFailureMessage) {
  DbFolder db;
  seed(db);
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('010102', 'clash');");

  const Outcome o = run({target(db, {"--categories", "region"})});

  EXPECT_EQ(o.status, 1) << o.err;
  const std::string failed = "提示: 导入区域信息失败！\n    Database error: ";
  const auto at = o.out.find(failed);
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_EQ(o.out.find("\n    Statement: insert into t_bd_base_code(type_no,", at),
            o.out.find('\n', at + failed.size()))
      << o.out;
}

// A failed class fix-up is shown, its rollback kept, and the run completes
// with the failure's exit status.
TEST(BatchCommand, FailedClassFixUpCompletesButExitsWithFailure) {
  DbFolder db;
  seed(db);
  db.exec("dravik_std", R"SQL(
    INSERT INTO bi_t_item_cls(item_clsno, item_clsname, item_flag)
      VALUES ('9', 'one character', '0'), ('010101', 'c', '0'), ('01010201', 'long', '0');
  )SQL");

  const Outcome o = run({target(db, {"--categories", "cls", "--events", "jsonl"})});

  EXPECT_EQ(o.status, 1) << o.err;
  const std::string failed =
      R"({"event":"message","title":"提示","text":"修改商品类别信息失败！\n原因：Invalid length)";
  const auto at = o.out.find(failed);
  ASSERT_NE(at, std::string::npos) << o.out;
  EXPECT_NE(o.out.find(R"(,"details":"Database error: )", at), std::string::npos);
  EXPECT_NE(o.out.find(R"({"event":"step","category":"cls","ok":true,)", at), std::string::npos);
  EXPECT_NE(o.out.find(R"("text":"数据传输完成!"})", at), std::string::npos);
  EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"failed"})");
  // The fix-up was rolled back: the long code stays, no parent was set.
  EXPECT_EQ(db.scalar("tillexv8",
                      "SELECT count(*) FROM t_bd_item_cls WHERE item_clsno='01010201' "
                      "AND cls_parent IS NULL"),
            "1");
}

TEST(BatchCommand, ConnectFailureAndNothingChosenHaveTheirOwnStatuses) {
  DbFolder db;
  seed(db);
  const std::string empty = db.path() + "/empty";
  ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);

  const Outcome noTarget =
      run({{"--dbms", "SQLite", "--server", empty, "--categories", "all", "--events", "jsonl"}});
  EXPECT_EQ(noTarget.status, 3);
  const auto lines = noTarget.lines();
  ASSERT_EQ(lines.size(), 2U) << noTarget.out;
  EXPECT_EQ(lines[0].rfind(R"({"event":"message","title":"提示","text":"连接数据库失败!)", 0), 0U)
      << lines[0];
  EXPECT_EQ(lines[1], R"({"event":"end","outcome":"connect-failed"})");

  // Without a DBMS the failure says where the settings were looked for.
  const Outcome noSettings = run({{"--server", db.path(), "--categories", "all"}});
  EXPECT_EQ(noSettings.status, 3);
  EXPECT_NE(noSettings.out.find("连接数据库失败!No database interface (DBMS) is configured: the "
                                "settings file /nonexistent/settings.ini does not exist."),
            std::string::npos)
      << noSettings.out;

  const Outcome nothing = run({target(db, {"--events", "jsonl"})});
  EXPECT_EQ(nothing.status, 4);
  EXPECT_NE(nothing.out.find(R"("text":"请选择需要传输的信息!"})"), std::string::npos);
  EXPECT_NE(nothing.out.find(R"({"event":"end","outcome":"nothing-chosen"})"), std::string::npos);
  EXPECT_EQ(triggersOff(db), "0");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code"), "2");
}

TEST(BatchCommand, EmptyValueAfterEqualsAndTheLastOfARepeatedOption) {
  DbFolder db;
  seed(db);
  // "--server=" gives an empty server name, not the next argument.
  const Outcome empty = run({{"--dbms=SQLite", "--server=", "--events", "jsonl"}});
  EXPECT_EQ(empty.status, 3) << empty.err;
  EXPECT_EQ(empty.lines().back(), R"({"event":"end","outcome":"connect-failed"})");

  const Outcome repeated =
      run({{"--dbms", "SQLite", "--server", "/nonexistent", "--server=" + db.path(), "--categories",
            "region", "--categories=cashier", "--events", "jsonl"}});
  EXPECT_EQ(repeated.status, 0) << repeated.out << repeated.err;
  EXPECT_NE(repeated.out.find(kStepRegionOk), std::string::npos);
  EXPECT_NE(repeated.out.find(R"({"event":"step","category":"cashier","ok":true,)"),
            std::string::npos);
}

TEST(BatchCommand, TextThatIsNotUtf8KeepsItsPlaceInTheEvents) {
  // The connect message quotes the folder, whose name here holds a stray
  // byte, a cut-off character and a control character.
  const Outcome o = run(
      {{"--dbms", "SQLite", "--server", "/nonexistent/a\xff\xe4\xb8z\x01", "--events", "jsonl"}});

  EXPECT_EQ(o.status, 3);
  const auto lines = o.lines();
  ASSERT_EQ(lines.size(), 2U) << o.out;
  EXPECT_NE(lines[0].find("/nonexistent/a\xEF\xBF\xBD\xEF\xBF\xBDz\\u0001"), std::string::npos)
      << lines[0];
  EXPECT_EQ(lines[1], R"({"event":"end","outcome":"connect-failed"})");
}

TEST(BatchCommand, PlainOutputEndsWithTheSummary) {
  DbFolder db;
  seed(db);

  const Outcome o = run({target(db, {"--categories", "region,cashier"})});

  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("提示: 数据传输完成!\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("正在导入收银员信息\n"), std::string::npos);
  EXPECT_EQ(o.out.find('\r'), std::string::npos);
  const auto tables = o.out.substr(o.out.find("category"));
  const auto summary = tables.substr(0, tables.find("\n\n") + 1);
  EXPECT_NE(summary.find("region"), std::string::npos) << summary;
  EXPECT_NE(summary.find("cashier"), std::string::npos) << summary;
  EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), 3) << summary;
  // Then the verification: the spared cashier 9999 explains the extra row.
  const auto verify = tables.substr(summary.size() + 1);
  EXPECT_EQ(verify.rfind("verify", 0), 0U) << verify;
  EXPECT_NE(verify.find("cashier           0           1           1  ok\n"), std::string::npos)
      << verify;
}

TEST(BatchCommand, TerminalRedrawsTheStatusLineInPlace) {
  DbFolder db;
  seed(db);
  Launch launch{target(db, {"--categories", "region"})};
  launch.terminal = true;

  const Outcome o = run(launch);

  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("\r\x1b[K["), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("数据传输完成!"), std::string::npos);
  EXPECT_NE(o.out.find("category"), std::string::npos);
}

TEST(BatchCommand, CtrlCStopsBetweenStatementsAndClosesCleanly) {
  DbFolder db;
  seed(db);
  // Enough regions for their deletion to take a moment. Wherever the stop
  // lands, the next statement is never sent and the rollback keeps the old
  // regions.
  db.exec("tillexv8", R"SQL(
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 300000)
    INSERT INTO t_bd_base_code(type_no, code_id, code_name) SELECT 'RG', 'R' || i, 'r' FROM n;
  )SQL");
  Launch launch{target(db, {"--categories", "region,cashier", "--events", "jsonl"})};
  launch.onLine = [](const std::string& line, pid_t pid) {
    if (line.find("正在删除区域信息") != std::string::npos) {
      usleep(50000);  // most often lands inside the deletion
      kill(pid, SIGINT);
    }
  };

  const Outcome o = run(launch);

  EXPECT_EQ(o.status, 130) << o.out << o.err;
  EXPECT_NE(o.out.find(R"({"event":"end","outcome":"failed"})"), std::string::npos);
  EXPECT_EQ(o.out.find("收银员"), std::string::npos) << "the cashiers must not run";
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code WHERE type_no='RG'"),
            "300001");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_rm_cashier"), "2");
  EXPECT_EQ(triggersOff(db), "0");
}

// Another process holding the target: reading it (its shared lock keeps
// every commit out) or writing it (its write lock keeps every write out).
class Lock {
 public:
  Lock(const DbFolder& db, const char* begin) {
    sqlite3_open(db.file("tillexv8").c_str(), &handle_);
    sqlite3_exec(handle_, begin, nullptr, nullptr, nullptr);
  }
  ~Lock() { sqlite3_close(handle_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  sqlite3* handle_ = nullptr;
};

constexpr const char* kReading = "BEGIN; SELECT count(*) FROM sqlite_master;";
constexpr const char* kWriting = "BEGIN IMMEDIATE;";

TEST(BatchCommand, ALockedTargetFailsTheStepAfterABoundedWaitAndLosesNothing) {
  // The reader lets the step write but not commit; the writer lets it do
  // nothing. Either way the step's failure text of that moment, exit 1.
  const std::vector<std::pair<const char*, const char*>> cases = {
      {kReading, R"("text":"导入区域信息失败！")"},
      {kWriting, R"("text":"删除区域信息失败！")"},
  };
  for (const auto& [begin, message] : cases) {
    SCOPED_TRACE(begin);
    DbFolder db;
    seed(db);
    Outcome o;
    {
      const Lock other(db, begin);
      o = run({target(db, {"--categories", "region", "--events", "jsonl"})});
    }
    EXPECT_EQ(o.status, 1) << o.err;
    EXPECT_NE(o.out.find(message), std::string::npos) << o.out;
    EXPECT_EQ(o.out.find("数据传输完成!"), std::string::npos);
    EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"failed"})");
    EXPECT_EQ(db.scalar("tillexv8", "SELECT code_id FROM t_bd_base_code WHERE type_no='RG'"),
              "9901");
    EXPECT_EQ(triggersOff(db), "0");
  }
}

TEST(BatchCommand, ARefusedCloseCommitSaysTheTriggersMayBeOff) {
  DbFolder db;
  seed(db);
  Outcome o;
  {
    // Nothing chosen: the suspension and the switches on are what the
    // close has to commit.
    const Lock reader(db, kReading);
    o = run({target(db, {"--events", "jsonl"})});
  }
  EXPECT_EQ(o.status, 5) << o.out;
  EXPECT_NE(o.out.find("触发器可能仍处于关闭状态"), std::string::npos) << o.out;
  EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"close-failed"})");
  // Nothing was committed: the suspension went with the rest.
  EXPECT_EQ(triggersOff(db), "0");
}

TEST(BatchCommand, TriggersLeftOffByAKilledRunAreToldAndSwitchedOn) {
  DbFolder db;
  seed(db);
  db.exec("tillexv8",
          "INSERT INTO tsql_trigger_off VALUES ('t_bd_item_info'), ('t_rm_payflow'), ('other');");
  const Outcome o = run({target(db, {})});
  EXPECT_EQ(o.status, 4);
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
  EXPECT_NE(o.err.find("t_bd_item_info, t_rm_payflow;"), std::string::npos) << o.err;
  EXPECT_EQ(db.scalar("tillexv8", "SELECT group_concat(table_name) FROM tsql_trigger_off"),
            "other");
}

}  // namespace
}  // namespace cvt

namespace cvt {
namespace {

// Every row of every table of the three databases, in a stable order.
std::string dumpAll(const DbFolder& db) {
  std::string out;
  for (const char* name : {"tillexv8", "dravik_pro", "dravik_std"}) {
    for (const auto& table :
         db.query(name, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY name")) {
      out += std::string(name) + "." + *table[0] + "\n";
      for (const auto& row : db.query(name, "SELECT * FROM \"" + *table[0] + "\" ORDER BY 1")) {
        for (const auto& v : row) {
          out += v.value_or("<null>") + "|";
        }
        out += "\n";
      }
    }
  }
  return out;
}

// The events of a run without the step timings, which differ between runs.
std::vector<std::string> eventsWithoutTimes(const Outcome& o) {
  std::vector<std::string> out;
  for (std::string line : o.lines()) {
    const auto at = line.find(",\"seconds\":");
    if (at != std::string::npos) {
      line.erase(at, line.find('}', at) - at);
    }
    out.push_back(line);
  }
  return out;
}

void generateDemoInto(const DbFolder& db) {
  DemoOptions options;
  options.folder = db.path();
  options.seed = 5;
  ASSERT_TRUE(generateDemo(options).ok);
}

// The rehearsal shows what the real run shows, then leaves every table of
// the three databases as it was, a trigger switched off before it included.
TEST(BatchDryRun, EveryCategoryRehearsedThenRolledBack) {
  DbFolder rehearsed;
  DbFolder real;
  generateDemoInto(rehearsed);
  generateDemoInto(real);
  for (const DbFolder* db : {&rehearsed, &real}) {
    db->exec("tillexv8", "INSERT INTO tsql_trigger_off VALUES ('t_rm_payflow');");
  }
  const std::string before = dumpAll(rehearsed);
  const std::vector<std::string> args = {"--categories",  "all",      "--source", "dravik_pro",
                                         "--subno-to-no", "--events", "jsonl"};

  std::vector<std::string> dryArgs = args;
  dryArgs.emplace_back("--dry-run");
  const Outcome dry = run({target(rehearsed, dryArgs)});
  const Outcome wet = run({target(real, args)});

  EXPECT_EQ(dry.status, 0) << dry.out << dry.err;
  EXPECT_EQ(wet.status, 0) << wet.out << wet.err;
  EXPECT_EQ(eventsWithoutTimes(dry), eventsWithoutTimes(wet));
  EXPECT_NE(dry.out.find(R"({"event":"verify","category":"stock",)"), std::string::npos);
  EXPECT_EQ(dumpAll(rehearsed), before);
  EXPECT_NE(dumpAll(real), before);
  EXPECT_EQ(rehearsed.scalar("tillexv8", "SELECT group_concat(table_name) FROM tsql_trigger_off"),
            "t_rm_payflow");
}

// A step that fails in a rehearsal fails as in the real run: the same
// messages, the earlier step kept until the end, and then nothing kept.
TEST(BatchDryRun, FailingStepShowsTheSameMessagesAndChangesNothing) {
  DbFolder rehearsed;
  DbFolder real;
  for (const DbFolder* db : {&rehearsed, &real}) {
    seed(*db);
    db->exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('010102', 'clash');");
  }
  const std::string before = dumpAll(rehearsed);
  const std::vector<std::string> args = {"--categories", "pp,region,cashier", "--events", "jsonl"};
  std::vector<std::string> dryArgs = args;
  dryArgs.emplace_back("--dry-run");

  const Outcome dry = run({target(rehearsed, dryArgs)});
  const Outcome wet = run({target(real, args)});

  EXPECT_EQ(dry.status, 1);
  EXPECT_EQ(wet.status, 1);
  EXPECT_EQ(eventsWithoutTimes(dry), eventsWithoutTimes(wet));
  EXPECT_NE(dry.out.find("导入区域信息失败！"), std::string::npos) << dry.out;
  EXPECT_EQ(dumpAll(rehearsed), before);
  // The real run kept the brands that its first step committed.
  EXPECT_EQ(real.scalar("tillexv8", "SELECT code_id FROM t_bd_base_code WHERE type_no='PP'"),
            "0001");
}

}  // namespace
}  // namespace cvt

namespace cvt {
namespace {

struct CheckEvent {
  std::string category;
  std::string severity;
};

std::vector<CheckEvent> checkEvents(const Outcome& o) {
  std::vector<CheckEvent> out;
  const std::string head = R"({"event":"check","category":")";
  for (const auto& line : o.lines()) {
    if (line.rfind(head, 0) != 0) {
      continue;
    }
    const auto end = line.find('"', head.size());
    const auto sev = line.find(R"("severity":")") + 12;
    out.push_back(
        {line.substr(head.size(), end - head.size()), line.substr(sev, line.find('"', sev) - sev)});
  }
  return out;
}

// The demo data holds nothing that would fail, from either source.
TEST(BatchCheck, DemoDataHasNothingThatWillFail) {
  DbFolder db;
  generateDemoInto(db);
  for (const char* source : {"dravik_pro", "dravik_std"}) {
    const Outcome o = run(
        {target(db, {"--check", "--categories", "all", "--source", source, "--events", "jsonl"})});
    EXPECT_EQ(o.status, 0) << source << "\n" << o.out << o.err;
    // Not even a warning, but for the one trigger of a written table that
    // the run leaves on: every statement was evaluated.
    const auto events = checkEvents(o);
    ASSERT_EQ(events.size(), 1U) << source << "\n" << o.out;
    EXPECT_EQ(events[0].severity, "warning");
    EXPECT_NE(o.out.find("t_pc_branch_price has trigger tr_branch_price_ins"), std::string::npos)
        << o.out;
    EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"completed"})");
  }
}

// Each prepared fault is found under its category with its severity, and
// the check changes nothing in any database, the switched-off trigger
// included.
TEST(BatchCheck, PreparedFaultsAreFoundAndNothingChanges) {
  DbFolder db;
  generateDemoInto(db);
  db.exec("dravik_pro", R"SQL(
    DROP TABLE pos_t_cashier;
    ALTER TABLE pos_t_spec_price DROP COLUMN other3;
    INSERT INTO bi_t_region_info(region_no, region_name) VALUES ('010199', 'same four');
    UPDATE bi_t_item_info SET price = 123456789012345
      WHERE item_no = (SELECT min(item_no) FROM bi_t_item_info);
  )SQL");
  db.exec("tillexv8", R"SQL(
    UPDATE t_sys_system SET sys_var_value = '1234567890123' WHERE sys_var_id = 'g_branch_no';
    INSERT INTO tsql_trigger_off VALUES ('t_bd_supcust_info');
  )SQL");
  const std::string before = dumpAll(db);

  const Outcome o = run({target(
      db, {"--check", "--categories", "all", "--source", "dravik_pro", "--events", "jsonl"})});

  EXPECT_EQ(o.status, 1) << o.out << o.err;
  const auto events = checkEvents(o);
  struct Expected {
    const char* category;
    const char* severity;
    const char* text;
  };
  for (const Expected& e : {
           Expected{"cashier", "will fail",
                    "the source table dravik_pro..pos_t_cashier does not exist"},
           Expected{"spec_price", "will fail", "pos_t_spec_price.other3 does not exist"},
           Expected{"region", "will fail", "1 key of t_bd_base_code (type_no, code_id)"},
           Expected{"item", "will fail", "t_bd_item_info.price is decimal(16,4)"},
           Expected{"vip", "will fail", "t_rm_vip_consume.branch_no is varchar(10)"},
           Expected{"supcust", "warning", "the triggers of t_bd_supcust_info are switched off"},
       }) {
    const std::string head = std::string(R"({"event":"check","category":")") + e.category +
                             R"(","severity":")" + e.severity + R"(","text":")";
    bool found = false;
    for (const auto& line : o.lines()) {
      found = found || (line.rfind(head, 0) == 0 && line.find(e.text) != std::string::npos);
    }
    EXPECT_TRUE(found) << e.category << ": " << e.text << "\n" << o.out;
  }
  EXPECT_EQ(o.lines().back(), R"({"event":"end","outcome":"failed"})");
  EXPECT_EQ(dumpAll(db), before);
  EXPECT_GE(events.size(), 6U);

  // The text output: one line per finding, then the verdict.
  const Outcome text =
      run({target(db, {"--check", "--categories", "region", "--source", "dravik_pro"})});
  EXPECT_EQ(text.status, 1);
  EXPECT_NE(text.out.find("category  severity   reason\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("verdict: the run would fail (1 will fail, 2 warnings)\n"),
            std::string::npos)
      << text.out;
}

}  // namespace
}  // namespace cvt
