// End to end: the check before a write and before a batch, with the real lovar-cli and lovar-sim
// over pseudo-terminals: a configuration with errors reaches no device unless its rule is let
// pass by name.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "model/catalog.h"
#include "processes.h"
#include "sim/device_sim.h"

namespace lovar::e2e {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Folder(const std::string& name) {
  const std::string dir = TempPath(name);
  fs::create_directories(dir);
  return dir;
}

void WriteConfig(const std::string& path, int model, const ConfigImage& image) {
  const std::vector<uint8_t> bytes = SerializeConfigFile(model, image);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

ConfigImage With(ConfigImage image,
                 const std::vector<std::pair<const char*, const char*>>& values) {
  for (const auto& [id, value] : values) {
    std::string why;
    EXPECT_TRUE(StoreFieldText(*FindFieldById(251, id), image, value, why)) << why;
  }
  return image;
}

TEST(CheckGate, ABatchWhoseRowsKeepTheTemplatesObjectNumberTouchesNoDeviceUnlessLetPass) {
  const std::string dir = Folder("gate-batch");
  WriteConfig(dir + "/t.dat", 251, With(SampleImage(251), {{"object_number", "7777"}}));
  SimProcess a({"--model", "251"}, /*log=*/true);
  SimProcess b({"--model", "251"}, /*log=*/true);
  // Row 2 gets its own object number; row 3 keeps the template's.
  const std::string plan = dir + "/plan.csv";
  std::ofstream(plan) << "port,template,object_number\n"
                      << a.port() << ",t.dat,1001\n"
                      << b.port() << ",t.dat,\n";
  const RunResult refused = RunCli({"batch", plan, "--report", dir + "/report.csv"});
  EXPECT_EQ(refused.exit_code, 12) << refused.err;
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(
      refused.err.find("строка 3, порт " + b.port() + ": ошибка [object-number-from-template]"),
      std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.err.find("строка 2, порт"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("ни один прибор не затронут"), std::string::npos) << refused.err;
  EXPECT_FALSE(a.WaitForLog("#1 ", 300ms));
  EXPECT_FALSE(b.WaitForLog("#1 ", 300ms));
  EXPECT_FALSE(fs::exists(dir + "/report.csv"));

  // A name that is no rule is said as a mistake, before anything.
  EXPECT_GT(RunCli({"batch", plan, "--allow-check", "object-number-from-templat"}).exit_code, 100);

  const RunResult passed = RunCli({"batch", plan, "--allow-check", "object-number-from-template",
                                   "--report", dir + "/report.csv"});
  ASSERT_EQ(passed.exit_code, 0) << passed.err << passed.out;
  EXPECT_NE(passed.out.find("Записано и проверено: 2 из 2"), std::string::npos) << passed.out;
  std::ifstream report(dir + "/report.csv");
  const std::string text((std::istreambuf_iterator<char>(report)), {});
  EXPECT_NE(text.find("ошибка [object-number-from-template]"), std::string::npos) << text;
}

TEST(CheckGate, ABatchTakesTheCompanysRules) {
  const std::string dir = Folder("gate-rules");
  WriteConfig(dir + "/t.dat", 251, SampleImage(251));
  SimProcess a({"--model", "251"}, /*log=*/true);
  const std::string rules = dir + "/rules.json";
  std::ofstream(rules) << R"({"format": "lovar-checks", "version": 1, "rules": [
      {"id": "objects", "field": "object_number", "range": {"min": 2000, "max": 2999}}]})";
  const std::string plan = dir + "/plan.csv";
  std::ofstream(plan) << "port,template,object_number\n" << a.port() << ",t.dat,1001\n";
  const RunResult refused = RunCli({"batch", plan, "--rules", rules});
  EXPECT_EQ(refused.exit_code, 12) << refused.err;
  EXPECT_NE(refused.err.find("ошибка [objects]"), std::string::npos) << refused.err;
  EXPECT_FALSE(a.WaitForLog("#1 ", 300ms));
}

