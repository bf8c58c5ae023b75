#include "truth/frame_truth.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "render/camera.h"

namespace tovimar {

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

}  // namespace tovimar
