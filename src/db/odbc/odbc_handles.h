#pragma once

// Platform section: the Windows ODBC headers need the Windows types first.
#ifdef _WIN32
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include <utility>

namespace cvt {

// Owns one ODBC handle of type `Kind` (SQL_HANDLE_ENV, SQL_HANDLE_DBC or
// SQL_HANDLE_STMT) and frees it when it goes. Move-only.
//
// A connection handle is disconnected before it is freed; work still open
// in its transaction is rolled back, since an owner that wanted it kept
// would have committed before letting go.
template <SQLSMALLINT Kind>
class OdbcHandle {
 public:
  OdbcHandle() = default;
  ~OdbcHandle() { reset(); }
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  OdbcHandle(OdbcHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  OdbcHandle& operator=(OdbcHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }

  // Allocates a new handle under `parent` (SQL_NULL_HANDLE for an
  // environment), freeing the one held before. Returns the ODBC code.
  SQLRETURN allocate(SQLHANDLE parent) {
    reset();
    return SQLAllocHandle(Kind, parent, &handle_);
  }

  SQLHANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

  // Forgets the handle without freeing it: for a statement whose
  // connection has already been closed, since closing a connection frees
  // its statements and freeing one again would touch a dead handle.
  void release() { handle_ = nullptr; }

  void reset() {
    if (handle_ == nullptr) {
      return;
    }
    if constexpr (Kind == SQL_HANDLE_DBC) {
      if (!SQL_SUCCEEDED(SQLDisconnect(handle_))) {
        SQLEndTran(SQL_HANDLE_DBC, handle_, SQL_ROLLBACK);
        SQLDisconnect(handle_);
      }
    }
    SQLFreeHandle(Kind, handle_);
    handle_ = nullptr;
  }

 private:
  SQLHANDLE handle_ = nullptr;
};

using OdbcEnvHandle = OdbcHandle<SQL_HANDLE_ENV>;
using OdbcDbcHandle = OdbcHandle<SQL_HANDLE_DBC>;
using OdbcStmtHandle = OdbcHandle<SQL_HANDLE_STMT>;

}  // namespace cvt
