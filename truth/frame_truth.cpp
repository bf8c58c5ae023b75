#include "truth/frame_truth.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "io/disparity_text.h"
#include "base/error.h"
#include "io/file.h"
#include "io/pfm.h"
#include "io/png.h"
#include "layout/file_names.h"
#include "render/camera.h"

namespace tovimar {
namespace {

struct NamedOutput {
  const char* name;
  bool OutputChoice::*flag;
};
constexpr NamedOutput kOutputs[] = {
    {"classic", &OutputChoice::classic}, {"pfm", &OutputChoice::pfm},   {"depth", &OutputChoice::depth},
    {"kitti", &OutputChoice::kitti},     {"png", &OutputChoice::png},   {"masks", &OutputChoice::masks},
    {"flow", &OutputChoice::flow},       {"ids16", &OutputChoice::ids16},
};

std::string KnownOutputs() {
  std::string known;
  for (const NamedOutput& o : kOutputs) known += (known.empty() ? "" : ", ") + std::string(o.name);
  return known;
}

}  // namespace

OutputChoice ParseOutputList(const std::string& list) {
  OutputChoice choice;
  choice.classic = false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = list.find(',', start);
    const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    bool found = false;
    for (const NamedOutput& o : kOutputs) {
      if (name == o.name) {
        choice.*(o.flag) = true;
        found = true;
      }
    }
    if (!found) {
      throw Error((name.empty() ? std::string("an empty output name") : "unknown output '" + name + "'") +
                  " (known: " + KnownOutputs() + ")");
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return choice;
}

DatasetLayout ParseLayout(const std::string& text) {
  for (const DatasetLayout layout : AllLayouts())
    if (text == LayoutName(layout)) return layout;
  throw Error("unknown layout '" + text + "' (known: classic, middlebury, kitti, sceneflow)");
}

std::string ParseSplit(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos)
    throw Error("the split '" + text + "' is not two folder names such as TRAIN/A");
  for (const std::string& part : {text.substr(0, slash), text.substr(slash + 1)}) {
    if (part.empty() || part == "." || part == ".." || part.find('\0') != std::string::npos)
      throw Error("the split '" + text + "' is not two folder names such as TRAIN/A");
    // '@' separates the split from the scene in a split's sequence folder name.
    if (part.find('@') != std::string::npos)
      throw Error("the split '" + text + "' has an '@', which split folder names cannot have");
  }
  return text;
}

std::vector<std::string> StoredCameraImages(const std::string& directory, const OutputChoice& choice, bool right,
                                            int32_t frameCount) {
  std::vector<std::string> paths;
  const bool classicImages = choice.layout == DatasetLayout::Classic && choice.classic;
  if (choice.layout == DatasetLayout::Classic && !choice.classic && !choice.png) return paths;
  const SceneFlowNaming naming{choice.split, SceneFlowFrameDigits(frameCount)};
  for (int32_t frame = 0; frame < frameCount; ++frame) {
    // The KITTI layout's last frame has no KITTI 2015 index: its odometry image, which every frame has.
    const DatasetFileNames names = MakeDatasetFileNames(directory, choice.layout, right, frame, naming);
    paths.push_back(classicImages                             ? MakeFrameFileNames(directory, right, frame).cameraImage
                    : choice.layout == DatasetLayout::Kitti ? names.odometryImagePng
                                                              : names.imagePng);
  }
  return paths;
}

std::string ProductOutsideLayout(const OutputChoice& choice) {
  // What each layout has a place for, besides the files it always writes.
  bool OutputChoice::*const held[] = {&OutputChoice::png, &OutputChoice::pfm, &OutputChoice::kitti,
                                      &OutputChoice::masks, &OutputChoice::flow};
  auto holds = [&](bool OutputChoice::*flag) {
    switch (choice.layout) {
      case DatasetLayout::Classic: return true;
      case DatasetLayout::Middlebury: return flag == held[0] || flag == held[1] || flag == held[3] || flag == held[4];
      case DatasetLayout::Kitti: return flag == held[0] || flag == held[2] || flag == held[3] || flag == held[4];
      case DatasetLayout::SceneFlow: return flag == held[0] || flag == held[1] || flag == held[4];
    }
    return false;
  };
  for (const NamedOutput& o : kOutputs)
    if (choice.*(o.flag) && o.flag != &OutputChoice::ids16 && !holds(o.flag)) return o.name;  // every layout holds ids
  return {};
}

const char* LayoutName(DatasetLayout layout) {
  switch (layout) {
    case DatasetLayout::Middlebury:
      return "middlebury";
    case DatasetLayout::Kitti:
      return "kitti";
    case DatasetLayout::SceneFlow:
      return "sceneflow";
    case DatasetLayout::Classic:
      break;
  }
  return "classic";
}

std::string OutputListText(const OutputChoice& choice) {
  std::string text;
  for (const NamedOutput& o : kOutputs) {
    if (choice.*(o.flag)) text += (text.empty() ? "" : ",") + std::string(o.name);
  }
  return text;
}

std::vector<std::string> OutputNames() {
  std::vector<std::string> names;
  for (const NamedOutput& o : kOutputs) names.emplace_back(o.name);
  return names;
}

std::vector<DatasetLayout> AllLayouts() {
  return {DatasetLayout::Classic, DatasetLayout::Middlebury, DatasetLayout::Kitti, DatasetLayout::SceneFlow};
}

void MakeFrameTruth(const float* windowDepth, const double* disparity, int width, int height, bool withDepth,
                    FrameTruth& truth) {
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  truth.width = width;
  truth.height = height;
  truth.disparity.resize(n);
  truth.depth.resize(withDepth ? n : 0);
  truth.valid.resize(n);
  constexpr double a = kFarPlane / (kFarPlane - kNearPlane);
  constexpr double b = kFarPlane * kNearPlane / (kNearPlane - kFarPlane);
  for (int y = 0; y < height; ++y) {
    const float* d = windowDepth + static_cast<std::size_t>(height - 1 - y) * width;
    const std::size_t row = static_cast<std::size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      truth.disparity[row + x] = static_cast<float>(disparity[row + x]);
      if (withDepth) truth.depth[row + x] = static_cast<float>(b / (static_cast<double>(d[x]) - a));
      // A cleared depth of 1 means nothing was drawn there.
      truth.valid[row + x] = d[x] < 1.0f ? 1 : 0;
    }
  }
}

