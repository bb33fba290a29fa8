// The batch command's terminal on Windows. Arguments and environment are
// read in UTF-16 and handed on as UTF-8; text for a console window goes
// out through WriteConsoleW, since the console's code page would garble
// UTF-8 bytes; redirected output stays UTF-8 bytes. A stop arrives as a
// console control event.

#include <windows.h>
// shellapi.h needs windows.h first.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <iostream>
#include <streambuf>

#include "platform/console.h"

namespace cvt::platform {

namespace {

std::string toUtf8(const wchar_t* text, std::size_t length) {
  if (length == 0) {
    return {};
  }
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring toWide(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

bool isConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// A stream buffer over a console handle. UTF-8 is collected up to a line
// end or a flush, so that no character is split, and written as UTF-16.
// "\x1b[K" (erase to the end of the line) is left to the console where it
// understands escape sequences and done by hand where it does not.
class ConsoleBuffer : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE handle) : handle_(handle) {
    DWORD mode = 0;
    GetConsoleMode(handle_, &mode);
    escapes_ = SetConsoleMode(handle_, mode | ENABLE_PROCESSED_OUTPUT |
                                           ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) {
      pending_.push_back(static_cast<char>(c));
      if (c == '\n') {
        flushPending();
      }
    }
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    pending_.append(s, static_cast<std::size_t>(n));
    if (pending_.find('\n') != std::string::npos) {
      flushPending();
    }
    return n;
  }
  int sync() override {
    flushPending();
    return 0;
  }

 private:
  static constexpr std::string_view kEraseLine = "\x1b[K";

  void flushPending() {
    // Keep an incomplete UTF-8 sequence at the end for the next write.
    std::size_t end = pending_.size();
    std::size_t back = 0;
    while (back < 4 && back < end &&
           (static_cast<unsigned char>(pending_[end - 1 - back]) & 0xC0) == 0x80) {
      ++back;
    }
    if (back < end) {
      const auto lead = static_cast<unsigned char>(pending_[end - 1 - back]);
      const std::size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
      if (need > back + 1) {
        end -= back + 1;
      }
    }
    std::string text = pending_.substr(0, end);
    pending_.erase(0, end);
    if (escapes_) {
      write(text);
      return;
    }
    for (std::size_t at; (at = text.find(kEraseLine)) != std::string::npos;) {
      write(text.substr(0, at));
      eraseToLineEnd();
      text.erase(0, at + kEraseLine.size());
    }
    write(text);
  }

  void write(const std::string& text) {
    const std::wstring wide = toWide(text);
    DWORD written = 0;
    if (!wide.empty()) {
      WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    }
  }

  void eraseToLineEnd() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(handle_, &info) == 0) {
      return;
    }
    DWORD written = 0;
    const auto count = static_cast<DWORD>(info.dwSize.X - info.dwCursorPosition.X);
    FillConsoleOutputCharacterW(handle_, L' ', count, info.dwCursorPosition, &written);
  }

  HANDLE handle_;
  bool escapes_ = false;
  std::string pending_;
};

std::ostream& streamFor(DWORD which, std::ostream& standard, FILE* file) {
  const HANDLE handle = GetStdHandle(which);
  if (isConsole(handle)) {
    static ConsoleBuffer outBuffer(GetStdHandle(STD_OUTPUT_HANDLE));
    static ConsoleBuffer errBuffer(GetStdHandle(STD_ERROR_HANDLE));
    static std::ostream out(&outBuffer);
    static std::ostream err(&errBuffer);
    return which == STD_OUTPUT_HANDLE ? out : err;
  }
  // Redirected: the UTF-8 bytes exactly, line ends included.
  _setmode(_fileno(file), _O_BINARY);
  return standard;
}

std::atomic<bool> gStopRequested{false};
// Set when the StopRequests object goes, so that a console being closed
// waits for the run's clean-up before Windows ends the process.
HANDLE gDone = nullptr;

BOOL WINAPI onControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      gStopRequested = true;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      gStopRequested = true;
      if (gDone != nullptr) {
        WaitForSingleObject(gDone, INFINITE);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::vector<std::string> utf8Arguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) {
    return args;
  }
  for (int i = 1; i < count; ++i) {
    args.push_back(toUtf8(wide[i], wcslen(wide[i])));
  }
  LocalFree(wide);
  return args;
}

std::optional<std::string> environmentVariable(const std::string& name) {
  const std::wstring wname = toWide(name);
  const DWORD size = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (size == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
      return std::nullopt;
    }
    return std::string();
  }
  std::wstring value(size, L'\0');
  const DWORD length = GetEnvironmentVariableW(wname.c_str(), value.data(), size);
  return toUtf8(value.data(), length);
}

std::ostream& standardOutput() {
  static std::ostream& out = streamFor(STD_OUTPUT_HANDLE, std::cout, stdout);
  return out;
}

std::ostream& standardError() {
  static std::ostream& err = streamFor(STD_ERROR_HANDLE, std::cerr, stderr);
  return err;
}

bool standardOutputIsTerminal() { return isConsole(GetStdHandle(STD_OUTPUT_HANDLE)); }

StopRequests::StopRequests() {
  gDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // A program started in a new process group has Ctrl-C turned off.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(onControl, TRUE);
}

StopRequests::~StopRequests() {
  if (gDone != nullptr) {
    SetEvent(gDone);
  }
}

bool StopRequests::requested() const { return gStopRequested; }

}  // namespace cvt::platform
