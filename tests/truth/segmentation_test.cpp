// The segmentation from flat drawings against the per-id redraws: two
// viewers run the same scene in step, one on the reference paths; after every
// frame the random states must agree, and at the end every file of the two
// runs must be the same byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "render/settings.h"
#include "render/renderer.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"
#include "truth/ground_truth.h"
#include "dataset/output_files.h"
#include "truth/segmentation.h"
#include "run/sequence_driver.h"
#include "run/render_frame_source.h"
#include "tests/support/test_files.h"
#include "tests/support/collecting_notifier.h"

namespace tovimar {
namespace {

namespace fs = std::filesystem;

using testing::QuietNotifier;

struct Config {
  int width = 64;
  int height = 48;
  bool right = false;
  bool palette = false;
  bool antiAlias = false;
  bool matrixLog = false;
  bool shown = false;  // a window shows the drawings (the desktop program)
};

// One renderer with its frame source and driver.
struct Runner {
  PlainSettings settings;
  PlainEditor editor;
  QuietNotifier notifier;
  std::unique_ptr<Renderer> renderer;
  std::unique_ptr<RenderFrameSource> source;
  std::unique_ptr<SequenceDriver> driver;
  CaptureTimings timings;
  std::string error;

  Runner(const std::vector<std::string>& lines, const Config& c, const std::string& folder, bool reference) {
    editor.lines = lines;
    editor.matrixLog = c.matrixLog;
    settings.outputFolder = folder;
    settings.rightCamera = c.right;
    settings.palette = c.palette;
    settings.antiAlias = c.antiAlias;
    renderer = std::make_unique<Renderer>(settings, editor, notifier, '.', c.width, c.height);
    if (!renderer->Initialise()) return;
    renderer->ResetViewAndDraw();
    if (c.shown) renderer->onPresented = [] {};
    source = std::make_unique<RenderFrameSource>(*renderer, settings);
    source->Buffers().referencePaths = reference;
    source->Buffers().timings = &timings;
    SequenceObserver hooks;
    hooks.showError = [this](const std::string& m) { error = m; };
    driver = std::make_unique<SequenceDriver>(*source, hooks);
  }
};

// Runs both paths in step; returns the frames whose segmentation took the
// per-id redraws on the fast side.
int CompareRuns(const std::vector<std::string>& lines, const Config& c, const std::string& name) {
  SCOPED_TRACE(name);
  TempDir tmp;
  Runner fast(lines, c, tmp.path() + "/fast", false);
  Runner reference(lines, c, tmp.path() + "/reference", true);
  EXPECT_TRUE(fast.driver && reference.driver) << "no OpenGL context";
  if (!fast.driver || !reference.driver) return 0;
  fs::create_directories(tmp.path() + "/fast");
  fs::create_directories(tmp.path() + "/reference");
  fast.driver->StartStop();
  reference.driver->StartStop();
  for (int step = 0; fast.driver->GetState() != SequenceDriver::State::Idle && step < 100; ++step) {
    fast.driver->Tick();
    reference.driver->Tick();
    const RandomState& a = fast.renderer->Rig().random;
    const RandomState& b = reference.renderer->Rig().random;
    EXPECT_TRUE(a.low == b.low && a.high == b.high) << "random state after step " << step;
    if (c.shown && fast.timings.frames > 0 && fast.driver->GetState() != SequenceDriver::State::Idle) {
      // A shown window holds the camera drawing again, not the flat drawings.
      std::vector<uint8_t> window(static_cast<std::size_t>(c.width) * c.height * 3);
      fast.renderer->ReadColour(window.data());
      EXPECT_TRUE(window == fast.source->Buffers().colour) << "window after step " << step;
    }
  }
  EXPECT_EQ(reference.driver->GetState(), SequenceDriver::State::Idle);
  EXPECT_EQ(fast.error, "");
  EXPECT_EQ(reference.error, "");
  EXPECT_GT(fast.timings.frames, 0);
  EXPECT_EQ(fast.timings.frames, reference.timings.frames);

  const std::string fastDir = OutputDirectory(tmp.path() + "/fast", 0);
  const std::string refDir = OutputDirectory(tmp.path() + "/reference", 0);
  int files = 0;
  for (const auto& e : fs::directory_iterator(refDir)) {
    const std::string file = e.path().filename().string();
    ++files;
    // The manifest records wall times; the frames it lists are compared here.
    if (file == "meta.json") continue;
    EXPECT_TRUE(ReadAll(fastDir + file) == ReadAll(refDir + file)) << file << " differs";
  }
  // Five files per frame; calib.txt, meta.json, scene.txt and the poses.
  EXPECT_EQ(files, 5 * reference.timings.frames + 4);
  EXPECT_EQ(std::distance(fs::directory_iterator(fastDir), fs::directory_iterator()), files);
  return fast.timings.segmentationFallbacks;
}

// Exact ties: coplanar quadrilaterals of two ids, of an id and ids outside
// 0..255 (negative too), of one id split over two objects; identical
// cuboids; a quadrilateral on a plane; planes of an id in use, of an id
// outside and of one id twice; a plane with no strips.
const std::vector<std::string> kTies = {
    "NOISE;1.5;",
    "QUAD; id 11; texture: 4; colour: 1; 1; 1; vertices: -1.0; 3.0; -1.0; 0.5; 3.0; -1.0; 0.5; 3.0; 1.0; -1.0; 3.0; 1.0;",
    "QUAD; id 12; texture: -1; colour: 1; 0.2; 0.2; vertices: -0.5; 3.0; -1.0; 1.0; 3.0; -1.0; 1.0; 3.0; 1.0; -0.5; 3.0; 1.0;",
    "QUAD; id 300; texture: -1; colour: 0.2; 1; 0.2; vertices: -1.2; 2.5; 0.2; -0.2; 2.5; 0.2; -0.2; 2.5; 0.9; -1.2; 2.5; 0.9;",
    "QUAD; id 13; texture: 3; colour: 1; 1; 1; vertices: -0.8; 2.5; 0.2; 0.4; 2.5; 0.2; 0.4; 2.5; 0.9; -0.8; 2.5; 0.9;",
    "QUAD; id -4; texture: -1; colour: 0.5; 0.5; 1; vertices: 0.5; 2.5; -0.9; 1.2; 2.5; -0.9; 1.2; 2.5; -0.3; 0.5; 2.5; -0.3;",
    "QUAD; id 14; texture: -1; colour: 1; 1; 0.5; vertices: 0.7; 2.5; -0.9; 1.4; 2.5; -0.9; 1.4; 2.5; -0.3; 0.7; 2.5; -0.3;",
    "QUAD; id 15; texture: -1; colour: 1; 0.5; 1; vertices: -1.4; 2.2; -0.9; -0.6; 2.2; -0.9; -0.6; 2.2; -0.3; -1.4; 2.2; -0.3;",
    "QUAD; id 15; texture: 2; colour: 1; 0.5; 1; vertices: -1.0; 2.2; -0.9; -0.2; 2.2; -0.9; -0.2; 2.2; -0.3; -1.0; 2.2; -0.3;",
    "CUBOID; id 20; texture: 5; colour: 1; 1; 1; position: 0.0; 1.5; -0.6; 0.0; 0.0; 20.0; dim: 0.2; 0.2; 0.2",
    "CUBOID; id 21; texture: 5; colour: 1; 1; 1; position: 0.0; 1.5; -0.6; 0.0; 0.0; 20.0; dim: 0.2; 0.2; 0.2",
    "SPHERE; id 22; texture: 8; colour: 1; 1; 1; position: 0.6; 1.8; 0.4; 0.0; 0.0; 0.0; dim: 0.25",
    "SPHERE; id 255; texture: -1; colour: 1; 1; 1; position: 0.6; 1.8; 0.4; 0.0; 0.0; 0.0; dim: 0.25",
    "CYLINDER; id 0; texture: 1; colour: 1; 1; 1; position: -0.4; 2.0; -1.2; 0.0; 0.0; 0.0; dim: 0.2; 0.2; 0.5",
    "PLANE; id 19; texture: 2; colour: 1; 1; 1; normal: 0.0; 0.0; 1.0; point: 0.0; 0.0; -1.2",
    "QUAD; id 18; texture: -1; colour: 1; 1; 1; vertices: -1.5; 1.5; -1.2; 1.5; 1.5; -1.2; 1.5; 4.0; -1.2; -1.5; 4.0; -1.2;",
    "PLANE; id 19; texture: -1; colour: 1; 1; 1; normal: 1.0; 0.0; 0.0; point: 1.6; 0.0; 0.0",
    "PLANE; id 999; texture: -1; colour: 1; 1; 1; normal: 0.0; -1.0; 0.0; point: 0.0; 6.0; 0.0",
    "PLANE; id 23; texture: -1; colour: 1; 1; 1; normal: 0.0; 0.0; 0.0; point: 0.0; 6.0; 0.0",
    "EGO; 0.0; 0.0; 0.0; 0.0; 0.0; 0.0",
    "EGO; 0.02; 0.05; 0.0; 0.0; 0.0; 2.0",
};

// Many ids: a grid of small spheres with ids spread over 0..255, overlapping.
std::vector<std::string> ManyIds() {
  std::vector<std::string> lines = {"PLANE; id 7; texture: -1; colour: 1; 1; 1; normal: 0.0; 0.0; 1.0; point: 0.0; 0.0; -1.3"};
  int id = 0;
  for (int row = 0; row < 6; ++row) {
    for (int col = 0; col < 8; ++col, id += 5) {
      lines.push_back("SPHERE; id " + std::to_string(id % 256) + "; texture: -1; colour: 1; 1; 1; position: " +
                      std::to_string(-1.4 + 0.4 * col) + "; " + std::to_string(2.0 + 0.1 * col) + "; " +
                      std::to_string(-1.0 + 0.35 * row) + "; 0; 0; 0; dim: 0.24");
    }
  }
  lines.push_back("EGO; 0.0; 0.0; 0.0; 0.0; 0.0; 0.0");
  lines.push_back("EGO; 0.0; 0.0; 0.1; 0.0; 0.0; 1.0");
  return lines;
}

TEST(Segmentation, FlatDrawingsGiveTheReferenceMapsAndRandomState) {
  const std::vector<std::string> example = SceneFile("examples/sceneexample.txt");
  const std::vector<std::string> planes = SceneFile("tests/golden/scenes/planes_noise.txt");
  const std::vector<std::string> sameDepth = SceneFile("tests/golden/scenes/same_depth.txt");
  const std::vector<std::string> oddIds = SceneFile("tests/golden/scenes/odd_ids.txt");
  const std::vector<std::string> many = ManyIds();
  int fallbacks = 0;
  fallbacks += CompareRuns(example, {96, 72, false, false, false, false}, "example left");
  fallbacks += CompareRuns(example, {97, 61, true, true, false, false}, "example right palette odd size");
  fallbacks += CompareRuns(planes, {80, 60, true, false, false, false}, "planes right");
  fallbacks += CompareRuns(sameDepth, {97, 61, false, false, false, false}, "same depth");
  fallbacks += CompareRuns(oddIds, {64, 48, true, false, false, false}, "ids outside 0..255");
  fallbacks += CompareRuns(kTies, {120, 90, false, false, false, false}, "ties left");
  fallbacks += CompareRuns(kTies, {121, 91, true, true, false, false}, "ties right palette");
  fallbacks += CompareRuns(many, {128, 96, false, true, false, false}, "many ids");
  fallbacks += CompareRuns(kTies, {96, 72, true, false, false, false, true}, "ties shown in a window");
  // The flat drawings give the camera drawing's depth on this renderer; one
  // that differs takes the reference path (slower, same bytes).
  EXPECT_EQ(fallbacks, 0);

  // Smoothing and matrix logging always take the per-id redraws.
  EXPECT_EQ(CompareRuns(oddIds, {64, 48, false, true, true, false}, "antialiasing palette"), 2);
  EXPECT_EQ(CompareRuns(kTies, {64, 48, false, false, true, false}, "ties antialiasing"), 2);
  EXPECT_EQ(CompareRuns(sameDepth, {48, 32, false, false, false, true}, "matrix log"), 2);
}

TEST(Segmentation, PlaneDrawingsOfTheRedrawsCountDrawablePlanesOfOtherIds) {
  PlainSettings settings;
  PlainEditor editor;
  editor.lines = kTies;
  QuietNotifier notifier;
  Renderer renderer(settings, editor, notifier, '.', 16, 16);
  ASSERT_TRUE(renderer.Initialise());
  renderer.PrepareScene();
  // Ids in use: 0, 11..15, 18..23, 255 (13 ids). Drawable planes: two of id 19
  // and one of id 999 (the all-zero normal of id 23 has no strips): each
  // redraw draws 3 planes, the redraw without 19 only one.
  EXPECT_EQ(ReferencePlaneDrawings(renderer.Scene(), IdHistogram(renderer.Scene())), 12u * 3u + 1u);
}

}  // namespace
}  // namespace tovimar
