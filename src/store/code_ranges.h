// The bytes of each model's image that hold user codes, key codes and passwords: what the
// office's masked images blank, what a purge of a removed site blanks for good. From the
// catalog, so that a field added there is guarded here.
//
// Threads: any (pure).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lovar {

struct Field;

// A user code, a key code or a password: never shown to the office, never searched.
bool SecretField(const Field& field);

struct CodeRange {
  int start = 0;
  int length = 0;
  std::string field;  // the catalog's id, "key1.code"
};

std::vector<CodeRange> CodeRanges(int model);

// The image with the model's code, key and password bytes set to 0 (those within its length).
void BlankCodes(int model, std::vector<uint8_t>& image);

}  // namespace lovar
