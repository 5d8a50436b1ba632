#include "model/catalog.h"

#include <algorithm>
#include <array>
#include <bit>
#include <map>

#include "model/cp1251.h"
#include "model/hex.h"
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
  const std::span<const Section> sections =
      setup.layout == 251 ? std::span<const Section>(kSections251) : kSections250;
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
    Field protocol = Nibble(Make(P, dir + ".protocol", group + "Протокол передачи",
                                 FieldKind::List, TestProtocolOffset(d)),
                            true);
    protocol.entries = kReportProtocols;
    fields.push_back(std::move(protocol));
    Field listen = Make(P, dir + ".listen", group + "Прослушивание", FieldKind::Flag,
                        ListenOffset(d));
    listen.mask = 0x01;
    fields.push_back(std::move(listen));
    Field test = Nibble(Make(P, dir + ".test", group + "Тест, Параметры передачи",
                             FieldKind::List, TestProtocolOffset(d)),
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
  Field port =
      Make(P, "gprs.port", "Параметры премника: Порт", FieldKind::Number, kPortOffset, 2);
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

// ---- Reading and storing values. ----

unsigned Word(const Field& f, const ConfigImage& image) {
  return f.width == 2 ? image[f.offset] | (image[f.offset + 1] << 8) : image[f.offset];
}

unsigned Capacity(const Field& f) {
  return static_cast<unsigned>(f.mask) >> f.shift;
}

// The "#N" form of a number spans the bits its store clears too (N = the word's bits of mask
// and clears, from the lowest of them); of any other field, its own bits.
uint16_t RawMask(const Field& f) {
  return static_cast<uint16_t>(f.mask | f.clears);
}
int RawShift(const Field& f) {
  return f.clears != 0 ? std::countr_zero(RawMask(f)) : f.shift;
}
unsigned RawCapacity(const Field& f) {
  return static_cast<unsigned>(RawMask(f)) >> RawShift(f);
}
unsigned RawBits(const Field& f, const ConfigImage& image) {
  return (Word(f, image) & RawMask(f)) >> RawShift(f);
}
void SetRawBits(const Field& f, ConfigImage& image, unsigned value) {
  const unsigned word =
      (Word(f, image) & ~unsigned{RawMask(f)}) | ((value << RawShift(f)) & RawMask(f));
  image[f.offset] = static_cast<uint8_t>(word & 0xFF);
  if (f.width == 2) image[f.offset + 1] = static_cast<uint8_t>(word >> 8);
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Runs of blanks as one, none at the ends: "только тревожные извещения " is found when typed
// without its trailing blank. Latin letters that look like Cyrillic ones are read as those,
// so a caption that mixes them ("ОФM", its M Latin) is found however it was typed.
std::string Squeezed(std::string_view text) {
  static constexpr std::string_view kLookAlikes[][2] = {
      {"A", "А"}, {"B", "В"}, {"C", "С"}, {"E", "Е"}, {"H", "Н"}, {"K", "К"},
      {"M", "М"}, {"O", "О"}, {"P", "Р"}, {"T", "Т"}, {"X", "Х"}, {"a", "а"},
      {"c", "с"}, {"e", "е"}, {"o", "о"}, {"p", "р"}, {"x", "х"}, {"y", "у"}};
  std::string out;
  for (char c : Trim(text)) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    const auto* same = std::find_if(std::begin(kLookAlikes), std::end(kLookAlikes),
                                    [c](const auto& pair) { return pair[0][0] == c; });
    if (same != std::end(kLookAlikes))
      out += (*same)[1];
    else
      out.push_back(c);
  }
  return out;
}

int HexDigit(char c) {
  return HexDigitValue(static_cast<uint8_t>(c));
}

// A decimal number of at most nine digits, nothing else.
bool ParseDecimal(std::string_view text, unsigned& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = 10 * value + static_cast<unsigned>(c - '0');
  }
  return true;
}

std::string Raw(unsigned value) {
  return "#" + std::to_string(value);
}

// "#N": a value given by its number. True when text has that form (value then set, or why
// said when N is no number or does not fit the field's bits).
bool ParseRaw(const Field& f, std::string_view text, unsigned& value, bool& ok, std::string& why) {
  if (text.empty() || text.front() != '#') return false;
  ok = ParseDecimal(Trim(text.substr(1)), value) && value <= RawCapacity(f);
  if (!ok)
    why = "«" + std::string(text) + "»: после # нужно число от 0 до " +
          std::to_string(RawCapacity(f));
  return true;
}

