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
    case LinkError::BadAddress:
      return "Неверный сетевой адрес порта: нужно socket://узел:порт или rfc2217://узел:порт";
    case LinkError::HostNotFound:
      return "Имя узла сети не найдено";
    case LinkError::ConnectionRefused:
      return "Сервер портов отказал в соединении";
    case LinkError::HostUnreachable:
      return "Узел сети недоступен";
    case LinkError::ConnectTimeout:
      return "Сервер портов не ответил на соединение";
    case LinkError::ServerClosed:
      return "Сервер портов закрыл соединение (порт занят другим клиентом?)";
    case LinkError::NoNegotiation:
      return "Сервер портов не ответил на согласование RFC 2217 (порт настроен без telnet?)";
    case LinkError::NegotiationRefused:
      return "Сервер портов отказал в управлении портом по RFC 2217";
    case LinkError::Io:
      break;
  }
  return "Ошибка порта";
}

}  // namespace lovar
