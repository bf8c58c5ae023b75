// tovimar-dataset as a child process: the benchmark trees per layout, the
// splits kept apart, the card and lists, and a resumed run's bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <map>
#include <sstream>
#include <string>

#include "base/number_text.h"
#include "io/pfm.h"
#include "io/png.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int RunDataset(const std::string& dir, const std::string& args) {
  const std::string cmd = "cd '" + dir + "' && '" TOVIMAR_DATASET_BINARY "' " + args + " 2>err.txt >/dev/null";
  const int status = std::system(cmd.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::size_t Count(const std::string& dir) {
  std::size_t n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

// Every file under root with its bytes, meta.json's wall times aside.
std::map<std::string, std::string> Files(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = e.path().lexically_relative(root).generic_string();
    if (e.is_regular_file() && !rel.ends_with("meta.json") && !rel.ends_with("batch.json") && rel != "err.txt")
      files[rel] = Read(e.path().string());
  }
  return files;
}

// Every file under dir whose path ends in `ending`, in path order.
std::vector<std::string> FilesUnder(const std::string& dir, const std::string& ending) {
  std::vector<std::string> paths;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file() && e.path().string().ends_with(ending)) paths.push_back(e.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

// The cells of the card's statistics row of a split.
std::vector<std::string> CardRow(const std::string& card, const std::string& name) {
  const std::size_t at = card.find("\n| " + name + " | ", card.find("## Statistics"));
  std::vector<std::string> cells;
  if (at == std::string::npos) return cells;
  std::istringstream row(card.substr(at + 2, card.find('\n', at + 1) - at - 3));
  std::string cell;
  while (std::getline(row, cell, '|'))
    if (!cell.empty()) cells.push_back(cell.substr(1, cell.size() - 2));
  return cells;
}

std::string Percent(uint64_t part, uint64_t whole) { return tovimar::Fixed(100.0 * double(part) / double(whole), 2) + " %"; }

const char* const kSmall = "--preset flying --count 4 --frames 3 --resolution 64x48 --seed 5 --out ds ";

TEST(Dataset, SceneFlowSplitsCardListsAndResume) {
  tovimar::testing::TempDir tmp;
  const std::string d = tmp.path() + "/ds/";
  ASSERT_EQ(RunDataset(tmp.path(), std::string(kSmall) + "--layout sceneflow --splits train=0.75,test=0.25"), 0)
      << Read(tmp.path() + "/err.txt");
  EXPECT_EQ(Count(d + "frames_cleanpass/TRAIN/A"), 3u);
  EXPECT_EQ(Count(d + "frames_cleanpass/TEST/A"), 1u);
  for (const char* product : {"frames_cleanpass", "frames_finalpass", "disparity"}) {
    EXPECT_EQ(Count(d + product + "/TRAIN/A/0002/right"), 3u) << product;
    EXPECT_EQ(Count(d + product + "/TEST/A/0000/left"), 3u) << product;
  }
  EXPECT_EQ(Count(d + "optical_flow/TEST/A/0000/into_future/left"), 3u);
  // Each split's sequences keep their own files: TEST's scene is the fourth.
  EXPECT_EQ(Read(d + "TEST@A@0/scene.txt"), Read(d + "scenes/scene_000003.txt"));
  EXPECT_EQ(Read(d + "0/scene.txt"), Read(d + "scenes/scene_000000.txt"));
  EXPECT_FALSE(fs::exists(d + "3"));
  // Each split's batch keeps its summary: TRAIN's in batch.json, TEST's named as its folders.
  EXPECT_NE(Read(d + "batch.json").find("\"scenes\": 3,"), std::string::npos) << Read(d + "batch.json");
  EXPECT_NE(Read(d + "TEST@A@batch.json").find("\"scenes\": 1,"), std::string::npos);
  // FlyingThings3D's camera_data.txt: Frame N, then L and R of 16 numbers.
  const std::string camera = Read(d + "camera_data/TEST/A/0000/camera_data.txt");
  ASSERT_TRUE(camera.starts_with("Frame 0\nL ")) << camera;
  EXPECT_NE(camera.find("\n\nFrame 2\nL "), std::string::npos) << camera;
  std::istringstream lines(camera);
  std::string line;
  int matrices = 0;
  while (std::getline(lines, line)) {
    if (line.empty() || line.starts_with("Frame ")) continue;
    std::istringstream numbers(line.substr(2));
    double v = 0;
    int n = 0;
    while (numbers >> v) ++n;
    EXPECT_EQ(n, 16) << line;
    ++matrices;
  }
  EXPECT_EQ(matrices, 6);
  EXPECT_TRUE(fs::exists(d + "camera_data/TRAIN/A/0002/camera_data.txt"));
  // Lists and card.
  const std::string test = Read(d + "test.txt");
  EXPECT_EQ(test, "frames_cleanpass/TEST/A/0000/left/0000.png\nframes_cleanpass/TEST/A/0000/left/0001.png\n"
                  "frames_cleanpass/TEST/A/0000/left/0002.png\n");
  const std::string train = Read(d + "train.txt");
  EXPECT_EQ(std::count(train.begin(), train.end(), '\n'), 9);
  EXPECT_EQ(train.find("TEST"), std::string::npos);
  const std::string card = Read(d + "README.md");
  EXPECT_NE(card.find("| train | 3 | 9 |"), std::string::npos) << card;
  EXPECT_NE(card.find("| test | 1 | 3 |"), std::string::npos) << card;
  EXPECT_NE(card.find("--layout sceneflow"), std::string::npos) << card;
  EXPECT_NE(card.find("1e10"), std::string::npos) << card;
  // The card's figures equal those recomputed from the tree's files: the
  // disparity's range and mean, the flow's mean and longest (the last
  // frame's future flow, 1e10 everywhere, holds none).
  for (const char* split : {"TRAIN", "TEST"}) {
    double low = INFINITY, high = -INFINITY, sum = 0, flowSum = 0, longest = 0;
    uint64_t n = 0, pixels = 0, flowN = 0, flowPixels = 0;
    for (const std::string& path : FilesUnder(d + "disparity/" + split, ".pfm")) {
      if (path.find("/left/") == std::string::npos) continue;
      for (float v : tovimar::ReadPfm(path).values) {
        ++pixels;
        if (!std::isfinite(v)) continue;
        low = std::min(low, double(v)), high = std::max(high, double(v)), sum += v, ++n;
      }
    }
    for (const std::string& path : FilesUnder(d + "optical_flow/" + split, "_L.pfm")) {
      if (path.find("into_future") == std::string::npos || path.ends_with("_0002_L.pfm")) continue;
      const auto flow = tovimar::ReadPfm(path).values;
      for (std::size_t i = 0; i < flow.size(); i += 3, ++flowPixels) {
        if (std::fabs(flow[i]) > 1e9f) continue;
        const double length = std::hypot(flow[i], flow[i + 1]);
        flowSum += length, longest = std::max(longest, length), ++flowN;
      }
    }
    const std::vector<std::string> row = CardRow(card, split == std::string("TRAIN") ? "train" : "test");
    const std::vector<std::string> expected{split == std::string("TRAIN") ? "train" : "test",
                                            std::to_string(pixels / (64 * 48)),
                                            tovimar::Fixed(low, 3), tovimar::Fixed(high, 3),
                                            tovimar::Fixed(sum / double(n), 3), Percent(pixels - n, pixels), "n/a",
                                            std::to_string(flowPixels / (64 * 48)), tovimar::Fixed(flowSum / double(flowN), 3),
                                            tovimar::Fixed(longest, 3), Percent(flowPixels - flowN, flowPixels), "n/a"};
    EXPECT_EQ(row, expected) << card;
  }
  // The pictures: three training frames a row each (image, disparity, flow)
  // and the two histograms.
  const tovimar::PngImage preview = tovimar::ReadPng(d + "preview.png");
  EXPECT_EQ(preview.width, 3 * 64 + 4 * 4);
  EXPECT_EQ(preview.height, 3 * 48 + 4 * 4);
  EXPECT_EQ(tovimar::ReadPng(d + "statistics.png").channels, 3);

  // An interrupted run (a sequence's last files and the card gone) resumed:
  // the same bytes.
  const auto before = Files(d);
  fs::remove(d + "TEST@A@0/meta.json");
  fs::remove(d + "disparity/TEST/A/0000/left/0002.pfm");
  fs::remove(d + "frames_finalpass/TRAIN/A/0001/right/0002.png");
  fs::remove(d + "1/meta.json");
  fs::remove(d + "README.md");
  fs::remove(d + "camera_data/TRAIN/A/0001/camera_data.txt");
  fs::remove(d + "preview.png");
  ASSERT_EQ(RunDataset(tmp.path(), std::string(kSmall) + "--layout sceneflow --splits train=0.75,test=0.25"), 0)
      << Read(tmp.path() + "/err.txt");
  EXPECT_EQ(Files(d), before);
}

TEST(Dataset, KittiAndMiddleburyRootsWithoutTestGroundTruth) {
  tovimar::testing::TempDir tmp;
  const std::string d = tmp.path() + "/ds/";
  ASSERT_EQ(RunDataset(tmp.path(), std::string(kSmall) + "--layout kitti --splits train=0.5,test=0.5"), 0)
      << Read(tmp.path() + "/err.txt");
  // Two scenes a split, two pairs a scene (the last frame has no next one).
  for (const char* folder : {"image_2", "image_3", "disp_occ_0", "disp_noc_0", "flow_occ", "flow_noc",
                             "disp_occ_1", "calib_cam_to_cam"})
    EXPECT_EQ(Count(d + "training/" + folder), std::string(folder).starts_with("image") ? 8u : 4u) << folder;
  EXPECT_TRUE(fs::exists(d + "training/image_2/000003_11.png"));
  EXPECT_FALSE(fs::exists(d + "training/image_2/000004_10.png"));
  EXPECT_EQ(Count(d + "testing/image_2"), 8u);
  for (const char* gt : {"disp_occ_0", "disp_noc_0", "flow_occ", "flow_noc", "disp_occ_1"})
    EXPECT_FALSE(fs::exists(d + "testing/" + gt)) << gt;
  EXPECT_EQ(Read(d + "testing_map.txt"), "# index sequence frame\n000000 0 000000\n000001 0 000001\n"
                                         "000002 1 000000\n000003 1 000001\n");
  EXPECT_EQ(Read(d + "training/image_2/000002_10.png"), Read(d + "sequences/train/1/image_2/000000_10.png"));
  EXPECT_EQ(Read(d + "testing/image_3/000001_11.png"), Read(d + "sequences/test/0/image_3/000001_11.png"));
  const std::string trainList = Read(d + "train.txt");
  EXPECT_EQ(std::count(trainList.begin(), trainList.end(), '\n'), 4);
  EXPECT_TRUE(trainList.starts_with("training/image_2/000000_10.png\n")) << trainList;
  // The card's occluded share: pixels of disp_occ_0 that disp_noc_0 leaves
  // out; its hidden share: pixels of flow_occ that flow_noc leaves out.
  uint64_t withDisparity = 0, occluded = 0, withFlow = 0, hidden = 0;
  for (const std::string& path : FilesUnder(d + "training/disp_occ_0", ".png")) {
    const auto occ = tovimar::ReadPng(path).samples;
    const auto noc = tovimar::ReadPng(d + "training/disp_noc_0/" + fs::path(path).filename().string()).samples;
    for (std::size_t i = 0; i < occ.size(); ++i) withDisparity += occ[i] != 0, occluded += occ[i] != 0 && noc[i] == 0;
    const auto flowOcc = tovimar::ReadPng(d + "training/flow_occ/" + fs::path(path).filename().string()).samples;
    const auto flowNoc = tovimar::ReadPng(d + "training/flow_noc/" + fs::path(path).filename().string()).samples;
    for (std::size_t i = 2; i < flowOcc.size(); i += 3) withFlow += flowOcc[i] != 0, hidden += flowOcc[i] != 0 && flowNoc[i] == 0;
  }
  const std::vector<std::string> row = CardRow(Read(d + "README.md"), "train");
  ASSERT_EQ(row.size(), 12u) << Read(d + "README.md");
  EXPECT_EQ(row[1], "4");
  EXPECT_EQ(row[6], Percent(occluded, withDisparity));
  EXPECT_EQ(row[11], Percent(hidden, withFlow));
  EXPECT_GT(occluded, 0u);

  ASSERT_EQ(RunDataset(tmp.path(), std::string(kSmall) + "--layout middlebury --out mb --splits train=0.75,test=0.25 "
                                                         "--middlebury-sizes F,H,Q"), 0)
      << Read(tmp.path() + "/err.txt");
  const std::string m = tmp.path() + "/mb/MiddEval3/";
  // Loaders list trainingF's scenes and keep those official_train.txt names.
  const std::string official = Read(m + "official_train.txt");
  EXPECT_EQ(std::count(official.begin(), official.end(), '\n'), 9);
  EXPECT_TRUE(official.starts_with("Seq0000Frame0000\nSeq0000Frame0001\n")) << official;
  // H and Q: the same scenes at a half and a quarter of each side, seen
  // through a focal length divided alike (the same view, not a crop).
  const auto focal = [](const std::string& calib) { return std::stod(calib.substr(calib.find('[') + 1)); };
  const double full = focal(Read(m + "trainingF/Seq0001Frame0002/calib.txt"));
  for (const auto& [size, divisor] : {std::pair{"H", 2}, std::pair{"Q", 4}}) {
    const std::string scene = m + "training" + size + "/Seq0001Frame0002/";
    EXPECT_EQ(Count(m + "training" + size), 9u) << size;
    EXPECT_EQ(Count(m + "test" + size + "/Seq0000Frame0002"), 3u) << size;
    const tovimar::PngImage image = tovimar::ReadPng(scene + "im0.png");
    EXPECT_EQ(image.width, 64 / divisor);
    EXPECT_EQ(image.height, 48 / divisor);
    EXPECT_EQ(tovimar::ReadPfm(scene + "disp0GT.pfm").width, 64 / divisor);
    EXPECT_NEAR(focal(Read(scene + "calib.txt")), full / divisor, 1e-3) << size;
  }
  EXPECT_EQ(Count(m + "trainingF"), 9u);
  EXPECT_EQ(Count(m + "testF"), 3u);
  EXPECT_EQ(Count(m + "trainingF/Seq0002Frame0001"), 7u);
  EXPECT_EQ(Count(m + "testF/Seq0000Frame0002"), 3u) << "images and calib.txt only";
  EXPECT_FALSE(fs::exists(m + "testF/Seq0000Frame0002/disp0GT.pfm"));
  EXPECT_EQ(Read(tmp.path() + "/mb/test.txt"), "MiddEval3/testF/Seq0000Frame0000\nMiddEval3/testF/Seq0000Frame0001\n"
                                                "MiddEval3/testF/Seq0000Frame0002\n");
}

TEST(Dataset, BadOptionsAreRefusedBeforeAnythingIsMade) {
  tovimar::testing::TempDir tmp;
  for (const char* bad : {"--layout classic", "--layout kitti --frames 1", "--layout sceneflow --splits train=0.5,test=0.4",
                          "--layout sceneflow --splits train=x", "--layout sceneflow --splits val=1",
                          "--layout sceneflow --middlebury-sizes F,H", "--layout middlebury --middlebury-sizes H,Q",
                          "--layout middlebury --middlebury-sizes F,F", "--layout middlebury --middlebury-sizes F,Q --resolution 1x8",
                          "--layout sceneflow --count 0"}) {
    EXPECT_EQ(RunDataset(tmp.path(), std::string(kSmall) + bad), 2) << bad;
    EXPECT_FALSE(fs::exists(tmp.path() + "/ds")) << bad;
  }
}

}  // namespace
