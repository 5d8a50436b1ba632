#include "session/end_texts.h"

namespace lovar::end_texts {

std::string PartialRead(int reached, int length) {
  return "Конфигурация считана не полностью (" + std::to_string(reached) + " из " +
         std::to_string(length) + " байт)";
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
