#include "app/batch_command.h"

#include <cstdio>
#include <istream>
#include <ostream>
#include <string_view>

#include "app/connection.h"
#include "app/progress_model.h"
#include "app/run_driver.h"
#include "app/settings_store.h"
#include "db/session.h"
#include "steps/catalog.h"

namespace cvt {

namespace {

constexpr std::string_view kProgramName = "convert-batch";

// Options that take a value, as the next argument or after '='.
enum class ValueOption {
  Server,
  Port,
  Login,
  Dbms,
  Dbparm,
  PasswordEnv,
  Source,
  Categories,
  Events
};

struct ValueOptionName {
  std::string_view name;
  ValueOption option;
};

constexpr ValueOptionName kValueOptions[] = {
    {"--server", ValueOption::Server}, {"--port", ValueOption::Port},
    {"--login", ValueOption::Login},   {"--dbms", ValueOption::Dbms},
    {"--dbparm", ValueOption::Dbparm}, {"--password-env", ValueOption::PasswordEnv},
    {"--source", ValueOption::Source}, {"--categories", ValueOption::Categories},
    {"--events", ValueOption::Events},
};

std::string trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

// Ticks the categories of a comma list; returns the first unknown name.
std::optional<std::string> tickCategories(std::string_view list, std::array<bool, 9>& ticked) {
  const auto& cats = categories();
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) {
      comma = list.size();
    }
    const std::string name = trimmed(list.substr(start, comma - start));
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

// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80U) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800U) {
    out += static_cast<char>(0xC0U | (cp >> 6U));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  } else if (cp < 0x10000U) {
    out += static_cast<char>(0xE0U | (cp >> 12U));
    out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  } else {
    out += static_cast<char>(0xF0U | (cp >> 18U));
    out += static_cast<char>(0x80U | ((cp >> 12U) & 0x3FU));
    out += static_cast<char>(0x80U | ((cp >> 6U) & 0x3FU));
    out += static_cast<char>(0x80U | (cp & 0x3FU));
  }
}

// Length of the well-formed UTF-8 sequence at `i`, or 0 when the bytes
// there are not one (an engine may report its errors in another code page).
std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  std::size_t len = 0;
  char32_t cp = 0;
  if (lead < 0x80U) {
    return 1;
  }
  if (lead >= 0xC2U && lead <= 0xDFU) {
    len = 2;
    cp = lead & 0x1FU;
  } else if (lead >= 0xE0U && lead <= 0xEFU) {
    len = 3;
    cp = lead & 0x0FU;
  } else if (lead >= 0xF0U && lead <= 0xF4U) {
    len = 4;
    cp = lead & 0x07U;
  } else {
    return 0;
  }
  if (i + len > text.size()) {
    return 0;
  }
  for (std::size_t k = 1; k < len; ++k) {
    const auto c = static_cast<unsigned char>(text[i + k]);
    if ((c & 0xC0U) != 0x80U) {
      return 0;
    }
    cp = (cp << 6U) | (c & 0x3FU);
  }
  const bool overlong = (len == 3 && cp < 0x800U) || (len == 4 && cp < 0x10000U);
  const bool surrogate = cp >= 0xD800U && cp <= 0xDFFFU;
  if (overlong || surrogate || cp > 0x10FFFFU) {
    return 0;
  }
  return len;
}

std::string formatSeconds(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.3f", seconds);
  return buffer;
}

// The front end of a run without a window. With events on, every call
// becomes one JSON line on stdout; otherwise a terminal gets a status line
// with a bar redrawn in place and other outputs get plain lines.
class BatchUi final : public RunUi {
 public:
  BatchUi(BatchIo& io, bool jsonl) : io_(io), jsonl_(jsonl) {}

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
    if (jsonl_) {
      emit("{\"event\":\"message\",\"title\":" + jsonString(title) +
           ",\"text\":" + jsonString(text) + "}");
      return;
    }
    clearLiveLine();
    io_.out << title << ": " << text << "\n";
    redrawLiveLine();
  }
  // The details are the run's summary, which the command prints at its end.
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& /*details*/) override {
    messageBox(title, text);
  }
  void stepFinished(const std::string& category, bool ok, long long rows, double seconds) override {
    if (jsonl_) {
      emit("{\"event\":\"step\",\"category\":" + jsonString(category) +
           ",\"ok\":" + (ok ? "true" : "false") + ",\"rows\":" + std::to_string(rows) +
           ",\"seconds\":" + formatSeconds(seconds) + "}");
    }
  }
  bool interruptRequested() override { return io_.interrupted && io_.interrupted(); }

  // Leaves the live status line in place and moves below it.
  void finishLiveLine() {
    if (liveLine_) {
      io_.out << "\n";
      io_.out.flush();
      liveLine_ = false;
    }
  }
  void end(std::string_view outcome) {
    if (jsonl_) {
      emit("{\"event\":\"end\",\"outcome\":" + jsonString(std::string(outcome)) + "}");
    }
  }

 private:
  void emit(const std::string& line) {
    io_.out << line << "\n";
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
      emit("{\"event\":\"progress\",\"width\":" + std::to_string(model_.barWidth()) +
           ",\"status\":" + jsonString(model_.status()) + "}");
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
      outcome_ = closeSession(SQLCA_);
    }
    return outcome_;
  }

 private:
  Session& SQLCA_;
  bool closed_ = false;
  CloseOutcome outcome_;
};

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t len = utf8SequenceLength(text, i);
    if (len == 0) {
      appendUtf8(out, 0xFFFDU);  // JSON must be UTF-8; keep the place visible
      ++i;
      continue;
    }
    if (len > 1) {
      out.append(text, i, len);
    } else if (c == '"') {
      out += "\\\"";
    } else if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20U || c == 0x7FU) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(c));
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
    i += len;
  }
  out += "\"";
  return out;
}

