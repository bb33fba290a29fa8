#include "app/qt/w_convert3.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QDeadlineTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <algorithm>
#include <map>

#include "app/connection.h"
#include "app/qt/message_boxes.h"
#include "app/qt/report_views.h"
#include "app/qt/window_controls.h"
#include "app/qt/window_run_ui.h"
#include "app/run_driver.h"
#include "app/run_log.h"
#include "db/rehearsal_session.h"
#include "steps/catalog.h"
#include "steps/step.h"

namespace cvt::gui {

namespace {

// Room between a right-aligned label's text and the field it names.
constexpr int kLabelGapUnits = 24;

constexpr const char* kGroupBoxStyle =
    "QGroupBox { border: 1px solid palette(mid); margin-top: 0.6em; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 8px; padding: 0 2px; }";

QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont fontOf(const auto& families) {
  QFont font;
  QStringList list;
  for (const char* family : families) {
    list << QString::fromUtf8(family);
  }
  font.setFamilies(list);
  font.setPointSize(kFontPoints);
  font.setWeight(QFont::Normal);
  return font;
}

void setTextColour(QWidget& w, TextColour colour) {
  if (colour == TextColour::System) {
    return;
  }
  const QColor c = colour == TextColour::Blue ? QColor(0, 0, 255) : QColor(255, 0, 0);
  QPalette p = w.palette();
  // Labels, check boxes and radio buttons draw their text in one of these
  // roles depending on the style.
  p.setColor(QPalette::WindowText, c);
  p.setColor(QPalette::ButtonText, c);
  p.setColor(QPalette::Text, c);
  w.setPalette(p);
}

// The busy pointer for the life of the object.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

constexpr const char* kStopQuestion = "正在转换数据，确定要停止吗？";
// What the status line says while the run works between two statuses: a
// step ends by clearing the line, and the next one may first have a query
// to run.
constexpr const char* kConvertingText = "正在转换数据";
constexpr const char* kStoppedText = "转换已停止：未提交的更改已回滚，已完成的类别保持不变。";
constexpr const char* kStoppingStatus = "正在停止转换";
constexpr const char* kRehearsedText = "演练完成!所有更改均已回滚，数据库保持原样。";
constexpr const char* kRehearsalNotUndoneText = "演练的更改回滚失败！\n原因：";

// Shows the whole text of a field as its tooltip when the field is too
// narrow for it.
void tooltipWhenCut(QLineEdit& edit) {
  const auto update = [&edit] {
    const QString text = edit.text();
    const QMargins m = edit.textMargins();
    const int room = edit.contentsRect().width() - m.left() - m.right() - 8;
    edit.setToolTip(edit.fontMetrics().horizontalAdvance(text) > room ? text : QString());
  };
  QObject::connect(&edit, &QLineEdit::textChanged, &edit, update);
  update();
}

}  // namespace

w_convert3::w_convert3(const SettingsStore& store, MessageBoxes* boxes, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      boxes_(boxes) {
  if (boxes_ == nullptr) {
    ownBoxes_ = std::make_unique<QtMessageBoxes>();
    boxes_ = ownBoxes_.get();
  }
  setObjectName("w_convert3");
  setWindowTitle(qs(kWindowTitle));
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveNetIcon));
  setFont(fontOf(kTextFonts));
  // The size the controls are laid out for: growing would strand them in
  // empty space, shrinking would cut them off.
  setFixedSize(px(kWindowWidthUnits), px(kWindowHeightUnits));
  buildControls();
  progress_.setTrackWidth(windowControls().back().w);
  progress_.setListener([this] { showProgress(); });
  openEvent(store);
}

w_convert3::~w_convert3() {
  // A window destroyed during a run stops it first: the session is the
  // worker's until it ends. Its message boxes may still need this thread.
  if (worker_) {
    destroying_ = true;
    stop_ = true;
    while (!worker_->wait(QDeadlineTimer(20))) {
      QCoreApplication::processEvents();
    }
    worker_.reset();
    setRunCursor(false);
  }
  // A window destroyed without having been closed still leaves the
  // triggers on and the session closed.
  if (!closed_) {
    closed_ = true;
    closeSession(*SQLCA_);
  }
}

