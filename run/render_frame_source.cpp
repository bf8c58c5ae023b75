#include "run/render_frame_source.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>
#include <utility>

#include "base/stopwatch.h"
#include "io/atomic_file.h"
#include "base/error.h"
#include "io/folder_lock.h"
#include "io/sha256.h"
#include "io/text.h"
#include "render/renderer.h"
#include "render/textures.h"
#include "scene/scene_text.h"
#include "truth/camera_geometry.h"
#include "dataset/manifest.h"
#include "dataset/output_files.h"

namespace tovimar {

namespace {

// SHA-256 of a texture folder's eleven files one after the other ("" when
// one cannot be read: the renderer has just read them, so that is a race
// with whoever changed the folder, and the run is then not gone on from).
std::string TexturesSha256(const std::string& folder) {
  std::string bytes;
  try {
    for (int n = 0; n < kTextureCount; ++n) bytes += ReadFileBytes(TexturePath(folder, n));
  } catch (const Error&) {
    return "";
  }
  return Sha256Hex(bytes);
}

// Unfinished files that a killed process left in the sequence folder (its
// frame folders and its scene folders of the scene-flow tree): hidden
// temporary names, never a result. Called with the
// folder's lock held, so no live run is writing them.
void RemoveUnfinishedFiles(const std::string& directory) {
  std::error_code ec;
  std::vector<std::filesystem::path> doomed;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec) && IsTemporaryOutputName(it->path().filename().string())) doomed.push_back(it->path());
  }
  // The scene-flow tree's unfinished files of this sequence, beside the folder.
  for (const std::string& path : SequenceRunFiles(directory))
    if (path.find("/../") != std::string::npos &&
        IsTemporaryOutputName(std::filesystem::path(path).filename().string()))
      doomed.push_back(path);
  for (const std::filesystem::path& path : doomed) std::filesystem::remove(path, ec);
}

// The files of the records in the folder's manifest that a start of `run`
// drops as of other settings (RecordReplacedBy): the cameras' per-frame files
// and AVIs, their pose files, and the KITTI layout's files of the sequence.
void RemoveFilesOfReplacedRecords(const std::string& directory, const RunDescription& run) {
  const SequenceManifest earlier(directory);
  bool replaced = false;
  for (const bool camera : {false, true}) {
    if (!earlier.RecordReplacedBy(camera, run)) continue;
    replaced = true;
    RemoveCameraRunFiles(directory, camera);
    RemoveSequenceFile(directory + PosesFileName(camera));
  }
  // The KITTI layout's files of the sequence; the manifest writes them again
  // at the end of the run when a run it keeps is of that layout.
  if (replaced)
    for (const char* name : {kMiddleburyCalibrationFileName, kOdometryTimesFileName, kOdometryPosesFileName,
                             kOdometrySequenceCalibrationFileName, kOdometrySequenceTimesFileName,
                             kOdometrySequencePosesFileName, kKittiCalibrationFileName})
      RemoveSequenceFile(directory + name);
}

}  // namespace

RenderFrameSource::RenderFrameSource(Renderer& renderer, const OutputSettings& output)
    : renderer_(renderer), output_(output) {}

RenderFrameSource::~RenderFrameSource() = default;

