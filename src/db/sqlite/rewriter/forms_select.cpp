// The checks of a SELECT's own parts: its list, GROUP BY and the aliases
// its WHERE may not use (see forms.h).

#include <algorithm>
#include <optional>

#include "db/sqlite/rewriter/forms_parts.h"

namespace cvt::tsql::forms {

SelectParts parseSelect(const Tokens& t, std::size_t at) {
  SelectParts p;
  p.select = at;
  std::size_t i = at + 1;
  while (i < t.size() && isAnyKw(t[i], {"distinct", "all"})) {
    ++i;
  }
  if (i < t.size() && isKw(t[i], "top")) {
    ++i;
    if (i < t.size()) {
      i = skipGroup(t, i);
    }
    while (i < t.size() && isAnyKw(t[i], {"percent", "with", "ties"})) {
      ++i;
    }
  }
  p.listBegin = i;
  // Each clause runs to the next clause keyword of this select; the
  // clauses not looked at write into `ignored`.
  std::size_t ignored = kNone;
  std::size_t* end = &p.listEnd;
  while (i < t.size()) {
    if (isPunct(t[i], ")") || isAnyKw(t[i], {"union", "except", "intersect"})) {
      break;
    }
    std::size_t* nextBegin = nullptr;
    std::size_t* nextEnd = nullptr;
    std::size_t skip = 1;
    if (isKw(t[i], "from")) {
      nextBegin = &p.fromBegin;
      nextEnd = &p.fromEnd;
    } else if (isKw(t[i], "where")) {
      nextBegin = &p.whereBegin;
      nextEnd = &p.whereEnd;
    } else if (isKw(t[i], "group") && i + 1 < t.size() && isKw(t[i + 1], "by")) {
      nextBegin = &p.groupBegin;
      nextEnd = &p.groupEnd;
      skip = 2;
    } else if (isAnyKw(t[i], {"having", "order", "into", "option"})) {
      nextBegin = &ignored;
      nextEnd = &ignored;
    }
    if (nextBegin != nullptr) {
      *end = i;
      *nextBegin = i + skip;
      end = nextEnd;
      i += skip;
      continue;
    }
    i = skipGroup(t, i);
  }
  *end = i;
  return p;
}

Item splitAlias(const Tokens& t, std::size_t b, std::size_t e) {
  if (e - b >= 3 && isKw(t[e - 2], "as") && (isName(t[e - 1]) || t[e - 1].type == Tok::String)) {
    return {b, e - 2, nameOf(t[e - 1])};
  }
  // `value alias`: a name right after a complete operand.
  if (e - b >= 2 && isName(t[e - 1]) && !isKeyword(t[e - 1])) {
    const Token& before = t[e - 2];
    const bool operandEnds = (isName(before) && !isKeyword(before)) || isKw(before, "end") ||
                             before.type == Tok::String || before.type == Tok::Number ||
                             isPunct(before, ")");
    if (operandEnds) {
      return {b, e - 1, nameOf(t[e - 1])};
    }
  }
  return {b, e, {}};
}

namespace {

struct TableRef {
  std::string schema;
  std::string name;
  std::string alias;            // empty when none
  const TableColumns* columns;  // null when unknown (or a derived table)
};

class Selects {
 public:
  Selects(Tokens& t, const DeclaredTypes* types) : t_(t), types_(types) {}

  bool check(std::string& error) {
    // Last select first, so that rewriting one leaves the places of the
    // ones before it as they were.
    for (std::size_t s = t_.size(); s-- > 0;) {
      if (isKw(t_[s], "select") && !checkSelect(s, error)) {
        return false;
      }
    }
    return true;
  }

