#include "app/qt/window_run_ui.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "app/qt/w_convert3.h"

namespace cvt::gui {

WindowRunUi::~WindowRunUi() { setBusy(false); }

void WindowRunUi::wf_set_bar(float ar_value, const std::string& as_text) {
  window_.wf_set_bar(ar_value, as_text);
}

void WindowRunUi::wf_set_bar(int ai_value) { window_.wf_set_bar(ai_value); }

void WindowRunUi::messageBox(const std::string& title, const std::string& text) {
  window_.messageBox(title, text);
}

void WindowRunUi::messageBoxWithDetails(const std::string& title, const std::string& text,
                                        const std::string& details) {
  window_.messageBox(title, text, details);
}

void WindowRunUi::setBusy(bool busy) {
  if (busy == busy_) {
    return;
  }
  busy_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

InputBlocker::InputBlocker(QWidget& window) : window_(window) {
  QCoreApplication::instance()->installEventFilter(this);
}

InputBlocker::~InputBlocker() { QCoreApplication::instance()->removeEventFilter(this); }

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ShortcutOverride:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
      break;
    default:
      return false;
  }
  if (!watched->isWidgetType()) {
    return false;  // window-system objects pass; the widget gets it next
  }
  const auto* widget = static_cast<QWidget*>(watched);
  return widget->window() == &window_;
}

}  // namespace cvt::gui
