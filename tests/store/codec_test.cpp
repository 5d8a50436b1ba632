// How images are kept: their SHA-256 (the key they are kept once under) and their packing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/device_sim.h"
#include "store/image_pack.h"
#include "store/sha256.h"
#include "support/random_image.h"

namespace lovar {
namespace {

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

TEST(Sha256, KnownDigests) {
  EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex(Bytes("abc")),
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits the first padded block.
  EXPECT_EQ(Sha256Hex(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::vector<uint8_t>(1'000'000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(ImagePack, EveryImageComesBackByteForByte) {
  std::vector<std::vector<uint8_t>> images = {{}, {7}, {1, 1}, {1, 1, 1}};
  for (const size_t n : {129u, 130u, 131u, 260u, 4096u}) images.emplace_back(n, 0xFF);
  std::vector<uint8_t> alternating(300);
  for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = static_cast<uint8_t>(i % 2);
  images.push_back(alternating);
  for (const int model : {250, 251}) {
    const ConfigImage sample = SampleImage(model);
    images.emplace_back(sample.bytes().begin(), sample.bytes().begin() + ImageLength(model));
  }
  for (unsigned seed = 1; seed <= 20; ++seed) {
    const ConfigImage random = testing::RandomImage(seed, seed % 2 == 0);
    images.emplace_back(random.bytes().begin(), random.bytes().end());
  }
  for (const std::vector<uint8_t>& image : images) {
    SCOPED_TRACE(image.size());
    const PackedImage packed = PackImage(image);
    EXPECT_LE(packed.data.size(), image.size());
    std::vector<uint8_t> back;
    ASSERT_TRUE(UnpackImage(packed.codec, packed.data, image.size(), back));
    EXPECT_EQ(back, image);
  }
  // A device's image is mostly erased memory: model 251's 4096 bytes pack small.
  const ConfigImage sample = SampleImage(251);
  EXPECT_LT(PackRuns(sample.bytes()).size(), 1200u);
}

TEST(ImagePack, DamagedDataIsRefused) {
  const ConfigImage sample = SampleImage(251);
  const std::vector<uint8_t> packed = PackRuns(sample.bytes());
  std::vector<uint8_t> out;
  EXPECT_FALSE(UnpackRuns(packed, 4095, out));  // one byte more than promised
  EXPECT_FALSE(UnpackRuns(packed, 4097, out));  // one byte short
  EXPECT_FALSE(UnpackRuns(std::span(packed).first(packed.size() - 1), 4096, out));
  EXPECT_FALSE(UnpackRuns(std::vector<uint8_t>{5, 1, 2}, 6, out));  // literals cut off
  EXPECT_FALSE(UnpackRuns(std::vector<uint8_t>{200}, 75, out));     // a run without its byte
  EXPECT_FALSE(UnpackImage(kCodecPlain, std::vector<uint8_t>(10), 11, out));
  EXPECT_FALSE(UnpackImage(7, packed, 4096, out));  // a codec of a later program
}

}  // namespace
}  // namespace lovar
