#pragma once
// The viewer as the sequence driver sees it: preparation, frame count, the
// preview drawing and the generation of one frame's files, with the dataset
// products and the manifest the output settings ask for.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sequence/dataset_run.h"
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
  // Why the last run wrote no occlusion masks although they were asked for
  // ("" when it wrote them or was not asked).
  const std::string& MaskNote() const { return maskNote_; }
  // Why the manifest could not be saved at the end of the last run ("" when
  // it was).
  const std::string& EndError() const { return endError_; }
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
  std::string endError_;
  std::function<bool()> cancelled_;
  std::shared_ptr<FolderLock> lock_;
};

}  // namespace tovimar
