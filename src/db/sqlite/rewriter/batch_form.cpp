// Many rows at once. Takes the final SQLite form of a change (dispatch
// asks for every one) and gives its BatchForm (tsql_rewriter.h) when it is
// an INSERT ... VALUES of one row or an UPDATE of one table by its whole
// primary key whose values read no rows; an unusable one otherwise. The
// plain head leaves out the text fits of the rows' own values.

#include <algorithm>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

// The batch form of the translated statement in t_, when its shape has
// one (see BatchForm); an unusable one otherwise.
BatchForm Rewriter::batchForm() const {
  // A query among the values could read rows that the earlier rows of
  // the batch have written, which one statement would not see alike.
  const auto readsRows = [](const Tokens& tokens) {
    return std::any_of(tokens.begin(), tokens.end(),
                       [](const Token& t) { return isKw(t, "select") || isKw(t, "with"); });
  };
  BatchForm form;
  if (isKw(t_[0], "insert")) {
    // INSERT INTO t [(columns)] VALUES (row)
    const auto table = tableName(2);
    if (t_.size() < 2 || !isKw(t_[1], "into") || !table) {
      return form;
    }
    std::size_t at = table->end;
    if (at < t_.size() && isPunct(t_[at], "(")) {
      at = matchParen(at);
      if (at == kNone) {
        return form;
      }
      ++at;
    }
    if (at + 1 >= t_.size() || !isKw(t_[at], "values") || !isPunct(t_[at + 1], "(") ||
        matchParen(at + 1) != t_.size() - 1) {
      return form;
    }
    const Tokens values = slice(at + 2, t_.size() - 1);
    if (readsRows(values)) {
      return form;
    }
    // INSERT INTO t [(columns)] SELECT values FROM (VALUES rows): the
    // values' expressions are written once, not once per row.
    Tokens head = slice(0, at);
    head.push_back(word("SELECT"));
    int n = 0;
    const Tokens select = placeholdersAsColumns(values, n);
    head.insert(head.end(), select.begin(), select.end());
    return n == 0 ? form : fromRows(std::move(head), n, "");
  }
  if (!isKw(t_[0], "update")) {
    return form;
  }
  // UPDATE t SET assignments WHERE key = ?
  const auto table = tableName(1);
  if (!table || table->end >= t_.size() || !isKw(t_[table->end], "set") || !ctx_.types) {
    return form;
  }
  const TableColumns* declared = ctx_.types->find(table->schema, table->name);
  const std::size_t set = table->end;
  const std::size_t where = findTop("where", set + 1, t_.size());
  if (declared == nullptr || declared->key.empty() || declared->updateTriggers || where == kNone ||
      where + 4 != t_.size() || findTop("from", set + 1, t_.size()) != kNone ||
      !isName(t_[where + 1]) || !isPunct(t_[where + 2], "=") || t_[where + 3].type != Tok::Param ||
      !equalsNoCase(nameOf(t_[where + 1]), declared->key)) {
    return form;
  }
  const Tokens assignments = slice(set + 1, where);
  if (readsRows(assignments)) {
    return form;
  }
  for (const auto& [b, e] : splitTop(set + 1, where)) {
    // Assigning the key would let one row's change meet another's key.
    if (b + 1 < e && isName(t_[b]) && equalsNoCase(nameOf(t_[b]), declared->key)) {
      return form;
    }
  }
  // The key's value is the rows' last column.
  Tokens head = slice(0, set + 1);
  int n = 0;
  const Tokens assigned = placeholdersAsColumns(assignments, n);
  head.insert(head.end(), assigned.begin(), assigned.end());
  BatchForm plain;
  plain.plainFits.resize(static_cast<std::size_t>(n + 1));
  const Tokens plainHead = withoutTextFits(head, plain.plainFits);
  form = fromRows(std::move(head), n + 1,
                  " WHERE " + render(slice(where + 1, where + 2)) + " = " + kBatchRows + ".column" +
                      std::to_string(n + 1));
  if (std::none_of(plainHead.begin(), plainHead.end(),
                   [](const Token& t) { return isPunct(t, "("); })) {
    form.plainHead = fromRows(plainHead, n + 1, "").head;
    form.plainFits = std::move(plain.plainFits);
  }
  return form;
}

