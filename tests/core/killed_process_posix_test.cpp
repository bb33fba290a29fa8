// A process of the embedded backend killed in the middle of its work.
// Killing a process and collecting its status is done the POSIX way here.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "db/session.h"
#include "support/db_folder.h"

namespace cvt {
namespace {

std::unique_ptr<Session> sessionOn(const std::string& serverName, const std::string& database) {
  auto s = makeSession("SQLite");
  s->settings.DBMS = "SQLite";
  s->settings.ServerName = serverName;
  s->settings.Database = database;
  return s;
}

// The weighed items' swaps commit one by one. A process killed in the
// middle of them must leave every swap whose commit had returned, and an
// intact database.
TEST(KilledProcess, CommittedSwapsSurviveIt) {
  test::DbFolder folder;
  folder.exec("tillexv8",
              "insert into t_bd_item_info (item_no,item_name,price) values "
              "('I1','one',12.5),('I2','two',3),('I3','three',NULL)");
  constexpr int kItems = 5000;
  constexpr int kReportedBeforeKill = 200;
  folder.exec("tillexv8",
              "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                  std::to_string(kItems) +
                  ") INSERT INTO t_bd_item_info (item_no, item_subno, num3) "
                  "SELECT printf('A%05d', i), printf('B%05d', i), 1 FROM n");
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(fds[0]);
    auto SQLCA = sessionOn(folder.path(), "tillexv8");
    if (SQLCA->connect() != 0) {
      _exit(2);
    }
    auto swap = SQLCA->prepare(
        "update t_bd_item_info set other2 =? , item_subno =? , item_no =? where item_no =?");
    for (int i = 1; i <= kItems; ++i) {
      char no[16];
      char subno[16];
      std::snprintf(no, sizeof no, "A%05d", i);
      std::snprintf(subno, sizeof subno, "B%05d", i);
      if (swap->execute({no, no, subno, no}) != 0) {
        _exit(3);
      }
      SQLCA->commit();
      // Told only once the commit has returned.
      if (write(fds[1], &i, sizeof i) != static_cast<ssize_t>(sizeof i)) {
        _exit(4);
      }
    }
    _exit(0);
  }
  close(fds[1]);
  int committed = 0;
  int last = 0;
  while (committed < kReportedBeforeKill && read(fds[0], &last, sizeof last) == sizeof last) {
    committed = last;
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(fds[0]);
  ASSERT_EQ(committed, kReportedBeforeKill) << "the child stopped early";
  ASSERT_TRUE(WIFSIGNALED(status));

  EXPECT_EQ(folder.scalar("tillexv8", "PRAGMA journal_mode"), Value("wal"));
  EXPECT_EQ(folder.scalar("tillexv8", "PRAGMA integrity_check"), Value("ok"));
  // Every reported swap is there; whatever came after is either swapped
  // whole or not at all.
  EXPECT_EQ(
      folder.scalar("tillexv8",
                    "select count(*) from t_bd_item_info where item_no like 'B%' and item_no <= "
                    "'B" +
                        std::to_string(100000 + committed).substr(1) + "'"),
      Value(std::to_string(committed)));
  EXPECT_EQ(folder.scalar("tillexv8",
                          "select count(*) from t_bd_item_info where item_no like 'B%' and "
                          "(item_subno <> 'A' || substr(item_no, 2) or other2 <> item_subno)"),
            Value("0"));
  EXPECT_EQ(folder.scalar("tillexv8", "select count(*) from t_bd_item_info"),
            Value(std::to_string(kItems + 3)));  // and the fixture's three
}

}  // namespace
}  // namespace cvt
