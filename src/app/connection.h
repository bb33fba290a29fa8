#pragma once

#include <string>

#include "app/settings_store.h"
#include "db/session.h"

namespace cvt {

// The target database that the connect button always opens.
inline constexpr const char* kTargetDatabase = "tillexv8";
// The login that the window proposes.
inline constexpr const char* kDefaultLogin = "sa";
// The two connect messages; the failure text is followed directly by the
// engine's error text.
inline constexpr const char* kConnectSucceeded = "连接数据库成功!";
inline constexpr const char* kConnectFailed = "连接数据库失败!";

// What the window's open event takes from the settings store.
struct OpenDefaults {
  // DBMS, Database, ServerName (port joined) and DBParm from the store,
  // each empty when the store lacks it; AutoCommit false.
  SessionSettings settings;
  std::string sle_server;  // = settings.ServerName
  std::string sle_port;    // the joined port, or empty
  std::string sle_sa = kDefaultLogin;
  // Why the store could not be read, or empty (SettingsStore::problem).
  std::string settingsProblem;
};

// Reads the five values of the store and applies the port joining rule to
// the stored server name. Never fails: a missing value stays empty.
OpenDefaults readOpenDefaults(const SettingsStore& store);

// The texts of the connection fields, as typed.
struct ConnectFields {
  std::string sle_server;
  std::string sle_port;  // taken untrimmed; the port rule trims it
  std::string sle_sa;
  std::string sle_passwd;
};

// The outcome of one connect attempt and the text to show the operator in
// a message box titled "提示".
struct ConnectOutcome {
  bool connected = false;
  std::string message;  // kConnectSucceeded, or kConnectFailed + SQLErrText
};

// The connect button's work: sets ServerName (trimmed, port joined), LogId
// and LogPass (trimmed) and Database ("tillexv8") of SQLCA.settings, leaves
// DBMS, DBParm and AutoCommit as they are, and connects. Every attempt
// assigns the fields afresh, so a corrected attempt never doubles the port.
// Connected means SQLCode 0; any other code is a failure.
ConnectOutcome connectTarget(Session& SQLCA, const ConnectFields& fields);

}  // namespace cvt
