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

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/session.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "files/utf8_path.h"
#include "serial/event_loop.h"
#include "serial/port_list.h"
#include "serial/tcport.h"

namespace lovar {
namespace {

// Command-line mistakes in the program's language; CLI11's own words name the option.
std::string ArgumentFailure(const CLI::App* app, const CLI::Error& e) {
  const auto all = [](const CLI::App*) { return true; };
  std::string what;
  std::string help = app->get_name();
  if (std::string_view(e.what()).find("subcommand") != std::string_view::npos) {
    // The commands of the command given ("sites"), or the program's own.
    const CLI::App* level = app;
    for (bool deeper = true; deeper;) {
      deeper = false;
      for (const CLI::App* sub : level->get_subcommands(all))
        if (sub->parsed() && !sub->get_subcommands(all).empty()) {
          level = sub;
          help += " " + sub->get_name();
          deeper = true;
        }
    }
    const std::vector<const CLI::App*> commands = level->get_subcommands(all);
    what = level == app ? "не указана команда" : "не указана команда " + level->get_name();
    for (size_t i = 0; i < commands.size(); ++i)
      what += (i == 0 ? ": " : i + 1 == commands.size() ? " или " : ", ") + commands[i]->get_name();
  } else if (dynamic_cast<const CLI::RequiredError*>(&e)) {
    what = "не указан обязательный параметр";
  } else if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    what = "лишние аргументы";
  } else if (dynamic_cast<const CLI::ConversionError*>(&e) ||
             dynamic_cast<const CLI::ValidationError*>(&e)) {
    what = "неверное значение";
  } else if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    what = "неверное число значений";
  } else {
    what = "ошибка в командной строке";
  }
  return "lovar-cli: " + what + " (" + e.what() + ")\nСправка: " + help + " --help\n";
}

int Ports() {
  const std::vector<std::string> names = FillComPorts();
  for (const std::string& name : names) std::printf("%s\n", name.c_str());
  // Standard output stays a plain list; the note is for the person reading the terminal.
  if (names.empty()) std::fprintf(stderr, "Нет портов, которые можно открыть сейчас\n");
  return 0;
}

// Opens the port and identifies the device; prints nothing.
Outcome Connect(Session& session, const CliOptions& o) {
  Outcome out = session.Open(o.port);
  if (!out.ok()) return out;
  out = session.Identify();
  if (!out.ok()) return out;
  if (!IsKnownModel(session.model()))
    return {Status::WrongModel, "Неверный тип УО: " + session.device_line()};
  return {};
}

int Identify(Session& session, const CliOptions& o) {
  Outcome out = session.Open(o.port);
  if (out.ok()) out = session.Identify();
  if (!out.ok()) return Fail(out);
  std::printf("%s\n", session.device_line().c_str());
  return 0;
}

int Read(Session& session, const CliOptions& o) {
  Outcome out = Connect(session, o);
  if (out.ok()) out = session.ReadImage();
  if (!out.ok()) {
    if (out.status == Status::Interrupted || out.status == Status::GaveUp ||
        out.status == Status::LineLost || out.status == Status::NoAnswer)
      out.message += ". Файл не записан";
    return Fail(out);
  }
  std::printf("%s\n", session.device_line().c_str());
  const FileResult saved = SaveConfigFile(PathFromUtf8(o.out), session.model(), session.image());
  if (!saved.ok()) return Fail(Status::FileError, DescribeError(saved));
  const std::string shown = ShownUtf8Path(o.out);
  std::printf("Конфигурация сохранена: %s (%zu байт)\n", shown.c_str(),
              static_cast<size_t>(100 + FileImageLength(session.model())));
  if (o.archive.empty()) return 0;
  const ArchiveResult kept =
      SaveToArchive(PathFromUtf8(o.archive), session.model(), session.image(), LocalTimeNow());
  if (!kept.ok)
    return Fail(Status::FileError,
                "Копия не сохранена в архив: " + kept.message + " (файл " + shown + " записан)");
  std::printf("Копия в архиве: %s\n", ShownPath(kept.path).c_str());
  return 0;
}

int Write(Session& session, const CliOptions& o) {
  // The file first: a wrong or unreadable file is said before the device is touched.
  ConfigImage file_image;
  const std::filesystem::path file = PathFromUtf8(o.file);
  const int file_model = PeekFileModel(file);
  if (file_model == 0)
    return Fail(Status::FileError, DescribeError(LoadConfigFile(file, 0, file_image)));
  Outcome out = Connect(session, o);
  if (!out.ok()) return Fail(out);
  const int model = session.model();
  if (file_model != model)
    return Fail(Status::WrongModel,
                "Неверный тип УО: файл для другой модели, прибор " + session.device_line());
  const FileResult loaded = LoadConfigFile(file, model, session.image());
  if (!loaded.ok()) return Fail(Status::FileError, DescribeError(loaded));
  // A model 251 file holds only the first 2048 bytes; the rest (keys and names among them)
  // comes from the device, read just before the write, so that writing a file never wipes
  // them. With --archive the device's image goes to the archive before anything is written.
  const int file_bytes = FileImageLength(model);
  std::string archived;
  const Session::PriorImage prior = [&](const ConfigImage& device, std::string& why) {
    if (!o.archive.empty()) {
      const ArchiveResult kept =
          SaveToArchive(PathFromUtf8(o.archive), model, device, LocalTimeNow());
      if (!kept.ok) {
        why = "Конфигурация прибора не сохранена в архив: " + kept.message;
        return false;
      }
      // In UTF-8: an archive's name may hold the object number's letters.
      archived = ShownPath(kept.path);
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

int Key(Session& session, const CliOptions& o) {
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
  std::vector<std::string> arguments = Utf8Arguments(argc, argv);
  std::vector<char*> utf8_argv;
  for (std::string& a : arguments) utf8_argv.push_back(a.data());
  CliOptions o;
  CLI::App app;
  const CliCommands commands = DefineCliOptions(app, o);
  app.failure_message(ArgumentFailure);
  CLI11_PARSE(app, static_cast<int>(utf8_argv.size()), utf8_argv.data());
  if (*commands.ports) return Ports();
  if (commands.batch->Chosen()) return commands.batch->Run(o.retries);
  if (commands.sites->Chosen()) return commands.sites->Run();
  FieldsCommands& fields = *commands.fields;
  if (fields.Chosen() && !fields.NeedsDevice()) return fields.Run(nullptr, nullptr);
  CheckCommand& check = *commands.check;
  if (check.Chosen() && !check.NeedsDevice()) return check.Run(nullptr, nullptr);

  const std::atomic<bool>& interrupted = WatchInterrupts();
  EventLoop loop;
  TCport port(loop);
  ConfigureLikeTheMainWindow(port);
  Session session(loop, port, o.retries, StderrIsTerminal(), interrupted);
  const FieldsCommands::Connect connect = [&](const std::string& port_name) {
    o.port = port_name;
    return Connect(session, o);
  };
  if (fields.Chosen()) return fields.Run(&session, connect);
  if (check.Chosen()) return check.Run(&session, connect);
  if (*commands.identify) return Identify(session, o);
  if (*commands.read) return Read(session, o);
  if (*commands.write) return Write(session, o);
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
