#pragma once

// What the benchmarks share: wall time, peak memory, and one measurement
// in a child process of its own, so that the peak memory belongs to that
// measurement alone. POSIX only.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

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

}  // namespace benchutil
