// The codecs of who may arm and disarm: the keys' codes (KeyCode), the user codes (CodeDigits)
// and the loops each may arm and disarm (Rights).
#include <algorithm>
#include <array>
#include <vector>

#include "model/catalog.h"
#include "model/catalog_codecs.h"

namespace lovar {
namespace {

using codec::HexDigit;
using codec::Quoted;
using codec::Trim;

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
    why = Quoted(text) + ": нужно «взятие 1,2; снятие 4» (ШС1–ШС4), или пусто";
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

namespace codec {

std::string KeyCodeValue(const Field& f, const ConfigImage& image) {
  const auto bytes = FieldBytes(f, image);
  const bool none = std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0; });
  return none ? std::string() : KeyCodeDigits(f, image);
}

bool StoreKeyCodeValue(const Field& f, ConfigImage& image, std::string_view text,
                       std::string& why) {
  const std::string_view trimmed = Trim(text);
  std::array<uint8_t, 8> parsed{};
  const auto span = std::span<uint8_t>(parsed).first(static_cast<size_t>(f.width));
  if (!trimmed.empty() && !ParseHexBytes(trimmed, span)) {
    why = Quoted(text) + ": код ключа — " + std::to_string(2 * f.width) +
          " шестнадцатеричных цифр, или пусто";
    return false;
  }
  // The first pair of digits is the byte at the highest offset.
  for (int i = 0; i < f.width; ++i)
    image[f.offset + f.width - 1 - i] = parsed[static_cast<size_t>(i)];
  return true;
}

std::string CodeDigitsValue(const Field& f, const ConfigImage& image) {
  const uint8_t first = image[f.offset], second = image[f.offset + 1];
  if (first == 0 && second == 0) return {};
  std::string out;
  for (uint8_t b : {first, second}) {
    out.push_back(kHexDigits[b & 0x0F]);
    out.push_back(kHexDigits[b >> 4]);
  }
  return out;
}

bool StoreCodeDigitsValue(const Field& f, ConfigImage& image, std::string_view text,
                          std::string& why) {
  const std::string_view trimmed = Trim(text);
  uint8_t nibble[4] = {};
  bool ok = trimmed.empty() || trimmed.size() == 4;
  for (size_t i = 0; ok && i < trimmed.size(); ++i) {
    const int v = HexDigit(trimmed[i]);
    ok = v >= 0;
    nibble[i] = static_cast<uint8_t>(v);
  }
  if (!ok) {
    why = Quoted(text) + ": код — четыре цифры, или пусто";
    return false;
  }
  image[f.offset] = static_cast<uint8_t>(nibble[0] | (nibble[1] << 4));
  image[f.offset + 1] = static_cast<uint8_t>(nibble[2] | (nibble[3] << 4));
  return true;
}

std::string RightsValue(const Field& f, const ConfigImage& image) {
  unsigned arm = 0, disarm = 0;
  FieldRights(f, image, arm, disarm);
  std::string out;
  if (arm != 0) out = std::string(kArm) + " " + LoopList(arm);
  if (disarm != 0) out += (out.empty() ? "" : "; ") + std::string(kDisarm) + " " + LoopList(disarm);
  return out;
}

bool StoreRightsValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  uint8_t byte = 0;
  if (!ParseRights(f, text, byte, why)) return false;
  image[f.offset] = byte;
  return true;
}

}  // namespace codec

std::string KeyCodeDigits(const Field& f, const ConfigImage& image) {
  const std::span<const uint8_t> bytes = FieldBytes(f, image);
  const std::vector<uint8_t> highest_first(bytes.rbegin(), bytes.rend());
  return HexText(highest_first);
}

void StoreRights(const Field& f, ConfigImage& image, unsigned arm, unsigned disarm) {
  image[f.offset] = RightsByte(f, arm, disarm);
}

void FieldRights(const Field& f, const ConfigImage& image, unsigned& arm, unsigned& disarm) {
  const uint8_t b = image[f.offset];
  arm = f.arm_high ? b >> 4 : b & 0x0F;
  disarm = f.arm_high ? b & 0x0F : b >> 4;
}

}  // namespace lovar
