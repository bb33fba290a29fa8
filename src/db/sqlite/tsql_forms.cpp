#include "db/sqlite/tsql_forms.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace cvt::sqltok {

namespace {

// Words that never name a column where the checks below look for one.
bool isKeyword(const Token& t) {
  static constexpr std::array<std::string_view, 62> kWords = {
      "select",   "from",     "where",     "and",     "or",       "not",   "null",    "is",
      "like",     "in",       "between",   "case",    "when",     "then",  "else",    "end",
      "as",       "distinct", "all",       "top",     "on",       "join",  "inner",   "left",
      "right",    "full",     "outer",     "cross",   "group",    "by",    "order",   "having",
      "union",    "except",   "intersect", "exists",  "asc",      "desc",  "with",    "into",
      "values",   "set",      "escape",    "collate", "percent",  "ties",  "int",     "bigint",
      "smallint", "tinyint",  "varchar",   "char",    "nvarchar", "nchar", "decimal", "numeric",
      "money",    "datetime", "date",      "float",   "real",     "max"};
  return t.type == Tok::Word && std::any_of(kWords.begin(), kWords.end(), [&](std::string_view w) {
           return equalsNoCase(t.text, w);
         });
}

bool isAggregateName(const Token& t) {
  static constexpr std::array<std::string_view, 9> kNames = {
      "count", "sum", "min", "max", "avg", "count_big", "stdev", "var", "checksum_agg"};
  return t.type == Tok::Word && std::any_of(kNames.begin(), kNames.end(), [&](std::string_view n) {
           return equalsNoCase(t.text, n);
         });
}

bool isComparison(const Token& t) {
  static constexpr std::array<std::string_view, 9> kOps = {"=",  "<>", "!=", "<", ">",
                                                           "<=", ">=", "!<", "!>"};
  return t.type == Tok::Punct &&
         std::any_of(kOps.begin(), kOps.end(), [&](std::string_view o) { return t.text == o; });
}

bool isDdl(const Tokens& t) {
  return !t.empty() && (isKw(t[0], "create") || isKw(t[0], "drop") || isKw(t[0], "alter"));
}

// The END of the CASE at `at`.
std::size_t matchCase(const Tokens& t, std::size_t at) {
  int depth = 0;
  for (std::size_t i = at; i < t.size(); ++i) {
    if (isKw(t[i], "case")) {
      ++depth;
    } else if (isKw(t[i], "end") && --depth == 0) {
      return i;
    }
  }
  return t.size();
}

// One SELECT's clauses, at its own parenthesis depth.
struct SelectScope {
  std::size_t listBegin = kNone;
  std::size_t listEnd = kNone;
  std::size_t whereBegin = kNone;  // first token after WHERE
  std::size_t whereEnd = kNone;
  std::size_t groupBegin = kNone;  // first token after GROUP BY
  std::size_t groupEnd = kNone;
};

SelectScope scopeOf(const Tokens& t, std::size_t select) {
  SelectScope s;
  std::size_t i = select + 1;
  if (i < t.size() && (isKw(t[i], "distinct") || isKw(t[i], "all"))) {
    ++i;
  }
  if (i < t.size() && isKw(t[i], "top")) {
    i += 2;
    if (i - 1 < t.size() && isPunct(t[i - 1], "(")) {
      i = matchParen(t, i - 1) + 1;
    }
    if (i < t.size() && isKw(t[i], "percent")) {
      ++i;
    }
  }
  s.listBegin = std::min(i, t.size());
  std::size_t* open = &s.listEnd;  // the end that the next clause closes
  int depth = 0;
  std::size_t k = s.listBegin;
  for (; k < t.size(); ++k) {
    if (isPunct(t[k], "(")) {
      ++depth;
    } else if (isPunct(t[k], ")")) {
      if (--depth < 0) {
        break;
      }
    } else if (depth == 0) {
      if (isKw(t[k], "union") || isKw(t[k], "except") || isKw(t[k], "intersect")) {
        break;
      }
      const bool from = isKw(t[k], "from");
      const bool where = isKw(t[k], "where");
      const bool group = isKw(t[k], "group") && k + 1 < t.size() && isKw(t[k + 1], "by");
      const bool other = isKw(t[k], "having") || isKw(t[k], "order");
      if (from || where || group || other) {
        if (*open == kNone) {
          *open = k;
        }
        if (where) {
          s.whereBegin = k + 1;
          open = &s.whereEnd;
        } else if (group) {
          s.groupBegin = k + 2;
          open = &s.groupEnd;
        } else {
          static std::size_t ignored;
          ignored = kNone;
          open = &ignored;
        }
      }
    }
  }
  if (*open == kNone) {
    *open = k;
  }
  if (s.listEnd == kNone) {
    s.listEnd = k;
  }
  if (s.whereBegin != kNone && s.whereEnd == kNone) {
    s.whereEnd = k;
  }
  if (s.groupBegin != kNone && s.groupEnd == kNone) {
    s.groupEnd = k;
  }
  return s;
}

// [b, e) split at commas of depth 0.
std::vector<std::pair<std::size_t, std::size_t>> items(const Tokens& t, std::size_t b,
                                                       std::size_t e) {
  std::vector<std::pair<std::size_t, std::size_t>> out;
  int depth = 0;
  std::size_t start = b;
  for (std::size_t i = b; i < e; ++i) {
    if (isPunct(t[i], "(")) {
      ++depth;
    } else if (isPunct(t[i], ")")) {
      --depth;
    } else if (depth == 0 && isPunct(t[i], ",")) {
      out.emplace_back(start, i);
      start = i + 1;
    }
  }
  if (start < e) {
    out.emplace_back(start, e);
  }
  return out;
}

// The alias an item [b, e) gives its column and where its value ends.
struct Item {
  std::size_t valueBegin;
  std::size_t valueEnd;
  std::string alias;
};

Item splitAlias(const Tokens& t, std::size_t b, std::size_t e) {
  Item item{b, e, {}};
  if (e >= b + 3 && isName(t[b]) && isPunct(t[b + 1], "=")) {
    item = {b + 2, e, nameOf(t[b])};
  } else if (e >= b + 3 && isKw(t[e - 2], "as") && isName(t[e - 1])) {
    item = {b, e - 2, nameOf(t[e - 1])};
  } else if (e >= b + 2 && isName(t[e - 1]) && !isKeyword(t[e - 1])) {
    const Token& before = t[e - 2];
    const bool valueEnds = before.type == Tok::String || before.type == Tok::Number ||
                           isPunct(before, ")") || isKw(before, "end") ||
                           (isName(before) && !isKeyword(before));
    if (valueEnds) {
      item = {b, e - 1, nameOf(t[e - 1])};
    }
  }
  return item;
}

std::string itemText(const Tokens& t, std::size_t b, std::size_t e) {
  std::string out;
  for (std::size_t i = b; i < e; ++i) {
    out += lowered(t[i].type == Tok::Quoted ? nameOf(t[i]) : t[i].text);
    out += ' ';
  }
  return out;
}

struct ColumnRef {
  std::string qualifier;
  std::string name;
};

// The column named at `i` (bare or qualified); `next` is set past it.
std::optional<ColumnRef> columnAt(const Tokens& t, std::size_t i, std::size_t e,
                                  std::size_t& next) {
  if (!isName(t[i]) || isKeyword(t[i]) || (i > 0 && isPunct(t[i - 1], "."))) {
    return std::nullopt;
  }
  if (i + 1 < e && isPunct(t[i + 1], "(")) {
    return std::nullopt;  // a function
  }
  if (i + 2 < e && isPunct(t[i + 1], ".") && isName(t[i + 2])) {
    next = i + 3;
    return ColumnRef{nameOf(t[i]), nameOf(t[i + 2])};
  }
  next = i + 1;
  return ColumnRef{"", nameOf(t[i])};
}

std::string checkConditions(const Tokens& t) {
  // The AND of a BETWEEN joins its bounds, not two conditions.
  std::vector<bool> betweenAnd(t.size(), false);
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (!isKw(t[i], "between")) {
      continue;
    }
    int depth = 0;
    for (std::size_t k = i + 1; k < t.size(); ++k) {
      if (isPunct(t[k], "(")) {
        ++depth;
      } else if (isPunct(t[k], ")")) {
        --depth;
      } else if (depth == 0 && isKw(t[k], "and")) {
        betweenAnd[k] = true;
        break;
      }
    }
  }
  static constexpr std::array<std::string_view, 16> kAfterCondition = {
      "and",   "or",    "group", "order", "having", "union", "except", "intersect",
      "where", "inner", "left",  "right", "join",   "cross", "full",   "then"};
  for (std::size_t i = 0; i + 1 < t.size(); ++i) {
    const bool opens = isKw(t[i], "where") || isKw(t[i], "having") || isKw(t[i], "on") ||
                       isKw(t[i], "or") || isKw(t[i], "not") ||
                       (isKw(t[i], "and") && !betweenAnd[i]);
    if (!opens) {
      continue;
    }
    std::size_t k = i + 1;
    const Token& v = t[k];
    std::size_t end = kNone;
    if (v.type == Tok::Number || v.type == Tok::String || v.type == Tok::Param) {
      end = k + 1;
    } else if (isName(v) && !isKeyword(v)) {
      if (k + 1 < t.size() && isPunct(t[k + 1], "(")) {
        end = matchParen(t, k + 1) + 1;
      } else {
        end = k + 1;
        while (end + 1 < t.size() && isPunct(t[end], ".") && isName(t[end + 1])) {
          end += 2;
        }
      }
    } else if (isKw(v, "true") || isKw(v, "false")) {
      end = k + 1;
    }
    if (end == kNone || end > t.size()) {
      continue;
    }
    const bool alone = end == t.size() || isPunct(t[end], ")") ||
                       std::any_of(kAfterCondition.begin(), kAfterCondition.end(),
                                   [&](std::string_view w) { return isKw(t[end], w); });
    if (alone) {
      const std::string near = end < t.size() ? t[end].text : t[end - 1].text;
      return "An expression of non-boolean type specified in a context where a condition is "
             "expected, near '" +
             near + "'.";
    }
  }
  return {};
}

