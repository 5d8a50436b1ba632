// Model 251: does each event reach someone? The report directions (number, protocol, test,
// routing of each loop), the event filter of each direction, the counts and times that govern
// a transmission, and the GPRS settings.
//
// A direction delivers when it has a number, a protocol and at least one event marked on
// "Фильтр": by the filter nothing else leaves over it. A loop's alarm reaches someone when a
// direction that delivers routes the loop with its alarms and marks the loop's alarm event.
// Whatever keeps an alarm from everyone is an error, said once by the loop rules; the
// direction rules that would say the same cause again stay silent (Context::Said).
#include <map>
#include <string>
#include <vector>

#include "check/company_rules.h"
#include "check/rule_context.h"

namespace lovar::check {
namespace {

std::vector<int> Numbered(const Context& c) {
  std::vector<int> numbered;
  for (const Direction& d : c.directions())
    if (d.number) numbered.push_back(d.n);
  return numbered;
}

std::string Dir(int n) {
  return "direction" + std::to_string(n);
}

// «A», «A» и «B», «A», «B» и «C»: fields by their captions.
std::string Names(const std::vector<const Field*>& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i)
    text += (i == 0 ? "" : i + 1 == fields.size() ? " и " : ", ") + Name(fields[i]);
  return text;
}

// The causes the rules share, for Context::Said.
std::string PhoneCause(int n) {
  return "phone " + std::to_string(n);
}
std::string FilterCause(int n) {
  return "filter " + std::to_string(n);
}
std::string ProtocolCause(int n) {
  return "protocol " + std::to_string(n);
}

// The events of the filter that carry a loop's alarms, by its type (1-based event numbers):
// "Тревога" for guard, entry and panic loops, also "Тревога входной зоны" for an entry loop,
// "Пожар" for a fire loop. A technological loop's events are not named by the filter.
std::vector<int> AlarmEvents(unsigned type) {
  switch (type) {
    case kLoopEntry:
      return {4, 12};
    case kLoopGuard:
    case kLoopPanic:
      return {4};
    case kLoopFire:
      return {5};
    default:
      return {};
  }
}

constexpr unsigned kRoutingNoAlarm = 4;  // "все кроме "Сработка"": the loop's events but its alarm

// "«Телефон 3»", the filter's column of a direction as the window heads it.
std::string FilterColumn(int n) {
  return "«Телефон " + std::to_string(n) + "»";
}

// Why a direction that routes a loop does not carry its alarm; none when it does.
enum class Block { None, NoAlarms, AlarmUnmarked, FilterEmpty, NoProtocol };

struct Reason {
  int direction;
  Block block;
  int event = 0;  // AlarmUnmarked: the alarm event not marked
  auto operator<=>(const Reason&) const = default;
};

// The reasons direction d does not carry loop l's alarm (events: the loop's alarm events).
std::vector<Reason> Blocks(const Direction& d, int l, const std::vector<int>& events) {
  std::vector<Reason> out;
  unsigned mask = 0;
  for (int e : events) mask |= 1u << (e - 1);
  if (!d.HasProtocol()) out.push_back({d.n, Block::NoProtocol});
  if (d.filter == 0) {
    out.push_back({d.n, Block::FilterEmpty});
  } else if (mask != 0 && (d.filter & mask) == 0) {
    out.push_back({d.n, Block::AlarmUnmarked, events.front()});
  }
  if (d.routing[static_cast<size_t>(l)] == kRoutingNoAlarm) out.push_back({d.n, Block::NoAlarms});
  return out;
}

bool LoopUnknown(const Context& c, int l) {
  for (const Direction& d : c.directions())
    if (d.number && d.RoutingUnknown(l)) return true;
  return false;
}

}  // namespace

void CompanyRulesNotLoaded(Context& c) {
  const CompanyRules* company = c.company();
  if (company == nullptr || company->refused.empty()) return;
  c.Add("company-rules-not-loaded",
        "Правила компании не действуют: " + company->refused +
            ". Конфигурация проверена только встроенными правилами.",
        "Исправьте файл правил (его ошибка названа выше) или укажите в «Файл» → «Настройки…» "
        "другой файл; правила компании снова проверяются, как только файл загружен.",
        {});
}

