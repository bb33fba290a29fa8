// Comparisons, arithmetic operators and number literals.
//  - typeComparisons (after the functions): a comparison converts as SQL
//    Server converts: a text beside an int through tsql_fit_int, beside a
//    decimal through tsql_number, a text literal beside a datetime through
//    tsql_fit_datetime; two texts of which neither is a column compare
//    under COLLATE TSQL; LIKE's value loses its trailing blanks. UPDATE's
//    assignments in SET are left alone.
//  - rewriteOperators: every chain of + - * / % becomes calls of tsql_add
//    ... tsql_modulo in T-SQL's precedence, typed by its operands (with
//    both precisions and scales when a decimal is among them); a '+'
//    carries COLLATE TSQL.
//  - exactLiterals (after TOP): a number literal of more than 15
//    significant digits becomes CAST('digits' AS BLOB), an exact decimal.
// Leaves no + - * / % between operands and no implicit conversion in a
// comparison.

#include <algorithm>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

// A comparison converts as SQL Server converts: a text beside an int is
// read as an int (failing like it: 'abc' = 7), beside a decimal as a
// number; a text literal beside a datetime as a datetime; two texts of
// which neither is a column compare under the default collation.
bool Rewriter::typeComparisons() {
  if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
    return true;
  }
  // UPDATE's SET assigns with '=' at its own level.
  std::size_t setBegin = kNone;
  std::size_t setEnd = kNone;
  if (isKw(t_[0], "update")) {
    setBegin = findTop("set", 1, t_.size());
    if (setBegin != kNone) {
      setEnd =
          std::min(findTop("where", setBegin, t_.size()), findTop("from", setBegin, t_.size()));
      setEnd = setEnd == kNone ? t_.size() : setEnd;
    }
  }
  int depth = 0;
  std::vector<std::size_t> operators;
  for (std::size_t k = 0; k < t_.size(); ++k) {
    if (isPunct(t_[k], "(")) {
      ++depth;
    } else if (isPunct(t_[k], ")")) {
      --depth;
    } else if (isComparisonOp(t_[k]) &&
               !(depth == 0 && setBegin != kNone && k > setBegin && k < setEnd)) {
      operators.push_back(k);
    }
  }
  for (auto it = operators.rbegin(); it != operators.rend(); ++it) {
    const std::size_t k = *it;
    const std::size_t b = expressionStart(k);
    std::size_t e = operandEnd(k + 1, t_.size());
    while (e != kNone && e < t_.size() && isArithmetic(t_[e])) {
      e = operandEnd(e + 1, t_.size());
    }
    if (b == k || e == kNone) {
      continue;
    }
    const ExprType left = exprType(b, k);
    const ExprType right = exprType(k + 1, e);
    using Kind = ExprType::Kind;
    const auto number = [](const ExprType& x) {
      return x.kind == Kind::Int || x.kind == Kind::Decimal;
    };
    // Right side first, so that the left's indices hold.
    const auto convert = [&](std::size_t from, std::size_t to, const ExprType& other) {
      Tokens value = slice(from, to);
      replace(from, to,
              other.kind == Kind::Int ? wrapIn("tsql_fit_int", std::move(value), "4")
                                      : wrapIn("tsql_number", std::move(value)));
    };
    const bool literalRight = e == k + 2 && t_[k + 1].type == Tok::String;
    const bool literalLeft = k == b + 1 && t_[b].type == Tok::String;
    if (right.kind == Kind::Text && number(left)) {
      convert(k + 1, e, left);
    } else if (left.kind == Kind::Text && number(right)) {
      convert(b, k, right);
    } else if (left.kind == Kind::Datetime && literalRight) {
      replace(k + 1, e, wrapIn("tsql_fit_datetime", slice(k + 1, e)));
    } else if (right.kind == Kind::Datetime && literalLeft) {
      replace(b, k, wrapIn("tsql_fit_datetime", slice(b, k)));
    } else if (left.kind == Kind::Text && right.kind == Kind::Text && left.rule == nullptr &&
               right.rule == nullptr && (literalLeft || literalRight)) {
      t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(k), collateTsql.begin(),
                collateTsql.end());
    }
  }
  // LIKE ignores the trailing blanks of the value it matches (a char(n)
  // value matches 'ab' as well as 'ab%'); the pattern's own count.
  for (std::size_t k = t_.size(); k-- > 1;) {
    if (!isKw(t_[k], "like")) {
      continue;
    }
    const std::size_t at = isKw(t_[k - 1], "not") ? k - 1 : k;
    const std::size_t b = expressionStart(at);
    if (b == at) {
      continue;
    }
    t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(at), punct(")"));
    Token open = word("rtrim");
    open.space = t_[b].space;
    t_[b].space = false;
    t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(b), {open, punct("(")});
  }
  return true;
}