std::string checkSelect(const Tokens& t, std::size_t select, const ColumnKnown& isColumn) {
  const SelectScope s = scopeOf(t, select);
  const auto list = items(t, s.listBegin, s.listEnd);
  // A comparison or LIKE is a condition, never a value.
  for (const auto& [b, e] : list) {
    const Item item = splitAlias(t, b, e);
    for (std::size_t i = item.valueBegin; i < item.valueEnd; ++i) {
      if (isPunct(t[i], "(")) {
        i = std::min(matchParen(t, i), item.valueEnd);
      } else if (isKw(t[i], "case")) {
        i = std::min(matchCase(t, i), item.valueEnd);
      } else if (isComparison(t[i]) || isKw(t[i], "like") || isKw(t[i], "between") ||
                 isKw(t[i], "is") || isKw(t[i], "in")) {
        return "Incorrect syntax near '" + t[i].text + "'.";
      }
    }
  }
  // An alias names a result column, not a column WHERE can read.
  if (s.whereBegin != kNone) {
    std::vector<std::string> aliases;
    for (const auto& [b, e] : list) {
      std::string alias = splitAlias(t, b, e).alias;
      if (!alias.empty()) {
        aliases.push_back(lowered(alias));
      }
    }
    for (std::size_t i = s.whereBegin; i < s.whereEnd && !aliases.empty(); ++i) {
      std::size_t next = i;
      const auto ref = columnAt(t, i, s.whereEnd, next);
      if (!ref || !ref->qualifier.empty()) {
        continue;
      }
      const std::string name = lowered(ref->name);
      if (std::find(aliases.begin(), aliases.end(), name) != aliases.end() && !isColumn(name)) {
        return "Invalid column name '" + ref->name + "'.";
      }
    }
  }
  // Grouped: every column of the list is grouped or inside an aggregate.
  bool aggregates = false;
  for (std::size_t i = s.listBegin; i < s.listEnd; ++i) {
    if (isPunct(t[i], "(") && i + 1 < s.listEnd && isKw(t[i + 1], "select")) {
      i = std::min(matchParen(t, i), s.listEnd);
    } else if (isAggregateName(t[i]) && i + 1 < s.listEnd && isPunct(t[i + 1], "(")) {
      aggregates = true;
    }
  }
  if (s.groupBegin == kNone && !aggregates) {
    return {};
  }
  std::vector<std::string> groupTexts;
  std::vector<ColumnRef> groupColumns;
  if (s.groupBegin != kNone) {
    for (const auto& [b, e] : items(t, s.groupBegin, s.groupEnd)) {
      if (e == b + 1 && t[b].type == Tok::Number) {
        return "Each GROUP BY expression must contain at least one column that is not an outer "
               "reference.";
      }
      groupTexts.push_back(itemText(t, b, e));
      std::size_t next = b;
      if (const auto ref = columnAt(t, b, e, next); ref && next == e) {
        groupColumns.push_back(*ref);
      }
    }
  }
  for (const auto& [b, e] : list) {
    const Item item = splitAlias(t, b, e);
    const std::string text = itemText(t, item.valueBegin, item.valueEnd);
    if (std::find(groupTexts.begin(), groupTexts.end(), text) != groupTexts.end()) {
      continue;
    }
    for (std::size_t i = item.valueBegin; i < item.valueEnd;) {
      if ((isAggregateName(t[i]) && i + 1 < item.valueEnd && isPunct(t[i + 1], "(")) ||
          (isPunct(t[i], "(") && i + 1 < item.valueEnd && isKw(t[i + 1], "select"))) {
        const std::size_t open = isPunct(t[i], "(") ? i : i + 1;
        i = std::min(matchParen(t, open), item.valueEnd) + 1;
        continue;
      }
      if (isKw(t[i], "as") && i + 1 < item.valueEnd) {
        i += 2;  // the type of a cast
        continue;
      }
      std::size_t next = i + 1;
      const auto ref = columnAt(t, i, item.valueEnd, next);
      if (ref) {
        const bool grouped =
            std::any_of(groupColumns.begin(), groupColumns.end(), [&](const ColumnRef& g) {
              return equalsNoCase(g.name, ref->name) &&
                     (g.qualifier.empty() || ref->qualifier.empty() ||
                      equalsNoCase(g.qualifier, ref->qualifier));
            });
        if (!grouped) {
          const std::string shown =
              ref->qualifier.empty() ? ref->name : ref->qualifier + "." + ref->name;
          return "Column '" + shown +
                 "' is invalid in the select list because it is not contained in either an "
                 "aggregate function or the GROUP BY clause.";
        }
      }
      i = next;
    }
  }
  return {};
}

}  // namespace

