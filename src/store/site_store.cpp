#include "store/site_store.h"

#include <algorithm>
#include <random>

#include "model/model_setup.h"
#include "store/store_internal.h"

namespace lovar {
namespace {

struct Named {
  std::string_view code;
  std::string_view text;
};
constexpr Named kOperations[] = {{"read", "чтение"},
                                 {"write", "запись"},
                                 {"batch", "пакетная запись"},
                                 {"archive", "из архива"}};
constexpr Named kOutcomes[] = {{"holds", ""},
                               {"not_written", "не записано"},
                               {"unproven", "запись не подтверждена"},
                               {"stopped", "запись не завершена"},
                               {"failed", "ошибка"}};

// "1024" before "10240", "987" before "1024": digits compared as numbers, then as text.
bool ObjectBefore(const std::string& a, const std::string& b) {
  const auto digits = [](const std::string& s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (digits(a) && digits(b)) {
    const auto trim = [](const std::string& s) {
      return s.substr(std::min(s.find_first_not_of('0'), s.size() - 1));
    };
    const std::string x = trim(a), y = trim(b);
    if (x.size() != y.size()) return x.size() < y.size();
    if (x != y) return x < y;
  }
  return a < b;
}

}  // namespace

std::string_view StoreErrorText(StoreError error) {
  switch (error) {
    case StoreError::None:
      return "";
    case StoreError::Unreachable:
      return "сервер реестра недоступен";
    case StoreError::Busy:
      return "реестр занят другой программой";
    case StoreError::ReadOnly:
      return "реестр только для чтения";
    case StoreError::Full:
      return "нет места на диске для реестра";
    case StoreError::NewerSchema:
      return "реестр создан более новой версией программы";
    case StoreError::NotRegistry:
      return "это не реестр объектов или он повреждён";
    case StoreError::Denied:
      return "сервер реестра отказал в доступе";
    case StoreError::NotFound:
      return "в реестре нет такой записи";
    case StoreError::BadLocation:
      return "неверное место реестра";
    case StoreError::NoClient:
      return "нет клиента PostgreSQL";
    case StoreError::NoDatabase:
      return "на сервере реестра нет такой базы данных";
    case StoreError::Tls:
      return "защищённое соединение с сервером реестра не установлено";
    case StoreError::Foreign:
      return "реестр принадлежит другому пользователю";
    case StoreError::Failed:
      break;
  }
  return "ошибка реестра";
}

std::string_view AccessCode(CodesAccess why) {
  switch (why) {
    case CodesAccess::Export:
      return "export";
    case CodesAccess::Show:
      return "show";
    case CodesAccess::Restore:
      return "restore";
  }
  return "show";
}

std::string_view AccessText(std::string_view code) {
  if (code == "export") return "выгрузка";
  if (code == "show") return "просмотр";
  if (code == "restore") return "восстановление";
  return code;
}

// A store without the guarded codes' functions says so.
StoreResult SiteStore::ClearImage(std::string_view, CodesAccess, std::string_view, std::string_view,
                                  std::vector<uint8_t>&) {
  return StoreFailure(StoreError::Failed, "этот реестр не выдаёт коды");
}
StoreResult SiteStore::AccessLog(StoreTime, std::vector<AccessEntry>&) {
  return StoreFailure(StoreError::Failed, "у этого реестра нет журнала доступа");
}
StoreResult SiteStore::Supersede(std::string_view, const RecordInfo&, AddedRecord&) {
  return StoreFailure(StoreError::Failed, "этот реестр не заменяет записи");
}
StoreResult SiteStore::Purge(int64_t, std::string_view, std::string_view, int&) {
  return StoreFailure(StoreError::Failed, "этот реестр не стирает коды");
}

StoreResult NotRemoved(int64_t site, std::string_view status) {
  return {StoreError::Failed, "объект " + std::to_string(site) +
                                  " не снят (состояние: " + std::string(status) +
                                  "): коды и ключи стирают только у снятого объекта "
                                  "(lovar-cli sites set ОБЪЕКТ --status removed)"};
}

StoreResult StoreFailure(StoreError error, std::string_view detail) {
  StoreResult r{error, std::string(StoreErrorText(error))};
  if (!detail.empty()) r.message += " (" + std::string(detail) + ")";
  return r;
}

std::string_view OperationCode(RecordOperation op) {
  return kOperations[static_cast<size_t>(op)].code;
}
std::string_view OutcomeCode(RecordOutcome outcome) {
  return kOutcomes[static_cast<size_t>(outcome)].code;
}
bool OperationOfCode(std::string_view code, RecordOperation& op) {
  for (size_t i = 0; i < std::size(kOperations); ++i)
    if (kOperations[i].code == code) {
      op = static_cast<RecordOperation>(i);
      return true;
    }
  return false;
}
bool OutcomeOfCode(std::string_view code, RecordOutcome& outcome) {
  for (size_t i = 0; i < std::size(kOutcomes); ++i)
    if (kOutcomes[i].code == code) {
      outcome = static_cast<RecordOutcome>(i);
      return true;
    }
  return false;
}
std::string_view OperationText(RecordOperation op) {
  return kOperations[static_cast<size_t>(op)].text;
}
std::string_view OutcomeText(RecordOperation op, RecordOutcome outcome) {
  if (outcome != RecordOutcome::Holds) return kOutcomes[static_cast<size_t>(outcome)].text;
  return op == RecordOperation::Read || op == RecordOperation::Archive ? "считано"
                                                                       : "записано, проверено";
}

StoreTime StoreTimeNow() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

std::string NewRecordId() {
  // Straight from the system's entropy each time: no generator state that two processes (a
  // fork) or two stations could share.
  std::random_device device;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (int word = 0; word < 4; ++word) {
    uint32_t bits = device();
    for (int i = 0; i < 8; ++i, bits >>= 4) id += kHex[bits & 0xF];
  }
  return id;
}

void SortSites(std::vector<SiteSummary>& sites) {
  std::sort(sites.begin(), sites.end(), [](const SiteSummary& a, const SiteSummary& b) {
    if (a.object != b.object) return ObjectBefore(a.object, b.object);
    return a.model < b.model;
  });
}

bool ValidRecord(const SiteRecord& record, std::string& why) {
  const RecordInfo& r = record.info;
  if (r.id.empty() || r.id.size() > 64)
    why = "нет кода записи";
  else if (r.model < 0 || r.model > 255)
    why = "неверная модель";
  else if (!record.image.empty() && !IsImageOrFileLength(record.image.size()))
    why = "образ неверной длины";
  else
    return true;
  return false;
}

}  // namespace lovar
