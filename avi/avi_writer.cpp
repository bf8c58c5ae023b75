#include "avi/avi_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "base/check.h"
#include "base/error.h"
#include "io/atomic_file.h"
#include "io/bytes.h"
#include "io/file.h"

// File layout written here:
//
//   RIFF 'AVI '
//     LIST 'hdrl'                       (written at close, into a reserved area)
//       'avih'                          main header
//       LIST 'strl' per stream          'strh', 'strf', 'indx' (index of indexes)
//       LIST 'odml' 'dmlh'              total frame count
//     'JUNK'                            rest of the reserved area
//     LIST 'movi'                       '00db' frames / '01wb' audio, then 'ix00', 'ix01'
//     'idx1'                            classic index of this first RIFF
//   RIFF 'AVIX'                         further RIFF lists, only for large files
//     LIST 'movi'                       chunks, then this list's 'ix00', 'ix01'
//
// Streams are created lazily by the first append of each kind, so the header
// is only known at close; its area is reserved at its largest size when the
// file is opened and filled up with a JUNK chunk. Chunks are appended as they
// come; a RIFF list is closed (indexes written, sizes patched) when the next
// chunk would take it past its size limit, and at close.

namespace tovimar {

namespace {

// What an append did.
enum AppendResult : int32_t {
  kWritten = 0,
  kOtherFormat,  // not the stream's format: nothing written, the file goes on
  kFull,         // beyond the size limits: the file has failed
  kWriteFailed,  // a write error: the file has failed
  kReadFailed,   // the sound file could not be read: the file has failed
};

constexpr uint32_t kAvifHasIndex = 0x10;
constexpr uint32_t kAviifKeyframe = 0x10;
constexpr uint32_t kAudioChunkBytes = 1u << 20;  // audio is split into chunks of at most this
constexpr uint32_t kSuperIndexEntryBytes = 16;
constexpr uint32_t kMaxColourTableBytes = 4 * 256;
constexpr uint32_t kWaveFormatExBytes = 18;

constexpr uint32_t FourCc(const char (&s)[5]) {
  return uint32_t{static_cast<uint8_t>(s[0])} | (uint32_t{static_cast<uint8_t>(s[1])} << 8) |
         (uint32_t{static_cast<uint8_t>(s[2])} << 16) | (uint32_t{static_cast<uint8_t>(s[3])} << 24);
}

uint32_t StreamFourCc(size_t stream, char a, char b) {
  const auto tens = static_cast<uint8_t>('0' + (stream / 10) % 10);
  const auto units = static_cast<uint8_t>('0' + stream % 10);
  return uint32_t{tens} | (uint32_t{units} << 8) | (uint32_t{static_cast<uint8_t>(a)} << 16) |
         (uint32_t{static_cast<uint8_t>(b)} << 24);
}

// "ix00", "ix01": the chunk index of a stream within one RIFF list.
uint32_t IndexFourCc(size_t stream) {
  const uint32_t digits = StreamFourCc(stream, 'i', 'x') & 0xFFFFu;
  return FourCc("ix\0\0") | (digits << 16);
}

uint32_t Saturate32(uint64_t v) {
  return v > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                  : static_cast<uint32_t>(v);
}

using io::Le16;
using io::Le32;

// Little-endian byte builder for headers and indexes.
class Bytes {
 public:
  void U8(uint8_t v) { b_.push_back(v); }
  void U16(uint32_t v) { io::AppendLe16(b_, v); }
  void U32(uint32_t v) { io::AppendLe32(b_, v); }
  void U64(uint64_t v) { io::AppendLe64(b_, v); }
  void Zeros(size_t n) { b_.insert(b_.end(), n, 0); }
  void Raw(const uint8_t* p, size_t n) { b_.insert(b_.end(), p, p + n); }
  // Starts a chunk (or a list when listType != 0); returns the position of
  // its size field for EndChunk.
  size_t Begin(uint32_t id, uint32_t listType = 0) {
    U32(id);
    const size_t sizeAt = b_.size();
    U32(0);
    if (listType != 0) U32(listType);
    return sizeAt;
  }
  void End(size_t sizeAt) {
    const auto n = static_cast<uint32_t>(b_.size() - sizeAt - 4);
    io::PutLe32(b_.data() + sizeAt, n);
    if (n % 2 != 0) U8(0);
  }
  size_t Size() const { return b_.size(); }
  const uint8_t* Data() const { return b_.data(); }

