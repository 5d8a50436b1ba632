// Who can arm and disarm the site: the keys, the user codes of model 250, and codes a batch row
// left as its template's.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "check/rule_context.h"

namespace lovar::check {
namespace {

constexpr int kKeys = keys::kCount;
constexpr int kCodes = codes::kCount;

// "Ключ 3 («Сидоров»)" or "Ключ 3".
std::string KeyLabel(const Context& c, int k) {
  std::string label = "Ключ " + std::to_string(k);
  const std::string name = c.Text(c.F("key", k, ".name"));
  if (!name.empty()) label += " (" + Quoted(name) + ")";
  return label;
}

// A key code of bytes 0xFF only: erased memory, not a key anyone holds.
bool Erased(const Context& c, int k) {
  const Field* code = c.F("key", k, ".code");
  if (code == nullptr) return false;
  for (uint8_t b : FieldBytes(*code, c.image()))
    if (b != 0xFF) return false;
  return true;
}

// A row that holds a key: a code set, and not erased memory.
bool Learnt(const Context& c, int k) {
  return !c.Text(c.F("key", k, ".code")).empty() && !Erased(c, k);
}

bool HasKey(const Context& c) {
  for (int k = 1; k <= kKeys; ++k)
    if (Learnt(c, k)) return true;
  return false;
}

// Groups of fields holding the same non-empty value, in the order of their first field.
std::vector<std::vector<const Field*>> SameValues(const Context& c,
                                                  const std::vector<const Field*>& fields) {
  std::map<std::string, size_t> group_of;
  std::vector<std::vector<const Field*>> groups;
  for (const Field* f : fields) {
    const std::string value = c.Text(f);
    if (value.empty()) continue;
    const auto [at, added] = group_of.emplace(value, groups.size());
    if (added) groups.emplace_back();
    groups[at->second].push_back(f);
  }
  std::erase_if(groups, [](const auto& g) { return g.size() < 2; });
  return groups;
}

std::string Names(const std::vector<const Field*>& fields) {
  std::string text;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += i + 1 == fields.size() ? " и " : ", ";
    text += Name(fields[i]);
  }
  return text;
}

}  // namespace

void KeyErased(Context& c) {
  std::vector<int> rows;
  std::vector<const Field*> fields;
  for (int k = 1; k <= kKeys; ++k) {
    if (!Erased(c, k)) continue;
    rows.push_back(k);
    fields.push_back(c.F("key", k, ".code"));
  }
  if (rows.empty()) return;
  const std::string code = c.Text(fields.front());
  c.Add("key-erased",
        std::string(rows.size() == 1 ? "Ключ " : "Ключи ") + RowList(rows) +
            " на странице «Ключи»: код " + code +
            " — так выглядит стёртая память, а не считанный ключ; прибор может принять " +
            (rows.size() == 1 ? "эту строку за ключ." : "эти строки за ключи."),
        "Удалите эти строки («Удалить») или считайте в них ключи («Считать ключ»).", fields);
}

void KeyDuplicate(Context& c) {
  std::vector<const Field*> codes;
  // Erased rows are said once, by the rule above.
  for (int k = 1; k <= kKeys; ++k) codes.push_back(Erased(c, k) ? nullptr : c.F("key", k, ".code"));
  for (const auto& group : SameValues(c, codes)) {
    std::vector<int> rows;
    for (const Field* f : group) {  // key k's code is the k-th of the list
      const auto k = std::find(codes.begin(), codes.end(), f) - codes.begin() + 1;
      rows.push_back(static_cast<int>(k));
    }
    c.Add("key-duplicate",
          "Ключи " + NumberList(rows) + " на странице «Ключи» имеют один код (" +
              c.Text(group.front()) + "): один и тот же ключ записан дважды.",
          "Удалите лишнюю строку («Удалить») или считайте в неё другой ключ.", group);
  }
}

void KeyWithoutRights(Context& c) {
  for (int k = 1; k <= kKeys; ++k) {
    const Field* code = c.F("key", k, ".code");
    const Field* rights = c.F("key", k, ".rights");
    if (rights == nullptr || !Learnt(c, k) || !c.Text(rights).empty()) continue;
    c.Add("key-without-rights",
          KeyLabel(c, k) +
              " на странице «Ключи» считан, но у него не отмечено ни одно право «Взятие ШС» или "
              "«Снятие ШС»: им нельзя ни взять, ни снять охрану.",
          "Отметьте шлейфы, которые этот ключ берёт и снимает, или удалите ключ.", {rights, code});
  }
}