bool Rewriter::isComparisonOp(const Token& t) {
  return t.type == Tok::Punct &&
         (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
          t.text == "<=" || t.text == ">=" || t.text == "!<" || t.text == "!>");
}

Tokens Rewriter::wrapIn(std::string_view function, Tokens value, const std::string& extra) {
  const bool space = value.empty() || value.front().space;
  if (!value.empty()) {
    value.front().space = false;
  }
  Tokens out = {word(std::string(function)), punct("(")};
  out.front().space = space;
  out.insert(out.end(), value.begin(), value.end());
  if (!extra.empty()) {
    out.push_back(punct(","));
    out.push_back(number(extra));
  }
  out.push_back(punct(")"));
  return out;
}

bool Rewriter::rewriteOperators() {
  if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter") ||
      std::none_of(t_.begin(), t_.end(), [](const Token& t) {
        return isArithmetic(t) && t.text != "&" && t.text != "|" && t.text != "^";
      })) {
    return true;  // nothing to rewrite: most texts carry no operator
  }
  operandTables_ = statementTables();
  t_ = operatorsIn(0, t_.size());
  return true;
}

// The tokens [b, e) with every chain of operands joined by + - * / %
// turned into calls of the functions that give SQL Server's outcome
// (see tsql_add), keeping T-SQL's precedence: * / % before + -, left to
// right. & | ^ stay SQLite's, which agree.
Tokens Rewriter::operatorsIn(std::size_t b, std::size_t e) const {
  Tokens out;
  std::size_t i = b;
  while (i < e) {
    std::size_t end = operandEnd(i, e);
    if (end == kNone) {
      if (isPunct(t_[i], "(")) {
        const std::size_t close = matchParen(i);
        out.push_back(t_[i]);
        const Tokens inner = operatorsIn(i + 1, close);
        out.insert(out.end(), inner.begin(), inner.end());
        out.push_back(t_[close]);
        i = close + 1;
      } else {
        out.push_back(t_[i++]);
      }
      continue;
    }
    std::vector<std::pair<std::size_t, std::size_t>> operands = {{i, end}};
    std::vector<std::string> ops;
    while (end < e && isArithmetic(t_[end])) {
      const std::size_t next = operandEnd(end + 1, e);
      if (next == kNone) {
        break;
      }
      ops.push_back(t_[end].text);
      operands.emplace_back(end + 1, next);
      end = next;
    }
    // * / % first, then + - & | ^ from left to right, each call typed by
    // its operands (see ExprType).
    std::vector<Tokens> terms;
    std::vector<ExprType> termTypes;
    std::vector<std::string> termOps;
    Tokens current = operandTokens(operands[0].first, operands[0].second);
    ExprType type = operandType(operands[0].first, operands[0].second);
    for (std::size_t k = 0; k < ops.size(); ++k) {
      Tokens operand = operandTokens(operands[k + 1].first, operands[k + 1].second);
      const ExprType operandT = operandType(operands[k + 1].first, operands[k + 1].second);
      if (ops[k] == "*" || ops[k] == "/" || ops[k] == "%") {
        const char* fn = ops[k] == "*"   ? "tsql_multiply"
                         : ops[k] == "/" ? "tsql_divide"
                                         : "tsql_modulo";
        current = call(fn, std::move(current), std::move(operand), type, operandT);
        type = combine(ops[k], type, operandT);
      } else {
        terms.push_back(std::move(current));
        termTypes.push_back(type);
        termOps.push_back(ops[k]);
        current = std::move(operand);
        type = operandT;
      }
    }
    terms.push_back(std::move(current));
    termTypes.push_back(type);
    Tokens chain = std::move(terms[0]);
    type = termTypes[0];
    for (std::size_t k = 0; k < termOps.size(); ++k) {
      const ExprType next = termTypes[k + 1];
      if (termOps[k] == "+") {
        // A '+' may join texts: its result compares as a text column.
        chain = call("tsql_add", std::move(chain), std::move(terms[k + 1]), type, next);
        chain.insert(chain.end(), collateTsql.begin(), collateTsql.end());
      } else if (termOps[k] == "-") {
        chain = call("tsql_subtract", std::move(chain), std::move(terms[k + 1]), type, next);
      } else {
        chain.push_back(punct(termOps[k], true));
        terms[k + 1].front().space = true;
        chain.insert(chain.end(), terms[k + 1].begin(), terms[k + 1].end());
      }
      type = combine(termOps[k], type, next);
    }
    if (!chain.empty()) {
      chain.front().space = t_[i].space;
    }
    out.insert(out.end(), chain.begin(), chain.end());
    i = end;
  }
  return out;
}

