// Every statement text the tool sends, checked as T-SQL by a real parser:
// full runs of every category from both sources, with and without the
// weighed items' option, record each distinct text; a Python check
// (scripts/check_tsql_texts.py, with sqlglot's T-SQL dialect) parses each
// one and holds its functions to the allow-list of the T-SQL adapter.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/run_driver.h"
#include "db/forwarding_session.h"
#include "db/sqlite/tsql_rewriter.h"
#include "demo/generator.h"
#include "support/db_folder.h"
#include "support/odbc_sqlite.h"
#include "support/recording_run_ui.h"

namespace cvt {
namespace {

// Forwards everything to a real session and remembers every text it is
// given; outcomes of statements and cursors become this session's too.
class RecordingSession final : public ForwardingSession {
 public:
  RecordingSession(std::unique_ptr<Session> inner, std::set<std::string>& texts)
      : ForwardingSession(std::move(inner)), texts_(texts) {}

  long execute(std::string_view sql) override {
    texts_.emplace(sql);
    return ForwardingSession::execute(sql);
  }
  std::unique_ptr<Statement> prepare(std::string_view sql) override {
    texts_.emplace(sql);
    return ForwardingSession::prepare(sql);
  }
  std::unique_ptr<Cursor> openCursor(std::string_view sql,
                                     const std::vector<Value>& inputs) override {
    texts_.emplace(sql);
    return ForwardingSession::openCursor(sql, inputs);
  }

 private:
  bool forwardsBatches() const override { return false; }

  std::set<std::string>& texts_;
};

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", u);
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string recordPath() {
  const char* dir = std::getenv("CONVERT_BUILD_DIR");
  return std::string(dir != nullptr && *dir != '\0' ? dir : ".") + "/statement_texts.jsonl";
}

// Runs scripts/check_tsql_texts.py over `file`; its output and exit code.
int checkTexts(const std::string& file, std::string& output) {
  std::string functions;
  for (const std::string& f : tsqlFunctionAllowList()) {
    functions += (functions.empty() ? "" : ",") + f;
  }
  const std::string command = std::string("/usr/bin/python3 ") + CONVERT_SOURCE_DIR +
                              "/scripts/check_tsql_texts.py '" + file + "' '" + functions +
                              "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    output = "cannot run " + command;
    return -1;
  }
  char buf[4096];
  std::size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) {
    output.append(buf, n);
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StatementTexts, EveryTextOfFullRunsIsTsqlWithAllowedFunctionsOnly) {
  if (test::odbcBackendRequested()) {
    GTEST_SKIP() << "the texts do not depend on the backend";
  }
  std::set<std::string> texts;
  for (const bool pro : {true, false}) {
    for (const bool subno : {false, true}) {
      SCOPED_TRACE(std::string(pro ? "dravik_pro" : "dravik_std") +
                   (subno ? ", weighed items" : ""));
      test::DbFolder db;
      DemoOptions options;
      options.folder = db.path();
      const DemoResult demo = generateDemo(options);
      ASSERT_TRUE(demo.ok) << demo.error;
      RecordingSession SQLCA(db.connect(), texts);
      test::RecordingRunUi ui;
      RunChoice choice;
      choice.rb_1 = pro;
      choice.ticked.fill(true);
      choice.cbx_subno_to_no = subno;
      const RunReport report = runConversion(SQLCA, ui, choice);
      closeSession(SQLCA);
      std::string shown;
      for (const auto& [title, text] : ui.messages) {
        shown += title + ": " + text + "\n";
      }
      EXPECT_EQ(report.outcome, RunOutcome::Completed) << shown;
    }
  }
  const std::string file = recordPath();
  {
    std::ofstream out(file);
    for (const std::string& text : texts) {
      out << jsonString(text) << "\n";
    }
  }
  std::string output;
  const int rc = checkTexts(file, output);
  EXPECT_EQ(rc, 0) << output << "\nThe texts are in " << file << ":\n"
                   << [&] {
                        std::string all;
                        for (const std::string& t : texts) {
                          all += t + "\n";
                        }
                        return all;
                      }();
  EXPECT_GT(texts.size(), 50U);
}

}  // namespace
}  // namespace cvt
