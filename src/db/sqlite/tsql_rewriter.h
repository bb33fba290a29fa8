#pragma once

// T-SQL on SQLite
// ===============
// The conversion's statement texts are written in T-SQL. The rewriter turns
// one such text into SQLite statements that give SQL Server's result, or
// refuses it with a clear error; it never guesses and never runs something
// else. It works on tokens (strings, quoted names, comments and numbers are
// recognised first), so a keyword inside a literal is never touched, in
// passes, one file each under db/sqlite/rewriter/ (their order: rewriter.h).
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
//  - `truncate table t`: DELETE FROM t, transactional like any statement,
//    and the identity column (an INTEGER PRIMARY KEY declared
//    AUTOINCREMENT) starts again at 1;
//  - an insert that names the identity column fails as with IDENTITY_INSERT
//    off; one without a column list fills every other column in order;
//  - `update t set ... from t, u where ...`: the target is dropped from the
//    FROM list (SQL Server joins the target row with u), also when it heads
//    an inner join chain; `update t set ... from u where t.c = u.c` runs as
//    SQLite's UPDATE ... FROM; qualified columns left of `=` in SET lose
//    their qualifier;
//  - `ALTER TABLE t disable|enable TRIGGER all`: checks that t exists
//    (failing like SQL Server: Cannot find the object "t" ...) and then
//    adds t to, or removes it from, the table tsql_trigger_off;
//  - functions, only those of tsqlFunctionAllowList(): isnull -> ifnull,
//    getdate() -> local time text 'YYYY-MM-DD HH:MM:SS.mmm' taken once per
//    statement, len / left / right / substring -> tsql_len / tsql_left /
//    tsql_right / tsql_substring (characters, not bytes; len ignores
//    trailing blanks; a start before 1 eats into substring's length; a
//    negative length fails as on SQL Server), convert(varchar(n), x) and
//    cast(x as varchar(n)) -> tsql_convert_text (an integer that does not
//    fit in n characters gives '*', any other number fails with SQL
//    Server's arithmetic overflow error, text is cut to n characters),
//    convert to tinyint / smallint / int / bigint / decimal(p[,s]) /
//    numeric(p[,s]) / money -> the fitting function of a column of that type
//    (tsql_fit_int, tsql_fit_decimal: SQL Server's conversion and overflow
//    errors), decimal without precision -> CAST AS NUMERIC, float / real ->
//    CAST; abs, coalesce, nullif, iif, ltrim, rtrim, upper, lower, count,
//    min and max as SQLite has them; convert / cast of a datetime to a
//    text type writes it in the style given (0 without one: 'Jan  5 2023
//    1:07PM'; 20/120, 21/121, 23, 102, 108, 111, 112), a style for a
//    conversion to datetime must name a form the reading takes anyway;
//    round(x, n[, cut]) -> tsql_round (exact, half away from zero, keeping
//    x's type: round(0.7, 0) overflows), datalength -> tsql_datalength
//    (bytes of code page 936, the fixed sizes of numbers and datetimes),
//    replace -> tsql_replace (found as the collation compares);
//  - comparisons convert as SQL Server converts: a text beside an int is
//    read as an int ('007' = 7; 'abc' = 7 fails with 245), beside a
//    decimal as a number, a text literal beside a datetime as a datetime;
//    two texts of which neither is a column compare under TSQL; LIKE
//    ignores the trailing blanks of the value it matches;
//  - texts that come from no column compare under TSQL too: min / max of
//    an expression take the collation on their argument, and in a query a
//    text literal standing as a value of its own (a select list item, an
//    item of a VALUES row, a CASE result, the left side of IN) carries
//    COLLATE TSQL, so that ORDER BY, GROUP BY, DISTINCT, UNION and min /
//    max over the column it makes follow the collation;
//  - `(VALUES ...) AS t(a, b)`: (SELECT column1 AS a, column2 AS b FROM
//    (VALUES ...)) AS t;
//  - a decimal of more than 15 significant digits (stored as a blob, see
//    Declared types) orders by its value: where an operand may hold one
//    (a declared precision above 15, a literal of more digits, arithmetic
//    of such a type), < > <= >= !< !> become tsql_compare(a, b) op 0,
//    BETWEEN tsql_between, ORDER BY sorts by tsql_decimal_key (also for
//    an item named by position or by a select list alias, and for a
//    derived table's column that passes a decimal column on), min / max
//    become tsql_min_decimal / tsql_max_decimal. Equality needs nothing
//    (such a value has a single stored form), and every other comparison
//    stays SQLite's own, so that indexes serve it;
//  - T-SQL's statement forms (db/sqlite/rewriter/forms.h): conditions where a
//    condition is expected, values in select lists, `select name = value`,
//    GROUP BY rules, aliases unknown in WHERE, subqueries used as values
//    yielding at most one row;
//  - `delete t from t join u ...` and `delete from t from t, u where ...`:
//    the rows of t that the FROM list joins, chosen by rowid;
//  - a text made by a function (isnull, left, substring, rtrim, convert to
//    a text type, ...) or by '+' carries COLLATE TSQL, so that comparing two
//    such expressions follows the default collation as columns do;
//  - the operators + - * / %: tsql_add, tsql_subtract, tsql_multiply,
//    tsql_divide, tsql_modulo, in T-SQL's precedence. '+' joins two texts
//    (NULL when either is NULL); a text beside a number is read as that
//    number or fails with SQL Server's conversion error; two values of
//    int's range give an int and fail with "Arithmetic overflow error
//    converting expression to data type int." beyond it. Every operand is
//    typed as SQL Server types it: a column by its declaration, an integer
//    literal of int's range as int (beside a decimal: numeric of its
//    digits), another number literal as numeric of exactly its digits,
//    isnull / abs / sum / cast / convert by their rules. When a decimal is
//    among the operands the call gets the operands' precisions and scales
//    (tsql_add(a, b, p1, s1, p2, s2)) and computes exactly, with SQL
//    Server's result precision and scale, the scale reduction beyond 38
//    digits, rounding half away from zero (division cuts) and the numeric
//    overflow error (db/sqlite/ext/tsql_decimal.h); a zero divisor fails
//    with "Divide by zero error encountered."; sum(x) -> tsql_sum: an int
//    sum beyond int's range fails, a decimal sum is exact;
//  - a number literal of more than 15 significant digits becomes an exact
//    decimal (a blob of its digits) instead of SQLite's nearest real;
//  - isnull(a, b) converts b to a's declared type (a varchar(2) a cuts b
//    to two characters, a decimal a rounds b to its scale);
//  - N'...' literals, [bracketed] names, comments, keywords in any case and
//    a trailing ';'.
// Refused with an error: T-SQL variables (@x), temporary tables (#t),
// several statements in one text, TOP with PERCENT / WITH TIES / UNION,
// TOP in INSERT, UPDATE or DELETE, SELECT ... INTO, transaction statements (use the session's
// commit and rollback; only SAVE TRAN[SACTION] name and ROLLBACK TRAN[SACTION] name pass, as
// SAVEPOINT name and ROLLBACK TO SAVEPOINT name, for rehearsals) and
// any statement that does not begin with SELECT, WITH, INSERT, UPDATE,
// DELETE, TRUNCATE, ALTER, CREATE or DROP, any function that is not on the
// allow-list: one of SQL Server's own (charindex, dateadd, ...) as a
// function the embedded engine does not run, any other name (ifnull,
// substr, length, instr, printf, ...) with the server's "'x' is not a
// recognized built-in function name.", min and max with two arguments
// with its "The max function requires 1 argument(s).", and SQLite's own syntax: || == << >> ->
// x'..', LIMIT, OFFSET, GLOB, REGEXP, MATCH, ISNULL and NOTNULL as operators, COLLATE, INDEXED BY,
// INSERT OR ..., ON CONFLICT, RETURNING, NULLS FIRST / LAST, `backquoted` names. A double-quoted
// text is a name (the connection turns off SQLite's reading of it as a string), so "abc" fails as
// an unknown column. CREATE, DROP and ALTER texts are table definitions for SQLite and pass
// unchecked.
//
// What a SQLite database declares to behave like SQL Server:
//  - every text column declares `COLLATE TSQL`, the server's default
//    Chinese collation (db/sqlite/collation.h): case- and width-insensitive,
//    accent-sensitive, trailing blanks ignored, Chinese by pinyin,
//    punctuation before digits before letters, in =, <>, <, IN, MAX,
//    GROUP BY and keys (the session registers the collation, the functions
//    and the loadable extension libtsqlext registers the same); literals
//    and expressions get it from the rewriter (above); a column declared
//    without it compares as SQLite's binary one. The order comes
//    from ICU's Chinese tailoring, which still differs from the server's
//    in places: '-' and the apostrophe count as punctuation (the server
//    nearly ignores them), an accented Latin letter sorts before its plain
//    letter, and rare Han characters may fall elsewhere than in the
//    server's older pinyin table;
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
//    a DECIMAL(16,4) column gives '12.5', where SQL Server writes '12.5000'
//    (the value is exact, its trailing zeros are not kept).
//  - Declared types: a column declared with a SQL Server type gets SQL
//    Server's outcome on INSERT and UPDATE. The session reads every table's
//    declared types at connect (PRAGMA table_xinfo; again after a CREATE,
//    DROP or ALTER it runs) and the rewriter passes each value stored into
//    such a column through a fitting function (tsql_fit_text, _decimal,
//    _int, _datetime), in VALUES rows, in the select list of INSERT ...
//    SELECT and in SET:
//      varchar(n), char(n)    n bytes of code page 936 (a character outside
//                             ASCII takes two); nvarchar(n), nchar(n): n
//                             UTF-16 units. Longer fails with "String or
//                             binary data would be truncated." (blanks beyond
//                             n are dropped); char(n) and nchar(n) are
//                             filled with blanks to n.
//      decimal(p,s), numeric(p,s), money (19,4), smallmoney (10,4)
//                             rounded half away from zero to s places on its
//                             decimal digits; an integer part longer than
//                             p - s digits fails with "Arithmetic overflow
//                             error converting numeric to data type numeric."
//                             (money: "... data type money."); a text that is
//                             no number fails with SQL Server's conversion
//                             error. Stored exactly: an integer when whole,
//                             a real when it has at most 15 significant
//                             digits (it reads back as those digits), else a
//                             blob of its decimal text, which the column's
//                             affinity leaves alone and reads give as text;
//                             the rewriter orders such values by value.
//      tinyint, smallint, int, bigint
//                             a number loses its fraction, a text must be an
//                             integer ('' is 0), out of range fails with the
//                             arithmetic overflow error of the type.
//      datetime               a text must be a date SQL Server reads under
//                             us_english (yyyy-mm-dd, yyyymmdd, ISO 8601 with
//                             T, mm/dd/yy[yy], month names, a time with
//                             AM/PM, a time alone; '' is 1900-01-01), else
//                             error 241; a day that does not exist or a year
//                             outside 1753-9999 is error 242; a number counts
//                             days from 1900-01-01. The time is rounded to
//                             1/300 second and the instant stored as
//                             'yyyy-mm-dd hh:mi:ss.mmm' ('yyyy-mm-dd' alone at
//                             midnight), so that keys, DISTINCT and ORDER BY
//                             see instants; cast/convert to datetime does the
//                             same, and so does a text literal compared with
//                             a datetime.
//    A value that cannot break the column is stored without a call: a
//    literal that fits, and in INSERT ... SELECT a column whose own declared
//    type fits within the target's (varchar(10) into varchar(20),
//    decimal(16,4) into decimal(16,4)); a value in such a source column
//    that breaks its own type (written by SQLite directly) is not caught.
//    SQLite's own type names (INTEGER, TEXT, REAL, NUMERIC, bare DECIMAL)
//    keep SQLite's behaviour, so a table without SQL Server types behaves
//    as before. Statements inside triggers are SQLite's and are not fitted.
//  - The connection turns off SQLite's Bloom filters: they hash a join
//    key's bytes, so keys the TSQL collation holds equal ('S1 ' and 'S1')
//    would never meet and an UPDATE ... FROM would silently miss rows. The
//    automatic index compares with the collation and stays on (the session
//    and libtsqlext both do this when they register the functions).

