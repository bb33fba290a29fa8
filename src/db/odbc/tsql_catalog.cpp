#include "db/odbc/tsql_catalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "db/names.h"
#include "db/odbc/sql_server_texts.h"

namespace cvt {

namespace {

constexpr const char* kDatabaseExistsSql = "select case when db_id(?) is null then 0 else 1 end";
constexpr const char* kHasRightSql = "select isnull(HAS_PERMS_BY_NAME(?, 'OBJECT', ?), 0)";

// Database names are spliced into the catalogue's texts (a view cannot be
// addressed through a parameter), so only plain identifiers are accepted.
bool plainIdentifier(const std::string& name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  });
}

class TsqlCatalog final : public Catalog {
 public:
  explicit TsqlCatalog(Session& session) : session_(session) {}

  SqlResult databaseExists(const std::string& database, bool& exists) override {
    Value flag;
    const long code = session_.selectInto(kDatabaseExistsSql, {database}, {&flag});
    if (code < 0) {
      return session_.lastResult();
    }
    exists = flag.value_or("0") == "1";
    return SqlResult::ok();
  }

  SqlResult describe(const std::string& database, const std::string& table,
                     TableInfo& out) override {
    out = TableInfo{};
    if (!database.empty() && !plainIdentifier(database)) {
      return SqlResult::error("Not a database name: " + database);
    }
    const std::string prefix = database.empty() ? std::string() : "[" + database + "].";
    const std::string columns =
        "select COLUMN_NAME, DATA_TYPE, CHARACTER_MAXIMUM_LENGTH, NUMERIC_PRECISION, "
        "NUMERIC_SCALE, IS_NULLABLE, COLUMN_DEFAULT, columnproperty(object_id(? + TABLE_NAME), "
        "COLUMN_NAME, 'IsIdentity'), COLLATION_NAME from " +
        prefix + "INFORMATION_SCHEMA.COLUMNS where TABLE_NAME = ? order by ORDINAL_POSITION";
    const std::string owner = database.empty() ? std::string() : database + "..";
    auto cursor = session_.openCursor(columns, {owner, table});
    Row row;
    long code = 0;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      ColumnInfo column;
      column.name = row.at(0).value_or("");
      column.type = lowered(row.at(1).value_or(""));
      if (row.at(2)) {
        column.length = std::strtoll(row.at(2)->c_str(), nullptr, 10);
      }
      if (row.at(3) && (column.type == "decimal" || column.type == "numeric")) {
        column.precision = static_cast<int>(std::strtol(row.at(3)->c_str(), nullptr, 10));
        column.scale = static_cast<int>(std::strtol(row.at(4).value_or("0").c_str(), nullptr, 10));
      }
      column.declared = column.type;
      if (column.length > 0) {
        // Appended piece by piece: joining a literal and a temporary
        // string here draws GCC 12's false -Wrestrict warning (bug 105329).
        column.declared.append("(").append(std::to_string(column.length)).append(")");
      } else if (column.precision > 0) {
        column.declared.append("(")
            .append(std::to_string(column.precision))
            .append(",")
            .append(std::to_string(column.scale))
            .append(")");
      }
      column.nullable = row.size() > 5 && row.at(5).value_or("YES") == "YES";
      column.defaultValue = row.size() > 6 ? row.at(6) : Value();
      column.identity = row.size() > 7 && row.at(7).value_or("0") == "1";
      // A text column's own collation (NULL for other types): two columns
      // of one collation compare their keys alike, which lets the check
      // trust a source's unique index for the target's key.
      column.collation = row.size() > 8 ? row.at(8).value_or("") : std::string();
      out.columns.push_back(std::move(column));
      out.exists = true;
    }
    if (code < 0) {
      return session_.lastResult();
    }
    const std::string keys = "select k.COLUMN_NAME from " + prefix +
                             "INFORMATION_SCHEMA.TABLE_CONSTRAINTS t join " + prefix +
                             "INFORMATION_SCHEMA.KEY_COLUMN_USAGE k on k.CONSTRAINT_NAME = "
                             "t.CONSTRAINT_NAME and k.TABLE_NAME = t.TABLE_NAME where "
                             "t.TABLE_NAME = ? and t.CONSTRAINT_TYPE = 'PRIMARY KEY'";
    auto keyCursor = session_.openCursor(keys, {table});
    while ((code = keyCursor->fetch(row)) == kSqlOk) {
      for (auto& column : out.columns) {
        if (lowered(column.name) == lowered(row.at(0).value_or(""))) {
          column.key = true;
        }
      }
    }
    return code < 0 ? session_.lastResult() : SqlResult::ok();
  }

  SqlResult rules(const std::string& database, const std::string& table, TableRules& out) override {
    out = TableRules{};
    if (!database.empty() && !plainIdentifier(database)) {
      return SqlResult::error("Not a database name: " + database);
    }
    const std::string prefix = database.empty() ? std::string() : "[" + database + "].";
    const std::string object = (database.empty() ? std::string() : database + "..") + table;
    out.exposed = true;
    out.nullsDistinct = false;
    // Disabled indexes and filtered ones hold no rule for every row; the
    // filtered kind is rare enough to leave to the run.
    const std::string indexes =
        "select i.name, i.is_unique, i.is_primary_key, c.name from " + prefix +
        "sys.indexes i join " + prefix +
        "sys.index_columns ic on ic.object_id = i.object_id and ic.index_id = i.index_id join " +
        prefix +
        "sys.columns c on c.object_id = ic.object_id and c.column_id = ic.column_id where "
        "i.object_id = object_id(?) and i.is_disabled = 0 and i.has_filter = 0 and "
        "ic.is_included_column = 0 order by i.index_id, ic.key_ordinal";
    Row row;
    long code = 0;
    {
      auto cursor = session_.openCursor(indexes, {object});
      while ((code = cursor->fetch(row)) == kSqlOk) {
        const std::string name = row.at(0).value_or("");
        if (out.indexes.empty() || out.indexes.back().name != name) {
          out.indexes.push_back(
              {name, row.at(1).value_or("0") == "1", row.at(2).value_or("0") == "1", {}});
        }
        out.indexes.back().columns.push_back(row.at(3).value_or(""));
      }
      if (code < 0) {
        return session_.lastResult();
      }
    }
    {
      auto cursor = session_.openCursor(
          "select name, definition from " + prefix +
              "sys.check_constraints where parent_object_id = object_id(?) and is_disabled = 0",
          {object});
      while ((code = cursor->fetch(row)) == kSqlOk) {
        out.checks.push_back({row.at(0).value_or(""), row.at(1).value_or("")});
      }
      if (code < 0) {
        return session_.lastResult();
      }
    }
    {
      auto cursor = session_.openCursor(
          "select f.name, pc.name, ro.name, rc.name from " + prefix + "sys.foreign_keys f join " +
              prefix + "sys.objects ro on ro.object_id = f.referenced_object_id join " + prefix +
              "sys.foreign_key_columns k on k.constraint_object_id = f.object_id join " + prefix +
              "sys.columns pc on pc.object_id = k.parent_object_id and pc.column_id = "
              "k.parent_column_id join " +
              prefix +
              "sys.columns rc on rc.object_id = k.referenced_object_id and rc.column_id = "
              "k.referenced_column_id where f.parent_object_id = object_id(?) and f.is_disabled = "
              "0 order by f.name, k.constraint_column_id",
          {object});
      while ((code = cursor->fetch(row)) == kSqlOk) {
        const std::string name = row.at(0).value_or("");
        if (out.foreignKeys.empty() || out.foreignKeys.back().name != name) {
          out.foreignKeys.push_back({name, {}, row.at(2).value_or(""), {}});
        }
        out.foreignKeys.back().columns.push_back(row.at(1).value_or(""));
        out.foreignKeys.back().refColumns.push_back(row.at(3).value_or(""));
      }
      if (code < 0) {
        return session_.lastResult();
      }
    }
    auto cursor = session_.openCursor("select name from " + prefix +
                                          "sys.triggers where parent_id = object_id(?) and "
                                          "is_disabled = 0",
                                      {object});
    while ((code = cursor->fetch(row)) == kSqlOk) {
      out.triggers.push_back(row.at(0).value_or(""));
    }
    return code < 0 ? session_.lastResult() : SqlResult::ok();
  }

  SqlResult triggersOff(const std::vector<std::string>& tables,
                        std::vector<std::string>& off) override {
    off.clear();
    std::vector<std::string> disabled;
    auto cursor = session_.openCursor(kDisabledTriggerTablesSql);
    Row row;
    long code = 0;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      disabled.push_back(lowered(row.at(0).value_or("")));
    }
    if (code < 0) {
      return session_.lastResult();
    }
    for (const auto& table : tables) {
      if (std::find(disabled.begin(), disabled.end(), lowered(table)) != disabled.end()) {
        off.push_back(table);
      }
    }
    return SqlResult::ok();
  }

  SqlResult missingRights(const std::vector<TableRight>& needed,
                          std::vector<TableRight>& missing) override {
    missing.clear();
    for (const auto& right : needed) {
      const std::string securable =
          right.database.empty() ? right.table : right.database + ".." + right.table;
      Value held;
      if (session_.selectInto(kHasRightSql, {securable, right.right}, {&held}) < 0) {
        return session_.lastResult();
      }
      if (held.value_or("0") != "1") {
        missing.push_back(right);
      }
    }
    return SqlResult::ok();
  }

 private:
  Session& session_;
};

}  // namespace

std::unique_ptr<Catalog> makeTsqlCatalog(Session& session) {
  return std::make_unique<TsqlCatalog>(session);
}

}  // namespace cvt
