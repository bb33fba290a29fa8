// On Windows the drivers take Windows paths, except under Wine, whose
// odbc32 forwards to the host's driver manager and so to Linux drivers.
// Wine itself tells the two forms apart: kernel32 exports the mapping
// functions on Wine only, so their presence is what says "under Wine".

#include <windows.h>

#include <string>

#include "platform/driver_paths.h"
#include "platform/paths.h"

namespace cvt::platform {

namespace {

// Wine's own exports; both return memory of the process heap.
using UnixNameOf = char* (*)(const WCHAR*);
using DosNameOf = WCHAR* (*)(const char*);

template <typename Function>
Function wineExport(const char* name) {
  const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) {
    return nullptr;
  }
  // The cast from FARPROC to the function's own type is how every caller
  // of GetProcAddress gets a callable pointer.
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel32, name)));
}

// Frees what Wine's mapping functions return.
struct HeapText {
  void* text = nullptr;
  ~HeapText() {
    if (text != nullptr) {
      HeapFree(GetProcessHeap(), 0, text);
    }
  }
};

}  // namespace

std::string driverFilePath(std::string_view local) {
  static const UnixNameOf unixNameOf = wineExport<UnixNameOf>("wine_get_unix_file_name");
  if (unixNameOf == nullptr || local.empty() || local.front() == '/') {
    return std::string(local);
  }
  const std::wstring wide = fsPath(local).wstring();
  const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (size == 0) {
    return std::string(local);
  }
  std::wstring full(size, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size) {
    return std::string(local);
  }
  full.resize(length);
  HeapText unix_name{unixNameOf(full.c_str())};
  if (unix_name.text == nullptr) {
    return std::string(local);
  }
  return std::string(static_cast<const char*>(unix_name.text));
}

std::string localFilePath(std::string_view driver) {
  static const DosNameOf dosNameOf = wineExport<DosNameOf>("wine_get_dos_file_name");
  if (dosNameOf == nullptr || driver.empty() || driver.front() != '/') {
    return std::string(driver);
  }
  const std::string text(driver);
  HeapText dos_name{dosNameOf(text.c_str())};
  if (dos_name.text == nullptr) {
    return std::string(driver);
  }
  return utf8Path(std::filesystem::path(static_cast<const wchar_t*>(dos_name.text)));
}

}  // namespace cvt::platform
