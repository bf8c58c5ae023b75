// PFM and PNG files: round trips, the stored layout, and refusal of damaged
// or unsupported files without reading past their end.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "base/error.h"
#include "io/pfm.h"
#include "io/png.h"

namespace tovimar {
namespace {

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("tovimar-io-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Decodes from an exactly sized heap copy, so a read past the end trips ASan.
std::string PfmRefusal(const std::string& bytes) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  PfmImage image;
  return DecodePfm(copy.empty() ? nullptr : copy.data(), copy.size(), image);
}

std::string PngRefusal(const std::string& bytes, PngImage* out = nullptr) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  PngImage image;
  std::string why = DecodePng(copy.empty() ? nullptr : copy.data(), copy.size(), image);
  if (out) *out = image;
  return why;
}

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// ---------------------------------------------------------------- PFM

TEST(Pfm, RoundTripKeepsEveryBitIncludingSpecialValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<float> grey{1.5f, -0.0f, inf, std::nanf(""), 1e-40f, -3.25f};  // 3 x 2
  std::vector<float> rgb(4 * 3 * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<float>(i) * 0.1f - 1.0f;
  struct Case {
    const std::vector<float>& values;
    int w, h, c;
  };
  for (const Case& k : {Case{grey, 3, 2, 1}, Case{rgb, 4, 3, 3}}) {
    const std::string path = TempPath("rt.pfm");
    WritePfm(path, k.values.data(), k.w, k.h, k.c);
    const PfmImage back = ReadPfm(path);
    std::filesystem::remove(path);
    ASSERT_EQ(back.width, k.w);
    ASSERT_EQ(back.height, k.h);
    ASSERT_EQ(back.channels, k.c);
    ASSERT_EQ(back.values.size(), k.values.size());
    for (std::size_t i = 0; i < k.values.size(); ++i) EXPECT_EQ(Bits(back.values[i]), Bits(k.values[i])) << i;
  }
}

TEST(Pfm, FileHoldsLittleEndianRowsBottomUp) {
  const std::vector<float> v{1, 2, 3, 4, 5, 6};  // top row 1 2 3, bottom row 4 5 6
  const std::string bytes = EncodePfm(v.data(), 3, 2, 1);
  ASSERT_EQ(bytes.substr(0, 10), "Pf\n3 2\n-1\n");
  ASSERT_EQ(bytes.size(), 10u + 6 * 4);
  std::vector<float> stored(6);
  for (std::size_t i = 0; i < 6; ++i) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + 10 + 4 * i;
    const uint32_t b = p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
    std::memcpy(&stored[i], &b, 4);
  }
  EXPECT_EQ(stored, (std::vector<float>{4, 5, 6, 1, 2, 3}));
  EXPECT_EQ(EncodePfm(v.data(), 1, 2, 3).substr(0, 3), "PF\n");
}

TEST(Pfm, AcceptsBigEndianAndLooserWhitespace) {
  // 2 x 1 values 1.0 and -2.0, big-endian (positive scale), header with
  // spaces, tabs and a CR LF line end.
  const uint8_t be[] = {0x3f, 0x80, 0, 0, 0xc0, 0, 0, 0};
  for (std::string bytes : {"Pf\n2 1\n1\n", "Pf 2\t1\n 1.0\r\n", "Pf\r\n2\r\n1\r\n4.5\n"}) {
    bytes.append(reinterpret_cast<const char*>(be), 8);
    std::vector<uint8_t> copy(bytes.begin(), bytes.end());
    PfmImage image;
    ASSERT_EQ(DecodePfm(copy.data(), copy.size(), image), "") << bytes;
    EXPECT_EQ(image.values, (std::vector<float>{1.0f, -2.0f}));
  }
}

TEST(Pfm, RefusesDamagedHeadersAndWrongSizes) {
  const std::vector<float> v{1, 2, 3, 4};
  const std::string good = EncodePfm(v.data(), 2, 2, 1);
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_NE(PfmRefusal(good.substr(0, n)), "") << "prefix " << n;
  EXPECT_NE(PfmRefusal(good + "x").find("trailing"), std::string::npos);
  const std::string samples = good.substr(10);
  for (const char* header : {"P5\n2 2\n-1\n", "Pf\n+2 2\n-1\n", "Pf\n-2 2\n-1\n", "Pf\n2 0\n-1\n", "Pf\n2 2\n0\n",
                             "Pf\n2 2\nnan\n", "Pf\n2 2\n-1x\n", "Pf2 2\n-1\n", "Pf\n2 2\n-1 ", "Pf\n#c\n2 2\n-1\n",
                             "Pf\n99999 1\n-1\n"}) {
    EXPECT_NE(PfmRefusal(header + samples), "") << header;
  }
}

TEST(Pfm, ReadErrorsNameTheFileAndTheCause) {
  const std::string path = TempPath("bad.pfm");
  WriteBytes(path, "Pf\n2 2\n-1\n1234");
  try {
    ReadPfm(path);
    FAIL() << "accepted a truncated file";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "'" + path + "' is not a readable PFM (truncated: 4 of 16 sample bytes)");
  }
  std::filesystem::remove(path);
  EXPECT_THROW(
      {
        try {
          ReadPfm(path);
        } catch (const Error& e) {
          EXPECT_EQ(e.message(), "'" + path + "' does not exist");
          throw;
        }
      },
      Error);
  const float one = 1;
  EXPECT_THROW(EncodePfm(&one, 1, 1, 2), Error);
  EXPECT_THROW(EncodePfm(&one, 0, 1, 1), Error);
}

