// Fuzzes the configuration file loader: arbitrary bytes as a file for each model. A refused
// file must leave the image exactly as it was; an accepted one must fill only the bytes a file
// of its model holds, with the bytes that follow its header.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "files/config_file.h"

namespace {

using namespace lovar;

ConfigImage Background() {
  ConfigImage image;
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 13 + 5);
  return image;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const ConfigImage background = Background();
  const std::span<const uint8_t> bytes(data, size);
  for (int model : {250, 251, 252}) {
    ConfigImage image = background;
    const FileResult result = ParseConfigFile(bytes, model, image);
    Check(!DescribeError(result).empty() == !result.ok());
    if (!result.ok()) {
      Check(image == background);
      Check(!MessageFor(result).caption.empty());
      continue;
    }
    const size_t header = data[0];
    const int length = FileImageLength(model);
    Check(header >= 2 && header <= 200 && data[1] == model);
    Check(size >= header + static_cast<size_t>(length));
    for (int i = 0; i < kImageCapacity; ++i) {
      Check(image[i] == (i < length ? data[header + static_cast<size_t>(i)] : background[i]));
    }
  }
  return 0;
}
