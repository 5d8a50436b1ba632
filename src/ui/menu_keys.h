// The menus' letters whatever the keyboard's layout. A menu item's underlined letter is Cyrillic
// ("&Файл", "Со&хранить"), which Qt matches only while the Russian layout is on; here a key
// pressed under another layout stands for the Cyrillic letter the Russian layout puts on it
// (Alt+A opens "Файл", then H is "Сохранить"), as an installer who switches layouts expects.
// Each menu's letters are its own, so every item is reached by its letter (CheckMenuLetters).
//
// Threads: window thread only.
#pragma once

#include <QChar>
#include <QString>

class QMenuBar;

namespace lovar {

// The Cyrillic letter the Russian (ЙЦУКЕН) layout types on the key that types qt_key (Qt::Key_A
// gives 'ф'); a null QChar for a key that carries none.
QChar RussianLetterOnKey(int qt_key);

// Makes the bar's letters and those of its menus work under any layout (an event filter of the
// application, gone with the bar).
void MenuLettersAnyLayout(QMenuBar& bar);

// The items of the bar's menus that share a letter with another item of their menu, or have
// none: "Файл: Сравнить с файлом…, Записать всё"; empty when every item has a letter of its own.
QString CheckMenuLetters(const QMenuBar& bar);

}  // namespace lovar
