// lovar-cli: the whole road of a configuration without the windows. Finds ports, identifies a
// device, reads its image into a configuration file, writes a file back and proves it on the
// device, and learns a key.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/session_runner.h"
#include "cli/write_check.h"
#include "files/archive.h"
#include "files/config_file.h"
#include "files/utf8_path.h"
#include "model/image_diff.h"
#include "serial/event_loop.h"
#include "serial/port_list.h"
#include "serial/tcport.h"
#include "session/recorder.h"

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

// "Чтение остановлено …: Связь с портом потеряна" inside a sentence: the capital at the start
// and after each ": " made small (Cyrillic А to Я, as the messages begin).
std::string LowerInitials(std::string text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (i != 0 && !(i >= 2 && text[i - 2] == ':' && text[i - 1] == ' ')) continue;
    auto& lead = reinterpret_cast<unsigned char&>(text[i]);
    auto& next = reinterpret_cast<unsigned char&>(text[i + 1]);
    if (lead != 0xD0 || next < 0x90 || next > 0xAF) continue;
    if (next <= 0x9F) {
      next = static_cast<unsigned char>(next + 0x20);  // А..П -> а..п
    } else {
      lead = 0xD1;  // Р..Я -> р..я
      next = static_cast<unsigned char>(next - 0x20);
    }
  }
  return text;
}

// Opens the port and identifies the device; prints nothing.
Outcome Connect(SessionRunner& session, const CliOptions& o) {
  Outcome out = session.Open(o.port);
  if (!out.ok()) return out;
  out = session.Identify();
  if (!out.ok()) return out;
  if (!IsKnownModel(session.model()))
    return {Status::WrongModel, "Неверный тип УО: " + session.device_line()};
  return {};
}

int Identify(SessionRunner& session, const CliOptions& o) {
  Outcome out = session.Open(o.port);
  if (out.ok()) out = session.Identify();
  if (!out.ok()) return Fail(out);
  std::printf("%s\n", session.device_line().c_str());
  return 0;
}

// How the read compared with its site's last proven record, said on stderr.
void SayDrift(const std::optional<DriftFound>& found) {
  if (!found) return;
  const std::string text = DriftFoundText(*found);
  if (text.empty()) return;
  std::fprintf(stderr, found->drifted() ? "Внимание: %s\n" : "%s\n", text.c_str());
}

int Read(SessionRunner& session, const CliOptions& o, CliRecording& recording) {
  // A place the file cannot go is said before the device is read, not after.
  const FileResult place = CheckSavePlace(PathFromUtf8(o.out));
  if (!place.ok()) return Fail(Status::FileError, DescribeError(place));
  Outcome out = Connect(session, o);
  SessionEnd read;
  if (out.ok()) {
    read = session.ReadImage();
    out = read.outcome;
  }
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
  SayDrift(recording.AwaitDrift(o.port, CliRecording::kDriftWait));
  // The site's last write let past the check's errors, while the device still holds it.
  if (read.record && !read.record->note.empty())
    std::fprintf(stderr, "Внимание: %s\n", read.record->note.c_str());
  // With --archive the session kept the device's image as it was read.
  if (!read.record || o.archive.empty()) return 0;
  if (!read.record->ok)
    return Fail(Status::FileError, "Копия не сохранена в архив: " + read.record->message +
                                       " (файл " + shown + " записан)");
  std::printf("Копия в архиве: %s\n", ShownPath(read.record->path).c_str());
  return 0;
}

