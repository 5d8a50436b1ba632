#include "model/config_image.h"

#include <algorithm>

#include "model/cp1251.h"
#include "model/model_setup.h"

namespace lovar {

bool IsKnownModel(int model) {
  return FindModelSetup(model) != nullptr;
}

int ImageLength(int model) {
  const ModelSetup* setup = FindModelSetup(model);
  return setup != nullptr ? setup->image_length : 0;
}

void ConfigImage::SetBit(int offset, int bit, bool value) {
  const auto mask = static_cast<uint8_t>(1u << bit);
  uint8_t& b = bytes_[static_cast<size_t>(offset)];
  b = static_cast<uint8_t>(value ? (b | mask) : (b & ~mask));
}

void ConfigImage::SetBits(int offset, uint8_t mask, int shift, uint8_t value) {
  uint8_t& b = bytes_[static_cast<size_t>(offset)];
  b = static_cast<uint8_t>((b & ~mask) | ((value << shift) & mask));
}

std::string ConfigImage::Text(int offset, int width) const {
  // Clipped to the array so that a field near its end can never read past it.
  const int end = std::min(offset + width, kImageCapacity);
  std::string raw;
  for (int i = offset; i < end && bytes_[static_cast<size_t>(i)] != 0; ++i) {
    raw.push_back(static_cast<char>(bytes_[static_cast<size_t>(i)]));
  }
  return Cp1251ToUtf8(raw);
}

void ConfigImage::SetText(int offset, int width, std::string_view utf8) {
  std::string raw = Utf8ToCp1251(utf8);
  if (raw.size() > static_cast<size_t>(width)) raw.resize(static_cast<size_t>(width));
  const int room = kImageCapacity - offset;
  int i = 0;
  for (; i < static_cast<int>(raw.size()) && i < room; ++i) {
    bytes_[static_cast<size_t>(offset + i)] = static_cast<uint8_t>(raw[static_cast<size_t>(i)]);
  }
  if (i < width && i < room) bytes_[static_cast<size_t>(offset + i)] = 0;
}

}  // namespace lovar
