// Scene text lines, file reading, and parsing a whole scene.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scene/assembly.h"
#include "scene/scene_text.h"

namespace tovimar {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitLines, EveryKindOfLineBreak) {
  EXPECT_EQ(SplitLines(""), Lines{});
  EXPECT_EQ(SplitLines("a"), Lines{"a"});
  EXPECT_EQ(SplitLines("a\r\n"), Lines{"a"});
  EXPECT_EQ(SplitLines("a\r\n\r\n"), (Lines{"a", ""}));
  EXPECT_EQ(SplitLines("a\r\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(SplitLines("a\nb\rc\r\nd"), (Lines{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\n\rb"), (Lines{"a", "", "b"}));  // LF then a lone CR
  EXPECT_EQ(SplitLines("\r\n"), Lines{""});
  EXPECT_EQ(SplitLines("\n\n"), (Lines{"", ""}));
  EXPECT_EQ(SplitLines("a\r"), Lines{"a"});
  EXPECT_EQ(SplitLines(std::string_view("x\0y\nz", 5)), (Lines{std::string("x\0y", 3), "z"}));
}

TEST(JoinLines, CrLfWithoutFinalBreak) {
  EXPECT_EQ(JoinLines({}), "");
  EXPECT_EQ(JoinLines({""}), "");
  EXPECT_EQ(JoinLines({"a", "", "b"}), "a\r\n\r\nb");
  const Lines lines{"SPHERE;1", "", "EGO;0;0;0.1;0;0;0"};
  EXPECT_EQ(SplitLines(JoinLines(lines)), lines);
  // A last empty line is written as a final line break, which starts no line.
  EXPECT_EQ(SplitLines(JoinLines({"a", ""})), Lines{"a"});
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tovimar-scene-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::filesystem::path dir_;
};

using ReadFileBytesTest = TempDir;

TEST_F(ReadFileBytesTest, ReadsEveryByte) {
  std::string bytes;
  for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
  bytes += std::string(200000, 'x');  // more than one read
  const auto path = (dir_ / "scene.txt").string();
  std::ofstream(path, std::ios::binary) << bytes;
  EXPECT_EQ(ReadFileBytes(path), bytes);

  const auto empty = (dir_ / "empty.txt").string();
  std::ofstream(empty, std::ios::binary).close();
  EXPECT_EQ(ReadFileBytes(empty), "");
}

TEST_F(ReadFileBytesTest, FailuresNameThePath) {
  const auto missing = (dir_ / "missing.txt").string();
  try {
    ReadFileBytes(missing);
    FAIL() << "no error for a missing file";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find(missing), std::string::npos) << e.message();
    EXPECT_NE(e.message().find("Cannot open file"), std::string::npos) << e.message();
  }
  try {
    ReadFileBytes(dir_.string());
    FAIL() << "no error for a folder";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find(dir_.string()), std::string::npos) << e.message();
  }
}

// Never-ending or never-opening paths are refused at once, not read until
// memory runs out or waited on.
TEST_F(ReadFileBytesTest, DevicesPipesAndHugeFilesAreRefused) {
  const auto fifo = (dir_ / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {std::string("/dev/zero"), fifo}) {
    try {
      ReadFileBytes(path);
      ADD_FAILURE() << "no error for " << path;
    } catch (const Error& e) {
      EXPECT_EQ(e.message(), "Cannot open file " + path + ": not a regular file");
    }
  }
  const auto huge = (dir_ / "huge.txt").string();
  std::ofstream(huge).close();
  std::filesystem::resize_file(huge, kMaxSceneFileBytes + 1);  // sparse
  try {
    ReadFileBytes(huge);
    ADD_FAILURE() << "no error for a file past the limit";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find("more than a scene may"), std::string::npos) << e.message();
  }
}

class Reports : public LineNotifier {
 public:
  void NotifyLine(int line, const std::string& caption, const std::string& text) override {
    lines.push_back(line);
    captions.push_back(caption);
    texts.push_back(text);
  }
  std::vector<int> lines;
  std::vector<std::string> captions;
  std::vector<std::string> texts;
};

