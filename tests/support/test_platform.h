#pragma once

#include <string>
#include <vector>

// What the tests need of the operating system, with one implementation per
// platform, so that the same tests run on Linux and on Windows.
namespace cvt::test {

// Makes a new empty folder under the system's temporary folder, its name
// starting with `prefix`; an empty text when that fails.
std::string makeTempFolder(const std::string& prefix);

// Sets or removes an environment variable of this process.
void setEnv(const std::string& name, const std::string& value);
void unsetEnv(const std::string& name);

// This process's id, for names no parallel test shares.
long processId();

// Makes a named pipe at `path`; false where the system has none in its
// file system.
bool makeFifo(const std::string& path);

// Runs `program` (a path, or a name the system looks up) with `args`, waits
// for it and returns its exit code, or -1 when it could not be started.
// What it writes to its standard output and error goes to `output` when
// one is given. Texts are UTF-8.
int runProgram(const std::string& program, const std::vector<std::string>& args,
               std::string* output = nullptr);

}  // namespace cvt::test
