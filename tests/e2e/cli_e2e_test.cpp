// End to end: the real lovar-cli (TCport on a real pseudo-terminal) against the real lovar-sim
// process, for each model, with every fault the simulator injects, and real files.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "files/config_file.h"
#include "processes.h"
#include "protocol/exchange.h"
#include "serial/event_loop.h"
#include "serial/tcport.h"
#include "sim/device_sim.h"

namespace lovar::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::string Model(int model) {
  return std::to_string(model);
}

// The image part of a saved file equals the simulator's sample image.
void ExpectFileHoldsSample(const std::string& path, int model) {
  const Bytes file = ReadFile(path);
  const int length = FileImageLength(model);
  ASSERT_EQ(file.size(), static_cast<size_t>(100 + length));
  EXPECT_EQ(file[0], 100);
  EXPECT_EQ(file[1], model);
  const ConfigImage sample = SampleImage(model);
  for (int i = 0; i < length; ++i) ASSERT_EQ(file[100 + static_cast<size_t>(i)], sample[i]) << i;
}

struct ModelCase {
  int model;
  const char* line;
};

class EachModel : public testing::TestWithParam<ModelCase> {};

TEST_P(EachModel, IdentifyPrintsTheDeviceLine) {
  SimProcess sim({"--model", Model(GetParam().model), "--firmware", "12"});
  const RunResult r = RunCli({"identify", "--port", sim.port()});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, std::string(GetParam().line) + "\n");
}

TEST_P(EachModel, ReadSavesTheWholeConfiguration) {
  const int model = GetParam().model;
  SimProcess sim({"--model", Model(model)});
  const std::string out = TempPath("read-" + Model(model) + ".dat");
  const RunResult r = RunCli({"read", "--port", sim.port(), "--out", out});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find(GetParam().line), std::string::npos);
  ExpectFileHoldsSample(out, model);
}

