#pragma once
// The values that the renderer shares with everything it drives: rig values,
// the frame counter, the light, the start directory and the runtime's
// pseudo-random state. One object per renderer, so tests can make fresh ones.
#include <array>
#include <cstdint>
#include <string>

namespace tovimar {

// The runtime's pseudo-random state: two 32-bit words, low = 1 and high = 0 at
// start. Plane drawings step the whole 64-bit number; the noise generator
// steps the low word only, so plane drawings change later noise.
struct RandomState {
  uint32_t low = 1;
  uint32_t high = 0;

  // state = state * 0x0000015A00004E35 + 1 (mod 2^64); k = (high & 0x7FFFFFFF) mod 99.
  int NextPlaneShade();
  // The state after `count` NextPlaneShade calls, in O(log count) steps: the
  // steps that drawings nobody sees would make, done as arithmetic.
  void SkipPlaneShades(uint64_t count);
  // low = low * 22695477 + 1 (mod 2^32); output (low >> 16) & 0x7FFF.
  int NextNoise();
};

struct RigState {
  double RigFocalLength = 389.0;  // pixels
  double RigBaseline = 0.12;      // scene units
  double RigNoise = 0.0;          // standard deviation, 0-255 scale
  std::array<float, 4> LightPosition{-10.0f, 20.0f, 20.0f, 1.0f};
  std::string StartDirectory;
  int32_t FrameCounter = -1;
  RandomState random;
};

}  // namespace tovimar
