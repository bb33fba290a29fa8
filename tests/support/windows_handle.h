#pragma once

// A Windows handle owned by the tests' process helpers: closed when it
// goes out of scope or is reset.

#include <windows.h>

namespace cvt::test {

struct Handle {
  HANDLE h = nullptr;
  Handle() = default;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  void reset() {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
    }
    h = nullptr;
  }
};

}  // namespace cvt::test