 private:
  std::vector<uint8_t> b_;
};

struct ChunkRef {
  uint64_t dataOffset;
  uint32_t size;
};

struct SuperIndexEntry {
  uint64_t offset;
  uint32_t size;
  uint32_t duration;
};

struct Idx1Entry {
  uint32_t id;
  uint32_t offset;  // from the 'movi' list type of the first RIFF to the chunk header
  uint32_t size;
};

struct Stream {
  bool video = false;
  uint32_t chunkId = 0;
  uint32_t maxChunk = 0;
  uint64_t length = 0;              // frames, or audio blocks
  uint64_t firstRiffLength = 0;     // the same, within the first RIFF list
  std::vector<ChunkRef> riffChunks; // chunks of the current RIFF list
  uint64_t riffDuration = 0;
  std::vector<SuperIndexEntry> superIndex;
};

bool ValidBitCount(uint16_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// A bitmap as LoadBitmapFile makes it: anything else is not accepted as a frame.
bool IsLoadedBitmap(const Bitmap& b) {
  const BitmapInfoHeader& h = b.header;
  if (h.size != kBitmapInfoHeaderSize || h.width <= 0 || h.height <= 0 || h.planes != 1 ||
      !ValidBitCount(h.bitCount) || h.compression != 0)
    return false;
  const uint64_t image = uint64_t{BitmapRowBytes(h.width, h.bitCount)} * uint64_t(h.height);
  if (image != h.sizeImage || b.bits.size() != image) return false;
  if (h.bitCount <= 8 ? (h.clrUsed == 0 || h.clrUsed > (1u << h.bitCount)) : h.clrUsed != 0)
    return false;
  return b.colourTable.size() == uint64_t{h.clrUsed} * 4;
}

bool SameLayout(const BitmapInfoHeader& a, const std::vector<uint8_t>& tableA, const Bitmap& b) {
  return a.width == b.header.width && a.height == b.header.height &&
         a.bitCount == b.header.bitCount && a.sizeImage == b.header.sizeImage &&
         a.clrUsed == b.header.clrUsed && tableA == b.colourTable;
}

uint32_t HeaderAreaBytes(uint32_t riffCount) {
  const uint32_t avih = 8 + 56;
  const uint32_t strh = 8 + 56;
  const uint32_t indx = 8 + 24 + kSuperIndexEntryBytes * riffCount;
  const uint32_t video = 12 + strh + 8 + 40 + kMaxColourTableBytes + indx;
  const uint32_t audio = 12 + strh + 8 + kWaveFormatExBytes + indx;
  const uint32_t odml = 12 + 8 + 248;
  const uint32_t all = 12 + 12 + avih + video + audio + odml + 8;  // RIFF, hdrl, ..., JUNK header
  return (all + 511) / 512 * 512;
}

}  // namespace

struct AviWriter {
  AtomicFile file;  // renamed to the final name at close
  WaveFormat waveFormat;
  int32_t period = 0;
  int audioStream = -1;
  int videoStream = -1;
  std::vector<Stream> streams;
  BitmapInfoHeader videoFormat;
  std::vector<uint8_t> videoColourTable;
  int64_t framesWritten = 0;
  int64_t audioSamplesWritten = 0;
  bool failed = false;