// ---- List. ----

// The caption of a stored value, when an entry names it and no earlier entry has its caption.
const std::string_view* CaptionOf(const Field& f, unsigned value) {
  const std::string_view* caption = nullptr;
  if (!f.entries.empty()) {
    for (const directions::Entry& e : f.entries)
      if (e.nibble == value) {
        caption = &e.caption;
        break;
      }
  } else if (value < f.captions.size()) {
    caption = &f.captions[value];
  }
  if (caption == nullptr) return nullptr;
  auto first_with = [&](std::string_view text) -> const std::string_view* {
    for (const directions::Entry& e : f.entries)
      if (e.caption == text) return &e.caption;
    for (const std::string_view& c : f.captions)
      if (c == text) return &c;
    return nullptr;
  };
  return first_with(*caption) == caption ? caption : nullptr;
}

bool ValueOfCaption(const Field& f, std::string_view text, unsigned& value) {
  for (const bool squeezed : {false, true}) {
    auto same = [&](std::string_view caption) {
      return squeezed ? Squeezed(caption) == Squeezed(text) : caption == text;
    };
    for (const directions::Entry& e : f.entries)
      if (same(e.caption)) {
        value = e.nibble;
        return true;
      }
    for (std::span<const std::string_view> list : {f.captions, f.aliases})
      for (size_t i = 0; i < list.size(); ++i)
        if (same(list[i])) {
          value = static_cast<unsigned>(i);
          return true;
        }
  }
  return false;
}

std::string ListOf(const Field& f) {
  std::string list;
  auto add = [&](std::string_view caption) {
    if (!list.empty()) list += ", ";
    list += caption;
  };
  for (const directions::Entry& e : f.entries) add(e.caption);
  for (std::string_view c : f.captions) add(c);
  return list;
}

// ---- Text. ----

// The characters the window takes; a device may hold more (up to the width), written as \xNN.
int TextLimit(const Field& f) {
  return f.max >= 0 ? std::min(f.max, f.width) : f.width;
}

bool Printable(uint8_t byte) {
  return byte >= 0x20 && byte != 0x7F && byte != 0x98;
}

std::string TextValue(const Field& f, const ConfigImage& image) {
  std::string out;
  for (int i = 0; i < f.width; ++i) {
    const uint8_t b = image[f.offset + i];
    if (b == 0) break;
    // A backslash stays itself unless what follows would read as an escape.
    auto at = [&](int k) { return static_cast<char>(image[f.offset + k]); };
    const bool escape_like = b == '\\' && i + 3 < f.width && at(i + 1) == 'x' &&
                             HexDigit(at(i + 2)) >= 0 && HexDigit(at(i + 3)) >= 0;
    if (!Printable(b) || escape_like || i >= TextLimit(f)) {
      out += "\\x" + HexText(std::span<const uint8_t>(&b, 1));
    } else {
      AppendUtf8(out, Cp1251ToUnicode(b));
    }
  }
  return out;
}

// The bytes of a text value: each character one Windows-1251 byte, \xNN the byte NN. Past the
// characters the window takes only \xNN stands (bytes a device held, read back whole).
bool ParseText(const Field& f, std::string_view text, std::string& bytes, std::string& why) {
  bytes.clear();
  size_t pos = 0;
  bool typed_past_limit = false;
  while (pos < text.size()) {
    if (text[pos] == '\\' && pos + 3 < text.size() && text[pos + 1] == 'x' &&
        HexDigit(text[pos + 2]) >= 0 && HexDigit(text[pos + 3]) >= 0) {
      const auto b = static_cast<uint8_t>(HexDigit(text[pos + 2]) * 16 + HexDigit(text[pos + 3]));
      if (b == 0) {
        why = "\\x00 в тексте недопустим: нулевой байт завершает текст";
        return false;
      }
      bytes.push_back(static_cast<char>(b));
      pos += 4;
      continue;
    }
    const size_t start = pos;
    const char32_t cp = NextCodePoint(text, pos);
    if (cp == kNotACodePoint) {
      why = "текст не в кодировке UTF-8";
      return false;
    }
    if (cp < 0x20 || cp == 0x7F) {
      why = "управляющий знак в тексте (код " + std::to_string(cp) + "): такой байт пишется \\x" +
            HexText(std::span<const uint8_t>(std::array<uint8_t, 1>{static_cast<uint8_t>(cp)}));
      return false;
    }
    const std::optional<uint8_t> b = UnicodeToCp1251(cp);
    if (!b) {
      why = "знак «" + std::string(text.substr(start, pos - start)) +
            "» не входит в кодировку Windows-1251";
      return false;
    }
    typed_past_limit = typed_past_limit || static_cast<int>(bytes.size()) >= TextLimit(f);
    bytes.push_back(static_cast<char>(*b));
  }
  if (typed_past_limit || bytes.size() > static_cast<size_t>(f.width)) {
    why = "текст длиннее " + std::to_string(TextLimit(f)) + " знаков";
    return false;
  }
  return true;
}

