// The dataset's records without rendering: KITTI-layout runs of frames made
// by hand, where a stopped run's manifest lets the next one go on, what the
// manifest counts and records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "base/error.h"
#include "io/png.h"
#include "render/camera.h"
#include "layout/output_choice.h"
#include "truth/camera_geometry.h"
#include "truth/frame_truth.h"
#include "truth/ground_truth.h"
#include "dataset/dataset_run.h"
#include "dataset/manifest.h"
#include "tests/support/test_files.h"
#include "tests/support/truth_rows.h"

namespace tovimar {
namespace {

// A left run of 8x6 frames with the given outputs.
RunDescription SmallRun(const char* outputs) {
  RunDescription run;
  run.width = 8;
  run.height = 6;
  run.outputs = ParseOutputList(outputs);
  return run;
}

constexpr Mat4 kIdentity4{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// A camera run of the KITTI layout without rendering: its frames' truth made
// by hand, written by DatasetRun into `dir`.
RunDescription KittiRun(bool right, int width, int height, const char* outputs, int frames) {
  RunDescription run;
  run.rightCamera = right;
  run.width = width;
  run.height = height;
  run.focalLength = 200;
  run.baseline = 1;
  run.intrinsics = {200, 200, 0.5 * (width - 1), 0.5 * (height - 1)};
  run.outputs = ParseOutputList(outputs);
  run.outputs.layout = DatasetLayout::Kitti;
  run.sceneSha256 = "synthetic";
  run.plannedCameras = "both";
  run.frameCount = frames;
  return run;
}

void WriteKittiFrame(DatasetRun& run, int32_t frame, FrameTruth truth, const Mat4& cameraToWorld = kIdentity4) {
  FrameRecord record;
  record.frame = frame;
  record.cameraToWorld = cameraToWorld;
  run.WriteFrame(record, truth, BmpImage24(truth.width, truth.height));
}

std::vector<uint16_t> Png16(const std::string& path) { return ReadPng(path).samples; }

// KITTI's non-occluded disparity of both views, made by the second camera's
// run from its own disparity and the first's 16-bit file: the row of the box
// before the wall above, where a view that read the other at twice its
// disparity would find other pixels hidden.
TEST(OcclusionMask, KittiNonOccludedDisparityOfBothViews) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  const int W = 24;
  std::vector<float> left(W, 2.0f), right(W, 2.0f);
  for (int x = 10; x <= 14; ++x) left[static_cast<std::size_t>(x)] = 6.0f;
  for (int x = 4; x <= 8; ++x) right[static_cast<std::size_t>(x)] = 6.0f;
  for (const bool camera : {false, true}) {
    DatasetRun run(dir, KittiRun(camera, W, 1, "kitti", 1), "synthetic");
    WriteKittiFrame(run, 0, Row(camera ? right : left, std::vector<uint8_t>(W, 1)));
    run.End(true);
  }
  // round(256 d) where the other view sees the point, 0 where it does not.
  auto expected = [](const std::vector<float>& d, const std::string& classes) {
    std::vector<uint16_t> out(d.size(), 0);
    for (std::size_t x = 0; x < d.size(); ++x) out[x] = classes[x] == 'v' ? static_cast<uint16_t>(256 * d[x]) : 0;
    return out;
  };
  const DatasetFileNames l = MakeDatasetFileNames(dir, DatasetLayout::Kitti, false, 0);
  const DatasetFileNames r = MakeDatasetFileNames(dir, DatasetLayout::Kitti, true, 0);
  EXPECT_EQ(Png16(l.disparityNoc16), expected(left, "oovvvvoooovvvvvvvvvvvvvv"));
  EXPECT_EQ(Png16(r.disparityNoc16), expected(right, "vvvvvvvvvoooovvvvvvvvvoo"));
  EXPECT_EQ(Png16(l.disparity16), expected(left, std::string(W, 'v'))) << "disp_occ holds every value";
}

// The second camera's masks made from the first camera's views kept in
// memory equal those made from its files read back, in each layout with
// masks: a valid pixel at the far plane's disparity (no ground truth in the
// classic files), one beyond KITTI's 16 bits, one without ground truth. The
// memory path writes no scratch file (its folder cannot hold one here) and
// forgets each view once its masks are made.
TEST(KeptViews, MasksFromMemoryEqualMasksFromTheFiles) {
  struct Case {
    DatasetLayout layout;
    const char* outputs;
  };
  const Case cases[] = {{DatasetLayout::Classic, "png,masks"},
                        {DatasetLayout::Classic, "pfm,masks"},
                        {DatasetLayout::Middlebury, "png"},
                        {DatasetLayout::Kitti, "kitti"}};
  const int W = 24;
  const float far = static_cast<float>(DisparityFromDepth(1.0f, 1.0, 200.0));
  std::vector<float> left(W, 2.0f), right(W, 2.0f);
  for (int x = 10; x <= 14; ++x) left[static_cast<std::size_t>(x)] = 6.0f;
  for (int x = 4; x <= 8; ++x) right[static_cast<std::size_t>(x)] = 6.0f;
  left[17] = far;
  right[15] = 300.0f;
  // Where nothing was drawn the disparity is the far plane's.
  std::vector<uint8_t> leftValid(W, 1), rightValid(W, 1);
  leftValid[21] = rightValid[1] = 0;
  left[21] = right[1] = far;
  for (const Case& c : cases) {
    TempDir memory, files;
    std::ofstream(memory.path() + "/.scratch") << "not a folder";
    KeptViews kept;
    for (const bool camera : {false, true}) {
      for (const bool inMemory : {true, false}) {
        RunDescription run = KittiRun(camera, W, 1, c.outputs, 1);
        run.outputs.layout = c.layout;
        const std::string dir = (inMemory ? memory.path() : files.path()) + "/";
        if (inMemory && !camera) kept.Begin(dir, run);
        DatasetRun dataset(dir, run, "synthetic", inMemory ? &kept : nullptr);
        WriteKittiFrame(dataset, 0, Row(camera ? right : left, camera ? rightValid : leftValid));
        dataset.End(true);
      }
    }
    for (const bool camera : {false, true}) {
      const DatasetFileNames m = MakeDatasetFileNames(memory.path() + "/", c.layout, camera, 0);
      const DatasetFileNames f = MakeDatasetFileNames(files.path() + "/", c.layout, camera, 0);
      const bool kitti = c.layout == DatasetLayout::Kitti;
      const PngImage fromMemory = ReadPng(kitti ? m.disparityNoc16 : m.mask);
      EXPECT_EQ(fromMemory.samples, ReadPng(kitti ? f.disparityNoc16 : f.mask).samples) << c.outputs << camera;
    }
    EXPECT_EQ(kept.Bytes(), 0u) << c.outputs;
  }
}

// Beyond the budget the first camera's frames take the scratch file, which
// the second camera's run reads back.
TEST(KeptViews, FramesBeyondTheBudgetGoThroughTheScratchFile) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  const int W = 8;
  KeptViews kept(W * (sizeof(float) + 1));  // one frame of 8x1
  for (const bool camera : {false, true}) {
    RunDescription run = KittiRun(camera, W, 1, "png,masks", 2);
    run.outputs.layout = DatasetLayout::Classic;
    if (!camera) kept.Begin(dir, run);
    DatasetRun dataset(dir, run, "synthetic", &kept);
    for (int32_t frame = 0; frame < 2; ++frame) {
      WriteKittiFrame(dataset, frame, Row(std::vector<float>(W, 1.0f), std::vector<uint8_t>(W, 1)));
      if (!camera) {
        EXPECT_EQ(std::filesystem::exists(MakeDatasetFileNames(dir, DatasetLayout::Classic, false, frame).scratchPfm), frame == 1)
            << "frame " << frame;
      }
    }
    dataset.End(true);
  }
  for (int32_t frame = 0; frame < 2; ++frame)
    for (const bool camera : {false, true})
      EXPECT_TRUE(std::filesystem::exists(MakeDatasetFileNames(dir, DatasetLayout::Classic, camera, frame).mask)) << frame;
  EXPECT_FALSE(std::filesystem::exists(dir + kScratchFolderName)) << "the scratch folder goes once its files are read";
}

// A run goes on only from frames whose files are all there, of the same run;
// with flow one frame earlier (its flow needs the next frame); a run that
// ended complete makes nothing and hands on the random state of its end.
TEST(Manifest, ResumePointOfAStoppedRun) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  RunDescription run;
  run.width = 8;
  run.height = 6;
  run.focalLength = 389;
  run.baseline = 0.12;
  run.sceneSha256 = "abc";
  run.outputs = ParseOutputList("classic,pfm");
  auto record = [&](SequenceManifest& m, int frames) {
    for (int f = 0; f < frames; ++f) {
      FrameRecord r;
      r.frame = f;
      r.cameraToWorld[3] = f;
      r.files = {"f" + std::to_string(f)};
      r.randomAtEnd.low = static_cast<uint32_t>(100 + f);
      std::ofstream(dir + r.files[0]) << "x";
      m.AddFrame(false, r);
    }
  };
  {
    SequenceManifest m(dir);
    m.BeginRun(run);
    record(m, 4);
    m.Save();
  }
  auto pointOf = [&](const RunDescription& r) { return SequenceManifest(dir).ResumePointOf(r, 10); };
  ResumePoint p = pointOf(run);
  ASSERT_EQ(p.kind, ResumePoint::Kind::Continue);
  EXPECT_EQ(p.frame, 4);
  EXPECT_EQ(p.random.low, 103u) << "the state at the end of the frame before";
  ASSERT_EQ(p.posesBefore.size(), static_cast<std::size_t>(p.frame));
  EXPECT_EQ(p.posesBefore.back()[3], 3.0);