 private:
  bool checkSelect(std::size_t at, std::string& error) {
    SelectParts p = parseSelect(t_, at);
    if (p.listBegin == kNone || p.listEnd == kNone || p.listBegin >= p.listEnd) {
      return true;
    }
    auto items = splitTop(t_, p.listBegin, p.listEnd);
    // `name = value` names the column; rewritten from the last item on.
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
      const auto [b, e] = *it;
      if (e - b >= 3 && (isName(t_[b]) || t_[b].type == Tok::String) && !isKeyword(t_[b]) &&
          isPunct(t_[b + 1], "=")) {
        Token alias = t_[b];
        if (alias.type == Tok::String) {
          alias = Token{Tok::Quoted, quoteName(alias.text.substr(1, alias.text.size() - 2)), true};
        }
        Tokens value(t_.begin() + static_cast<std::ptrdiff_t>(b + 2),
                     t_.begin() + static_cast<std::ptrdiff_t>(e));
        value.front().space = t_[b].space;
        value.push_back(word("AS"));
        alias.space = true;
        value.push_back(alias);
        t_.erase(t_.begin() + static_cast<std::ptrdiff_t>(b),
                 t_.begin() + static_cast<std::ptrdiff_t>(e));
        t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(b), value.begin(), value.end());
      }
    }
    p = parseSelect(t_, at);
    items = splitTop(t_, p.listBegin, p.listEnd);
    for (const auto& [b, e] : items) {
      for (std::size_t i = b; i < e; i = skipGroup(t_, i)) {
        if (isComparison(t_[i])) {
          error = "Incorrect syntax near '" + t_[i].text + "'.";
          return false;
        }
        if (isAnyKw(t_[i], {"is", "like", "in", "between", "exists", "not"})) {
          error = "Incorrect syntax near the keyword '" + lowered(t_[i].text) + "'.";
          return false;
        }
      }
    }
    const std::vector<TableRef> tables = fromTables(p);
    return checkGroupBy(p, items, tables, error) && checkAliases(p, items, tables, error);
  }

  std::vector<TableRef> fromTables(const SelectParts& p) const {
    std::vector<TableRef> out;
    if (p.fromBegin == kNone) {
      return out;
    }
    bool expectTable = true;
    for (std::size_t i = p.fromBegin; i < p.fromEnd;) {
      if (isPunct(t_[i], ",") || isKw(t_[i], "join")) {
        expectTable = true;
        ++i;
        continue;
      }
      if (isKw(t_[i], "on")) {
        expectTable = false;
        ++i;
        continue;
      }
      if (!expectTable) {
        i = skipGroup(t_, i);
        continue;
      }
      expectTable = false;
      TableRef ref{{}, {}, {}, nullptr};
      if (isPunct(t_[i], "(")) {
        i = skipGroup(t_, i);
        ref.name = "(derived)";
      } else if (isName(t_[i])) {
        if (i + 2 < p.fromEnd && isPunct(t_[i + 1], ".") && isName(t_[i + 2])) {
          ref.schema = nameOf(t_[i]);
          ref.name = nameOf(t_[i + 2]);
          i += 3;
        } else {
          ref.name = nameOf(t_[i]);
          ++i;
        }
        if (types_ != nullptr) {
          ref.columns = types_->find(ref.schema, ref.name);
        }
      } else {
        ++i;
        continue;
      }
      if (i < p.fromEnd && isKw(t_[i], "as")) {
        ++i;
      }
      if (i < p.fromEnd && isName(t_[i]) && !isKeyword(t_[i]) && !isClauseKeyword(t_[i])) {
        ref.alias = nameOf(t_[i]);
        ++i;
      }
      out.push_back(std::move(ref));
    }
    return out;
  }

  // A column reference at `i` (name, or qualifier.name): its qualifier and
  // name, and the index past it; nullopt when none starts there.
  struct ColumnRef {
    std::string qualifier;
    std::string name;
    std::size_t end;
  };
  std::optional<ColumnRef> columnAt(std::size_t i, std::size_t e) const {
    if (!isName(t_[i]) || isKeyword(t_[i]) || (i > 0 && isPunct(t_[i - 1], "."))) {
      return std::nullopt;
    }
    if (i + 1 < e && isPunct(t_[i + 1], "(")) {
      return std::nullopt;  // a function
    }
    std::size_t j = i;
    std::string qualifier;
    while (j + 2 < e && isPunct(t_[j + 1], ".") && isName(t_[j + 2])) {
      qualifier = nameOf(t_[j]);
      j += 2;
    }
    return ColumnRef{qualifier, nameOf(t_[j]), j + 1};
  }

  static std::string text(const Tokens& t, std::size_t b, std::size_t e) {
    std::string out;
    for (std::size_t i = b; i < e; ++i) {
      out += lowered(t[i].type == Tok::Quoted ? nameOf(t[i]) : t[i].text);
      out += ' ';
    }
    return out;
  }

