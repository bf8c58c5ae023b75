#pragma once
// One scene's runs, as every host makes them. A session of its own (the
// command line's single run and its batch, the in-memory run) holds a
// renderer in its starting state (a new rendering context, or the previous
// scene's context started over), the default view, the prepared scene, then
// one run per camera, left before right, each made as the desktop's Start
// makes it. A host's session (the desktop) runs over the host's renderer and
// settings, which are also its live view, with the host's own hooks.
//
// The random state (plane shades, noise) steps on a fixed schedule, so the
// same steps give the same files byte for byte, whichever host asked for
// them. With P the scene's drawn planes (DrawnPlaneCount): the preparation of
// the scene steps it P times; each camera run's preparation P, and P more
// when it switches the camera; each frame 2P (the drawing that applies the
// frame's camera motion and the one read back), then its noise, then the
// segmentation's P less the id's planes for each id 0..255 in use. A session
// of its own parses and prepares the scene once (Open), makes none of the
// drawings that only show it (their steps are arithmetic) and draws one
// colour drawing per frame; the desktop draws what it shows.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/stopwatch.h"
#include "render/rig_state.h"
#include "render/settings.h"
#include "truth/frame_products.h"
#include "run/output_settings.h"
#include "run/sequence_driver.h"

namespace tovimar {

class LineNotifier;
class Notifier;
class Renderer;
class RenderFrameSource;

enum class CameraChoice { Left, Right, Both };

// Largest frame side a run accepts.
inline constexpr int kMaxFrameSide = 8192;

// The cameras a choice runs, in run order (false: left).
std::vector<bool> CamerasOf(CameraChoice choice);
// "left", "right" or "both", as the manifest records the planned cameras.
const char* CameraChoiceName(CameraChoice choice);

// How a session renders and stores, as numbers (no text fields).
struct RunOptions {
  int width = 640;
  int height = 480;
  std::array<int, 3> background = kDefaultBackground;
  bool antiAlias = false;
  bool palette = false;
  bool preview = false;  // draw the frames, write nothing
  OutputChoice outputs;
  double focalLength = kDefaultFocalLength;  // before the scene's FOCALLENGTH
  double baseline = kDefaultBaseline;        // before the scene's BASELINE
  std::string textureFolder;  // "": the scene's own (SceneTextureFolder) when it has one, else the bundled
  // Folders where a MESH file that is not beside the scene is looked for, in order.
  std::vector<std::string> modelFolders;
  CameraChoice cameras = CameraChoice::Left;
  bool resume = false;       // go on from the frames the folder's manifest lists
  bool writeBehind = true;   // write a frame's files while the next is drawn
  // The first run's random state after its preparation (a manifest's
  // randomStateAtStart), to make a recorded run again; unset: the state the
  // preparation leaves, from a renderer started afresh for every scene.
  std::optional<RandomState> randomAtStart;

  // Throws Error naming the first value that cannot be used: a frame size,
  // colour, focal length or baseline out of range, a layout other than
  // classic without both cameras, a product the layout has no place for, a
  // split folder outside the scene-flow layout. Every host asks this before
  // it writes anything; the messages name the command line's options.
  void Check() const;
};

// The scene of one sequence and where its files go.
struct SceneInput {
  std::string name;   // the file the text came from, for messages
  std::string bytes;  // the scene text
  std::string directory;  // the sequence folder, ending in the separator
  int sequenceNumber = 0;
  // How the run was asked for, recorded in the manifest (key, value).
  std::vector<std::pair<std::string, std::string>> invocation;
};

// What one camera run did.
struct CameraRun {
  bool right = false;
  int frames = 0;            // the scene's frame count
  int32_t firstFrame = 0;    // later than 0: it went on from an earlier run's frames
  std::size_t framesWritten = 0;
  std::size_t framesMade = 0;  // drawn or written
  std::size_t filesWritten = 0;
  std::string manifestNote;  // why the folder's meta.json was not used
  std::string resumeNote;    // why the run started afresh although meta.json has a record
  std::string maskNote;      // why no occlusion masks were written
  std::string error;         // "": the run ended normally
  bool prepared = false;     // the preparation succeeded and the frames began
  bool stopped = false;      // a stop request ended it (before or during the frames)
  double seconds = 0;
};

// Called during a camera run.
struct RunObserver {
  std::function<void(const CameraRun&)> started;  // prepared, before the first frame
  std::function<void(int framesDone)> progress;
};

class RunSession {
 public:
  RunSession(RunOptions options, Notifier& notifier);
  // A host's session over its own renderer (a scene it prepares itself) and
  // settings, both borrowed and outliving the session: the runs report to
  // `hooks` and stop inside a frame once `cancelled` says so. Open,
  // SetFrameSink and the whole-run calls are for sessions of their own.
  RunSession(Renderer& renderer, const OutputSettings& settings, SequenceObserver hooks,
             std::function<bool()> cancelled);
  ~RunSession();
  RunSession(const RunSession&) = delete;
  RunSession& operator=(const RunSession&) = delete;

