#include "run/run_session.h"

#include <cmath>
#include <string>

#include "base/error.h"
#include "io/text.h"
#include "render/renderer.h"
#include "scene/notifier.h"
#include "truth/ground_truth.h"
#include "run/render_frame_source.h"
#include "run/sequence_driver.h"

namespace tovimar {

std::vector<bool> CamerasOf(CameraChoice choice) {
  std::vector<bool> cameras;
  if (choice != CameraChoice::Right) cameras.push_back(false);
  if (choice != CameraChoice::Left) cameras.push_back(true);
  return cameras;
}

const char* CameraChoiceName(CameraChoice choice) {
  switch (choice) {
    case CameraChoice::Left: return "left";
    case CameraChoice::Right: return "right";
    case CameraChoice::Both: break;
  }
  return "both";
}

void RunOptions::Check() const {
  if (width < 1 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide)
    throw Error("the frame size " + std::to_string(width) + "x" + std::to_string(height) + " is not 1 to " +
                std::to_string(kMaxFrameSide) + " pixels a side");
  for (const int c : background)
    if (c < 0 || c > 255) throw Error("a background colour value " + std::to_string(c) + " is not 0 to 255");
  if (!std::isfinite(focalLength) || focalLength <= 0) throw Error("the focal length is not a positive number");
  if (!std::isfinite(baseline)) throw Error("the baseline is not a number");
  if (outputs.layout != DatasetLayout::Classic && cameras != CameraChoice::Both)
    throw Error(std::string("--layout ") + LayoutName(outputs.layout) +
                " needs both cameras (--camera both): its files pair the two views");
  // A layout other than classic writes its own files in place of the classic
  // five (the choice every run starts from); any other product it has no
  // place for is refused, naming the first product asked for.
  OutputChoice extras = outputs;
  extras.classic = false;
  if (!ProductOutsideLayout(extras).empty())
    throw Error("--outputs " + ProductOutsideLayout(outputs) + ": the " + LayoutName(outputs.layout) +
                " layout has no place for it");
  if (outputs.layout != DatasetLayout::SceneFlow && outputs.split != kDefaultSceneFlowSplit)
    throw Error("--split is for --layout sceneflow");
}

RunSession::RunSession(RunOptions options, Notifier& notifier) : options_(std::move(options)), notifier_(&notifier) {
  settings_.background = options_.background;
  settings_.antiAlias = options_.antiAlias;
  settings_.previewOnly = options_.preview;
  settings_.palette = options_.palette;
  settings_.outputs = options_.outputs;
  settings_.plannedCameras = CameraChoiceName(options_.cameras);
  editor_.keepLogs = false;
}

RunSession::RunSession(Renderer& renderer, const OutputSettings& settings, SequenceObserver hooks,
                       std::function<bool()> cancelled) {
  hosted_ = true;
  renderer_ = &renderer;
  stop_ = std::move(cancelled);
  // The report follows the run whatever the host's hooks do with it.
  hooks.prepared = [this, prepared = std::move(hooks.prepared)] {
    Prepared();
    if (prepared) prepared();
  };
  if (hooks.showError) {
    hooks.showError = [this, show = std::move(hooks.showError)](const std::string& message) {
      runError_ = message;
      show(message);
    };
  }
  source_ = std::make_unique<RenderFrameSource>(renderer, settings);
  if (stop_) source_->SetCancelCheck(stop_);
  driver_ = std::make_unique<SequenceDriver>(*source_, std::move(hooks));
}

RunSession::~RunSession() = default;

void RunSession::SetLineNotifier(LineNotifier* lines) {
  lines_ = lines;
  if (renderer_) renderer_->SetLineNotifier(lines);
}

void RunSession::SetStopCheck(std::function<bool()> stop) {
  stop_ = std::move(stop);
  if (source_) source_->SetCancelCheck(stop_);
}

std::string RunSession::Open(const SceneInput& scene) {
  if (hosted_) return "a host's session runs the scene its host prepared";
  driver_.reset();
  source_.reset();
  if (contextLost_) return "cannot create the OpenGL rendering context";
  settings_.sequenceNumber = scene.sequenceNumber;
  settings_.sequenceDirectory = scene.directory;
  settings_.invocation = scene.invocation;
  editor_.lines = SplitLines(scene.bytes);
  editor_.sceneName = scene.name;
  editor_.focalLength = options_.focalLength;
  editor_.baseline = options_.baseline;

  // The camera as a new renderer has it: left, no baseline shift.
  settings_.rightCamera = false;
  if (!renderer_) {
    ownRenderer_ = std::make_unique<Renderer>(settings_, editor_, *notifier_, '.', options_.width, options_.height);
    renderer_ = ownRenderer_.get();
    renderer_->SetLineNotifier(lines_);
    if (!options_.textureFolder.empty()) renderer_->Rig().StartDirectory = options_.textureFolder;
    // A scene's own texture set beside it is used unless a folder was named.
    renderer_->SetSceneTexturesPreferred(options_.textureFolder.empty());
    contextLost_ = !renderer_->Initialise();
  } else {
    contextLost_ = !renderer_->StartOver();
  }
  if (contextLost_) return "cannot create the OpenGL rendering context";
  renderer_->SetModelFolders(options_.modelFolders);
  // Nobody sees the drawings that show the scene prepared or the camera
  // switched: they are not made, their random steps are (Redraw).
  renderer_->SetDrawingsUnseen(true);
  try {
    renderer_->ResetViewAndDraw();
    renderer_->PrepareScene();
  } catch (const Error& e) {
    return e.message();
  }

  SequenceObserver hooks;
  hooks.setProgressPosition = [this](int done) {
    if (done > 0 && progress_) progress_(done);
  };
  hooks.showError = [this](const std::string& message) { runError_ = message; };
  source_ = std::make_unique<RenderFrameSource>(*renderer_, settings_);
  source_->SetWriteBehind(options_.writeBehind);
  source_->SetResume(options_.resume);
  source_->SetStartingRandomState(options_.randomAtStart);
  // Each camera's run starts the scene prepared here again, without reading
  // it (or its textures) again: the text cannot change within a session.
  source_->SetScenePrepared(true);
  source_->SetViewsKeptForMasks(options_.cameras == CameraChoice::Both);
  if (sink_) source_->SetFrameSink(sink_, sinkCleanImage_);
  if (stop_) source_->SetCancelCheck(stop_);
  driver_ = std::make_unique<SequenceDriver>(*source_, hooks);
  return "";
}

std::size_t RunSession::FrameCount() const { return renderer_ ? renderer_->Scene().egoFrames.size() : 0; }

void RunSession::SetFrameSink(FrameSink sink, bool cleanImage) {
  sink_ = std::move(sink);
  sinkCleanImage_ = cleanImage;
}

CameraRun RunSession::Run(bool right, const RunObserver& observer) {
  if (Begin(right, observer)) {
    while (Step()) {
    }
  }
  return Finish();
}

bool RunSession::Begin(bool right, const RunObserver& observer) {
  current_ = CameraRun{};
  current_.right = right;
  progress_ = nullptr;
  if (!driver_) {
    current_.error = "no scene is prepared";
    return false;
  }
  clock_.Restart();
  runError_.clear();
  progress_ = observer.progress;
  SequenceDriver& driver = *driver_;
  // Switched as the panel's camera radio group does: the camera box flips,
  // its handler shifts the projection and redraws (unseen: random steps only).
  if (right != settings_.rightCamera) {
    settings_.rightCamera = right;
    renderer_->CameraSwitch(right);
  }
  driver.StartStop();
  if (driver.GetState() == SequenceDriver::State::Idle) {
    // The preparation was stopped or failed.
    progress_ = nullptr;
    current_.stopped = driver.WasCancelled();
    if (!current_.stopped) current_.error = runError_.empty() ? driver.LastError() : runError_;
    return false;
  }
  Prepared();
  if (observer.started) observer.started(current_);
  return true;
}

void RunSession::Prepared() {
  current_.prepared = true;
  current_.frames = static_cast<int>(FrameCount());
  current_.firstFrame = source_->FirstFrame();
  current_.manifestNote = source_->ManifestNote();
  current_.resumeNote = source_->ResumeNote();
}

bool RunSession::Step() {
  if (!driver_) return false;
  SequenceDriver& driver = *driver_;
  if (!driver.TimerEnabled()) return false;
  // A session of its own asks between steps; a host's cancel check ends the
  // frame in hand itself, and the host ends the run between steps (Abort).
  if (!hosted_ && stop_ && stop_() && !driver.StopRequested()) driver.StartStop();
  driver.Tick();
  return driver.TimerEnabled();
}

void RunSession::SkipRemainingFrames() {
  if (!driver_ || !driver_->TimerEnabled()) return;
  std::vector<uint32_t> draws;
  for (int32_t frame = renderer_->Rig().FrameCounter; frame >= 0 && static_cast<std::size_t>(frame) < FrameCount();
       ++frame)
    StepRandomAsFrame(*renderer_, draws);
  driver_->Abort();
}

CameraRun RunSession::Finish() {
  CameraRun& run = current_;
  progress_ = nullptr;
  if (!run.prepared || !driver_) return run;
  const SequenceDriver& driver = *driver_;
  run.seconds = clock_.Seconds();
  run.framesWritten = driver.FramesWritten();
  run.framesMade = driver.FramesMade();
  run.filesWritten = source_->FilesWritten();
  run.maskNote = source_->MaskNote();
  if (!runError_.empty()) {
    run.error = runError_;
  } else if (!source_->EndError().empty()) {
    run.error = source_->EndError();
  }
  run.stopped = (stop_ && stop_()) || driver.WasCancelled();
  return run;
}

void RunSession::NewReport() {
  current_ = CameraRun{};
  current_.right = renderer_->GetRenderSettings().RightCamera();
  clock_.Restart();
  runError_.clear();
}

void RunSession::StartStop() {
  if (!driver_) return;
  if (!driver_->SequenceRunning()) NewReport();
  driver_->StartStop();
}

void RunSession::Start() {
  if (!driver_) return;
  NewReport();
  driver_->Start();
}

bool RunSession::Abort() { return driver_ && driver_->Abort(); }
bool RunSession::Running() const { return driver_ && driver_->SequenceRunning(); }
bool RunSession::Cancelled() const { return driver_ && driver_->WasCancelled(); }
std::size_t RunSession::FramesWritten() const { return driver_ ? driver_->FramesWritten() : 0; }
std::size_t RunSession::FramesMade() const { return driver_ ? driver_->FramesMade() : 0; }

}  // namespace tovimar
