#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace cvt {

// What one category's target holds after a run, against what its source
// held: `target` should equal `source` plus `explained`, the difference
// that the conversion's own rules account for (rows that the clearing
// statement spared, less the source rows that the refill leaves out by
// type, branch or flag). Renumbering and merging change codes, not counts.
struct CategoryVerification {
  std::string category;     // key: item, cls, ...
  long long source = 0;     // rows of the source table
  long long target = 0;     // rows of the category in the target after the run
  long long explained = 0;  // spared rows minus the source rows filtered out
  bool ok = false;          // target == source + explained, and every count was read
  std::string note;         // why a category is not ok (a count that failed)
};

// Counts, per category, the rows that a run leaves behind and the rows the
// rules say it should. Made before the first step of a run, since the rows
// that a clearing statement spares can only be told apart from the new
// ones before the refill.
class RunVerification {
 public:
  // Counts the target rows that the clearing statement of each chosen
  // category (keys of categories()) will spare. A failing count is kept as
  // a note; nothing is written and no transaction is ended.
  void baseline(Session& SQLCA, const std::string& as_source,
                const std::vector<std::string>& chosen);

  // Counts source and target rows of the categories given to baseline()
  // and compares them. Call after the run's last commit.
  std::vector<CategoryVerification> verify(Session& SQLCA) const;

 private:
  struct Baseline {
    std::string category;
    long long spared = 0;
    std::string note;
  };
  std::string source_;
  std::vector<Baseline> chosen_;
};

// The verification as lines of a small table (category, source, target,
// explained, ok or FLAGGED with its note), for the text output and the
// completion message's details.
std::string verificationTable(const std::vector<CategoryVerification>& rows);

}  // namespace cvt
