#include "sequence/viewer_frame_source.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>
#include <utility>

#include "io/atomic_file.h"
#include "io/error.h"
#include "io/folder_lock.h"
#include "io/sha256.h"
#include "render/viewer.h"
#include "sequence/camera_geometry.h"

namespace tovimar {

ViewerFrameSource::ViewerFrameSource(Viewer& viewer, const OutputSettings& output)
    : viewer_(viewer), output_(output) {}

ViewerFrameSource::~ViewerFrameSource() = default;

void ViewerFrameSource::PrepareSequence() {
  lock_.reset();
  dataset_.reset();
  framesWritten_ = 0;
  filesWritten_ = 0;
  maskNote_.clear();
  viewer_.PrepareScene();
  if (cancelled_ && cancelled_()) throw Cancelled("stopped during the preparation");
  // What the manifest records of this run, taken now: the random state after
  // the preparation is the one the first frame starts from.
  RunDescription run;
  const RigState& rig = viewer_.Rig();
  run.rightCamera = viewer_.GetRenderSettings().RightCamera();
  run.width = viewer_.ClientWidth();
  run.height = viewer_.ClientHeight();
  run.focalLength = rig.RigFocalLength;
  run.baseline = rig.RigBaseline;
  run.noiseSigma = rig.RigNoise;
  run.intrinsics = IntrinsicsFromPerspective(viewer_.PerspectiveMatrix(), run.width, run.height);
  run.randomAtStart = rig.random;
  run.outputs = output_.Outputs();
  run.invocation = output_.Invocation();
  run.plannedCameras = output_.PlannedCameras();
  run.background = viewer_.GetRenderSettings().BackgroundColour();
  run.antiAlias = viewer_.GetRenderSettings().AntiAlias();
  run.palette = output_.Palette();
  sceneText_.clear();
  for (const std::string& line : viewer_.Editor().SceneLines()) sceneText_ += line + "\n";
  run.sceneSha256 = Sha256Hex(sceneText_);
  firstFrame_ = 0;
  run_ = run;
  if (output_.PreviewOnly()) return;
  const std::string directory = output_.SequenceDirectory();
  CreateOutputDirectory(directory);
  std::string refusal;
  lock_ = FolderLock::Acquire(directory, &refusal);
  if (!lock_) throw Error(refusal);
  manifestNote_.clear();
  resumeNote_.clear();
  if (resume_) {
    GoOnFromManifest(directory);
  } else {
    manifestNote_ = SequenceManifest(directory).ReadProblem();
  }
}

namespace {

// Unfinished files that a killed process left in the sequence folder (and its
// frame folders): hidden temporary names, never a result. Called with the
// folder's lock held, so no live run is writing them.
void RemoveUnfinishedFiles(const std::string& directory) {
  std::error_code ec;
  std::vector<std::filesystem::path> doomed;
  for (auto it = std::filesystem::recursive_directory_iterator(directory, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec) && IsTemporaryOutputName(it->path().filename().string())) doomed.push_back(it->path());
  }
  for (const std::filesystem::path& path : doomed) std::filesystem::remove(path, ec);
}

}  // namespace

void ViewerFrameSource::GoOnFromManifest(const std::string& directory) {
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
    // the recorded pose (another GL, another view) makes the whole run afresh.
    const std::array<double, 16> prepared = viewer_.ProjectionMatrix();
    viewer_.ReplayCameraMotion(static_cast<std::size_t>(point.frame));
    if (CameraToWorld(viewer_.PerspectiveMatrix(), viewer_.ProjectionMatrix(), viewer_.ModelViewMatrix()) !=
        point.poseBefore) {
      viewer_.LoadProjectionMatrix(prepared);
      resumeNote_ = "the replayed camera motion does not give the recorded pose";
      return;
    }
    run_->firstFrame = point.frame;
  }
  // A complete run starts at its end: it makes nothing and leaves the random
  // state as its last frame did.
  firstFrame_ = point.frame;
  framesWritten_ = static_cast<std::size_t>(point.frame);
  viewer_.Rig().random = point.random;
}

