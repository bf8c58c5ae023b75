#include "avi/bitmap_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "io/bmp.h"

namespace tovimar {

namespace {

// Bitmap files beyond this are refused before anything is allocated.
constexpr uint64_t kMaxBitmapFileBytes = uint64_t{1} << 31;

}  // namespace

size_t BitmapRowBytes(int32_t width, uint16_t bitCount) {
  const uint64_t bits = static_cast<uint64_t>(width < 0 ? 0 : width) * bitCount;
  return static_cast<size_t>(((bits + 31) / 32) * 4);
}

std::unique_ptr<Bitmap> ParseBitmapImage(const uint8_t* data, size_t size) {
  if (data == nullptr) return nullptr;
  BmpLayout l;
  if (!ParseBmpLayout(data, std::min(size, kMaxBmpHeadBytes), size, l).empty()) return nullptr;
  // An AVI frame is stored as it is: no OS/2 header, no colour masks.
  if (l.headerSize < kBitmapInfoHeaderSize || l.compression != 0) return nullptr;
  if (l.imageBytes > std::numeric_limits<uint32_t>::max()) return nullptr;

  BitmapInfoHeader h;
  h.size = static_cast<uint32_t>(kBitmapInfoHeaderSize);
  h.width = l.width;
  h.height = l.height;
  h.planes = 1;
  h.bitCount = l.bitCount;
  h.compression = 0;
  h.sizeImage = static_cast<uint32_t>(l.imageBytes);
  h.xPelsPerMeter = l.xPelsPerMeter;
  h.yPelsPerMeter = l.yPelsPerMeter;
  h.clrUsed = l.tableEntries;
  h.clrImportant = l.clrImportant <= h.clrUsed ? l.clrImportant : 0;

  auto bitmap = std::make_unique<Bitmap>();
  bitmap->header = h;
  const uint8_t* table = data + l.tableOffset;
  bitmap->colourTable.assign(table, table + 4 * size_t{l.tableEntries});
  const uint8_t* pixels = data + l.pixelOffset;
  if (!l.topDown) {
    bitmap->bits.assign(pixels, pixels + l.imageBytes);
  } else {
    bitmap->bits.resize(static_cast<size_t>(l.imageBytes));
    const auto row = static_cast<size_t>(l.rowBytes);
    for (int32_t y = 0; y < h.height; ++y) {
      std::memcpy(bitmap->bits.data() + static_cast<size_t>(h.height - 1 - y) * row,
                  pixels + static_cast<size_t>(y) * row, row);
    }
  }
  return bitmap;
}

std::unique_ptr<Bitmap> LoadBitmapFile(const std::string& path) {
  ReadOnlyFile file;  // regular files only: a FIFO never blocks the export
  if (!file.Open(path).empty() || file.Size() == 0 || file.Size() > kMaxBitmapFileBytes) return nullptr;
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  if (!file.ReadAt(0, bytes.data(), bytes.size())) return nullptr;
  return ParseBitmapImage(bytes.data(), bytes.size());
}

}  // namespace tovimar
