#include "io/pfm.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "io/bytes.h"
#include "base/error.h"
#include "io/file.h"

namespace tovimar {

namespace {

void CheckShape(int width, int height, int channels) {
  if (channels != 1 && channels != 3) throw Error("PFM: channels must be 1 or 3");
  if (width < 1 || height < 1 || width > kMaxPfmSide || height > kMaxPfmSide)
    throw Error("PFM: size out of range");
}

bool IsSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Header fields are ASCII tokens; the parser walks a bounded window.
class HeaderCursor {
 public:
  HeaderCursor(const uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  const uint8_t* Pos() const { return p_; }
  // At least one whitespace character; false when there is none.
  bool Space() {
    if (p_ == end_ || !IsSpace(*p_)) return false;
    while (p_ != end_ && IsSpace(*p_)) ++p_;
    return true;
  }
  // A token up to the next whitespace.
  std::string_view Token() {
    const uint8_t* start = p_;
    while (p_ != end_ && !IsSpace(*p_)) ++p_;
    return {reinterpret_cast<const char*>(start), static_cast<std::size_t>(p_ - start)};
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

bool ParseSide(std::string_view t, int& out) {
  if (t.empty() || t.size() > 9) return false;
  for (char c : t) {
    if (c < '0' || c > '9') return false;
  }
  const auto r = std::from_chars(t.data(), t.data() + t.size(), out);
  return r.ec == std::errc{} && r.ptr == t.data() + t.size();
}

}  // namespace

std::string EncodePfm(const float* values, int width, int height, int channels) {
  CheckShape(width, height, channels);
  std::string out = channels == 1 ? "Pf\n" : "PF\n";
  char buf[16];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, width).ptr);
  out += ' ';
  out.append(buf, std::to_chars(buf, buf + sizeof buf, height).ptr);
  out += "\n-1\n";
  const std::size_t rowFloats = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
  const std::size_t header = out.size();
  out.resize(header + rowFloats * static_cast<std::size_t>(height) * 4);
  auto* dst = reinterpret_cast<uint8_t*>(out.data() + header);
  for (int y = height - 1; y >= 0; --y) {
    const float* row = values + static_cast<std::size_t>(y) * rowFloats;
    for (std::size_t i = 0; i < rowFloats; ++i, dst += 4) {
      uint32_t bits;
      std::memcpy(&bits, &row[i], 4);
      io::PutLe32(dst, bits);
    }
  }
  return out;
}

void WritePfm(const std::string& path, const float* values, int width, int height, int channels) {
  const std::string bytes = EncodePfm(values, width, height, channels);
  WriteWholeFile(path, bytes.data(), bytes.size());
}

namespace {

// What the header says and where the samples start.
struct PfmHeader {
  int width = 0, height = 0, channels = 0;
  bool littleEndian = true;
  std::size_t dataOffset = 0;
  std::size_t dataBytes = 0;
};

// Header bytes never exceed this; a longer header is not a PFM.
constexpr std::size_t kMaxPfmHeader = 256;

std::string ParsePfmHeader(const uint8_t* data, std::size_t size, PfmHeader& h) {
  if (size < 2 || data[0] != 'P' || (data[1] != 'f' && data[1] != 'F')) return "no PF or Pf magic";
  h.channels = data[1] == 'f' ? 1 : 3;
  const std::size_t window = size < kMaxPfmHeader ? size : kMaxPfmHeader;
  HeaderCursor c(data + 2, window - 2);
  if (!c.Space() || !ParseSide(c.Token(), h.width)) return "bad width";
  if (!c.Space() || !ParseSide(c.Token(), h.height)) return "bad height";
  if (h.width < 1 || h.height < 1 || h.width > kMaxPfmSide || h.height > kMaxPfmSide) return "size out of range";
  if (!c.Space()) return "bad scale";
  const std::string_view scaleText = c.Token();
  double scale = 0;
  const auto r = std::from_chars(scaleText.data(), scaleText.data() + scaleText.size(), scale);
  if (scaleText.empty() || r.ec != std::errc{} || r.ptr != scaleText.data() + scaleText.size() ||
      !std::isfinite(scale) || scale == 0)
    return "bad scale";
  h.littleEndian = scale < 0;
  // One line end ends the header: LF, or CR LF.
  const uint8_t* p = c.Pos();
  const uint8_t* const end = data + window;
  if (p != end && *p == '\r') ++p;
  if (p == end || *p != '\n') return "no line end after the scale";
  h.dataOffset = static_cast<std::size_t>(p + 1 - data);
  h.dataBytes = static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.height) *
                static_cast<std::size_t>(h.channels) * 4;
  return {};
}

std::string CheckDataSize(const PfmHeader& h, uint64_t fileSize) {
  const uint64_t have = fileSize - h.dataOffset;
  if (have < h.dataBytes)
    return "truncated: " + std::to_string(have) + " of " + std::to_string(h.dataBytes) + " sample bytes";
  if (have > h.dataBytes) return "trailing bytes after the samples";
  return {};
}

void DecodeSamples(const PfmHeader& h, const uint8_t* p, PfmImage& image) {
  const std::size_t rowFloats = static_cast<std::size_t>(h.width) * static_cast<std::size_t>(h.channels);
  image.width = h.width;
  image.height = h.height;
  image.channels = h.channels;
  image.values.resize(rowFloats * static_cast<std::size_t>(h.height));
  for (int fileRow = 0; fileRow < h.height; ++fileRow) {
    float* row = image.values.data() + static_cast<std::size_t>(h.height - 1 - fileRow) * rowFloats;
    for (std::size_t i = 0; i < rowFloats; ++i, p += 4) {
      const uint32_t bits = h.littleEndian
                                ? io::Le32(p)
                                : (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
      std::memcpy(&row[i], &bits, 4);
    }
  }
}

}  // namespace

std::string DecodePfm(const uint8_t* data, std::size_t size, PfmImage& image) {
  PfmHeader h;
  std::string why = ParsePfmHeader(data, size, h);
  if (why.empty()) why = CheckDataSize(h, size);
  if (why.empty()) DecodeSamples(h, data + h.dataOffset, image);
  return why;
}

PfmImage ReadPfm(const std::string& path, const HeaderSizeCheck& check) {
  ReadOnlyFile file;
  OpenForReading(file, path, "PFM");
  const auto refuse = [&path](const std::string& why) { return NotReadable(path, "PFM", why); };
  // The header first; the samples are read only when the size matches it.
  uint8_t head[kMaxPfmHeader];
  const std::size_t headSize = static_cast<std::size_t>(file.Size() < kMaxPfmHeader ? file.Size() : kMaxPfmHeader);
  if (!file.ReadAt(0, head, headSize)) throw refuse("read failed");
  PfmHeader h;
  std::string why = ParsePfmHeader(head, headSize, h);
  if (why.empty()) why = CheckDataSize(h, file.Size());
  if (!why.empty()) throw refuse(why);
  if (check) check(h.width, h.height);
  std::vector<uint8_t> samples(h.dataBytes);
  if (!file.ReadAt(h.dataOffset, samples.data(), samples.size())) throw refuse("read failed");
  PfmImage image;
  DecodeSamples(h, samples.data(), image);
  return image;
}

}  // namespace tovimar
