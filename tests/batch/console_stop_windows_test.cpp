// Ctrl-C on the console of a running convert-batch.exe stops it as SIGINT
// does on Linux: the step's work is rolled back, the close sequence runs,
// the exit status is 130. The program runs on a console of its own, its
// output in a pipe; console-ctrl-c.exe presses the key on that console.
// (Wine raises only Ctrl-C on a console, neither Ctrl-Break nor a close.)

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "support/db_folder.h"
#include "support/windows_handle.h"

namespace cvt {
namespace {

std::string buildFile(const char* name) {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

using test::Handle;

// A started program. No argument here holds a quote, so quoting each is
// the whole of the command line's syntax.
struct Child {
  Handle process;
  DWORD id = 0;

  bool start(const std::vector<std::string>& args, HANDLE input, HANDLE output, DWORD flags) {
    std::wstring command;
    for (const std::string& arg : args) {
      command += L"\"" + platform::fsPath(arg).wstring() + L"\" ";
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup, &info)) {
      return false;
    }
    CloseHandle(info.hThread);
    process.h = info.hProcess;
    id = info.dwProcessId;
    return true;
  }

  DWORD wait() {
    WaitForSingleObject(process.h, INFINITE);
    DWORD status = 0;
    return GetExitCodeProcess(process.h, &status) ? status : 0xFFFFFFFF;
  }
};

// An inheritable pipe: `keep` stays with this process, the other end goes
// to a child and is closed here once the child has it.
struct Pipe {
  Handle read;
  Handle write;
  bool open(bool keepRead) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreatePipe(&read.h, &write.h, &inherit, 0) &&
           SetHandleInformation(keepRead ? read.h : write.h, HANDLE_FLAG_INHERIT, 0);
  }
};

TEST(BatchOnWindowsConsole, CtrlCStopsTheRunAndRollsItBack) {
  test::DbFolder db;
  // Enough regions for their deletion to take a moment: the key is pressed
  // once it has begun, and wherever the stop lands the next statement is
  // never sent and the rollback keeps the old regions.
  db.exec("tillexv8", R"SQL(
    INSERT INTO t_rm_cashier(cashier_id) VALUES ('9999'), ('0001');
    WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000)
    INSERT INTO t_bd_base_code(type_no, code_id, code_name) SELECT 'RG', 'R' || i, 'r' FROM n;
  )SQL");
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101', 'north'), ('02', 'south');");

  Pipe output;
  ASSERT_TRUE(output.open(true));
  Child batch;
  ASSERT_TRUE(batch.start({buildFile("convert-batch.exe"), "--dbms", "SQLite", "--server",
                           db.path(), "--categories", "region,cashier", "--events", "jsonl"},
                          GetStdHandle(STD_INPUT_HANDLE), output.write.h, CREATE_NEW_CONSOLE));
  output.write.reset();
  Pipe press;
  ASSERT_TRUE(press.open(false));
  Child key;
  ASSERT_TRUE(key.start({buildFile("console-ctrl-c.exe"), std::to_string(batch.id)}, press.read.h,
                        GetStdHandle(STD_ERROR_HANDLE), 0));
  press.read.reset();

  std::string out;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(output.read.h, buf, sizeof buf, &n, nullptr) && n > 0) {
    out.append(buf, n);
    if (press.write.h != nullptr && out.find("正在删除区域信息") != std::string::npos) {
      WriteFile(press.write.h, "\n", 1, &n, nullptr);
      press.write.reset();
    }
  }
  press.write.reset();  // a run that never got there lets the key go

  EXPECT_EQ(key.wait(), 0U) << "the console's Ctrl-C could not be raised";
  EXPECT_EQ(batch.wait(), 130U) << out;
  EXPECT_NE(out.find(R"({"event":"end","outcome":"failed"})"), std::string::npos) << out;
  EXPECT_EQ(out.find("收银员"), std::string::npos) << "the cashiers must not run";
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_bd_base_code WHERE type_no='RG'"),
            "100000");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM t_rm_cashier"), "2");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
}

}  // namespace
}  // namespace cvt
