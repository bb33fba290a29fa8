#include <windows.h>

#include <filesystem>
#include <random>

#include "platform/paths.h"
#include "support/test_platform.h"
#include "support/windows_handle.h"

namespace cvt::test {

std::string makeTempFolder(const std::string& prefix) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path folder =
        base / platform::fsPath(prefix + std::to_string(GetCurrentProcessId()) + "-" +
                                std::to_string(random()));
    std::error_code error;
    if (std::filesystem::create_directory(folder, error)) {
      return platform::utf8Path(folder);
    }
  }
  return {};
}

void setEnv(const std::string& name, const std::string& value) {
  _wputenv_s(platform::fsPath(name).c_str(), platform::fsPath(value).c_str());
}

void unsetEnv(const std::string& name) { _wputenv_s(platform::fsPath(name).c_str(), L""); }

long processId() { return static_cast<long>(GetCurrentProcessId()); }

bool makeFifo(const std::string& /*path*/) { return false; }

namespace {

// One argument as the C runtime's command-line parser reads it back:
// quoted, with backslashes doubled only where a quote follows them.
std::wstring quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out.push_back(c);
  }
  out.append(slashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

}  // namespace

int runProgram(const std::string& program, const std::vector<std::string>& args,
               std::string* output) {
  std::wstring command = quoted(platform::fsPath(program).wstring());
  for (const std::string& a : args) {
    command += L" " + quoted(platform::fsPath(a).wstring());
  }
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle readEnd;
  Handle writeEnd;
  if (!CreatePipe(&readEnd.h, &writeEnd.h, &inherit, 0) ||
      !SetHandleInformation(readEnd.h, HANDLE_FLAG_INHERIT, 0)) {
    return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd.h;
  startup.hStdError = writeEnd.h;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return -1;
  }
  Handle process;
  process.h = info.hProcess;
  Handle thread;
  thread.h = info.hThread;
  writeEnd.reset();  // the child holds the only write end now
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(readEnd.h, buf, sizeof buf, &n, nullptr) && n > 0) {
    if (output != nullptr) {
      output->append(buf, n);
    }
  }
  WaitForSingleObject(process.h, INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.h, &code)) {
    return -1;
  }
  return static_cast<int>(code);
}

}  // namespace cvt::test
