#include "truth/camera_noise.h"

#include "base/parallel_chunks.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace tovimar {
namespace {

// GaussianSample's scaling of a 15-bit draw, for every draw.
const std::array<double, 32768>& UniformOfDraw() {
  static const std::array<double, 32768> table = [] {
    std::array<double, 32768> t{};
    for (int r = 0; r < 32768; ++r)
      t[static_cast<std::size_t>(r)] =
          static_cast<double>(static_cast<long double>(r) * (1.0L / 32767.0L) * 2.0L - 1.0L);
    return t;
  }();
  return table;
}

constexpr int kRowsPerChunk = 8;
constexpr std::size_t kBlockSamples = 3 * 64;  // whole pixels

// RandomState::NextNoise k+1 times in one: low = a * low + c (mod 2^32).
struct NoiseStep {
  uint32_t a;
  uint32_t c;
};
constexpr std::array<NoiseStep, 8> MakeNoiseSteps() {
  std::array<NoiseStep, 8> steps{};
  NoiseStep s{22695477u, 1u};
  for (auto& step : steps) {
    step = s;
    s = NoiseStep{s.a * 22695477u, s.c * 22695477u + 1u};
  }
  return steps;
}
constexpr std::array<NoiseStep, 8> kNoiseStep = MakeNoiseSteps();

inline uint32_t NoiseOutput(uint32_t low) { return (low >> 16) & 0x7FFFu; }

struct NoiseJob {
  const uint8_t* rgb;
  int width;
  int height;
  double sigma;
  BmpImage24* image;
  const uint32_t* draws;  // accepted pairs, first draw in the high half
  const double* uniform;
  int chunks;

  // Rows of chunk c: value + GaussianSample * sigma, clamped, truncated, in
  // blue-green-red order into the picture row. Each block of samples goes
  // through three loops (the sums, the logarithms, the rest) so that the
  // roots and divisions of the last run several at a time; every value is
  // computed by the same operations in the same order as one loop would.
  void Transform(int c) const {
    const int end = std::min(height, (c + 1) * kRowsPerChunk);
    const std::size_t rowSamples = static_cast<std::size_t>(width) * 3;
    double u1[kBlockSamples], s[kBlockSamples], l[kBlockSamples];
    uint8_t out[kBlockSamples];
    for (int i = c * kRowsPerChunk; i < end; ++i) {
      const uint8_t* src = rgb + static_cast<std::size_t>(i) * rowSamples;
      const uint32_t* d = draws + static_cast<std::size_t>(i) * rowSamples;
      uint8_t* dst = image->Row(height - 1 - i);
      for (std::size_t x0 = 0; x0 < rowSamples; x0 += kBlockSamples) {
        const std::size_t n = std::min(kBlockSamples, rowSamples - x0);
        for (std::size_t k = 0; k < n; ++k) {
          const double a = uniform[d[x0 + k] >> 16];
          const double b = uniform[d[x0 + k] & 0xFFFF];
          u1[k] = a;
          s[k] = a * a + b * b;
        }
        for (std::size_t k = 0; k < n; ++k) l[k] = std::log(s[k]);
        for (std::size_t k = 0; k < n; ++k) {
          const double g = u1[k] * std::sqrt(-2.0 * l[k] / s[k]);
          double v = g * sigma + static_cast<double>(src[x0 + k]);
          v = v >= 0.0 ? v : 0.0;
          v = v > 255.0 ? 255.0 : v;
          out[k] = static_cast<uint8_t>(static_cast<int>(v));
        }
        // Red-green-blue samples to the row's blue-green-red (blocks hold whole pixels).
        for (std::size_t k = 0; k < n; k += 3) {
          dst[x0 + k] = out[k + 2];
          dst[x0 + k + 1] = out[k + 1];
          dst[x0 + k + 2] = out[k];
        }
      }
    }
  }

};

// The generator's part of the noise: one accepted pair of draws per sample,
// first draw in the high half, stepping random as GaussianSample does.
void DrawAcceptedPairs(RandomState& random, std::vector<uint32_t>& draws) {
  const double* uniform = UniformOfDraw().data();
  // The polar method's loop, as GaussianSample runs it: pairs with s = 0 or
  // s > 1 are drawn again. Every pair is stored at the next free place, which
  // moves on only when the pair is accepted (no branch to mispredict); four
  // pairs at a time come straight from the state of the block's start, so the
  // generator's steps do not wait on each other.
  uint32_t low = random.low;
  uint32_t* out = draws.data();
  auto accepted = [uniform](uint32_t r1, uint32_t r2) {
    const double s = uniform[r1] * uniform[r1] + uniform[r2] * uniform[r2];
    return !(s == 0.0 || s > 1.0);
  };
  uint32_t* const end = out + draws.size();
  while (end - out >= 4) {
    uint32_t r[8];
    for (int k = 0; k < 8; ++k) r[k] = NoiseOutput(kNoiseStep[k].a * low + kNoiseStep[k].c);
    low = kNoiseStep[7].a * low + kNoiseStep[7].c;
    for (int k = 0; k < 8; k += 2) {
      *out = r[k] << 16 | r[k + 1];
      out += accepted(r[k], r[k + 1]) ? 1 : 0;
    }
  }
  while (out != end) {
    const uint32_t r1 = NoiseOutput(low = kNoiseStep[0].a * low + kNoiseStep[0].c);
    const uint32_t r2 = NoiseOutput(low = kNoiseStep[0].a * low + kNoiseStep[0].c);
    *out = r1 << 16 | r2;
    out += accepted(r1, r2) ? 1 : 0;
  }
  random.low = low;
}

}  // namespace

void AddCameraNoise(const uint8_t* rgb, int width, int height, double sigma, RandomState& random,
                    BmpImage24& image, std::vector<uint32_t>& draws) {
  if (width <= 0 || height <= 0) return;
  const std::size_t rowSamples = static_cast<std::size_t>(width) * 3;
  draws.resize(rowSamples * static_cast<std::size_t>(height));
  const double* uniform = UniformOfDraw().data();

  NoiseJob job{rgb, width, height, sigma, &image, draws.data(), uniform, (height + kRowsPerChunk - 1) / kRowsPerChunk};
  DrawAcceptedPairs(random, draws);

  // The costly part only now, so the helper never waits on the generator.
  ForEachChunk(job.chunks, [&job](int c) { job.Transform(c); });
}

void StepRandomAsCameraNoise(int width, int height, RandomState& random, std::vector<uint32_t>& draws) {
  if (width <= 0 || height <= 0) return;
  draws.resize(static_cast<std::size_t>(width) * 3 * static_cast<std::size_t>(height));
  DrawAcceptedPairs(random, draws);
}

}  // namespace tovimar