int w_convert3::px(int units) const { return unitsToPixels(units, logicalDpiX()); }

void w_convert3::buildControls() {
  std::map<std::string_view, QWidget*> made;
  std::vector<ControlSpec> specs(windowControls().begin(), windowControls().end());
  specs.insert(specs.end(), addedButtons().begin(), addedButtons().end());
  for (const ControlSpec& spec : specs) {
    QWidget* w = nullptr;
    const QString text = qs(spec.text);
    switch (spec.kind) {
      case ControlKind::GroupBox:
        w = new QGroupBox(text, this);
        // The title sits on the frame's top edge, as on the classic desktop.
        w->setStyleSheet(kGroupBoxStyle);
        break;
      case ControlKind::RadioButton:
        w = new QRadioButton(text, this);
        break;
      case ControlKind::CheckBox:
        w = new QCheckBox(text, this);
        break;
      case ControlKind::StaticText: {
        auto* label = new QLabel(text, this);
        label->setWordWrap(true);
        label->setTextFormat(Qt::PlainText);
        if (spec.alignRight) {
          // The label reaches a little under its field; keep the text clear
          // of the field's edge.
          label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
          label->setContentsMargins(0, 0, px(kLabelGapUnits), 0);
        }
        if (spec.border) {
          label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        }
        if (spec.blueBackground) {
          label->setAutoFillBackground(true);
          QPalette p = label->palette();
          p.setColor(QPalette::Window, QColor(0, 0, 255));
          label->setPalette(p);
          label->setFont(fontOf(kBarFonts));
        }
        w = label;
        break;
      }
      case ControlKind::DateEdit: {
        auto* edit = new QDateEdit(this);
        edit->setDisplayFormat(kDateFormat);
        w = edit;
        break;
      }
      case ControlKind::LineEdit:
      case ControlKind::PasswordEdit: {
        auto* edit = new QLineEdit(text, this);
        if (spec.kind == ControlKind::PasswordEdit) {
          edit->setEchoMode(QLineEdit::Password);
        }
        w = edit;
        break;
      }
      case ControlKind::CommandButton:
        w = new QPushButton(text, this);
        break;
    }
    w->setObjectName(qs(spec.name));
    w->setGeometry(px(spec.x), px(spec.y), px(spec.w), px(spec.h));
    setTextColour(*w, spec.colour);
    w->setEnabled(spec.enabled);
    w->setVisible(spec.visible);
    // A control off the tab sequence still takes focus when clicked.
    if (spec.tab == 0 && w->focusPolicy() != Qt::NoFocus) {
      w->setFocusPolicy(Qt::ClickFocus);
    }
    made[spec.name] = w;
  }

  const auto get = [&](std::string_view name) { return made.at(name); };
  rb_1_ = static_cast<QRadioButton*>(get("rb_1"));
  rb_2_ = static_cast<QRadioButton*>(get("rb_2"));
  cbx_subno_to_no_ = static_cast<QCheckBox*>(get("cbx_subno_to_no"));
  cbx_sale_ = static_cast<QCheckBox*>(get("cbx_sale"));
  sle_server_ = static_cast<QLineEdit*>(get("sle_server"));
  sle_port_ = static_cast<QLineEdit*>(get("sle_port"));
  sle_sa_ = static_cast<QLineEdit*>(get("sle_sa"));
  sle_passwd_ = static_cast<QLineEdit*>(get("sle_passwd"));
  cb_connect_ = static_cast<QPushButton*>(get("cb_connect"));
  cb_convert_ = static_cast<QPushButton*>(get("cb_convert"));
  cb_exit_ = static_cast<QPushButton*>(get("cb_exit"));
  cb_check_ = static_cast<QPushButton*>(get("cb_check"));
  cb_rehearse_ = static_cast<QPushButton*>(get("cb_rehearse"));
  st_state_ = static_cast<QLabel*>(get("st_state"));
  st_5_ = static_cast<QLabel*>(get("st_5"));
  st_text_ = static_cast<QLabel*>(get("st_text"));
  st_status_ = static_cast<QLabel*>(get("st_status"));

  // The tab sequence: the fields and buttons in their design order, then
  // the choice of source and categories and the option.
  std::vector<QWidget*> chain{sle_server_, sle_port_, sle_sa_,      sle_passwd_, get("em_1"),
                              get("em_2"), cb_check_, cb_rehearse_, cb_connect_, cb_convert_,
                              cb_exit_,    rb_1_,     rb_2_};
  for (const Category& c : categories()) {
    chain.push_back(get(c.checkbox));
  }
  chain.push_back(cbx_subno_to_no_);
  for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
    QWidget::setTabOrder(chain[i], chain[i + 1]);
  }
  for (QWidget* w : chain) {
    if (w->focusPolicy() == Qt::ClickFocus) {
      w->setFocusPolicy(Qt::StrongFocus);
    }
  }

  // Enter in a login field presses the connect button while it can be
  // pressed.
  for (QLineEdit* edit : {sle_server_, sle_port_, sle_sa_, sle_passwd_}) {
    connect(edit, &QLineEdit::returnPressed, this, [this] {
      if (cb_connect_->isEnabled()) {
        cb_connect_->click();
      }
    });
  }
  for (QLineEdit* edit : {sle_server_, sle_port_, sle_sa_}) {
    tooltipWhenCut(*edit);
  }

  // The bar stays in front of its track and frame.
  st_status_->raise();

  connect(rb_1_, &QRadioButton::clicked, this, &w_convert3::rb1Clicked);
  connect(rb_2_, &QRadioButton::clicked, this, &w_convert3::rb2Clicked);
  connect(cb_connect_, &QPushButton::clicked, this, &w_convert3::connectClicked);
  connect(cb_convert_, &QPushButton::clicked, this, [this] { startWork(Work::Convert); });
  connect(cb_rehearse_, &QPushButton::clicked, this, [this] { startWork(Work::Rehearse); });
  connect(cb_check_, &QPushButton::clicked, this, [this] { startWork(Work::Check); });
  connect(cb_exit_, &QPushButton::clicked, this, &QWidget::close);
}

