#pragma once

// Statement forms that T-SQL and SQLite read differently, on the tokens of
// one statement before it is translated:
//  - refuseSqliteOnlyForms: what SQLite accepts and SQL Server refuses
//    fails here with SQL Server's message: a condition that is a bare
//    value (`where 1`), TRUE and FALSE, rowid, GROUP BY a position, a
//    comparison or LIKE as a select-list value, backticks, NULLS FIRST /
//    LAST, a select-list alias used in WHERE, and a column in the select
//    list of a grouped (or aggregating) select that is neither grouped nor
//    inside an aggregate;
//  - selectAssignments: T-SQL's `select name = expression` names a result
//    column; it becomes `expression AS name`.
//  - singleRowSubqueries: a subquery used as a value passes its one column
//    through tsql_single, so that a second row fails as on SQL Server (512)
//    instead of SQLite taking the first;
//  - deleteWithJoin: T-SQL's `delete t from t join u on ... where ...`
//    (t a table or an alias of the FROM list) becomes a DELETE of the rows
//    whose rowid the join selects.
// They leave table definitions (CREATE, DROP, ALTER) alone.

#include <functional>
#include <string>
#include <string_view>

#include "db/sqlite/tsql_tokens.h"

namespace cvt::sqltok {

// True when some table of the statement has a column of that name (any
// case). Without declared types it answers true, so that nothing is refused
// for want of knowledge.
using ColumnKnown = std::function<bool(std::string_view name)>;

// The error text for the first SQLite-only form of `t`, or "" when none.
std::string refuseSqliteOnlyForms(const Tokens& t, const ColumnKnown& isColumn);

// Rewrites `select name = expression` items of every select list in place.
void selectAssignments(Tokens& t);

// Wraps the value of every single-column subquery used as a value.
void singleRowSubqueries(Tokens& t);

// `delete [from] x from ...` rewritten; false with `error` set when the
// form is not one it can take. `t` must begin with DELETE FROM.
bool deleteWithJoin(Tokens& t, std::string& error);

// The index of the ')' matching the '(' at `open`, or kNone.
std::size_t matchParen(const Tokens& t, std::size_t open);

}  // namespace cvt::sqltok
