#pragma once
// PNG files through libpng: 8- or 16-bit, grey (1 channel) or RGB (3
// channels). Pixels are handed over top row first, channels interleaved;
// 16-bit samples are stored big-endian in the file as PNG requires.
//
// Encoding is deterministic: zlib level 1 with libpng's adaptive filters
// and no time or text chunks, so the same pixels always give the same bytes
// (with one zlib build). Level 1 is several times faster than zlib's default
// on mask and disparity pictures, which are large flat areas that compress
// well at any level.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/size_check.h"

namespace tovimar {

// Largest width or height, and largest pixel count, accepted by the reader.
inline constexpr int kMaxPngSide = 65535;
inline constexpr uint64_t kMaxPngPixels = uint64_t{1} << 26;

// The whole file. Throws Error for channels other than 1 or 3 or a size
// outside 1..kMaxPngSide.
std::string EncodePng8(const uint8_t* pixels, int width, int height, int channels);
std::string EncodePng16(const uint16_t* samples, int width, int height, int channels);

// Write the encoded bytes with WriteWholeFile (Error "Cannot create file ...").
void WritePng8(const std::string& path, const uint8_t* pixels, int width, int height, int channels);
void WritePng16(const std::string& path, const uint16_t* samples, int width, int height, int channels);

struct PngImage {
  int width = 0, height = 0, channels = 0, bitDepth = 0;
  std::vector<uint16_t> samples;  // top row first, channels interleaved, 0..255 or 0..65535
};

// Decodes a PNG held in memory: grey or RGB at 8 or 16 bits, interlaced or
// not; palette, alpha and depths below 8 are refused, as are sides past
// kMaxPngSide and more than kMaxPngPixels pixels. Returns "" or why the
// bytes are refused.
std::string DecodePng(const uint8_t* data, std::size_t size, PngImage& image);

// Reads a PNG file. Throws Error("'" + path + "' does not exist") or
// Error("'" + path + "' is not a readable PNG (" + reason + ")"), or what
// check throws for the size in the header. The signature, the header's size
// and check come before the file is read whole or decoded.
PngImage ReadPng(const std::string& path, const HeaderSizeCheck& check = {});

}  // namespace tovimar
