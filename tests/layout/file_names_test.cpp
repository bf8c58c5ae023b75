// Every layout's file names, made and read back.
#include "layout/file_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace tovimar {
namespace {

TEST(OutputNames, DirectoryAndFrameNumbers) {
  EXPECT_EQ(OutputDirectory("/tmp/out", 3), "/tmp/out/3/");
  EXPECT_EQ(OutputDirectory("/tmp/out/", 2), "/tmp/out/2/");
  EXPECT_EQ(OutputDirectory("", 3), "3/");
  EXPECT_EQ(OutputDirectory("rel", 100), "rel/100/");

  EXPECT_EQ(FrameNumber(0), "0000");
  EXPECT_EQ(FrameNumber(7), "0007");
  EXPECT_EQ(FrameNumber(9), "0009");
  EXPECT_EQ(FrameNumber(10), "0010");
  EXPECT_EQ(FrameNumber(123), "0123");
  EXPECT_EQ(FrameNumber(9999), "9999");
  // Widening past 9999: no later frame reuses an earlier frame's name.
  EXPECT_EQ(FrameNumber(10000), "10000");
  EXPECT_EQ(FrameNumber(10007), "10007");
  EXPECT_EQ(FrameNumber(123456), "123456");
  EXPECT_NE(FrameNumber(10007), FrameNumber(7));
}

TEST(OutputNames, FiveNamesPerCamera) {
  const FrameFileNames l = MakeFrameFileNames("/o/0/", false, 12);
  EXPECT_EQ(l.cameraImage, "/o/0/left_0012.bmp");
  EXPECT_EQ(l.subPixelMap, "/o/0/ldisp_0012.bmp");
  EXPECT_EQ(l.pixelMap, "/o/0/ldisp_p_0012.bmp");
  EXPECT_EQ(l.disparityText, "/o/0/lbindisp_0012.dat");
  EXPECT_EQ(l.segmentation, "/o/0/seg_l_0012.bmp");
  const FrameFileNames r = MakeFrameFileNames("3/", true, 0);
  EXPECT_EQ(r.cameraImage, "3/right_0000.bmp");
  EXPECT_EQ(r.subPixelMap, "3/disp_0000.bmp");
  EXPECT_EQ(r.pixelMap, "3/disp_p_0000.bmp");
  EXPECT_EQ(r.disparityText, "3/bindisp_0000.dat");
  EXPECT_EQ(r.segmentation, "3/seg_r_0000.bmp");
  EXPECT_EQ(CameraImageName(false, 7), "left_0007.bmp");
  EXPECT_EQ(CameraImageName(true, 10000), "right_10000.bmp");
}

// Every name a layout gives is read back as its frame and camera, and as no
// frame of the other camera (a Middlebury frame's calib.txt is both's).
TEST(OutputNames, EveryNameIsReadBackAsItsFrameAndCamera) {
  for (const DatasetLayout layout : {DatasetLayout::Classic, DatasetLayout::Middlebury, DatasetLayout::Kitti}) {
    for (const bool right : {false, true}) {
      for (const int32_t frame : {0, 12, 9999, 10000, 1234567}) {
        const FrameFileNames c = MakeFrameFileNames("", right, frame);
        const DatasetFileNames d = MakeDatasetFileNames("", layout, right, frame);
        std::vector<std::string> names{c.cameraImage, c.subPixelMap, c.pixelMap, c.disparityText, c.segmentation,
                                       d.disparityPfm, d.depthPfm, d.disparity16, d.disparityNoc16, d.imagePng,
                                       d.mask, d.scratchPfm, d.flowFlo, d.flow16, d.disparityChange, d.flowMask};
        names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
        EXPECT_GE(names.size(), 11u);
        for (const std::string& name : names) {
          EXPECT_EQ(FrameOfRunFile(name, right), frame) << name;
          EXPECT_EQ(FrameOfRunFile(name, !right), -1) << name;
        }
        if (!d.frameCalibration.empty()) {
          EXPECT_EQ(FrameOfRunFile(d.frameCalibration, right), frame);
          EXPECT_EQ(FrameOfRunFile(d.frameCalibration, !right), frame);
        }
      }
    }
  }
  for (const char* other : {"left_012.bmp", "left_+012.bmp", "left_0012.bmp.bak", "notes.txt", "0012/notes.txt",
                            "image_2/0012.png", "image_2/000012_10.png", "meta.json", "calib.txt"}) {
    EXPECT_EQ(FrameOfRunFile(other, false), -1) << other;
  }
}

// The files of earlier runs are found in the layout folders too, with the
// unfinished ones, and nothing else.
TEST(OutputNames, RunFilesOfACameraAndOfASequence) {
  testing::TempDir tmp;
  const std::string dir = tmp.path() + "/";
  const std::vector<std::string> files{"left_0000.bmp", "ldisp_0003.pfm", "lflow_0003.flo", "0003/im0.png",
                                       "0003/calib.txt", "image_2/000004.png", ".scratch/ldisp_0004.pfm",
                                       "image_2/.000001.png.tmpAb12Cd", "right_0003.bmp", "0003/im1.png",
                                       "meta.json", "scene.txt", "poses_left.txt", "L.avi", "notes.txt",
                                       "0003/notes.txt", ".tovimar.lock"};
  for (const std::string& f : files) {
    std::filesystem::create_directories(std::filesystem::path(dir + f).parent_path());
    std::ofstream(dir + f) << "x";
  }
  auto relative = [&](std::vector<std::string> paths) {
    for (std::string& p : paths) p = p.substr(dir.size());
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  EXPECT_EQ(relative(CameraRunFiles(dir, false, 3)),
            (std::vector<std::string>{".scratch/ldisp_0004.pfm", "0003/calib.txt", "0003/im0.png",
                                      "image_2/.000001.png.tmpAb12Cd", "image_2/000004.png", "ldisp_0003.pfm",
                                      "lflow_0003.flo"}));
  EXPECT_EQ(relative(CameraRunFiles(dir, true, 4)), std::vector<std::string>{});
  std::vector<std::string> all = relative(SequenceRunFiles(dir));
  std::vector<std::string> expected(files.begin(), files.end());
  for (const char* kept : {"notes.txt", "0003/notes.txt", ".tovimar.lock"})
    expected.erase(std::find(expected.begin(), expected.end(), kept));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);
}

}  // namespace
}  // namespace tovimar
