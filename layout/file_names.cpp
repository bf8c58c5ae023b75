#include "layout/file_names.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>
#include <set>
#include <utility>
#include <system_error>

#include "io/atomic_file.h"

namespace tovimar {

namespace {

void AppendInt(std::string& out, long long v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

std::string ZeroPadded(int32_t value, std::size_t width) {
  std::string digits;
  AppendInt(digits, value);
  if (digits.size() >= width) return digits;
  return std::string(width - digits.size(), '0') + digits;
}

// Where a per-frame name sits and for which camera. In a pattern '#' stands
// for FrameNumber, '$' for KittiFrameNumber, '%' for the scene-flow layout's
// frame number (SceneFlowNaming::frameDigits wide) and '&' for its split and
// scene folders ("TRAIN/A/0003").
enum class Camera { Left, Right, Both };
enum class LayoutOf { Any, NotSceneFlow, Classic, Middlebury, Kitti, SceneFlow };

enum class Product {
  CameraImage, SubPixelMap, PixelMap, DisparityText, Segmentation,
  DisparityPfm, DepthPfm, Disparity16, DisparityNoc16, ImagePng, CleanImagePng, Mask, ScratchPfm, FrameCalibration,
  FlowFlo, Flow16, DisparityChange, FlowMask,
  NextImagePng, NextDisparity16, NextDisparityNoc16, FlowNoc16, FlowFuturePfm, FlowPastPfm, DisparityChangePast,
  Ids16, OdometryImagePng,
};

struct Pattern {
  LayoutOf layout;
  Product product;
  Camera camera;
  std::string_view text;
};

// The one table of per-frame names.
constexpr std::array kPatterns{
    // The classic five, in the sequence folder whatever the layout.
    Pattern{LayoutOf::Any, Product::CameraImage, Camera::Left, "left_#.bmp"},
    Pattern{LayoutOf::Any, Product::CameraImage, Camera::Right, "right_#.bmp"},
    Pattern{LayoutOf::Any, Product::SubPixelMap, Camera::Left, "ldisp_#.bmp"},
    Pattern{LayoutOf::Any, Product::SubPixelMap, Camera::Right, "disp_#.bmp"},
    Pattern{LayoutOf::Any, Product::PixelMap, Camera::Left, "ldisp_p_#.bmp"},
    Pattern{LayoutOf::Any, Product::PixelMap, Camera::Right, "disp_p_#.bmp"},
    Pattern{LayoutOf::Any, Product::DisparityText, Camera::Left, "lbindisp_#.dat"},
    Pattern{LayoutOf::Any, Product::DisparityText, Camera::Right, "bindisp_#.dat"},
    Pattern{LayoutOf::Any, Product::Segmentation, Camera::Left, "seg_l_#.bmp"},
    Pattern{LayoutOf::Any, Product::Segmentation, Camera::Right, "seg_r_#.bmp"},
    // Scene flow, in the sequence folder in every layout but the scene-flow
    // one (a layout's own name below comes first).
    Pattern{LayoutOf::NotSceneFlow, Product::FlowFlo, Camera::Left, "lflow_#.flo"},
    Pattern{LayoutOf::NotSceneFlow, Product::FlowFlo, Camera::Right, "flow_#.flo"},
    Pattern{LayoutOf::NotSceneFlow, Product::Flow16, Camera::Left, "lflow16_#.png"},
    Pattern{LayoutOf::NotSceneFlow, Product::Flow16, Camera::Right, "flow16_#.png"},
    Pattern{LayoutOf::NotSceneFlow, Product::DisparityChange, Camera::Left, "ldispchange_#.pfm"},
    Pattern{LayoutOf::NotSceneFlow, Product::DisparityChange, Camera::Right, "dispchange_#.pfm"},
    Pattern{LayoutOf::NotSceneFlow, Product::FlowMask, Camera::Left, "lflowmask_#.png"},
    Pattern{LayoutOf::NotSceneFlow, Product::FlowMask, Camera::Right, "flowmask_#.png"},
    // The 16-bit id map, beside the flow.
    Pattern{LayoutOf::NotSceneFlow, Product::Ids16, Camera::Left, "lids16_#.png"},
    Pattern{LayoutOf::NotSceneFlow, Product::Ids16, Camera::Right, "ids16_#.png"},
    // Classic layout's dataset products.
    Pattern{LayoutOf::Classic, Product::DisparityPfm, Camera::Left, "ldisp_#.pfm"},
    Pattern{LayoutOf::Classic, Product::DisparityPfm, Camera::Right, "disp_#.pfm"},
    Pattern{LayoutOf::Classic, Product::DepthPfm, Camera::Left, "ldepth_#.pfm"},
    Pattern{LayoutOf::Classic, Product::DepthPfm, Camera::Right, "depth_#.pfm"},
    Pattern{LayoutOf::Classic, Product::Disparity16, Camera::Left, "ldisp16_#.png"},
    Pattern{LayoutOf::Classic, Product::Disparity16, Camera::Right, "disp16_#.png"},
    Pattern{LayoutOf::Classic, Product::ImagePng, Camera::Left, "left_#.png"},
    Pattern{LayoutOf::Classic, Product::ImagePng, Camera::Right, "right_#.png"},
    Pattern{LayoutOf::Classic, Product::Mask, Camera::Left, "lmask_#.png"},
    Pattern{LayoutOf::Classic, Product::Mask, Camera::Right, "mask_#.png"},
    Pattern{LayoutOf::Classic, Product::ScratchPfm, Camera::Left, ".scratch/ldisp_#.pfm"},
    Pattern{LayoutOf::Classic, Product::ScratchPfm, Camera::Right, ".scratch/disp_#.pfm"},
    // MiddEval3's training names, one folder per frame in "trainingF"; the
    // frame's calib.txt describes the left view.
    Pattern{LayoutOf::Middlebury, Product::ImagePng, Camera::Left, "trainingF/#/im0.png"},
    Pattern{LayoutOf::Middlebury, Product::ImagePng, Camera::Right, "trainingF/#/im1.png"},
    Pattern{LayoutOf::Middlebury, Product::DisparityPfm, Camera::Left, "trainingF/#/disp0GT.pfm"},
    Pattern{LayoutOf::Middlebury, Product::DisparityPfm, Camera::Right, "trainingF/#/disp1GT.pfm"},
    Pattern{LayoutOf::Middlebury, Product::Mask, Camera::Left, "trainingF/#/mask0nocc.png"},
    Pattern{LayoutOf::Middlebury, Product::Mask, Camera::Right, "trainingF/#/mask1nocc.png"},
    Pattern{LayoutOf::Middlebury, Product::FrameCalibration, Camera::Left, "trainingF/#/calib.txt"},
    // KITTI 2015: one folder per product, frame F as F_10 and the frame after
    // as F_11. KITTI has no right-camera disparity: it gets names of its own.
    Pattern{LayoutOf::Kitti, Product::ImagePng, Camera::Left, "image_2/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::ImagePng, Camera::Right, "image_3/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::NextImagePng, Camera::Left, "image_2/$_11.png"},
    Pattern{LayoutOf::Kitti, Product::NextImagePng, Camera::Right, "image_3/$_11.png"},
    Pattern{LayoutOf::Kitti, Product::Disparity16, Camera::Left, "disp_occ_0/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::Disparity16, Camera::Right, "disp_occ_right/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::DisparityNoc16, Camera::Left, "disp_noc_0/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::DisparityNoc16, Camera::Right, "disp_noc_right/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::NextDisparity16, Camera::Left, "disp_occ_1/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::NextDisparityNoc16, Camera::Left, "disp_noc_1/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::Flow16, Camera::Left, "flow_occ/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::FlowNoc16, Camera::Left, "flow_noc/$_10.png"},
    Pattern{LayoutOf::Kitti, Product::FrameCalibration, Camera::Left, "calib_cam_to_cam/$.txt"},
    // KITTI odometry's names for the same images, one per frame.
    Pattern{LayoutOf::Kitti, Product::OdometryImagePng, Camera::Left, "odometry/sequences/00/image_2/$.png"},
    Pattern{LayoutOf::Kitti, Product::OdometryImagePng, Camera::Right, "odometry/sequences/00/image_3/$.png"},
    // FlyingThings3D's tree, in the output root beside the sequence folders.
    Pattern{LayoutOf::SceneFlow, Product::CleanImagePng, Camera::Left, "../frames_cleanpass/&/left/%.png"},
    Pattern{LayoutOf::SceneFlow, Product::CleanImagePng, Camera::Right, "../frames_cleanpass/&/right/%.png"},
    Pattern{LayoutOf::SceneFlow, Product::ImagePng, Camera::Left, "../frames_finalpass/&/left/%.png"},
    Pattern{LayoutOf::SceneFlow, Product::ImagePng, Camera::Right, "../frames_finalpass/&/right/%.png"},
    Pattern{LayoutOf::SceneFlow, Product::DisparityPfm, Camera::Left, "../disparity/&/left/%.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::DisparityPfm, Camera::Right, "../disparity/&/right/%.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::FlowFuturePfm, Camera::Left,
            "../optical_flow/&/into_future/left/OpticalFlowIntoFuture_%_L.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::FlowFuturePfm, Camera::Right,
            "../optical_flow/&/into_future/right/OpticalFlowIntoFuture_%_R.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::FlowPastPfm, Camera::Left,
            "../optical_flow/&/into_past/left/OpticalFlowIntoPast_%_L.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::FlowPastPfm, Camera::Right,
            "../optical_flow/&/into_past/right/OpticalFlowIntoPast_%_R.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::DisparityChange, Camera::Left,
            "../disparity_change/&/into_future/left/%.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::DisparityChange, Camera::Right,
            "../disparity_change/&/into_future/right/%.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::DisparityChangePast, Camera::Left,
            "../disparity_change/&/into_past/left/%.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::DisparityChangePast, Camera::Right,
            "../disparity_change/&/into_past/right/%.pfm"},
    Pattern{LayoutOf::SceneFlow, Product::Ids16, Camera::Left, "../object_ids/&/left/%.png"},
    Pattern{LayoutOf::SceneFlow, Product::Ids16, Camera::Right, "../object_ids/&/right/%.png"},
};

// The top folders of the scene-flow tree in the output root.
constexpr std::array<std::string_view, 6> kSceneFlowProducts{"frames_cleanpass", "frames_finalpass", "disparity",
                                                             "optical_flow", "disparity_change", "object_ids"};

bool Matches(Camera camera, bool right) {
  return camera == Camera::Both || (camera == Camera::Right) == right;
}

bool Matches(LayoutOf of, DatasetLayout layout) {
  switch (of) {
    case LayoutOf::Any: return true;
    case LayoutOf::NotSceneFlow: return layout != DatasetLayout::SceneFlow;
    case LayoutOf::Classic: return layout == DatasetLayout::Classic;
    case LayoutOf::Middlebury: return layout == DatasetLayout::Middlebury;
    case LayoutOf::Kitti: return layout == DatasetLayout::Kitti;
    case LayoutOf::SceneFlow: return layout == DatasetLayout::SceneFlow;
  }
  return false;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string Spell(std::string_view text, int32_t frame, const SceneFlowNaming& naming, std::string_view scene) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '#': out += FrameNumber(frame); break;
      case '$': out += KittiFrameNumber(frame); break;
      case '%': out += ZeroPadded(frame, static_cast<std::size_t>(std::max(naming.frameDigits, 4))); break;
      case '&': out += naming.split + kPathSeparator + std::string(scene); break;
      default: out += c;
    }
  }
  return out;
}

// The frame of `path` when it is spelt as `text` spells some frame, else -1.
// '&' takes any two folder names and then `scene`.
int64_t FrameOf(std::string_view text, std::string_view path, std::string_view scene) {
  std::size_t at = 0;
  int64_t frame = -1;
  for (const char c : text) {
    if (c == '&') {
      if (scene.empty()) return -1;
      for (int part = 0; part < 2; ++part) {
        const std::size_t slash = path.find(kPathSeparator, at);
        if (slash == std::string_view::npos) return -1;
        const std::string_view name = path.substr(at, slash - at);
        if (name.empty() || name == "." || name == "..") return -1;
        at = slash + 1;
      }
      if (path.substr(at, scene.size()) != scene) return -1;
      at += scene.size();
    } else if (c == '#' || c == '$' || c == '%') {
      std::size_t end = at;
      while (end < path.size() && IsDigit(path[end])) ++end;
      const std::string_view digits = path.substr(at, end - at);
      int32_t value = 0;
      const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), value);
      if (digits.empty() || res.ec != std::errc() || res.ptr != digits.data() + digits.size()) return -1;
      // Only the spelling the writers give ("0012", "10000"), not "012".
      const std::string spelt = c == '#'   ? FrameNumber(value)
                                : c == '$' ? KittiFrameNumber(value)
                                           : ZeroPadded(value, std::max<std::size_t>(digits.size(), 4));
      if (spelt != digits) return -1;
      frame = value;
      at = end;
    } else {
      if (at >= path.size() || path[at] != c) return -1;
      ++at;
    }
  }
  return at == path.size() ? frame : -1;
}

