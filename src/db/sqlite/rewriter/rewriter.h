#pragma once

// The rewriter's passes. What the translation as a whole covers is told at
// the top of db/sqlite/tsql_rewriter.h; this is how it is done. One
// Rewriter holds a statement's tokens while they go through the passes, in
// the order of run() (rewriter.cpp):
//
//   names.cpp             the text's own checks (one statement, no SQLite
//                         syntax), database and schema names, table hints
//   functions.cpp         every call on the allow-list (checkFunctions)
//   forms.h               T-SQL's statement forms; typed sums
//   functions.cpp         calls given SQL Server's meaning (rewriteFunctions)
//   operators.cpp         comparisons typed
//   exact_order.cpp       long decimals ordered by value, texts collated
//   operators.cpp         + - * / % as calls
//   statements.cpp        TOP as LIMIT
//   operators.cpp         exact number literals
//   forms.h               text literals in comparisons
//   statements.cpp        the statement's own form (dispatch), which calls on
//   fitting.cpp           values fitted to the columns' declared types and
//   batch_form.cpp        the form that runs many rows at once.
//
// expression_types.cpp types operands as SQL Server types them, for the
// functions, the operators and the fitting. Each file says at its top what
// its passes take and what they leave for the next. A pass returns false
// with error_ set (fail, unsupported) when the statement cannot be run.

#include <cstddef>
#include <deque>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/sqlite/declared_types.h"
#include "db/sqlite/ext/tsql_decimal_type.h"
#include "db/sqlite/rewriter/forms.h"
#include "db/sqlite/tsql_rewriter.h"
#include "db/sqlite/tsql_syntax.h"

namespace cvt::rewrite {

using namespace tsql;  // NOLINT(google-build-using-namespace): the rewriter's own vocabulary

class Rewriter {
 public:
  Rewriter(std::string_view sql, const RewriteContext& ctx) : sql_(sql), ctx_(ctx) {}

  RewriteResult run();

 private:
  // The SQL Server type of an expression, as far as the declarations and
  // the literals tell: what decides int or decimal arithmetic and the
  // decimal's precision and scale (tsql_decimal_type.h).
  struct ExprType {
    enum class Kind { Unknown, Int, Decimal, Text, Datetime };
    Kind kind = Kind::Unknown;
    // Int: the digits of its type (10 int, 19 bigint) or of an integer
    // literal, which SQL Server widens to exactly that beside a decimal;
    // Decimal: 0 when only the values will tell.
    int precision = 0;
    int scale = 0;
    const ColumnRule* rule = nullptr;  // a bare column's declaration

    bool isDecimal() const { return kind == Kind::Decimal; }
    // As an operand of a decimal operation.
    tsql_impl::DecType asDecimal() const {
      if (kind == Kind::Int || kind == Kind::Decimal) {
        return {precision, kind == Kind::Int ? 0 : scale};
      }
      return {};
    }
  };

  // A table of a select's FROM clause, under the name the select uses.
  struct SourceTable {
    std::string name;  // its alias, else its name
    const TableColumns* columns = nullptr;
  };

  // A table name at `at`: name or schema.name. Sets `end` past it.
  struct NameRef {
    std::string schema;
    std::string name;
    std::size_t end = kNone;
  };

  // --- shared by every pass (rewriter.cpp)
  bool typedSumsPass();
  bool compareLiteralsPass();
  bool fail(std::string message);
  bool unsupported(const std::string& what);
  std::size_t matchParen(std::size_t open) const { return tsql::matchParen(t_, open); }
  std::size_t findTop(std::string_view kw, std::size_t from, std::size_t to) const;
  std::vector<std::pair<std::size_t, std::size_t>> splitTop(std::size_t from, std::size_t to) const;
  Tokens slice(std::size_t from, std::size_t to) const;
  void replace(std::size_t from, std::size_t to, Tokens with);
  std::optional<NameRef> tableName(std::size_t at) const;
  std::vector<SourceTable> statementTables() const;
  void derivedTables(std::vector<SourceTable>& tables) const;

  // --- names and the text's own checks (names.cpp)
  bool checkTokens();
  bool checkDialect(std::size_t i);
  bool resolveNames();
  bool dropTableHints();
  bool valuesTables();

