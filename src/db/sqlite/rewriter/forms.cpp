#include "db/sqlite/rewriter/forms.h"

#include <algorithm>

#include "db/sqlite/rewriter/forms_parts.h"

namespace cvt::tsql {

namespace forms {

bool isAnyKw(const Token& t, std::initializer_list<std::string_view> words) {
  return t.type == Tok::Word && std::any_of(words.begin(), words.end(), [&](std::string_view w) {
           return equalsNoCase(t.text, w);
         });
}

bool isAggregate(const Token& t) {
  return isAnyKw(t, {"count", "sum", "min", "max", "avg", "count_big", "stdev", "stdevp", "var",
                     "varp", "string_agg", "checksum_agg"});
}

bool isKeyword(const Token& t) {
  return isAnyKw(
      t, {"select",    "distinct", "all",    "top",       "percent", "ties",  "from",    "where",
          "group",     "by",       "having", "order",     "asc",     "desc",  "union",   "except",
          "intersect", "case",     "when",   "then",      "else",    "end",   "and",     "or",
          "not",       "is",       "null",   "like",      "escape",  "in",    "between", "exists",
          "as",        "on",       "join",   "inner",     "left",    "right", "full",    "outer",
          "cross",     "with",     "any",    "some",      "set",     "into",  "values",  "update",
          "delete",    "insert",   "over",   "partition", "collate"});
}

bool isComparison(const Token& t) {
  return t.type == Tok::Punct &&
         (t.text == "=" || t.text == "<>" || t.text == "!=" || t.text == "<" || t.text == ">" ||
          t.text == "<=" || t.text == ">=");
}

std::size_t caseEnd(const Tokens& t, std::size_t at) {
  int depth = 0;
  for (std::size_t i = at; i < t.size(); ++i) {
    if (isKw(t[i], "case")) {
      ++depth;
    } else if (isKw(t[i], "end") && --depth == 0) {
      return i;
    } else if (isPunct(t[i], "(")) {
      const std::size_t close = matchParen(t, i);
      if (close == kNone) {
        return kNone;
      }
      i = close;
    }
  }
  return kNone;
}

std::size_t skipGroup(const Tokens& t, std::size_t i) {
  std::size_t close = kNone;
  if (isPunct(t[i], "(")) {
    close = matchParen(t, i);
  } else if (isKw(t[i], "case")) {
    close = caseEnd(t, i);
  }
  return close == kNone ? i + 1 : close + 1;
}

bool startsSubquery(const Tokens& t, std::size_t open) {
  return isPunct(t[open], "(") && open + 1 < t.size() &&
         (isKw(t[open + 1], "select") || isKw(t[open + 1], "with"));
}

std::size_t rangeEnd(const Tokens& t, std::size_t from, std::size_t to,
                     std::initializer_list<std::string_view> stops) {
  std::size_t i = from;
  while (i < to) {
    if (isPunct(t[i], ")") || isAnyKw(t[i], stops)) {
      return i;
    }
    i = skipGroup(t, i);
  }
  return to;
}

}  // namespace forms

using namespace forms;  // NOLINT(google-build-using-namespace): this pass's own helpers

namespace {

constexpr const char* kNotACondition =
    "An expression of non-boolean type specified in a context where a condition is expected, "
    "near '";

// --------------------------------------------------------------- conditions

class Conditions {
 public:
  explicit Conditions(const Tokens& t) : t_(t) {}

  // Every place that takes a condition must hold one.
  bool check(std::string& error) {
    for (std::size_t i = 0; i < t_.size(); ++i) {
      std::size_t b = kNone;
      std::size_t e = kNone;
      if (isKw(t_[i], "where")) {
        b = i + 1;
        e = rangeEnd(t_, b, t_.size(),
                     {"group", "order", "having", "union", "except", "intersect"});
      } else if (isKw(t_[i], "having")) {
        b = i + 1;
        e = rangeEnd(t_, b, t_.size(), {"order", "union", "except", "intersect"});
      } else if (isKw(t_[i], "on")) {
        b = i + 1;
        e = rangeEnd(t_, b, t_.size(),
                     {"join", "inner", "left", "right", "full", "cross", "where", "group", "order",
                      "having", "union", "except", "intersect", "on"});
      } else if (isKw(t_[i], "when") && searchedWhen(i)) {
        b = i + 1;
        e = rangeEnd(t_, b, t_.size(), {"then"});
      } else if (isKw(t_[i], "iif") && i + 1 < t_.size() && isPunct(t_[i + 1], "(")) {
        const std::size_t close = matchParen(t_, i + 1);
        if (close == kNone) {
          continue;
        }
        b = i + 2;
        e = splitTop(t_, b, close).front().second;
      }
      if (b != kNone && !isCondition(b, e)) {
        const Token& near = e < t_.size() ? t_[e] : t_[e - 1];
        error = kNotACondition + near.text + "'.";
        return false;
      }
    }
    return true;
  }

