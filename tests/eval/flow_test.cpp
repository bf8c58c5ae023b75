// Flow and scene-flow evaluation: figures worked out by hand on tiny frames,
// every prediction format, refused and missing files, and rendered scenes
// with moving solids.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <nlohmann/json.hpp>

#include "eval/flow.h"
#include "eval/flow_pictures.h"
#include "eval/match.h"
#include "io/png.h"
#include "eval_fixture.h"

namespace tovimar::eval {
namespace {

using namespace testing;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

void WriteFlo(const std::string& path, const FlowMap& f) { WriteText(path, FloBytes(f)); }

// Five pixels in a row, frame 0:
//   pixel       0       1       2          3        4
//   true flow   (0,0)   (3,4)   (100,0)    none     (0,0)
//   mask        255     255     128        0        255
//   id          1       5       5          1        1      (5 moves: fg)
//   predicted   (4,0)   (3,6)   (104,3)    NaN      (0,0)
//   end-point   4 (Fl)  2       5 (not Fl: 5 is not > 5% of 100)   0
//   disparity   10      20      40         10       10
//   change      1       0       inf        0        0
//   disp_0      10      24 (D1) 40         10       10
//   disp_1      11      20      5          14 (D2)  10
// Frame 1 has flow only at pixel 0, predicted exactly.
constexpr int kFw = 5, kFh = 1;

struct HandMade {
  TempDir gt, pred;
  HandMade() {
    WriteText(gt / "scene.txt", "CUBOID;5;-1;1;1;1;0;2;0;0;0;0;0.3;0.3;0.3;\nMOVE;5;0;0;0;0;0;0\nMOVE;5;0.1;0;0;0;0;0\n"
                                "MOVE;1;0;0;0;0;0;0\n");
    const std::vector<float> disparity{10, 20, 40, 10, 10}, change{1, 0, kInf, 0, 0};
    const std::vector<uint16_t> ids{1, 5, 5, 1, 1};
    for (int k = 0; k < 3; ++k) {  // frame 2 is the last: no flow
      const std::string n = FrameNumber(k);
      WritePfm(gt / ("ldisp_" + n + ".pfm"), disparity.data(), kFw, kFh);
      WritePng16(gt / ("lids16_" + n + ".png"), ids.data(), kFw, kFh, 1);
      if (k == 2) break;
      WritePfm(gt / ("ldispchange_" + n + ".pfm"), change.data(), kFw, kFh);
      WriteFlo(gt / ("lflow_" + n + ".flo"), {kFw, kFh, {0, 3, 100, 1, 0}, {0, 4, 0, 1, 0}});
      const std::vector<uint8_t> mask = k == 0 ? std::vector<uint8_t>{255, 255, 128, 0, 255}
                                               : std::vector<uint8_t>{255, 0, 0, 0, 0};
      WritePng8(gt / ("lflowmask_" + n + ".png"), mask.data(), kFw, kFh, 1);
    }
    fs::create_directories(pred / "flow");
    fs::create_directories(pred / "disp_0");
    fs::create_directories(pred / "disp_1");
    WriteFlo(pred / "flow/000000.flo", Predicted());
    WriteFlo(pred / "flow/000001.flo", {kFw, kFh, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}});
    const std::vector<float> d0{10, 24, 40, 10, 10}, d1{11, 20, 5, 14, 10};
    for (int k = 0; k < 2; ++k) {
      WritePfm(pred / ("disp_0/" + std::to_string(k) + ".pfm"), (k ? disparity : d0).data(), kFw, kFh);
      const std::vector<float> next{11, 20, 40, 10, 10};
      WritePfm(pred / ("disp_1/" + std::to_string(k) + ".pfm"), (k ? next : d1).data(), kFw, kFh);
    }
  }
  static FlowMap Predicted() { return {kFw, kFh, {4, 3, 104, kNaN, 0}, {0, 6, 3, kNaN, 0}}; }
  FlowEvalResult Run(FlowTask task, const std::string& predictions = {}) const {
    return EvaluateFlow(Dataset::Open(gt.path(), Camera::Left), predictions.empty() ? pred.path() : predictions,
                        task, EvalOptions{});
  }
};

const FlowMetrics& Region(const FlowRegionList& regions, const std::string& name) {
  for (const auto& [n, m] : regions) {
    if (n == name) return m;
  }
  throw std::runtime_error("no region " + name);
}

TEST(FlowEval, HandWorkedFlowFiguresPerFrameAndPixelWeighted) {
  const HandMade h;
  const FlowEvalResult r = h.Run(FlowTask::Flow, h.pred / "flow");
  ASSERT_TRUE(r.AllRead()) << r.frames[0].error;
  ASSERT_EQ(r.frames.size(), 2u);  // the last frame has no flow
  const FlowRegionList& f = r.frames[0].regions;
  EXPECT_EQ(Region(f, "all").epe, 11.0 / 4);
  EXPECT_EQ(Region(f, "all").fl, 25.0);
  EXPECT_EQ(Region(f, "all").pixels, 4u);
  EXPECT_EQ(Region(f, "nonoccluded").epe, 2.0);  // Sintel's matched
  EXPECT_EQ(Region(f, "nonoccluded").fl, 100.0 / 3);
  EXPECT_EQ(Region(f, "occluded").epe, 5.0);  // unmatched
  EXPECT_EQ(Region(f, "occluded").fl, 0.0);
  EXPECT_EQ(Region(f, "bg").epe, 2.0);
  EXPECT_EQ(Region(f, "bg").fl, 50.0);
  EXPECT_EQ(Region(f, "fg").epe, 3.5);
  EXPECT_EQ(Region(f, "fg").fl, 0.0);
  // Over the sequence every pixel weighs the same (frame 1: one exact pixel).
  EXPECT_EQ(Region(r.total, "all").epe, 11.0 / 5);
  EXPECT_EQ(Region(r.total, "all").fl, 20.0);
  EXPECT_EQ(Region(r.total, "occluded").pixels, 1u);
}

TEST(FlowEval, HandWorkedSceneFlowFigures) {
  const HandMade h;
  const FlowEvalResult r = h.Run(FlowTask::SceneFlow);
  ASSERT_TRUE(r.AllRead()) << r.frames[0].error;
  const FlowRegionList& f = r.frames[0].regions;
  EXPECT_EQ(Region(f, "all").d1, 20.0);
  EXPECT_EQ(Region(f, "all").d2, 25.0);  // pixel 2 has no disparity at the next frame
  EXPECT_EQ(Region(f, "all").fl, 25.0);
  EXPECT_EQ(Region(f, "all").sf, 200.0 / 3);  // pixels 0 (Fl) and 1 (D1) of 0, 1, 4
  EXPECT_EQ(Region(f, "all").sfPixels, 3u);
  EXPECT_EQ(Region(f, "bg").sf, 50.0);
  EXPECT_EQ(Region(f, "bg").d1, 0.0);
  EXPECT_EQ(Region(f, "fg").sf, 100.0);
  EXPECT_EQ(Region(f, "fg").d1, 50.0);
  EXPECT_EQ(Region(r.total, "all").d1, 10.0);
  EXPECT_EQ(Region(r.total, "all").sf, 50.0);  // frame 1 adds one exact pixel with all three
}

// End-point error quantiles as the disparity task's: per frame element
// ceil(q n) - 1 of the sorted errors, over the sequence the middle of that
// error's 1/256 px bin. Frame 0 (true flow 0): errors 1..10 px, the last two
// hidden at the next frame; frame 1: ten errors of 100 px.
TEST(FlowEval, EndPointErrorQuantilesPerFrameAndOverTheSequence) {
  TempDir gt, pred;
  constexpr int w = 10;
  const std::vector<float> zero(w, 0.0f), disparity(w, 10.0f);
  std::vector<uint8_t> mask(w, 255);
  mask[8] = mask[9] = 128;
  for (int k = 0; k < 3; ++k) {
    const std::string n = FrameNumber(k);
    WritePfm(gt / ("ldisp_" + n + ".pfm"), disparity.data(), w, 1);
    if (k == 2) break;
    WriteFlo(gt / ("lflow_" + n + ".flo"), {w, 1, zero, zero});
    WritePng8(gt / ("lflowmask_" + n + ".png"), mask.data(), w, 1, 1);
  }
  FlowMap rising{w, 1, {}, zero};
  for (int x = 0; x < w; ++x) rising.u.push_back(static_cast<float>(x + 1));
  WriteFlo(pred / "f_0.flo", rising);
  WriteFlo(pred / "f_1.flo", {w, 1, std::vector<float>(w, 100.0f), zero});
  const FlowEvalResult r = EvaluateFlow(Dataset::Open(gt.path(), Camera::Left), pred.path(), FlowTask::Flow, {});
  ASSERT_TRUE(r.AllRead()) << r.frames[0].error;
  const double bin = 1.0 / 512;  // from an error to the middle of its bin
  const struct {
    const FlowRegionList* regions;
    const char* region;
    std::array<double, 4> a50to99;
  } cases[] = {
      {&r.frames[0].regions, "all", {5, 9, 10, 10}},
      {&r.frames[0].regions, "nonoccluded", {4, 8, 8, 8}},
      {&r.frames[0].regions, "occluded", {9, 10, 10, 10}},
      {&r.frames[1].regions, "all", {100, 100, 100, 100}},
      {&r.total, "all", {10 + bin, 100 + bin, 100 + bin, 100 + bin}},
      {&r.total, "nonoccluded", {8 + bin, 100 + bin, 100 + bin, 100 + bin}},
      {&r.total, "occluded", {10 + bin, 100 + bin, 100 + bin, 100 + bin}},
  };
  for (const auto& c : cases) {
    const FlowMetrics& m = Region(*c.regions, c.region);
    const std::string where = (c.regions == &r.total ? "total " : "frame ") + std::string(c.region);
    EXPECT_EQ((std::array<double, 4>{m.a50, m.a90, m.a95, m.a99}), c.a50to99) << where;
  }
  // The same figures in the reports.
  const std::string csv = FlowToCsv(r);
  EXPECT_EQ(csv.substr(0, csv.find('\n')), "frame,region,epe,fl,a50,a90,a95,a99,density,pixels");
  EXPECT_NE(csv.find("\n0,all,5.5,70,5,9,10,10,100,10\n"), std::string::npos) << csv;
  const nlohmann::json json = nlohmann::json::parse(FlowToJson(r));
  EXPECT_EQ(json["total"]["regions"]["all"]["a50"], 10 + bin);
  EXPECT_EQ(json["frames"][0]["regions"]["occluded"]["a90"], 10.0);
  std::ostringstream table;
  PrintFlowTable(r, table);
  EXPECT_NE(table.str().find("       A50       A90       A95       A99"), std::string::npos) << table.str();
}

// The same prediction as .flo, KITTI PNG, 3-channel and 2-channel PFM.
TEST(FlowEval, EveryPredictionFormatGivesTheSameFigures) {
  const HandMade h;
  const double expected = 11.0 / 4;
  const FlowMap p = HandMade::Predicted();
  std::vector<uint16_t> kitti(3 * kFw);
  std::vector<float> three(3 * kFw);
  std::string two = "PF\n5 1\n-1\n";
  for (int i = 0; i < kFw; ++i) {
    const bool valid = !std::isnan(p.u[i]);
    kitti[3 * i] = valid ? static_cast<uint16_t>(p.u[i] * 64 + 32768) : 0;
    kitti[3 * i + 1] = valid ? static_cast<uint16_t>(p.v[i] * 64 + 32768) : 0;
    kitti[3 * i + 2] = valid;
    three[3 * i] = valid ? p.u[i] : kInf;
    three[3 * i + 1] = valid ? p.v[i] : kInf;
    for (float v : {three[3 * i], three[3 * i + 1]}) two.append(reinterpret_cast<const char*>(&v), 4);
  }
  for (const std::string name : {"png", "pfm3", "pfm2"}) {
    TempDir dir;
    if (name == "png") WritePng16(dir / "f_0.png", kitti.data(), kFw, kFh, 3);
    if (name == "pfm3") WritePfm(dir / "f_0.pfm", three.data(), kFw, kFh, 3);
    if (name == "pfm2") WriteText(dir / "f_0.pfm", two);
    WriteFlo(dir / "f_1.flo", {kFw, kFh, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}});
    const FlowEvalResult r = h.Run(FlowTask::Flow, dir.path());
    ASSERT_TRUE(r.AllRead()) << name << ": " << r.frames[0].error;
    EXPECT_EQ(Region(r.frames[0].regions, "all").epe, expected) << name;
  }
}

