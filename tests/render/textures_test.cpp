// Texture files: reading, transposition, the bundled textures and a missing
// file during preparation.
#include <GL/gl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iterator>

#include "render/textures.h"
#include "render_fixture.h"

namespace tovimar::test {
namespace {

// A w x h picture whose pixel (x, y) has red x, green y and blue 77.
std::vector<uint8_t> Gradient(int w, int h) {
  std::vector<uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = 77;
    }
  }
  return rgb;
}

std::array<int, 4> Texel(const std::vector<uint8_t>& image, int row, int column) {
  const std::size_t i = (static_cast<std::size_t>(row) * kTextureSize + column) * 4;
  return {image[i], image[i + 1], image[i + 2], image[i + 3]};
}

TEST(TextureImage, TopLeftCornerTransposedWhiteOutside) {
  TempDir dir;
  const auto path = dir.path() / "t.bmp";
  for (int bits : {24, 32}) {
    WriteBmp(path, 200, 90, Gradient(200, 90), bits);
    const std::vector<uint8_t> image = LoadTextureImage(path.string());
    ASSERT_EQ(image.size(), 128u * 128u * 4u);
    // texel row x, column y = bitmap column x, row y (from the top)
    EXPECT_EQ(Texel(image, 0, 0), (std::array<int, 4>{0, 0, 77, 255})) << bits;
    EXPECT_EQ(Texel(image, 5, 3), (std::array<int, 4>{5, 3, 77, 255})) << bits;
    EXPECT_EQ(Texel(image, 127, 89), (std::array<int, 4>{127, 89, 77, 255})) << bits;
    // rows 90 .. 127 of the bitmap do not exist
    EXPECT_EQ(Texel(image, 3, 90), (std::array<int, 4>{255, 255, 255, 255})) << bits;
  }
  // An 8-bit palette bitmap of grey levels.
  WriteBmp(path, 16, 16, Gradient(16, 16), 8);
  const std::vector<uint8_t> grey = LoadTextureImage(path.string());
  EXPECT_EQ(Texel(grey, 9, 2), (std::array<int, 4>{9, 9, 9, 255}));
  EXPECT_EQ(Texel(grey, 16, 2), (std::array<int, 4>{255, 255, 255, 255}));
}

TEST(TextureImage, UnreadableFilesNameTheFile) {
  TempDir dir;
  const std::string missing = (dir.path() / "tex4.bmp").string();
  try {
    LoadTextureImage(missing);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  const std::string garbage = (dir.path() / "tex5.bmp").string();
  std::ofstream(garbage) << "BM this is not a bitmap";
  try {
    LoadTextureImage(garbage);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(garbage), std::string::npos) << e.what();
  }
  // A bitmap cut short is refused, not read with black rows.
  WriteBmp(garbage, 128, 128, Gradient(128, 128));
  EXPECT_EQ(LoadTextureImage(garbage).size(), 128u * 128u * 4u);
  std::filesystem::resize_file(garbage, 54 + 128 * 3 * 100);
  try {
    LoadTextureImage(garbage);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("truncated"), std::string::npos) << e.what();
  }
  // A header that claims an enormous picture is refused, not allocated.
  std::vector<uint8_t> header(54, 0);
  header[0] = 'B';
  header[1] = 'M';
  header[10] = 54;
  header[14] = 40;
  header[18] = 0xFF;
  header[19] = 0xFF;
  header[20] = 0xFF;  // width 16 million
  header[22] = 0xFF;
  header[23] = 0xFF;
  header[24] = 0xFF;  // height 16 million
  header[26] = 1;
  header[28] = 24;
  std::ofstream(garbage, std::ios::binary).write(reinterpret_cast<const char*>(header.data()), 54);
  EXPECT_THROW(LoadTextureImage(garbage), Error);
}

// The bytes of a literal, zeros included.
template <std::size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

// Files that are not bitmaps, whatever their name, are refused by name before
// anything is decoded or allocated for them.
TEST(TextureImage, OtherImageFormatsNamedBmpAreRefused) {
  TempDir dir;
  const std::string path = (dir.path() / "tex0.bmp").string();
  const std::string kinds[] = {
      Raw("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x10\0\0\0\x10\0\x08\x02\0\0\0\x90\x91\x68\x36"),
      Raw("GIF89a\xff\xff\xff\xff\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0\xff\xff\xff\xff\0\x02\x02\x44\x01\0;"),
      "P6\n300 300\n255\n\x10\x20\x30",  // PNM cut short
      "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 30000 +X 30000\n",
  };
  for (const std::string& bytes : kinds) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    try {
      LoadTextureImage(path);
      FAIL() << "accepted: " << bytes.substr(0, 6);
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find("not a readable bitmap"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
  }
}

// A bitmap stored top row first gives the texels of the same picture stored
// bottom row first.
TEST(TextureImage, TopDownAndBottomUpGiveTheSameTexels) {
  TempDir dir;
  const auto path = dir.path() / "t.bmp";
  WriteBmp(path, 150, 40, Gradient(150, 40));
  const std::vector<uint8_t> bottomUp = LoadTextureImage(path.string());
  // The same file turned top-down: negative height, rows reversed.
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t row = (150 * 3 + 3) & ~3u;
  std::vector<uint8_t> flipped(b.begin(), b.begin() + 54);
  for (int y = 39; y >= 0; --y) flipped.insert(flipped.end(), b.begin() + 54 + y * row, b.begin() + 54 + (y + 1) * row);
  const int32_t negative = -40;
  std::memcpy(&flipped[22], &negative, 4);
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(flipped.data()), static_cast<std::streamsize>(flipped.size()));
  EXPECT_EQ(LoadTextureImage(path.string()), bottomUp);
}