std::string batchUsage() {
  return R"(Usage: convert-batch [options]

Runs one conversion into the target database without the window. The
connection defaults come from the same settings store as the window.

  --server NAME          database server (replaces the stored server name)
  --port PORT            TCP port, joined onto the server name (1433 never is)
  --login NAME           administrator login (default: sa)
  --dbms NAME            database interface (replaces the stored DBMS)
  --dbparm TEXT          connection parameters (replace the stored Dbparm)
  --password-env NAME    read the password from environment variable NAME
  --password-stdin       read the password from the first line of stdin
  --source SOURCE        dravik_pro or dravik_std (default: dravik_std)
  --categories LIST      comma list of item,cls,pp,region,supcust,vip,
                         spec_price,cashier,stock, or all
  --subno-to-no          weighed items' number is in the self-assigned code
                         (not with --source dravik_std)
  --events jsonl         one JSON object per line on stdout
  --help                 this text
  --version              the version

The password is never taken from the command line.

Settings store: the registry key HKEY_LOCAL_MACHINE\Software\Vantor\tillex\8.0
on Windows, elsewhere /etc/Vantor/tillex/8.0.ini or the file named by
CONVERT_SETTINGS_FILE, with the values DBMS, Database, ServerName, Dbparm and
conn_port. For a real SQL Server: DBMS any value but SQLite (for example
"MSS Microsoft SQL Server"), ServerName host or host,port, and Dbparm
key=value pairs such as Driver=FreeTDS;LoginTimeout=10. DBMS=SQLite uses the
embedded backend with ServerName the folder of tillexv8.db.

Exit status: 0 completed, 1 a step or the branch-price fill failed,
2 bad usage, 3 connect failed, 4 nothing chosen, 130 interrupted.
)";
}

BatchArgs parseBatchArgs(const std::vector<std::string>& args) {
  BatchOptions options;
  bool sourceStd = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    if (name == "--password" || name == "-p") {
      // Never echo what follows: it may be the secret itself.
      return usageError("the password is never taken from the command line; use " +
                        std::string("--password-env NAME or --password-stdin"));
    }
    if (eq == std::string::npos) {
      if (arg == "--password-stdin") {
        options.passwordStdin = true;
        continue;
      }
      if (arg == "--subno-to-no") {
        options.subnoToNo = true;
        continue;
      }
      if (arg == "--help" || arg == "-h") {
        options.help = true;
        continue;
      }
      if (arg == "--version") {
        options.version = true;
        continue;
      }
    }
    const ValueOptionName* found = nullptr;
    for (const auto& candidate : kValueOptions) {
      if (candidate.name == name) {
        found = &candidate;
      }
    }
    if (found == nullptr) {
      if (name.rfind('-', 0) == 0) {
        return usageError("unknown option '" + name + "'");
      }
      return usageError("unexpected argument '" + name + "'");
    }
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      return usageError("option '" + name + "' needs a value");
    }
    switch (found->option) {
      case ValueOption::Server:
        options.server = value;
        break;
      case ValueOption::Port:
        options.port = value;
        break;
      case ValueOption::Login:
        options.login = value;
        break;
      case ValueOption::Dbms:
        options.dbms = value;
        break;
      case ValueOption::Dbparm:
        options.dbparm = value;
        break;
      case ValueOption::PasswordEnv:
        options.passwordEnv = value;
        break;
      case ValueOption::Source:
        if (value == kDravikPro) {
          options.sourcePro = true;
          sourceStd = false;
        } else if (value == kDravikStd) {
          options.sourcePro = false;
          sourceStd = true;
        } else {
          return usageError("unknown source '" + value + "' (dravik_pro or dravik_std)");
        }
        break;
      case ValueOption::Categories:
        if (auto unknown = tickCategories(value, options.ticked)) {
          return usageError("unknown category '" + *unknown + "'");
        }
        break;
      case ValueOption::Events:
        if (value != "jsonl") {
          return usageError("unknown event format '" + value + "' (jsonl)");
        }
        options.eventsJsonl = true;
        break;
    }
  }
  if (options.subnoToNo && sourceStd) {
    return usageError("--subno-to-no cannot be used with --source dravik_std, which clears it");
  }
  if (options.passwordStdin && options.passwordEnv) {
    return usageError("--password-env and --password-stdin exclude each other");
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

  std::unique_ptr<Session> SQLCA = makeSession(defaults.settings.DBMS);
  SQLCA->settings = defaults.settings;
  CloseAtExit closing(*SQLCA);
  BatchUi ui(io, options.eventsJsonl);

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

  SQLCA->setInterruptCheck(io.interrupted);
  const RunChoice choice{options.sourcePro, options.ticked, false, options.subnoToNo};
  const RunReport report = runConversion(*SQLCA, ui, choice);
  const CloseOutcome& closed = closing.close();
  ui.finishLiveLine();
  if (closed.failed) {
    ui.messageBox(kNoticeTitle, closed.message);
  }

  if (report.outcome == RunOutcome::NothingChosen) {
    ui.end(closed.failed ? "close-failed" : "nothing-chosen");
    return closed.failed ? kExitCloseFailed : kExitNothingChosen;
  }
  if (!options.eventsJsonl) {
    io.out << "\n" << runSummary(report);
    io.out.flush();
  }
  if (report.interrupted) {
    ui.end("failed");
    return kExitInterrupted;
  }
  if (report.outcome != RunOutcome::Completed || report.branchPriceFailed) {
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