  RunDescription flow = run;
  flow.outputs.flow = true;
  EXPECT_EQ(pointOf(flow).kind, ResumePoint::Kind::Start) << "other outputs: another run";
  RunDescription palette = run;
  palette.palette = true;
  EXPECT_EQ(pointOf(palette).kind, ResumePoint::Kind::Start);
  EXPECT_EQ(SequenceManifest(dir).ResumePointOf(run, 3).frame, 2) << "the last frame is made again to end the run";

  std::filesystem::remove(dir + "f2");
  p = pointOf(run);
  EXPECT_EQ(p.frame, 2) << "a frame with a missing file is made again, and all after it";
  std::filesystem::remove(dir + "f0");
  EXPECT_EQ(pointOf(run).kind, ResumePoint::Kind::Start);

  // Going on keeps the frames before the first; the ending run is complete.
  {
    SequenceManifest m(dir);
    RunDescription on = run;
    on.firstFrame = 2;
    m.BeginRun(on);
    record(m, 0);
    EXPECT_TRUE(m.HasFrame(false, 1));
    EXPECT_FALSE(m.HasFrame(false, 2));
  }
  {
    SequenceManifest m(dir);
    m.BeginRun(run);
    record(m, 10);
    m.EndRun(false, true);
    m.Save();
  }
  p = pointOf(run);
  EXPECT_EQ(p.kind, ResumePoint::Kind::Complete);
  EXPECT_EQ(p.random.low, 109u);

