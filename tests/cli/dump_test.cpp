// The scene check: JSON text for any bytes, the dump of the editor's example
// scene, and the tool's exit codes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "scene/scene_dump.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"

namespace tovimar::cli {
namespace {

using Json = nlohmann::json;

// The JSON value of text, discarded unless text is valid UTF-8 JSON. The
// parser skips a leading byte order mark, which JSON text must not have.
Json Parse(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) return Json(Json::value_t::discarded);
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

// The items of an array; any other type throws and fails the test (size() would count
// an object's members or give 1 for a scalar).
const Json::array_t& Items(const Json& value) { return value.get_ref<const Json::array_t&>(); }

std::string ReadJsonString(const std::string& literal) {
  const Json value = Parse(literal);
  EXPECT_FALSE(value.is_discarded()) << literal;
  if (value.is_discarded()) return "<invalid>";
  EXPECT_TRUE(value.is_string()) << literal;
  return value.is_string() ? value.get<std::string>() : "<not a string>";
}

// What the parser gives back for bytes that JsonString had to escape.
std::string Latin1ToUtf8(unsigned char c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

TEST(JsonString, EscapesWhatJsonForbids) {
  EXPECT_EQ(JsonString("plain"), "\"plain\"");
  EXPECT_EQ(JsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(JsonString("\r\n\t\b\f"), "\"\\r\\n\\t\\b\\f\"");
  EXPECT_EQ(JsonString(std::string("\0\x01\x1f\x7f", 4)), "\"\\u0000\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString("Łódź €"), "\"Łódź €\"");  // valid UTF-8 stays as it is
  EXPECT_EQ(JsonString("\xff\xc3"), "\"\\u00ff\\u00c3\"");  // invalid and truncated sequences
  EXPECT_EQ(JsonString("\xc0\xaf"), "\"\\u00c0\\u00af\"");  // overlong '/'
  EXPECT_EQ(JsonString("\xed\xa0\x80"), "\"\\u00ed\\u00a0\\u0080\"");  // a surrogate
  EXPECT_EQ(JsonString("\xf4\x90\x80\x80"), "\"\\u00f4\\u0090\\u0080\\u0080\"");  // above U+10FFFF
}

TEST(JsonString, AnyBytesGiveValidJson) {
  for (int c = 0; c < 256; ++c) {
    const std::string byte(1, static_cast<char>(c));
    EXPECT_EQ(ReadJsonString(JsonString(byte)), Latin1ToUtf8(static_cast<unsigned char>(c))) << c;
  }
  std::mt19937 random(12345);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(random() % 24, '\0');
    for (char& b : bytes) b = static_cast<char>(random() % 256);
    ASSERT_FALSE(Parse(JsonString(bytes)).is_discarded()) << JsonString(bytes);
  }
}

TEST(JsonNumber, ShortestRoundTrip) {
  EXPECT_EQ(JsonNumber(389.0), "389");
  EXPECT_EQ(JsonNumber(0.12), "0.12");
  EXPECT_EQ(JsonNumber(-0.0), "-0");
  EXPECT_EQ(JsonNumber(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(JsonNumber(std::numeric_limits<double>::infinity()), "null");
  const double tiny = std::numeric_limits<double>::denorm_min();
  const Json back = Parse(JsonNumber(tiny));
  ASSERT_FALSE(back.is_discarded());
  EXPECT_EQ(back.get<double>(), tiny);
  EXPECT_FALSE(Parse(JsonNumber(1e300)).is_discarded());
}

TEST(EditorPrefs, EitherMarkUnderEitherSeparator) {
  for (char sep : {'.', ','}) {
    const Prefs prefs = EditorPrefs("389,0", "0.12", sep);
    EXPECT_EQ(prefs.focalLength, 389.0);
    EXPECT_EQ(prefs.baseline, 0.12);
    EXPECT_EQ(prefs.noise, 0.0);
    EXPECT_FALSE(prefs.fog);
  }
  try {
    EditorPrefs("38a", "0,12", ',');
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "focal length: '38a' is not a valid floating point value");
  }
  EXPECT_THROW(EditorPrefs("389", "0.1.2", '.'), Error);
  // The renderer refuses a focal length that is not positive; so does the check.
  EXPECT_THROW(EditorPrefs("0", "0,12", '.'), Error);
  EXPECT_THROW(EditorPrefs("-389", "0,12", '.'), Error);
}

Json Dump(const std::vector<std::string>& lines, const std::string& file = "scene.txt") {
  const std::string text = SceneDumpJson(file, lines, EditorPrefs("389,0", "0,12", '.'), '.');
  const Json json = Parse(text);
  EXPECT_FALSE(json.is_discarded()) << text;
  return json.is_discarded() ? Json() : json;
}

std::vector<std::string> ExampleLines() {
  return SplitLines(ReadFileBytes(TOVIMAR_SOURCE_DIR "/examples/sceneexample.txt"));
}

TEST(SceneDumpJson, EditorExampleScene) {
  const Json dump = Dump(ExampleLines());
  EXPECT_EQ(dump.at("file").get<std::string>(), "scene.txt");
  EXPECT_FALSE(dump.at("prefs").at("fog").get<bool>());
  EXPECT_TRUE(dump.at("prefs").at("fog").is_boolean());
  EXPECT_EQ(dump.at("prefs").at("focalLength").get<double>(), 389.0);
  EXPECT_EQ(dump.at("prefs").at("baseline").get<double>(), 0.12);
  EXPECT_EQ(dump.at("prefs").at("noise").get<double>(), 2.0);

  const auto& solids = Items(dump.at("solidObjects"));
  ASSERT_EQ(solids.size(), 9u);
  const int kinds[] = {1, 1, 2, 2, 5, 4, 4, 4, 4};
  const int ids[] = {254, 25, 40, 45, 50, 100, 120, 140, 160};
  for (std::size_t k = 0; k < 9; ++k) {
    EXPECT_EQ(solids.at(k).at("kind").get<double>(), kinds[k]) << k;
    EXPECT_EQ(solids.at(k).at("id").get<double>(), ids[k]) << k;
    for (const char* key : {"texture", "colour", "position", "rotation"}) {
      EXPECT_TRUE(solids.at(k).contains(key)) << key;
    }
  }
  EXPECT_TRUE(solids.at(0).at("texture").is_null());  // texture -1: untextured
  EXPECT_EQ(solids.at(1).at("texture").get<std::string>(), "tex9.bmp");
  EXPECT_EQ(solids.at(5).at("texture").get<std::string>(), "tex10.bmp");
  EXPECT_EQ(solids.at(8).at("texture").get<std::string>(), "tex0.bmp");
  EXPECT_EQ(solids.at(0).at("colour").at(2).get<double>(), 11.0);
  EXPECT_EQ(solids.at(0).at("radius").get<double>(), 24.65);
  EXPECT_EQ(solids.at(2).at("halfSize").at(2).get<double>(), 2.0);
  EXPECT_EQ(solids.at(4).at("baseRadius").get<double>(), 0.45);
  EXPECT_EQ(solids.at(4).at("topRadius").get<double>(), 0.1);
  EXPECT_EQ(solids.at(4).at("height").get<double>(), 2.0);
  EXPECT_EQ(solids.at(8).at("vertices").at(3).at(1).get<double>(), 6.0);
  EXPECT_EQ(solids.at(8).at("colour").at(2).get<double>(), 0.5);

  const auto& frames = Items(dump.at("egoFrames"));
  ASSERT_EQ(frames.size(), 5u);
  EXPECT_EQ(frames.at(2).at("position").at(2).get<double>(), 0.3);
  EXPECT_EQ(frames.at(2).at("rotation").at(1).get<double>(), 3.0);
  EXPECT_TRUE(dump.at("errors").is_array());
  EXPECT_TRUE(Items(dump.at("errors")).empty());
}

TEST(SceneDumpJson, ErrorsCarryLineNumbers) {
  const Json dump = Dump({"NOISE;1e3", "PLANE;1;2;3;4;5;1;0;0;2;5;7", "// a; b", "KULA;1;12"});
  const auto& errors = Items(dump.at("errors"));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors.at(0).at("line").get<double>(), 1);
  EXPECT_EQ(errors.at(0).at("message").get<std::string>(), "Convert error: '1 3' is not a valid floating point value");
  EXPECT_EQ(errors.at(1).at("line").get<double>(), 3);
  EXPECT_EQ(errors.at(2).at("line").get<double>(), 4);
  EXPECT_NE(errors.at(2).at("message").get<std::string>().find("Texture 12"), std::string::npos);
  const auto& plane = dump.at("solidObjects").at(0);
  EXPECT_EQ(plane.at("offset").get<double>(), -2.0);
  EXPECT_EQ(plane.at("normal").at(0).get<double>(), 1.0);
  EXPECT_EQ(plane.at("point").at(2).get<double>(), 7.0);
}

TEST(SceneDumpJson, UnknownKeywordIsWarnedWithItsLine) {
  const Json dump = Dump({"//Background", "SPHRE; id 2; texture: -1", "SPHERE; id 3"});
  const auto& errors = Items(dump.at("errors"));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors.at(0).at("line").get<double>(), 2);
  EXPECT_EQ(errors.at(0).at("message").get<std::string>(), "Warning: unknown keyword 'SPHRE'; the line is ignored");
  EXPECT_EQ(Items(dump.at("solidObjects")).size(), 1u);
}

TEST(SceneDumpJson, MoveLinesAreListedAndBadOnesReportedWithTheirLine) {
  const Json dump = Dump({"SPHERE;7;-1;1;1;1;0;2;0;0;0;0;0.5", "MOVE;7;0.1;0;0;0;90;0", "MOVE;7;1;2",
                          "MOVE;7;x;0;0;0;0;0", "MOVE;9;0;0;0;0;0;0", "EGO;0;0;0;0;0;0"});
  const auto& moves = Items(dump.at("objectMoves"));
  ASSERT_EQ(moves.size(), 3u);  // the line with too few numbers makes none
  EXPECT_EQ(moves.at(0).at("class").get<std::string>(), "ObjectMove");
  EXPECT_EQ(moves.at(0).at("id").get<double>(), 7);
  EXPECT_EQ(moves.at(0).at("position").at(0).get<double>(), 0.1);
  EXPECT_EQ(moves.at(0).at("rotation").at(1).get<double>(), 90.0);
  const auto& errors = Items(dump.at("errors"));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors.at(0).at("line").get<double>(), 3);
  EXPECT_EQ(errors.at(0).at("message").get<std::string>(),
            "MOVE needs an id and six numbers (MOVE; id; tx; ty; tz; ax; ay; az), this line has 3; the line is "
            "ignored");
  EXPECT_EQ(errors.at(1).at("line").get<double>(), 4);
  EXPECT_NE(errors.at(1).at("message").get<std::string>().find("Convert error"), std::string::npos);
  EXPECT_EQ(errors.at(2).at("line").get<double>(), 5);
  EXPECT_EQ(errors.at(2).at("message").get<std::string>(),
            "Warning: MOVE names id 9, which no solid has; it moves nothing");
  // A scene without MOVE lines has no such list (its dump is as before).
  EXPECT_FALSE(Dump({"SPHERE;7"}).contains("objectMoves"));
}

TEST(SceneDumpJson, AnyFileNameAndAnyLines) {
  const std::string name = "odd \"name\"\\\n\xff\xfe.txt";
  const Json dump = Dump({std::string("KULA;\0\x01;\xff\"\\", 11), "EGO;\x80;1"}, name);
  EXPECT_EQ(dump.at("file").get<std::string>(), "odd \"name\"\\\n\xc3\xbf\xc3\xbe.txt");
  EXPECT_EQ(Items(dump.at("solidObjects")).size(), 1u);
  EXPECT_EQ(Items(dump.at("egoFrames")).size(), 1u);
}

// Runs the tool through the shell with the C locale; returns the exit code.
struct ToolRun {
  int code = -1;
  std::string out;
  std::string err;
};

class DumpProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("tovimar-dump-test-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  ToolRun Tool(const std::string& args) {
    const auto out = dir_ / "stdout";
    const auto err = dir_ / "stderr";
    const std::string command = std::string("LC_ALL=C '") + TOVIMAR_RENDER_BIN + "' " + args + " >'" +
                                out.string() + "' 2>'" + err.string() + "'";
    ToolRun run;
    const int status = std::system(command.c_str());
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFileBytes(out.string());
    run.err = ReadFileBytes(err.string());
    return run;
  }

