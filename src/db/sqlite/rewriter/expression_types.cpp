// Operands and their SQL Server types, for the passes that type what they
// rewrite (functions, comparisons, operators, fitting). Nothing here
// changes the tokens.
//  - operandEnd and expressionStart find one operand, or the expression
//    before a comparison;
//  - operandType and exprType give an expression's type from the declared
//    columns of operandTables_ (set by the pass that asks), its literals and
//    the calls already rewritten (tsql_fit_*, tsql_sum, ...); combine gives
//    the type of `a op b` (db/sqlite/ext/tsql_decimal_type.h).

#include <algorithm>
#include <array>
#include <cstdlib>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

// Words that never stand for a value: a chain of operands stops there
// (and a sign after them is unary).
bool Rewriter::isStopWord(const Token& t) {
  static constexpr std::array<std::string_view, 36> kWords = {
      "select",    "from",     "where", "and",  "or",     "not",     "when",   "then",  "else",
      "end",       "as",       "is",    "in",   "like",   "between", "on",     "join",  "by",
      "having",    "distinct", "all",   "top",  "return", "escape",  "exists", "union", "except",
      "intersect", "values",   "set",   "into", "group",  "order",   "asc",    "desc",  "with"};
  return t.type == Tok::Word && std::any_of(kWords.begin(), kWords.end(), [&](std::string_view w) {
           return equalsNoCase(t.text, w);
         });
}

bool Rewriter::isArithmetic(const Token& t) {
  return t.type == Tok::Punct && t.text.size() == 1 &&
         std::string_view("+-*/%&|^").find(t.text[0]) != std::string_view::npos;
}

// The END that closes the CASE at `at`, or kNone.
std::size_t Rewriter::matchCase(std::size_t at, std::size_t e) const {
  int depth = 0;
  for (std::size_t i = at; i < e; ++i) {
    if (isPunct(t_[i], "(")) {
      i = matchParen(i);
    } else if (isKw(t_[i], "case")) {
      ++depth;
    } else if (isKw(t_[i], "end") && --depth == 0) {
      return i;
    }
  }
  return kNone;
}

// One operand starting at `i` (signs, then a literal, a placeholder, a
// name, a call, a parenthesis or a CASE, then an optional COLLATE):
// the index past it, or kNone when no operand starts there.
std::size_t Rewriter::operandEnd(std::size_t i, std::size_t e) const {
  while (i < e && (isPunct(t_[i], "-") || isPunct(t_[i], "+") || isPunct(t_[i], "~"))) {
    ++i;
  }
  if (i >= e) {
    return kNone;
  }
  const Token& t = t_[i];
  std::size_t end = kNone;
  if (t.type == Tok::Number || t.type == Tok::String || t.type == Tok::Param) {
    end = i + 1;
  } else if (isPunct(t, "(")) {
    end = matchParen(i) + 1;
  } else if (isKw(t, "case")) {
    const std::size_t close = matchCase(i, e);
    end = close == kNone ? kNone : close + 1;
  } else if (isName(t) && !isStopWord(t)) {
    if (t.type == Tok::Word && i + 1 < e && isPunct(t_[i + 1], "(")) {
      end = matchParen(i + 1) + 1;
    } else {
      end = i + 1;
      while (end + 1 < e && isPunct(t_[end], ".") && isName(t_[end + 1])) {
        end += 2;
      }
    }
  }
  if (end != kNone && end + 1 < e && isKw(t_[end], "collate")) {
    end += 2;
  }
  return end;
}

// The start of the expression that ends just before `at`: back over
// operands and arithmetic to the word, comma or parenthesis before it.
std::size_t Rewriter::expressionStart(std::size_t at) const {
  std::size_t i = at;
  while (i > 0) {
    const Token& t = t_[i - 1];
    if (isPunct(t, ")")) {
      int depth = 0;
      std::size_t k = i - 1;
      for (;; --k) {
        if (isPunct(t_[k], ")")) {
          ++depth;
        } else if (isPunct(t_[k], "(") && --depth == 0) {
          break;
        }
        if (k == 0) {
          return at;
        }
      }
      i = k;
      if (i > 0 && t_[i - 1].type == Tok::Word && !isStopWord(t_[i - 1])) {
        --i;  // a function's name
      }
      continue;
    }
    if (isKw(t, "end")) {
      return at;  // a CASE: left alone
    }
    if (t.type == Tok::Number || t.type == Tok::String || t.type == Tok::Param || isArithmetic(t) ||
        isPunct(t, ".") || (isName(t) && !isStopWord(t))) {
      --i;
      continue;
    }
    break;
  }
  return i;
}

