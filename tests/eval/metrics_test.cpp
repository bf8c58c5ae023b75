// Figures of synthetic sequences with hand-computed answers: a constant
// offset, one object off by 10 px, invalid predictions under both rules,
// per-object regions, and predictions numbered one frame off.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <limits>

#include "eval/evaluate.h"
#include "eval_fixture.h"

namespace tovimar::eval {
namespace {

using namespace testing;

const RegionMetrics& Region(const RegionList& regions, const std::string& name) {
  for (const auto& [n, m] : regions) {
    if (n == name) return m;
  }
  throw std::runtime_error("no region " + name);
}

std::vector<std::string> Names(const RegionList& regions) {
  std::vector<std::string> names;
  for (const auto& r : regions) names.push_back(r.first);
  return names;
}

EvalResult EvaluateDirs(const std::string& gt, const std::string& pred, InvalidRule rule = InvalidRule::Fill) {
  EvalOptions options;
  options.invalid = rule;
  return Evaluate(Dataset::Open(gt, Camera::Left), pred, options);
}

TEST(EvalMetrics, ConstantOffsetGivesThatErrorEverywhere) {
  for (bool pfm : {true, false}) {  // ground truth as PFM and as disparity text
    TempDir gt, pred;
    WriteClassicFrame(gt.path(), 0, Truth(), pfm);
    const std::vector<float> p = Truth(0.3f);
    WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);
    const EvalResult r = EvaluateDirs(gt.path(), pred.path());
    ASSERT_EQ(r.frames.size(), 1u);
    ASSERT_EQ(r.frames[0].error, "");
    EXPECT_EQ(Names(r.frames[0].regions), (std::vector<std::string>{"all", "nonoccluded", "occluded", "id:3", "id:7"}));
    for (const RegionList* list : {&r.frames[0].regions, &r.total}) {
      const RegionMetrics& all = Region(*list, "all");
      EXPECT_EQ(all.pixels, 28u);  // column 7 has no ground truth
      EXPECT_NEAR(all.epe, 0.3, 1e-5);
      EXPECT_NEAR(all.rmse, 0.3, 1e-5);
      EXPECT_EQ(all.bad05, 0);
      EXPECT_EQ(all.bad1 + all.bad2 + all.bad4 + all.d1, 0);
      EXPECT_NEAR(all.a50, 0.3, 1.0 / 512);
      EXPECT_NEAR(all.a99, 0.3, 1.0 / 512);
      EXPECT_EQ(all.density, 100);
      EXPECT_EQ(Region(*list, "nonoccluded").pixels, 24u);
      EXPECT_EQ(Region(*list, "occluded").pixels, 4u);
      // Objects partition the labelled pixels with ground truth (columns 0-5).
      EXPECT_EQ(Region(*list, "id:3").pixels, 16u);
      EXPECT_EQ(Region(*list, "id:7").pixels, 8u);
    }
  }
}

TEST(EvalMetrics, OneObjectOffByTenPixels) {
  TempDir gt, pred;
  WriteClassicFrame(gt.path(), 0, Truth());
  std::vector<float> p = Truth();
  for (int y = 0; y < kH; ++y)
    for (int x = 4; x < 6; ++x) p[static_cast<std::size_t>(y * kW + x)] += 10;
  WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);
  const EvalResult r = EvaluateDirs(gt.path(), pred.path());
  const RegionMetrics& all = Region(r.frames[0].regions, "all");
  EXPECT_NEAR(all.epe, 80.0 / 28, 1e-6);
  EXPECT_NEAR(all.rmse, std::sqrt(800.0 / 28), 1e-6);
  for (double bad : {all.bad05, all.bad1, all.bad2, all.bad4, all.d1}) EXPECT_NEAR(bad, 800.0 / 28, 1e-9);
  EXPECT_EQ(all.a50, 0);   // element 14 of 28 sorted errors
  EXPECT_EQ(all.a90, 10);  // element 26
  const RegionMetrics& moved = Region(r.frames[0].regions, "id:7");
  EXPECT_EQ(moved.epe, 10);
  EXPECT_EQ(moved.bad4, 100);
  EXPECT_EQ(Region(r.frames[0].regions, "id:3").epe, 0);
  EXPECT_NEAR(Region(r.total, "all").a90, 10, 1.0 / 16);
}