  std::filesystem::path dir_;
};

TEST_F(DumpProcess, ExampleSceneExitsZeroWithTheScene) {
  const ToolRun run = Tool("--dump '" TOVIMAR_SOURCE_DIR "/examples/sceneexample.txt'");
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const Json json = Parse(run.out);
  ASSERT_FALSE(json.is_discarded()) << run.out;
  EXPECT_EQ(Items(json.at("solidObjects")).size(), 9u);
  EXPECT_EQ(Items(json.at("egoFrames")).size(), 5u);
  EXPECT_EQ(json.at("prefs").at("focalLength").get<double>(), 389.0);
  EXPECT_EQ(json.at("prefs").at("noise").get<double>(), 2.0);
}

TEST_F(DumpProcess, SceneWithErrorsStillExitsZero) {
  const auto scene = (dir_ / "bad.txt").string();
  std::ofstream(scene, std::ios::binary) << "NOISE;x\r\nFOCALLENGTH;100";
  const ToolRun run = Tool("--focal 1.5 --dump '" + scene + "'");
  EXPECT_EQ(run.code, 0) << run.err;
  const Json json = Parse(run.out);
  ASSERT_FALSE(json.is_discarded()) << run.out;
  EXPECT_EQ(json.at("errors").at(0).at("line").get<double>(), 1);
  EXPECT_EQ(json.at("prefs").at("focalLength").get<double>(), 100.0);
}

TEST_F(DumpProcess, FailuresExitNonZeroWithAMessage) {
  const auto missing = (dir_ / "missing.txt").string();
  ToolRun run = Tool("--dump '" + missing + "'");
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(missing), std::string::npos) << run.err;

  run = Tool("--dump '" + dir_.string() + "'");  // a folder
  EXPECT_EQ(run.code, 1);
  EXPECT_EQ(run.out, "");

  run = Tool("--dump");
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("no scene file given"), std::string::npos) << run.err;

  run = Tool("--dump --focal abc '" TOVIMAR_SOURCE_DIR "/examples/sceneexample.txt'");
  EXPECT_EQ(run.code, 2);
  EXPECT_NE(run.err.find("'abc' is not a valid floating point value"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace tovimar::cli
