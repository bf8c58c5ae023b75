#include "render/rig_state.h"

namespace tovimar {

int RandomState::NextPlaneShade() {
  uint64_t state = (static_cast<uint64_t>(high) << 32) | low;
  state = state * 0x0000015A00004E35ULL + 1ULL;
  low = static_cast<uint32_t>(state);
  high = static_cast<uint32_t>(state >> 32);
  return static_cast<int>((high & 0x7FFFFFFFu) % 99u);
}

int RandomState::NextNoise() {
  low = low * 22695477u + 1u;
  return static_cast<int>((low >> 16) & 0x7FFFu);
}

}  // namespace tovimar