std::size_t matchParen(const Tokens& t, std::size_t open) {
  int depth = 0;
  for (std::size_t i = open; i < t.size(); ++i) {
    if (isPunct(t[i], "(")) {
      ++depth;
    } else if (isPunct(t[i], ")") && --depth == 0) {
      return i;
    }
  }
  return kNone;
}

std::string refuseSqliteOnlyForms(const Tokens& t, const ColumnKnown& isColumn) {
  if (t.empty() || isDdl(t)) {
    return {};
  }
  for (std::size_t i = 0; i < t.size(); ++i) {
    const Token& tok = t[i];
    if (isPunct(tok, "`")) {
      return "Incorrect syntax near '`'.";
    }
    if (tok.type != Tok::Word || (i > 0 && isPunct(t[i - 1], "."))) {
      continue;
    }
    const bool call = i + 1 < t.size() && isPunct(t[i + 1], "(");
    if (!call && (isKw(tok, "true") || isKw(tok, "false") || isKw(tok, "rowid") ||
                  isKw(tok, "oid") || isKw(tok, "_rowid_"))) {
      return "Invalid column name '" + tok.text + "'.";
    }
    if (isKw(tok, "nulls") && i + 1 < t.size() &&
        (isKw(t[i + 1], "first") || isKw(t[i + 1], "last"))) {
      return "Incorrect syntax near 'nulls'.";
    }
  }
  if (std::string error = checkConditions(t); !error.empty()) {
    return error;
  }
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (isKw(t[i], "select")) {
      if (std::string error = checkSelect(t, i, isColumn); !error.empty()) {
        return error;
      }
    }
  }
  return {};
}

