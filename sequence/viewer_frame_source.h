#pragma once
// The viewer as the sequence driver sees it: preparation, frame count, the
// preview drawing and the generation of one frame's files.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "sequence/ground_truth.h"
#include "sequence/output_settings.h"
#include "sequence/sequence_driver.h"

namespace tovimar {

class FolderLock;
class Viewer;

class ViewerFrameSource : public FrameSource {
 public:
  ViewerFrameSource(Viewer& viewer, const OutputSettings& output);
  ~ViewerFrameSource() override;
  // Preparation also takes the sequence folder's lock (FolderLock; the
  // folder is made first) for a run that writes; throws Error when another
  // process holds it. The lock is released when the run ends.
  void PrepareSequence() override;
  std::size_t FrameCount() const override;
  int32_t& FrameCounter() override;
  bool PreviewOnly() const override;
  void ClearMotionLogs() override;
  void DrawPreviewFrame() override;
  // Cancelled from the capture removes the files this frame had written, so
  // that no frame is left looking complete with parts of it missing.
  void GenerateFrame() override;
  void RunEnded() override;

  // Asked after the preparation and before every segmentation pass; true
  // stops the run there (Cancelled).
  void SetCancelCheck(std::function<bool()> cancelled);

  CaptureBuffers& Buffers() { return buffers_; }

 private:
  Viewer& viewer_;
  const OutputSettings& output_;
  CaptureBuffers buffers_;
  std::function<bool()> cancelled_;
  std::shared_ptr<FolderLock> lock_;
};

}  // namespace tovimar