std::string Name(const std::string& directory, DatasetLayout layout, Product product, bool right, int32_t frame,
                 const SceneFlowNaming& naming = {}) {
  // A layout's own name first, then the one every layout shares.
  for (const bool own : {true, false}) {
    for (const Pattern& p : kPatterns) {
      const bool isOwn = p.layout != LayoutOf::Any && p.layout != LayoutOf::NotSceneFlow;
      if (isOwn == own && p.product == product && Matches(p.camera, right) && Matches(p.layout, layout))
        return directory + Spell(p.text, frame, naming, SceneFlowScene(directory));
    }
  }
  return {};
}

// Relative path of `path` inside `root`, '/' between folders.
std::string RelativeTo(const std::filesystem::path& path, const std::filesystem::path& root) {
  return path.lexically_relative(root).generic_string();
}

// Calls visit(fullPath, relativePath) for every regular file or link in the
// sequence folder and its subfolders. A link to a folder (a layout folder
// kept on another disk) is looked into, as runs write through it; each folder
// is looked into once, so a link back up ends there.
template <typename Visit>
void ForEachFile(const std::string& directory, Visit visit) {
  std::error_code ec;
  const std::filesystem::path root(directory);
  std::set<std::pair<dev_t, ino_t>> seenFolders;
  struct stat st {};
  if (::stat(directory.c_str(), &st) == 0) seenFolders.insert({st.st_dev, st.st_ino});
  for (auto it = std::filesystem::recursive_directory_iterator(
           root, std::filesystem::directory_options::follow_directory_symlink, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code kindError;
    const auto status = it->symlink_status(kindError);
    if (kindError) continue;
    if (::stat(it->path().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      if (!seenFolders.insert({st.st_dev, st.st_ino}).second) it.disable_recursion_pending();
      if (!std::filesystem::is_symlink(status)) continue;
    }
    if (!(std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status))) continue;
    visit(it->path().string(), RelativeTo(it->path(), root));
  }
}

// Calls visit(fullPath, relativePath) for every file of the sequence's scene
// folders in the scene-flow tree beside it, under its own split only (another
// split's scene of the same name is another sequence's), relativePath from
// the sequence folder ("../disparity/TRAIN/A/0003/left/0000.pfm").
template <typename Visit>
void ForEachSceneFlowFile(const std::string& directory, Visit visit) {
  const std::string scene = SceneFlowScene(directory);
  if (scene.empty()) return;
  const std::filesystem::path root = std::filesystem::path(directory + "..");
  const std::filesystem::path split(SceneFlowSplitOf(directory));
  for (const std::string_view product : kSceneFlowProducts) {
    const std::filesystem::path sceneFolder = root / product / split / scene;
    std::error_code ec;
    if (!std::filesystem::is_directory(sceneFolder, ec)) continue;  // a link to a folder is one too
    ForEachFile(sceneFolder.string(), [&](const std::string& path, const std::string&) {
      visit(path, "../" + RelativeTo(path, root));
    });
  }
}

// The final relative path of a temporary file "dir/.NAME.tmpXXXXXX", or "".
std::string FinalOfTemporary(const std::string& relativePath) {
  const std::size_t slash = relativePath.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : relativePath.substr(0, slash + 1);
  std::string finalName;
  if (!IsTemporaryOutputName(relativePath.substr(folder.size()), &finalName)) return {};
  return folder + finalName;
}

}  // namespace