// ---------------------------------------------------------------- PNG

// The chunk types of a PNG, in order.
std::vector<std::string> ChunkTypes(const std::string& png) {
  std::vector<std::string> types;
  for (std::size_t at = 8; at + 8 <= png.size();) {
    const auto* p = reinterpret_cast<const uint8_t*>(png.data()) + at;
    const uint32_t length = (uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    types.push_back(png.substr(at + 4, 4));
    at += 12 + length;
  }
  return types;
}

uint32_t Crc32(const uint8_t* p, std::size_t n) {
  uint32_t c = 0xffffffffu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xedb88320u & (0u - (c & 1)));
  }
  return ~c;
}

// The PNG with IHDR byte `offset` (0 = first width byte) set to value and
// the chunk's CRC made right again.
std::string PatchHeader(std::string png, std::size_t offset, uint8_t value) {
  png[16 + offset] = static_cast<char>(value);
  const uint32_t crc = Crc32(reinterpret_cast<const uint8_t*>(png.data()) + 12, 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}

TEST(Png, RoundTripsAtBothDepthsAndChannelCounts) {
  for (int channels : {1, 3}) {
    const int w = 7, h = 5;
    std::vector<uint8_t> p8(static_cast<std::size_t>(w * h * channels));
    std::vector<uint16_t> p16(p8.size());
    for (std::size_t i = 0; i < p8.size(); ++i) {
      p8[i] = static_cast<uint8_t>(i * 37);
      p16[i] = static_cast<uint16_t>(i * 4099 + 1);
    }
    const std::string path = TempPath("rt.png");
    WritePng8(path, p8.data(), w, h, channels);
    PngImage a = ReadPng(path);
    WritePng16(path, p16.data(), w, h, channels);
    PngImage b = ReadPng(path);
    std::filesystem::remove(path);
    EXPECT_EQ(a.bitDepth, 8);
    EXPECT_EQ(b.bitDepth, 16);
    for (const PngImage* im : {&a, &b}) {
      EXPECT_EQ(im->width, w);
      EXPECT_EQ(im->height, h);
      EXPECT_EQ(im->channels, channels);
    }
    EXPECT_EQ(a.samples, std::vector<uint16_t>(p8.begin(), p8.end()));
    EXPECT_EQ(b.samples, p16);
  }
}

TEST(Png, EncodingIsDeterministicWithOnlyTheNeededChunks) {
  std::vector<uint16_t> s(64 * 48);
  for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<uint16_t>(i % 300 * 256);
  const std::string a = EncodePng16(s.data(), 64, 48, 1);
  EXPECT_EQ(a, EncodePng16(s.data(), 64, 48, 1));
  EXPECT_EQ(ChunkTypes(a), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(Png, RefusesDamagedAndUnsupportedFiles) {
  const std::vector<uint8_t> pixels(6 * 4, 200);
  const std::string good = EncodePng8(pixels.data(), 6, 4, 1);
  ASSERT_EQ(PngRefusal(good), "");
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_NE(PngRefusal(good.substr(0, n)), "") << "prefix " << n;
  std::string flipped = good;
  flipped[good.size() - 16] ^= 0x55;  // inside IDAT: the CRC no longer matches
  EXPECT_NE(PngRefusal(flipped), "");
  EXPECT_EQ(PngRefusal("GIF89a garbage"), "no PNG signature");
  // IHDR bytes: width 0..3, height 4..7, depth 8, colour type 9.
  EXPECT_EQ(PngRefusal(PatchHeader(good, 9, 4)), "colour type 4 (only grey and RGB are read)");
  EXPECT_NE(PngRefusal(PatchHeader(good, 9, 3)), "");  // palette (here without its PLTE chunk)
  EXPECT_EQ(PngRefusal(PatchHeader(good, 8, 4)), "4-bit samples (only 8 and 16 are read)");
  EXPECT_NE(PngRefusal(PatchHeader(PatchHeader(good, 1, 0x01), 2, 0x11)), "");  // width 69894: past the side limit
  // Sides within the limit (65286 x 65284) but too many pixels.
  EXPECT_EQ(PngRefusal(PatchHeader(PatchHeader(good, 2, 0xff), 6, 0xff)), "too many pixels");

  const std::string path = TempPath("bad.png");
  WriteBytes(path, good.substr(0, good.size() - 1));
  try {
    ReadPng(path);
    FAIL() << "accepted a truncated file";
  } catch (const Error& e) {
    EXPECT_EQ(e.message().rfind("'" + path + "' is not a readable PNG (", 0), 0u) << e.message();
  }
  std::filesystem::remove(path);
  EXPECT_THROW(EncodePng8(pixels.data(), 0, 4, 1), Error);
  EXPECT_THROW(EncodePng8(pixels.data(), 6, 4, 2), Error);
}

}  // namespace
}  // namespace tovimar
