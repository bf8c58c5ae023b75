#pragma once
// Uncompressed Windows bitmaps loaded from BMP files, as the AVI writer takes
// them: the 40-byte information header, the colour table and the pixel bits.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovimar {

// BITMAPINFOHEADER, field for field (40 bytes in a file).
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;  // always positive here: rows are stored bottom-up
  uint16_t planes = 1;
  uint16_t bitCount = 0;
  uint32_t compression = 0;  // 0 = BI_RGB, the only kind accepted
  uint32_t sizeImage = 0;    // bytes of pixel bits, always filled in
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;  // entries in the colour table, always filled in (0 above 8 bits)
  uint32_t clrImportant = 0;
};

inline constexpr size_t kBitmapInfoHeaderSize = 40;

// A loaded uncompressed bitmap. Invariants kept by LoadBitmapFile:
// header.sizeImage == bits.size() == padded row size * height,
// colourTable.size() == 4 * header.clrUsed.
struct Bitmap {
  BitmapInfoHeader header;
  std::vector<uint8_t> colourTable;  // RGBQUAD entries (blue, green, red, 0)
  std::vector<uint8_t> bits;         // rows bottom-up, each padded to 4 bytes
};

// Bytes of one stored row of pixels: width * bitCount bits rounded up to 4 bytes.
size_t BitmapRowBytes(int32_t width, uint16_t bitCount);

// Loads an uncompressed (BI_RGB) BMP of 1, 4, 8, 16, 24 or 32 bits per pixel
// with a Windows information header, checked by the io library's reader.
// Every header field and size is checked against the file; top-down files
// are turned bottom-up. Returns null for a missing, unreadable, truncated,
// compressed or otherwise invalid file; nothing outside the file is read.
std::unique_ptr<Bitmap> LoadBitmapFile(const std::string& path);

// Same, from a BMP file image in memory.
std::unique_ptr<Bitmap> ParseBitmapImage(const uint8_t* data, size_t size);

}  // namespace tovimar