void NoReportingDirection(Context& c) {
  // Not judged where the configuration does not hold the directions.
  if (c.F("direction1.phone") == nullptr || c.AnyDelivers()) return;
  std::vector<const Field*> fields;
  const std::vector<int> numbered = Numbered(c);
  std::string text;
  if (numbered.empty()) {
    for (int d = 1; d <= 5; ++d) {
      fields.push_back(c.F("direction", d, ".phone"));
      c.Said(PhoneCause(d));
    }
    text =
        "Ни у одного направления на странице «Параметры передачи» нет номера телефона: УО не "
        "передаст ни одного извещения.";
  } else {
    std::string why;
    for (int n : numbered) {
      const Direction& d = c.directions()[static_cast<size_t>(n - 1)];
      std::string parts;
      if (d.filter == 0) {
        parts =
            "в столбце " + FilterColumn(n) + " на странице «Фильтр» не отмечено ни одно событие";
        fields.push_back(c.F(Dir(n) + ".event4"));
        c.Said(FilterCause(n));
      }
      if (!d.HasProtocol()) {
        const Field* protocol = c.F(Dir(n) + ".protocol");
        parts += (parts.empty() ? "" : ", и ") + std::string("поле ") + Name(protocol) + " пусто";
        fields.push_back(protocol);
        c.Said(ProtocolCause(n));
      }
      why += (why.empty() ? "" : "; ") + ("у направления " + std::to_string(n) + " ") + parts;
    }
    // Directions with something set but no number are part of the same cause.
    std::vector<int> unnumbered;
    for (const Direction& d : c.directions()) {
      if (d.number || !(d.RoutesAny() || d.HasTest())) continue;
      unnumbered.push_back(d.n);
      fields.push_back(c.F(Dir(d.n) + ".phone"));
      c.Said(PhoneCause(d.n));
    }
    if (!unnumbered.empty())
      why += std::string("; у ") + (unnumbered.size() == 1 ? "направления " : "направлений ") +
             NumberList(unnumbered) + " нет номера телефона";
    text = "Ни одно направление с номером телефона ничего не передаёт: " + why +
           ". По фильтру без отмеченных событий и без протокола не уходит ничего, так что УО не "
           "передаст ни одного извещения.";
  }
  c.Add("no-reporting-direction", std::move(text),
        "Введите номер ПЦН в поле " + Name(c.F("direction1.phone")) +
            ", выберите протокол («Contact ID» для ПЦН), для шлейфов — «все», и отметьте события "
            "направления на странице «Фильтр».",
        fields);
}

void LoopNotReported(Context& c) {
  if (!c.AnyDelivers()) return;  // nothing leaves: said once, above
  const std::vector<int> numbered = Numbered(c);
  for (int l = 0; l < 4; ++l) {
    if (!LoopInUse251(c.loop_type(l)) || LoopUnknown(c, l)) continue;
    bool routed = false;
    std::vector<int> unnumbered;
    for (const Direction& d : c.directions()) {
      routed = routed || (d.number && d.Routes(l));
      if (!d.number && d.Routes(l)) unnumbered.push_back(d.n);
    }
    if (routed) continue;
    const Field* type = c.F("loop", l + 1, ".type");
    std::vector<const Field*> fields;
    std::string places;
    for (int n : numbered) {
      const Field* routing = c.F(Dir(n) + ".loop", l + 1, "");
      fields.push_back(routing);
      places += (places.empty() ? "" : ", ") + Name(routing);
    }
    fields.push_back(type);
    std::string text = c.LoopLabel(l) + " используется (тип " + Quoted(c.Text(type)) +
                       "), но ни одно направление с номером телефона его не передаёт: в " +
                       (numbered.size() == 1 ? "поле " : "полях ") + places +
                       " на странице «Параметры передачи» — «не передавать».";
    if (!unnumbered.empty()) {
      text += std::string(unnumbered.size() == 1 ? " Направление " : " Направления ") +
              NumberList(unnumbered) +
              (unnumbered.size() == 1 ? " его передаёт" : " его передают") +
              ", но номера телефона у " + (unnumbered.size() == 1 ? "него" : "них") + " нет.";
      for (int n : unnumbered) {
        fields.push_back(c.F(Dir(n) + ".phone"));
        c.Said(PhoneCause(n));
      }
    }
    text += " Тревоги этого шлейфа никто не услышит.";
    const std::string loop = "ШС" + std::to_string(l + 1);
    c.Add("loop-not-reported", std::move(text),
          "Выберите для " + loop +
              " «все» или «только тревожные извещения» хотя бы в одном направлении с номером "
              "(обычно в направлении ПЦН), или поставьте тип «Резерв», если шлейф не подключён.",
          fields);
  }
}

