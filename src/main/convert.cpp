// The application "convert": one main window over the database session.
//
//   convert                     opens the window
//   convert --screenshot FILE   renders the window (no display needed) into
//                               a PNG file and ends
#include <QApplication>
#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QPixmap>
#include <QStringList>
#include <cstdio>
#include <string>

#include "app/qt/translations.h"
#include "app/qt/w_convert3.h"
#include "app/settings_store.h"

namespace {

// The file named after --screenshot, or empty. Read before QApplication
// exists, since it decides the platform; Qt's own options (such as
// -platform) are left to QApplication.
std::string screenshotFile(int argc, char** argv) {
  QStringList args;
  for (int i = 0; i < argc; ++i) {
    args << QString::fromLocal8Bit(argv[i]);
  }
  QCommandLineParser parser;
  const QCommandLineOption screenshot("screenshot", "render the window into a PNG file", "FILE");
  parser.addOption(screenshot);
  parser.parse(args);  // an option it does not know is one of Qt's
  return parser.value(screenshot).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string shot = screenshotFile(argc, argv);
  if (!shot.empty() && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("convert");
  // Standard buttons and dialogs in the operator's language, as the
  // window's own texts are.
  cvt::gui::installQtTranslations();

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
