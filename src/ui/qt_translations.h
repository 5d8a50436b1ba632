// Qt's own texts in Russian: the standard buttons of message boxes ("Отмена"), the file dialogs
// ("Сохранить как", "Папка"), the edits' context menus. The program's own texts are Russian
// already; only Qt's need its translation catalogue.
//
// Threads: window thread, once at program start.
#pragma once

class QCoreApplication;

namespace lovar {

// Loads Qt's Russian catalogue (qtbase_ru.qm, or the qt_ru.qm that windeployqt makes) into the
// application and makes Russian the default locale. The catalogue is looked for in the
// program's resources first (":/translations", where the static Windows build carries it), then
// beside the program and in its "translations" folder (a Windows build with Qt's DLLs), then in
// Qt's own translations folder (on Debian the package qt6-translations-l10n). False when none
// was found: Qt's texts stay English.
bool LoadQtTranslations(QCoreApplication& app);

}  // namespace lovar
