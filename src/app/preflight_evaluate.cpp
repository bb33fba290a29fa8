#include <algorithm>

#include "app/preflight_filters.h"
#include "app/preflight_predictor.h"
#include "app/run_driver.h"

namespace cvt::preflight {

void Predictor::warnTriggers(const Model& m, Table& t) {
  if (!t.rulesRead || !t.rules.exposed) {
    if (triggersWarned_.insert(lowered(m.table) + " rules").second) {
      add(m, CheckSeverity::Warning,
          "the catalogue does not show the indexes, CHECK constraints, foreign keys and "
          "triggers of " +
              m.table + ", so the rows written into it were checked against its columns only");
    }
    return;
  }
  const auto& suspended = suspendedTables();
  const bool switched = std::any_of(suspended.begin(), suspended.end(),
                                    [&](std::string_view s) { return sameName(s, m.table); });
  if (switched || t.rules.triggers.empty() || !triggersWarned_.insert(lowered(m.table)).second) {
    return;
  }
  std::string names;
  for (const auto& n : t.rules.triggers) {
    names += (names.empty() ? "" : ", ") + n;
  }
  add(m, CheckSeverity::Warning,
      m.table + " has trigger" + (t.rules.triggers.size() == 1 ? " " : "s ") + names +
          ", which the run does not switch off; what " +
          (t.rules.triggers.size() == 1 ? "it does" : "they do") +
          " with the rows written was not checked",
      {}, "trigger");
}

void Predictor::evaluate(const Model& m) {
  Table& t = table(m.table);
  if (!t.info.exists) {
    return;  // reported with the tables the category uses
  }
  for (const auto& [column, expr] : m.values) {
    if (t.info.find(column) == nullptr) {
      missingColumn(m, column);
      return;
    }
  }
  warnTriggers(m, t);
  // One expression per column of the table: what the statement writes
  // there, or what the row keeps (update) or gets by default (insert).
  std::vector<std::string> exprs;
  std::vector<bool> written;
  for (const auto& c : t.info.columns) {
    const auto given = std::find_if(m.values.begin(), m.values.end(),
                                    [&](const auto& v) { return sameName(v.first, c.name); });
    if (given != m.values.end()) {
      exprs.push_back("(" + expand(given->second) + ")");
      written.push_back(true);
    } else if (m.update) {
      exprs.push_back("t." + c.name);
      written.push_back(false);
    } else if (c.identity) {
      exprs.emplace_back("NULL");
      written.push_back(false);
    } else {
      const auto d = defaultExpression(c.defaultValue);
      exprs.push_back(d ? *d : "NULL");
      // A default the check cannot select still gives the column a value.
      written.push_back(d.has_value() && !c.identity);
    }
  }
  std::string list;
  for (std::size_t i = 0; i < exprs.size(); ++i) {
    list += (i > 0 ? ", " : "") + exprs[i] + " as " + t.info.columns[i].name;
  }
  std::string rowSelect;
  if (m.update) {
    rowSelect = "select " + list + ", " + expand(m.key) + " as chk_key from (" + state(m.table) +
                ") t" + (m.where.empty() ? "" : " where " + expand(m.where));
  } else {
    rowSelect = "select " + list + ", " + expand(m.key) + " as chk_key" +
                (m.from.empty() ? "" : " from " + expand(m.from)) +
                (m.where.empty() ? "" : " where " + expand(m.where));
  }
  // A query that cannot even be compiled names what the target lacks, or
  // is one the check cannot put; one that fails on the rows fails the run's
  // statement the same way.
  {
    auto probe = SQLCA_.openCursor("select * from (" + rowSelect + ") chk_probe where 1 = 0");
    Row row;
    if (probe->fetch(row) < 0) {
      const std::string error = SQLCA_.SQLErrText();
      if (missingObject(error)) {
        // What is missing is usually reported already, with the tables and
        // columns the category uses; one finding of it is enough.
        const bool told = std::any_of(
            report_.findings.begin(), report_.findings.end(), [&](const CheckFinding& f) {
              return f.category == m.category && f.severity == CheckSeverity::WillFail;
            });
        if (!told || m.tolerated) {
          add(m, severityOf(m), m.what + " cannot run on the target as it stands: " + error);
        }
      } else {
        add(m, CheckSeverity::Warning, m.what + " could not be evaluated: " + error);
      }
      return;
    }
  }
  modelBreached_.clear();
  evaluateRows(m, t, rowSelect, written, exprs);
  checkUnique(m, t, rowSelect, written);
  checkQueries(m, t, rowSelect, written);
  advance(m, t, exprs);
  for (const auto i : modelBreached_) {
    breached_[lowered(m.table)].insert(lowered(t.info.columns[i].name));
  }
  if (!m.update && !m.keep) {
    rewritten_.insert(lowered(m.table));
  }
}

// The rows whose values all fit are left out by the query itself; those
// that may not are fetched and fitted one by one. When the database cannot
// put that query (a condition it refuses, a value it cannot compare), every
// row is fetched. Values known to fit without a row being read (see
// knownToFit) are not looked at.
void Predictor::evaluateRows(const Model& m, Table& t, const std::string& rowSelect,
                             const std::vector<bool>& written,
                             const std::vector<std::string>& exprs) {
  const auto& columns = t.info.columns;
  const std::vector<preflight::SourceTable> from =
      m.update ? std::vector<preflight::SourceTable>() : preflight::fromTables(m.from);
  // One query per set of tables the values read: a condition over one
  // table of a join is then tested once per row of that table, not once
  // per row of the join. Each query fits only its own columns, so that
  // every value is fitted once.
  struct Group {
    std::string condition;
    std::vector<bool> fitted;
    std::string list;  // the group's values over its one table (see below)
  };
  std::map<std::string, Group> groups;
  std::vector<bool> looked(columns.size(), false);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnInfo& c = columns[i];
    if (c.identity || !written[i]) {
      continue;
    }
    const auto expr = givenExpr(m, c);
    if (expr && knownToFit(m, c, *expr)) {
      continue;
    }
    looked[i] = true;
    const std::string value = "t." + c.name;
    std::string condition =
        preflight::mayNotFit(ValueFitter::limits(fitter_.rule(declaredOf(c))), value);
    if (!c.nullable) {
      condition = condition.empty() ? value + " is null" : condition + " or " + value + " is null";
    }
    if (condition.empty()) {
      // Never true, but the value is still computed, so that a value the
      // statement cannot compute fails this query as it fails the run.
      condition = "datalength(" + value + ") < 0";
    }
    std::set<std::string> reads;
    if (!m.update) {
      for (const auto& ref : preflight::columnsOf(expr ? *expr : "")) {
        reads.insert(lowered(ref.qualifier));
      }
    }
    std::string key;
    for (const auto& r : reads) {
      key += r + ",";
    }
    auto& group = groups[key];
    group.condition += (group.condition.empty() ? "" : " or ") + condition;
    group.fitted.resize(columns.size(), false);
    group.fitted[i] = true;
    group.list += (group.list.empty() ? "" : ", ") + exprs[i] + " as " + c.name;
  }
  // The values of a product of tables that read one of them are looked at
  // over that table alone first, all its rows: when none may break a rule
  // there, none of those the statement writes does.
  auto alone = [&](const std::string& key, const Group& group) -> std::optional<std::string> {
    if (!m.product || from.size() < 2 || key.empty() || key.find(',') + 1 != key.size()) {
      return std::nullopt;
    }
    for (const auto& s : from) {
      const std::string name =
          !s.table.empty() && s.table.front() == '@' ? s.table.substr(1) : s.table;
      const std::string alias = s.alias.empty() ? name : s.alias;
      if (lowered(alias) + "," == key) {
        const std::string source =
            s.database.empty() ? expand(s.table) : s.database + ".." + s.table;
        return "select top 1 1 from (select " + group.list + " from " + source + " " + alias +
               ") t where " + group.condition;
      }
    }
    return std::nullopt;
  };
  Breaches breaches;
  bool filtered = true;
  bool readRows = false;
  for (const auto& [key, group] : groups) {
    if (const auto query = alone(key, group)) {
      auto cursor = SQLCA_.openCursor(*query);
      Row row;
      if (cursor->fetch(row) == kSqlNoData) {
        continue;
      }
    }
    readRows = true;
    filtered =
        filtered && fitRows(m, t, "select * from (" + rowSelect + ") t where " + group.condition,
                            group.fitted, breaches);
  }
  if (!filtered) {
    breaches.clear();
    if (!fitRows(m, t, rowSelect, looked, breaches)) {
      add(m, severityOf(m),
          m.what + " fails on the rows it would write: " + SQLCA_.SQLErrText() + consequence(m));
      for (std::size_t i = 0; i < columns.size(); ++i) {
        modelBreached_.insert(i);
      }
      return;
    }
  } else if (!readRows && !m.whereCannotFail && whereMayFail(m.where)) {
    // No value needed a row read, but the rows the statement picks may
    // still make it fail.
    Value n;
    if (SQLCA_.selectInto("select count(*) from (" + rowSelect + ") t", {}, {&n}) != kSqlOk) {
      add(m, severityOf(m),
          m.what + " fails on the rows it would write: " + SQLCA_.SQLErrText() + consequence(m));
      for (std::size_t i = 0; i < columns.size(); ++i) {
        modelBreached_.insert(i);
      }
      return;
    }
  }
  for (const auto& [where, b] : breaches) {
    const ColumnInfo& c = columns[where.first];
    modelBreached_.insert(where.first);
    if (b.rule == "NOT NULL") {
      report(m, b,
             m.table + "." + c.name + " is NOT NULL, but " + m.what + " would leave it NULL in " +
                 plural(b.rows, "row", "rows") + " (" + b.error + ")");
    } else {
      report(m, b,
             m.table + "." + c.name + " is " + b.rule + ", but " + m.what + " would write " +
                 plural(b.rows, "value", "values") + " it cannot hold (" + b.error + ")");
    }
  }
}

