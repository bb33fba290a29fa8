#include <algorithm>
#include <cstdlib>

#include "app/preflight_predictor.h"
#include "members/balance_cipher.h"
#include "members/decimal_text.h"
#include "steps/class_code.h"

namespace cvt::preflight {

namespace {

// The widest text a balance of a decimal(p, s) column becomes once
// multiplied by 10000 and written without leading zeros: its digits, four
// more places before the point, a sign and, with more than four places, a
// point.
int scaledBalanceWidth(const FitLimits& balance) {
  const int places = balance.scale > 4 ? 1 : 0;
  return std::max(balance.precision - balance.scale + 4, balance.precision) + 1 + places;
}

bool givenIn(const std::vector<std::string>& columns, const std::string& name) {
  return std::any_of(columns.begin(), columns.end(),
                     [&](const std::string& n) { return sameName(n, name); });
}

// Whether a column an insert leaves out keeps the written rows' keys apart:
// an identity, a default the check cannot tell, or NULL where the unique
// indexes let NULLs repeat. Any other default is one value in every row.
bool leftOutKeepsApart(const TableInfo& info, const TableRules& rules, const std::string& name) {
  const ColumnInfo* c = info.find(name);
  const auto fixed =
      c != nullptr && !c->identity ? defaultExpression(c->defaultValue) : std::nullopt;
  return !fixed || (*fixed == "NULL" && rules.nullsDistinct);
}

}  // namespace

// Values the check computes itself (the loops of the member-card step), in
// the order of `columns`, fitted and held against the NULL rules, the
// unique indexes among themselves and the CHECK constraints.
void Predictor::fitBound(const Model& m, const std::vector<std::string>& columns,
                         const std::vector<Row>& rows, const std::vector<std::string>& keys,
                         bool checkKeys, const std::vector<bool>& known, long long unread) {
  Table& t = table(m.table);
  if (!t.info.exists) {
    return;
  }
  std::vector<const ColumnInfo*> targets;
  for (const auto& name : columns) {
    const ColumnInfo* c = t.info.find(name);
    if (c == nullptr) {
      missingColumn(m, name);
      return;
    }
    targets.push_back(c);
  }
  warnTriggers(m, t);
  const long long written = static_cast<long long>(rows.size()) + unread;
  std::vector<const ValueFitter::Rule*> rules;
  for (const auto* c : targets) {
    rules.push_back(fitter_.rule(declaredOf(*c)));
  }
  std::map<std::pair<std::size_t, std::string>, Breach> breaches;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    for (std::size_t i = 0; i < targets.size() && i < rows[r].size(); ++i) {
      if (i < known.size() && known[i]) {
        continue;
      }
      const FitOutcome fit = fitter_.fit(rules[i], rows[r][i]);
      std::string rule;
      std::string error;
      if (!fit.ok) {
        rule = typeName(*targets[i]);
        error = fit.error;
      } else if (!fit.stored && !targets[i]->nullable) {
        rule = "NOT NULL";
        error = "Cannot insert the value NULL into column '" + targets[i]->name + "'";
      } else {
        continue;
      }
      Breach& b = breaches[{i, rule}];
      b.column = targets[i]->name;
      b.rule = rule;
      b.error = error;
      if (++b.rows <= static_cast<long long>(kExamples)) {
        b.examples.push_back(shownValue(keys[r]) + ": " + shownValue(rows[r][i]));
      }
    }
  }
  for (const auto& [at, b] : breaches) {
    breached_[lowered(m.table)].insert(lowered(b.column));
    report(m, b,
           m.table + "." + b.column + " is " + b.rule + ", but " + m.what + " would write " +
               plural(b.rows, "value", "values") + " it cannot hold (" + b.error + ")");
  }
  if (!m.update) {
    // Columns an insert leaves out get their defaults.
    for (const auto& c : t.info.columns) {
      if (!givenIn(columns, c.name) && !c.nullable && !c.identity && !c.defaultValue &&
          written > 0) {
        Breach b;
        b.column = c.name;
        b.rule = "NOT NULL";
        b.rows = written;
        report(m, b,
               m.table + "." + c.name + " is NOT NULL without a default, but " + m.what +
                   " leaves it out of " + plural(b.rows, "row", "rows"));
      }
    }
  }
  if (!t.rules.exposed || written == 0) {
    return;
  }
  // The values as literal rows, for the rules only the database can judge.
  auto literal = [&](const Value& v, const ColumnInfo& c) {
    if (!v) {
      return std::string("NULL");
    }
    return isNumericType(c.type) && normalizeDecimal(*v) ? *normalizeDecimal(*v) : quoted(*v);
  };
  std::vector<std::string> chunks;
  for (std::size_t r = 0; r < rows.size(); r += kLiteralChunk) {
    std::string sql;
    for (std::size_t k = r; k < std::min(rows.size(), r + kLiteralChunk); ++k) {
      sql += k > r ? " union all select " : "select ";
      for (std::size_t i = 0; i < targets.size(); ++i) {
        sql += literal(rows[k][i], *targets[i]) + " as " + targets[i]->name + ", ";
      }
      sql += quoted(keys[k]) + " as chk_key";
    }
    chunks.push_back(sql);
  }
  for (const CheckInfo& check : t.rules.checks) {
    bool all = true;
    bool any = false;
    for (const auto& c : t.info.columns) {
      if (mentions(check.clause, c.name)) {
        const bool given = givenIn(columns, c.name);
        all = all && given;
        any = any || given;
      }
    }
    if (!any) {
      continue;
    }
    if (!all) {
      add(m, CheckSeverity::Warning,
          "the CHECK constraint (" + check.clause + ") of " + m.table + " reads columns that " +
              m.what + " does not write, so it was not evaluated",
          {}, "CHECK (" + check.clause + ")");
      continue;
    }
    Breach b;
    b.rule = "CHECK (" + check.clause + ")";
    bool failed = false;
    for (const auto& chunk : chunks) {
      auto cursor = SQLCA_.openCursor("select chk_key from (" + chunk + ") t where not (" +
                                      check.clause + ")");
      Row row;
      long code = 0;
      while ((code = cursor->fetch(row)) == kSqlOk) {
        if (++b.rows <= static_cast<long long>(kExamples)) {
          b.examples.push_back(shownValue(row.empty() ? Value() : row[0]));
        }
      }
      if (code < 0) {
        add(m, CheckSeverity::Warning,
            "the CHECK constraint (" + check.clause + ") of " + m.table +
                " could not be evaluated against the rows " + m.what +
                " writes: " + SQLCA_.SQLErrText(),
            {}, b.rule);
        failed = true;
        break;
      }
    }
    if (!failed && b.rows > 0) {
      report(m, b,
             "the CHECK constraint (" + check.clause + ") of " + m.table + " would refuse " +
                 plural(b.rows, "row", "rows") + " of " + m.what);
    }
  }
  if (!t.rules.foreignKeys.empty()) {
    add(m, CheckSeverity::Warning,
        m.table + " has foreign keys, which were not evaluated against the rows " + m.what +
            " writes one by one");
  }
  if (!checkKeys) {
    return;
  }
  // Unique indexes among the written rows (the table is emptied first). A
  // column the insert leaves out holds one value in every row, its default;
  // an identity column, or a default the check cannot tell, keeps the rows
  // apart.
  for (const IndexInfo& index : t.rules.indexes) {
    if (!index.unique) {
      continue;
    }
    std::vector<std::size_t> parts;
    bool apart = false;
    for (const auto& name : index.columns) {
      const auto at = std::find_if(columns.begin(), columns.end(),
                                   [&](const std::string& n) { return sameName(n, name); });
      if (at != columns.end()) {
        parts.push_back(static_cast<std::size_t>(at - columns.begin()));
        continue;
      }
      if (leftOutKeepsApart(t.info, t.rules, name)) {
        apart = true;
        break;
      }
    }
    if (apart) {
      continue;
    }
    Breach b = keyBreach(index);
    if (parts.empty() || rows.empty()) {
      // Every row gets the same key, or the rows were left unread because
      // their keys are known apart.
      if (parts.empty() && written > 1) {
        b.rows = 1;
        b.examples.push_back("every row (" + std::to_string(written) + " rows)");
      }
    } else {
      // The keys as the columns store them; under SQLite's rule a key with
      // a NULL part equals no other.
      std::vector<Row> stored;
      std::vector<std::size_t> order;
      for (std::size_t r = 0; r < rows.size(); ++r) {
        Row key;
        bool null = false;
        for (const auto i : parts) {
          const FitOutcome fit = fitter_.fit(rules[i], rows[r][i]);
          key.push_back(fit.ok ? fit.stored : rows[r][i]);
          null = null || !key.back();
        }
        stored.push_back(std::move(key));
        if (!(null && t.rules.nullsDistinct)) {
          order.push_back(r);
        }
      }
      auto compare = [&](std::size_t x, std::size_t y) {
        for (std::size_t k = 0; k < parts.size(); ++k) {
          const int d = compareKeyValues(*targets[parts[k]], stored[x][k], stored[y][k]);
          if (d != 0) {
            return d;
          }
        }
        return 0;
      };
      std::stable_sort(order.begin(), order.end(),
                       [&](std::size_t x, std::size_t y) { return compare(x, y) < 0; });
      for (std::size_t i = 0; i < order.size();) {
        std::size_t j = i + 1;
        while (j < order.size() && compare(order[i], order[j]) == 0) {
          ++j;
        }
        if (j - i > 1 && ++b.rows <= static_cast<long long>(kExamples)) {
          b.examples.push_back(keyExample(stored[order[i]], j - i));
        }
        i = j;
      }
    }
    if (b.rows > 0) {
      reportKeys(m, b);
    }
  }
}

