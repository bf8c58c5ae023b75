#pragma once
// Error statistics of one region of pixels: per frame exactly, over a
// sequence through pixel-weighted sums and an error histogram.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace tovimar::eval {

// The figures of one region. Percentages 0..100, errors in pixels; NaN when
// no pixel was evaluated.
struct RegionMetrics {
  double epe = 0;   // mean absolute error
  double rmse = 0;  // root mean square error
  double bad05 = 0, bad1 = 0, bad2 = 0, bad4 = 0;  // % of errors above 0.5, 1, 2, 4 px
  double d1 = 0;    // % of KITTI outliers (KittiOutlier): errors above 3 px and above 5% of the true value
  double a50 = 0, a90 = 0, a95 = 0, a99 = 0;  // error quantiles
  double density = 0;  // % of ground-truth pixels with a valid prediction
  uint64_t pixels = 0;            // pixels in the figures
  uint64_t groundTruthPixels = 0; // pixels of the region with ground truth
};

// KITTI 2015's outlier: an error above 3 px and above 5 % of the true
// value's magnitude (D1 of a disparity; Fl of a flow, against its length).
inline bool KittiOutlier(double error, double truth) { return error > 3 && error > 0.05 * truth; }

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
    d1 += KittiOutlier(error, truth);
  }
  void Merge(const ErrorSums& o);
  // Everything but the quantiles.
  RegionMetrics Finish() const;
};

// Sequence histograms: bins of 1/256 px below kFineLimit px; larger errors
// are kept as sparse counts of their 1/256 px bins (of their exact values
// past 2^40 px, where floats are further apart), so a quantile is the middle
// of its bin over the whole range: exact to 1/512 px.
inline constexpr double kFineLimit = 64;
using LargeErrorCounts = std::vector<std::pair<uint64_t, uint64_t>>;  // bin key, count; keys ascending

// A region within one frame: keeps every error for exact quantiles.
class FrameRegion {
 public:
  void AddGroundTruth(bool validPrediction) {
    ++sums_.groundTruth;
    sums_.validPrediction += validPrediction;
  }
  // The outlier rule sees the error as given; the quantiles its float.
  void Add(double error, double truth) {
    sums_.Add(error, truth);
    errors_.push_back(static_cast<float>(error));
  }
  void Reserve(std::size_t n) { errors_.reserve(n); }
  const ErrorSums& Sums() const { return sums_; }
  // Counts per fine bin of the sequence histogram, and in a last bin the
  // errors of kFineLimit px and more; made on first use.
  const std::vector<uint32_t>& Histogram();
  // The errors of kFineLimit px and more, counted per bin key.
  LargeErrorCounts LargeErrors() const;
  // The quantile is element ceil(q * n) - 1 of the sorted errors: found
  // exactly by sorting only the errors of the histogram bin that holds it.
  RegionMetrics Finish();

 private:
  ErrorSums sums_;
  std::vector<float> errors_;
  std::vector<uint32_t> histogram_;
};

// A region over a sequence. Quantiles come from the histogram above: a
// quantile is the middle of its bin, exact to 1/512 px.
class SequenceRegion {
 public:
  SequenceRegion();
  void Merge(FrameRegion& frame);
  RegionMetrics Finish() const;

 private:
  ErrorSums sums_;
  std::vector<uint64_t> histogram_;  // the fine bins
  LargeErrorCounts large_;
};

}  // namespace tovimar::eval
