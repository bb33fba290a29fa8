// First passes: the text's own checks and its names.
// Takes the tokens of one statement text as tokenize() gives them.
//  - checkTokens drops trailing ';' and refuses an empty text, unbalanced
//    parentheses, several statements, variables (@x), temporary tables
//    (#t), numbered placeholders and SQLite's own operators and words
//    (checkDialect; table definitions are SQLite's and pass);
//  - resolveNames turns db..t and db.dbo.t into main.t for the target
//    database and db.t for an attached one (any other fails with "Invalid
//    object name"), and drops a leading dbo.;
//  - dropTableHints removes with (nolock) and the other locking hints and
//    refuses any other hint;
//  - valuesTables names the columns of a table value constructor as its
//    column list does: (VALUES ...) AS t(a, b) becomes (SELECT column1 AS
//    a, column2 AS b FROM (VALUES ...)) AS t, since SQLite names them
//    column1, column2, ... and takes no column list after an alias.
// Leaves one statement of T-SQL's own syntax whose tables are t, main.t or
// db.t, without hints.

#include <algorithm>
#include <array>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

// Rejects what SQLite would read differently, and drops trailing ';'.
bool Rewriter::checkTokens() {
  while (!t_.empty() && isPunct(t_.back(), ";")) {
    t_.pop_back();
  }
  if (t_.empty()) {
    return fail("The statement text is empty.");
  }
  // Table definitions are written for SQLite (COLLATE TSQL and the like).
  const bool ddl = isKw(t_[0], "create") || isKw(t_[0], "drop") || isKw(t_[0], "alter");
  int depth = 0;
  for (const Token& tok : t_) {
    if (isPunct(tok, "(")) {
      ++depth;
    } else if (isPunct(tok, ")")) {
      if (--depth < 0) {
        return fail("Incorrect syntax near ')'.");
      }
    } else if (isPunct(tok, ";")) {
      return unsupported("more than one statement in one text");
    } else if (tok.type == Tok::Word && tok.text[0] == '@') {
      return unsupported("the variable " + tok.text);
    } else if (tok.type == Tok::Word && tok.text[0] == '#') {
      return unsupported("the temporary table " + tok.text);
    } else if (tok.type == Tok::Number && &tok != &t_.front() && (&tok - 1)->type == Tok::Param &&
               !tok.space) {
      return unsupported("numbered placeholders");
    } else if (isPunct(tok, ":") || isPunct(tok, "$") || isPunct(tok, "{") || isPunct(tok, "}")) {
      return fail("Incorrect syntax near '" + tok.text + "'.");
    } else if (!ddl && !checkDialect(static_cast<std::size_t>(&tok - t_.data()))) {
      return false;
    }
  }
  if (depth != 0) {
    return fail("Incorrect syntax: unbalanced parentheses.");
  }
  return true;
}

// SQLite's own operators and words, which SQL Server does not have: a
// text that uses them fails here instead of running with SQLite's
// meaning.
bool Rewriter::checkDialect(std::size_t i) {
  const Token& tok = t_[i];
  const Token* next = i + 1 < t_.size() ? &t_[i + 1] : nullptr;
  const bool joined = next != nullptr && !next->space;
  if (isPunct(tok, "||")) {
    return unsupported("the operator || (T-SQL joins texts with +)");
  }
  if (isPunct(tok, "`")) {
    return fail("Incorrect syntax near '`'.");
  }
  if (isKw(tok, "nulls") && next != nullptr && (isKw(*next, "first") || isKw(*next, "last"))) {
    return fail("Incorrect syntax near '" + tok.text + "'.");
  }
  if (isPunct(tok, "==")) {
    return unsupported("the operator == (T-SQL compares with =)");
  }
  if (joined &&
      ((isPunct(tok, "<") && isPunct(*next, "<")) || (isPunct(tok, ">") && isPunct(*next, ">")))) {
    return unsupported("the shift operator " + tok.text + next->text);
  }
  if (joined && isPunct(tok, "-") && isPunct(*next, ">")) {
    return unsupported("the operator ->");
  }
  if (tok.type != Tok::Word) {
    return true;
  }
  if (joined && next->type == Tok::String && (tok.text == "x" || tok.text == "X")) {
    return unsupported("the blob literal x'...' (T-SQL writes 0x...)");
  }
  static constexpr std::array<std::string_view, 11> kWords = {
      "limit",     "offset",  "glob",    "regexp",   "match", "notnull",
      "returning", "indexed", "collate", "conflict", "pragma"};
  for (std::string_view w : kWords) {
    if (equalsNoCase(tok.text, w)) {
      return unsupported(lowered(w) == "limit" ? std::string("LIMIT (T-SQL has TOP)")
                                               : "the word " + lowered(tok.text));
    }
  }
  if (equalsNoCase(tok.text, "isnull") && (next == nullptr || !isPunct(*next, "("))) {
    return unsupported("the operator ISNULL (T-SQL writes IS NULL)");
  }
  if (i == 1 && isKw(tok, "or") && isKw(t_[0], "insert")) {
    return unsupported("INSERT OR ...");
  }
  return true;
}