  flow.outputs.flow = true;
  {
    SequenceManifest m(dir);
    m.BeginRun(flow);
    record(m, 5);
    m.Save();
  }
  EXPECT_EQ(pointOf(flow).frame, 4) << "the flow of frame 4 waits for frame 5";
}

// Values that do not fit a format are counted per frame and in total: the
// flow of a frame is counted when the next frame is made, after the frame was
// recorded.
TEST(Manifest, ValuesThatDidNotFitAreCountedPerFrameAndInTotal) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  const RunDescription run = SmallRun("kitti,flow");
  SequenceManifest m(dir);
  m.BeginRun(run);
  for (int frame = 0; frame < 2; ++frame) {
    FrameRecord r;
    r.frame = frame;
    r.kitti16NotFitting = frame == 1 ? 2 : 0;
    m.AddFrame(false, r);
  }
  m.CountNotFitting(false, 0, "kittiFlow16", 7);
  m.CountNotFitting(false, 1, "kittiFlow16", 3);
  m.EndRun(false, true);
  ASSERT_NO_THROW(m.Save());
  const nlohmann::json meta = nlohmann::json::parse(ReadAll(dir + "meta.json"));
  EXPECT_EQ(meta["notFitting"]["kittiFlow16"], 10);
  EXPECT_EQ(meta["notFitting"]["kitti16"], 2);
  const auto& frames = meta["runs"]["left"]["frames"];
  EXPECT_EQ(frames[0]["notFitting"], nlohmann::json({{"kittiFlow16", 7}}));
  EXPECT_EQ(frames[1]["notFitting"], nlohmann::json({{"kitti16", 2}, {"kittiFlow16", 3}}));
}

