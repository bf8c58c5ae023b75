#include "app/avi/bitmap_file.h"

#include <cstdio>
#include <cstring>
#include <limits>

namespace tovimar {

namespace {

constexpr size_t kFileHeaderSize = 14;
// Bitmap files beyond this are refused before anything is allocated.
constexpr uint64_t kMaxBitmapFileBytes = uint64_t{1} << 31;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
int32_t LeS32(const uint8_t* p) { return static_cast<int32_t>(Le32(p)); }

bool ValidBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

}  // namespace

size_t BitmapRowBytes(int32_t width, uint16_t bitCount) {
  const uint64_t bits = static_cast<uint64_t>(width < 0 ? 0 : width) * bitCount;
  return static_cast<size_t>(((bits + 31) / 32) * 4);
}

std::unique_ptr<Bitmap> ParseBitmapImage(const uint8_t* data, size_t size) {
  if (data == nullptr || size < kFileHeaderSize + kBitmapInfoHeaderSize) return nullptr;
  if (data[0] != 'B' || data[1] != 'M') return nullptr;
  const uint64_t pixelOffset = Le32(data + 10);

  const uint8_t* ih = data + kFileHeaderSize;
  const uint32_t headerSize = Le32(ih);
  // The 40-byte header or one of its longer successors (V4, V5), whose first
  // 40 bytes mean the same; the 12-byte OS/2 header is not accepted.
  if (headerSize < kBitmapInfoHeaderSize || kFileHeaderSize + uint64_t{headerSize} > size)
    return nullptr;

  BitmapInfoHeader h;
  h.width = LeS32(ih + 4);
  const int32_t rawHeight = LeS32(ih + 8);
  h.planes = Le16(ih + 12);
  h.bitCount = Le16(ih + 14);
  h.compression = Le32(ih + 16);
  const uint32_t rawSizeImage = Le32(ih + 20);
  h.xPelsPerMeter = LeS32(ih + 24);
  h.yPelsPerMeter = LeS32(ih + 28);
  const uint32_t rawClrUsed = Le32(ih + 32);
  const uint32_t rawClrImportant = Le32(ih + 36);

  if (h.width <= 0 || rawHeight == 0 || rawHeight == std::numeric_limits<int32_t>::min())
    return nullptr;
  if (h.planes != 1 || !ValidBitCount(h.bitCount) || h.compression != 0) return nullptr;
  const bool topDown = rawHeight < 0;
  h.height = topDown ? -rawHeight : rawHeight;

  // Colour table: required up to 8 bits per pixel, an optional hint above,
  // which is dropped.
  uint64_t tableEntries = 0;
  if (h.bitCount <= 8) {
    const uint32_t maxEntries = 1u << h.bitCount;
    if (rawClrUsed > maxEntries) return nullptr;
    tableEntries = rawClrUsed == 0 ? maxEntries : rawClrUsed;
  }
  const uint64_t tableOffset = kFileHeaderSize + uint64_t{headerSize};
  const uint64_t tableEnd = tableOffset + 4 * tableEntries;
  if (tableEnd > size || pixelOffset < tableEnd) return nullptr;

  const uint64_t rowBytes = BitmapRowBytes(h.width, h.bitCount);
  const uint64_t imageBytes = rowBytes * static_cast<uint64_t>(h.height);
  if (imageBytes > std::numeric_limits<uint32_t>::max()) return nullptr;
  // A stated image size may exceed the rows (some writers pad the end) but
  // never fall short of them.
  if (rawSizeImage != 0 && rawSizeImage < imageBytes) return nullptr;
  if (pixelOffset > size || size - pixelOffset < imageBytes) return nullptr;

  h.size = static_cast<uint32_t>(kBitmapInfoHeaderSize);
  h.sizeImage = static_cast<uint32_t>(imageBytes);
  h.clrUsed = static_cast<uint32_t>(tableEntries);
  h.clrImportant = rawClrImportant <= h.clrUsed ? rawClrImportant : 0;

  auto bitmap = std::make_unique<Bitmap>();
  bitmap->header = h;
  bitmap->colourTable.assign(data + tableOffset, data + tableEnd);
  const uint8_t* pixels = data + pixelOffset;
  if (!topDown) {
    bitmap->bits.assign(pixels, pixels + imageBytes);
  } else {
    bitmap->bits.resize(static_cast<size_t>(imageBytes));
    const size_t row = static_cast<size_t>(rowBytes);
    for (int32_t y = 0; y < h.height; ++y) {
      std::memcpy(bitmap->bits.data() + static_cast<size_t>(h.height - 1 - y) * row,
                  pixels + static_cast<size_t>(y) * row, row);
    }
  }
  return bitmap;
}

std::unique_ptr<Bitmap> LoadBitmapFile(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return nullptr;
  std::unique_ptr<Bitmap> result;
  std::vector<uint8_t> bytes;
  if (std::fseek(f, 0, SEEK_END) == 0) {
    const long end = std::ftell(f);
    if (end > 0 && static_cast<uint64_t>(end) <= kMaxBitmapFileBytes &&
        std::fseek(f, 0, SEEK_SET) == 0) {
      bytes.resize(static_cast<size_t>(end));
      if (std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size())
        result = ParseBitmapImage(bytes.data(), bytes.size());
    }
  }
  std::fclose(f);
  return result;
}

}  // namespace tovimar