void LoopAlarmNotReported(Context& c) {
  if (!c.AnyDelivers()) return;
  // Loops whose alarms reach nobody for the same reasons are one finding.
  std::map<std::vector<Reason>, std::vector<int>> groups;
  std::vector<std::vector<Reason>> order;
  for (int l = 0; l < 4; ++l) {
    const unsigned type = c.loop_type(l);
    if (!LoopInUse251(type) || LoopUnknown(c, l)) continue;
    const std::vector<int> events = AlarmEvents(type);
    bool routed = false, carried = false;
    std::vector<Reason> reasons;
    for (const Direction& d : c.directions()) {
      if (!d.number || !d.Routes(l)) continue;
      routed = true;
      const std::vector<Reason> blocks = Blocks(d, l, events);
      carried = carried || blocks.empty();
      reasons.insert(reasons.end(), blocks.begin(), blocks.end());
    }
    // Not routed by a direction with a number: the rule above. A technological loop's own
    // events are not named by the filter: only that something is marked is asked of it.
    if (!routed || carried) continue;
    const auto [at, added] = groups.try_emplace(reasons);
    if (added) order.push_back(reasons);
    at->second.push_back(l);
  }
  for (const std::vector<Reason>& reasons : order) {
    const std::vector<int>& loops = groups[reasons];
    const bool many = loops.size() > 1;
    std::string labels;
    std::vector<const Field*> fields;
    for (size_t i = 0; i < loops.size(); ++i) {
      if (i > 0) labels += i + 1 == loops.size() ? " и " : ", ";
      labels += c.LoopLabel(loops[i]);
    }
    // The reasons by kind, each kind said once with its directions.
    std::vector<int> no_alarms, empty;
    std::vector<const Field*> unmarked, no_protocol;
    for (const Reason& r : reasons) {
      switch (r.block) {
        case Block::NoAlarms:
          no_alarms.push_back(r.direction);
          break;
        case Block::AlarmUnmarked:
          unmarked.push_back(c.F(Dir(r.direction) + ".event", r.event, ""));
          break;
        case Block::FilterEmpty:
          empty.push_back(r.direction);
          c.Said(FilterCause(r.direction));
          break;
        case Block::NoProtocol:
          no_protocol.push_back(c.F(Dir(r.direction) + ".protocol"));
          c.Said(ProtocolCause(r.direction));
          break;
        case Block::None:
          break;
      }
    }
    std::string why;
    const auto part = [&why](const std::string& text) { why += (why.empty() ? "" : "; ") + text; };
    if (!no_alarms.empty()) {
      std::vector<const Field*> routing;
      for (int n : no_alarms)
        for (int l : loops) routing.push_back(c.F(Dir(n) + ".loop", l + 1, ""));
      fields.insert(fields.end(), routing.begin(), routing.end());
      part(std::string(no_alarms.size() == 1 ? "направление " : "направления ") +
           NumberList(no_alarms) + (no_alarms.size() == 1 ? " передаёт " : " передают ") +
           (many ? "их" : "его") + " «все кроме \"Сработка\"», то есть без тревог (" +
           (routing.size() == 1 ? "поле " : "поля ") + Names(routing) +
           " на странице «Параметры передачи»)");
    }
    if (!unmarked.empty()) {
      fields.insert(fields.end(), unmarked.begin(), unmarked.end());
      part("на странице «Фильтр» не отмечено " + Names(unmarked));
    }
    if (!empty.empty()) {
      std::string columns;
      for (size_t i = 0; i < empty.size(); ++i) {
        columns += (i == 0 ? "" : i + 1 == empty.size() ? " и " : ", ") + FilterColumn(empty[i]);
        fields.push_back(c.F(Dir(empty[i]) + ".event4"));
      }
      part(std::string(empty.size() == 1 ? "в столбце " : "в столбцах ") + columns +
           " на странице «Фильтр» не отмечено ни одно событие");
    }
    if (!no_protocol.empty()) {
      fields.insert(fields.end(), no_protocol.begin(), no_protocol.end());
      part(std::string(no_protocol.size() == 1 ? "пусто поле " : "пусты поля ") +
           Names(no_protocol) + " на странице «Параметры передачи»");
    }
    for (int l : loops) fields.push_back(c.F("loop", l + 1, ".type"));
    c.Add("loop-alarm-not-reported",
          "Тревоги " + labels + " не дойдут ни до кого: " + why + ". " +
              (many ? "Эти шлейфы используются, но их тревог никто не услышит."
                    : "Шлейф используется, но его тревог никто не услышит."),
          "Хотя бы для одного направления с номером (обычно ПЦН) выберите протокол, для шлейфа — "
          "«все» или «только тревожные извещения», и отметьте на странице «Фильтр» его "
          "тревожное событие («Тревога», для пожарного — «Пожар»).",
          fields);
  }
}