 private:
  // True when the WHEN at `at` belongs to a CASE without an operand.
  bool searchedWhen(std::size_t at) const {
    int depth = 0;
    for (std::size_t i = at; i-- > 0;) {
      if (isPunct(t_[i], ")")) {
        ++depth;
      } else if (isPunct(t_[i], "(")) {
        if (depth-- == 0) {
          return false;
        }
      } else if (depth == 0 && isKw(t_[i], "end")) {
        // A nested CASE closed before this WHEN: step over it.
        int nested = 1;
        while (i-- > 0 && nested > 0) {
          if (isKw(t_[i], "end")) {
            ++nested;
          } else if (isKw(t_[i], "case")) {
            --nested;
          }
        }
      } else if (depth == 0 && isKw(t_[i], "case")) {
        return isKw(t_[i + 1], "when");
      }
    }
    return false;
  }

  bool isCondition(std::size_t b, std::size_t e) const {
    if (b >= e) {
      return false;
    }
    // Split at OR and AND (the AND of a BETWEEN belongs to it).
    std::size_t start = b;
    bool between = false;
    std::size_t i = b;
    while (i < e) {
      if (isKw(t_[i], "between")) {
        between = true;
      } else if (isKw(t_[i], "or") || (isKw(t_[i], "and") && !between)) {
        if (!isAtom(start, i)) {
          return false;
        }
        start = i + 1;
      } else if (isKw(t_[i], "and")) {
        between = false;
      }
      i = skipGroup(t_, i);
    }
    return isAtom(start, e);
  }

  bool isAtom(std::size_t b, std::size_t e) const {
    while (b < e && isKw(t_[b], "not")) {
      ++b;
    }
    if (b >= e) {
      return false;
    }
    if (isPunct(t_[b], "(") && matchParen(t_, b) == e - 1) {
      return !startsSubquery(t_, b) && isCondition(b + 1, e - 1);
    }
    for (std::size_t i = b; i < e; i = skipGroup(t_, i)) {
      if (isComparison(t_[i]) || isAnyKw(t_[i], {"is", "like", "in", "between", "exists"})) {
        return true;
      }
    }
    return false;
  }

  const Tokens& t_;
};

// ------------------------------------------------------ words that are no columns

// rowid, oid, true and false: SQLite's, unless a table named in the
// statement has a column of that name.
bool checkPseudoColumns(const Tokens& t, const DeclaredTypes* types, std::string& error) {
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!isAnyKw(t[i], {"rowid", "_rowid_", "oid", "true", "false"}) ||
        (i + 1 < t.size() && isPunct(t[i + 1], "("))) {
      continue;
    }
    bool declared = false;
    if (types != nullptr) {
      for (std::size_t k = 0; k < t.size() && !declared; ++k) {
        if (!isName(t[k]) || (k > 0 && isPunct(t[k - 1], "."))) {
          continue;
        }
        const bool qualified = k + 2 < t.size() && isPunct(t[k + 1], ".") && isName(t[k + 2]);
        const TableColumns* table =
            qualified ? types->find(nameOf(t[k]), nameOf(t[k + 2])) : types->find("", nameOf(t[k]));
        declared = table != nullptr && table->find(lowered(t[i].text)) != nullptr;
      }
    }
    if (!declared) {
      error = "Invalid column name '" + t[i].text + "'.";
      return false;
    }
  }
  return true;
}

// ----------------------------------------------------------- scalar subqueries

// The clause keyword that governs position `at` at its own depth.
const Token* governingKeyword(const Tokens& t, std::size_t at) {
  int depth = 0;
  for (std::size_t i = at; i-- > 0;) {
    if (isPunct(t[i], ")")) {
      ++depth;
    } else if (isPunct(t[i], "(")) {
      if (depth-- == 0) {
        return nullptr;
      }
    } else if (depth == 0 &&
               isAnyKw(t[i], {"select", "from", "join", "where", "on", "set", "values", "group",
                              "order", "having", "when", "then", "else", "into"})) {
      return &t[i];
    }
  }
  return nullptr;
}

