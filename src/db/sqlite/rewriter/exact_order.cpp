// Orders that SQLite would get wrong on its own (after the comparisons are
// typed, before the operators become calls).
//  - exactDecimalOrder: where an operand can hold a decimal of more than 15
//    significant digits (a declared precision above 15, a literal of more
//    digits, or arithmetic that gives such a type), which is stored as a
//    blob that SQLite ranks above every number, < > <= >= !< !> become
//    tsql_compare(a, b) op 0, BETWEEN becomes tsql_between, ORDER BY sorts
//    by tsql_decimal_key and min / max become tsql_min_decimal /
//    tsql_max_decimal (db/sqlite/ext/tsql_decimal_order.cpp). Equality needs
//    nothing: such a value has one stored form. Everything else keeps
//    SQLite's plain comparison, so that indexes serve it.
//  - collatedTexts: texts that SQL Server compares under the database's
//    collation but that reach SQLite without a column's: min / max of
//    anything but a column get the collation on their argument, and in a
//    query a text literal that is a value of its own (a select list item,
//    a row of VALUES, a CASE result, the left side of IN) carries COLLATE
//    TSQL, so that the column it makes sorts, groups and compares as the
//    server's.

#include <cstdlib>

#include "db/sqlite/rewriter/forms_parts.h"
#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

namespace {

// A decimal whose values may have more than 15 significant digits: what
// SQLite keeps in a real exactly, beyond which a value is a blob.
constexpr int kRealDigits = 15;

}  // namespace

bool Rewriter::mayHoldLongDecimal(const ExprType& t) {
  return t.isDecimal() && (t.precision == 0 || t.precision > kRealDigits);
}

// The end of the operands joined by arithmetic that start at `i`, or kNone.
std::size_t Rewriter::chainEnd(std::size_t i, std::size_t e) const {
  std::size_t end = operandEnd(i, e);
  while (end != kNone && end < e && isArithmetic(t_[end])) {
    end = operandEnd(end + 1, e);
  }
  return end;
}

bool Rewriter::exactDecimalOrder() {
  if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
    return true;
  }
  // Left to right: a replacement keeps its operands, so a comparison
  // inside the right one is still ahead, and one inside the left one,
  // already done, is met again as it now stands.
  for (std::size_t k = 1; k < t_.size(); ++k) {
    const Token& op = t_[k];
    const bool ordering =
        op.type == Tok::Punct && (op.text == "<" || op.text == ">" || op.text == "<=" ||
                                  op.text == ">=" || op.text == "!<" || op.text == "!>");
    if (ordering) {
      const std::size_t b = expressionStart(k);
      const std::size_t e = chainEnd(k + 1, t_.size());
      if (b == k || e == kNone ||
          (!mayHoldLongDecimal(exprType(b, k)) && !mayHoldLongDecimal(exprType(k + 1, e)))) {
        continue;
      }
      const std::string relation = op.text == "!<" ? ">=" : op.text == "!>" ? "<=" : op.text;
      Tokens out = callOf("tsql_compare", {{b, k}, {k + 1, e}});
      out.push_back(punct(relation, true));
      Token zero = number("0");
      zero.space = true;
      out.push_back(std::move(zero));
      replace(b, e, std::move(out));
      k = b + 1;
    } else if (isKw(op, "between")) {
      const std::size_t at = isKw(t_[k - 1], "not") ? k - 1 : k;
      const std::size_t b = expressionStart(at);
      const std::size_t low = chainEnd(k + 1, t_.size());
      if (b == at || low == kNone || low >= t_.size() || !isKw(t_[low], "and")) {
        continue;
      }
      const std::size_t high = chainEnd(low + 1, t_.size());
      if (high == kNone ||
          (!mayHoldLongDecimal(exprType(b, at)) && !mayHoldLongDecimal(exprType(k + 1, low)) &&
           !mayHoldLongDecimal(exprType(low + 1, high)))) {
        continue;
      }
      Tokens out;
      if (at != k) {
        out.push_back(word("NOT"));
      }
      Tokens call = callOf("tsql_between", {{b, at}, {k + 1, low}, {low + 1, high}});
      call.front().space = at != k;
      out.insert(out.end(), call.begin(), call.end());
      replace(b, high, std::move(out));
      k = b + 1;
    }
  }
  // Right to left from here: each change leaves what comes before it.
  for (std::size_t i = t_.size(); i-- > 0;) {
    if (isKw(t_[i], "order") && i + 1 < t_.size() && isKw(t_[i + 1], "by")) {
      orderByValue(i);
    } else if ((isKw(t_[i], "min") || isKw(t_[i], "max")) && i + 1 < t_.size() &&
               isPunct(t_[i + 1], "(") && (i == 0 || !isPunct(t_[i - 1], "."))) {
      std::size_t b = i + 2;
      if (b < t_.size() && (isKw(t_[b], "distinct") || isKw(t_[b], "all"))) {
        ++b;
      }
      if (mayHoldLongDecimal(exprType(b, matchParen(i + 1)))) {
        t_[i].text = isKw(t_[i], "min") ? "tsql_min_decimal" : "tsql_max_decimal";
      }
    }
  }
  return true;
}