// The KITTI layout's counts of disparities and flow that do not fit its
// 16-bit files reach meta.json, each under its own name: an 8x4 frame (its
// last row without ground truth) whose three pixel columns at depth 0.5 have
// d = 400 (disp_occ_0), whose six at depth 1 come to 0.7 at the next frame,
// d = 286 there (disp_occ_1), and whose nine at depth 1 or 2 move more than
// 512 px to the side (flow_occ).
TEST(Manifest, KittiValuesThatDidNotFitReachTheManifest) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  const int W = 8, H = 4;
  RunDescription description = KittiRun(false, W, H, "kitti,flow", 2);
  description.intrinsics.fx = description.intrinsics.fy = 1e5;  // 0.01 to the side: 1000 px / depth
  const double bf = description.baseline * description.focalLength;
  auto frameAt = [&](auto depthOfColumn) {
    FrameTruth t;
    t.width = W;
    t.height = H;
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        const float z = y == H - 1 ? static_cast<float>(kFarPlane) : depthOfColumn(x);
        t.depth.push_back(z);
        t.disparity.push_back(static_cast<float>(bf / z));
        t.valid.push_back(y == H - 1 ? 0 : 1);
      }
    }
    return t;
  };
  DatasetRun run(dir, description, "synthetic");
  WriteKittiFrame(run, 0, frameAt([](int x) { return x == 0 ? 0.5f : x <= 2 ? 1.0f : x == 3 ? 2.0f : 10.0f; }));
  // 0.3 forward (depth 0.5 goes behind the near plane) and 0.01 to the left.
  Mat4 moved = kIdentity4;
  moved[3] = -0.01;
  moved[11] = 0.3;
  WriteKittiFrame(run, 1, frameAt([](int) { return 10.0f; }), moved);
  run.End(true);
  const nlohmann::json meta = nlohmann::json::parse(ReadAll(dir + "meta.json"));
  const nlohmann::json counts = {{"kitti16", 3}, {"kittiFlow16", 9}, {"kitti16NextFrame", 6}};
  EXPECT_EQ(meta["runs"]["left"]["frames"][0]["notFitting"], counts);
  EXPECT_FALSE(meta["runs"]["left"]["frames"][1].contains("notFitting"));
  EXPECT_EQ(meta["notFitting"], counts);
  // The values themselves: this frame's disparity clamped, the next
  // frame's written as no ground truth.
  const DatasetFileNames n = MakeDatasetFileNames(dir, DatasetLayout::Kitti, false, 0);
  EXPECT_EQ(Png16(n.disparity16)[0], 65535);
  EXPECT_EQ(Png16(n.nextDisparity16)[1], 0);
  EXPECT_EQ(Png16(n.nextDisparity16)[3], static_cast<uint16_t>(std::floor(256 * bf / 1.7 + 0.5)));
}