void InstallerCodeEmpty(Context& c) {
  const Field* code = c.F("code1.code");
  if (code == nullptr || !c.Text(code).empty()) return;
  c.Add("installer-code-empty",
        "Код установщика (поле " + Place(code) +
            ") не задан; он же пароль страниц окна, и без него их откроет любой.",
        "Введите четыре цифры в первую строку таблицы кодов.", {code});
}

void CodeDuplicate(Context& c) {
  std::vector<const Field*> fields;
  for (int r = 1; r <= kCodes; ++r) {
    fields.push_back(c.F("code", r, ".code"));
    fields.push_back(c.F("code", r, ".duress"));
  }
  std::erase(fields, nullptr);
  for (const auto& group : SameValues(c, fields))
    c.Add("code-duplicate",
          "Код " + c.Text(group.front()) + " стоит на странице «Коды» в нескольких местах: " +
              Names(group) + ". УО не различит, чей это код и не набран ли он под принуждением.",
          "Задайте в каждой строке свой код.", group);
}

void CodeWithoutRights(Context& c) {
  // The first row is the installer's code, which programs the device rather than arms it.
  for (int r = 2; r <= kCodes; ++r) {
    const Field* code = c.F("code", r, ".code");
    const Field* rights = c.F("code", r, ".rights");
    if (code == nullptr || c.Text(code).empty() || !c.Text(rights).empty()) continue;
    c.Add("code-without-rights",
          "Код в поле " + Place(code) +
              " задан, но в его строке не отмечено ни одно право «Взятие» или «Снятие»: им нельзя "
              "ни взять, ни снять охрану.",
          "Отметьте шлейфы, которые этот код берёт и снимает, или удалите код.", {rights, code});
  }
}

void DuressWithoutCode(Context& c) {
  for (int r = 2; r <= kCodes; ++r) {
    const Field* code = c.F("code", r, ".code");
    const Field* duress = c.F("code", r, ".duress");
    if (duress == nullptr || c.Text(duress).empty() || !c.Text(code).empty()) continue;
    c.Add("duress-without-code",
          "Код принуждения в поле " + Place(duress) + " задан, а поле " + Name(code) +
              " пусто: код принуждения без кода пользователя.",
          "Введите код пользователя в этой строке или удалите код принуждения.", {code, duress});
  }
}

void CodeNotTypeable(Context& c) {
  for (int r = 1; r <= kCodes; ++r) {
    for (const Field* f : {c.F("code", r, ".code"), c.F("code", r, ".duress")}) {
      const std::string value = c.Text(f);
      bool digits = true;
      for (char ch : value) digits = digits && ch >= '0' && ch <= '9';
      if (digits) continue;
      c.Add("code-not-typeable",
            "В поле " + Place(f) + " хранится «" + value +
                "»: на клавиатуре только цифры 0–9, такой код не набрать.",
            "Введите код из четырёх цифр.", {f});
    }
  }
}

void NoKeysOrCodes(Context& c) {
  if (HasKey(c)) return;
  const Field* key = c.F("key1.code");
  if (key == nullptr) return;  // keys beyond what the configuration holds
  if (c.setup().Has(FieldPage::Codes)) {
    for (int r = 2; r <= kCodes; ++r)
      if (!c.Text(c.F("code", r, ".code")).empty()) return;
    c.Add("no-keys-or-codes",
          "Нет ни одного ключа на странице «Ключи» и ни одного кода пользователя на странице "
          "«Коды»: на объекте нечем взять и снять охрану.",
          "Считайте ключи или введите коды пользователей с правами взятия и снятия.",
          {key, c.F("code2.code")});
    return;
  }
  c.Add("no-keys-or-codes",
        "Нет ни одного ключа на странице «Ключи»: на объекте нечем взять и снять охрану.",
        "Считайте ключи пользователей («Считать ключ»).", {key});
}

void CodeFromTemplate(Context& c) {
  const ConfigImage* templ = c.template_image();
  if (templ == nullptr) return;
  std::vector<const Field*> fields = {c.F("password")};
  // The installer's code may well be the company's for every site; the users' are each site's.
  for (int r = 2; r <= kCodes; ++r) {
    fields.push_back(c.F("code", r, ".code"));
    fields.push_back(c.F("code", r, ".duress"));
  }
  for (const Field* f : fields) {
    const std::string value = c.Text(f);
    if (value.empty() || value != FieldText(*f, *templ)) continue;
    c.Add("code-from-template",
          "В поле " + Place(f) + " — " + value +
              ", то же, что в шаблоне: у всех объектов, записанных с него, будет одно значение.",
          "Задайте этому объекту свой код (в плане — столбец " + f->id + ").", {f});
  }
}

}  // namespace lovar::check
