#include "sequence/memory_run.h"

#include <utility>

#include "io/error.h"
#include "render/camera.h"
#include "sequence/dataset_outputs.h"
#include "sequence/ground_truth.h"

namespace tovimar {

namespace {

// Throws the run's error; a run stopped without one says so.
[[noreturn]] void ThrowRunError(const CameraRun& run) {
  throw Error(run.error.empty() ? std::string("the run was stopped") : run.error);
}

}  // namespace

MemoryRun::MemoryRun(RunOptions options, MemoryProducts products, Notifier& notifier, LineNotifier* lines)
    : options_(std::move(options)), products_(products), notifier_(notifier), lines_(lines) {
  options_.preview = false;
  options_.resume = false;
  options_.writeBehind = false;
  OutputChoice outputs;
  outputs.classic = products_.segmentation;  // the classic products include the segmentation map
  outputs.depth = products_.depth;
  outputs.masks = products_.masks;
  outputs.flow = products_.flow;
  options_.outputs = outputs;
  if (products_.masks && options_.cameras != CameraChoice::Both)
    throw Error("occlusion masks need both cameras: each view's mask needs the other view");
  options_.Check();
}

MemoryRun::~MemoryRun() = default;

void MemoryRun::Open(const SceneInput& scene) {
  cameras_.clear();
  for (const bool right : CamerasOf(options_.cameras)) {
    auto camera = std::make_unique<Camera>();
    camera->right = right;
    camera->session = std::make_unique<RunSession>(options_, notifier_);
    camera->session->SetLineNotifier(lines_);
    Camera* raw = camera.get();
    camera->session->SetFrameSink(
        [raw](FrameProducts& made) {
          raw->made.emplace_back();
          std::swap(raw->made.back(), made);
        },
        products_.cleanImage);
    RunSession& session = *camera->session;
    if (const std::string why = session.Open(scene); !why.empty()) throw Error(why);
    if (right && options_.cameras == CameraChoice::Both) {
      // Where the left run, made by the other session, leaves the random state.
      if (!session.Begin(false)) ThrowRunError(session.Finish());
      session.SkipRemainingFrames();
      if (const CameraRun skipped = session.Finish(); !skipped.error.empty()) ThrowRunError(skipped);
    }
    if (!session.Begin(right)) ThrowRunError(session.Finish());
    cameras_.push_back(std::move(camera));
  }
}

std::size_t MemoryRun::FrameCount() const { return cameras_.empty() ? 0 : cameras_.front()->session->FrameCount(); }

bool MemoryRun::MakeFrame(Camera& camera, FrameProducts& out) {
  while (camera.made.empty() && !camera.ended)
    if (!camera.session->Step()) camera.ended = true;
  if (camera.made.empty()) {
    const CameraRun run = camera.session->Finish();
    if (!run.error.empty() || run.stopped) ThrowRunError(run);
    return false;
  }
  out = std::move(camera.made.front());
  camera.made.erase(camera.made.begin());
  return true;
}

bool MemoryRun::NextOf(Camera& camera, CameraProducts& out) {
  if (!products_.flow) {
    out = CameraProducts{};
    return MakeFrame(camera, out.frame);
  }
  // The flow of a frame needs the next one: the frame is handed on one frame late.
  if (!camera.held) {
    CameraProducts first;
    if (!MakeFrame(camera, first.frame)) return false;
    camera.held = std::move(first);
  }
  CameraProducts next;
  const bool more = MakeFrame(camera, next.frame);
  out = std::move(*camera.held);
  camera.held.reset();
  if (!more) return true;
  const FrameProducts& from = out.frame;
  const FrameProducts& to = next.frame;
  if (from.frame + 1 == to.frame) {
    out.flow.emplace();
    ComputeSceneFlow(from.truth, from.cameraToWorld, to.truth, to.cameraToWorld, from.intrinsics, from.baseline,
                     from.focalLength, kNearPlane, kFarPlane, *out.flow);
  }
  camera.held = std::move(next);
  return true;
}

bool MemoryRun::Next(MemoryFrame& out) {
  out = MemoryFrame{};
  bool any = false;
  for (const std::unique_ptr<Camera>& camera : cameras_) {
    CameraProducts products;
    if (!NextOf(*camera, products)) continue;
    any = true;
    out.frame = products.frame.frame;
    (camera->right ? out.right : out.left) = std::move(products);
  }
  if (!any) return false;
  if (products_.masks && out.left && out.right) {
    // The masks the right run writes, reading the left view back from its
    // float disparity file, where the far plane's disparity counts as no
    // ground truth (LoadOtherView).
    const FrameProducts& r = out.right->frame;
    FrameTruth left;
    left.width = out.left->frame.truth.width;
    left.height = out.left->frame.truth.height;
    left.disparity = out.left->frame.truth.disparity;
    left.valid = out.left->frame.truth.valid;
    const float farDisparity = static_cast<float>(DisparityFromDepth(1.0f, r.baseline, r.focalLength));
    for (std::size_t i = 0; i < left.valid.size(); ++i)
      if (left.disparity[i] == farDisparity) left.valid[i] = 0;
    out.left->mask = OcclusionMask(left, r.truth, false);
    out.right->mask = OcclusionMask(r.truth, left, true);
  }
  return true;
}

}  // namespace tovimar
