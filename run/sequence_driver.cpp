#include "run/sequence_driver.h"

#include <exception>

#include "scene/notifier.h"

namespace tovimar {

SequenceDriver::SequenceDriver(FrameSource& source, SequenceObserver observer)
    : source_(source), observer_(std::move(observer)) {}

SequenceDriver::~SequenceDriver() = default;

SequenceDriver::State SequenceDriver::GetState() const {
  if (!sequenceRunning_) return State::Idle;
  return stopRequested_ ? State::Stopping : State::Running;
}

void SequenceDriver::StopTimer() {
  timerEnabled_ = false;
  if (observer_.stopTimer) observer_.stopTimer();
}

void SequenceDriver::StartTimer() {
  timerEnabled_ = true;
  if (observer_.startTimer) observer_.startTimer(timerInterval_);
}

void SequenceDriver::Fail(const std::string& message) {
  lastError_ = message;
  if (!observer_.showError) throw Error(message);
  observer_.showError(message);
}

void SequenceDriver::StartStop() {
  if (sequenceRunning_) {
    stopRequested_ = true;
    return;
  }
  if (observer_.setProgressPosition) observer_.setProgressPosition(0);
  if (observer_.starting) observer_.starting();
  cancelled_ = false;
  try {
    Start();
  } catch (const Cancelled&) {
    StopTimer();
    cancelled_ = true;
    return;
  } catch (const std::exception& e) {
    // The preparation failed: nothing was started.
    StopTimer();
    Fail(e.what());
    return;
  }
  if (observer_.runningChanged) observer_.runningChanged(true);
  sequenceRunning_ = true;
}

void SequenceDriver::Start() {
  lastError_.clear();
  framesWritten_ = 0;
  framesMade_ = 0;
  source_.PrepareSequence();
  if (observer_.setProgressMax) observer_.setProgressMax(static_cast<int>(source_.FrameCount()));
  source_.FrameCounter() = source_.FirstFrame();
  if (source_.FirstFrame() > 0 && observer_.setProgressPosition) observer_.setProgressPosition(source_.FirstFrame());
  if (observer_.prepared) observer_.prepared();
  source_.ClearMotionLogs();
  StartTimer();
}

void SequenceDriver::Tick() {
  if (inStep_) return;  // a step never overlaps another
  int32_t& frameCounter = source_.FrameCounter();
  // -1 (no run) taken as unsigned is beyond any frame count.
  if (static_cast<uint64_t>(static_cast<uint32_t>(frameCounter)) >= source_.FrameCount()) {
    EndRun();
    return;
  }
  StopTimer();
  inStep_ = true;
  try {
    if (source_.PreviewOnly()) {
      timerInterval_ = kPreviewIntervalMs;
      source_.DrawPreviewFrame();
    } else {
      timerInterval_ = kGenerationIntervalMs;
      source_.GenerateFrame();
      ++framesWritten_;
    }
    ++framesMade_;
  } catch (const Cancelled&) {
    // A stop in the middle of the frame: the run ends without an error.
    inStep_ = false;
    cancelled_ = true;
    EndRun();
    return;
  } catch (const std::exception& e) {
    // A file that cannot be written ends the run; what was written stays.
    inStep_ = false;
    EndRun();
    Fail(e.what());
    return;
  }
  inStep_ = false;
  if (stopRequested_) {
    EndRun();
    return;
  }
  StartTimer();
  ++frameCounter;
  if (observer_.setProgressPosition) observer_.setProgressPosition(frameCounter);
}

bool SequenceDriver::Abort() {
  if (!sequenceRunning_) return false;
  EndRun();
  return true;
}

void SequenceDriver::EndRun() {
  StopTimer();
  if (observer_.runningChanged) observer_.runningChanged(false);
  source_.FrameCounter() = -1;
  stopRequested_ = false;
  const bool wasRunning = sequenceRunning_;
  sequenceRunning_ = false;
  if (wasRunning) {
    source_.RunEnded();
    if (observer_.runEnded) observer_.runEnded();
  }
}

void SequenceDriver::RunToEnd() {
  while (timerEnabled_) Tick();
}

bool SequenceDriver::Run() {
  StartStop();
  if (!sequenceRunning_) return false;
  RunToEnd();
  return lastError_.empty();
}

}  // namespace tovimar
