// tovimar-eval as a program: exit codes, the JSON and CSV files, the
// pictures, and a baseline run on a rendered scene.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "eval_fixture.h"

#ifndef TOVIMAR_EVAL_BINARY
#error "TOVIMAR_EVAL_BINARY must name the tovimar-eval executable"
#endif

namespace tovimar::eval {
namespace {

using namespace testing;

TEST(EvalTool, ExitCodesAndReports) {
  TempDir gt, pred, out;
  for (int k = 0; k < 3; ++k) {
    WriteClassicFrame(gt.path(), k, Truth(static_cast<float>(k)));
    const std::vector<float> p = Truth(static_cast<float>(k) + 0.5f);
    WritePfm(pred / ("pred_" + FrameNumber(k) + ".pfm"), p.data(), kW, kH);
  }
  const std::string dirs = Quote(gt.path()) + " " + Quote(pred.path());
  EXPECT_EQ(Eval("--bogus " + dirs, out).code, 2);
  EXPECT_EQ(Eval("--scale 0 " + dirs, out).code, 2);
  EXPECT_EQ(Eval("--camera middle " + dirs, out).code, 2);
  EXPECT_EQ(Eval(Quote(gt.path()), out).code, 2);
  EXPECT_EQ(Eval("--help", out).code, 0);

  const std::string json = out / "r.json", csv = out / "r.csv", images = out / "pictures";
  ASSERT_EQ(Eval(dirs + " --json " + Quote(json) + " --csv " + Quote(csv) + " --images " + Quote(images), out).code, 0);
  const auto doc = nlohmann::json::parse(ReadText(json));
  ASSERT_EQ(doc["frames"].size(), 3u);
  EXPECT_EQ(doc["frames"][2]["frame"], 2);
  EXPECT_NEAR(doc["frames"][1]["regions"]["all"]["epe"].get<double>(), 0.5, 1e-6);
  EXPECT_EQ(doc["total"]["regions"]["all"]["pixels"], 84);
  EXPECT_EQ(doc["total"]["regions"]["id:7"]["bad0.5"], 0);
  EXPECT_EQ(doc["total"]["regions"]["occluded"]["density"], 100);
  const std::string table = ReadText(csv);
  EXPECT_EQ(table.substr(0, table.find('\n')),
            "frame,region,epe,rmse,bad0.5,bad1,bad2,bad4,d1,a50,a90,a95,a99,density,pixels");
  EXPECT_NE(table.find("\ntotal,all,0.5,0.5,0,0,0,0,0,"), std::string::npos) << table;
  const PngImage picture = ReadPng(images + "/error_0001.png");
  EXPECT_EQ(picture.width, kW);
  EXPECT_EQ(picture.channels, 3);
  EXPECT_EQ(picture.samples[3 * 7], 0);  // column 7: no ground truth, black
  EXPECT_EQ(ReadPng(images + "/plot.png").channels, 3);

  // A missing prediction: named, the other frames evaluated, exit code 1.
  fs::remove(pred / "pred_0001.pfm");
  const ToolRun missing = Eval(dirs + " --json " + Quote(json), out);
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("no prediction for frame 1"), std::string::npos) << missing.err;
  const auto partial = nlohmann::json::parse(ReadText(json));
  EXPECT_TRUE(partial["frames"][1].contains("error"));
  EXPECT_EQ(partial["total"]["regions"]["all"]["pixels"], 56);

