#include "model/image_baselines.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace lovar {
namespace {

// The window's image and what it knows of the device and the file, as the window drives them.
struct Window {
  int length;
  int file_bytes;
  ConfigImage image;
  ConfigImage device;  // what the simulated device holds
  ImageBaselines baselines;

  explicit Window(int model) : length(ImageLength(model)), file_bytes(model == 251 ? 2048 : 256) {
    for (int i = 0; i < kImageCapacity; ++i) device[i] = static_cast<uint8_t>(i * 3 + 1);
    baselines.LetGo(image);
  }
  void Read() {
    image = device;
    baselines.DeviceHolds(image);
  }
  void Edit(int offset) { image[offset] = static_cast<uint8_t>(image[offset] + 1); }
  void WriteVerified() {
    device = image;
    baselines.DeviceWritten(image, 0, length);
  }
  void WriteFailed() {
    for (int i = 0; i < length / 2; ++i) device[i] = image[i];
    baselines.DeviceUnknown();
  }
  void Save() { baselines.FileHolds(image, file_bytes); }
  void Load(const ConfigImage& file) {
    std::copy_n(file.bytes().begin(), file_bytes, image.bytes().begin());
    baselines.FileHolds(image, file_bytes);
  }
  void ReadEndedEarly(int offset) {
    std::copy_n(device.bytes().begin(), offset, image.bytes().begin());
    baselines.LetGo(image);
  }
  bool WouldLose() const { return baselines.WouldLose(image, length); }
};

// The question before a read, a load or closing comes exactly when something would be lost.
TEST(ImageBaselines, ChangesAreLostExactlyWhenNeitherTheDeviceNorAFileHoldsThem) {
  struct Row {
    const char* name;
    int model;
    std::function<void(Window&)> steps;
    bool would_lose;
  };
  ConfigImage other_file;
  for (int i = 0; i < kImageCapacity; ++i) other_file[i] = static_cast<uint8_t>(i ^ 0x5A);
  const std::vector<Row> rows = {
      {"nothing read yet", 250, [](Window&) {}, false},
      {"read", 250, [](Window& w) { w.Read(); }, false},
      {"read, edit", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
       },
       true},
      {"read, edit, edit back", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
         w.image[104] = w.device[104];
       },
       false},
      {"read, edit, save", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
         w.Save();
       },
       false},
      {"read, edit, save, edit", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
         w.Save();
         w.Edit(105);
       },
       true},
      {"read, edit, write verified", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
         w.WriteVerified();
       },
       false},
      {"read, edit, write failed", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
         w.WriteFailed();
       },
       true},
      {"read, write failed: the device holds a mix", 250,
       [](Window& w) {
         w.Read();
         w.WriteFailed();
       },
       true},
      {"read, edit, save, write failed: the file holds it", 250,
       [](Window& w) {
         w.Read();
         w.Edit(104);
         w.Save();
         w.WriteFailed();
       },
       false},
      {"load", 250, [&](Window& w) { w.Load(other_file); }, false},
      {"load, edit", 250,
       [&](Window& w) {
         w.Load(other_file);
         w.Edit(3);
       },
       true},
      {"load, edit, write verified", 250,
       [&](Window& w) {
         w.Load(other_file);
         w.Edit(3);
         w.WriteVerified();
       },
       false},
      {"read, load, read again: the device's own", 250,
       [&](Window& w) {
         w.Read();
         w.Load(other_file);
         w.Read();
       },
       false},
      {"read ended early", 251, [](Window& w) { w.ReadEndedEarly(800); }, false},
      {"read ended early, edit", 251,
       [](Window& w) {
         w.ReadEndedEarly(800);
         w.Edit(10);
       },
       true},
      // A model 251 file holds no keys: they are kept only while the device holds them.
      {"251: read, edit a key, save", 251,
       [](Window& w) {
         w.Read();
         w.Edit(3600);
         w.Save();
       },
       true},
      {"251: read, edit, save", 251,
       [](Window& w) {
         w.Read();
         w.Edit(10);
         w.Save();
       },
       false},
      {"251: read, load: the keys are the device's", 251,
       [&](Window& w) {
         w.Read();
         w.Load(other_file);
       },
       false},
      {"251: read, load, edit a key", 251,
       [&](Window& w) {
         w.Read();
         w.Load(other_file);
         w.Edit(3600);
       },
       true},
      {"251: load alone, then the keys as they were", 251, [&](Window& w) { w.Load(other_file); },
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Window w(row.model);
    row.steps(w);
    EXPECT_EQ(w.WouldLose(), row.would_lose);
  }
}

// Model 252 writes from byte 100: what lies below stays as the device held it.
TEST(ImageBaselines, AWriteFromAnOffsetKeepsWhatTheDeviceHeldBelowIt) {
  ConfigImage image, sent;
  image[5] = 1;
  ImageBaselines b;
  b.DeviceHolds(image);
  sent = image;
  sent[5] = 9;  // never written: below the write's start
  sent[150] = 7;
  b.DeviceWritten(sent, 100, 256);
  ConfigImage shown = image;
  shown[150] = 7;
  EXPECT_FALSE(b.WouldLose(shown, 256));
  EXPECT_TRUE(b.WouldLose(sent, 256));
}

// The bytes a write sends as 0 and a display's corrections are no changes of the installer's.
TEST(ImageBaselines, AbsorbedChangesAreMadeInTheBaselinesThatHeldTheOldByte) {
  ConfigImage file;
  file[128] = 0x33;
  file[100] = 7;
  ImageBaselines b;
  b.FileHolds(file, 256);
  ConfigImage image = file;
  image[128] = 0;
  image[100] = 0;
  EXPECT_TRUE(b.WouldLose(image, 256));
  b.Absorb(file, image, 256);
  EXPECT_FALSE(b.WouldLose(image, 256));
}

}  // namespace
}  // namespace lovar
