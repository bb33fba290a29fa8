#include "app/run_log.h"

#include <cmath>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/paths.h"

namespace cvt {

namespace {

// The local date (2026-12-10), or the local time (2026-12-10T22:53:01+0800).
std::string localStamp(std::chrono::system_clock::time_point when, bool withTime) {
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  {
    // std::localtime shares one result between threads.
    static std::mutex shared;
    const std::lock_guard lock(shared);
    if (const std::tm* now = std::localtime(&t); now != nullptr) {
      local = *now;
    }
  }
  char text[64];
  const std::size_t n =
      std::strftime(text, sizeof text, withTime ? "%Y-%m-%dT%H:%M:%S%z" : "%Y-%m-%d", &local);
  return std::string(text, n);
}

// Passwords shorter than this are not looked for: they would match parts
// of ordinary texts, as the failure details also assume.
constexpr std::size_t kShortestMaskedSecret = 4;

void mask(RunEvent& value, const std::string& secret) {
  if (value.is_string()) {
    std::string text = value.get<std::string>();
    bool changed = false;
    for (std::size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 3)) {
      text.replace(at, secret.size(), "***");
      changed = true;
    }
    if (changed) {
      value = text;
    }
  } else if (value.is_structured()) {
    for (auto& item : value) {
      mask(item, secret);
    }
  }
}

}  // namespace

RunEvent messageEvent(const std::string& title, const std::string& text,
                      const std::string& details) {
  RunEvent event{{"event", "message"}, {"title", title}, {"text", text}};
  if (!details.empty()) {
    event["details"] = details;
  }
  return event;
}

RunEvent stepEvent(const std::string& category, bool ok, long long rows, double seconds) {
  // Milliseconds are all a reader of the timings needs.
  return {{"event", "step"},
          {"category", category},
          {"ok", ok},
          {"rows", rows},
          {"seconds", std::round(seconds * 1000.0) / 1000.0}};
}

RunEvent verifyEvent(const CategoryVerification& v) {
  return {{"event", "verify"},  {"category", v.category},   {"source", v.source},
          {"target", v.target}, {"explained", v.explained}, {"ok", v.ok}};
}

RunEvent checkEvent(const CheckFinding& f) {
  RunEvent event = {{"event", "check"},
                    {"category", f.category},
                    {"severity", severityName(f.severity)},
                    {"text", f.text}};
  // A finding about the rows of a statement also gives its parts.
  if (!f.table.empty()) {
    event["table"] = f.table;
  }
  if (!f.column.empty()) {
    event["column"] = f.column;
  }
  if (!f.rule.empty()) {
    event["rule"] = f.rule;
  }
  if (f.rows > 0) {
    event["rows"] = f.rows;
  }
  if (!f.examples.empty()) {
    event["examples"] = f.examples;
  }
  return event;
}

RunEvent endEvent(std::string_view outcome) { return {{"event", "end"}, {"outcome", outcome}}; }

RunEvent startEvent(const RunStart& start) {
  return {{"event", "start"},       {"front", start.front},          {"mode", start.mode},
          {"server", start.server}, {"login", start.login},          {"database", start.database},
          {"source", start.source}, {"categories", start.categories}};
}

std::string eventLine(const RunEvent& event) {
  return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string dailyRunLogFile(const EnvLookup& getenv, std::chrono::system_clock::time_point when) {
  const std::string folder = userDataFolder(getenv);
  if (folder.empty()) {
    return {};
  }
  return platform::utf8Path(platform::fsPath(folder) / "convert" /
                            (localStamp(when, false) + ".jsonl"));
}

RunLog::RunLog(const std::string& file) {
  if (file.empty()) {
    problem_ = "no folder for the run log is known";
    return;
  }
  const std::filesystem::path path = platform::fsPath(file);
  std::error_code ec;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), ec);
  }
  out_.open(path, std::ios::app | std::ios::binary);
  if (!out_.is_open()) {
    problem_ = "cannot append to " + file;
  }
}

void RunLog::write(const RunEvent& event) {
  if (!out_.is_open()) {
    return;
  }
  RunEvent line{{"time", localStamp(std::chrono::system_clock::now(), true)}};
  for (const auto& [key, value] : event.items()) {
    line[key] = value;
  }
  if (secret_.size() >= kShortestMaskedSecret) {
    mask(line, secret_);
  }
  out_ << eventLine(line) << '\n';
  // Each event reaches the file at once: a run that is killed keeps what
  // it did so far.
  out_.flush();
}

void LoggedRunUi::messageBox(const std::string& title, const std::string& text) {
  log_.write(messageEvent(title, text, {}));
  inner_.messageBox(title, text);
}

void LoggedRunUi::messageBoxWithDetails(const std::string& title, const std::string& text,
                                        const std::string& details) {
  log_.write(messageEvent(title, text, details));
  inner_.messageBoxWithDetails(title, text, details);
}

void LoggedRunUi::stepFailureMessage(const std::string& title, const std::string& text,
                                     const std::string& details) {
  log_.write(messageEvent(title, text, details));
  inner_.stepFailureMessage(title, text, details);
}

void LoggedRunUi::completionMessage(const std::string& title, const std::string& text,
                                    const RunReport& report) {
  log_.write(messageEvent(title, text, {}));
  inner_.completionMessage(title, text, report);
}

void LoggedRunUi::stepFinished(const std::string& category, bool ok, long long rows,
                               double seconds) {
  log_.write(stepEvent(category, ok, rows, seconds));
  inner_.stepFinished(category, ok, rows, seconds);
}

std::string_view outcomeName(const RunReport& report) {
  if (report.outcome == RunOutcome::NothingChosen) {
    return "nothing-chosen";
  }
  const bool clean = report.outcome == RunOutcome::Completed && !report.failureShown &&
                     !report.verificationFlagged();
  return clean ? "completed" : "failed";
}

void logRunEnd(RunLog& log, const RunReport& report) {
  for (const CategoryVerification& v : report.verification) {
    log.write(verifyEvent(v));
  }
  log.write(endEvent(outcomeName(report)));
}

}  // namespace cvt