void selectAssignments(Tokens& t) {
  if (isDdl(t)) {
    return;
  }
  for (std::size_t i = t.size(); i-- > 0;) {
    if (!isKw(t[i], "select")) {
      continue;
    }
    const SelectScope s = scopeOf(t, i);
    const auto list = items(t, s.listBegin, s.listEnd);
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      const auto [b, e] = *it;
      if (!(e >= b + 3 && isName(t[b]) && !isKeyword(t[b]) && isPunct(t[b + 1], "="))) {
        continue;
      }
      Tokens value(t.begin() + static_cast<std::ptrdiff_t>(b + 2),
                   t.begin() + static_cast<std::ptrdiff_t>(e));
      value.front().space = t[b].space;
      value.push_back(word("AS"));
      Token name = t[b];
      name.space = true;
      value.push_back(std::move(name));
      t.erase(t.begin() + static_cast<std::ptrdiff_t>(b),
              t.begin() + static_cast<std::ptrdiff_t>(e));
      t.insert(t.begin() + static_cast<std::ptrdiff_t>(b), value.begin(), value.end());
    }
  }
}

void singleRowSubqueries(Tokens& t) {
  if (isDdl(t)) {
    return;
  }
  for (std::size_t i = t.size(); i-- > 1;) {
    if (!isKw(t[i], "select") || !isPunct(t[i - 1], "(")) {
      continue;
    }
    if (i >= 2) {
      const Token& before = t[i - 2];
      if (isKw(before, "in") || isKw(before, "exists") || isKw(before, "from") ||
          isKw(before, "join") || isKw(before, "as") || isKw(before, "any") ||
          isKw(before, "all") || isKw(before, "some") || isKw(before, "union") ||
          (isName(before) && !isKeyword(before))) {
        continue;  // a set of rows, not a value
      }
    } else {
      continue;  // the statement itself
    }
    if (i + 1 < t.size() && (isKw(t[i + 1], "distinct") || isKw(t[i + 1], "top"))) {
      continue;
    }
    const SelectScope s = scopeOf(t, i);
    const auto list = items(t, s.listBegin, s.listEnd);
    if (list.size() != 1 || s.groupBegin != kNone) {
      continue;
    }
    const std::size_t close = matchParen(t, i - 1);
    bool plain = close != kNone;
    for (std::size_t k = i + 1; plain && k < close; ++k) {
      if (isPunct(t[k], "(") && k + 1 < close && isKw(t[k + 1], "select")) {
        k = matchParen(t, k);
      } else if (isKw(t[k], "union") || isKw(t[k], "except") || isKw(t[k], "intersect") ||
                 (k < s.listEnd && isAggregateName(t[k]) && k + 1 < close &&
                  isPunct(t[k + 1], "("))) {
        plain = false;
      }
    }
    if (!plain) {
      continue;
    }
    const Item item = splitAlias(t, list[0].first, list[0].second);
    if (item.valueEnd <= item.valueBegin || isPunct(t[item.valueBegin], "*")) {
      continue;
    }
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(item.valueEnd), punct(")"));
    Token open = word("tsql_single");
    open.space = t[item.valueBegin].space;
    t[item.valueBegin].space = false;
    t.insert(t.begin() + static_cast<std::ptrdiff_t>(item.valueBegin), {open, punct("(")});
  }
}

