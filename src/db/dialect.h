#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt {

// What an engine other than SQL Server runs for one T-SQL text: one or more
// statements in order (the last one carries the text's result), or the
// reason the text cannot run there.
struct DialectTranslation {
  std::vector<std::string> statements;
  bool changesData = false;  // a change that changed no rows gives SQLCode 100
  SqlResult error;
};

// Translates the conversion's T-SQL texts for an engine that speaks another
// dialect. A backend holds one when its data source turns out not to be SQL
// Server; it knows nothing of how the translation is made.
class SqlDialect {
 public:
  virtual ~SqlDialect() = default;
  // `targetDatabase` is the name under which statements address the main
  // database; `isAttached` tells whether another database name is reachable
  // (compared without regard to case). Forgets earlier translations.
  virtual void reset(std::string targetDatabase,
                     std::function<bool(std::string_view)> isAttached) = 0;
  // The translation of `sql`. Never throws.
  virtual DialectTranslation translate(std::string_view sql) = 0;

  // Rows of a query in the data source's own language, every value as
  // text; false when the query failed.
  using SchemaQuery =
      std::function<bool(const std::string& sql, std::vector<std::vector<std::string>>& rows)>;
  // Gives the dialect a way to read what it needs of the data source's
  // schema (for SQLite: the declared column types), now and after a
  // statement that changed a table. A dialect that needs nothing ignores it.
  virtual void learnSchema(SchemaQuery query) { (void)query; }

  // A value of a result row as the data source's driver delivered it,
  // brought back to the text the engine holds (for SQLite: an exact
  // decimal kept as a blob, which the ODBC driver spells X'...').
  virtual void readValue(std::string& value) const { (void)value; }
};

// Makes the dialect that a SQLite data source needs.
using SqlDialectFactory = std::function<std::unique_ptr<SqlDialect>()>;

}  // namespace cvt
