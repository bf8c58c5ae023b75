#include "eval/flow_pictures.h"

#include <cmath>
#include <cstddef>
#include <filesystem>
#include <numbers>

#include "eval/report.h"
#include "io/png.h"
#include "layout/file_names.h"

namespace tovimar::eval {

namespace {

// Middlebury's colour wheel: red, yellow, green, cyan, blue, magenta and
// back, with as many steps between neighbours as the eye tells apart.
struct Wheel {
  std::vector<std::array<double, 3>> colours;
  Wheel() {
    const int steps[6] = {15, 6, 4, 11, 13, 6};  // RY, YG, GC, CB, BM, MR
    // Each segment moves one channel from 0 to 255 or back.
    const int rising[6] = {1, -1, 2, -2, 0, -3};  // channel that rises (+) or falls (-(c+1)) in turn
    std::array<double, 3> c{255, 0, 0};
    for (int s = 0; s < 6; ++s) {
      for (int i = 0; i < steps[s]; ++i) {
        std::array<double, 3> at = c;
        const double t = 255.0 * i / steps[s];
        if (rising[s] >= 0) {
          at[static_cast<std::size_t>(rising[s])] = std::floor(t);
        } else {
          at[static_cast<std::size_t>(-rising[s] - 1)] = 255 - std::floor(t);
        }
        colours.push_back(at);
      }
      if (rising[s] >= 0) {
        c[static_cast<std::size_t>(rising[s])] = 255;
      } else {
        c[static_cast<std::size_t>(-rising[s] - 1)] = 0;
      }
    }
  }
};

const Wheel& TheWheel() {
  static const Wheel wheel;
  return wheel;
}

std::string Named(const std::string& folder, const char* prefix, int frame) {
  return (std::filesystem::path(folder) / (prefix + FrameNumber(frame) + ".png")).string();
}

}  // namespace

std::array<uint8_t, 3> FlowColour(double u, double v) {
  const auto& colours = TheWheel().colours;
  const int count = static_cast<int>(colours.size());
  const double radius = std::sqrt(u * u + v * v);
  const double angle = std::atan2(-v, -u) / std::numbers::pi;  // -1 .. 1
  const double at = (angle + 1) / 2 * (count - 1);
  const int k0 = static_cast<int>(std::floor(at));
  const int k1 = (k0 + 1) % count;
  const double f = at - k0;
  std::array<uint8_t, 3> rgb{};
  for (std::size_t c = 0; c < 3; ++c) {
    double col = ((1 - f) * colours[static_cast<std::size_t>(k0)][c] + f * colours[static_cast<std::size_t>(k1)][c]) /
                 255.0;
    col = radius <= 1 ? 1 - radius * (1 - col) : col * 0.75;
    rgb[c] = static_cast<uint8_t>(std::lround(255 * col));
  }
  return rgb;
}

double LongestFlow(const FlowMap& flow) {
  double longest = 0;
  for (std::size_t i = 0; i < flow.u.size(); ++i) {
    const double length = std::hypot(flow.u[i], flow.v[i]);
    if (std::isfinite(length) && length > longest) longest = length;
  }
  return longest;
}

std::vector<uint8_t> FlowPicture(const FlowMap& flow, double longest) {
  std::vector<uint8_t> rgb(flow.u.size() * 3, 0);
  const double scale = longest > 0 ? 1 / longest : 0;
  for (std::size_t i = 0; i < flow.u.size(); ++i) {
    if (!std::isfinite(flow.u[i]) || !std::isfinite(flow.v[i])) continue;
    const auto c = FlowColour(flow.u[i] * scale, flow.v[i] * scale);
    for (std::size_t k = 0; k < 3; ++k) rgb[3 * i + k] = c[k];
  }
  return rgb;
}

std::vector<uint8_t> FlowErrorPicture(const FlowGroundTruth& truth, const FlowMap& prediction) {
  const FlowMap& gt = truth.flow;
  std::vector<uint8_t> rgb(gt.u.size() * 3, 0);
  for (std::size_t i = 0; i < gt.u.size(); ++i) {
    const double error = std::hypot(prediction.u[i] - gt.u[i], prediction.v[i] - gt.v[i]);
    if (!std::isfinite(error)) continue;
    const double relative = std::min(error / 3.0, error / (0.05 * std::hypot(gt.u[i], gt.v[i])));
    KittiErrorColour(relative, &rgb[3 * i]);
    if (!truth.occlusion.empty() && truth.occlusion[i] == kOccluded) {
      for (std::size_t k = 0; k < 3; ++k) rgb[3 * i + k] = static_cast<uint8_t>(rgb[3 * i + k] / 2);
    }
  }
  return rgb;
}

void WriteFlowPictures(const FlowGroundTruth& truth, const FlowMap& prediction, const std::string& folder) {
  const int w = truth.flow.width, h = truth.flow.height;
  const double longest = LongestFlow(truth.flow);
  std::vector<uint8_t> rgb = FlowPicture(prediction, longest);
  WritePng8(Named(folder, "flow_", truth.frame), rgb.data(), w, h, 3);
  rgb = FlowPicture(truth.flow, longest);
  WritePng8(Named(folder, "flow_gt_", truth.frame), rgb.data(), w, h, 3);
  rgb = FlowErrorPicture(truth, prediction);
  WritePng8(Named(folder, "flow_error_", truth.frame), rgb.data(), w, h, 3);
}

void WriteFlowLegend(const std::string& path, int size) {
  std::vector<uint8_t> rgb(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 3, 255);
  const double centre = (size - 1) / 2.0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double u = (x - centre) / centre, v = (y - centre) / centre;
      uint8_t* p = &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x)) * 3];
      if (x == static_cast<int>(centre) || y == static_cast<int>(centre)) {
        p[0] = p[1] = p[2] = 0;  // the axes: right is +u, down is +v
      } else if (u * u + v * v <= 1) {
        const auto c = FlowColour(u, v);
        for (std::size_t k = 0; k < 3; ++k) p[k] = c[k];
      }
    }
  }
  WritePng8(path, rgb.data(), size, size, 3);
}

}  // namespace tovimar::eval
