// The words for how a read or a write ended, in one place for both fronts: lovar-cli says them
// as the outcome's line, the window in its status line and message boxes, around which it adds
// only what to do next. Russian, without the closing full stop: each front ends the sentence
// where it shows it.
//
// Threads: any (pure).
#pragma once

#include <string>
#include <string_view>

namespace lovar::end_texts {

// A read that ended early: "Конфигурация считана не полностью (72 из 256 байт)"; the reason
// follows after ": ".
std::string PartialRead(int reached, int length);

// A read not begun: the window's changes kept at the installer's word, or the whole check of a
// write still going on.
inline constexpr std::string_view kReadDeclined = "Чтение не начато: изменения остались в окне";
inline constexpr std::string_view kReadCheckGoesOn =
    "Чтение не начато: полная проверка записи продолжается";

// What an identify's failure begins with: "Поиск прибора: Прибор не отвечает".
inline constexpr std::string_view kIdentify = "Поиск прибора";

// How much of an image holds a configuration, for a write, a save or a comparison refused:
// "Конфигурация не считана из УО и не загружена из файла" when none, else "Конфигурация считана
// из УО не полностью (72 из 256 байт)".
std::string NotWhole(int known, int length);
// A write refused because the image is not whole: NotWhole's words, then "Запись не начата, в УО
// ничего не записано".
std::string WriteNotWhole(int known, int length);

// What a key read's failure begins with: "Считывание ключа: Прибор не отвечает".
inline constexpr std::string_view kKeyRead = "Считывание ключа";

// A write refused before anything was sent, because the device is not of a model the image is
// for: "Неверный тип УО: <the device's line>. Запись не начата, прибор не изменён".
std::string WriteWrongModel(std::string_view device_line);
// A write the check's errors stopped (the owner chose to go back): "Запись не начата: проверка
// нашла ошибки (2 ошибки). В УО ничего не записано"; counts as CountsText words them.
std::string WriteCheckRefused(std::string_view counts);
// A write not begun because the device's configuration could not be kept in the archive first.
std::string WriteArchiveRefused(std::string_view why);

}  // namespace lovar::end_texts