// Fits the values of the `fitted` columns of the rows `query` returns (the
// row select's columns) and adds the rules they break to `breaches`; false
// when the query fails.
bool Predictor::fitRows(const Model& m, Table& t, const std::string& query,
                        const std::vector<bool>& fitted, Breaches& breaches) {
  const auto& columns = t.info.columns;
  auto breach = [&](std::size_t i, const std::string& rule, const std::string& error,
                    const std::string& key, const Value& value) {
    Breach& b = breaches[{i, rule}];
    b.column = columns[i].name;
    b.rule = rule;
    b.error = error;
    if (++b.rows <= static_cast<long long>(kExamples)) {
      b.examples.push_back(shownValue(key) + ": " + shownValue(value));
    }
  };
  std::vector<const ValueFitter::Rule*> rules;
  for (const auto& c : columns) {
    rules.push_back(fitter_.rule(declaredOf(c)));
  }
  auto cursor = SQLCA_.openCursor(query);
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    const std::string key =
        row.size() > columns.size() ? row[columns.size()].value_or("NULL") : std::string("?");
    for (std::size_t i = 0; i < columns.size() && i < row.size(); ++i) {
      const ColumnInfo& c = columns[i];
      if (c.identity || !fitted[i]) {
        continue;  // kept as it is, given a default the check cannot read, or another query's
      }
      const FitOutcome fit = fitter_.fit(rules[i], row[i]);
      if (!fit.ok) {
        breach(i, typeName(c), fit.error, key, row[i]);
      } else if (!fit.stored && !c.nullable) {
        const bool given = std::any_of(m.values.begin(), m.values.end(),
                                       [&](const auto& v) { return sameName(v.first, c.name); });
        breach(i, "NOT NULL",
               given ? "Cannot insert the value NULL into column '" + c.name + "'"
                     : "the statement leaves the column out and it has no default",
               key, row[i]);
      }
    }
  }
  return code >= 0;
}

