#include "run/memory_run.h"

#include <exception>
#include <mutex>
#include <utility>

#include "base/error.h"
#include "base/job_thread.h"
#include "scene/assembly.h"
#include "scene/notifier.h"
#include "render/camera.h"
#include "layout/output_choice.h"
#include "truth/frame_truth.h"
#include "dataset/other_view.h"
#include "truth/ground_truth.h"

namespace tovimar {

// The host's notifiers, called from either camera's thread one at a time.
class LockedNotifier : public Notifier, public LineNotifier {
 public:
  LockedNotifier(Notifier& notifier, LineNotifier* lines) : notifier_(notifier), lines_(lines) {}
  LineNotifier* Lines() { return lines_ ? this : nullptr; }
  void Notify(const std::string& caption, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    notifier_.Notify(caption, text);
  }
  void NotifyField(int field, const std::string& written, const std::string& caption,
                   const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    notifier_.NotifyField(field, written, caption, text);
  }
  void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_->NotifyLine(lineNumber, caption, text);
  }
  void NotifyFieldLine(int lineNumber, int field, const std::string& written, const std::string& caption,
                       const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_->NotifyFieldLine(lineNumber, field, written, caption, text);
  }

 private:
  std::mutex mutex_;
  Notifier& notifier_;
  LineNotifier* lines_;
};

namespace {

// Throws the run's error; a run stopped without one says so.
[[noreturn]] void ThrowRunError(const CameraRun& run) {
  throw Error(run.error.empty() ? std::string("the run was stopped") : run.error);
}

}  // namespace

MemoryRun::MemoryRun(RunOptions options, MemoryProducts products, Notifier& notifier, LineNotifier* lines)
    : options_(std::move(options)), products_(products),
      notifier_(std::make_unique<LockedNotifier>(notifier, lines)) {
  options_.preview = false;
  options_.resume = false;
  options_.writeBehind = false;
  OutputChoice outputs;
  outputs.classic = products_.segmentation;  // the classic products include the segmentation map
  outputs.depth = products_.depth;
  outputs.masks = products_.masks;
  outputs.flow = products_.flow;
  outputs.ids16 = products_.ids16;
  options_.outputs = outputs;
  if (products_.masks && options_.cameras != CameraChoice::Both)
    throw Error("occlusion masks need both cameras: each view's mask needs the other view");
  options_.Check();
}

MemoryRun::~MemoryRun() { CloseCameras(); }

void MemoryRun::CloseCameras() {
  // Each session ends on the thread that used its rendering context.
  try {
    ForEachCamera([](Camera& camera) { camera.session.reset(); });
  } catch (...) {
  }
  cameras_.clear();
}

void MemoryRun::ForEachCamera(const std::function<void(Camera&)>& task) {
  for (const std::unique_ptr<Camera>& camera : cameras_)
    if (camera->thread) camera->thread->Submit([&task, &camera] { task(*camera); });
  std::exception_ptr error;
  for (const std::unique_ptr<Camera>& camera : cameras_) {
    if (camera->thread) continue;
    try {
      task(*camera);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  for (const std::unique_ptr<Camera>& camera : cameras_) {
    if (!camera->thread) continue;
    try {
      camera->thread->Wait();
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  if (error) std::rethrow_exception(error);
}

void MemoryRun::Open(const SceneInput& scene) {
  // The sessions, their rendering contexts and threads stay from scene to
  // scene, as a batch's session does: a context costs more than a frame.
  if (cameras_.empty()) {
    for (const bool right : CamerasOf(options_.cameras)) {
      auto camera = std::make_unique<Camera>();
      camera->right = right;
      camera->thread = std::make_unique<JobThread>();
      cameras_.push_back(std::move(camera));
    }
  }
  ForEachCamera([this, &scene](Camera& camera) { OpenCamera(camera, scene); });
}

void MemoryRun::OpenCamera(Camera& camera, const SceneInput& scene) {
  const bool right = camera.right;
  camera.made.clear();
  camera.held.reset();
  camera.ended = false;
  if (!camera.session) {
    camera.session = std::make_unique<RunSession>(options_, *notifier_);
    camera.session->SetLineNotifier(notifier_->Lines());
    Camera* raw = &camera;
    camera.session->SetFrameSink(
        [raw](FrameProducts& made) {
          raw->made.emplace_back();
          std::swap(raw->made.back(), made);
        },
        products_.cleanImage);
  }
  RunSession& session = *camera.session;
  if (const std::string why = session.Open(scene); !why.empty()) throw Error(why);
  if (right && options_.cameras == CameraChoice::Both) {
    // Where the left run, made by the other session, leaves the random state.
    if (!session.Begin(false)) ThrowRunError(session.Finish());
    session.SkipRemainingFrames();
    if (const CameraRun skipped = session.Finish(); !skipped.error.empty()) ThrowRunError(skipped);
  }
  if (!session.Begin(right)) ThrowRunError(session.Finish());
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
  std::optional<CameraProducts> left, right;
  ForEachCamera([this, &left, &right](Camera& camera) {
    CameraProducts products;
    if (NextOf(camera, products)) (camera.right ? right : left) = std::move(products);
  });
  const bool any = left || right;
  if (any) out.frame = left ? left->frame.frame : right->frame.frame;
  out.left = std::move(left);
  out.right = std::move(right);
  if (!any) return false;
  if (products_.masks && out.left && out.right) {
    // The masks the right run of the classic layout writes, with the left
    // view as its float disparity file gives it back (the far plane's
    // disparity counts as no ground truth there).
    const FrameProducts& r = out.right->frame;
    const float farDisparity = static_cast<float>(DisparityFromDepth(1.0f, r.baseline, r.focalLength));
    const FrameTruth leftAsRead = OtherViewAsStored(out.left->frame.truth, DatasetLayout::Classic, farDisparity);
    out.left->mask = OcclusionMask(leftAsRead, r.truth, false);
    out.right->mask = OcclusionMask(r.truth, leftAsRead, true);
  }
  return true;
}

}  // namespace tovimar
