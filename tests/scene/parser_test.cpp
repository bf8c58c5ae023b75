// The scene line parser, under both decimal separators.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "scene/scene_line_parser.h"

namespace tovimar {
namespace {

class Collect : public Notifier {
 public:
  void Notify(const std::string& caption, const std::string& text) override {
    captions.push_back(caption);
    texts.push_back(text);
  }
  void NotifyField(int field, const std::string& written, const std::string& caption,
                   const std::string& text) override {
    fields.push_back({field, written});
    Notify(caption, text);
  }
  std::vector<std::string> captions;
  std::vector<std::string> texts;
  std::vector<std::pair<int, std::string>> fields;  // of the reports about one field
};

// Texture names as a rendering context hands them out: number n is name n + 1.
std::vector<uint32_t> ElevenTextures() {
  std::vector<uint32_t> names;
  for (uint32_t n = 1; n <= 11; ++n) names.push_back(n);
  return names;
}

class ParseLineTest : public ::testing::TestWithParam<char> {
 protected:
  std::unique_ptr<SceneObject> Parse(const std::string& line) {
    const SceneLineParser parser(GetParam(), notes);
    return parser.ParseLine(line, textures, prefs);
  }
  // The conversion message as the user sees it under the current separator.
  std::string ConvertError(std::string filtered) {
    for (char& c : filtered) {
      if (c == '#') c = GetParam();
    }
    return "Convert error: '" + filtered + "' is not a valid floating point value";
  }

