// Noise and depth-to-disparity arithmetic of the ground truth.
#include <gtest/gtest.h>

#include <cmath>

#include "render/rig_state.h"
#include "scene/scene_objects.h"
#include "truth/ground_truth.h"
#include "truth/segmentation.h"

namespace tovimar {
namespace {

TEST(Noise, FirstSamplesAfterStartUp) {
  // The generator's first outputs are 346, 130, 10982, 1090 (checked with the
  // random state itself). The first pair lies outside the unit circle and is
  // drawn again, so the first sample comes from 10982 and 1090.
  RandomState fresh;
  const double g = GaussianSample(fresh);
  EXPECT_NEAR(g, -0.066837, 5e-7);
  RandomState r;
  for (int i = 0; i < 4; ++i) r.NextNoise();
  EXPECT_EQ(fresh.low, r.low) << "exactly four generator outputs used";

  RandomState again;
  EXPECT_EQ(AddPixelNoise(100, 2.0, again), 99);  // 100 - 0.134 truncated
}

// The same sample with s, the logarithm and the root in extended precision.
double ExtendedGaussianSample(RandomState& random) {
  double u1 = 0.0, u2 = 0.0, s = 0.0;
  do {
    u1 = static_cast<double>(static_cast<long double>(random.NextNoise()) * (1.0L / 32767.0L) * 2.0L - 1.0L);
    u2 = static_cast<double>(static_cast<long double>(random.NextNoise()) * (1.0L / 32767.0L) * 2.0L - 1.0L);
    s = static_cast<double>(static_cast<long double>(u1) * u1 + static_cast<long double>(u2) * u2);
  } while (s == 0.0 || s > 1.0);
  const long double ls = s;
  return static_cast<double>(static_cast<long double>(u1) * std::sqrt(-2.0L * std::log(ls) / ls));
}

TEST(Noise, DoubleEvaluationGivesTheChannelsOfAnExtendedOne) {
  RandomState a, b;
  int differingSamples = 0;
  for (int i = 0; i < 300000; ++i) {
    const double g = GaussianSample(a);
    const double e = ExtendedGaussianSample(b);
    ASSERT_EQ(a.low, b.low) << "the same draws accepted, sample " << i;
    differingSamples += g != e;
    for (double sigma : {0.5, 1.0, 2.0, 7.3, 40.0}) {
      const int v = i % 256;
      auto channel = [&](double sample) {
        double x = sample * sigma + v;
        if (!(x >= 0.0)) x = 0.0;
        if (x > 255.0) x = 255.0;
        return static_cast<int>(x);
      };
      ASSERT_EQ(channel(g), channel(e)) << "sample " << i << ", sigma " << sigma;
    }
  }
  EXPECT_GT(differingSamples, 0) << "the comparison must see the two evaluations differ";
}

TEST(Noise, ClampsAndTruncates) {
  RandomState r;
  int below = 0, above = 0;
  double sum = 0;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    const int lo = AddPixelNoise(0, 10.0, r);
    const int hi = AddPixelNoise(255, 10.0, r);
    EXPECT_GE(lo, 0);
    EXPECT_LE(hi, 255);
    below += lo == 0;
    above += hi == 255;
    sum += AddPixelNoise(128, 3.0, r);
  }
  EXPECT_GT(below, n / 3);  // half the samples are negative
  EXPECT_GT(above, n / 3);
  // Truncation, not rounding: a level loses half a step on average.
  EXPECT_NEAR(sum / n, 127.5, 0.1);
}

TEST(Noise, SamplesAreStandardNormal) {
  RandomState r;
  double s1 = 0, s2 = 0;
  const int n = 200000;
  for (int i = 0; i < n; ++i) {
    const double g = GaussianSample(r);
    s1 += g;
    s2 += g * g;
  }
  EXPECT_NEAR(s1 / n, 0.0, 0.01);
  EXPECT_NEAR(s2 / n, 1.0, 0.02);
}

TEST(Disparity, DepthEndsAndExamples) {
  const double B = 0.12, F = 389.0;
  // Window depth 0 is the near plane, 1 the far plane.
  EXPECT_NEAR(DisparityFromDepth(0.0f, 1.0, 1.0), 1.0 / 0.5, 1e-12);
  EXPECT_NEAR(DisparityFromDepth(1.0f, 1.0, 1.0), 1.0 / 34.0, 1e-12);

  const double background = DisparityFromDepth(1.0f, B, F);
  EXPECT_NEAR(background, 1.37294117647, 1e-10);
  EXPECT_EQ(SubPixelMapValue(background), 5);
  EXPECT_EQ(PixelMapValue(background), 4);

  const double nearest = DisparityFromDepth(0.0f, B, F);
  EXPECT_NEAR(nearest, 93.36, 1e-9);
  EXPECT_EQ(SubPixelMapValue(nearest), 255);
  EXPECT_EQ(PixelMapValue(nearest), 255);

  const double d09 = DisparityFromDepth(0.9f, B, F);
  EXPECT_NEAR(d09, 10.57, 0.01);
  EXPECT_EQ(SubPixelMapValue(d09), 44);
  EXPECT_EQ(PixelMapValue(d09), 46);
}

TEST(Disparity, MapRounding) {
  EXPECT_EQ(PixelMapValue(2.5), 2 * 255 / 60);        // an exact half rounds down
  EXPECT_EQ(PixelMapValue(2.500001), 3 * 255 / 60);   // just above rounds up
  EXPECT_EQ(PixelMapValue(2.4999), 2 * 255 / 60);
  EXPECT_EQ(PixelMapValue(60.0), 255);
  EXPECT_EQ(PixelMapValue(59.5), 250);  // P = 59
  EXPECT_EQ(PixelMapValue(59.51), 255); // P = 60
  EXPECT_EQ(PixelMapValue(1e300), 255);
  EXPECT_EQ(PixelMapValue(0.0), 0);
  EXPECT_EQ(PixelMapValue(0.5), 0);
  EXPECT_EQ(PixelMapValue(0.51), 4);

  EXPECT_EQ(SubPixelMapValue(60.0), 255);
  EXPECT_EQ(SubPixelMapValue(61.0), 255);
  EXPECT_EQ(SubPixelMapValue(1e300), 255);
  EXPECT_EQ(SubPixelMapValue(59.99), 254);
  EXPECT_EQ(SubPixelMapValue(12.0), 51);    // 12 * 255 / 60 = 51 exactly
  EXPECT_EQ(SubPixelMapValue(0.2352), 0);
  EXPECT_EQ(SubPixelMapValue(0.2353), 1);
  // A negative baseline gives negative disparities: never wrapped into bytes.
  EXPECT_EQ(SubPixelMapValue(-3.0), 0);
  EXPECT_EQ(PixelMapValue(-3.0), 0);
  EXPECT_EQ(SubPixelMapValue(std::nan("")), 0);
  EXPECT_EQ(PixelMapValue(std::nan("")), 0);
}

TEST(Segmentation, HistogramCountsOnlyIdsInRange) {
  SceneModel scene;
  for (int id : {25, 25, 160, -1, 256, 0, 255, 1000}) {
    auto k = std::make_unique<Sphere>(1.0);
    k->id = id;
    scene.solidObjects.push_back(std::move(k));
  }
  const auto h = IdHistogram(scene);
  EXPECT_EQ(h[25], 2);
  EXPECT_EQ(h[160], 1);
  EXPECT_EQ(h[0], 1);
  EXPECT_EQ(h[255], 1);
  int total = 0;
  for (int c : h) total += c;
  EXPECT_EQ(total, 5);
}

}  // namespace
}  // namespace tovimar