void RenderFrameSource::PrepareSequence() {
  lock_.reset();
  sceneFlowLock_.reset();
  dataset_.reset();
  framesWritten_ = 0;
  filesWritten_ = 0;
  maskNote_.clear();
  folderMade_ = false;
  if (scenePrepared_) {
    renderer_.RestartPreparedScene();
  } else {
    renderer_.PrepareScene();
  }
  if (cancelled_ && cancelled_()) throw Cancelled("stopped during the preparation");
  if (startingRandom_) {
    renderer_.Rig().random = *startingRandom_;
    startingRandom_.reset();
  }
  // What the manifest records of this run, taken now: the random state after
  // the preparation is the one the first frame starts from.
  RunDescription run;
  const RigState& rig = renderer_.Rig();
  run.rightCamera = renderer_.GetRenderSettings().RightCamera();
  run.width = renderer_.ClientWidth();
  run.height = renderer_.ClientHeight();
  run.focalLength = rig.RigFocalLength;
  run.baseline = rig.RigBaseline;
  run.noiseSigma = rig.RigNoise;
  run.intrinsics = IntrinsicsFromPerspective(renderer_.PerspectiveMatrix(), run.width, run.height);
  run.randomAtStart = rig.random;
  run.outputs = output_.Outputs();
  run.frameCount = static_cast<int64_t>(FrameCount());
  run.invocation = output_.Invocation();
  run.plannedCameras = output_.PlannedCameras();
  run.background = renderer_.GetRenderSettings().BackgroundColour();
  run.antiAlias = renderer_.GetRenderSettings().AntiAlias();
  run.palette = output_.Palette();
  run.textureFolder = renderer_.TextureDirectory();
  // The manifest's; frames handed on in memory have none.
  // A scene prepared once was drawn with the textures read then: their files
  // are hashed once too.
  if (!sink_) {
    if (!scenePrepared_ || texturesHashed_ != run.textureFolder || texturesSha256_.empty()) {
      texturesSha256_ = TexturesSha256(run.textureFolder);
      texturesHashed_ = run.textureFolder;
    }
    run.texturesSha256 = texturesSha256_;
  }
  sceneText_.clear();
  for (const std::string& line : renderer_.Editor().SceneLines()) sceneText_ += line + "\n";
  run.sceneSha256 = Sha256Hex(sceneText_);
  for (const std::unique_ptr<SceneObject>& object : renderer_.Scene().solidObjects) {
    if (object->kind != kMesh) continue;
    const Mesh& mesh = static_cast<const Mesh&>(*object);
    run.models.push_back({mesh.file, mesh.resolvedFile, mesh.sha256});
  }
  firstFrame_ = 0;
  run_ = run;
  if (output_.PreviewOnly() || sink_) return;
  const std::string directory = output_.SequenceDirectory();
  CreateOutputDirectory(directory);
  folderMade_ = true;
  std::string refusal;
  lock_ = FolderLock::Acquire(directory, &refusal);
  if (!lock_) throw Error(refusal);
  // The scene-flow tree is shared by the sequence folders of an output root:
  // its scene folder is locked too, and refused when another folder's name
  // gives the same one.
  const bool sceneFlow = run_->outputs.layout == DatasetLayout::SceneFlow;
  if (sceneFlow) {
    const std::string root = SequenceRoot(directory);
    sceneFlowLock_ = FolderLock::Acquire(root, SceneFlowSceneLockName(directory),
                                         "the scene-flow folder " + SceneFlowScene(directory) + " in '" +
                                             EscapeForMessage(root) + "'",
                                         &refusal);
    if (!sceneFlowLock_) throw Error(refusal);
  }
  if (const std::string clash = SceneFlowSceneClash(directory, sceneFlow); !clash.empty()) throw Error(clash);
  manifestNote_.clear();
  resumeNote_.clear();
  // A run made over a record of other settings (another scene, fewer frames,
  // other outputs) starts without that record's files: the files it does not
  // write again would otherwise stay beside its own as if they were its.
  RemoveFilesOfReplacedRecords(directory, *run_);
  if (keepViews_ && !run_->rightCamera) keptViews_.Begin(directory, *run_);
  if (resume_) {
    GoOnFromManifest(directory);
  } else {
    manifestNote_ = SequenceManifest(directory).ReadProblem();
  }
}

void RenderFrameSource::GoOnFromManifest(const std::string& directory) {
  RemoveUnfinishedFiles(directory);
  const auto frameCount = static_cast<int32_t>(std::min<std::size_t>(FrameCount(), INT32_MAX));
  const SequenceManifest manifest(directory);
  manifestNote_ = manifest.ReadProblem();
  const ResumePoint point = manifest.ResumePointOf(*run_, frameCount);
  if (point.kind == ResumePoint::Kind::Start) {
    resumeNote_ = point.note;
    return;
  }
  if (point.kind == ResumePoint::Kind::Continue) {
    // The camera as the frame before left it; a replay that does not give
    // the recorded poses (another GL, another view, an edited record) makes
    // the whole run afresh.
    const std::array<double, 16> prepared = renderer_.ProjectionMatrix();
    // The manifest records the nearest rigid motion to the renderer's matrix
    // (records of earlier versions the matrix itself). The earlier frames'
    // poses go into the poses files again: each must be the one the scene's
    // motion gives, not only the last.
    auto gives = [&](const Mat4& recorded) {
      const Mat4 replayed =
          CameraToWorld(renderer_.PerspectiveMatrix(), renderer_.ProjectionMatrix(), renderer_.ModelViewMatrix());
      return NearestRigidMotion(replayed) == recorded || replayed == recorded;
    };
    std::size_t differing = 0;
    const bool allGiven = renderer_.ReplayCameraMotion(static_cast<std::size_t>(point.frame), [&](std::size_t f) {
      differing = f;
      return f >= point.posesBefore.size() || gives(point.posesBefore[f]);
    });
    if (!allGiven) {
      renderer_.LoadProjectionMatrix(prepared);
      resumeNote_ = "the recorded pose of frame " + std::to_string(differing) + " is not the one the camera motion gives";
      return;
    }
    run_->firstFrame = point.frame;
  }
  // A complete run starts at its end: it makes nothing and leaves the random
  // state as its last frame did.
  firstFrame_ = point.frame;
  framesWritten_ = static_cast<std::size_t>(point.frame);
  renderer_.Rig().random = point.random;
}

