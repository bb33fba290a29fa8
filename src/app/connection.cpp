#include "app/connection.h"

#include "app/port_rule.h"

namespace cvt {

OpenDefaults readOpenDefaults(const SettingsStore& store) {
  OpenDefaults out;
  SessionSettings& s = out.settings;
  s.DBMS = store.value("DBMS").value_or("");
  s.Database = store.value("Database").value_or("");
  s.DBParm = store.value("Dbparm").value_or("");
  // The stored server name is joined as stored, without trimming; only the
  // connect button trims what the operator typed.
  PortJoin joined = joinPort(store.value("ServerName").value_or(""), store.value("conn_port"));
  s.ServerName = std::move(joined.serverName);
  s.AutoCommit = false;
  out.sle_server = s.ServerName;
  out.sle_port = joined.port.value_or("");
  out.settingsProblem = store.problem();
  return out;
}

ConnectOutcome connectTarget(Session& SQLCA, const ConnectFields& fields) {
  SessionSettings& s = SQLCA.settings;
  s.ServerName = joinPort(trimBlanks(fields.sle_server), fields.sle_port).serverName;
  s.LogId = trimBlanks(fields.sle_sa);
  s.Database = kTargetDatabase;
  s.LogPass = trimBlanks(fields.sle_passwd);
  if (SQLCA.connect() != kSqlOk) {
    return {false, std::string(kConnectFailed) + SQLCA.SQLErrText()};
  }
  return {true, kConnectSucceeded};
}

}  // namespace cvt
