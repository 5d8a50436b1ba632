// lovar-cli: the whole road of a configuration without the windows. Finds ports, identifies a
// device, reads its image into a configuration file, writes a file back and proves it on the
// device, and learns a key.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_command.h"
#include "cli/console.h"
#include "cli/fields_commands.h"
#include "cli/session.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "serial/event_loop.h"
#include "serial/port_list.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

int Fail(const Outcome& out) {
  std::fprintf(stderr, "%s\n", out.message.c_str());
  return static_cast<int>(out.status);
}

int Fail(Status status, const std::string& message) {
  return Fail(Outcome{status, message});
}

// A path for the console in UTF-8 (an archive's name may hold the object number's letters,
// which a narrow Windows path would lose).
std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// Command-line mistakes in the program's language; CLI11's own words name the option.
std::string ArgumentFailure(const CLI::App* app, const CLI::Error& e) {
  std::string what;
  if (std::string_view(e.what()).find("subcommand") != std::string_view::npos)
    what = "не указана команда: ports, identify, read, write, key, show, diff, export, import или batch";
  else if (dynamic_cast<const CLI::RequiredError*>(&e))
    what = "не указан обязательный параметр";
  else if (dynamic_cast<const CLI::ExtrasError*>(&e))
    what = "лишние аргументы";
  else if (dynamic_cast<const CLI::ConversionError*>(&e) ||
           dynamic_cast<const CLI::ValidationError*>(&e))
    what = "неверное значение";
  else if (dynamic_cast<const CLI::ArgumentMismatch*>(&e))
    what = "неверное число значений";
  else
    what = "ошибка в командной строке";
  return "lovar-cli: " + what + " (" + e.what() + ")\nСправка: " + app->get_name() + " --help\n";
}

struct Options {
  std::string port;
  std::string out;
  std::string file;
  std::string archive;  // --archive DIR: keep every read there
  bool no_verify = false;
  bool verify = false;  // the check is the default; the flag stays for older scripts
  int retries = 3;
  int key_wait = 60;
};

int Ports() {
  const std::vector<std::string> names = FillComPorts();
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  // Standard output stays a plain list; the note is for the person reading the terminal.
  if (names.empty()) std::fprintf(stderr, "Нет портов, которые можно открыть сейчас\n");
  return 0;
}

// Opens the port and identifies the device; prints nothing.
Outcome Connect(Session& session, const Options& o) {
  Outcome out = session.Open(o.port);
  if (!out.ok()) return out;
  out = session.Identify();
  if (!out.ok()) return out;
  if (!IsKnownModel(session.model()))
    return {Status::WrongModel, "Неверный тип УО: " + session.device_line()};
  return {};
}

int Identify(Session& session, const Options& o) {
  Outcome out = session.Open(o.port);
  if (out.ok()) out = session.Identify();
  if (!out.ok()) return Fail(out);
  std::printf("%s\n", session.device_line().c_str());
  return 0;
}

int Read(Session& session, const Options& o) {
  Outcome out = Connect(session, o);
  if (out.ok()) out = session.ReadImage();
  if (!out.ok()) {
    if (out.status == Status::Interrupted || out.status == Status::GaveUp ||
        out.status == Status::LineLost || out.status == Status::NoAnswer)
      out.message += ". Файл не записан";
    return Fail(out);
  }
  std::printf("%s\n", session.device_line().c_str());
  const FileResult saved = SaveConfigFile(o.out, session.model(), session.image());
  if (!saved.ok()) return Fail(Status::FileError, DescribeError(saved));
  std::printf("Конфигурация сохранена: %s (%zu байт)\n", o.out.c_str(),
              static_cast<size_t>(100 + FileImageLength(session.model())));
  if (o.archive.empty()) return 0;
  const ArchiveResult kept =
      SaveToArchive(o.archive, session.model(), session.image(), LocalTimeNow());
  if (!kept.ok)
    return Fail(Status::FileError,
                "Копия не сохранена в архив: " + kept.message + " (файл " + o.out + " записан)");
  std::printf("Копия в архиве: %s\n", PathText(kept.path).c_str());
  return 0;
}

