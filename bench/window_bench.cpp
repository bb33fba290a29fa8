// window_bench: what the window costs over the batch command, and whether
// it stays alive through a run. It generates the demo data once, then
// converts every category from dravik_pro on fresh copies of it, turn
// about, with the batch command and with the window (its buttons pressed
// in code, its message boxes answered at once), each in a process of its
// own, and prints the medians of the whole processes' wall times, their
// peak memory and the ratio window / batch (the median of the turns'
// ratios).
//
//   window_bench [--units 50] [--repeat 5] [--work DIR] [--alive]
//
// --repeat 0 --alive only watches.
//
// --alive adds one more window run that watches the window while it
// converts: how long its thread left the event loop unturned (a 10 ms
// timer's largest gap), how often the status line was empty while work
// went on, and, on an X server, how long the window took to answer an
// exposure: another X client covers the window and uncovers it again
// every 100 ms from a thread of its own, and the time from each uncovering
// to the window's expose event is taken. The run itself goes exactly as in
// the timed turns.
//
// The batch command is convert-batch beside this program. POSIX only.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/qt/message_boxes.h"
#include "app/qt/w_convert3.h"
#include "app/settings_store.h"
#include "bench_util.h"
#include "demo/generator.h"
#include "steps/catalog.h"

#ifdef WINDOW_BENCH_XCB
#include <xcb/xcb.h>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// --- the window's side (a child process) -------------------------------------

// Answers every message box at once, as an operator who reads nothing.
class AnsweringBoxes final : public cvt::gui::MessageBoxes {
 public:
  void show(QWidget*, const cvt::gui::BoxContent& box) override { texts.push_back(box.text); }
  bool ask(QWidget*, const std::string&, const std::string&) override { return false; }
  std::vector<std::string> texts;
};

// The window's thread's liveliness during a run.
struct Liveliness {
  double maxGapMs = 0;   // largest interval between two timer ticks
  long ticks = 0;        // ticks while the run was working
  long emptyStatus = 0;  // of those, ticks with an empty status line
  // When the first of them came (from the click) and the status before.
  std::vector<std::pair<double, std::string>> emptyAt;
  std::vector<double> exposeMs;  // uncovering to expose event
  long unanswered = 0;           // uncoverings with no expose within 2 s
};

#ifdef WINDOW_BENCH_XCB
// Covers `area` (root coordinates) with a window of another X connection
// and uncovers it every 100 ms until `stop`; the window under test counts
// its expose events in `exposes`, stamped in `lastExpose`.
class Coverer {
 public:
  Coverer(QRect area, std::atomic<long>& exposes, std::atomic<Clock::rep>& lastExpose,
          Liveliness& out)
      : thread_([=, this, &exposes, &lastExpose, &out] { run(area, exposes, lastExpose, out); }) {}
  ~Coverer() {
    stop_ = true;
    thread_.join();
  }
  Coverer(const Coverer&) = delete;
  Coverer& operator=(const Coverer&) = delete;

