#include "cli/site_filter_options.h"

#include <string>

#include "model/model_setup.h"
#include "store/local_time.h"

namespace lovar {

void AddSiteFilterOptions(CLI::App& command, SiteFilter& filter) {
  const std::string group = "Выбор объектов";
  const auto text = [&](const char* name, std::string& field, const char* help) {
    return command.add_option(name, field, help)->group(group);
  };
  text("--search", filter.text,
       "Найти: все слова в карточке (адрес, заказчик, телефоны, договор, примечание) или в одной "
       "конфигурации объекта (телефоны, имена шлейфов, номер объекта); часть слова или номера "
       "тоже находится");
  command.add_option("--model", filter.model, "Модель последней записи")
      ->check(CLI::IsMember(KnownModels()))
      ->group(group);
  text("--status", filter.status,
       "Состояние карточки: active (обслуживается), suspended (приостановлен), removed (снят)")
      ->check(CLI::IsMember({"active", "suspended", "removed"}));
  text("--outcome", filter.outcome,
       "Результат последней записи: holds (считано или записано и проверено), not_written (не "
       "записано), unproven (не подтверждена), stopped (не завершена), failed (ошибка)")
      ->check(CLI::IsMember({"holds", "not_written", "unproven", "stopped", "failed"}));
  text("--station", filter.station, "Есть запись с этой станции (имя компьютера)");
  text("--technician", filter.technician, "Есть запись этого техника");
  // Times are checked and taken as the command line is read; "from" a date is from its start,
  // "to" a date to its end.
  const auto time = [&](const char* name, StoreTime& field, bool start, const char* help) {
    command
        .add_option_function<std::string>(
            name,
            [&field, start](const std::string& value) {
              if (start)
                ParseLocalTimeStart(value, field);
              else
                ParseLocalTime(value, field);
            },
            help)
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
              StoreTime at = 0;
              return ParseLocalTime(value, at)
                         ? std::string()
                         : "нужна дата вида 2024-05-01 или 01.05.2024, можно со временем 12:30";
            },
            "ВРЕМЯ"))
        ->group(group);
  };
  time("--from", filter.from, true, "Есть запись с этого времени (местного), включая его");
  time("--to", filter.to, false, "Есть запись до этого времени (местного), включая его");
  time("--untouched-since", filter.untouched_since, true,
       "Нет ни одной записи с этого времени (местного): объекты, к которым давно не подходили");
}

}  // namespace lovar
