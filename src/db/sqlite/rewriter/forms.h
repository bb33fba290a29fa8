#pragma once

// T-SQL's own statement forms, checked before a statement is translated.
// SQLite reads a good deal that SQL Server refuses; a statement that SQL
// Server would refuse must fail here too, with SQL Server's message, and
// one whose meaning differs must be given SQL Server's meaning:
//  - a WHERE, HAVING, ON, searched WHEN or IIF condition must be a
//    condition (a comparison, IS, LIKE, IN, BETWEEN, EXISTS, joined by AND,
//    OR, NOT): `where 1` fails (Msg 4145);
//  - a select list holds values, not conditions (`select 1 = 1`,
//    `select 'a' like 'a%'` fail), and `select name = value` names the
//    column `name`;
//  - rowid, oid, true and false are no columns (Msg 207) unless a table of
//    the statement declares one;
//  - GROUP BY takes no constant (Msg 164); in a grouped select (GROUP BY
//    or an aggregate in the list) every column of the list is grouped or
//    inside an aggregate (Msg 8120);
//  - a select list's aliases are unknown in its WHERE and GROUP BY
//    (Msg 207) where no table of the select has a column of that name;
//  - a subquery used as a value yields at most one row (Msg 512) and one
//    column (Msg 116): it is wrapped so that a second row fails at run time.
// Input: the tokens after names are resolved and table hints dropped,
// before functions and operators are rewritten. Table definitions
// (CREATE, DROP, ALTER) are not looked at.

#include <string>

#include "db/sqlite/declared_types.h"
#include "db/sqlite/tsql_syntax.h"

namespace cvt::tsql {

// Checks `t` and rewrites the forms whose meaning differs. False with
// `error` set (SQL Server's message) when SQL Server would refuse it.
// `types` may be null: then only the checks that need no columns run.
bool checkForms(Tokens& t, const DeclaredTypes* types, std::string& error);

// sum over a column declared tinyint, smallint or int gives an int, which
// overflows past 2^31 - 1 with SQL Server's error; over bigint, a bigint.
// Rewrites such calls to tsql_sum_int(column, bytes of the result).
void typedSums(Tokens& t, const DeclaredTypes* types);

// A text literal compared with =, <>, <, >, <= or >=, after functions and
// operators are rewritten: beside a column declared datetime it is read as
// a datetime (so '20230115' equals the instant stored as 2023-01-15), else
// it compares under the TSQL collation, as every text on the server does
// (so 'abc' = 'ABC  ' holds between two literals too). Assignments in SET
// are left alone.
void compareLiterals(Tokens& t, const DeclaredTypes* types);

}  // namespace cvt::tsql