TEST(FlowEval, MovingIdsAreThoseAMoveLineMoves) {
  EXPECT_EQ(MovingIds("MOVE;4;0;0;0;0;0;0\nMOVE; 7 ;0;0;0;0;0;2\r\nMOVE;8;1;0;0\n// MOVE;9;1;0;0;0;0;0\n"
                      "MOVE;10.7;0;0.5;0;0;0;0\n"),
            (std::set<int>{7, 10}));
}

// The scene-flow baseline's disp_1: the next frame's disparity where each
// pixel's flow points, to the nearest pixel; none out of the image.
TEST(SceneFlowBaseline, NextDisparityIsReadWhereTheFlowPoints) {
  const DisparityMap next{3, 2, {1, 2, 3, 4, 5, kNaN}};
  // Pixels: down; right; down onto no match; left out; (1.4, 0.4) rounds to
  // (1, 0); up out.
  const FlowMap flow{3, 2, {0, 1, 0, -1, 0.4f, 0}, {1, 0, 1, 0, -0.6f, -2}};
  const DisparityMap along = DisparityAlongFlow(next, flow);
  ASSERT_EQ(along.width, 3);
  ASSERT_EQ(along.height, 2);
  const std::vector<float> expected{4, 3, kNaN, kNaN, 2, kNaN};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (std::isnan(expected[i])) {
      EXPECT_TRUE(std::isnan(along.values[i])) << i;
    } else {
      EXPECT_EQ(along.values[i], expected[i]) << i;
    }
  }
}

