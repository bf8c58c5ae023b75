#include "io/bmp.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "io/bytes.h"
#include "base/error.h"

namespace tovimar {

// ---------------------------------------------------------------- writing

void BmpImage24::Reset(int width, int height) {
  if (width < 0 || height < 0) throw Error("Invalid image size");
  const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~static_cast<std::size_t>(3);
  const std::size_t pixelBytes = stride * static_cast<std::size_t>(height);
  if (pixelBytes + 54 > std::numeric_limits<uint32_t>::max()) throw Error("Image too large");
  if (width == width_ && height == height_ && !bytes_.empty()) return;
  width_ = width;
  height_ = height;
  stride_ = stride;
  bytes_.assign(54 + pixelBytes, 0);
  uint8_t* h = bytes_.data();
  // BITMAPFILEHEADER
  h[0] = 'B';
  h[1] = 'M';
  io::PutLe32(h + 2, static_cast<uint32_t>(bytes_.size()));  // bfSize
  io::PutLe32(h + 6, 0);                                      // bfReserved1, bfReserved2
  io::PutLe32(h + 10, 54);                                    // bfOffBits
  // BITMAPINFOHEADER
  io::PutLe32(h + 14, 40);                                 // biSize
  io::PutLe32(h + 18, static_cast<uint32_t>(width));       // biWidth
  io::PutLe32(h + 22, static_cast<uint32_t>(height));      // biHeight (positive: bottom-up)
  io::PutLe16(h + 26, 1);                                  // biPlanes
  io::PutLe16(h + 28, 24);                                 // biBitCount
  io::PutLe32(h + 30, 0);                                  // biCompression = BI_RGB
  io::PutLe32(h + 34, static_cast<uint32_t>(pixelBytes));  // biSizeImage
  io::PutLe32(h + 38, 0);                                  // biXPelsPerMeter
  io::PutLe32(h + 42, 0);                                  // biYPelsPerMeter
  io::PutLe32(h + 46, 0);                                  // biClrUsed
  io::PutLe32(h + 50, 0);                                  // biClrImportant
}

void BmpImage24::SetPixelsPerMetre(uint32_t pixelsPerMetre) {
  if (bytes_.size() < 54) return;
  io::PutLe32(bytes_.data() + 38, pixelsPerMetre);
  io::PutLe32(bytes_.data() + 42, pixelsPerMetre);
}

void BmpImage24::Fill(uint8_t red, uint8_t green, uint8_t blue) {
  for (int y = 0; y < height_; ++y) {
    uint8_t* p = Row(y);
    for (int x = 0; x < width_; ++x, p += 3) {
      p[0] = blue;
      p[1] = green;
      p[2] = red;
    }
  }
}

void BmpImage24::Save(const std::string& path) const { WriteWholeFile(path, bytes_.data(), bytes_.size()); }

void WriteBmp24(const std::string& path, const uint8_t* bgrTopDown, int width, int height) {
  BmpImage24 image(width, height);
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y)
    if (rowBytes) std::memcpy(image.Row(y), bgrTopDown + static_cast<std::size_t>(y) * rowBytes, rowBytes);
  image.Save(path);
}

// ---------------------------------------------------------------- reading

