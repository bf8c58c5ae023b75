// The two-thread paths of frame generation: the chunk runner itself and the
// camera noise against AddPixelNoise channel by channel.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "render/rig_state.h"
#include "truth/camera_noise.h"
#include "truth/ground_truth.h"
#include "base/job_thread.h"
#include "base/parallel_chunks.h"

namespace tovimar {
namespace {

// The plain loop: channels in read-back order, rows flipped, blue-green-red.
BmpImage24 ReferenceNoise(const std::vector<uint8_t>& rgb, int w, int h, double sigma, RandomState& random) {
  BmpImage24 image(w, h);
  for (int i = 0; i < h; ++i) {
    for (int x = 0; x < w; ++x) {
      const uint8_t* src = rgb.data() + (static_cast<std::size_t>(i) * w + x) * 3;
      uint8_t* dst = image.Row(h - 1 - i) + 3 * x;
      for (int c = 0; c < 3; ++c) dst[2 - c] = static_cast<uint8_t>(AddPixelNoise(src[c], sigma, random));
    }
  }
  return image;
}

TEST(ForEachChunk, EveryChunkOnceAndAFailureRethrownAfterTheOthersEnd) {
  // Many short calls one after another: a helper still holding an earlier
  // call must neither run its chunks again nor take chunks of the next.
  for (int round = 0; round < 300; ++round) {
    const int count = round % 37;
    std::vector<std::atomic<int>> runs(static_cast<std::size_t>(count));
    ForEachChunk(count, [&runs](int c) { runs[static_cast<std::size_t>(c)].fetch_add(1); });
    for (int c = 0; c < count; ++c) ASSERT_EQ(runs[static_cast<std::size_t>(c)].load(), 1) << round << " " << c;
  }
  std::atomic<int> running{0};
  std::atomic<int> ended{0};
  try {
    ForEachChunk(64, [&](int c) {
      running.fetch_add(1);
      if (c == 5) throw std::runtime_error("chunk 5");
      ended.fetch_add(1);
    });
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "chunk 5");
  }
  EXPECT_EQ(running.load(), ended.load() + 1) << "every begun chunk had ended";
}

// Ctrl-C and SIGTERM go to the thread that checks for a stop, never to a
// worker: the chunk helper and the job thread block them.
TEST(ForEachChunk, WorkerThreadsDoNotTakeStopSignals) {
  auto stopSignalsBlocked = [] {
    sigset_t mask;
    pthread_sigmask(SIG_SETMASK, nullptr, &mask);
    return sigismember(&mask, SIGINT) == 1 && sigismember(&mask, SIGTERM) == 1;
  };
  ASSERT_FALSE(stopSignalsBlocked());
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<int> helperChunks{0};
  std::atomic<bool> helperBlocked{true};
  // Chunks that wait a little, so the helper takes some of them.
  ForEachChunk(64, [&](int) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (std::this_thread::get_id() == caller) return;
    helperChunks.fetch_add(1);
    if (!stopSignalsBlocked()) helperBlocked.store(false);
  });
  EXPECT_GT(helperChunks.load(), 0);
  EXPECT_TRUE(helperBlocked.load());
  std::atomic<bool> jobBlocked{false};
  JobThread job;
  job.Submit([&] { jobBlocked.store(stopSignalsBlocked()); });
  job.Wait();
  EXPECT_TRUE(jobBlocked.load());
  EXPECT_FALSE(stopSignalsBlocked()) << "the caller's mask is as it was";
}

TEST(CameraNoise, SamePictureAndGeneratorStateAsThePlainLoop) {
  struct Case {
    int w, h;
    double sigma;
    int planeSteps;  // plane drawings before the frame change the state's low word
  };
  // One pixel; sizes around the row blocks and the four-pair steps; sigmas
  // that clamp at both ends; states other than the start.
  const Case cases[] = {{1, 1, 2.0, 0},  {3, 1, 2.0, 1},    {37, 13, 3.5, 2}, {64, 9, 1.0, 0},
                        {5, 17, 40.0, 7}, {31, 8, 300.0, 3}, {2, 2, 0.001, 0}, {128, 33, 2.0, 5}};
  std::vector<uint32_t> draws;  // reused, as a run reuses it
  BmpImage24 fast;
  for (const Case& c : cases) {
    std::vector<uint8_t> rgb(static_cast<std::size_t>(c.w) * c.h * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i % 7 == 0 ? 0 : i % 11 == 0 ? 255 : i * 37);
    RandomState a, b;
    for (int s = 0; s < c.planeSteps; ++s) a.NextPlaneShade();
    b = a;
    const BmpImage24 expected = ReferenceNoise(rgb, c.w, c.h, c.sigma, a);
    fast.Reset(c.w, c.h);
    AddCameraNoise(rgb.data(), c.w, c.h, c.sigma, b, fast, draws);
    EXPECT_EQ(fast.FileBytes(), expected.FileBytes()) << c.w << "x" << c.h << " sigma " << c.sigma;
    EXPECT_EQ(b.low, a.low) << c.w << "x" << c.h;
    EXPECT_EQ(b.high, a.high);
  }
}

}  // namespace
}  // namespace tovimar
