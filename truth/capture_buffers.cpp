#include "truth/capture_buffers.h"

#include <utility>

#include "base/error.h"

namespace tovimar {

void CaptureBuffers::Resize(int w, int h) {
  if (w < 0 || h < 0) throw Error("Invalid frame size");
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (w != width || h != height || depth.size() != n) {
    width = w;
    height = h;
    colour.assign(n * 3, 0);
    depth.assign(n, 0.0f);
    passDepth.assign(n, 0.0f);
    disparity.assign(n, 0.0);
    depthIsCurrent = false;
  }
  if (disparity.size() != n) disparity.assign(n, 0.0);  // handed away with a written frame
  cameraImage.Reset(w, h);
  subPixelMap.Reset(w, h);
  pixelMap.Reset(w, h);
  segmentation.Reset(w, h);
}

void CaptureBuffers::Release() {
  CaptureTimings* keep = timings;
  const bool reference = referencePaths;
  std::function<bool()> keepCancelled = std::move(cancelled);
  *this = CaptureBuffers{};
  timings = keep;
  referencePaths = reference;
  cancelled = std::move(keepCancelled);
}

}  // namespace tovimar