  Collect notes;
  std::vector<uint32_t> textures = ElevenTextures();
  Prefs prefs;
};

INSTANTIATE_TEST_SUITE_P(Separators, ParseLineTest, ::testing::Values('.', ','),
                         [](const auto& p) { return p.param == '.' ? "Point" : "Comma"; });

template <typename T>
const T& As(const std::unique_ptr<SceneObject>& o) {
  const T* typed = dynamic_cast<const T*>(o.get());
  EXPECT_NE(typed, nullptr);
  return *typed;
}

TEST_P(ParseLineTest, EditorExampleLines) {
  auto sphere = Parse(
      "SPHERE;  id  25; texture:  9; colour: 1.0;  1.0;  1.0; position:  0.0; 1.0; -0.2; 0.0; 0.0; 0.0; dim:  0.65");
  ASSERT_TRUE(sphere);
  EXPECT_EQ(sphere->kind, kSphere);
  EXPECT_EQ(sphere->id, 25);
  EXPECT_EQ(sphere->texture, 10u);
  EXPECT_EQ(sphere->colour, (Vec3{1, 1, 1}));
  EXPECT_EQ(sphere->position, (Vec3{0, 1, -0.2}));
  EXPECT_EQ(As<Sphere>(sphere).radius, 0.65);

  auto cuboid = Parse(
      "CUBOID;  id  40; texture:  5; colour: 1.0;  1.0;  1.0; position: -1.5; 0.5; -0.5; 0.0; 0.0; 0.0; dim:  0.2;  0.2; 2");
  ASSERT_TRUE(cuboid);
  EXPECT_EQ(cuboid->kind, kCuboid);
  EXPECT_EQ(As<Cuboid>(cuboid).halfSize, (Vec3{0.2, 0.2, 2}));
  EXPECT_EQ(cuboid->position, (Vec3{-1.5, 0.5, -0.5}));

  auto quad = Parse(
      "QUAD;    id 160; texture:  0; colour: 1.0;  1.0;  0.5; vertices: -1.6; -2.0; -1.4;   1.6; -2.0; -1.4;   "
      "1.6; 6.0; -1.4;   -1.6;  6.0; -1.4;");
  ASSERT_TRUE(quad);
  EXPECT_EQ(quad->texture, 1u);
  const auto& corners = As<Quad>(quad).vertices;
  EXPECT_EQ(corners[0], (Vec3{-1.6, -2, -1.4}));
  EXPECT_EQ(corners[1], (Vec3{1.6, -2, -1.4}));
  EXPECT_EQ(corners[2], (Vec3{1.6, 6, -1.4}));
  EXPECT_EQ(corners[3], (Vec3{-1.6, 6, -1.4}));
  // Position and rotation take numbers 6 to 11 for every kind.
  EXPECT_EQ(quad->position, corners[0]);
  EXPECT_EQ(quad->rotation, corners[1]);
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, EveryKeywordMakesItsKind) {
  const std::string numbers = ";1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17";
  const std::pair<const char*, int> cases[] = {
      {"WALEC", kCylinder}, {"CYLINDER", kCylinder}, {"KULA", kSphere},   {"SPHERE", kSphere},
      {"PROST", kCuboid}, {"CUBOID", kCuboid}, {"EGO", kCameraMotion}, {"PLANE", kPlane},
      {"CZWOR", kQuad}, {"QUADRILATERAL", kQuad}, {"QUAD", kQuad}};
  for (const auto& [keyword, kind] : cases) {
    auto o = Parse(keyword + numbers);
    ASSERT_TRUE(o) << keyword;
    EXPECT_EQ(o->kind, kind) << keyword;
    EXPECT_EQ(o->id, 1) << keyword;
    EXPECT_EQ(o->texture, 3u) << keyword;
    EXPECT_EQ(o->colour, (Vec3{3, 4, 5})) << keyword;
    EXPECT_EQ(o->position, (Vec3{6, 7, 8})) << keyword;
    EXPECT_EQ(o->rotation, (Vec3{9, 10, 11})) << keyword;
  }
  auto cylinder = Parse(std::string("WALEC") + numbers);
  EXPECT_EQ(As<Cylinder>(cylinder).baseRadius, 12);
  EXPECT_EQ(As<Cylinder>(cylinder).topRadius, 13);
  EXPECT_EQ(As<Cylinder>(cylinder).height, 14);
  auto plane = Parse(std::string("PLANE") + numbers);
  EXPECT_EQ(As<Plane>(plane).normal, (Vec3{6, 7, 8}));
  EXPECT_EQ(As<Plane>(plane).point, (Vec3{9, 10, 11}));
  EXPECT_EQ(As<Plane>(plane).offset, -(6 * 9 + 7 * 10 + 8 * 11));
  auto quad = Parse(std::string("CZWOR") + numbers);
  EXPECT_EQ(As<Quad>(quad).vertices[3], (Vec3{15, 16, 17}));
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, MeshTakesItsFileAsText) {
  // The numbers as a cuboid's; the file field is not filtered as a number
  // (its digits, points and commas stay), only trimmed.
  auto o = Parse("MESH; 1; 2; 3; 4; 5; 6; 7; 8; 9; 10; 11; 0,5;  models/car-2.5,v1.obj ");
  ASSERT_TRUE(o);
  EXPECT_EQ(o->kind, kMesh);
  EXPECT_EQ(o->id, 1);
  EXPECT_EQ(o->texture, 3u);
  EXPECT_EQ(o->colour, (Vec3{3, 4, 5}));
  EXPECT_EQ(o->position, (Vec3{6, 7, 8}));
  EXPECT_EQ(o->rotation, (Vec3{9, 10, 11}));
  EXPECT_EQ(As<Mesh>(o).scale, 0.5);
  EXPECT_EQ(As<Mesh>(o).file, "models/car-2.5,v1.obj");
  EXPECT_EQ(As<Mesh>(o).model, nullptr);  // read when the scene is prepared
  EXPECT_FALSE(As<Mesh>(o).ownMaterials);
  EXPECT_TRUE(notes.texts.empty());
  // The word `model` keeps the model's materials: no Tovimar texture, no note.
  auto own = Parse("MESH; 1; model ; 3; 4; 5; 6; 7; 8; 9; 10; 11; 0,5; car.obj");
  ASSERT_TRUE(own);
  EXPECT_TRUE(As<Mesh>(own).ownMaterials);
  EXPECT_EQ(own->texture, 0u);
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, MeshLinesThatCannotBeUsedAreIgnoredWithAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"MESH;1;2;3;4;5;6;7;8;9;10;11;12", "MESH needs twelve numbers and a file name"},
      {"MESH;1;2;3;4;5;6;7;8;9;10;11;12;   ", "MESH needs twelve numbers and a file name"},
      {"MESH;1;2;3;4;5;6;7;8;9;10;11;12;a.obj;b.obj", "MESH: the file name must be the last field"},
      {"MESH;1;2;3;4;5;6;7;8;9;10;11;0;a.obj", "MESH: the scale must be a positive number, not 0"},
      {"MESH;1;2;3;4;5;6;7;8;9;10;11;-2;a.obj", "MESH: the scale must be a positive number, not -2"},
  };
  for (const auto& [line, text] : cases) {
    notes.texts.clear();
    EXPECT_FALSE(Parse(line)) << line;
    ASSERT_FALSE(notes.texts.empty()) << line;
    EXPECT_TRUE(notes.texts.back().starts_with(text)) << notes.texts.back();
  }
  // Lower case is no keyword, as for every other statement.
  notes.texts.clear();
  EXPECT_FALSE(Parse("mesh;1"));
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_NE(notes.texts[0].find("keywords are written in capitals: MESH"), std::string::npos);
}