void DirectionWithoutPhone(Context& c) {
  for (const Direction& d : c.directions()) {
    if (d.phone_set || c.WasSaid(PhoneCause(d.n))) continue;
    if (!d.RoutesAny() && !d.HasTest()) continue;
    const Field* phone = c.F(Dir(d.n) + ".phone");
    std::vector<const Field*> fields = {phone};
    std::string what;
    for (int l = 0; l < 4; ++l) {
      if (!d.Routes(l)) continue;
      const Field* routing = c.F(Dir(d.n) + ".loop", l + 1, "");
      fields.push_back(routing);
      what += (what.empty() ? "" : ", ") + Name(routing) + " " + Quoted(c.Text(routing));
    }
    if (d.HasTest()) {
      const Field* kind = c.F(Dir(d.n) + ".test");
      fields.push_back(kind);
      what += (what.empty() ? "" : ", ") + Name(kind) + " " + Quoted(c.Text(kind));
    }
    c.Add("direction-without-phone",
          "У направления " + std::to_string(d.n) +
              " на странице «Параметры передачи» нет номера телефона (поле " + Name(phone) +
              " пусто), но для него задано: " + what + ". По нему ничего не уйдёт.",
          "Введите номер в поле " + Name(phone) +
              " или поставьте «не передавать» для шлейфов и теста этого направления.",
          fields);
  }
}

void DirectionFilterEmpty(Context& c) {
  for (const Direction& d : c.directions()) {
    if (!d.number || !d.RoutesAny() || d.filter != 0 || c.WasSaid(FilterCause(d.n))) continue;
    c.Add("direction-filter-empty",
          "Направление " + std::to_string(d.n) + " передаёт шлейфы, но в его столбце " +
              FilterColumn(d.n) +
              " на странице «Фильтр» не отмечено ни одно событие: по нему ничего не уйдёт (тревоги "
              "шлейфов передают другие направления).",
          "Отметьте на странице «Фильтр» события, которые надо передавать по направлению " +
              std::to_string(d.n) +
              " (для ПЦН обычно все), или поставьте для его шлейфов «не "
              "передавать».",
          {c.F(Dir(d.n) + ".event4"), c.F(Dir(d.n) + ".phone")});
  }
}

void DirectionProtocolUnset(Context& c) {
  for (const Direction& d : c.directions()) {
    if (!d.number || !(d.RoutesAny() || d.filter != 0 || d.HasTest())) continue;
    if (d.HasProtocol() || c.WasSaid(ProtocolCause(d.n))) continue;
    const Field* protocol = c.F(Dir(d.n) + ".protocol");
    c.Add("direction-protocol-unset",
          "У направления " + std::to_string(d.n) + " есть номер и есть что передавать, но поле " +
              Place(protocol) + " пусто: неизвестно, как УО передаст извещения.",
          "Выберите протокол: для ПЦН обычно «Contact ID», для телефона хозяина — «SMS "
          "сообщение» или «Речевое сообщение».",
          {protocol});
  }
}

