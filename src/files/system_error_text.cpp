#include "files/system_error_text.h"

#include <cstring>

namespace lovar {

std::string ErrnoText(int value) {
  switch (static_cast<std::errc>(value)) {
    case std::errc::permission_denied:
    case std::errc::operation_not_permitted:
      return "нет доступа";
    case std::errc::no_such_file_or_directory:
      return "файл или папка не найдены";
    case std::errc::device_or_resource_busy:
      return "занято другой программой";
    case std::errc::text_file_busy:
      return "файл занят другой программой";
    case std::errc::no_space_on_device:
      return "нет места на диске";
    case std::errc::read_only_file_system:
      return "диск только для чтения";
    case std::errc::file_exists:
      return "файл уже существует";
    case std::errc::is_a_directory:
      return "это папка, а не файл";
    case std::errc::not_a_directory:
      return "часть пути — не папка";
    case std::errc::filename_too_long:
      return "слишком длинное имя";
    case std::errc::io_error:
      return "ошибка ввода-вывода";
    case std::errc::too_many_files_open:
    case std::errc::too_many_files_open_in_system:
      return "открыто слишком много файлов";
    case std::errc::not_enough_memory:
      return "не хватает памяти";
    case std::errc::too_many_symbolic_link_levels:
      return "слишком много символьных ссылок подряд";
    case std::errc::cross_device_link:
      return "файлы на разных дисках";
    case std::errc::file_too_large:
      return "файл слишком велик";
    case std::errc::directory_not_empty:
      return "папка не пуста";
    case std::errc::no_such_device:
    case std::errc::no_such_device_or_address:
      return "устройство не найдено";
    case std::errc::resource_unavailable_try_again:
      return "занято, попробуйте ещё раз";
    case std::errc::interrupted:
      return "прервано";
    case std::errc::invalid_argument:
      return "недопустимое имя или значение";
    case std::errc::timed_out:
      return "истекло время ожидания";
    case std::errc::broken_pipe:
      return "канал закрыт";
    case std::errc::not_supported:
      return "не поддерживается";
    default:
      break;
  }
  return "системная ошибка " + std::to_string(value) + " (" + std::strerror(value) + ")";
}

std::string SystemErrorText(const std::error_code& error) {
  if (error.category() == std::generic_category()) return ErrnoText(error.value());
  return SystemErrorText(error.value());
}

}  // namespace lovar