TEST_P(EachModel, WriteWithVerifyPutsTheFileIntoTheDevice) {
  const int model = GetParam().model;
  ConfigImage image = SampleImage(model);
  for (int i = 100; i < 120; ++i) image[i] = static_cast<uint8_t>(image[i] ^ 0x01);
  const std::string file = TempPath("write-" + Model(model) + ".dat");
  WriteFile(file, SerializeConfigFile(model, image));
  const std::string saved = TempPath("sim-after-write-" + Model(model) + ".dat");
  {
    SimProcess sim({"--model", Model(model), "--save", saved});
    const RunResult r = RunCli({"write", "--port", sim.port(), file, "--verify"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Сверка: совпадает"), std::string::npos);
    EXPECT_EQ(sim.Stop(), 0);
  }
  const Bytes device = ReadFile(saved);
  ASSERT_EQ(device.size(), static_cast<size_t>(100 + FileImageLength(model)));
  const ConfigImage sample = SampleImage(model);
  for (int i = 0; i < FileImageLength(model); ++i) {
    uint8_t expected = image[i];
    if (model == 252 && i < 100) expected = sample[i];  // never written to a model 252
    if (model != 251 && i >= 127 && i <= 130) expected = 0;
    ASSERT_EQ(device[100 + static_cast<size_t>(i)], expected) << i;
  }
}

TEST_P(EachModel, KeyPrintsTheKeyAndItsGridText) {
  SimProcess sim(
      {"--model", Model(GetParam().model), "--key-after", "2", "--key", "0123456789ABCDEF"});
  const RunResult r = RunCli({"key", "--port", sim.port()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Считан ключ: EFCDAB8967452301"), std::string::npos) << r.out;
  const char* grid = GetParam().model == 251 ? "EFCDAB8967452301" : "89674523";
  EXPECT_NE(r.out.find(std::string("В таблицу ключей: ") + grid), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Models, EachModel,
                         testing::Values(ModelCase{250, "Ловар-Т Версия 2.2"},
                                         ModelCase{251, "Ловар-М Версия 2.2"},
                                         ModelCase{252, "Ловар-Т2  Версия 2.2"}),
                         [](const auto& info) { return "Model" + Model(info.param.model); });

// Reads a device's whole image in-process through a real TCport.
class Reader : public ExchangeView {
 public:
  bool AskContinue() override { return false; }
  void ReadEnded(bool complete, bool) override { done = complete ? 1 : 2; }
  void AddDeviceLine(const std::string&) override { identified = true; }
  bool identified = false;
  int done = 0;
};

ConfigImage ReadWholeImage(const std::string& port_name) {
  EventLoop loop;
  TCport port(loop);
  port.SetBaudRate(9600);
  ConfigImage image;
  Reader view;
  Exchange engine(port, image, view);
  port.OnReceive = [&](const TMessageDevice& m) { engine.Cport1Receive(m); };
  port.SetNameDevice(port_name);
  EXPECT_TRUE(port.OpenDevice());
  engine.SendIdentification();
  EXPECT_TRUE(loop.RunUntil([&] { return view.identified; }, std::chrono::seconds(10)));
  loop.RunUntil([&] { return !engine.RequestOutstanding(); }, std::chrono::seconds(2));
  engine.ButtonReadClick();
  EXPECT_TRUE(loop.RunUntil([&] { return view.done != 0; }, std::chrono::seconds(60)));
  port.CloseDevice();
  return image;
}

TEST(Write, Model251FileLeavesTheDevicesKeysAndNamesBeyondTheFileAlone) {
  ConfigImage image;  // a file of zeros: nothing of it may reach the keys at 3584
  const std::string file = TempPath("keys-251.dat");
  WriteFile(file, SerializeConfigFile(251, image));
  SimProcess sim({"--model", "251"});
  const RunResult r = RunCli({"write", "--port", sim.port(), file, "--verify"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const ConfigImage device = ReadWholeImage(sim.port());
  const ConfigImage sample = SampleImage(251);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(device[i], 0) << i;
  for (int i = 2048; i < kImageCapacity; ++i) ASSERT_EQ(device[i], sample[i]) << i;
}

// ---- Faults: the read still brings the whole image, or fails with a clear line. ----

struct FaultCase {
  const char* name;
  std::vector<std::string> sim_args;
};

class ReadDespite : public testing::TestWithParam<std::tuple<int, FaultCase>> {};

TEST_P(ReadDespite, TheFaultAndSavesTheImage) {
  const auto& [model, fault] = GetParam();
  std::vector<std::string> args = {"--model", Model(model)};
  args.insert(args.end(), fault.sim_args.begin(), fault.sim_args.end());
  SimProcess sim(args);
  const std::string out = TempPath("fault-" + Model(model) + "-" + fault.name + ".dat");
  const RunResult r = RunCli({"read", "--port", sim.port(), "--out", out});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ExpectFileHoldsSample(out, model);
}

// Request 1 is the identification, 2 the 212, 3 the first read request.
INSTANTIATE_TEST_SUITE_P(
    Faults, ReadDespite,
    testing::Combine(testing::Values(250, 251, 252),
                     testing::Values(FaultCase{"DroppedReply", {"--drop", "5"}},
                                     FaultCase{"BadCrc", {"--bad-crc", "6"}},
                                     FaultCase{"Noise", {"--noise", "3/2"}},
                                     FaultCase{"SplitIntoBytes", {"--split"}},
                                     FaultCase{"SeveralFramesInOneWrite", {"--burst", "4/3"}},
                                     FaultCase{"DelayedPastTheQuestion", {"--delay", "7:1500"}},
                                     FaultCase{"Duplicated", {"--duplicate", "8/4"}},
                                     FaultCase{"WrongSequence", {"--wrong-seq", "9"}},
                                     FaultCase{"DroppedIdentification", {"--drop", "1"}})),
    [](const auto& info) {
      return "Model" + Model(std::get<0>(info.param)) + std::get<1>(info.param).name;
    });

TEST(Faults, HangUpMidReadEndsWithAClearMessage) {
  SimProcess sim({"--model", "251", "--hangup", "40"});
  const RunResult r = RunCli({"read", "--port", sim.port(), "--out", TempPath("hangup.dat")},
                             std::chrono::seconds(30));
  EXPECT_EQ(r.exit_code, 8) << r.err;
  EXPECT_NE(r.err.find("Связь с портом потеряна"), std::string::npos) << r.err;
}

TEST(Faults, SilentDeviceGivesUpAfterTheRetries) {
  SimProcess sim({"--model", "250", "--drop", "1/1"});
  const RunResult r = RunCli({"--retries", "1", "identify", "--port", sim.port()});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("Прибор не отвечает"), std::string::npos) << r.err;
}

TEST(Faults, WriteStoppedBeforeTheEndIsReported) {
  const std::string file = TempPath("stopped.dat");
  WriteFile(file, SerializeConfigFile(250, SampleImage(250)));
  SimProcess sim({"--model", "250", "--drop", "6/1"});
  const RunResult r = RunCli({"--retries", "0", "write", "--port", sim.port(), file});
  EXPECT_EQ(r.exit_code, 6) << r.err;
  EXPECT_NE(r.err.find("Запись прервана"), std::string::npos) << r.err;
}

// ---- Ports and files ----

TEST(Ports, MissingPortIsNamed) {
  const RunResult r = RunCli({"identify", "--port", "/dev/lovar-no-such-port"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("Порт не найден"), std::string::npos) << r.err;
}

TEST(Ports, PortHeldByAnotherProgramIsBusy) {
  SimProcess sim({"--model", "250"});
  EventLoop loop;
  TCport holder(loop);
  holder.SetNameDevice(sim.port());
  ASSERT_TRUE(holder.OpenDevice());
  const RunResult r = RunCli({"identify", "--port", sim.port()});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("Порт занят"), std::string::npos) << r.err;
  holder.CloseDevice();
  EXPECT_EQ(RunCli({"identify", "--port", sim.port()}).exit_code, 0);
}

TEST(Ports, ListCommandRuns) {
  const RunResult r = RunCli({"ports"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
}

TEST(Files, FileOfAnotherModelIsRefused) {
  const std::string file = TempPath("other-model.dat");
  WriteFile(file, SerializeConfigFile(251, SampleImage(251)));
  SimProcess sim({"--model", "250"});
  const RunResult r = RunCli({"write", "--port", sim.port(), file});
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_NE(r.err.find("Неверный тип УО"), std::string::npos) << r.err;
}

TEST(Files, DamagedFileIsRefusedAndNothingIsWritten) {
  Bytes bytes = SerializeConfigFile(250, SampleImage(250));
  bytes.resize(200);
  const std::string file = TempPath("damaged.dat");
  WriteFile(file, bytes);
  SimProcess sim({"--model", "250"});
  const RunResult r = RunCli({"write", "--port", sim.port(), file});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_FALSE(r.err.empty());
}

TEST(Files, ReadIntoAnUnwritablePlaceLeavesNoFile) {
  SimProcess sim({"--model", "250"});
  const RunResult r =
      RunCli({"read", "--port", sim.port(), "--out", "/proc/lovar-cannot-write-here.dat"});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_FALSE(r.err.empty());
}

TEST(Cli, RetriesMayStandBeforeOrAfterTheCommand) {
  SimProcess sim({"--model", "250"});
  EXPECT_EQ(RunCli({"--retries", "1", "identify", "--port", sim.port()}).exit_code, 0);
  EXPECT_EQ(RunCli({"identify", "--port", sim.port(), "--retries", "1"}).exit_code, 0);
}

TEST(Cli, CommandLineMistakesAreExplainedInRussian) {
  const RunResult missing = RunCli({"read", "--out", TempPath("x.dat")});
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_NE(missing.err.find("не указан обязательный параметр"), std::string::npos) << missing.err;
  const RunResult none = RunCli({});
  EXPECT_NE(none.err.find("не указана команда"), std::string::npos) << none.err;
}

TEST(Cli, EveryCommandHasHelp) {
  for (const char* command : {"ports", "identify", "read", "write", "key"}) {
    const RunResult r = RunCli({command, "--help"});
    EXPECT_EQ(r.exit_code, 0) << command;
    EXPECT_NE(r.out.find("--help"), std::string::npos) << command;
  }
}

}  // namespace
}  // namespace lovar::e2e
