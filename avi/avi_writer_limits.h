#pragma once
// Size limits of the AVI writer, adjustable so that tests can reach them
// with small files. Ordinary callers use OpenAviWriter.
#include <cstdint>
#include <string>

#include "avi/avi_writer.h"

namespace tovimar {

// The file is a chain of RIFF lists: "AVI " first, then "AVIX" extensions
// (the large-file form readers know as OpenDML), each with its own "movi"
// list and per-stream chunk indexes, all listed in a per-stream index of
// indexes in the header. The first RIFF also carries the classic "idx1"
// index, so readers that know only that form play the first part.
struct AviWriterLimits {
  // Largest RIFF list, header included. 1 GiB keeps every offset far inside
  // 32 bits and matches what readers of the classic form expect.
  uint64_t riffBytes = uint64_t{1} << 30;
  // Entries of each stream's index of indexes, i.e. RIFF lists per file:
  // 256 lists of 1 GiB.
  uint32_t riffCount = 256;
};

// OpenAviWriter with other limits (riffBytes at least 64 KiB, riffCount 1 to
// 4096; out-of-range values are clamped).
AviWriter* OpenAviWriterWithLimits(const std::string& fileName, int32_t periodMs,
                                   const WaveFormat* waveFormat, const AviWriterLimits& limits);

}  // namespace tovimar
