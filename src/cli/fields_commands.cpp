#include "cli/fields_commands.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "files/config_file.h"
#include "files/config_json.h"
#include "files/diff_report.h"
#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/cp1251.h"
#include "model/image_diff.h"
#include "model/model_setup.h"
#include "model/russian_plural.h"

namespace lovar {
namespace {

// One side of a show or a comparison.
struct Source {
  std::string name;  // "файл LovarM.dat", "прибор на /dev/ttyUSB0 (Ловар-М Версия 2.2)"
  int model = 0;
  int extent = 0;  // the image bytes the source holds, from offset 0
  ConfigImage image;
};

// An output named like an input (a slip of the keyboard) would replace what is being read.
bool Refuses(const std::string& out, const std::vector<std::string>& inputs, int& status) {
  for (const std::string& in : inputs) {
    std::error_code ec;
    if (!out.empty() && std::filesystem::equivalent(PathFromUtf8(out), PathFromUtf8(in), ec)) {
      status = Fail({Status::FileError, ShownUtf8Path(out) +
                                            ": это исходный файл команды; ничего не "
                                            "записано, укажите для вывода другой файл"});
      return true;
    }
  }
  return false;
}

Outcome LoadFile(const std::string& path, Source& source) {
  int model = 0;
  std::string why;
  if (!LoadAnyConfigFile(PathFromUtf8(path), model, source.image, why))
    return {Status::FileError, ShownUtf8Path(path) + ": " + why};
  source.name = "файл " + ShownUtf8Path(path);
  source.model = model;
  source.extent = FileImageLength(model);
  return {};
}

Outcome ReadDevice(SessionRunner& session, const FieldsCommands::Connect& connect,
                   const std::string& port, Source& source) {
  Outcome out = connect(port);
  if (out.ok()) out = session.ReadImage().outcome;
  if (!out.ok()) return out;
  source.name = "прибор на " + port + " (" + session.device_line() + ")";
  source.model = session.model();
  source.extent = ImageLength(source.model);
  source.image = session.image();
  return {};
}

// The fields beyond the bytes a file holds, said once: "32 поля за пределами байтов 0–2047
// (key1.code … key16.rights)".
std::string Beyond(const std::vector<const Field*>& fields, int extent) {
  return CountText(fields.size(), "поле", "поля", "полей") + " за пределами байтов 0–" +
         std::to_string(extent - 1) + ", которые хранит файл (" + fields.front()->id + " … " +
         fields.back()->id + ")";
}

int Show(const Source& source, bool json) {
  return ShowFields(source.name, source.model, source.image, source.extent, json);
}

int Diff(const Source& a, const Source& b, const std::string& html_path);

}  // namespace

int ShowFields(const std::string& name, int model, const ConfigImage& image, int extent,
               bool json) {
  if (json) {
    std::fputs(FieldsJson(name, model, image, extent).c_str(), stdout);
    return 0;
  }
  std::printf("%s — %s\n", ModelNameAndCode(model).c_str(), name.c_str());
  std::vector<const Field*> absent;
  for (const PageInfo& page : Pages()) {
    std::vector<const Field*> here;
    size_t width = 0;
    for (const Field& f : Fields(model)) {
      if (f.page != page.page) continue;
      if (!InExtent(f, extent)) {
        absent.push_back(&f);
        continue;
      }
      here.push_back(&f);
      width = std::max(width, Utf8Length(f.caption));
    }
    if (here.empty()) continue;
    std::printf("\n%s\n", std::string(page.caption).c_str());
    for (const Field* f : here)
      std::printf("  %s  %s\n", Utf8Padded(f->caption, width).c_str(),
                  ShownValue(FieldText(*f, image)).c_str());
  }
  if (!absent.empty()) std::printf("\nНе показаны %s\n", Beyond(absent, extent).c_str());
  return 0;
}

namespace {

int Diff(const Source& a, const Source& b, const std::string& html_path) {
  const ImageDiff diff = DiffImages(a.model, a.image, a.extent, b.image, b.extent);
  std::printf("A: %s\nB: %s\nМодель: %s\n", a.name.c_str(), b.name.c_str(),
              ModelNameAndCode(a.model).c_str());
  for (const FieldDifference& d : diff.fields)
    std::printf("%s | %s | %s | %s | %s\n", std::string(PageOf(d.field->page).caption).c_str(),
                d.field->caption.c_str(), d.field->id.c_str(), ShownValue(d.a).c_str(),
                ShownValue(d.b).c_str());
  if (!diff.bytes.empty())
    std::printf("Различаются байты вне полей: %s\n", RangesText(diff.bytes).c_str());
  if (!diff.not_compared.empty())
    std::printf("Не сравнивались %s\n", Beyond(diff.not_compared, diff.extent).c_str());
  if (diff.Equal())
    std::printf("Конфигурации совпадают (байты 0–%d)\n", diff.extent - 1);
  else
    std::printf("Различий: %s, %s байтов вне полей\n",
                CountText(diff.fields.size(), "поле", "поля", "полей").c_str(),
                CountText(diff.bytes.size(), "диапазон", "диапазона", "диапазонов").c_str());
  if (!html_path.empty()) {
    DiffReport report;
    report.source_a = a.name;
    report.source_b = b.name;
    report.object_a = ObjectNumber(a.model, a.image);
    report.object_b = ObjectNumber(b.model, b.image);
    report.date = NowText();
    const FileResult saved = SaveFileReplacing(PathFromUtf8(html_path), DiffHtml(report, diff));
    if (!saved.ok()) return Fail({Status::FileError, "Отчёт не сохранён: " + DescribeError(saved)});
    std::printf("Отчёт сохранён: %s\n", ShownUtf8Path(html_path).c_str());
  }
  return diff.Equal() ? 0 : kExitDiffer;
}

}  // namespace

int DiffFields(const std::string& name_a, const std::string& name_b, int model,
               const ConfigImage& a, int extent_a, const ConfigImage& b, int extent_b) {
  return Diff({name_a, model, extent_a, a}, {name_b, model, extent_b, b}, {});
}

namespace {

int Export(const std::string& path, const std::string& out) {
  Source source;
  const Outcome loaded = LoadFile(path, source);
  if (!loaded.ok()) return Fail(loaded);
  const std::string document = ExportJson(source.model, source.image);
  if (out.empty()) {
    // Redirected into a file, the document is the product: a full disk must not pass for done.
    if (std::fputs(document.c_str(), stdout) == EOF || std::fflush(stdout) != 0)
      return Fail({Status::FileError, "Документ не выведен полностью: ошибка записи"});
    return 0;
  }
  const FileResult saved = SaveFileReplacing(PathFromUtf8(out), document);
  if (!saved.ok()) return Fail({Status::FileError, DescribeError(saved)});
  std::printf("Конфигурация %s выгружена в %s\n", ModelNameAndCode(source.model).c_str(),
              ShownUtf8Path(out).c_str());
  return 0;
}

int Import(const std::string& path, const std::string& out, int expected_model) {
  const JsonImport taken = ImportJsonFile(PathFromUtf8(path), expected_model);
  if (!taken.ok()) {
    const Status status = taken.wrong_model ? Status::WrongModel : Status::FileError;
    return Fail({status, ShownUtf8Path(path) + ": " + taken.error + ". Файл " + ShownUtf8Path(out) +
                             " не записан."});
  }
  const FileResult saved = SaveConfigFile(PathFromUtf8(out), taken.model, taken.image);
  if (!saved.ok()) return Fail({Status::FileError, DescribeError(saved)});
  std::printf("Конфигурация %s сохранена: %s (%d байт)\n", ModelNameAndCode(taken.model).c_str(),
              ShownUtf8Path(out).c_str(), 100 + FileImageLength(taken.model));
  return 0;
}

}  // namespace

FieldsCommands::FieldsCommands(CLI::App& app) {
  show_ = app.add_subcommand("show", "Показать все поля конфигурации по страницам");
  show_->add_option("file", files_, "Файл конфигурации (*.dat)")->expected(0, 1);
  show_->add_option("--port,-p", port_, "Порт: показать конфигурацию прибора");
  show_->add_flag("--json", json_, "Вывести в JSON (для программ)");
  show_->final_callback([this] {
    if (files_.size() + (port_.empty() ? 0 : 1) != 1)
      throw CLI::ValidationError("show", "нужен файл или --port, одно из двух");
  });

  diff_ = app.add_subcommand("diff", "Сравнить две конфигурации: два файла, или файл и прибор");
  diff_->add_option("files", files_, "Файлы конфигурации A и B (*.dat)")->expected(0, 2);
  diff_->add_option("--port,-p", port_, "Порт: прибор как сторона B");
  diff_->add_option("--html", html_, "Сохранить отчёт для печати (HTML)");
  diff_->final_callback([this] {
    if (files_.size() + (port_.empty() ? 0 : 1) != 2)
      throw CLI::ValidationError("diff", "нужны два файла, или файл и --port");
  });

  export_ = app.add_subcommand("export", "Выгрузить файл конфигурации в JSON");
  export_->add_option("file", files_, "Файл конфигурации (*.dat)")->required()->expected(1);
  export_->add_option("--out,-o", out_, "Документ JSON (без этого — на стандартный вывод)");

  import_ = app.add_subcommand("import", "Собрать файл конфигурации из документа JSON");
  import_->add_option("file", files_, "Документ JSON")->required()->expected(1);
  import_->add_option("--out,-o", out_, "Файл конфигурации (*.dat)")->required();
  import_->add_option("--model", model_, "Принять документ только этой модели")
      ->check(CLI::IsMember(KnownModels()));
}

bool FieldsCommands::Chosen() const {
  return *show_ || *diff_ || *export_ || *import_;
}

bool FieldsCommands::NeedsDevice() const {
  return (*show_ || *diff_) && !port_.empty();
}

int FieldsCommands::Run(SessionRunner* session, const Connect& connect) {
  if (int status = 0; Refuses(out_, files_, status) || Refuses(html_, files_, status))
    return status;
  if (*export_) return Export(files_.front(), out_);
  if (*import_) return Import(files_.front(), out_, model_);

  // Files first: a file that cannot be read stops the command before the device is touched.
  std::vector<Source> sources(files_.size());
  for (size_t i = 0; i < files_.size(); ++i) {
    const Outcome out = LoadFile(files_[i], sources[i]);
    if (!out.ok()) return Fail(out);
  }
  if (!port_.empty()) {
    sources.emplace_back();
    const Outcome out = ReadDevice(*session, connect, port_, sources.back());
    if (!out.ok()) return Fail(out);
  }
  if (*show_) return Show(sources.front(), json_);

  const Source& a = sources[0];
  const Source& b = sources[1];
  if (a.model != b.model) {
    if (!port_.empty()) {
      FileResult mismatch;
      mismatch.error = FileError::WrongModel;
      mismatch.file_model = a.model;
      mismatch.current_model = b.model;
      return Fail({Status::WrongModel, DescribeError(mismatch)});
    }
    return Fail({Status::WrongModel, "Неверный тип УО: A — " + ModelNameAndCode(a.model) +
                                         ", B — " + ModelNameAndCode(b.model) +
                                         "; сравнить можно одну модель"});
  }
  return Diff(a, b, html_);
}

}  // namespace lovar
