#pragma once
// The scene generator's random numbers: SplitMix64 for seeding and PCG32
// (O'Neill's pcg32, XSH-RR output) for the draws. Floating-point values are
// made from the integers by explicit arithmetic, so the same seed gives the
// same numbers on every machine and with every standard library.
#include <cstdint>

namespace tovimar::scenegen {

// One step of SplitMix64: advances state and returns the mixed output.
uint64_t SplitMix64(uint64_t& state);

class Pcg32 {
 public:
  // seed: the starting state; stream: selects one of 2^63 independent sequences.
  Pcg32(uint64_t seed, uint64_t stream);

  uint32_t Next();
  // A double in [0, 1) with 53 random bits.
  double Unit();
  // lo + (hi - lo) * Unit(); lo when lo == hi.
  double Uniform(double lo, double hi);
  // A whole number in [0, n), without modulo bias; 0 when n is 0.
  uint32_t Below(uint32_t n);
  // True with probability p.
  bool Chance(double p) { return Unit() < p; }

 private:
  uint64_t state_ = 0;
  uint64_t increment_ = 1;
};

}  // namespace tovimar::scenegen
