#include "layout/file_names.h"

#include <array>
#include <charconv>
#include <filesystem>
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

// Where a per-frame name sits and for which camera. '#' in a pattern stands
// for FrameNumber, '$' for KittiFrameNumber.
enum class Camera { Left, Right, Both };
enum class LayoutOf { Any, Classic, Middlebury, Kitti };

enum class Product {
  CameraImage, SubPixelMap, PixelMap, DisparityText, Segmentation,
  DisparityPfm, DepthPfm, Disparity16, DisparityNoc16, ImagePng, Mask, ScratchPfm, FrameCalibration,
  FlowFlo, Flow16, DisparityChange, FlowMask,
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
    // Scene flow, in the sequence folder in every layout.
    Pattern{LayoutOf::Any, Product::FlowFlo, Camera::Left, "lflow_#.flo"},
    Pattern{LayoutOf::Any, Product::FlowFlo, Camera::Right, "flow_#.flo"},
    Pattern{LayoutOf::Any, Product::Flow16, Camera::Left, "lflow16_#.png"},
    Pattern{LayoutOf::Any, Product::Flow16, Camera::Right, "flow16_#.png"},
    Pattern{LayoutOf::Any, Product::DisparityChange, Camera::Left, "ldispchange_#.pfm"},
    Pattern{LayoutOf::Any, Product::DisparityChange, Camera::Right, "dispchange_#.pfm"},
    Pattern{LayoutOf::Any, Product::FlowMask, Camera::Left, "lflowmask_#.png"},
    Pattern{LayoutOf::Any, Product::FlowMask, Camera::Right, "flowmask_#.png"},
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
    // Middlebury: one folder per frame.
    Pattern{LayoutOf::Middlebury, Product::ImagePng, Camera::Left, "#/im0.png"},
    Pattern{LayoutOf::Middlebury, Product::ImagePng, Camera::Right, "#/im1.png"},
    Pattern{LayoutOf::Middlebury, Product::DisparityPfm, Camera::Left, "#/disp0.pfm"},
    Pattern{LayoutOf::Middlebury, Product::DisparityPfm, Camera::Right, "#/disp1.pfm"},
    Pattern{LayoutOf::Middlebury, Product::Mask, Camera::Left, "#/mask0nocc.png"},
    Pattern{LayoutOf::Middlebury, Product::Mask, Camera::Right, "#/mask1nocc.png"},
    Pattern{LayoutOf::Middlebury, Product::FrameCalibration, Camera::Both, "#/calib.txt"},
    // KITTI: one folder per product and camera.
    Pattern{LayoutOf::Kitti, Product::ImagePng, Camera::Left, "image_2/$.png"},
    Pattern{LayoutOf::Kitti, Product::ImagePng, Camera::Right, "image_3/$.png"},
    Pattern{LayoutOf::Kitti, Product::Disparity16, Camera::Left, "disp_occ_0/$.png"},
    Pattern{LayoutOf::Kitti, Product::Disparity16, Camera::Right, "disp_occ_1/$.png"},
    Pattern{LayoutOf::Kitti, Product::DisparityNoc16, Camera::Left, "disp_noc_0/$.png"},
    Pattern{LayoutOf::Kitti, Product::DisparityNoc16, Camera::Right, "disp_noc_1/$.png"},
    Pattern{LayoutOf::Kitti, Product::ScratchPfm, Camera::Left, ".scratch/ldisp_#.pfm"},
    Pattern{LayoutOf::Kitti, Product::ScratchPfm, Camera::Right, ".scratch/disp_#.pfm"},
};

bool Matches(Camera camera, bool right) {
  return camera == Camera::Both || (camera == Camera::Right) == right;
}

bool Matches(LayoutOf of, DatasetLayout layout) {
  switch (of) {
    case LayoutOf::Any: return true;
    case LayoutOf::Classic: return layout == DatasetLayout::Classic;
    case LayoutOf::Middlebury: return layout == DatasetLayout::Middlebury;
    case LayoutOf::Kitti: return layout == DatasetLayout::Kitti;
  }
  return false;
}

std::size_t Marker(std::string_view text) { return text.find_first_of("#$"); }

std::string Spell(std::string_view text, int32_t frame) {
  const std::size_t at = Marker(text);
  return std::string(text.substr(0, at)) + (text[at] == '$' ? KittiFrameNumber(frame) : FrameNumber(frame)) +
         std::string(text.substr(at + 1));
}

// The frame of `path` when it is spelt as `text` spells some frame, else -1.
int64_t FrameOf(std::string_view text, std::string_view path) {
  const std::size_t at = Marker(text);
  const std::string_view prefix = text.substr(0, at), suffix = text.substr(at + 1);
  if (path.size() <= prefix.size() + suffix.size() || !path.starts_with(prefix) || !path.ends_with(suffix))
    return -1;
  const std::string_view digits = path.substr(prefix.size(), path.size() - prefix.size() - suffix.size());
  int32_t frame = 0;
  const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), frame);
  // Only the spelling the writers give ("0012", "10000"), not "012" or "+12".
  if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || frame < 0) return -1;
  if ((text[at] == '$' ? KittiFrameNumber(frame) : FrameNumber(frame)) != digits) return -1;
  return frame;
}

