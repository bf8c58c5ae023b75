// A session's runs of both cameras: the scene prepared once, no drawing but
// the ones read back, the random state on its documented schedule, and the
// second camera's masks made from the first camera's views in memory.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "io/png.h"
#include "layout/file_names.h"
#include "render/renderer.h"
#include "sequence/run_session.h"
#include "test_files.h"
#include "tests/support/collecting_notifier.h"

namespace tovimar {
namespace {

SceneInput GoldenScene(const std::string& directory, bool withNoise) {
  SceneInput scene;
  scene.name = "planes_noise.txt";
  for (const std::string& line : SceneFile("tests/golden/scenes/planes_noise.txt"))
    if (withNoise || line.rfind("NOISE", 0) != 0) scene.bytes += line + "\n";
  scene.directory = directory;
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

  // A run of each camera in a session of its own: the right one reads the
  // left view back from the files.
  const SceneInput apart = GoldenScene(tmp.path() + "/1/", true);
  for (const CameraChoice camera : {CameraChoice::Left, CameraChoice::Right}) {
    RunOptions one = options;
    one.cameras = camera;
    RunSession single(one, notifier);
    ASSERT_EQ(single.Open(apart), "");
    ASSERT_EQ(single.Run(camera == CameraChoice::Right).error, "");
  }
  for (int32_t frame = 0; frame < 3; ++frame) {
    for (const bool right : {false, true}) {
      const std::string mask = MakeDatasetFileNames(scene.directory, DatasetLayout::Classic, right, frame).mask;
      const std::string read = MakeDatasetFileNames(apart.directory, DatasetLayout::Classic, right, frame).mask;
      EXPECT_EQ(ReadPng(mask).samples, ReadPng(read).samples) << frame << right;
    }
  }
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