// The poses a user reads are rigid, whatever the renderer's float matrices
// drifted to.
TEST(Manifest, PosesAreRigidMotionsNearestTheRenderersMatrix) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  const RunDescription run = SmallRun("classic");
  // A turn of 0.3 rad about z, scaled by 1 + 3e-4, a little shear, and a
  // bottom row as read back from float matrices.
  const double c = std::cos(0.3), s = std::sin(0.3), k = 1.0003;
  const Mat4 drifted = {k * c, -k * s, 2e-5, 0.5,  k * s, k * c, 0, -3.0,
                        -1e-5, 0,      k,    0.25, -3e-6, 0,     3.5e-5, 1.0000245};
  SequenceManifest m(dir);
  m.BeginRun(run);
  FrameRecord r;
  r.cameraToWorld = drifted;
  m.AddFrame(false, r);
  m.EndRun(false, true);
  m.Save();
  const nlohmann::json meta = nlohmann::json::parse(ReadAll(dir + "meta.json"));
  const auto& frame = meta["runs"]["left"]["frames"][0];
  const std::vector<double> pose = frame["pose"].get<std::vector<double>>();
  ASSERT_EQ(pose.size(), 16u);
  EXPECT_EQ(std::vector<double>(pose.begin() + 12, pose.end()), (std::vector<double>{0, 0, 0, 1}));
  for (std::size_t a = 0; a < 3; ++a) {
    for (std::size_t b = 0; b < 3; ++b) {
      double dot = 0;
      for (std::size_t i = 0; i < 3; ++i) dot += pose[i * 4 + a] * pose[i * 4 + b];
      EXPECT_NEAR(dot, a == b ? 1.0 : 0.0, 1e-14) << a << "," << b;
      EXPECT_NEAR(pose[a * 4 + b], drifted[a * 4 + b] / k, 3e-5) << "the nearest rotation";
    }
    EXPECT_NEAR(pose[a * 4 + 3], drifted[a * 4 + 3], 1e-4) << "the translation";
  }
  // The pose files are relative to the first left camera: poses_left.txt
  // starts with exactly the identity.
  const std::vector<uint8_t> poses = ReadAll(dir + "poses_left.txt");
  EXPECT_EQ(std::string(poses.begin(), poses.end()), "1 0 0 0 0 1 0 0 0 0 1 0\n");
}

// With the right camera alone, the first left camera is the right one's
// first pose moved back by the baseline: poses_right.txt starts with the
// baseline along x.
TEST(Manifest, RightPosesAreRelativeToTheFirstLeftCamera) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  RunDescription run = SmallRun("classic");
  run.baseline = 0.25;
  SequenceManifest m(dir);
  m.BeginRun(run);
  FrameRecord r;
  const double c = std::cos(0.3), s = std::sin(0.3);
  r.cameraToWorld = {c, -s, 0, 0.5, s, c, 0, -3.0, 0, 0, 1, 0.25, 0, 0, 0, 1};
  m.AddFrame(true, r);
  m.EndRun(true, true);
  m.Save();
  std::ifstream poses(dir + "poses_right.txt");
  const double expected[12] = {1, 0, 0, 0.25, 0, 1, 0, 0, 0, 0, 1, 0};
  for (const double e : expected) {
    double v = 0;
    ASSERT_TRUE(poses >> v);
    EXPECT_NEAR(v, e, 1e-12);
  }
}

