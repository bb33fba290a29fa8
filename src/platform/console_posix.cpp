// The batch command's terminal on POSIX systems: arguments, environment and
// output are UTF-8 already; a stop arrives as SIGINT or SIGTERM.

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "platform/console.h"

namespace cvt::platform {

namespace {

// Set by the signal handler, read between two statements of the run.
volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void onStopSignal(int /*signal*/) { gStopRequested = 1; }

}  // namespace

std::vector<std::string> utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

std::optional<std::string> environmentVariable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

std::ostream& standardOutput() { return std::cout; }
std::ostream& standardError() { return std::cerr; }

bool standardOutputIsTerminal() { return isatty(STDOUT_FILENO) != 0; }

StopRequests::StopRequests() {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
}

// The handlers stay to the end of the process: a signal after the run, as
// the program returns, still ends it as stopped rather than killed.
StopRequests::~StopRequests() = default;

bool StopRequests::requested() const { return gStopRequested != 0; }

}  // namespace cvt::platform
