#pragma once
// A small writer of uncompressed AVI files (RIFF "AVI "): one video stream of
// key frames in the pixel format of the first bitmap, at 1000 / period frames
// per second, and an optional PCM audio stream. Streams are numbered in the
// order they are created (the first append of either kind makes stream 00).
//
// Results are 32-bit codes: 0 for success, otherwise one of the AVIERR_ codes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "avi/bitmap_file.h"

namespace tovimar {

inline constexpr int32_t AVIERR_OK = 0;
inline constexpr int32_t AVIERR_BADFORMAT = static_cast<int32_t>(0x80044066u);
inline constexpr int32_t AVIERR_BADFLAGS = static_cast<int32_t>(0x80044069u);
inline constexpr int32_t AVIERR_BADPARAM = static_cast<int32_t>(0x8004406Au);
inline constexpr int32_t AVIERR_BADHANDLE = static_cast<int32_t>(0x8004406Cu);
inline constexpr int32_t AVIERR_FILEOPEN = static_cast<int32_t>(0x8004406Fu);
inline constexpr int32_t AVIERR_FILEREAD = static_cast<int32_t>(0x8004406Du);
inline constexpr int32_t AVIERR_FILEWRITE = static_cast<int32_t>(0x8004406Eu);
inline constexpr int32_t AVIERR_ERROR = static_cast<int32_t>(0x800440C7u);

// Sources of AppendWaveAudio.
inline constexpr uint32_t kWaveSourceMemory = 0x0004;   // source is a const WaveImage*
inline constexpr uint32_t kWaveSourceFile = 0x20000;    // source is a const char* file name

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

// Long sequences: past 1 GiB the file continues in further RIFF lists (the
// large-file AVI form, with per-list indexes), up to 256 lists. A frame or
// audio block beyond that, or a single one larger than a list, is refused
// with AVIERR_ERROR and the writer becomes failed. A write error (a full
// disk) gives AVIERR_FILEWRITE and also fails the writer. Either way the
// frames written before stay in a complete, playable file.

struct AviWriter;  // opaque; created by OpenAviWriter, freed by CloseAviWriter

// Starts fileName under a temporary name beside it (fileName itself is
// replaced only by CloseAviWriter). waveFormat, when given, fixes the audio
// format in advance. Returns null when the file cannot be created or
// periodMs is not positive.
AviWriter* OpenAviWriter(const std::string& fileName, int32_t periodMs, const WaveFormat* waveFormat);

// Appends one bitmap as the next video frame (a key frame).
//   null writer: AVIERR_BADHANDLE; null bitmap: AVIERR_BADPARAM;
//   writer failed earlier: AVIERR_ERROR;
//   a bitmap whose layout (size, bit depth, colour table) differs from the
//   first frame's: AVIERR_BADFORMAT, the writer stays usable;
//   a write error or the size limit: the code, and the writer becomes failed.
int32_t AppendBitmapFrame(AviWriter* writer, const Bitmap* bitmap);

// Appends the samples of a WAVE image (flag kWaveSourceMemory, source a
// const WaveImage*) or of a WAVE file (flag kWaveSourceFile, source a
// const char* name).
//   null writer: AVIERR_BADHANDLE; other flag: AVIERR_BADFLAGS; null source:
//   AVIERR_BADPARAM; writer failed: AVIERR_ERROR; file that cannot be read:
//   AVIERR_FILEOPEN and the writer becomes failed; an image that
//   CheckWaveFile would refuse, or whose format differs from the stream's:
//   AVIERR_BADFORMAT, nothing written, failed unchanged.
//   Whole blocks are written (a trailing partial block is dropped) and the
//   stream position advances by data length / block alignment.
int32_t AppendWaveAudio(AviWriter* writer, const void* source, uint32_t flag);

// Completes the file (headers, index), closes it, renames it from its
// temporary name to fileName and frees the writer. Until then fileName keeps
// whatever it held before. Returns 0, AVIERR_FILEWRITE when the file could
// not be completed or renamed, or AVIERR_BADHANDLE for a null writer.
int32_t CloseAviWriter(AviWriter* writer);

// Frees the writer and removes its unfinished file: fileName keeps whatever
// it held before the writer was opened.
void AbandonAviWriter(AviWriter* writer);

// errno of the writer's last failed write (0 if none), for messages.
int AviWriterErrno(const AviWriter* writer);

// Sample rates a WAVE file may have.
inline constexpr uint32_t kMinWaveRate = 1000;
inline constexpr uint32_t kMaxWaveRate = 384000;

// Checks a WAVE file as AppendWaveAudio reads it: "" or why it is refused
// (not a regular file, no fmt or data chunk, block align not channels x
// bytes per sample, byte rate not rate x block align, rate outside
// kMinWaveRate..kMaxWaveRate, data past the end).
std::string CheckWaveFile(const std::string& path);

// Counters of an open writer, for callers that report progress.
// (0 for a null writer.) Audio samples count whole sample frames (blocks).
int64_t AviFramesWritten(const AviWriter* writer);
int64_t AviAudioSamplesWritten(const AviWriter* writer);

// Size limits of the writer, adjustable so that tests can reach them with
// small files. Ordinary callers use OpenAviWriter.
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
