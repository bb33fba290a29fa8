// The application "convert": one main window over the database session.
//
//   convert                     opens the window
//   convert --screenshot FILE   renders the window (no display needed) into
//                               a PNG file and ends
#include <QApplication>
#include <QByteArray>
#include <QPixmap>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/qt/w_convert3.h"
#include "app/settings_store.h"

namespace {

// The file named after --screenshot, or empty.
std::string screenshotFile(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0) {
      return argv[i + 1];
    }
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string shot = screenshotFile(argc, argv);
  if (!shot.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("convert");

  cvt::gui::w_convert3 window(cvt::SettingsStore::open());
  window.show();
  if (!shot.empty()) {
    QApplication::processEvents();
    if (!window.grab().save(QString::fromStdString(shot), "PNG")) {
      std::fprintf(stderr, "convert: cannot write %s\n", shot.c_str());
      return 1;
    }
    window.close();
    return 0;
  }
  return QApplication::exec();
}
