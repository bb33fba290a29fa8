#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt/message_boxes.h"
#include "app/qt/w_convert3.h"
#include "app/settings_store.h"

namespace cvt::test {

// Records the window's message boxes instead of showing them; `onShow`
// runs inside the call, as code would while a modal box is open.
class RecordingBoxes final : public gui::MessageBoxes {
 public:
  using Shown = gui::BoxContent;
  void show(QWidget* /*parent*/, const gui::BoxContent& box) override {
    shown.push_back(box);
    if (onShow) {
      onShow();
    }
  }
  // Records the question and answers it with `answer`.
  bool ask(QWidget* /*parent*/, const std::string& /*title*/, const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const auto& s : shown) {
      out.push_back(s.text);
    }
    return out;
  }

  std::vector<Shown> shown;
  std::function<void()> onShow;
  std::vector<std::string> questions;
  bool answer = false;
};

// The window over `store`, shown on the offscreen screen, with its
// message boxes recorded.
struct WindowUnderTest {
  explicit WindowUnderTest(const SettingsStore& store = {})
      : window(std::make_unique<gui::w_convert3>(store, &boxes)) {
    window->show();
    // On an X server a window paints only once it is exposed.
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }
  ~WindowUnderTest() {
    // A test that did not close the window still runs the close sequence.
    window->close();
  }
  WindowUnderTest(const WindowUnderTest&) = delete;
  WindowUnderTest& operator=(const WindowUnderTest&) = delete;

  template <typename T>
  T* get(const char* name) const {
    return window->findChild<T*>(QString::fromUtf8(name));
  }

  // Clicks `button` and waits until the run it starts has ended.
  void runAndWait(const char* button) const {
    QTest::mouseClick(get<QWidget>(button), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !window->running(); }, 120000))
        << "the run did not end";
  }

  RecordingBoxes boxes;
  std::unique_ptr<gui::w_convert3> window;
};

// A store with the embedded backend on `folder`.
inline SettingsStore sqliteStore(const std::string& folder) {
  SettingsStore store;
  store.set("DBMS", "SQLite");
  store.set("ServerName", folder);
  return store;
}

}  // namespace cvt::test
