#pragma once
// Evaluation of one camera's predicted disparities against a sequence's
// ground truth, frame by frame and over the whole sequence.
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "eval/dataset.h"
#include "eval/metrics.h"

namespace tovimar::eval {

// What becomes of predictions that are NaN, infinite or <= 0.
enum class InvalidRule {
  Fill,     // replaced by the nearest valid value to the left in the row, else to the right, else 0
  Exclude,  // left out of the figures; density reports them
};

struct EvalOptions {
  InvalidRule invalid = InvalidRule::Fill;
  double pngScale = 256;  // 16-bit PNG predictions hold round(scale * d)
};

// A region's name ("all", "nonoccluded", "occluded", "id:N") and figures.
using RegionList = std::vector<std::pair<std::string, RegionMetrics>>;

struct FrameResult {
  int frame = 0;
  std::string error;  // why the frame could not be evaluated; empty when it was
  RegionList regions;
  // For the error picture: per pixel |error| (NaN without ground truth, -1
  // for an excluded prediction) and the true disparity.
  int width = 0, height = 0;
  std::vector<float> errors, truth;
};

struct EvalResult {
  std::vector<FrameResult> frames;
  RegionList total;
  std::vector<std::string> notes;     // files ignored, regions not available
  std::vector<std::string> warnings;  // signs of a mismatched prediction set
  bool AllRead() const;
};

// Replaces invalid values along each row (InvalidRule::Fill); returns how
// many values were valid.
std::size_t FillInvalid(std::vector<float>& values, int width, int height);

// Evaluates one frame (prediction as read, invalid values not yet handled).
// Throws Error naming predictionPath when the sizes differ.
FrameResult EvaluateFrame(const GroundTruthFrame& gt, DisparityMap prediction, const EvalOptions& options,
                          const std::string& predictionPath, bool keepPictures);

// Evaluates every ground-truth frame of the dataset against the prediction
// files of predictionDir. A frame whose files are missing or unreadable gets
// its error and the others are still evaluated. onFrame (optional) sees each
// frame's result with its pictures, which are then dropped. Warns when the
// predictions fit the neighbouring frames' ground truth far better than
// their own (frame numbers off by one), or the other camera's far better
// than the chosen camera's (judged on the first frames both cameras have).
EvalResult Evaluate(const Dataset& dataset, const std::string& predictionDir, const EvalOptions& options,
                    const std::function<void(const FrameResult&)>& onFrame = {});

}  // namespace tovimar::eval
