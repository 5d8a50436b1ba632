// Two configuration images of one model compared field by field: which named fields differ
// (with both values as text), and which differing bytes no differing value explains. Each side
// holds the first `extent` bytes of its image: a device the whole image, a model 251 file only
// 2048 bytes, so its keys are not compared with anything.
//
// Threads: pure functions.
#pragma once

#include <string>
#include <vector>

#include "model/catalog.h"
#include "model/config_image.h"

namespace lovar {

struct FieldDifference {
  const Field* field;
  std::string a;  // the value in A, as text
  std::string b;
};

struct ByteRange {
  int first;
  int last;
};

struct ImageDiff {
  int model = 0;
  int extent = 0;  // bytes compared, from offset 0: the shorter side's
  std::vector<FieldDifference> fields;  // in catalog order
  // Bytes that differ in bits no field's value sets: bytes no field covers, the bits a field
  // leaves alone, what follows a text's terminator when the texts are equal.
  std::vector<ByteRange> bytes;
  std::vector<const Field*> not_compared;  // fields beyond one side's bytes
  bool Equal() const { return fields.empty() && bytes.empty(); }
};

// Both images must be of `model`.
ImageDiff DiffImages(int model, const ConfigImage& a, int extent_a, const ConfigImage& b,
                     int extent_b);

// "250–255, 300" (an en dash between the ends of a range).
std::string RangesText(const std::vector<ByteRange>& ranges);

// The object number as the model's field holds it ("" where the model has none: 250, 252).
std::string ObjectNumber(int model, const ConfigImage& image);

}  // namespace lovar
