// Model 251: does each event reach someone? The report directions (number, protocol, test,
// routing of each loop), the event filter of each direction, the counts and times that govern
// a transmission, and the GPRS settings.
#include <string>
#include <vector>

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

std::string EventName(int e) {
  return Quoted(filter::kEventNames[e - 1]);
}

constexpr unsigned kRoutingNoAlarm = 4;  // "все кроме "Сработка"": the loop's events but its alarm

bool AnySends(const Context& c) {
  for (const Direction& d : c.directions())
    if (d.Sends()) return true;
  return false;
}

}  // namespace

void NoReportingDirection(Context& c) {
  // Not judged where the configuration does not hold the directions.
  if (c.model() != 251 || c.F("direction1.phone") == nullptr || AnySends(c)) return;
  std::vector<const Field*> fields;
  for (int d = 1; d <= 5; ++d) fields.push_back(c.F("direction", d, ".phone"));
  const std::vector<int> numbered = Numbered(c);
  std::string text;
  if (numbered.empty()) {
    text =
        "Ни у одного направления на странице «Параметры передачи» нет номера телефона: УО не "
        "передаст ни одного извещения.";
  } else {
    text = "Направления с номером телефона (" + NumberList(numbered) +
           ") на странице «Параметры передачи» ничего не передают: во всех полях «ШС1»…«ШС4» у них "
           "«не передавать», и в их "
           "столбцах на странице «Фильтр» не отмечено ни одно событие. УО не передаст ни одного "
           "извещения.";
    for (int n : numbered)
      for (int l = 1; l <= 4; ++l) fields.push_back(c.F(Dir(n) + ".loop", l, ""));
  }
  c.Add("no-reporting-direction", std::move(text),
        "Введите номер ПЦН в поле «Направление 1: Номер телефона», выберите для шлейфов «все» и "
        "отметьте события направления на странице «Фильтр».",
        fields);
}

void LoopNotReported(Context& c) {
  if (c.model() != 251) return;
  const std::vector<int> numbered = Numbered(c);
  if (numbered.empty()) return;  // no direction has a number: said once, by the rule above
  for (int l = 0; l < 4; ++l) {
    if (!LoopInUse251(c.loop_type(l))) continue;
    bool routed = false;
    for (const Direction& d : c.directions()) routed = routed || (d.number && d.Routes(l));
    if (routed) continue;
    const Field* type = c.F("loop", l + 1, ".type");
    std::vector<const Field*> fields;
    for (int n : numbered) fields.push_back(c.F(Dir(n) + ".loop", l + 1, ""));
    fields.push_back(type);
    const std::string loop = "ШС" + std::to_string(l + 1);
    c.Add("loop-not-reported",
          c.LoopLabel(l) + " используется (тип " + Quoted(c.Text(type)) +
              "), но ни одно направление с номером телефона его не передаёт: в поле " +
              Quoted(loop) + " у " + (numbered.size() == 1 ? "направления " : "направлений ") +
              NumberList(numbered) +
              " на странице «Параметры передачи» — «не передавать». Тревоги этого шлейфа никто "
              "не услышит.",
          "Выберите для " + loop +
              " «все» или «только тревожные извещения» хотя бы в одном направлении с номером "
              "(обычно в направлении ПЦН), или поставьте тип «Резерв», если шлейф не подключён.",
          fields);
  }
}

