// End to end: lovar-cli show, diff, export and import on real files and against the real
// lovar-sim process over a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "model/catalog.h"
#include "processes.h"
#include "sim/device_sim.h"

namespace lovar::e2e {
namespace {

using Bytes = std::vector<uint8_t>;

void WriteConfig(const std::string& path, int model, const ConfigImage& image) {
  const Bytes bytes = SerializeConfigFile(model, image);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

ConfigImage With(ConfigImage image, int model, const char* id, const char* value) {
  std::string why;
  EXPECT_TRUE(StoreFieldText(*FindFieldById(model, id), image, value, why)) << why;
  return image;
}

// The lines of a diff that name a field: "page | caption | id | A | B".
std::vector<std::string> FieldLines(const std::string& out) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    const std::string line = out.substr(start, end - start);
    if (line.find(" | ") != std::string::npos) lines.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TEST(Show, TheDevicePrintsEveryFieldWithItsKeys) {
  SimProcess sim({"--model", "251"});
  const RunResult r = RunCli({"show", "--port", sim.port()});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const ConfigImage sample = SampleImage(251);
  for (const Field& f : Fields(251)) {
    SCOPED_TRACE(f.id);
    const std::string value = FieldText(f, sample);
    EXPECT_NE(r.out.find(f.caption + "  "), std::string::npos);
    if (!value.empty()) {
      EXPECT_NE(r.out.find("  " + value + "\n"), std::string::npos);
    }
  }
  // The keys are the device's: a file would not have them.
  EXPECT_NE(r.out.find("Ключ 1: Код"), std::string::npos);
  EXPECT_EQ(r.out.find("Не показаны"), std::string::npos);
}

TEST(Diff, TheDeviceAgainstAFileNamesExactlyTheFieldThatDiffers) {
  const ConfigImage sample = SampleImage(251);
  const std::string file = TempPath("diff-251.dat");
  WriteConfig(file, 251, With(sample, 251, "direction3.phone", "+74951112233"));
  SimProcess sim({"--model", "251"});
  const RunResult r = RunCli({"diff", file, "--port", sim.port()});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  const std::vector<std::string> lines = FieldLines(r.out);
  ASSERT_EQ(lines.size(), 1u) << r.out;
  EXPECT_EQ(
      lines[0],
      "Параметры передачи | Направление 3: Номер телефона | direction3.phone | +74951112233 | " +
          FieldText(*FindFieldById(251, "direction3.phone"), sample));
  EXPECT_EQ(r.out.find("байты вне полей"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("B: прибор на " + sim.port() + " (Ловар-М Версия 2.2)"), std::string::npos);
}

TEST(Diff, TheDeviceThatHoldsTheFileIsEqual) {
  const std::string file = TempPath("same-250.dat");
  const ConfigImage image = With(SampleImage(250), 250, "loop2.type", "Пожарный");
  WriteConfig(file, 250, image);
  SimProcess sim({"--model", "250", "--image", file});
  const RunResult r = RunCli({"diff", file, "--port", sim.port()});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("Конфигурации совпадают (байты 0–255)"), std::string::npos) << r.out;
}

TEST(Diff, TwoFilesWithAReportAndExitStatuses) {
  const std::string a = TempPath("a-252.dat"), b = TempPath("b-252.dat"), c = TempPath("c-251.dat");
  const std::string html = TempPath("report.html");
  WriteConfig(a, 252, SampleImage(252));
  ConfigImage changed = With(SampleImage(252), 252, "level", "2000");
  changed[225] ^= 0x40;  // a byte no field covers
  WriteConfig(b, 252, changed);
  WriteConfig(c, 251, SampleImage(251));

  RunResult r = RunCli({"diff", a, b, "--html", html});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  ASSERT_EQ(FieldLines(r.out).size(), 1u) << r.out;
  EXPECT_NE(FieldLines(r.out)[0].find("| level |"), std::string::npos);
  EXPECT_NE(r.out.find("Различаются байты вне полей: 225"), std::string::npos) << r.out;
  const Bytes report = ReadFile(html);
  EXPECT_NE(std::string(report.begin(), report.end()).find("<td class=\"id\">level</td>"),
            std::string::npos);

  r = RunCli({"diff", a, a});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"diff", a, c});
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_NE(r.err.find("Неверный тип УО"), std::string::npos) << r.err;
}

TEST(ExportImport, TheFileComesBackByteForByteAndABadDocumentWritesNothing) {
  const std::string dat = TempPath("export-251.dat"), json = TempPath("export-251.json");
  const std::string back = TempPath("import-251.dat"), bad = TempPath("bad-251.json");
  ConfigImage image = SampleImage(251);
  image[300] = 0x98;  // a byte no field covers
  image[512] = 0x98;  // a loop name byte Windows-1251 leaves unassigned
  WriteConfig(dat, 251, image);
  RunResult r = RunCli({"export", dat, "--out", json});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  r = RunCli({"import", json, "--out", back, "--model", "251"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ReadFile(back), ReadFile(dat));
  // An output named like the input is refused before anything is written.
  r = RunCli({"export", back, "--out", back});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_EQ(ReadFile(back), ReadFile(dat));

  Bytes text = ReadFile(json);
  std::string document(text.begin(), text.end());
  const std::string entry = "\"exit_time\": ";
  document.replace(document.find(entry) + entry.size(), 2, "300");
  std::ofstream(bad) << document;
  const std::string never = TempPath("never.dat");
  r = RunCli({"import", bad, "--out", never});
  EXPECT_EQ(r.exit_code, 5);
  EXPECT_NE(r.err.find("поле exit_time"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("не записан"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(never));
}

}  // namespace
}  // namespace lovar::e2e
