#include "media_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "io/bytes.h"

namespace avitest {

namespace {

using tovimar::io::AppendLe16;
using tovimar::io::AppendLe32;
void Put16(std::vector<uint8_t>& b, uint32_t v) { AppendLe16(b, v); }
void Put32(std::vector<uint8_t>& b, uint32_t v) { AppendLe32(b, v); }
void PutTag(std::vector<uint8_t>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(tag[i]));
}

std::vector<uint8_t> BmpHeaders(int width, int height, uint16_t bits, uint32_t colours,
                                uint32_t imageBytes) {
  std::vector<uint8_t> b;
  const uint32_t offset = 54 + 4 * colours;
  b.push_back('B');
  b.push_back('M');
  Put32(b, offset + imageBytes);
  Put32(b, 0);
  Put32(b, offset);
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(width));
  Put32(b, static_cast<uint32_t>(height));
  Put16(b, 1);
  Put16(b, bits);
  Put32(b, 0);
  Put32(b, 0);  // image size left 0, as many writers do
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, bits <= 8 && colours == (1u << bits) ? 0 : colours);
  Put32(b, 0);
  return b;
}

// Runs a shell command and returns its standard output; `status` gets the exit status.
std::vector<uint8_t> Run(const std::string& command, int* status) {
  std::vector<uint8_t> out;
  std::FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) {
    *status = -1;
    return out;
  }
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.insert(out.end(), buf, buf + n);
  *status = ::pclose(p);
  return out;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

void ParseChildren(const std::vector<uint8_t>& f, uint64_t from, uint64_t to, std::vector<Chunk>& out) {
  uint64_t at = from;
  while (at + 8 <= to) {
    Chunk c;
    c.id.assign(reinterpret_cast<const char*>(f.data() + at), 4);
    c.size = Le32(f, at + 4);
    c.dataOffset = at + 8;
    const uint64_t end = c.dataOffset + c.size;
    if (end > to) {
      ADD_FAILURE() << "chunk " << c.id << " at " << at << " runs past its parent (" << end << " > " << to
                    << ")";
      return;
    }
    if ((c.id == "RIFF" || c.id == "LIST") && c.size >= 4) {
      c.listType.assign(reinterpret_cast<const char*>(f.data() + c.dataOffset), 4);
      ParseChildren(f, c.dataOffset + 4, end, c.children);
    }
    out.push_back(std::move(c));
    at = end + (end & 1);
  }
  if (at != to && !(at == to + 1)) ADD_FAILURE() << "stray bytes at " << at << " before " << to;
}

}  // namespace

std::vector<uint8_t> PatternPicture(int width, int height, int frame) {
  std::vector<uint8_t> p(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* px = &p[(static_cast<size_t>(y) * width + x) * 3];
      px[0] = static_cast<uint8_t>(x * 4 + frame * 40);
      px[1] = static_cast<uint8_t>(y * 5 + frame * 7);
      px[2] = static_cast<uint8_t>((x ^ y) + frame * 90);
    }
  return p;
}

std::vector<uint8_t> Bmp24(const std::vector<uint8_t>& bgr, int width, int height, bool topDown) {
  const size_t row = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> b =
      BmpHeaders(width, topDown ? -height : height, 24, 0, static_cast<uint32_t>(row * height));
  for (int i = 0; i < height; ++i) {
    const int y = topDown ? i : height - 1 - i;
    const uint8_t* src = &bgr[static_cast<size_t>(y) * width * 3];
    b.insert(b.end(), src, src + static_cast<size_t>(width) * 3);
    b.resize(b.size() + row - static_cast<size_t>(width) * 3, 0);
  }
  return b;
}

std::vector<uint8_t> Bmp8(const std::vector<uint8_t>& indices, int width, int height, uint32_t colours) {
  const size_t row = (static_cast<size_t>(width) + 3) / 4 * 4;
  std::vector<uint8_t> b = BmpHeaders(width, height, 8, colours, static_cast<uint32_t>(row * height));
  for (uint32_t i = 0; i < colours; ++i) {
    b.push_back(static_cast<uint8_t>(i));
    b.push_back(static_cast<uint8_t>(255 - i));
    b.push_back(static_cast<uint8_t>(3 * i));
    b.push_back(0);
  }
  for (int y = height - 1; y >= 0; --y) {
    const uint8_t* src = &indices[static_cast<size_t>(y) * width];
    b.insert(b.end(), src, src + width);
    b.resize(b.size() + row - static_cast<size_t>(width), 0);
  }
  return b;
}

