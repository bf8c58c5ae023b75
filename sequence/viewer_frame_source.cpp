#include "sequence/viewer_frame_source.h"

#include <unistd.h>

#include <utility>

#include "io/error.h"
#include "io/folder_lock.h"
#include "render/viewer.h"

namespace tovimar {

ViewerFrameSource::ViewerFrameSource(Viewer& viewer, const OutputSettings& output)
    : viewer_(viewer), output_(output) {}

ViewerFrameSource::~ViewerFrameSource() = default;

void ViewerFrameSource::PrepareSequence() {
  lock_.reset();
  viewer_.PrepareScene();
  if (cancelled_ && cancelled_()) throw Cancelled("stopped during the preparation");
  if (output_.PreviewOnly()) return;
  const std::string directory = OutputDirectory(output_.OutputFolder(), output_.SequenceNumber());
  CreateOutputDirectory(directory);
  std::string refusal;
  lock_ = FolderLock::Acquire(directory, &refusal);
  if (!refusal.empty()) throw Error(refusal);
}

std::size_t ViewerFrameSource::FrameCount() const { return viewer_.Scene().egoFrames.size(); }

int32_t& ViewerFrameSource::FrameCounter() { return viewer_.Rig().FrameCounter; }

bool ViewerFrameSource::PreviewOnly() const { return output_.PreviewOnly(); }

void ViewerFrameSource::ClearMotionLogs() { viewer_.Editor().ClearMotionLogs(); }

void ViewerFrameSource::DrawPreviewFrame() {
  viewer_.DrawScene(true, Viewer::kSkipNone, viewer_.viewAzimuth, viewer_.viewElevation, viewer_.viewDistance);
}

void ViewerFrameSource::GenerateFrame() {
  try {
    GenerateFrameFiles(viewer_, output_, buffers_);
  } catch (const Cancelled&) {
    const FrameFileNames names =
        MakeFrameFileNames(OutputDirectory(output_.OutputFolder(), output_.SequenceNumber()),
                           viewer_.GetRenderSettings().RightCamera(), viewer_.Rig().FrameCounter);
    for (const std::string* name :
         {&names.cameraImage, &names.subPixelMap, &names.pixelMap, &names.disparityText, &names.segmentation})
      ::unlink(name->c_str());
    throw;
  }
}

void ViewerFrameSource::RunEnded() {
  buffers_.Release();
  lock_.reset();
}

void ViewerFrameSource::SetCancelCheck(std::function<bool()> cancelled) {
  cancelled_ = cancelled;
  buffers_.cancelled = std::move(cancelled);
}

}  // namespace tovimar
