#include "db/sqlite/declared_types.h"

#include <cctype>
#include <charconv>

namespace cvt {

namespace {

std::string lowered(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) {
    if (c != ' ' && c != '\t') {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

// `name` between `quote` characters, each one inside doubled.
std::string quoted(std::string_view name, char quote) {
  std::string out(1, quote);
  for (const char c : name) {
    out += c;
    if (c == quote) {
      out += c;
    }
  }
  out += quote;
  return out;
}

// Whether a trigger's text makes it fire on UPDATE: the word UPDATE among
// the words before the first ON (CREATE TRIGGER name [BEFORE|AFTER|
// INSTEAD OF] event [OF columns] ON table). A name that is itself the word
// counts too, which only errs towards caution.
bool firesOnUpdate(std::string_view sql) {
  const auto wordChar = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
  };
  std::size_t i = 0;
  while (i < sql.size()) {
    if (!wordChar(sql[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < sql.size() && wordChar(sql[end])) {
      ++end;
    }
    const std::string word = lowered(sql.substr(i, end - i));
    if (word == "on") {
      return false;
    }
    if (word == "update") {
      return true;
    }
    i = end;
  }
  return false;
}

// "name(a)" or "name(a,b)": the name and the numbers; false when the text
// has another shape.
bool splitType(const std::string& type, std::string& name, std::vector<int>& args) {
  const std::size_t open = type.find('(');
  name = type.substr(0, open);
  args.clear();
  if (open == std::string::npos) {
    return true;
  }
  if (type.back() != ')') {
    return false;
  }
  const std::string inner = type.substr(open + 1, type.size() - open - 2);
  std::size_t at = 0;
  while (at <= inner.size()) {
    const std::size_t comma = std::min(inner.find(',', at), inner.size());
    int value = 0;
    const char* first = inner.data() + at;
    const char* last = inner.data() + comma;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value < 0) {
      return false;
    }
    args.push_back(value);
    at = comma + 1;
  }
  return true;
}

}  // namespace

ColumnRule columnRule(std::string_view declared) {
  ColumnRule rule;
  std::string name;
  std::vector<int> args;
  if (!splitType(lowered(declared), name, args)) {
    return rule;
  }
  if (name == "varchar" || name == "char" || name == "nvarchar" || name == "nchar") {
    // varchar(max) and the like hold any length; a bare char is char(1).
    if (args.size() > 1 || (args.empty() && (name == "varchar" || name == "nvarchar"))) {
      return rule;
    }
    rule.kind = ColumnRule::Kind::Text;
    rule.length = args.empty() ? 1 : args[0];
    rule.utf16 = name[0] == 'n';
    rule.pad = name == "char" || name == "nchar";
    if (rule.length == 0) {
      rule.kind = ColumnRule::Kind::None;
    }
  } else if ((name == "decimal" || name == "numeric") && !args.empty() && args.size() <= 2) {
    rule.kind = ColumnRule::Kind::Decimal;
    rule.precision = args[0];
    rule.scale = args.size() == 2 ? args[1] : 0;
    if (rule.precision < 1 || rule.precision > 38 || rule.scale > rule.precision) {
      rule.kind = ColumnRule::Kind::None;
    }
  } else if ((name == "money" || name == "smallmoney") && args.empty()) {
    rule.kind = ColumnRule::Kind::Decimal;
    rule.precision = name == "money" ? 19 : 10;
    rule.scale = 4;
    rule.money = true;
  } else if (args.empty() &&
             (name == "int" || name == "smallint" || name == "tinyint" || name == "bigint")) {
    rule.kind = ColumnRule::Kind::Integer;
    rule.bytes = name == "int" ? 4 : name == "smallint" ? 2 : name == "tinyint" ? 1 : 8;
  } else if (args.empty() && name == "datetime") {
    rule.kind = ColumnRule::Kind::Datetime;
  }
  return rule;
}

const ColumnRule* TableColumns::find(std::string_view column) const {
  const std::string wanted = lowered(column);
  for (const auto& [name, rule] : columns) {
    if (name == wanted) {
      return &rule;
    }
  }
  return nullptr;
}

const TableColumns* DeclaredTypes::find(std::string_view schema, std::string_view table) const {
  const std::string key =
      (schema.empty() ? std::string("main") : lowered(schema)) + "." + lowered(table);
  const auto it = tables_.find(key);
  return it == tables_.end() ? nullptr : &it->second;
}

void DeclaredTypes::add(std::string_view schema, std::string_view table, TableColumns columns) {
  tables_[lowered(schema) + "." + lowered(table)] = std::move(columns);
}

std::shared_ptr<const DeclaredTypes> DeclaredTypes::read(const Query& query) {
  auto types = std::make_shared<DeclaredTypes>();
  std::vector<std::vector<std::string>> databases;
  if (!query("PRAGMA database_list", databases)) {
    return types;
  }
  for (const auto& database : databases) {
    if (database.size() < 2 || database[1] == "temp") {
      continue;
    }
    const std::string& schema = database[1];
    // Generated columns (hidden 2 and 3) take no values.
    const std::string sql =
        "SELECT m.name, p.name, p.type, p.pk, "
        "instr(upper(m.sql), 'AUTOINCREMENT') > 0 FROM " +
        quoted(schema, '"') + ".sqlite_master AS m, pragma_table_xinfo(m.name, " +
        quoted(schema, '\'') +
        ") AS p WHERE m.type = 'table' AND p.hidden = 0 ORDER BY m.name, p.cid";
    std::vector<std::vector<std::string>> rows;
    if (!query(sql, rows)) {
      continue;
    }
    std::string table;
    TableColumns columns;
    int keyColumns = 0;
    for (const auto& row : rows) {
      if (row.size() < 3) {
        continue;
      }
      if (row[0] != table) {
        if (!table.empty()) {
          types->add(schema, table, std::move(columns));
        }
        table = row[0];
        columns = TableColumns{};
        keyColumns = 0;
      }
      const ColumnRule rule = columnRule(row[2]);
      columns.anyRule = columns.anyRule || rule.kind != ColumnRule::Kind::None;
      columns.columns.emplace_back(lowered(row[1]), rule);
      if (row.size() > 3 && !row[3].empty() && row[3] != "0") {
        // A second key column makes the key a composite one: no single
        // column names a row then.
        columns.key = row[3] == "1" && keyColumns == 0 ? lowered(row[1]) : std::string();
        ++keyColumns;
        // AUTOINCREMENT is allowed on a lone INTEGER PRIMARY KEY only.
        columns.identity = row.size() > 4 && row[4] == "1" ? columns.key : std::string();
      }
    }
    if (!table.empty()) {
      types->add(schema, table, std::move(columns));
    }
  }
  // Triggers of any database (the temporary one included) may name a
  // table of another: a table is marked whatever database its name is in.
  for (const auto& database : databases) {
    if (database.size() < 2) {
      continue;
    }
    std::vector<std::vector<std::string>> triggers;
    if (!query("SELECT tbl_name, sql FROM " + quoted(database[1], '"') +
                   ".sqlite_master WHERE type = 'trigger'",
               triggers)) {
      continue;
    }
    for (const auto& trigger : triggers) {
      if (trigger.size() < 2 || !firesOnUpdate(trigger[1])) {
        continue;
      }
      std::string suffix(1, '.');
      suffix += lowered(trigger[0]);
      for (auto& [key, columns] : types->tables_) {
        if (key.size() > suffix.size() &&
            key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
          columns.updateTriggers = true;
        }
      }
    }
  }
  return types;
}

}  // namespace cvt