std::string OutputDirectory(const std::string& folder, int sequenceNumber) {
  std::string dir = folder;
  if (!dir.empty() && dir.back() != kPathSeparator) dir += kPathSeparator;
  AppendInt(dir, sequenceNumber);
  dir += kPathSeparator;
  return dir;
}

std::string FrameNumber(int32_t frameCounter) { return ZeroPadded(frameCounter, 4); }

std::string KittiFrameNumber(int32_t frame) { return ZeroPadded(frame < 0 ? 0 : frame, 6); }

int SceneFlowFrameDigits(int64_t frameCount) {
  int digits = 1;
  for (int64_t last = frameCount - 1; last >= 10; last /= 10) ++digits;
  return std::max(digits, 4);
}

namespace {

// The last name of a folder path: "out/3/" -> "3".
std::string_view FolderName(std::string_view d) {
  while (!d.empty() && d.back() == kPathSeparator) d.remove_suffix(1);
  const std::size_t slash = d.rfind(kPathSeparator);
  return slash == std::string_view::npos ? d : d.substr(slash + 1);
}

// The length of an "S1@S2@" prefix of a folder name, else 0.
std::size_t SplitPrefixLength(std::string_view name) {
  const std::size_t first = name.find('@');
  if (first == std::string_view::npos || first == 0) return 0;
  const std::size_t second = name.find('@', first + 1);
  if (second == std::string_view::npos || second == first + 1) return 0;
  return second + 1;
}

}  // namespace

