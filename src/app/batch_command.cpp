#include "app/batch_command.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <istream>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string_view>

#include "app/connection.h"
#include "app/preflight.h"
#include "app/progress_model.h"
#include "app/run_driver.h"
#include "app/run_log.h"
#include "app/settings_store.h"
#include "db/rehearsal_session.h"
#include "db/session.h"
#include "db/text_helpers.h"
#include "steps/catalog.h"

namespace cvt {

namespace {

constexpr std::string_view kProgramName = "convert-batch";

using Event = RunEvent;

// Ticks the categories of a comma list; returns the first unknown name.
std::optional<std::string> tickCategories(std::string_view list, std::array<bool, 9>& ticked) {
  const auto& cats = categories();
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) {
      comma = list.size();
    }
    const std::string name(trimmedOf(list.substr(start, comma - start), " \t"));
    start = comma + 1;
    if (name.empty()) {
      continue;
    }
    if (name == "all") {
      ticked.fill(true);
      continue;
    }
    bool known = false;
    for (std::size_t i = 0; i < cats.size(); ++i) {
      if (cats[i].key == name) {
        ticked[i] = true;
        known = true;
      }
    }
    if (!known) {
      return name;
    }
  }
  return std::nullopt;
}

BatchArgs usageError(std::string reason) { return BatchArgs{std::nullopt, std::move(reason)}; }

constexpr const char* kPasswordRefused =
    "the password is never taken from the command line; use --password-env NAME or "
    "--password-stdin";

// The front end of a run without a window. With events on, every call
// becomes one JSON line on stdout; otherwise a terminal gets a status line
// with a bar redrawn in place and other outputs get plain lines.
class BatchUi final : public RunUi {
 public:
  BatchUi(BatchIo& io, bool jsonl, RunLog& log) : io_(io), jsonl_(jsonl), log_(log) {}

  void wf_set_bar(float ar_value, const std::string& as_text) override {
    model_.wf_set_bar(ar_value, as_text);
    progressChanged();
  }
  void wf_set_bar(int ai_value) override {
    model_.wf_set_bar(ai_value);
    progressChanged();
  }
  void setBusy(bool /*busy*/) override {}
  void messageBox(const std::string& title, const std::string& text) override {
    messageBoxWithDetails(title, text, {});
  }
  // Details (why a failure happened) follow the text: a "details" field of
  // the event, or lines indented under the message.
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& details) override {
    const Event event = messageEvent(title, text, details);
    log_.write(event);
    if (jsonl_) {
      emit(event);
      return;
    }
    clearLiveLine();
    io_.out << title << ": " << text << "\n";
    std::size_t start = 0;
    while (start < details.size()) {
      const std::size_t end = std::min(details.find('\n', start), details.size());
      io_.out << "    " << std::string_view(details).substr(start, end - start) << "\n";
      start = end + 1;
    }
    redrawLiveLine();
  }
  // The summary follows at the command's end, for every run that ran steps.
  void completionMessage(const std::string& title, const std::string& text,
                         const RunReport& /*report*/) override {
    messageBox(title, text);
  }
  void stepFinished(const std::string& category, bool ok, long long rows, double seconds) override {
    record(stepEvent(category, ok, rows, seconds));
  }
  bool interruptRequested() override { return io_.interrupted && io_.interrupted(); }

  // The findings of a check, one event each.
  void checked(const CheckReport& report) {
    for (const auto& f : report.findings) {
      record(checkEvent(f));
    }
  }

  // The verification of a completed run, one event per category.
  void verified(const std::vector<CategoryVerification>& rows) {
    for (const auto& v : rows) {
      record(verifyEvent(v));
    }
  }

  // Leaves the live status line in place and moves below it.
  void finishLiveLine() {
    if (liveLine_) {
      io_.out << "\n";
      io_.out.flush();
      liveLine_ = false;
    }
  }
  void end(std::string_view outcome) { record(endEvent(outcome)); }

 private:
  // To the run log, and to stdout when events were asked for.
  void record(const Event& event) {
    log_.write(event);
    if (jsonl_) {
      emit(event);
    }
  }
  void emit(const Event& event) {
    io_.out << eventLine(event) << "\n";
    io_.out.flush();  // a reader follows the run as it goes
  }

  int percent() const {
    const int track = model_.trackWidth();
    const int width = model_.barWidth();
    if (track <= 0 || width <= 0) {
      return 0;
    }
    return width >= track ? 100 : width * 100 / track;
  }

  std::string liveLine() const {
    constexpr int kCells = 30;
    const int filled = percent() * kCells / 100;
    std::string line = "[";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(kCells - filled), '.');
    char pct[16];
    std::snprintf(pct, sizeof pct, "] %3d%% ", percent());
    return line + pct + model_.status();
  }

  void progressChanged() {
    if (jsonl_) {
      emit({{"event", "progress"}, {"width", model_.barWidth()}, {"status", model_.status()}});
    } else if (io_.outIsTerminal) {
      liveLine_ = true;
      redrawLiveLine();
    } else {
      char pct[16];
      std::snprintf(pct, sizeof pct, "[%3d%%] ", percent());
      io_.out << pct << model_.status() << "\n";
    }
  }

  void clearLiveLine() {
    if (liveLine_) {
      io_.out << "\r\x1b[K";
    }
  }
  void redrawLiveLine() {
    if (liveLine_) {
      io_.out << "\r\x1b[K" << liveLine() << std::flush;
    }
  }

  BatchIo& io_;
  bool jsonl_;
  RunLog& log_;
  bool liveLine_ = false;
  ProgressModel model_;
};

