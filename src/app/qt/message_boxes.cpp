#include "app/qt/message_boxes.h"

#include <QMessageBox>

namespace cvt::gui {

void QtMessageBoxes::show(QWidget* parent, const std::string& title, const std::string& text,
                          const std::string& details) {
  QMessageBox box(QMessageBox::Information, QString::fromStdString(title),
                  QString::fromStdString(text), QMessageBox::Ok, parent);
  // The texts are shown exactly as given, never interpreted as markup.
  box.setTextFormat(Qt::PlainText);
  if (!details.empty()) {
    box.setDetailedText(QString::fromStdString(details));
  }
  box.exec();
}

}  // namespace cvt::gui