  AviWriterLimits limits;
  uint64_t headerArea = 0;  // bytes before the first 'movi' list
  uint32_t riffIndex = 0;   // 0 = the 'AVI ' list
  uint64_t riffStart = 0;   // offset of the current RIFF header
  uint64_t moviStart = 0;   // offset of the current 'movi' LIST header
  uint64_t end = 0;         // end of the last complete chunk
  bool riffOpen = true;     // the current RIFF list still takes chunks
  std::vector<Idx1Entry> idx1;
  std::vector<uint8_t> scratch;
};

namespace {

// Unbuffered positioned writes: a failure shows at the chunk that caused it,
// and everything before `end` is known to be in the file.
bool WriteAt(AviWriter& w, uint64_t offset, const void* data, size_t n) {
  return w.file.WriteAt(offset, data, n);
}

bool PatchU32(AviWriter& w, uint64_t offset, uint64_t value) {
  uint8_t b[4];
  io::PutLe32(b, Saturate32(value));
  return WriteAt(w, offset, b, 4);
}

// Bytes the current RIFF list still needs after its chunks: the per-stream
// chunk indexes (one more entry for `extraStream`) and, in the first list,
// the classic index.
uint64_t RiffTailBytes(const AviWriter& w, int extraStream, uint64_t extraEntries) {
  uint64_t tail = 0;
  for (size_t i = 0; i < w.streams.size(); ++i) {
    const uint64_t n = w.streams[i].riffChunks.size() +
                       (static_cast<int>(i) == extraStream ? extraEntries : 0);
    if (n != 0) tail += 8 + 24 + 8 * n;
  }
  if (w.riffIndex == 0) tail += 8 + 16 * (w.idx1.size() + extraEntries);
  return tail;
}

bool RiffHasChunks(const AviWriter& w) {
  for (const Stream& s : w.streams)
    if (!s.riffChunks.empty()) return true;
  return false;
}

// Writes the chunk indexes of the current RIFF list, ends its 'movi' list,
// writes the classic index after the first one, and patches the sizes.
bool CloseRiff(AviWriter& w) {
  w.riffOpen = false;
  bool ok = true;
  const uint64_t base = w.moviStart + 8;  // the 'movi' list type
  for (size_t i = 0; i < w.streams.size(); ++i) {
    Stream& s = w.streams[i];
    if (s.riffChunks.empty()) continue;
    Bytes ix;
    const size_t sizeAt = ix.Begin(IndexFourCc(i));
    ix.U16(2);  // longs per entry
    ix.U8(0);   // sub-type
    ix.U8(1);   // index of chunks
    ix.U32(static_cast<uint32_t>(s.riffChunks.size()));
    ix.U32(s.chunkId);
    ix.U64(base);
    ix.U32(0);
    for (const ChunkRef& c : s.riffChunks) {
      ix.U32(static_cast<uint32_t>(c.dataOffset - base));
      ix.U32(c.size);  // bit 31 clear: every chunk is a key frame
    }
    ix.End(sizeAt);
    ok = WriteAt(w, w.end, ix.Data(), ix.Size()) && ok;
    if (s.superIndex.size() < w.limits.riffCount)
      s.superIndex.push_back({w.end, static_cast<uint32_t>(ix.Size()), Saturate32(s.riffDuration)});
    w.end += ix.Size();
    s.riffChunks.clear();
    s.riffDuration = 0;
  }
  ok = PatchU32(w, w.moviStart + 4, w.end - (w.moviStart + 8)) && ok;
  if (w.riffIndex == 0) {
    Bytes idx;
    const size_t sizeAt = idx.Begin(FourCc("idx1"));
    for (const Idx1Entry& e : w.idx1) {
      idx.U32(e.id);
      idx.U32(kAviifKeyframe);
      idx.U32(e.offset);
      idx.U32(e.size);
    }
    idx.End(sizeAt);
    ok = WriteAt(w, w.end, idx.Data(), idx.Size()) && ok;
    w.end += idx.Size();
    for (Stream& s : w.streams) s.firstRiffLength = s.length;
  }
  ok = PatchU32(w, w.riffStart + 4, w.end - (w.riffStart + 8)) && ok;
  return ok;
}

bool OpenRiffExtension(AviWriter& w) {
  Bytes b;
  b.U32(FourCc("RIFF"));
  b.U32(0);
  b.U32(FourCc("AVIX"));
  b.U32(FourCc("LIST"));
  b.U32(4);
  b.U32(FourCc("movi"));
  if (!WriteAt(w, w.end, b.Data(), b.Size())) return false;
  ++w.riffIndex;
  w.riffOpen = true;
  w.riffStart = w.end;
  w.moviStart = w.end + 12;
  w.end += b.Size();
  return true;
}

// Makes sure a chunk of `dataBytes` fits into the current RIFF list, starting
// the next one when it does not. 0, or the code that refuses the chunk.
int32_t MakeRoom(AviWriter& w, int stream, uint64_t dataBytes) {
  const uint64_t chunk = 8 + dataBytes + (dataBytes & 1);
  auto fits = [&] {
    return w.end + chunk + RiffTailBytes(w, stream, 1) - w.riffStart <= w.limits.riffBytes;
  };
  if (fits()) return kWritten;
  // A chunk that does not fit even an empty list, or no index entry left for
  // another list: the file is as large as it can be.
  if (!RiffHasChunks(w) || w.riffIndex + 1 >= w.limits.riffCount) return kFull;
  if (!CloseRiff(w) || !OpenRiffExtension(w)) return kWriteFailed;
  return fits() ? kWritten : kFull;
}

int32_t WriteChunk(AviWriter& w, int stream, const uint8_t* data, uint32_t size, uint64_t duration) {
  const int32_t room = MakeRoom(w, stream, size);
  if (room != kWritten) return room;
  Stream& s = w.streams[static_cast<size_t>(stream)];
  uint8_t header[8];
  io::PutLe32(header, s.chunkId);
  io::PutLe32(header + 4, size);
  const uint8_t pad = 0;
  if (!WriteAt(w, w.end, header, 8) || !WriteAt(w, w.end + 8, data, size) ||
      ((size & 1) != 0 && !WriteAt(w, w.end + 8 + size, &pad, 1)))
    return kWriteFailed;
  s.riffChunks.push_back({w.end + 8, size});
  s.riffDuration += duration;
  if (w.riffIndex == 0)
    w.idx1.push_back({s.chunkId, static_cast<uint32_t>(w.end - (w.moviStart + 8)), size});
  s.maxChunk = std::max(s.maxChunk, size);
  s.length += duration;
  w.end += 8 + uint64_t{size} + (size & 1);
  return kWritten;
}

int AddStream(AviWriter& w, bool video) {
  Stream s;
  s.video = video;
  s.chunkId = video ? StreamFourCc(w.streams.size(), 'd', 'b') : StreamFourCc(w.streams.size(), 'w', 'b');
  w.streams.push_back(std::move(s));
  return static_cast<int>(w.streams.size() - 1);
}

// The header area: 'hdrl' list, then a JUNK chunk up to the first 'movi' list.
bool WriteHeaders(AviWriter& w) {
  const Stream* video = w.videoStream >= 0 ? &w.streams[static_cast<size_t>(w.videoStream)] : nullptr;
  const BitmapInfoHeader& vf = w.videoFormat;
  const WaveFormat& wf = w.waveFormat;

  uint32_t maxChunk = 0;
  for (const Stream& s : w.streams) maxChunk = std::max(maxChunk, s.maxChunk);
  uint64_t bytesPerSec = 0;
  if (video != nullptr) bytesPerSec += uint64_t{vf.sizeImage} * 1000 / uint64_t(w.period);
  if (w.audioStream >= 0) bytesPerSec += wf.avgBytesPerSec;

  Bytes b;
  const size_t hdrl = b.Begin(FourCc("LIST"), FourCc("hdrl"));
  const size_t avih = b.Begin(FourCc("avih"));
  b.U32(Saturate32(uint64_t(w.period) * 1000));  // microseconds per frame
  b.U32(Saturate32(bytesPerSec));
  b.U32(0);  // padding granularity
  b.U32(kAvifHasIndex);
  b.U32(video != nullptr ? Saturate32(video->firstRiffLength) : 0);
  b.U32(0);  // initial frames
  b.U32(static_cast<uint32_t>(w.streams.size()));
  b.U32(maxChunk);
  b.U32(video != nullptr ? static_cast<uint32_t>(vf.width) : 0);
  b.U32(video != nullptr ? static_cast<uint32_t>(vf.height) : 0);
  b.Zeros(16);
  b.End(avih);

  for (const Stream& s : w.streams) {
    const size_t strl = b.Begin(FourCc("LIST"), FourCc("strl"));
    const size_t strh = b.Begin(FourCc("strh"));
    if (s.video) {
      b.U32(FourCc("vids"));
      b.U32(FourCc("DIB "));
      b.U32(0);  // flags
      b.U32(0);  // priority, language
      b.U32(0);  // initial frames
      b.U32(static_cast<uint32_t>(w.period));  // scale
      b.U32(1000);                             // rate: 1000 / period frames per second
      b.U32(0);                                // start
      b.U32(Saturate32(s.length));
      b.U32(vf.sizeImage);  // suggested buffer size
      b.U32(0);             // quality
      b.U32(0);             // sample size: frames vary in principle
      b.U16(0);
      b.U16(0);
      b.U16(static_cast<uint32_t>(std::min<int32_t>(vf.width, 32767)));
      b.U16(static_cast<uint32_t>(std::min<int32_t>(vf.height, 32767)));
    } else {
      b.U32(FourCc("auds"));
      b.U32(0);
      b.U32(0);
      b.U32(0);
      b.U32(0);
      b.U32(wf.blockAlign);                                             // scale
      b.U32(static_cast<uint32_t>(uint64_t{wf.blockAlign} * wf.samplesPerSec));  // rate
      b.U32(0);
      b.U32(Saturate32(s.length));
      b.U32(s.maxChunk);
      b.U32(0xFFFFFFFFu);  // quality: default
      b.U32(wf.blockAlign);
      b.Zeros(8);
    }
    b.End(strh);

    const size_t strf = b.Begin(FourCc("strf"));
    if (s.video) {
      b.U32(kBitmapInfoHeaderSize);
      b.U32(static_cast<uint32_t>(vf.width));
      b.U32(static_cast<uint32_t>(vf.height));
      b.U16(vf.planes);
      b.U16(vf.bitCount);
      b.U32(vf.compression);
      b.U32(vf.sizeImage);
      b.U32(static_cast<uint32_t>(vf.xPelsPerMeter));
      b.U32(static_cast<uint32_t>(vf.yPelsPerMeter));
      b.U32(vf.clrUsed);
      b.U32(vf.clrImportant);
      b.Raw(w.videoColourTable.data(), w.videoColourTable.size());
    } else {
      b.U16(wf.formatTag);
      b.U16(wf.channels);
      b.U32(wf.samplesPerSec);
      b.U32(wf.avgBytesPerSec);
      b.U16(wf.blockAlign);
      b.U16(wf.bitsPerSample);
      b.U16(0);  // no extra format bytes
    }
    b.End(strf);

    const size_t indx = b.Begin(FourCc("indx"));
    b.U16(4);  // longs per entry
    b.U8(0);
    b.U8(0);  // index of indexes
    b.U32(static_cast<uint32_t>(s.superIndex.size()));
    b.U32(s.chunkId);
    b.Zeros(12);
    for (const SuperIndexEntry& e : s.superIndex) {
      b.U64(e.offset);
      b.U32(e.size);
      b.U32(e.duration);
    }
    b.Zeros(kSuperIndexEntryBytes * (w.limits.riffCount - s.superIndex.size()));
    b.End(indx);
    b.End(strl);
  }

  const size_t odml = b.Begin(FourCc("LIST"), FourCc("odml"));
  const size_t dmlh = b.Begin(FourCc("dmlh"));
  b.U32(video != nullptr ? Saturate32(video->length) : 0);
  b.Zeros(244);
  b.End(dmlh);
  b.End(odml);
  b.End(hdrl);

  // Everything between here and the 'movi' list is padding.
  const uint64_t headerEnd = 12 + b.Size();
  if (headerEnd + 8 > w.headerArea) return false;  // cannot happen: the area is sized for the maximum
  b.U32(FourCc("JUNK"));
  b.U32(static_cast<uint32_t>(w.headerArea - headerEnd - 8));
  b.Zeros(static_cast<size_t>(w.headerArea - headerEnd - 8));
  return WriteAt(w, 12, b.Data(), b.Size());
}

// A WAVE image: its size, and where the bytes come from.
struct WaveSource {
  uint64_t size = 0;
  const uint8_t* memory = nullptr;  // the whole image, or null for a file
  const ReadOnlyFile* file = nullptr;
};

// Reads `n` sample bytes at image offset `offset`; returns a pointer to them.
const uint8_t* ReadWave(AviWriter& w, WaveSource& src, uint64_t offset, uint32_t n) {
  if (offset > src.size || n > src.size - offset) return nullptr;
  if (src.memory != nullptr) return src.memory + offset;
  w.scratch.resize(n);
  if (n != 0 && !src.file->ReadAt(offset, w.scratch.data(), n)) return nullptr;
  return w.scratch.data();
}

// Where a WAVE image's format and samples are: its RIFF chunks are walked
// ("fmt " first, then any LIST, fact, ... chunks until "data"). "" or why the
// image is refused.
std::string ParseWave(AviWriter& w, WaveSource& src, WaveFormat& f, uint64_t& dataOffset, uint32_t& dataBytes) {
  const uint8_t* h = ReadWave(w, src, 0, 12);
  if (h == nullptr || Le32(h) != FourCc("RIFF") || Le32(h + 8) != FourCc("WAVE")) return "not a RIFF WAVE file";
  bool haveFormat = false;
  for (uint64_t at = 12;;) {
    const uint8_t* c = ReadWave(w, src, at, 8);
    if (c == nullptr) return haveFormat ? "no data chunk" : "no fmt chunk";
    const uint32_t id = Le32(c);
    const uint32_t size = Le32(c + 4);
    if (id == FourCc("fmt ")) {
      const uint8_t* p = size >= 16 ? ReadWave(w, src, at + 8, 16) : nullptr;
      if (p == nullptr) return "a fmt chunk shorter than 16 bytes";
      f.formatTag = Le16(p);
      f.channels = Le16(p + 2);
      f.samplesPerSec = Le32(p + 4);
      f.avgBytesPerSec = Le32(p + 8);
      f.blockAlign = Le16(p + 12);
      f.bitsPerSample = Le16(p + 14);
      haveFormat = true;
    } else if (id == FourCc("data")) {
      if (!haveFormat) return "the data chunk comes before the fmt chunk";
      if (size > src.size - (at + 8)) return "the data chunk runs past the end of the file";
      dataOffset = at + 8;
      dataBytes = size;
      break;
    }
    at += 8 + uint64_t{size} + (size & 1);
  }
  if (f.channels == 0 || f.bitsPerSample == 0) return "0 channels or 0 bits per sample";
  const uint32_t block = uint32_t{f.channels} * ((uint32_t{f.bitsPerSample} + 7) / 8);
  if (f.blockAlign != block)
    return "block align " + std::to_string(f.blockAlign) + " is not channels x bytes per sample (" +
           std::to_string(block) + ")";
  if (f.samplesPerSec < kMinWaveRate || f.samplesPerSec > kMaxWaveRate)
    return "sample rate " + std::to_string(f.samplesPerSec) + " is outside " + std::to_string(kMinWaveRate) +
           ".." + std::to_string(kMaxWaveRate);
  if (uint64_t{f.avgBytesPerSec} != uint64_t{f.samplesPerSec} * f.blockAlign)
    return "byte rate " + std::to_string(f.avgBytesPerSec) + " is not sample rate x block align (" +
           std::to_string(uint64_t{f.samplesPerSec} * f.blockAlign) + ")";
  return {};
}

int32_t AppendWave(AviWriter& w, WaveSource& src) {
  WaveFormat f;
  uint64_t dataOffset = 0;
  uint32_t dataBytes = 0;
  if (!ParseWave(w, src, f, dataOffset, dataBytes).empty()) return kOtherFormat;

  WaveFormat& wf = w.waveFormat;
  if (wf.channels == 0) {
    wf = f;
    wf.extraSize = 0;
  } else if (wf.formatTag != f.formatTag || wf.channels != f.channels ||
             wf.samplesPerSec != f.samplesPerSec || wf.avgBytesPerSec != f.avgBytesPerSec ||
             wf.blockAlign != f.blockAlign || wf.bitsPerSample != f.bitsPerSample) {
    return kOtherFormat;
  }
  if (w.audioStream < 0) w.audioStream = AddStream(w, false);

  // Whole blocks only, in chunks of at most kAudioChunkBytes.
  const uint32_t block = wf.blockAlign;
  const uint64_t bytes = dataBytes - dataBytes % block;
  // (a quarter of a RIFF list at most, so that small limits still take audio)
  const auto chunkBytes =
      static_cast<uint32_t>(std::min<uint64_t>(kAudioChunkBytes, w.limits.riffBytes / 4));
  const uint32_t chunkMax = std::max(block, chunkBytes / block * block);
  for (uint64_t done = 0; done < bytes;) {
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(chunkMax, bytes - done));
    const uint8_t* data = ReadWave(w, src, dataOffset + done, n);
    if (data == nullptr) {
      w.failed = true;
      return kReadFailed;
    }
    const int32_t r = WriteChunk(w, w.audioStream, data, n, n / block);
    if (r != kWritten) {
      w.failed = true;
      return r;
    }
    w.audioSamplesWritten += n / block;
    done += n;
  }
  return kWritten;
}

}  // namespace

namespace {

// The writer's state set up and the file started; throws Error.
std::unique_ptr<AviWriter> StartAvi(const std::string& fileName, int32_t periodMs, const WaveFormat* waveFormat,
                                    const AviWriterLimits& limits) {
  if (periodMs <= 0) throw Error(fileName + ": the frame period " + std::to_string(periodMs) + " ms is not positive");
  auto w = std::make_unique<AviWriter>();
  w->limits.riffCount = std::clamp<uint32_t>(limits.riffCount, 1, 4096);
  w->headerArea = HeaderAreaBytes(w->limits.riffCount);
  w->limits.riffBytes = std::clamp<uint64_t>(limits.riffBytes, std::max<uint64_t>(65536, 2 * w->headerArea),
                                             uint64_t{1} << 31);
  w->file.Create(fileName);
  if (waveFormat != nullptr) {
    w->waveFormat = *waveFormat;
    w->waveFormat.extraSize = 0;
  }
  w->period = periodMs;

  // RIFF 'AVI ', the reserved header area, and the start of the 'movi' list.
  Bytes b;
  b.U32(FourCc("RIFF"));
  b.U32(0);
  b.U32(FourCc("AVI "));
  b.Zeros(static_cast<size_t>(w->headerArea - 12));
  b.U32(FourCc("LIST"));
  b.U32(4);
  b.U32(FourCc("movi"));
  w->moviStart = w->headerArea;
  w->end = b.Size();
  if (!WriteAt(*w, 0, b.Data(), b.Size()) || !WriteHeaders(*w)) {
    // Not even the header fits (a full disk): no file rather than a broken one.
    throw Error(fileName + ": " + FileErrorReason(w->file.LastError()));
  }
  return w;
}

}  // namespace

AviFile::AviFile(const std::string& fileName, int32_t periodMs, const WaveFormat* waveFormat)
    : AviFile(fileName, periodMs, waveFormat, AviWriterLimits{}) {}

AviFile::AviFile(const std::string& fileName, int32_t periodMs, const WaveFormat* waveFormat,
                 const AviWriterLimits& limits)
    : writer_(StartAvi(fileName, periodMs, waveFormat, limits)), fileName_(fileName) {}

AviFile::~AviFile() = default;  // an AtomicFile not committed removes its temporary file

namespace {

// Throws for an append that failed the file; true when written.
bool Appended(const AviWriter& w, const std::string& fileName, int32_t result) {
  switch (result) {
    case kWritten: return true;
    case kOtherFormat: return false;
    case kFull: throw Error(fileName + ": the file has reached the largest size an AVI file is written to");
    case kReadFailed: throw Error(fileName + ": the sound file could not be read");
    default: break;
  }
  throw Error(fileName + ": " + FileErrorReason(w.file.LastError()));
}

void ThrowIfFailed(const AviWriter& w, const std::string& fileName) {
  if (w.failed) throw Error(fileName + ": an earlier write failed, so nothing more is written");
}

}  // namespace

bool AviFile::AppendFrame(const Bitmap& bitmap) {
  AviWriter& w = *writer_;
  ThrowIfFailed(w, fileName_);
  TOVIMAR_CHECK(IsLoadedBitmap(bitmap));
  if (w.videoStream < 0) {
    w.videoStream = AddStream(w, true);
    w.videoFormat = bitmap.header;
    w.videoColourTable = bitmap.colourTable;
  } else if (!SameLayout(w.videoFormat, w.videoColourTable, bitmap)) {
    // The stream's size and pixel format are those of its first frame.
    return false;
  }
  const int32_t r = WriteChunk(w, w.videoStream, bitmap.bits.data(), static_cast<uint32_t>(bitmap.bits.size()), 1);
  if (r != kWritten) w.failed = true;
  if (!Appended(w, fileName_, r)) return false;
  ++w.framesWritten;
  return true;
}

bool AviFile::AppendAudio(const WaveImage& image) {
  AviWriter& w = *writer_;
  ThrowIfFailed(w, fileName_);
  WaveSource src;
  src.memory = image.data;
  src.size = image.data != nullptr ? image.size : 0;
  return Appended(w, fileName_, AppendWave(w, src));
}

bool AviFile::AppendAudioFile(const std::string& path) {
  AviWriter& w = *writer_;
  ThrowIfFailed(w, fileName_);
  // A regular file only: a FIFO or device is never opened (it could block
  // or never end).
  ReadOnlyFile file;
  if (!file.Open(path).empty()) return false;
  WaveSource src;
  src.file = &file;
  src.size = file.Size();
  return Appended(w, fileName_, AppendWave(w, src));
}

std::string CheckWaveFile(const std::string& path) {
  ReadOnlyFile file;
  const std::string opened = file.Open(path);
  if (!opened.empty()) return opened;
  AviWriter scratch;
  WaveSource src;
  src.file = &file;
  src.size = file.Size();
  WaveFormat f;
  uint64_t dataOffset = 0;
  uint32_t dataBytes = 0;
  return ParseWave(scratch, src, f, dataOffset, dataBytes);
}

void AviFile::Close() {
  AviWriter& w = *writer_;
  // The file is completed as far as the disk allows (after a failed chunk
  // the frames before it stay playable), then put under its name.
  // (A list is left closed only when opening the next one failed.)
  bool ok = !w.riffOpen || CloseRiff(w);
  ok = WriteHeaders(w) && ok;
  // Drop the remains of a chunk whose writing failed.
  ok = w.file.Truncate(w.end) && ok;
  if (!ok) throw Error(fileName_ + ": " + FileErrorReason(w.file.LastError()));
  w.file.Commit();
}

int64_t AviFile::FramesWritten() const { return writer_->framesWritten; }

int64_t AviFile::AudioSamplesWritten() const { return writer_->audioSamplesWritten; }

}  // namespace tovimar