void Predictor::checkUnique(const Model& m, Table& t, const std::string& rowSelect,
                            const std::vector<bool>& written) {
  if (!t.rules.exposed) {
    return;
  }
  const auto& columns = t.info.columns;
  for (const IndexInfo& index : t.rules.indexes) {
    if (!index.unique) {
      continue;
    }
    std::vector<std::size_t> parts;
    bool usable = !index.columns.empty();
    bool touched = !m.update;
    for (const auto& name : index.columns) {
      const auto at = std::find_if(columns.begin(), columns.end(),
                                   [&](const ColumnInfo& c) { return sameName(c.name, name); });
      if (at == columns.end() || at->identity) {
        usable = false;
        break;
      }
      const auto i = static_cast<std::size_t>(at - columns.begin());
      parts.push_back(i);
      touched = touched || written[i];
    }
    if (!usable || !touched) {
      continue;
    }
    // The rows of the table beside the written ones: those the clearing
    // spares (insert) or the update leaves alone.
    std::optional<std::string> others;
    if (m.update && !m.where.empty()) {
      others = keptBy(expand(m.where));
    } else if (!m.update && m.keep) {
      others = *m.keep;
    }
    if (keysDistinct(m, t, parts, others.has_value())) {
      continue;
    }
    if (keysMayCollide(m, t, rowSelect, parts, others)) {
      compareKeys(m, t, rowSelect, index, parts, others);
    }
  }
}