// The one way a text goes into the image: its bytes, then one zero byte when they are fewer
// than the width; the bytes after the zero byte keep what they held.
void WriteText(const Field& f, ConfigImage& image, std::string_view bytes) {
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin() + f.offset);
  if (bytes.size() < static_cast<size_t>(f.width))
    image[f.offset + static_cast<int>(bytes.size())] = 0;
}

// ---- Phone. ----

std::span<const uint8_t, directions::kPhoneBytes> PhoneBytes(const Field& f,
                                                             const ConfigImage& image) {
  return image.bytes().subspan(static_cast<size_t>(f.offset)).first<directions::kPhoneBytes>();
}

// What the editor stores for "no number".
constexpr std::array<uint8_t, directions::kPhoneBytes> kNoPhone = {0,    0xFF, 0xFF, 0xFF,
                                                                   0xFF, 0xFF, 0xFF, 0xFF};

std::string PhoneValue(const Field& f, const ConfigImage& image) {
  const auto bytes = PhoneBytes(f, image);
  if (std::equal(bytes.begin(), bytes.end(), kNoPhone.begin())) return {};
  if (bytes[0] == 0x81 || bytes[0] == 0x91) {
    const std::string text = (bytes[0] == 0x81 ? "+" : "") + directions::PhoneDigits(bytes);
    const auto packed = directions::PackPhone(text);
    if (text != "+" && !text.empty() && std::equal(packed.begin(), packed.end(), bytes.begin()))
      return text;
  }
  return "#" + HexText(bytes, " ");
}

bool ParseHexBytes(std::string_view text, std::span<uint8_t> out) {
  size_t n = 0;
  int high = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int v = HexDigit(c);
    if (v < 0 || n == out.size()) return false;
    if (high < 0) {
      high = v;
    } else {
      out[n++] = static_cast<uint8_t>(high * 16 + v);
      high = -1;
    }
  }
  return n == out.size() && high < 0;
}

// ---- Rights. ----

constexpr std::string_view kArm = "взятие";
constexpr std::string_view kDisarm = "снятие";

std::string LoopList(unsigned nibble) {
  std::string out;
  for (int n = 0; n < 4; ++n) {
    if (!((nibble >> n) & 1)) continue;
    if (!out.empty()) out.push_back(',');
    out += std::to_string(n + 1);
  }
  return out;
}

std::string RightsValue(const Field& f, const ConfigImage& image) {
  unsigned arm = 0, disarm = 0;
  FieldRights(f, image, arm, disarm);
  std::string out;
  if (arm != 0) out = std::string(kArm) + " " + LoopList(arm);
  if (disarm != 0) out += (out.empty() ? "" : "; ") + std::string(kDisarm) + " " + LoopList(disarm);
  return out;
}

// The word opening a part of a rights text, in lower case or with its capital (as the grid's
// headings write it).
bool TakeWord(std::string_view& part, std::string_view word, std::string_view capital) {
  for (std::string_view w : {word, capital}) {
    if (part.substr(0, w.size()) == w) {
      part.remove_prefix(w.size());
      return true;
    }
  }
  return false;
}

uint8_t RightsByte(const Field& f, unsigned arm, unsigned disarm) {
  arm &= 0x0F;
  disarm &= 0x0F;
  return static_cast<uint8_t>(f.arm_high ? (arm << 4) | disarm : (disarm << 4) | arm);
}