std::string Name(const std::string& directory, DatasetLayout layout, Product product, bool right, int32_t frame) {
  for (const Pattern& p : kPatterns) {
    if (p.product == product && Matches(p.camera, right) && Matches(p.layout, layout))
      return directory + Spell(p.text, frame);
  }
  return {};
}

// Relative path of `path` inside `root`, '/' between folders.
std::string RelativeTo(const std::filesystem::path& path, const std::filesystem::path& root) {
  return path.lexically_relative(root).generic_string();
}

// Calls visit(fullPath, relativePath) for every regular file or link in the
// sequence folder and its subfolders (links to folders are not followed).
template <typename Visit>
void ForEachFile(const std::string& directory, Visit visit) {
  std::error_code ec;
  const std::filesystem::path root(directory);
  for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code kindError;
    const auto status = it->symlink_status(kindError);
    if (kindError || !(std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status))) continue;
    visit(it->path().string(), RelativeTo(it->path(), root));
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
                                      int32_t frame) {
  DatasetFileNames n;
  if (layout == DatasetLayout::Middlebury) n.frameFolder = directory + FrameNumber(frame) + kPathSeparator;
  n.frameCalibration = Name(directory, layout, Product::FrameCalibration, right, frame);
  n.disparityPfm = Name(directory, layout, Product::DisparityPfm, right, frame);
  n.depthPfm = Name(directory, layout, Product::DepthPfm, right, frame);
  n.disparity16 = Name(directory, layout, Product::Disparity16, right, frame);
  n.disparityNoc16 = Name(directory, layout, Product::DisparityNoc16, right, frame);
  n.imagePng = Name(directory, layout, Product::ImagePng, right, frame);
  n.mask = Name(directory, layout, Product::Mask, right, frame);
  n.scratchPfm = Name(directory, layout, Product::ScratchPfm, right, frame);
  n.flowFlo = Name(directory, layout, Product::FlowFlo, right, frame);
  n.flow16 = Name(directory, layout, Product::Flow16, right, frame);
  n.disparityChange = Name(directory, layout, Product::DisparityChange, right, frame);
  n.flowMask = Name(directory, layout, Product::FlowMask, right, frame);
  return n;
}

int64_t OutputFrameOfName(const std::string& name, bool rightCamera) {
  for (const Pattern& p : kPatterns) {
    if (p.layout != LayoutOf::Any || p.product > Product::Segmentation || !Matches(p.camera, rightCamera)) continue;
    if (const int64_t frame = FrameOf(p.text, name); frame >= 0) return frame;
  }
  return -1;
}

int64_t FrameOfRunFile(std::string_view relativePath, bool rightCamera) {
  for (const Pattern& p : kPatterns) {
    if (!Matches(p.camera, rightCamera)) continue;
    if (const int64_t frame = FrameOf(p.text, relativePath); frame >= 0) return frame;
  }
  return -1;
}

std::vector<std::string> CameraRunFiles(const std::string& directory, bool rightCamera, int64_t fromFrame) {
  std::vector<std::string> found;
  ForEachFile(directory, [&](const std::string& path, const std::string& relative) {
    const std::string unfinished = FinalOfTemporary(relative);
    if (!unfinished.empty() ? FrameOfRunFile(unfinished, rightCamera) >= 0
                            : FrameOfRunFile(relative, rightCamera) >= fromFrame)
      found.push_back(path);
  });
  return found;
}

std::vector<std::string> SequenceRunFiles(const std::string& directory) {
  const std::array<std::string, 8> own{kManifestFileName,    kSceneCopyFileName, kCalibrationFileName,
                                       kKittiCalibrationFileName, PosesFileName(false), PosesFileName(true),
                                       AviFileName(false),   AviFileName(true)};
  std::vector<std::string> found;
  ForEachFile(directory, [&](const std::string& path, const std::string& relative) {
    const std::string unfinished = FinalOfTemporary(relative);
    const std::string& name = unfinished.empty() ? relative : unfinished;
    bool ours = FrameOfRunFile(name, false) >= 0 || FrameOfRunFile(name, true) >= 0;
    for (const std::string& n : own) ours = ours || name == n;
    if (ours) found.push_back(path);
  });
  return found;
}

std::string SceneTextureFolder(const std::string& scenePath) {
  std::filesystem::path path(scenePath);
  path.replace_extension(".textures");
  return path.string() + "/";
}

std::string TextureFileName(int n) { return "tex" + std::to_string(n) + ".bmp"; }

}  // namespace tovimar
