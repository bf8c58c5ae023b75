#include "eval/dataset.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

#include "io/bmp.h"
#include "base/error.h"
#include "io/file.h"
#include "io/pfm.h"
#include "io/png.h"
#include "layout/file_names.h"

namespace fs = std::filesystem;

namespace tovimar::eval {

namespace {

DatasetLayout ToLayout(Layout layout) {
  switch (layout) {
    case Layout::Middlebury: return DatasetLayout::Middlebury;
    case Layout::Kitti: return DatasetLayout::Kitti;
    case Layout::SceneFlow: return DatasetLayout::SceneFlow;
    case Layout::Classic: break;
  }
  return DatasetLayout::Classic;
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

}  // namespace

bool OptionalFilePresent(const std::string& path) {
  if (path.empty()) return false;
  switch (InspectFile(path)) {
    case FileKind::Missing:
      return false;
    case FileKind::Regular:
      return true;
    case FileKind::Other:
      break;
  }
  throw Error("'" + path + "' is there but is not a regular file");
}

std::vector<uint8_t> ReadMaskClasses(const std::string& path, const HeaderSizeCheck& check) {
  const PngImage png = ReadPng(path, check);
  if (png.channels != 1 || png.bitDepth != 8) throw Error("'" + path + "' is not an 8-bit grey mask");
  std::vector<uint8_t> classes(png.samples.size());
  for (std::size_t i = 0; i < classes.size(); ++i) {
    const uint16_t m = png.samples[i];
    if (m != 0 && m != 128 && m != 255)
      throw Error("'" + path + "' holds mask value " + std::to_string(m) + " (0, 128 and 255 are used)");
    classes[i] = m == 255 ? kNonOccluded : m == 128 ? kOccluded : kNoGroundTruth;
  }
  return classes;
}

namespace {

std::string Join(const std::string& dir, const std::string& name) { return (fs::path(dir) / name).string(); }

bool AllDigits(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int ParseFrame(std::string_view digits) {
  int v = -1;
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  return r.ec == std::errc{} && r.ptr == digits.data() + digits.size() ? v : -1;
}

// "lbindisp_" + digits + ".dat" -> frame, or -1.
int FrameOfPattern(const std::string& name, const std::string& prefix, const std::string& suffix) {
  if (name.size() < prefix.size() + suffix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
      name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return -1;
  const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  return AllDigits(digits) ? ParseFrame(digits) : -1;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectory(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// Why a folder cannot be listed ("does not exist", "is not a folder", the
// system's reason such as "Permission denied"), or "" when it can.
std::string FolderProblem(const std::string& dir) {
  std::error_code ec;
  const fs::file_status status = fs::status(dir, ec);
  if (status.type() == fs::file_type::not_found) return "does not exist";
  if (ec) return "cannot be read: " + ec.message();
  if (status.type() != fs::file_type::directory) return "is not a folder";
  fs::directory_iterator listing(dir, ec);
  return ec ? "cannot be read: " + ec.message() : "";
}

void CheckSize(const DisparityMap& gt, int width, int height, const std::string& path) {
  if (width != gt.width || height != gt.height)
    throw Error("'" + path + "' is " + std::to_string(width) + "x" + std::to_string(height) + ", the disparity is " +
                std::to_string(gt.width) + "x" + std::to_string(gt.height));
}

// The size check a reader makes on the header, before it reads the pixels.
HeaderSizeCheck SameSizeAs(const DisparityMap& gt, const std::string& path) {
  return [&gt, path](int width, int height) { CheckSize(gt, width, height, path); };
}

// Mask values 255 (visible in the other view), 128 (occluded), 0 (none).
std::vector<uint8_t> ReadMask(const std::string& path, const DisparityMap& gt) {
  return ReadMaskClasses(path, SameSizeAs(gt, path));
}

DisparityMap FromPfm(const std::string& path, const HeaderSizeCheck& check = {}) {
  PfmImage pfm = ReadPfm(path, check);
  if (pfm.channels != 1) throw Error("'" + path + "' has 3 channels (a disparity map has one)");
  return {pfm.width, pfm.height, std::move(pfm.values)};
}

DisparityMap From16BitPng(const std::string& path, double scale, const HeaderSizeCheck& check = {}) {
  const PngImage png = ReadPng(path, check);
  if (png.channels != 1 || png.bitDepth != 16) throw Error("'" + path + "' is not a 16-bit grey PNG");
  DisparityMap map{png.width, png.height, std::vector<float>(png.samples.size())};
  for (std::size_t i = 0; i < png.samples.size(); ++i)
    map.values[i] = png.samples[i] == 0 ? kNaN : static_cast<float>(png.samples[i] / scale);
  return map;
}

// Segmentation: grey = id, white = nothing labelled. Colours other than grey
// mean palette mode, whose colours do not give ids.
void ReadSegmentation(const std::string& path, GroundTruthFrame& f) {
  const RgbPicture seg = LoadBmpTopLeft(path, kMaxBmpSide, kMaxBmpSide, nullptr, SameSizeAs(f.disparity, path));
  std::vector<int16_t> ids(static_cast<std::size_t>(seg.width) * static_cast<std::size_t>(seg.height));
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const uint8_t* p = &seg.rgb[3 * i];
    if (p[0] != p[1] || p[1] != p[2]) {
      f.notes.push_back("'" + path + "' is in palette colours: no per-object regions");
      return;
    }
    ids[i] = p[0] == 255 ? kUnlabelled : p[0];
  }
  f.ids = std::move(ids);
}

}  // namespace

const char* LayoutName(Layout layout) {
  switch (layout) {
    case Layout::Classic:
      return "classic";
    case Layout::Middlebury:
      return "middlebury";
    case Layout::Kitti:
      return "kitti";
    case Layout::SceneFlow:
      return "sceneflow";
  }
  return "";
}

int FrameOfName(const std::string& name) {
  const std::string stem = fs::path(name).stem().string();
  std::size_t end = stem.size();
  while (end > 0 && !(stem[end - 1] >= '0' && stem[end - 1] <= '9')) --end;
  std::size_t start = end;
  while (start > 0 && stem[start - 1] >= '0' && stem[start - 1] <= '9') --start;
  if (start == end || end - start > 9) return -1;
  // KITTI's names: "000007_10" is frame 7 (its first time step), not 10.
  if (end == stem.size() && end - start == 2 && stem.compare(start, 2, "10") == 0 && start >= 2 &&
      stem[start - 1] == '_' && stem[start - 2] >= '0' && stem[start - 2] <= '9') {
    end = start - 1;
    start = end;
    while (start > 0 && stem[start - 1] >= '0' && stem[start - 1] <= '9') --start;
    if (end - start > 9) return -1;
  }
  return ParseFrame(std::string_view(stem).substr(start, end - start));
}

Dataset Dataset::Open(const std::string& dir, Camera camera, const Layout* forced) {
  if (const std::string problem = FolderProblem(dir); !problem.empty())
    throw Error("the ground-truth folder '" + dir + "' " + problem);
  Dataset d;
  d.dir_ = dir;
  d.camera_ = camera;
  const bool right = camera == Camera::Right;
  const std::string folder = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  auto names = [&](Layout layout, bool ofRight, int frame) {
    return MakeDatasetFileNames(folder, ToLayout(layout), ofRight, frame);
  };
  // The folder that holds a layout's disparity files, relative ("trainingF/").
  auto folderOf = [&](Layout layout, bool ofRight) {
    const std::string path = names(layout, ofRight, 0).disparityPfm.empty() ? names(layout, ofRight, 0).disparity16
                                                                             : names(layout, ofRight, 0).disparityPfm;
    std::string relative = path.substr(folder.size());
    relative = relative.substr(0, relative.find('/'));
    return relative;
  };
  // The scene-flow tree's disparity files of the sequence: frame -> path.
  auto sceneFlowFrames = [&](bool ofRight) {
    std::map<int, std::string> found;
    const std::string scene = SceneFlowScene(folder);
    for (const std::string& path : CameraRunFiles(folder, ofRight, 0)) {
      // The tree's files are listed as folder + "../" + their place in the tree.
      const std::size_t up = path.rfind("/../");
      if (up == std::string::npos) continue;
      const std::string relative = path.substr(up + 1);
      if (!relative.starts_with("../disparity/") || !relative.ends_with(".pfm")) continue;
      const int64_t f = FrameOfRunFile(relative, ofRight, scene);
      if (f >= 0 && f <= INT32_MAX) found.emplace(static_cast<int>(f), path);
    }
    return found;
  };
  if (forced) {
    d.layout_ = *forced;
  } else if (IsDirectory(Join(dir, folderOf(Layout::Kitti, right))) ||
             IsDirectory(Join(dir, folderOf(Layout::Kitti, false)))) {
    d.layout_ = Layout::Kitti;
  } else if (IsDirectory(Join(dir, folderOf(Layout::Middlebury, false)))) {
    d.layout_ = Layout::Middlebury;
  } else if (!sceneFlowFrames(right).empty() || !sceneFlowFrames(false).empty()) {
    d.layout_ = Layout::SceneFlow;
  } else {
    d.layout_ = Layout::Classic;
  }
  std::vector<int> frames;
  switch (d.layout_) {
    case Layout::Classic:
      for (const std::string& n : Names(dir)) {
        int f = FrameOfPattern(n, right ? "bindisp_" : "lbindisp_", ".dat");
        if (f < 0) f = FrameOfPattern(n, right ? "disp_" : "ldisp_", ".pfm");
        if (f >= 0) frames.push_back(f);
      }
      break;
    case Layout::Middlebury:
    case Layout::Kitti: {
      // Every frame folder (Middlebury) or file (KITTI) of the disparity
      // folder whose leading number names a frame whose disparity is there.
      const std::string top = folderOf(d.layout_, right);
      for (const std::string& n : Names(Join(dir, top))) {
        const std::size_t digits = n.find_first_not_of("0123456789");
        const int f = ParseFrame(std::string_view(n).substr(0, digits == std::string::npos ? n.size() : digits));
        if (f < 0) continue;
        const DatasetFileNames at = names(d.layout_, right, f);
        const std::string& disparity = d.layout_ == Layout::Kitti ? at.disparity16 : at.disparityPfm;
        if (disparity.substr(folder.size(), top.size() + 1 + n.size()) == top + "/" + n && IsRegularFile(disparity))
          frames.push_back(f);
      }
      break;
    }
    case Layout::SceneFlow:
      d.sceneFlowDisparity_ = sceneFlowFrames(right);
      for (const auto& [f, path] : d.sceneFlowDisparity_) frames.push_back(f);
      break;
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  frames.erase(std::remove(frames.begin(), frames.end(), -1), frames.end());
  if (frames.empty())
    throw Error("'" + dir + "' holds no " + (right ? "right" : "left") + "-camera ground truth (" +
                LayoutName(d.layout_) + " layout)");
  d.frames_ = std::move(frames);
  return d;
}

std::optional<Dataset> Dataset::OtherCamera() const {
  try {
    return Open(dir_, camera_ == Camera::Left ? Camera::Right : Camera::Left, &layout_);
  } catch (const Error&) {
    return std::nullopt;
  }
}

std::string Dataset::FrameName(int frame) const { return FrameNumber(frame); }

DatasetFileNames Dataset::FileNames(bool right, int frame) const {
  const std::string folder = dir_.empty() || dir_.back() == '/' ? dir_ : dir_ + "/";
  SceneFlowNaming naming;
  const auto found = sceneFlowDisparity_.find(frame);
  if (layout_ == Layout::SceneFlow && found != sceneFlowDisparity_.end()) {
    // ".../disparity/SPLIT/A/SCENE/left/FFFF.pfm": the split is the two
    // folders after "disparity", the frame width the stem's.
    const std::string& path = found->second;
    const std::size_t at = path.rfind("/disparity/");
    const std::size_t splitEnd = path.find('/', path.find('/', at + 11) + 1);
    if (at != std::string::npos && splitEnd != std::string::npos) naming.split = path.substr(at + 11, splitEnd - at - 11);
    naming.frameDigits = static_cast<int>(fs::path(path).stem().string().size());
  }
  return MakeDatasetFileNames(folder, ToLayout(layout_), right, frame, naming);
}

GroundTruthFrame Dataset::Load(int frame) const {
  GroundTruthFrame f;
  f.frame = frame;
  const bool right = camera_ == Camera::Right;
  const std::string n = FrameName(frame);
  switch (layout_) {
    case Layout::Classic: {
      const std::string pfm = Join(dir_, (right ? "disp_" : "ldisp_") + n + ".pfm");
      // A name that is there is read, so a link loop or an unreadable file is
      // named as such rather than passed over for the text file.
      std::error_code ec;
      f.disparity = fs::exists(fs::symlink_status(pfm, ec))
                        ? FromPfm(pfm)
                        : ReadDisparityText(Join(dir_, (right ? "bindisp_" : "lbindisp_") + n + ".dat"));
      const std::string mask = Join(dir_, (right ? "mask_" : "lmask_") + n + ".png");
      if (OptionalFilePresent(mask)) f.occlusion = ReadMask(mask, f.disparity);
      const std::string seg = Join(dir_, (right ? "seg_r_" : "seg_l_") + n + ".bmp");
      if (OptionalFilePresent(seg)) ReadSegmentation(seg, f);
      break;
    }
    case Layout::Middlebury: {
      const DatasetFileNames names = FileNames(right, frame);
      f.disparity = FromPfm(names.disparityPfm);
      if (OptionalFilePresent(names.mask)) f.occlusion = ReadMask(names.mask, f.disparity);
      break;
    }
    case Layout::SceneFlow: {
      const auto it = sceneFlowDisparity_.find(frame);
      f.disparity = FromPfm(it != sceneFlowDisparity_.end() ? it->second : FileNames(right, frame).disparityPfm);
      break;
    }
    case Layout::Kitti: {
      const DatasetFileNames names = FileNames(right, frame);
      f.disparity = From16BitPng(names.disparity16, 256.0);
      const std::string& noc = names.disparityNoc16;
      if (OptionalFilePresent(noc)) {
        const DisparityMap nonOccluded = From16BitPng(noc, 256.0, SameSizeAs(f.disparity, noc));
        CheckSize(f.disparity, nonOccluded.width, nonOccluded.height, noc);
        f.occlusion.resize(f.disparity.values.size());
        for (std::size_t i = 0; i < f.occlusion.size(); ++i)
          f.occlusion[i] = std::isnan(nonOccluded.values[i]) ? kOccluded : kNonOccluded;
      }
      break;
    }
  }
  // One rule for every layout: finite, > 0 and not masked out.
  for (std::size_t i = 0; i < f.disparity.values.size(); ++i) {
    float& d = f.disparity.values[i];
    if (!std::isfinite(d) || d <= 0 || (!f.occlusion.empty() && f.occlusion[i] == kNoGroundTruth)) {
      d = kNaN;
      if (!f.occlusion.empty()) f.occlusion[i] = kNoGroundTruth;
    }
  }
  return f;
}

std::pair<std::string, std::string> Dataset::ImagePair(int frame) const {
  const std::string n = FrameName(frame);
  switch (layout_) {
    case Layout::Classic: {
      // The classic set's BMP, else the PNG of a folder written without it.
      auto image = [&](const char* prefix) {
        const std::string bmp = Join(dir_, prefix + n + ".bmp"), png = Join(dir_, prefix + n + ".png");
        return !IsRegularFile(bmp) && IsRegularFile(png) ? png : bmp;
      };
      return {image("left_"), image("right_")};
    }
    case Layout::Middlebury:
    case Layout::Kitti:
      return {FileNames(false, frame).imagePng, FileNames(true, frame).imagePng};
    case Layout::SceneFlow: {
      // The final pass beside the disparity file, as the field's loaders find it.
      const auto it = sceneFlowDisparity_.find(frame);
      if (it == sceneFlowDisparity_.end()) return {FileNames(false, frame).imagePng, FileNames(true, frame).imagePng};
      std::string image = it->second;
      const std::size_t at = image.rfind("/disparity/");
      image.replace(at, 11, "/frames_finalpass/");
      image.replace(image.size() - 4, 4, ".png");
      const std::string side = camera_ == Camera::Right ? "/right/" : "/left/";
      const std::size_t sideAt = image.rfind(side);
      std::string left = image, rightImage = image;
      left.replace(sideAt, side.size(), "/left/");
      rightImage.replace(sideAt, side.size(), "/right/");
      return {left, rightImage};
    }
  }
  return {};
}

int Dataset::NumDisparities(int frame) const {
  const std::string calib =
      layout_ == Layout::Middlebury ? FileNames(false, frame).frameCalibration
      : layout_ == Layout::Kitti    ? Join(dir_, kMiddleburyCalibrationFileName)
                                    : Join(dir_, kCalibrationFileName);
  ReadOnlyFile file;
  int ndisp = 64;
  if (OptionalFilePresent(calib) && file.Open(calib).empty() && file.Size() < (1u << 20)) {
    std::string text(static_cast<std::size_t>(file.Size()), '\0');
    if (file.ReadAt(0, text.data(), text.size())) {
      const std::size_t at = text.find("ndisp=");
      if (at != std::string::npos) {
        int v = 0;
        const char* p = text.data() + at + 6;
        const auto r = std::from_chars(p, text.data() + text.size(), v);
        if (r.ec == std::errc{} && v > 0 && v <= 4096) ndisp = v;
      }
    }
  }
  return (ndisp + 15) / 16 * 16;
}

std::map<int, std::string> FindPredictions(const std::string& dir, std::vector<std::string>& notes,
                                           const std::vector<std::string>& extensions) {
  if (const std::string problem = FolderProblem(dir); !problem.empty())
    throw Error("the prediction folder '" + dir + "' " + problem);
  std::map<int, std::string> found;
  const auto rank = [&extensions](const std::string& name) {
    const std::string ext = fs::path(name).extension().string();
    return static_cast<std::size_t>(std::find(extensions.begin(), extensions.end(), ext) - extensions.begin());
  };
  for (const std::string& n : Names(dir)) {
    if (rank(n) == extensions.size()) continue;
    const int f = FrameOfName(n);
    if (f < 0) continue;
    const std::string path = Join(dir, n);
    auto [it, fresh] = found.emplace(f, path);
    if (fresh) continue;
    const std::string& kept = rank(n) < rank(it->second) ? path : it->second;
    notes.push_back("frame " + std::to_string(f) + ": '" + (kept == path ? it->second : path) + "' ignored, '" +
                    kept + "' used");
    it->second = kept;
  }
  return found;
}

DisparityMap ReadPrediction(const std::string& path, double pngScale, int width, int height) {
  const HeaderSizeCheck check = [&path, width, height](int w, int h) {
    if (width > 0 && (w != width || h != height))
      throw Error("'" + path + "' is " + std::to_string(w) + "x" + std::to_string(h) + ", the ground truth is " +
                  std::to_string(width) + "x" + std::to_string(height));
  };
  const std::string ext = fs::path(path).extension().string();
  if (ext == ".pfm") return FromPfm(path, check);
  if (ext == ".png") return From16BitPng(path, pngScale, check);
  return ReadDisparityText(path, check);
}

}  // namespace tovimar::eval
