#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include "app/qt/w_convert3.h"
#include "support/db_folder.h"

namespace cvt::test {
namespace {

// Runs `fn` on the window's thread and returns its result; works while a
// modal dialog runs its own event loop there.
template <typename F>
auto onGui(F fn) {
  decltype(fn()) result{};
  QMetaObject::invokeMethod(
      qApp, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
  return result;
}

// Set when the test gives up: the driver stops waiting at once.
std::atomic<bool> gAbandoned{false};

// Polls `condition` on the window's thread until it holds or 30 s passed.
template <typename F>
bool waitUntil(F condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!onGui(condition)) {
    if (gAbandoned || std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool xdotool(const std::string& args) { return std::system(("xdotool " + args).c_str()) == 0; }

// A real mouse click in the middle of `w`.
bool clickOn(QWidget* w) {
  const QPoint at = onGui([w] { return w->mapToGlobal(w->rect().center()); });
  return xdotool("mousemove " + std::to_string(at.x()) + " " + std::to_string(at.y()) + " click 1");
}

// The visible dialog (message box or report), or null.
QDialog* openDialog() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* d = qobject_cast<QDialog*>(w); d != nullptr && d->isVisible()) {
      return d;
    }
  }
  return nullptr;
}

QString dialogText(QDialog* d) {
  if (auto* box = qobject_cast<QMessageBox*>(d)) {
    return box->text();
  }
  auto* label = d->findChild<QLabel*>("text");
  return label != nullptr ? label->text() : QString();
}

QPushButton* okButton(QDialog* d) {
  if (auto* box = qobject_cast<QMessageBox*>(d)) {
    return qobject_cast<QPushButton*>(box->button(QMessageBox::Ok));
  }
  return d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
}

// Clicks OK of `d` until it closes, as an operator clicks again when a
// click did nothing: on a loaded machine the window manager may still be
// placing the dialog when the first click lands where its button was
// going to be. Three clicks at most.
bool closeWithOk(QDialog* d) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    // Read where OK is only while the dialog is still open (and alive).
    const std::optional<QPoint> at = onGui([&]() -> std::optional<QPoint> {
      if (openDialog() != d) {
        return std::nullopt;
      }
      QPushButton* ok = okButton(d);
      return ok->mapToGlobal(ok->rect().center());
    });
    if (!at) {
      return true;
    }
    if (!xdotool("mousemove " + std::to_string(at->x()) + " " + std::to_string(at->y()) +
                 " click 1")) {
      return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      if (onGui([&] { return openDialog() != d; })) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return false;
}

// The operator's way through the window with a real X server's key and
// mouse events: type the password, Enter, close the message, tick a
// category, convert, read the completion, close it, exit.
TEST(RealInput, OperatorConvertsWithKeysAndClicks) {
  if (QApplication::platformName() != "xcb" ||
      QStandardPaths::findExecutable("xdotool").isEmpty()) {
    GTEST_SKIP() << "needs an X server (xcb) and xdotool";
  }
  const DbFolder db;
  db.exec("dravik_std", "INSERT INTO bi_t_region_info VALUES ('0101','华东'),('0202','华南')");
  SettingsStore store;
  store.set("DBMS", "SQLite");
  store.set("ServerName", db.path());
  gui::w_convert3 window(store);  // real message boxes
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  const auto get = [&](const char* name) { return window.findChild<QWidget*>(name); };

  std::string failed;
  std::atomic<bool> done{false};
  QString completionCategory;
  std::thread driver([&] {
    const auto step = [&](bool ok, const char* what) {
      if (!ok && failed.empty()) {
        failed = what;
      }
      return ok;
    };
    auto* password = qobject_cast<QLineEdit*>(get("sle_passwd"));
    QDialog* box = nullptr;
    const bool ok =
        step(clickOn(password), "click the password field") &&
        step(waitUntil([&] { return password->hasFocus(); }), "password field focused") &&
        step(xdotool("type --delay 20 secret1"), "type") &&
        step(waitUntil([&] { return password->text() == "secret1"; }), "password typed") &&
        step(xdotool("key Return"), "Enter") &&
        step(waitUntil([&] {
               box = openDialog();
               return box != nullptr && dialogText(box) == QString::fromUtf8("连接数据库成功!");
             }),
             "connected message") &&
        step(closeWithOk(box), "close the message") &&
        step(waitUntil([&] { return openDialog() == nullptr && get("cb_convert")->isEnabled(); }),
             "convert enabled") &&
        step(clickOn(get("cbx_region")), "tick regions") &&
        step(waitUntil([&] { return qobject_cast<QCheckBox*>(get("cbx_region"))->isChecked(); }),
             "regions ticked") &&
        step(clickOn(get("cb_convert")), "convert") &&
        step(waitUntil([&] {
               box = openDialog();
               return box != nullptr && dialogText(box) == QString::fromUtf8("数据传输完成!");
             }),
             "completion") &&
        step(onGui([&] {
               auto* steps = box->findChild<QTableWidget*>("runSteps");
               completionCategory = steps != nullptr && steps->rowCount() > 0
                                        ? steps->item(0, 0)->text()
                                        : QString();
               return true;
             }),
             "read the completion") &&
        step(closeWithOk(box), "close the completion") &&
        step(waitUntil([&] { return openDialog() == nullptr && !window.running(); }),
             "run ended") &&
        step(clickOn(get("cb_exit")), "exit") &&
        step(waitUntil([&] { return !window.isVisible(); }), "window closed");
    if (!ok) {
      // Whatever the operator left open would hold the window's thread in
      // its own event loop: close it, so that the test can end.
      waitUntil([] {
        if (QDialog* d = openDialog()) {
          d->reject();
          return false;
        }
        return true;
      });
    }
    done = true;
  });
  const bool finished = QTest::qWaitFor([&] { return done.load(); }, 120000);
  // The driver may be waiting for this thread: keep answering until it ends.
  gAbandoned = true;
  while (!done) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  driver.join();
  ASSERT_TRUE(finished);
  EXPECT_EQ(failed, "") << "the step that did not happen";
  EXPECT_EQ(completionCategory, QString::fromUtf8("区域信息"));
  EXPECT_EQ(
      db.scalar("tillexv8", "SELECT group_concat(code_id) FROM t_bd_base_code WHERE type_no='RG'"),
      "0101,0202");
  EXPECT_EQ(db.scalar("tillexv8", "SELECT count(*) FROM tsql_trigger_off"), "0");
  EXPECT_FALSE(window.SQLCA().connected());
}

}  // namespace
}  // namespace cvt::test