 private:
  void run(QRect area, std::atomic<long>& exposes, std::atomic<Clock::rep>& lastExpose,
           Liveliness& out) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0) {
      xcb_disconnect(c);
      return;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t cover = xcb_generate_id(c);
    const std::uint32_t values[] = {screen->black_pixel, 1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, cover, screen->root,
                      static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
                      static_cast<std::uint16_t>(area.width()),
                      static_cast<std::uint16_t>(area.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
    std::vector<double> latencies;
    long unanswered = 0;
    while (!stop_) {
      xcb_map_window(c, cover);
      xcb_flush(c);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const long before = exposes.load();
      const Clock::time_point uncovered = Clock::now();
      xcb_unmap_window(c, cover);
      xcb_flush(c);
      while (exposes.load() == before && Clock::now() - uncovered < std::chrono::seconds(2) &&
             !stop_) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      if (exposes.load() != before) {
        latencies.push_back(
            millis(Clock::time_point(Clock::duration(lastExpose.load())) - uncovered));
      } else if (!stop_) {
        ++unanswered;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    xcb_destroy_window(c, cover);
    xcb_disconnect(c);
    out.exposeMs = std::move(latencies);
    out.unanswered = unanswered;
  }

  std::atomic<bool> stop_{false};
  std::thread thread_;
};
#endif

// Counts the expose events of the window under test.
class ExposeCounter final : public QObject {
 public:
  ExposeCounter(std::atomic<long>& exposes, std::atomic<Clock::rep>& last)
      : exposes_(exposes), last_(last) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Expose) {
      last_ = Clock::now().time_since_epoch().count();
      ++exposes_;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::atomic<long>& exposes_;
  std::atomic<Clock::rep>& last_;
};

// Converts everything in `folder` through the window; prints key=value
// facts. Exit 0 when the run completed.
int windowRun(int argc, char** argv, const std::string& folder, bool alive) {
  QApplication app(argc, argv);
  cvt::SettingsStore store;
  store.set("DBMS", "SQLite");
  store.set("ServerName", folder);
  AnsweringBoxes boxes;
  cvt::gui::w_convert3 window(store, &boxes);
  window.show();
  QElapsedTimer waited;
  waited.start();
  while ((window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) &&
         waited.elapsed() < 10000) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  window.findChild<QLineEdit*>("sle_passwd")->setText("demo");
  window.findChild<QPushButton*>("cb_connect")->click();
  if (!window.SQLCA().connected()) {
    std::printf("outcome=connect failed\n");
    return 1;
  }
  window.findChild<QRadioButton*>("rb_1")->click();
  for (const cvt::Category& c : cvt::categories()) {
    window
        .findChild<QCheckBox*>(
            QString::fromUtf8(c.checkbox.data(), static_cast<int>(c.checkbox.size())))
        ->setChecked(true);
  }

  Liveliness seen;
  std::atomic<long> exposes{0};
  std::atomic<Clock::rep> lastExpose{0};
  ExposeCounter counter(exposes, lastExpose);
  QTimer ticker;
  Clock::time_point lastTick = Clock::now();
  Clock::time_point clicked = lastTick;
  std::string lastStatus;
  const auto* status = window.findChild<QLabel*>("st_state");
  if (alive) {
    window.windowHandle()->installEventFilter(&counter);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
      const Clock::time_point now = Clock::now();
      if (window.running()) {
        seen.maxGapMs = std::max(seen.maxGapMs, millis(now - lastTick));
        ++seen.ticks;
        if (status->text().isEmpty()) {
          ++seen.emptyStatus;
          if (seen.emptyAt.size() < 5) {
            seen.emptyAt.emplace_back(millis(now - clicked), lastStatus);
          }
        } else {
          lastStatus = status->text().toStdString();
        }
      }
      lastTick = now;
    });
    ticker.start(10);
  }
#ifdef WINDOW_BENCH_XCB
  std::unique_ptr<Coverer> coverer;
  if (alive && QApplication::platformName() == "xcb") {
    const QRect area(window.mapToGlobal(QPoint(0, 0)), window.size());
    coverer = std::make_unique<Coverer>(area, exposes, lastExpose, seen);
  }
#endif

  QEventLoop loop;
  QObject::connect(&window, &cvt::gui::w_convert3::runFinished, &loop, &QEventLoop::quit);
  const benchutil::Stopwatch watch;
  lastTick = clicked = Clock::now();
  window.findChild<QPushButton*>("cb_convert")->click();
  if (window.running()) {
    loop.exec();
  }
  const double seconds = watch.seconds();
#ifdef WINDOW_BENCH_XCB
  coverer.reset();
#endif
  ticker.stop();
  window.close();

  const std::string last = boxes.texts.empty() ? std::string() : boxes.texts.back();
  std::printf("run_seconds=%.3f\n", seconds);
  std::printf("outcome=%s\n", last.c_str());
  if (alive) {
    std::printf("max_gap_ms=%.1f\nticks=%ld\nempty_status_ticks=%ld\n", seen.maxGapMs, seen.ticks,
                seen.emptyStatus);
    for (const auto& [at, before] : seen.emptyAt) {
      std::printf("empty_status=at %.0f ms, after %s\n", at, before.c_str());
    }
    std::sort(seen.exposeMs.begin(), seen.exposeMs.end());
    if (!seen.exposeMs.empty()) {
      const auto at = [&](double q) {
        return seen
            .exposeMs[static_cast<std::size_t>(q * static_cast<double>(seen.exposeMs.size() - 1))];
      };
      std::printf("exposes=%zu\nexpose_median_ms=%.1f\nexpose_p99_ms=%.1f\nexpose_max_ms=%.1f\n",
                  seen.exposeMs.size(), at(0.5), at(0.99), seen.exposeMs.back());
    }
    std::printf("unanswered=%ld\n", seen.unanswered);
  }
  return last == "数据传输完成!" ? 0 : 1;
}

// --- the parent -----------------------------------------------------------------

std::map<std::string, std::string> facts(const std::string& output) {
  std::map<std::string, std::string> out;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (const auto eq = line.find('='); eq != std::string::npos) {
      out[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return out;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty()           ? 0
         : v.size() % 2 == 1 ? v[v.size() / 2]
                             : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void freshCopy(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  for (const char* name : {"tillexv8.db", "dravik_pro.db", "dravik_std.db"}) {
    fs::copy_file(from / name, to / name);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && (args[0] == "--window" || args[0] == "--window-alive")) {
    return windowRun(argc, argv, args[1], args[0] == "--window-alive");
  }
  long units = 50;
  int repeat = 5;
  bool alive = false;
  fs::path work = fs::temp_directory_path() / "window_bench";
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--units" && hasValue) {
      units = std::atol(args[++i].c_str());
    } else if (args[i] == "--repeat" && hasValue) {
      repeat = std::atoi(args[++i].c_str());
    } else if (args[i] == "--work" && hasValue) {
      work = args[++i];
    } else if (args[i] == "--alive") {
      alive = true;
    } else {
      std::fprintf(stderr, "usage: window_bench [--units N] [--repeat N] [--work DIR] [--alive]\n");
      return 2;
    }
  }
  if (units < 1 || repeat < 0 || (repeat == 0 && !alive)) {
    std::fprintf(stderr, "--units must be at least 1, --repeat at least 1 (0 with --alive)\n");
    return 2;
  }
  const fs::path self = fs::canonical("/proc/self/exe");
  const fs::path batch = self.parent_path() / "convert-batch";
  if (!fs::exists(batch)) {
    std::fprintf(stderr, "%s is missing: build the convert-batch target\n", batch.c_str());
    return 2;
  }
  const fs::path data = work / "data";
  const fs::path run = work / "run";
  fs::create_directories(data);
  cvt::DemoOptions options;
  options.folder = data.string();
  options.scale = units;
  std::printf("generating %ld units in %s ...\n", units, data.c_str());
  if (const cvt::DemoResult made = cvt::generateDemo(options); !made.ok) {
    std::fprintf(stderr, "generation failed: %s\n", made.error.c_str());
    return 1;
  }
  // Both sides keep their run logs and settings away from the user's.
  const std::vector<std::pair<std::string, std::string>> env{
      {"XDG_DATA_HOME", (work / "home-data").string()},
      {"XDG_CONFIG_HOME", (work / "home-config").string()},
      {"CONVERT_BENCH_PASSWORD", "demo"}};
  const std::vector<std::string> batchArgs{batch.string(),
                                           "--dbms",
                                           "SQLite",
                                           "--server",
                                           run.string(),
                                           "--source",
                                           "dravik_pro",
                                           "--categories",
                                           "all",
                                           "--password-env",
                                           "CONVERT_BENCH_PASSWORD",
                                           "--events",
                                           "jsonl"};
  const std::vector<std::string> windowArgs{self.string(), "--window", run.string()};

  std::vector<double> batchSeconds, windowSeconds, windowRunSeconds, ratios, batchPeak, windowPeak;
  for (int turn = 0; turn < repeat; ++turn) {
    double b = 0, w = 0;
    for (int side = 0; side < 2; ++side) {
      const bool windowSide = (side == 0) == (turn % 2 == 1);
      freshCopy(data, run);
      const benchutil::ChildRun r = benchutil::runProgram(windowSide ? windowArgs : batchArgs, env);
      const bool ok = r.status == 0 && (windowSide || r.output.find(R"("outcome":"completed")") !=
                                                          std::string::npos);
      if (!ok) {
        std::fprintf(stderr, "%s run failed (status %d):\n%s\n", windowSide ? "window" : "batch",
                     r.status, r.output.c_str());
        return 1;
      }
      if (windowSide) {
        w = r.seconds;
        windowSeconds.push_back(r.seconds);
        windowPeak.push_back(r.peakMiB);
        windowRunSeconds.push_back(std::atof(facts(r.output)["run_seconds"].c_str()));
      } else {
        b = r.seconds;
        batchSeconds.push_back(r.seconds);
        batchPeak.push_back(r.peakMiB);
      }
    }
    ratios.push_back(w / b);
    std::printf("turn %d: batch %.2f s, window %.2f s, ratio %.3f\n", turn + 1, b, w, w / b);
  }
  if (repeat > 0) {
    std::printf("\n%ld units, %d turns, medians (whole processes):\n", units, repeat);
    std::printf("| front end | wall s | of which the run s | peak MiB |\n|---|---|---|---|\n");
    std::printf("| batch command | %.2f | | %.0f |\n", median(batchSeconds), median(batchPeak));
    std::printf("| window | %.2f | %.2f | %.0f |\n", median(windowSeconds),
                median(windowRunSeconds), median(windowPeak));
    std::printf("window / batch: %.3f (median of the turns' ratios)\n", median(ratios));
  }

  if (alive) {
    freshCopy(data, run);
    const benchutil::ChildRun r =
        benchutil::runProgram({self.string(), "--window-alive", run.string()}, env);
    std::printf("\nwindow watched while converting (%s):\n%s",
                r.status == 0 ? "completed" : "FAILED", r.output.c_str());
    if (r.status != 0) {
      return 1;
    }
  }
  fs::remove_all(run);
  return 0;
}
