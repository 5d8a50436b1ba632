// The codec of Text fields: Windows-1251 characters up to a zero byte, a byte that is no
// printable character (or lies past what the window takes) as \xNN.
#include <algorithm>
#include <array>

#include "model/catalog.h"
#include "model/catalog_codecs.h"
#include "model/cp1251.h"

namespace lovar {
namespace {

using codec::HexDigit;

// The characters the window takes; a device may hold more (up to the width), written as \xNN.
int TextLimit(const Field& f) {
  return f.max >= 0 ? std::min(f.max, f.width) : f.width;
}

bool Printable(uint8_t byte) {
  return byte >= 0x20 && byte != 0x7F && byte != 0x98;
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

}  // namespace

namespace codec {

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

bool StoreTextValue(const Field& f, ConfigImage& image, std::string_view text, std::string& why) {
  std::string bytes;
  if (!ParseText(f, text, bytes, why)) return false;
  WriteText(f, image, bytes);
  return true;
}

}  // namespace codec

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

}  // namespace lovar