int Write(Session& session, const Options& o) {
  // The file first: a wrong or unreadable file is said before the device is touched.
  ConfigImage file_image;
  const int file_model = PeekFileModel(o.file);
  if (file_model == 0)
    return Fail(Status::FileError, DescribeError(LoadConfigFile(o.file, 0, file_image)));
  Outcome out = Connect(session, o);
  if (!out.ok()) return Fail(out);
  const int model = session.model();
  if (file_model != model)
    return Fail(Status::WrongModel,
                "Неверный тип УО: файл для другой модели, прибор " + session.device_line());
  const FileResult loaded = LoadConfigFile(o.file, model, session.image());
  if (!loaded.ok()) return Fail(Status::FileError, DescribeError(loaded));
  // A model 251 file holds only the first 2048 bytes; the rest (keys and names among them)
  // comes from the device, read just before the write, so that writing a file never wipes
  // them. With --archive the device's image goes to the archive before anything is written.
  const int file_bytes = FileImageLength(model);
  std::string archived;
  const Session::PriorImage prior = [&](const ConfigImage& device, std::string& why) {
    if (!o.archive.empty()) {
      const ArchiveResult kept = SaveToArchive(o.archive, model, device, LocalTimeNow());
      if (!kept.ok) {
        why = "Конфигурация прибора не сохранена в архив: " + kept.message;
        return false;
      }
      archived = PathText(kept.path);
    }
    std::copy(device.bytes().begin() + file_bytes, device.bytes().begin() + ImageLength(model),
              session.image().bytes().begin() + file_bytes);
    return true;
  };
  const bool read_first = file_bytes < ImageLength(model) || !o.archive.empty();
  out = session.WriteImage(!o.no_verify, read_first ? prior : nullptr);
  if (!archived.empty() && !out.ok())
    std::fprintf(stderr, "Прежняя конфигурация прибора в архиве: %s\n", archived.c_str());
  if (!out.ok()) return Fail(out);
  std::printf("%s\n", session.device_line().c_str());
  if (!archived.empty())
    std::printf("Прежняя конфигурация прибора в архиве: %s\n", archived.c_str());
  std::printf("%s\n", out.message.c_str());
  if (o.no_verify)
    std::fprintf(stderr, "Внимание: прибор не проверен после записи (--no-verify)\n");
  return 0;
}

int Key(Session& session, const Options& o) {
  Outcome out = Connect(session, o);
  if (!out.ok()) return Fail(out);
  std::fprintf(stderr, "Поднесите ключ к считывателю\n");
  out = session.LearnKey(std::chrono::seconds(o.key_wait));
  if (!out.ok()) return Fail(out);
  std::printf("Считан ключ: %s\n", session.engine().EditKeyText().c_str());
  std::printf("В таблицу ключей: %s\n", session.engine().KeyText().c_str());
  return 0;
}


int Run(int argc, char** argv) {
  PrepareConsole();
  Options o;
  CLI::App app{"lovar-cli: чтение и запись конфигурации УО Ловар через последовательный порт",
               "lovar-cli"};
  // A path such as "/tmp/x.dat" is a path on every system, never a Windows-style "/option";
  // set before the commands are added, which take it over.
  app.allow_windows_style_options(false);
  app.require_subcommand(1);
  app.fallthrough();  // --retries may also follow the command
  app.failure_message(ArgumentFailure);
  app.add_option("--retries", o.retries,
                 "Сколько раз подряд повторять запрос, когда прибор не отвечает")
      ->default_val(3)
      ->check(CLI::Range(0, 1000));

  CLI::App* ports = app.add_subcommand("ports", "Список портов, которые можно открыть");
  CLI::App* identify = app.add_subcommand("identify", "Найти прибор и показать его тип и версию");
  identify->add_option("--port,-p", o.port, "Порт (например /dev/ttyUSB0 или COM5)")->required();
  CLI::App* read = app.add_subcommand("read", "Считать конфигурацию из УО в файл");
  read->add_option("--port,-p", o.port, "Порт")->required();
  read->add_option("--out,-o", o.out, "Файл конфигурации (*.dat)")->required();
  read->add_option("--archive", o.archive,
                   "Папка архива: туда же копия считанной конфигурации (хранятся 100 последних)");
  CLI::App* write = app.add_subcommand("write", "Записать конфигурацию из файла в УО");
  write->add_option("--port,-p", o.port, "Порт")->required();
  write->add_option("file", o.file, "Файл конфигурации (*.dat)")->required();
  write->add_flag("--no-verify", o.no_verify,
                  "Не проверять запись (без проверки прибор не считывается после записи)");
  write->add_flag("--verify", o.verify)->group("");
  write->add_option("--archive", o.archive,
                    "Папка архива: перед записью прибор считывается, и его прежняя конфигурация "
                    "сохраняется туда");
  CLI::App* key = app.add_subcommand("key", "Считать ключ, поднесённый к считывателю");
  key->add_option("--port,-p", o.port, "Порт")->required();
  key->add_option("--wait", o.key_wait, "Сколько секунд ждать ключ")
      ->default_val(60)
      ->check(CLI::Range(1, 3600));
  FieldsCommands fields(app);
  BatchCommand batch(app);

  CLI11_PARSE(app, argc, argv);
  if (*ports) return Ports();
  if (batch.Chosen()) return batch.Run(o.retries);
  if (fields.Chosen() && !fields.NeedsDevice()) return fields.Run(nullptr, nullptr);

  const std::atomic<bool>& interrupted = WatchInterrupts();
  EventLoop loop;
  TCport port(loop);
  ConfigureLikeTheMainWindow(port);
  Session session(loop, port, o.retries, StderrIsTerminal(), interrupted);
  if (fields.Chosen())
    return fields.Run(&session, [&](const std::string& port_name) {
      o.port = port_name;
      return Connect(session, o);
    });
  if (*identify) return Identify(session, o);
  if (*read) return Read(session, o);
  if (*write) return Write(session, o);
  return Key(session, o);
}

}  // namespace
}  // namespace lovar

int main(int argc, char** argv) {
  // The session, and with it the port, is gone when Run returns.
  const int status = lovar::Run(argc, argv);
  lovar::InterruptHandled();
  return status;
}