void DirectionDuplicate(Context& c) {
  // Directions with a number and a protocol, by what they send to.
  std::map<std::pair<std::string, int>, std::vector<int>> same;
  std::vector<std::pair<std::string, int>> order;
  for (const Direction& d : c.directions()) {
    if (!d.number || !d.HasProtocol()) continue;
    const auto key = std::make_pair(d.digits, d.ProtocolShown());
    if (same[key].empty()) order.push_back(key);
    same[key].push_back(d.n);
  }
  for (const auto& key : order) {
    const std::vector<int>& group = same[key];
    if (group.size() < 2) continue;
    std::vector<const Field*> fields;
    for (int n : group) fields.push_back(c.F(Dir(n) + ".phone"));
    for (int n : group) fields.push_back(c.F(Dir(n) + ".protocol"));
    const Field* protocol = c.F(Dir(group.front()) + ".protocol");
    c.Add("direction-duplicate",
          "Направления " + NumberList(group) +
              " на странице «Параметры передачи» передают на один " + "номер (" +
              c.Text(c.F(Dir(group.front()) + ".phone")) + ") одним протоколом (" +
              Quoted(c.Text(protocol)) + "): каждое извещение уйдёт туда дважды.",
          "Очистите номер лишнего направления, или передавайте по нему другим протоколом (SMS и "
          "звонок одному человеку — разные протоколы).",
          fields);
  }
}

void NoTestMessage(Context& c) {
  std::vector<int> stations;
  std::vector<const Field*> fields;
  for (const Direction& d : c.directions()) {
    if (!d.ToStation()) continue;
    if (d.HasTest()) return;
    stations.push_back(d.n);
    fields.push_back(c.F(Dir(d.n) + ".test"));
  }
  if (stations.empty()) return;
  std::string places;
  for (const Field* f : fields) places += (places.empty() ? "" : ", ") + Name(f);
  c.Add("no-test-message",
        std::string(stations.size() == 1 ? "Направление " : "Направления ") + NumberList(stations) +
            " передают на ПЦН, но ни одно не передаёт тест: в " +
            (stations.size() == 1 ? "поле " : "полях ") + places +
            " на странице «Параметры передачи» — «не передавать Тест». ПЦН не заметит, что УО "
            "перестал выходить на связь.",
        "Выберите тест для направления ПЦН («Сообщение - период в часах», обычно раз в сутки) и "
        "задайте его период.",
        fields);
}

void PhoneMalformed(Context& c) {
  for (int d = 1; d <= 5; ++d) {
    const Field* phone = c.F("direction", d, ".phone");
    const std::string text = c.Text(phone);
    // A type byte of 0 is no number, whatever the digit bytes after it hold.
    if (text.empty() || text.front() != '#' || !c.directions()[d - 1].phone_set) continue;
    c.Add("phone-malformed",
          "Поле " + Place(phone) + " хранит байты, которые окно само не записывает (" + text +
              "): номер может набираться не так, как его покажет окно.",
          "Введите номер заново в поле " + Name(phone) + ".", {phone});
  }
}

void TestPeriodZero(Context& c) {
  for (const Direction& d : c.directions()) {
    if (!d.HasTest() || d.period != 0) continue;
    const Field* period = c.F(Dir(d.n) + ".period");
    const Field* kind = c.F(Dir(d.n) + ".test");
    c.Add("test-period-zero",
          "У направления " + std::to_string(d.n) +
              " на странице «Параметры передачи» включён тест " + Quoted(c.Text(kind)) +
              ", а его период (" + Name(period) + ") равен 0.",
          "Задайте период в поле " + Name(period) +
              " (в часах или минутах, как сказано в выборе теста) или выберите «не передавать "
              "Тест».",
          {period, kind});
  }
}

