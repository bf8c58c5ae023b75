#pragma once
// One camera run's dataset files: the products its outputs ask for, the
// occlusion masks of both views once the other camera's frame is there, the
// scene text and the manifest.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "truth/camera_geometry.h"

#include "io/bmp.h"
#include "truth/frame_truth.h"
#include "dataset/manifest.h"
#include "truth/scene_flow.h"

namespace tovimar {

// The first camera's views of a run of both cameras in one session, as its
// files would give them back (OtherViewAsStored), kept in memory for the
// second camera's occlusion masks instead of going through the disk. Up to
// a budget: frames beyond it take the file path (the classic layout's
// .scratch/ PFM where no other file holds the float disparity), as does a
// run of one camera, whose other camera runs in another process.
inline constexpr std::size_t kKeptViewsBudgetBytes = std::size_t{512} << 20;

class KeptViews {
 public:
  explicit KeptViews(std::size_t budgetBytes = kKeptViewsBudgetBytes) : budget_(budgetBytes) {}
  // Forgets every view and keeps the next ones for the run `run` describes
  // in `directory`.
  void Begin(const std::string& directory, const RunDescription& run);
  // The views of the camera `right` in `directory` are kept (Begin).
  bool KeepsFor(const std::string& directory, bool right) const;
  // Keeps the view of `frame`; false (nothing kept) beyond the budget.
  bool Keep(int32_t frame, FrameTruth view);
  // The view of `frame` kept for the run of the other camera with the
  // settings `run` describes in `directory`; null when none is kept.
  const FrameTruth* Find(const std::string& directory, const RunDescription& run, int32_t frame) const;
  void Forget(int32_t frame);
  std::size_t Bytes() const { return bytes_; }

 private:
  std::size_t budget_;
  std::size_t bytes_ = 0;
  std::string directory_;
  std::optional<RunDescription> run_;
  std::map<int32_t, FrameTruth> views_;
};

class DatasetRun {
 public:
  // directory: the sequence folder, ending in '/'. sceneText: the scene as
  // rendered (written as scene.txt). kept: where the first camera's views
  // are kept for the second camera's masks, or looked up by the second
  // (null: the files only); it must outlive the run.
  DatasetRun(std::string directory, const RunDescription& run, std::string sceneText, KeptViews* kept = nullptr);

  // Writes the frame's products (after its classic files) and records it.
  // record: the frame, its pose, wall time and random states, and in files
  // the names of the classic files already written, relative to the folder.
  // With flow, `truth` is kept for the flow to the next frame and left
  // holding an earlier frame's buffers. cleanImage: the camera image before
  // its noise (RGB, top row first) for the scene-flow layout's clean pass;
  // null: the camera image. Throws Error("Cannot create file ...").
  void WriteFrame(FrameRecord record, FrameTruth& truth, const BmpImage24& cameraImage,
                  const std::vector<uint8_t>* cleanImage = nullptr);

  // Records the end of the run and saves the manifest.
  void End(bool complete);

  // Why masks could not be made, when they were asked for but neither this
  // run nor the other camera's produced them ("" otherwise).
  const std::string& MaskNote() const { return maskNote_; }
  int MasksWritten() const { return masksWritten_; }
  // Frame files written so far (the classic ones included).
  std::size_t FilesWritten() const { return filesWritten_; }

 private:
  void MakeMasks(int32_t frame, const FrameTruth& own, const FrameTruth* otherInMemory,
                 std::vector<std::string>& ownFiles);
  // Makes the folder once per run (create_directories).
  void MakeFolder(const std::string& path);
  void WriteFlowOfPrevious(int32_t frame, const FrameTruth& truth, const Mat4& cameraToWorld,
                           std::vector<std::string>& ownFiles);
  DatasetFileNames Names(bool right, int32_t frame) const;
  std::string Relative(const std::string& path) const;

  std::string directory_;
  RunDescription run_;
  std::string sceneText_;
  SequenceManifest manifest_;
  bool sceneWritten_ = false;
  int masksWritten_ = 0;
  std::size_t filesWritten_ = 0;
  std::size_t framesRecorded_ = 0;
  // The previous frame, kept for its flow to this one.
  struct Previous {
    int32_t frame = -1;
    FrameTruth truth;
    Mat4 pose{};
  };
  Previous previous_;
  SceneFlow flow_;  // buffers kept from frame to frame
  SceneFlowNaming sceneFlowNaming_;
  std::string maskNote_;
  KeptViews* kept_;
  std::set<std::string> madeFolders_;
};

}  // namespace tovimar
