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

}  // namespace tovimar::eval
