#include "render/rig_state.h"

namespace tovimar {

int RandomState::NextPlaneShade() {
  uint64_t state = (static_cast<uint64_t>(high) << 32) | low;
  state = state * 0x0000015A00004E35ULL + 1ULL;
  low = static_cast<uint32_t>(state);
  high = static_cast<uint32_t>(state >> 32);
  return static_cast<int>((high & 0x7FFFFFFFu) % 99u);
}

void RandomState::SkipPlaneShades(uint64_t count) {
  // x -> a x + c applied `count` times is x -> A x + C, built by squaring
  // the step (mod 2^64, unsigned arithmetic wraps).
  uint64_t multiplier = 0x0000015A00004E35ULL, increment = 1ULL;
  uint64_t totalMultiplier = 1ULL, totalIncrement = 0ULL;
  for (; count > 0; count >>= 1) {
    if (count & 1ULL) {
      totalMultiplier *= multiplier;
      totalIncrement = totalIncrement * multiplier + increment;
    }
    increment *= multiplier + 1ULL;
    multiplier *= multiplier;
  }
  uint64_t state = (static_cast<uint64_t>(high) << 32) | low;
  state = state * totalMultiplier + totalIncrement;
  low = static_cast<uint32_t>(state);
  high = static_cast<uint32_t>(state >> 32);
}

int RandomState::NextNoise() {
  low = low * 22695477u + 1u;
  return static_cast<int>((low >> 16) & 0x7FFFu);
}

}  // namespace tovimar