bool Predictor::mentioned(const Table& t, const std::vector<std::string>& columns) const {
  return std::any_of(t.rules.checks.begin(), t.rules.checks.end(), [&](const CheckInfo& check) {
    return std::any_of(columns.begin(), columns.end(),
                       [&](const std::string& c) { return mentions(check.clause, c); });
  });
}

// The balance phase: every source card's balance x 10000, enciphered, into
// residual_amt of its card. The cipher keeps a text's length, so when the
// source's balances are decimals that give texts no longer than the column
// takes, no card need be read.
void Predictor::balances(const std::string& /*branchNo*/) {
  Model m;
  m.category = "vip";
  m.what = "the balance update";
  m.table = "t_rm_vip_info";
  m.update = true;
  const std::string cards = source_ + "..pos_t_vip_info";
  const ColumnInfo* balance = sourceTable(source_, "pos_t_vip_info").find("card_balance");
  Table& t = table(m.table);
  const ColumnInfo* residual = t.info.find("residual_amt");
  if (balance != nullptr && residual != nullptr && !mentioned(t, {"residual_amt"})) {
    const FitLimits from = limitsOf(*balance);
    const FitLimits to = limitsOf(*residual);
    if (from.kind == FitLimits::Kind::Decimal && to.kind == FitLimits::Kind::Text &&
        to.length >= scaledBalanceWidth(from) && to.length <= 4000) {
      Value n;
      if (SQLCA_.selectInto("select count(*) from " + cards, {}, {&n}) == kSqlOk && n) {
        fitBound(m, {"residual_amt"}, {}, {}, false, {true}, std::atoll(n->c_str()));
        return;
      }
    }
  }
  auto cursor = SQLCA_.openCursor("SELECT card_id, card_balance  FROM " + cards + ";");
  std::vector<Row> rows;
  std::vector<std::string> keys;
  Breach bad;
  bad.rule = "a number";
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    const Value id = row.empty() ? Value() : row[0];
    const Value amount = row.size() > 1 ? row[1] : Value();
    std::string stored;
    if (amount) {
      const auto scaled = timesTenThousand(*amount);
      if (!scaled) {
        if (++bad.rows <= static_cast<long long>(kExamples)) {
          bad.examples.push_back(shownValue(id) + ": " + shownValue(amount));
        }
        continue;
      }
      stored = of_str_encrypt(*scaled);
    }
    rows.push_back({Value(stored)});
    keys.push_back(id.value_or("NULL"));
  }
  if (code < 0) {
    return;  // a missing source table or column is reported elsewhere
  }
  if (bad.rows > 0) {
    report(m, bad,
           plural(bad.rows, "card balance", "card balances") + " of " + source_ +
               "..pos_t_vip_info " + (bad.rows == 1 ? "is" : "are") +
               " not a number, which stops the balance update");
  }
  fitBound(m, {"residual_amt"}, rows, keys, false);
}

