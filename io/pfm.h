#pragma once
// Portable float map (PFM) files: "Pf" (one channel) or "PF" (three), the
// header "Pf\n<W> <H>\n<scale>\n", then 32-bit floats, rows stored bottom
// row first. A negative scale means little-endian samples, a positive one
// big-endian; only its sign is used. Values are handed over top row first.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/size_check.h"

namespace tovimar {

// Largest width or height accepted by the reader.
inline constexpr int kMaxPfmSide = 65535;

// The whole file: header "Pf\n<W> <H>\n-1\n" (or "PF" for 3 channels), then
// little-endian floats, rows bottom-up. values: W*H*channels floats, top row
// first, channels interleaved. Throws Error for channels other than 1 or 3 or
// a size outside 1..kMaxPfmSide.
std::string EncodePfm(const float* values, int width, int height, int channels);

// Writes EncodePfm's bytes with WriteWholeFile (Error "Cannot create file ...").
void WritePfm(const std::string& path, const float* values, int width, int height, int channels = 1);

struct PfmImage {
  int width = 0, height = 0, channels = 0;
  std::vector<float> values;  // top row first, channels interleaved
};

// Decodes a PFM held in memory. Strict: magic "PF" or "Pf", width, height and
// scale separated by whitespace (space, tab, CR, LF), the scale a finite
// nonzero number, then exactly one line end (LF or CR LF) before the samples,
// and exactly W*H*channels*4 bytes of samples. Returns "" or why the bytes
// are refused.
std::string DecodePfm(const uint8_t* data, std::size_t size, PfmImage& image);

// Reads a PFM file. Throws Error("'" + path + "' does not exist") or
// Error("'" + path + "' is not a readable PFM (" + reason + ")"), or what
// check throws for the header's size (before the samples are read).
PfmImage ReadPfm(const std::string& path, const HeaderSizeCheck& check = {});

}  // namespace tovimar
