// convert-batch: one conversion run without the window, for scripts and
// servers. See batchUsage() in app/batch_command.h for the options.

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/batch_command.h"

// ---- Platform section: is standard output a terminal? ----
#if defined(_WIN32)
#include <io.h>
#include <stdio.h>
namespace {
bool stdoutIsTerminal() { return _isatty(_fileno(stdout)) != 0; }
}  // namespace
#else
#include <unistd.h>
namespace {
bool stdoutIsTerminal() { return isatty(STDOUT_FILENO) != 0; }
}  // namespace
#endif
// ---- End of platform section ----

namespace {

// Set by the signal handler, read between two statements of the run.
volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void onStopSignal(int /*signal*/) { gStopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    args.emplace_back(argv[i]);
  }
  cvt::BatchIo io{std::cout,
                  std::cerr,
                  std::cin,
                  stdoutIsTerminal(),
                  [](const std::string& name) -> std::optional<std::string> {
                    const char* value = std::getenv(name.c_str());
                    if (value == nullptr) {
                      return std::nullopt;
                    }
                    return std::string(value);
                  },
                  [] { return gStopRequested != 0; }};
  return cvt::runBatch(args, io);
}