// The ORDER BY at `at`: each item that may hold a long decimal sorts by
// its key. An item that is a select list item's position or alias takes
// that item's expression. A compound select's ORDER BY is left as it is
// (SQLite takes only its columns there).
void Rewriter::orderByValue(std::size_t at) {
  // The select this ORDER BY belongs to: the last one at its level.
  std::size_t select = kNone;
  int depth = 0;
  for (std::size_t i = at; i-- > 0;) {
    if (isPunct(t_[i], ")")) {
      ++depth;
    } else if (isPunct(t_[i], "(")) {
      if (depth-- == 0) {
        break;
      }
    } else if (depth == 0 &&
               (isKw(t_[i], "union") || isKw(t_[i], "except") || isKw(t_[i], "intersect"))) {
      return;
    } else if (depth == 0 && isKw(t_[i], "select") && select == kNone) {
      select = i;
    }
  }
  std::vector<tsql::forms::Item> columns;
  if (select != kNone) {
    const tsql::forms::SelectParts parts = tsql::forms::parseSelect(t_, select);
    if (parts.listBegin != kNone && parts.listEnd != kNone) {
      for (const auto& [b, e] : splitTop(parts.listBegin, parts.listEnd)) {
        columns.push_back(tsql::forms::splitAlias(t_, b, e));
      }
    }
  }
  const std::size_t end = tsql::forms::rangeEnd(t_, at + 2, t_.size(), {"option"});
  const auto items = splitTop(at + 2, end);
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    std::size_t b = it->first;
    std::size_t e = it->second;
    if (e > b + 1 && (isKw(t_[e - 1], "asc") || isKw(t_[e - 1], "desc"))) {
      --e;
    }
    if (b >= e) {
      continue;
    }
    // The expression that gives the item's value.
    std::pair<std::size_t, std::size_t> value{b, e};
    if (e == b + 1 && t_[b].type == Tok::Number) {
      const long position = std::strtol(t_[b].text.c_str(), nullptr, 10);
      if (position < 1 || static_cast<std::size_t>(position) > columns.size()) {
        continue;
      }
      const auto& column = columns[static_cast<std::size_t>(position - 1)];
      value = {column.begin, column.end};
    } else if (e == b + 1 && isName(t_[b])) {
      for (const auto& column : columns) {
        if (!column.alias.empty() && equalsNoCase(column.alias, nameOf(t_[b]))) {
          value = {column.begin, column.end};
          break;
        }
      }
    }
    if (!mayHoldLongDecimal(exprType(value.first, value.second))) {
      continue;
    }
    Tokens key = callOf("tsql_decimal_key", {value});
    key.front().space = t_[b].space;
    replace(b, e, std::move(key));
  }
}

// function(a, b, ...) of the given ranges of tokens.
Tokens Rewriter::callOf(std::string_view function,
                        std::initializer_list<std::pair<std::size_t, std::size_t>> args) const {
  Tokens out = {word(std::string(function)), punct("(")};
  bool first = true;
  for (const auto& [b, e] : args) {
    if (!first) {
      out.push_back(punct(","));
    }
    Tokens arg = slice(b, e);
    if (!arg.empty()) {
      arg.front().space = !first;
    }
    out.insert(out.end(), arg.begin(), arg.end());
    first = false;
  }
  out.push_back(punct(")"));
  return out;
}