  // A folder that cannot be used is one message naming it and the cause.
  const std::vector<std::pair<std::string, std::string>> folders = {
      {Quote(out / "nothing") + " " + Quote(pred.path()), "the ground-truth folder '" + out / "nothing' does not exist"},
      {Quote(json) + " " + Quote(pred.path()), "the ground-truth folder '" + json + "' is not a folder"},
      {Quote(gt.path()) + " " + Quote(out / "nowhere"),
       "the prediction folder '" + out / "nowhere' does not exist"},
      {Quote(gt.path()) + " " + Quote(json), "the prediction folder '" + json + "' is not a folder"},
  };
  for (const auto& [args, message] : folders) {
    const ToolRun run = Eval(args, out);
    EXPECT_EQ(run.code, 1) << args;
    EXPECT_EQ(run.err, "tovimar-eval: " + message + "\n") << args;
  }
}

// --camera right measures against the right camera's own files, not the
// left's (here they differ by 3 pixels everywhere); predictions of the other
// camera are pointed out.
TEST(EvalTool, EachCameraIsMeasuredAgainstItsOwnFilesAndASwapIsDetected) {
  TempDir gt, pred, out;
  WriteClassicFrame(gt.path(), 0, Truth(0));
  const std::vector<float> right = Truth(3);
  WritePfm(gt / "disp_0000.pfm", right.data(), kW, kH);
  WritePfm(pred / "p_0000.pfm", right.data(), kW, kH);
  const std::string json = out / "r.json";
  const std::string dirs = Quote(gt.path()) + " " + Quote(pred.path()) + " --json " + Quote(json);
  ASSERT_EQ(Eval("--camera right " + dirs, out).code, 0);
  EXPECT_EQ(nlohmann::json::parse(ReadText(json))["total"]["regions"]["all"]["epe"].get<double>(), 0.0);
  EXPECT_EQ(nlohmann::json::parse(ReadText(json))["warnings"].size(), 0u);
  // The right camera's predictions evaluated as the left camera's: measured
  // as asked, and the swap is pointed out.
  ASSERT_EQ(Eval("--camera left " + dirs, out).code, 0);
  const auto swapped = nlohmann::json::parse(ReadText(json));
  EXPECT_NEAR(swapped["total"]["regions"]["all"]["epe"].get<double>(), 3.0, 1e-6);
  ASSERT_EQ(swapped["warnings"].size(), 1u);
  EXPECT_NE(swapped["warnings"][0].get<std::string>().find("fit the right camera's ground truth far better"),
            std::string::npos);
}

// What OpenCV refuses (frames smaller than the matcher's blocks, a camera
// image whose header claims a huge width) is named per frame with exit code
// 1, never an abort.
TEST(EvalTool, MatcherRefusalsAreNamedPerFrame) {
  TempDir gt, pred, out;
  const std::vector<float> truth(16, 2.0f);
  const std::vector<uint8_t> grey(16 * 3, 100);
  for (int k = 0; k < 2; ++k) {
    WritePfm(gt / ("ldisp_" + FrameNumber(k) + ".pfm"), truth.data(), 4, 4);
    WriteBmp24(gt / ("left_" + FrameNumber(k) + ".bmp"), grey.data(), 4, 4);
    WriteBmp24(gt / ("right_" + FrameNumber(k) + ".bmp"), grey.data(), 4, 4);
  }
  std::string huge = ReadText(gt / "left_0001.bmp");
  huge[21] = 1;  // width field (bytes 18-21, little-endian): 2^24 + 4
  WriteText(gt / "left_0001.bmp", huge);
  const ToolRun r = Eval("--match bm " + Quote(gt.path()) + " " + Quote(pred.path()), out);
  EXPECT_EQ(r.code, 1) << r.err;
  EXPECT_NE(r.err.find("frame 0: the images are 4x4"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("frame 1: "), std::string::npos) << r.err;
}

#ifdef TOVIMAR_RENDER_BINARY
TEST(EvalTool, SgbmBaselineOnARenderedScene) {
  TempDir run, pred, out;
  WriteText(run / "scene.txt",
            "SPHERE;1;-1;200;40;40;0;1;0;0;0;0;0.5;\n"
            "CUBOID;2;-1;40;200;40;0.8;2;0.3;0;0;0;0.3;0.3;0.3;\n"
            "PLANE;3;-1;100;100;100;0;1;0;0;4;0;\n"
            "EGO;0;0;0;0;0;0;\nEGO;0;0.1;0;0;0;0;\n");
  const std::string render = std::string(TOVIMAR_RENDER_BINARY) + " -q -c left -r 160x120 -o " + Quote(run.path()) +
                             " " + Quote(run / "scene.txt") + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(render.c_str()), 0);
  // The left run has no right images; render them too.
  const std::string both = std::string(TOVIMAR_RENDER_BINARY) + " -q -c both -r 160x120 -o " + Quote(run.path()) +
                           " " + Quote(run / "scene.txt") + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(both.c_str()), 0);
  const std::string json = out / "r.json";
  const ToolRun r = Eval("--match sgbm " + Quote(run / "0") + " " + Quote(pred.path()) + " --json " + Quote(json), out);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(pred / "pred_0000.pfm"));
  const auto doc = nlohmann::json::parse(ReadText(json));
  ASSERT_EQ(doc["frames"].size(), 2u);
  const double epe = doc["total"]["regions"]["all"]["epe"].get<double>();
  EXPECT_TRUE(std::isfinite(epe));
  EXPECT_LT(epe, 20);
}