void w_convert3::openEvent(const SettingsStore& store) {
  const OpenDefaults defaults = readOpenDefaults(store);
  // The backend is chosen by the stored DBMS, so the session is made once
  // that is known; it lives as long as the window.
  SQLCA_ = makeSession(defaults.settings.DBMS, defaults.settingsProblem);
  SQLCA_->settings = defaults.settings;
  sle_server_->setText(qs(defaults.sle_server));
  sle_port_->setText(qs(defaults.sle_port));
  sle_sa_->setText(qs(defaults.sle_sa));
  SQLCA_->settings.AutoCommit = false;
  wf_set_bar(0);
  setRunButtons(false);
  const QDate today = QDate::currentDate();
  for (const char* name : {"em_1", "em_2"}) {
    findChild<QDateEdit*>(name)->setDate(today);
  }
}

void w_convert3::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (centred_) {
    return;
  }
  centred_ = true;
  if (const QScreen* s = screen(); s != nullptr) {
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
  }
}

void w_convert3::messageBox(const std::string& title, const std::string& text,
                            const std::string& details) {
  boxes_->show(this, BoxContent{title, text, details, {}, iconFor(text)});
}

void w_convert3::showBox(const BoxContent& box) { boxes_->show(this, box); }

void w_convert3::showCompletion(const BoxContent& box, const RunReport& report) {
  BoxContent shown = box;
  std::string note;
  if (report.branchPriceFailed) {
    note = "生成分店价格信息失败。";
  }
  if (report.verificationFlagged()) {
    note += "核对发现源数据与目标数据不一致的类别，请查看下表。";
  }
  shown.note = note;
  boxes_->showCompletion(this, shown, report);
}

void w_convert3::showWorking(const std::string& status) {
  // Only the status line changes; the bar keeps its width.
  progress_.wf_set_bar(0.0F, status);
}

void w_convert3::setRunCursor(bool busy) {
  if (busy == busyCursor_) {
    return;
  }
  busyCursor_ = busy;
  if (busy) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
}