// `head` with every tsql_fit_text(<a column of the batch's rows>, n, u, p)
// replaced by the column, whose rule goes to `fits` (by column).
Tokens Rewriter::withoutTextFits(const Tokens& head,
                                 std::vector<std::optional<BatchForm::TextFit>>& fits) {
  Tokens out;
  for (std::size_t i = 0; i < head.size(); ++i) {
    const auto number = [&](std::size_t at) {
      return at < head.size() && head[at].type == Tok::Number &&
             head[at].text.find_first_not_of("0123456789") == std::string::npos &&
             head[at].text.size() < 9;
    };
    if (i + 11 < head.size() && isKw(head[i], "tsql_fit_text") && isPunct(head[i + 1], "(") &&
        isKw(head[i + 2], kBatchRows) && isPunct(head[i + 3], ".") &&
        head[i + 4].type == Tok::Word && head[i + 4].text.rfind("column", 0) == 0 &&
        isPunct(head[i + 5], ",") && number(i + 6) && isPunct(head[i + 7], ",") && number(i + 8) &&
        isPunct(head[i + 9], ",") && number(i + 10) && isPunct(head[i + 11], ")")) {
      const std::size_t column =
          static_cast<std::size_t>(std::strtoul(head[i + 4].text.c_str() + 6, nullptr, 10));
      if (column >= 1 && column <= fits.size() && !fits[column - 1]) {
        fits[column - 1] = BatchForm::TextFit{std::stoi(head[i + 6].text), head[i + 8].text != "0",
                                              head[i + 10].text != "0"};
        Token name = head[i + 2];
        name.space = head[i].space;
        out.push_back(std::move(name));
        out.push_back(head[i + 3]);
        out.push_back(head[i + 4]);
        i += 11;
        continue;
      }
    }
    out.push_back(head[i]);
  }
  return out;
}

// `tokens` with each placeholder replaced by the next column of the
// batch's rows; `n` counts the placeholders replaced.
Tokens Rewriter::placeholdersAsColumns(const Tokens& tokens, int& n) {
  Tokens out;
  for (const Token& t : tokens) {
    if (t.type != Tok::Param) {
      out.push_back(t);
      continue;
    }
    Token name = word(kBatchRows);
    name.space = t.space;
    out.push_back(std::move(name));
    out.push_back(punct("."));
    Token column = word("column" + std::to_string(++n));
    column.space = false;
    out.push_back(std::move(column));
  }
  return out;
}

// `head` FROM (VALUES rows of `rowParameters` placeholders) AS the
// batch's rows, then `condition`.
BatchForm Rewriter::fromRows(Tokens head, int rowParameters, const std::string& condition) {
  head.push_back(word("FROM"));
  head.push_back(punct("(", true));
  head.push_back(word("VALUES"));
  BatchForm form;
  form.head = render(head);
  form.row = "(?";
  for (int i = 1; i < rowParameters; ++i) {
    form.row += ",?";
  }
  form.row += ")";
  form.tail = ") AS " + std::string(kBatchRows) + condition;
  form.rowParameters = rowParameters;
  return form;
}

}  // namespace cvt::rewrite

namespace cvt {

std::string BatchForm::text(std::size_t rows, bool plain) const {
  const std::string& start = plain ? plainHead : head;
  std::string out;
  out.reserve(start.size() + tail.size() + rows * (row.size() + 1));
  out += start;
  for (std::size_t i = 0; i < rows; ++i) {
    if (i > 0) {
      out += ',';
    }
    out += row;
  }
  out += tail;
  return out;
}

}  // namespace cvt
