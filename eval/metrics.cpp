#include "eval/metrics.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tovimar::eval {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::array<double, 4> kQuantiles{0.50, 0.90, 0.95, 0.99};

constexpr int kFineBins = 64 * 256;           // 1/256 px up to 64 px
constexpr int kCoarseBins = (1024 - 64) * 8;  // 1/8 px up to 1024 px
constexpr int kBins = kFineBins + kCoarseBins + 1;

int BinOf(double e) {
  if (e < 64) return static_cast<int>(e * 256);
  if (e < 1024) return kFineBins + static_cast<int>((e - 64) * 8);
  return kBins - 1;
}

double BinMiddle(int b, double largest) {
  if (b < kFineBins) return (b + 0.5) / 256;
  if (b < kBins - 1) return 64 + (b - kFineBins + 0.5) / 8;
  return largest;
}

// Index of quantile q among n sorted errors (n > 0).
std::size_t QuantileIndex(double q, std::size_t n) {
  const auto k = static_cast<std::size_t>(std::ceil(q * static_cast<double>(n) - 1e-9));
  return k == 0 ? 0 : k - 1;
}

void SetQuantiles(RegionMetrics& m, const std::array<double, 4>& v) {
  m.a50 = v[0];
  m.a90 = v[1];
  m.a95 = v[2];
  m.a99 = v[3];
}

}  // namespace

void ErrorSums::Merge(const ErrorSums& o) {
  groundTruth += o.groundTruth;
  validPrediction += o.validPrediction;
  evaluated += o.evaluated;
  sum += o.sum;
  sumSquares += o.sumSquares;
  over05 += o.over05;
  over1 += o.over1;
  over2 += o.over2;
  over4 += o.over4;
  d1 += o.d1;
}

RegionMetrics ErrorSums::Finish() const {
  RegionMetrics m;
  m.pixels = evaluated;
  m.groundTruthPixels = groundTruth;
  m.density = groundTruth ? 100.0 * static_cast<double>(validPrediction) / static_cast<double>(groundTruth) : kNaN;
  if (evaluated == 0) {
    m.epe = m.rmse = m.bad05 = m.bad1 = m.bad2 = m.bad4 = m.d1 = kNaN;
    SetQuantiles(m, {kNaN, kNaN, kNaN, kNaN});
    return m;
  }
  const auto n = static_cast<double>(evaluated);
  const auto pct = [n](uint64_t c) { return 100.0 * static_cast<double>(c) / n; };
  m.epe = sum / n;
  m.rmse = std::sqrt(sumSquares / n);
  m.bad05 = pct(over05);
  m.bad1 = pct(over1);
  m.bad2 = pct(over2);
  m.bad4 = pct(over4);
  m.d1 = pct(d1);
  return m;
}

const std::vector<uint32_t>& FrameRegion::Histogram() {
  if (histogram_.empty()) {
    histogram_.assign(kBins, 0);
    for (float e : errors_) ++histogram_[static_cast<std::size_t>(BinOf(e))];
  }
  return histogram_;
}

RegionMetrics FrameRegion::Finish() {
  RegionMetrics m = sums_.Finish();
  if (errors_.empty()) return m;
  const std::vector<uint32_t>& histogram = Histogram();
  std::array<double, 4> q{};
  std::vector<float> inBin;
  std::size_t next = 0;
  uint64_t before = 0;  // errors in the bins below b
  for (int b = 0; b < kBins && next < q.size(); ++b) {
    const uint32_t count = histogram[static_cast<std::size_t>(b)];
    while (next < q.size() && before + count > QuantileIndex(kQuantiles[next], errors_.size())) {
      inBin.clear();
      for (float e : errors_) {
        if (BinOf(e) == b) inBin.push_back(e);
      }
      const auto at = inBin.begin() + static_cast<std::ptrdiff_t>(QuantileIndex(kQuantiles[next], errors_.size()) - before);
      std::nth_element(inBin.begin(), at, inBin.end());
      q[next++] = *at;
    }
    before += count;
  }
  SetQuantiles(m, q);
  return m;
}

SequenceRegion::SequenceRegion() : histogram_(kBins, 0) {}

void SequenceRegion::Merge(FrameRegion& frame) {
  sums_.Merge(frame.Sums());
  const std::vector<uint32_t>& counts = frame.Histogram();
  for (std::size_t b = 0; b < counts.size(); ++b) histogram_[b] += counts[b];
}

RegionMetrics SequenceRegion::Finish() const {
  RegionMetrics m = sums_.Finish();
  if (sums_.evaluated == 0) return m;
  std::array<double, 4> q{};
  uint64_t seen = 0;
  std::size_t next = 0;
  const double largest = 1024;
  for (int b = 0; b < kBins && next < q.size(); ++b) {
    seen += histogram_[static_cast<std::size_t>(b)];
    while (next < q.size() && seen > QuantileIndex(kQuantiles[next], sums_.evaluated)) q[next++] = BinMiddle(b, largest);
  }
  SetQuantiles(m, q);
  return m;
}

}  // namespace tovimar::eval
