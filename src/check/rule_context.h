// What the built-in rules share: the configuration under check, its fields by id, the report
// directions of model 251 read once, and the way a finding is added. Internal to src/check.
#pragma once

#include <array>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "model/catalog.h"

namespace lovar::check {

// A report direction of model 251 as the rules see it.
struct Direction {
  int n = 0;               // 1 to 5
  bool phone_set = false;  // its number's type byte is not 0
  bool number = false;     // a number to call: the type byte set and at least one digit
  std::string digits;      // the number's digits
  std::array<unsigned, 4> routing{};  // per loop: 0 "не передавать" ... 4 "все кроме «Сработка»"
  unsigned filter = 0;  // events 1 to 16 as bits 0 to 15
  unsigned test = 0;    // the stored nibble
  unsigned protocol = 0;
  unsigned period = 0;
  bool listen = false;
  bool Routes(int loop) const { return routing[loop] >= 1 && routing[loop] <= 4; }
  // A routing value no entry of the list names: what the device makes of it is not known.
  bool RoutingUnknown(int loop) const { return routing[loop] > 4; }
  bool RoutesAny() const;
  // The entry of the protocol list the window shows, -1 for none (an empty box).
  int ProtocolShown() const;
  bool HasProtocol() const { return ProtocolShown() >= 0; }
  bool HasTest() const;
  // Something leaves over it: a number, a protocol, and at least one event marked on "Фильтр"
  // (by the filter nothing else is sent).
  bool Delivers() const { return number && HasProtocol() && filter != 0; }
  // Delivers to a monitoring station: "Contact ID" or "ОФM".
  bool ToStation() const;
};

// The protocol entries of a station's receiver: "ОФM", "Contact ID".
inline constexpr int kProtocolOfm = 2;
inline constexpr int kProtocolContactId = 3;

// Model 251 loop types, by the stored value.
inline constexpr unsigned kLoopEntry = 1;  // "Вход"
inline constexpr unsigned kLoopGuard = 2;  // "Охранный"
inline constexpr unsigned kLoopPanic = 4;  // "Тревожный"
inline constexpr unsigned kLoopFire = 5;   // "Пожарный"
inline constexpr unsigned kLoopTech = 6;   // "Технологический"
// "Резерв" (0 and 3) is a loop not in use; above 6 no entry of the list.
bool LoopInUse251(unsigned type);

class Context {
 public:
  Context(const CheckInput& input, std::vector<Finding>& out);

  int model() const { return model_; }
  // What the model has (model_setup.h); the check runs only on a known model.
  const ModelSetup& setup() const { return *setup_; }
  // The model's loops follow the M layout: their types ("Резерв" for none), siren, names.
  bool LoopsM() const { return setup_->layout == ImageLayout::M; }
  int firmware() const { return firmware_; }
  const CompanyRules* company() const { return company_; }
  const ConfigImage& image() const { return image_; }
  const ConfigImage* template_image() const { return template_; }

  // The field when the model has it and the configuration's bytes hold it; null otherwise.
  const Field* F(std::string_view id) const;
  // Whether the configuration's bytes hold the field (one of the model's).
  bool Holds(const Field& f) const { return InExtent(f, extent_); }
  // "loop" 2 ".type" -> "loop2.type".
  const Field* F(std::string_view head, int n, std::string_view tail) const;
  unsigned Bits(const Field* f) const { return f != nullptr ? FieldBits(*f, image_) : 0; }
  // The value as text; a list's caption without the blank some captions end in.
  std::string Text(const Field* f) const;

  // The M layout's five directions and loop types (model 251), read once.
  const std::array<Direction, 5>& directions() const;
  unsigned loop_type(int loop) const;  // loop 0 to 3
  // "ШС2 «Склад»" (the name when it has one), or "ШС2".
  std::string LoopLabel(int loop) const;

  // A finding of rule (its severity from the rule table); null fields are left out.
  void Add(std::string_view rule, std::string text, std::string hint,
           const std::vector<const Field*>& fields);
  // The same with a severity of its own (a rule whose severity depends on the configuration).
  void Add(std::string_view rule, Severity severity, std::string text, std::string hint,
           const std::vector<const Field*>& fields);

  // One cause, one finding: a rule that says a cause ("filter 3": direction 3's empty filter)
  // notes it, and a later rule that would say the same cause again stays silent. The rules
  // run errors first, so the error says it.
  void Said(const std::string& cause) { said_.insert(cause); }
  bool WasSaid(const std::string& cause) const { return said_.count(cause) != 0; }

  // The M layout: whether a direction delivers anything at all.
  bool AnyDelivers() const;

 private:
  int model_;
  const ModelSetup* setup_;
  const ConfigImage& image_;
  int extent_;
  int firmware_;
  const ConfigImage* template_;
  const CompanyRules* company_;
  std::vector<Finding>& out_;
  std::set<std::string> said_;
  mutable bool read_ = false;
  mutable std::array<Direction, 5> directions_{};
  mutable std::array<unsigned, 4> loop_types_{};
  void Read() const;
};

// «ШС1: Тип шлейфа»
std::string Name(const Field* f);
// «ШС1: Тип шлейфа» на странице «Параметры»
std::string Place(const Field* f);
// «Параметры передачи»
std::string PageName(const Field* f);
// The value in guillemets: «Охранный»; «» for an empty one.
std::string Quoted(std::string_view value);
// "1", "1 и 3", "1, 2 и 5".
std::string NumberList(const std::vector<int>& numbers);
// Loops by number (1 to 4): "ШС1", "ШС1 и ШС3".
std::string LoopList(const std::vector<int>& loops);

// "1", "1–3" (a run of three or more), "1, 2 и 5": rows or keys by number, ascending.
std::string RowList(const std::vector<int>& numbers);
// The value with its blanks at both ends taken off.
std::string_view Trimmed(std::string_view text);

// The rules, each adding its findings; in check.cpp's table.
void CompanyRulesNotLoaded(Context& c);
void NoReportingDirection(Context& c);
void LoopNotReported(Context& c);
void ObjectNumberFromTemplate(Context& c);
void LoopAlarmNotReported(Context& c);
void DirectionWithoutPhone(Context& c);
void DirectionDuplicate(Context& c);
void NoTestMessage(Context& c);
void ReserveLoopInUse(Context& c);
void PanicLoopSiren(Context& c);
void KeyErased(Context& c);
void DirectionFilterEmpty(Context& c);
void DirectionProtocolUnset(Context& c);
void PhoneMalformed(Context& c);
void TestPeriodZero(Context& c);
void AttemptsZero(Context& c);
void ListenTimeZero(Context& c);
void GprsIncomplete(Context& c);
void ObjectNumberEmpty(Context& c);
void EntryLoopWithoutDelay(Context& c);
void SirenTimeZero(Context& c);
void SounderTimeZero(Context& c);
void OutputTimeZero(Context& c);
void ValueOutsideList(Context& c);
void ValueOutOfRange(Context& c);
void KeyDuplicate(Context& c);
void KeyWithoutRights(Context& c);
void InstallerCodeEmpty(Context& c);
void CodeDuplicate(Context& c);
void CodeWithoutRights(Context& c);
void DuressWithoutCode(Context& c);
void CodeNotTypeable(Context& c);
void NoKeysOrCodes(Context& c);
void CodeFromTemplate(Context& c);

}  // namespace lovar::check