// A FIFO (or device) under a texture's name is not a bitmap and is not
// opened in a way that waits for a writer.
TEST(TextureImage, FifoIsRefusedWithoutWaiting) {
  TempDir dir;
  const std::string path = (dir.path() / "tex0.bmp").string();
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  ::alarm(20);  // a read that waits would end the test program here
  try {
    LoadTextureImage(path);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("not a readable bitmap"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
  ::alarm(0);
}

TEST(TextureImage, CacheReadsEachFileOnceUntilItChanges) {
  TempDir dir;
  const auto path = dir.path() / "tex3.bmp";
  WriteBmp(path, 8, 8, Gradient(8, 8));
  TextureCache cache;
  const std::vector<uint8_t> first = cache.Load(path.string());
  EXPECT_EQ(cache.Load(path.string()), first);
  EXPECT_EQ(cache.FilesRead(), 1);
  // Rewritten with other pixels (same size): read again.
  std::vector<uint8_t> other = Gradient(8, 8);
  other[0] = 200;
  WriteBmp(path, 8, 8, other);
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(2));
  EXPECT_EQ(Texel(cache.Load(path.string()), 0, 0), (std::array<int, 4>{200, 0, 77, 255}));
  EXPECT_EQ(cache.FilesRead(), 2);
  // Gone: reported, not served from the cache.
  std::filesystem::remove(path);
  try {
    cache.Load(path.string());
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("does not exist"), std::string::npos) << e.what();
  }
}

// Eleven copies of a picture in four coloured quadrants: top-left red,
// top-right green, bottom-left blue, bottom-right white.
void WriteQuadrantTextures(const TempDir& dir) {
  std::vector<uint8_t> rgb(128 * 128 * 3);
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 128; ++x) {
      uint8_t* p = &rgb[(static_cast<std::size_t>(y) * 128 + x) * 3];
      const bool right = x >= 64, bottom = y >= 64;
      p[0] = static_cast<uint8_t>((!right && !bottom) || (right && bottom) ? 255 : 0);
      p[1] = static_cast<uint8_t>(right ? 255 : 0);
      p[2] = static_cast<uint8_t>(bottom ? 255 : 0);
    }
  }
  for (int n = 0; n < kTextureCount; ++n) WriteBmp(TexturePath(dir.str(), n), 128, 128, rgb);
}

int Dominant(const std::array<int, 3>& c) {
  if (c[0] > 2 * c[1] && c[0] > 2 * c[2]) return 0;
  if (c[1] > 2 * c[0] && c[1] > 2 * c[2]) return 1;
  if (c[2] > 2 * c[0] && c[2] > 2 * c[1]) return 2;
  return 3;  // white or grey
}

TEST_F(ViewerTest, TexturesAreLaidTransposed) {
  TempDir dir;
  WriteQuadrantTextures(dir);
  MakeViewer(512, 384, dir.str());
  // A face toward the camera: (s, t) = (0, 0) at the bottom left, s to the
  // right, t upward. s runs down the bitmap's rows and t along its columns.
  Show({"QUAD;1;3;1;1;1;-1;0;-1;1;0;-1;1;0;1;-1;0;1"});
  EXPECT_EQ(renderer->TextureDirectory(), dir.str());
  ASSERT_EQ(renderer->TextureNames().size(), 11u);
  const Picture p = Read();
  const int d = 65;  // the quad spans 389 / 3 = 130 pixels each way
  EXPECT_EQ(Dominant(p.Colour(256 - d, 192 + d)), 0) << "bottom left: bitmap top left (red)";
  EXPECT_EQ(Dominant(p.Colour(256 + d, 192 + d)), 2) << "bottom right: bitmap bottom left (blue)";
  EXPECT_EQ(Dominant(p.Colour(256 - d, 192 - d)), 1) << "top left: bitmap top right (green)";
  EXPECT_EQ(Dominant(p.Colour(256 + d, 192 - d)), 3) << "top right: bitmap bottom right (white)";
}