void w_convert3::setRunButtons(bool enabled) {
  for (QPushButton* b : {cb_convert_, cb_check_, cb_rehearse_}) {
    b->setEnabled(enabled);
  }
}

void w_convert3::rb1Clicked() {
  if (rb_1_->isChecked()) {
    cbx_subno_to_no_->setEnabled(true);
  }
}

void w_convert3::rb2Clicked() {
  if (rb_2_->isChecked()) {
    cbx_subno_to_no_->setEnabled(false);
    cbx_subno_to_no_->setChecked(false);
  }
}

void w_convert3::connectClicked() {
  const ConnectFields fields{sle_server_->text().toStdString(), sle_port_->text().toStdString(),
                             sle_sa_->text().toStdString(), sle_passwd_->text().toStdString()};
  ConnectOutcome outcome;
  {
    // The connect blocks until the server answers.
    const BusyCursor busy;
    outcome = connectTarget(*SQLCA_, fields);
  }
  messageBox(kNoticeTitle, outcome.message);
  if (outcome.connected) {
    cb_connect_->setEnabled(false);
    setRunButtons(true);
    cb_convert_->setFocus();
  }
}

void w_convert3::startWork(Work work) {
  if (running_) {
    return;
  }
  RunChoice choice;
  choice.rb_1 = rb_1_->isChecked();
  const auto& cats = categories();
  chosen_.clear();
  for (std::size_t i = 0; i < cats.size() && i < choice.ticked.size(); ++i) {
    const auto* box = findChild<QCheckBox*>(qs(cats[i].checkbox));
    choice.ticked[i] = box != nullptr && box->isChecked();
    if (choice.ticked[i] && cats[i].step != nullptr) {
      chosen_.emplace_back(cats[i].key);
    }
  }
  choice.cbx_sale = cbx_sale_->isChecked();
  choice.cbx_subno_to_no = cbx_subno_to_no_->isChecked();
  if (work == Work::Check && chosen_.empty()) {
    messageBox(kNoticeTitle, "请选择需要传输的信息!");
    return;
  }

  work_ = work;
  running_ = true;
  stop_ = false;
  report_ = RunReport{};
  check_ = CheckReport{};
  setRunButtons(false);
  const std::string source(choice.rb_1 ? kDravikPro : kDravikStd);
  if (work == Work::Check) {
    showWorking("正在检查转换条件");
    setRunCursor(true);
  }
  worker_.reset(QThread::create([this, work, choice, source] {
    Session& SQLCA = *SQLCA_;
    // Every run leaves its events in the day's run log.
    RunLog log(dailyRunLogFile(
        [](const std::string& name) -> std::optional<std::string> {
          if (!qEnvironmentVariableIsSet(name.c_str())) {
            return std::nullopt;
          }
          return qEnvironmentVariable(name.c_str()).toStdString();
        },
        std::chrono::system_clock::now()));
    log.setSecret(SQLCA.settings.LogPass);
    log.write(startEvent({"window",
                          work == Work::Check      ? "check"
                          : work == Work::Rehearse ? "dry-run"
                                                   : "convert",
                          SQLCA.settings.ServerName, SQLCA.settings.LogId, SQLCA.settings.Database,
                          source, chosen_}));
    // A stop requested by the operator ends the statement about to be sent.
    SQLCA.setInterruptCheck([this] { return stop_.load(); });
    WindowRunUi windowUi(*this, stop_, chosen_, work == Work::Rehearse);
    LoggedRunUi ui(windowUi, log);
    if (work == Work::Check) {
      check_ = checkConversion(SQLCA, source, chosen_, choice.cbx_subno_to_no);
      // A check changes nothing; its reads end here.
      SQLCA.rollback();
      for (const CheckFinding& f : check_.findings) {
        log.write(checkEvent(f));
      }
      log.write(endEvent(check_.willFail() ? "failed" : "completed"));
    } else if (work == Work::Rehearse) {
      RehearsalSession rehearsal(SQLCA);
      report_ = runConversion(rehearsal, ui, choice);
      SQLCA.setInterruptCheck(nullptr);
      rehearsalUndone_ = rehearsal.finish();
      logRunEnd(log, report_);
    } else {
      report_ = runConversion(SQLCA, ui, choice);
      logRunEnd(log, report_);
    }
    SQLCA.setInterruptCheck(nullptr);
    QMetaObject::invokeMethod(
        this, [this] { workFinished(); }, Qt::QueuedConnection);
  }));
  worker_->start();
}

