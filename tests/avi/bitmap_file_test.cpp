#include "avi/bitmap_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "media_files.h"

namespace tovimar {
namespace {

using avitest::Bmp24;
using avitest::Bmp8;
using avitest::PatternPicture;

// The picture's rows, bottom row first, each padded to 4 bytes: what a
// loaded bitmap must hold.
std::vector<uint8_t> BottomUpPadded(const std::vector<uint8_t>& bgr, int width, int height) {
  const size_t row = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> out;
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* src = &bgr[static_cast<size_t>(y) * width * 3];
    out.insert(out.end(), src, src + static_cast<size_t>(width) * 3);
    out.resize(out.size() + row - static_cast<size_t>(width) * 3, 0);
  }
  return out;
}

std::unique_ptr<Bitmap> Parse(const std::vector<uint8_t>& file) {
  // An exactly sized copy, so that a read past the end trips the address sanitizer.
  auto* copy = new uint8_t[file.size() ? file.size() : 1];
  if (!file.empty()) std::memcpy(copy, file.data(), file.size());
  auto bitmap = ParseBitmapImage(copy, file.size());
  delete[] copy;
  return bitmap;
}

TEST(BitmapFile, Loads24BitBottomUpAndTopDownFiles) {
  const int w = 61, h = 5;  // 183 bytes a row: padded to 184
  const auto picture = PatternPicture(w, h, 1);
  const auto expected = BottomUpPadded(picture, w, h);
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    avitest::TempDir dir;
    avitest::WriteFile(dir.file("a.bmp"), Bmp24(picture, w, h, topDown));
    auto bitmap = LoadBitmapFile(dir.file("a.bmp"));
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->header.width, w);
    EXPECT_EQ(bitmap->header.height, h);  // always positive
    EXPECT_EQ(bitmap->header.bitCount, 24);
    EXPECT_EQ(bitmap->header.sizeImage, 184u * h);  // filled in although the file has 0
    EXPECT_EQ(bitmap->header.clrUsed, 0u);
    EXPECT_TRUE(bitmap->colourTable.empty());
    EXPECT_EQ(bitmap->bits, expected);
  }
}

TEST(BitmapFile, EightBitFilesKeepTheirColourTable) {
  const int w = 5, h = 3;
  std::vector<uint8_t> indices(static_cast<size_t>(w) * h);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i);

  auto full = Parse(Bmp8(indices, w, h, 256));  // biClrUsed 0: the full 256 entries
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(full->header.clrUsed, 256u);
  EXPECT_EQ(full->colourTable.size(), 1024u);
  EXPECT_EQ(full->bits.size(), 8u * h);
  EXPECT_EQ(full->bits[0], indices[static_cast<size_t>(w) * (h - 1)]);  // bottom row first

  auto small = Parse(Bmp8(indices, w, h, 16));
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(small->header.clrUsed, 16u);
  ASSERT_EQ(small->colourTable.size(), 64u);
  EXPECT_EQ(small->colourTable[4 * 3 + 2], 9);  // red of entry 3
}

TEST(BitmapFile, RefusesMalformedFiles) {
  const auto good = Bmp24(PatternPicture(4, 3, 0), 4, 3);
  ASSERT_NE(Parse(good), nullptr);

  // Every truncation.
  for (size_t n = 0; n < good.size(); ++n) EXPECT_EQ(Parse({good.begin(), good.begin() + n}), nullptr) << n;

  auto patched = [&](size_t at, uint32_t value, int bytes) {
    auto f = good;
    for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return Parse(f);
  };
  EXPECT_EQ(patched(0, 'X', 1), nullptr);             // not "BM"
  EXPECT_EQ(patched(10, 200, 4), nullptr);            // pixels past the end
  EXPECT_EQ(patched(10, 20, 4), nullptr);             // pixels inside the header
  EXPECT_EQ(patched(14, 12, 4), nullptr);             // OS/2 header
  EXPECT_EQ(patched(14, 0xFFFFFFF0u, 4), nullptr);    // header larger than the file
  EXPECT_EQ(patched(18, 0, 4), nullptr);              // width 0
  EXPECT_EQ(patched(18, 0x80000000u, 4), nullptr);    // negative width
  EXPECT_EQ(patched(22, 0, 4), nullptr);              // height 0
  EXPECT_EQ(patched(22, 0x80000000u, 4), nullptr);    // height that cannot be negated
  EXPECT_EQ(patched(22, 0x7FFFFFFFu, 4), nullptr);    // rows far beyond the file
  EXPECT_EQ(patched(26, 2, 2), nullptr);              // planes
  EXPECT_EQ(patched(28, 7, 2), nullptr);              // bits per pixel
  EXPECT_EQ(patched(30, 1, 4), nullptr);              // RLE
  EXPECT_EQ(patched(30, 3, 4), nullptr);              // bit fields
  EXPECT_EQ(patched(34, 4, 4), nullptr);              // stated image size below the rows

  auto eight = Bmp8(std::vector<uint8_t>(12, 1), 4, 3, 16);
  eight[46] = 1;  // 257 colours for 8 bits
  eight[47] = 1;
  EXPECT_EQ(Parse(eight), nullptr);

  avitest::TempDir dir;
  EXPECT_EQ(LoadBitmapFile(dir.file("missing.bmp")), nullptr);
  EXPECT_EQ(LoadBitmapFile(dir.path().string()), nullptr);  // a folder
}

TEST(BitmapFile, SurvivesRandomCorruption) {
  const auto good8 = Bmp8(std::vector<uint8_t>(35, 2), 7, 5, 256);
  const auto good24 = Bmp24(PatternPicture(7, 5, 2), 7, 5);
  std::mt19937 rng(12345);
  for (int round = 0; round < 4000; ++round) {
    auto f = round % 2 ? good8 : good24;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < flips; ++i) {
      const size_t at = rng() % 54;  // the headers
      f[at] = static_cast<uint8_t>(rng());
    }
    if (rng() % 4 == 0) f.resize(rng() % f.size());
    auto bitmap = Parse(f);
    if (bitmap) {
      // Whatever was accepted is self-consistent.
      EXPECT_EQ(bitmap->bits.size(), bitmap->header.sizeImage);
      EXPECT_EQ(bitmap->colourTable.size(), 4u * bitmap->header.clrUsed);
      EXPECT_EQ(bitmap->bits.size(), BitmapRowBytes(bitmap->header.width, bitmap->header.bitCount) *
                                         static_cast<size_t>(bitmap->header.height));
    }
  }
}

}  // namespace
}  // namespace tovimar
