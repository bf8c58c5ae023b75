// The checking BMP reader: what it refuses, how each kind of pixel decodes,
// and that it reads only the corner it is asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "io/bmp.h"
#include "io/bytes.h"

namespace tovimar {
namespace {

using Bytes = std::vector<uint8_t>;

// A BMP with a 40-byte header (or `headerSize` bytes, zero-filled past 40),
// an optional colour table and rows as given (already padded), bottom-up
// unless height is negative.
Bytes MakeBmp(int32_t width, int32_t height, uint16_t bits, const Bytes& table, const Bytes& rows,
              uint32_t compression = 0, uint32_t headerSize = 40, const Bytes& masks = {}) {
  Bytes b{'B', 'M'};
  const uint32_t offset = 14 + headerSize + static_cast<uint32_t>(masks.size() + table.size());
  io::AppendLe32(b, offset + static_cast<uint32_t>(rows.size()));
  io::AppendLe32(b, 0);
  io::AppendLe32(b, offset);
  io::AppendLe32(b, headerSize);
  io::AppendLe32(b, static_cast<uint32_t>(width));
  io::AppendLe32(b, static_cast<uint32_t>(height));
  io::AppendLe16(b, 1);
  io::AppendLe16(b, bits);
  io::AppendLe32(b, compression);
  io::AppendLe32(b, 0);  // image size: 0, as many writers leave it
  io::AppendLe32(b, 2835);
  io::AppendLe32(b, 2835);
  io::AppendLe32(b, static_cast<uint32_t>(table.size() / 4));
  io::AppendLe32(b, 0);
  b.resize(14 + headerSize, 0);
  b.insert(b.end(), masks.begin(), masks.end());
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// Decodes the top-left corner; "" or the reason. The source is an exactly
// sized copy so that any read past the end trips the address sanitizer.
std::string Decode(const Bytes& file, RgbPicture& picture, int max = 128) {
  std::vector<uint8_t> copy(file);
  const MemoryByteSource source(copy.data(), copy.size());
  BmpLayout layout;
  std::string why = ReadBmpLayout(source, layout);
  if (why.empty()) why = DecodeBmpTopLeft(source, layout, max, max, picture);
  return why;
}

std::string Refusal(const Bytes& file) {
  RgbPicture picture;
  return Decode(file, picture);
}

// 2 x 2, 24 bits: top row red, green; bottom row blue, white. Rows bottom-up.
Bytes TwoByTwo24(bool topDown) {
  const Bytes top{0, 0, 255, 0, 255, 0, 0, 0}, bottom{255, 0, 0, 255, 255, 255, 0, 0};
  Bytes rows = topDown ? top : bottom;
  const Bytes& second = topDown ? bottom : top;
  rows.insert(rows.end(), second.begin(), second.end());
  return MakeBmp(2, topDown ? -2 : 2, 24, {}, rows);
}

const Bytes kRgbTwoByTwo{255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};

TEST(BmpReader, BottomUpAndTopDownGiveTheSamePicture) {
  for (bool topDown : {false, true}) {
    RgbPicture p;
    ASSERT_EQ(Decode(TwoByTwo24(topDown), p), "") << topDown;
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.height, 2);
    EXPECT_EQ(p.rgb, kRgbTwoByTwo) << topDown;
  }
}

TEST(BmpReader, EveryDepthDecodesToTheStoredColours) {
  // Colour table: entry i = (red 10i, green 20i, blue 30i).
  Bytes table;
  for (int i = 0; i < 4; ++i) table.insert(table.end(), {uint8_t(30 * i), uint8_t(20 * i), uint8_t(10 * i), 0});
  const auto entry = [](int i) { return Bytes{uint8_t(10 * i), uint8_t(20 * i), uint8_t(30 * i)}; };
  const auto concat = [](std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
  };
  RgbPicture p;
  // 8 bits: 3 pixels in one row padded to 4 bytes.
  ASSERT_EQ(Decode(MakeBmp(3, 1, 8, table, {2, 0, 3, 0}), p), "");
  EXPECT_EQ(p.rgb, concat({entry(2), entry(0), entry(3)}));
  // 4 bits: high nibble first.
  ASSERT_EQ(Decode(MakeBmp(3, 1, 4, table, {0x13, 0x20, 0, 0}), p), "");
  EXPECT_EQ(p.rgb, concat({entry(1), entry(3), entry(2)}));
  // 1 bit: top bit first.
  ASSERT_EQ(Decode(MakeBmp(3, 1, 1, Bytes(table.begin(), table.begin() + 8), {0xA0, 0, 0, 0}), p), "");
  EXPECT_EQ(p.rgb, concat({entry(1), entry(0), entry(1)}));
  // 32 bits, no masks: blue, green, red, unused.
  ASSERT_EQ(Decode(MakeBmp(1, 1, 32, {}, {7, 8, 9, 0}), p), "");
  EXPECT_EQ(p.rgb, (Bytes{9, 8, 7}));
  // 16 bits, no masks: 5 bits each, widened by repeating the top bits.
  const uint32_t pixel = (31u << 10) | (16u << 5) | 1u;
  ASSERT_EQ(Decode(MakeBmp(1, 1, 16, {}, {uint8_t(pixel), uint8_t(pixel >> 8), 0, 0}), p), "");
  EXPECT_EQ(p.rgb, (Bytes{255, 132, 8}));
  // 16 bits with 5-6-5 masks.
  Bytes masks;
  for (uint32_t m : {0xF800u, 0x07E0u, 0x001Fu}) io::AppendLe32(masks, m);
  const uint32_t p565 = (1u << 11) | (63u << 5) | 0u;
  ASSERT_EQ(Decode(MakeBmp(1, 1, 16, {}, {uint8_t(p565), uint8_t(p565 >> 8), 0, 0}, 3, 40, masks), p), "");
  EXPECT_EQ(p.rgb, (Bytes{8, 255, 0}));
}

TEST(BmpReader, RefusesWhatIsNotABitmap) {
  const char pngBytes[] = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x10\0\0\0\x10\0\x08\x02\0\0\0";
  const char gifBytes[] = "GIF89a\xff\xff\xff\xff\x80\0\0\0\0\0\xff\xff\xff,\0\0\0\0\xff\xff\xff\xff\0\x02\x02\x44\x01\0;";
  const std::string png(pngBytes, sizeof pngBytes - 1);
  const std::string gif(gifBytes, sizeof gifBytes - 1);
  const std::string pnm = "P6\n4000 4000\n255\n\x01\x02\x03";
  const std::string hdr = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 30000 +X 30000\n";
  for (const std::string& text : {png, gif, pnm, hdr, std::string(), std::string("B"), std::string("BM")}) {
    EXPECT_NE(Refusal(Bytes(text.begin(), text.end())), "") << text;
  }
}

TEST(BmpReader, RefusesBadHeaderFields) {
  const Bytes good = TwoByTwo24(false);
  ASSERT_EQ(Refusal(good), "");
  const auto patched = [&good](std::size_t at, uint32_t value, int bytes = 4) {
    Bytes f = good;
    for (int i = 0; i < bytes; ++i) f[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    return Refusal(f);
  };
  EXPECT_NE(patched(22, static_cast<uint32_t>(INT_MIN)), "");  // height that cannot be negated
  EXPECT_NE(patched(22, 0), "");                                // height 0
  EXPECT_NE(patched(18, 0), "");                                // width 0
  EXPECT_NE(patched(18, 0x80000000u), "");                      // negative width
  EXPECT_NE(patched(18, 65536).find("width"), std::string::npos);              // past the side limit
  EXPECT_NE(patched(22, 0xFFFFFF), "");                         // rows far beyond the file
  EXPECT_NE(patched(10, 4000).find("past the end"), std::string::npos);        // pixels past the end
  EXPECT_NE(patched(10, 20).find("inside the headers"), std::string::npos);    // pixels inside the header
  EXPECT_NE(patched(14, 64), "");                               // unknown header size
  EXPECT_NE(patched(26, 2, 2), "");                             // planes
  EXPECT_NE(patched(28, 2, 2), "");                             // 2 bits per pixel
  EXPECT_NE(patched(30, 1).find("compression"), std::string::npos);           // RLE
  EXPECT_NE(patched(30, 3), "");                                // masks with 24 bits
  EXPECT_NE(patched(34, 4).find("image size"), std::string::npos);            // stated size below the rows
  // Every truncation, the rows included.
  for (std::size_t n = 0; n < good.size(); ++n) EXPECT_NE(Refusal(Bytes(good.begin(), good.begin() + n)), "") << n;
  EXPECT_NE(Refusal(Bytes(good.begin(), good.end() - 1)).find("truncated"), std::string::npos);

  // 257 colours for 8 bits; an index past a short colour table.
  Bytes eight = MakeBmp(1, 1, 8, Bytes(8, 0), {1, 0, 0, 0});
  EXPECT_EQ(Refusal(eight), "");
  eight[62] = 2;  // index 2 of 2 entries
  EXPECT_NE(Refusal(eight).find("colour index"), std::string::npos);
  io::PutLe32(&eight[46], 257);
  EXPECT_NE(Refusal(eight), "");
  // Masks that are all the same or wider than 8 bits.
  Bytes same;
  for (int k = 0; k < 3; ++k) io::AppendLe32(same, 0xFF);
  EXPECT_NE(Refusal(MakeBmp(1, 1, 32, {}, {0, 0, 0, 0}, 3, 40, same)), "");
  Bytes wide;
  for (uint32_t m : {0xFFF00000u, 0xFF00u, 0xFFu}) io::AppendLe32(wide, m);
  EXPECT_NE(Refusal(MakeBmp(1, 1, 32, {}, {0, 0, 0, 0}, 3, 40, wide)), "");
}

// Counts the bytes read and remembers the furthest.
class CountingSource : public MemoryByteSource {
 public:
  using MemoryByteSource::MemoryByteSource;
  bool ReadAt(uint64_t offset, void* out, std::size_t n) const override {
    bytesRead += n;
    return MemoryByteSource::ReadAt(offset, out, n);
  }
  mutable uint64_t bytesRead = 0;
};

TEST(BmpReader, ReadsOnlyTheCornerAskedFor) {
  const int side = 1000;
  Bytes rows(static_cast<std::size_t>(side) * side * 3);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 7);
  for (int32_t height : {side, -side}) {
    const Bytes file = MakeBmp(side, height, 24, {}, rows);
    const CountingSource source(file.data(), file.size());
    BmpLayout layout;
    ASSERT_EQ(ReadBmpLayout(source, layout), "");
    RgbPicture p;
    ASSERT_EQ(DecodeBmpTopLeft(source, layout, 128, 128, p), "");
    EXPECT_EQ(p.width, 128);
    EXPECT_EQ(p.height, 128);
    EXPECT_LE(source.bytesRead, kMaxBmpHeadBytes + 128u * 128u * 3u);
    // Pixel (5, 2) from the top: stored row 2 (top-down) or side - 3.
    const std::size_t stored = height < 0 ? 2 : side - 3;
    const std::size_t at = stored * side * 3 + 5 * 3;
    EXPECT_EQ(p.rgb[(2 * 128 + 5) * 3], rows[at + 2]);
    EXPECT_EQ(p.rgb[(2 * 128 + 5) * 3 + 2], rows[at]);
  }
}

}  // namespace
}  // namespace tovimar