// Without the classic set the camera images are PNGs only.
TEST(EvalTool, SgbmBaselineOnAFolderWithoutTheClassicSet) {
  TempDir run, pred, out;
  WriteText(run / "scene.txt",
            "SPHERE;1;-1;200;40;40;0;1;0;0;0;0;0.5;\n"
            "PLANE;3;-1;100;100;100;0;1;0;0;4;0;\n"
            "EGO;0;0;0;0;0;0;\nEGO;0;0.1;0;0;0;0;\n");
  const std::string render = std::string(TOVIMAR_RENDER_BINARY) + " -q -c both -r 160x120 --outputs pfm,png -o " +
                             Quote(run.path()) + " " + Quote(run / "scene.txt") + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(render.c_str()), 0);
  ASSERT_FALSE(fs::exists(run / "0/left_0000.bmp"));
  const ToolRun r = Eval("--match sgbm " + Quote(run / "0") + " " + Quote(pred.path()), out);
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(fs::exists(pred / "pred_0001.pfm"));
}

// The same predictions get the same figures in every layout: "all" is every
// ground-truth pixel whatever the layout holds it in (KITTI's 1/256 px steps
// aside). Frame 0's figures are compared: the KITTI layout holds no index
// of the last frame, which has no next frame.
TEST(EvalTool, SamePredictionsSameFiguresInEveryLayout) {
  TempDir run, pred, out;
  WriteText(run / "scene.txt",
            "BASELINE;0.3;\n"
            "CUBOID;2;-1;40;200;40;0.8;2;0.3;0;0;0;0.3;0.3;0.3;\n"
            "PLANE;3;-1;100;100;100;0;1;0;0;4;0;\n"
            "EGO;0;0;0;0;0;0;\nEGO;0;0.1;0;0;0;0;\n");
  const std::vector<std::pair<std::string, std::string>> layouts{{"classic", "classic,pfm,png,masks"},
                                                                  {"middlebury", "png,pfm,masks"},
                                                                  {"kitti", "png,kitti,masks"},
                                                                  {"sceneflow", "png,pfm"}};
  for (const auto& [layout, outputs] : layouts) {
    const std::string render = std::string(TOVIMAR_RENDER_BINARY) + " -q -c both -r 160x120 --layout " + layout +
                               " --outputs " + outputs + " -o " + Quote(run / layout) + " " +
                               Quote(run / "scene.txt") + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(render.c_str()), 0) << layout;
  }
  ASSERT_EQ(Eval("--match sgbm " + Quote(run / "classic/0") + " " + Quote(pred.path()), out).code, 0);
  std::vector<std::pair<double, long>> figures;
  for (const auto& [layout, outputs] : layouts) {
    const std::string json = out / (layout + ".json");
    const ToolRun r = Eval(Quote(run / (layout + "/0")) + " " + Quote(pred.path()) + " --json " + Quote(json), out);
    ASSERT_EQ(r.code, 0) << layout << ": " << r.err;
    const auto report = nlohmann::json::parse(ReadText(json));
    EXPECT_EQ(report["frames"].size(), layout == "kitti" ? 1u : 2u) << layout;
    const auto all = report["frames"][0]["regions"]["all"];
    figures.emplace_back(all["epe"].get<double>(), all["pixels"].get<long>());
    EXPECT_EQ(figures.back().second, figures.front().second) << layout;
    EXPECT_NEAR(figures.back().first, figures.front().first, 0.002) << layout;
  }
  EXPECT_GT(figures.front().second, 160 * 120 / 4);
}
#endif

}  // namespace
}  // namespace tovimar::eval
