#pragma once
// The sequence driver: turns a prepared scene into a sequence, one frame per
// CameraMotion entry, clocked by a frame timer that the host provides (the desktop
// window binds the observer to a QTimer, a progress bar and the Start/Stop
// button; the command-line tool runs the steps back to back with RunToEnd).
//
// States: Idle (not running, no stop request, FrameCounter -1, timer off),
// Running (FrameCounter 0..frame count, timer on between steps), Stopping
// (stop requested; the next step still makes its frame, then ends the run).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tovimar {

// What the driver needs from the renderer. RenderFrameSource
// (render_frame_source.h) is the real one; tests substitute a fake.
class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Scene preparation. May throw Error.
  virtual void PrepareSequence() = 0;
  // Entries of egoFrames, read afresh at every step.
  virtual std::size_t FrameCount() const = 0;
  virtual int32_t& FrameCounter() = 0;
  // The frame a run starts at, asked after the preparation: later than 0 when
  // the run goes on from the frames an earlier one completed.
  virtual int32_t FirstFrame() const { return 0; }
  // Preview only (draw, write nothing), read at every step.
  virtual bool PreviewOnly() const = 0;
  // Empties the editor's two motion logs.
  virtual void ClearMotionLogs() = 0;
  // Preview: one drawing that applies the frame's camera motion.
  virtual void DrawPreviewFrame() = 0;
  // Generation: the two drawings, CaptureFrame, the segmentation passes and
  // the segmentation map. May throw Error (a file that cannot be written).
  virtual void GenerateFrame() = 0;
  // Called when a run ends: per-run buffers may be released.
  virtual void RunEnded() {}
};

// What a run tells its host (the desktop's timer, progress bar and windows;
// the command line's progress). Unset members are skipped, except showError:
// without it the error propagates to the caller (after the driver has
// returned to Idle).
struct SequenceObserver {
  std::function<void(int intervalMs)> startTimer;  // set the interval, enable
  std::function<void()> stopTimer;                 // disable
  std::function<void(int)> setProgressMax;
  std::function<void(int)> setProgressPosition;
  std::function<void(bool running)> runningChanged;  // a run began its frames, or ended
  std::function<void()> starting;                    // a start was asked for, before the preparation
  std::function<void()> prepared;                    // the preparation succeeded, before the first frame
  std::function<void(const std::string&)> showError;  // the message of a failed step
  std::function<void()> runEnded;                      // after the end of a run
};

class SequenceDriver {
 public:
  enum class State { Idle, Running, Stopping };

  static constexpr int kGenerationIntervalMs = 20;
  static constexpr int kPreviewIntervalMs = 200;

  explicit SequenceDriver(FrameSource& source, SequenceObserver observer = {});
  ~SequenceDriver();
  SequenceDriver(const SequenceDriver&) = delete;
  SequenceDriver& operator=(const SequenceDriver&) = delete;

  SequenceObserver& Observer() { return observer_; }

  // The Start/Stop command. Idle: progress 0, renderer to
  // the front, Start(), caption "Stop", SequenceRunning. Otherwise: request a
  // stop (the run ends after the next step; a second press changes nothing).
  // A failed preparation leaves the driver Idle and is reported.
  void StartStop();

  // The start of a run: prepare the scene, progress maximum =
  // frame count, FrameCounter = the source's first frame, hide the developer controls, clear the
  // motion logs, enable the timer. May throw Error from the preparation.
  void Start();

  // Ends a run at once, between steps (the scene is about to change under
  // it). Files already written stay. True when a run was going.
  bool Abort();

  // One frame step (the frame timer fired).
  void Tick();

  // Runs the steps back to back while the timer is enabled (no waiting);
  // returns when the run has ended.
  void RunToEnd();

  // StartStop() then RunToEnd(): one whole run. True when it ended without
  // an error (a stop request also counts as a normal end).
  bool Run();

  State GetState() const;
  bool SequenceRunning() const { return sequenceRunning_; }
  bool StopRequested() const { return stopRequested_; }
  bool TimerEnabled() const { return timerEnabled_; }
  int TimerInterval() const { return timerInterval_; }
  // Frames captured to files since the last start (not counting previews).
  std::size_t FramesWritten() const { return framesWritten_; }
  // Frames made (drawn or written) since the last start.
  std::size_t FramesMade() const { return framesMade_; }
  // The message of the error that ended the last run, empty if none.
  const std::string& LastError() const { return lastError_; }
  // The last run (or its preparation) ended by Cancelled from the source:
  // a stop in the middle of a step, not an error.
  bool WasCancelled() const { return cancelled_; }

 private:
  void EndRun();
  void StopTimer();
  void StartTimer();
  void Fail(const std::string& message);

  FrameSource& source_;
  SequenceObserver observer_;
  bool sequenceRunning_ = false;
  bool stopRequested_ = false;
  bool timerEnabled_ = false;
  bool inStep_ = false;
  int timerInterval_ = kGenerationIntervalMs;
  std::size_t framesWritten_ = 0;
  std::size_t framesMade_ = 0;
  std::string lastError_;
  bool cancelled_ = false;
};

}  // namespace tovimar
