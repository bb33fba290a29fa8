#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The batch command's terminal: its arguments, its two output streams, its
// environment and the operator's request to stop. One implementation per
// platform: console_posix.cpp, console_windows.cpp.
namespace cvt::platform {

// The command-line arguments after the program's name, as UTF-8 whatever
// the system's code page (Windows hands narrow arguments over in its ANSI
// code page, where Chinese becomes '?').
std::vector<std::string> utf8Arguments(int argc, char** argv);

// An environment variable as UTF-8; nullopt when it is not set.
std::optional<std::string> environmentVariable(const std::string& name);

// Standard output and error for UTF-8 text. On a Windows console the text
// is written as UTF-16, so Chinese shows as Chinese, and "\r\x1b[K" redraws
// the line in place; anywhere else the UTF-8 bytes go out unchanged.
std::ostream& standardOutput();
std::ostream& standardError();

// Whether standard output is a terminal (a console window on Windows).
bool standardOutputIsTerminal();

// While it lives, the operator's ways of stopping the program set a flag
// instead of ending it at once: Ctrl-C and SIGTERM on POSIX systems;
// Ctrl-C, Ctrl-Break and closing the console window on Windows. The
// program then ends its run as it does after a failed step. When the
// console is closed, Windows ends the process once the object is gone (or
// after its own few seconds' grace).
class StopRequests {
 public:
  StopRequests();
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

  // True once the operator asked to stop.
  bool requested() const;
};

}  // namespace cvt::platform