void LoopAlarmNotReported(Context& c) {
  if (c.model() != 251) return;
  for (int l = 0; l < 4; ++l) {
    const std::vector<int> events = AlarmEvents(c.loop_type(l));
    if (events.empty()) continue;
    unsigned alarm_mask = 0;
    for (int e : events) alarm_mask |= 1u << (e - 1);
    bool routed = false, carried = false, filters = false;
    std::vector<int> without_alarms, unmarked;
    std::vector<const Field*> fields;
    for (const Direction& d : c.directions()) {
      if (!d.number || !d.Routes(l)) continue;
      routed = true;
      filters = filters || d.filter != 0;
      const bool alarms = d.routing[static_cast<size_t>(l)] != kRoutingNoAlarm;
      const bool marked = (d.filter & alarm_mask) != 0;
      carried = carried || (alarms && marked);
      fields.push_back(c.F(Dir(d.n) + ".loop", l + 1, ""));
      if (!alarms) {
        without_alarms.push_back(d.n);
      } else if (!marked) {
        unmarked.push_back(d.n);
        fields.push_back(c.F(Dir(d.n) + ".event", events.front(), ""));
      }
    }
    // Not routed at all: an error of its own; only empty filters: said per direction.
    if (!routed || carried || !filters) continue;
    fields.push_back(c.F("loop", l + 1, ".type"));
    std::string reasons;
    if (!without_alarms.empty())
      reasons = (without_alarms.size() == 1 ? "направление " : "направления ") +
                NumberList(without_alarms) +
                (without_alarms.size() == 1 ? " передаёт" : " передают") +
                " его «все кроме \"Сработка\"», то есть без тревог";
    if (!unmarked.empty())
      reasons += (reasons.empty() ? "" : "; ") + std::string("на странице «Фильтр» у ") +
                 (unmarked.size() == 1 ? "направления " : "направлений ") + NumberList(unmarked) +
                 " не отмечено " + EventName(events.front());
    const std::string loop = "ШС" + std::to_string(l + 1);
    c.Add("loop-alarm-not-reported",
          "Тревоги " + c.LoopLabel(l) +
              " не уйдут ни в одно направление на странице «Параметры передачи»: " + reasons + ".",
          "Выберите для " + loop + " «все» или «только тревожные извещения» и отметьте " +
              EventName(events.front()) + " в столбце этого направления на странице «Фильтр».",
          fields);
  }
}

void DirectionWithoutPhone(Context& c) {
  if (c.model() != 251) return;
  for (const Direction& d : c.directions()) {
    if (d.phone_set) continue;
    const bool test = directions::TestEntry(static_cast<uint8_t>(d.test)) >= 1;
    if (!d.RoutesAny() && !test) continue;
    const Field* phone = c.F(Dir(d.n) + ".phone");
    std::vector<const Field*> fields = {phone};
    std::string what;
    for (int l = 0; l < 4; ++l) {
      if (!d.Routes(l)) continue;
      const Field* routing = c.F(Dir(d.n) + ".loop", l + 1, "");
      fields.push_back(routing);
      what += (what.empty() ? "" : ", ") + ("ШС" + std::to_string(l + 1)) + " " +
              Quoted(c.Text(routing));
    }
    if (test) {
      const Field* kind = c.F(Dir(d.n) + ".test");
      fields.push_back(kind);
      what += (what.empty() ? "" : ", ") + std::string("тест ") + Quoted(c.Text(kind));
    }
    c.Add("direction-without-phone",
          "У направления " + std::to_string(d.n) +
              " на странице «Параметры передачи» нет номера телефона, но для него задано: " + what +
              ". По нему ничего не уйдёт.",
          "Введите номер в поле " + Name(phone) +
              " или поставьте «не передавать» для шлейфов и теста этого направления.",
          fields);
  }
}

void DirectionFilterEmpty(Context& c) {
  if (c.model() != 251) return;
  for (const Direction& d : c.directions()) {
    if (!d.number || !d.RoutesAny() || d.filter != 0) continue;
    c.Add("direction-filter-empty",
          "Направление " + std::to_string(d.n) +
              " передаёт шлейфы, но в его столбце на странице «Фильтр» не отмечено ни одно "
              "событие: по нему ничего не уйдёт.",
          "Отметьте на странице «Фильтр» события, которые надо передавать по направлению " +
              std::to_string(d.n) + " (для ПЦН обычно все).",
          {c.F(Dir(d.n) + ".event4"), c.F(Dir(d.n) + ".phone")});
  }
}

