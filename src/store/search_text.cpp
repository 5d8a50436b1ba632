#include "store/search_text.h"

#include <algorithm>

#include "model/config_image.h"
#include "model/cp1251.h"
#include "store/code_ranges.h"

namespace lovar {
namespace {

char32_t Folded(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 32;
  if (c >= U'А' && c <= U'Я') return c + 32;
  if (c == U'Ё' || c == U'ё') return U'е';
  return c;
}

bool Blank(char32_t c) {
  return c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == 0xA0;
}

// A telephone number as typed: digits, with "+", "-", "(", ")" or "." among them.
bool PhoneLike(std::string_view word) {
  bool digit = false;
  for (const char c : word) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c != '+' && c != '-' && c != '(' && c != ')' && c != '.')
      return false;
  }
  return digit;
}

std::string Digits(std::string_view text) {
  std::string digits;
  for (const char c : text)
    if (c >= '0' && c <= '9') digits += c;
  return digits;
}

}  // namespace

std::string FoldedText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  bool blank = false;
  for (size_t pos = 0; pos < utf8.size();) {
    const char32_t c = NextCodePoint(utf8, pos);
    if (c == kNotACodePoint) continue;
    if (Blank(c)) {
      blank = !out.empty();
      continue;
    }
    if (blank) out += ' ';
    blank = false;
    AppendUtf8(out, Folded(c));
  }
  return out;
}

std::vector<std::string> SearchWords(std::string_view typed) {
  std::vector<std::string> words;
  const std::string folded = FoldedText(typed);
  size_t start = 0;
  while (start < folded.size()) {
    size_t end = folded.find(' ', start);
    if (end == std::string::npos) end = folded.size();
    std::string word = folded.substr(start, end - start);
    if (PhoneLike(word)) word = Digits(word);
    if (!word.empty() && std::find(words.begin(), words.end(), word) == words.end())
      words.push_back(std::move(word));
    start = end + 1;
  }
  return words;
}

std::string ImageSearchText(int model, std::span<const uint8_t> image) {
  ConfigImage config;
  const size_t extent = std::min(image.size(), config.bytes().size());
  std::copy_n(image.begin(), extent, config.bytes().begin());
  std::string text;
  for (const Field& f : Fields(model)) {
    if (SecretField(f) || !InExtent(f, static_cast<int>(extent))) continue;
    if (f.kind != FieldKind::Text && f.kind != FieldKind::Phone && f.kind != FieldKind::Ip)
      continue;
    std::string value = FieldText(f, config);
    if (f.kind == FieldKind::Phone) value = Digits(value);  // "+7916…" found by "7916…"
    const std::string folded = FoldedText(value);
    if (folded.empty()) continue;
    if (!text.empty()) text += '\n';
    text += folded;
  }
  return text;
}

std::string CardSearchText(const SiteCard& card) {
  std::string text;
  for (const std::string* field :
       {&card.name, &card.customer, &card.phones, &card.contract, &card.remark}) {
    const std::string folded = FoldedText(*field);
    if (folded.empty()) continue;
    if (!text.empty()) text += '\n';
    text += folded;
  }
  // Each telephone as digits alone, as a number is searched for.
  std::string phone;
  const auto flush = [&] {
    if (Digits(phone).size() >= 3) text += '\n' + Digits(phone);
    phone.clear();
  };
  for (const char c : card.phones) {
    if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '(' || c == ')' || c == ' ')
      phone += c;
    else
      flush();
  }
  flush();
  return text;
}

}  // namespace lovar
