#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cvt {

// What a column's declared SQL Server type asks of a value stored into it
// (see "Declared types" in tsql_rewriter.h).
struct ColumnRule {
  enum class Kind {
    None,      // no SQL Server type SQLite would not already honour
    Text,      // varchar(n), char(n), nvarchar(n), nchar(n)
    Decimal,   // decimal(p, s), numeric(p, s), money
    Integer,   // tinyint, smallint, int, bigint
    Datetime,  // datetime
  };
  Kind kind = Kind::None;
  int length = 0;      // Text: n
  bool utf16 = false;  // Text: n counts UTF-16 units (nvarchar, nchar), else bytes
  bool pad = false;    // Text: char(n) and nchar(n) are filled with blanks
  int precision = 0;   // Decimal
  int scale = 0;       // Decimal
  bool money = false;  // Decimal: money, decimal(19, 4) with its own messages
  int bytes = 0;       // Integer: 1, 2, 4 or 8
};

// The rule of a declared type text as SQLite keeps it ("varchar(20)",
// "DECIMAL(16,4)", "INTEGER", ...). Types it does not know give Kind::None;
// so do SQLite's own names (INTEGER, TEXT, REAL, NUMERIC), which keep
// SQLite's behaviour.
ColumnRule columnRule(std::string_view declared);

struct TableColumns {
  // In the table's order; names lower-case.
  std::vector<std::pair<std::string, ColumnRule>> columns;
  bool anyRule = false;
  // The column that is the whole primary key (lower-case); empty when the
  // key has several columns or there is none.
  std::string key;
  // A trigger of some database fires on UPDATE of a table of this name.
  bool updateTriggers = false;
  // The identity column (lower-case): the key that SQLite numbers itself
  // with AUTOINCREMENT. Empty when the table has none.
  std::string identity;

  // The rule of `column` (any case); nullptr when the table has no such
  // column.
  const ColumnRule* find(std::string_view column) const;
};

// The declared columns of every table of the main and the attached
// databases.
class DeclaredTypes {
 public:
  // Rows of one query, every value as text ("" for NULL); false when the
  // query failed.
  using Query = std::function<bool(const std::string& sql, std::vector<std::vector<std::string>>&)>;

  // Reads every table of every database of the connection that `query`
  // reaches. A database whose tables cannot be read is left out.
  static std::shared_ptr<const DeclaredTypes> read(const Query& query);

  // The table `table` of `schema` ("" and "main" for the main database);
  // nullptr when unknown.
  const TableColumns* find(std::string_view schema, std::string_view table) const;

  void add(std::string_view schema, std::string_view table, TableColumns columns);

 private:
  std::map<std::string, TableColumns> tables_;  // "schema.table", lower-case
};

}  // namespace cvt
