#include <windows.h>

#include "files/system_error_text.h"

namespace lovar {
namespace {

// Codes that mingw-w64's winerror.h does not name.
constexpr DWORD kVirusInfected = 225;
constexpr DWORD kVirusDeleted = 226;
constexpr DWORD kDiskQuotaExceeded = 1295;

// The system's own words for a code without a text here, in UTF-8: in the user's language
// (Russian on a Russian Windows), without the trailing line break.
std::string FormattedBySystem(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string utf8;
  if (n > 0 && text != nullptr) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(size));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), utf8.data(), size, nullptr, nullptr);
  }
  if (text != nullptr) LocalFree(text);
  while (!utf8.empty() &&
         (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ' || utf8.back() == '.'))
    utf8.pop_back();
  return utf8;
}

}  // namespace

std::string SystemErrorText(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_FILE_NOT_FOUND:
      return "файл не найден";
    case ERROR_PATH_NOT_FOUND:
      return "путь не найден";
    case ERROR_INVALID_DRIVE:
      return "диск не найден";
    case ERROR_ACCESS_DENIED:
    case ERROR_CANT_ACCESS_FILE:
      return "нет доступа";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return "файл занят другой программой";
    case ERROR_BUSY:
      return "занято другой программой";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return "нет места на диске";
    case kDiskQuotaExceeded:
      return "превышена квота на диске";
    case ERROR_WRITE_PROTECT:
      return "диск защищён от записи";
    case ERROR_NOT_READY:
      return "устройство не готово";
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return "устройство отключено";
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
      return "ошибка ввода-вывода";
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return "файл или диск повреждён";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return "файл уже существует";
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return "недопустимое имя файла";
    case ERROR_FILENAME_EXCED_RANGE:
      return "слишком длинное имя";
    case ERROR_DIRECTORY:
      return "неверное имя папки";
    case ERROR_DIR_NOT_EMPTY:
      return "папка не пуста";
    case ERROR_NOT_SAME_DEVICE:
      return "файлы на разных дисках";
    case ERROR_CANNOT_MAKE:
      return "не удалось создать файл или папку";
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
      return "не удалось заменить файл";
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return "сетевой путь не найден";
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
      return "сетевой диск недоступен";
    case kVirusInfected:
    case kVirusDeleted:
      return "файл заблокирован антивирусом";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "открыто слишком много файлов";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "не хватает памяти";
    case ERROR_OPERATION_ABORTED:
      return "прервано";
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
      return "истекло время ожидания";
    case ERROR_NOT_SUPPORTED:
      return "не поддерживается";
    case ERROR_INVALID_PARAMETER:
      return "недопустимое имя или значение";
    default:
      break;
  }
  const std::string system = FormattedBySystem(static_cast<DWORD>(code));
  return "системная ошибка " + std::to_string(code) + (system.empty() ? "" : " (" + system + ")");
}

}  // namespace lovar