std::string SplitSequenceDirectory(const std::string& directory, const std::string& split) {
  if (split == kDefaultSceneFlowSplit) return directory;
  std::string name = split;
  std::replace(name.begin(), name.end(), kPathSeparator, '@');
  name += '@';
  name += FolderName(directory);
  // The same root as the directory's, spelt as it was.
  std::string_view d = directory;
  while (!d.empty() && d.back() == kPathSeparator) d.remove_suffix(1);
  const std::size_t slash = d.rfind(kPathSeparator);
  const std::string head = slash == std::string_view::npos ? std::string() : std::string(d.substr(0, slash + 1));
  return head + name + kPathSeparator;
}

std::string SceneFlowSplitOf(const std::string& directory) {
  const std::string_view name = FolderName(directory);
  const std::size_t length = SplitPrefixLength(name);
  if (length == 0) return kDefaultSceneFlowSplit;
  std::string split(name.substr(0, length - 1));
  split[split.find('@')] = kPathSeparator;
  return split;
}

std::string SceneFlowScene(const std::string& directory) {
  std::string_view name = FolderName(directory);
  name.remove_prefix(SplitPrefixLength(name));
  if (name.empty() || name == "." || name == "..") return {};
  const bool number = std::all_of(name.begin(), name.end(), IsDigit);
  return number && name.size() < 4 ? std::string(4 - name.size(), '0') + std::string(name) : std::string(name);
}