TEST(CheckGate, WriteRefusesAFileWithErrorsBeforeTheDeviceIsTouched) {
  const std::string dir = Folder("gate-write");
  // No direction with a number: the device would report to nobody.
  ConfigImage image = SampleImage(251);
  for (const char* phone : {"direction1.phone", "direction2.phone", "direction3.phone",
                            "direction4.phone", "direction5.phone"})
    image = With(image, {{phone, ""}});
  const std::string file = dir + "/silent.dat";
  WriteConfig(file, 251, image);
  SimProcess sim({"--model", "251"}, /*log=*/true);
  const RunResult refused = RunCli({"write", "--port", sim.port(), file});
  EXPECT_EQ(refused.exit_code, 15) << refused.err;
  EXPECT_NE(refused.err.find("ошибка [no-reporting-direction]"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("В УО ничего не записано"), std::string::npos) << refused.err;
  EXPECT_FALSE(sim.WaitForLog("#1 ", 300ms));

  const RunResult written =
      RunCli({"write", "--port", sim.port(), file, "--allow-check", "no-reporting-direction"});
  EXPECT_EQ(written.exit_code, 0) << written.err;
  EXPECT_NE(written.err.find("(пропущено: --allow-check)"), std::string::npos) << written.err;
}

TEST(CheckGate, TwoRowsWithOneObjectNumberAreAnErrorNamingBoth) {
  const std::string dir = Folder("gate-duplicate");
  WriteConfig(dir + "/t.dat", 251, SampleImage(251));
  SimProcess a({"--model", "251"}, /*log=*/true);
  SimProcess b({"--model", "251"}, /*log=*/true);
  const std::string plan = dir + "/plan.csv";
  std::ofstream(plan) << "port,template,object_number\n"
                      << a.port() << ",t.dat,1001\n"
                      << b.port() << ",t.dat,1001\n";
  const RunResult refused = RunCli({"batch", plan});
  EXPECT_EQ(refused.exit_code, 12) << refused.err;
  EXPECT_NE(refused.err.find("строка 3, порт " + b.port() +
                             ": ошибка [object-number-duplicate] Номер объекта 1001 уже получает "
                             "прибор строки 2 (порт " +
                             a.port() + ")"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(a.WaitForLog("#1 ", 300ms));
  EXPECT_FALSE(b.WaitForLog("#1 ", 300ms));
}

// The device's part of the image (a model 251's keys) and its firmware are judged before the
// write, by write and batch alike: what that finds is said, and an error stops the write by
// its rule's name with the device left as it was.
TEST(CheckGate, WriteAndBatchJudgeTheDeviceAsItWillBeWritten) {
  const std::string dir = Folder("gate-device");
  const std::string rules = dir + "/rules.json";
  std::ofstream(rules) << R"({"format": "lovar-checks", "version": 1, "rules": [
      {"id": "master-key", "field": "key1.code", "models": [251],
       "equals": "0102030405060708"}]})";
  const std::string file = dir + "/m.dat";
  WriteConfig(file, 251, SampleImage(251));

  SimProcess one({"--model", "251"}, /*log=*/true);
  const RunResult refused = RunCli({"write", "--port", one.port(), file, "--rules", rules});
  EXPECT_EQ(refused.exit_code, 15) << refused.err;
  EXPECT_NE(refused.err.find("ошибка [master-key]"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("правила: master-key). Прибор не изменён"), std::string::npos)
      << refused.err;
  EXPECT_EQ(one.Log().find(" 202 seq"), std::string::npos) << one.Log();

  SimProcess two({"--model", "251"}, /*log=*/true);
  const std::string plan = dir + "/plan.csv";
  std::ofstream(plan) << "port,template,object_number\n" << two.port() << ",m.dat,1001\n";
  const RunResult batch = RunCli({"batch", plan, "--rules", rules});
  EXPECT_EQ(batch.exit_code, 13) << batch.err;
  EXPECT_NE(batch.err.find("правила: master-key"), std::string::npos) << batch.err;
  EXPECT_EQ(two.Log().find(" 202 seq"), std::string::npos) << two.Log();

  // A key the row gives the device equal to the device's own: said at the write, in the report.
  const std::string key1 = FieldText(*FindFieldById(251, "key1.code"), SampleImage(251));
  std::ofstream(plan) << "port,template,object_number,key2.code\n"
                      << two.port() << ",m.dat,1001," << key1 << "\n";
  const RunResult keys = RunCli({"batch", plan, "--report", dir + "/report.csv"});
  EXPECT_EQ(keys.exit_code, 0) << keys.err;
  EXPECT_NE(keys.err.find("Проверка при записи, строка 2, порт " + two.port() +
                          ": предупреждение [key-duplicate]"),
            std::string::npos)
      << keys.err;
  std::ifstream report(dir + "/report.csv");
  const std::string text((std::istreambuf_iterator<char>(report)), {});
  EXPECT_NE(text.find("предупреждение [key-duplicate]"), std::string::npos) << text;

  // A model 250 whose firmware predates a loop type the file sets: said by write too.
  ConfigImage t250 = SampleImage(250);
  std::string why;
  ASSERT_TRUE(StoreFieldText(*FindFieldById(250, "loop2.type"), t250, "Охранный актив.", why));
  WriteConfig(dir + "/t250.dat", 250, t250);
  SimProcess old({"--model", "250", "--firmware", "9"});
  const RunResult fw = RunCli({"write", "--port", old.port(), dir + "/t250.dat"});
  EXPECT_EQ(fw.exit_code, 0) << fw.err;
  EXPECT_NE(fw.err.find("Проверка: предупреждение [value-outside-list]"), std::string::npos)
      << fw.err;
}

// --allow-check is recorded with the write, in the registry and the archive, and the next
// read of the site says so while the device holds what was written.
TEST(CheckGate, AnErrorLetPassIsRecordedAndSaidAtTheNextRead) {
  const std::string dir = Folder("gate-override");
  const std::string rules = dir + "/rules.json";
  std::ofstream(rules) << R"({"format": "lovar-checks", "version": 1, "rules": [
      {"id": "station", "field": "direction1.phone", "equals": "+74951234567"}]})";
  const std::string file = dir + "/m.dat";
  WriteConfig(file, 251, SampleImage(251));
  const std::string db = dir + "/registry.sqlite";
  SimProcess sim({"--model", "251"});
  const RunResult written =
      RunCli({"write", "--port", sim.port(), file, "--rules", rules, "--allow-check", "station",
              "--db", db, "--archive", dir + "/archive"});
  ASSERT_EQ(written.exit_code, 0) << written.err;

  const RunResult history = RunCli({"sites", "history", "1024", "--db", db});
  EXPECT_NE(history.out.find("Записано несмотря на ошибки проверки (--allow-check): [station]"),
            std::string::npos)
      << history.out << history.err;
  bool noted = false;
  for (const auto& e : fs::directory_iterator(dir + "/archive")) {
    std::ifstream in(e.path(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    noted = noted || bytes.find("\nlovar-note: Записано несмотря") != std::string::npos;
  }
  EXPECT_TRUE(noted);

  for (const std::vector<std::string>& where :
       {std::vector<std::string>{"--db", db}, {"--no-record", "--archive", dir + "/archive"}}) {
    std::vector<std::string> args = {"read", "--port", sim.port(), "--out", dir + "/r.dat"};
    args.insert(args.end(), where.begin(), where.end());
    const RunResult read = RunCli(args);
    EXPECT_EQ(read.exit_code, 0) << read.err;
    EXPECT_NE(read.err.find("Внимание: УО хранит конфигурацию, записанную"), std::string::npos)
        << read.err;
    EXPECT_NE(read.err.find("[station]"), std::string::npos) << read.err;
  }
}

}  // namespace
}  // namespace lovar::e2e