// The sequence's quantiles agree with the frame's exact ones to 1/512 px
// however large the errors are.
TEST(EvalMetrics, SequenceQuantilesAreExactToAHalfBinAtAnyError) {
  for (float offset : {100.3f, 1500.7f, 40000.5f, 3.0e9f}) {
    TempDir gt, pred;
    WriteClassicFrame(gt.path(), 0, Truth());
    std::vector<float> p = Truth(offset);
    p[0] = Truth()[0] + 0.25f;  // one small error among the large ones
    WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);
    const EvalResult r = EvaluateDirs(gt.path(), pred.path());
    const RegionMetrics& frame = Region(r.frames[0].regions, "all");
    const RegionMetrics& total = Region(r.total, "all");
    EXPECT_GT(frame.a50, offset * 0.99);
    for (const auto& [exact, binned] : {std::pair{frame.a50, total.a50}, std::pair{frame.a99, total.a99}})
      EXPECT_NEAR(binned, exact, 1.0 / 512) << offset;
  }
}

TEST(EvalMetrics, D1NeedsBothThreePixelsAndFivePercent) {
  // Errors of 3.5 px: an outlier at a true disparity of 10..17 (5% < 1 px),
  // not when the truth is large enough that 3.5 px is within 5%.
  TempDir gt, pred;
  std::vector<float> truth = Truth();
  for (int x = 0; x < 4; ++x) truth[static_cast<std::size_t>(x)] = 100;  // top row, object 3: 5% = 5 px
  WriteClassicFrame(gt.path(), 0, truth);
  std::vector<float> p = truth;
  for (float& v : p) v += 3.5f;
  WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);
  const RegionMetrics all = Region(EvaluateDirs(gt.path(), pred.path()).frames[0].regions, "all");
  EXPECT_NEAR(all.d1, 100.0 * 24 / 28, 1e-9);
  EXPECT_EQ(all.bad2, 100);
}

TEST(EvalMetrics, InvalidPredictionsFilledOrExcluded) {
  // Column 2 invalid (NaN, inf, 0, negative by row): 4 of 28 ground-truth
  // pixels. Filled from the left neighbour: error |11.3 - 12| = 0.7.
  TempDir gt, pred;
  WriteClassicFrame(gt.path(), 0, Truth());
  std::vector<float> p = Truth(0.3f);
  const float invalid[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 0, -5};
  for (int y = 0; y < kH; ++y) p[static_cast<std::size_t>(y * kW + 2)] = invalid[y];
  WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);

  const RegionMetrics filled = Region(EvaluateDirs(gt.path(), pred.path(), InvalidRule::Fill).frames[0].regions, "all");
  EXPECT_EQ(filled.pixels, 28u);
  EXPECT_NEAR(filled.epe, (24 * 0.3 + 4 * 0.7) / 28, 1e-5);
  EXPECT_NEAR(filled.bad05, 400.0 / 28, 1e-9);
  EXPECT_NEAR(filled.density, 2400.0 / 28, 1e-9);

  const RegionMetrics excluded = Region(EvaluateDirs(gt.path(), pred.path(), InvalidRule::Exclude).frames[0].regions, "all");
  EXPECT_EQ(excluded.pixels, 24u);
  EXPECT_NEAR(excluded.epe, 0.3, 1e-5);
  EXPECT_EQ(excluded.bad05, 0);
  EXPECT_NEAR(excluded.density, 2400.0 / 28, 1e-9);
  EXPECT_EQ(excluded.groundTruthPixels, 28u);
}

TEST(EvalMetrics, FillTakesTheLeftNeighbourElseTheRightElseZero) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<float> v{nan, 2, -1, INFINITY, 5, /* row 2 */ nan, 0, nan, nan, nan};
  EXPECT_EQ(FillInvalid(v, 5, 2), 2u);
  EXPECT_EQ(v, (std::vector<float>{2, 2, 2, 2, 5, 0, 0, 0, 0, 0}));
}

