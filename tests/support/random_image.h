// Images for the tests of the named fields: random bytes, and images whose every field holds a
// value the window could have typed.
#pragma once

#include <random>
#include <string>

#include "model/catalog.h"
#include "model/config_image.h"

namespace lovar::testing {

// Every byte random; `sparse` makes about two bytes in three zero, so texts end early and
// numbers are missing.
inline ConfigImage RandomImage(unsigned seed, bool sparse) {
  std::mt19937 random(seed);
  ConfigImage image;
  for (uint8_t& b : image.bytes()) {
    const auto v = static_cast<uint8_t>(random() & 0xFF);
    b = sparse && random() % 3 != 0 ? 0 : v;
  }
  return image;
}

// A plain value for the field, as an installer would type it (never the "#N" form).
inline std::string PlainValue(const Field& f, std::mt19937& random) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::string text;
  switch (f.kind) {
    case FieldKind::Number: {
      const int top = f.max >= 0 ? f.max : (f.mask >> f.shift);
      return std::to_string(pick(top + 1));
    }
    case FieldKind::List:
      return std::string(f.entries.empty() ? f.captions[static_cast<size_t>(pick(static_cast<int>(f.captions.size())))]
                                           : f.entries[static_cast<size_t>(pick(static_cast<int>(f.entries.size())))].caption);
    case FieldKind::Flag:
      return pick(2) ? "да" : "нет";
    case FieldKind::Text: {
      static const char* const kChars[] = {"a", "Z", "7", " ", "Ж", "ё", "-", "№"};
      for (int n = pick((f.max >= 0 ? f.max : f.width) + 1); n > 0; --n) text += kChars[pick(8)];
      return text;
    }
    case FieldKind::Phone:
      if (pick(4) == 0) return {};
      text = pick(2) ? "+" : "";
      for (int n = 1 + pick(14); n > 0; --n) text.push_back(static_cast<char>('0' + pick(10)));
      return text;
    case FieldKind::Ip:
      return std::to_string(pick(256)) + "." + std::to_string(pick(256)) + "." +
             std::to_string(pick(256)) + "." + std::to_string(pick(256));
    case FieldKind::KeyCode:
      if (pick(3) == 0) return {};
      for (int n = 2 * f.width; n > 0; --n) text.push_back("0123456789ABCDEF"[pick(16)]);
      return text;
    case FieldKind::CodeDigits:
      if (pick(3) == 0) return {};
      for (int n = 0; n < 4; ++n) text.push_back(static_cast<char>('1' + pick(9)));
      return text;
    case FieldKind::Rights: {
      std::string arm, disarm;
      for (int n = 1; n <= 4; ++n) {
        if (pick(2)) arm += (arm.empty() ? "" : ",") + std::to_string(n);
        if (pick(2)) disarm += (disarm.empty() ? "" : ",") + std::to_string(n);
      }
      if (!arm.empty()) text = "взятие " + arm;
      if (!disarm.empty()) text += (text.empty() ? "" : "; ") + std::string("снятие ") + disarm;
      return text;
    }
  }
  return text;
}

// Sparse random bytes, then a plain value in every field of the model.
inline ConfigImage PlausibleImage(int model, unsigned seed) {
  std::mt19937 random(seed * 7919u + 1u);
  ConfigImage image = RandomImage(seed, true);
  std::string why;
  for (const Field& f : Fields(model)) StoreFieldText(f, image, PlainValue(f, random), why);
  return image;
}

// The three kinds in turn by seed: values the window could have typed, sparse and dense bytes.
inline ConfigImage AnyImage(int model, unsigned seed) {
  return seed % 3 == 0   ? PlausibleImage(model, seed)
         : seed % 3 == 1 ? RandomImage(seed, true)
                         : RandomImage(seed, false);
}

}  // namespace lovar::testing