// Whether any key of the written rows may be shared, asked of the database:
// the keys grouped in the form the column stores them, which makes equal
// every two keys the column would take as equal (and perhaps more). True
// as well when the database cannot answer.
bool Predictor::keysMayCollide(const Model& m, const Table& t, const std::string& rowSelect,
                               const std::vector<std::size_t>& parts,
                               const std::optional<std::string>& others) {
  const auto& columns = t.info.columns;
  std::string written;
  std::string kept;
  std::string names;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const ColumnInfo& c = columns[parts[k]];
    const std::string declared = declaredOf(c);
    const std::string form =
        preflight::storedForm(ValueFitter::limits(fitter_.rule(declared)), declared, "t." + c.name);
    if (form.empty()) {
      return true;
    }
    const std::string name = "chk_k" + std::to_string(k);
    written += form + " as " + name + ", ";
    kept += form + ", ";
    names += (k > 0 ? ", " : "") + name;
  }
  std::string rows = "select " + written + "1 as chk_mine from (" + rowSelect + ") t";
  if (others) {
    rows += " union all select " + kept + "0 from (" + state(m.table) + ") t where " + *others;
  }
  Value shared;
  const long code = SQLCA_.selectInto("select count(*) from (select " + names + " from (" + rows +
                                          ") u group by " + names +
                                          " having count(*) > 1 and max(chk_mine) = 1) d",
                                      {}, {&shared});
  return code != kSqlOk || !shared || *shared != "0";
}

// The keys of the written rows and of the rows beside them, fitted as the
// column stores them and compared as the target's collation compares them.
void Predictor::compareKeys(const Model& m, Table& t, const std::string& rowSelect,
                            const IndexInfo& index, const std::vector<std::size_t>& parts,
                            const std::optional<std::string>& others) {
  const auto& columns = t.info.columns;
  struct Entry {
    Row key;
    bool mine = false;
  };
  std::vector<Entry> entries;
  std::string list;
  for (const auto i : parts) {
    list += (list.empty() ? "" : ", ") + ("t." + columns[i].name);
  }
  auto read = [&](const std::string& query, bool mine) {
    auto cursor = SQLCA_.openCursor(query);
    Row row;
    long code = 0;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      Entry e;
      e.mine = mine;
      for (std::size_t k = 0; k < parts.size() && k < row.size(); ++k) {
        const FitOutcome fit = fitter_.fit(declaredOf(columns[parts[k]]), row[k]);
        e.key.push_back(fit.ok ? fit.stored : row[k]);
      }
      entries.push_back(std::move(e));
    }
    return code >= 0;
  };
  if (!read("select " + list + " from (" + rowSelect + ") t", true)) {
    keysBreached_.insert(lowered(m.table));
    return;  // the rows' own failure is reported with their values
  }
  // Keys not found apart leave the table's unique indexes unrelied on by
  // later statements.
  if (others &&
      !read("select " + list + " from (" + state(m.table) + ") t where " + *others, false)) {
    add(m, CheckSeverity::Warning,
        "the rows that stay in " + m.table + " beside those " + m.what +
            " writes could not be read to compare keys: " + SQLCA_.SQLErrText());
    keysBreached_.insert(lowered(m.table));
    return;
  }
  if (t.rules.nullsDistinct) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [](const Entry& e) {
                                   return std::any_of(e.key.begin(), e.key.end(),
                                                      [](const Value& v) { return !v; });
                                 }),
                  entries.end());
  }
  auto compare = [&](const Entry& a, const Entry& b) {
    for (std::size_t k = 0; k < parts.size(); ++k) {
      const int d = compareKeyValues(columns[parts[k]], a.key[k], b.key[k]);
      if (d != 0) {
        return d;
      }
    }
    return 0;
  };
  std::stable_sort(entries.begin(), entries.end(),
                   [&](const Entry& a, const Entry& b) { return compare(a, b) < 0; });
  Breach b = keyBreach(index);
  for (std::size_t i = 0; i < entries.size();) {
    std::size_t j = i + 1;
    bool mine = entries[i].mine;
    while (j < entries.size() && compare(entries[i], entries[j]) == 0) {
      mine = mine || entries[j].mine;
      ++j;
    }
    if (j - i > 1 && mine) {
      if (++b.rows <= static_cast<long long>(kExamples)) {
        b.examples.push_back(keyExample(entries[i].key, j - i));
      }
    }
    i = j;
  }
  if (b.rows > 0) {
    reportKeys(m, b);
    keysBreached_.insert(lowered(m.table));
  }
}

