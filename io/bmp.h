#pragma once
// Windows bitmap (BMP) files: the one writer of the program's 24-bit images
// and the one checking reader of bitmaps from outside (textures, AVI frames).
//
// The reader trusts nothing in a file: every header field, the colour table,
// the pixel offset and the padded rows are checked against the file's size
// before a pixel is read, sides are bounded, and only the bytes needed are
// read. Accepted: the 12-byte OS/2 header and the 40, 56, 108 and 124-byte
// Windows headers; 1, 4 and 8 bits per pixel with a colour table, 16, 24 and
// 32 bits per pixel, uncompressed or (16 and 32 bits) with colour masks;
// rows stored bottom-up or top-down. Everything else is refused.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/size_check.h"
#include "io/file.h"

namespace tovimar {

// ---------------------------------------------------------------- writing

// A 24-bit uncompressed BMP file held in memory in its final layout: the
// 54 header bytes ("BM", 14-byte file header, 40-byte information header,
// no colour table, resolution fields as set (0 by default), biClrUsed 0),
// then the rows bottom-up, each W*3 bytes blue-green-red padded with zeros
// to a multiple of 4. Rows are addressed top-down, so image row y is the
// picture's row y.
class BmpImage24 {
 public:
  BmpImage24() = default;
  BmpImage24(int width, int height) { Reset(width, height); }

  // New size; the pixels are left zero (black) when the size changes.
  // Throws Error for a negative size or a file past 4 GiB.
  void Reset(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  std::size_t RowStride() const { return stride_; }  // padded row length in bytes

  // Both resolution fields, in pixels per metre (2835 is 72 dots per inch).
  void SetPixelsPerMetre(uint32_t pixelsPerMetre);

  // Blue-green-red bytes of picture row y (0 = top).
  uint8_t* Row(int y) { return bytes_.data() + RowOffset(y); }
  const uint8_t* Row(int y) const { return bytes_.data() + RowOffset(y); }

  void Fill(uint8_t red, uint8_t green, uint8_t blue);

  // The whole file, header included.
  const std::vector<uint8_t>& FileBytes() const { return bytes_; }

  // Writes the file under a temporary name and renames it to path once it
  // is complete (AtomicFile): path holds either what it held before or the
  // whole new file. Throws Error("Cannot create file " + path + ": reason").
  void Save(const std::string& path) const;

 private:
  std::size_t RowOffset(int y) const { return 54 + static_cast<std::size_t>(height_ - 1 - y) * stride_; }
  int width_ = 0;
  int height_ = 0;
  std::size_t stride_ = 0;
  std::vector<uint8_t> bytes_;
};

// Writes a W x H picture given as tightly packed blue-green-red rows, top row
// first, as a 24-bit BMP file. Throws like BmpImage24::Save.
void WriteBmp24(const std::string& path, const uint8_t* bgrTopDown, int width, int height);

// ---------------------------------------------------------------- reading

// Largest width or height accepted.
inline constexpr int32_t kMaxBmpSide = 65535;
// The file header and the longest information header: all ParseBmpLayout reads.
inline constexpr std::size_t kMaxBmpHeadBytes = 14 + 124;

// Where a checked bitmap's parts lie, and its fields.
struct BmpLayout {
  uint32_t headerSize = 0;  // information header: 12 (OS/2), 40, 56, 108 or 124
  int32_t width = 0;        // 1 .. kMaxBmpSide
  int32_t height = 0;       // 1 .. kMaxBmpSide, whichever way the rows are stored
  bool topDown = false;     // rows stored top row first (negative height in the file)
  uint16_t bitCount = 0;    // 1, 4, 8, 16, 24 or 32
  uint32_t compression = 0; // 0 (none) or 3 (colour masks)
  uint32_t redMask = 0, greenMask = 0, blueMask = 0;  // 16 and 32 bits per pixel
  uint32_t sizeImage = 0;   // as stated (0 or at least imageBytes)
  int32_t xPelsPerMeter = 0, yPelsPerMeter = 0;
  uint32_t clrImportant = 0;  // as stated
  uint64_t tableOffset = 0;   // colour table: where, how many entries, bytes per entry
  uint32_t tableEntries = 0;  // 0 above 8 bits per pixel
  uint32_t tableEntryBytes = 4;
  uint64_t pixelOffset = 0;
  uint64_t rowBytes = 0;    // one stored row, padded to 4 bytes
  uint64_t imageBytes = 0;  // rowBytes * height, all inside the file
};

// Checks the headers of a BMP file against the file's size. head: the file's
// first min(fileSize, kMaxBmpHeadBytes) bytes. Returns "" and fills layout,
// or why the file is refused.
std::string ParseBmpLayout(const uint8_t* head, std::size_t headSize, uint64_t fileSize, BmpLayout& layout);

// Where a bitmap's bytes come from: memory or an open file.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly n bytes at offset; false when they are not all there.
  virtual bool ReadAt(uint64_t offset, void* out, std::size_t n) const = 0;
};

class MemoryByteSource : public ByteSource {
 public:
  MemoryByteSource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, std::size_t n) const override;

 private:
  const uint8_t* data_;
  std::size_t size_;
};

class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(const ReadOnlyFile& file) : file_(file) {}
  uint64_t Size() const override { return file_.Size(); }
  bool ReadAt(uint64_t offset, void* out, std::size_t n) const override { return file_.ReadAt(offset, out, n); }

 private:
  const ReadOnlyFile& file_;
};

// Checks the headers of the bitmap in source; "" or why it is refused.
std::string ReadBmpLayout(const ByteSource& source, BmpLayout& layout);

// Red-green-blue pixels, rows top first, tightly packed.
struct RgbPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

// The top-left corner of a checked bitmap, at most maxWidth x maxHeight
// pixels: only those rows and pixels (and the colour table) are read.
// Colours are the stored ones; fields of masks narrower than 8 bits are
// widened by repeating their bits. Returns "" or why it cannot be read
// (a colour index past the colour table, a failed read).
std::string DecodeBmpTopLeft(const ByteSource& source, const BmpLayout& layout, int maxWidth, int maxHeight,
                             RgbPicture& picture);

// Opens path (a regular file only, never blocking on a FIFO or device),
// checks it and decodes its top-left corner. Throws Error("'" + path + "'
// does not exist") or Error("'" + path + "' is not a readable bitmap (" +
// reason + ")"), or what check throws for the size in the header, before
// any pixel is decoded. identity: the file that was read.
RgbPicture LoadBmpTopLeft(const std::string& path, int maxWidth, int maxHeight, FileIdentity* identity = nullptr,
                          const HeaderSizeCheck& check = {});

}  // namespace tovimar
