#include "app/qt/window_run_ui.h"

#include <QMetaObject>

#include "app/qt/message_boxes.h"
#include "app/qt/report_views.h"
#include "app/qt/w_convert3.h"

namespace cvt::gui {

namespace {

// Runs `call` on the window's thread after everything posted before it;
// returns at once.
template <typename F>
void post(w_convert3& window, F call) {
  QMetaObject::invokeMethod(&window, std::move(call), Qt::QueuedConnection);
}

// The same, but returns only when `call` has returned: the run waits for
// the operator to close a message box.
template <typename F>
void await(w_convert3& window, F call) {
  QMetaObject::invokeMethod(&window, std::move(call), Qt::BlockingQueuedConnection);
}

}  // namespace

std::string notConvertedNote(const std::vector<std::string>& keys, bool firstRolledBack) {
  if (keys.empty()) {
    return {};
  }
  QString note = QStringLiteral("以下类别没有转换：");
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (i > 0) {
      note += QStringLiteral("、");
    }
    note += categoryName(keys[i]);
    if (i == 0 && firstRolledBack) {
      note += QStringLiteral("（已回滚）");
    }
  }
  return note.toStdString();
}

void WindowRunUi::wf_set_bar(float ar_value, const std::string& as_text) {
  post(window_, [w = &window_, ar_value, as_text] { w->wf_set_bar(ar_value, as_text); });
}

void WindowRunUi::wf_set_bar(int ai_value) {
  post(window_, [w = &window_, ai_value] { w->wf_set_bar(ai_value); });
}

void WindowRunUi::working(const std::string& status) {
  post(window_, [w = &window_, status] { w->showWorking(status); });
}

void WindowRunUi::setBusy(bool busy) {
  post(window_, [w = &window_, busy] { w->setRunCursor(busy); });
}

void WindowRunUi::messageBox(const std::string& title, const std::string& text) {
  messageBoxWithDetails(title, text, {});
}

void WindowRunUi::messageBoxWithDetails(const std::string& title, const std::string& text,
                                        const std::string& details) {
  if (stop_.load()) {
    return;
  }
  const BoxContent box{title, text, details, {}, iconFor(text)};
  await(window_, [w = &window_, &box] { w->showBox(box); });
}

void WindowRunUi::stepFailureMessage(const std::string& title, const std::string& text,
                                     const std::string& details) {
  if (stop_.load()) {
    return;
  }
  // The failing step is the first of those not yet finished; its work is
  // rolled back, and none after it will run.
  std::vector<std::string> left;
  for (std::size_t i = finished_; i < chosen_.size(); ++i) {
    left.push_back(chosen_[i]);
  }
  const BoxContent box{title, text, details, notConvertedNote(left, true), BoxIcon::Warning};
  await(window_, [w = &window_, &box] { w->showBox(box); });
}

void WindowRunUi::completionMessage(const std::string& title, const std::string& text,
                                    const RunReport& report) {
  if (rehearsal_) {
    return;
  }
  const BoxContent box{title, text, {}, {}, BoxIcon::Information};
  await(window_, [w = &window_, &box, &report] { w->showCompletion(box, report); });
}

void WindowRunUi::stepFinished(const std::string& /*category*/, bool /*ok*/, long long /*rows*/,
                               double /*seconds*/) {
  ++finished_;
}

}  // namespace cvt::gui
