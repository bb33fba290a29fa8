// The rewriter's order of passes (run) and what every pass shares: the
// statement's tokens t_, the error that stops the run, ranges of tokens
// sliced and replaced, and the tables that a statement names.

#include "db/sqlite/rewriter/rewriter.h"

#include "db/sqlite/rewriter/forms_parts.h"

namespace cvt::rewrite {

RewriteResult Rewriter::run() {
  RewriteResult result;
  if (!tokenize(sql_, t_, error_) || !checkTokens() || !resolveNames() || !dropTableHints() ||
      !valuesTables() || !checkFunctions() || !checkForms(t_, ctx_.types.get(), error_) ||
      !typedSumsPass() || !rewriteFunctions() || !typeComparisons() || !exactDecimalOrder() ||
      !collatedTexts() || !rewriteOperators() || !rewriteTop() || !exactLiterals() ||
      !compareLiteralsPass() || !dispatch(result)) {
    result.statements.clear();
    result.error = error_.empty() ? "The statement could not be translated." : error_;
  }
  return result;
}

bool Rewriter::typedSumsPass() {
  typedSums(t_, ctx_.types.get());
  return true;
}

bool Rewriter::compareLiteralsPass() {
  compareLiterals(t_, ctx_.types.get());
  return true;
}

bool Rewriter::fail(std::string message) {
  error_ = std::move(message);
  return false;
}

bool Rewriter::unsupported(const std::string& what) {
  return fail("Not supported by the T-SQL adapter of the embedded database: " + what + ".");
}

std::size_t Rewriter::findTop(std::string_view kw, std::size_t from, std::size_t to) const {
  return tsql::findTop(t_, kw, from, to);
}

std::vector<std::pair<std::size_t, std::size_t>> Rewriter::splitTop(std::size_t from,
                                                                    std::size_t to) const {
  return tsql::splitTop(t_, from, to);
}

Tokens Rewriter::slice(std::size_t from, std::size_t to) const {
  return Tokens(t_.begin() + static_cast<std::ptrdiff_t>(from),
                t_.begin() + static_cast<std::ptrdiff_t>(to));
}

void Rewriter::replace(std::size_t from, std::size_t to, Tokens with) {
  if (!with.empty() && from < t_.size()) {
    with.front().space = t_[from].space || with.front().space;
  }
  t_.erase(t_.begin() + static_cast<std::ptrdiff_t>(from),
           t_.begin() + static_cast<std::ptrdiff_t>(to));
  t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(from), with.begin(), with.end());
}

std::optional<Rewriter::NameRef> Rewriter::tableName(std::size_t at) const {
  if (at >= t_.size() || !isName(t_[at])) {
    return std::nullopt;
  }
  if (at + 2 < t_.size() && isPunct(t_[at + 1], ".") && isName(t_[at + 2])) {
    return NameRef{nameOf(t_[at]), nameOf(t_[at + 2]), at + 3};
  }
  return NameRef{"", nameOf(t_[at]), at + 1};
}

// Every table the statement names after FROM, JOIN, UPDATE, INTO or a
// comma, under the name the statement uses for it.
std::vector<Rewriter::SourceTable> Rewriter::statementTables() const {
  std::vector<SourceTable> out;
  if (!ctx_.types) {
    return out;
  }
  for (std::size_t i = 1; i < t_.size(); ++i) {
    const Token& before = t_[i - 1];
    if (!isKw(before, "from") && !isKw(before, "join") && !isKw(before, "update") &&
        !isKw(before, "into") && !isPunct(before, ",")) {
      continue;
    }
    const auto table = tableName(i);
    const TableColumns* columns = table ? ctx_.types->find(table->schema, table->name) : nullptr;
    if (columns == nullptr) {
      continue;
    }
    SourceTable source{table->name, columns};
    std::size_t k = table->end;
    if (k < t_.size() && isKw(t_[k], "as")) {
      ++k;
    }
    if (k < t_.size() && isName(t_[k]) && !isClauseKeyword(t_[k])) {
      source.name = nameOf(t_[k]);
    }
    out.push_back(std::move(source));
  }
  derivedTables(out);
  return out;
}

// Adds to `tables` each derived table of the statement, `(select ...)
// alias`, with the decimal columns its select list passes on as they are
// (`price` or `price AS v`), so that an outer ORDER BY, comparison or min
// / max over them knows their precision. Other columns stay unknown.
void Rewriter::derivedTables(std::vector<SourceTable>& tables) const {
  const std::size_t named = tables.size();
  for (std::size_t i = 1; i + 1 < t_.size(); ++i) {
    if (!isPunct(t_[i], "(") || !isKw(t_[i + 1], "select") ||
        !(isKw(t_[i - 1], "from") || isKw(t_[i - 1], "join") || isPunct(t_[i - 1], ","))) {
      continue;
    }
    const std::size_t close = matchParen(i);
    std::size_t k = close + 1;
    if (k < t_.size() && isKw(t_[k], "as")) {
      ++k;
    }
    if (k >= t_.size() || !isName(t_[k]) || isClauseKeyword(t_[k])) {
      continue;
    }
    const tsql::forms::SelectParts parts = tsql::forms::parseSelect(t_, i + 1);
    if (parts.listBegin == kNone || parts.listEnd == kNone || parts.listEnd > close) {
      continue;
    }
    TableColumns columns;
    const std::vector<SourceTable> inner(tables.begin(),
                                         tables.begin() + static_cast<std::ptrdiff_t>(named));
    for (const auto& [b, e] : splitTop(parts.listBegin, parts.listEnd)) {
      const tsql::forms::Item item = tsql::forms::splitAlias(t_, b, e);
      const ColumnRule* rule = columnAt(item.begin, item.end, inner);
      if (rule == nullptr || rule->kind != ColumnRule::Kind::Decimal) {
        continue;
      }
      const std::string name = !item.alias.empty() ? item.alias : nameOf(t_[item.end - 1]);
      columns.columns.emplace_back(lowered(name), *rule);
    }
    if (!columns.columns.empty()) {
      derived_.push_back(std::move(columns));
      tables.push_back(SourceTable{nameOf(t_[k]), &derived_.back()});
    }
  }
}

}  // namespace cvt::rewrite