std::vector<uint16_t> KittiDisparity(const FrameTruth& truth, const std::vector<uint8_t>* keep, long& notFitting,
                                     KittiOverflow overflow) {
  std::vector<uint16_t> out(truth.disparity.size(), 0);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (!truth.valid[i] || (keep && (*keep)[i] != kMaskVisible)) continue;
    const double scaled = std::floor(256.0 * static_cast<double>(truth.disparity[i]) + 0.5);
    if (!(scaled >= 1.0)) continue;  // below 1/512 px: indistinguishable from "no ground truth"
    if (scaled > 65535.0) {
      ++notFitting;
      out[i] = overflow == KittiOverflow::Clamp ? 65535 : 0;
    } else {
      out[i] = static_cast<uint16_t>(scaled);
    }
  }
  return out;
}

std::vector<float> DisparityWithInfinity(const FrameTruth& truth) {
  std::vector<float> out(truth.disparity);
  for (std::size_t i = 0; i < out.size(); ++i)
    if (!truth.valid[i]) out[i] = std::numeric_limits<float>::infinity();
  return out;
}

std::vector<uint8_t> OcclusionMask(const FrameTruth& own, const FrameTruth& other, bool ownIsRight,
                                   double tolerance) {
  const int W = own.width;
  const int H = own.height;
  std::vector<uint8_t> mask(own.disparity.size(), kMaskNone);
  if (other.width != W || other.height != H) return mask;
  // Other-view column = own column + sign * disparity.
  const double sign = ownIsRight ? 1.0 : -1.0;
  // A view's disparity at column x of a row; nothing drawn counts as
  // infinitely far (disparity 0).
  auto at = [](const FrameTruth& view, std::size_t row, int x) {
    const std::size_t i = row + static_cast<std::size_t>(x);
    return view.valid[i] ? static_cast<double>(view.disparity[i]) : 0.0;
  };
  for (int y = 0; y < H; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * W;
    for (int x = 0; x < W; ++x) {
      const std::size_t i = row + static_cast<std::size_t>(x);
      if (!own.valid[i]) continue;
      const double d = own.disparity[i];
      const double xo = x + sign * d;
      // Outside the other image the point is not visible there, although
      // its disparity is known: occluded, as Middlebury and KITTI count it.
      if (!(xo >= -0.5 && xo < W - 0.5)) {
        mask[i] = kMaskOccluded;
        continue;
      }
      const int x0 = std::clamp(static_cast<int>(std::floor(xo)), 0, W - 1);
      const int x1 = std::min(x0 + 1, W - 1);
      const double d0 = at(other, row, x0);
      const double d1 = at(other, row, x1);
      const bool nearer0 = d0 > d + tolerance;
      const bool nearer1 = d1 > d + tolerance;
      if (xo <= x0 || x1 == x0 || nearer0 == nearer1) {
        // Both samples around the point (or the one it lands on) agree on
        // whether something nearer is there.
        mask[i] = (xo <= x0 || x1 == x0 ? nearer0 : nearer0 && nearer1) ? kMaskOccluded : kMaskVisible;
        continue;
      }
      // An edge of something nearer lies between the two samples: the point
      // is hidden when it falls on the nearer sample's side of that edge.
      // The edge is taken halfway between them, or halfway in the part of
      // that interval that the own view's sample of the same edge leaves.
      const int nearSide = nearer1 ? x1 : x0;
      const double dn = nearer1 ? d1 : d0;
      double lo = x0, hi = x1;
      // The interval in own columns, for a surface at the nearer disparity.
      const double ownLo = x0 - sign * dn, ownHi = x1 - sign * dn;
      const int q = static_cast<int>(std::floor(ownLo)) + 1;
      if (q < ownHi && q >= 0 && q < W) {
        const double edge = q + sign * dn;  // q in other columns
        // The own view's sample q shows the nearer thing: the edge is on the
        // far side of it from the nearer sample; else on the near side.
        const bool coveredAtQ = at(own, row, q) > d + tolerance;
        if (coveredAtQ == (nearSide == x1)) {
          hi = edge;
        } else {
          lo = edge;
        }
      }
      const double edgeAt = 0.5 * (lo + hi);
      const bool hidden = nearSide == x1 ? xo > edgeAt : xo < edgeAt;
      mask[i] = hidden ? kMaskOccluded : kMaskVisible;
    }
  }
  return mask;
}

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