// Runs the window's close sequence when the command ends, whatever path
// it takes.
class CloseAtExit {
 public:
  explicit CloseAtExit(Session& SQLCA) : SQLCA_(SQLCA) {}
  ~CloseAtExit() { close(); }
  CloseAtExit(const CloseAtExit&) = delete;
  CloseAtExit& operator=(const CloseAtExit&) = delete;

  // Returns what the close achieved the first time; later calls repeat it.
  const CloseOutcome& close() {
    if (!closed_) {
      closed_ = true;
      // The close must run even after Ctrl-C has stopped the run.
      SQLCA_.setInterruptCheck(nullptr);
      if (enableTriggers_) {
        outcome_ = closeSession(SQLCA_);
      } else {
        // A rehearsal or a check ends as it began: nothing of it is kept
        // and the triggers stay as they were.
        SQLCA_.rollback();
        SQLCA_.disconnect();
      }
    }
    return outcome_;
  }
  // A rehearsal leaves the triggers as it found them.
  void skipEnablingTriggers() { enableTriggers_ = false; }

 private:
  Session& SQLCA_;
  bool closed_ = false;
  bool enableTriggers_ = true;
  CloseOutcome outcome_;
};

// --check: the findings, then the verdict. Nothing is written, and the
// close leaves the triggers as they were found.
int runCheck(Session& SQLCA, const BatchOptions& options, BatchUi& ui, BatchIo& io,
             CloseAtExit& closing) {
  closing.skipEnablingTriggers();
  std::vector<std::string> chosen;
  const auto& cats = categories();
  for (std::size_t i = 0; i < cats.size(); ++i) {
    if (options.ticked[i]) {
      chosen.emplace_back(cats[i].key);
    }
  }
  if (chosen.empty()) {
    ui.messageBox(kNoticeTitle, "请选择需要传输的信息!");
    closing.close();
    ui.end("nothing-chosen");
    return kExitNothingChosen;
  }
  const std::string source(options.sourcePro ? kDravikPro : kDravikStd);
  const CheckReport report = checkConversion(SQLCA, source, chosen, options.subnoToNo);
  closing.close();
  ui.checked(report);
  if (!options.eventsJsonl) {
    io.out << "\n" << checkTable(report);
    io.out.flush();
  }
  ui.end(report.willFail() ? "failed" : "completed");
  return report.willFail() ? kExitFailed : kExitCompleted;
}

}  // namespace

std::string jsonString(const std::string& text) { return eventLine(Event(text)); }