void Predictor::checkQueries(const Model& m, Table& t, const std::string& rowSelect,
                             const std::vector<bool>& written) {
  if (!t.rules.exposed) {
    return;
  }
  const auto& columns = t.info.columns;
  auto writes = [&](const std::string& text) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if ((written[i] || !m.update) && mentions(text, columns[i].name)) {
        return true;
      }
    }
    return false;
  };
  auto count = [&](const std::string& condition, const std::string& rule, const std::string& what,
                   const std::string& sentence) {
    auto cursor = SQLCA_.openCursor("select chk_key from (" + rowSelect + ") t where " + condition);
    Row row;
    long code = 0;
    Breach b;
    b.rule = rule;
    while ((code = cursor->fetch(row)) == kSqlOk) {
      if (++b.rows <= static_cast<long long>(kExamples)) {
        b.examples.push_back(shownValue(row.empty() ? Value() : row[0]));
      }
    }
    if (code < 0) {
      add(m, CheckSeverity::Warning,
          what + " of " + m.table + " could not be evaluated against the rows " + m.what +
              " writes: " + SQLCA_.SQLErrText(),
          {}, rule);
    } else if (b.rows > 0) {
      report(m, b, sentence + " would refuse " + plural(b.rows, "row", "rows") + " of " + m.what);
    }
  };
  for (const CheckInfo& check : t.rules.checks) {
    if (!writes(check.clause)) {
      continue;
    }
    const std::string name = check.name.empty() ? std::string() : " " + check.name;
    count("not (" + check.clause + ")", "CHECK (" + check.clause + ")",
          "the CHECK constraint" + name,
          "the CHECK constraint" + name + " (" + check.clause + ") of " + m.table);
  }
  for (const ForeignKeyInfo& fk : t.rules.foreignKeys) {
    bool touched = !m.update;
    std::string present;
    std::string match;
    for (std::size_t k = 0; k < fk.columns.size() && k < fk.refColumns.size(); ++k) {
      const auto* c = t.info.find(fk.columns[k]);
      for (std::size_t i = 0; c != nullptr && i < columns.size(); ++i) {
        touched = touched || (written[i] && sameName(columns[i].name, fk.columns[k]));
      }
      present += (k > 0 ? " and " : "") + ("t." + fk.columns[k] + " is not null");
      match += (k > 0 ? " and " : "") + ("r." + fk.refColumns[k] + " = t." + fk.columns[k]);
    }
    if (!touched || present.empty()) {
      continue;
    }
    std::string cols;
    for (const auto& c : fk.columns) {
      cols += (cols.empty() ? "" : ", ") + c;
    }
    count(present + " and not exists (select 1 from " + expand("@" + fk.refTable) + " r where " +
              match + ")",
          "FOREIGN KEY (" + cols + ") REFERENCES " + fk.refTable, "the foreign key " + fk.name,
          "the foreign key " + fk.name + " (" + cols + ") of " + m.table + " to " + fk.refTable);
  }
}

void Predictor::advance(const Model& m, Table& t, const std::vector<std::string>& exprs) {
  const auto& columns = t.info.columns;
  std::string plain;
  std::string list;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    plain += (i > 0 ? ", " : "") + ("k." + columns[i].name);
    list += (i > 0 ? ", " : "") + exprs[i] + " as " + columns[i].name;
  }
  const std::string before = state(m.table);
  std::string after;
  if (m.update) {
    std::string set;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const bool given = exprs[i] != "t." + columns[i].name;
      std::string e = exprs[i];
      if (given && !m.where.empty()) {
        e = "case when (" + expand(m.where) + ") then " + exprs[i] + " else t." + columns[i].name +
            " end";
      }
      set += (i > 0 ? ", " : "") + e + " as " + columns[i].name;
    }
    after = "select " + set + " from (" + before + ") t";
  } else {
    const std::string added = "select " + list + (m.from.empty() ? "" : " from " + expand(m.from)) +
                              (m.where.empty() ? "" : " where " + expand(m.where));
    after = m.keep ? "select " + plain + " from (" + before + ") k where " + *m.keep +
                         " union all " + added
                   : added;
  }
  states_[lowered(m.table)] = after;
}

}  // namespace cvt::preflight
