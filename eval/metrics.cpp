#include "eval/metrics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace tovimar::eval {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::array<double, 4> kQuantiles{0.50, 0.90, 0.95, 0.99};

constexpr int kFineBins = static_cast<int>(kFineLimit) * 256;  // 1/256 px below kFineLimit
constexpr int kBins = kFineBins + 1;                            // and one for every larger error

int BinOf(double e) { return e < kFineLimit ? static_cast<int>(e * 256) : kFineBins; }

double BinMiddle(int b) { return (b + 0.5) / 256; }

// Bin keys of large errors, ascending with the error: the 1/256 px bin up to
// 2^40 px, then the float's own bits (floats there are 2^17 px apart and more).
constexpr uint64_t kBitsKeys = uint64_t{1} << 48;

uint64_t LargeKey(float e) {
  if (e < 1099511627776.0f) return static_cast<uint64_t>(static_cast<double>(e) * 256);
  uint32_t bits = 0;
  std::memcpy(&bits, &e, sizeof bits);
  return kBitsKeys + bits;
}

double LargeKeyValue(uint64_t key) {
  if (key < kBitsKeys) return (static_cast<double>(key) + 0.5) / 256;
  const auto bits = static_cast<uint32_t>(key - kBitsKeys);
  float e = 0;
  std::memcpy(&e, &bits, sizeof e);
  return e;
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
  int collected = -1;  // the bin whose errors inBin holds (quantiles often share one)
  std::size_t next = 0;
  uint64_t before = 0;  // errors in the bins below b
  for (int b = 0; b < kBins && next < q.size(); ++b) {
    const uint32_t count = histogram[static_cast<std::size_t>(b)];
    while (next < q.size() && before + count > QuantileIndex(kQuantiles[next], errors_.size())) {
      if (collected != b) {
        inBin.clear();
        for (float e : errors_) {
          if (BinOf(e) == b) inBin.push_back(e);
        }
        collected = b;
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

LargeErrorCounts FrameRegion::LargeErrors() const {
  std::vector<uint64_t> keys;
  for (float e : errors_)
    if (e >= kFineLimit) keys.push_back(LargeKey(e));
  std::sort(keys.begin(), keys.end());
  LargeErrorCounts counts;
  for (uint64_t key : keys) {
    if (counts.empty() || counts.back().first != key) counts.emplace_back(key, 0);
    ++counts.back().second;
  }
  return counts;
}

SequenceRegion::SequenceRegion() : histogram_(kFineBins, 0) {}

void SequenceRegion::Merge(FrameRegion& frame) {
  sums_.Merge(frame.Sums());
  const std::vector<uint32_t>& counts = frame.Histogram();
  for (std::size_t b = 0; b < histogram_.size(); ++b) histogram_[b] += counts[b];
  if (counts.back() == 0) return;
  const LargeErrorCounts more = frame.LargeErrors();
  LargeErrorCounts merged;
  merged.reserve(large_.size() + more.size());
  auto a = large_.cbegin();
  auto b = more.cbegin();
  while (a != large_.end() || b != more.end()) {
    if (b == more.end() || (a != large_.end() && a->first < b->first)) {
      merged.push_back(*a++);
    } else if (a == large_.end() || b->first < a->first) {
      merged.push_back(*b++);
    } else {
      merged.emplace_back(a->first, a->second + b->second);
      ++a;
      ++b;
    }
  }
  large_ = std::move(merged);
}

RegionMetrics SequenceRegion::Finish() const {
  RegionMetrics m = sums_.Finish();
  if (sums_.evaluated == 0) return m;
  std::array<double, 4> q{};
  uint64_t seen = 0;
  std::size_t next = 0;
  const auto take = [&](uint64_t count, double value) {
    seen += count;
    while (next < q.size() && seen > QuantileIndex(kQuantiles[next], sums_.evaluated)) q[next++] = value;
  };
  for (int b = 0; b < kFineBins && next < q.size(); ++b) take(histogram_[static_cast<std::size_t>(b)], BinMiddle(b));
  for (const auto& [key, count] : large_) {
    if (next == q.size()) break;
    take(count, LargeKeyValue(key));
  }
  SetQuantiles(m, q);
  return m;
}

}  // namespace tovimar::eval
