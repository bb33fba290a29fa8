#pragma once

#include <QWidget>
#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "app/preflight.h"
#include "app/progress_model.h"
#include "app/run_driver.h"
#include "app/settings_store.h"
#include "db/session.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QThread;

namespace cvt::gui {

class MessageBoxes;
struct BoxContent;

// The main window: the operator's choice of source and categories, the
// connection fields, the three command buttons and the progress display.
// Every control carries its design name as objectName.
//
// Construction runs the open event: the session SQLCA is made for the
// stored DBMS and takes the stored settings, the connection fields show the
// stored server (port joined) and "sa", the bar is empty and the convert
// button disabled. Closing (exit button or close box) re-enables the
// target's triggers, keeps them in force and disconnects; it shows nothing.
//
// A run (convert, rehearse or check) works on a thread of its own, which
// has the session to itself until the run ends; the window keeps painting
// and answering. Closing during a run asks whether to stop it; a stop ends
// the run between two statements, as a failed step would, and the window
// then says so and closes.
class w_convert3 : public QWidget {
  Q_OBJECT

 public:
  // `boxes` receives every message box; null shows modal Qt message boxes.
  // REQUIRES: a QApplication exists; `boxes`, when given, outlives the window.
  explicit w_convert3(const SettingsStore& store, MessageBoxes* boxes = nullptr,
                      QWidget* parent = nullptr);
  ~w_convert3() override;

  // The window's database session.
  Session& SQLCA() { return *SQLCA_; }
  // The progress display's state (in layout units); every change is shown
  // at once.
  ProgressModel& progress() { return progress_; }

  // The two overloads of the progress display.
  void wf_set_bar(int ai_value) { progress_.wf_set_bar(ai_value); }
  void wf_set_bar(float ar_value, const std::string& as_text) {
    progress_.wf_set_bar(ar_value, as_text);
  }

  // Shows a message box titled `title` through the window's sink.
  void messageBox(const std::string& title, const std::string& text,
                  const std::string& details = {});

  // True while a run (convert, rehearse or check) is working.
  bool running() const { return running_; }

  // Called on the window's thread by the run's worker (WindowRunUi).
  void showBox(const BoxContent& box);
  void showCompletion(const BoxContent& box, const RunReport& report);
  void showWorking(const std::string& status);
  void setRunCursor(bool busy);

 signals:
  // A run has ended and the window is ready for the operator again.
  void runFinished();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void buildControls();
  void openEvent(const SettingsStore& store);
  void connectClicked();
  enum class Work { Convert, Rehearse, Check };
  void startWork(Work work);
  void workFinished();
  void setRunButtons(bool enabled);
  void rb1Clicked();
  void rb2Clicked();
  // Puts the progress model on the screen and repaints it on the spot.
  void showProgress();
  int px(int units) const;

  std::unique_ptr<Session> SQLCA_;
  std::unique_ptr<MessageBoxes> ownBoxes_;
  MessageBoxes* boxes_ = nullptr;
  ProgressModel progress_;
  bool running_ = false;
  bool closed_ = false;
  // The run's worker and what it leaves for the window; read by the window
  // only after the worker has ended.
  std::unique_ptr<QThread> worker_;
  std::atomic<bool> stop_{false};
  bool closeWhenDone_ = false;
  bool destroying_ = false;
  bool busyCursor_ = false;
  Work work_ = Work::Convert;
  std::vector<std::string> chosen_;
  RunReport report_;
  CheckReport check_;
  long rehearsalUndone_ = 0;
  bool centred_ = false;

  QRadioButton* rb_1_ = nullptr;
  QRadioButton* rb_2_ = nullptr;
  QCheckBox* cbx_subno_to_no_ = nullptr;
  QCheckBox* cbx_sale_ = nullptr;
  QLineEdit* sle_server_ = nullptr;
  QLineEdit* sle_port_ = nullptr;
  QLineEdit* sle_sa_ = nullptr;
  QLineEdit* sle_passwd_ = nullptr;
  QPushButton* cb_connect_ = nullptr;
  QPushButton* cb_convert_ = nullptr;
  QPushButton* cb_exit_ = nullptr;
  QPushButton* cb_check_ = nullptr;
  QPushButton* cb_rehearse_ = nullptr;
  QLabel* st_state_ = nullptr;
  QLabel* st_5_ = nullptr;
  QLabel* st_text_ = nullptr;
  QLabel* st_status_ = nullptr;
};

}  // namespace cvt::gui