TEST_P(ParseLineTest, PlaneOffsetFromNormalAndPoint) {
  auto plane = Parse("PLANE;0;0;0;0;0;1;0;0;2;5;7");
  EXPECT_EQ(As<Plane>(plane).offset, -2);
  auto flat = Parse("PLANE;0;0;0;0;0;0;0;1;2;5;7");
  EXPECT_EQ(As<Plane>(flat).normal, (Vec3{0, 0, 1}));  // stored, although it cannot be drawn
}

TEST_P(ParseLineTest, PlaneOffsetThatOverflowsStaysFinite) {
  const std::string huge = "1" + std::string(200, '0');
  auto far = Parse("PLANE;0;0;0;0;0;" + huge + ";0;0;" + huge + ";0;0");
  ASSERT_TRUE(far);
  EXPECT_EQ(As<Plane>(far).offset, -std::numeric_limits<double>::max());
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_NE(notes.texts[0].find("Plane offset out of range"), std::string::npos);

  // Two overflowing products that cancel: the offset is their exact sum.
  notes.texts.clear();
  auto cancel = Parse("PLANE;0;0;0;0;0;" + huge + ";" + huge + ";0;" + huge + ";-" + huge + ";0");
  EXPECT_EQ(As<Plane>(cancel).offset, 0.0);
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, EmptyFieldsTakeNoPlace) {
  auto o = Parse(";;KULA;;7;;-1;1;0;0;;0;0;0;0;0;0;0.5;;");
  ASSERT_TRUE(o);
  EXPECT_EQ(o->kind, kSphere);
  EXPECT_EQ(o->id, 7);
  EXPECT_EQ(o->texture, 0u);  // -1: untextured
  EXPECT_EQ(o->colour, (Vec3{1, 0, 0}));
  EXPECT_EQ(o->position, (Vec3{0, 0, 0}));
  EXPECT_EQ(As<Sphere>(o).radius, 0.5);
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, KeywordMatching) {
  EXPECT_TRUE(Parse("SPHERE   ;1"));  // trailing spaces are removed
  EXPECT_FALSE(Parse(" SPHERE;1"));   // leading spaces are not
  EXPECT_FALSE(Parse("sphere;1"));    // letter case counts
  EXPECT_FALSE(Parse("SPHERE\t;1"));  // only code 32 is trimmed
  EXPECT_FALSE(Parse("SPHERES;1"));
  // A first field that looks like a keyword but is none is ignored with a warning.
  EXPECT_EQ(notes.texts,
            (std::vector<std::string>{
                "Warning: unknown keyword ' SPHERE'; the line is ignored (no space may stand before the keyword "
                "SPHERE)",
                "Warning: unknown keyword 'sphere'; the line is ignored (keywords are written in capitals: SPHERE)",
                "Warning: unknown keyword 'SPHERES'; the line is ignored"}));
  EXPECT_EQ(notes.fields, (std::vector<std::pair<int, std::string>>{{0, " SPHERE"}, {0, "sphere"}, {0, "SPHERES"}}));
}

