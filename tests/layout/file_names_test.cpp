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

// KITTI 2015's indices: every frame with a next frame, and the one frame of
// a one-frame run; never the last frame of a longer run.
TEST(OutputNames, KittiIndicesAreTheFramesWithANextFrame) {
  const struct {
    int64_t frame, frameCount;
    bool index;
  } cases[] = {{0, 1, true}, {0, 2, true}, {1, 2, false}, {0, 5, true}, {3, 5, true}, {4, 5, false}};
  for (const auto& c : cases) EXPECT_EQ(IsKittiIndex(c.frame, c.frameCount), c.index) << c.frame << " of " << c.frameCount;
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
// frame of the other camera.
TEST(OutputNames, EveryNameIsReadBackAsItsFrameAndCamera) {
  const std::string dir = "o/3/";
  for (const DatasetLayout layout :
       {DatasetLayout::Classic, DatasetLayout::Middlebury, DatasetLayout::Kitti, DatasetLayout::SceneFlow}) {
    for (const bool right : {false, true}) {
      for (const int32_t frame : {0, 12, 9999, 10000, 1234567}) {
        const FrameFileNames c = MakeFrameFileNames(dir, right, frame);
        const DatasetFileNames d = MakeDatasetFileNames(dir, layout, right, frame, {"TEST/B", 5});
        std::vector<std::string> names{c.cameraImage, c.subPixelMap, c.pixelMap, c.disparityText, c.segmentation,
                                       d.frameCalibration, d.disparityPfm, d.depthPfm, d.disparity16,
                                       d.disparityNoc16, d.imagePng, d.cleanImagePng, d.mask, d.scratchPfm,
                                       d.flowFlo, d.flow16, d.disparityChange, d.flowMask, d.nextImagePng,
                                       d.nextDisparity16, d.nextDisparityNoc16, d.flowNoc16, d.flowFuturePfm,
                                       d.flowPastPfm, d.disparityChangePast, d.odometryImagePng};
        names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
        EXPECT_GE(names.size(), 9u);
        for (const std::string& name : names) {
          const std::string relative = name.substr(dir.size());
          EXPECT_EQ(FrameOfRunFile(relative, right, "0003"), frame) << relative;
          EXPECT_EQ(FrameOfRunFile(relative, !right, "0003"), -1) << relative;
        }
      }
    }
  }
  for (const char* other : {"left_012.bmp", "left_+012.bmp", "left_0012.bmp.bak", "notes.txt", "0012/notes.txt",
                            "image_2/000012.png", "image_2/000012_12.png", "0012/im0.png", "meta.json",
                            "calib.txt", "../disparity/TRAIN/A/0004/left/0012.pfm",
                            "../disparity/TRAIN/0003/left/0012.pfm", "../disparity/TRAIN/A/0003/left/012.pfm"}) {
    EXPECT_EQ(FrameOfRunFile(other, false, "0003"), -1) << other;
  }
}

// FlyingThings3D's tree: the split and scene folders, and frame numbers as
// wide as the run's last frame needs so that sorted names keep frame order.
TEST(OutputNames, SceneFlowTree) {
  const DatasetFileNames l = MakeDatasetFileNames("/o/3/", DatasetLayout::SceneFlow, false, 7);
  EXPECT_EQ(l.cleanImagePng, "/o/3/../frames_cleanpass/TRAIN/A/0003/left/0007.png");
  EXPECT_EQ(l.imagePng, "/o/3/../frames_finalpass/TRAIN/A/0003/left/0007.png");
  EXPECT_EQ(l.disparityPfm, "/o/3/../disparity/TRAIN/A/0003/left/0007.pfm");
  EXPECT_EQ(l.flowFuturePfm, "/o/3/../optical_flow/TRAIN/A/0003/into_future/left/OpticalFlowIntoFuture_0007_L.pfm");
  EXPECT_EQ(l.flowPastPfm, "/o/3/../optical_flow/TRAIN/A/0003/into_past/left/OpticalFlowIntoPast_0007_L.pfm");
  EXPECT_EQ(l.disparityChange, "/o/3/../disparity_change/TRAIN/A/0003/into_future/left/0007.pfm");
  EXPECT_EQ(l.disparityChangePast, "/o/3/../disparity_change/TRAIN/A/0003/into_past/left/0007.pfm");
  EXPECT_EQ(l.flowFlo, "");
  EXPECT_EQ(l.mask, "");
  const DatasetFileNames r =
      MakeDatasetFileNames("/o/12345/", DatasetLayout::SceneFlow, true, 7, {"TEST/B", SceneFlowFrameDigits(10001)});
  EXPECT_EQ(r.flowFuturePfm,
            "/o/12345/../optical_flow/TEST/B/12345/into_future/right/OpticalFlowIntoFuture_00007_R.pfm");
  EXPECT_EQ(SceneFlowFrameDigits(1), 4);
  EXPECT_EQ(SceneFlowFrameDigits(10000), 4);  // last frame 9999
  EXPECT_EQ(SceneFlowFrameDigits(10001), 5);
  EXPECT_EQ(SceneFlowScene("out/3/"), "0003");
  EXPECT_EQ(SceneFlowScene("out/street/"), "street");
  // Another split's sequence folder sits beside TRAIN/A's, named for the
  // split, and names the same scene number in its own split's tree.
  EXPECT_EQ(SplitSequenceDirectory("out/3/", "TRAIN/A"), "out/3/");
  EXPECT_EQ(SplitSequenceDirectory("out/3/", "TEST/A"), "out/TEST@A@3/");
  EXPECT_EQ(SplitSequenceDirectory("/o/street/", "TEST/B"), "/o/TEST@B@street/");
  EXPECT_EQ(SplitSequenceDirectory("3/", "TEST/A"), "TEST@A@3/");
  EXPECT_EQ(SceneFlowScene("out/TEST@A@3/"), "0003");
  EXPECT_EQ(SceneFlowSplitOf("out/TEST@A@3/"), "TEST/A");
  EXPECT_EQ(SceneFlowSplitOf("out/3/"), "TRAIN/A");
  EXPECT_EQ(MakeDatasetFileNames("/o/TEST@A@3/", DatasetLayout::SceneFlow, false, 7, {"TEST/A", 4}).imagePng,
            "/o/TEST@A@3/../frames_finalpass/TEST/A/0003/left/0007.png");
}

// The files of earlier runs are found in the layout folders too, with the
// unfinished ones, and nothing else.
TEST(OutputNames, RunFilesOfACameraAndOfASequence) {
  testing::TempDir tmp;
  const std::string dir = tmp.path() + "/3/";
  const std::vector<std::string> files{"left_0000.bmp", "ldisp_0003.pfm", "lflow_0003.flo",
                                       "trainingF/0003/im0.png", "trainingF/0003/calib.txt",
                                       "image_2/000004_10.png", ".scratch/ldisp_0004.pfm",
                                       "image_2/.000001_10.png.tmpAb12Cd", "../disparity/TRAIN/A/0003/left/0003.pfm",
                                       "../optical_flow/TEST/B/0003/into_past/left/OpticalFlowIntoPast_0005_L.pfm",
                                       "right_0003.bmp", "trainingF/0003/im1.png",
                                       "../frames_cleanpass/TRAIN/A/0003/right/0003.png", "meta.json", "scene.txt",
                                       "poses_left.txt", "L.avi", "notes.txt", "trainingF/0003/notes.txt",
                                       "../disparity/TRAIN/A/0004/left/0003.pfm", ".tovimar.lock"};
  for (const std::string& f : files) {
    std::filesystem::create_directories(std::filesystem::path(dir + f).parent_path());
    std::ofstream(dir + f) << "x";
  }
  auto relative = [&](std::vector<std::string> paths) {
    for (std::string& p : paths) p = std::filesystem::path(p).lexically_relative(tmp.path() + "/3").generic_string();
    std::sort(paths.begin(), paths.end());
    return paths;
  };
  // Another split's scene 0003 is another sequence's (TEST@B@3/).
  std::vector<std::string> left{".scratch/ldisp_0004.pfm", "../disparity/TRAIN/A/0003/left/0003.pfm",
                                      "image_2/.000001_10.png.tmpAb12Cd", "image_2/000004_10.png",
                                      "ldisp_0003.pfm", "lflow_0003.flo", "trainingF/0003/calib.txt",
                                      "trainingF/0003/im0.png"};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(relative(CameraRunFiles(dir, false, 3)), left);
  EXPECT_EQ(relative(CameraRunFiles(dir, true, 4)), std::vector<std::string>{});
  std::vector<std::string> all = relative(SequenceRunFiles(dir));
  std::vector<std::string> expected(files.begin(), files.end());
  for (const char* kept : {"notes.txt", "trainingF/0003/notes.txt", "../disparity/TRAIN/A/0004/left/0003.pfm",
                           "../optical_flow/TEST/B/0003/into_past/left/OpticalFlowIntoPast_0005_L.pfm", ".tovimar.lock"})
    expected.erase(std::find(expected.begin(), expected.end(), kept));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(all, expected);
}

// Layout folders that are links to folders elsewhere are written through, so
// their run files are found through them too; other files there are not, and
// a link back up is not followed round.
TEST(OutputNames, RunFilesThroughLinkedLayoutFolders) {
  testing::TempDir tmp;
  namespace fs = std::filesystem;
  const std::string dir = tmp.path() + "/out/3/";
  for (const char* f : {"elsewhere/middlebury/0003/im0.png", "elsewhere/middlebury/0003/notes.txt",
                        "elsewhere/tree/left/0003.pfm", "out/3/ldisp_0003.pfm"}) {
    fs::create_directories(fs::path(tmp.path() + "/" + f).parent_path());
    std::ofstream(tmp.path() + "/" + f) << "x";
  }
  fs::create_directory_symlink(tmp.path() + "/elsewhere/middlebury", dir + "trainingF");
  fs::create_directories(tmp.path() + "/out/disparity/TRAIN/A");
  fs::create_directory_symlink(tmp.path() + "/elsewhere/tree", tmp.path() + "/out/disparity/TRAIN/A/0003");
  fs::create_directory_symlink(dir, dir + "trainingF/0003/back");
  std::vector<std::string> found = CameraRunFiles(dir, false, 0);
  for (std::string& p : found) p = fs::path(p).lexically_relative(tmp.path() + "/out/3").generic_string();
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{"../disparity/TRAIN/A/0003/left/0003.pfm", "ldisp_0003.pfm",
                                             "trainingF/0003/im0.png"}));
}

}  // namespace
}  // namespace tovimar
