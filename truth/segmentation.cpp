#include "truth/segmentation.h"

#include <algorithm>
#include <chrono>
#include <numeric>
#include <vector>

#include "render/painter.h"
#include "render/renderer.h"
#include "base/error.h"
#include "truth/capture_buffers.h"
#include "truth/segmentation_palette.h"

namespace tovimar {
namespace {

constexpr int kOtherClass = 256;  // every id outside 0..255

int ClassOf(int32_t id) { return id >= 0 && id <= 255 ? id : kOtherClass; }

// Class c as a drawing code: c + 1 (0 is the cleared background).
uint16_t ClassCode(int c) { return static_cast<uint16_t>(c + 1); }

// The reference's redraws step the random state once per plane drawing.
void StepRandomAsRedraws(RandomState& random, const SceneModel& scene, const std::array<int32_t, 256>& histogram) {
  random.SkipPlaneShades(ReferencePlaneDrawings(scene, histogram));
}


}  // namespace

uint64_t DrawablePlanes(const SceneModel& scene) { return DrawnPlaneCount(scene); }

uint64_t ReferencePlaneDrawings(const SceneModel& scene, const std::array<int32_t, 256>& histogram) {
  uint64_t planes = 0;
  std::array<uint64_t, 256> planesOfId{};
  for (const auto& object : scene.solidObjects) {
    if (!object || !IsDrawnPlane(*object)) continue;
    ++planes;
    if (object->id >= 0 && object->id <= 255) ++planesOfId[static_cast<std::size_t>(object->id)];
  }
  uint64_t drawings = 0;
  for (std::size_t k = 0; k < 256; ++k)
    if (histogram[k] > 0) drawings += planes - planesOfId[k];
  return drawings;
}

bool BuildSegmentationMapFast(Renderer& renderer, bool palette, CaptureBuffers& buffers) {
  const int W = renderer.ClientWidth();
  const int H = renderer.ClientHeight();
  if (W != buffers.width || H != buffers.height) buffers.depthIsCurrent = false;
  buffers.Resize(W, H);
  CaptureClock lap(buffers.timings);
  const SceneModel& scene = renderer.Scene();
  const std::array<int32_t, 256> histogram = IdHistogram(scene);
  if (std::all_of(histogram.begin(), histogram.end(), [](int32_t n) { return n <= 0; })) {
    buffers.segmentation.Fill(255, 255, 255);
    buffers.depthIsCurrent = false;
    return true;
  }

  // Full-frame depth of the camera drawing, as the reference takes it, and
  // its colours, which go back into the window after the flat drawings when
  // the window is shown (CaptureFrame has just read both when the depth is
  // current).
  if (!buffers.depthIsCurrent) {
    renderer.ReadDepth(buffers.depth.data());
    renderer.ReadColour(buffers.colour.data());
  }
  lap.Lap(&CaptureTimings::segmentationReadBack);

  std::vector<std::size_t> order;
  order.reserve(scene.solidObjects.size());
  for (std::size_t i = 0; i < scene.solidObjects.size(); ++i)
    if (scene.solidObjects[i]) order.push_back(i);
  std::stable_sort(order.begin(), order.end(), [&scene](std::size_t a, std::size_t b) {
    return ClassOf(scene.solidObjects[a]->id) < ClassOf(scene.solidObjects[b]->id);
  });
  std::vector<uint16_t> codes(order.size());
  for (std::size_t i = 0; i < order.size(); ++i) codes[i] = ClassCode(ClassOf(scene.solidObjects[order[i]]->id));

  const std::size_t n = static_cast<std::size_t>(W) * static_cast<std::size_t>(H);
  buffers.idPasses.resize(n * 4);
  const uint8_t* front = buffers.idPasses.data();
  bool drawn = renderer.DrawFrontCodes(order, codes, buffers.idPasses.data(), buffers.passDepth.data());
  lap.Lap(&CaptureTimings::segmentationDrawing);
  if (drawn) {
    const float* A = buffers.depth.data();
    const float* D = buffers.passDepth.data();
    bool same = true;
    for (std::size_t i = 0; i < n; ++i) same &= A[i] == D[i];
    drawn = same;
  }
  lap.Lap(&CaptureTimings::segmentationCompare);
  if (!drawn) {
    if (buffers.timings) ++buffers.timings->segmentationFallbacks;
    buffers.depthIsCurrent = true;  // buffers.depth still holds the camera drawing's depth
    BuildSegmentationMap(renderer, palette, buffers);
    return false;
  }
  if (renderer.onPresented) renderer.WriteColour(buffers.colour.data());  // someone shows the window
  lap.Lap(&CaptureTimings::segmentationDrawing);

  BmpImage24& map = buffers.segmentation;
  map.Fill(255, 255, 255);
  for (int i = 0; i < H; ++i) {
    const uint8_t* f = front + static_cast<std::size_t>(i) * W * 4;
    uint8_t* row = map.Row(H - 1 - i);
    for (int x = 0; x < W; ++x, f += 4) {
      // One class at the front: the first and the last code there agree, and
      // it is a class 0..255 (code 1..256).
      const int first = f[0] | f[1] << 8;
      const int last = f[2] | f[3] << 8;
      if (first != last || first < ClassCode(0) || first > ClassCode(255)) continue;
      const auto k = static_cast<uint8_t>(first - ClassCode(0));
      const PaletteColour colour = palette ? SegmentationPalette[k] : PaletteColour{k, k, k};
      uint8_t* p = row + 3 * x;
      p[0] = colour[2];
      p[1] = colour[1];
      p[2] = colour[0];
    }
  }
  buffers.depthIsCurrent = false;

  StepRandomAsRedraws(renderer.Rig().random, scene, histogram);
  lap.Lap(&CaptureTimings::segmentationCompare);
  return true;
}

void StepRandomAsSegmentation(Renderer& renderer) {
  StepRandomAsRedraws(renderer.Rig().random, renderer.Scene(), IdHistogram(renderer.Scene()));
}

std::array<int32_t, 256> IdHistogram(const SceneModel& scene) {
  std::array<int32_t, 256> counts{};
  for (const auto& object : scene.solidObjects)
    if (object && object->id >= 0 && object->id <= 255) ++counts[static_cast<std::size_t>(object->id)];
  return counts;
}

// The reference: one redraw per id in use.
void BuildSegmentationMap(Renderer& renderer, bool palette, CaptureBuffers& buffers) {
  const int W = renderer.ClientWidth();
  const int H = renderer.ClientHeight();
  if (W != buffers.width || H != buffers.height) buffers.depthIsCurrent = false;
  buffers.Resize(W, H);
  CaptureClock clock(buffers.timings);
  BmpImage24& map = buffers.segmentation;
  map.Fill(255, 255, 255);
  const std::array<int32_t, 256> histogram = IdHistogram(renderer.Scene());

  // Full-frame depth: CaptureFrame has just read it, and nothing was drawn
  // since; otherwise read it now.
  if (!buffers.depthIsCurrent) renderer.ReadDepth(buffers.depth.data());
  buffers.depthIsCurrent = false;
  clock.Lap(&CaptureTimings::segmentationReadBack);
  const float* A = buffers.depth.data();
  float* B = buffers.passDepth.data();

  for (int k = 0; k < 256; ++k) {
    if (histogram[static_cast<std::size_t>(k)] <= 0) continue;
    if (buffers.cancelled && buffers.cancelled()) throw Cancelled("stopped during the segmentation passes");
    const PaletteColour colour =
        palette ? SegmentationPalette[static_cast<std::size_t>(k)]
                : PaletteColour{static_cast<uint8_t>(k), static_cast<uint8_t>(k), static_cast<uint8_t>(k)};
    clock.Lap(&CaptureTimings::segmentationCompare);
    renderer.DrawScene(false, k, renderer.viewAzimuth, renderer.viewElevation, renderer.viewDistance);
    clock.Lap(&CaptureTimings::segmentationDrawing);
    renderer.ReadDepth(B);
    clock.Lap(&CaptureTimings::segmentationReadBack);
    for (int i = 0; i < H; ++i) {
      const std::size_t base = static_cast<std::size_t>(i) * W;
      uint8_t* row = map.Row(H - 1 - i);
      for (int x = 0; x < W; ++x) {
        if (A[base + x] - B[base + x] != 0.0f) {
          uint8_t* p = row + 3 * x;
          p[0] = colour[2];
          p[1] = colour[1];
          p[2] = colour[0];
        }
      }
    }
  }
  clock.Lap(&CaptureTimings::segmentationCompare);
}

}  // namespace tovimar
