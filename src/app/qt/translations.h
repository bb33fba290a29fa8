#pragma once

#include <QLocale>

namespace cvt::gui {

// Installs Qt's own translations (standard buttons, dialogs, context
// menus) for `locale` on the running application, from the folder where Qt
// keeps them. True when a translation was found and installed; the texts
// stay in English otherwise. REQUIRES: a QCoreApplication exists.
bool installQtTranslations(const QLocale& locale = QLocale::system());

}  // namespace cvt::gui