void AttemptsZero(Context& c) {
  if (!c.AnyDelivers()) return;
  const Field* attempts = c.F("attempts");
  if (attempts != nullptr && c.Bits(attempts) == 0)
    c.Add("attempts-zero",
          "В поле " + Place(attempts) +
              " стоит 0, а направления передают извещения: УО может не сделать ни одной попытки.",
          "Задайте число попыток, например 5.", {attempts});
  constexpr int kSms = 0;  // the protocol entry "SMS сообщение"
  bool sms = false;
  for (const Direction& d : c.directions())
    sms = sms || (d.Delivers() && d.ProtocolShown() == kSms);
  const Field* sms_attempts = c.F("sms_attempts");
  if (sms && sms_attempts != nullptr && c.Bits(sms_attempts) == 0)
    c.Add("attempts-zero",
          "В поле " + Place(sms_attempts) +
              " стоит 0, а направление передаёт «SMS сообщение»: SMS может не уйти ни разу.",
          "Задайте число попыток передачи SMS, например 3.", {sms_attempts});
}

void ListenTimeZero(Context& c) {
  const Field* time = c.F("listen_time");
  if (time == nullptr || c.Bits(time) != 0) return;
  std::vector<int> listening;
  std::vector<const Field*> fields = {time};
  for (const Direction& d : c.directions()) {
    if (!d.number || !d.listen) continue;
    listening.push_back(d.n);
    fields.push_back(c.F(Dir(d.n) + ".listen"));
  }
  if (listening.empty()) return;
  c.Add("listen-time-zero",
        std::string(listening.size() == 1 ? "У направления " : "У направлений ") +
            NumberList(listening) + " отмечено «Прослушивание», а в поле " + Place(time) +
            " стоит 0.",
        "Задайте время прослушивания или снимите отметку «Прослушивание».", fields);
}

void GprsIncomplete(Context& c) {
  const Field* ip = c.F("gprs.ip");
  const Field* port = c.F("gprs.port");
  const Field* user = c.F("gprs.user");
  const Field* password = c.F("gprs.password");
  if (ip == nullptr || port == nullptr || user == nullptr || password == nullptr) return;
  const bool has_ip = c.Text(ip) != "0.0.0.0";
  const bool has_port = c.Bits(port) != 0;
  const bool has_user = !c.Text(user).empty();
  const bool has_password = !c.Text(password).empty();
  const std::string hint_receiver =
      "Заполните оба поля приёмника (IP адрес и порт ПЦН) или очистите оба.";
  if (has_ip != has_port)
    c.Add(
        "gprs-incomplete",
        "На странице «GPRS» заполнено поле " +
            (has_ip ? Name(ip) + " (" + c.Text(ip) + "), а в поле " + Name(port) + " стоит 0"
                    : Name(port) + " (" + c.Text(port) + "), а в поле " + Name(ip) + " — 0.0.0.0") +
            ": по GPRS извещения не дойдут.",
        hint_receiver, {has_ip ? port : ip, has_ip ? ip : port});
  if (has_user != has_password)
    c.Add("gprs-incomplete",
          "На странице «GPRS» заполнено поле " + (has_user ? Name(user) : Name(password)) +
              ", а поле " + (has_user ? Name(password) : Name(user)) +
              " пусто: оператор, скорее всего, не пустит модем в сеть.",
          "Введите имя и пароль, которые даёт оператор для этой точки доступа, или очистите оба.",
          {has_user ? password : user, has_user ? user : password});
  if ((has_user || has_password) && !has_ip && !has_port)
    c.Add("gprs-incomplete",
          "Модем настроен для GPRS (заполнено поле " + Name(has_user ? user : password) +
              "), но приёмник на странице «GPRS» не задан: IP адрес 0.0.0.0, порт 0.",
          hint_receiver, {ip, port});
}

void ObjectNumberEmpty(Context& c) {
  const Field* object = c.F("object_number");
  if (object == nullptr) return;
  const std::string value = c.Text(object);
  if (!Trimmed(value).empty()) return;
  // A station's receiver tells the sites apart by the object number alone; a message to a
  // person's telephone is understood without it.
  std::vector<int> stations;
  std::vector<const Field*> fields = {object};
  for (const Direction& d : c.directions())
    if (d.ToStation()) {
      stations.push_back(d.n);
      fields.push_back(c.F(Dir(d.n) + ".protocol"));
    }
  const std::string what =
      value.empty() ? " пусто"
                    : " состоит из одних пробелов (" + std::to_string(value.size()) + ")";
  std::string text =
      "Поле " + Place(object) + what + ": ПЦН не узнает, с какого объекта пришло извещение";
  if (!stations.empty())
    text += std::string(stations.size() == 1 ? " (направление " : " (направления ") +
            NumberList(stations) + (stations.size() == 1 ? " передаёт" : " передают") +
            " на ПЦН протоколом " + Quoted(c.Text(fields[1])) + ")";
  c.Add("object-number-empty", stations.empty() ? Severity::Warning : Severity::Error, text + ".",
        "Введите номер объекта, который ему дал ПЦН.", fields);
}