  // --- functions and the allow-list (functions.cpp)
  bool checkFunctions();
  bool rewriteFunctions();
  void rewriteSum(std::size_t at);
  bool isnullTakesFirstType(std::size_t at);
  bool datetimeAsText(std::size_t typeAt, std::pair<std::size_t, std::size_t> valueRange,
                      std::pair<std::size_t, std::size_t> style, Tokens& value);
  bool convertTo(const Tokens& type, Tokens expr, Tokens& out);

  // --- operands and their types (expression_types.cpp)
  static bool isStopWord(const Token& t);
  static bool isArithmetic(const Token& t);
  std::size_t matchCase(std::size_t at, std::size_t e) const;
  std::size_t operandEnd(std::size_t i, std::size_t e) const;
  std::size_t expressionStart(std::size_t at) const;
  static int intDigits(int bytes) { return bytes == 1 ? 3 : bytes == 2 ? 5 : bytes == 8 ? 19 : 10; }
  static ExprType typeOfRule(const ColumnRule* rule);
  static ExprType typeOfNumber(const std::string& text);
  const ColumnRule* columnAt(std::size_t b, std::size_t e,
                             const std::vector<SourceTable>& tables) const;
  static int numberArg(const Token& t);
  ExprType operandType(std::size_t b, std::size_t e) const;
  static ExprType combine(const std::string& op, const ExprType& a, const ExprType& b);
  ExprType exprType(std::size_t b, std::size_t e) const;

  // --- comparisons, operators and number literals (operators.cpp)
  bool typeComparisons();
  static bool isComparisonOp(const Token& t);
  static Tokens wrapIn(std::string_view function, Tokens value, const std::string& extra = "");
  bool rewriteOperators();
  Tokens operatorsIn(std::size_t b, std::size_t e) const;
  Tokens operandTokens(std::size_t b, std::size_t e) const;
  static Tokens call(std::string_view function, Tokens a, Tokens b, const ExprType& ta,
                     const ExprType& tb);
  bool exactLiterals();

  // --- orders SQLite would get wrong: long decimals, texts without a
  // column's collation (exact_order.cpp)
  static bool mayHoldLongDecimal(const ExprType& t);
  std::size_t chainEnd(std::size_t i, std::size_t e) const;
  bool exactDecimalOrder();
  void orderByValue(std::size_t at);
  Tokens callOf(std::string_view function,
                std::initializer_list<std::pair<std::size_t, std::size_t>> args) const;
  bool collatedTexts();
  bool standsAlone(std::size_t i) const;
  std::size_t openingOf(std::size_t close) const;

  // --- statement forms (statements.cpp)
  bool rewriteTop();
  bool dispatch(RewriteResult& result);
  bool deleteFromJoin(std::size_t from);
  bool triggerSwitch(const NameRef& name, bool disable, RewriteResult& result);
  bool rewriteUpdate();

  // --- declared types: fitting values to columns (fitting.cpp)
  bool identityInsert();
  bool fitInsert();
  const TableColumns* declaredColumns(const NameRef& table) const;
  static Tokens fitted(const ColumnRule* rule, Tokens value);
  std::vector<SourceTable> sourceTables(std::size_t from) const;
  bool fitsAlready(const ColumnRule* rule, std::size_t b, std::size_t e,
                   const std::vector<SourceTable>& sources) const;
  static bool ruleWithin(const ColumnRule& from, const ColumnRule& to);
  bool fitSelectList(std::size_t at, const std::vector<const ColumnRule*>& rules);

  // --- many rows at once (batch_form.cpp)
  BatchForm batchForm() const;
  static Tokens withoutTextFits(const Tokens& head,
                                std::vector<std::optional<BatchForm::TextFit>>& fits);
  // The rows of a batch come as a VALUES table of this name, whose columns
  // column1, column2, ... stand where the placeholders stood.
  static constexpr const char* kBatchRows = "tsql_batch_rows";
  static Tokens placeholdersAsColumns(const Tokens& tokens, int& n);
  static BatchForm fromRows(Tokens head, int rowParameters, const std::string& condition);

  const Tokens collateTsql = {word("COLLATE"), word("TSQL")};
  std::string_view sql_;
  const RewriteContext& ctx_;
  Tokens t_;
  // The statement's tables, for the types of the columns its operands name.
  std::vector<SourceTable> operandTables_;
  // The columns of derived tables that operandTables_ point to.
  mutable std::deque<TableColumns> derived_;
  std::string error_;
};

}  // namespace cvt::rewrite
