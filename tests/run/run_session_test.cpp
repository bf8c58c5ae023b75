// A session's runs of both cameras: the scene prepared once, no drawing but
// the ones read back, the random state on its documented schedule, and the
// second camera's masks made without a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/png.h"
#include "layout/file_names.h"
#include "render/renderer.h"
#include "run/run_session.h"
#include "tests/support/test_files.h"
#include "tests/support/collecting_notifier.h"

namespace tovimar {
namespace {

// The golden scene with two planes, into `directory`, with or without its noise.
SceneInput GoldenScene(const std::string& directory, bool withNoise) {
  SceneInput scene;
  scene.name = "planes_noise.txt";
  scene.directory = directory;
  for (const std::string& line : SceneFile("tests/golden/scenes/planes_noise.txt"))
    if (withNoise || line.rfind("NOISE", 0) != 0) scene.bytes += line + "\n";
  return scene;
}

RunOptions SmallBothRun(const char* outputs) {
  RunOptions options;
  options.width = 96;
  options.height = 72;
  options.cameras = CameraChoice::Both;
  options.outputs = ParseOutputList(outputs);
  return options;
}

TEST(RunSession, BothCamerasPrepareOnceAndMakeTheMasksInMemory) {
  TempDir tmp;
  testing::CollectingNotifier notifier;
  const RunOptions options = SmallBothRun("png,masks");
  // The session's sequence folder cannot hold the scratch folder.
  const SceneInput scene = GoldenScene(tmp.path() + "/0/", true);
  std::filesystem::create_directories(scene.directory);
  std::ofstream(scene.directory + ".scratch") << "not a folder";
  RunSession session(options, notifier);
  ASSERT_EQ(session.Open(scene), "");
  for (const bool right : {false, true}) ASSERT_EQ(session.Run(right).error, "") << right;
  const Renderer::WorkCounts& work = session.RendererInUse()->Work();
  EXPECT_EQ(work.scenePreparations, 1);
  EXPECT_EQ(work.textureLoads, 1);
  EXPECT_EQ(work.drawings, 2u * 3u) << "one drawing per camera and frame";

  // Every frame has both masks (equal to those made from the files: the
  // golden test and KeptViews' own test compare them).
  for (int32_t frame = 0; frame < 3; ++frame)
    for (const bool right : {false, true})
      EXPECT_EQ(ReadPng(MakeDatasetFileNames(scene.directory, DatasetLayout::Classic, right, frame).mask).width, 96);
}

// The schedule of random steps, P being the scene's drawn planes (2 here):
// the session's preparation P, each camera run's preparation P and P more
// for the switch to the right camera, each frame 2P for its two colour
// drawings (one of them not made) and the segmentation's redraws: P less
// the planes of the id, for each id in use (ids 7 and 8 have a plane each,
// 30, 31 and 32 none: 1 + 1 + 2 + 2 + 2).
TEST(RunSession, TheRandomStateStepsOnItsSchedule) {
  TempDir tmp;
  testing::CollectingNotifier notifier;
  const uint64_t planes = 2, segmentation = 8;
  std::vector<FrameProducts> frames;
  RunSession session(SmallBothRun("png"), notifier);
  session.SetFrameSink([&frames](FrameProducts& made) { frames.push_back(made); }, false);
  ASSERT_EQ(session.Open(GoldenScene(tmp.path() + "/0/", false)), "");
  for (const bool right : {false, true}) ASSERT_EQ(session.Run(right).error, "") << right;
  ASSERT_EQ(frames.size(), 6u);
  RandomState expected;
  expected.SkipPlaneShades(2 * planes);
  for (const FrameProducts& frame : frames) {
    if (frame.right && frame.frame == 0) expected.SkipPlaneShades(2 * planes);
    EXPECT_EQ(frame.randomAtStart.low, expected.low) << frame.right << frame.frame;
    EXPECT_EQ(frame.randomAtStart.high, expected.high) << frame.right << frame.frame;
    expected.SkipPlaneShades(2 * planes + segmentation);
    EXPECT_EQ(frame.randomAtEnd.low, expected.low) << frame.right << frame.frame;
    EXPECT_EQ(frame.randomAtEnd.high, expected.high) << frame.right << frame.frame;
  }
}

}  // namespace
}  // namespace tovimar
