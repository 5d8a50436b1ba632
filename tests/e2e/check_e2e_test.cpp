// End to end: lovar-cli check on real files and on the real lovar-sim over a pseudo-terminal;
// its exit statuses are its own.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "model/catalog.h"
#include "processes.h"
#include "sim/device_sim.h"

namespace lovar::e2e {
namespace {

std::string Config(const std::string& name, int model, ConfigImage image,
                   const std::vector<std::pair<const char*, const char*>>& values = {}) {
  for (const auto& [id, value] : values) {
    std::string why;
    EXPECT_TRUE(StoreFieldText(*FindFieldById(model, id), image, value, why)) << why;
  }
  const std::string path = TempPath(name);
  const std::vector<uint8_t> bytes = SerializeConfigFile(model, image);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(Check, ExitsZeroForNoneAndAStatusOfItsOwnForWarningsAndForErrors) {
  const std::string rules = TempPath("company-rules.json");
  std::ofstream(rules) << R"({"format": "lovar-checks", "version": 1, "rules": [
      {"id": "objects", "field": "object_number", "range": {"min": 2000, "max": 2999},
       "severity": "предупреждение"}]})";
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* says;
  };
  const std::vector<Case> cases = {
      {{Config("check-sample.dat", 251, SampleImage(251))}, 0, "Замечаний нет"},
      {{Config("check-warn.dat", 250, SampleImage(250), {{"sounder_time", "0"}})},
       14,
       "предупреждение [sounder-time-zero]"},
      {{Config("check-zero.dat", 251, ConfigImage())}, 15, "ошибка [no-reporting-direction]"},
      {{Config("check-rules.dat", 251, SampleImage(251)), "--rules", rules},
       14,
       "предупреждение [objects]"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"check"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult r = RunCli(args);
    EXPECT_EQ(r.exit_code, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
  }
  // A file holds no keys of a model 251: nothing found is not all found.
  const RunResult file = RunCli({"check", Config("check-keys.dat", 251, SampleImage(251))});
  EXPECT_NE(file.out.find("Не проверено: ключи (key-erased, key-duplicate, key-without-rights)"),
            std::string::npos)
      << file.out;
  EXPECT_NE(file.out.find("Замечаний нет в том, что проверено"), std::string::npos) << file.out;
  // Statuses 14 and 15 are no other failure's: an unreadable file is 5.
  EXPECT_EQ(RunCli({"check", TempPath("no-such.dat")}).exit_code, 5);
}

TEST(Check, TheDeviceIsReadWholeAndABadRulesFileIsSaidBeforeIt) {
  SimProcess sim({"--model", "251"});
  const RunResult device = RunCli({"check", "--port", sim.port()});
  EXPECT_EQ(device.exit_code, 0) << device.out << device.err;
  EXPECT_NE(device.out.find("прибор на " + sim.port()), std::string::npos) << device.out;
  EXPECT_EQ(device.out.find("Не проверено: ключи"), std::string::npos) << device.out;

  const std::string bad = TempPath("bad-rules.json");
  std::ofstream(bad) << R"({"format": "lovar-checks", "version": 1, "rules": [{"id": "x"}]})";
  const RunResult refused = RunCli({"check", "--port", sim.port(), "--rules", bad});
  EXPECT_EQ(refused.exit_code, 5);
  EXPECT_NE(refused.err.find("правило 1 (x)"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");

  // A template of another model is no template of this device.
  const RunResult other = RunCli(
      {"check", "--port", sim.port(), "--template", Config("t-250.dat", 250, SampleImage(250))});
  EXPECT_EQ(other.exit_code, 4) << other.err;
}

}  // namespace
}  // namespace lovar::e2e