TEST(EvalMetrics, PaletteSegmentationGivesNoObjectRegions) {
  TempDir gt, pred;
  WriteClassicFrame(gt.path(), 0, Truth(), true, /*palette=*/true);
  const std::vector<float> p = Truth();
  WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);
  const EvalResult r = EvaluateDirs(gt.path(), pred.path());
  EXPECT_EQ(Names(r.frames[0].regions), (std::vector<std::string>{"all", "nonoccluded", "occluded"}));
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("palette"), std::string::npos) << r.notes[0];
}

TEST(EvalMetrics, PredictionsNumberedOneFrameOffAreExposed) {
  // The object approaches: 3 px more disparity each frame. Predictions that
  // are exact but carry the next frame's number are 3 px off everywhere.
  TempDir gt, aligned, shifted;
  for (int k = 0; k < 4; ++k) {
    WriteClassicFrame(gt.path(), k, Truth(3.0f * static_cast<float>(k)));
    const std::vector<float> own = Truth(3.0f * static_cast<float>(k)), next = Truth(3.0f * static_cast<float>(k + 1));
    WritePfm(aligned / ("pred_" + FrameNumber(k) + ".pfm"), own.data(), kW, kH);
    WritePfm(shifted / ("pred_" + FrameNumber(k) + ".pfm"), next.data(), kW, kH);
  }
  const EvalResult good = EvaluateDirs(gt.path(), aligned.path());
  EXPECT_EQ(Region(good.total, "all").epe, 0);
  EXPECT_TRUE(good.warnings.empty());
  const EvalResult bad = EvaluateDirs(gt.path(), shifted.path());
  EXPECT_NEAR(Region(bad.total, "all").epe, 3, 1e-6);
  EXPECT_EQ(Region(bad.total, "all").bad2, 100);
  ASSERT_EQ(bad.warnings.size(), 1u);
  EXPECT_NE(bad.warnings[0].find("frame k+1"), std::string::npos) << bad.warnings[0];
}

// Predictions named as KITTI names its pairs belong to the first time
// step's index; other names to their last number.
TEST(EvalMetrics, FrameOfAPredictionsName) {
  EXPECT_EQ(FrameOfName("000007_10.png"), 7);
  EXPECT_EQ(FrameOfName("dir/000123_10.pfm"), 123);
  EXPECT_EQ(FrameOfName("pred_0003.pfm"), 3);
  EXPECT_EQ(FrameOfName("frame_10.png"), 10);
  EXPECT_EQ(FrameOfName("disp.pfm"), -1);
}