TEST_P(ParseLineTest, OnlyWordsThatLookLikeKeywordsAreWarned) {
  for (const char* quiet : {"//FOG;", "// SPHRE; 1", "# note", "two words; 1", "", "   ", "1;2", "-;x1", "EGO"}) {
    Parse(quiet);
  }
  EXPECT_TRUE(notes.texts.empty());
  for (const char* warned : {"SPHRE; id 2", "Background", "CUBE2;1", "fog"}) {
    notes.texts.clear();
    EXPECT_FALSE(Parse(warned));
    ASSERT_EQ(notes.texts.size(), 1u) << warned;
    EXPECT_TRUE(notes.texts[0].starts_with("Warning: unknown keyword '")) << notes.texts[0];
  }
}

TEST_P(ParseLineTest, ConversionErrorsNameTheFieldAsWritten) {
  Parse("SPHERE;  id 1x2; texture: -1;; colour: 1,,2");
  EXPECT_EQ(notes.fields, (std::vector<std::pair<int, std::string>>{{1, "  id 1x2"}, {3, " colour: 1,,2"}}));
}

TEST_P(ParseLineTest, KeywordAloneMakesADefaultObject) {
  auto o = Parse("SPHERE");
  ASSERT_TRUE(o);
  EXPECT_EQ(o->id, 0);
  EXPECT_EQ(o->texture, 1u);  // a missing texture number selects texture 0
  EXPECT_EQ(o->colour, (Vec3{0, 0, 0}));
  EXPECT_EQ(As<Sphere>(o).radius, 0.0);

  auto onlyId = Parse("SPHERE;12");
  EXPECT_EQ(onlyId->id, 12);
  EXPECT_EQ(onlyId->texture, 1u);
}

TEST_P(ParseLineTest, IdIsTruncatedTowardZeroWithEitherMark) {
  EXPECT_EQ(Parse("KULA;2,5")->id, 2);
  EXPECT_EQ(Parse("KULA;2.5")->id, 2);
  EXPECT_EQ(Parse("KULA;2.7")->id, 2);
  EXPECT_EQ(Parse("KULA;-0.5")->id, 0);
  EXPECT_EQ(Parse("KULA;-2.7")->id, -2);
  // Outside the 32-bit range the id saturates.
  EXPECT_EQ(Parse("KULA;2147483647.9")->id, 2147483647);
  EXPECT_EQ(Parse("KULA;99999999999")->id, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Parse("KULA;-99999999999")->id, std::numeric_limits<int32_t>::min());
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, TextureLookup) {
  EXPECT_EQ(Parse("KULA;1;-1")->texture, 0u);
  EXPECT_EQ(Parse("KULA;1;-0.5")->texture, 0u);
  EXPECT_EQ(Parse("KULA;1;-0")->texture, 1u);  // minus zero is not below zero
  EXPECT_EQ(Parse("KULA;1;2.9")->texture, 3u);
  EXPECT_EQ(Parse("KULA;1;10.99")->texture, 11u);
  EXPECT_TRUE(notes.texts.empty());

  // Past the last loaded texture: untextured, and the user is told.
  EXPECT_EQ(Parse("KULA;1;11")->texture, 0u);
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_EQ(notes.texts[0], "Texture 11 is not loaded (0 to 10 are): the object is drawn without texture");
  EXPECT_EQ(notes.captions[0], "");
  EXPECT_EQ(Parse("KULA;1;" + std::string(400, '9') + ".5")->texture, 1u);  // conversion error reads 0
  EXPECT_EQ(Parse("KULA;1;" + std::string(300, '9'))->texture, 0u);
  EXPECT_EQ(notes.texts.size(), 3u);

  textures.clear();
  notes.texts.clear();
  EXPECT_EQ(Parse("KULA;1;0")->texture, 0u);
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_NE(notes.texts[0].find("no textures are loaded"), std::string::npos);
}

