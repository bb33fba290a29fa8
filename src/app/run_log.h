#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "app/preflight.h"
#include "app/run_driver.h"
#include "app/verification.h"

namespace cvt {

// One event of a run, keys in the order written: the form of the batch
// command's --events jsonl lines and of the run log.
using RunEvent = nlohmann::ordered_json;

RunEvent messageEvent(const std::string& title, const std::string& text,
                      const std::string& details);
RunEvent stepEvent(const std::string& category, bool ok, long long rows, double seconds);
RunEvent verifyEvent(const CategoryVerification& v);
RunEvent checkEvent(const CheckFinding& f);
RunEvent endEvent(std::string_view outcome);
// What a run is about to do: which front end, where, as whom, from which
// source, which categories (keys), and whether it converts, rehearses or
// checks.
struct RunStart {
  std::string front;  // "window" or "batch"
  std::string mode;   // "convert", "dry-run" or "check"
  std::string server, login, database, source;
  std::vector<std::string> categories;
};
RunEvent startEvent(const RunStart& start);

// An event as one line of JSON. A text that is not valid UTF-8 (an engine
// may report its errors in another code page) keeps its place as U+FFFD.
std::string eventLine(const RunEvent& event);

// Looks up an environment variable; nullopt when it is not set.
using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;

// The folder where the user's own data lives: %LOCALAPPDATA% on Windows;
// elsewhere $XDG_DATA_HOME, or ~/.local/share. Empty when none is known.
std::string userDataFolder(const EnvLookup& getenv);

// The run log of the day `when` falls on (local time):
// <user data folder>/convert/YYYY-MM-DD.jsonl; empty when the user's data
// folder is not known.
std::string dailyRunLogFile(const EnvLookup& getenv, std::chrono::system_clock::time_point when);

// Appends the events of runs to a file, one JSON line each, with the local
// time first. The log never stops a run: a file that cannot be written
// leaves it off, and problem() says why.
class RunLog {
 public:
  // Opens `file` for appending, making its folder; an empty name is off.
  explicit RunLog(const std::string& file);
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // A text that must never reach the log (the password): masked wherever
  // it would appear, when it is long enough to be told from other text.
  void setSecret(std::string secret) { secret_ = std::move(secret); }
  void write(const RunEvent& event);

  bool on() const { return out_.is_open(); }
  const std::string& problem() const { return problem_; }

 private:
  std::ofstream out_;
  std::string secret_;
  std::string problem_;
};

// A front end that writes the messages and steps of a run to a log and
// passes every call on to `inner`.
class LoggedRunUi final : public RunUi {
 public:
  LoggedRunUi(RunUi& inner, RunLog& log) : inner_(inner), log_(log) {}

  void wf_set_bar(float ar_value, const std::string& as_text) override {
    inner_.wf_set_bar(ar_value, as_text);
  }
  void wf_set_bar(int ai_value) override { inner_.wf_set_bar(ai_value); }
  void setBusy(bool busy) override { inner_.setBusy(busy); }
  void messageBox(const std::string& title, const std::string& text) override;
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& details) override;
  void stepFailureMessage(const std::string& title, const std::string& text,
                          const std::string& details) override;
  void completionMessage(const std::string& title, const std::string& text,
                         const RunReport& report) override;
  void working(const std::string& status) override { inner_.working(status); }
  void stepFinished(const std::string& category, bool ok, long long rows, double seconds) override;
  bool interruptRequested() override { return inner_.interruptRequested(); }

 private:
  RunUi& inner_;
  RunLog& log_;
};

// How a run ended, as the end event names it: "completed" for a completed
// run without a failure shown and with a clean verification,
// "nothing-chosen", otherwise "failed".
std::string_view outcomeName(const RunReport& report);

// The verification of a run and how it ended, as the last events of its log.
void logRunEnd(RunLog& log, const RunReport& report);

}  // namespace cvt