std::string SequenceRoot(const std::string& directory) {
  std::string_view d = directory;
  while (!d.empty() && d.back() == kPathSeparator) d.remove_suffix(1);
  const std::size_t slash = d.rfind(kPathSeparator);
  if (slash == std::string_view::npos) return ".";
  return slash == 0 ? std::string("/") : std::string(d.substr(0, slash));
}

std::string SceneFlowSceneSharer(const std::string& directory) {
  const std::string scene = SceneFlowScene(directory);
  if (scene.empty()) return {};
  std::string_view d = directory;
  while (!d.empty() && d.back() == kPathSeparator) d.remove_suffix(1);
  const std::size_t slash = d.rfind(kPathSeparator);
  const std::string own(slash == std::string_view::npos ? d : d.substr(slash + 1));
  const std::filesystem::path root(SequenceRoot(directory));
  std::error_code ec;
  for (std::filesystem::directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name == own || SceneFlowScene(name) != scene || SceneFlowSplitOf(name) != SceneFlowSplitOf(directory)) continue;
    std::error_code kindError;
    if (std::filesystem::is_regular_file(it->path() / kManifestFileName, kindError))
      return (root / name).lexically_normal().string();
  }
  return {};
}

bool SceneFlowTreeHasScene(const std::string& directory) {
  bool found = false;
  ForEachSceneFlowFile(directory, [&found](const std::string&, const std::string&) { found = true; });
  return found;
}

