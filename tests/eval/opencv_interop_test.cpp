// Files written by io are read by OpenCV (C++ and Python) with the same values.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdlib>
#include <opencv2/imgcodecs.hpp>

#include "eval_fixture.h"

namespace tovimar::eval {
namespace {

using namespace testing;

TEST(OpenCvInterop, ReadsOurPfmAndSixteenBitPng) {
  TempDir dir;
  const int w = 5, h = 3;
  std::vector<float> floats(w * h);
  std::vector<uint16_t> grey(w * h), rgb(w * h * 3);
  for (std::size_t i = 0; i < floats.size(); ++i) {
    floats[i] = static_cast<float>(i) * 1.25f - 3.0f;
    grey[i] = static_cast<uint16_t>(i * 4001 + 3);  // high and low bytes differ
  }
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint16_t>(i * 1009 + 7);
  WritePfm(dir / "a.pfm", floats.data(), w, h);
  WritePng16(dir / "g.png", grey.data(), w, h, 1);
  WritePng16(dir / "c.png", rgb.data(), w, h, 3);

  const cv::Mat pfm = cv::imread(dir / "a.pfm", cv::IMREAD_UNCHANGED);
  const cv::Mat g = cv::imread(dir / "g.png", cv::IMREAD_UNCHANGED);
  const cv::Mat c = cv::imread(dir / "c.png", cv::IMREAD_UNCHANGED);
  ASSERT_EQ(pfm.type(), CV_32FC1);
  ASSERT_EQ(g.type(), CV_16UC1);
  ASSERT_EQ(c.type(), CV_16UC3);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * w + x);
      EXPECT_EQ(pfm.at<float>(y, x), floats[i]) << x << "," << y;  // top row first after the bottom-up file
      EXPECT_EQ(g.at<uint16_t>(y, x), grey[i]);
      const cv::Vec3w bgr = c.at<cv::Vec3w>(y, x);
      EXPECT_EQ(bgr[2], rgb[3 * i]);
      EXPECT_EQ(bgr[0], rgb[3 * i + 2]);
    }
  }

  // The same through python3-opencv, where installed.
  if (std::system("/usr/bin/python3 -c 'import cv2' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3-opencv";
  // One value per line: the PFM's floats, then the PNG's samples, top row first.
  WriteText(dir / "check.py",
            "import cv2,sys\n"
            "a=cv2.imread(sys.argv[1],cv2.IMREAD_UNCHANGED); g=cv2.imread(sys.argv[2],cv2.IMREAD_UNCHANGED)\n"
            "print('\\n'.join([repr(float(v)) for v in a.flatten()] + [str(int(v)) for v in g.flatten()]))\n");
  const std::string cmd = "/usr/bin/python3 '" + (dir / "check.py") + "' '" + (dir / "a.pfm") + "' '" +
                          (dir / "g.png") + "' > '" + (dir / "out.txt") + "'";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string text = ReadText(dir / "out.txt");
  std::vector<double> got;
  for (const char* p = text.data(); p < text.data() + text.size();) {
    double v = 0;
    const auto r = std::from_chars(p, text.data() + text.size(), v);
    if (r.ec != std::errc{}) break;
    got.push_back(v);
    p = r.ptr + 1;
  }
  ASSERT_EQ(got.size(), floats.size() + grey.size()) << text;
  for (std::size_t i = 0; i < floats.size(); ++i) EXPECT_EQ(got[i], floats[i]) << i;
  for (std::size_t i = 0; i < grey.size(); ++i) EXPECT_EQ(got[floats.size() + i], grey[i]) << i;
}

}  // namespace
}  // namespace tovimar::eval