void w_convert3::workFinished() {
  if (destroying_ || !worker_) {
    return;
  }
  worker_->wait();
  worker_.reset();
  running_ = false;
  setRunCursor(false);

  bool runAgain = true;
  if (work_ == Work::Check) {
    const BoxContent box{kNoticeTitle,
                         checkVerdict(check_),
                         {},
                         {},
                         check_.willFail() ? BoxIcon::Warning : BoxIcon::Information};
    showWorking(checkVerdict(check_));
    boxes_->showCheck(this, box, check_);
  } else if (report_.interrupted) {
    showWorking("转换已停止");
  } else if (report_.outcome == RunOutcome::StepFailed && !report_.steps.empty()) {
    // The status line tells what happened, not the work that was going on.
    showWorking(categoryName(report_.steps.back().category).toStdString() +
                "转换失败，未提交的更改已回滚");
  } else if (work_ == Work::Rehearse && report_.outcome == RunOutcome::Completed) {
    if (rehearsalUndone_ < 0) {
      messageBox(kNoticeTitle, kRehearsalNotUndoneText + SQLCA_->SQLErrText());
    } else {
      showWorking("演练完成，所有更改均已回滚");
      boxes_->showCompletion(
          this, BoxContent{kNoticeTitle, kRehearsedText, {}, {}, BoxIcon::Information}, report_);
    }
  } else if (report_.outcome == RunOutcome::Completed) {
    // One successful run per connection.
    runAgain = false;
  }
  setRunButtons(runAgain);

  if (closeWhenDone_) {
    if (report_.interrupted) {
      std::vector<std::string> left;
      for (const std::string& key : chosen_) {
        const bool done =
            std::any_of(report_.steps.begin(), report_.steps.end(),
                        [&](const StepReport& s) { return s.ok && s.category == key; });
        if (!done) {
          left.push_back(key);
        }
      }
      boxes_->show(
          this,
          BoxContent{
              kNoticeTitle, kStoppedText, {}, notConvertedNote(left, false), BoxIcon::Information});
    }
    emit runFinished();
    close();
    return;
  }
  emit runFinished();
}

void w_convert3::showProgress() {
  const QRect before = st_status_->geometry();
  const int width = std::max(0, px(progress_.barWidth()));
  st_status_->setGeometry(before.x(), before.y(), width, before.height());
  st_state_->setText(QString::fromStdString(progress_.status()));
  // Paint now rather than when the event queue runs dry: calls from the
  // run arrive in bursts, and every status must reach the screen.
  repaint(before.united(st_status_->geometry())
              .united(st_5_->geometry())
              .united(st_state_->geometry()));
  // The cleared line has reached the screen; while the run goes on it must
  // not look as if nothing happens.
  if (running_ && progress_.status().empty()) {
    st_state_->setText(QString::fromUtf8(kConvertingText));
    st_state_->repaint();
  }
}

void w_convert3::closeEvent(QCloseEvent* event) {
  if (running_) {
    // The session is the run's until it ends: the close waits for it.
    event->ignore();
    if (closeWhenDone_) {
      return;  // already stopping
    }
    if (boxes_->ask(this, kNoticeTitle, kStopQuestion)) {
      closeWhenDone_ = true;
      if (running_) {
        stop_ = true;
        showWorking(kStoppingStatus);
      } else {
        // The run ended while the question was open.
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
      }
    }
    return;
  }
  if (!closed_) {
    closed_ = true;
    const CloseOutcome outcome = closeSession(*SQLCA_);
    if (outcome.failed) {
      messageBox(kNoticeTitle, outcome.message);
    }
  }
  event->accept();
}

}  // namespace cvt::gui
