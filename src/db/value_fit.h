#pragma once

#include <map>
#include <memory>
#include <string>

#include "db/session.h"

struct sqlite3;
struct sqlite3_stmt;

namespace cvt {

// A value as a column of a SQL Server type would store it: the stored value,
// or the error with which the statement storing it would fail.
struct FitOutcome {
  bool ok = true;
  std::string error;  // SQL Server's text of the failure, when !ok
  Value stored;       // what the column holds afterwards, when ok
};

// What a declared type asks of a value stored into it, as fit() applies
// it: enough to put the same limits into a query.
struct FitLimits {
  enum class Kind { None, Text, Decimal, Integer, Datetime };
  Kind kind = Kind::None;
  int length = 0;      // Text: the column's n
  bool utf16 = false;  // Text: n counts UTF-16 units (nvarchar, nchar), else bytes of code page 936
  int precision = 0;   // Decimal (money is decimal(19, 4))
  int scale = 0;       // Decimal
  int bytes = 0;       // Integer: 1, 2, 4 or 8
};

// Fits values to declared column types by the embedded engine's own rules:
// the very functions its inserts and updates call (tsql_fit_text and its
// kin), run on a private in-memory connection. SQL Server's rules are the
// ones those functions reproduce, so the outcome holds for both engines.
// Values arrive as text, as a query returns them: a text that reads as a
// number goes to an integer column as that number (a fraction is dropped,
// as when a decimal is stored there); to every other type as text.
class ValueFitter {
 public:
  ValueFitter();
  ~ValueFitter();
  ValueFitter(const ValueFitter&) = delete;
  ValueFitter& operator=(const ValueFitter&) = delete;

  // False when the in-memory connection could not be made; fit() then
  // takes every value as it is.
  bool usable() const { return db_ != nullptr; }

  // `value` stored into a column declared `declared` ("varchar(10)",
  // "decimal(16,4)", "int", "datetime", ...). A type without a rule of its
  // own stores the value unchanged. NULL always fits here; NOT NULL is the
  // caller's question.
  FitOutcome fit(const std::string& declared, const Value& value);

  // The same for many values of one column: rule() once, then fit() with it.
  struct Rule;
  const Rule* rule(const std::string& declared);
  FitOutcome fit(const Rule* rule, const Value& value);

  // The limits `rule` holds a value to (Kind::None when fit() stores every
  // value unchanged).
  static FitLimits limits(const Rule* rule);

 private:
  sqlite3* db_ = nullptr;
  std::map<std::string, std::unique_ptr<Rule>> rules_;
};

}  // namespace cvt