namespace {

constexpr const char* kUsageDescription =
    "Runs one conversion into the target database without the window. The\n"
    "connection defaults come from the same settings store as the window.";

constexpr const char* kUsageFooter =
    R"(The password is never taken from the command line.

Settings store: the registry key HKEY_LOCAL_MACHINE\Software\Vantor\tillex\8.0
on Windows, elsewhere /etc/Vantor/tillex/8.0.ini or the file named by
CONVERT_SETTINGS_FILE, with the values DBMS, Database, ServerName, Dbparm and
conn_port. For a real SQL Server: DBMS any value but SQLite (for example
"MSS Microsoft SQL Server"), ServerName host or host,port, and Dbparm
key=value pairs such as Driver=FreeTDS;LoginTimeout=10. DBMS=SQLite uses the
embedded backend with ServerName the folder of tillexv8.db.

Run log: every run appends its events, one JSON object per line, to
$XDG_DATA_HOME/convert/YYYY-MM-DD.jsonl (~/.local/share/convert/ when
XDG_DATA_HOME is not set; %LOCALAPPDATA%\\convert\\ on Windows), or to
the file given with --log. The password is never written.

Exit status: 0 completed, 1 a step failed, a failure was shown, the
verification flagged a category or --check found what will fail,
2 bad usage, 3 connect failed, 4 nothing chosen, 130 interrupted.)";

// The usage line first, then the description, the options with the name
// of their value only, and the notes: the layout manual-page generators
// read.
class UsageFormatter final : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    std::string options = make_groups(app, mode);
    options.erase(options.find_last_not_of('\n') + 1);
    return "Usage: " + name + " [options]\n\n" + kUsageDescription + "\n" + options + "\n\n" +
           app->get_footer() + "\n";
  }
  std::string make_option_opts(const CLI::Option* opt) const override {
    return opt->get_type_size() != 0 ? " " + opt->get_type_name() : std::string();
  }
};

// What the command line gives, before the checks that span options.
struct Given {
  BatchOptions options;
  std::string source;
  std::vector<std::string> categories;
  std::string events;
  std::string password;  // only ever refused, never shown
  CLI::Option* passwordOption = nullptr;
};

// The arguments as the library takes them: last one first, and "--name="
// as "--name" and an empty value, which the library would otherwise take
// from the next argument.
std::vector<std::string> libraryOrder(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (auto it = args.rbegin(); it != args.rend(); ++it) {
    const std::string& arg = *it;
    if (arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.find('=') == arg.size() - 1) {
      out.emplace_back();
      out.push_back(arg.substr(0, arg.size() - 1));
    } else {
      out.push_back(arg);
    }
  }
  return out;
}

// Declares an option whose absence leaves `target` empty.
CLI::Option* addText(CLI::App& app, const std::string& name, std::optional<std::string>& target,
                     const std::string& help) {
  return app.add_option_function<std::string>(
      name, [&target](const std::string& value) { target = value; }, help);
}

// Declares the options on `app`; the help text and the manual page are
// made from these declarations.
void declareOptions(CLI::App& app, Given& given) {
  app.formatter(std::make_shared<UsageFormatter>());
  app.get_formatter()->column_width(25);
  app.footer(kUsageFooter);
  // Given twice, an option's last value counts.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.set_help_flag();

  BatchOptions& o = given.options;
  addText(app, "--server", o.server, "database server (replaces the stored server name)")
      ->type_name("NAME");
  addText(app, "--port", o.port, "TCP port, joined onto the server name (1433 never is)")
      ->type_name("PORT");
  app.add_option("--login", o.login, "administrator login (default: sa)")->type_name("NAME");
  addText(app, "--dbms", o.dbms, "database interface (replaces the stored DBMS)")
      ->type_name("NAME");
  addText(app, "--dbparm", o.dbparm, "connection parameters (replace the stored Dbparm)")
      ->type_name("TEXT");
  CLI::Option* passwordEnv = addText(app, "--password-env", o.passwordEnv,
                                     "read the password from environment variable NAME")
                                 ->type_name("NAME");
  app.add_flag("--password-stdin", o.passwordStdin,
               "read the password from the first line of stdin")
      ->excludes(passwordEnv);
  app.add_option("--source", given.source, "dravik_pro or dravik_std (default: dravik_std)")
      ->type_name("SOURCE")
      ->check(CLI::IsMember({std::string(kDravikPro), std::string(kDravikStd)}).description(""));
  // Each --categories adds its list to those before it.
  app.add_option("--categories", given.categories,
                 "comma list of item,cls,pp,region,supcust,vip,\nspec_price,cashier,stock, or all")
      ->type_name("LIST")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_flag(
      "--subno-to-no", o.subnoToNo,
      "weighed items' number is in the self-assigned code\n(not with --source dravik_std)");
  addText(app, "--log", o.logFile,
          "append the run's events to FILE instead of the day's\nrun log in the user's data folder")
      ->type_name("FILE");
  app.add_option("--events", given.events, "one JSON object per line on stdout")
      ->type_name("jsonl")
      ->check(CLI::IsMember({"jsonl"}).description(""));
  CLI::Option* check =
      app.add_flag("--check", o.check,
                   "connect, change nothing, and report what would make\na run of the chosen "
                   "categories fail or go wrong");
  app.add_flag("--dry-run", o.dryRun,
               "rehearse the whole run on the real target, report\nwhat it would leave, then "
               "roll every change back")
      ->excludes(check);
  app.add_flag("-h,--help", o.help, "this text");
  app.add_flag("--version", o.version, "the version");
  // Declared only to be refused by name: the value after it may be the
  // secret itself, which must never reach an error message. Not in the help.
  given.passwordOption = app.add_option("-p,--password", given.password)->expected(0, 1)->group("");
}

}  // namespace