#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <optional>
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

// How one statement with placeholders runs for many rows at once: a single
// SQLite statement, made of `head`, the `row` tuple once for each row
// (joined by commas) and `tail`, whose placeholders take the rows' values
// one row after the other. It does what running the statement once per row
// does, in order, provided that it changes exactly one row per row: an
// INSERT ... VALUES of one row, or an UPDATE of one table whose WHERE is
// its whole primary key = ?, with no trigger on update and no query in the
// values. Whoever runs it checks that count and otherwise undoes it and
// runs the rows one at a time.
struct BatchForm {
  std::string head;
  std::string row;
  std::string tail;
  int rowParameters = 0;  // placeholders of one row
  // An UPDATE whose only calls fit the rows' own values to text columns
  // also has a head without those calls (empty otherwise), for rows whose
  // values the caller has found to fit as they are: SQLite
  // keeps a statement journal for a statement that calls any function
  // while it changes many rows, and a plain one needs none. A value fits as
  // it is when its length in the column's units is at most `length`
  // (exactly `length` for a padded column), or when it is null.
  struct TextFit {
    int length = 0;  // as tsql_fit_text's arguments
    bool utf16 = false;
    bool pad = false;
  };
  std::string plainHead;
  std::vector<std::optional<TextFit>> plainFits;  // by row parameter

  bool usable() const { return rowParameters > 0; }
  // The statement text for `rows` rows; `plain` takes plainHead.
  std::string text(std::size_t rows, bool plain = false) const;
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
  // Set when the single statement can run many rows at once.
  BatchForm batch;

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