std::vector<uint8_t> Wave16(uint16_t channels, uint32_t samplesPerSec, uint32_t samples, int seed) {
  const uint32_t block = 2u * channels;
  const uint32_t dataBytes = block * samples;
  std::vector<uint8_t> b;
  PutTag(b, "RIFF");
  Put32(b, 36 + dataBytes);
  PutTag(b, "WAVE");
  PutTag(b, "fmt ");
  Put32(b, 16);
  Put16(b, 1);
  Put16(b, channels);
  Put32(b, samplesPerSec);
  Put32(b, samplesPerSec * block);
  Put16(b, block);
  Put16(b, 16);
  PutTag(b, "data");
  Put32(b, dataBytes);
  for (uint32_t i = 0; i < samples * channels; ++i) Put16(b, (i * 7919u + static_cast<uint32_t>(seed) * 104729u) & 0xFFFF);
  return b;
}

void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tovimar-avi-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot create a temporary folder";
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

bool HaveFfmpeg() {
  int status = 0;
  Run("ffprobe -version >/dev/null 2>&1 && ffmpeg -version >/dev/null 2>&1 && echo yes", &status);
  return status == 0;
}

std::vector<std::map<std::string, std::string>> ProbeStreams(const std::string& file, bool* ok) {
  int status = 0;
  const std::vector<uint8_t> out = Run(
      "ffprobe -v error -count_frames -show_entries "
      "stream=codec_type,codec_name,width,height,r_frame_rate,nb_read_frames,sample_rate,channels "
      "-of compact=p=0 " + Quote(file) + " 2>&1",
      &status);
  std::vector<std::map<std::string, std::string>> streams;
  *ok = status == 0;
  std::string text(out.begin(), out.end());
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(start, nl - start);
    start = nl + 1;
    if (line.empty()) continue;
    if (line.find("codec_type=") == std::string::npos) {
      *ok = false;  // a complaint
      ADD_FAILURE() << "ffprobe: " << line;
      continue;
    }
    std::map<std::string, std::string> fields;
    size_t p = 0;
    while (p <= line.size()) {
      size_t bar = line.find('|', p);
      if (bar == std::string::npos) bar = line.size();
      const std::string kv = line.substr(p, bar - p);
      const size_t eq = kv.find('=');
      if (eq != std::string::npos) fields[kv.substr(0, eq)] = kv.substr(eq + 1);
      p = bar + 1;
    }
    streams.push_back(std::move(fields));
  }
  return streams;
}

std::vector<uint8_t> DecodeVideoBgr24(const std::string& file) {
  int status = 0;
  auto out = Run("ffmpeg -nostdin -v error -i " + Quote(file) + " -map 0:v:0 -f rawvideo -pix_fmt bgr24 -", &status);
  EXPECT_EQ(status, 0) << "ffmpeg could not decode the video of " << file;
  return out;
}

std::vector<uint8_t> DecodeAudioS16(const std::string& file) {
  int status = 0;
  auto out = Run("ffmpeg -nostdin -v error -i " + Quote(file) + " -map 0:a:0 -f s16le -acodec pcm_s16le -", &status);
  EXPECT_EQ(status, 0) << "ffmpeg could not decode the audio of " << file;
  return out;
}

const Chunk* Chunk::Find(const std::string& name) const {
  for (const Chunk& c : children)
    if (c.id == name || c.listType == name) return &c;
  return nullptr;
}

std::vector<Chunk> ParseRiff(const std::vector<uint8_t>& file) {
  std::vector<Chunk> top;
  ParseChildren(file, 0, file.size(), top);
  return top;
}

uint16_t Le16(const std::vector<uint8_t>& b, uint64_t at) {
  (void)b.at(at + 1);  // out of range throws, as for a truncated file
  return tovimar::io::Le16(b.data() + at);
}
uint32_t Le32(const std::vector<uint8_t>& b, uint64_t at) {
  (void)b.at(at + 3);
  return tovimar::io::Le32(b.data() + at);
}

}  // namespace avitest
