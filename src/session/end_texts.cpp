#include "session/end_texts.h"

namespace lovar::end_texts {

std::string PartialRead(int reached, int length) {
  return "Конфигурация считана не полностью (" + std::to_string(reached) + " из " +
         std::to_string(length) + " байт)";
}

std::string NotWhole(int known, int length) {
  if (known == 0) return "Конфигурация не считана из УО и не загружена из файла";
  return "Конфигурация считана из УО не полностью (" + std::to_string(known) + " из " +
         std::to_string(length) + " байт)";
}

std::string WriteNotWhole(int known, int length) {
  return NotWhole(known, length) + ". Запись не начата, в УО ничего не записано";
}

std::string WriteWrongModel(std::string_view device_line) {
  return "Неверный тип УО: " + std::string(device_line) + ". Запись не начата, прибор не изменён";
}

std::string WriteCheckRefused(std::string_view counts) {
  return "Запись не начата: проверка нашла ошибки (" + std::string(counts) +
         "). В УО ничего не записано";
}

std::string WriteArchiveRefused(std::string_view why) {
  return "Конфигурация прибора не сохранена в архив: " + std::string(why) +
         ". В УО ничего не записано";
}

}  // namespace lovar::end_texts