TEST_P(ParseLineTest, EgoShortAndLongForm) {
  auto shortForm = Parse("EGO;  0.0; 0.0; 0.1;  0; 5; 0");
  ASSERT_TRUE(shortForm);
  EXPECT_EQ(shortForm->kind, kCameraMotion);
  EXPECT_EQ(shortForm->position, (Vec3{0, 0, 0.1}));
  EXPECT_EQ(shortForm->rotation, (Vec3{0, 5, 0}));
  EXPECT_EQ(shortForm->texture, 0u);
  EXPECT_EQ(shortForm->id, 0);

  // What the movement generator writes: a closing ';' leaves an empty field.
  auto generated = Parse("EGO; 0,000;0,000;-0,250;0,000;0,000;0,000;");
  EXPECT_EQ(generated->position, (Vec3{0, 0, -0.25}));

  // Five numbers: the solid layout, so no motion at all.
  auto five = Parse("EGO;1;2;3;4;5");
  EXPECT_EQ(five->position, (Vec3{0, 0, 0}));
  EXPECT_EQ(five->rotation, (Vec3{0, 0, 0}));
  EXPECT_EQ(five->id, 1);
  EXPECT_EQ(five->texture, 3u);

  auto seven = Parse("EGO;1;2;3;4;5;6;7");
  EXPECT_EQ(seven->position, (Vec3{6, 7, 0}));

  auto none = Parse("EGO");
  EXPECT_EQ(none->position, (Vec3{0, 0, 0}));
  EXPECT_EQ(none->rotation, (Vec3{0, 0, 0}));

  // A field that fails still counts; an empty one does not.
  auto failed = Parse("EGO;1;1a2;3;;4;5;6");
  EXPECT_EQ(failed->position, (Vec3{1, 0, 3}));
  EXPECT_EQ(failed->rotation, (Vec3{4, 5, 6}));
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_EQ(notes.texts[0], ConvertError("1 2"));
}

TEST_P(ParseLineTest, SettingLines) {
  EXPECT_FALSE(Parse("FOCALLENGTH;389;"));
  EXPECT_EQ(prefs.focalLength, 389.0);
  EXPECT_FALSE(Parse("BASELINE;0,2"));
  EXPECT_EQ(prefs.baseline, 0.2);
  EXPECT_FALSE(Parse("NOISE;2.0;"));
  EXPECT_EQ(prefs.noise, 2.0);
  EXPECT_FALSE(Parse("NOISE"));
  EXPECT_EQ(prefs.noise, 0.0);
  EXPECT_FALSE(prefs.fog);
  EXPECT_FALSE(Parse("FOG;1;2"));
  EXPECT_TRUE(prefs.fog);
  EXPECT_FALSE(Parse("//FOG;"));
  EXPECT_TRUE(Parse("SPHERE;1"));
  EXPECT_TRUE(prefs.fog);  // nothing in a line switches fog off
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, ConversionErrorsAreReportedPerField) {
  // Exponent: the letter becomes a space and leaves two numbers.
  EXPECT_FALSE(Parse("NOISE;1e3"));
  EXPECT_EQ(prefs.noise, 0.0);
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_EQ(notes.texts[0], ConvertError("1 3"));
  EXPECT_EQ(notes.captions[0], "");

  // Comment with words: one message per field, nothing else.
  notes.texts.clear();
  EXPECT_FALSE(Parse("// comment; some words; 1.5; more words"));
  ASSERT_EQ(notes.texts.size(), 2u);
  EXPECT_EQ(notes.texts[0], ConvertError(std::string(11, ' ')));
  EXPECT_EQ(notes.texts[1], ConvertError(std::string(11, ' ')));

  // Separators are shown as the locale's, labels as spaces.
  notes.texts.clear();
  auto o = Parse("KULA;dim2: 5;1.2,3;id 7");
  EXPECT_EQ(o->id, 0);
  ASSERT_EQ(notes.texts.size(), 2u);
  EXPECT_EQ(notes.texts[0], ConvertError("   2  5"));
  EXPECT_EQ(notes.texts[1], ConvertError("1#2#3"));
}