std::string PosesFileName(bool rightCamera) { return rightCamera ? "poses_right.txt" : "poses_left.txt"; }

std::string AviFileName(bool rightCamera) { return rightCamera ? "P.avi" : "L.avi"; }

std::string CameraImageName(bool rightCamera, int32_t frameCounter) {
  return Name("", DatasetLayout::Classic, Product::CameraImage, rightCamera, frameCounter);
}

FrameFileNames MakeFrameFileNames(const std::string& directory, bool right, int32_t frame) {
  const DatasetLayout classic = DatasetLayout::Classic;
  FrameFileNames f;
  f.cameraImage = Name(directory, classic, Product::CameraImage, right, frame);
  f.subPixelMap = Name(directory, classic, Product::SubPixelMap, right, frame);
  f.pixelMap = Name(directory, classic, Product::PixelMap, right, frame);
  f.disparityText = Name(directory, classic, Product::DisparityText, right, frame);
  f.segmentation = Name(directory, classic, Product::Segmentation, right, frame);
  return f;
}

DatasetFileNames MakeDatasetFileNames(const std::string& directory, DatasetLayout layout, bool right,
                                      int32_t frame, const SceneFlowNaming& sceneFlow) {
  auto name = [&](Product product) { return Name(directory, layout, product, right, frame, sceneFlow); };
  DatasetFileNames n;
  n.frameCalibration = name(Product::FrameCalibration);
  n.disparityPfm = name(Product::DisparityPfm);
  if (layout == DatasetLayout::Middlebury) n.frameFolder = n.disparityPfm.substr(0, n.disparityPfm.rfind('/') + 1);
  n.depthPfm = name(Product::DepthPfm);
  n.disparity16 = name(Product::Disparity16);
  n.disparityNoc16 = name(Product::DisparityNoc16);
  n.imagePng = name(Product::ImagePng);
  n.cleanImagePng = name(Product::CleanImagePng);
  n.mask = name(Product::Mask);
  n.scratchPfm = name(Product::ScratchPfm);
  n.flowFlo = name(Product::FlowFlo);
  n.flow16 = name(Product::Flow16);
  n.disparityChange = name(Product::DisparityChange);
  n.flowMask = name(Product::FlowMask);
  n.nextImagePng = name(Product::NextImagePng);
  n.nextDisparity16 = name(Product::NextDisparity16);
  n.nextDisparityNoc16 = name(Product::NextDisparityNoc16);
  n.flowNoc16 = name(Product::FlowNoc16);
  n.odometryImagePng = name(Product::OdometryImagePng);
  n.flowFuturePfm = name(Product::FlowFuturePfm);
  n.flowPastPfm = name(Product::FlowPastPfm);
  n.disparityChangePast = name(Product::DisparityChangePast);
  n.ids16 = name(Product::Ids16);
  return n;
}