// One recharge record per stored-value card whose balance is not 0.
void Predictor::recharges(const std::string& branchNo) {
  Model m;
  m.category = "vip";
  m.what = "the recharge records";
  m.table = "t_rm_saving_plus_record";
  // Each record takes the clock as its statement runs; quick statements
  // that follow each other within one tick of datetime read it alike, so
  // the check takes it as one value for every record.
  Value clock;
  if (SQLCA_.selectInto("select getdate()", {}, {&clock}) != kSqlOk || !clock) {
    clock = Value("2000-01-01 00:00:00.000");
  }
  const std::vector<std::string> columns = {"card_id",   "plus_count",     "oper_id",
                                            "oper_date", "old_count",      "branch_no",
                                            "other1",    "plus_real_count"};
  const std::vector<Value> literals = {Value(),    Value(),         Value("1001"),     clock,
                                       Value("0"), Value(branchNo), Value("数据转入"), Value()};
  // Which columns take every value the loop could give them: the card
  // numbers and amounts by their source columns' types (the amounts are the
  // balances, which the cipher gives back unchanged), the rest as the
  // literals they are.
  Table& t = table(m.table);
  const TableInfo& source = sourceTable(source_, "pos_t_vip_info");
  const ColumnInfo* card = source.find("card_id");
  const ColumnInfo* balance = source.find("card_balance");
  std::vector<bool> known(columns.size(), false);
  for (std::size_t i = 0; i < columns.size() && t.info.exists; ++i) {
    const ColumnInfo* to = t.info.find(columns[i]);
    if (to == nullptr) {
      continue;
    }
    const ColumnInfo* from = i == 0 ? card : literals[i] ? nullptr : balance;
    if (literals[i]) {
      const FitOutcome fit = fitter_.fit(fitter_.rule(declaredOf(*to)), literals[i]);
      known[i] = fit.ok && (fit.stored.has_value() || to->nullable);
    } else if (from != nullptr) {
      known[i] = holdsEvery(limitsOf(*from), *from, limitsOf(*to), *to) &&
                 (to->nullable || i > 0 || !from->nullable);
    }
  }
  // The keys among the records: a unique index that takes in the card
  // number, which the source's unique index keeps apart, is met.
  const Origin cardOrigin{"", source_, "pos_t_vip_info", card, false};
  const TableRules* sourceRules = card != nullptr ? rulesOf(cardOrigin) : nullptr;
  const bool cardsApart = card != nullptr && !card->nullable && sourceRules != nullptr &&
                          t.info.find("card_id") != nullptr &&
                          sameComparison(*card, *t.info.find("card_id")) &&
                          std::any_of(sourceRules->indexes.begin(), sourceRules->indexes.end(),
                                      [](const IndexInfo& index) {
                                        return index.unique && index.columns.size() == 1 &&
                                               sameName(index.columns.front(), "card_id");
                                      });
  const bool keysMet =
      std::all_of(t.rules.indexes.begin(), t.rules.indexes.end(), [&](const IndexInfo& index) {
        const bool byCard = givenIn(index.columns, "card_id") && cardsApart && known[0];
        const bool leftOutApart =
            std::any_of(index.columns.begin(), index.columns.end(), [&](const std::string& n) {
              return !givenIn(columns, n) && leftOutKeepsApart(t.info, t.rules, n);
            });
        return !index.unique || byCard || leftOutApart;
      });
  if (t.info.exists && std::all_of(known.begin(), known.end(), [](bool k) { return k; }) &&
      keysMet && !mentioned(t, columns) && balance != nullptr &&
      limitsOf(*balance).kind == FitLimits::Kind::Decimal) {
    Value n;
    if (SQLCA_.selectInto("select count(*) from " + source_ +
                              "..pos_t_vip_info where card_type in ( '02' , '03' ) and "
                              "card_balance <> 0",
                          {}, {&n}) == kSqlOk &&
        n) {
      fitBound(m, columns, {}, {}, true, known, std::atoll(n->c_str()));
      return;
    }
  }
  // The cards' types as the refill stores them, with the balances the
  // balance phase enciphers and this loop reads back.
  auto cursor = SQLCA_.openCursor("select card_id, card_balance from " + source_ +
                                  "..pos_t_vip_info where card_type in ( '02' , '03' )");
  std::vector<Row> rows;
  std::vector<std::string> keys;
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    const Value id = row.empty() ? Value() : row[0];
    const Value amount = row.size() > 1 ? row[1] : Value();
    if (!amount) {
      continue;
    }
    const auto scaled = timesTenThousand(*amount);
    if (!scaled) {
      continue;
    }
    const auto plus = divideByTenThousand(wf_str_decrypt(of_str_encrypt(*scaled)));
    if (!plus || compareWithZero(*plus) == 0) {
      continue;
    }
    rows.push_back({id, Value(*plus), Value("1001"), clock, Value("0"), Value(branchNo),
                    Value("数据转入"), Value(*plus)});
    keys.push_back(id.value_or("NULL"));
  }
  if (code < 0) {
    return;
  }
  fitBound(m, columns, rows, keys, true, known);
}