namespace {

constexpr std::size_t kFileHeaderBytes = 14;

std::string Num(uint64_t v) { return std::to_string(v); }
std::string Num(int64_t v) { return std::to_string(v); }

int HighBit(uint32_t v) {
  int n = -1;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

int BitCount(uint32_t v) {
  int n = 0;
  for (; v != 0; v &= v - 1) ++n;
  return n;
}

// One colour field of a masked pixel, widened to 8 bits by repeating its
// bits (a 5-bit 0b10110 becomes 0b10110101).
struct Channel {
  uint32_t mask = 0;
  int shift = 0;  // right shift that puts the field's top bit at bit 7
  int bits = 0;   // 1 .. 8
  explicit Channel(uint32_t m) : mask(m), shift(HighBit(m) - 7), bits(BitCount(m)) {}
  uint8_t Of(uint32_t pixel) const {
    static constexpr uint32_t kMul[9] = {0, 0xff, 0x55, 0x49, 0x11, 0x21, 0x41, 0x81, 0x01};
    static constexpr int kShift[9] = {0, 0, 0, 1, 0, 2, 4, 6, 0};
    uint32_t v = pixel & mask;
    v = shift < 0 ? v << -shift : v >> shift;
    v >>= 8 - bits;
    return static_cast<uint8_t>((v * kMul[bits]) >> kShift[bits]);
  }
};

bool ValidMasks(uint32_t r, uint32_t g, uint32_t b) {
  if (r == 0 || g == 0 || b == 0) return false;
  if (r == g && g == b) return false;
  return BitCount(r) <= 8 && BitCount(g) <= 8 && BitCount(b) <= 8;
}

}  // namespace

std::string ParseBmpLayout(const uint8_t* head, std::size_t headSize, uint64_t fileSize, BmpLayout& l) {
  l = BmpLayout{};
  headSize = static_cast<std::size_t>(std::min<uint64_t>(headSize, fileSize));
  if (headSize < 2 || head[0] != 'B' || head[1] != 'M') return "not a BMP file: it does not start with \"BM\"";
  if (headSize < kFileHeaderBytes + 4) return "truncated header";
  const uint64_t pixelOffset = io::Le32(head + 10);
  const uint8_t* ih = head + kFileHeaderBytes;
  l.headerSize = io::Le32(ih);
  const uint32_t hsz = l.headerSize;
  if (hsz != 12 && hsz != 40 && hsz != 56 && hsz != 108 && hsz != 124)
    return "an information header of " + Num(uint64_t{hsz}) + " bytes is not supported";
  if (headSize < kFileHeaderBytes + hsz) return "truncated header";

  int64_t width = 0, height = 0;
  uint16_t planes = 0;
  uint32_t clrUsed = 0;
  if (hsz == 12) {  // OS/2: unsigned 16-bit sides, 3-byte colour table entries
    width = io::Le16(ih + 4);
    height = io::Le16(ih + 6);
    planes = io::Le16(ih + 8);
    l.bitCount = io::Le16(ih + 10);
    l.tableEntryBytes = 3;
  } else {
    width = io::LeS32(ih + 4);
    height = io::LeS32(ih + 8);
    planes = io::Le16(ih + 12);
    l.bitCount = io::Le16(ih + 14);
    l.compression = io::Le32(ih + 16);
    l.sizeImage = io::Le32(ih + 20);
    l.xPelsPerMeter = io::LeS32(ih + 24);
    l.yPelsPerMeter = io::LeS32(ih + 28);
    clrUsed = io::Le32(ih + 32);
    l.clrImportant = io::Le32(ih + 36);
  }
  if (width < 1 || width > kMaxBmpSide)
    return "width " + Num(width) + " is outside 1 .. " + Num(int64_t{kMaxBmpSide});
  if (height == 0 || height < -kMaxBmpSide || height > kMaxBmpSide)
    return "height " + Num(height) + " is outside 1 .. " + Num(int64_t{kMaxBmpSide}) + " (or its negative)";
  l.width = static_cast<int32_t>(width);
  l.topDown = height < 0;
  l.height = static_cast<int32_t>(height < 0 ? -height : height);
  if (planes != 1) return Num(uint64_t{planes}) + " colour planes instead of 1";

  const uint16_t bits = l.bitCount;
  const bool validBits = hsz == 12 ? (bits == 1 || bits == 4 || bits == 8 || bits == 24)
                                   : (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32);
  if (!validBits) return Num(uint64_t{bits}) + " bits per pixel are not supported";
  if (l.compression == 3) {
    if (bits != 16 && bits != 32) return "colour masks with " + Num(uint64_t{bits}) + " bits per pixel";
    if (hsz == 56) return "colour masks in a 56-byte information header are not supported";
  } else if (l.compression != 0) {
    return "compression " + Num(uint64_t{l.compression}) + " is not supported";
  }

  uint64_t tableOffset = kFileHeaderBytes + uint64_t{hsz};
  if (bits == 16) {  // 5 bits each unless masks are given
    l.redMask = 0x7C00;
    l.greenMask = 0x03E0;
    l.blueMask = 0x001F;
  } else if (bits == 32) {
    l.redMask = 0x00FF0000;
    l.greenMask = 0x0000FF00;
    l.blueMask = 0x000000FF;
  }
  if (l.compression == 3) {
    const uint8_t* masks = ih + 40;  // inside V4 and V5 headers, after the 40-byte one
    if (hsz == 40) {
      if (headSize < tableOffset + 12) return "truncated colour masks";
      tableOffset += 12;
    }
    l.redMask = io::Le32(masks);
    l.greenMask = io::Le32(masks + 4);
    l.blueMask = io::Le32(masks + 8);
    if (!ValidMasks(l.redMask, l.greenMask, l.blueMask)) return "invalid colour masks";
  }

  if (bits <= 8) {
    const uint32_t most = 1u << bits;
    if (clrUsed > most) return Num(uint64_t{clrUsed}) + " colours for " + Num(uint64_t{bits}) + " bits per pixel";
    l.tableEntries = clrUsed == 0 ? most : clrUsed;
  }
  l.tableOffset = tableOffset;
  const uint64_t tableEnd = tableOffset + uint64_t{l.tableEntries} * l.tableEntryBytes;
  if (pixelOffset < tableEnd)
    return "pixel offset " + Num(pixelOffset) + " lies inside the headers and colour table (" + Num(tableEnd) +
           " bytes)";
  if (pixelOffset > fileSize)
    return "pixel offset " + Num(pixelOffset) + " lies past the end of the file (" + Num(fileSize) + " bytes)";
  l.pixelOffset = pixelOffset;
  l.rowBytes = (uint64_t(l.width) * bits + 31) / 32 * 4;
  l.imageBytes = l.rowBytes * uint64_t(l.height);
  if (fileSize - pixelOffset < l.imageBytes)
    return "truncated: its " + Num(int64_t{l.width}) + " x " + Num(int64_t{l.height}) + " pixels need " +
           Num(pixelOffset + l.imageBytes) + " bytes, the file has " + Num(fileSize);
  if (l.sizeImage != 0 && l.sizeImage < l.imageBytes)
    return "stated image size " + Num(uint64_t{l.sizeImage}) + " is below the " + Num(l.imageBytes) +
           " bytes of its rows";
  return {};
}

bool MemoryByteSource::ReadAt(uint64_t offset, void* out, std::size_t n) const {
  if (offset > size_ || size_ - offset < n) return false;
  if (n != 0) std::memcpy(out, data_ + offset, n);
  return true;
}

std::string ReadBmpLayout(const ByteSource& source, BmpLayout& layout) {
  uint8_t head[kMaxBmpHeadBytes];
  const auto n = static_cast<std::size_t>(std::min<uint64_t>(source.Size(), sizeof head));
  if (!source.ReadAt(0, head, n)) return "cannot be read";
  return ParseBmpLayout(head, n, source.Size(), layout);
}

std::string DecodeBmpTopLeft(const ByteSource& source, const BmpLayout& l, int maxWidth, int maxHeight,
                             RgbPicture& picture) {
  picture = RgbPicture{};
  const int width = std::clamp(maxWidth, 0, l.width);
  const int height = std::clamp(maxHeight, 0, l.height);
  const uint16_t bits = l.bitCount;

  // Colour table as red-green-blue.
  std::vector<uint8_t> table(static_cast<std::size_t>(l.tableEntries) * 3);
  if (l.tableEntries != 0) {
    std::vector<uint8_t> raw(static_cast<std::size_t>(l.tableEntries) * l.tableEntryBytes);
    if (!source.ReadAt(l.tableOffset, raw.data(), raw.size())) return "the colour table cannot be read";
    for (std::size_t i = 0; i < l.tableEntries; ++i) {
      const uint8_t* e = &raw[i * l.tableEntryBytes];
      table[3 * i] = e[2];
      table[3 * i + 1] = e[1];
      table[3 * i + 2] = e[0];
    }
  }
  const Channel red(l.redMask), green(l.greenMask), blue(l.blueMask);

  const std::size_t usedBytes = (static_cast<std::size_t>(width) * bits + 7) / 8;
  std::vector<uint8_t> row(usedBytes);
  std::vector<uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    const uint64_t stored = l.topDown ? uint64_t(y) : uint64_t(l.height - 1 - y);
    if (!source.ReadAt(l.pixelOffset + stored * l.rowBytes, row.data(), usedBytes)) return "a row cannot be read";
    uint8_t* out = &rgb[static_cast<std::size_t>(y) * width * 3];
    for (int x = 0; x < width; ++x, out += 3) {
      const auto ux = static_cast<std::size_t>(x);
      if (bits <= 8) {
        uint32_t index;
        if (bits == 8) {
          index = row[ux];
        } else if (bits == 4) {
          index = (row[ux / 2] >> (ux % 2 == 0 ? 4 : 0)) & 0x0F;
        } else {
          index = (row[ux / 8] >> (7 - ux % 8)) & 1;
        }
        if (index >= l.tableEntries)
          return "colour index " + Num(uint64_t{index}) + " lies past the colour table of " +
                 Num(uint64_t{l.tableEntries}) + " entries";
        std::memcpy(out, &table[3 * index], 3);
      } else if (bits == 24) {
        out[0] = row[3 * ux + 2];
        out[1] = row[3 * ux + 1];
        out[2] = row[3 * ux];
      } else {
        const uint32_t pixel = bits == 16 ? uint32_t{io::Le16(&row[2 * ux])} : io::Le32(&row[4 * ux]);
        out[0] = red.Of(pixel);
        out[1] = green.Of(pixel);
        out[2] = blue.Of(pixel);
      }
    }
  }
  picture.width = width;
  picture.height = height;
  picture.rgb = std::move(rgb);
  return {};
}

RgbPicture LoadBmpTopLeft(const std::string& path, int maxWidth, int maxHeight, FileIdentity* identity,
                          const HeaderSizeCheck& check) {
  ReadOnlyFile file;
  OpenForReading(file, path, "bitmap");
  const auto refuse = [&path](const std::string& why) { return NotReadable(path, "bitmap", why); };
  const FileByteSource source(file);
  BmpLayout layout;
  std::string why = ReadBmpLayout(source, layout);
  if (why.empty() && check) check(layout.width, layout.height);
  RgbPicture picture;
  if (why.empty()) why = DecodeBmpTopLeft(source, layout, maxWidth, maxHeight, picture);
  if (!why.empty()) throw refuse(why);
  if (identity != nullptr) *identity = file.Identity();
  return picture;
}

}  // namespace tovimar
