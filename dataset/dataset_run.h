#pragma once
// One camera run's dataset files: the products its outputs ask for, the
// occlusion masks of both views once the other camera's frame is there, the
// scene text and the manifest.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "truth/camera_geometry.h"

#include "io/bmp.h"
#include "truth/frame_truth.h"
#include "dataset/manifest.h"
#include "truth/scene_flow.h"

namespace tovimar {

class DatasetRun {
 public:
  // directory: the sequence folder, ending in '/'. sceneText: the scene as
  // rendered (written as scene.txt).
  DatasetRun(std::string directory, const RunDescription& run, std::string sceneText);

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
  void MakeMasks(int32_t frame, const FrameTruth& own, std::vector<std::string>& ownFiles);
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
};

}  // namespace tovimar
