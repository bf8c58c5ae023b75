#pragma once
// A scene's runs made in memory, a frame at a time: each frame's products for
// one camera or both, with the occlusion masks of both views and the flow to
// the next frame, computed by the functions that make the files. The frames
// equal those of a run writing files with the same settings.
//
// Both cameras: the files come from the left camera's run and then the right
// one's, and the renderer's random state (plane shades, noise) runs on from
// the left run's end into the right run. Here each camera has a session of its
// own (its own renderer and rendering context) so the two views of a frame
// come together: the right session first goes through the left run's
// preparation and steps the random state as the left run's frames would
// (RunSession::SkipRemainingFrames), drawing nothing, then makes its own run;
// so it starts its frames from the state a single session would have. The
// two sessions share nothing, so they work side by side: the frames are the
// same.
//
// Each session works on a thread of its own, where its rendering context is
// made, stays current and is destroyed: an OpenGL context is current on one
// thread at a time, so the caller's thread holds none, and a MemoryRun may be
// used (one call at a time) and destroyed from any thread.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "truth/frame_products.h"
#include "run/run_session.h"
#include "truth/scene_flow.h"

namespace tovimar {

class LineNotifier;
class Notifier;
class JobThread;
class LockedNotifier;

// What the frames carry besides the camera image, the float disparity and
// the valid pixels.
struct MemoryProducts {
  bool cleanImage = false;
  bool depth = false;
  bool segmentation = false;
  bool masks = false;  // both cameras only
  bool flow = false;
  bool ids16 = false;  // the 16-bit id map (FrameTruth::ids)
  bool operator==(const MemoryProducts&) const = default;
};

struct CameraProducts {
  FrameProducts frame;
  std::vector<uint8_t> mask;      // occlusion mask (mask PNG); empty unless asked for
  std::optional<SceneFlow> flow;  // to the next frame (the .flo); none for the last frame
};

struct MemoryFrame {
  int32_t frame = 0;
  std::optional<CameraProducts> left, right;
};

class MemoryRun {
 public:
  // options.cameras: which cameras; options.outputs and preview are set
  // from `products`. Throws Error for options that cannot be used.
  MemoryRun(RunOptions options, MemoryProducts products, Notifier& notifier, LineNotifier* lines);
  ~MemoryRun();
  MemoryRun(const MemoryRun&) = delete;
  MemoryRun& operator=(const MemoryRun&) = delete;

  // Prepares the scene in every session and begins the runs; throws Error
  // with the message a run would report. A later Open starts the next scene
  // in the same sessions (the same rendering contexts).
  void Open(const SceneInput& scene);
  std::size_t FrameCount() const;
  // The next frame into `out`; false after the last. Throws Error when a
  // run fails (the message a run would report).
  bool Next(MemoryFrame& out);

 private:
  struct Camera {
    bool right = false;
    std::unique_ptr<RunSession> session;
    std::vector<FrameProducts> made;     // handed by the sink, not yet taken
    std::optional<CameraProducts> held;  // waiting for the next frame's flow
    bool ended = false;
    std::unique_ptr<JobThread> thread;  // where its session is made, used and destroyed
  };
  // Runs task for each camera, on its thread, all at once; rethrows the
  // first exception once every camera's task has ended.
  void ForEachCamera(const std::function<void(Camera&)>& task);
  // Opens one camera's session and begins its run.
  void OpenCamera(Camera& camera, const SceneInput& scene);
  void CloseCameras();
  // Makes the camera's next frame; false when its run has ended.
  bool MakeFrame(Camera& camera, FrameProducts& out);
  // The camera's next frame with its flow (when asked for); false at the end.
  bool NextOf(Camera& camera, CameraProducts& out);

  RunOptions options_;
  MemoryProducts products_;
  std::unique_ptr<LockedNotifier> notifier_;
  std::vector<std::unique_ptr<Camera>> cameras_;
};

}  // namespace tovimar
