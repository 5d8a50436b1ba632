// End to end: lovar-cli batch programming several real lovar-sim processes at once, each on its
// own pseudo-terminal, from plans and templates in real files.
#include <signal.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files/archive.h"
#include "files/config_file.h"
#include "files/csv.h"
#include "model/catalog.h"
#include "processes.h"
#include "sim/device_sim.h"
#include "support/loopback.h"

namespace lovar::e2e {
namespace {
namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A fresh folder for a test's plan, templates and outputs.
std::string Folder(const std::string& name) {
  const std::string dir = TempPath(name);
  fs::create_directories(dir);
  return dir;
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteConfig(const std::string& path, int model, const ConfigImage& image) {
  const Bytes bytes = SerializeConfigFile(model, image);
  WriteText(path, std::string(bytes.begin(), bytes.end()));
}

ConfigImage With(ConfigImage image, int model,
                 const std::vector<std::pair<const char*, const char*>>& values) {
  for (const auto& [id, value] : values) {
    std::string why;
    EXPECT_TRUE(StoreFieldText(*FindFieldById(model, id), image, value, why)) << why;
  }
  return image;
}

// What a device saved at its end holds: the image part of its configuration file.
void ExpectDeviceHolds(const std::string& saved, int model, const ConfigImage& expected) {
  const std::string file = ReadText(saved);
  const int length = FileImageLength(model);
  ASSERT_EQ(file.size(), static_cast<size_t>(100 + length)) << saved;
  for (int i = 0; i < length; ++i) {
    uint8_t want = expected[i];
    if (model != 251 && i >= 127 && i <= 130) want = 0;  // a write sends these as 0
    ASSERT_EQ(static_cast<uint8_t>(file[100 + static_cast<size_t>(i)]), want) << saved << " @" << i;
  }
}

std::vector<CsvRecord> ReadCsv(const std::string& path) {
  CsvTable table;
  CsvFault fault;
  EXPECT_TRUE(ParseCsv(ReadText(path), table, fault)) << path << ": " << fault.what;
  return table.records;
}

// The table's line of a port on stdout.
std::string LineOf(const std::string& out, const std::string& port) {
  const size_t at = out.find(" " + port + " ");
  if (at == std::string::npos) return {};
  const size_t begin = out.rfind('\n', at) + 1;
  return out.substr(begin, out.find('\n', at) - begin);
}

// The model 251 template of these tests: the sample with a few values of its own.
ConfigImage Template251() {
  return With(SampleImage(251), 251, {{"loop1.name", "Склад"}, {"exit_time", "45"}});
}

TEST(Batch, ThreeDevicesEachHoldTheTemplateWithTheirOwnValues) {
  const std::string dir = Folder("batch-three");
  const ConfigImage templ = Template251();
  WriteConfig(dir + "/template.dat", 251, templ);
  const std::vector<std::vector<std::pair<const char*, const char*>>> values = {
      {{"object_number", "1001"}, {"password", "11111"}, {"direction1.phone", "+79160000001"}},
      {{"object_number", "1002"},
       {"password", "22222"},
       {"direction1.phone", "+7 (916) 000-00-02"}},
      {{"object_number", "1003"}}};
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::string> saved;
  for (int i = 0; i < 3; ++i) {
    saved.push_back(dir + "/device" + std::to_string(i) + ".dat");
    sims.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--model", "251", "--save", saved.back()}));
  }
  // Relative to the plan's folder; the key lies beyond the template's 2048 bytes.
  WriteText(dir + "/plan.csv",
            "\xEF\xBB\xBFport,template,object_number,password,direction1.phone,key2.code\r\n" +
                sims[0]->port() + ",template.dat,1001,11111,+79160000001,\r\n" + sims[1]->port() +
                ",template.dat,1002,22222,\"+7 (916) 000-00-02\",0102030405060708\r\n" +
                sims[2]->port() + ",template.dat,1003,,,\r\n");
  const RunResult r = RunCli(
      {"batch", dir + "/plan.csv", "--report", dir + "/report.csv", "--archive", dir + "/archive"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  // Each device's image before the write, whole, in the archive the windows keep.
  const std::vector<ArchiveEntry> kept = ListArchive(dir + "/archive");
  ASSERT_EQ(kept.size(), 3u);
  for (const ArchiveEntry& e : kept) {
    ConfigImage prior;
    int bytes = 0;
    ASSERT_TRUE(LoadWholeImage(e.path, 251, prior, bytes).ok());
    EXPECT_EQ(bytes, 4096);
    EXPECT_EQ(prior, SampleImage(251));
  }
  for (int i = 0; i < 3; ++i) {
    const std::string line = LineOf(r.out, sims[i]->port());
    EXPECT_NE(line.find("Ловар-М (251)  100" + std::to_string(i + 1)), std::string::npos) << line;
    EXPECT_NE(line.find("записано, проверено"), std::string::npos) << line;
    // Not a terminal: a plain line per phase.
    EXPECT_NE(r.err.find(sims[i]->port() + " [100" + std::to_string(i + 1) + "]: Проверка записи"),
              std::string::npos)
        << r.err;
  }
  EXPECT_NE(r.out.find("Записано и проверено: 3 из 3"), std::string::npos) << r.out;

  // Beyond the template: the row's key, and the device's own keys beside it.
  const RunResult shown = RunCli({"show", "--port", sims[1]->port(), "--json"});
  ASSERT_EQ(shown.exit_code, 0) << shown.err;
  const ConfigImage sample = SampleImage(251);
  const nlohmann::json doc = nlohmann::json::parse(shown.out);
  for (const auto& f : doc["fields"]) {
    if (f["id"] == "key2.code") {
      EXPECT_EQ(f["value"], "0102030405060708");
    }
    if (f["id"] == "key1.code") {
      EXPECT_EQ(f["value"], FieldText(*FindFieldById(251, "key1.code"), sample));
    }
  }

  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sims[i]->Stop(), 0);
    ExpectDeviceHolds(saved[i], 251, With(templ, 251, values[i]));
  }
  const std::vector<CsvRecord> report = ReadCsv(dir + "/report.csv");
  ASSERT_EQ(report.size(), 4u);
  EXPECT_EQ(report[0].cells[0], "Строка");
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(report[i].cells[1], sims[i - 1]->port());
    EXPECT_EQ(report[i].cells[3], "100" + std::to_string(i));
    EXPECT_EQ(report[i].cells[4], "записано, проверено");
  }
}

TEST(Batch, EachRowsSiteTakesItsRecordsAndASiteNotThereRefusesThePlan) {
  const std::string dir = Folder("batch-sites");
  const std::string db = dir + "/r.sqlite";
  WriteConfig(dir + "/t.dat", 252, SampleImage(252));
  ASSERT_EQ(RunCli({"sites", "add", "ул. Ленина, 5", "--db", db}).exit_code, 0);
  ASSERT_EQ(RunCli({"sites", "add", "пр. Мира, 3", "--db", db}).exit_code, 0);
  SimProcess first({"--model", "252"});
  SimProcess second({"--model", "252"});
  WriteText(dir + "/plan.csv", "port,template,site\n" + first.port() + ",t.dat,2\n" +
                                   second.port() + ",t.dat,\"ул. Ленина, 7\"\n");
  RunResult r = RunCli({"batch", dir + "/plan.csv", "--db", db});
  EXPECT_EQ(r.exit_code, 12) << r.err;  // the plan refused
  EXPECT_NE(r.err.find("строка 3: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("объекта «ул. Ленина, 7» в реестре нет"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("нет такой записи"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ни один прибор не затронут"), std::string::npos) << r.err;
  WriteText(dir + "/plan.csv", "port,template,site\n" + first.port() + ",t.dat,2\n" +
                                   second.port() + ",t.dat,\"ул. Ленина, 5\"\n");
  r = RunCli({"batch", dir + "/plan.csv", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  const RunResult mira = RunCli({"sites", "records", "2", "--db", db});
  const RunResult lenina = RunCli({"sites", "records", "1", "--db", db});
  // Each site: the read before the write and the write, of its own device.
  for (const RunResult* site : {&mira, &lenina}) {
    EXPECT_EQ(site->exit_code, 0) << site->err;
    EXPECT_NE(site->out.find("пакетная запись"), std::string::npos) << site->out;
  }
  const RunResult loose = RunCli({"sites", "records", "-", "--db", db});
  EXPECT_NE(loose.err.find("Записей без объекта нет"), std::string::npos) << loose.out;
}

TEST(Batch, APlanMayMixLocalPortsAndPortsBehindSer2net) {
  const std::string dir = Folder("batch-network");
  const ConfigImage templ = SampleImage(250);
  WriteConfig(dir + "/t.dat", 250, templ);
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::vector<std::string> saved;
  for (const char* name : {"local", "raw", "rfc2217"}) {
    saved.push_back(dir + "/" + name + ".dat");
    sims.push_back(std::make_unique<SimProcess>(
        std::vector<std::string>{"--model", "250", "--save", saved.back()}));
  }
  Ser2netProcess raw(sims[1]->port(), false);
  Ser2netProcess telnet(sims[2]->port(), true);
  WriteText(dir + "/plan.csv", "port,template,output1.time\n" + sims[0]->port() + ",t.dat,11\n" +
                                   raw.url() + ",t.dat,22\n" + telnet.url() + ",t.dat,33\n");
  const RunResult r = RunCli({"batch", dir + "/plan.csv"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Записано и проверено: 3 из 3"), std::string::npos) << r.out;
  EXPECT_NE(LineOf(r.out, telnet.url()).find("записано, проверено"), std::string::npos) << r.out;
  const char* times[] = {"11", "22", "33"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sims[i]->Stop(), 0);
    ExpectDeviceHolds(saved[i], 250, With(templ, 250, {{"output1.time", times[i]}}));
  }
}

TEST(Batch, APlanWithFaultsIsRefusedWholeAndNoDeviceIsTouched) {
  const std::string dir = Folder("batch-faulty");
  WriteConfig(dir + "/t251.dat", 251, Template251());
  WriteConfig(dir + "/t250.dat", 250, SampleImage(250));
  SimProcess a({"--model", "251"}, /*log=*/true);
  SimProcess b({"--model", "251"}, /*log=*/true);
  WriteText(dir + "/plan.csv", "port,template,exit_time,object_nuber\n" +  //
                                   a.port() + ",t251.dat,30,\n" +          //
                                   b.port() + ",t251.dat,300,\n" +         //
                                   a.port() + ",t250.dat,,\n");
  const RunResult r = RunCli({"batch", dir + "/plan.csv", "--report", dir + "/report.csv"});
  EXPECT_EQ(r.exit_code, 12) << r.err;
  EXPECT_EQ(r.out, "");
  for (const char* place :
       {"строка 1, столбец D (object_nuber): у модели Ловар-М (251) нет такого поля",
        "строка 3, столбец C (exit_time): поле exit_time",
        "строка 4, столбец A (port): порт " /* named in row 2 */,
        "строка 4, столбец B (template): ", "ни один прибор не затронут"})
    EXPECT_NE(r.err.find(place), std::string::npos) << place << "\n" << r.err;
  EXPECT_FALSE(a.WaitForLog("#1 ", 300ms));
  EXPECT_FALSE(b.WaitForLog("#1 ", 300ms));
  EXPECT_FALSE(fs::exists(dir + "/report.csv"));
}

TEST(Batch, DevicesThatFailNeverStopTheOthersAndTheRetryPlanHoldsJustThem) {
  const std::string dir = Folder("batch-failing");
  const ConfigImage templ = Template251();
  WriteConfig(dir + "/template.dat", 251, templ);
  const std::string saved_first = dir + "/first.dat", saved_last = dir + "/last.dat";
  SimProcess first({"--model", "251", "--save", saved_first});
  SimProcess silent({"--model", "251", "--drop", "100/1"});  // stops answering mid-read
  // Hangs up mid-write: 1 and 2 the identification, 3 to 514 the read, 515 on the blocks that
  // differ from what it read.
  SimProcess hung({"--model", "251", "--hangup", "516"});
  SimProcess other({"--model", "250"});
  SimProcess last({"--model", "251", "--save", saved_last});
  const std::string plan = "port;template;object_number\r\n" +            //
                           first.port() + ";template.dat;2001\r\n" +      //
                           silent.port() + ";template.dat;2002\r\n" +     //
                           hung.port() + ";template.dat;\"20;03\"\r\n" +  //
                           other.port() + ";template.dat;2004\r\n" +      //
                           last.port() + ";template.dat;2005\r\n";
  WriteText(dir + "/plan.csv", plan);
  const std::string retry = dir + "/retry.csv";
  const RunResult r = RunCli({"--retries", "1", "batch", dir + "/plan.csv", "--retry-plan", retry},
                             std::chrono::seconds(60));
  EXPECT_EQ(r.exit_code, 13) << r.err;
  EXPECT_NE(LineOf(r.out, first.port()).find("записано, проверено"), std::string::npos) << r.out;
  EXPECT_NE(LineOf(r.out, last.port()).find("записано, проверено"), std::string::npos) << r.out;
  EXPECT_NE(LineOf(r.out, silent.port()).find("не записано"), std::string::npos) << r.out;
  EXPECT_NE(LineOf(r.out, hung.port()).find("запись не завершена"), std::string::npos) << r.out;
  EXPECT_NE(LineOf(r.out, other.port()).find("Ловар-Т (250)"), std::string::npos) << r.out;
  EXPECT_NE(LineOf(r.out, other.port()).find("не записано"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Записано и проверено: 2 из 5"), std::string::npos) << r.out;
  for (const std::string& said :
       {"строка 3, " + silent.port() + ": Конфигурация считана не полностью (",
        "строка 4, " + hung.port() + ": Запись прервана на смещении ",
        "строка 5, " + other.port() +
            ": Неверный тип УО: прибор Ловар-Т Версия 2.2, а план для "
            "Ловар-М (251)"})
    EXPECT_NE(r.err.find(said), std::string::npos) << said << "\n" << r.err;
  EXPECT_NE(r.err.find("Прибор не отвечает. В УО ничего не записано"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("смесь старой и новой конфигурации"), std::string::npos) << r.err;

  const std::vector<CsvRecord> again = ReadCsv(retry);
  const std::vector<CsvRecord> original = ReadCsv(dir + "/plan.csv");
  ASSERT_EQ(again.size(), 4u);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(again[i].cells, original[i == 0 ? 0 : i + 1].cells);

  EXPECT_EQ(first.Stop(), 0);
  EXPECT_EQ(last.Stop(), 0);
  ExpectDeviceHolds(saved_first, 251, With(templ, 251, {{"object_number", "2001"}}));
  ExpectDeviceHolds(saved_last, 251, With(templ, 251, {{"object_number", "2005"}}));
}

TEST(Batch, CtrlCStopsEveryDeviceAfterItsFrameInFlightAndSaysWhatEachHolds) {
  const std::string dir = Folder("batch-interrupted");
  // Every block differs from the devices' images, so the write sends all of them.
  ConfigImage templ = SampleImage(250);
  for (int i = 0; i < 256; ++i) templ[i] = static_cast<uint8_t>(templ[i] ^ 0x21);
  WriteConfig(dir + "/t.dat", 250, templ);
  SimProcess a({"--model", "250", "--delay", "3/1:30"}, /*log=*/true);
  SimProcess b({"--model", "250", "--delay", "3/1:30"});
  WriteText(dir + "/plan.csv", "port,template\n" + a.port() + ",t.dat\n" + b.port() + ",t.dat\n");
  CliProcess cli({"batch", dir + "/plan.csv", "--retry-plan", dir + "/retry.csv"});
  ASSERT_TRUE(a.WaitForLog("#40 202"));  // the sixth block of the write
  cli.Signal(SIGINT);
  const RunResult r = cli.Wait();
  EXPECT_EQ(r.exit_code, 10) << r.err;
  EXPECT_NE(LineOf(r.out, a.port()).find("прервано при записи"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("строка 2, " + a.port() + ": Запись прервана на смещении "),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("строка 3, " + b.port() + ": "), std::string::npos) << r.err;
  EXPECT_EQ(ReadCsv(dir + "/retry.csv").size(), 3u);
  // Both ports are free at once.
  EXPECT_EQ(RunCli({"identify", "--port", a.port()}).exit_code, 0);
  EXPECT_EQ(RunCli({"identify", "--port", b.port()}).exit_code, 0);
}

// Rows beyond those at work wait their turn: with --parallel 1 each device has ended before
// the next is begun, every row is written, and a finding all rows share is said once.
TEST(Batch, RowsBeyondThoseAtWorkWaitTheirTurn) {
  const std::string dir = Folder("batch-turns");
  WriteConfig(dir + "/template.dat", 251, Template251());
  std::vector<std::unique_ptr<SimProcess>> sims;
  std::string plan = "port,template,object_number\n";
  for (int i = 0; i < 3; ++i) {
    sims.push_back(std::make_unique<SimProcess>(std::vector<std::string>{"--model", "251"}));
    plan += sims.back()->port() + ",template.dat," + std::to_string(2001 + i) + "\n";
  }
  WriteText(dir + "/plan.csv", plan);
  const RunResult r = RunCli({"batch", dir + "/plan.csv", "--parallel", "1"});
  ASSERT_EQ(r.exit_code, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Записано и проверено: 3 из 3"), std::string::npos) << r.out;
  for (int i = 0; i + 1 < 3; ++i) {
    const size_t done = r.err.find(sims[i]->port() + " [" + std::to_string(2001 + i) + "]: готово");
    const size_t next =
        r.err.find(sims[i + 1]->port() + " [" + std::to_string(2002 + i) + "]: Опознание");
    ASSERT_NE(done, std::string::npos) << r.err;
    EXPECT_LT(done, next) << r.err;
  }
  // The template's password in every row: one line for the three.
  EXPECT_NE(r.err.find("Проверка, строки 2–4: предупреждение [code-from-template]"),
            std::string::npos)
      << r.err;
  EXPECT_GT(RunCli({"batch", dir + "/plan.csv", "--parallel", "0"}).exit_code, 100);
}

// Nothing that waits holds a device: two rows behind a server that accepts and never answers,
// and a registry server that does the same. The healthy device is written and proven
// while the silent rows wait out their connect, its records wait on the station, and the
// batch ends by the time-outs, not their sum.
TEST(Batch, SilentServersHoldNeitherAHealthyDeviceNorTheEnd) {
  const std::string dir = Folder("batch-silent");
  const ConfigImage templ = Template251();
  WriteConfig(dir + "/template.dat", 251, templ);
  const std::string saved = dir + "/saved.dat";
  SimProcess healthy({"--model", "251", "--save", saved});
  testing::SilentServer row2, row3, registry;
  ASSERT_TRUE(row2.port != 0 && row3.port != 0 && registry.port != 0);
  const auto net = [](const testing::SilentServer& s) {
    return "127.0.0.1:" + std::to_string(s.port);
  };
  WriteText(dir + "/plan.csv", "port;template;object_number\r\n" +              //
                                   healthy.port() + ";template.dat;3001\r\n" +  //
                                   "rfc2217://" + net(row2) + ";template.dat;3002\r\n" +
                                   "socket://" + net(row3) + ";template.dat;3003\r\n");
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = RunCli(
      {"--retries", "1", "batch", dir + "/plan.csv", "--db",
       "postgresql://lovar@127.0.0.1:" + std::to_string(registry.port) + "/lovar?sslmode=disable"},
      std::chrono::seconds(90));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_code, 13) << r.err;
  EXPECT_NE(LineOf(r.out, healthy.port()).find("записано, проверено"), std::string::npos)
      << r.out << r.err;
  EXPECT_NE(r.out.find("Записано и проверено: 1 из 3"), std::string::npos) << r.out;
  // The registry's connect (5 s) once at the start, the rows' connect and negotiation (5 s
  // each) at once, the healthy device meanwhile, and a margin for a loaded machine.
  EXPECT_LT(took, 20s);
  EXPECT_EQ(r.err.find("обмен не продвигается"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Запись в реестр не сохранена"), std::string::npos) << r.err;
  EXPECT_EQ(healthy.Stop(), 0);
  ExpectDeviceHolds(saved, 251, With(templ, 251, {{"object_number", "3001"}}));
}

}  // namespace
}  // namespace lovar::e2e
