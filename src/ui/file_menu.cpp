#include "file_menu.h"

#include "utf8.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include "compare_dialog.h"
#include "file_paths.h"
#include "files/archive.h"
#include "model/catalog.h"
#include "recent_folders.h"

namespace lovar {

QString FileTitle(const QString& file) {
  return QStringLiteral("Программирование УО ЛОВАРТ ") +
         QDir::toNativeSeparators(QFileInfo(file).absoluteFilePath());
}

FileMenu::FileMenu(QWidget& window, PageHost& host, Session& session, const PortSwitch& port,
                   WindowStatus& status, std::function<void()> display)
    : window_(window),
      host_(host),
      session_(session),
      port_(port),
      status_(status),
      display_(std::move(display)),
      program_folder_(QCoreApplication::applicationDirPath()) {}

void FileMenu::SetProgramFolder(const QString& folder) {
  program_folder_ = folder;
  files_folder_.reset();
}

std::filesystem::path FileMenu::FilesFolder() {
  if (!files_folder_) {
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const std::filesystem::path user_folder = documents.isEmpty()
                                                  ? std::filesystem::path()
                                                  : ToPath(documents + QStringLiteral("/Ловар"));
    files_folder_ =
        FilesRoot(ToPath(program_folder_), user_folder, IsInstalledProgramFolder(program_folder_));
  }
  return *files_folder_;
}

std::filesystem::path FileMenu::ArchivePath() {
  // A demo device's sample is no site's configuration: its reads go to an archive of this run's
  // own, which goes with the program, never among the real devices'.
  if (IsDemo()) {
    if (!demo_files_) demo_files_ = std::make_unique<QTemporaryDir>();
    if (demo_files_->isValid()) return ArchiveFolder(ToPath(demo_files_->path()));
  }
  return ArchiveFolder(FilesFolder());
}

bool FileMenu::IsDemo() const {
  return PortSwitch::DemoModel(port_.NameDevice()).has_value();
}

void FileMenu::Open() {
  const int model = session_.DeviceModel();
  const std::filesystem::path folder =
      PrepareDefaultFolder(FilesFolder(), model, /*for_save=*/false);
  const QString file =
      host_.dialogs().OpenFileName(QStringLiteral("Считать конфигурацию из файла"),
                                   StartFolder(FileKind::Configuration, model, ToQString(folder)),
                                   QStringLiteral("*.dat"), QStringLiteral("*.dat"));
  if (file.isEmpty()) return;
  NoteChosenFile(FileKind::Configuration, model, file);
  Load(file, /*whole_image=*/false);
}

void FileMenu::Archive() {
  const std::filesystem::path folder = ArchivePath();
  const std::vector<ArchiveEntry> entries = ListArchive(folder);
  std::vector<ArchivedRow> rows;
  for (const ArchiveEntry& e : entries)
    rows.push_back({Q(ArchiveTimeText(e.time)), Q(ModelName(e.model)), Q(e.object)});
  const int chosen = host_.dialogs().ChooseArchived(ToQString(folder), rows);
  if (chosen < 0 || chosen >= static_cast<int>(entries.size())) return;
  // The archive's file holds the whole image, a model 251 device's keys included.
  Load(ToQString(entries[static_cast<size_t>(chosen)].path), /*whole_image=*/true);
}

bool FileMenu::Load(const QString& file, bool whole_image) {
  const Session::Loaded loaded = session_.LoadFile(ToPath(file), whole_image);
  if (loaded.declined) {
    status_.Show(QStringLiteral("Файл не загружен: изменения остались в окне."));
    return false;
  }
  if (loaded.result.ok()) {
    status_.SetBaseTitle(FileTitle(file));
    status_.Show(QStringLiteral("Файл загружен: ") + QFileInfo(file).fileName());
  } else {
    const FileMessage message = MessageFor(loaded.result);
    host_.dialogs().Message(Q(message.caption), Q(message.text), false);
    status_.Show(QStringLiteral("Файл не принят: ") + Q(DescribeError(loaded.result)));
  }
  display_();  // the window shows the image as it now stands, also after a refusal
  status_.Refresh();
  return loaded.result.ok();
}

void FileMenu::Save() {
  const int model = session_.DeviceModel();
  if (IsKnownModel(model) && !session_.Saveable())
    return RefuseIncomplete(QStringLiteral("Сохранение невозможно"),
                            QStringLiteral("В файле не хватало бы настроек прибора."));
  QString folder, filter, suffix, name;
  if (IsKnownModel(model)) {
    const FileDefaults defaults = DefaultsFor(model);
    const std::filesystem::path model_folder =
        PrepareDefaultFolder(FilesFolder(), model, /*for_save=*/true);
    folder = StartFolder(
        FileKind::Configuration, model,
        defaults.save_dialog_in_model_folder ? ToQString(model_folder) : QDir::currentPath());
    filter = QStringLiteral("*.dat");
    suffix = QStringLiteral("dat");
    name = Q(defaults.file_name);
  }
  session_.CommitEdits();  // what was typed into the focused control counts
  const QString file = host_.dialogs().SaveFileName(QStringLiteral("Сохранить конфигурацию в файл"),
                                                    folder, filter, suffix, name);
  if (file.isEmpty()) return;
  NoteChosenFile(FileKind::Configuration, model, file);
  const FileResult result = session_.SaveFile(ToPath(file));
  status_.Refresh();
  if (result.ok()) {
    status_.SetBaseTitle(FileTitle(file));
    status_.Show(QStringLiteral("Файл сохранён: ") + QFileInfo(file).fileName());
    return;
  }
  const FileMessage message = MessageFor(result);
  if (result.error == FileError::CannotWrite)
    host_.dialogs().Message(Q(message.caption), Q(message.text), true);
  else
    host_.dialogs().Message(QStringLiteral("Ошибка"), Q(DescribeError(result)), true);
  status_.Show(QStringLiteral("Файл не сохранён: ") + Q(DescribeError(result)));
}

void FileMenu::Compare() {
  session_.CommitEdits();  // what was typed into the focused control counts
  // A half-read image against a file would show stale bytes as differences.
  if (IsKnownModel(session_.DeviceModel()) && !session_.Saveable())
    return RefuseIncomplete(QStringLiteral("Сравнение невозможно"),
                            QStringLiteral("Сравнивать было бы не с чем."));
  CompareWithFile(&window_, host_, ToQString(FilesFolder()));
}

void FileMenu::Offer(const QString& file) {
  if (host_.dialogs().AskYesNo(QStringLiteral("Файл конфигурации"),
                               QStringLiteral("Загрузить в окно файл «%1»?\nВ УО он попадёт только "
                                              "по кнопке «Записать в УО».")
                                   .arg(QDir::toNativeSeparators(file))))
    Load(file, /*whole_image=*/false);
}

void FileMenu::OfferToKeepChanges(const QString& caption, const QString& said) {
  status_.Show(said);
  const QString find = kFindAgain.left(1).toLower() + kFindAgain.mid(1);
  if (host_.dialogs().AskYesNo(caption, said +
                                            QStringLiteral("\n\nИзменения есть только в окне. "
                                                           "Сохранить их в файл? Затем ") +
                                            find))
    Save();
}

void FileMenu::RefuseIncomplete(const QString& caption, const QString& what) {
  status_.Say(IncompleteSaid(session_.coverage().known(), session_.ImageLength(), caption, what));
}

}  // namespace lovar
