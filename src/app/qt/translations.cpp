#include "app/qt/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace cvt::gui {

bool installQtTranslations(const QLocale& locale) {
  // Owned by the application, so the texts stay translated for its life.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace cvt::gui
