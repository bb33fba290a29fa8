#pragma once

// What the benchmarks share: wall time, peak memory, and one measurement
// in a child process of its own, so that the peak memory belongs to that
// measurement alone. POSIX only.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace benchutil {

// Wall time since the watch was made.
class Stopwatch {
 public:
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Peak resident memory in MiB of the process that `usage` describes
// (ru_maxrss counts KiB).
inline double peakMiB(const rusage& usage) { return static_cast<double>(usage.ru_maxrss) / 1024.0; }

// Peak resident memory in MiB of this process so far.
inline double peakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return peakMiB(usage);
}

// Runs `measure` (returning an exit status) in a child process; true when
// the child exited with 0.
template <class Measure>
bool runInChild(Measure measure) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const int status = measure();
    std::fflush(stdout);
    std::_Exit(status);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// One measured child process: wall time from fork to exit, its peak
// resident memory from wait4, its exit status and its standard output.
struct ChildRun {
  double seconds = 0;
  double peakMiB = 0;
  int status = -1;
  std::string output;
};

// Runs `args` (a program and its arguments) with the environment changed
// by `env`, its standard output captured. Writes still pending from
// generating or copying the data are flushed first: they would otherwise
// land in the middle of the measured run.
inline ChildRun runProgram(const std::vector<std::string>& args,
                           const std::vector<std::pair<std::string, std::string>>& env = {}) {
  ChildRun run;
  int fds[2];
  if (pipe(fds) != 0) {
    return run;
  }
  sync();
  const Stopwatch watch;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    for (const auto& [name, value] : env) {
      setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
      argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  run.seconds = watch.seconds();
  run.peakMiB = peakMiB(usage);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// The sizes named on the command line (positive whole numbers), or
// `defaults` when none is; nullopt when an argument is not such a number.
inline std::optional<std::vector<long>> sizesFromArguments(int argc, char** argv,
                                                           std::vector<long> defaults) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg(argv[i]);
    long n = 0;
    const auto [ptr, ec] = std::from_chars(arg.data(), arg.data() + arg.size(), n);
    if (ec != std::errc() || ptr != arg.data() + arg.size() || n <= 0) {
      return std::nullopt;
    }
    sizes.push_back(n);
  }
  return sizes.empty() ? defaults : sizes;
}

}  // namespace benchutil