// Entry n of TextureNames holds file n, uploaded whole (RGBA, alpha 255),
// clamped and linearly filtered.
TEST_F(ViewerTest, EachTextureNameHoldsItsFile) {
  TempDir dir;
  for (int n = 0; n < kTextureCount; ++n) {
    std::vector<uint8_t> rgb(8 * 8 * 3);
    for (std::size_t i = 0; i < rgb.size(); i += 3) {
      rgb[i] = static_cast<uint8_t>(20 * n);
      rgb[i + 1] = static_cast<uint8_t>(255 - 20 * n);
      rgb[i + 2] = 128;
    }
    WriteBmp(TexturePath(dir.str(), n), 8, 8, rgb);
  }
  MakeViewer(64, 48, dir.str());
  Show({});
  ASSERT_EQ(renderer->TextureNames().size(), static_cast<std::size_t>(kTextureCount));
  std::vector<uint8_t> image(128 * 128 * 4);
  for (int n = 0; n < kTextureCount; ++n) {
    glBindTexture(GL_TEXTURE_2D, renderer->TextureNames()[static_cast<std::size_t>(n)]);
    GLint width = 0, wrapS = 0, wrapT = 0, mag = 0, min = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &wrapS);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &wrapT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
    EXPECT_EQ(width, 128);
    EXPECT_EQ(wrapS, GL_CLAMP);
    EXPECT_EQ(wrapT, GL_CLAMP);
    EXPECT_EQ(mag, GL_LINEAR);
    EXPECT_EQ(min, GL_LINEAR);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
    EXPECT_EQ(Texel(image, 7, 7), (std::array<int, 4>{20 * n, 255 - 20 * n, 128, 255})) << n;
    EXPECT_EQ(Texel(image, 8, 0), (std::array<int, 4>{255, 255, 255, 255})) << n;
  }
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(ViewerTest, BoxFacesLayTheTextureByTheirTable) {
  TempDir dir;
  WriteQuadrantTextures(dir);
  MakeViewer(512, 384, dir.str());
  Show({"CUBOID;1;3;1;1;1;0;0;0;0;0;0;0.5;0.5;0.5"});
  struct Case {
    const char* face;
    double elevation;  // 0 looks down on the front (+z) face, 180 up at the back
    int bottomLeft, bottomRight, topLeft, topRight;
  };
  // Front: s along x, t along y (image up). Back, seen from below with world
  // y pointing down the image: s against x, t along world y.
  for (const Case& c : {Case{"front", 0.0, 0, 2, 1, 3}, Case{"back", 180.0, 3, 1, 2, 0}}) {
    renderer->DrawScene(false, -1, 0.0, c.elevation, 3.0);
    const Picture p = Read();
    const int d = 40;  // the face spans 389 * 0.5 / 2.5 = 78 pixels each way
    EXPECT_EQ(Dominant(p.Colour(256 - d, 192 + d)), c.bottomLeft) << c.face;
    EXPECT_EQ(Dominant(p.Colour(256 + d, 192 + d)), c.bottomRight) << c.face;
    EXPECT_EQ(Dominant(p.Colour(256 - d, 192 - d)), c.topLeft) << c.face;
    EXPECT_EQ(Dominant(p.Colour(256 + d, 192 - d)), c.topRight) << c.face;
  }
}

TEST_F(ViewerTest, MissingTextureStopsPreparationAndKeepsTheScene) {
  TempDir dir;
  WriteQuadrantTextures(dir);
  MakeViewer(64, 48, dir.str());
  Show({"SPHERE;1;2;1;1;1;0;0;0;0;0;0;0.5", "EGO;0;0;0.1;0;0;0"});
  const SceneObject* sphere = renderer->Scene().solidObjects.at(0).get();
  std::filesystem::remove(TexturePath(dir.str(), 5));
  editor.lines = {"SPHERE;1;2;1;1;1;0;0;0;0;0;0;0.5", "SPHERE;2;2;1;1;1;0;0;0;0;0;0;0.5"};
  editor.focalLength = 500.0;
  try {
    renderer->PrepareScene();
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find(TexturePath(dir.str(), 5)), std::string::npos) << e.what();
  }
  ASSERT_EQ(renderer->Scene().solidObjects.size(), 1u);
  EXPECT_EQ(renderer->Scene().solidObjects[0].get(), sphere);
  EXPECT_EQ(renderer->Scene().egoFrames.size(), 1u);
  EXPECT_EQ(renderer->TextureNames().size(), 5u);  // tex0 .. tex4 were loaded
  EXPECT_TRUE(renderer->SceneReady());
  EXPECT_EQ(renderer->Rig().RigFocalLength, 389.0);
  renderer->ResetViewAndDraw();  // still draws the previous scene
  EXPECT_TRUE(Read().Drawn(32, 24));
}

TEST_F(ViewerTest, BundledTexturesServeAFolderWithoutTextures) {
  TempDir empty;
  MakeViewer(64, 48, empty.str());
  Show({"SPHERE;1;10;1;1;1;0;0;0;0;0;0;0.5"});
  EXPECT_NE(renderer->TextureDirectory(), empty.str());
  EXPECT_EQ(renderer->TextureDirectory(), BundledTextureDirectory());
  EXPECT_EQ(renderer->TextureNames().size(), 11u);
  EXPECT_EQ(renderer->Scene().solidObjects.at(0)->texture, renderer->TextureNames()[10]);
}

}  // namespace
}  // namespace tovimar::test