bool ParseRights(const Field& f, std::string_view text, uint8_t& byte, std::string& why) {
  unsigned arm = 0, disarm = 0;
  bool seen_arm = false, seen_disarm = false;
  auto fail = [&] {
    why = "«" + std::string(text) + "»: нужно «взятие 1,2; снятие 4» (ШС1–ШС4), или пусто";
    return false;
  };
  std::string_view rest = Trim(text);
  while (!rest.empty()) {
    const size_t end = rest.find(';');
    std::string_view part = Trim(rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    unsigned* target = nullptr;
    if (TakeWord(part, kArm, "Взятие")) {
      if (seen_arm) return fail();
      seen_arm = true;
      target = &arm;
    } else if (TakeWord(part, kDisarm, "Снятие")) {
      if (seen_disarm) return fail();
      seen_disarm = true;
      target = &disarm;
    } else {
      return fail();
    }
    if (!part.empty() && part.front() != ' ' && part.front() != ':') return fail();
    for (char c : part) {
      if (c == ' ' || c == ',' || c == ':') continue;
      if (c < '1' || c > '4') return fail();
      *target |= 1u << (c - '1');
    }
  }
  byte = RightsByte(f, arm, disarm);
  return true;
}

}  // namespace

std::span<const PageInfo> Pages() {
  return kPages;
}

const PageInfo& PageOf(FieldPage page) {
  return kPages[static_cast<size_t>(page)];
}

