#include "io/disparity_text.h"

#include <charconv>
#include <cstdint>
#include <limits>

#include "io/error.h"
#include "io/file.h"

namespace tovimar {

std::string ParseDisparityText(const char* data, std::size_t size, DisparityText& map) {
  const char* p = data;
  const char* const end = data + size;
  const auto space = [&] {
    const char* start = p;
    while (p != end && (*p == '\r' || *p == '\n' || *p == ' ' || *p == '\t')) ++p;
    return p != start;
  };
  int w = 0, h = 0;
  auto r = std::from_chars(p, end, w);
  if (r.ec != std::errc{} || w < 1 || w > 65535) return "bad width";
  p = r.ptr;
  if (!space()) return "bad width";
  r = std::from_chars(p, end, h);
  if (r.ec != std::errc{} || h < 1 || h > 65535) return "bad height";
  p = r.ptr;
  const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  // Every value takes at least two bytes (a digit and a line end).
  if (static_cast<std::size_t>(end - p) / 2 < count) return "truncated: fewer than W*H values";
  map.width = w;
  map.height = h;
  map.values.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (!space()) return i == 0 && p == end ? "truncated" : "values not separated by line ends";
    double v = 0;
    const auto rv = std::from_chars(p, end, v);
    if (rv.ec == std::errc::result_out_of_range) {
      v = 0;  // below the smallest double: as good as zero; past the largest: infinite
      for (const char* q = p; q != rv.ptr; ++q) {
        if (*q == 'e' || *q == 'E') v = q[1] == '-' ? 0.0 : std::numeric_limits<double>::infinity();
      }
    } else if (rv.ec != std::errc{}) {
      return p == end ? "truncated: " + std::to_string(i) + " of " + std::to_string(count) + " values"
                      : "value " + std::to_string(i + 1) + " is not a number";
    }
    p = rv.ptr;
    map.values[i] = static_cast<float>(v);
  }
  space();
  if (p != end) return "more than W*H values";
  return {};
}

DisparityText ReadDisparityText(const std::string& path) {
  ReadOnlyFile file;
  OpenForReading(file, path, "disparity file");
  const auto refuse = [&path](const std::string& why) { return NotReadable(path, "disparity file", why); };
  if (file.Size() > (uint64_t{1} << 34)) throw refuse("file too large");
  std::string text(static_cast<std::size_t>(file.Size()), '\0');
  if (!text.empty() && !file.ReadAt(0, text.data(), text.size())) throw refuse("read failed");
  DisparityText map;
  const std::string why = ParseDisparityText(text.data(), text.size(), map);
  if (!why.empty()) throw refuse(why);
  return map;
}

}  // namespace tovimar