std::size_t RenderFrameSource::FrameCount() const { return renderer_.Scene().egoFrames.size(); }

int32_t& RenderFrameSource::FrameCounter() { return renderer_.Rig().FrameCounter; }

bool RenderFrameSource::PreviewOnly() const { return output_.PreviewOnly(); }

void RenderFrameSource::ClearMotionLogs() { renderer_.Editor().ClearMotionLogs(); }

void RenderFrameSource::DrawPreviewFrame() {
  renderer_.DrawScene(true, Renderer::kSkipNone, renderer_.viewAzimuth, renderer_.viewElevation, renderer_.viewDistance);
}

void RenderFrameSource::GenerateFrame() {
  const Stopwatch frameClock;
  const OutputChoice outputs = run_ ? run_->outputs : output_.Outputs();
  const bool classic = outputs.classic && outputs.layout == DatasetLayout::Classic;
  // The frame is made whole in memory first and written after, so a stop in
  // the middle of it leaves none of its files.
  buffers_.classicProducts = classic;
  buffers_.truth = run_ ? &truth_ : nullptr;
  buffers_.truthWithDepth = outputs.depth || outputs.flow;
  buffers_.truthWithMotion = outputs.flow;
  buffers_.truthWithIds = outputs.ids16;
  buffers_.cleanImage = run_ && outputs.layout == DatasetLayout::SceneFlow ? &clean_ : nullptr;
  if (sink_) {
    GiveFrame(outputs);
    return;
  }
  const bool right = renderer_.GetRenderSettings().RightCamera();
  if (run_ && run_->rightCamera != right) {
    // The camera was switched during the run: what follows is a run of the
    // other camera, starting from here.
    if (writer_) writer_->Wait();
    if (dataset_) {
      dataset_->End(false);
      filesWritten_ += dataset_->FilesWritten();
    }
    dataset_.reset();
    run_->rightCamera = right;
    run_->randomAtStart = renderer_.Rig().random;
  }
  const RandomState randomAtStart = renderer_.Rig().random;
  MakeFrame(renderer_, output_.Palette(), buffers_);
  const RandomState randomAtEnd = renderer_.Rig().random;

  const int32_t frame = renderer_.Rig().FrameCounter;
  const FrameFileNames names = MakeFrameFileNames(output_.SequenceDirectory(), right, frame);
  // A run that began as a preview made no folder in its preparation.
  if (!folderMade_) {
    CreateOutputDirectory(output_.SequenceDirectory());
    folderMade_ = true;
  }
  // The camera of this frame as the drawing applied it.
  const Mat4 pose =
      run_ ? CameraToWorld(renderer_.PerspectiveMatrix(), renderer_.ProjectionMatrix(), renderer_.ModelViewMatrix())
           : Mat4{};
  if (writer_) writer_->Wait();  // the frame before is written (or its error ends the run here)
  TakeWritingTime();
  std::swap(products_.cameraImage, buffers_.cameraImage);
  std::swap(products_.subPixelMap, buffers_.subPixelMap);
  std::swap(products_.pixelMap, buffers_.pixelMap);
  std::swap(products_.segmentation, buffers_.segmentation);
  std::swap(products_.disparity, buffers_.disparity);
  std::swap(productsTruth_, truth_);
  std::swap(productsClean_, clean_);
  if (run_ && !dataset_) dataset_ = std::make_unique<DatasetRun>(output_.SequenceDirectory(), *run_, sceneText_, &keptViews_);
  auto write = [this, names, classic, frame, pose, frameClock, randomAtStart, randomAtEnd] {
    const Stopwatch writing;
    if (classic) WriteClassicFiles(names, products_, text_);
    if (dataset_) {
      FrameRecord record;
      record.frame = frame;
      record.cameraToWorld = pose;
      record.randomAtStart = randomAtStart;
      record.randomAtEnd = randomAtEnd;
      if (classic) {
        const FrameFileNames n = MakeFrameFileNames("", run_->rightCamera, frame);
        record.files = {n.cameraImage, n.subPixelMap, n.pixelMap, n.disparityText, n.segmentation};
      }
      record.seconds = frameClock.Seconds();
      dataset_->WriteFrame(std::move(record), productsTruth_, products_.cameraImage,
                           productsClean_.empty() ? nullptr : &productsClean_);
    }
    lastWritingSeconds_ = writing.Seconds();
    ++framesWritten_;
  };
  if (writer_) {
    writer_->Submit(write);
  } else {
    write();
    TakeWritingTime();
  }
}