std::string_view ModelName(int model) {
  switch (model) {
    case 250:
      return "Ловар-Т";
    case 251:
      return "Ловар-М";
    case 252:
      return "Ловар-Т2";
    default:
      return {};
  }
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

namespace {

// The three models' fields, built once on first use.
struct Catalogs {
  std::map<int, std::vector<Field>> models;
  Catalogs() {
    for (int model : {250, 251, 252})
      if (const ModelSetup* setup = FindModelSetup(model)) models[model] = Build(*setup);
  }
};

}  // namespace

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

std::span<const uint8_t> FieldBytes(const Field& field, const ConfigImage& image) {
  return image.bytes().subspan(static_cast<size_t>(field.offset), static_cast<size_t>(field.width));
}

std::span<uint8_t> FieldBytes(const Field& field, ConfigImage& image) {
  return image.bytes().subspan(static_cast<size_t>(field.offset), static_cast<size_t>(field.width));
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

unsigned FieldBits(const Field& f, const ConfigImage& image) {
  return (Word(f, image) & f.mask) >> f.shift;
}

void SetFieldBits(const Field& f, ConfigImage& image, unsigned value) {
  const unsigned word = (Word(f, image) & ~unsigned{f.mask}) | ((value << f.shift) & f.mask);
  image[f.offset] = static_cast<uint8_t>(word & 0xFF);
  if (f.width == 2) image[f.offset + 1] = static_cast<uint8_t>(word >> 8);
}

std::string FieldText(const Field& f, const ConfigImage& image) {
  switch (f.kind) {
    case FieldKind::Number: {
      const unsigned v = FieldBits(f, image);
      if ((Word(f, image) & f.clears) != 0) return Raw(RawBits(f, image));
      return f.max >= 0 && v > static_cast<unsigned>(f.max) ? Raw(v) : std::to_string(v);
    }
    case FieldKind::List: {
      const unsigned v = FieldBits(f, image);
      const std::string_view* caption = CaptionOf(f, v);
      return caption != nullptr ? std::string(*caption) : Raw(v);
    }
    case FieldKind::Flag:
      return FieldBits(f, image) != 0 ? "да" : "нет";
    case FieldKind::Text:
      return TextValue(f, image);
    case FieldKind::Phone:
      return PhoneValue(f, image);
    case FieldKind::Ip: {
      std::string out;
      for (int i = 0; i < 4; ++i) {
        if (i > 0) out.push_back('.');
        out += std::to_string(image[f.offset + i]);
      }
      return out;
    }
    case FieldKind::KeyCode: {
      const auto bytes = FieldBytes(f, image);
      const bool none = std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
      return none ? std::string() : KeyCodeDigits(f, image);
    }
    case FieldKind::CodeDigits: {
      const uint8_t first = image[f.offset], second = image[f.offset + 1];
      if (first == 0 && second == 0) return {};
      std::string out;
      for (uint8_t b : {first, second}) {
        out.push_back(kHexDigits[b & 0x0F]);
        out.push_back(kHexDigits[b >> 4]);
      }
      return out;
    }
    case FieldKind::Rights:
      return RightsValue(f, image);
  }
  return {};
}

bool StoreFieldText(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  const std::string_view trimmed = Trim(text);
  const std::string quoted = "«" + std::string(text) + "»";
  switch (f.kind) {
    case FieldKind::Number: {
      unsigned v = 0;
      bool ok = false;
      if (ParseRaw(f, trimmed, v, ok, why)) {
        if (ok) SetRawBits(f, image, v);
        return ok;
      }
      const bool negative = !trimmed.empty() && trimmed.front() == '-';
      if (!ParseDecimal(negative ? trimmed.substr(1) : trimmed, v)) {
        why = quoted + ": нужно число " + RangeText(f);
        return false;
      }
      if (!StoreNumber(f, image, negative ? -int64_t{v} : int64_t{v}, why)) {
        why = quoted + ": " + why;
        return false;
      }
      return true;
    }
    case FieldKind::List: {
      unsigned v = 0;
      bool ok = false;
      if (!ParseRaw(f, trimmed, v, ok, why)) {
        ok = ListValueOf(f, text, v);
        if (!ok) why = quoted + " нет в списке: " + ListOf(f);
      }
      if (!ok) return false;
      SetFieldBits(f, image, v);
      return true;
    }
    case FieldKind::Flag: {
      const bool yes = trimmed == "да" || trimmed == "Да" || trimmed == "1";
      const bool no = trimmed == "нет" || trimmed == "Нет" || trimmed == "0";
      if (!yes && !no) {
        why = quoted + ": нужно «да» или «нет»";
        return false;
      }
      SetFieldBits(f, image, yes ? 1 : 0);
      return true;
    }
    case FieldKind::Text: {
      std::string bytes;
      if (!ParseText(f, text, bytes, why)) return false;
      WriteText(f, image, bytes);
      return true;
    }
    case FieldKind::Phone: {
      if (!trimmed.empty() && trimmed.front() == '#') {
        std::array<uint8_t, directions::kPhoneBytes> bytes{};
        if (!ParseHexBytes(trimmed.substr(1), bytes)) {
          why = quoted + ": после # нужны 8 байтов в шестнадцатеричном виде";
          return false;
        }
        std::copy(bytes.begin(), bytes.end(), image.bytes().begin() + f.offset);
        return true;
      }
      return StorePhone(f, image, trimmed, why);
    }
    case FieldKind::Ip:
      return StoreIp(f, image, trimmed, why);
    case FieldKind::KeyCode: {
      std::array<uint8_t, 8> parsed{};
      const auto span = std::span<uint8_t>(parsed).first(static_cast<size_t>(f.width));
      if (!trimmed.empty() && !ParseHexBytes(trimmed, span)) {
        why = quoted + ": код ключа — " + std::to_string(2 * f.width) +
              " шестнадцатеричных цифр, или пусто";
        return false;
      }
      // The first pair of digits is the byte at the highest offset.
      for (int i = 0; i < f.width; ++i) image[f.offset + f.width - 1 - i] = parsed[static_cast<size_t>(i)];
      return true;
    }
    case FieldKind::CodeDigits: {
      uint8_t nibble[4] = {};
      bool ok = trimmed.empty() || trimmed.size() == 4;
      for (size_t i = 0; ok && i < trimmed.size(); ++i) {
        const int v = HexDigit(trimmed[i]);
        ok = v >= 0;
        nibble[i] = static_cast<uint8_t>(v);
      }
      if (!ok) {
        why = quoted + ": код — четыре цифры, или пусто";
        return false;
      }
      image[f.offset] = static_cast<uint8_t>(nibble[0] | (nibble[1] << 4));
      image[f.offset + 1] = static_cast<uint8_t>(nibble[2] | (nibble[3] << 4));
      return true;
    }
    case FieldKind::Rights: {
      uint8_t byte = 0;
      if (!ParseRights(f, text, byte, why)) return false;
      image[f.offset] = byte;
      return true;
    }
  }
  return false;
}

void StoreRights(const Field& f, ConfigImage& image, unsigned arm, unsigned disarm) {
  image[f.offset] = RightsByte(f, arm, disarm);
}

void FieldRights(const Field& f, const ConfigImage& image, unsigned& arm, unsigned& disarm) {
  const uint8_t b = image[f.offset];
  arm = f.arm_high ? b >> 4 : b & 0x0F;
  disarm = f.arm_high ? b & 0x0F : b >> 4;
}

std::string KeyCodeDigits(const Field& f, const ConfigImage& image) {
  const std::span<const uint8_t> bytes = FieldBytes(f, image);
  const std::vector<uint8_t> highest_first(bytes.rbegin(), bytes.rend());
  return HexText(highest_first);
}

std::string RangeText(const Field& f) {
  const int limit = f.max >= 0 ? f.max : static_cast<int>(Capacity(f));
  std::string text = "от 0 до " + std::to_string(limit);
  if (!f.unit.empty()) text += " (" + std::string(f.unit) + ")";
  return text;
}

bool StoreNumber(const Field& f, ConfigImage& image, int64_t value, std::string& why) {
  const int64_t limit = f.max >= 0 ? f.max : Capacity(f);
  if (value < 0 || value > limit) {
    why = "нужно число " + RangeText(f);
    return false;
  }
  // The value's bits, and the bits the field clears (those below the board address) as 0.
  SetRawBits(f, image, static_cast<unsigned>(value) << (f.shift - RawShift(f)));
  return true;
}

bool StoreTextBytes(const Field& f, ConfigImage& image, std::string_view cp1251, std::string& why) {
  if (cp1251.find('\0') != std::string_view::npos) {
    why = "нулевой байт в тексте недопустим: он завершает текст";
    return false;
  }
  if (cp1251.size() > static_cast<size_t>(TextLimit(f))) {
    why = "текст длиннее " + std::to_string(TextLimit(f)) + " знаков";
    return false;
  }
  WriteText(f, image, cp1251);
  return true;
}

bool StoreTypedText(const Field& f, ConfigImage& image, std::string_view utf8, std::string& why) {
  std::string bytes;
  for (size_t pos = 0; pos < utf8.size();) {
    const size_t start = pos;
    const char32_t cp = NextCodePoint(utf8, pos);
    const std::optional<uint8_t> b =
        cp == kNotACodePoint || cp < 0x20 || cp == 0x7F ? std::nullopt : UnicodeToCp1251(cp);
    if (!b) {
      why = "знак «" + std::string(utf8.substr(start, pos - start)) +
            "» не входит в кодировку Windows-1251, которую хранит прибор";
      return false;
    }
    bytes.push_back(static_cast<char>(*b));
  }
  return StoreTextBytes(f, image, bytes, why);
}

bool StorePhone(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  text = Trim(text);
  const std::string quoted = "«" + std::string(text) + "»";
  int digits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (!(c == '+' && i == 0) && c != ' ' && c != '-' && c != '(' && c != ')') {
      why = quoted + ": номер — это цифры, перед ними может стоять +";
      return false;
    }
  }
  if (!text.empty() && (digits == 0 || digits > directions::kPhoneDigits)) {
    why = quoted + ": в номере должно быть от 1 до " + std::to_string(directions::kPhoneDigits) +
          " цифр";
    return false;
  }
  const auto bytes = text.empty() ? kNoPhone : directions::PackPhone(text);
  std::copy(bytes.begin(), bytes.end(), image.bytes().begin() + f.offset);
  return true;
}

bool StoreIp(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  const auto octets = gprs::ParseIp(text);
  if (!octets) {
    why = "«" + std::string(Trim(text)) +
          "»: нужен IP-адрес вида 192.168.1.10 (четыре числа от 0 до 255 через точку)";
    return false;
  }
  std::copy(octets->begin(), octets->end(), image.bytes().begin() + f.offset);
  return true;
}

bool ListValueOf(const Field& f, std::string_view text, unsigned& value) {
  return ValueOfCaption(f, text, value);
}

std::string FieldRefusal(const Field& field, std::string_view why) {
  return "поле " + field.id + " (" + field.caption + "): " + std::string(why);
}

std::vector<uint8_t> ValueBits(int model, const ConfigImage& image, int extent) {
  // What a value determines is what its store sets whatever the bytes held before: stored over
  // all-zero and over all-one bytes, those bits agree, and every other bit keeps the base.
  ConfigImage zeros, ones;
  std::fill(ones.bytes().begin(), ones.bytes().end(), uint8_t{0xFF});
  std::string why;
  for (const Field& f : Fields(model)) {
    if (!InExtent(f, extent)) continue;
    const std::string text = FieldText(f, image);
    StoreFieldText(f, zeros, text, why);
    StoreFieldText(f, ones, text, why);
  }
  std::vector<uint8_t> bits(static_cast<size_t>(std::max(extent, 0)));
  for (int i = 0; i < extent; ++i)
    bits[static_cast<size_t>(i)] = static_cast<uint8_t>(~(zeros[i] ^ ones[i]));
  return bits;
}

}  // namespace lovar
