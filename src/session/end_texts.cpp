#include "session/end_texts.h"

namespace lovar::end_texts {

std::string PartialRead(int reached, int length) {
  return "Конфигурация считана не полностью (" + std::to_string(reached) + " из " +
         std::to_string(length) + " байт)";
}

std::string WriteWrongModel(std::string_view device_line) {
  return "Неверный тип УО: " + std::string(device_line) + ". Запись не начата, прибор не изменён";
}

}  // namespace lovar::end_texts
