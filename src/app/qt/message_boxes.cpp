#include "app/qt/message_boxes.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/preflight.h"
#include "app/qt/report_views.h"
#include "app/run_driver.h"

namespace cvt::gui {

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

QMessageBox::Icon qtIcon(BoxIcon icon) {
  return icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::Information;
}

// A resizable dialog: the icon and text of a message box, the note, then
// `tables` one under the other with their captions, and an OK button.
void showWithTables(QWidget* parent, const BoxContent& box,
                    const std::vector<std::pair<QString, QTableWidget*>>& tables, QDialog& dialog) {
  dialog.setWindowTitle(qs(box.title));
  dialog.setSizeGripEnabled(true);
  auto* layout = new QVBoxLayout(&dialog);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel(&dialog);
  const QStyle::StandardPixmap pixmap = box.icon == BoxIcon::Warning
                                            ? QStyle::SP_MessageBoxWarning
                                            : QStyle::SP_MessageBoxInformation;
  const int side = dialog.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &dialog);
  icon->setPixmap(dialog.style()->standardIcon(pixmap, nullptr, &dialog).pixmap(side, side));
  top->addWidget(icon, 0, Qt::AlignTop);
  auto* text = new QLabel(qs(box.text), &dialog);
  text->setObjectName("text");
  text->setTextFormat(Qt::PlainText);
  text->setWordWrap(true);
  top->addWidget(text, 1);
  layout->addLayout(top);
  if (!box.note.empty()) {
    auto* note = new QLabel(qs(box.note), &dialog);
    note->setObjectName("note");
    note->setTextFormat(Qt::PlainText);
    note->setWordWrap(true);
    layout->addWidget(note);
  }
  int width = 0;
  for (const auto& [caption, table] : tables) {
    if (table == nullptr) {
      continue;
    }
    if (!caption.isEmpty()) {
      layout->addWidget(new QLabel(caption, &dialog));
    }
    table->setParent(&dialog);
    layout->addWidget(table, 1);
    int w = table->frameWidth() * 2 + table->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < table->columnCount(); ++c) {
      w += table->columnWidth(c);
    }
    width = std::max(width, w);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  // Wide enough for every column at its contents' width, as far as the
  // screen allows; the operator can make it larger.
  dialog.resize(std::max(width + 40, 480), dialog.sizeHint().height() + 120);
  if (parent != nullptr) {
    dialog.setWindowModality(Qt::WindowModal);
  }
}

}  // namespace

BoxIcon iconFor(const std::string& text) {
  return text.find("失败") != std::string::npos ? BoxIcon::Warning : BoxIcon::Information;
}

void MessageBoxes::showCompletion(QWidget* parent, const BoxContent& box, const RunReport& report) {
  BoxContent withSummary = box;
  withSummary.details = runSummary(report);
  show(parent, withSummary);
}

void MessageBoxes::showCheck(QWidget* parent, const BoxContent& box, const CheckReport& report) {
  BoxContent withFindings = box;
  withFindings.details = checkTable(report);
  show(parent, withFindings);
}

void QtMessageBoxes::show(QWidget* parent, const BoxContent& box) {
  QMessageBox dialog(qtIcon(box.icon), qs(box.title), qs(box.text), QMessageBox::Ok, parent);
  // The texts are shown exactly as given, never interpreted as markup.
  dialog.setTextFormat(Qt::PlainText);
  if (!box.note.empty()) {
    dialog.setInformativeText(qs(box.note));
  }
  if (!box.details.empty()) {
    dialog.setDetailedText(qs(box.details));
  }
  dialog.exec();
}

bool QtMessageBoxes::ask(QWidget* parent, const std::string& title, const std::string& text) {
  QMessageBox dialog(QMessageBox::Question, qs(title), qs(text), QMessageBox::Yes | QMessageBox::No,
                     parent);
  dialog.setTextFormat(Qt::PlainText);
  dialog.setDefaultButton(QMessageBox::No);
  return dialog.exec() == QMessageBox::Yes;
}

void QtMessageBoxes::showCompletion(QWidget* parent, const BoxContent& box,
                                    const RunReport& report) {
  QDialog dialog(parent);
  showWithTables(parent, box,
                 {{QStringLiteral("各类别的转换："), runStepsTable(report, nullptr)},
                  {QStringLiteral("源数据与目标数据的核对："), verificationTable(report, nullptr)}},
                 dialog);
  dialog.exec();
}

void QtMessageBoxes::showCheck(QWidget* parent, const BoxContent& box, const CheckReport& report) {
  QDialog dialog(parent);
  showWithTables(parent, box, {{QString(), checkFindingsTable(report, nullptr)}}, dialog);
  dialog.exec();
}

}  // namespace cvt::gui
