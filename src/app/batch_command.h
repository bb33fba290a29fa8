#pragma once

#include <array>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace cvt {

// Exit statuses of the batch command.
inline constexpr int kExitCompleted = 0;      // run completed, no failure message
inline constexpr int kExitFailed = 1;         // a step or the branch-price fill failed
inline constexpr int kExitUsage = 2;          // unknown option, category or source
inline constexpr int kExitConnectFailed = 3;  // the target could not be connected
inline constexpr int kExitNothingChosen = 4;  // no category chosen
inline constexpr int kExitCloseFailed = 5;    // the close's commit failed: triggers may be off
inline constexpr int kExitInterrupted = 130;  // stopped by Ctrl-C

// The project's version, which the build passes in (the package carries
// the same number).
inline constexpr const char* kBatchVersion = CONVERT_VERSION;

// The command line of convert-batch, checked. The password is never among
// the options: it comes from an environment variable or from stdin.
struct BatchOptions {
  std::optional<std::string> server;  // replaces the stored server name
  std::optional<std::string> port;    // replaces the stored port
  std::string login = "sa";
  std::optional<std::string> dbms;         // replaces the stored DBMS
  std::optional<std::string> dbparm;       // replaces the stored DBParm
  std::optional<std::string> passwordEnv;  // name of the variable holding it
  bool passwordStdin = false;              // first line of standard input
  bool sourcePro = false;                  // --source dravik_pro
  std::array<bool, 9> ticked{};            // categories() order
  bool subnoToNo = false;
  bool eventsJsonl = false;
  std::optional<std::string> logFile;  // the run log; default: the day's file
  bool dryRun = false;                 // rehearse on the real target, then roll everything back
  bool check = false;                  // look for what would fail, change nothing
  bool help = false;
  bool version = false;
};

// Either checked options or a one-line reason why the command line is bad.
struct BatchArgs {
  std::optional<BatchOptions> options;
  std::string error;
};

// Parses `args` (without the program name). Options take their value as
// the next argument or after '='. REQUIRES nothing; never throws.
BatchArgs parseBatchArgs(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string batchUsage();

// What the command reads and writes besides the database, so that a test
// can run it in-process.
struct BatchIo {
  std::ostream& out;
  std::ostream& err;
  std::istream& in;
  bool outIsTerminal = false;
  // Looks up an environment variable; nullopt when it is not set.
  std::function<std::optional<std::string>(const std::string&)> getenv;
  // True once the operator asked to stop (Ctrl-C).
  std::function<bool()> interrupted;
};

// The whole command: parses `args`, reads the settings store, applies the
// options, connects as the connect button does, runs the conversion and
// always ends with the window's close sequence. Returns the exit status.
int runBatch(const std::vector<std::string>& args, BatchIo& io);

// `text` as a JSON string literal (quotes included); UTF-8 passes through,
// bytes that are not UTF-8 become U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace cvt