void RenderFrameSource::GiveFrame(const OutputChoice& outputs) {
  FrameProducts& p = sinkProducts_;
  buffers_.truth = &p.truth;
  buffers_.cleanImage = sinkCleanImage_ ? &p.cleanImage : nullptr;
  if (!sinkCleanImage_) p.cleanImage.clear();
  p.randomAtStart = renderer_.Rig().random;
  MakeFrame(renderer_, output_.Palette(), buffers_);
  p.randomAtEnd = renderer_.Rig().random;
  p.right = renderer_.GetRenderSettings().RightCamera();
  p.frame = renderer_.Rig().FrameCounter;
  p.cameraToWorld =
      CameraToWorld(renderer_.PerspectiveMatrix(), renderer_.ProjectionMatrix(), renderer_.ModelViewMatrix());
  p.intrinsics = run_->intrinsics;
  p.baseline = run_->baseline;
  p.focalLength = run_->focalLength;
  p.noiseSigma = run_->noiseSigma;
  // The buffers' images go out and the previous frame's come back to be
  // drawn into, so no frame allocates.
  std::swap(p.cameraImage, buffers_.cameraImage);
  if (outputs.classic) {
    std::swap(p.segmentation, buffers_.segmentation);
  } else {
    p.segmentation = BmpImage24();
  }
  buffers_.truth = nullptr;
  buffers_.cleanImage = nullptr;
  sink_(p);
  ++framesWritten_;
}

void RenderFrameSource::TakeWritingTime() {
  if (buffers_.timings) buffers_.timings->fileWriting += lastWritingSeconds_;
  lastWritingSeconds_ = 0;
}

void RenderFrameSource::RunEnded() {
  endError_.clear();
  if (writer_) {
    try {
      writer_->Wait();
    } catch (const std::exception& e) {
      // The last frame's files could not be written.
      endError_ = e.what();
    }
    TakeWritingTime();
  }
  if (dataset_) {
    const bool complete = endError_.empty() && framesWritten_ == FrameCount();
    try {
      dataset_->End(complete);
    } catch (const std::exception& e) {
      // The run is over either way; the caller reports it.
      if (endError_.empty()) endError_ = e.what();
    }
    filesWritten_ += dataset_->FilesWritten();
    if (dataset_->MasksWritten() == 0) maskNote_ = dataset_->MaskNote();
  }
  dataset_.reset();
  run_.reset();
  buffers_.Release();
  products_ = ClassicProducts{};
  text_ = std::string();
  productsTruth_ = FrameTruth{};
  clean_ = productsClean_ = std::vector<uint8_t>();
  lock_.reset();
  sceneFlowLock_.reset();
}

void RenderFrameSource::SetWriteBehind(bool on) {
  if (on && !writer_) writer_ = std::make_unique<JobThread>();
  if (!on) writer_.reset();
}

void RenderFrameSource::SetCancelCheck(std::function<bool()> cancelled) {
  cancelled_ = cancelled;
  buffers_.cancelled = std::move(cancelled);
}

}  // namespace tovimar
