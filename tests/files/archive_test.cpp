// The archive in a real temporary folder: whole configuration files, named by time, model and
// object number, listed newest first, never more than its bound, and nothing else touched.
#include "files/archive.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "files/utf8_path.h"
#include "model/catalog.h"
#include "model/image_diff.h"
#include "support/pattern_image.h"

namespace lovar {
namespace {
namespace fs = std::filesystem;
using testing::PatternImage;

ConfigImage WithObject(int model, uint8_t seed, const char* object) {
  ConfigImage image = PatternImage(seed);
  if (const Field* f = FindFieldById(model, "object_number")) {
    std::string why;
    EXPECT_TRUE(StoreFieldText(*f, image, object, why)) << why;
  }
  return image;
}

ArchiveTime At(int minute, int second = 0) {
  return {2024, 5, 1, 12, minute, second};
}

std::string Name(const fs::path& path) {
  return Utf8Of(path.filename());
}

class Archive : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    root_ = fs::temp_directory_path() / ("lovar-archive-" + std::to_string(random()));
    folder_ = ArchiveFolder(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  fs::path root_, folder_;
};

TEST_F(Archive, EachFileIsAWholeConfigurationFileThatLoadsAsAnyOther) {
  for (int model : {250, 251, 252}) {
    SCOPED_TRACE(model);
    const ConfigImage image = WithObject(model, static_cast<uint8_t>(model), "1024");
    const ArchiveResult kept = SaveToArchive(folder_, model, image, At(model - 250));
    ASSERT_TRUE(kept.ok) << kept.message;
    EXPECT_EQ(kept.path.parent_path(), folder_);
    // Any reader of configuration files takes it as one.
    ConfigImage loaded;
    ASSERT_TRUE(LoadConfigFile(kept.path, model, loaded).ok());
    for (int i = 0; i < FileImageLength(model); ++i) ASSERT_EQ(loaded[i], image[i]) << i;
    // And the archive's own load gives the whole image: a model 251 device's keys too.
    ConfigImage whole;
    int bytes = 0;
    ASSERT_TRUE(LoadWholeImage(kept.path, model, whole, bytes).ok());
    EXPECT_EQ(bytes, ImageLength(model));
    for (int i = 0; i < ImageLength(model); ++i) ASSERT_EQ(whole[i], image[i]) << i;
    EXPECT_EQ(fs::file_size(kept.path), static_cast<uintmax_t>(100 + ImageLength(model)));
  }
}

// A write let past the check's errors is kept with its note after the image: the file loads as
// any other, the note is read back, and a line break cannot end it early.
TEST_F(Archive, AKeptWritesNoteFollowsTheImageAndTheFileLoadsAsBefore) {
  for (int model : {250, 251}) {
    SCOPED_TRACE(model);
    const ConfigImage image = WithObject(model, static_cast<uint8_t>(model), "77");
    const ArchiveResult kept =
        SaveToArchive(folder_, model, image, At(model - 250), kArchiveKeep, "Записано\nвсё равно");
    ASSERT_TRUE(kept.ok) << kept.message;
    ConfigImage loaded, whole;
    ASSERT_TRUE(LoadConfigFile(kept.path, model, loaded).ok());
    for (int i = 0; i < FileImageLength(model); ++i) ASSERT_EQ(loaded[i], image[i]) << i;
    int bytes = 0;
    ASSERT_TRUE(LoadWholeImage(kept.path, model, whole, bytes).ok());
    EXPECT_EQ(bytes, ImageLength(model));
    for (int i = 0; i < ImageLength(model); ++i) ASSERT_EQ(whole[i], image[i]) << i;
    const std::vector<ArchiveEntry> listed = ListArchive(folder_);
    ASSERT_FALSE(listed.empty());
    EXPECT_EQ(listed.front().note, "Записано всё равно");
    EXPECT_EQ(listed.front().object, model == 251 ? "77" : "");  // 250 has no object number
  }
  // A read keeps no note.
  const ArchiveResult read = SaveToArchive(folder_, 252, PatternImage(3), At(9));
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(ListArchive(folder_).front().note, "");
}

TEST_F(Archive, FilesAreNamedByTimeModelAndObjectNumber) {
  struct Row {
    int model;
    const char* object;
    const char* name;
  };
  const std::vector<Row> rows = {
      {251, "1024", "2024-05-01_12-30-05_LovarM_1024.dat"},
      {250, "", "2024-05-01_12-30-05_LovarT.dat"},
      {252, "", "2024-05-01_12-30-05_LovarT2.dat"},
      // The installer's text: what a file name cannot hold becomes "_", letters stay.
      {251, "a/b.c d", "2024-05-01_12-30-05_LovarM_a_b_c_d.dat"},
      {251, "Дом 5", "2024-05-01_12-30-05_LovarM_Дом_5.dat"},
      {251, "..", "2024-05-01_12-30-05_LovarM___.dat"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ConfigImage image = WithObject(row.model, 0, row.object);
    EXPECT_EQ(ArchiveFileName(row.model, image, At(30, 5)), row.name);
  }
  EXPECT_EQ(ArchiveFileName(250, ConfigImage{}, At(30, 5), 3), "2024-05-01_12-30-05-3_LovarT.dat");
}

TEST_F(Archive, ListsNewestFirstWithModelAndObjectNumber) {
  ASSERT_TRUE(SaveToArchive(folder_, 251, WithObject(251, 1, "11"), At(1)).ok);
  ASSERT_TRUE(SaveToArchive(folder_, 250, PatternImage(2), At(3)).ok);
  ASSERT_TRUE(SaveToArchive(folder_, 251, WithObject(251, 3, "33"), At(2)).ok);
  // Two reads in one second keep both, the later one first.
  const ArchiveResult again = SaveToArchive(folder_, 251, WithObject(251, 4, "44"), At(2));
  ASSERT_TRUE(again.ok);
  EXPECT_EQ(Name(again.path), "2024-05-01_12-02-00-2_LovarM_44.dat");
  const std::vector<ArchiveEntry> list = ListArchive(folder_);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0].model, 250);
  EXPECT_EQ(list[0].object, "");
  EXPECT_EQ(list[1].object, "44");
  EXPECT_EQ(list[2].object, "33");
  EXPECT_EQ(list[3].object, "11");
  EXPECT_EQ(ArchiveTimeText(list[3].time), "01.05.2024 12:01:00");
  EXPECT_TRUE(ListArchive(root_ / "missing").empty());
}

TEST_F(Archive, KeepsOnlyTheNewestAndLeavesOtherFilesAlone) {
  fs::create_directories(folder_);
  const fs::path mine = folder_ / "мой файл.dat";
  std::ofstream(mine) << "installer's own";
  const fs::path look_alike = folder_ / "2024-05-01_12-00-00_Other.dat";
  std::ofstream(look_alike) << "not the archive's";
  constexpr int kKeep = 5;
  for (int i = 0; i < 12; ++i) {
    const ArchiveResult kept =
        SaveToArchive(folder_, 250, PatternImage(static_cast<uint8_t>(i)), At(10 + i), kKeep);
    ASSERT_TRUE(kept.ok) << kept.message;
    EXPECT_EQ(kept.removed, i < kKeep ? 0 : 1);
  }
  const std::vector<ArchiveEntry> list = ListArchive(folder_);
  ASSERT_EQ(list.size(), static_cast<size_t>(kKeep));
  EXPECT_EQ(list.front().time, At(21));
  EXPECT_EQ(list.back().time, At(17));
  EXPECT_TRUE(fs::exists(mine));
  EXPECT_TRUE(fs::exists(look_alike));
  // The default bound.
  for (int i = 0; i < kArchiveKeep + 3; ++i)
    ASSERT_TRUE(SaveToArchive(folder_, 252, PatternImage(1), {2025, 1, 1, 0, i / 60, i % 60}).ok);
  EXPECT_EQ(ListArchive(folder_).size(), static_cast<size_t>(kArchiveKeep));
}

// A clock set back must not make the read just kept the first to go.
TEST_F(Archive, TheFileJustWrittenIsNeverPruned) {
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(SaveToArchive(folder_, 250, PatternImage(1), At(40 + i), 3).ok);
  const ArchiveResult kept = SaveToArchive(folder_, 250, PatternImage(2), At(1), 3);
  ASSERT_TRUE(kept.ok);
  EXPECT_TRUE(fs::exists(kept.path));
  EXPECT_EQ(kept.removed, 1);
  EXPECT_EQ(ListArchive(folder_).size(), 3u);
}

TEST_F(Archive, AnUnknownModelIsNotKept) {
  const ArchiveResult kept = SaveToArchive(folder_, 99, PatternImage(0), At(0));
  EXPECT_FALSE(kept.ok);
  EXPECT_FALSE(fs::exists(folder_));
}

TEST_F(Archive, AFolderThatCannotBeMadeIsSaid) {
  fs::create_directories(root_);
  std::ofstream(root_ / "file") << "x";
  const ArchiveResult kept = SaveToArchive(root_ / "file" / "Архив", 250, PatternImage(0), At(0));
  EXPECT_FALSE(kept.ok);
  EXPECT_FALSE(kept.message.empty());
}

TEST_F(Archive, FilesLiveBesideThePerModelFoldersWhereTheProgramsFolderIsWritable) {
  fs::create_directories(root_);
  EXPECT_EQ(FilesRoot(root_, root_ / "user"), root_);
  EXPECT_FALSE(fs::exists(root_ / "user"));
  EXPECT_EQ(Name(ArchiveFolder(root_)), "Архив");
  // A folder that does not exist and cannot be made: the user's folder, made.
  EXPECT_EQ(FilesRoot(root_ / "file-not-folder" / "bin", root_ / "user"), root_ / "user");
  std::ofstream(root_ / "file-not-folder") << "x";
  EXPECT_EQ(FilesRoot(root_ / "file-not-folder" / "bin", root_ / "user"), root_ / "user");
  EXPECT_TRUE(fs::is_directory(root_ / "user"));
  // An installed program's folder, writable or not: the user's folder, and nothing beside it.
  EXPECT_EQ(FilesRoot(root_, root_ / "user2", /*installed=*/true), root_ / "user2");
  EXPECT_TRUE(fs::is_directory(root_ / "user2"));
  // No probe left behind.
  for (const auto& e : fs::directory_iterator(root_)) EXPECT_NE(Name(e.path())[0], '.');
}

}  // namespace
}  // namespace lovar
