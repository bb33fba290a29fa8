#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/test_platform.h"

namespace cvt::test {

std::string makeTempFolder(const std::string& prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
  return mkdtemp(tmpl.data()) != nullptr ? tmpl : std::string();
}

void setEnv(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 1);
}

void unsetEnv(const std::string& name) { unsetenv(name.c_str()); }

long processId() { return static_cast<long>(getpid()); }

bool makeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

int runProgram(const std::string& program, const std::vector<std::string>& args,
               std::string* output) {
  int fds[2];
  if (pipe(fds) != 0) {
    return -1;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) {
    argv.push_back(const_cast<char*>(a.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    execvp(program.c_str(), argv.data());
    _exit(127);
  }
  close(fds[1]);
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) != 0;) {
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;
    }
    if (output != nullptr) {
      output->append(buf, static_cast<std::size_t>(n));
    }
  }
  close(fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace cvt::test
