// The main window's words for what its session did: the status line, and for a failure a
// message box that says what the device or the image now holds. Texts only; the session
// decided what happened.
//
// Threads: any (pure).
#pragma once

#include <QString>

#include "session/session.h"

namespace lovar {

extern const QString kFindAgain;  // how to get the device back: "Файл" → "Поиск прибора…"
extern const QString kPortClosed;  // a read or write asked for while the port is closed
extern const QString kLineLost;    // "Связь с портом потеряна", the caption

// What to say: the status line (the text when status is empty), and a warning box when
// caption is set. Nothing at all when text is empty.
struct Said {
  QString caption;
  QString text;
  QString status;
};

// "COM5: Ловар-М Версия 2.2", the search window's line of the device identified: the port it
// answered on ("Демо" for a demo device, whose line names its model).
QString DeviceListLine(const DeviceIdentity& device, bool demo);

// The status line while a stage runs ("Запись в УО…"); empty for a plain read's (the window
// says its start itself).
QString StageText(SessionStage stage);
// The status line as an operation starts ("Чтение из УО…", the key poll's); empty for none.
QString StartedText(Operation operation);
// The text as a sentence: a full stop added where it has none.
QString Sentence(const QString& text);
// "Конфигурация считана не полностью (72 из 256 байт)" (session/end_texts.h).
QString PartialReadText(const SessionEnd& end);
// A read's end; archived: what the status line adds of the read's record; saveable: whether
// what was read may be saved (a model 251 file holds only the image's first half), said for a
// read that ended early.
Said ReadEndSaid(const SessionEnd& end, const QString& archived, bool saveable);
// What the record of a complete read adds: ", копия — в архиве" or why there is none.
QString ArchivedNote(const KeptRecord& record, bool demo);
// A search's end: the core's line ("Поиск прибора: Прибор не отвечает"), as lovar-cli says it.
Said IdentifyEndSaid(const SessionEnd& end);
// A key poll's end; key: the key read, as the key grid shows it.
Said KeyEndSaid(const SessionEnd& end, const QString& key);
// A write's end (the core's line, a refused write's included), but for a lost line with changes
// kept only in the window (the window asks to save them); refused writes say why.
Said WriteEndSaid(const SessionEnd& end);
// A write, a save or a comparison refused for an image of which known of length bytes hold the
// configuration.
Said IncompleteSaid(int known, int length, const QString& caption, const QString& what);

}  // namespace lovar