bool deleteWithJoin(Tokens& t, std::string& error) {
  // DELETE FROM x FROM list [WHERE ...]
  std::size_t at = 2;
  std::string target;
  if (at < t.size() && isName(t[at])) {
    target = nameOf(t[at]);
    ++at;
    if (at + 1 < t.size() && isPunct(t[at], ".") && isName(t[at + 1])) {
      target = nameOf(t[at + 1]);  // schema.table: the table
      at += 2;
    }
  }
  if (target.empty() || at >= t.size() || !isKw(t[at], "from")) {
    error = "Incorrect syntax near 'from'.";
    return false;
  }
  // The table that `target` names in the FROM list: by alias, else by name.
  Tokens table;
  std::string alias;
  for (std::size_t k = at + 1; k < t.size(); ++k) {
    if (!isName(t[k]) || isKeyword(t[k]) || (k > 0 && isPunct(t[k - 1], "."))) {
      continue;
    }
    const bool prevOk = isKw(t[k - 1], "from") || isKw(t[k - 1], "join") || isPunct(t[k - 1], ",");
    if (!prevOk) {
      continue;
    }
    std::size_t end = k + 1;
    std::string name = nameOf(t[k]);
    if (end + 1 < t.size() && isPunct(t[end], ".") && isName(t[end + 1])) {
      name = nameOf(t[end + 1]);
      end += 2;
    }
    std::size_t aliasAt = end;
    if (aliasAt < t.size() && isKw(t[aliasAt], "as")) {
      ++aliasAt;
    }
    std::string itsAlias;
    if (aliasAt < t.size() && isName(t[aliasAt]) && !isKeyword(t[aliasAt]) &&
        !isClauseKeyword(t[aliasAt])) {
      itsAlias = nameOf(t[aliasAt]);
    }
    if (equalsNoCase(itsAlias, target) || (itsAlias.empty() && equalsNoCase(name, target)) ||
        (equalsNoCase(name, target) && table.empty())) {
      table = Tokens(t.begin() + static_cast<std::ptrdiff_t>(k),
                     t.begin() + static_cast<std::ptrdiff_t>(end));
      alias = itsAlias.empty() ? name : itsAlias;
      if (equalsNoCase(itsAlias, target) || itsAlias.empty()) {
        break;
      }
    }
  }
  if (table.empty()) {
    error = "The object '" + target + "' is not in the FROM clause of the DELETE.";
    return false;
  }
  Tokens out = {word("DELETE"), word("FROM")};
  out.insert(out.end(), table.begin(), table.end());
  out.front().space = false;
  out.push_back(word("WHERE"));
  out.push_back(word("rowid"));
  out.push_back(word("IN"));
  out.push_back(punct("(", true));
  out.push_back(word("SELECT"));
  out.push_back(word(quoteName(alias)));
  out.back().type = Tok::Quoted;
  out.push_back(punct("."));
  out.push_back(punct("rowid"));
  out.back().type = Tok::Word;
  out.insert(out.end(), t.begin() + static_cast<std::ptrdiff_t>(at), t.end());
  out.push_back(punct(")"));
  t = std::move(out);
  return true;
}

}  // namespace cvt::sqltok
