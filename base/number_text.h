#pragma once
// Numbers as text for messages and reports, independent of the process
// locale.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string>

namespace tovimar {

// Fixed notation with the given decimals; "nan" or "inf" as such.
inline std::string Fixed(double v, int decimals) {
  if (std::isnan(v)) return "nan";
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return r.ec == std::errc{} ? std::string(buf, r.ptr) : std::string("inf");
}

// The shortest text that reads back as v.
inline std::string Shortest(double v) {
  char buf[64];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// "1 scene", "2 scenes": a count and its noun, plural with an "s".
inline std::string CountOf(std::size_t count, const std::string& noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace tovimar
