#include "files/batch_plan.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "files/csv.h"
#include "files/file_access.h"
#include "sim/device_sim.h"

namespace lovar {
namespace {
namespace fs = std::filesystem;

// A plan's folder with templates: m251.dat and other251.dat (model 251), m250.dat (model 250),
// junk.dat (no configuration file).
class BatchPlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("lovar-plan-" + std::to_string(random()));
    fs::create_directories(dir_ / "sub");
    Save("m251.dat", 251, SampleImage(251));
    ConfigImage other = SampleImage(251);
    other.SetText(512, 8, "Окно");  // loop1.name
    Save("other251.dat", 251, other);
    Save("m250.dat", 250, SampleImage(250));
    std::ofstream(dir_ / "junk.dat") << "not a configuration";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  void Save(const std::string& name, int model, const ConfigImage& image) {
    ASSERT_TRUE(SaveConfigFile(dir_ / name, model, image).ok());
  }
  PlanCheck Check(const std::string& text) const { return CheckBatchPlan(text, dir_ / "plan.csv"); }

  fs::path dir_;
};

TEST_F(BatchPlanTest, ASoundPlanGivesEachRowItsPortTemplateAndValues) {
  const PlanCheck check = Check(
      "\xEF\xBB\xBFport,template,object_number,direction1.phone,loop1.name\r\n"
      "/dev/ttyUSB0,m251.dat,1001,+79161110001,\r\n"
      ",,,,\r\n"  // a row a spreadsheet emptied
      "/dev/ttyUSB1, other251.dat ,1002,,\"Ск, \"\"В\"\"\"\r\n");
  ASSERT_TRUE(check.ok()) << check.faults.front();
  const BatchPlan& plan = check.plan;
  EXPECT_EQ(plan.model, 251);
  EXPECT_TRUE(plan.bom);
  ASSERT_EQ(plan.rows.size(), 2u);
  EXPECT_EQ(plan.rows[0].row, 2);
  EXPECT_EQ(plan.rows[1].row, 4);  // numbered as the spreadsheet shows it
  EXPECT_EQ(plan.rows[0].port, "/dev/ttyUSB0");
  EXPECT_EQ(plan.templates[plan.rows[0].template_index].path, dir_ / "m251.dat");
  EXPECT_EQ(plan.templates[plan.rows[1].template_index].path, dir_ / "other251.dat");
  const std::vector<PlanValue> first = RowValues(plan, plan.rows[0]);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(first[0].field->id, "object_number");
  EXPECT_EQ(first[1].field->id, "direction1.phone");
  EXPECT_EQ(first[1].text, "+79161110001");
  const std::vector<PlanValue> second = RowValues(plan, plan.rows[1]);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].text, "Ск, \"В\"");
  EXPECT_EQ(plan.rows[0].object_number, "1001");
  EXPECT_EQ(plan.rows[1].object_number, "1002");
}

TEST_F(BatchPlanTest, AnEmptyCellKeepsTheTemplatesValue) {
  const PlanCheck check = Check("port,template,object_number\nCOM3,m251.dat,\n");
  ASSERT_TRUE(check.ok()) << check.faults.front();
  EXPECT_TRUE(RowValues(check.plan, check.plan.rows[0]).empty());
  EXPECT_EQ(check.plan.rows[0].object_number, "1024");  // the sample's
}

struct FaultCase {
  const char* name;
  std::string plan;
  std::vector<std::string> faults;  // each begins with its place; a part of the text after it
};

class PlanFaults : public BatchPlanTest, public testing::WithParamInterface<FaultCase> {};

// Every fault is named with its row and column, in the table's order, and nothing else is.
TEST_P(PlanFaults, AreEachNamedWithRowAndColumn) {
  const PlanCheck check = Check(GetParam().plan);
  ASSERT_EQ(check.faults.size(), GetParam().faults.size()) << [&] {
    std::string all;
    for (const std::string& f : check.faults) all += f + "\n";
    return all;
  }();
  for (size_t i = 0; i < check.faults.size(); ++i) {
    const std::string& expected = GetParam().faults[i];
    const size_t colon = expected.find(": ");
    EXPECT_TRUE(check.faults[i].starts_with(expected.substr(0, colon + 2))) << check.faults[i];
    EXPECT_NE(check.faults[i].find(expected.substr(colon + 2)), std::string::npos)
        << check.faults[i];
  }
  EXPECT_FALSE(check.ok());
}

