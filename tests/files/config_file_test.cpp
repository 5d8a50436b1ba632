#include "files/config_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "files/utf8_path.h"
#include "support/pattern_image.h"

namespace lovar {
namespace {
namespace fs = std::filesystem;
using testing::PatternImage;

// A fresh folder per test, removed afterwards.
class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    dir_ = fs::temp_directory_path() / ("lovar-files-" + std::to_string(random()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  static void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  static std::vector<uint8_t> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  size_t EntriesInDir() const {
    return static_cast<size_t>(
        std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
};

// A file with a header of `header` bytes (at least the length and model bytes) naming `model`, then
// `image_bytes` bytes of a pattern.
std::vector<uint8_t> HandMadeFile(int header, int model, int image_bytes, uint8_t seed = 3) {
  std::vector<uint8_t> file(static_cast<size_t>(std::max(header, 2)), 0);
  file[0] = static_cast<uint8_t>(header);
  file[1] = static_cast<uint8_t>(model);
  for (int i = 0; i < image_bytes; ++i) file.push_back(static_cast<uint8_t>(i * 7 + seed));
  return file;
}

TEST(ConfigFileFormat, FileIsHeaderThenTheModelsImageBytes) {
  struct Row {
    int model;
    size_t size;
    std::vector<uint8_t> head;  // 100, the model, 1, the name in Windows-1251
  };
  const std::vector<Row> rows = {
      {250, 356, {100, 250, 1, 0xCB, 0xEE, 0xE2, 0xE0, 0xF0, 0x2D, 0xD2}},   // "Ловар-Т"
      {251, 2148, {100, 251, 1, 0xCB, 0xEE, 0xE2, 0xE0, 0xF0, 0x2D, 0xCC}},  // "Ловар-М"
      {252, 356, {100, 252, 1, 0xCB, 0xEE, 0xE2, 0xE0, 0xF0, 0x2D, 0xD2}},
  };
  const ConfigImage image = PatternImage(1);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.model);
    const std::vector<uint8_t> file = SerializeConfigFile(row.model, image);
    ASSERT_EQ(file.size(), row.size);
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 10), row.head);
    for (size_t i = 10; i < 100; ++i) EXPECT_EQ(file[i], 0) << i;
    for (size_t i = 100; i < row.size; ++i) ASSERT_EQ(file[i], image[int(i) - 100]) << i;
  }
}

// The header's first byte gives its length (2 to 200); the image follows it.
TEST(ConfigFileFormat, ParseAcceptsOrRefusesAndARefusalChangesNothing) {
  struct Row {
    const char* what;
    std::vector<uint8_t> file;
    FileError error;
  };
  std::vector<uint8_t> inside_header = HandMadeFile(100, 250, 0);
  inside_header.resize(50);
  const std::vector<Row> rows = {
      {"header 0", HandMadeFile(0, 250, 256), FileError::BadHeader},
      {"header 1", HandMadeFile(1, 250, 256), FileError::BadHeader},
      {"header 2", HandMadeFile(2, 250, 256), FileError::None},
      {"header 50", HandMadeFile(50, 250, 256), FileError::None},
      {"header 200", HandMadeFile(200, 250, 256), FileError::None},
      {"header 201", HandMadeFile(201, 250, 256), FileError::BadHeader},
      {"header 255", HandMadeFile(255, 250, 256), FileError::BadHeader},
      {"bytes after the image", HandMadeFile(100, 252, 300), FileError::None},
      {"full 251", HandMadeFile(100, 251, 2048), FileError::None},
      {"empty", {}, FileError::BadHeader},
      {"ends inside the header", inside_header, FileError::BadHeader},
      {"header only", HandMadeFile(100, 250, 0), FileError::Truncated},
      {"one image byte short (250)", HandMadeFile(100, 250, 255), FileError::Truncated},
      {"one image byte short (251)", HandMadeFile(100, 251, 2047), FileError::Truncated},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const int model = row.file.size() > 1 ? row.file[1] : 250;
    const int held = model == 251 ? 2048 : 256;
    ConfigImage image = PatternImage(9);
    const ConfigImage before = image;
    const FileResult result = ParseConfigFile(row.file, model, image);
    EXPECT_EQ(result.error, row.error);
    if (row.error == FileError::None) {
      EXPECT_EQ(image[0], 3);  // the image starts right after the header
      EXPECT_EQ(image[held - 1], static_cast<uint8_t>((held - 1) * 7 + 3));
      EXPECT_EQ(image[held], before[held]);
    } else {
      EXPECT_EQ(image, before);
      EXPECT_FALSE(MessageFor(result).text.empty());
    }
    if (row.error == FileError::BadHeader) {
      EXPECT_EQ(MessageFor(result).caption, "Неверный тип УО");
      EXPECT_EQ(MessageFor(result).text, "Ошибка");
    }
    if (row.error == FileError::Truncated) {
      EXPECT_EQ(DescribeError(result), "Файл повреждён: он короче заголовка и образа");
    }
  }
}

TEST(ConfigFileFormat, FileOfAnotherModelIsRefused) {
  struct Row {
    int file_model;
    int current_model;
    const char* line;
  };
  const Row rows[] = {
      {250, 251, "Неверный тип УО: файл для Ловар-Т, прибор Ловар-М"},
      {251, 250, "Неверный тип УО: файл для Ловар-М, прибор Ловар-Т"},
      {252, 250, "Неверный тип УО: файл для Ловар-Т (252), прибор Ловар-Т (250)"},
      {7, 7, "Неверный тип УО: файл для модели (7), прибор модели (7)"},
      {0, 251, "Неверный тип УО: файл для модели (0), прибор Ловар-М (251)"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.line);
    ConfigImage image = PatternImage(4);
    const ConfigImage before = image;
    const FileResult result =
        ParseConfigFile(HandMadeFile(100, row.file_model, 2048), row.current_model, image);
    EXPECT_EQ(result.error, FileError::WrongModel);
    EXPECT_EQ(result.file_model, row.file_model);
    EXPECT_EQ(image, before);
    EXPECT_EQ(MessageFor(result).caption, "Неверный тип УО");
    EXPECT_EQ(MessageFor(result).text, "Ошибка");
    EXPECT_EQ(DescribeError(result), row.line);
  }
}

// A load replaces only the bytes the file holds: on 251 the keys at 3584 stay.
TEST_F(ConfigFileTest, SavedFileLoadsBackOverTheImageBytesItHolds) {
  for (auto [model, size] : {std::pair{250, 356}, std::pair{251, 2148}}) {
    SCOPED_TRACE(model);
    const fs::path path = dir_ / "config.dat";
    const ConfigImage saved = PatternImage(11);
    ASSERT_TRUE(SaveConfigFile(path, model, saved).ok());
    EXPECT_EQ(fs::file_size(path), static_cast<uintmax_t>(size));
    EXPECT_EQ(PeekFileModel(path), model);
    ConfigImage loaded = PatternImage(99);
    const ConfigImage before = loaded;
    ASSERT_TRUE(LoadConfigFile(path, model, loaded).ok());
    const int held = size - 100;
    for (int i = 0; i < held; ++i) ASSERT_EQ(loaded[i], saved[i]) << i;
    for (int i = held; i < kImageCapacity; ++i) ASSERT_EQ(loaded[i], before[i]) << i;
  }
}

TEST_F(ConfigFileTest, UnreadableFileIsRefusedWithSystemText) {
  const fs::path path = dir_ / "missing.dat";
  ConfigImage image = PatternImage(3);
  const ConfigImage before = image;
  const FileResult result = LoadConfigFile(path, 250, image);
  EXPECT_EQ(result.error, FileError::CannotOpen);
  EXPECT_FALSE(result.system_message.empty());
  EXPECT_EQ(image, before);
  EXPECT_EQ(MessageFor(result).caption, "Неверный тип УО");
  EXPECT_EQ(DescribeError(result),
            "Не удалось открыть файл «" + ShownPath(path) + "»: " + result.system_message);
  EXPECT_EQ(PeekFileModel(path), 0);
}

TEST_F(ConfigFileTest, SaveReplacesAnExistingFileWhole) {
  const fs::path path = dir_ / "config.dat";
  ASSERT_TRUE(SaveConfigFile(path, 251, PatternImage(1)).ok());
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(SaveConfigFile(path, 250, PatternImage(2)).ok());
  EXPECT_EQ(ReadFile(path), SerializeConfigFile(250, PatternImage(2)));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(EntriesInDir(), 1u);  // no temporary file left behind
}

TEST_F(ConfigFileTest, DirectoryIsNeitherLoadedNorSavedOver) {
  const fs::path path = dir_ / "taken";
  fs::create_directory(path);
  WriteFile(path / "inside", {1, 2, 3});
  const FileResult saved = SaveConfigFile(path, 250, PatternImage(1));
  EXPECT_EQ(saved.error, FileError::CannotWrite);
  EXPECT_EQ(saved.kind, PathKind::Directory);
  const std::string named = "«" + ShownPath(path) + "»";
  EXPECT_EQ(DescribeError(saved),
            "Не удалось записать файл " + named + ": это каталог, а не обычный файл");
  EXPECT_EQ(MessageFor(saved).text, DescribeError(saved) + ".");
  EXPECT_TRUE(fs::is_directory(path));
  EXPECT_EQ(ReadFile(path / "inside"), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(EntriesInDir(), 1u);
  ConfigImage image;
  const FileResult loaded = LoadConfigFile(path, 250, image);
  EXPECT_EQ(loaded.error, FileError::CannotOpen);
  EXPECT_EQ(DescribeError(loaded),
            "Не удалось открыть файл " + named + ": это каталог, а не обычный файл");
  EXPECT_EQ(PeekFileModel(path), 0);
}

// The system error in Russian, after the file named with the system's own separators, also for
// a path typed with slashes (backslashes on Windows).
TEST_F(ConfigFileTest, FailuresNameTheFileAndSayTheSystemErrorInRussian) {
  const std::string typed = Utf8Of(dir_) + "/no/such.dat";
  const std::string sep(1, static_cast<char>(fs::path::preferred_separator));
  const std::string named = "«" + Utf8Of(dir_) + sep + "no" + sep + "such.dat»";
  const auto russian = [](const std::string& text) {
    return !text.empty() && std::none_of(text.begin(), text.end(), [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
  };
  ConfigImage image;
  const FileResult loaded = LoadConfigFile(PathFromUtf8(typed), 250, image);
  EXPECT_EQ(loaded.error, FileError::CannotOpen);
  EXPECT_EQ(DescribeError(loaded),
            "Не удалось открыть файл " + named + ": " + loaded.system_message);
  const FileResult saved = SaveConfigFile(PathFromUtf8(typed), 250, PatternImage(1));
  EXPECT_EQ(saved.error, FileError::CannotWrite);
  EXPECT_EQ(DescribeError(saved),
            "Не удалось записать файл " + named + ": " + saved.system_message);
  EXPECT_EQ(MessageFor(saved).text, DescribeError(saved) + ".");
  EXPECT_TRUE(russian(loaded.system_message)) << loaded.system_message;
  EXPECT_TRUE(russian(saved.system_message)) << saved.system_message;
  // A file refused for its content names it as well.
  WriteFile(dir_ / "short.dat", {100, 250, 1});
  EXPECT_EQ(DescribeError(LoadConfigFile(dir_ / "short.dat", 250, image)),
            "Неверный тип УО: неверный заголовок файла «" + ShownPath(dir_ / "short.dat") + "»");
}

TEST_F(ConfigFileTest, TemporariesOfAKilledSaveGoWithTheNextSaveOfTheSameFile) {
  const std::vector<std::string> left = {"config.dat.lovar-0123abcd.tmp",
                                         "config.dat.lovar-ffffffff.tmp"};
  const std::vector<std::string> others = {"config.dat.lovar-xyz.tmp", "other.dat.lovar-0123abcd.tmp",
                                           "config.dat.lovar-0123abcd.tmp.keep"};
  for (const auto& name : left) WriteFile(dir_ / name, {1});
  for (const auto& name : others) WriteFile(dir_ / name, {2});
  ASSERT_TRUE(SaveConfigFile(dir_ / "config.dat", 250, PatternImage(1)).ok());
  for (const auto& name : left) EXPECT_FALSE(fs::exists(dir_ / name)) << name;
  for (const auto& name : others) EXPECT_TRUE(fs::exists(dir_ / name)) << name;
  EXPECT_EQ(EntriesInDir(), 1u + others.size());
}

// Names in any script, beyond the ANSI code page of a Windows system; a killed save's temporary
// of such a file is found too.
TEST_F(ConfigFileTest, FilesNamedInAnyScriptAreSavedAndLoaded) {
  const fs::path file = dir_ / fs::path(u8"Объект №7 – 中文.dat");
  fs::path left = file;
  left += ".lovar-0123abcd.tmp";
  WriteFile(left, {1});
  ASSERT_TRUE(SaveConfigFile(file, 251, PatternImage(5)).ok());
  EXPECT_FALSE(fs::exists(left));
  ConfigImage loaded;
  ASSERT_TRUE(LoadConfigFile(file, 251, loaded).ok());
  EXPECT_EQ(loaded[2047], PatternImage(5)[2047]);
  EXPECT_EQ(EntriesInDir(), 1u);
}

TEST_F(ConfigFileTest, SaveThroughASymlinkReplacesItsTarget) {
  for (bool target_exists : {true, false}) {
    SCOPED_TRACE(target_exists ? "existing target" : "dangling link");
    const fs::path target = dir_ / (target_exists ? "real.dat" : "new.dat");
    const fs::path link = dir_ / (target_exists ? "link.dat" : "dangling.dat");
    if (target_exists) WriteFile(target, {9});
    fs::create_symlink(target, link);
    ASSERT_TRUE(SaveConfigFile(link, 252, PatternImage(1)).ok());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFile(target), SerializeConfigFile(252, PatternImage(1)));
  }
}

TEST_F(ConfigFileTest, SaveWithoutAModelWritesNothing) {
  const fs::path path = dir_ / "none.dat";
  const FileResult result = SaveConfigFile(path, 0, PatternImage(1));
  EXPECT_EQ(result.error, FileError::UnknownModel);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(DescribeError(result).empty());
}

TEST_F(ConfigFileTest, DefaultFoldersAndNames) {
  struct Row {
    int model;
    const char* load;
    const char* save;
    bool save_in_folder;
    const char* name;
  };
  const Row rows[] = {{250, "LovarT", "LovarT", false, "Lovart.dat"},
                      {251, "LovarM", "LovarM", true, "LovarM.dat"},
                      {252, "LovarT2", "LovarT-2", false, "Lovart.dat"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.model);
    EXPECT_EQ(DefaultsFor(row.model).save_dialog_in_model_folder, row.save_in_folder);
    EXPECT_EQ(DefaultsFor(row.model).file_name, row.name);
    EXPECT_EQ(PrepareDefaultFolder(dir_, row.model, true), dir_ / row.save);
    EXPECT_TRUE(fs::is_directory(dir_ / row.save));
    EXPECT_EQ(PrepareDefaultFolder(dir_, row.model, false), dir_ / row.load);
    EXPECT_TRUE(fs::is_directory(dir_ / row.load));
  }
  EXPECT_EQ(PrepareDefaultFolder(dir_, 0, false), dir_);
  EXPECT_EQ(DefaultsFor(0).file_name, "");
}

}  // namespace
}  // namespace lovar
