// What is computed from frames of ground truth made by hand: KITTI's 16-bit
// quantisation and the occlusion rule.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/truth_rows.h"
#include "truth/frame_truth.h"

namespace tovimar {
namespace {

TEST(KittiDisparity, RoundsQuarterPixelsClampsAndSkipsNoGroundTruth) {
  FrameTruth t = Row({1.0f, 1.0f / 512.0f, 300.0f, 7.5f, 2.0f}, {1, 1, 1, 0, 1});
  long notFitting = 0;
  const std::vector<uint16_t> d = KittiDisparity(t, nullptr, notFitting);
  EXPECT_EQ(d, (std::vector<uint16_t>{256, 1, 65535, 0, 512}));
  EXPECT_EQ(notFitting, 1);
  const std::vector<uint8_t> keep{255, 255, 255, 255, 128};
  EXPECT_EQ(KittiDisparity(t, &keep, notFitting)[4], 0) << "non-occluded only: an occluded pixel is dropped";
  // KITTI's disp_occ_1: 256 px and more is no ground truth there, still counted.
  t.disparity[4] = 256.0f;
  notFitting = 0;
  EXPECT_EQ(KittiDisparity(t, nullptr, notFitting, KittiOverflow::Invalid),
            (std::vector<uint16_t>{256, 1, 0, 0, 0}));
  EXPECT_EQ(notFitting, 2);
}

// One row of a wall (disparity 2) with a box (disparity 6) in front of it at
// left columns 10..14 and right columns 4..8.
TEST(OcclusionMask, BandBesideANearerBoxHasTheDisparityDifferenceAsWidth) {
  const int W = 24;
  std::vector<float> left(W, 2.0f), right(W, 2.0f);
  for (int x = 10; x <= 14; ++x) left[static_cast<std::size_t>(x)] = 6.0f;
  for (int x = 4; x <= 8; ++x) right[static_cast<std::size_t>(x)] = 6.0f;
  const FrameTruth l = Row(left, std::vector<uint8_t>(W, 1));
  const FrameTruth r = Row(right, std::vector<uint8_t>(W, 1));
  const std::vector<uint8_t> ml = OcclusionMask(l, r, false);
  const std::vector<uint8_t> mr = OcclusionMask(r, l, true);
  // Left view: wall columns 6..9 land on the box in the right view.
  std::string left_classes, right_classes;
  for (uint8_t v : ml) left_classes += v == 255 ? 'v' : v == 128 ? 'o' : '-';
  for (uint8_t v : mr) right_classes += v == 255 ? 'v' : v == 128 ? 'o' : '-';
  EXPECT_EQ(left_classes, "oovvvvoooovvvvvvvvvvvvvv");
  // Right view: columns 9..12 are hidden by the box in the left view; the
  // last two fall outside the left image, which hides them too.
  EXPECT_EQ(right_classes, "vvvvvvvvvoooovvvvvvvvvoo");
}

TEST(OcclusionMask, NoGroundTruthAndSubPixelAgreement) {
  // 0.2 px off between two pixels: the interpolated value agrees.
  const FrameTruth l = Row({3.2f, 3.2f, 3.2f, 3.2f, 3.2f, 3.2f}, {1, 1, 1, 1, 1, 0});
  const FrameTruth r = Row({3.0f, 3.0f, 3.0f, 3.4f, 3.4f, 3.4f}, {1, 1, 1, 1, 1, 1});
  const std::vector<uint8_t> m = OcclusionMask(l, r, false);
  EXPECT_EQ(m, (std::vector<uint8_t>{128, 128, 128, 255, 255, 0}));
}

}  // namespace
}  // namespace tovimar
