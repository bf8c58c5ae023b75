#pragma once
// Numbers as text for reports, independent of the process locale.
#include <charconv>
#include <cmath>
#include <string>

#include "base/number_text.h"

namespace tovimar::eval {

// The shortest text that reads back as v; "null" when it is not finite (JSON).
inline std::string JsonNumber(double v) {
  return std::isfinite(v) ? Shortest(v) : "null";
}

// s as a JSON string: quoted, with quotes, backslashes and control
// characters escaped.
inline std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out + '"';
}

}  // namespace tovimar::eval