// db..table, db.dbo.table and dbo.table.
bool Rewriter::resolveNames() {
  for (std::size_t i = 0; i < t_.size(); ++i) {
    if (!isName(t_[i]) || (i > 0 && isPunct(t_[i - 1], "."))) {
      continue;
    }
    const bool twoDots = i + 3 < t_.size() && isPunct(t_[i + 1], ".") && isPunct(t_[i + 2], ".") &&
                         isName(t_[i + 3]);
    const bool dboMiddle = i + 4 < t_.size() && isPunct(t_[i + 1], ".") && isName(t_[i + 2]) &&
                           equalsNoCase(nameOf(t_[i + 2]), "dbo") && isPunct(t_[i + 3], ".") &&
                           isName(t_[i + 4]);
    if (twoDots || dboMiddle) {
      const std::size_t tableAt = twoDots ? i + 3 : i + 4;
      const std::string db = nameOf(t_[i]);
      Token schema = t_[i];
      if (equalsNoCase(db, ctx_.targetDatabase)) {
        schema = Token{Tok::Word, "main", t_[i].space};
      } else if (!ctx_.isAttached || !ctx_.isAttached(db)) {
        return fail("Invalid object name '" + db + ".." + nameOf(t_[tableAt]) + "'.");
      }
      replace(i, tableAt + 1, {schema, punct("."), t_[tableAt]});
      continue;
    }
    if (i + 2 < t_.size() && equalsNoCase(nameOf(t_[i]), "dbo") && isPunct(t_[i + 1], ".") &&
        isName(t_[i + 2])) {
      replace(i, i + 2, {});
    }
  }
  return true;
}

// with (nolock) and its kin after a table or alias. A CTE's WITH is
// followed by a name, never by '(', so the two cannot be confused.
bool Rewriter::dropTableHints() {
  static constexpr std::array<std::string_view, 14> kHints = {
      "nolock",   "readuncommitted", "readcommitted", "repeatableread", "serializable",
      "holdlock", "rowlock",         "paglock",       "tablock",        "tablockx",
      "updlock",  "xlock",           "readpast",      "nowait"};
  for (std::size_t i = 0; i + 1 < t_.size(); ++i) {
    if (!isKw(t_[i], "with") || !isPunct(t_[i + 1], "(")) {
      continue;
    }
    const std::size_t close = matchParen(i + 1);
    for (std::size_t k = i + 2; k < close; ++k) {
      if (isPunct(t_[k], ",")) {
        continue;
      }
      const bool known = t_[k].type == Tok::Word &&
                         std::any_of(kHints.begin(), kHints.end(), [&](std::string_view h) {
                           return equalsNoCase(t_[k].text, h);
                         });
      if (!known) {
        return unsupported("the table hint '" + t_[k].text + "'");
      }
    }
    replace(i, close + 1, {});
    --i;
  }
  return true;
}

bool Rewriter::valuesTables() {
  for (std::size_t i = 0; i + 1 < t_.size(); ++i) {
    if (!isPunct(t_[i], "(") || !isKw(t_[i + 1], "values")) {
      continue;
    }
    const std::size_t close = matchParen(i);
    std::size_t alias = close + 1;
    if (alias < t_.size() && isKw(t_[alias], "as")) {
      ++alias;
    }
    if (alias + 1 >= t_.size() || !isName(t_[alias]) || !isPunct(t_[alias + 1], "(")) {
      continue;
    }
    const std::size_t listClose = matchParen(alias + 1);
    Tokens select = {punct("(", t_[i].space), word("SELECT")};
    int n = 0;
    for (std::size_t k = alias + 2; k < listClose; ++k) {
      if (isPunct(t_[k], ",") && k > alias + 2) {
        continue;
      }
      if (!isName(t_[k])) {
        return fail("Incorrect syntax near '" + t_[k].text + "'.");
      }
      if (n > 0) {
        select.push_back(punct(","));
      }
      select.push_back(word("column" + std::to_string(++n)));
      select.push_back(word("AS"));
      Token name = t_[k];
      name.space = true;
      select.push_back(std::move(name));
    }
    select.push_back(word("FROM"));
    Tokens values = slice(i, close + 1);
    values.front().space = true;
    select.insert(select.end(), values.begin(), values.end());
    select.push_back(punct(")"));
    const Tokens named = slice(close + 1, alias + 1);
    select.insert(select.end(), named.begin(), named.end());
    replace(i, listClose + 1, std::move(select));
  }
  return true;
}

}  // namespace cvt::rewrite
