#include "serial/link_error.h"

namespace lovar {

std::string_view ErrorText(LinkError error) {
  switch (error) {
    case LinkError::None:
      return "Нет ошибки";
    case LinkError::NoSuchPort:
      return "Порт не найден";
    case LinkError::PortBusy:
      return "Порт занят другой программой";
    case LinkError::AccessDenied:
      return "Нет доступа к порту";
    case LinkError::NotSerial:
      return "Это не последовательный порт";
    case LinkError::HungUp:
      return "Связь с портом потеряна";
    case LinkError::Io:
      break;
  }
  return "Ошибка порта";
}

}  // namespace lovar