// The weighed items' swap with the box ticked: one item at a time, each in
// a transaction of its own, and a swap the database refuses leaves that item
// as it was. The items whose new number another item holds, or an item
// swapped before it takes (the loop goes by item number), keep theirs; the
// rows as the later statements read them follow that.
void Predictor::swapWeighed() {
  const std::string items = "t_bd_item_info";
  Table& t = table(items);
  const std::string before = state(items);
  evaluate(updateModel(
      "item", "the weighed items' number swap", items,
      {{"other2", "t.item_no"}, {"item_subno", "t.item_no"}, {"item_no", "t.item_subno"}},
      "t.num3=1", "t.item_no", true));
  if (!t.info.exists || t.info.find("item_no") == nullptr || t.info.find("item_subno") == nullptr ||
      t.info.find("other2") == nullptr || t.info.find("num3") == nullptr) {
    return;  // the swap's own findings say why
  }
  const std::string swaps =
      "case when b.num3 = 1 and b.item_subno is not null and not exists (select 1 from (" + before +
      ") x where x.item_no = b.item_subno and x.item_no <> b.item_no) and not exists (select 1 "
      "from (" +
      before +
      ") y where y.num3 = 1 and y.item_subno = b.item_subno and y.item_no < b.item_no) then 1 "
      "else 0 end";
  std::string list;
  for (const auto& c : t.info.columns) {
    std::string e = "t." + c.name;
    if (sameName(c.name, "other2") || sameName(c.name, "item_subno")) {
      e = "case when t.chk_swap = 1 then t.item_no else t." + c.name + " end";
    } else if (sameName(c.name, "item_no")) {
      e = "case when t.chk_swap = 1 then t.item_subno else t.item_no end";
    }
    list += (list.empty() ? "" : ", ") + e + " as " + c.name;
  }
  states_[lowered(items)] =
      "select " + list + " from (select b.*, " + swaps + " as chk_swap from (" + before + ") b) t";
}

