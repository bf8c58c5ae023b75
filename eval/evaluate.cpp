#include "eval/evaluate.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <new>

#include "eval/format.h"
#include "base/error.h"

namespace tovimar::eval {

namespace {

bool Valid(float d) { return std::isfinite(d) && d > 0; }

// Region slots: all, nonoccluded, occluded, then one per object id.
constexpr std::size_t kAll = 0, kNonOccluded = 1, kOccludedSlot = 2, kFirstId = 3;
constexpr std::size_t kSlots = kFirstId + 256;

std::string SlotName(std::size_t s) {
  if (s == kAll) return "all";
  if (s == kNonOccluded) return "nonoccluded";
  if (s == kOccludedSlot) return "occluded";
  return "id:" + std::to_string(s - kFirstId);
}

struct FrameRegions {
  std::vector<FrameRegion> slots = std::vector<FrameRegion>(kSlots);
  std::vector<bool> used = std::vector<bool>(kSlots, false);
};

// Mean |prediction - truth| over pixels where both are valid, as (sum, count).
std::pair<double, uint64_t> PlainError(const std::vector<float>& prediction, const std::vector<float>& truth) {
  std::pair<double, uint64_t> r{0, 0};
  if (prediction.size() != truth.size()) return r;
  for (std::size_t i = 0; i < truth.size(); ++i) {
    if (Valid(truth[i]) && Valid(prediction[i])) {
      r.first += std::fabs(static_cast<double>(prediction[i]) - truth[i]);
      ++r.second;
    }
  }
  return r;
}

FrameRegions Accumulate(const GroundTruthFrame& gt, DisparityMap& prediction, const EvalOptions& options,
                        const std::string& predictionPath, FrameResult& result, bool keepPictures) {
  const DisparityMap& truth = gt.disparity;
  if (prediction.width != truth.width || prediction.height != truth.height)
    throw Error("'" + predictionPath + "' is " + std::to_string(prediction.width) + "x" +
                std::to_string(prediction.height) + ", the ground truth is " + std::to_string(truth.width) + "x" +
                std::to_string(truth.height));
  const std::size_t n = truth.values.size();
  std::vector<uint8_t> validPrediction(n);
  for (std::size_t i = 0; i < n; ++i) validPrediction[i] = Valid(prediction.values[i]);
  if (options.invalid == InvalidRule::Fill) FillInvalid(prediction.values, prediction.width, prediction.height);
  FrameRegions regions;
  if (keepPictures) {
    result.width = truth.width;
    result.height = truth.height;
    result.errors.assign(n, std::numeric_limits<float>::quiet_NaN());
    result.truth = truth.values;
  }
  const bool occlusion = !gt.occlusion.empty(), ids = !gt.ids.empty();
  regions.used[kAll] = true;
  regions.used[kNonOccluded] = regions.used[kOccludedSlot] = occlusion;
  regions.slots[kAll].Reserve(n);
  std::size_t slot[3];
  for (std::size_t i = 0; i < n; ++i) {
    const float t = truth.values[i];
    if (std::isnan(t)) continue;
    std::size_t count = 0;
    slot[count++] = kAll;
    if (occlusion) slot[count++] = gt.occlusion[i] == kOccluded ? kOccludedSlot : kNonOccluded;
    if (ids && gt.ids[i] != kUnlabelled) {
      slot[count++] = kFirstId + static_cast<std::size_t>(gt.ids[i]);
      regions.used[slot[count - 1]] = true;
    }
    const bool valid = validPrediction[i] != 0;
    const bool counted = valid || options.invalid == InvalidRule::Fill;
    const float e = counted ? std::fabs(prediction.values[i] - t) : -1.0f;
    for (std::size_t k = 0; k < count; ++k) {
      FrameRegion& r = regions.slots[slot[k]];
      r.AddGroundTruth(valid);
      if (counted) r.Add(e, t);
    }
    if (keepPictures) result.errors[i] = e;
  }
  return regions;
}

}  // namespace

bool EvalResult::AllRead() const {
  for (const FrameResult& f : frames) {
    if (!f.error.empty()) return false;
  }
  return true;
}

std::size_t FillInvalid(std::vector<float>& values, int width, int height) {
  std::size_t valid = 0;
  for (int y = 0; y < height; ++y) {
    float* row = values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    int first = 0;
    while (first < width && !Valid(row[first])) ++first;
    // Nothing valid in the row: every value becomes 0 (an error of the full disparity).
    const float leading = first < width ? row[first] : 0.0f;
    float last = leading;
    for (int x = 0; x < width; ++x) {
      if (Valid(row[x])) {
        last = row[x];
        ++valid;
      } else {
        row[x] = last;
      }
    }
  }
  return valid;
}

FrameResult EvaluateFrame(const GroundTruthFrame& gt, DisparityMap prediction, const EvalOptions& options,
                          const std::string& predictionPath, bool keepPictures) {
  FrameResult result;
  result.frame = gt.frame;
  FrameRegions regions = Accumulate(gt, prediction, options, predictionPath, result, keepPictures);
  for (std::size_t s = 0; s < kSlots; ++s) {
    if (regions.used[s]) result.regions.emplace_back(SlotName(s), regions.slots[s].Finish());
  }
  return result;
}

EvalResult Evaluate(const Dataset& dataset, const std::string& predictionDir, const EvalOptions& options,
                    const std::function<void(const FrameResult&)>& onFrame) {
  EvalResult out;
  const std::map<int, std::string> predictions = FindPredictions(predictionDir, out.notes);
  std::vector<SequenceRegion> total;  // made on first use: the histograms are not small
  std::vector<int> totalSlot(kSlots, -1);
  // The previous frame's ground truth and prediction, for the off-by-one check.
  int previousFrame = -2;
  std::vector<float> previousTruth, previousPrediction;
  std::pair<double, uint64_t> aligned{0, 0}, predictionAhead{0, 0}, predictionBehind{0, 0};
  // The swapped-camera check: the first few frames against the other
  // camera's ground truth too, when the directory has it.
  constexpr int kSwapCheckFrames = 3;
  const std::optional<Dataset> otherCamera = dataset.OtherCamera();
  int swapChecked = 0;
  std::pair<double, uint64_t> ownSampled{0, 0}, otherSampled{0, 0};

  for (int frame : dataset.Frames()) {
    FrameResult result;
    result.frame = frame;
    const auto found = predictions.find(frame);
    if (found == predictions.end()) {
      result.error = "no prediction for frame " + std::to_string(frame) + " in '" + predictionDir + "'";
      out.frames.push_back(std::move(result));
      continue;
    }
    try {
      const GroundTruthFrame gt = dataset.Load(frame);
      if (std::all_of(gt.disparity.values.begin(), gt.disparity.values.end(), [](float d) { return std::isnan(d); }))
        throw Error("no pixel has ground truth (a finite disparity above 0 that its mask does not rule out)");
      for (const std::string& note : gt.notes) {
        // A palette note repeats for every frame; keep the first.
        if (out.notes.size() < 50) out.notes.push_back("frame " + std::to_string(frame) + ": " + note);
      }
      DisparityMap prediction =
          ReadPrediction(found->second, options.pngScale, gt.disparity.width, gt.disparity.height);
      const std::vector<float> raw = prediction.values;
      FrameRegions regions = Accumulate(gt, prediction, options, found->second, result, static_cast<bool>(onFrame));
      for (std::size_t s = 0; s < kSlots; ++s) {
        if (!regions.used[s]) continue;
        if (totalSlot[s] < 0) {
          totalSlot[s] = static_cast<int>(total.size());
          total.emplace_back();
        }
        total[static_cast<std::size_t>(totalSlot[s])].Merge(regions.slots[s]);
        result.regions.emplace_back(SlotName(s), regions.slots[s].Finish());
      }
      // Off-by-one check on the raw predictions.
      const auto add = [](std::pair<double, uint64_t>& a, std::pair<double, uint64_t> b) {
        a.first += b.first;
        a.second += b.second;
      };
      add(aligned, PlainError(raw, gt.disparity.values));
      if (previousFrame == frame - 1) {
        add(predictionAhead, PlainError(previousPrediction, gt.disparity.values));
        add(predictionBehind, PlainError(raw, previousTruth));
      }
      previousFrame = frame;
      previousTruth = gt.disparity.values;
      previousPrediction = raw;
      if (otherCamera && swapChecked < kSwapCheckFrames &&
          std::binary_search(otherCamera->Frames().begin(), otherCamera->Frames().end(), frame)) {
        try {
          const std::pair<double, uint64_t> other = PlainError(raw, otherCamera->Load(frame).disparity.values);
          if (other.second > 0) {
            add(ownSampled, PlainError(raw, gt.disparity.values));
            add(otherSampled, other);
            ++swapChecked;
          }
        } catch (const Error&) {
          // The other camera's frame is unreadable: this check skips it.
        }
      }
    } catch (const std::exception& e) {
      // Error names the file; anything else (memory for a huge file) is
      // this frame's failure too, and the others are evaluated.
      result = FrameResult{};
      result.frame = frame;
      result.error = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory while reading the frame's files"
                                                                : std::string(e.what());
      previousFrame = -2;
    }
    if (onFrame) onFrame(result);
    result.errors.clear();
    result.errors.shrink_to_fit();
    result.truth.clear();
    result.truth.shrink_to_fit();
    out.frames.push_back(std::move(result));
  }
  for (std::size_t s = 0; s < kSlots; ++s) {
    if (totalSlot[s] >= 0) out.total.emplace_back(SlotName(s), total[static_cast<std::size_t>(totalSlot[s])].Finish());
  }
  const auto mean = [](std::pair<double, uint64_t> a) { return a.second ? a.first / static_cast<double>(a.second) : NAN; };
  const double own = mean(aligned);
  for (const auto& [shifted, words] : {std::pair{predictionAhead, "frame k+1"}, std::pair{predictionBehind, "frame k-1"}}) {
    const double other = mean(shifted);
    if (own > 0.5 && other < 0.5 * own) {
      out.warnings.push_back(std::string("the prediction of frame k fits the ground truth of ") + words +
                             " far better (EPE " + Fixed(other, 3) + " px) than that of frame k (" + Fixed(own, 3) +
                             " px): are the frame numbers off by one?");
    }
  }
  const double ownCamera = mean(ownSampled), otherCameraError = mean(otherSampled);
  if (ownCamera > 0.5 && otherCameraError < 0.5 * ownCamera) {
    const bool left = dataset.camera() == Camera::Left;
    out.warnings.push_back(std::string("the predictions fit the ") + (left ? "right" : "left") +
                           " camera's ground truth far better (EPE " + Fixed(otherCameraError, 3) + " px) than the " +
                           (left ? "left" : "right") + " camera's (" + Fixed(ownCamera, 3) + " px): is --camera " +
                           (left ? "right" : "left") + " meant?");
  }
  return out;
}

}  // namespace tovimar::eval