std::string batchUsage() {
  CLI::App app{"", std::string(kProgramName)};
  Given given;
  declareOptions(app, given);
  return app.help();
}

BatchArgs parseBatchArgs(const std::vector<std::string>& args) {
  CLI::App app{"", std::string(kProgramName)};
  Given given;
  declareOptions(app, given);
  try {
    app.parse(libraryOrder(args));
  } catch (const CLI::Error& e) {
    if (given.passwordOption->count() > 0) {
      return usageError(kPasswordRefused);
    }
    std::string reason = e.what();
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    return usageError(reason);
  }
  if (given.passwordOption->count() > 0) {
    return usageError(kPasswordRefused);
  }
  BatchOptions options = given.options;
  for (const std::string& list : given.categories) {
    if (auto unknown = tickCategories(list, options.ticked)) {
      return usageError("unknown category '" + *unknown + "'");
    }
  }
  options.sourcePro = given.source == kDravikPro;
  options.eventsJsonl = !given.events.empty();
  if (options.subnoToNo && given.source == kDravikStd) {
    return usageError("--subno-to-no cannot be used with --source dravik_std, which clears it");
  }
  if (options.check && options.dryRun) {
    return usageError("--check and --dry-run exclude each other");
  }
  return BatchArgs{options, {}};
}

