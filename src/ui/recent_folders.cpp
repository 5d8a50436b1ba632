#include "recent_folders.h"

#include <QFileInfo>
#include <map>
#include <utility>

namespace lovar {
namespace {

std::map<std::pair<FileKind, int>, QString>& Folders() {
  static std::map<std::pair<FileKind, int>, QString> folders;
  return folders;
}

std::pair<FileKind, int> Key(FileKind kind, int model) {
  return {kind, kind == FileKind::Configuration ? model : 0};
}

}  // namespace

QString StartFolder(FileKind kind, int model, const QString& usual) {
  const auto it = Folders().find(Key(kind, model));
  return it == Folders().end() || !QFileInfo(it->second).isDir() ? usual : it->second;
}

void NoteChosenFile(FileKind kind, int model, const QString& file) {
  if (!file.isEmpty()) Folders()[Key(kind, model)] = QFileInfo(file).absolutePath();
}

}  // namespace lovar
