#include "dataset/other_view.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "base/error.h"
#include "io/disparity_text.h"
#include "io/pfm.h"
#include "io/png.h"

namespace tovimar {

bool LoadOtherView(const std::string& directory, DatasetLayout layout, bool otherIsRight, int32_t frame, int width,
                   int height, float farDisparity, FrameTruth& other) {
  const DatasetFileNames names = MakeDatasetFileNames(directory, layout, otherIsRight, frame);
  std::vector<float> values;
  bool infinityMeansNone = false;
  if (layout == DatasetLayout::Kitti) {
    // KITTI keeps no float disparity: its 16-bit one, 1/256 px steps.
    try {
      const PngImage png = ReadPng(names.disparity16);
      if (png.width != width || png.height != height || png.channels != 1 || png.bitDepth != 16) return false;
      for (const uint16_t v : png.samples)
        values.push_back(v == 0 ? std::numeric_limits<float>::infinity() : static_cast<float>(v / 256.0));
      infinityMeansNone = true;
    } catch (const Error&) {
      return false;
    }
  }
  for (const std::string& path : {names.scratchPfm, names.disparityPfm}) {
    if (!values.empty()) break;
    if (path.empty()) continue;
    try {
      PfmImage image = ReadPfm(path);
      if (image.width != width || image.height != height || image.channels != 1) continue;
      values = std::move(image.values);
      infinityMeansNone = layout != DatasetLayout::Classic;
      break;
    } catch (const Error&) {
    }
  }
  if (values.empty() && layout == DatasetLayout::Classic) {
    const std::string dat = MakeFrameFileNames(directory, otherIsRight, frame).disparityText;
    DisparityText text;
    try {
      text = ReadDisparityText(dat);
    } catch (const Error&) {
      return false;
    }
    if (text.width != width || text.height != height) return false;
    values = std::move(text.values);
  }
  if (values.empty()) return false;
  other.width = width;
  other.height = height;
  other.depth.clear();
  other.valid.resize(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    const float v = values[i];
    other.valid[i] = infinityMeansNone ? std::isfinite(v) : (std::isfinite(v) && v != farDisparity);
  }
  other.disparity = std::move(values);
  return true;
}

FrameTruth OtherViewAsStored(const FrameTruth& truth, DatasetLayout layout, float farDisparity) {
  FrameTruth other;
  other.width = truth.width;
  other.height = truth.height;
  other.valid = truth.valid;
  if (layout == DatasetLayout::Kitti) {
    long notFitting = 0;
    const std::vector<uint16_t> stored = KittiDisparity(truth, nullptr, notFitting);
    other.disparity.resize(stored.size());
    for (std::size_t i = 0; i < stored.size(); ++i) {
      other.valid[i] = stored[i] != 0;
      other.disparity[i] =
          stored[i] == 0 ? std::numeric_limits<float>::infinity() : static_cast<float>(stored[i] / 256.0);
    }
    return other;
  }
  other.disparity = DisparityWithInfinity(truth);
  const bool farIsNone = layout == DatasetLayout::Classic;
  for (std::size_t i = 0; i < other.valid.size(); ++i) {
    const float d = other.disparity[i];
    other.valid[i] = std::isfinite(d) && !(farIsNone && d == farDisparity);
  }
  return other;
}

}  // namespace tovimar