bool Rewriter::collatedTexts() {
  if (isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter")) {
    return true;
  }
  const bool query = isKw(t_[0], "select") || isKw(t_[0], "with");
  for (std::size_t i = t_.size(); i-- > 0;) {
    const Token& t = t_[i];
    if ((isKw(t, "min") || isKw(t, "max")) && i + 1 < t_.size() && isPunct(t_[i + 1], "(") &&
        (i == 0 || !isPunct(t_[i - 1], "."))) {
      // The aggregate compares under its argument's collation; a column
      // brings its own (or is no text), anything else has none.
      const std::size_t close = matchParen(i + 1);
      std::size_t b = i + 2;
      if (b < close && (isKw(t_[b], "distinct") || isKw(t_[b], "all"))) {
        ++b;
      }
      const ExprType type = exprType(b, close);
      if (type.rule == nullptr && (type.kind == ExprType::Kind::Text ||
                                   (type.kind == ExprType::Kind::Unknown && b + 1 != close))) {
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(close), collateTsql.begin(),
                  collateTsql.end());
      }
      continue;
    }
    if (t.type != Tok::String || i == 0 || (i + 1 < t_.size() && isKw(t_[i + 1], "collate"))) {
      continue;
    }
    const Token* next = i + 1 < t_.size() ? &t_[i + 1] : nullptr;
    bool own = false;
    if (next != nullptr && isKw(*next, "in")) {
      own = true;  // compared under its collation with every value listed
    } else if (next != nullptr && isKw(*next, "not") && i + 2 < t_.size() &&
               isKw(t_[i + 2], "in")) {
      own = true;
    } else if (query) {
      own = standsAlone(i);
    }
    if (own) {
      t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(i + 1), collateTsql.begin(),
                collateTsql.end());
    }
  }
  return true;
}

// Whether the text literal at `i` is a value of its own: a select list
// item, an item of a row of VALUES, or a result of a CASE.
bool Rewriter::standsAlone(std::size_t i) const {
  const Token& before = t_[i - 1];
  const Token* after = i + 1 < t_.size() ? &t_[i + 1] : nullptr;
  const auto endsItem = [&] {
    return after == nullptr || isPunct(*after, ",") || isPunct(*after, ")") || isKw(*after, "as") ||
           isKw(*after, "from") || isKw(*after, "where") || isKw(*after, "group") ||
           isKw(*after, "order") || isKw(*after, "union") || isKw(*after, "except") ||
           isKw(*after, "intersect") || (isName(*after) && !tsql::forms::isKeyword(*after));
  };
  if (isKw(before, "then") || isKw(before, "else")) {
    return after != nullptr &&
           (isKw(*after, "when") || isKw(*after, "else") || isKw(*after, "end"));
  }
  if (isKw(before, "select") || isKw(before, "distinct") ||
      (i >= 2 && isKw(t_[i - 2], "top") && before.type == Tok::Number)) {
    return endsItem();
  }
  if (!isPunct(before, ",") && !isPunct(before, "(")) {
    return false;
  }
  // A comma or parenthesis: a select list's item when the list is what
  // the literal is in, a row's item when its parenthesis follows VALUES
  // (or another row).
  int depth = 0;
  for (std::size_t k = i; k-- > 0;) {
    const Token& t = t_[k];
    if (isPunct(t, ")")) {
      ++depth;
    } else if (isPunct(t, "(") && depth > 0) {
      --depth;
    } else if (isPunct(t, "(")) {
      // The literal's own parenthesis: one row of VALUES, or the first
      // of them?
      std::size_t open = k;
      while (open > 0) {
        const Token& previous = t_[open - 1];
        if (isKw(previous, "values")) {
          return after != nullptr && (isPunct(*after, ",") || isPunct(*after, ")"));
        }
        if (!isPunct(previous, ",") || open < 2 || !isPunct(t_[open - 2], ")")) {
          return false;
        }
        open = openingOf(open - 2);
        if (open == kNone) {
          return false;
        }
      }
      return false;
    } else if (depth > 0) {
      continue;
    } else if (isKw(t, "end")) {
      // A CASE among the items before: back to its start.
      int cases = 0;
      for (; k > 0; --k) {
        if (isKw(t_[k], "end")) {
          ++cases;
        } else if (isKw(t_[k], "case") && --cases == 0) {
          break;
        }
      }
    } else if (isKw(t, "select")) {
      return isPunct(before, ",") && endsItem();
    } else if (isStopWord(t) && !isKw(t, "as") && !isKw(t, "distinct") && !isKw(t, "top") &&
               !isKw(t, "all")) {
      return false;
    }
  }
  return false;
}

// The '(' that the ')' at `close` closes, or kNone.
std::size_t Rewriter::openingOf(std::size_t close) const {
  int depth = 0;
  for (std::size_t k = close + 1; k-- > 0;) {
    if (isPunct(t_[k], ")")) {
      ++depth;
    } else if (isPunct(t_[k], "(") && --depth == 0) {
      return k;
    }
  }
  return kNone;
}

}  // namespace cvt::rewrite