TEST_P(ParseLineTest, NumberGrammarInFields) {
  const std::pair<const char*, double> good[] = {
      {"id 254", 254},  {"texture: -1", -1}, {"x 12 y", 12}, {".", 0},    {",", 0},   {"-.5", -0.5},
      {",25", 0.25},    {"3.", 3},           {"+5", 5},      {"007", 7},  {"\t9\t", 9}, {"-0", 0}};
  for (const auto& [field, value] : good) {
    notes.texts.clear();
    auto o = Parse(std::string("NOISE;") + field);
    EXPECT_EQ(prefs.noise, value) << field;
    EXPECT_TRUE(notes.texts.empty()) << field;
  }
  const char* bad[] = {"-", "--1", "1-", "- 1", "1 2", "1.2.3", "1,2.3", "1.5-", " ", "a", "1e-3"};
  for (const char* field : bad) {
    notes.texts.clear();
    prefs.noise = 42;
    Parse(std::string("NOISE;") + field);
    EXPECT_EQ(prefs.noise, 0.0) << field;
    EXPECT_EQ(notes.texts.size(), 1u) << field;
  }
}

TEST_P(ParseLineTest, BlankFieldsAndBlankKeywords) {
  // A blank after the last ';' is a field of spaces: one message, numbers kept.
  EXPECT_FALSE(Parse("BASELINE;0.3; "));
  EXPECT_EQ(prefs.baseline, 0.3);
  ASSERT_EQ(notes.texts.size(), 1u);
  EXPECT_EQ(notes.texts[0], ConvertError(" "));

  // A keyword of spaces only matches nothing; later fields are still converted.
  notes.texts.clear();
  EXPECT_FALSE(Parse("   ;1;2"));
  EXPECT_TRUE(notes.texts.empty());
  EXPECT_FALSE(Parse("   ;x"));
  EXPECT_EQ(notes.texts.size(), 1u);

  notes.texts.clear();
  EXPECT_FALSE(Parse(""));
  EXPECT_FALSE(Parse(";;;;"));
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, NumbersOutsideTheDoubleRange) {
  const std::string tooLarge = "1" + std::string(400, '0');
  EXPECT_FALSE(Parse("NOISE;" + tooLarge));
  EXPECT_EQ(prefs.noise, 0.0);
  EXPECT_EQ(notes.texts.size(), 1u);

  notes.texts.clear();
  const std::string tooSmall = "0." + std::string(400, '0') + "1";
  EXPECT_FALSE(Parse("NOISE;-" + tooSmall));
  EXPECT_EQ(prefs.noise, 0.0);
  EXPECT_TRUE(notes.texts.empty());

  char buffer[400];
  const double max = std::numeric_limits<double>::max();
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, max, std::chars_format::fixed).ptr;
  const std::string largest(buffer, end);
  EXPECT_FALSE(Parse("NOISE;" + largest));
  EXPECT_EQ(prefs.noise, std::numeric_limits<double>::max());
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, NumbersPastTheTableAreIgnoredOnce) {
  std::string line = "QUAD";
  for (int k = 1; k <= 150; ++k) line += ";" + std::to_string(k);
  line += ";junk";
  auto quad = Parse(line);
  ASSERT_TRUE(quad);
  EXPECT_EQ(quad->id, 1);
  EXPECT_EQ(As<Quad>(quad).vertices[3], (Vec3{15, 16, 17}));
  ASSERT_EQ(notes.texts.size(), 1u);  // once, and the junk past the table is not converted
  EXPECT_EQ(notes.texts[0], "Too many numbers: a line holds at most 99 numbers; the numbers after them are ignored");

  // Exactly 99 numbers fill the table without a message.
  notes.texts.clear();
  std::string full = "NOISE";
  for (int k = 1; k <= 99; ++k) full += ";" + std::to_string(k);
  EXPECT_FALSE(Parse(full));
  EXPECT_EQ(prefs.noise, 1.0);
  EXPECT_TRUE(notes.texts.empty());
}

TEST_P(ParseLineTest, ArbitraryBytesAreHarmless) {
  std::string line = "KULA;";
  line += std::string("\0\x01\xff\xfe;\x80 5\x7f;", 10);
  auto o = Parse(line);
  ASSERT_TRUE(o);
  EXPECT_EQ(o->id, 0);
  EXPECT_EQ(o->texture, 6u);  // number 2 reads 5
  EXPECT_EQ(notes.texts.size(), 1u);
}

}  // namespace
}  // namespace tovimar