int runBatch(const std::vector<std::string>& args, BatchIo& io) {
  const BatchArgs parsed = parseBatchArgs(args);
  if (!parsed.options) {
    io.err << kProgramName << ": " << parsed.error << "\n";
    return kExitUsage;
  }
  const BatchOptions& options = *parsed.options;
  if (options.help) {
    io.out << batchUsage();
    return kExitCompleted;
  }
  if (options.version) {
    io.out << kProgramName << " " << kBatchVersion << "\n";
    return kExitCompleted;
  }

  std::string password;
  if (options.passwordEnv) {
    const auto value = io.getenv ? io.getenv(*options.passwordEnv) : std::nullopt;
    if (!value) {
      io.err << kProgramName << ": environment variable '" << *options.passwordEnv
             << "' is not set\n";
      return kExitUsage;
    }
    password = *value;
  } else if (options.passwordStdin) {
    std::getline(io.in, password);
    if (!password.empty() && password.back() == '\r') {
      password.pop_back();
    }
  }

  OpenDefaults defaults = readOpenDefaults(SettingsStore::open());
  if (options.dbms) {
    defaults.settings.DBMS = *options.dbms;
  }
  if (options.dbparm) {
    defaults.settings.DBParm = *options.dbparm;
  }
  const ConnectFields fields{options.server.value_or(defaults.sle_server),
                             options.port.value_or(defaults.sle_port), options.login, password};

  std::unique_ptr<Session> SQLCA = makeSession(defaults.settings.DBMS, defaults.settingsProblem);
  SQLCA->settings = defaults.settings;
  CloseAtExit closing(*SQLCA);
  // Every run leaves its events in a log, so that what was converted, when,
  // and how the verification came out can be shown later.
  const std::string logFile =
      options.logFile.value_or(dailyRunLogFile(io.getenv, std::chrono::system_clock::now()));
  RunLog log(logFile);
  log.setSecret(password);
  if (!log.on() && !logFile.empty()) {
    io.err << kProgramName << ": no run log: " << log.problem() << "\n";
  }
  {
    RunStart start{"batch",
                   options.check    ? "check"
                   : options.dryRun ? "dry-run"
                                    : "convert",
                   fields.sle_server,
                   fields.sle_sa,
                   "tillexv8",
                   std::string(options.sourcePro ? kDravikPro : kDravikStd),
                   {}};
    const auto& cats = categories();
    for (std::size_t i = 0; i < cats.size(); ++i) {
      if (options.ticked[i]) {
        start.categories.emplace_back(cats[i].key);
      }
    }
    log.write(startEvent(start));
  }
  BatchUi ui(io, options.eventsJsonl, log);

  const ConnectOutcome connected = connectTarget(*SQLCA, fields);
  ui.messageBox(kNoticeTitle, connected.message);
  if (!connected.connected) {
    closing.close();
    ui.end("connect-failed");
    return kExitConnectFailed;
  }
  const std::vector<std::string> leftOff = triggersLeftOff(*SQLCA);
  if (!leftOff.empty()) {
    std::string tables;
    for (const auto& table : leftOff) {
      tables += (tables.empty() ? "" : ", ") + table;
    }
    io.err << kProgramName
           << ": triggers found switched off (an earlier run did not finish): " << tables
           << "; this run's close sequence switches them on\n";
  }
  if (ui.interruptRequested()) {
    closing.close();
    ui.end("failed");
    return kExitInterrupted;
  }

  if (options.check) {
    return runCheck(*SQLCA, options, ui, io, closing);
  }

  SQLCA->setInterruptCheck(io.interrupted);
  const RunChoice choice{options.sourcePro, options.ticked, false, options.subnoToNo};
  RunReport report;
  CloseOutcome closed;
  if (options.dryRun) {
    // The rehearsal's commits are savepoints inside one transaction, which
    // is rolled back whatever happened; the close sequence would switch
    // the triggers on and commit, so it is left out: the triggers stay as
    // they were before the rehearsal.
    RehearsalSession rehearsal(*SQLCA);
    report = runConversion(rehearsal, ui, choice);
    SQLCA->setInterruptCheck(nullptr);
    const long undone = rehearsal.finish();
    closing.skipEnablingTriggers();
    closed = closing.close();
    ui.finishLiveLine();
    if (undone < 0) {
      io.err << kProgramName << ": the rehearsal could not be rolled back: " << SQLCA->SQLErrText()
             << "\n";
      ui.end("failed");
      return kExitFailed;
    }
    if (!options.eventsJsonl) {
      io.out << "\nDry run: every change was rolled back; the databases are as they were.\n";
    }
  } else {
    report = runConversion(*SQLCA, ui, choice);
    closed = closing.close();
    ui.finishLiveLine();
    if (closed.failed) {
      ui.messageBox(kNoticeTitle, closed.message);
    }
  }

  if (report.outcome == RunOutcome::NothingChosen) {
    ui.end(closed.failed ? "close-failed" : "nothing-chosen");
    return closed.failed ? kExitCloseFailed : kExitNothingChosen;
  }
  ui.verified(report.verification);
  if (!options.eventsJsonl) {
    io.out << "\n" << runSummary(report);
    io.out.flush();
  }
  // A stop that came after the last step (during the verification or the
  // close) still ends the command as stopped: the operator asked for it,
  // and a script must not take the run for a failure of its own.
  if (report.interrupted || ui.interruptRequested()) {
    ui.end("failed");
    return kExitInterrupted;
  }
  if (report.outcome != RunOutcome::Completed || report.failureShown ||
      report.verificationFlagged()) {
    ui.end("failed");
    return kExitFailed;
  }
  if (closed.failed) {
    ui.end("close-failed");
    return kExitCloseFailed;
  }
  ui.end("completed");
  return kExitCompleted;
}

}  // namespace cvt