  // Scene conversion errors go here, each led by its line (nullptr: to the
  // notifier). Not owned.
  void SetLineNotifier(LineNotifier* lines);
  // Asked between steps: true stops the run after the frame being made.
  void SetStopCheck(std::function<bool()> stop);

  // Brings the renderer to its starting state and prepares `scene`, with
  // the scene's own textures when it has a texture folder beside it and no
  // folder was named. Returns "" or why the scene cannot be run.
  std::string Open(const SceneInput& scene);
  // No rendering context could be made: no later scene can be drawn either.
  bool ContextLost() const { return contextLost_; }
  // The prepared scene's frame count.
  std::size_t FrameCount() const;
  // The renderer the session draws with (null before the first Open of a
  // session of its own), for its work counts.
  const Renderer* RendererInUse() const { return renderer_; }

  CameraRun Run(bool right, const RunObserver& observer = {});

  // In memory (before Open): frames go to `sink` and nothing is written
  // (RenderFrameSource::SetFrameSink).
  void SetFrameSink(FrameSink sink, bool cleanImage);

  // Run a step at a time: Begin prepares the camera's run (false when it
  // could not start; Finish says why), each Step makes at most one frame
  // (false once the run has ended), Finish reports it. Run is these three.
  // A host's session starts with StartStop or Start instead of Begin, steps
  // when its frame timer fires, and may ask Finish once the run has ended.
  bool Begin(bool right, const RunObserver& observer = {});
  bool Step();
  CameraRun Finish();
  // Ends a begun run as if its remaining frames had been made: the random
  // state steps as their making would step it (StepRandomAsFrame), nothing
  // is drawn or handed on. The next run starts as it would after them.
  void SkipRemainingFrames();

  // A host's session, driven by its own frame timer. The Start/Stop command
  // (SequenceDriver::StartStop): starts a run, or asks a going one to end
  // after its next step.
  void StartStop();
  // The hidden developer "Start" (SequenceDriver::Start): prepares and
  // enables the steps without the command's reports; throws what the
  // preparation throws.
  void Start();
  // Ends a going run at once, between steps. True when a run was going.
  bool Abort();
  bool Running() const;
  // The last run was ended by the cancel check in the middle of a step.
  bool Cancelled() const;
  std::size_t FramesWritten() const;
  std::size_t FramesMade() const;

 private:
  // The run the prepared scene begins: its frame count, first frame, notes.
  void Prepared();
  // A host's run starting: a fresh report of the camera the host has chosen.
  void NewReport();

  bool hosted_ = false;  // over a host's renderer and settings
  RunOptions options_;
  Notifier* notifier_ = nullptr;  // a session of its own
  LineNotifier* lines_ = nullptr;
  std::function<bool()> stop_;
  PlainSettings settings_;
  PlainEditor editor_;
  std::unique_ptr<Renderer> ownRenderer_;
  Renderer* renderer_ = nullptr;  // the own one, or the host's
  std::unique_ptr<RenderFrameSource> source_;
  std::unique_ptr<SequenceDriver> driver_;
  std::function<void(int)> progress_;
  FrameSink sink_;
  bool sinkCleanImage_ = false;
  CameraRun current_;
  Stopwatch clock_;  // the camera run's, from Begin
  std::string runError_;
  bool contextLost_ = false;
};

}  // namespace tovimar
