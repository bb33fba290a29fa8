#pragma once

#include <string>
#include <utility>
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
// Findings about the rows a statement would write also name the table, the
// column (or the columns of a key), the rule broken, how many rows break it
// and up to three examples (a row's key and the value, quoted and cut);
// `text` says all of it in one sentence.
struct CheckFinding {
  CheckFinding() = default;
  CheckFinding(std::string category_, CheckSeverity severity_, std::string text_)
      : category(std::move(category_)), severity(severity_), text(std::move(text_)) {}

  std::string category;
  CheckSeverity severity = CheckSeverity::Warning;
  std::string text;
  std::string table;
  std::string column;
  std::string rule;
  long long rows = 0;
  std::vector<std::string> examples;
};

struct CheckReport {
  std::vector<CheckFinding> findings;
  bool willFail() const;
};

// Looks, without changing anything, for what would make a run of the
// `chosen` categories (keys of categories()) from `as_source` fail or go
// wrong: a missing source database, table or column, a missing target table
// or column, source values too long or too large for the target columns
// rights the login lacks, triggers of the suspended tables left switched
// off, and every value each statement of the run would write, held against
// the target's rules (see predictWrites). `subnoToNo` is the weighed items'
// option of the run, which changes its statements. The catalogue comes from the session
// (SQLCA.catalog()); the data questions are plain T-SQL reads. REQUIRES: SQLCA connected.
CheckReport checkConversion(Session& SQLCA, const std::string& as_source,
                            const std::vector<std::string>& chosen, bool subnoToNo = false);

// The findings as a table (category, severity, reason), then a verdict line.
std::string checkTable(const CheckReport& report);

}  // namespace cvt
