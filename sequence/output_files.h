#pragma once
// Where a run's files go, how they are named, and the writers of the two
// file kinds: 24-bit BMP images and disparity text files.
//
// Layout of a run: OutputDirectory(folder, sequenceNumber) holds, per frame
// and camera, the camera image, the sub-pixel and pixel disparity maps, the
// disparity text file and the segmentation map (FrameFileNames).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovimar {

inline constexpr char kPathSeparator = '/';

// folder + '/' (unless folder is empty or already ends with '/') + decimal
// sequence number + '/'. "/tmp/out", 3 -> "/tmp/out/3/"; "", 3 -> "3/".
std::string OutputDirectory(const std::string& folder, int sequenceNumber);

// Four digits, zero-padded: 0 -> "0000", 123 -> "0123", 9999 -> "9999".
// Past 9999 the number widens instead of wrapping: 10000 -> "10000", so a
// run never overwrites the files of its own earlier frames.
std::string FrameNumber(int32_t frameCounter);

// The five files of one frame of one camera, full paths, in writing order.
struct FrameFileNames {
  std::string cameraImage;    // "left_NNNN.bmp"     / "right_NNNN.bmp"
  std::string subPixelMap;    // "ldisp_NNNN.bmp"    / "disp_NNNN.bmp"
  std::string pixelMap;       // "ldisp_p_NNNN.bmp"  / "disp_p_NNNN.bmp"
  std::string disparityText;  // "lbindisp_NNNN.dat" / "bindisp_NNNN.dat"
  std::string segmentation;   // "seg_l_NNNN.bmp"    / "seg_r_NNNN.bmp"
};

// directory: an OutputDirectory result (ending in the separator).
FrameFileNames MakeFrameFileNames(const std::string& directory, bool rightCamera,
                                  int32_t frameCounter);

// Bare name of a camera image, "left_0007.bmp" / "right_0007.bmp" (the AVI
// export reads the images back by this name).
std::string CameraImageName(bool rightCamera, int32_t frameCounter);

// One single-level directory creation; an existing directory, a missing
// parent or any other failure is ignored (the first file write reports it).
void CreateOutputDirectory(const std::string& directory);

// A 24-bit uncompressed BMP file held in memory in its final layout: the
// 54 header bytes ("BM", 14-byte file header, 40-byte information header,
// no colour table, resolution fields 0, biClrUsed 0), then the rows
// bottom-up, each W*3 bytes blue-green-red padded with zeros to a multiple
// of 4. Rows are addressed top-down, so image row y is the picture's row y.
class BmpImage24 {
 public:
  BmpImage24() = default;
  BmpImage24(int width, int height) { Reset(width, height); }

  // New size; the pixels are left zero (black) when the size changes.
  void Reset(int width, int height);
  int Width() const { return width_; }
  int Height() const { return height_; }
  std::size_t RowStride() const { return stride_; }  // padded row length in bytes

  // Blue-green-red bytes of picture row y (0 = top).
  uint8_t* Row(int y) { return bytes_.data() + RowOffset(y); }
  const uint8_t* Row(int y) const { return bytes_.data() + RowOffset(y); }

  void Fill(uint8_t red, uint8_t green, uint8_t blue);

  // The whole file, header included.
  const std::vector<uint8_t>& FileBytes() const { return bytes_; }

  // Creates or truncates path and writes the file in one piece. Throws
  // Error("Cannot create file " + path) when it cannot be opened or written
  // completely (a partly written file is removed).
  void Save(const std::string& path) const;

 private:
  std::size_t RowOffset(int y) const {
    return 54 + static_cast<std::size_t>(height_ - 1 - y) * stride_;
  }
  int width_ = 0;
  int height_ = 0;
  std::size_t stride_ = 0;
  std::vector<uint8_t> bytes_;
};

// Writes a W x H picture given as tightly packed blue-green-red rows, top row
// first, as a 24-bit BMP file. Throws like BmpImage24::Save.
void WriteBmp24(const std::string& path, const uint8_t* bgrTopDown, int width, int height);

// Appends v as C's "%.18g" writes it, with '.' as decimal point, whatever
// the process locale.
void AppendDisparityValue(std::string& out, double v);

// The disparity text file: "W\r\nH\r\n", then W*H lines, one value each in
// array order (top row first, left to right), each ended by "\r\n", then one
// more "\r\n" (the file ends with an empty line). The text is gathered in
// `buffer` (reused between calls when given) and written in one piece.
// Returns +1. Throws Error("Cannot create file " + path) when the file cannot
// be opened or written, removing a partly written file.
int WriteDisparityFile(const std::string& path, const double* disparity, int width, int height,
                       std::string* buffer = nullptr);

// Writes `size` bytes to path in one piece (created or truncated); throws
// Error("Cannot create file " + path) on any failure, removing a partial file.
void WriteWholeFile(const std::string& path, const void* data, std::size_t size);

}  // namespace tovimar
