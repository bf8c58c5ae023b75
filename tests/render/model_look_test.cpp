// MESH lines that keep the model's own materials: the colours drawn come
// from its texture, its material's diffuse colour or its vertex colours, and
// the depth is the same as with a Tovimar texture.
#include "io/png.h"
#include "render_fixture.h"

namespace tovimar::test {
namespace {

void WriteText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// A 2 x 2 square in the plane y = 0 facing the camera (at y = -3), z up,
// with texture coordinates (0, 0) at its lower left and (1, 1) at its upper
// right, using material `look` of look.mtl.
const char* kSquareObj =
    "mtllib look.mtl\n"
    "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "vn 0 -1 0\n"
    "usemtl look\n"
    "f 1/1/1 2/2/1 3/3/1 4/4/1\n";

// The same square as a PLY whose corners are yellow.
const char* kYellowPly =
    "ply\nformat ascii 1.0\nelement vertex 4\nproperty float x\nproperty float y\nproperty float z\n"
    "property uchar red\nproperty uchar green\nproperty uchar blue\nelement face 2\n"
    "property list uchar int vertex_indices\nend_header\n"
    "-1 0 -1 255 255 0\n1 0 -1 255 255 0\n1 0 1 255 255 0\n-1 0 1 255 255 0\n3 0 1 2\n3 0 2 3\n";

enum Tint { kRed, kGreen, kBlue, kYellow };

bool Shows(const std::array<int, 3>& c, Tint tint) {
  const bool r = tint == kRed || tint == kYellow, g = tint == kGreen || tint == kYellow, b = tint == kBlue;
  return (c[0] > 60) == r && (c[1] > 60) == g && (c[2] > 60) == b && (r || c[0] == 0) && (g || c[1] == 0) &&
         (b || c[2] == 0);
}

TEST_F(ViewerTest, ModelsOwnMaterialsGiveTheColoursAndLeaveTheDepth) {
  const TempDir dir;
  // 8 x 8: the upper half red, the lower half blue.
  std::vector<uint8_t> picture(8 * 8 * 3, 0);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) picture[(y * 8 + x) * 3 + (y < 4 ? 0 : 2)] = 255;
  WritePng8((dir.path() / "halves.png").string(), picture.data(), 8, 8, 3);
  std::filesystem::create_directories(dir.path() / "textured");
  std::filesystem::create_directories(dir.path() / "plain");
  WriteText(dir.path() / "textured/square.obj", kSquareObj);
  WriteText(dir.path() / "textured/look.mtl", "newmtl look\nKd 1 1 1\nmap_Kd ../halves.png\n");
  WriteText(dir.path() / "plain/square.obj", kSquareObj);
  WriteText(dir.path() / "plain/look.mtl", "newmtl look\nKd 0 1 0\n");
  WriteText(dir.path() / "yellow.ply", kYellowPly);

  struct Case {
    std::string file;
    Tint upper, lower;
  };
  const Case cases[] = {
      {"textured/square.obj", kRed, kBlue},  // the picture's top row at the top of the model
      {"plain/square.obj", kGreen, kGreen},  // the material's diffuse colour
      {"yellow.ply", kYellow, kYellow},      // the vertex colours
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string tail = ";0;0;0;0;0;0;1;" + (dir.path() / c.file).string();
    // The line's colour (blue) is not used with the model's materials.
    Show({"MESH;7;model;0;0;1" + tail});
    ASSERT_TRUE(lines.messages.empty()) << lines.messages[0].text;
    const Picture own = Read();
    // z = +-0.5 at distance 3: 65 pixels above and below the centre.
    EXPECT_TRUE(Shows(own.Colour(256, 192 - 65), c.upper)) << own.Colour(256, 192 - 65)[0];
    EXPECT_TRUE(Shows(own.Colour(256, 192 + 65), c.lower)) << own.Colour(256, 192 + 65)[2];
    Show({"MESH;7;-1;1;1;1" + tail});
    EXPECT_EQ(Read().depth, own.depth);
  }
}

}  // namespace
}  // namespace tovimar::test
