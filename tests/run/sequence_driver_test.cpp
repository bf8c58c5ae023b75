// The sequence driver's state machine against a fake renderer.
#include "run/sequence_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scene/notifier.h"

namespace tovimar {
namespace {

struct FakeSource : FrameSource {
  std::size_t frames = 3;
  int32_t counter = -1;
  bool preview = false;
  int failOnFrame = -1;  // GenerateFrame throws for this FrameCounter
  bool failPrepare = false;
  std::vector<std::string> log;

  void PrepareSequence() override {
    log.push_back("prepare");
    if (failPrepare) throw Error("'x' is not a valid floating point value");
    counter = -1;  // the rendering set-up resets it
  }
  std::size_t FrameCount() const override { return frames; }
  int32_t& FrameCounter() override { return counter; }
  bool PreviewOnly() const override { return preview; }
  void ClearMotionLogs() override { log.push_back("clear-logs"); }
  void DrawPreviewFrame() override { log.push_back("preview " + std::to_string(counter)); }
  void GenerateFrame() override {
    if (counter == failOnFrame) throw Error("Cannot create file /x/left_0001.bmp");
    log.push_back("frame " + std::to_string(counter));
  }
  void RunEnded() override { log.push_back("ended"); }
};

struct Recorder {
  std::vector<std::string> events;
  int progress = -100, progressMax = -100;
  bool running = false;
  SequenceObserver Observer(bool withErrors = true) {
    SequenceObserver h;
    h.startTimer = [this](int ms) { events.push_back("timer on " + std::to_string(ms)); };
    h.stopTimer = [this] { events.push_back("timer off"); };
    h.setProgressMax = [this](int m) { progressMax = m; };
    h.setProgressPosition = [this](int p) { progress = p; };
    h.runningChanged = [this](bool r) { running = r; };
    h.starting = [this] { events.push_back("starting"); };
    h.prepared = [this] { events.push_back("prepared"); };
    if (withErrors) h.showError = [this](const std::string& m) { events.push_back("error: " + m); };
    return h;
  }
};

TEST(SequenceDriver, WholeRunMakesEveryFrameThenEnds) {
  FakeSource src;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);

  drv.StartStop();
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Running);
  EXPECT_TRUE(rec.running);
  EXPECT_EQ(rec.progress, 0);
  EXPECT_EQ(rec.progressMax, 3);
  EXPECT_EQ(src.counter, 0);
  EXPECT_TRUE(drv.TimerEnabled());
  EXPECT_EQ(src.log, (std::vector<std::string>{"prepare", "clear-logs"}));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"starting", "prepared", "timer on 20"}));

  for (int k = 0; k < 3; ++k) {
    drv.Tick();
    EXPECT_EQ(src.counter, k + 1);
    EXPECT_EQ(rec.progress, k + 1);
    EXPECT_TRUE(drv.TimerEnabled());
  }
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Running);
  drv.Tick();  // the tick after the last frame ends the run
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  EXPECT_EQ(src.counter, -1);
  EXPECT_FALSE(rec.running);
  EXPECT_EQ(rec.progress, 3);  // keeps its last position
  EXPECT_FALSE(drv.TimerEnabled());
  EXPECT_EQ(drv.FramesWritten(), 3u);
  EXPECT_EQ(src.log, (std::vector<std::string>{"prepare", "clear-logs", "frame 0", "frame 1",
                                                "frame 2", "ended"}));
}

TEST(SequenceDriver, StopAfterAFrameWritesOneMoreThenEnds) {
  FakeSource src;
  src.frames = 5;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  drv.StartStop();
  drv.Tick();  // frame 0
  drv.Tick();  // frame 1
  drv.StartStop();
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Stopping);
  drv.StartStop();  // a second press changes nothing
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Stopping);
  EXPECT_EQ(src.counter, 2);
  drv.Tick();  // frame 2 is still made, not counted
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  EXPECT_EQ(src.log.back(), "ended");
  EXPECT_EQ(src.log[src.log.size() - 2], "frame 2");
  EXPECT_EQ(src.counter, -1);
  EXPECT_EQ(rec.progress, 2);
  EXPECT_FALSE(rec.running);
  EXPECT_FALSE(drv.TimerEnabled());
  drv.Tick();  // a stray tick while idle draws nothing
  EXPECT_EQ(src.log.back(), "ended");
  EXPECT_EQ(std::count(src.log.begin(), src.log.end(), "prepare"), 1);
}