int Write(SessionRunner& session, const CliOptions& o, CliRecording& recording,
          Recorder* recorder) {
  // The file first: a wrong or unreadable file is said before the device is touched.
  ConfigImage file_image;
  const std::filesystem::path file = PathFromUtf8(o.file);
  const int file_model = PeekFileModel(file);
  if (file_model == 0)
    return Fail(Status::FileError, DescribeError(LoadConfigFile(file, 0, file_image)));
  if (const FileResult loaded = LoadConfigFile(file, file_model, file_image); !loaded.ok())
    return Fail(Status::FileError, DescribeError(loaded));
  CheckGate gate;
  if (const int status = MakeCheckGate(o.rules, o.allowed, gate); status != 0) return status;
  // The file as it is, before the device is touched.
  const Judgement as_file =
      Judge(FileCheckInput(file_model, file_image, nullptr, gate.rules()), gate);
  if (Outcome refused = SayJudgement(as_file, {}, gate, "В УО ничего не записано"); !refused.ok())
    return Fail(refused);
  session.SetCheckGate(&gate);
  Outcome out = Connect(session, o);
  if (!out.ok()) return Fail(out);
  const int model = session.model();
  if (file_model != model)
    return Fail(Status::WrongModel,
                "Неверный тип УО: файл для другой модели, прибор " + session.device_line());
  // A model 251 file holds only the first 2048 bytes: the keys and names beyond are the
  // device's, read first (and kept with --archive), so that writing a file never wipes them and
  // the check judges what the device will hold.
  std::optional<SessionEnd> prior;
  // The device is read first also so that a write over fields changed on it not through us
  // (drift) is known before anything is sent: a model 250 or 252 of a site named.
  const bool drift_read =
      recording.recorder() != nullptr && !o.over_drift && !o.record.site.empty();
  if (FileImageLength(model) < ImageLength(model) || drift_read) {
    prior = session.ReadImage();
    std::optional<Outcome> stopped;
    if (!prior->outcome.ok())
      stopped = Outcome{prior->outcome.status,
                        "Запись не начата: " + LowerInitials(prior->outcome.message) +
                            " (чтение прибора перед записью). Прибор не изменён"};
    else if (prior->record && !prior->record->ok)
      stopped = Outcome{Status::FileError,
                        "Запись не начата: прежняя конфигурация прибора не "
                        "сохранена в архив (" +
                            prior->record->message + "). Прибор не изменён"};
    if (stopped) {
      // A write that never began is recorded for the site it was meant for: the file's.
      if (SiteRecorder* registry = recording.recorder())
        registry->StepFailed(
            {o.port, model, session.session().FirmwareVersion(), session.device_line()},
            ObjectNumber(file_model, file_image), stopped->message);
      return Fail(*stopped);
    }
  }
  const ConfigImage device_now = session.image();
  const Session::Loaded loaded = session.session().LoadFile(file, /*whole_image=*/false);
  if (!loaded.result.ok()) return Fail(Status::FileError, DescribeError(loaded.result));
  // What the read before the write found changed on the device not through us: a write that
  // would change it again waits for --over-drift.
  std::string over_drift;
  if (prior) {
    const std::optional<DriftFound> found = recording.AwaitDrift(o.port, CliRecording::kDriftWait);
    SayDrift(found);
    if (found) over_drift = OverwrittenDrift(*found, device_now, session.image());
    if (!over_drift.empty() && !o.over_drift)
      return Fail(Status::OverDrift, OverDriftRefusal(over_drift));
  }
  // As the device will hold it: its keys, its firmware.
  const Judgement as_device =
      Judge(DeviceCheckInput(model, session.image(), session.session().FirmwareVersion(), nullptr,
                             gate.rules()),
            gate);
  if (Outcome refused = SayJudgement(as_device, as_file.findings, gate, "Прибор не изменён");
      !refused.ok())
    return Fail(refused);
  if (prior && recording.recorder() != nullptr) recording.recorder()->ReadIsPrior(o.port);
  if (!as_device.let_pass.empty() && recorder != nullptr)
    recorder->NoteOverride(o.port, OverrideText(as_device.let_pass, "--allow-check"));
  // With --archive, a model 250 or 252 device is read by the write itself first, and its image
  // kept, before anything is written.
  const SessionEnd written = session.WriteImage(!o.no_verify, o.full);
  // In UTF-8: an archive's name may hold the object number's letters.
  const std::optional<KeptRecord>& kept = prior ? prior->record : written.record;
  const std::string archived = kept && kept->ok && !kept->path.empty() && !o.archive.empty()
                                   ? ShownPath(kept->path)
                                   : std::string();
  if (!archived.empty() && !written.outcome.ok())
    std::fprintf(stderr, "Прежняя конфигурация прибора в архиве: %s\n", archived.c_str());
  // The device held another configuration than the one read: what it holds now, as read back.
  if (const auto& held = written.readback_record; held && !o.archive.empty()) {
    if (held->ok)
      std::fprintf(stderr, "Конфигурация, которую прибор хранит сейчас, в архиве: %s\n",
                   ShownPath(held->path).c_str());
    else
      std::fprintf(stderr, "Конфигурация, которую прибор хранит сейчас, в архив не сохранена: %s\n",
                   held->message.c_str());
  }
  if (!written.outcome.ok()) return Fail(written.outcome);
  std::printf("%s\n", session.device_line().c_str());
  if (!archived.empty())
    std::printf("Прежняя конфигурация прибора в архиве: %s\n", archived.c_str());
  std::printf("%s\n", written.outcome.message.c_str());
  if (!over_drift.empty()) std::fprintf(stderr, "%s\n", OverDriftNote(over_drift).c_str());
  if (o.no_verify)
    std::fprintf(stderr, "Внимание: прибор не проверен после записи (--no-verify)\n");
  return 0;
}