// A subquery used as a value becomes
//   (SELECT tsql_single(tsql_v) FROM (SELECT value AS tsql_v ...)) COLLATE TSQL
// so that a second row fails as on SQL Server; the collation is the one
// every text of the server has.
bool wrapScalarSubqueries(Tokens& t, std::string& error) {
  for (std::size_t open = t.size(); open-- > 0;) {
    if (!startsSubquery(t, open) || !isKw(t[open + 1], "select")) {
      continue;
    }
    if (open == 0 || isAnyKw(t[open - 1], {"in", "exists", "from", "join", "as", "any", "all",
                                           "some", "union", "except", "intersect"})) {
      continue;
    }
    if (isPunct(t[open - 1], ",")) {
      const Token* kw = governingKeyword(t, open);
      if (kw != nullptr && isAnyKw(*kw, {"from", "join"})) {
        continue;  // a derived table of a FROM list
      }
    }
    if (isPunct(t[open - 1], ")") || (isName(t[open - 1]) && !isKeyword(t[open - 1]))) {
      continue;  // an insert's column list, or a call
    }
    const std::size_t close = matchParen(t, open);
    if (close == kNone) {
      continue;
    }
    const SelectParts p = parseSelect(t, open + 1);
    if (p.listEnd == kNone || p.listEnd > close) {
      continue;
    }
    const auto items = splitTop(t, p.listBegin, p.listEnd);
    if (items.size() != 1) {
      error =
          "Only one expression can be specified in the select list when the subquery is not "
          "introduced with EXISTS.";
      return false;
    }
    const Item item = splitAlias(t, items[0].first, items[0].second);
    if (item.end - item.begin == 1 && isPunct(t[item.begin], "*")) {
      continue;
    }
    Tokens inner(t.begin() + static_cast<std::ptrdiff_t>(open + 1),
                 t.begin() + static_cast<std::ptrdiff_t>(close));
    // The value is named by the item's alias, which its ORDER BY may use,
    // else tsql_v.
    Token name = word("tsql_v");
    if (!item.alias.empty() && isName(t[items[0].second - 1])) {
      name = t[items[0].second - 1];
      name.space = true;
    }
    const std::size_t itemEnd = items[0].second - (open + 1);
    inner.erase(inner.begin() + static_cast<std::ptrdiff_t>(item.end - (open + 1)),
                inner.begin() + static_cast<std::ptrdiff_t>(itemEnd));
    const std::size_t at = item.end - (open + 1);
    inner.insert(inner.begin() + static_cast<std::ptrdiff_t>(at), {word("AS"), name});
    Token argument = name;
    argument.space = false;
    Tokens wrapped{punct("(", t[open].space),
                   word("SELECT"),
                   word("tsql_single"),
                   punct("("),
                   argument,
                   punct(")"),
                   word("FROM"),
                   punct("(", true)};
    wrapped.insert(wrapped.end(), inner.begin(), inner.end());
    wrapped.push_back(punct(")"));
    wrapped.push_back(punct(")"));
    wrapped.push_back(word("COLLATE"));
    wrapped.push_back(word("TSQL"));
    t.erase(t.begin() + static_cast<std::ptrdiff_t>(open),
            t.begin() + static_cast<std::ptrdiff_t>(close + 1));
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(open), wrapped.begin(), wrapped.end());
  }
  return true;
}

