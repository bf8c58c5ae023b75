#pragma once
// Error statistics of one region of pixels: per frame exactly, over a
// sequence through pixel-weighted sums and an error histogram.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tovimar::eval {

// The figures of one region. Percentages 0..100, errors in pixels; NaN when
// no pixel was evaluated.
struct RegionMetrics {
  double epe = 0;   // mean absolute error
  double rmse = 0;  // root mean square error
  double bad05 = 0, bad1 = 0, bad2 = 0, bad4 = 0;  // % of errors above 0.5, 1, 2, 4 px
  double d1 = 0;    // % of errors above 3 px and above 5% of the true disparity
  double a50 = 0, a90 = 0, a95 = 0, a99 = 0;  // error quantiles
  double density = 0;  // % of ground-truth pixels with a valid prediction
  uint64_t pixels = 0;            // pixels in the figures
  uint64_t groundTruthPixels = 0; // pixels of the region with ground truth
};

// Sums shared by frame and sequence statistics.
struct ErrorSums {
  uint64_t groundTruth = 0, validPrediction = 0, evaluated = 0;
  double sum = 0, sumSquares = 0;
  uint64_t over05 = 0, over1 = 0, over2 = 0, over4 = 0, d1 = 0;

  void Add(double error, double truth) {
    ++evaluated;
    sum += error;
    sumSquares += error * error;
    over05 += error > 0.5;
    over1 += error > 1;
    over2 += error > 2;
    over4 += error > 4;
    d1 += error > 3 && error > 0.05 * truth;
  }
  void Merge(const ErrorSums& o);
  // Everything but the quantiles.
  RegionMetrics Finish() const;
};

// A region within one frame: keeps every error for exact quantiles.
class FrameRegion {
 public:
  void AddGroundTruth(bool validPrediction) {
    ++sums_.groundTruth;
    sums_.validPrediction += validPrediction;
  }
  void Add(float error, float truth) {
    sums_.Add(error, truth);
    errors_.push_back(error);
  }
  void Reserve(std::size_t n) { errors_.reserve(n); }
  const ErrorSums& Sums() const { return sums_; }
  // Counts per bin of SequenceRegion's histogram, made on first use.
  const std::vector<uint32_t>& Histogram();
  // The quantile is element ceil(q * n) - 1 of the sorted errors: found
  // exactly by sorting only the errors of the histogram bin that holds it.
  RegionMetrics Finish();

 private:
  ErrorSums sums_;
  std::vector<float> errors_;
  std::vector<uint32_t> histogram_;
};

// A region over a sequence. Quantiles come from a histogram: bins of 1/256
// px up to 64 px, of 1/8 px up to 1024 px, then one bin; a quantile is the
// middle of its bin (exact to 1/512 px below 64 px).
class SequenceRegion {
 public:
  SequenceRegion();
  void Merge(FrameRegion& frame);
  RegionMetrics Finish() const;

 private:
  ErrorSums sums_;
  std::vector<uint64_t> histogram_;
};

}  // namespace tovimar::eval