Rewriter::ExprType Rewriter::typeOfRule(const ColumnRule* rule) {
  ExprType t;
  if (rule == nullptr) {
    return t;
  }
  t.rule = rule;
  switch (rule->kind) {
    case ColumnRule::Kind::Decimal:
      t.kind = ExprType::Kind::Decimal;
      t.precision = rule->precision;
      t.scale = rule->scale;
      break;
    case ColumnRule::Kind::Integer:
      t.kind = ExprType::Kind::Int;
      t.precision = intDigits(rule->bytes);
      break;
    case ColumnRule::Kind::Text:
      t.kind = ExprType::Kind::Text;
      break;
    case ColumnRule::Kind::Datetime:
      t.kind = ExprType::Kind::Datetime;
      break;
    default:
      break;
  }
  return t;
}

// A number literal: an integer of int's range is an int, a longer one or
// one with a point is numeric of exactly its digits; with an exponent it
// is a float (unknown here).
Rewriter::ExprType Rewriter::typeOfNumber(const std::string& text) {
  ExprType t;
  if (text.find_first_of("eE") != std::string::npos) {
    return t;
  }
  const std::size_t point = text.find('.');
  std::string whole = text.substr(0, point);
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  const int scale = point == std::string::npos ? 0 : static_cast<int>(text.size() - point - 1);
  const int digits = static_cast<int>(whole.size()) + scale;
  if (point == std::string::npos &&
      (whole.size() < 10 || (whole.size() == 10 && whole <= "2147483647"))) {
    t.kind = ExprType::Kind::Int;
    t.precision = std::max(1, digits);
    return t;
  }
  t.kind = ExprType::Kind::Decimal;
  t.precision = std::min(tsql_impl::kMaxPrecision, std::max({1, digits, scale}));
  t.scale = std::min(scale, t.precision);
  return t;
}

namespace {

bool sameRule(const ColumnRule& a, const ColumnRule& b) {
  return a.kind == b.kind && a.length == b.length && a.utf16 == b.utf16 && a.pad == b.pad &&
         a.precision == b.precision && a.scale == b.scale && a.money == b.money &&
         a.bytes == b.bytes;
}

}  // namespace

// The column a name or qualified name [b, e) stands for in the
// statement's tables; nullptr when unknown or ambiguous.
const ColumnRule* Rewriter::columnAt(std::size_t b, std::size_t e,
                                     const std::vector<SourceTable>& tables) const {
  std::string qualifier;
  std::string column;
  if (e == b + 1 && isName(t_[b])) {
    column = nameOf(t_[b]);
  } else if (e == b + 3 && isName(t_[b]) && isPunct(t_[b + 1], ".") && isName(t_[b + 2])) {
    qualifier = nameOf(t_[b]);
    column = nameOf(t_[b + 2]);
  } else {
    return nullptr;
  }
  const ColumnRule* found = nullptr;
  for (const SourceTable& table : tables) {
    if (table.columns == nullptr || (!qualifier.empty() && !equalsNoCase(table.name, qualifier))) {
      continue;
    }
    if (const ColumnRule* rule = table.columns->find(column)) {
      // The same name in two tables (or twice the same table, in a
      // subquery) is one type when both declare the same.
      if (found != nullptr && !sameRule(*found, *rule)) {
        return nullptr;
      }
      found = rule;
    }
  }
  return found;
}

int Rewriter::numberArg(const Token& t) {
  return t.type == Tok::Number ? std::atoi(t.text.c_str()) : 0;
}

