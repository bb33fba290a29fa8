#pragma once

// Reading the conversion's own statement texts for the pre-flight check:
// an insert ... select taken apart, the tables of a from clause, the
// columns an expression reads. Only the shapes those texts have are read;
// the texts are split into tokens by the T-SQL syntax module the rewriter
// uses (db/sqlite/tsql_syntax.h), and the parts handed back are quoted as
// written.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cvt::preflight {

std::string trimmed(std::string_view text);

// The first whole word `word` (any case) outside quotes and parentheses
// from `from`, or npos.
std::size_t findWord(std::string_view sql, std::string_view word, std::size_t from);

// `text` split at the commas outside quotes and parentheses, each trimmed.
std::vector<std::string> splitTop(std::string_view text);

// An insert ... select statement taken apart.
struct RefillShape {
  std::string target;
  std::vector<std::string> columns;
  std::vector<std::string> exprs;
  std::string from;   // the from clause as written (tables and aliases)
  std::string where;  // empty when there is none
};

std::optional<RefillShape> parseRefill(std::string_view sql);

// A table of a from clause: `db..table alias` or `table`.
struct SourceTable {
  std::string database;  // empty: the target
  std::string table;
  std::string alias;
};

std::vector<SourceTable> fromTables(const std::string& from);

// A column name an expression reads, with its qualifier when it has one.
struct ColumnRef {
  std::string qualifier;
  std::string name;
};

// The identifiers of `expr` that are neither keywords nor function names.
std::vector<ColumnRef> columnsOf(std::string_view expr);

}  // namespace cvt::preflight
