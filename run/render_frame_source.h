#pragma once
// The renderer as the sequence driver sees it: preparation, frame count, the
// preview drawing and the generation of one frame's files, with the dataset
// products and the manifest the output settings ask for.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/job_thread.h"
#include "dataset/dataset_run.h"
#include "dataset/output_files.h"
#include "truth/frame_products.h"
#include "truth/ground_truth.h"
#include "run/output_settings.h"
#include "run/sequence_driver.h"

namespace tovimar {

class FolderLock;
class Renderer;

class RenderFrameSource : public FrameSource {
 public:
  RenderFrameSource(Renderer& renderer, const OutputSettings& output);
  ~RenderFrameSource() override;
  // Preparation also takes the sequence folder's lock (FolderLock; the
  // folder is made first) for a run that writes; throws Error when another
  // process holds it. The lock is released when the run ends.
  void PrepareSequence() override;
  std::size_t FrameCount() const override;
  int32_t& FrameCounter() override;
  int32_t FirstFrame() const override { return firstFrame_; }
  bool PreviewOnly() const override;
  void ClearMotionLogs() override;
  void DrawPreviewFrame() override;
  // The frame is computed whole before any of its files is written, so a
  // Cancelled from the capture leaves none of them.
  void GenerateFrame() override;
  void RunEnded() override;

  // Asked after the preparation and before every segmentation pass; true
  // stops the run there (Cancelled).
  void SetCancelCheck(std::function<bool()> cancelled);

  // Write-behind: a frame's files are written on a thread of their own while
  // the next frame is made (the bytes are the same). A frame whose writing
  // fails ends the run at the next frame's step, or shows in EndError when it
  // was the last. Off by default; a run going on must not be changed.
  void SetWriteBehind(bool on);

  // Going on: a run that writes continues what the folder's manifest records
  // of the same run. A complete camera run makes nothing (the random state is
  // left as its end left it); an incomplete one goes on from its first
  // missing frame with that frame's random state and the camera motion
  // replayed, so the files are those of a run never stopped. Off by default.
  void SetResume(bool on) { resume_ = on; }

  // The random state the next run's first frame starts from, in place of the
  // one its preparation leaves: a run recorded in a manifest
  // (randomStateAtStart) is made again byte for byte. Used by the next
  // preparation only; a run of the other camera after it goes on from there.
  void SetStartingRandomState(std::optional<RandomState> state) { startingRandom_ = state; }

  // The renderer's scene was prepared by the host and its text does not
  // change between runs: a run's preparation starts it again
  // (Renderer::RestartPreparedScene) instead of reading the scene, its
  // models and textures again. Off by default (the desktop's editor text
  // may change between runs).
  void SetScenePrepared(bool prepared) { scenePrepared_ = prepared; }

  // Both cameras run one after the other in this session: the first (left)
  // run keeps its views in memory for the second's occlusion masks
  // (KeptViews) instead of leaving them in scratch files. Off by default.
  void SetViewsKeptForMasks(bool on) { keepViews_ = on; }

  // In memory: each frame's products go to `sink` (on the run's thread,
  // before the next frame is made) and nothing is written, no folder made.
  // The outputs' classic flag asks for the segmentation map, depth or flow
  // for the depth; cleanImage for the camera image before its noise.
  void SetFrameSink(FrameSink sink, bool cleanImage) {
    sink_ = std::move(sink);
    sinkCleanImage_ = cleanImage;
  }

  // Why the folder's meta.json was treated as absent by the last
  // preparation ("" when it was read or there was none).
  const std::string& ManifestNote() const { return manifestNote_; }
  // Going on: why the last run started from its first frame although the
  // manifest has a record of its camera ("" otherwise).
  const std::string& ResumeNote() const { return resumeNote_; }

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
  void GoOnFromManifest(const std::string& directory);
  // The frame's products made and handed to the sink.
  void GiveFrame(const OutputChoice& outputs);
  // Adds the ended writing job's time to the timings (on the run's thread).
  void TakeWritingTime();

  Renderer& renderer_;
  const OutputSettings& output_;
  CaptureBuffers buffers_;
  FrameTruth truth_;
  std::optional<RunDescription> run_;  // set by the preparation, used from the first written frame
  std::string sceneText_;
  std::unique_ptr<DatasetRun> dataset_;
  // Counted by the writing job, read by the run's thread (progress) at any time.
  std::atomic<std::size_t> framesWritten_ = 0;
  // The writing job's time, handed to the timings on the run's thread once
  // the job has ended (Wait), so the two threads never add to one field.
  double lastWritingSeconds_ = 0;
  bool resume_ = false;
  bool scenePrepared_ = false;
  bool keepViews_ = false;
  bool folderMade_ = false;  // the sequence folder was made by this run
  std::string texturesHashed_, texturesSha256_;  // the texture folder hashed last, its SHA-256
  KeptViews keptViews_;  // the left run's views, for the right run's masks
  std::optional<RandomState> startingRandom_;
  int32_t firstFrame_ = 0;
  std::size_t filesWritten_ = 0;
  std::string maskNote_;
  std::string manifestNote_;
  std::string resumeNote_;
  std::string endError_;
  std::function<bool()> cancelled_;
  FrameSink sink_;
  bool sinkCleanImage_ = false;
  FrameProducts sinkProducts_;  // its buffers kept from frame to frame
  std::shared_ptr<FolderLock> lock_;
  std::shared_ptr<FolderLock> sceneFlowLock_;  // the scene-flow tree's scene folder, for its runs
  // The frame being written: its products, moved out of the capture buffers.
  ClassicProducts products_;
  FrameTruth productsTruth_;
  std::vector<uint8_t> clean_, productsClean_;  // the camera image before noise (scene-flow layout)
  std::string text_;  // the disparity text, formatted a piece at a time
  std::unique_ptr<JobThread> writer_;  // last: it ends before what its job uses
};

}  // namespace tovimar
