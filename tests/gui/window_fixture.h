#pragma once

#include <QApplication>
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
  struct Shown {
    std::string title, text, details;
  };
  void show(QWidget* /*parent*/, const std::string& title, const std::string& text,
            const std::string& details) override {
    shown.push_back({title, text, details});
    if (onShow) {
      onShow();
    }
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
};

// The window over `store`, shown on the offscreen screen, with its
// message boxes recorded.
struct WindowUnderTest {
  explicit WindowUnderTest(const SettingsStore& store = {})
      : window(std::make_unique<gui::w_convert3>(store, &boxes)) {
    window->show();
    QApplication::processEvents();
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
