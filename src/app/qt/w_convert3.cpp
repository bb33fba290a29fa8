#include "app/qt/w_convert3.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <map>

#include "app/connection.h"
#include "app/qt/message_boxes.h"
#include "app/qt/window_controls.h"
#include "app/qt/window_run_ui.h"
#include "app/run_driver.h"
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

// Resets a flag when the scope ends, on every path.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

// The busy pointer for the life of the object.
class BusyCursor {
 public:
  BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~BusyCursor() { QApplication::restoreOverrideCursor(); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

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
  resize(px(kWindowWidthUnits), px(kWindowHeightUnits));
  buildControls();
  progress_.setTrackWidth(windowControls().back().w);
  progress_.setListener([this] { showProgress(); });
  openEvent(store);
}

w_convert3::~w_convert3() {
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
  for (const ControlSpec& spec : windowControls()) {
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
  st_state_ = static_cast<QLabel*>(get("st_state"));
  st_5_ = static_cast<QLabel*>(get("st_5"));
  st_text_ = static_cast<QLabel*>(get("st_text"));
  st_status_ = static_cast<QLabel*>(get("st_status"));

  // The tab sequence of the fields and buttons; every other control is
  // reached with the mouse only.
  QWidget::setTabOrder(sle_server_, sle_port_);
  QWidget::setTabOrder(sle_port_, sle_sa_);
  QWidget::setTabOrder(sle_sa_, sle_passwd_);
  QWidget::setTabOrder(sle_passwd_, get("em_1"));
  QWidget::setTabOrder(get("em_1"), get("em_2"));
  QWidget::setTabOrder(get("em_2"), cb_connect_);
  QWidget::setTabOrder(cb_connect_, cb_convert_);
  QWidget::setTabOrder(cb_convert_, cb_exit_);

  // The bar stays in front of its track and frame.
  st_status_->raise();

  connect(rb_1_, &QRadioButton::clicked, this, &w_convert3::rb1Clicked);
  connect(rb_2_, &QRadioButton::clicked, this, &w_convert3::rb2Clicked);
  connect(cb_connect_, &QPushButton::clicked, this, &w_convert3::connectClicked);
  connect(cb_convert_, &QPushButton::clicked, this, &w_convert3::convertClicked);
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
  cb_convert_->setEnabled(false);
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
  boxes_->show(this, title, text, details);
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
    cb_convert_->setEnabled(true);
  }
}

void w_convert3::convertClicked() {
  if (running_) {
    return;
  }
  RunChoice choice;
  choice.rb_1 = rb_1_->isChecked();
  const auto& cats = categories();
  for (std::size_t i = 0; i < cats.size() && i < choice.ticked.size(); ++i) {
    const auto* box = findChild<QCheckBox*>(qs(cats[i].checkbox));
    choice.ticked[i] = box != nullptr && box->isChecked();
  }
  choice.cbx_sale = cbx_sale_->isChecked();
  choice.cbx_subno_to_no = cbx_subno_to_no_->isChecked();

  RunOutcome outcome = RunOutcome::NothingChosen;
  {
    const FlagGuard running(running_);
    const InputBlocker blocker(*this);
    WindowRunUi ui(*this);
    outcome = runConversion(*SQLCA_, ui, choice).outcome;
  }
  // One successful run per connection.
  if (outcome == RunOutcome::Completed) {
    cb_convert_->setEnabled(false);
  }
}

void w_convert3::showProgress() {
  const QRect before = st_status_->geometry();
  const int width = std::max(0, px(progress_.barWidth()));
  st_status_->setGeometry(before.x(), before.y(), width, before.height());
  st_state_->setText(QString::fromStdString(progress_.status()));
  // Paint now: a run blocks this thread between two calls, and the display
  // must follow every call rather than wait for the run to end.
  repaint(before.united(st_status_->geometry())
              .united(st_5_->geometry())
              .united(st_state_->geometry()));
  if (running_) {
    // Lets the window be redrawn when it is uncovered or moved; input is
    // dropped by the run's InputBlocker and closing is refused.
    QCoreApplication::processEvents();
  }
}

void w_convert3::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
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
