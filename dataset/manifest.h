#pragma once
// The manifest of a sequence folder: meta.json (what was rendered, how, and
// which frames are complete), poses_left.txt / poses_right.txt (KITTI
// odometry form) and calib.txt (Middlebury form). Both camera runs of a
// stereo pair share it; every save rewrites the files whole.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "render/rig_state.h"
#include "truth/camera_geometry.h"
#include "layout/output_choice.h"

namespace tovimar {

// A model file a MESH line draws: the file as the line writes it, the file
// it resolved to and the SHA-256 of its bytes.
struct ModelRecord {
  std::string path;
  std::string file;
  std::string sha256;
  bool operator==(const ModelRecord&) const = default;
};

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
  // The models of the scene's MESH lines, in line order: a model whose
  // bytes changed makes the scene another.
  std::vector<ModelRecord> models;
  // How the run was asked for: the command line, or the desktop's settings.
  std::vector<std::pair<std::string, std::string>> invocation;
  // "left", "right", "both" or "" (every recorded run): what complete means.
  std::string plannedCameras;
  // What else decides the pixels: background colour, antialiasing, palette.
  std::array<int, 3> background{};
  bool antiAlias = false;
  bool palette = false;
  // The texture folder the renderer used and SHA-256 of its eleven files.
  std::string textureFolder;
  std::string texturesSha256;
  // The first frame the run makes: later than 0 when it goes on from a run
  // that stopped, whose earlier frames the manifest keeps.
  int32_t firstFrame = 0;
  // The frames the run is to make (the scene-flow layout's names are as wide
  // as its last frame's number); not recorded.
  int64_t frameCount = 0;
};

// One complete frame of a camera run.
struct FrameRecord {
  int32_t frame = 0;
  // OpenCV axes, as the renderer's matrices give it; the manifest records
  // its nearest rigid motion as the pose.
  Mat4 cameraToWorld{};
  std::vector<std::string> files;  // relative to the folder
  double seconds = 0;              // wall time
  float minDisparity = 1, maxDisparity = 0;  // no range recorded when min > max
  // The shared random state before and after the frame: what the frame, and
  // the next, need to be made again alone.
  RandomState randomAtStart, randomAtEnd;
  long kitti16NotFitting = 0;
};

// Where a new run of a camera can start, from what the manifest records of
// the same run (same scene, rig, size, outputs and rendering settings).
struct ResumePoint {
  enum class Kind {
    Start,     // nothing to go on from
    Continue,  // frames 0..frame-1 are complete with their files
    Complete,  // the run is complete: nothing to make
  };
  Kind kind = Kind::Start;
  int32_t frame = 0;
  // Continue: the state at the start of `frame`; Complete: at the run's end.
  RandomState random;
  // Continue: the recorded poses of frames 0..frame-1 (the nearest rigid
  // motion to the renderer's matrix), each of which the replayed motion must
  // give (they go into the poses files again).
  std::vector<Mat4> posesBefore;
  // Start although the camera has a record: why it is not gone on from.
  std::string note;
};

class SequenceManifest {
 public:
  static constexpr const char* kFileName = kManifestFileName;
  // A larger meta.json is not read (a sequence of about 150,000 frames per
  // camera stays below it).
  static constexpr uint64_t kMaxFileBytes = 256ull << 20;

  // directory: the sequence folder, ending in '/'. An existing meta.json is
  // read and checked whole; one that cannot be read, or is not as this
  // program writes it, is treated as absent (ReadProblem says why) and
  // replaced when saved.
  explicit SequenceManifest(std::string directory);
  ~SequenceManifest();
  SequenceManifest(const SequenceManifest&) = delete;
  SequenceManifest& operator=(const SequenceManifest&) = delete;

  // Starts a run of one camera: its earlier record is dropped (but for the
  // frames before run.firstFrame); the other camera's record stays only when
  // it is the other half of the same pair.
  void BeginRun(const RunDescription& run);
  // Where a run like `run` (of frameCount frames) can start: a complete
  // record of the same run, or its first frames when every file listed for
  // them is there. With flow the frame before the first missing one is made
  // again, since its flow needs the next frame.
  ResumePoint ResumePointOf(const RunDescription& run, int32_t frameCount) const;
  // True when the camera `right` has a record that a start of `run` drops as
  // being of other settings: its own camera's record of another scene, size,
  // rig, outputs, layout or rendering, or the other camera's record of
  // another pair. The files of such a record are not the new run's.
  bool RecordReplacedBy(bool right, const RunDescription& run) const;
  void AddFrame(bool right, const FrameRecord& record);
  // Files made later for a frame already listed (its masks, its flow).
  void AddFiles(bool right, int32_t frame, const std::vector<std::string>& files);
  // True when the given camera's run of the same pair has frame `frame`.
  bool HasFrame(bool right, int32_t frame) const;
  // How many frames from frame 0 on the camera's run lists (later frames
  // after a gap do not count); -1 when there is no record of that camera.
  int32_t ListedFrameCount(bool right) const;
  // True when some camera run lists a complete frame.
  bool HasAnyFrame() const;
  // The outputs, layout and split the camera's recorded run wrote; nullopt
  // when there is no record of that camera, or it names an output or layout
  // this version does not know.
  std::optional<OutputChoice> RecordedOutputs(bool right) const;
  // Values of a listed frame that did not fit a format (counted per frame,
  // and in total over the folder).
  void CountNotFitting(bool right, int32_t frame, const std::string& what, long count);
  void EndRun(bool right, bool complete);
  // A note on one camera's run (key: text).
  void SetRunNote(bool right, const std::string& key, const std::string& text);
  // Writes meta.json, the poses of each camera and calib.txt. Throws Error.
  void Save() const;
  // Writes meta.json alone (after a frame; the poses and calibration, which
  // follow from it, are written by Save at the end of a run). Throws Error.
  void SaveProgress() const;
  // The planned camera runs (or, when none were named, every run recorded)
  // are complete.
  bool Complete() const;
  // Why an existing meta.json was treated as absent ("" when it was read or
  // there was none).
  const std::string& ReadProblem() const { return readProblem_; }

  // KITTI's raw calib_cam_to_cam: cameras 00 to 03 (00 and 02 the left
  // camera, 01 and 03 the right), sizes, intrinsics, no distortion, the right
  // camera at T = (-baseline, 0, 0), rectified projections P_rect.
  static std::string KittiCamToCamText(const Intrinsics& k, double baseline, int width, int height);
  // Middlebury calib.txt text for a size, intrinsics and disparity range.
  // middEval3: as a MiddEval3 frame's (isint=0, the range in whole pixels
  // that hold it, dyavg and dymax 0 for rectified views).
  static std::string CalibText(const Intrinsics& k, double baseline, int width, int height, int ndisp,
                               double vmin, double vmax, bool middEval3 = false);

 private:
  struct Data;
  void RecountNotFitting();
  // A JSON library error while recording, as an Error that names meta.json.
  Error RecordError(const std::exception& e) const;
  std::string directory_;
  std::unique_ptr<Data> data_;
  std::string readProblem_;
};

// The disparity bound written as ndisp: B F / near, rounded up.
int DisparityLevels(double baseline, double focalLength);

}  // namespace tovimar
