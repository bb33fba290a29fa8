#include "db/value_fit.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdlib>

#include "db/sqlite/declared_types.h"
#include "db/sqlite/tsql_functions.h"

namespace cvt {

namespace {

// How a value is bound for a rule.
enum BindKind { kNoRule = 0, kTextRule = 1, kIntegerRule = 2 };

bool readsAsInteger(const std::string& text, sqlite3_int64& out) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end == nullptr || *end != '\0') {
    return false;
  }
  out = v;
  return true;
}

bool readsAsNumber(const std::string& text, double& out) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (end == nullptr || *end != '\0') {
    return false;
  }
  out = v;
  return true;
}

}  // namespace

// A declared type's fitting function, prepared once.
struct ValueFitter::Rule {
  ColumnRule column;
  sqlite3_stmt* stmt = nullptr;
  int kind = kNoRule;
};

namespace {

// Values that the fitting function would store unchanged, told without
// calling it: a text whose UTF-8 bytes are within the length (code page
// 936 and UTF-16 never take more units than UTF-8 takes bytes), and a
// plain decimal number whose digits are within the precision and scale.
bool fitsAsItIs(const ColumnRule& rule, const std::string& value) {
  if (rule.kind == ColumnRule::Kind::Text) {
    return value.size() <= static_cast<std::size_t>(rule.length);
  }
  if (rule.kind != ColumnRule::Kind::Decimal) {
    return false;
  }
  std::size_t i = value.empty() || value[0] != '-' ? 0 : 1;
  std::size_t whole = 0;
  while (i < value.size() && value[i] == '0') {
    ++i;
  }
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    ++whole;
  }
  std::size_t fraction = 0;
  if (i < value.size() && value[i] == '.') {
    for (++i; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
      ++fraction;
    }
  }
  return i == value.size() && i > 0 && fraction <= static_cast<std::size_t>(rule.scale) &&
         whole <= static_cast<std::size_t>(rule.precision - rule.scale);
}

}  // namespace

ValueFitter::ValueFitter() {
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(":memory:", &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
          SQLITE_OK ||
      registerTsqlFunctions(raw) != SQLITE_OK) {
    sqlite3_close(raw);
    return;
  }
  db_ = raw;
}

ValueFitter::~ValueFitter() {
  for (auto& [declared, rule] : rules_) {
    sqlite3_finalize(rule->stmt);
  }
  sqlite3_close(db_);
}

const ValueFitter::Rule* ValueFitter::rule(const std::string& declared) {
  auto& slot = rules_[declared];
  if (slot) {
    return slot.get();
  }
  slot = std::make_unique<Rule>();
  Rule& r = *slot;
  r.column = columnRule(declared);
  std::string sql;
  r.kind = kTextRule;
  switch (r.column.kind) {
    case ColumnRule::Kind::Text:
      sql = "select tsql_fit_text(?1, " + std::to_string(r.column.length) + ", " +
            (r.column.utf16 ? "1" : "0") + ", " + (r.column.pad ? "1" : "0") + ")";
      break;
    case ColumnRule::Kind::Decimal:
      sql = "select tsql_fit_decimal(?1, " + std::to_string(r.column.precision) + ", " +
            std::to_string(r.column.scale) + ", " + (r.column.money ? "1" : "0") + ")";
      break;
    case ColumnRule::Kind::Integer:
      sql = "select tsql_fit_int(?1, " + std::to_string(r.column.bytes) + ")";
      r.kind = kIntegerRule;
      break;
    case ColumnRule::Kind::Datetime:
      sql = "select tsql_fit_datetime(?1)";
      break;
    default:
      r.kind = kNoRule;
      break;
  }
  if (r.kind != kNoRule &&
      (db_ == nullptr || sqlite3_prepare_v2(db_, sql.c_str(), -1, &r.stmt, nullptr) != SQLITE_OK)) {
    sqlite3_finalize(r.stmt);
    r.stmt = nullptr;
    r.kind = kNoRule;
  }
  return slot.get();
}

FitLimits ValueFitter::limits(const Rule* rule) {
  FitLimits out;
  if (rule == nullptr || rule->stmt == nullptr) {
    return out;
  }
  const ColumnRule& c = rule->column;
  switch (c.kind) {
    case ColumnRule::Kind::Text:
      out.kind = FitLimits::Kind::Text;
      out.length = c.length;
      out.utf16 = c.utf16;
      break;
    case ColumnRule::Kind::Decimal:
      out.kind = FitLimits::Kind::Decimal;
      out.precision = c.precision;
      out.scale = c.scale;
      break;
    case ColumnRule::Kind::Integer:
      out.kind = FitLimits::Kind::Integer;
      out.bytes = c.bytes;
      break;
    case ColumnRule::Kind::Datetime:
      out.kind = FitLimits::Kind::Datetime;
      break;
    default:
      break;
  }
  return out;
}

FitOutcome ValueFitter::fit(const std::string& declared, const Value& value) {
  return fit(rule(declared), value);
}

FitOutcome ValueFitter::fit(const Rule* rule, const Value& value) {
  FitOutcome out;
  out.stored = value;
  if (!value || rule == nullptr || rule->stmt == nullptr || fitsAsItIs(rule->column, *value)) {
    return out;
  }
  sqlite3_stmt* stmt = rule->stmt;
  const int kind = rule->kind;
  sqlite3_int64 integer = 0;
  double real = 0;
  if (kind == kIntegerRule && readsAsInteger(*value, integer)) {
    sqlite3_bind_int64(stmt, 1, integer);
  } else if (kind == kIntegerRule && readsAsNumber(*value, real)) {
    sqlite3_bind_double(stmt, 1, real);
  } else {
    sqlite3_bind_text(stmt, 1, value->data(), static_cast<int>(value->size()), SQLITE_TRANSIENT);
  }
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    const auto* text = sqlite3_column_text(stmt, 0);
    if (text == nullptr) {
      out.stored.reset();
    } else {
      out.stored = std::string(reinterpret_cast<const char*>(text),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt, 0)));
    }
  } else {
    out.ok = false;
    out.error = sqlite3_errmsg(db_);
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return out;
}

}  // namespace cvt
