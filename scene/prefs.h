#pragma once

namespace tovimar {

// Scene settings record, written by scene assembly and by setting lines.
struct Prefs {
  bool fog = false;
  double focalLength = 0.0;  // pixels
  double baseline = 0.0;     // scene units
  double noise = 0.0;        // standard deviation, 0-255 scale
};

}  // namespace tovimar
