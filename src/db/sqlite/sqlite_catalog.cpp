// The embedded session's catalogue.

#include <sqlite3.h>

#include <algorithm>

#include "db/catalog.h"
#include "db/names.h"
#include "db/sqlite/ext/tsql_parts.h"
#include "db/sqlite/sqlite_session_parts.h"

namespace cvt::embedded {

namespace {

// The catalogue of the embedded backend, read from SQLite's own: the
// declared column types (pragma table_xinfo), the trigger switch table,
// and for rights whether the target file can be written at all.
class SqliteCatalog final : public Catalog {
 public:
  explicit SqliteCatalog(SqliteSession& session) : session_(session) {}

  SqlResult databaseExists(const std::string& database, bool& exists) override {
    exists = session_.connected() && !session_.schemaOf(database).empty();
    return session_.connected() ? SqlResult::ok() : notConnected();
  }

  SqlResult describe(const std::string& database, const std::string& table,
                     TableInfo& out) override {
    out = TableInfo{};
    if (!session_.connected()) {
      return notConnected();
    }
    const std::string schema = session_.schemaOf(database);
    if (schema.empty()) {
      return SqlResult::ok();
    }
    int keyParts = 0;
    const SqlResult result =
        query("SELECT name, type, pk, \"notnull\", dflt_value FROM pragma_table_xinfo(?1, ?2)",
              {table, schema}, [&](sqlite3_stmt* stmt) {
                ColumnInfo column;
                column.name = text(stmt, 0);
                readDeclaredType(text(stmt, 1), column);
                column.key = sqlite3_column_int(stmt, 2) > 0;
                keyParts += column.key ? 1 : 0;
                column.nullable = sqlite3_column_int(stmt, 3) == 0 && !column.key;
                if (sqlite3_column_type(stmt, 4) != SQLITE_NULL) {
                  column.defaultValue = text(stmt, 4);
                }
                out.columns.push_back(std::move(column));
                out.exists = true;
              });
    // An INTEGER PRIMARY KEY of its own is the row number SQLite assigns:
    // the embedded form of an identity column.
    for (auto& column : out.columns) {
      column.identity = keyParts == 1 && column.key && lowered(column.declared) == "integer";
      column.nullable = column.nullable || column.identity;
      const char* collation = nullptr;
      if (sqlite3_table_column_metadata(session_.handle(), schema.c_str(), table.c_str(),
                                        column.name.c_str(), nullptr, &collation, nullptr, nullptr,
                                        nullptr) == SQLITE_OK &&
          collation != nullptr) {
        column.collation = collation;
      }
    }
    return result;
  }

  SqlResult rules(const std::string& database, const std::string& table, TableRules& out) override {
    out = TableRules{};
    if (!session_.connected()) {
      return notConnected();
    }
    const std::string schema = session_.schemaOf(database);
    if (schema.empty()) {
      return SqlResult::ok();
    }
    out.exposed = true;
    out.nullsDistinct = true;
    SqlResult result = query("SELECT name, \"unique\", origin FROM pragma_index_list(?1, ?2)",
                             {table, schema}, [&](sqlite3_stmt* stmt) {
                               IndexInfo index;
                               index.name = text(stmt, 0);
                               index.unique = sqlite3_column_int(stmt, 1) != 0;
                               index.primary = text(stmt, 2) == "pk";
                               out.indexes.push_back(std::move(index));
                             });
    for (auto& index : out.indexes) {
      if (result.failed()) {
        break;
      }
      result =
          query("SELECT name FROM pragma_index_info(?1, ?2) ORDER BY seqno", {index.name, schema},
                [&](sqlite3_stmt* stmt) { index.columns.push_back(text(stmt, 0)); });
    }
    if (result.failed()) {
      return result;
    }
    std::map<int, ForeignKeyInfo> keys;
    result = query(
        "SELECT id, \"table\", \"from\", \"to\" FROM pragma_foreign_key_list(?1, ?2)"
        " ORDER BY id, seq",
        {table, schema}, [&](sqlite3_stmt* stmt) {
          ForeignKeyInfo& key = keys[sqlite3_column_int(stmt, 0)];
          key.refTable = text(stmt, 1);
          key.columns.push_back(text(stmt, 2));
          key.refColumns.push_back(text(stmt, 3));
        });
    for (auto& [id, key] : keys) {
      key.name = "fk" + std::to_string(id);
      out.foreignKeys.push_back(std::move(key));
    }
    if (result.failed()) {
      return result;
    }
    const std::string master = "\"" + schema + "\".sqlite_master";
    std::string definition;
    result = query(("SELECT type, name, sql FROM " + master +
                    " WHERE tbl_name = ?1 COLLATE NOCASE AND type IN ('table', 'trigger')")
                       .c_str(),
                   {table}, [&](sqlite3_stmt* stmt) {
                     if (text(stmt, 0) == "trigger") {
                       out.triggers.push_back(text(stmt, 1));
                     } else {
                       definition = text(stmt, 2);
                     }
                   });
    out.checks = checkClausesOf(definition);
    return result;
  }

  SqlResult triggersOff(const std::vector<std::string>& tables,
                        std::vector<std::string>& off) override {
    off.clear();
    if (!session_.connected()) {
      return notConnected();
    }
    std::set<std::string> switchedOff;
    SqlResult result =
        query("SELECT table_name FROM main.tsql_trigger_off", {},
              [&](sqlite3_stmt* stmt) { switchedOff.insert(lowered(text(stmt, 0))); });
    for (const auto& table : tables) {
      if (switchedOff.count(lowered(table)) > 0) {
        off.push_back(table);
      }
    }
    return result;
  }

  SqlResult missingRights(const std::vector<TableRight>& needed,
                          std::vector<TableRight>& missing) override {
    missing.clear();
    if (!session_.connected()) {
      return notConnected();
    }
    // A file opened read-only (or on a read-only medium) refuses every write.
    for (const auto& right : needed) {
      const std::string schema = session_.schemaOf(right.database);
      if (right.right != "SELECT" && !schema.empty() &&
          sqlite3_db_readonly(session_.handle(), schema.c_str()) == 1) {
        missing.push_back(right);
      }
    }
    return SqlResult::ok();
  }

 private:
  static SqlResult notConnected() {
    return SqlResult::error("The session is not connected to a database.");
  }
  static std::string text(sqlite3_stmt* stmt, int column) {
    const auto* raw = sqlite3_column_text(stmt, column);
    return raw != nullptr ? reinterpret_cast<const char*>(raw) : std::string();
  }

  template <typename OnRow>
  SqlResult query(const char* sql, const std::vector<std::string>& inputs, OnRow onRow) {
    sqlite3_stmt* raw = nullptr;
    int rc = sqlite3_prepare_v2(session_.handle(), sql, -1, &raw, nullptr);
    StmtPtr stmt(raw);
    for (std::size_t i = 0; rc == SQLITE_OK && i < inputs.size(); ++i) {
      rc = sqlite3_bind_text(stmt.get(), static_cast<int>(i + 1), inputs[i].c_str(), -1,
                             tsql_impl::transientText());
    }
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
      rc = sqlite3_step(stmt.get());
      if (rc == SQLITE_ROW) {
        onRow(stmt.get());
      }
    }
    if (rc != SQLITE_DONE) {
      return SqlResult{-(rc & 0xff), sqlite3_errmsg(session_.handle())};
    }
    return SqlResult::ok();
  }

  SqliteSession& session_;
};

}  // namespace

std::unique_ptr<Catalog> SqliteSession::catalog() { return std::make_unique<SqliteCatalog>(*this); }

}  // namespace cvt::embedded
