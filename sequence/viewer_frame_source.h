#pragma once
// The viewer as the sequence driver sees it: preparation, frame count, the
// preview drawing and the generation of one frame's files, with the dataset
// products and the manifest the output settings ask for.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sequence/dataset_run.h"
#include "sequence/ground_truth.h"
#include "sequence/output_settings.h"
#include "sequence/sequence_driver.h"

namespace tovimar {

class Viewer;

class ViewerFrameSource : public FrameSource {
 public:
  ViewerFrameSource(Viewer& viewer, const OutputSettings& output) : viewer_(viewer), output_(output) {}
  ~ViewerFrameSource() override;
  void PrepareSequence() override;
  std::size_t FrameCount() const override;
  int32_t& FrameCounter() override;
  bool PreviewOnly() const override;
  void ClearMotionLogs() override;
  void DrawPreviewFrame() override;
  void GenerateFrame() override;
  void RunEnded() override;

  CaptureBuffers& Buffers() { return buffers_; }
  // Why the last run wrote no occlusion masks although they were asked for
  // ("" when it wrote them or was not asked).
  const std::string& MaskNote() const { return maskNote_; }
  // Files the last run wrote for its frames.
  std::size_t FilesWritten() const { return filesWritten_; }

 private:
  Viewer& viewer_;
  const OutputSettings& output_;
  CaptureBuffers buffers_;
  FrameTruth truth_;
  std::optional<RunDescription> run_;  // set by the preparation, used from the first written frame
  std::string sceneText_;
  std::unique_ptr<DatasetRun> dataset_;
  std::size_t framesWritten_ = 0;
  std::size_t filesWritten_ = 0;
  std::string maskNote_;
};

}  // namespace tovimar