// The declared rule of the column that [b, e) names alone (name or
// qualifier.name) among the statement's tables; null when it names none.
const ColumnRule* columnRuleOf(const Tokens& t, std::size_t b, std::size_t e,
                               const DeclaredTypes* types) {
  if (types == nullptr || b == kNone || b >= e || !isName(t[b]) || isKeyword(t[b])) {
    return nullptr;
  }
  std::string qualifier;
  std::string column = nameOf(t[b]);
  if (e - b == 3 && isPunct(t[b + 1], ".") && isName(t[b + 2])) {
    qualifier = column;
    column = nameOf(t[b + 2]);
  } else if (e - b != 1) {
    return nullptr;
  }
  const ColumnRule* found = nullptr;
  for (std::size_t i = 1; i < t.size(); ++i) {
    if (!isAnyKw(t[i - 1], {"from", "join", "update", "into"}) && !isPunct(t[i - 1], ",")) {
      continue;
    }
    if (!isName(t[i])) {
      continue;
    }
    std::string schema;
    std::string name = nameOf(t[i]);
    std::size_t k = i + 1;
    if (k + 1 < t.size() && isPunct(t[k], ".") && isName(t[k + 1])) {
      schema = name;
      name = nameOf(t[k + 1]);
      k += 2;
    }
    const TableColumns* columns = types->find(schema, name);
    if (columns == nullptr) {
      continue;
    }
    if (k < t.size() && isKw(t[k], "as")) {
      ++k;
    }
    const std::string alias =
        k < t.size() && isName(t[k]) && !isKeyword(t[k]) && !isClauseKeyword(t[k]) ? nameOf(t[k])
                                                                                   : name;
    if (!qualifier.empty() && !equalsNoCase(qualifier, alias) && !equalsNoCase(qualifier, name)) {
      continue;
    }
    if (const ColumnRule* rule = columns->find(column)) {
      found = rule;
    }
  }
  return found;
}

}  // namespace

void typedSums(Tokens& t, const DeclaredTypes* types) {
  for (std::size_t i = 0; i + 3 < t.size(); ++i) {
    if (!isKw(t[i], "sum") || !isPunct(t[i + 1], "(") || (i > 0 && isPunct(t[i - 1], "."))) {
      continue;
    }
    const std::size_t close = matchParen(t, i + 1);
    if (close == kNone) {
      continue;
    }
    const ColumnRule* rule = columnRuleOf(t, i + 2, close, types);
    if (rule == nullptr || rule->kind != ColumnRule::Kind::Integer) {
      continue;
    }
    t[i].text = "tsql_sum_int";
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(close),
             {punct(","), number(rule->bytes == 8 ? "8" : "4")});
  }
}

void compareLiterals(Tokens& t, const DeclaredTypes* types) {
  if (t.empty() || isAnyKw(t[0], {"create", "drop", "alter"})) {
    return;
  }
  const Tokens collate{word("COLLATE"), word("TSQL")};
  for (std::size_t i = t.size(); i-- > 0;) {
    if (t[i].type != Tok::String) {
      continue;
    }
    // The comparison and the column on its other side, if a column is there.
    const auto plainName = [&](std::size_t k) {
      return k < t.size() && isName(t[k]) && !isKeyword(t[k]);
    };
    std::size_t otherBegin = kNone;
    std::size_t otherEnd = kNone;
    if (i + 1 < t.size() && isComparison(t[i + 1])) {
      if (plainName(i + 2)) {
        otherBegin = i + 2;
        otherEnd = i + 3 < t.size() && isPunct(t[i + 3], ".") && plainName(i + 4) ? i + 5 : i + 3;
      }
    } else if (i > 0 && isComparison(t[i - 1])) {
      const Token* kw = governingKeyword(t, i - 1);
      if (kw != nullptr && isKw(*kw, "set")) {
        continue;  // an assignment
      }
      if (i >= 2 && plainName(i - 2) && !(i >= 3 && isPunct(t[i - 3], "."))) {
        otherBegin = i - 2;
        otherEnd = i - 1;
      } else if (i >= 4 && plainName(i - 2) && isPunct(t[i - 3], ".") && plainName(i - 4)) {
        otherBegin = i - 4;
        otherEnd = i - 1;
      }
    } else {
      continue;
    }
    const ColumnRule* rule = columnRuleOf(t, otherBegin, otherEnd, types);
    if (rule != nullptr && rule->kind == ColumnRule::Kind::Datetime) {
      const Tokens call{word("tsql_fit_datetime"), punct("("), t[i], punct(")")};
      Token first = call.front();
      first.space = t[i].space;
      t.erase(t.begin() + static_cast<std::ptrdiff_t>(i));
      t.insert(t.begin() + static_cast<std::ptrdiff_t>(i), call.begin(), call.end());
      t[i].space = first.space;
      t[i + 2].space = false;
      continue;
    }
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(i + 1), collate.begin(), collate.end());
  }
}

bool checkForms(Tokens& t, const DeclaredTypes* types, std::string& error) {
  if (t.empty() || isAnyKw(t[0], {"create", "drop", "alter"})) {
    return true;
  }
  return Conditions(t).check(error) && checkPseudoColumns(t, types, error) &&
         checkSelects(t, types, error) && wrapScalarSubqueries(t, error);
}

}  // namespace cvt::tsql
