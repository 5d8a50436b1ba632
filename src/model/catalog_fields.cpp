// The fields of each model (catalog.h): ids, captions, pages and bytes, as data. The parameters
// page's bytes come from its layout rows (layout.h), the other pages' from the offset functions
// of regions.h; the tables here name them. How a field's bytes read and store as text is its
// kind's codec (catalog_codecs.h).
#include <map>

#include "model/catalog.h"
#include "model/layout.h"

namespace lovar {
namespace {

constexpr PageInfo kPages[] = {
    {FieldPage::Parameters, "Параметры"}, {FieldPage::Keys, "Ключи"},
    {FieldPage::Codes, "Коды"},           {FieldPage::Directions, "Параметры передачи"},
    {FieldPage::Filter, "Фильтр"},        {FieldPage::Gprs, "GPRS"},
};

// ---- The parameters page: names for the layout rows. ----

// A layout row's name: the field's id and caption. In rows of a per-loop section '#' stands for
// the loop number (1 to the model's loop count) in both texts.
struct ParameterName {
  std::string_view id;
  std::string_view caption;
  int output = 0;  // 2: belongs to the second output, absent where the model has only one
  int max = -1;    // Number: the editor's limit, when it is below what the bits hold
  std::string_view unit = {};                      // Number: as the page's labels say it
  std::span<const std::string_view> aliases = {};  // List: other texts the window shows
  uint16_t clears = 0;                             // Number: bits its editor writes as 0
};

// The units the pages give their numbers: "Время в секундах" over the loop delays, "c" beside
// the sounder and siren times, "c" or "c/16" beside an output's time by its mode.
constexpr std::string_view kSeconds = "секунды";
constexpr std::string_view kOutputTime = "секунды, в режимах «Включить на время…» — 1/16 секунды";

struct Section {
  std::span<const ParameterName> rows;
  bool per_loop;
};

// Models 250 and 252, in the page's order: the top row, the loop rows, the outputs.
constexpr ParameterName kTop250[] = {
    {"board_address",
     "Адрес платы ЛПЗ(0-15)",
     0,
     board::kMaxAddress,
     {},
     {},
     board::kAddressClears},
    {"board_direction", "Номер направления платы ЛПЗ(0-19)", 0, board::kMaxDirection},
    {"protocol", "Протокол", 0, -1, {}, lists::kProtocolsShown},
    {"level", "Уровень сигнала мВ"},
};
constexpr ParameterName kLoops250[] = {
    {"loop#.type", "ШС#: Тип шлейфа"},
    {"loop#.exit_time", "ШС#: Время в секундах, Выход", 0, -1, kSeconds},
    {"loop#.entry_time", "ШС#: Время в секундах, Вход", 0, -1, kSeconds},
    {"loop#.output1", "ШС#: Вых.1"},
    {"loop#.output2", "ШС#: Вых.2", 2},
    {"loop#.sounder", "ШС#: Внутр. зв. сигн."},
};
constexpr ParameterName kOutputs250[] = {
    {"output1.mode", "Вых.1: Тип"},
    {"output1.time", "Вых.1: Время", 0, -1, kOutputTime},
    {"output2.mode", "Вых.2: Тип", 2},
    {"output2.time", "Вых.2: Время", 2, -1, kOutputTime},
    {"sounder_time", "Внутренний звуковой сигн.", 0, -1, kSeconds},
};
constexpr Section kSections250[] = {{kTop250, false}, {kLoops250, true}, {kOutputs250, false}};

// Model 251: the loop rows, the common times and outputs, the group of object, password,
// technological loop and counts.
constexpr ParameterName kLoops251[] = {
    {"loop#.type", "ШС#: Тип шлейфа"},
    {"loop#.name", "ШС#: Имя"},
    {"loop#.output1", "ШС#: Вых.1"},
    {"loop#.output2", "ШС#: Вых.2", 2},
    {"loop#.sounder", "ШС#: Внутр. зв. сигн."},
    {"loop#.siren", "ШС#: Сирена"},
    {"loop#.auto_rearm", "ШС#: Авт.Взятие После трев."},
};
constexpr ParameterName kCommon251[] = {
    {"exit_time", "Время в секундах, Выход", 0, -1, kSeconds},
    {"entry_time", "Время в секундах, Вход", 0, -1, kSeconds},
    {"output1.mode", "Вых.1: Тип"},
    {"output2.mode", "Вых.2: Тип", 2},
    {"sounder_time", "Внутренний звуковой сигн.", 0, -1, kSeconds},
    {"siren_time", "Сирена", 0, -1, kSeconds},
    {"rearm_delay", "Задержка авт.взятия после тревоги"},
    {"object_number", "Номер объекта"},
    {"password", "Пароль"},
};
constexpr ParameterName kTech251[] = {
    {"loop#.tech_arm", "ШС#: Параметры технологического шлейфа, Взятие"},
    {"loop#.tech_disarm", "ШС#: Параметры технологического шлейфа, Снятие"},
};
constexpr ParameterName kCounts251[] = {
    {"attempts", "Количество попыток передачи"},
    {"session_repeats", "Количество повторов во время  1 сеанса связи"},
    {"sms_attempts", "Количество попыток передачи SMS"},
    {"voice_repeats", "Количество повторов при передачи сообщений по голосовому каналу"},
    {"listen_time", "Максимальное время прослушивания"},
};
constexpr Section kSections251[] = {
    {kLoops251, true}, {kCommon251, false}, {kTech251, true}, {kCounts251, false}};

// The parameters page's names of each layout's rows.
std::span<const Section> SectionsOf(ImageLayout layout) {
  switch (layout) {
    case ImageLayout::T:
      return kSections250;
    case ImageLayout::M:
      return kSections251;
  }
  return {};
}

std::string Substitute(std::string_view pattern, int loop) {
  std::string out;
  for (char c : pattern) {
    if (c == '#')
      out += std::to_string(loop);
    else
      out.push_back(c);
  }
  return out;
}

// A layout row as a field: the row gives bytes and encoding, the name gives id and caption.
Field FromLayout(const FieldDef& def, const ParameterName& name, int loop) {
  Field f;
  f.id = Substitute(name.id, loop);
  f.page = FieldPage::Parameters;
  f.caption = Substitute(name.caption, loop);
  f.offset = def.offset;
  switch (def.encoding) {
    case Encoding::Number:
      f.kind = FieldKind::Number;
      break;
    case Encoding::Index:
      f.kind = FieldKind::List;
      f.captions = def.values;
      break;
    case Encoding::Flag:
      f.kind = FieldKind::Flag;
      f.mask = static_cast<uint16_t>(1u << def.bit);
      f.shift = def.bit;
      break;
    case Encoding::Bits:
      f.kind = def.values.empty() ? FieldKind::Number : FieldKind::List;
      f.captions = def.values;
      f.width = def.width;
      f.mask = def.mask;
      f.shift = def.bit;
      break;
    case Encoding::Text:
      f.kind = FieldKind::Text;
      f.width = def.width;
      break;
  }
  f.max = name.max;
  f.unit = name.unit;
  f.aliases = name.aliases;
  f.clears = name.clears;
  return f;
}

void AddParameters(std::vector<Field>& fields, const ModelSetup& setup) {
  const std::span<const Section> sections = SectionsOf(setup.layout);
  for (const Section& section : sections) {
    const int loops = section.per_loop ? setup.loops : 1;
    for (int loop = 1; loop <= loops; ++loop) {
      for (const ParameterName& name : section.rows) {
        if (name.output > setup.outputs) continue;
        const FieldDef* def = FindField(setup.model, Substitute(name.id, loop));
        if (def == nullptr) continue;  // a name without a layout row; the tests catch it
        fields.push_back(FromLayout(*def, name, loop));
      }
    }
  }
}

// ---- The other pages, from the offset functions of their regions. ----

Field Make(FieldPage page, std::string id, std::string caption, FieldKind kind, int offset,
           int width = 1) {
  Field f;
  f.id = std::move(id);
  f.page = page;
  f.caption = std::move(caption);
  f.kind = kind;
  f.offset = offset;
  f.width = width;
  return f;
}

Field Nibble(Field f, bool high) {
  f.mask = high ? 0xF0 : 0x0F;
  f.shift = high ? 4 : 0;
  return f;
}

void AddKeys(std::vector<Field>& fields, const ModelSetup& setup) {
  const int model = setup.model;
  for (int k = 0; k < keys::kCount; ++k) {
    const std::string n = std::to_string(k + 1);
    const std::string key = "key" + n;
    const std::string row = "Ключ " + n + ": ";
    fields.push_back(Make(FieldPage::Keys, key + ".code", row + "Код", FieldKind::KeyCode,
                          keys::CodeOffset(model, k), keys::CodeBytes(model)));
    if (setup.key_rights) {
      Field rights = Make(FieldPage::Keys, key + ".rights", row + "Взятие ШС / Снятие  ШС",
                          FieldKind::Rights, keys::RightsOffset(model, k));
      rights.arm_high = keys::ArmInHighNibble(model);
      fields.push_back(std::move(rights));
    }
    if (setup.key_names)
      fields.push_back(Make(FieldPage::Keys, key + ".name", row + "Имя", FieldKind::Text,
                            keys::NameOffset(k), keys::kNameWidth));
  }
}

void AddCodes(std::vector<Field>& fields) {
  using namespace codes;
  for (int r = 0; r < kCount; ++r) {
    const std::string n = std::to_string(r + 1);
    const std::string code = "code" + n;
    const std::string row = "Строка " + n + ": ";
    fields.push_back(Make(FieldPage::Codes, code + ".code", row + "Код", FieldKind::CodeDigits,
                          CodeOffset(r), kCodeBytes));
    // The first row is the installer's code: it has no duress code, its bytes are always
    // written as 0.
    if (r > 0)
      fields.push_back(Make(FieldPage::Codes, code + ".duress", row + "К.Прин.",
                            FieldKind::CodeDigits, DuressOffset(r), kCodeBytes));
    fields.push_back(Make(FieldPage::Codes, code + ".rights", row + "Взятие / Снятие",
                          FieldKind::Rights, RightsOffset(r)));
  }
}

void AddDirections(std::vector<Field>& fields) {
  using namespace directions;
  constexpr FieldPage P = FieldPage::Directions;
  for (int d = 0; d < kCount; ++d) {
    const std::string n = std::to_string(d + 1);
    const std::string dir = "direction" + n;
    const std::string group = "Направление " + n + ": ";
    fields.push_back(Make(P, dir + ".phone", group + "Номер телефона", FieldKind::Phone,
                          PhoneOffset(d), kPhoneBytes));
    fields.push_back(
        Make(P, dir + ".name", group + "Имя", FieldKind::Text, NameOffset(d), kNameWidth));
    Field protocol = Nibble(Make(P, dir + ".protocol", group + "Протокол передачи", FieldKind::List,
                                 TestProtocolOffset(d)),
                            true);
    protocol.entries = kReportProtocols;
    fields.push_back(std::move(protocol));
    Field listen =
        Make(P, dir + ".listen", group + "Прослушивание", FieldKind::Flag, ListenOffset(d));
    listen.mask = 0x01;
    fields.push_back(std::move(listen));
    Field test = Nibble(Make(P, dir + ".test", group + "Тест, Параметры передачи", FieldKind::List,
                             TestProtocolOffset(d)),
                        false);
    test.entries = kTestKinds;
    fields.push_back(std::move(test));
    Field period =
        Make(P, dir + ".period", group + "Тест, Период", FieldKind::Number, PeriodOffset(d));
    period.unit = "часы или минуты, по виду теста";
    fields.push_back(std::move(period));
    for (int l = 0; l < 4; ++l) {
      const std::string loop = std::to_string(l + 1);
      Field routing = Nibble(Make(P, dir + ".loop" + loop, group + "ШС" + loop, FieldKind::List,
                                  RoutingOffset(d) + l / 2),
                             l % 2 == 1);
      routing.captions = kRouting;
      fields.push_back(std::move(routing));
    }
  }
}

void AddFilter(std::vector<Field>& fields) {
  for (int d = 0; d < directions::kCount; ++d) {
    const std::string n = std::to_string(d + 1);
    for (int e = 1; e <= filter::kEvents; ++e) {
      const int bit = (e - 1) % 8;
      Field f = Make(FieldPage::Filter, "direction" + n + ".event" + std::to_string(e),
                     "Телефон " + n + ": " + std::string(filter::kEventNames[e - 1]),
                     FieldKind::Flag, filter::Offset(d) + (e - 1) / 8);
      f.mask = static_cast<uint16_t>(1u << bit);
      f.shift = static_cast<uint8_t>(bit);
      fields.push_back(std::move(f));
    }
  }
}

void AddGprs(std::vector<Field>& fields) {
  using namespace gprs;
  constexpr FieldPage P = FieldPage::Gprs;
  // The initialisation string is read up to its full 60 bytes; the window takes at most 50
  // characters, but a device may hold more, and a value must read and store back whole.
  Field init = Make(P, "gprs.init", "Настройка модема: Строка инициализации", FieldKind::Text,
                    kInitOffset, kInitReadWidth);
  init.max = kInitWriteWidth;
  fields.push_back(std::move(init));
  fields.push_back(
      Make(P, "gprs.user", "Настройка модема: Имя", FieldKind::Text, kUserOffset, kLoginWidth));
  fields.push_back(Make(P, "gprs.password", "Настройка модема: Пароль", FieldKind::Text,
                        kPasswordOffset, kLoginWidth));
  fields.push_back(Make(P, "gprs.ip", "Параметры премника: IP адрес", FieldKind::Ip, kIpOffset, 4));
  Field port = Make(P, "gprs.port", "Параметры премника: Порт", FieldKind::Number, kPortOffset, 2);
  port.mask = 0xFFFF;
  fields.push_back(std::move(port));
}

std::vector<Field> Build(const ModelSetup& setup) {
  std::vector<Field> fields;
  AddParameters(fields, setup);
  AddKeys(fields, setup);
  if (setup.Has(FieldPage::Codes)) AddCodes(fields);
  if (setup.Has(FieldPage::Directions)) AddDirections(fields);
  if (setup.Has(FieldPage::Filter)) AddFilter(fields);
  if (setup.Has(FieldPage::Gprs)) AddGprs(fields);
  // Every limit explicit: a number up to what its bits hold, a text up to its width.
  for (Field& f : fields) {
    if (f.kind == FieldKind::Number && f.max < 0) f.max = static_cast<int>(f.mask >> f.shift);
    if (f.kind == FieldKind::Text && f.max < 0) f.max = f.width;
  }
  return fields;
}

// Every known model's fields, built once on first use.
struct Catalogs {
  std::map<int, std::vector<Field>> models;
  Catalogs() {
    for (const ModelSetup& setup : KnownModelSetups()) models[setup.model] = Build(setup);
  }
};

}  // namespace

std::span<const PageInfo> Pages() {
  return kPages;
}

const PageInfo& PageOf(FieldPage page) {
  return kPages[static_cast<size_t>(page)];
}

std::string_view ModelName(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? setup->name : std::string_view();
}

std::string ModelNameAndCode(int model) {
  return std::string(ModelName(model)) + " (" + std::to_string(model) + ")";
}

uint8_t Field::BitsAt(int at) const {
  if (at < offset || at > last()) return 0;
  if (kind == FieldKind::Number || kind == FieldKind::List || kind == FieldKind::Flag)
    return static_cast<uint8_t>(((mask | clears) >> (8 * (at - offset))) & 0xFF);
  return 0xFF;
}

std::span<const Field> Fields(int model) {
  static const Catalogs kCatalogs;
  const auto found = kCatalogs.models.find(model);
  return found != kCatalogs.models.end() ? std::span<const Field>(found->second)
                                         : std::span<const Field>();
}

const Field* FindFieldById(int model, std::string_view id) {
  for (const Field& f : Fields(model))
    if (f.id == id) return &f;
  return nullptr;
}

std::vector<const Field*> FieldsAt(int model, int offset) {
  std::vector<const Field*> found;
  for (const Field& f : Fields(model))
    if (f.BitsAt(offset) != 0) found.push_back(&f);
  return found;
}

std::string FieldsAtText(int model, int offset, uint8_t bits) {
  std::string names;
  int count = 0;
  for (const Field* f : FieldsAt(model, offset)) {
    if ((f->BitsAt(offset) & bits) == 0) continue;
    names += (count++ == 0 ? "" : ", ") + f->id + " (" + f->caption + ")";
  }
  if (count == 0) return {};
  return (count == 1 ? "поле " : "поля ") + names;
}

}  // namespace lovar