  bool checkGroupBy(const SelectParts& p,
                    const std::vector<std::pair<std::size_t, std::size_t>>& items,
                    const std::vector<TableRef>& tables, std::string& error) const {
    std::vector<std::string> groupTexts;
    std::vector<std::string> groupColumns;  // lower-case names of grouped columns
    if (p.groupBegin != kNone) {
      for (const auto& [b, e] : splitTop(t_, p.groupBegin, p.groupEnd)) {
        bool column = false;
        for (std::size_t i = b; i < e; ++i) {
          if (const auto ref = columnAt(i, e)) {
            column = true;
            if (ref->end == e && i == b) {
              groupColumns.push_back(lowered(ref->name));
            }
          }
        }
        if (!column) {
          error =
              "Each GROUP BY expression must contain at least one column that is not an outer "
              "reference.";
          return false;
        }
        groupTexts.push_back(text(t_, b, e));
      }
    }
    bool grouped = p.groupBegin != kNone;
    for (const auto& [b, e] : items) {
      for (std::size_t i = b; i < e && !grouped; i = skipGroup(t_, i)) {
        grouped = isAggregate(t_[i]) && i + 1 < e && isPunct(t_[i + 1], "(");
      }
    }
    if (!grouped) {
      return true;
    }
    for (const auto& [ib, ie] : items) {
      const Item item = splitAlias(t_, ib, ie);
      if (std::find(groupTexts.begin(), groupTexts.end(), text(t_, item.begin, item.end)) !=
          groupTexts.end()) {
        continue;
      }
      for (std::size_t i = item.begin; i < item.end;) {
        if (isAggregate(t_[i]) && i + 1 < item.end && isPunct(t_[i + 1], "(")) {
          i = skipGroup(t_, i + 1);
          continue;
        }
        if (startsSubquery(t_, i)) {
          i = skipGroup(t_, i);
          continue;
        }
        const auto ref = columnAt(i, item.end);
        if (!ref) {
          ++i;
          continue;
        }
        if (std::find(groupColumns.begin(), groupColumns.end(), lowered(ref->name)) ==
            groupColumns.end()) {
          std::string table = ref->qualifier;
          if (table.empty() && !tables.empty()) {
            table = tables.front().alias.empty() ? tables.front().name : tables.front().alias;
          }
          error = "Column '" + (table.empty() ? std::string() : table + ".") + ref->name +
                  "' is invalid in the select list because it is not contained in either an "
                  "aggregate function or the GROUP BY clause.";
          return false;
        }
        i = ref->end;
      }
    }
    return true;
  }

  // An alias of the select list named in WHERE or GROUP BY, where no table
  // of the select has such a column.
  bool checkAliases(const SelectParts& p,
                    const std::vector<std::pair<std::size_t, std::size_t>>& items,
                    const std::vector<TableRef>& tables, std::string& error) const {
    std::vector<std::string> aliases;
    for (const auto& [b, e] : items) {
      if (const Item item = splitAlias(t_, b, e); !item.alias.empty()) {
        aliases.push_back(lowered(item.alias));
      }
    }
    if (aliases.empty() || tables.empty() ||
        std::any_of(tables.begin(), tables.end(),
                    [](const TableRef& r) { return r.columns == nullptr; })) {
      return true;  // columns unknown: leave it to the engine
    }
    for (const auto& [b, e] :
         {std::pair{p.whereBegin, p.whereEnd}, std::pair{p.groupBegin, p.groupEnd}}) {
      if (b == kNone) {
        continue;
      }
      for (std::size_t i = b; i < e;) {
        if (startsSubquery(t_, i)) {
          i = skipGroup(t_, i);
          continue;
        }
        const auto ref = columnAt(i, e);
        if (!ref) {
          ++i;
          continue;
        }
        const std::string name = lowered(ref->name);
        if (ref->qualifier.empty() &&
            std::find(aliases.begin(), aliases.end(), name) != aliases.end() &&
            std::none_of(tables.begin(), tables.end(),
                         [&](const TableRef& r) { return r.columns->find(name) != nullptr; })) {
          error = "Invalid column name '" + ref->name + "'.";
          return false;
        }
        i = ref->end;
      }
    }
    return true;
  }

  Tokens& t_;
  const DeclaredTypes* types_;
};

}  // namespace

bool checkSelects(Tokens& t, const DeclaredTypes* types, std::string& error) {
  return Selects(t, types).check(error);
}

}  // namespace cvt::tsql::forms
