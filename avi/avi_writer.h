#pragma once
// A small writer of uncompressed AVI files (RIFF "AVI "): one video stream of
// key frames in the pixel format of the first bitmap, at 1000 / period frames
// per second, and an optional PCM audio stream. Streams are numbered in the
// order they are created (the first append of either kind makes stream 00).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "avi/bitmap_file.h"

namespace tovimar {

// WAVEFORMATEX without extra data (cbSize is always 0).
struct WaveFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

// A WAVE file image in memory: the bytes and how many there are. Its RIFF
// chunks are walked for "fmt " and then "data" (LIST and other chunks
// between them are skipped); nothing beyond data + size is ever read.
struct WaveImage {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// Size limits of the writer (AviFile's second constructor), adjustable so
// that tests can reach them with small files; out-of-range values are
// clamped (riffBytes at least 64 KiB, riffCount 1 to 4096).
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

struct AviWriter;  // the file's state, private to the writer

// An AVI file being written. Long sequences: past 1 GiB the file continues in
// further RIFF lists (the large-file AVI form, with per-list indexes), up to
// 256 lists. A write error (a full disk), or a frame or audio block beyond
// the last list or larger than a list, throws Error and fails the file: later
// appends throw, and Close still completes it with the frames before, so it
// stays playable.
class AviFile {
 public:
  // Starts fileName under a temporary name beside it (fileName itself is
  // replaced only by Close). waveFormat, when given, fixes the audio format
  // in advance. Throws Error, naming the file, when it cannot be created or
  // periodMs is not positive.
  AviFile(const std::string& fileName, int32_t periodMs, const WaveFormat* waveFormat = nullptr);
  // The same with other size limits (for tests that reach them with small files).
  AviFile(const std::string& fileName, int32_t periodMs, const WaveFormat* waveFormat,
          const AviWriterLimits& limits);
  // Without Close the unfinished file is removed: fileName keeps whatever it
  // held before.
  ~AviFile();
  AviFile(const AviFile&) = delete;
  AviFile& operator=(const AviFile&) = delete;

  // Appends the bitmap as the next video frame (a key frame). false, nothing
  // written, when its layout (size, bit depth, colour table) differs from the
  // first frame's.
  bool AppendFrame(const Bitmap& bitmap);
  // Appends the samples of a WAVE image, or of a WAVE file (a regular file
  // only). false, nothing written, for a file that cannot be opened, or an
  // image that CheckWaveFile would refuse or whose format differs from the
  // stream's. Whole blocks are written (a trailing partial block is
  // dropped). A file that fails while it is read throws Error and fails the
  // AVI file.
  bool AppendAudio(const WaveImage& image);
  bool AppendAudioFile(const std::string& path);

  // Completes the file (headers, index), closes it and renames it from its
  // temporary name to fileName. Throws Error when it could not be completed
  // or renamed; fileName then keeps what it held before.
  void Close();

  int64_t FramesWritten() const;
  // Whole sample frames (blocks).
  int64_t AudioSamplesWritten() const;

 private:
  std::unique_ptr<AviWriter> writer_;
  std::string fileName_;
};

// Sample rates a WAVE file may have.
inline constexpr uint32_t kMinWaveRate = 1000;
inline constexpr uint32_t kMaxWaveRate = 384000;

// Checks a WAVE file as AviFile::AppendAudioFile reads it: "" or why it is refused
// (not a regular file, no fmt or data chunk, block align not channels x
// bytes per sample, byte rate not rate x block align, rate outside
// kMinWaveRate..kMaxWaveRate, data past the end).
std::string CheckWaveFile(const std::string& path);

}  // namespace tovimar