int Key(SessionRunner& session, const CliOptions& o) {
  Outcome out = Connect(session, o);
  if (!out.ok()) return Fail(out);
  std::fprintf(stderr, "Поднесите ключ к считывателю\n");
  out = session.LearnKey(std::chrono::seconds(o.key_wait));
  if (!out.ok()) return Fail(out);
  std::printf("Считан ключ: %s\n", session.session().EditKeyText().c_str());
  std::printf("В таблицу ключей: %s\n", session.session().KeyText().c_str());
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
  if (commands.change->Chosen()) return commands.change->Run(o.retries);
  FieldsCommands& fields = *commands.fields;
  if (fields.Chosen() && !fields.NeedsDevice()) return fields.Run(nullptr, nullptr);
  CheckCommand& check = *commands.check;
  if (check.Chosen() && !check.NeedsDevice()) return check.Run(nullptr, nullptr);

  const std::atomic<bool>& interrupted = WatchInterrupts();
  EventLoop loop;
  TCport port(loop);
  ConfigureLikeTheMainWindow(port);
  // --archive: every complete read kept, and what a write replaces before it is written.
  std::unique_ptr<ArchiveRecorder> archive;
  if (!o.archive.empty()) archive = std::make_unique<ArchiveRecorder>(PathFromUtf8(o.archive));
  // read and write: every complete read and every write's end also into the registry.
  std::optional<CliRecording> recording;
  if (*commands.read || *commands.write) {
    recording.emplace(o.record, PathFromUtf8(o.archive), RecordOperation::Write);
    if (!recording->refused().empty()) return Fail(Status::RegistryError, recording->refused());
  }
  Recorder* recorder = recording ? recording->With(archive.get()) : archive.get();
  SessionRunner session(loop, port, o.retries, StderrIsTerminal(), interrupted, recorder);
  const FieldsCommands::Connect connect = [&](const std::string& port_name) {
    o.port = port_name;
    return Connect(session, o);
  };
  if (fields.Chosen()) return fields.Run(&session, connect);
  if (check.Chosen()) return check.Run(&session, connect);
  if (*commands.identify) return Identify(session, o);
  if (*commands.read || *commands.write) {
    const int status =
        *commands.read ? Read(session, o, *recording) : Write(session, o, *recording, recorder);
    return recording->Finish(status);
  }
  return Key(session, o);
}

// An exception nothing of ours caught ends the program with a line of its own and a status of
// its own, never the C runtime's abort (whose status 3 on Windows reads as "Прибор не
// отвечает"). What it leaves: a file being replaced is the old one or the new one whole; a
// device being written may hold part of the write.
std::string InternalErrorLine(std::exception_ptr error) {
  std::string what = "неизвестное исключение";
  try {
    if (error) std::rethrow_exception(error);
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
  }
  return "lovar-cli: внутренняя ошибка программы (" + what +
         "). Команда прервана; если шла запись в УО, прибор может хранить её часть — считайте "
         "его заново\n";
}

// For an exception on another thread (a port's receive thread), or one thrown where none may
// be: said, then the process ends at once.
[[noreturn]] void EndOnUncaught() {
  std::fputs(InternalErrorLine(std::current_exception()).c_str(), stderr);
  EndConsoleOutput();
  std::_Exit(static_cast<int>(Status::InternalError));
}

}  // namespace
}  // namespace lovar

int main(int argc, char** argv) {
  std::set_terminate(lovar::EndOnUncaught);
  int status = 0;
  try {
    // The session, and with it the port, is gone when Run returns or throws.
    status = lovar::Run(argc, argv);
  } catch (...) {
    std::fputs(lovar::InternalErrorLine(std::current_exception()).c_str(), stderr);
    status = static_cast<int>(lovar::Status::InternalError);
  }
  lovar::InterruptHandled();
  return status;
}
