#pragma once

#include <QObject>
#include <string>

#include "app/run_driver.h"

namespace cvt::gui {

class w_convert3;

// The window as the run driver sees it: the progress display, the busy
// pointer and the message boxes of w_convert3. The busy pointer is
// restored when the object goes, whatever path the run took.
class WindowRunUi : public RunUi {
 public:
  explicit WindowRunUi(w_convert3& window) : window_(window) {}
  ~WindowRunUi() override;
  WindowRunUi(const WindowRunUi&) = delete;
  WindowRunUi& operator=(const WindowRunUi&) = delete;

  void wf_set_bar(float ar_value, const std::string& as_text) override;
  void wf_set_bar(int ai_value) override;
  void messageBox(const std::string& title, const std::string& text) override;
  void messageBoxWithDetails(const std::string& title, const std::string& text,
                             const std::string& details) override;
  void setBusy(bool busy) override;

 private:
  w_convert3& window_;
  bool busy_ = false;
};

// While it lives, the window takes no input: mouse, keyboard and similar
// events aimed at it are dropped (not queued for later), so that events
// can be processed for painting during a long run. Other windows, such as
// the run's message boxes, keep their input.
class InputBlocker : public QObject {
 public:
  explicit InputBlocker(QWidget& window);
  ~InputBlocker() override;
  InputBlocker(const InputBlocker&) = delete;
  InputBlocker& operator=(const InputBlocker&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget& window_;
};

}  // namespace cvt::gui
