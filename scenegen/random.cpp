#include "scenegen/random.h"

namespace tovimar::scenegen {

uint64_t SplitMix64(uint64_t& state) {
  state += 0x9E3779B97F4A7C15ULL;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

Pcg32::Pcg32(uint64_t seed, uint64_t stream) : increment_((stream << 1) | 1U) {
  Next();
  state_ += seed;
  Next();
}

uint32_t Pcg32::Next() {
  const uint64_t old = state_;
  state_ = old * 6364136223846793005ULL + increment_;
  const auto shifted = static_cast<uint32_t>(((old >> 18) ^ old) >> 27);
  const auto rotation = static_cast<uint32_t>(old >> 59);
  return (shifted >> rotation) | (shifted << ((32U - rotation) & 31U));
}

double Pcg32::Unit() {
  // 27 + 26 bits, scaled by 2^-53: exact in a double.
  const uint64_t high = Next() >> 5;
  const uint64_t low = Next() >> 6;
  return static_cast<double>((high << 26) | low) * (1.0 / 9007199254740992.0);
}

double Pcg32::Uniform(double lo, double hi) { return lo + (hi - lo) * Unit(); }

uint32_t Pcg32::Below(uint32_t n) {
  if (n == 0) return 0;
  // Reject the top values that would make some results more likely.
  const uint32_t threshold = (0U - n) % n;
  for (;;) {
    const uint32_t r = Next();
    if (r >= threshold) return r % n;
  }
}

}  // namespace tovimar::scenegen
