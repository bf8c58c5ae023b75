#include "sequence/viewer_frame_source.h"

#include "render/viewer.h"

namespace tovimar {

void ViewerFrameSource::PrepareSequence() { viewer_.PrepareScene(); }

std::size_t ViewerFrameSource::FrameCount() const { return viewer_.Scene().egoFrames.size(); }

int32_t& ViewerFrameSource::FrameCounter() { return viewer_.Rig().FrameCounter; }

bool ViewerFrameSource::PreviewOnly() const { return output_.PreviewOnly(); }

void ViewerFrameSource::ClearMotionLogs() { viewer_.Editor().ClearMotionLogs(); }

void ViewerFrameSource::DrawPreviewFrame() {
  viewer_.DrawScene(true, Viewer::kSkipNone, viewer_.viewAzimuth, viewer_.viewElevation, viewer_.viewDistance);
}

void ViewerFrameSource::GenerateFrame() { GenerateFrameFiles(viewer_, output_, buffers_); }

}  // namespace tovimar