int64_t OutputFrameOfName(const std::string& name, bool rightCamera) {
  for (const Pattern& p : kPatterns) {
    if (p.layout != LayoutOf::Any || p.product > Product::Segmentation || !Matches(p.camera, rightCamera)) continue;
    if (const int64_t frame = FrameOf(p.text, name, {}); frame >= 0) return frame;
  }
  return -1;
}

int64_t FrameOfRunFile(std::string_view relativePath, bool rightCamera, std::string_view scene) {
  for (const Pattern& p : kPatterns) {
    if (!Matches(p.camera, rightCamera)) continue;
    if (const int64_t frame = FrameOf(p.text, relativePath, scene); frame >= 0) return frame;
  }
  return -1;
}

bool InSceneFlowTree(std::string_view relativePath) {
  if (!relativePath.starts_with("../")) return false;
  relativePath.remove_prefix(3);
  for (const std::string_view product : kSceneFlowProducts)
    if (relativePath.starts_with(product) && relativePath.substr(product.size()).starts_with("/")) return true;
  return false;
}

std::vector<std::string> CameraRunFiles(const std::string& directory, bool rightCamera, int64_t fromFrame) {
  const std::string scene = SceneFlowScene(directory);
  std::vector<std::string> found;
  auto visit = [&](const std::string& path, const std::string& relative) {
    const std::string unfinished = FinalOfTemporary(relative);
    if (!unfinished.empty() ? FrameOfRunFile(unfinished, rightCamera, scene) >= 0
                            : FrameOfRunFile(relative, rightCamera, scene) >= fromFrame)
      found.push_back(path);
  };
  ForEachFile(directory, visit);
  ForEachSceneFlowFile(directory, visit);
  return found;
}

std::vector<std::string> SequenceRunFiles(const std::string& directory) {
  const std::array<std::string, 14> own{kManifestFileName,
                                        kSceneCopyFileName,
                                        kCalibrationFileName,
                                        kMiddleburyCalibrationFileName,
                                        kOdometryTimesFileName,
                                        kOdometryPosesFileName,
                                        kOdometrySequenceCalibrationFileName,
                                        kOdometrySequenceTimesFileName,
                                        kOdometrySequencePosesFileName,
                                        kKittiCalibrationFileName,
                                        PosesFileName(false),
                                        PosesFileName(true),
                                        AviFileName(false),
                                        AviFileName(true)};
  const std::string scene = SceneFlowScene(directory);
  std::vector<std::string> found;
  auto visit = [&](const std::string& path, const std::string& relative) {
    const std::string unfinished = FinalOfTemporary(relative);
    const std::string& name = unfinished.empty() ? relative : unfinished;
    bool ours = FrameOfRunFile(name, false, scene) >= 0 || FrameOfRunFile(name, true, scene) >= 0;
    for (const std::string& n : own) ours = ours || name == n;
    if (ours) found.push_back(path);
  };
  ForEachFile(directory, visit);
  ForEachSceneFlowFile(directory, visit);
  return found;
}

std::string SceneTextureFolder(const std::string& scenePath) {
  std::filesystem::path path(scenePath);
  path.replace_extension(".textures");
  return path.string() + "/";
}

std::string TextureFileName(int n) { return "tex" + std::to_string(n) + ".bmp"; }

}  // namespace tovimar
