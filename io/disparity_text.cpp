#include "io/disparity_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "base/error.h"
#include "io/file.h"

namespace tovimar {

namespace {

bool IsSeparator(char c) { return c == '\r' || c == '\n' || c == ' ' || c == '\t'; }

// The width and height at the start of data; "" or why they are refused.
// *after: where the values start. *cut: the answer may change with more
// bytes (a number or a separator run reaches the end of data).
std::string ParseSize(const char* data, std::size_t size, int& w, int& h, const char** after, bool* cut) {
  const char* p = data;
  const char* const end = data + size;
  auto r = std::from_chars(p, end, w);
  *cut = r.ptr == end;
  if (r.ec != std::errc{} || w < 1 || w > 65535) return "bad width";
  p = r.ptr;
  if (p == end || !IsSeparator(*p)) return "bad width";
  while (p != end && IsSeparator(*p)) ++p;
  r = std::from_chars(p, end, h);
  *cut = r.ptr == end;
  if (r.ec != std::errc{} || h < 1 || h > 65535) return "bad height";
  *after = r.ptr;
  return {};
}

// Every value takes at least two bytes (a digit and a line end).
bool RoomForValues(int w, int h, std::size_t bytesLeft) {
  return bytesLeft / 2 >= static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

}  // namespace

std::string ParseDisparityText(const char* data, std::size_t size, DisparityText& map) {
  const char* p = data;
  const char* const end = data + size;
  const auto space = [&] {
    const char* start = p;
    while (p != end && IsSeparator(*p)) ++p;
    return p != start;
  };
  int w = 0, h = 0;
  bool cut = false;
  if (std::string why = ParseSize(data, size, w, h, &p, &cut); !why.empty()) return why;
  const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (!RoomForValues(w, h, static_cast<std::size_t>(end - p))) return "truncated: fewer than W*H values";
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

DisparityText ReadDisparityText(const std::string& path, const HeaderSizeCheck& check) {
  ReadOnlyFile file;
  OpenForReading(file, path, "disparity file");
  const auto refuse = [&path](const std::string& why) { return NotReadable(path, "disparity file", why); };
  // The size lines first: a size that is refused, or that the file is too
  // short for, costs no more than these bytes.
  char head[64];
  const std::size_t headSize = static_cast<std::size_t>(std::min<uint64_t>(file.Size(), sizeof head));
  if (!file.ReadAt(0, head, headSize)) throw refuse("read failed");
  int w = 0, h = 0;
  const char* after = head;
  bool cut = false;
  const std::string why = ParseSize(head, headSize, w, h, &after, &cut);
  const bool whole = headSize == file.Size();
  if (!why.empty() && (whole || !cut)) throw refuse(why);
  if (why.empty() && (whole || !cut)) {
    if (check) check(w, h);
    if (!RoomForValues(w, h, static_cast<std::size_t>(file.Size() - static_cast<uint64_t>(after - head))))
      throw refuse("truncated: fewer than W*H values");
    // A value with its line end is written in under 32 bytes; twice that
    // leaves room for any spacing a reader would meet.
    if (file.Size() > 64 * (uint64_t{1} + static_cast<uint64_t>(w) * static_cast<uint64_t>(h)))
      throw refuse("far longer than W*H values");
  }
  // Otherwise the size lines are longer than the window (padded numbers or
  // separators): the whole text decides, and check is called after it.
  if (file.Size() > (uint64_t{1} << 34)) throw refuse("file too large");
  std::string text(static_cast<std::size_t>(file.Size()), '\0');
  if (!text.empty() && !file.ReadAt(0, text.data(), text.size())) throw refuse("read failed");
  DisparityText map;
  if (const std::string bad = ParseDisparityText(text.data(), text.size(), map); !bad.empty()) throw refuse(bad);
  if (check && cut) check(map.width, map.height);
  return map;
}

}  // namespace tovimar