void DirectionProtocolUnset(Context& c) {
  if (c.model() != 251) return;
  for (const Direction& d : c.directions()) {
    const bool test = directions::TestEntry(static_cast<uint8_t>(d.test)) >= 1;
    if (!d.number || !(d.Sends() || test)) continue;
    if (directions::ProtocolEntry(static_cast<uint8_t>(d.protocol)) >= 0) continue;
    const Field* protocol = c.F(Dir(d.n) + ".protocol");
    c.Add("direction-protocol-unset",
          "У направления " + std::to_string(d.n) + " есть номер и есть что передавать, но поле " +
              Place(protocol) + " пусто: неизвестно, как УО передаст извещения.",
          "Выберите протокол: для ПЦН обычно «Contact ID», для телефона хозяина — «SMS "
          "сообщение» или «Речевое сообщение».",
          {protocol});
  }
}

void PhoneMalformed(Context& c) {
  if (c.model() != 251) return;
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
  if (c.model() != 251) return;
  for (const Direction& d : c.directions()) {
    if (directions::TestEntry(static_cast<uint8_t>(d.test)) < 1 || d.period != 0) continue;
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
  if (c.model() != 251 || !AnySends(c)) return;
  const Field* attempts = c.F("attempts");
  if (attempts != nullptr && c.Bits(attempts) == 0)
    c.Add("attempts-zero",
          "В поле " + Place(attempts) +
              " стоит 0, а направления передают извещения: УО может не сделать ни одной попытки.",
          "Задайте число попыток, например 5.", {attempts});
  constexpr int kSms = 0;  // the protocol entry "SMS сообщение"
  bool sms = false;
  for (const Direction& d : c.directions())
    sms = sms || (d.Sends() && directions::ProtocolEntry(static_cast<uint8_t>(d.protocol)) == kSms);
  const Field* sms_attempts = c.F("sms_attempts");
  if (sms && sms_attempts != nullptr && c.Bits(sms_attempts) == 0)
    c.Add("attempts-zero",
          "В поле " + Place(sms_attempts) +
              " стоит 0, а направление передаёт «SMS сообщение»: SMS может не уйти ни разу.",
          "Задайте число попыток передачи SMS, например 3.", {sms_attempts});
}

void ListenTimeZero(Context& c) {
  if (c.model() != 251) return;
  const Field* time = c.F("listen_time");
  if (time == nullptr || c.Bits(time) != 0) return;
  for (const Direction& d : c.directions()) {
    if (!d.number || !d.listen) continue;
    c.Add("listen-time-zero",
          "У направления " + std::to_string(d.n) + " отмечено «Прослушивание», а в поле " +
              Place(time) + " стоит 0.",
          "Задайте время прослушивания или снимите отметку «Прослушивание».",
          {time, c.F(Dir(d.n) + ".listen")});
    return;
  }
}

void GprsIncomplete(Context& c) {
  if (c.model() != 251) return;
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
  if (object == nullptr || !c.Text(object).empty()) return;
  c.Add("object-number-empty",
        "Поле " + Place(object) + " пусто: ПЦН не узнает, с какого объекта пришло извещение.",
        "Введите номер объекта, который ему дал ПЦН.", {object});
}

void ObjectNumberFromTemplate(Context& c) {
  const Field* object = c.F("object_number");
  if (object == nullptr || c.template_image() == nullptr) return;
  const std::string value = c.Text(object);
  if (value.empty() || value != FieldText(*object, *c.template_image())) return;
  c.Add("object-number-from-template",
        "В поле " + Place(object) + " — " + value +
            ", тот же номер, что в шаблоне: ПЦН примет извещения этого объекта за извещения "
            "другого.",
        "Задайте номер этого объекта (в плане — столбец object_number).", {object});
}

void EntryLoopWithoutDelay(Context& c) {
  if (c.model() != 251) return;
  const Field* entry = c.F("entry_time");
  if (entry == nullptr || c.Bits(entry) != 0) return;
  for (int l = 0; l < 4; ++l) {
    if (c.loop_type(l) != kLoopEntry) continue;
    c.Add("entry-loop-without-delay",
          c.LoopLabel(l) + " — входной («Вход»), а в поле " + Place(entry) +
              " стоит 0: тревога поднимется, как только войдут, до того как успеют снять "
              "охрану.",
          "Задайте задержку на вход (обычно 15–30 с) или выберите для шлейфа тип «Охранный».",
          {entry, c.F("loop", l + 1, ".type")});
  }
}

void SirenTimeZero(Context& c) {
  if (c.model() != 251) return;
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
