#include "dataset/dataset_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <utility>

#include "base/error.h"
#include "io/file.h"
#include "io/pfm.h"
#include "io/png.h"
#include "dataset/other_view.h"
#include "truth/ground_truth.h"
#include "truth/scene_flow.h"
#include "base/parallel_chunks.h"

namespace tovimar {
namespace {

std::string FolderOf(const std::string& path) { return path.substr(0, path.find_last_of('/') + 1); }

std::vector<uint8_t> RgbFromBmp(const BmpImage24& image) {
  const int W = image.Width(), H = image.Height();
  std::vector<uint8_t> rgb(static_cast<std::size_t>(W) * H * 3);
  for (int y = 0; y < H; ++y) {
    const uint8_t* src = image.Row(y);
    uint8_t* dst = rgb.data() + static_cast<std::size_t>(y) * W * 3;
    for (int x = 0; x < W; ++x, src += 3, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  return rgb;
}

void DisparityRange(const FrameTruth& t, float& lo, float& hi) {
  lo = INFINITY;
  hi = -INFINITY;
  for (std::size_t i = 0; i < t.disparity.size(); ++i) {
    if (!t.valid[i]) continue;
    lo = std::min(lo, t.disparity[i]);
    hi = std::max(hi, t.disparity[i]);
  }
}

// Flow as a scene-flow layout PFM: (u, v, 0), kUnknownFlow (1e10, finite) in
// u and v where invalid, as in the .flo files: loaders of FlyingThings3D take
// |flow| >= 1000 as invalid, and a finite value keeps a masked loss finite
// (0 * inf would be NaN).
std::vector<float> FlowChannels(const SceneFlow& flow) {
  std::vector<float> out(flow.u.size() * 3, 0.0f);
  for (std::size_t i = 0; i < flow.u.size(); ++i) {
    const bool valid = flow.mask[i] != 0;
    out[3 * i] = valid ? flow.u[i] : kUnknownFlow;
    out[3 * i + 1] = valid ? flow.v[i] : kUnknownFlow;
  }
  return out;
}

// The frame's image as the next frame's KITTI "_11" name: a hard link, or a
// copy where the file system has none.
void LinkOrCopy(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::remove(to, ec);
  std::filesystem::create_hard_link(from, to, ec);
  if (ec && !std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec))
    throw Error("Cannot create file " + to + ": " + ec.message());
}

}  // namespace

void KeptViews::Begin(const std::string& directory, const RunDescription& run) {
  views_.clear();
  bytes_ = 0;
  directory_ = directory;
  run_ = run;
}

bool KeptViews::KeepsFor(const std::string& directory, bool right) const {
  return run_ && directory == directory_ && right == run_->rightCamera;
}

bool KeptViews::Keep(int32_t frame, FrameTruth view) {
  const std::size_t bytes = view.disparity.size() * sizeof(float) + view.valid.size();
  if (!run_ || bytes_ + bytes > budget_) return false;
  Forget(frame);
  bytes_ += bytes;
  views_[frame] = std::move(view);
  return true;
}

const FrameTruth* KeptViews::Find(const std::string& directory, const RunDescription& run, int32_t frame) const {
  if (!run_ || directory != directory_ || run.rightCamera == run_->rightCamera) return nullptr;
  // The other camera's run of the same scene and settings (what decides the
  // pixels of both views and the files they are read back from).
  const RunDescription& k = *run_;
  const bool same = run.sceneSha256 == k.sceneSha256 && run.width == k.width && run.height == k.height &&
                    run.focalLength == k.focalLength && run.baseline == k.baseline &&
                    run.noiseSigma == k.noiseSigma && run.outputs == k.outputs && run.frameCount == k.frameCount &&
                    run.background == k.background && run.antiAlias == k.antiAlias &&
                    run.textureFolder == k.textureFolder && run.models.size() == k.models.size();
  if (!same) return nullptr;
  for (std::size_t i = 0; i < run.models.size(); ++i)
    if (run.models[i].sha256 != k.models[i].sha256) return nullptr;
  const auto found = views_.find(frame);
  return found == views_.end() ? nullptr : &found->second;
}

void KeptViews::Forget(int32_t frame) {
  const auto found = views_.find(frame);
  if (found == views_.end()) return;
  bytes_ -= found->second.disparity.size() * sizeof(float) + found->second.valid.size();
  views_.erase(found);
}

DatasetRun::DatasetRun(std::string directory, const RunDescription& run, std::string sceneText, KeptViews* kept)
    : directory_(std::move(directory)), run_(run), sceneText_(std::move(sceneText)), manifest_(directory_),
      kept_(kept) {
  sceneFlowNaming_.split = run_.outputs.split;
  sceneFlowNaming_.frameDigits = SceneFlowFrameDigits(run_.frameCount);
  manifest_.BeginRun(run_);
}

void DatasetRun::MakeFolder(const std::string& path) {
  if (madeFolders_.count(path) != 0) return;
  std::error_code ec;
  std::filesystem::create_directories(path, ec);  // a failure shows at the first write
  madeFolders_.insert(path);
}

DatasetFileNames DatasetRun::Names(bool right, int32_t frame) const {
  return MakeDatasetFileNames(directory_, run_.outputs.layout, right, frame, sceneFlowNaming_);
}

std::string DatasetRun::Relative(const std::string& path) const {
  return path.compare(0, directory_.size(), directory_) == 0 ? path.substr(directory_.size()) : path;
}

void DatasetRun::WriteFrame(FrameRecord record, FrameTruth& truth, const BmpImage24& cameraImage,
                            const std::vector<uint8_t>* cleanImage) {
  if (!sceneWritten_) {
    WriteWholeFile(directory_ + kSceneCopyFileName, sceneText_.data(), sceneText_.size());
    sceneWritten_ = true;
  }
  const OutputChoice& o = run_.outputs;
  const bool right = run_.rightCamera;
  const int W = truth.width, H = truth.height;
  const int32_t frame = record.frame;
  const DatasetFileNames n = Names(right, frame);
  std::vector<std::string>& files = record.files;
  auto written = [&](const std::string& path) { files.push_back(Relative(path)); };
  long notFitting = 0;

  const bool kittiLast = o.layout == DatasetLayout::Kitti && !IsKittiIndex(frame, run_.frameCount);
  const bool wantMasks =
      !kittiLast && (o.masks || o.layout == DatasetLayout::Middlebury || o.layout == DatasetLayout::Kitti);
  // The other camera's view of this frame, kept by its run in this session;
  // or this view kept for the other camera's run to come.
  const FrameTruth* otherInMemory = wantMasks && kept_ ? kept_->Find(directory_, run_, frame) : nullptr;
  bool keptInMemory = false;
  if (wantMasks && kept_ && !otherInMemory && kept_->KeepsFor(directory_, right)) {
    const float farDisparity = static_cast<float>(DisparityFromDepth(1.0f, run_.baseline, run_.focalLength));
    keptInMemory = kept_->Keep(frame, OtherViewAsStored(truth, o.layout, farDisparity));
  }

  switch (o.layout) {
    case DatasetLayout::Classic: {
      // Files of their own: encoded and written on both threads, listed in
      // this order.
      std::vector<std::pair<std::string, std::function<void()>>> products;
      if (o.pfm) products.emplace_back(n.disparityPfm, [&] { WritePfm(n.disparityPfm, truth.disparity.data(), W, H); });
      if (o.depth) products.emplace_back(n.depthPfm, [&] { WritePfm(n.depthPfm, truth.depth.data(), W, H); });
      if (o.kitti) {
        products.emplace_back(n.disparity16, [&] {
          const std::vector<uint16_t> d16 = KittiDisparity(truth, nullptr, notFitting);
          WritePng16(n.disparity16, d16.data(), W, H, 1);
        });
      }
      if (o.png) {
        products.emplace_back(n.imagePng, [&] {
          const std::vector<uint8_t> rgb = RgbFromBmp(cameraImage);
          WritePng8(n.imagePng, rgb.data(), W, H, 3);
        });
      }
      if (o.masks && !o.classic && !o.pfm && !otherInMemory && !keptInMemory) {
        // The other camera's masks need this view's disparity: a run of it
        // in another process reads it back from here.
        const std::string scratch = directory_ + kScratchFolderName + Relative(n.disparityPfm);
        MakeFolder(FolderOf(scratch));
        products.emplace_back("", [&truth, scratch, W, H] {
          const std::vector<float> d = DisparityWithInfinity(truth);
          WritePfm(scratch, d.data(), W, H);
        });
      }
      ForEachChunk(static_cast<int>(products.size()), [&products](int i) { products[static_cast<std::size_t>(i)].second(); });
      for (const auto& [path, write] : products)
        if (!path.empty()) written(path);
      break;
    }
    case DatasetLayout::Middlebury: {
      MakeFolder(n.frameFolder);
      const std::vector<uint8_t> rgb = RgbFromBmp(cameraImage);
      WritePng8(n.imagePng, rgb.data(), W, H, 3);
      written(n.imagePng);
      const std::vector<float> d = DisparityWithInfinity(truth);
      WritePfm(n.disparityPfm, d.data(), W, H);
      written(n.disparityPfm);
      if (!n.frameCalibration.empty()) {
        // The left view's: its disparity range.
        float lo = 0, hi = 0;
        DisparityRange(truth, lo, hi);
        if (!(lo <= hi)) lo = hi = 0;
        const std::string calib = SequenceManifest::CalibText(
            run_.intrinsics, run_.baseline, W, H, DisparityLevels(run_.baseline, run_.focalLength), lo, hi, true);
        WriteWholeFile(n.frameCalibration, calib.data(), calib.size());
        written(n.frameCalibration);
      }
      break;
    }
    case DatasetLayout::Kitti: {
      // A frame that is no KITTI index (IsKittiIndex: the last of a run of
      // more than one) gets no _10 files of its own; its image is the frame
      // before's second time step.
      const bool noIndex = !IsKittiIndex(frame, run_.frameCount);
      const DatasetFileNames before = Names(right, frame - 1);
      const bool linkBefore = frame > 0 && InspectFile(before.imagePng) == FileKind::Regular;
      const std::vector<uint8_t> rgb = RgbFromBmp(cameraImage);
      // Odometry's one image per frame, the KITTI 2015 image where there is one.
      MakeFolder(FolderOf(n.odometryImagePng));
      if (noIndex) {
        WritePng8(n.odometryImagePng, rgb.data(), W, H, 3);
        written(n.odometryImagePng);
        if (linkBefore) {
          LinkOrCopy(n.odometryImagePng, before.nextImagePng);
          manifest_.AddFiles(right, frame - 1, {Relative(before.nextImagePng)});
          ++filesWritten_;
        }
        break;
      }
      for (const std::string* path : {&n.imagePng, &n.disparity16, &n.disparityNoc16, &n.frameCalibration})
        if (!path->empty()) MakeFolder(FolderOf(*path));
      WritePng8(n.imagePng, rgb.data(), W, H, 3);
      written(n.imagePng);
      LinkOrCopy(n.imagePng, n.odometryImagePng);
      written(n.odometryImagePng);
      const std::vector<uint16_t> d16 = KittiDisparity(truth, nullptr, notFitting);
      WritePng16(n.disparity16, d16.data(), W, H, 1);
      written(n.disparity16);
      if (!n.frameCalibration.empty()) {
        const std::string calib = SequenceManifest::KittiCamToCamText(run_.intrinsics, run_.baseline, W, H);
        WriteWholeFile(n.frameCalibration, calib.data(), calib.size());
        written(n.frameCalibration);
      }
      if (linkBefore) {
        // This image is the frame before's second time step.
        LinkOrCopy(n.imagePng, before.nextImagePng);
        manifest_.AddFiles(right, frame - 1, {Relative(before.nextImagePng)});
        ++filesWritten_;
      }
      break;
    }
    case DatasetLayout::SceneFlow: {
      for (const std::string* path : {&n.imagePng, &n.cleanImagePng, &n.disparityPfm}) MakeFolder(FolderOf(*path));
      ForEachChunk(3, [&](int file) {
        if (file == 0) {
          const std::vector<uint8_t> rgb = RgbFromBmp(cameraImage);
          WritePng8(n.imagePng, rgb.data(), W, H, 3);
          if (!cleanImage) WritePng8(n.cleanImagePng, rgb.data(), W, H, 3);
        } else if (file == 1) {
          if (cleanImage) WritePng8(n.cleanImagePng, cleanImage->data(), W, H, 3);
        } else {
          const std::vector<float> d = DisparityWithInfinity(truth);
          WritePfm(n.disparityPfm, d.data(), W, H);
        }
      });
      for (const std::string* path : {&n.cleanImagePng, &n.imagePng, &n.disparityPfm}) written(*path);
      // The first frame has no past and the last no future, but their files
      // are there, invalid everywhere (flow 1e10, disparity change +inf): loaders pair the i-th sorted
      // flow file with the i-th image, as FlyingThings3D, which has them.
      const bool first = frame == 0, last = frame + 1 == run_.frameCount;
      if (o.flow && (first || last)) {
        SceneFlow none;
        none.u.assign(static_cast<std::size_t>(W) * H, 0.0f);
        none.v = none.u;
        none.mask.assign(none.u.size(), kMaskNone);
        const std::vector<float> invalidFlow = FlowChannels(none);
        const std::vector<float> invalidChange(none.u.size(), INFINITY);
        for (const bool future : {false, true}) {
          if (future ? !last : !first) continue;
          const std::string& flowPath = future ? n.flowFuturePfm : n.flowPastPfm;
          const std::string& changePath = future ? n.disparityChange : n.disparityChangePast;
          for (const std::string* path : {&flowPath, &changePath}) MakeFolder(FolderOf(*path));
          WritePfm(flowPath, invalidFlow.data(), W, H, 3);
          WritePfm(changePath, invalidChange.data(), W, H);
          written(flowPath);
          written(changePath);
        }
      }
      break;
    }
  }
  record.kitti16NotFitting = notFitting;

  if (o.ids16) {
    if (truth.ids.size() != static_cast<std::size_t>(W) * static_cast<std::size_t>(H))
      throw Error("Cannot create file " + n.ids16 + ": the frame has no id map");
    MakeFolder(FolderOf(n.ids16));
    WritePng16(n.ids16, truth.ids.data(), W, H, 1);
    written(n.ids16);
  }

  if (o.flow) WriteFlowOfPrevious(frame, truth, record.cameraToWorld, files);

  if (wantMasks) MakeMasks(frame, truth, otherInMemory, files);

  DisparityRange(truth, record.minDisparity, record.maxDisparity);
  if (o.flow) {
    previous_.frame = frame;
    std::swap(previous_.truth, truth);
    previous_.pose = record.cameraToWorld;
  }
  filesWritten_ += files.size();
  manifest_.AddFrame(right, record);
  // The manifest grows with every frame: past a thousand frames it is saved
  // every tenth frame (and at the end), so long runs do not rewrite it
  // quadratically. It lists only complete frames either way. The poses and
  // calibration follow at the end of the run.
  if (++framesRecorded_ <= 1000 || framesRecorded_ % 10 == 0) manifest_.SaveProgress();
}

void DatasetRun::MakeMasks(int32_t frame, const FrameTruth& own, const FrameTruth* otherInMemory,
                           std::vector<std::string>& ownFiles) {
  const OutputChoice& o = run_.outputs;
  const bool right = run_.rightCamera;
  const int W = own.width, H = own.height;
  FrameTruth read;
  const float farDisparity = static_cast<float>(DisparityFromDepth(1.0f, run_.baseline, run_.focalLength));
  // From memory when the other camera's run of this session kept it, else
  // read back from what its run wrote.
  const bool haveOther =
      manifest_.HasFrame(!right, frame) &&
      (otherInMemory != nullptr ||
       LoadOtherView(directory_ + kScratchFolderName, DatasetLayout::Classic, !right, frame, W, H, farDisparity,
                     read) ||
       LoadOtherView(directory_, o.layout, !right, frame, W, H, farDisparity, read));
  const FrameTruth& other = otherInMemory != nullptr ? *otherInMemory : read;
  if (!haveOther) {
    if (maskNote_.empty()) {
      maskNote_ = std::string("no occlusion masks yet: they need the ") + (right ? "left" : "right") +
                  " camera's run of the same scene in " + directory_ + " (its masks and these are written then)";
    }
    return;
  }
  const DatasetFileNames ownNames = Names(right, frame);
  const DatasetFileNames otherNames = Names(!right, frame);
  const bool kitti = o.layout == DatasetLayout::Kitti;
  // A non-occluded disparity holds some of its view's disp_occ values, whose
  // clamped ones that view's frame has counted already ("kitti16"); the other
  // view's, read back from its 16-bit file, never clamp again.
  long countedAlready[2] = {0, 0};
  // This view's mask or KITTI non-occluded disparity, and the other's.
  ForEachChunk(2, [&](int view) {
    const bool mine = view == 0;
    const FrameTruth& a = mine ? own : other;
    const FrameTruth& b = mine ? other : own;
    const DatasetFileNames& names = mine ? ownNames : otherNames;
    const std::vector<uint8_t> mask = OcclusionMask(a, b, mine ? right : !right);
    if (kitti) {
      const std::vector<uint16_t> noc = KittiDisparity(a, &mask, countedAlready[view]);
      WritePng16(names.disparityNoc16, noc.data(), W, H, 1);
    } else {
      WritePng8(names.mask, mask.data(), W, H, 1);
    }
  });
  ownFiles.push_back(Relative(kitti ? ownNames.disparityNoc16 : ownNames.mask));
  const std::vector<std::string> otherFiles = {Relative(kitti ? otherNames.disparityNoc16 : otherNames.mask)};
  manifest_.AddFiles(!right, frame, otherFiles);
  filesWritten_ += otherFiles.size();
  ++masksWritten_;
  maskNote_.clear();
  // The float disparities kept for these masks are not needed any more.
  if (otherInMemory != nullptr) {
    kept_->Forget(frame);
    if (madeFolders_.count(directory_ + kScratchFolderName) == 0) return;  // none written here
  }
  const std::string scratch = directory_ + kScratchFolderName;
  std::error_code ec;
  for (const bool camera : {false, true})
    std::filesystem::remove(MakeDatasetFileNames(scratch, DatasetLayout::Classic, camera, frame).disparityPfm, ec);
  if (std::filesystem::remove(scratch, ec)) madeFolders_.erase(scratch);  // only when empty
}

void DatasetRun::WriteFlowOfPrevious(int32_t frame, const FrameTruth& truth, const Mat4& cameraToWorld,
                                     std::vector<std::string>& ownFiles) {
  const bool right = run_.rightCamera;
  if (previous_.frame < 0 && frame > 0 && frame == run_.firstFrame &&
      run_.outputs.layout == DatasetLayout::SceneFlow) {
    // A run that goes on makes its first frame again without the frame before
    // in memory: that frame's flow into the past is the one the earlier run
    // wrote from the same frames, which the resume found on disk and keeps.
    const DatasetFileNames now = Names(right, frame);
    for (const std::string* path : {&now.flowPastPfm, &now.disparityChangePast})
      if (InspectFile(*path) == FileKind::Regular) ownFiles.push_back(Relative(*path));
    return;
  }
  if (previous_.frame < 0 || previous_.frame + 1 != frame) return;
  ComputeSceneFlow(previous_.truth, previous_.pose, truth, cameraToWorld, run_.intrinsics, run_.baseline,
                   run_.focalLength, kNearPlane, kFarPlane, flow_);
  const DatasetFileNames n = Names(right, previous_.frame);
  const int W = flow_.width, H = flow_.height;
  long notFitting = 0, nextNotFitting = 0;
  std::vector<std::string> files;
  if (run_.outputs.layout == DatasetLayout::SceneFlow) {
    // Into the future for the frame before, into the past for this one.
    const SceneFlow past = ComputeSceneFlow(truth, cameraToWorld, previous_.truth, previous_.pose, run_.intrinsics,
                                            run_.baseline, run_.focalLength, kNearPlane, kFarPlane);
    const DatasetFileNames now = Names(right, frame);
    for (const std::string* path : {&n.flowFuturePfm, &n.disparityChange, &now.flowPastPfm, &now.disparityChangePast})
      MakeFolder(FolderOf(*path));
    ForEachChunk(4, [&](int file) {
      const SceneFlow& f = file < 2 ? flow_ : past;
      if (file % 2 == 0) {
        const std::vector<float> uv0 = FlowChannels(f);
        WritePfm(file < 2 ? n.flowFuturePfm : now.flowPastPfm, uv0.data(), W, H, 3);
      } else {
        WritePfm(file < 2 ? n.disparityChange : now.disparityChangePast, f.disparityChange.data(), W, H);
      }
    });
    files = {Relative(n.flowFuturePfm), Relative(n.disparityChange)};
    ownFiles.push_back(Relative(now.flowPastPfm));
    ownFiles.push_back(Relative(now.disparityChangePast));
  } else {
    const bool kittiLeft = !n.flowNoc16.empty();
    for (const std::string* path : {&n.flow16, &n.flowNoc16, &n.nextDisparity16, &n.nextDisparityNoc16})
      if (!path->empty()) MakeFolder(FolderOf(*path));
    // Files of their own: encoded and written on both threads.
    ForEachChunk(kittiLeft ? 6 : 4, [&](int file) {
      switch (file) {
        case 0: {
          const std::vector<uint16_t> k16 = KittiFlow(flow_, notFitting);
          WritePng16(n.flow16, k16.data(), W, H, 3);
          break;
        }
        case 1: {
          const std::vector<uint8_t> flo = EncodeFlo(flow_);
          WriteWholeFile(n.flowFlo, flo.data(), flo.size());
          break;
        }
        case 2:
          WritePng8(n.flowMask, flow_.mask.data(), W, H, 1);
          break;
        case 3:
          WritePfm(n.disparityChange, flow_.disparityChange.data(), W, H);
          break;
        case 4: {
          // KITTI's flow_noc: only where the point is visible at the next frame.
          SceneFlow visible = flow_;
          for (uint8_t& m : visible.mask) m = m == kMaskVisible ? m : kMaskNone;
          long countedAlready = 0;  // some of flow_occ's values, counted there
          const std::vector<uint16_t> k16 = KittiFlow(visible, countedAlready);
          WritePng16(n.flowNoc16, k16.data(), W, H, 3);
          break;
        }
        default: {
          // KITTI's second time step: the disparity at the next frame of the
          // points this frame shows, at this frame's pixels.
          FrameTruth next;
          next.width = W;
          next.height = H;
          next.disparity.resize(flow_.disparityChange.size());
          next.valid.resize(flow_.mask.size());
          for (std::size_t i = 0; i < next.disparity.size(); ++i) {
            next.valid[i] = flow_.mask[i] != kMaskNone && previous_.truth.valid[i];
            next.disparity[i] = next.valid[i] ? previous_.truth.disparity[i] + flow_.disparityChange[i] : 0.0f;
          }
          // Disparities that do not fit are written as no ground truth and
          // counted once, in disp_occ_1 (disp_noc_1 holds a part of them).
          long ignored = 0;
          const std::vector<uint16_t> occ = KittiDisparity(next, nullptr, nextNotFitting, KittiOverflow::Invalid);
          WritePng16(n.nextDisparity16, occ.data(), W, H, 1);
          const std::vector<uint16_t> noc = KittiDisparity(next, &flow_.mask, ignored, KittiOverflow::Invalid);
          WritePng16(n.nextDisparityNoc16, noc.data(), W, H, 1);
        }
      }
    });
    files = {Relative(n.flowFlo), Relative(n.flow16), Relative(n.disparityChange), Relative(n.flowMask)};
    if (kittiLeft) {
      for (const std::string* path : {&n.flowNoc16, &n.nextDisparity16, &n.nextDisparityNoc16})
        files.push_back(Relative(*path));
    }
  }
  manifest_.AddFiles(right, previous_.frame, files);
  manifest_.CountNotFitting(right, previous_.frame, "kittiFlow16", notFitting);
  manifest_.CountNotFitting(right, previous_.frame, "kitti16NextFrame", nextNotFitting);
  filesWritten_ += files.size();
}

void DatasetRun::End(bool complete) {
  if (run_.outputs.flow && previous_.frame >= 0) {
    manifest_.SetRunNote(run_.rightCamera, "flow",
                         "frame " + std::to_string(previous_.frame) +
                             " is the last of the run and has no forward flow");
  }
  manifest_.EndRun(run_.rightCamera, complete);
  manifest_.Save();
}

}  // namespace tovimar
