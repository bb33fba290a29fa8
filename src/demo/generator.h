#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cvt {

// What to generate: the embedded default's three databases in `folder`.
struct DemoOptions {
  std::string folder;      // must exist; tillexv8.db and the sources in it are replaced
  long scale = 1;          // multiplier of the sizes of one scale unit (demoSizes)
  std::uint64_t seed = 1;  // same seed and scale, same data, byte for byte in every row
  bool withStd = true;     // also write dravik_std.db (a second source of the same size)
};

// The sizes of one source database at a scale. One scale unit is 1000
// items, 2000 member cards and 400 stock rows; branches stay at 10 at every
// scale, the code lists (classes, brands, regions) grow slowly with it.
struct DemoSizes {
  long items = 0;
  long cards = 0;
  long stockRows = 0;
  long specPrices = 0;
  long suppliers = 0;
  long customers = 0;
  long cashiers = 0;
  long brands = 0;
  long longClasses = 0;  // class codes longer than six characters
};

// REQUIRES: scale >= 1.
DemoSizes demoSizes(long scale);

// A table (or a category) and its number of rows.
struct TableCount {
  std::string name;
  long long rows = 0;
};

// What a generated folder holds, and what a full conversion of every
// category from dravik_pro (weighed items' option not ticked) must leave.
struct DemoManifest {
  long scale = 0;
  std::uint64_t seed = 0;
  std::vector<TableCount> source;      // rows of each dravik_pro table
  std::vector<TableCount> categories;  // rows each category's refill statements write
  std::vector<TableCount> expected;    // rows of each target table after the run
};

struct DemoResult {
  bool ok = false;
  std::string error;  // why it failed; empty when ok
  DemoManifest manifest;
};

// Writes the three databases (the target with its installation's own rows:
// branches, the g_branch_no system row, spared codes and stale rows that the
// conversion replaces) and returns their manifest. Deterministic by seed.
// REQUIRES: options.scale >= 1 and options.folder an existing folder.
DemoResult generateDemo(const DemoOptions& options);

// The manifest as text (one "section name rows" line each) and back.
// parseManifest returns false with `error` set on a malformed text.
std::string manifestText(const DemoManifest& manifest);
bool parseManifest(const std::string& text, DemoManifest& manifest, std::string& error);

// The manifest's file inside a generated folder.
std::string manifestPath(const std::string& folder);

// One line of a check: a target table, the rows expected and found.
struct CountCheck {
  std::string table;
  long long expected = 0;
  long long actual = -1;  // -1 when the table could not be counted
  bool matches() const { return expected == actual; }
};

// Counts the rows of every expected target table in `folder`/tillexv8.db.
// Returns false with `error` set when the database cannot be opened;
// otherwise true, with one check per expected table.
bool checkDemo(const std::string& folder, const DemoManifest& manifest,
               std::vector<CountCheck>& checks, std::string& error);

}  // namespace cvt
