#pragma once
// Little-endian fields of the file formats written and read here (BMP, AVI,
// WAVE): read from a byte pointer, stored at one, or appended to a buffer.
#include <cstdint>
#include <vector>

namespace tovimar::io {

inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

inline int32_t LeS32(const uint8_t* p) { return static_cast<int32_t>(Le32(p)); }

inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void AppendLe16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline void AppendLe64(std::vector<uint8_t>& out, uint64_t v) {
  AppendLe32(out, static_cast<uint32_t>(v));
  AppendLe32(out, static_cast<uint32_t>(v >> 32));
}

}  // namespace tovimar::io
