#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/session.h"

namespace cvt::test {

// A temporary folder holding the embedded default's three databases,
// tillexv8.db, dravik_pro.db and dravik_std.db, built from the demo schema.
// Removed with everything in it when the object goes. The folder's name
// starts with `prefix` (UTF-8).
class DbFolder {
 public:
  explicit DbFolder(const std::string& prefix = "convert-test-");
  ~DbFolder();
  DbFolder(const DbFolder&) = delete;
  DbFolder& operator=(const DbFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& database) const { return path_ + "/" + database + ".db"; }

  // Runs `sql` (one or more statements, plain SQLite) on database
  // "tillexv8", "dravik_pro" or "dravik_std" through a connection of its
  // own with the T-SQL functions registered. Fails the test on error.
  void exec(const std::string& database, const std::string& sql) const;
  // Rows of a plain SQLite select on one database, every value as text.
  std::vector<Row> query(const std::string& database, const std::string& sql) const;
  // The first column of the first row, or nullopt when there is no row.
  Value scalar(const std::string& database, const std::string& sql) const;

  // Replaces this folder's three databases with copies of `other`'s.
  void copyFrom(const DbFolder& other) const;

  // A session on this folder through the embedded backend, connected.
  std::unique_ptr<Session> connect() const;

 private:
  std::string path_;
};

}  // namespace cvt::test