TEST(ParseScene, FilesObjectsAndNumbersReports) {
  const Lines scene{
      "FOCALLENGTH;400",  // 1
      "//FOG;",           // 2
      "SPHERE;1;0;1;1;1;0;0;0;0;0;0;0.5",
      "",
      "EGO;0;0;0.1;0;0;0",     // 5
      "QUAD;2;x;1",            // 6: one conversion error
      "EGO;1a2;0;0.2;0;0;0",   // 7: one conversion error, still short form
      "KULA;3;11",             // 8: texture past the list
      "NOISE;2.0;",
  };
  const std::vector<uint32_t> textures{10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  Prefs prefs;
  SceneModel model;
  Reports reports;
  ParseScene(scene, textures, ',', prefs, model, reports);

  ASSERT_EQ(model.solidObjects.size(), 3u);
  EXPECT_EQ(model.solidObjects[0]->kind, kSphere);
  EXPECT_EQ(model.solidObjects[1]->kind, kQuad);
  EXPECT_EQ(model.solidObjects[2]->id, 3);
  ASSERT_EQ(model.egoFrames.size(), 2u);
  EXPECT_EQ(model.egoFrames[0]->position, (Vec3{0, 0, 0.1}));
  EXPECT_EQ(model.egoFrames[1]->position, (Vec3{0, 0, 0.2}));
  EXPECT_EQ(prefs.focalLength, 400.0);
  EXPECT_EQ(prefs.noise, 2.0);
  EXPECT_FALSE(prefs.fog);

  EXPECT_EQ(reports.lines, (std::vector<int>{6, 7, 8}));
  EXPECT_EQ(reports.texts[0], "Convert error: ' ' is not a valid floating point value");
  EXPECT_EQ(reports.texts[1], "Convert error: '1 2' is not a valid floating point value");
  EXPECT_EQ(reports.captions[0], "");

  // The model is not cleared first: a second pass appends.
  ParseScene(scene, textures, ',', prefs, model, reports);
  EXPECT_EQ(model.solidObjects.size(), 6u);
  EXPECT_EQ(model.egoFrames.size(), 4u);
}

TEST(ParseScene, ReportsWhatPreparationCannotUse) {
  const Lines scene{
      "FOCALLENGTH;500;",           // 1: taken
      "FOCALLENGTH;0;",             // 2: ignored, 500 stays
      "FOCALLENGTH;",               // 3: no number reads 0: ignored too
      "PLANE;7;-1;1;1;1;0;0;0;1;2;3", // 4: all-zero normal
      "PLANE;8;-1;1;1;1;0;0;1;0;0;0", // 5: a floor, fine
  };
  Prefs prefs;
  prefs.focalLength = 389.0;
  SceneModel model;
  Reports reports;
  ParseScene(scene, {}, ',', prefs, model, reports);
  EXPECT_EQ(prefs.focalLength, 500.0);
  ASSERT_EQ(model.solidObjects.size(), 2u);  // the undrawable plane is kept, only reported
  EXPECT_EQ(reports.lines, (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(reports.texts[0],
            "FOCALLENGTH must be a positive number of pixels; the line is ignored and the focal length stays 500,000");
  EXPECT_EQ(reports.texts[2], "PLANE with id 7 has no usable normal (a, b and c are all 0) and is not drawn");
}

TEST(ParseScene, LocatingNotifierNamesSceneAndLine) {
  struct Boxes : Notifier {
    void Notify(const std::string& caption, const std::string& text) override { shown.push_back(caption + "|" + text); }
    std::vector<std::string> shown;
  } boxes;
  std::string name = "room.txt";
  LocatingLineNotifier named(boxes, [&name] { return name; });
  Prefs prefs;
  SceneModel model;
  // ("?" is no keyword, nor a word that would be warned about as one.)
  ParseScene({"//", "?;b"}, {}, '.', prefs, model, named);
  name.clear();
  ParseScene({"?;b"}, {}, '.', prefs, model, named);
  LocatingLineNotifier unnamed(boxes);
  ParseScene({"?;b"}, {}, '.', prefs, model, unnamed);
  EXPECT_EQ(boxes.shown, (std::vector<std::string>{"|room.txt:2: Convert error: ' ' is not a valid floating point value",
                                                   "|line 1: Convert error: ' ' is not a valid floating point value",
                                                   "|line 1: Convert error: ' ' is not a valid floating point value"}));
}

TEST(ParseScene, ByteOrderMarkBeforeTheFirstKeywordIsIgnored) {
  struct : LineNotifier {
    void NotifyLine(int line, const std::string&, const std::string& text) override {
      texts.push_back(std::to_string(line) + " " + text);
    }
    std::vector<std::string> texts;
  } reports;
  Prefs prefs;
  SceneModel model;
  ParseScene({"\xEF\xBB\xBFSPHERE;1;-1;1;1;1;0;2;0;0;0;0;0.5", "\xEF\xBB\xBFSPHERE;2;-1;1;1;1;0;2;0;0;0;0;0.5",
              "CUBOID;3;-1;1;1;1;0;2;0;0;0;0;1;1;1"},
             {}, '.', prefs, model, reports);
  // Only the file's own mark is dropped: one on a later line still hides
  // that line's keyword.
  ASSERT_EQ(model.solidObjects.size(), 2u);
  EXPECT_EQ(model.solidObjects[0]->id, 1);
  EXPECT_EQ(model.solidObjects[0]->kind, kSphere);
  EXPECT_EQ(model.solidObjects[1]->id, 3);
  EXPECT_TRUE(reports.texts.empty());
}

}  // namespace
}  // namespace tovimar
