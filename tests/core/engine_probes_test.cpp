// Probes of the embedded engine against SQL Server's documented behaviour.
// Each probe lives in a text file under tests/probes/ and runs through a
// session (embedded, or through ODBC when the suite runs that way) on the
// demo schema, inside one transaction that is rolled back afterwards.
//
// File format: probes are separated by blank lines; lines starting with '#'
// are comments. Within a probe:
//   name: <identifier>          required, unique within the file
//   note: <free text>           what SQL Server does and why (documentation)
//   exec: <T-SQL>               run in order; each must succeed
//   query: <T-SQL select>       at most one; its rows are compared
//   expect: <outcome>           required, one of
//       ok                      every exec (and the query, if any) succeeded
//       error                   the last exec or the query failed
//       error: <text>           ... with an error text containing <text>
//       NULL | <text>           first column of the first row
//       rows: a,b;c,d           every row, columns joined by ',' and rows by
//                               ';' (NULL for NULL), in the order returned
// A long line may be continued by ending it with a backslash.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/db_folder.h"

namespace cvt {
namespace {

struct Probe {
  std::string file;
  std::string name;
  std::vector<std::string> execs;
  std::string query;
  std::string expect;
  int line = 0;
};

std::string trim(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r");
  if (b == std::string::npos) {
    return {};
  }
  const auto e = s.find_last_not_of(" \t\r");
  return s.substr(b, e - b + 1);
}

std::vector<Probe> loadProbes() {
  std::vector<Probe> probes;
  const std::filesystem::path dir = std::filesystem::path(CONVERT_SOURCE_DIR) / "tests" / "probes";
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() == ".probes") {
      files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const auto& path : files) {
    std::ifstream in(path);
    std::string raw;
    Probe current;
    int lineNo = 0;
    auto flush = [&] {
      if (!current.name.empty() || !current.expect.empty() || !current.execs.empty()) {
        current.file = path.stem().string();
        probes.push_back(current);
      }
      current = Probe{};
    };
    std::string pending;
    while (std::getline(in, raw)) {
      ++lineNo;
      if (!raw.empty() && raw.back() == '\r') {
        raw.pop_back();
      }
      if (!raw.empty() && raw.back() == '\\') {
        pending += raw.substr(0, raw.size() - 1);
        continue;
      }
      std::string line = pending + raw;
      pending.clear();
      if (trim(line).empty()) {
        flush();
        continue;
      }
      if (trim(line)[0] == '#') {
        continue;
      }
      const auto colon = line.find(':');
      const std::string key = colon == std::string::npos ? line : trim(line.substr(0, colon));
      const std::string value = colon == std::string::npos ? "" : trim(line.substr(colon + 1));
      if (current.line == 0) {
        current.line = lineNo;
      }
      if (key == "name") {
        current.name = value;
      } else if (key == "exec") {
        current.execs.push_back(value);
      } else if (key == "query") {
        current.query = value;
      } else if (key == "expect") {
        current.expect = value;
      } else if (key != "note") {
        current.name = "bad_line_" + std::to_string(lineNo);
        current.expect = "unknown key '" + key + "'";
      }
    }
    flush();
  }
  return probes;
}

const std::vector<Probe>& allProbes() {
  static const std::vector<Probe> probes = loadProbes();
  return probes;
}

std::string rowsText(const std::vector<Row>& rows) {
  std::string out;
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) {
      out += ';';
    }
    for (std::size_t c = 0; c < rows[r].size(); ++c) {
      if (c > 0) {
        out += ',';
      }
      out += rows[r][c] ? *rows[r][c] : "NULL";
    }
  }
  return out;
}

class EngineProbe : public ::testing::TestWithParam<Probe> {};

TEST_P(EngineProbe, AgreesWithSqlServer) {
  const Probe& p = GetParam();
  SCOPED_TRACE(p.file + ".probes:" + std::to_string(p.line) + " " + p.name);
  ASSERT_FALSE(p.expect.empty()) << "probe without expect";
  ASSERT_FALSE(p.name.rfind("bad_line_", 0) == 0) << p.expect;

  // One folder for every probe: each probe's work is rolled back.
  static const test::DbFolder folder;
  auto session = folder.connect();
  ASSERT_TRUE(session->connected());

  std::string error;  // text of the failure, if a statement failed
  bool failed = false;
  std::vector<Row> rows;
  for (std::size_t i = 0; i < p.execs.size() && !failed; ++i) {
    if (session->execute(p.execs[i]) < 0) {
      failed = true;
      error = session->SQLErrText();
      if (i + 1 != p.execs.size() || !p.query.empty()) {
        error = "exec " + std::to_string(i + 1) + " failed before the last step: " + error;
      }
    }
  }
  if (!failed && !p.query.empty()) {
    auto cursor = session->openCursor(p.query, {});
    Row row;
    long rc = 0;
    while ((rc = cursor->fetch(row)) == kSqlOk) {
      rows.push_back(row);
    }
    if (rc < 0) {
      failed = true;
      error = session->SQLErrText();
    }
  }
  session->rollback();
  session->disconnect();

  const std::string got = failed ? "error: " + error : rowsText(rows);
  if (p.expect == "error") {
    EXPECT_TRUE(failed) << "expected an error, got " << got;
  } else if (p.expect.rfind("error:", 0) == 0) {
    const std::string want = trim(p.expect.substr(6));
    EXPECT_TRUE(failed && error.find(want) != std::string::npos)
        << "expected an error containing '" << want << "', got " << got;
  } else if (p.expect == "ok") {
    EXPECT_FALSE(failed) << got;
  } else if (p.expect.rfind("rows:", 0) == 0) {
    EXPECT_EQ(got, trim(p.expect.substr(5)));
  } else {
    ASSERT_FALSE(failed) << got;
    ASSERT_FALSE(rows.empty()) << "no row";
    EXPECT_EQ(rows[0].empty() || !rows[0][0] ? "NULL" : *rows[0][0], p.expect);
  }
}

std::string probeName(const ::testing::TestParamInfo<Probe>& info) {
  std::string name = info.param.file + "_" + info.param.name;
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) {
      c = '_';
    }
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Probes, EngineProbe, ::testing::ValuesIn(allProbes()), probeName);

}  // namespace
}  // namespace cvt