// The type of one operand [b, e) (see operandEnd), after the functions
// have been rewritten.
Rewriter::ExprType Rewriter::operandType(std::size_t b, std::size_t e) const {
  while (b < e && (isPunct(t_[b], "-") || isPunct(t_[b], "+"))) {
    ++b;
  }
  if (e >= b + 3 && isKw(t_[e - 2], "collate")) {
    e -= 2;
  }
  if (b >= e) {
    return {};
  }
  const Token& t = t_[b];
  if (e == b + 1) {
    if (t.type == Tok::Number) {
      return typeOfNumber(t.text);
    }
    if (t.type == Tok::String) {
      ExprType text;
      text.kind = ExprType::Kind::Text;
      return text;
    }
  }
  if (isPunct(t, "(") && matchParen(b) + 1 == e) {
    return exprType(b + 1, e - 1);
  }
  if (t.type == Tok::Word && b + 1 < e && isPunct(t_[b + 1], "(") && matchParen(b + 1) + 1 == e) {
    const std::string name = lowered(t.text);
    const auto args = splitTop(b + 2, e - 1);
    ExprType out;
    if (name == "tsql_fit_decimal" && args.size() == 4) {
      out.kind = ExprType::Kind::Decimal;
      out.precision = numberArg(t_[args[1].first]);
      out.scale = numberArg(t_[args[2].first]);
    } else if (name == "tsql_fit_int" && args.size() == 2) {
      out.kind = ExprType::Kind::Int;
      out.precision = intDigits(numberArg(t_[args[1].first]));
    } else if (name == "tsql_sum" && args.size() == 3) {
      const int kind = numberArg(t_[args[1].first]);
      if (kind == 4 || kind == 8) {
        out.kind = ExprType::Kind::Int;
        out.precision = intDigits(kind);
      } else if (kind == 0) {
        out.kind = ExprType::Kind::Decimal;
        out.precision = tsql_impl::kMaxPrecision;
        out.scale = numberArg(t_[args[2].first]);
      }
    } else if ((name == "ifnull" || name == "abs" || name == "tsql_round" || name == "coalesce") &&
               !args.empty()) {
      out = exprType(args[0].first, args[0].second);
      out.rule = name == "ifnull" ? out.rule : nullptr;
    } else if (name == "count" || name == "tsql_len" || name == "tsql_datalength") {
      out.kind = ExprType::Kind::Int;
      out.precision = 10;
    } else if (name == "tsql_convert_text" || name == "tsql_left" || name == "tsql_right" ||
               name == "tsql_substring" || name == "ltrim" || name == "rtrim" || name == "upper" ||
               name == "lower" || name == "tsql_replace") {
      out.kind = ExprType::Kind::Text;
    } else if (name == "min" || name == "max") {
      out = exprType(b + 2, e - 1);
      out.rule = nullptr;
    } else if (name == "tsql_fit_datetime" || name == "strftime") {
      out.kind = ExprType::Kind::Datetime;
    }
    return out;
  }
  return typeOfRule(columnAt(b, e, operandTables_));
}

// The type of `a op b`.
Rewriter::ExprType Rewriter::combine(const std::string& op, const ExprType& a, const ExprType& b) {
  ExprType out;
  if (a.isDecimal() || b.isDecimal()) {
    out.kind = ExprType::Kind::Decimal;
    const tsql_impl::DecType x = a.asDecimal();
    const tsql_impl::DecType y = b.asDecimal();
    if (x.precision > 0 && y.precision > 0 && op.size() == 1) {
      const tsql_impl::DecOp dop = op == "+"   ? tsql_impl::DecOp::Add
                                   : op == "-" ? tsql_impl::DecOp::Subtract
                                   : op == "*" ? tsql_impl::DecOp::Multiply
                                   : op == "/" ? tsql_impl::DecOp::Divide
                                               : tsql_impl::DecOp::Modulo;
      const tsql_impl::DecType r = tsql_impl::decResultType(dop, x, y);
      out.precision = r.precision;
      out.scale = r.scale;
    }
    return out;
  }
  if (a.kind == ExprType::Kind::Int && b.kind == ExprType::Kind::Int) {
    out.kind = ExprType::Kind::Int;
    out.precision = a.precision > 10 || b.precision > 10 ? 19 : 10;
  }
  return out;
}

// The type of the expression [b, e): operands joined by + - * / %.
Rewriter::ExprType Rewriter::exprType(std::size_t b, std::size_t e) const {
  std::size_t end = operandEnd(b, e);
  if (end == kNone) {
    return {};
  }
  ExprType term = operandType(b, end);
  ExprType sum;
  std::string sumOp;
  while (end < e && isArithmetic(t_[end])) {
    const std::string op = t_[end].text;
    const std::size_t next = operandEnd(end + 1, e);
    if (next == kNone) {
      return {};
    }
    const ExprType operand = operandType(end + 1, next);
    if (op == "*" || op == "/" || op == "%") {
      term = combine(op, term, operand);
    } else {
      sum = sumOp.empty() ? term : combine(sumOp, sum, term);
      sumOp = op;
      term = operand;
    }
    end = next;
  }
  if (end != e) {
    return {};
  }
  return sumOp.empty() ? term : combine(sumOp, sum, term);
}

}  // namespace cvt::rewrite
