#pragma once

#include <string>
#include <vector>

#include "db/session.h"

namespace cvt {

enum class CheckSeverity {
  WillFail,  // the run would stop at this category (or the whole run would)
  Warning,   // the run would go through, but something is not as it should be
};

// "will fail" or "warning".
const char* severityName(CheckSeverity severity);

// One thing found before a run: the category it concerns (a key of
// categories(), or "run" for what concerns every run), how bad it is, why.
struct CheckFinding {
  std::string category;
  CheckSeverity severity = CheckSeverity::Warning;
  std::string text;
};

struct CheckReport {
  std::vector<CheckFinding> findings;
  bool willFail() const;
};

// Looks, without changing anything, for what would make a run of the
// `chosen` categories (keys of categories()) from `as_source` fail or go
// wrong: a missing source database, table or column, a missing target table
// or column, source values too long or too large for the target columns
// they are copied into, source rows whose keys would collide in the target,
// rights the login lacks, and triggers of the suspended tables left
// switched off. The catalogue comes from the session (SQLCA.catalog()); the
// data questions are plain T-SQL reads.
// REQUIRES: SQLCA connected.
CheckReport checkConversion(Session& SQLCA, const std::string& as_source,
                            const std::vector<std::string>& chosen);

// The findings as a table (category, severity, reason), then a verdict line.
std::string checkTable(const CheckReport& report);

}  // namespace cvt
