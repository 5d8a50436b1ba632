// Values that do nothing or that the window cannot show: a sounder or an output switched on for
// 0 seconds, a list value no entry names, a number above what the window takes.
#include <string>
#include <vector>

#include "check/rule_context.h"

namespace lovar::check {
namespace {

bool LoopInUse(const Context& c, int loop) {
  // Only the M layout has a type for a loop out of use.
  return !c.LoopsM() || LoopInUse251(c.loop_type(loop));
}

bool EndsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

// The firmware byte v as the window shows the version: v div 10 + 1, ".", v mod 10.
std::string VersionText(int v) {
  return std::to_string(v / 10 + 1) + "." + std::to_string(v % 10);
}

}  // namespace

void SounderTimeZero(Context& c) {
  const Field* time = c.F("sounder_time");
  if (time == nullptr || c.Bits(time) != 0) return;
  std::vector<int> loops;
  std::vector<const Field*> fields = {time};
  for (int l = 0; l < 4; ++l) {
    const Field* sounder = c.F("loop", l + 1, ".sounder");
    if (sounder == nullptr || c.Bits(sounder) == 0 || !LoopInUse(c, l)) continue;
    loops.push_back(l + 1);
    fields.push_back(sounder);
  }
  if (loops.empty()) return;
  c.Add("sounder-time-zero",
        std::string(loops.size() == 1 ? "Внутренний звуковой сигнал включает "
                                      : "Внутренний звуковой сигнал включают ") +
            LoopList(loops) + ", а в поле " + Place(time) + " стоит 0: сигнал не прозвучит.",
        "Задайте время сигнала в секундах или снимите отметки «Внутр. зв. сигн.» у шлейфов.",
        fields);
}

void PanicLoopSiren(Context& c) {
  constexpr unsigned kPanic250 = 1;   // models 250 and 252: "Тревожный"
  constexpr unsigned kSirenMode = 2;  // an output of models 250 and 252 in mode "Сирена"
  for (int l = 0; l < 4; ++l) {
    const Field* type = c.F("loop", l + 1, ".type");
    if (type == nullptr) continue;
    std::vector<const Field*> sirens;
    if (c.LoopsM()) {
      if (c.loop_type(l) != kLoopPanic) continue;
      const Field* siren = c.F("loop", l + 1, ".siren");
      if (c.Bits(siren) != 0) sirens.push_back(siren);
    } else {
      if (c.Bits(type) != kPanic250) continue;
      for (int o = 1; o <= 2; ++o) {
        const Field* drive = c.F("loop" + std::to_string(l + 1) + ".output", o, "");
        if (c.Bits(drive) != 0 && c.Bits(c.F("output", o, ".mode")) == kSirenMode)
          sirens.push_back(drive);
      }
    }
    if (sirens.empty()) continue;
    std::string places;
    for (const Field* f : sirens) places += (places.empty() ? "" : " и ") + Name(f);
    std::vector<const Field*> fields = sirens;
    fields.push_back(type);
    c.Add("panic-loop-siren",
          c.LoopLabel(l) + " — тревожный (" + Quoted(c.Text(type)) + "), а " +
              (sirens.size() == 1 ? "отметка " : "отметки ") + places + " на странице " +
              PageName(type) +
              (c.LoopsM() ? " включает сирену" : " включают выход в режиме «Сирена»") +
              ": сирена выдаст, что тревога подана. Тревожную кнопку ставят так, чтобы нападающий "
              "не заметил нажатия.",
          "Снимите " + std::string(sirens.size() == 1 ? "отметку " : "отметки ") + places +
              ", если кнопка должна быть тихой.",
          fields);
  }
}

void OutputTimeZero(Context& c) {
  for (int o = 1; o <= 2; ++o) {
    const Field* mode = c.F("output", o, ".mode");
    const Field* time = c.F("output", o, ".time");
    if (mode == nullptr || time == nullptr || c.Bits(time) != 0) continue;
    const unsigned m = c.Bits(mode);
    constexpr unsigned kSiren = 2, kOnDisarm = 3, kOnArm = 4;
    std::vector<const Field*> fields = {time, mode};
    std::string when;
    if (m == kSiren) {
      std::vector<int> loops;
      for (int l = 0; l < 4; ++l) {
        const Field* drive = c.F("loop" + std::to_string(l + 1) + ".output", o, "");
        if (c.Bits(drive) == 0) continue;
        loops.push_back(l + 1);
        fields.push_back(drive);
      }
      if (loops.empty()) continue;
      when = (loops.size() == 1 ? "его включает " : "его включают ") + LoopList(loops);
    } else if (m == kOnDisarm || m == kOnArm) {
      when = m == kOnDisarm ? "он включается при снятии" : "он включается при взятии";
    } else {
      continue;
    }
    c.Add("output-time-zero",
          "Вых." + std::to_string(o) + " — " + Quoted(c.Text(mode)) + ", " + when + ", а в поле " +
              Place(time) + " стоит 0: выход не включится.",
          "Задайте время выхода (для «Сирена» — в секундах, для включения на время — в 1/16 с).",
          fields);
  }
}

void ValueOutsideList(Context& c) {
  for (const Field& f : Fields(c.model())) {
    if (f.kind != FieldKind::List || !c.Holds(f)) continue;
    // The report protocol of models 250 and 252 shows its second entry for any value but 0; a
    // direction's protocol matters only where the direction sends, a rule of its own.
    if (!f.aliases.empty() || EndsWith(f.id, ".protocol")) continue;
    const unsigned v = FieldBits(f, c.image());
    const bool corrected =
        c.setup().lists_corrected && (EndsWith(f.id, ".type") || EndsWith(f.id, ".mode"));
    std::string text;
    if (!f.entries.empty()) {
      if (directions::TestEntry(static_cast<uint8_t>(v)) >= 0) continue;
    } else if (v < f.captions.size()) {
      // A loop type the device's firmware is too old for ("Охранный актив." before 2.0).
      const FirmwareLoopType late = c.setup().firmware_loop_type;
      if (late.type < 0 || !EndsWith(f.id, ".type") || v != static_cast<unsigned>(late.type) ||
          c.firmware() < 0 || c.firmware() >= late.from_firmware)
        continue;
      c.Add("value-outside-list",
            "В поле " + Place(&f) + " выбран " + Quoted(f.captions[v]) + ", а прибор версии " +
                VersionText(c.firmware()) +
                " такого типа не знает: окно предлагает его приборам с версии " +
                VersionText(late.from_firmware) + ".",
            "Выберите «Охранный», «Тревожный» или «Пожарный».", {&f});
      continue;
    }
    if (corrected) {
      text = "В поле " + Place(&f) + " хранится значение " + std::to_string(v) +
             ", которого нет в списке: окно покажет " + Quoted(f.captions.front()) +
             " и при записи сохранит его вместо этого значения.";
    } else {
      text = "В поле " + Place(&f) + " хранится значение " + std::to_string(v) +
             ", которого нет в списке: окно покажет пустое поле, а что сделает с ним УО, "
             "неизвестно.";
    }
    c.Add("value-outside-list", std::move(text), "Выберите значение из списка.", {&f});
  }
}

void ValueOutOfRange(Context& c) {
  for (const Field& f : Fields(c.model())) {
    if (f.kind != FieldKind::Number || f.max < 0 || !c.Holds(f)) continue;
    const unsigned v = FieldBits(f, c.image());
    if (v <= static_cast<unsigned>(f.max)) continue;
    c.Add("value-out-of-range",
          "В поле " + Place(&f) + " хранится " + std::to_string(v) + ", а окно принимает от 0 до " +
              std::to_string(f.max) + ".",
          "Введите число от 0 до " + std::to_string(f.max) + ".", {&f});
  }
}

}  // namespace lovar::check