TEST(EvalMetrics, UnreadableFramesAreNamedAndTheOthersEvaluated) {
  TempDir gt, pred;
  for (int k = 0; k < 4; ++k) WriteClassicFrame(gt.path(), k, Truth());
  const std::vector<float> p = Truth(), small(4, 1.0f);
  WritePfm(pred / "pred_0000.pfm", p.data(), kW, kH);
  // frame 1: no prediction; frame 2: another size; frame 3: a 16-bit PNG at scale 256.
  WritePfm(pred / "pred_0002.pfm", small.data(), 2, 2);
  std::vector<uint16_t> png(p.size());
  for (std::size_t i = 0; i < p.size(); ++i) png[i] = static_cast<uint16_t>(std::lround((p[i] + 0.25f) * 256));
  WritePng16(pred / "frame_3.png", png.data(), kW, kH, 1);
  const EvalResult r = EvaluateDirs(gt.path(), pred.path());
  ASSERT_EQ(r.frames.size(), 4u);
  EXPECT_EQ(r.frames[0].error, "");
  EXPECT_NE(r.frames[1].error.find("no prediction for frame 1"), std::string::npos) << r.frames[1].error;
  EXPECT_NE(r.frames[2].error.find("pred_0002.pfm' is 2x2"), std::string::npos) << r.frames[2].error;
  EXPECT_EQ(r.frames[3].error, "");
  EXPECT_NEAR(Region(r.frames[3].regions, "all").epe, 0.25, 1e-6);
  EXPECT_FALSE(r.AllRead());
  EXPECT_EQ(Region(r.total, "all").pixels, 56u);

  // Damaged ground truth is named too.
  WriteText(gt / "ldisp_0000.pfm", "Pf\n8 4\n-1\n");
  const EvalResult damaged = EvaluateDirs(gt.path(), pred.path());
  EXPECT_NE(damaged.frames[0].error.find("ldisp_0000.pfm' is not a readable PFM"), std::string::npos);

  // A segmentation map of another size is refused from its header, before
  // its pixels (here a header of 30000 x 30000, its pixels a sparse file's
  // zeros that are never read).
  std::string header(54, '\0');
  const auto put32 = [&header](std::size_t at, uint32_t v) {
    for (int b = 0; b < 4; ++b) header[at + b] = static_cast<char>(v >> (8 * b));
  };
  header[0] = 'B';
  header[1] = 'M';
  put32(2, 54 + 90000u * 30000u);
  put32(10, 54);
  put32(14, 40);
  put32(18, 30000);
  put32(22, 30000);
  header[26] = 1;
  header[28] = 24;
  WriteText(gt / "seg_l_0003.bmp", header);
  fs::resize_file(gt / "seg_l_0003.bmp", 54 + std::uintmax_t{90000} * 30000);
  const EvalResult big = EvaluateDirs(gt.path(), pred.path());
  EXPECT_NE(big.frames[3].error.find("seg_l_0003.bmp' is 30000x30000, the disparity is 8x4"), std::string::npos)
      << big.frames[3].error;
  // A mask's name held by something that is not a file is named, not taken
  // as no mask.
  fs::remove(gt / "lmask_0002.png");
  fs::create_directory(gt / "lmask_0002.png");
  const EvalResult folder = EvaluateDirs(gt.path(), pred.path());
  EXPECT_NE(folder.frames[2].error.find("lmask_0002.png' is there but is not a regular file"), std::string::npos)
      << folder.frames[2].error;
}

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// A prediction whose header gives another size than the ground truth, or
// that is no PNG, is refused from its first bytes: huge files (sparse here)
// are never read whole.
TEST(EvalMetrics, PredictionsAreCheckedFromTheirHeadersBeforeTheirPixels) {
  TempDir gt, pred;
  for (int k = 0; k < 3; ++k) WriteClassicFrame(gt.path(), k, Truth());
  const auto sparse = [&](const std::string& name, const std::string& head, std::uintmax_t size) {
    WriteText(pred / name, head);
    fs::resize_file(pred / name, size);
  };
  sparse("pred_0000.dat", "20000\r\n20000\r\n", std::uintmax_t{256} << 20);
  sparse("pred_0001.pfm", "Pf\n4096 4096\n-1\n", 16 + (std::uintmax_t{64} << 20));
  sparse("pred_0002.png", "GIF89a", std::uintmax_t{256} << 20);
  const long before = PeakKilobytes();
  const EvalResult r = EvaluateDirs(gt.path(), pred.path());
  EXPECT_LT(PeakKilobytes() - before, 32 * 1024);
  ASSERT_EQ(r.frames.size(), 3u);
  EXPECT_NE(r.frames[0].error.find("pred_0000.dat' is 20000x20000, the ground truth is 8x4"), std::string::npos)
      << r.frames[0].error;
  EXPECT_NE(r.frames[1].error.find("pred_0001.pfm' is 4096x4096"), std::string::npos) << r.frames[1].error;
  EXPECT_NE(r.frames[2].error.find("no PNG signature"), std::string::npos) << r.frames[2].error;
}

TEST(EvalDisparityText, RefusesDamagedFiles) {
  DisparityMap m;
  const std::string good = "2\r\n1\r\n1.5\r\ninf\r\n\r\n";
  ASSERT_EQ(ParseDisparityText(good.data(), good.size(), m), "");
  EXPECT_EQ(m.values[0], 1.5f);
  EXPECT_TRUE(std::isinf(m.values[1]));
  for (std::size_t n = 0; n + 4 < good.size(); ++n) {
    const std::vector<char> copy(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_NE(ParseDisparityText(copy.data(), copy.size(), m), "") << n;
  }
  for (const std::string bad : {"2\r\n1\r\n1.5\r\n2\r\n3\r\n", "2\r\n1\r\n1.5x\r\n2\r\n", "0\r\n1\r\n",
                                "2\r\n1\r\n1,5\r\n2\r\n", "99999999\r\n99999\r\n1\r\n"}) {
    EXPECT_NE(ParseDisparityText(bad.data(), bad.size(), m), "") << bad;
  }
}

}  // namespace
}  // namespace tovimar::eval
