// End to end: lovar-cli writes only the blocks that differ from the device's image read before
// the write, then reads the whole range back — counted in lovar-sim's log of requests, with a
// lost block, and with a changed block's offset damaged on the line (through a relay).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "processes.h"
#include "relay.h"
#include "sim/device_sim.h"

namespace lovar::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

std::string FileOf(const std::string& name, int model, const ConfigImage& image) {
  const std::string path = TempPath(name);
  const Bytes bytes = SerializeConfigFile(model, image);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

int Requests(const SimProcess& sim, int command) {
  const std::string log = sim.Log();
  const std::string mark = " " + std::to_string(command) + " seq ";
  int n = 0;
  for (size_t at = log.find(mark); at != std::string::npos; at = log.find(mark, at + 1)) ++n;
  return n;
}

// The simulator's saved image holds the file's bytes.
void ExpectSaved(const std::string& saved, const ConfigImage& image, int model) {
  std::ifstream in(saved, std::ios::binary);
  const Bytes device((std::istreambuf_iterator<char>(in)), {});
  ASSERT_EQ(device.size(), static_cast<size_t>(100 + FileImageLength(model)));
  for (int i = 0; i < FileImageLength(model); ++i) {
    const bool zeroed = model != 251 && i >= 127 && i <= 130;
    ASSERT_EQ(device[100 + static_cast<size_t>(i)], zeroed ? 0 : image[i]) << i;
  }
}

// A model 251 file (half the image) changed in one telephone number: the read before the write
// gives the rest and what the device holds, one block goes out, the whole range comes back.
// The same file again sends nothing; --full sends every block.
TEST(FastWrite, OnlyTheChangedBlockGoesOutAndTheWholeRangeIsReadBack) {
  const OwnRegistry registry("fast-write");
  ConfigImage image = SampleImage(251);
  image[40] ^= 0x11;
  const std::string file = FileOf("fast-251.dat", 251, image);
  const std::string saved = TempPath("fast-251-saved.dat");
  {
    SimProcess sim({"--model", "251", "--save", saved}, /*log=*/true);
    RunResult r = RunCli({"write", "--port", sim.port(), file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Конфигурация записана в УО (записано изменённых блоков: 1 из 256)"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Requests(sim, 202), 1);
    EXPECT_EQ(Requests(sim, 200), 2 * 512);  // the read before, the whole read-back

    r = RunCli({"write", "--port", sim.port(), file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Изменений нет: конфигурация в УО та же, в УО ничего не записано"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(Requests(sim, 202), 1);

    // --full: every block of the file; the keys beyond it are the device's, only read back.
    r = RunCli({"write", "--port", sim.port(), file, "--full"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("\nКонфигурация записана в УО\n"), std::string::npos) << r.out;
    EXPECT_EQ(Requests(sim, 202), 1 + 128);
    EXPECT_EQ(sim.Stop(), 0);
  }
  ExpectSaved(saved, image, 251);
}

// Model 250 without --archive: nothing was read before the write, so every block goes out.
TEST(FastWrite, WriteWithoutAPriorReadSendsTheWholeImage) {
  const OwnRegistry registry("fast-write");
  ConfigImage image = SampleImage(250);
  image[40] ^= 0x11;
  const std::string file = FileOf("fast-250.dat", 250, image);
  SimProcess sim({"--model", "250"}, /*log=*/true);
  RunResult r = RunCli({"write", "--port", sim.port(), file});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Requests(sim, 202), 16);
  r = RunCli({"write", "--port", sim.port(), file, "--archive", TempPath("fast-250-archive")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Requests(sim, 202), 16);  // --archive reads first: the device already holds it
  EXPECT_NE(r.out.find("Изменений нет"), std::string::npos) << r.out;
}

// The changed block is acknowledged but not kept: the read-back finds it and writes it again.
TEST(FastWrite, ChangedBlockTheDeviceDidNotKeepIsRepaired) {
  const OwnRegistry registry("fast-write");
  ConfigImage image = SampleImage(251);
  image[40] ^= 0x11;
  const std::string file = FileOf("fast-lost.dat", 251, image);
  const std::string saved = TempPath("fast-lost-saved.dat");
  {
    // 1 and 2 the identification, 3 to 514 the read before the write, 515 the block.
    SimProcess sim({"--model", "251", "--save", saved, "--no-store", "515"});
    const RunResult r = RunCli({"write", "--port", sim.port(), file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("(блоков записано повторно: 1)"), std::string::npos) << r.out;
    EXPECT_EQ(sim.Stop(), 0);
  }
  ExpectSaved(saved, image, 251);
}

// The changed block's offset is damaged on the line (its CRC made good again): the device keeps
// it one block further on, over bytes nobody changed. Only the whole read-back finds both.
TEST(FastWrite, DamagedOffsetOfAChangedBlockIsCaughtByTheWholeReadBack) {
  const OwnRegistry registry("fast-write");
  ConfigImage image = SampleImage(251);
  image[40] ^= 0x11;  // block 32; its offset damaged to 48
  const std::string file = FileOf("fast-relay.dat", 251, image);
  const std::string saved = TempPath("fast-relay-saved.dat");
  {
    SimProcess sim({"--model", "251", "--save", saved});
    FrameRelay relay(sim.port(), Damage{.first = 1, .from_first_write = true});
    const RunResult r = RunCli({"write", "--port", relay.port(), file});
    EXPECT_EQ(relay.damaged(), 1);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("(блоков записано повторно: 2)"), std::string::npos) << r.out;
    EXPECT_EQ(sim.Stop(), 0);
  }
  ExpectSaved(saved, image, 251);
}

}  // namespace
}  // namespace lovar::e2e
