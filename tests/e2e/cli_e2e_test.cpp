// End to end: the real lovar-cli (TCport on a real pseudo-terminal) against the real lovar-sim
// process, for each model, with every fault the simulator injects, and real files.
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "files/archive.h"
#include "files/config_file.h"
#include "processes.h"
#include "protocol/exchange.h"
#include "relay.h"
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

TEST(Read, OutputFolderMissingIsSaidBeforeTheDeviceIsTouched) {
  const std::string out = TempPath("no-such-folder") + "/read.dat";
  SimProcess sim({"--model", "251"});
  RunResult r = RunCli({"read", "--port", sim.port(), "--out", out});
  EXPECT_EQ(r.exit_code, 5) << r.err;
  EXPECT_NE(r.err.find("no-such-folder"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");  // no device line: nothing was identified, let alone read
  // Before the port, too: the file's fault is said even where no port could be opened.
  r = RunCli({"read", "--port", "/dev/lovar-no-such-port", "--out", out});
  EXPECT_EQ(r.exit_code, 5) << r.err;
}

// A file whose every byte differs from the simulator's sample.
ConfigImage EditedImage(int model) {
  ConfigImage image = SampleImage(model);
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(image[i] ^ 0x21);
  return image;
}

// The simulator's image, saved when it stopped, holds the file: what a write sends (bytes 127
// to 130 of 250 and 252 as 0, nothing below 100 of a 252).
void ExpectDeviceHoldsFile(const std::string& saved, const ConfigImage& image, int model) {
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

// Requests before a model's write: the identification and the 212, and for model 251, whose
// file holds half the image, the read of the whole device first; for model 252 the read of its
// bytes 0 to 99, which the write never changes and the read-back holds to what they were.
int RequestsBeforeTheWrite(int model) {
  return model == 251 ? 2 + 512 : model == 252 ? 2 + 13 : 2;
}
// The block the hole tests lose: the last one a file changes (for 251 the last of its half).
int LastFileBlock(int model) {
  return model == 251 ? 128 : model == 252 ? 10 : 16;
}

TEST_P(EachModel, WritePutsTheFileIntoTheDeviceAndProvesIt) {
  const int model = GetParam().model;
  const ConfigImage image = EditedImage(model);
  const std::string file = TempPath("write-" + Model(model) + ".dat");
  WriteFile(file, SerializeConfigFile(model, image));
  const std::string saved = TempPath("sim-after-write-" + Model(model) + ".dat");
  {
    SimProcess sim({"--model", Model(model), "--save", saved});
    const RunResult r = RunCli({"write", "--port", sim.port(), file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    // A model 251 file is written over the device's image read first: only what differs.
    EXPECT_EQ(r.out, std::string(GetParam().line) + "\nКонфигурация записана в УО" +
                         (model == 251 ? " (записано изменённых блоков: 128 из 256)" : "") + "\n");
    EXPECT_EQ(sim.Stop(), 0);
  }
  ExpectDeviceHoldsFile(saved, image, model);
}

// The hole of a duplicated acknowledgement followed by a block lost on its way, in the last
// block the file changes: every acknowledgement came, yet the device misses a block until the
// read-back finds it and the block is written again.
TEST_P(EachModel, WriteWithAHoleBehindTheAcknowledgementsIsRepaired) {
  const int model = GetParam().model;
  const ConfigImage image = EditedImage(model);
  const std::string file = TempPath("hole-" + Model(model) + ".dat");
  WriteFile(file, SerializeConfigFile(model, image));
  const std::string saved = TempPath("sim-after-hole-" + Model(model) + ".dat");
  const int last = RequestsBeforeTheWrite(model) + LastFileBlock(model);
  {
    SimProcess sim({"--model", Model(model), "--save", saved, "--duplicate",
                    std::to_string(last - 1), "--lose", std::to_string(last)});
    const RunResult r = RunCli({"write", "--port", sim.port(), file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("Конфигурация записана в УО"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(" (блоков записано повторно: 1)\n"), std::string::npos) << r.out;
    EXPECT_EQ(sim.Stop(), 0);
  }
  ExpectDeviceHoldsFile(saved, image, model);
}

// A repair frame whose offset the line damaged (its CRC good again) lands on a block already
// proven: the whole range is read back after every repair round, so the write is done only when
// the device holds the whole file, and never said done otherwise. Block 2 of the write is
// acknowledged but not kept; the relay flips bit 4 of the repair's offset byte (32 to 48, 132
// to 148), once or in every repair frame.
TEST_P(EachModel, RepairLandingOnAProvenBlockIsFoundByTheWholeReadBack) {
  const int model = GetParam().model;
  ConfigImage image;  // every block unlike its neighbours and unlike the simulator's
  for (int i = 0; i < kImageCapacity; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  const std::string file = TempPath("relay-" + Model(model) + ".dat");
  WriteFile(file, SerializeConfigFile(model, image));
  const std::string lost = std::to_string(RequestsBeforeTheWrite(model) + 3);
  for (const bool every : {false, true}) {
    SCOPED_TRACE(every ? "every repair frame damaged" : "one repair frame damaged");
    const std::string saved = TempPath("sim-after-relay-" + Model(model) + ".dat");
    {
      SimProcess sim({"--model", Model(model), "--save", saved, "--no-store", lost});
      FrameRelay relay(sim.port(), Damage{1, every});
      // Bytes that make no sense as a configuration: their errors let pass.
      const RunResult r = RunCli({"write", "--port", relay.port(), file, "--allow-check",
                                  "loop-not-reported", "--allow-check", "no-reporting-direction"});
      EXPECT_GE(relay.damaged(), 1);
      if (every) {
        EXPECT_EQ(r.exit_code, 7) << r.err;
        const char* field =
            model == 250 ? "32 — поле «Строка 7: К.Прин.» на странице «Коды»"
            : model == 251 ? "32 — поле «Направление 1: Номер телефона» на странице «Параметры "
                             "передачи»"
                           : "132 — байт вне полей";
        EXPECT_NE(r.err.find(std::string("Запись не подтверждена: прибор хранит не то, что "
                                         "записано, начиная со смещения ") +
                             field),
                  std::string::npos)
            << r.err;
        continue;
      }
      ASSERT_EQ(r.exit_code, 0) << r.err;
      EXPECT_NE(r.out.find("(блоков записано повторно: 3)"), std::string::npos) << r.out;
      EXPECT_EQ(sim.Stop(), 0);
    }
    ExpectDeviceHoldsFile(saved, image, model);
  }
}

// The line hung up at the request after the identification: nothing was written, on every model.
TEST_P(EachModel, HangUpRightAfterTheIdentificationIsAWriteNotBegun) {
  const int model = GetParam().model;
  const std::string file = TempPath("hangup-2-" + Model(model) + ".dat");
  WriteFile(file, SerializeConfigFile(model, EditedImage(model)));
  SimProcess sim({"--model", Model(model), "--hangup", "2"});
  const RunResult r = RunCli({"write", "--port", sim.port(), file}, std::chrono::seconds(30));
  EXPECT_EQ(r.exit_code, 8) << r.err;
  EXPECT_NE(r.err.find("Запись не начата"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("связь с портом потеряна"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("смесь"), std::string::npos) << r.err;
}

// A device that acknowledges every block but keeps none: refused after the repair rounds.
TEST_P(EachModel, WriteTheDeviceDoesNotKeepIsRefused) {
  const int model = GetParam().model;
  const std::string file = TempPath("refused-" + Model(model) + ".dat");
  WriteFile(file, SerializeConfigFile(model, EditedImage(model)));
  SimProcess sim({"--model", Model(model), "--no-store", "3/1"});
  const RunResult r = RunCli({"write", "--port", sim.port(), file});
  EXPECT_EQ(r.exit_code, 7) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
  const std::string first = model == 252 ? "100" : "0";
  EXPECT_NE(r.err.find("Запись не подтверждена: прибор хранит не то, что записано, начиная со "
                       "смещения " +
                       first),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("смесь старой и новой конфигурации"), std::string::npos) << r.err;
}

// A device that answers every read request, but never with data, is given up.
TEST_P(EachModel, ReadThatNeverAdvancesIsGivenUp) {
  SimProcess sim({"--model", Model(GetParam().model), "--empty", "3/1"});
  const std::string out = TempPath("given-up-" + Model(GetParam().model) + ".dat");
  const RunResult r = RunCli({"--retries", "1", "read", "--port", sim.port(), "--out", out},
                             std::chrono::seconds(30));
  EXPECT_EQ(r.exit_code, 11) << r.err;
  EXPECT_NE(r.err.find("Прибор отвечает не на запрос, повтор 1 из 1"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Конфигурация считана не полностью (0 из "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("прибор отвечает, но не на запросы. Файл не записан"), std::string::npos)
      << r.err;
  EXPECT_FALSE(std::ifstream(out).good());
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
class Reader : public ExchangeObserver {
 public:
  bool AskContinue() override { return false; }
  void ReadEnded(bool complete, bool) override { done = complete ? 1 : 2; }
  void Identified(int, int) override { identified = true; }
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
  const RunResult r = RunCli(
      {"write", "--port", sim.port(), file, "--verify", "--allow-check", "no-reporting-direction"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const ConfigImage device = ReadWholeImage(sim.port());
  const ConfigImage sample = SampleImage(251);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(device[i], 0) << i;
  for (int i = 2048; i < kImageCapacity; ++i) ASSERT_EQ(device[i], sample[i]) << i;
}

// --archive: every read kept, and a write first keeps what the device held, whole (a model 251
// device's keys too), in the archive the windows keep.
TEST(Archive, ReadAndWriteKeepTheDevicesImagesInTheArchive) {
  const std::string archive = TempPath("archive-e2e");
  std::filesystem::remove_all(archive);
  const ConfigImage sample = SampleImage(251);
  SimProcess sim({"--model", "251"});
  auto newest = [&](size_t count) {
    const std::vector<ArchiveEntry> list = ListArchive(archive);
    EXPECT_EQ(list.size(), count);
    ConfigImage image;
    int bytes = 0;
    EXPECT_TRUE(!list.empty() && LoadWholeImage(list[0].path, 251, image, bytes).ok());
    EXPECT_EQ(bytes, 4096);
    return image;
  };

  const std::string read_out = TempPath("archive-read.dat");
  RunResult r = RunCli({"read", "--port", sim.port(), "--out", read_out, "--archive", archive});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Копия в архиве: " + archive + "/"), std::string::npos) << r.out;
  EXPECT_EQ(newest(1), sample);

  const ConfigImage edited = EditedImage(251);
  const std::string file = TempPath("archive-write.dat");
  WriteFile(file, SerializeConfigFile(251, edited));
  r = RunCli({"write", "--port", sim.port(), file, "--archive", archive});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Прежняя конфигурация прибора в архиве: " + archive + "/"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(newest(2), sample);  // what the device held before the write

  // The device now holds the file's half and its own keys; a read keeps that.
  r = RunCli({"read", "--port", sim.port(), "--out", read_out, "--archive", archive});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const ConfigImage now = newest(3);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(now[i], edited[i]) << i;
  for (int i = 2048; i < 4096; ++i) ASSERT_EQ(now[i], sample[i]) << i;
}

TEST(Archive, WriteWhoseArchiveCannotBeKeptWritesNothing) {
  const std::string not_a_folder = TempPath("archive-is-a-file");
  WriteFile(not_a_folder, {1, 2, 3});
  const std::string file = TempPath("archive-refused.dat");
  WriteFile(file, SerializeConfigFile(250, EditedImage(250)));
  SimProcess sim({"--model", "250"});
  const RunResult r =
      RunCli({"write", "--port", sim.port(), file, "--archive", not_a_folder + "/Архив"});
  EXPECT_EQ(r.exit_code, 5) << r.err;
  EXPECT_NE(r.err.find("Конфигурация прибора не сохранена в архив: не удалось создать папку «" +
                       not_a_folder + "/Архив»: часть пути — не папка"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("В УО ничего не записано"), std::string::npos) << r.err;
  EXPECT_EQ(ReadWholeImage(sim.port()), SampleImage(250));
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
                                     FaultCase{"LostOnItsWay", {"--lose", "5"}},
                                     FaultCase{"UnhandledInPlaceOfTheReply", {"--unhandled", "6"}},
                                     FaultCase{"NoCommandByte", {"--short", "7"}},
                                     FaultCase{"ReplyWithoutData", {"--empty", "8"}},
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

TEST(Faults, LateAcknowledgementAfterAResendOpensAHoleThatIsRepaired) {
  // Block 3 (request 5) is acknowledged only after the question's resend; block 4 (request 7)
  // is lost, and the late acknowledgement is taken for it.
  const ConfigImage image = EditedImage(250);
  const std::string file = TempPath("late.dat");
  WriteFile(file, SerializeConfigFile(250, image));
  const std::string saved = TempPath("sim-after-late.dat");
  {
    SimProcess sim({"--model", "250", "--save", saved, "--delay", "5:1500", "--lose", "7"});
    const RunResult r = RunCli({"write", "--port", sim.port(), file});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("повторно: 1"), std::string::npos) << r.out;
    EXPECT_EQ(sim.Stop(), 0);
  }
  ExpectDeviceHoldsFile(saved, image, 250);
}

TEST(Faults, WriteWithoutTheCheckSaysTheDeviceWasNotChecked) {
  SimProcess sim({"--model", "250"}, /*log=*/true);
  const std::string file = TempPath("unchecked.dat");
  WriteFile(file, SerializeConfigFile(250, EditedImage(250)));
  const RunResult r = RunCli({"write", "--port", sim.port(), file, "--no-verify"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("не проверена"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("прибор не проверен после записи (--no-verify)"), std::string::npos)
      << r.err;
  EXPECT_FALSE(sim.WaitForLog(" 200 ", std::chrono::milliseconds(300)));  // nothing read back
}

// Ctrl-C: the frame in flight is finished, the port closed with its exclusive mode cleared, and
// the message says how far the device was written.
TEST(Interrupt, CtrlCDuringAWriteStopsAfterTheFrameInFlightAndFreesThePort) {
  const ConfigImage image = EditedImage(250);
  const std::string file = TempPath("interrupted.dat");
  WriteFile(file, SerializeConfigFile(250, image));
  const std::string saved = TempPath("sim-after-interrupt.dat");
  SimProcess sim({"--model", "250", "--delay", "3/1:40", "--save", saved}, /*log=*/true);
  CliProcess cli({"write", "--port", sim.port(), file});
  ASSERT_TRUE(sim.WaitForLog("#8 202"));
  cli.Signal(SIGINT);
  const RunResult r = cli.Wait();
  EXPECT_EQ(r.exit_code, 10) << r.err;
  const std::string said = "Запись прервана на смещении ";
  const size_t at = r.err.find(said);
  ASSERT_NE(at, std::string::npos) << r.err;
  const int offset = std::stoi(r.err.substr(at + said.size()));
  EXPECT_GE(offset, 5 * 16);
  EXPECT_LE(offset, 7 * 16);
  EXPECT_NE(r.err.find(" из 256 (прервано пользователем). Прибор может содержать смесь"),
            std::string::npos)
      << r.err;
  // The port is free for the next run at once.
  EXPECT_EQ(RunCli({"identify", "--port", sim.port()}).exit_code, 0);
  EXPECT_EQ(sim.Stop(), 0);
  // The device holds the new bytes up to the offset named, the old ones after it.
  const Bytes device = ReadFile(saved);
  const ConfigImage sample = SampleImage(250);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(device[100 + static_cast<size_t>(i)], i < offset ? image[i] : sample[i]) << i;
}

TEST(Interrupt, TermDuringAReadLeavesNoFile) {
  SimProcess sim({"--model", "251", "--delay", "3/1:20"}, /*log=*/true);
  const std::string out = TempPath("term.dat");
  CliProcess cli({"read", "--port", sim.port(), "--out", out});
  ASSERT_TRUE(sim.WaitForLog("#20 200"));
  cli.Signal(SIGTERM);
  const RunResult r = cli.Wait();
  EXPECT_EQ(r.exit_code, 10) << r.err;
  EXPECT_NE(r.err.find("Конфигурация считана не полностью ("), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("прервано пользователем. Файл не записан"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(out).good());
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

TEST(Files, WriteFromAFifoWithNoWriterIsRefusedAtOnce) {
  const std::string fifo = TempPath("no-writer.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  SimProcess sim({"--model", "250"}, /*log=*/true);
  const RunResult r = RunCli({"write", "--port", sim.port(), fifo}, std::chrono::seconds(10));
  EXPECT_EQ(r.exit_code, 5) << r.err;
  EXPECT_NE(r.err.find("это канал (FIFO), а не обычный файл"), std::string::npos) << r.err;
  EXPECT_FALSE(sim.WaitForLog("#1 ", std::chrono::milliseconds(200)));  // the device untouched
}

// show and import read files too: no wait on a FIFO there either.
TEST(Files, ShowAndImportFromAFifoWithNoWriterAreRefusedAtOnce) {
  const std::string fifo = TempPath("no-writer-2.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"show", fifo},
        std::vector<std::string>{"import", fifo, "--out", TempPath("imported.dat")}}) {
    SCOPED_TRACE(args[0]);
    const RunResult r = RunCli(args, std::chrono::seconds(10));
    EXPECT_EQ(r.exit_code, 5) << r.err;
    EXPECT_NE(r.err.find("это канал (FIFO), а не обычный файл"), std::string::npos) << r.err;
  }
}

TEST(Files, ReadIntoADeviceOrAFifoLeavesItAlone) {
  const std::string fifo = TempPath("out.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::vector<std::string> targets = {fifo};
  // A node like /dev/null of our own where we may make one (as root, the case where /dev/null
  // itself was once replaced by a regular file).
  const std::string node = TempPath("null");
  if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) targets.push_back(node);
  for (const std::string& target : targets) {
    SCOPED_TRACE(target);
    SimProcess sim({"--model", "250"});
    const RunResult r = RunCli({"read", "--port", sim.port(), "--out", target});
    EXPECT_EQ(r.exit_code, 5) << r.err;
    EXPECT_NE(r.err.find("а не обычный файл"), std::string::npos) << r.err;
    struct stat st {};
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_FALSE(S_ISREG(st.st_mode));
  }
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
