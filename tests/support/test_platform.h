#pragma once

#include <string>

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

}  // namespace cvt::test
