// Names, BMP layout and the disparity text file.
#include "dataset/output_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/bytes.h"
#include "scene/notifier.h"
#include "truth/segmentation_palette.h"
#include "tests/support/test_files.h"

namespace tovimar {
namespace {

TEST(OutputNames, DirectoryCreationIsOneLevelAndSilent) {
  TempDir tmp;
  const std::string dir = OutputDirectory(tmp.path(), 4);
  CreateOutputDirectory(dir);
  EXPECT_TRUE(std::filesystem::is_directory(dir));
  CreateOutputDirectory(dir);  // exists: fine
  const std::string deep = OutputDirectory(tmp.path() + "/missing", 1);
  CreateOutputDirectory(deep);  // parent missing: nothing created, nothing reported
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/missing"));
}

uint32_t Le32(const std::vector<uint8_t>& b, std::size_t at) { return io::Le32(&b.at(at + 3) - 3); }
uint32_t Le16(const std::vector<uint8_t>& b, std::size_t at) { return io::Le16(&b.at(at + 1) - 1); }

TEST(Bmp, HeaderAndPaddedBottomUpRows) {
  // 3 x 2 picture: rows of 9 bytes padded to 12.
  const uint8_t top[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const uint8_t bottom[9] = {10, 11, 12, 13, 14, 15, 16, 17, 18};
  std::vector<uint8_t> picture(top, top + 9);
  picture.insert(picture.end(), bottom, bottom + 9);
  TempDir tmp;
  const std::string path = tmp.path() + "/a.bmp";
  WriteBmp24(path, picture.data(), 3, 2);
  const std::vector<uint8_t> b = ReadAll(path);
  ASSERT_EQ(b.size(), 54u + 24u);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(Le32(b, 2), 78u);   // bfSize
  EXPECT_EQ(Le32(b, 6), 0u);    // reserved
  EXPECT_EQ(Le32(b, 10), 54u);  // pixel data offset
  EXPECT_EQ(Le32(b, 14), 40u);  // biSize
  EXPECT_EQ(Le32(b, 18), 3u);
  EXPECT_EQ(Le32(b, 22), 2u);   // positive height: bottom-up
  EXPECT_EQ(Le16(b, 26), 1u);   // planes
  EXPECT_EQ(Le16(b, 28), 24u);  // bits per pixel
  EXPECT_EQ(Le32(b, 30), 0u);   // BI_RGB
  EXPECT_EQ(Le32(b, 34), 24u);  // biSizeImage = padded row * H
  EXPECT_EQ(Le32(b, 38), 0u);
  EXPECT_EQ(Le32(b, 42), 0u);
  EXPECT_EQ(Le32(b, 46), 0u);   // biClrUsed
  EXPECT_EQ(Le32(b, 50), 0u);
  // First stored row is the bottom of the picture, then three zero bytes.
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 54, b.begin() + 66),
            std::vector<uint8_t>({10, 11, 12, 13, 14, 15, 16, 17, 18, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(b.begin() + 66, b.begin() + 78),
            std::vector<uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
}

TEST(Bmp, ImageRowsAreTopDownAndWidthsNeedNoAlignment) {
  for (int w : {1, 2, 3, 4, 5, 320, 321}) {
    BmpImage24 img(w, 3);
    EXPECT_EQ(img.RowStride() % 4, 0u);
    EXPECT_GE(img.RowStride(), static_cast<std::size_t>(w) * 3);
    EXPECT_LT(img.RowStride(), static_cast<std::size_t>(w) * 3 + 4);
    EXPECT_EQ(img.FileBytes().size(), 54 + img.RowStride() * 3);
    img.Fill(1, 2, 3);
    img.Row(0)[0] = 99;  // top row, first pixel's blue
    const auto& b = img.FileBytes();
    EXPECT_EQ(b[54 + 2 * img.RowStride()], 99);  // stored last
    EXPECT_EQ(b[54], 3);
    EXPECT_EQ(b[55], 2);
    EXPECT_EQ(b[56], 1);
    for (std::size_t pad = static_cast<std::size_t>(w) * 3; pad < img.RowStride(); ++pad)
      EXPECT_EQ(b[54 + pad], 0) << "padding must stay zero after Fill";
  }
}

TEST(Bmp, UnwritablePathThrowsWithThePath) {
  TempDir tmp;
  const std::string path = tmp.path() + "/no/such/dir/x.bmp";
  const uint8_t px[3] = {0, 0, 0};
  try {
    WriteBmp24(path, px, 1, 1);
    FAIL() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Cannot create file " + path + ": the folder does not exist");
  }
}

TEST(Bmp, FullDiskLeavesNoPartialFile) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full not available";
  BmpImage24 img(64, 64);
  EXPECT_THROW(img.Save("/dev/full"), Error);
}

// ------------------------------------------------------------- %.18g

std::string Printf18(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.18g", v);
  return buf;
}

std::string ToChars18(double v) {
  std::string s;
  AppendDisparityValue(s, v);
  return s;
}

TEST(DisparityText, FormatterEqualsPrintfG18) {
  std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 0.5, 2.5, 0.125, 1.37294117647058831,
                                93.36, 10.5703125, 1e-5, 1e-4, 0.0001, 0.00012345, 1e17, 1e18,
                                123456789012345678.0, 1e300, -1e-300, 5e-324, 2.2250738585072014e-308,
                                1.7976931348623157e308, 0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0, 60.0};
  for (int e = -330; e <= 310; ++e) values.push_back(std::ldexp(1.0, e));  // halves and powers
  for (int i = -40; i <= 40; ++i) values.push_back(std::pow(10.0, i));
  for (int i = 0; i < 2000; ++i) values.push_back(i / 2.0 + 0.5);
  std::mt19937_64 rng(12345);
  std::uniform_real_distribution<double> disp(0.0, 100.0);
  for (int i = 0; i < 100000; ++i) values.push_back(disp(rng));
  for (int i = 0; i < 100000; ++i) {
    uint64_t bits = rng();
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) values.push_back(v);
  }
  // Random mantissas at every binary exponent from 2^-16 to 2^52.
  std::uniform_int_distribution<int> exponent(-16, 52);
  for (int i = 0; i < 200000; ++i) {
    const double v = std::ldexp(1.0 + static_cast<double>(rng() >> 12) / 4503599627370496.0, exponent(rng));
    values.push_back(i % 2 ? v : -v);
  }
  for (int i = 1; i < 1000; ++i) values.push_back(std::nextafter(0.0, 1.0) * i);  // denormals
  // Neighbours of powers of ten, where the digit count and notation change.
  for (int e = -6; e <= 19; ++e) {
    double v = std::pow(10.0, e);
    for (int i = 0; i < 4; ++i) v = std::nextafter(v, 0.0);
    for (int i = 0; i < 8; ++i, v = std::nextafter(v, 1e300)) {
      values.push_back(v);
      values.push_back(-v);
    }
    values.push_back(std::pow(10.0, e) * 9.99999999999999999);
  }
  // Exact ties at the 18th digit (19 significant digits ending in 5): they
  // round to even.
  std::uniform_int_distribution<int64_t> i14(10000000000000, 99999999999999);
  std::uniform_int_distribution<int64_t> i13(1000000000000, 9999999999999);
  for (int i = 0; i < 20000; ++i) {
    values.push_back(static_cast<double>(i14(rng)) + (2 * (i % 16) + 1) / 32.0);
    values.push_back(static_cast<double>(i13(rng)) + (2 * (i % 32) + 1) / 64.0);
  }
  int mismatches = 0;
  for (double v : values) {
    if (ToChars18(v) != Printf18(v) && ++mismatches < 10)
      ADD_FAILURE() << "value " << Printf18(v) << " gave " << ToChars18(v);
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(DisparityText, LayoutForAnOddWidth) {
  TempDir tmp;
  const std::string path = tmp.path() + "/d.dat";
  const double d[] = {1.5, 2.0, 0.1, 10.5703125, 93.36, 1.37294117647058831};  // 3 x 2
  EXPECT_EQ(WriteDisparityFile(path, d, 3, 2), 1);
  const std::vector<uint8_t> bytes = ReadAll(path);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text,
            "3\r\n2\r\n1.5\r\n2\r\n0.100000000000000006\r\n10.5703125\r\n"
            "93.3599999999999994\r\n1.37294117647058833\r\n\r\n");
}

TEST(DisparityText, LineCountOfAFullFrame) {
  TempDir tmp;
  const std::string path = tmp.path() + "/d.dat";
  std::vector<double> d(320 * 240, 1.25);
  std::string reuse = "old contents";
  WriteDisparityFile(path, d.data(), 320, 240, &reuse);
  const std::vector<uint8_t> bytes = ReadAll(path);
  const std::string text(bytes.begin(), bytes.end());
  std::size_t lines = 0;
  for (std::size_t p = 0; (p = text.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  EXPECT_EQ(lines, 2u + 320u * 240u + 1u);
  EXPECT_EQ(text.rfind("320\r\n240\r\n1.25\r\n", 0), 0u);
  EXPECT_EQ(text.substr(text.size() - 8), "1.25\r\n\r\n");
  EXPECT_EQ(text.find('\n', 0), 4u);  // no bare line feeds
}

// A frame whose text spans many write pieces: the same bytes as the values
// appended one by one, and a working buffer that stays one piece long.
TEST(DisparityText, LargeFrameIsWrittenInBoundedPieces) {
  TempDir tmp;
  const std::string path = tmp.path() + "/big.dat";
  const int w = 1031, h = 769;  // about 15 pieces of text
  std::vector<double> d(static_cast<std::size_t>(w) * h);
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> disp(-1.0, 100.0);
  for (double& v : d) v = disp(rng);
  std::string expected = "1031\r\n769\r\n";
  for (double v : d) {
    AppendDisparityValue(expected, v);
    expected += "\r\n";
  }
  expected += "\r\n";
  std::string reuse;
  WriteDisparityFile(path, d.data(), w, h, &reuse);
  const std::vector<uint8_t> bytes = ReadAll(path);
  ASSERT_GT(expected.size(), 8 * kDisparityChunkBytes);
  EXPECT_TRUE(std::string(bytes.begin(), bytes.end()) == expected);
  EXPECT_LT(reuse.capacity(), kDisparityChunkBytes + 4096);
}

TEST(DisparityText, UnwritableFileIsAnError) {
  TempDir tmp;
  const std::string path = tmp.path() + "/missing/d.dat";
  const double d[] = {1.0};
  try {
    WriteDisparityFile(path, d, 1, 1);
    FAIL() << "a disparity file that cannot be written must not pass silently";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "Cannot create file " + path + ": the folder does not exist");
  }
}

// ------------------------------------------------------------- palette

TEST(Palette, RampEndsAndSampleRows) {
  using C = PaletteColour;
  EXPECT_EQ(SegmentationPalette[0], (C{0, 0, 131}));
  EXPECT_EQ(SegmentationPalette[1], (C{0, 0, 135}));
  EXPECT_EQ(SegmentationPalette[31], (C{0, 0, 255}));
  EXPECT_EQ(SegmentationPalette[32], (C{0, 3, 255}));
  EXPECT_EQ(SegmentationPalette[95], (C{0, 255, 255}));
  EXPECT_EQ(SegmentationPalette[96], (C{3, 255, 251}));
  EXPECT_EQ(SegmentationPalette[158], (C{251, 255, 3}));
  EXPECT_EQ(SegmentationPalette[159], (C{255, 255, 0}));
  EXPECT_EQ(SegmentationPalette[160], (C{255, 251, 0}));
  EXPECT_EQ(SegmentationPalette[223], (C{255, 0, 0}));
  EXPECT_EQ(SegmentationPalette[224], (C{251, 0, 0}));
  EXPECT_EQ(SegmentationPalette[255], (C{127, 0, 0}));
  static_assert(SegmentationPalette[159][2] == 0, "clamped at 0");
}

}  // namespace
}  // namespace tovimar