// A prediction of another size is refused from its header (here the pixels
// are not even there); a truncated one, a missing one and a missing folder
// are named; the other frames are evaluated; exit code 1.
TEST(FlowEval, BadPredictionsAreNamedAndTheOthersEvaluated) {
  const HandMade h;
  TempDir out;
  const std::string dirs = " " + Quote(h.gt.path()) + " " + Quote(h.pred.path());
  const std::string json = out / "r.json";
  ASSERT_EQ(Eval("--task sceneflow --json " + Quote(json) + dirs, out).code, 0);
  EXPECT_EQ(nlohmann::json::parse(ReadText(json))["total"]["regions"]["all"]["d1"], 10.0);
  EXPECT_EQ(Eval("--task optical" + dirs, out).code, 2);
  EXPECT_EQ(Eval("--task flow --match sgbm" + dirs, out).code, 2);

  WriteText(h.pred / "flow/000000.flo", FloBytes({6, 1, {}, {}}).substr(0, 12));
  ToolRun r = Eval("--task sceneflow --json " + Quote(json) + dirs, out);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("frame 0: '" + h.pred / "flow/000000.flo" + "' is 6x1, the ground truth is 5x1"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(nlohmann::json::parse(ReadText(json))["total"]["regions"]["all"]["fl"], 0.0);  // frame 1 alone

  WriteText(h.pred / "flow/000000.flo", FloBytes(HandMade::Predicted()).substr(0, 30));
  r = Eval("--task flow " + Quote(h.gt.path()) + " " + Quote(h.pred / "flow"), out);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("'" + h.pred / "flow/000000.flo" + "' holds 30 bytes"), std::string::npos) << r.err;

  fs::remove(h.pred / "disp_1/1.pfm");
  r = Eval("--task sceneflow" + dirs, out);
  EXPECT_NE(r.err.find("frame 1: no prediction for frame 1 in '" + h.pred / "disp_1'"), std::string::npos) << r.err;
  r = Eval("--task flow " + Quote(h.gt.path()) + " " + Quote(out / "nowhere"), out);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("tovimar-eval: the prediction folder '" + out / "nowhere' does not exist\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("frame 0"), std::string::npos) << r.err;  // one line, not one per frame
}

// Middlebury's colour coding: hue the direction (right red, down yellow,
// left cyan-blue, up blue-violet), white for no motion, darker past the
// longest true flow, black without a value.
TEST(FlowPictures, ColoursFollowTheWheel) {
  using Rgb = std::array<uint8_t, 3>;
  EXPECT_EQ(FlowColour(0, 0), (Rgb{255, 255, 255}));
  EXPECT_EQ(FlowColour(1, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(FlowColour(2, 0), (Rgb{191, 0, 0}));
  const Rgb down = FlowColour(0, 1), left = FlowColour(-1, 0), up = FlowColour(0, -1);
  EXPECT_TRUE(down[0] > 200 && down[1] > 180 && down[2] < 30) << int(down[0]) << " " << int(down[1]) << " " << int(down[2]);
  EXPECT_TRUE(left[0] < 30 && left[1] > 150 && left[2] > 200) << int(left[0]) << " " << int(left[1]) << " " << int(left[2]);
  EXPECT_TRUE(up[0] > 50 && up[0] < 150 && up[1] < 30 && up[2] > 200) << int(up[0]) << " " << int(up[1]) << " " << int(up[2]);
  // Half the longest length: halfway to white.
  EXPECT_EQ(FlowColour(0.5, 0), (Rgb{255, 128, 128}));
  const FlowMap field{3, 1, {4, kNaN, -2}, {0, 0, 0}};
  EXPECT_EQ(LongestFlow(field), 4.0);
  EXPECT_EQ(FlowPicture(field, 4), (std::vector<uint8_t>{255, 0, 0, 0, 0, 0, 128, 232, 255}));
}

#ifdef TOVIMAR_RENDER_BINARY
constexpr const char* kMovingScene =
    "CUBOID;4;-1;200;40;40;0.3;2;0.3;0;0;0;0.3;0.3;0.3;\n"
    "SPHERE;6;-1;40;200;40;-0.6;2.5;0.2;0;0;0;0.4;\n"
    "PLANE;3;-1;100;100;100;0;1;0;0;4;0;\n"
    "EGO;0;0;0;0;0;0;\nEGO;0;0.05;0;0;0;0;\nEGO;0;0.05;0;0;2;0;\n"
    "MOVE;4;0;0;0;0;0;0\nMOVE;4;0.1;0;0;0;0;5\nMOVE;4;0.1;0;0.05;0;0;0\n";

void Render(const std::string& root, const std::string& layout, const std::string& outputs) {
  const std::string cmd = std::string(TOVIMAR_RENDER_BINARY) + " -q -c both -r 160x120 --layout " + layout +
                          " --outputs " + outputs + " -o " + Quote(root) + " " + Quote(root + "/scene.txt") +
                          " >/dev/null 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << layout;
}

// Predictions equal to the ground truth score 0; the ground truth moved by
// 4 px is an Fl outlier wherever the flow is shorter than 80 px.
TEST(FlowEval, RenderedMovingSceneTruthScoresZeroAndAShiftScoresEveryPixel) {
  TempDir run, exact, shifted;
  WriteText(run / "scene.txt", kMovingScene);
  Render(run.path(), "classic", "classic,pfm,masks,flow,ids16");
  const Dataset dataset = Dataset::Open(run / "0", Camera::Left);
  ASSERT_EQ(FlowFrames(dataset), (std::vector<int>{0, 1}));
  for (int k = 0; k < 2; ++k) {
    const std::string n = FrameNumber(k);
    fs::copy_file(run / ("0/lflow_" + n + ".flo"), exact / ("lflow_" + n + ".flo"));
    FlowMap f = ReadFlo(run / ("0/lflow_" + n + ".flo"));
    for (std::size_t i = 0; i < f.u.size(); ++i) {
      ASSERT_TRUE(std::isnan(f.u[i]) || std::hypot(f.u[i], f.v[i]) < 80) << "a flow of 80 px or more";
      f.u[i] += 4;
    }
    WriteFlo(shifted / ("s_" + n + ".flo"), f);
  }
  const FlowEvalResult same = EvaluateFlow(dataset, exact.path(), FlowTask::Flow, EvalOptions{});
  ASSERT_TRUE(same.AllRead()) << same.frames[0].error;
  EXPECT_EQ(Region(same.total, "all").epe, 0.0);
  EXPECT_EQ(Region(same.total, "all").fl, 0.0);
  EXPECT_GT(Region(same.total, "fg").pixels, 100u);  // the moving box
  EXPECT_GT(Region(same.total, "occluded").pixels, 0u);
  const FlowEvalResult moved = EvaluateFlow(dataset, shifted.path(), FlowTask::Flow, EvalOptions{});
  EXPECT_EQ(Region(moved.total, "all").fl, 100.0);
  EXPECT_NEAR(Region(moved.total, "all").epe, 4.0, 1e-5);
  EXPECT_EQ(Region(moved.total, "fg").fl, 100.0);

  // Its pictures: the exact prediction codes as the ground truth does, and
  // every pixel with flow is of the error picture's smallest band.
  TempDir pictures;
  const ToolRun r = Eval("--task flow --images " + Quote(pictures.path()) + " " + Quote(run / "0") + " " +
                             Quote(exact.path()),
                         pictures);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* name : {"flow_legend.png", "plot.png", "flow_error_0001.png"})
    EXPECT_TRUE(fs::exists(pictures / name)) << name;
  EXPECT_EQ(ReadText(pictures / "flow_0000.png"), ReadText(pictures / "flow_gt_0000.png"));
  const PngImage error = ReadPng(pictures / "flow_error_0000.png");
  const FlowMap truth = ReadFlo(run / "0/lflow_0000.flo");
  for (std::size_t i = 0; i < truth.u.size(); ++i) {
    if (std::isnan(truth.u[i])) continue;
    const uint16_t* p = &error.samples[3 * i];
    ASSERT_TRUE((p[0] == 49 && p[1] == 54 && p[2] == 149) || (p[0] == 24 && p[1] == 27 && p[2] == 74)) << i;
  }
}

// KITTI's files as a submission (flow_occ as flow/, disp_occ_0 as disp_0/,
// disp_occ_1 as disp_1/, named by frame: the last run of digits of
// "000000_10.png" would be 10) score 0 everywhere; so do the scene-flow
// layout's own PFMs, without its last frame.
TEST(FlowEval, RenderedKittiAndSceneFlowLayoutsScoreTheirOwnFilesZero) {
  TempDir run, kitti, sceneflow;
  WriteText(run / "scene.txt", kMovingScene);
  fs::create_directories(run / "kitti");
  fs::create_directories(run / "sf");
  fs::copy_file(run / "scene.txt", run / "kitti/scene.txt");
  fs::copy_file(run / "scene.txt", run / "sf/scene.txt");
  Render(run / "kitti", "kitti", "png,kitti,masks,flow,ids16");
  Render(run / "sf", "sceneflow", "png,pfm,flow,ids16");
  for (const auto& [from, to] : {std::pair{"flow_occ", "flow"}, std::pair{"disp_occ_0", "disp_0"},
                                 std::pair{"disp_occ_1", "disp_1"}}) {
    fs::create_directories(kitti / to);
    for (int f = 0; f < 2; ++f)
      fs::copy_file(run / ("kitti/0/" + std::string(from) + "/" + KittiFrameNumber(f) + "_10.png"),
                    kitti / (std::string(to) + "/" + KittiFrameNumber(f) + ".png"));
  }
  const FlowEvalResult k =
      EvaluateFlow(Dataset::Open(run / "kitti/0", Camera::Left), kitti.path(), FlowTask::SceneFlow, EvalOptions{});
  ASSERT_TRUE(k.AllRead()) << k.frames[0].error;
  ASSERT_EQ(k.frames.size(), 2u);
  for (const char* region : {"all", "nonoccluded", "bg", "fg"}) {
    const FlowMetrics& m = Region(k.total, region);
    EXPECT_EQ(m.d1 + m.d2 + m.fl + m.sf, 0.0) << region;
    EXPECT_GT(m.sfPixels, 0u) << region;
  }
  fs::copy(run / "sf/optical_flow/TRAIN/A/0000/into_future/right", sceneflow.path());
  const FlowEvalResult s =
      EvaluateFlow(Dataset::Open(run / "sf/0", Camera::Right), sceneflow.path(), FlowTask::Flow, EvalOptions{});
  ASSERT_TRUE(s.AllRead()) << s.frames[0].error;
  EXPECT_EQ(s.frames.size(), 2u);
  EXPECT_EQ(Region(s.total, "all").epe, 0.0);
  EXPECT_GT(Region(s.total, "fg").pixels, 0u);
}

// The OpenCV flow baselines write a .flo per frame with flow and are scored
// at once; they belong to the flow task only.
TEST(FlowEval, FlowBaselinesOnARenderedScene) {
  TempDir run, pred, out;
  WriteText(run / "scene.txt", kMovingScene);
  Render(run.path(), "classic", "classic,masks,flow,ids16");
  EXPECT_EQ(Eval("--match dis " + Quote(run / "0") + " " + Quote(pred.path()), out).code, 2);
  const std::string json = out / "r.json";
  for (const char* matcher : {"dis", "farneback"}) {
    const ToolRun r = Eval(std::string("--task flow --match ") + matcher + " --json " + Quote(json) + " " +
                               Quote(run / "0") + " " + Quote(pred / matcher),
                           out);
    ASSERT_EQ(r.code, 0) << matcher << ": " << r.err;
    EXPECT_TRUE(fs::exists(pred / (std::string(matcher) + "/flow_0001.flo")));
    EXPECT_FALSE(fs::exists(pred / (std::string(matcher) + "/flow_0002.flo")));  // the last frame has no flow
    const double epe = nlohmann::json::parse(ReadText(json))["total"]["regions"]["all"]["epe"].get<double>();
    EXPECT_LT(epe, 10) << matcher;
  }
}

// The scene-flow baseline (a disparity matcher at both frames, the flow
// matcher between them) lands where the scene-flow task reads it and is
// scored; a frame whose next image is missing is named, the frame before it
// still matched.
TEST(FlowEval, SceneFlowBaselineOnARenderedScene) {
  TempDir run, pred, out;
  WriteText(run / "scene.txt", kMovingScene);
  Render(run.path(), "classic", "classic,masks,flow,ids16");
  const std::string json = out / "r.json";
  ToolRun r = Eval("--task sceneflow --match sgbm --json " + Quote(json) + " " + Quote(run / "0") + " " +
                       Quote(pred / "sgbm"),
                   out);
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* file : {"flow/flow_0001.flo", "disp_0/pred_0001.pfm", "disp_1/pred_0001.pfm"})
    EXPECT_TRUE(fs::exists(pred / ("sgbm/" + std::string(file)))) << file;
  // The scene's untextured plane defeats SGBM; the sliding box's edges do not,
  // at either frame.
  const nlohmann::json regions = nlohmann::json::parse(ReadText(json))["total"]["regions"];
  EXPECT_LT(regions["fg"]["d1"].get<double>(), 5) << regions["fg"];
  EXPECT_LT(regions["fg"]["d2"].get<double>(), 5) << regions["fg"];
  EXPECT_EQ(regions["all"]["sfPixels"], regions["all"]["pixels"]) << regions["all"];

  fs::remove(run / "0/left_0002.bmp");
  r = Eval("--task sceneflow --match farneback " + Quote(run / "0") + " " + Quote(pred / "farneback"), out);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.err.find("frame 1: cannot read '" + run / "0/left_0002.bmp'"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(pred / "farneback/disp_1/pred_0000.pfm"));
  EXPECT_FALSE(fs::exists(pred / "farneback/disp_0/pred_0001.pfm"));
}
#endif

}  // namespace
}  // namespace tovimar::eval
