#pragma once
// The viewer as the sequence driver sees it: preparation, frame count, the
// preview drawing and the generation of one frame's files.
#include <cstddef>
#include <cstdint>

#include "sequence/ground_truth.h"
#include "sequence/output_settings.h"
#include "sequence/sequence_driver.h"

namespace tovimar {

class Viewer;

class ViewerFrameSource : public FrameSource {
 public:
  ViewerFrameSource(Viewer& viewer, const OutputSettings& output) : viewer_(viewer), output_(output) {}
  void PrepareSequence() override;
  std::size_t FrameCount() const override;
  int32_t& FrameCounter() override;
  bool PreviewOnly() const override;
  void ClearMotionLogs() override;
  void DrawPreviewFrame() override;
  void GenerateFrame() override;
  void RunEnded() override { buffers_.Release(); }

  CaptureBuffers& Buffers() { return buffers_; }

 private:
  Viewer& viewer_;
  const OutputSettings& output_;
  CaptureBuffers buffers_;
};

}  // namespace tovimar
