#pragma once

// What the forms check's files share: keyword tests over tokens and the
// clauses of one SELECT (forms.cpp, forms_select.cpp).

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "db/sqlite/declared_types.h"
#include "db/sqlite/tsql_syntax.h"

namespace cvt::tsql::forms {

bool isAnyKw(const Token& t, std::initializer_list<std::string_view> words);
bool isAggregate(const Token& t);
// Words that are never a column of their own.
bool isKeyword(const Token& t);
bool isComparison(const Token& t);
// The END of the CASE at `at`, or kNone.
std::size_t caseEnd(const Tokens& t, std::size_t at);
// Past the parenthesis or CASE at `i` when one starts there, else i + 1.
std::size_t skipGroup(const Tokens& t, std::size_t i);
bool startsSubquery(const Tokens& t, std::size_t open);
// The end of the range that starts at `from`: the first of `stops` at
// depth 0 (parentheses and CASE skipped), a ')' that closes an enclosing
// parenthesis, or `to`.
std::size_t rangeEnd(const Tokens& t, std::size_t from, std::size_t to,
                     std::initializer_list<std::string_view> stops);

// One SELECT's clauses as token ranges; kNone where a clause is absent.
struct SelectParts {
  std::size_t select = kNone;
  std::size_t listBegin = kNone, listEnd = kNone;
  std::size_t fromBegin = kNone, fromEnd = kNone;
  std::size_t whereBegin = kNone, whereEnd = kNone;
  std::size_t groupBegin = kNone, groupEnd = kNone;
};
SelectParts parseSelect(const Tokens& t, std::size_t at);

// The expression of a select list item without its alias, and the alias.
struct Item {
  std::size_t begin, end;  // the expression
  std::string alias;       // empty when none
};
Item splitAlias(const Tokens& t, std::size_t b, std::size_t e);

// The select lists, GROUP BY and WHERE of every SELECT in `t` (see
// forms.h); false with `error` set when SQL Server would refuse one.
bool checkSelects(Tokens& t, const DeclaredTypes* types, std::string& error);

}  // namespace cvt::tsql::forms