INSTANTIATE_TEST_SUITE_P(
    Plan, PlanFaults,
    testing::Values(
        FaultCase{"PortNamedTwice",
                  "port,template\nCOM3,m251.dat\nCOM4,m251.dat\ncom3,m251.dat\n",
                  {"строка 4, столбец A (port): порт com3 уже назван в строке 2"}},
        FaultCase{"ServerPortNamedTwice",
                  "port,template\nsocket://Srv:4001,m251.dat\nrfc2217://srv:4001,m251.dat\n",
                  {"строка 3, столбец A (port): порт rfc2217://srv:4001 уже назван в строке 2"}},
        FaultCase{"PortMissing",
                  "port,template\n ,m251.dat\n",
                  {"строка 2, столбец A (port): не указан порт"}},
        FaultCase{"TemplateMissing",
                  "port,template\nCOM1,\n",
                  {"строка 2, столбец B (template): не указан файл шаблона"}},
        FaultCase{"TemplateUnreadableSaidOnceForAllItsRows",
                  "port,template\nCOM1,absent.dat\nCOM2,absent.dat\nCOM3,m251.dat\n",
                  {"строка 2, столбец B (template): (этот шаблон и в строках 3)"}},
        FaultCase{"TemplateNoConfigurationFile",
                  "port,template\nCOM1,junk.dat\n",
                  {"строка 2, столбец B (template): junk.dat"}},
        FaultCase{"TemplateOfAnotherModel",
                  "port,template\nCOM1,m251.dat\nCOM2,m250.dat\n",
                  {"строка 3, столбец B (template): шаблон для модели Ловар-Т (250), а план — "
                   "для Ловар-М (251) (по шаблону строки 2)"}},
        FaultCase{"UnknownField",
                  "port,template,object_nuber\nCOM1,m251.dat,5\n",
                  {"строка 1, столбец C (object_nuber): у модели Ловар-М (251) нет такого поля"}},
        FaultCase{"FieldOfAnotherModel",
                  "port,template,object_number\nCOM1,m250.dat,5\n",
                  {"строка 1, столбец C (object_number): у модели Ловар-Т (250) нет такого поля"}},
        FaultCase{"ColumnNamedTwice",
                  "port,template,password,password\nCOM1,m251.dat,1,2\n",
                  {"строка 1, столбец D (password): столбец назван дважды (и в столбце C)"}},
        FaultCase{"NoPortColumn", "template\nm251.dat\n", {"строка 1: нет столбца port"}},
        FaultCase{"NoTemplateColumn", "port\nCOM1\n", {"строка 1: нет столбца template"}},
        FaultCase{"ValuesTheirFieldsRefuse",
                  "port,template,exit_time,loop1.type,direction1.phone,object_number\n"
                  "COM1,m251.dat,300,Охраный,12ab,1\n"
                  "COM2,m251.dat,30,Охранный,+7916,123456789\n",
                  {"строка 2, столбец C (exit_time): поле exit_time",
                   "строка 2, столбец D (loop1.type): «Охраный» нет в списке",
                   "строка 2, столбец E (direction1.phone): поле direction1.phone",
                   "строка 3, столбец F (object_number): поле object_number"}},
        FaultCase{"RowWithAMissingSeparator",
                  "port,template,object_number,password\nCOM1,m251.dat,1001\n",
                  {"строка 2: ячеек 3, а столбцов в заголовке 4"}},
        FaultCase{"ValueInAColumnWithoutName",
                  "port,template,\nCOM1,m251.dat,\nCOM2,m251.dat,7\n",
                  {"строка 3, столбец C: значение в столбце без имени"}},
        FaultCase{
            "RowStartingOnAnotherLine",
            "port,template,loop1.name\nCOM1,m251.dat,\"две\nстроки\"\nCOM2,m251.dat,123456789\n",
            {"строка 2, столбец C (loop1.name): в ячейке перевод строки",
             "строка 3 (строка файла 4), столбец C (loop1.name): поле loop1.name"}},
        FaultCase{"ControlCharactersInCells",
                  std::string("port,template,object_number,password\n"
                              "\"COM1\x01\",m251.dat,1001,\n"
                              "COM2,m251.dat,10\t01,\n"
                              "COM3,m251.dat,1003,\"12") +
                      '\0' + "3\"\n",
                  {"строка 2, столбец A (port): в ячейке управляющий знак с кодом 1",
                   "строка 3, столбец C (object_number): в ячейке табуляция",
                   "строка 4, столбец D (password): в ячейке нулевой байт"}},
        FaultCase{"WindowsNamesOfOnePort",
                  "port,template\nCOM12,m251.dat\n\\\\.\\com12,m251.dat\nCOM12:,m251.dat\n",
                  {"строка 3, столбец A (port): порт \\\\.\\com12 уже назван в строке 2",
                   "строка 4, столбец A (port): порт COM12: уже назван в строке 2"}},
        FaultCase{"ProtocolWithACyrillicLookAlikeIsTaken",
                  "port,template,direction1.protocol,direction2.protocol\n"
                  "COM1,m251.dat,ОФМ,ОФ\n",
                  {"строка 2, столбец D (direction2.protocol): «ОФ» нет в списке"}},
        FaultCase{"MalformedLine",
                  "port,template\nCOM1,m251.dat\nCOM2,\"m251.dat\"x\n",
                  {"строка 3: после закрывающей кавычки"}},
        FaultCase{"NotUtf8",
                  "port,template,loop1.name\r\nCOM1,m251.dat,\xC4\xE2\xE5\xF0\xFC\r\n",
                  {"строка 2: текст не в кодировке UTF-8 (в таблице сохраните план как «CSV "
                   "UTF-8»)"}},
        FaultCase{"NoRows", "port,template\n", {"в плане нет ни одной строки с прибором"}},
        FaultCase{"Empty", "", {"строка 1: нет заголовка"}},
        FaultCase{"SeveralFaultsInTheTablesOrder",
                  "port,template,exit_time\nCOM1,m251.dat,999\nCOM1,m250.dat,\nCOM3,,1\n",
                  {"строка 2, столбец C (exit_time): поле exit_time",
                   "строка 3, столбец A (port): порт COM1 уже назван в строке 2",
                   "строка 3, столбец B (template): шаблон для модели Ловар-Т (250)",
                   "строка 4, столбец B (template): не указан файл шаблона"}}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(BatchPlanTest, TwoPathsOfOneDeviceAreOnePort) {
  std::ofstream(dir_ / "ttyUSB0") << "";
  std::error_code error;
  fs::create_symlink(dir_ / "ttyUSB0", dir_ / "by-id", error);
  // Windows gives symbolic links only to a privileged user.
  if (error) GTEST_SKIP() << "no symbolic link here: " << error.message();
  const PlanCheck check = Check("port,template\n" + (dir_ / "ttyUSB0").string() + ",m251.dat\n" +
                                (dir_ / "by-id").string() + ",m251.dat\n");
  ASSERT_EQ(check.faults.size(), 1u);
  EXPECT_NE(check.faults[0].find("уже назван в строке 2"), std::string::npos);
}

// Two names of one character device, a link and its target: std::filesystem::equivalent does
// not compare devices, their device numbers do. Another device is another port.
TEST_F(BatchPlanTest, TwoNamesOfOneCharacterDeviceAreOnePort) {
  if (KindOf("/dev/null") != PathKind::Device) GTEST_SKIP() << "no /dev/null here";
  std::error_code error;
  fs::create_symlink("/dev/null", dir_ / "by-id", error);
  if (error) GTEST_SKIP() << "no symbolic link here: " << error.message();
  std::string plan = "port,template\n/dev/null,m251.dat\n" + (dir_ / "by-id").string() +
                     ",m251.dat\n/dev/zero,m251.dat\n";
  const PlanCheck check = Check(plan);
  ASSERT_EQ(check.faults.size(), 1u) << check.faults.front();
  EXPECT_TRUE(check.faults[0].starts_with("строка 3, столбец A (port): порт ")) << check.faults[0];
  EXPECT_NE(check.faults[0].find("уже назван в строке 2"), std::string::npos);
}

// The plan README.md shows is a plan the checker takes, over a model 251 template.
TEST_F(BatchPlanTest, TheReadmesExamplePlanIsSound) {
  std::ifstream readme(fs::path(LOVAR_SOURCE_DIR) / "README.md");
  if (!readme) GTEST_SKIP() << "the sources are not here";  // a build run elsewhere (Wine)
  const std::string text((std::istreambuf_iterator<char>(readme)), {});
  const size_t start = text.find("```\nport,template,");
  ASSERT_NE(start, std::string::npos) << "README.md shows no plan";
  const size_t end = text.find("```", start + 4);
  std::string plan = text.substr(start + 4, end - start - 4);
  ASSERT_TRUE(SaveConfigFile(dir_ / "rollout.dat", 251, SampleImage(251)).ok());
  const PlanCheck check = Check(plan);
  EXPECT_TRUE(check.ok()) << check.faults.front();
  EXPECT_EQ(check.plan.rows.size(), 3u);
}

TEST_F(BatchPlanTest, AModel251TemplateLeavesTheDevicesBytesFrom2048) {
  ConfigImage device = SampleImage(251);
  for (int i = 0; i < kImageCapacity; ++i) device[i] = static_cast<uint8_t>(i * 7);
  const ConfigImage before = device;
  const PlanCheck check =
      Check("port,template,object_number,key2.code\nCOM1,other251.dat,777,0102030405060708\n");
  ASSERT_TRUE(check.ok()) << check.faults.front();
  std::string why;
  ASSERT_TRUE(ApplyPlanRow(check.plan, check.plan.rows[0], device, why)) << why;
  ConfigImage expected = SampleImage(251);
  expected.SetText(512, 8, "Окно");
  expected.SetText(21, 8, "777");
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(device[i], expected[i]) << i;
  // Beyond the file: the device's own bytes, but the key the row names.
  const Field& key2 = *FindFieldById(251, "key2.code");
  EXPECT_EQ(FieldText(key2, device), "0102030405060708");
  for (int i = 2048; i < kImageCapacity; ++i) {
    if (i >= key2.offset && i <= key2.last()) continue;
    ASSERT_EQ(device[i], before[i]) << i;
  }
}

TEST_F(BatchPlanTest, APlanOfSomeRowsReadsBackAsThoseRows) {
  const std::string text =
      "port;template;loop1.name;password\r\n"
      "COM1;m251.dat;\"Ск; вор\";11111\r\n"
      "COM2;sub/../other251.dat;\"Ск; \"\"В\"\"\";\r\n"
      "COM3;m251.dat;;33333\r\n";
  const PlanCheck check = Check(text);
  ASSERT_TRUE(check.ok()) << check.faults.front();
  const std::vector<const PlanRow*> failed = {&check.plan.rows[1], &check.plan.rows[2]};

  // Beside the plan: the same cells.
  const PlanCheck beside =
      CheckBatchPlan(PlanOfRows(check.plan, failed, dir_ / "retry.csv"), dir_ / "retry.csv");
  ASSERT_TRUE(beside.ok()) << beside.faults.front();
  EXPECT_EQ(beside.plan.separator, ';');
  EXPECT_EQ(beside.plan.header, check.plan.header);
  ASSERT_EQ(beside.plan.rows.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(RowCells(beside.plan, beside.plan.rows[i]), RowCells(check.plan, *failed[i]));
    EXPECT_EQ(beside.plan.templates[beside.plan.rows[i].template_index].path,
              check.plan.templates[failed[i]->template_index].path);
  }

  // In another folder: the templates still found.
  const fs::path elsewhere = dir_ / "sub" / "retry.csv";
  const PlanCheck moved = CheckBatchPlan(PlanOfRows(check.plan, failed, elsewhere), elsewhere);
  ASSERT_TRUE(moved.ok()) << moved.faults.front();
  ASSERT_EQ(moved.plan.rows.size(), 2u);
  EXPECT_EQ(fs::canonical(moved.plan.templates[moved.plan.rows[0].template_index].path),
            fs::canonical(dir_ / "other251.dat"));
  EXPECT_EQ(RowValues(moved.plan, moved.plan.rows[0]), RowValues(check.plan, check.plan.rows[1]));
}

TEST_F(BatchPlanTest, APlanThatIsNoRegularFileIsNotRead) {
  const PlanCheck check = LoadBatchPlan(dir_ / "sub");
  EXPECT_TRUE(check.unreadable);
  ASSERT_EQ(check.faults.size(), 1u);
}

}  // namespace
}  // namespace lovar
