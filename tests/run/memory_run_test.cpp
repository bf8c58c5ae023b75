// The in-memory run of both cameras side by side (the right camera's session
// on a thread of its own, its random state stepped past the left run) gives
// the frames a single session writes as files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "io/pfm.h"
#include "io/png.h"
#include "io/text.h"
#include "layout/file_names.h"
#include "run/memory_run.h"
#include "run/run_session.h"
#include "tests/support/test_files.h"
#include "tests/support/collecting_notifier.h"

namespace tovimar {
namespace {

TEST(MemoryRun, BothCamerasSideBySideGiveTheFilesOfOneSession) {
  TempDir tmp;
  testing::CollectingNotifier notifier;
  const std::vector<std::string> lines = SceneFile("tests/golden/scenes/planes_noise.txt");
  SceneInput scene;
  scene.name = "planes_noise.txt";
  for (const std::string& line : lines) scene.bytes += line + "\n";
  scene.directory = tmp.path() + "/0/";
  RunOptions options;
  options.width = 96;
  options.height = 72;
  options.cameras = CameraChoice::Both;
  options.outputs.pfm = true;
  options.outputs.masks = true;
  {
    RunSession files(options, notifier);
    ASSERT_EQ(files.Open(scene), "");
    for (const bool right : {false, true}) ASSERT_EQ(files.Run(right).error, "") << right;
  }
  MemoryProducts products;
  products.masks = true;
  MemoryRun memory(options, products, notifier, nullptr);
  memory.Open(scene);
  MemoryFrame frame;
  int frames = 0;
  while (memory.Next(frame)) {
    ++frames;
    for (const bool right : {false, true}) {
      const CameraProducts& c = right ? *frame.right : *frame.left;
      const FrameFileNames classic = MakeFrameFileNames(scene.directory, right, frame.frame);
      const DatasetFileNames n = MakeDatasetFileNames(scene.directory, DatasetLayout::Classic, right, frame.frame);
      const TestPicture image = ReadBmp24(classic.cameraImage);
      ASSERT_EQ(image.width, 96);
      int differ = 0;
      for (int y = 0; y < 72; ++y)
        for (int x = 0; x < 96; ++x)
          for (int k = 0; k < 3; ++k) differ += c.frame.cameraImage.Row(y)[3 * x + 2 - k] != image.At(x, y)[k];
      EXPECT_EQ(differ, 0) << "the camera image, frame " << frame.frame << (right ? " right" : " left");
      EXPECT_EQ(c.frame.truth.disparity, ReadPfm(n.disparityPfm).values);
      const PngImage mask = ReadPng(n.mask);
      EXPECT_EQ(std::vector<uint16_t>(c.mask.begin(), c.mask.end()), mask.samples);
    }
  }
  EXPECT_EQ(frames, 3);
}

}  // namespace
}  // namespace tovimar