void ObjectNumberFromTemplate(Context& c) {
  const Field* object = c.F("object_number");
  if (object == nullptr || c.template_image() == nullptr) return;
  const std::string value = c.Text(object);
  if (Trimmed(value).empty() || value != FieldText(*object, *c.template_image())) return;
  c.Add("object-number-from-template",
        "В поле " + Place(object) + " — " + value +
            ", тот же номер, что в шаблоне: ПЦН примет извещения этого объекта за извещения "
            "другого.",
        "Задайте номер этого объекта (в плане — столбец object_number).", {object});
}

void ReserveLoopInUse(Context& c) {
  for (int l = 0; l < 4; ++l) {
    const unsigned type = c.loop_type(l);
    if (LoopInUse251(type) || type > kLoopTech) continue;  // in use, or no entry names it
    const Field* name = c.F("loop", l + 1, ".name");
    if (Trimmed(c.Text(name)).empty()) continue;
    std::vector<int> routing;
    std::vector<const Field*> fields = {c.F("loop", l + 1, ".type"), name};
    for (const Direction& d : c.directions())
      if (d.number && d.Routes(l)) {
        routing.push_back(d.n);
        fields.push_back(c.F(Dir(d.n) + ".loop", l + 1, ""));
      }
    if (routing.empty()) continue;
    c.Add("reserve-loop-in-use",
          c.LoopLabel(l) + " на странице " + PageName(fields.front()) + " — тип «Резерв» (не " +
              "используется), но у него есть имя и его " +
              (routing.size() == 1 ? "передаёт направление " : "передают направления ") +
              NumberList(routing) + ": если к нему подключены датчики, их тревог не будет.",
          "Выберите тип шлейфа в поле " + Name(fields.front()) +
              ", если он подключён; иначе очистите его имя и поставьте для него «не передавать».",
          fields);
  }
}

void EntryLoopWithoutDelay(Context& c) {
  const Field* entry = c.F("entry_time");
  if (entry == nullptr || c.Bits(entry) != 0) return;
  std::vector<int> loops;
  std::vector<const Field*> fields = {entry};
  std::string labels;
  for (int l = 0; l < 4; ++l) {
    if (c.loop_type(l) != kLoopEntry) continue;
    loops.push_back(l + 1);
    fields.push_back(c.F("loop", l + 1, ".type"));
    labels += (labels.empty() ? "" : ", ") + c.LoopLabel(l);
  }
  if (loops.empty()) return;
  c.Add("entry-loop-without-delay",
        labels + (loops.size() == 1 ? " — входной («Вход»)" : " — входные («Вход»)") +
            ", а в поле " + Place(entry) +
            " стоит 0: тревога поднимется, как только войдут, до того как успеют снять охрану.",
        "Задайте задержку на вход (обычно 15–30 с) или выберите для шлейфа тип «Охранный».",
        fields);
}

void SirenTimeZero(Context& c) {
  const Field* time = c.F("siren_time");
  if (time == nullptr || c.Bits(time) != 0) return;
  std::vector<int> loops;
  std::vector<const Field*> fields = {time};
  for (int l = 0; l < 4; ++l) {
    const Field* siren = c.F("loop", l + 1, ".siren");
    if (!LoopInUse251(c.loop_type(l)) || c.Bits(siren) == 0) continue;
    loops.push_back(l + 1);
    fields.push_back(siren);
  }
  if (loops.empty()) return;
  c.Add("siren-time-zero",
        std::string(loops.size() == 1 ? "Сирену включает " : "Сирену включают ") + LoopList(loops) +
            ", а в поле " + Place(time) + " стоит 0: сирена не прозвучит.",
        "Задайте время сирены в секундах или снимите отметки «Сирена» у шлейфов.", fields);
}

}  // namespace lovar::check