std::size_t ViewerFrameSource::FrameCount() const { return viewer_.Scene().egoFrames.size(); }

int32_t& ViewerFrameSource::FrameCounter() { return viewer_.Rig().FrameCounter; }

bool ViewerFrameSource::PreviewOnly() const { return output_.PreviewOnly(); }

void ViewerFrameSource::ClearMotionLogs() { viewer_.Editor().ClearMotionLogs(); }

void ViewerFrameSource::DrawPreviewFrame() {
  viewer_.DrawScene(true, Viewer::kSkipNone, viewer_.viewAzimuth, viewer_.viewElevation, viewer_.viewDistance);
}

void ViewerFrameSource::GenerateFrame() {
  const auto start = std::chrono::steady_clock::now();
  const OutputChoice outputs = run_ ? run_->outputs : output_.Outputs();
  const bool classic = outputs.classic && outputs.layout == DatasetLayout::Classic;
  // The frame is made whole in memory first and written after, so a stop in
  // the middle of it leaves none of its files.
  buffers_.writeClassicFiles = false;
  buffers_.classicProducts = classic;
  buffers_.truth = run_ ? &truth_ : nullptr;
  buffers_.truthWithDepth = outputs.depth || outputs.flow;
  const bool right = viewer_.GetRenderSettings().RightCamera();
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
    run_->randomAtStart = viewer_.Rig().random;
  }
  const RandomState randomAtStart = viewer_.Rig().random;
  GenerateFrameFiles(viewer_, output_, buffers_);
  const RandomState randomAtEnd = viewer_.Rig().random;

  const int32_t frame = viewer_.Rig().FrameCounter;
  const FrameFileNames names = MakeFrameFileNames(output_.SequenceDirectory(), right, frame);
  // The camera of this frame as the drawing applied it.
  const Mat4 pose =
      run_ ? CameraToWorld(viewer_.PerspectiveMatrix(), viewer_.ProjectionMatrix(), viewer_.ModelViewMatrix())
           : Mat4{};
  if (writer_) writer_->Wait();  // the frame before is written (or its error ends the run here)
  std::swap(products_.cameraImage, buffers_.cameraImage);
  std::swap(products_.subPixelMap, buffers_.subPixelMap);
  std::swap(products_.pixelMap, buffers_.pixelMap);
  std::swap(products_.segmentation, buffers_.segmentation);
  std::swap(products_.disparity, buffers_.disparity);
  std::swap(productsTruth_, truth_);
  if (run_ && !dataset_) dataset_ = std::make_unique<DatasetRun>(output_.SequenceDirectory(), *run_, sceneText_);
  auto write = [this, names, classic, frame, pose, start, randomAtStart, randomAtEnd] {
    const auto writing = std::chrono::steady_clock::now();
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
      record.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      dataset_->WriteFrame(std::move(record), productsTruth_, products_.cameraImage);
    }
    if (buffers_.timings)
      buffers_.timings->fileWriting += std::chrono::duration<double>(std::chrono::steady_clock::now() - writing).count();
    ++framesWritten_;
  };
  if (writer_) {
    writer_->Submit(write);
  } else {
    write();
  }
}

void ViewerFrameSource::RunEnded() {
  endError_.clear();
  if (writer_) {
    try {
      writer_->Wait();
    } catch (const std::exception& e) {
      // The last frame's files could not be written.
      endError_ = e.what();
    }
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
  lock_.reset();
}

void ViewerFrameSource::SetWriteBehind(bool on) {
  if (on && !writer_) writer_ = std::make_unique<BackgroundWriter>();
  if (!on) writer_.reset();
}

void ViewerFrameSource::SetCancelCheck(std::function<bool()> cancelled) {
  cancelled_ = cancelled;
  buffers_.cancelled = std::move(cancelled);
}

}  // namespace tovimar