// meta.json is untrusted input: a record edited by hand or damaged is
// treated as absent (and says why), never dereferenced; the next run
// replaces it. A file made again is listed once.
TEST(Manifest, AnEditedOrDamagedRecordIsTreatedAsAbsent) {
  TempDir tmp;
  const std::string dir = tmp.path() + "/";
  RunDescription left;
  left.width = 8;
  left.height = 6;
  left.sceneSha256 = "abc";
  RunDescription right = left;
  right.rightCamera = true;
  auto record = [&](const RunDescription& run) {
    SequenceManifest m(dir);
    m.BeginRun(run);
    for (int f = 0; f < 3; ++f) {
      FrameRecord r;
      r.frame = f;
      r.files = {"f" + std::to_string(f)};
      r.minDisparity = 1;
      r.maxDisparity = 2;
      std::ofstream(dir + r.files[0]) << "x";
      std::ofstream(dir + "mask") << "x";
      m.AddFrame(run.rightCamera, r);
      m.AddFiles(run.rightCamera, f, {"mask"});
      m.AddFiles(run.rightCamera, f, {"mask"});
      m.CountNotFitting(run.rightCamera, f, "kitti16", 2);
    }
    m.EndRun(run.rightCamera, false);
    m.Save();
  };
  record(left);
  record(right);
  using Json = nlohmann::json;
  const Json good = Json::parse(ReadFileBytes(dir + "meta.json"));
  EXPECT_EQ(good["runs"]["right"]["frames"][0]["files"], Json::array({"f0", "mask"}));
  EXPECT_EQ(good["runs"]["right"]["frames"][2]["notFitting"]["kitti16"], 2);
  EXPECT_EQ(good["notFitting"]["kitti16"], 12);
  EXPECT_EQ(SequenceManifest(dir).ReadProblem(), "");
  EXPECT_EQ(SequenceManifest(dir).ResumePointOf(left, 10).frame, 3);
  {
    // A random state edited (or damaged) into another valid one no longer
    // matches its check: the frame and all after it are made again.
    Json doc = good;
    doc["runs"]["left"]["frames"][1]["randomStateAtEnd"]["low"] = 7;
    const std::string text = doc.dump(1);
    WriteWholeFile(dir + "meta.json", text.data(), text.size());
    EXPECT_EQ(SequenceManifest(dir).ReadProblem(), "");
    EXPECT_EQ(SequenceManifest(dir).ResumePointOf(left, 10).frame, 1);
  }

  const std::vector<std::pair<const char*, std::function<void(Json&)>>> edits = {
      {"empty disparity range", [](Json& j) { j["runs"]["right"]["frames"][1]["disparityRange"] = Json::array(); }},
      {"no pose", [](Json& j) { j["runs"]["right"]["frames"][0].erase("pose"); }},
      {"short pose", [](Json& j) { j["runs"]["left"]["frames"][2]["pose"] = Json::array({1, 2}); }},
      {"width as text", [](Json& j) { j["width"] = "8"; }},
      {"no intrinsics", [](Json& j) { j.erase("intrinsics"); }},
      {"frames not a list", [](Json& j) { j["runs"]["left"]["frames"] = 3; }},
      {"a file outside", [](Json& j) { j["runs"]["left"]["frames"][0]["files"][0] = "../f0"; }},
      {"a camera named as a path", [](Json& j) { j["runs"]["../x"] = j["runs"]["left"]; }},
      {"a negative random state", [](Json& j) { j["runs"]["left"]["frames"][0]["randomStateAtEnd"]["low"] = -1; }},
      {"complete as text", [](Json& j) { j["runs"]["left"]["complete"] = "true"; }},
      {"not an object", [](Json& j) { j = Json::array({1}); }},
  };
  for (const auto& [what, edit] : edits) {
    Json doc = good;
    edit(doc);
    const std::string text = doc.dump(1);
    WriteWholeFile(dir + "meta.json", text.data(), text.size());
    SequenceManifest m(dir);
    EXPECT_NE(m.ReadProblem(), "") << what;
    EXPECT_FALSE(m.HasAnyFrame()) << what;
    EXPECT_EQ(m.ResumePointOf(left, 10).kind, ResumePoint::Kind::Start) << what;
    EXPECT_NO_THROW({
      m.BeginRun(left);
      m.EndRun(false, false);
      m.Save();
    }) << what;
    EXPECT_EQ(SequenceManifest(dir).ReadProblem(), "") << what << ": written afresh";
  }
  // Too large to be a manifest: refused before it is read.
  std::ofstream(dir + "meta.json", std::ios::trunc).close();
  ASSERT_EQ(::truncate((dir + "meta.json").c_str(), static_cast<off_t>(SequenceManifest::kMaxFileBytes + 1)), 0);
  EXPECT_NE(SequenceManifest(dir).ReadProblem().find("bytes"), std::string::npos);
}

}  // namespace
}  // namespace tovimar
