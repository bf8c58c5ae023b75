#pragma once
// The manifest of a sequence folder: meta.json (what was rendered, how, and
// which frames are complete), poses_left.txt / poses_right.txt (KITTI
// odometry form) and calib.txt (Middlebury form). Both camera runs of a
// stereo pair share it; every save rewrites the files whole.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "render/rig_state.h"
#include "sequence/camera_geometry.h"
#include "sequence/dataset_outputs.h"

namespace tovimar {

// What a camera run renders; two runs are a stereo pair when all of this
// but the camera agrees.
struct RunDescription {
  bool rightCamera = false;
  int width = 0;
  int height = 0;
  double focalLength = 0;  // nominal F, pixels
  double baseline = 0;     // scene units
  double noiseSigma = 0;
  Intrinsics intrinsics;
  RandomState randomAtStart;
  OutputChoice outputs;
  std::string sceneSha256;
  // How the run was asked for: the command line, or the desktop's settings.
  std::vector<std::pair<std::string, std::string>> invocation;
  // "left", "right", "both" or "" (every recorded run): what complete means.
  std::string plannedCameras;
};

class SequenceManifest {
 public:
  static constexpr const char* kFileName = "meta.json";

  // directory: the sequence folder, ending in '/'. An existing meta.json is
  // read; one that cannot be read is replaced when saved.
  explicit SequenceManifest(std::string directory);
  ~SequenceManifest();
  SequenceManifest(const SequenceManifest&) = delete;
  SequenceManifest& operator=(const SequenceManifest&) = delete;

  // Starts a run of one camera: its earlier record is dropped; the other
  // camera's record stays only when it is the other half of the same pair.
  void BeginRun(const RunDescription& run);
  // A complete frame: its pose (camera-to-world, OpenCV axes), the files
  // written (relative to the folder) and its wall time.
  void AddFrame(bool right, int32_t frame, const Mat4& cameraToWorld, const std::vector<std::string>& files,
                double seconds, float minDisparity, float maxDisparity);
  // Files made later for a frame already listed (its masks).
  void AddFiles(bool right, int32_t frame, const std::vector<std::string>& files);
  // True when the given camera's run of the same pair has frame `frame`.
  bool HasFrame(bool right, int32_t frame) const;
  void CountNotFitting(const std::string& what, long count);
  void EndRun(bool right, bool complete);
  // A note on one camera's run (key: text).
  void SetRunNote(bool right, const std::string& key, const std::string& text);
  // Writes meta.json, the poses of each camera and calib.txt. Throws Error.
  void Save() const;
  // The planned camera runs (or, when none were named, every run recorded)
  // are complete.
  bool Complete() const;

  // Middlebury calib.txt text for a size, intrinsics and disparity range.
  static std::string CalibText(const Intrinsics& k, double baseline, int width, int height, int ndisp,
                               double vmin, double vmax);

 private:
  struct Data;
  std::string directory_;
  std::unique_ptr<Data> data_;
};

// The disparity bound written as ndisp: B F / near, rounded up.
int DisparityLevels(double baseline, double focalLength);

}  // namespace tovimar
