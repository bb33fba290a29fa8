#pragma once

// T-SQL on SQLite
// ===============
// The conversion's statement texts are written in T-SQL. The rewriter turns
// one such text into SQLite statements that give SQL Server's result, or
// refuses it with a clear error; it never guesses and never runs something
// else. It works on tokens (strings, quoted names, comments and numbers are
// recognised first), so a keyword inside a literal is never touched.
//
// What it covers:
//  - names `db..table` and `db.dbo.table`: the target database becomes the
//    main database, any other database must be attached under its name;
//    otherwise the text fails with "Invalid object name 'db..table'.";
//    a leading `dbo.` is dropped;
//  - table hints `with (nolock)` (and the other locking hints) in any
//    spacing, after a table or its alias: removed, SQLite locks the file;
//  - `select top n ...` / `top (n)`, also in subqueries: `... LIMIT n`;
//  - `insert t ...` without INTO, `delete t where ...` without FROM;
//  - `truncate table t`: DELETE FROM t, transactional like any statement;
//  - `update t set ... from t, u where ...`: the target is dropped from the
//    FROM list (SQL Server joins the target row with u), also when it heads
//    an inner join chain; `update t set ... from u where t.c = u.c` runs as
//    SQLite's UPDATE ... FROM; qualified columns left of `=` in SET lose
//    their qualifier;
//  - `ALTER TABLE t disable|enable TRIGGER all`: checks that t exists
//    (failing like SQL Server: Cannot find the object "t" ...) and then
//    adds t to, or removes it from, the table tsql_trigger_off;
//  - functions: isnull -> ifnull, getdate() -> local time text
//    'YYYY-MM-DD HH:MM:SS.mmm' taken once per statement, len / left / right
//    -> tsql_len / tsql_left / tsql_right (characters, not bytes; len ignores
//    trailing blanks; a negative length fails as on SQL Server), substring,
//    convert(varchar(n), x) and cast(x as varchar(n)) -> tsql_convert_text
//    (a number that does not fit in n characters fails with SQL Server's
//    arithmetic overflow error, text is cut to n characters), convert to
//    int / decimal / float types -> CAST;
//  - N'...' literals, [bracketed] names, comments, keywords in any case and
//    a trailing ';'.
// Refused with an error: T-SQL variables (@x), temporary tables (#t),
// several statements in one text, TOP with PERCENT / WITH TIES / UNION,
// TOP in INSERT, UPDATE or DELETE, SELECT ... INTO, DELETE ... FROM ...
// FROM, transaction statements (use the session's commit and rollback) and
// any statement that does not begin with SELECT, WITH, INSERT, UPDATE,
// DELETE, TRUNCATE, ALTER, CREATE or DROP. Not detected: `+` between
// texts (SQLite adds numbers; write || on SQLite).
//
// What a SQLite database declares to behave like SQL Server:
//  - every text column declares `COLLATE TSQL`: letters compare without
//    regard to case and trailing blanks are ignored by =, <>, <, IN, MAX,
//    GROUP BY and keys (the session registers the collation, the functions
//    and the loadable extension libtsqlext registers the same); where
//    neither side is such a column (two literals, or a column declared
//    without it) the comparison stays SQLite's binary one;
//  - every trigger that the ALTER TABLE switch must silence declares
//      WHEN NOT EXISTS (SELECT 1 FROM tsql_trigger_off
//                       WHERE table_name = '<its table>')
//    and the database holds
//      CREATE TABLE tsql_trigger_off (table_name TEXT PRIMARY KEY
//                                     COLLATE NOCASE)
//    (the embedded session creates it in the target database on connect).
//  - `truncate table` is a DELETE of every row: a DELETE trigger that does
//    not honour the switch fires, where SQL Server's truncate fires none.
//  - numbers come back as SQLite stores them: convert(varchar(n), 12.5) of
//    a DECIMAL(16,4) column gives '12.5', where SQL Server writes '12.5000'.

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/dialect.h"
#include "db/sqlite/declared_types.h"

namespace cvt {

// What a rewritten statement does, as the session reports it: a Change that
// changed no rows gives SQLCode 100.
enum class SqlKind {
  Query,   // SELECT / WITH
  Change,  // INSERT, UPDATE, DELETE
  Other,   // TRUNCATE, ALTER (trigger switches included), CREATE, DROP
};

// What the rewriter needs to know of the connection.
struct RewriteContext {
  // Name under which the statements address the main database (compared
  // without regard to case).
  std::string targetDatabase = "tillexv8";
  // True when a database of that name is attached (any case).
  std::function<bool(std::string_view)> isAttached;
  // The declared column types of the connection's tables; values stored
  // into columns of SQL Server types are fitted to them. None: no fitting.
  std::shared_ptr<const DeclaredTypes> types;
};

// The outcome of a rewrite: one or more SQLite statements to run in order,
// or an error text (then `statements` is empty).
struct RewriteResult {
  std::vector<std::string> statements;
  SqlKind kind = SqlKind::Other;
  std::string error;
  // CREATE, DROP or an ALTER other than a trigger switch: the declared
  // types read before it may no longer hold.
  bool changesSchema = false;

  bool ok() const { return error.empty(); }
};

// Rewrites one T-SQL statement text for SQLite. Placeholders '?' stay in
// place and in order. Never throws.
RewriteResult rewriteTsql(std::string_view sql, const RewriteContext& context);

// The T-SQL functions a statement may call (lower case). Any other name
// before '(' is refused.
const std::vector<std::string>& tsqlFunctionAllowList();

// Remembers the rewrites of the most recently used texts, so that a text
// executed in a loop is rewritten once.
// REQUIRES: the context stays the same for the cache's life (clear() when it
// changes).
class RewriteCache {
 public:
  explicit RewriteCache(std::size_t capacity = 256) : capacity_(capacity) {}

  // The rewrite of `sql`, from the cache or made now. Never null.
  std::shared_ptr<const RewriteResult> rewrite(std::string_view sql, const RewriteContext& context);
  void clear();
  std::size_t size() const { return map_.size(); }

 private:
  using Entry = std::pair<std::string, std::shared_ptr<const RewriteResult>>;
  std::size_t capacity_;
  std::list<Entry> lru_;  // most recently used first
  std::unordered_map<std::string_view, std::list<Entry>::iterator> map_;
};

// The T-SQL to SQLite translation as a dialect, for a backend that reaches
// a SQLite data source by other means (the ODBC backend through the SQLite
// ODBC driver). Recently used texts are translated once.
std::unique_ptr<SqlDialect> makeSqliteDialect();

}  // namespace cvt
