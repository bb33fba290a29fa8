// Statement forms.
//  - rewriteTop (after the operators): TOP n of a select becomes LIMIT n at
//    the end of the select's scope; TOP in INSERT, UPDATE or DELETE, with
//    PERCENT or WITH TIES, or beside UNION, is refused.
//  - dispatch (the last pass) gives the statement its kind and SQLite form
//    by its first word: a query as it stands (SELECT ... INTO refused);
//    INSERT INTO with its values fitted (fitting.cpp); DELETE FROM, and
//    DELETE of a join's rows chosen by rowid; UPDATE in SQL Server's
//    meaning (rewriteUpdate: the target out of its FROM list, SET's
//    qualifiers dropped, values fitted); TRUNCATE TABLE as DELETE with the
//    identity started again; the ALTER TABLE trigger switch; SAVE and
//    ROLLBACK TRAN name as savepoints; CREATE, DROP and ALTER as they are
//    (changesSchema); anything else refused. A change also gets its batch
//    form (batch_form.cpp).
// Gives the caller the texts to run in order, the kind and the batch form.

#include <algorithm>

#include "db/sqlite/rewriter/rewriter.h"

namespace cvt::rewrite {

// select [distinct] top n ... -> select [distinct] ... LIMIT n, placed at
// the end of the select's own scope (its closing parenthesis or the end).
bool Rewriter::rewriteTop() {
  if (t_.size() > 1 && isKw(t_[1], "top") &&
      (isKw(t_[0], "update") || isKw(t_[0], "delete") || isKw(t_[0], "insert"))) {
    return unsupported("TOP in " + lowered(t_[0].text));
  }
  for (std::size_t i = t_.size(); i-- > 0;) {
    if (!isKw(t_[i], "select")) {
      continue;
    }
    std::size_t k = i + 1;
    if (k < t_.size() && (isKw(t_[k], "distinct") || isKw(t_[k], "all"))) {
      ++k;
    }
    if (k >= t_.size() || !isKw(t_[k], "top")) {
      continue;
    }
    Tokens count;
    std::size_t after = k + 2;
    if (k + 1 < t_.size() && t_[k + 1].type == Tok::Number) {
      count = {t_[k + 1]};
    } else if (k + 1 < t_.size() && isPunct(t_[k + 1], "(")) {
      const std::size_t close = matchParen(k + 1);
      count = slice(k + 1, close + 1);
      after = close + 1;
    } else {
      return fail("Incorrect syntax near 'top'.");
    }
    if (after < t_.size() &&
        (isKw(t_[after], "percent") ||
         (isKw(t_[after], "with") && after + 1 < t_.size() && isKw(t_[after + 1], "ties")))) {
      return unsupported("TOP with PERCENT or WITH TIES");
    }
    replace(k, after, {});
    // The scope ends at the parenthesis that closes the select, or at the
    // end of the statement.
    std::size_t end = t_.size();
    int depth = 0;
    for (std::size_t m = k; m < t_.size(); ++m) {
      if (isPunct(t_[m], "(")) {
        ++depth;
      } else if (isPunct(t_[m], ")")) {
        if (depth-- == 0) {
          end = m;
          break;
        }
      } else if (depth == 0 && (isKw(t_[m], "union") || isKw(t_[m], "except") ||
                                isKw(t_[m], "intersect") || isKw(t_[m], "limit"))) {
        return unsupported("TOP together with " + t_[m].text);
      }
    }
    Tokens limit = {word("LIMIT")};
    for (Token c : count) {
      limit.push_back(std::move(c));
    }
    limit[1].space = true;
    t_.insert(t_.begin() + static_cast<std::ptrdiff_t>(end), limit.begin(), limit.end());
  }
  return true;
}

bool Rewriter::dispatch(RewriteResult& result) {
  const Token& first = t_[0];
  if (isKw(first, "select") || isKw(first, "with")) {
    result.kind = SqlKind::Query;
    if (isKw(first, "select")) {
      const std::size_t into = findTop("into", 1, t_.size());
      if (into != kNone) {
        return unsupported("SELECT ... INTO");
      }
    }
  } else if (isKw(first, "insert")) {
    result.kind = SqlKind::Change;
    if (t_.size() < 2 || !isKw(t_[1], "into")) {
      t_.insert(t_.begin() + 1, word("INTO"));
    }
    if (!identityInsert() || !fitInsert()) {
      return false;
    }
  } else if (isKw(first, "delete")) {
    result.kind = SqlKind::Change;
    if (t_.size() < 2 || !isKw(t_[1], "from")) {
      t_.insert(t_.begin() + 1, word("FROM"));
    }
    if (const std::size_t from = findTop("from", 2, t_.size());
        from != kNone && !deleteFromJoin(from)) {
      return false;
    }
  } else if (isKw(first, "update")) {
    result.kind = SqlKind::Change;
    if (!rewriteUpdate()) {
      return false;
    }
  } else if (isKw(first, "truncate")) {
    result.kind = SqlKind::Other;
    const auto name = tableName(2);
    if (t_.size() < 3 || !isKw(t_[1], "table") || !name || name->end != t_.size()) {
      return fail("Incorrect syntax in truncate table: one table name is expected.");
    }
    replace(0, 2, {word("DELETE"), word("FROM")});
    // Truncate starts the identity column again at its seed, 1.
    const TableColumns* columns = ctx_.types ? ctx_.types->find(name->schema, name->name) : nullptr;
    if (columns != nullptr && !columns->identity.empty()) {
      std::string table;
      for (char c : name->name) {
        table += c == '\'' ? std::string("''") : std::string(1, c);
      }
      result.statements.push_back(render(t_));
      result.statements.push_back("DELETE FROM " +
                                  (name->schema.empty() ? std::string("main") : name->schema) +
                                  ".sqlite_sequence WHERE name = '" + table + "' COLLATE NOCASE");
      return true;
    }
  } else if (isKw(first, "alter")) {
    result.kind = SqlKind::Other;
    if (t_.size() > 1 && isKw(t_[1], "table")) {
      const auto name = tableName(2);
      if (name && name->end < t_.size() &&
          (isKw(t_[name->end], "enable") || isKw(t_[name->end], "disable"))) {
        return triggerSwitch(*name, isKw(t_[name->end], "disable"), result);
      }
    }
    result.changesSchema = true;  // a trigger switch changes no table
  } else if (isKw(first, "create") || isKw(first, "drop")) {
    result.kind = SqlKind::Other;
    result.changesSchema = true;
  } else if ((isKw(first, "save") || isKw(first, "rollback")) && t_.size() == 3 &&
             (isKw(t_[1], "transaction") || isKw(t_[1], "tran")) && t_[2].type == Tok::Word) {
    // A named savepoint and the return to it: what a rehearsal makes of
    // the run's commits and rollbacks. Plain transaction statements stay
    // refused below, since the session owns the transaction.
    result.kind = SqlKind::Other;
    if (isKw(first, "save")) {
      replace(0, 2, {word("SAVEPOINT")});
    } else {
      replace(0, 2, {word("ROLLBACK"), word("TO"), word("SAVEPOINT")});
    }
  } else if (isKw(first, "begin") || isKw(first, "commit") || isKw(first, "rollback") ||
             isKw(first, "save")) {
    return unsupported("transaction statements in a text (the session commits and rolls back)");
  } else {
    return unsupported("a statement that begins with '" + first.text + "'");
  }
  if (result.kind == SqlKind::Change) {
    result.batch = batchForm();
  }
  result.statements.push_back(render(t_));
  return true;
}

// DELETE FROM target FROM list [WHERE ...]: the target is a table of the
// list (by its alias or its name) whose joined rows go. SQLite deletes
// from one table only, so the rows are chosen by a query of the list.
bool Rewriter::deleteFromJoin(std::size_t from) {
  const auto target = tableName(2);
  if (!target || target->end != from) {
    return fail("Incorrect syntax near the keyword 'from'.");
  }
  const std::size_t where = findTop("where", from + 1, t_.size());
  const std::size_t listEnd = where == kNone ? t_.size() : where;
  // The table that the target names: a table of the list with that
  // alias, or the target itself.
  Tokens table = slice(2, from);
  if (target->schema.empty()) {
    for (std::size_t i = from + 1; i < listEnd; ++i) {
      const auto name = tableName(i);
      if (!name || (i > from + 1 && !isPunct(t_[i - 1], ",") && !isKw(t_[i - 1], "join"))) {
        continue;
      }
      std::size_t alias = name->end;
      if (alias < listEnd && isKw(t_[alias], "as")) {
        ++alias;
      }
      if (alias < listEnd && isName(t_[alias]) && equalsNoCase(nameOf(t_[alias]), target->name)) {
        table = slice(i, name->end);
        break;
      }
    }
  }
  Tokens out{word("DELETE"), word("FROM")};
  out.insert(out.end(), table.begin(), table.end());
  out.insert(out.end(),
             {word("WHERE"), word("rowid"), word("IN"), punct("(", true), word("SELECT")});
  Tokens ref = slice(2, from);
  ref.front().space = true;
  out.insert(out.end(), ref.begin(), ref.end());
  out.insert(out.end(), {punct("."), word("rowid")});
  Tokens rest = slice(from, t_.size());
  out.insert(out.end(), rest.begin(), rest.end());
  out.push_back(punct(")"));
  t_ = std::move(out);
  return true;
}

// ALTER TABLE t disable|enable TRIGGER all.
bool Rewriter::triggerSwitch(const NameRef& name, bool disable, RewriteResult& result) {
  const std::size_t at = name.end + 1;
  if (at + 2 != t_.size() || !isKw(t_[at], "trigger")) {
    return fail("Incorrect syntax in ALTER TABLE ... TRIGGER.");
  }
  if (!isKw(t_[at + 1], "all")) {
    return unsupported("switching a single trigger (only TRIGGER ALL)");
  }
  const std::string schema = quoteName(name.schema.empty() ? "main" : name.schema);
  const std::string table = stringLiteral(name.name).text;
  const std::string missing =
      stringLiteral("Cannot find the object \"" + name.name +
                    "\" because it does not exist or you do not have permissions.")
          .text;
  result.statements.push_back(
      "SELECT tsql_error(" + missing + ") WHERE NOT EXISTS (SELECT 1 FROM " + schema +
      ".sqlite_master WHERE type = 'table' AND name = " + table + " COLLATE NOCASE)");
  if (disable) {
    result.statements.push_back("INSERT OR IGNORE INTO " + schema +
                                ".tsql_trigger_off (table_name) VALUES (" + table + ")");
  } else {
    result.statements.push_back("DELETE FROM " + schema +
                                ".tsql_trigger_off WHERE table_name = " + table);
  }
  return true;
}

// UPDATE target SET ... [FROM list] [WHERE ...] in SQL Server's meaning.
bool Rewriter::rewriteUpdate() {
  const auto target = tableName(1);
  if (!target) {
    return fail("Incorrect syntax in update: a table name is expected.");
  }
  const std::size_t set = target->end;
  if (set >= t_.size() || !isKw(t_[set], "set")) {
    return fail("Incorrect syntax in update: SET is expected after the table.");
  }
  const std::size_t from = findTop("from", set + 1, t_.size());
  const std::size_t where = findTop("where", from == kNone ? set + 1 : from + 1, t_.size());
  const std::size_t setEnd = from != kNone ? from : (where != kNone ? where : t_.size());

  Tokens out = {t_[0]};
  Tokens targetTokens = slice(1, set);

  // SET list: a qualifier left of '=' names the target; SQLite wants the
  // bare column. Each assignment is kept as column and value, to be
  // fitted to the column's declared type once the target table is known.
  struct Assignment {
    Tokens column;  // the bare column, or the whole item when it has no '='
    Tokens value;
    std::size_t valueBegin = 0;  // where the value stands in the text
    std::size_t valueEnd = 0;
  };
  std::vector<Assignment> assignments;
  for (const auto& [b, e] : splitTop(set + 1, setEnd)) {
    std::size_t eq = b;
    while (eq < e && !isPunct(t_[eq], "=")) {
      ++eq;
    }
    if (eq == e) {
      assignments.push_back(Assignment{slice(b, e), {}});
      continue;
    }
    if (eq == b || !isName(t_[eq - 1])) {
      return fail("Incorrect syntax in the SET list of update.");
    }
    Tokens column = {t_[eq - 1]};
    column.front().space = t_[b].space;
    assignments.push_back(Assignment{std::move(column), slice(eq + 1, e), eq + 1, e});
  }
  NameRef targetTable = *target;

  Tokens fromPart;
  Tokens extraCondition;
  if (from != kNone) {
    const std::size_t fromEnd = where != kNone ? where : t_.size();
    bool matched = false;
    std::vector<Tokens> entries;
    for (const auto& [b, e] : splitTop(from + 1, fromEnd)) {
      const auto table = tableName(b);
      if (!table) {
        entries.push_back(slice(b, e));
        continue;
      }
      std::size_t k = table->end;
      std::string alias;
      if (k < e && isKw(t_[k], "as")) {
        ++k;
      }
      if (k < e && isName(t_[k]) && !isClauseKeyword(t_[k])) {
        alias = nameOf(t_[k]);
        ++k;
      }
      const bool sameTable =
          equalsNoCase(table->name, target->name) &&
          (target->schema.empty() || equalsNoCase(table->schema, target->schema) ||
           (table->schema.empty() && equalsNoCase(target->schema, "main")));
      const bool byAlias = target->schema.empty() && equalsNoCase(alias, target->name);
      if (!sameTable && !byAlias) {
        // The target must not hide further down a join chain.
        for (std::size_t m = k; m < e; ++m) {
          if (isName(t_[m]) && equalsNoCase(nameOf(t_[m]), target->name) &&
              !(m > 0 && isPunct(t_[m - 1], ".")) && !(m + 1 < e && isPunct(t_[m + 1], "."))) {
            return unsupported("an update whose target is joined inside its FROM list");
          }
        }
        entries.push_back(slice(b, e));
        continue;
      }
      if (matched) {
        return unsupported("an update whose target appears twice in its FROM list");
      }
      matched = true;
      targetTable = *table;
      // The FROM entry is the target row itself: name it in UPDATE.
      targetTokens = slice(b, table->end);
      if (!alias.empty()) {
        targetTokens.push_back(word("AS"));
        targetTokens.push_back(Token{Tok::Quoted, quoteName(alias), true});
      }
      if (k == e) {
        continue;  // a plain list entry: dropped
      }
      // T [inner] join U on C ...: keep U ... and move C into WHERE.
      if (isKw(t_[k], "inner")) {
        ++k;
      }
      if (k >= e || !isKw(t_[k], "join")) {
        return unsupported("an update whose target heads an outer or cross join");
      }
      const std::size_t on = findTop("on", k + 1, e);
      if (on == kNone) {
        return fail("Incorrect syntax in the join: ON is missing.");
      }
      std::size_t condEnd = e;
      for (std::size_t m = on + 1; m < e; ++m) {
        if (isPunct(t_[m], "(")) {
          m = matchParen(m);
        } else if (isKw(t_[m], "join") || isKw(t_[m], "inner") || isKw(t_[m], "left") ||
                   isKw(t_[m], "right") || isKw(t_[m], "full") || isKw(t_[m], "cross")) {
          condEnd = m;
          break;
        }
      }
      Tokens entry = slice(k + 1, on);
      const Tokens rest = slice(condEnd, e);
      entry.insert(entry.end(), rest.begin(), rest.end());
      entries.push_back(std::move(entry));
      extraCondition = slice(on + 1, condEnd);
    }
    for (std::size_t n = 0; n < entries.size(); ++n) {
      fromPart.push_back(n == 0 ? t_[from] : punct(","));
      fromPart.insert(fromPart.end(), entries[n].begin(), entries[n].end());
    }
  }

  Tokens wherePart;
  if (!extraCondition.empty()) {
    extraCondition.front().space = false;
    wherePart = {word("WHERE"), punct("(", true)};
    wherePart.insert(wherePart.end(), extraCondition.begin(), extraCondition.end());
    wherePart.push_back(punct(")"));
    if (where != kNone) {
      wherePart.push_back(word("AND"));
      wherePart.push_back(punct("(", true));
      Tokens rest = slice(where + 1, t_.size());
      if (!rest.empty()) {
        rest.front().space = false;
      }
      wherePart.insert(wherePart.end(), rest.begin(), rest.end());
      wherePart.push_back(punct(")"));
    }
  } else if (where != kNone) {
    wherePart = slice(where, t_.size());
  }

  const TableColumns* declared = declaredColumns(targetTable);
  // A value that cannot break its column is stored as it is, as in an
  // insert's select list. Besides the call per row this saves the
  // statement journal that SQLite keeps for a statement calling any
  // function while it changes many rows, in case the call fails half way.
  std::vector<SourceTable> sources = sourceTables(from);
  if (declared != nullptr &&
      std::none_of(sources.begin(), sources.end(),
                   [&](const SourceTable& s) { return s.columns == declared; })) {
    sources.push_back(SourceTable{targetTable.name, declared});
  }
  Tokens setPart = {t_[set]};
  for (std::size_t n = 0; n < assignments.size(); ++n) {
    if (n > 0) {
      setPart.push_back(punct(","));
    }
    Assignment& a = assignments[n];
    setPart.insert(setPart.end(), a.column.begin(), a.column.end());
    if (a.value.empty()) {
      continue;
    }
    setPart.push_back(punct("=", true));
    const ColumnRule* rule =
        declared != nullptr ? declared->find(nameOf(a.column.front())) : nullptr;
    const Tokens value = fitsAlready(rule, a.valueBegin, a.valueEnd, sources)
                             ? std::move(a.value)
                             : fitted(rule, std::move(a.value));
    setPart.insert(setPart.end(), value.begin(), value.end());
  }

  if (!targetTokens.empty()) {
    targetTokens.front().space = true;
  }
  out.insert(out.end(), targetTokens.begin(), targetTokens.end());
  out.insert(out.end(), setPart.begin(), setPart.end());
  out.insert(out.end(), fromPart.begin(), fromPart.end());
  out.insert(out.end(), wherePart.begin(), wherePart.end());
  t_ = std::move(out);
  return true;
}

}  // namespace cvt::rewrite