// The tokens of one operand with the operators inside it rewritten.
Tokens Rewriter::operandTokens(std::size_t b, std::size_t e) const {
  Tokens out;
  std::size_t i = b;
  while (i < e && (isPunct(t_[i], "-") || isPunct(t_[i], "+") || isPunct(t_[i], "~"))) {
    out.push_back(t_[i++]);
  }
  if (i < e && isPunct(t_[i], "(")) {
    const std::size_t close = matchParen(i);
    out.push_back(t_[i]);
    const Tokens inner = operatorsIn(i + 1, close);
    out.insert(out.end(), inner.begin(), inner.end());
    i = close;
  } else if (i < e && isKw(t_[i], "case")) {
    const std::size_t close = matchCase(i, e);
    out.push_back(t_[i]);
    const Tokens inner = operatorsIn(i + 1, close);
    out.insert(out.end(), inner.begin(), inner.end());
    i = close;
  } else if (i + 1 < e && t_[i].type == Tok::Word && isPunct(t_[i + 1], "(")) {
    const std::size_t close = matchParen(i + 1);
    out.push_back(t_[i]);
    out.push_back(t_[i + 1]);
    const Tokens inner = operatorsIn(i + 2, close);
    out.insert(out.end(), inner.begin(), inner.end());
    i = close;
  }
  for (; i < e; ++i) {
    out.push_back(t_[i]);
  }
  return out;
}

// function(a, b), or the decimal form function(a, b, p1, s1, p2, s2) when
// either operand is a decimal (see tsql_add).
Tokens Rewriter::call(std::string_view function, Tokens a, Tokens b, const ExprType& ta,
                      const ExprType& tb) {
  if (!a.empty()) {
    a.front().space = false;
  }
  if (!b.empty()) {
    b.front().space = true;
  }
  Tokens out = {word(std::string(function)), punct("(")};
  out.insert(out.end(), a.begin(), a.end());
  out.push_back(punct(","));
  out.insert(out.end(), b.begin(), b.end());
  if (ta.isDecimal() || tb.isDecimal()) {
    const tsql_impl::DecType x = ta.asDecimal();
    const tsql_impl::DecType y = tb.asDecimal();
    for (const int n : {x.precision, x.scale, y.precision, y.scale}) {
      out.push_back(punct(","));
      Token t = number(std::to_string(n));
      t.space = true;
      out.push_back(std::move(t));
    }
  }
  out.push_back(punct(")"));
  return out;
}

// A number literal with more significant digits than a real keeps (15)
// would reach SQLite as the nearest real: it becomes the exact decimal
// (a blob of its text, see tsql_decimal.h), which the functions and the
// fitting into a decimal column read digit for digit. Integers of 64
// bits stay SQLite's integers.
bool Rewriter::exactLiterals() {
  if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
    return true;
  }
  for (std::size_t i = 0; i < t_.size(); ++i) {
    if (t_[i].type != Tok::Number || t_[i].text.size() <= 15 ||
        t_[i].text.find_first_of("eExX") != std::string::npos) {
      continue;
    }
    const std::string& text = t_[i].text;
    const std::size_t point = text.find('.');
    std::string digits = text.substr(0, point);
    std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    while (!fraction.empty() && fraction.back() == '0') {
      fraction.pop_back();
    }
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    const std::string significant =
        digits.empty() ? fraction.substr(std::min(fraction.find_first_not_of('0'), fraction.size()))
                       : digits + fraction;
    if (significant.size() <= 15 || (fraction.empty() && digits.size() <= 18)) {
      continue;
    }
    // A unary minus belongs to the digits: SQLite would read the blob
    // as its nearest real to negate it.
    const bool negative = i > 0 && isPunct(t_[i - 1], "-") &&
                          (i == 1 || (t_[i - 2].type == Tok::Punct && !isPunct(t_[i - 2], ")")) ||
                           isStopWord(t_[i - 2]) || isKw(t_[i - 2], "case"));
    const std::string canonical = std::string(negative ? "-" : "") +
                                  (digits.empty() ? std::string("0") : digits) +
                                  (fraction.empty() ? "" : "." + fraction);
    const std::size_t from = negative ? i - 1 : i;
    Tokens exact = {word("CAST"), punct("("),   stringLiteral(canonical),
                    word("AS"),   word("BLOB"), punct(")")};
    exact.front().space = t_[from].space;
    replace(from, i + 1, std::move(exact));
    i = from + 5;
  }
  return true;
}

}  // namespace cvt::rewrite
