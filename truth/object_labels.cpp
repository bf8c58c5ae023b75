#include "truth/object_labels.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "base/error.h"
#include "render/renderer.h"
#include "truth/capture_buffers.h"
#include "truth/frame_truth.h"

namespace tovimar {
namespace {

// How far the flat drawing's depth may be from the camera drawing's at a
// pixel that still shows the same surface: llvmpipe rasterises flat-coloured
// triangles on other paths, whose depth can differ in its last bits (up to
// three steps of 2^-24 were seen on a street scene at 1242x375).
constexpr float kDepthSlack = 8.0f / 16777216.0f;

// The id map's value of a solid's id.
uint16_t IdLabel(int32_t id) { return id >= 0 && id < kNoId16 ? static_cast<uint16_t>(id) : kNoId16; }

}  // namespace

void LabelFrontSolids(Renderer& renderer, CaptureBuffers& buffers, bool motion, bool ids, FrameTruth& truth) {
  const SceneModel& scene = renderer.Scene();
  motion = motion && !scene.motion.Empty();
  truth.motionGroup.clear();
  truth.groupPoses.clear();
  truth.ids.clear();
  if (!motion && !ids) return;
  const int W = renderer.ClientWidth();
  const int H = renderer.ClientHeight();
  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);

  // Code of a solid: its index + 1 (0 is the background). Sorted by id label,
  // so the first and the last solid at a pixel's front depth (GL_LESS and
  // GL_LEQUAL) have the least and the greatest label there: equal, one label
  // holds the front alone.
  std::vector<std::size_t> order;
  order.reserve(scene.solidObjects.size());
  for (std::size_t i = 0; i < scene.solidObjects.size(); ++i)
    if (scene.solidObjects[i]) order.push_back(i);
  if (order.size() > 65535) {
    throw Error("the id map and the flow of moving objects need at most 65535 solids; the scene has " +
                std::to_string(order.size()));
  }
  std::stable_sort(order.begin(), order.end(), [&scene](std::size_t a, std::size_t b) {
    return IdLabel(scene.solidObjects[a]->id) < IdLabel(scene.solidObjects[b]->id);
  });
  std::vector<uint16_t> codes(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) codes[i] = static_cast<uint16_t>(order[i] + 1);

  buffers.idPasses.resize(n * 4);
  buffers.passDepth.resize(n);
  if (ids) buffers.idTies.resize(n * 4);
  if (!renderer.DrawFrontCodes(order, codes, buffers.idPasses.data(), buffers.passDepth.data(),
                               ids ? buffers.idTies.data() : nullptr)) {
    throw Error("the id map and the flow of moving objects need a plain drawing: no anti-aliasing, no matrix log");
  }
  if (renderer.onPresented) renderer.WriteColour(buffers.colour.data());  // someone shows the window

  if (motion) {
    truth.motionGroup.assign(n, -1);
    for (std::size_t g = 0; g < scene.motion.GroupCount(); ++g)
      truth.groupPoses.push_back(scene.motion.Pose(g, renderer.ObjectFrame()));
  }
  if (ids) truth.ids.assign(n, kNoId16);
  for (int i = 0; i < H; ++i) {
    const std::size_t from = static_cast<std::size_t>(i) * W;
    const std::size_t to = static_cast<std::size_t>(H - 1 - i) * W;
    for (int x = 0; x < W; ++x) {
      const uint8_t* f = buffers.idPasses.data() + 4 * (from + x);
      const int first = f[0] | f[1] << 8;
      const int last = f[2] | f[3] << 8;
      if (first == 0 || last == 0 || !(std::fabs(buffers.passDepth[from + x] - buffers.depth[from + x]) <= kDepthSlack))
        continue;
      const std::size_t front = static_cast<std::size_t>(first - 1);
      if (motion) truth.motionGroup[to + x] = scene.motion.GroupOfSolid(front);
      if (ids) {
        // One id for the pixel only when every solid whose surface lies at
        // the front depth, to within a few steps of the depth buffer, has it:
        // faces of two ids in one plane give 65535 in every frame, whichever
        // rounding puts in front.
        const uint8_t* t = buffers.idTies.data() + 4 * (from + x);
        const int leastNear = t[0] | t[1] << 8;
        const int greatestNear = t[2] | t[3] << 8;
        if (leastNear == 0 || greatestNear == 0) continue;
        const uint16_t a = IdLabel(scene.solidObjects[static_cast<std::size_t>(leastNear - 1)]->id);
        if (a == IdLabel(scene.solidObjects[static_cast<std::size_t>(greatestNear - 1)]->id)) truth.ids[to + x] = a;
      }
    }
  }
}

}  // namespace tovimar