TEST(SequenceDriver, StopAfterTheLastFrameEndsWithoutAnotherFrame) {
  FakeSource src;
  src.frames = 2;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  drv.StartStop();
  drv.Tick();
  drv.Tick();
  drv.StartStop();
  drv.Tick();
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  EXPECT_EQ(drv.FramesWritten(), 2u);
  EXPECT_EQ(rec.progress, 2);
}

TEST(SequenceDriver, SceneWithoutFramesEndsAtTheFirstTick) {
  FakeSource src;
  src.frames = 0;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  EXPECT_TRUE(drv.Run());
  EXPECT_EQ(drv.FramesMade(), 0u);
  EXPECT_EQ(src.log, (std::vector<std::string>{"prepare", "clear-logs", "ended"}));
  EXPECT_FALSE(rec.running);
}

TEST(SequenceDriver, PreviewSwitchTakesEffectAtTheNextStep) {
  FakeSource src;
  src.frames = 4;
  src.preview = true;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  drv.StartStop();
  drv.Tick();
  EXPECT_EQ(drv.TimerInterval(), 200);
  EXPECT_EQ(rec.events.back(), "timer on 200");
  src.preview = false;
  drv.Tick();
  EXPECT_EQ(drv.TimerInterval(), 20);
  EXPECT_EQ(rec.events.back(), "timer on 20");
  src.preview = true;
  drv.RunToEnd();
  EXPECT_EQ(src.log, (std::vector<std::string>{"prepare", "clear-logs", "preview 0", "frame 1",
                                                "preview 2", "preview 3", "ended"}));
  EXPECT_EQ(drv.FramesWritten(), 1u);
  EXPECT_EQ(drv.FramesMade(), 4u);
  // Each step stops the timer before it works and restarts it at its end.
  EXPECT_EQ(rec.events[3], "timer off");
}

TEST(SequenceDriver, WriteErrorEndsTheRunAndANewRunCanStart) {
  FakeSource src;
  src.failOnFrame = 1;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  EXPECT_FALSE(drv.Run());
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  EXPECT_FALSE(rec.running);
  EXPECT_EQ(src.counter, -1);
  EXPECT_FALSE(drv.TimerEnabled());
  EXPECT_EQ(rec.events.back(), "error: Cannot create file /x/left_0001.bmp");
  EXPECT_EQ(drv.LastError(), "Cannot create file /x/left_0001.bmp");
  EXPECT_EQ(drv.FramesWritten(), 1u);

  src.failOnFrame = -1;
  EXPECT_TRUE(drv.Run());
  EXPECT_EQ(drv.FramesWritten(), 3u);
  EXPECT_TRUE(drv.LastError().empty());
}

TEST(SequenceDriver, ErrorsPropagateWithoutAnErrorHook) {
  FakeSource src;
  src.failOnFrame = 0;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer(false));
  drv.StartStop();
  EXPECT_THROW(drv.Tick(), Error);
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  EXPECT_FALSE(rec.running);
}

TEST(SequenceDriver, FailedPreparationStaysIdle) {
  FakeSource src;
  src.failPrepare = true;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  drv.StartStop();
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  EXPECT_FALSE(rec.running);
  EXPECT_FALSE(drv.TimerEnabled());
  EXPECT_EQ(rec.events.back(), "error: 'x' is not a valid floating point value");
  src.failPrepare = false;
  drv.StartStop();  // the button starts a run again
  EXPECT_EQ(drv.GetState(), SequenceDriver::State::Running);
}

TEST(SequenceDriver, EveryRunStartsAfresh) {
  FakeSource src;
  Recorder rec;
  SequenceDriver drv(src, rec.Observer());
  drv.StartStop();
  drv.Tick();
  drv.StartStop();
  drv.Tick();
  ASSERT_EQ(drv.GetState(), SequenceDriver::State::Idle);
  src.log.clear();
  EXPECT_TRUE(drv.Run());
  EXPECT_EQ(src.log, (std::vector<std::string>{"prepare", "clear-logs", "frame 0", "frame 1",
                                                "frame 2", "ended"}));
}

}  // namespace
}  // namespace tovimar
