#pragma once
// Small helpers of the AVI tests: BMP and WAVE images made in memory, a
// temporary folder, ffprobe/ffmpeg runs, and a RIFF chunk walker.
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace avitest {

// A W x H picture, blue-green-red bytes, top row first, with a pattern that
// differs per frame and per pixel.
std::vector<uint8_t> PatternPicture(int width, int height, int frame);

// A complete 24-bit BMP file of the picture (bottom-up rows padded to 4
// bytes, or top-down with a negative height).
std::vector<uint8_t> Bmp24(const std::vector<uint8_t>& bgrTopDown, int width, int height,
                           bool topDown = false);

// An 8-bit BMP with a colour table of `colours` entries (entry i is
// blue i, green 255 - i, red 3i) and the given indices, top row first.
std::vector<uint8_t> Bmp8(const std::vector<uint8_t>& indicesTopDown, int width, int height,
                          uint32_t colours);

// A canonical 44-byte-header WAVE file holding `samples` blocks of 16-bit
// PCM; sample values follow from `seed`.
std::vector<uint8_t> Wave16(uint16_t channels, uint32_t samplesPerSec, uint32_t samples, int seed);

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);

// A fresh folder under the system's temporary folder, removed on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

bool HaveFfmpeg();

// ffprobe's view of every stream: codec_type, codec_name, width, height,
// r_frame_rate, nb_read_frames, sample_rate, channels. Empty on failure;
// `ok` tells whether ffprobe accepted the file without complaint.
std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& file, bool* ok);

// Decoded video as tightly packed bgr24 frames, or audio as s16le samples.
std::vector<uint8_t> DecodeVideoBgr24(const std::string& file);
std::vector<uint8_t> DecodeAudioS16(const std::string& file);

// One chunk or list of a RIFF file: id, list type (lists only), where its
// data starts, its size, and the chunks inside a list.
struct Chunk {
  std::string id;
  std::string listType;
  uint64_t dataOffset = 0;
  uint32_t size = 0;
  std::vector<Chunk> children;
  const Chunk* Find(const std::string& name) const;  // first child with this id or list type
};

// Walks every top-level RIFF list of the file; fails the current test on
// sizes that run past their parent.
std::vector<Chunk> ParseRiff(const std::vector<uint8_t>& file);

uint16_t Le16(const std::vector<uint8_t>& b, uint64_t at);
uint32_t Le32(const std::vector<uint8_t>& b, uint64_t at);

}  // namespace avitest