// The class renumbering: the long codes move to free six-character codes
// as the step picks them, their items follow, and every parent is
// recomputed.
void Predictor::renumberClasses() {
  Table& cls = table("t_bd_item_cls");
  if (!cls.info.exists || cls.info.find("item_clsno") == nullptr) {
    return;
  }
  auto cursor = SQLCA_.openCursor("select t.item_clsno from (" + state("t_bd_item_cls") + ") t");
  std::vector<std::string> codes;
  Row row;
  long code = 0;
  while ((code = cursor->fetch(row)) == kSqlOk) {
    if (!row.empty() && row[0]) {
      codes.push_back(*row[0]);
    }
  }
  if (code < 0) {
    return;  // the refill's findings say why
  }
  auto same = [](const std::string& a, const std::string& b) { return collate(a, b) == 0; };
  const LargestUnderPrefix largest = [&](const std::string& probe) {
    Value best;
    const std::string prefix = leadingChars(probe, 4);
    for (const auto& c : codes) {
      if (charLength(c) == 6 && same(leadingChars(c, 4), prefix) &&
          (!best || collate(c, *best) > 0)) {
        best = c;
      }
    }
    return best;
  };
  std::vector<std::pair<std::string, std::string>> renames;
  const std::vector<std::string> longCodes = [&] {
    std::vector<std::string> out;
    for (const auto& c : codes) {
      if (charLength(c) > 6) {
        out.push_back(c);
      }
    }
    return out;
  }();
  for (const auto& old : longCodes) {
    const auto fresh = newClassCode(old, largest);
    if (!fresh || std::any_of(codes.begin(), codes.end(),
                              [&](const std::string& c) { return same(c, *fresh); })) {
      continue;
    }
    for (auto& c : codes) {
      if (c == old) {
        c = *fresh;
      }
    }
    renames.emplace_back(old, *fresh);
  }
  if (!renames.empty()) {
    std::string mapping = "case t.item_clsno";
    std::string olds;
    for (const auto& [from, to] : renames) {
      mapping += " when " + quoted(from) + " then " + quoted(to);
      olds += (olds.empty() ? "" : ",") + quoted(from);
    }
    mapping += " else t.item_clsno end";
    evaluate(updateModel("cls", "the class renumbering", "t_bd_item_cls", {{"item_clsno", mapping}},
                         "t.item_clsno in (" + olds + ")", "t.item_clsno"));
    // The items follow; the step does not look at how that went.
    Table& items = table("t_bd_item_info");
    if (items.info.exists && items.info.find("item_clsno") != nullptr) {
      evaluate(updateModel("cls", "the move of items to their classes' new codes", "t_bd_item_info",
                           {{"item_clsno", mapping}}, "t.item_clsno in (" + olds + ")", "t.item_no",
                           true));
      const bool indexed =
          items.rules.exposed && std::any_of(items.rules.indexes.begin(), items.rules.indexes.end(),
                                             [](const IndexInfo& i) {
                                               return !i.columns.empty() &&
                                                      sameName(i.columns.front(), "item_clsno");
                                             });
      if (items.rules.exposed && !indexed) {
        Model m;
        m.category = "cls";
        m.table = "t_bd_item_info";
        add(m, CheckSeverity::Warning,
            "the class renumbering will move the items of " +
                plural(static_cast<long long>(renames.size()), "class", "classes") +
                ", and t_bd_item_info has no index on item_clsno: each move reads the whole item "
                "table (about 19 ms per move at 100,000 items), so this part takes long on a "
                "large item table; an index on t_bd_item_info (item_clsno) makes it quick",
            "item_clsno", "no index", static_cast<long long>(renames.size()));
      }
    }
  }
  evaluate(updateModel("cls", "the parent classes' update", "t_bd_item_cls",
                       {{"cls_parent", "left ( t.item_clsno , LEN ( t.item_clsno ) - 2 )"}}, "",
                       "t.item_clsno"));
}

}  // namespace cvt::preflight
