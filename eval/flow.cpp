#include "eval/flow.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <ostream>

#include "base/error.h"
#include "base/number_text.h"
#include "eval/format.h"
#include "io/bytes.h"
#include "io/file.h"
#include "io/png.h"

namespace fs = std::filesystem;

namespace tovimar::eval {

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

HeaderSizeCheck SizeMustBe(const std::string& path, int width, int height, const char* what) {
  return [path, width, height, what](int w, int h) {
    if (w != width || h != height)
      throw Error("'" + path + "' is " + Size(w, h) + ", the " + what + " is " + Size(width, height));
  };
}

FlowMap Blank(int w, int h) {
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  return {w, h, std::vector<float>(n, kNaN), std::vector<float>(n, kNaN)};
}

// Reads the whole file after its first headerBytes bytes were checked.
std::string ReadAll(const std::string& path, ReadOnlyFile& file) {
  if (file.Size() > (uint64_t{1} << 34)) throw Error("'" + path + "' is too large");
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) throw Error("'" + path + "' could not be read");
  return bytes;
}

void OpenOrThrow(ReadOnlyFile& file, const std::string& path) {
  const std::string why = file.Open(path);
  if (!why.empty()) throw Error("'" + path + "' " + why);
}

bool ValidFlow(float u, float v) {
  return std::isfinite(u) && std::isfinite(v) && std::fabs(u) <= kFloUnknown && std::fabs(v) <= kFloUnknown;
}

bool ValidDisparity(float d) { return std::isfinite(d) && d > 0; }


std::string FieldOf(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return std::string(s);
}

}  // namespace

FlowMap ReadFlo(const std::string& path, const HeaderSizeCheck& check) {
  ReadOnlyFile file;
  OpenOrThrow(file, path);
  uint8_t header[12];
  if (!file.ReadAt(0, header, sizeof header) || std::memcmp(header, "PIEH", 4) != 0)
    throw Error("'" + path + "' is not a .flo file (no \"PIEH\" header)");
  const int32_t w = io::LeS32(header + 4), h = io::LeS32(header + 8);
  if (w < 1 || h < 1 || w > 65535 || h > 65535) throw Error("'" + path + "' gives the size " + Size(w, h));
  if (check) check(w, h);
  const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (file.Size() != 12 + 8 * uint64_t{n})
    throw Error("'" + path + "' holds " + std::to_string(file.Size()) + " bytes, a " + Size(w, h) + " .flo file " +
                std::to_string(12 + 8 * uint64_t{n}));
  std::vector<uint8_t> samples(8 * n);
  if (!file.ReadAt(12, samples.data(), samples.size())) throw Error("'" + path + "' could not be read");
  FlowMap f = Blank(w, h);
  for (std::size_t i = 0; i < n; ++i) {
    const uint32_t a = io::Le32(&samples[8 * i]), b = io::Le32(&samples[8 * i + 4]);
    float u, v;
    std::memcpy(&u, &a, 4);
    std::memcpy(&v, &b, 4);
    if (ValidFlow(u, v)) {
      f.u[i] = u;
      f.v[i] = v;
    }
  }
  return f;
}

std::string FloBytes(const FlowMap& flow) {
  std::vector<uint8_t> out(12 + 8 * flow.u.size());
  std::memcpy(out.data(), "PIEH", 4);
  io::PutLe32(out.data() + 4, static_cast<uint32_t>(flow.width));
  io::PutLe32(out.data() + 8, static_cast<uint32_t>(flow.height));
  for (std::size_t i = 0; i < flow.u.size(); ++i) {
    const bool valid = ValidFlow(flow.u[i], flow.v[i]);
    const float pair[2] = {valid ? flow.u[i] : 1e10f, valid ? flow.v[i] : 1e10f};
    for (int k = 0; k < 2; ++k) {
      uint32_t bits;
      std::memcpy(&bits, &pair[k], 4);
      io::PutLe32(out.data() + 12 + 8 * i + 4 * static_cast<std::size_t>(k), bits);
    }
  }
  return std::string(out.begin(), out.end());
}

FlowMap ReadKittiFlow(const std::string& path, const HeaderSizeCheck& check) {
  const PngImage png = ReadPng(path, check);
  if (png.channels != 3 || png.bitDepth != 16) throw Error("'" + path + "' is not a 16-bit RGB KITTI flow PNG");
  FlowMap f = Blank(png.width, png.height);
  for (std::size_t i = 0; i < f.u.size(); ++i) {
    if (png.samples[3 * i + 2] == 0) continue;
    f.u[i] = static_cast<float>((png.samples[3 * i] - 32768.0) / 64.0);
    f.v[i] = static_cast<float>((png.samples[3 * i + 1] - 32768.0) / 64.0);
  }
  return f;
}

FlowMap ReadFlowPfm(const std::string& path, const HeaderSizeCheck& check) {
  ReadOnlyFile file;
  OpenOrThrow(file, path);
  char head[256] = {};
  const std::size_t headSize = static_cast<std::size_t>(std::min<uint64_t>(file.Size(), sizeof head));
  if (!file.ReadAt(0, head, headSize)) throw Error("'" + path + "' could not be read");
  // "PF", width, height and scale, each after whitespace, then one line end.
  const char* p = head;
  const char* end = head + headSize;
  const auto bad = [&path](const std::string& why) { return Error("'" + path + "' is not a flow PFM (" + why + ")"); };
  if (headSize < 3 || head[0] != 'P' || (head[1] != 'F' && head[1] != 'f'))
    throw bad("no \"PF\" header");
  if (head[1] == 'f') throw bad("one channel; a flow has two or three");
  p += 2;
  const auto skip = [&] {
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')) ++p;
  };
  int w = 0, h = 0;
  double scale = 0;
  skip();
  auto r = std::from_chars(p, end, w);
  if (r.ec != std::errc{}) throw bad("no width");
  p = r.ptr;
  skip();
  r = std::from_chars(p, end, h);
  if (r.ec != std::errc{}) throw bad("no height");
  p = r.ptr;
  skip();
  const auto s = std::from_chars(p, end, scale);
  if (s.ec != std::errc{} || !std::isfinite(scale) || scale == 0) throw bad("no scale");
  p = s.ptr;
  if (p < end && *p == '\r') ++p;
  if (p >= end || *p != '\n') throw bad("no line end after the scale");
  ++p;
  if (w < 1 || h < 1 || w > 65535 || h > 65535) throw bad("size " + Size(w, h));
  if (check) check(w, h);
  const uint64_t offset = static_cast<uint64_t>(p - head);
  const uint64_t n = uint64_t{static_cast<uint32_t>(w)} * static_cast<uint32_t>(h);
  const uint64_t data = file.Size() - offset;
  const int channels = data == 12 * n ? 3 : data == 8 * n ? 2 : 0;
  if (channels == 0)
    throw bad(std::to_string(data) + " bytes of samples, neither 2 nor 3 channels of " + Size(w, h));
  std::vector<uint8_t> samples(static_cast<std::size_t>(data));
  if (!file.ReadAt(offset, samples.data(), samples.size())) throw Error("'" + path + "' could not be read");
  FlowMap f = Blank(w, h);
  const bool little = scale < 0;
  for (int y = 0; y < h; ++y) {
    const std::size_t fileRow = static_cast<std::size_t>(h - 1 - y);  // rows stored bottom-up
    for (int x = 0; x < w; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
      float uv[2];
      for (int c = 0; c < 2; ++c) {
        const uint8_t* q =
            &samples[4 * ((fileRow * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) *
                              static_cast<std::size_t>(channels) +
                          static_cast<std::size_t>(c))];
        const uint32_t bits = little ? io::Le32(q)
                                     : (uint32_t{q[0]} << 24 | uint32_t{q[1]} << 16 | uint32_t{q[2]} << 8 | q[3]);
        std::memcpy(&uv[c], &bits, 4);
      }
      if (ValidFlow(uv[0], uv[1])) {
        f.u[i] = uv[0];
        f.v[i] = uv[1];
      }
    }
  }
  return f;
}

FlowMap ReadFlowPrediction(const std::string& path, int width, int height) {
  const HeaderSizeCheck check = SizeMustBe(path, width, height, "ground truth");
  const std::string ext = fs::path(path).extension().string();
  if (ext == ".flo") return ReadFlo(path, check);
  if (ext == ".png") return ReadKittiFlow(path, check);
  return ReadFlowPfm(path, check);
}

std::set<int> MovingIds(const std::string& sceneText) {
  std::set<int> ids;
  std::size_t start = 0;
  while (start < sceneText.size()) {
    std::size_t stop = sceneText.find('\n', start);
    if (stop == std::string::npos) stop = sceneText.size();
    const std::string_view line(sceneText.data() + start, stop - start);
    start = stop + 1;
    std::vector<std::string> fields;
    for (std::size_t a = 0;;) {
      const std::size_t b = line.find(';', a);
      fields.push_back(FieldOf(line.substr(a, b == std::string_view::npos ? line.npos : b - a)));
      if (b == std::string_view::npos) break;
      a = b + 1;
    }
    if (fields.size() < 8 || fields[0] != "MOVE") continue;
    double numbers[7];
    bool ok = true;
    for (int k = 0; k < 7 && ok; ++k) {
      const std::string& t = fields[static_cast<std::size_t>(k) + 1];
      const auto r = std::from_chars(t.data(), t.data() + t.size(), numbers[k]);
      ok = r.ec == std::errc{} && r.ptr == t.data() + t.size() && std::isfinite(numbers[k]);
    }
    if (!ok || std::fabs(numbers[0]) >= 2147483647.0) continue;
    if (std::any_of(numbers + 1, numbers + 7, [](double v) { return v != 0; }))
      ids.insert(static_cast<int>(numbers[0]));  // the scene truncates ids toward zero
  }
  return ids;
}

std::vector<int> FlowFrames(const Dataset& dataset) {
  const bool right = dataset.camera() == Camera::Right;
  const std::vector<int>& all = dataset.Frames();
  std::vector<int> frames;
  for (int f : all) {
    const DatasetFileNames n = dataset.FileNames(right, f);
    bool has = false;
    switch (dataset.layout()) {
      case Layout::SceneFlow:
        // Every frame has a file; the last one holds no value anywhere.
        has = IsRegularFile(n.flowFuturePfm) && std::binary_search(all.begin(), all.end(), f + 1);
        break;
      case Layout::Kitti:
        has = IsRegularFile(!right ? n.flow16 : n.flowFlo);
        break;
      case Layout::Classic:
      case Layout::Middlebury:
        has = IsRegularFile(n.flowFlo);
        break;
    }
    if (has) frames.push_back(f);
  }
  if (frames.empty())
    throw Error("'" + dataset.Directory() + "' holds no " + (right ? "right" : "left") +
                "-camera flow ground truth (rendered with --outputs flow?)");
  return frames;
}

FlowGroundTruth LoadFlowGroundTruth(const Dataset& dataset, int frame, FlowTask task, const std::set<int>* moving) {
  FlowGroundTruth gt;
  gt.frame = frame;
  const bool right = dataset.camera() == Camera::Right;
  const DatasetFileNames n = dataset.FileNames(right, frame);
  const bool kittiPng = dataset.layout() == Layout::Kitti && !right;
  if (dataset.layout() == Layout::SceneFlow) {
    gt.flow = ReadFlowPfm(n.flowFuturePfm);
  } else if (kittiPng) {
    gt.flow = ReadKittiFlow(n.flow16);
    if (OptionalFilePresent(n.flowNoc16)) {
      const FlowMap noc = ReadKittiFlow(n.flowNoc16, SizeMustBe(n.flowNoc16, gt.flow.width, gt.flow.height, "flow"));
      gt.occlusion.resize(noc.u.size());
      for (std::size_t i = 0; i < noc.u.size(); ++i) gt.occlusion[i] = std::isnan(noc.u[i]) ? kOccluded : kNonOccluded;
    }
  } else {
    gt.flow = ReadFlo(n.flowFlo);
    if (OptionalFilePresent(n.flowMask))
      gt.occlusion = ReadMaskClasses(n.flowMask, SizeMustBe(n.flowMask, gt.flow.width, gt.flow.height, "flow"));
  }
  const int w = gt.flow.width, h = gt.flow.height;
  for (std::size_t i = 0; i < gt.flow.u.size(); ++i) {
    if (!gt.occlusion.empty() && gt.occlusion[i] == kNoGroundTruth) gt.flow.u[i] = gt.flow.v[i] = kNaN;
    if (!gt.occlusion.empty() && std::isnan(gt.flow.u[i])) gt.occlusion[i] = kNoGroundTruth;
  }
  if (moving != nullptr && OptionalFilePresent(n.ids16)) {
    const PngImage ids = ReadPng(n.ids16, SizeMustBe(n.ids16, w, h, "flow"));
    if (ids.channels != 1 || ids.bitDepth != 16) throw Error("'" + n.ids16 + "' is not a 16-bit grey id map");
    gt.foreground.resize(ids.samples.size());
    for (std::size_t i = 0; i < ids.samples.size(); ++i)
      gt.foreground[i] = ids.samples[i] != 65535 && moving->count(ids.samples[i]) ? 1 : 0;
  }
  if (task == FlowTask::SceneFlow) {
    gt.disparity = dataset.Load(frame).disparity;
    if (gt.disparity.width != w || gt.disparity.height != h)
      throw Error("the disparity of frame " + std::to_string(frame) + " is " +
                  Size(gt.disparity.width, gt.disparity.height) + ", its flow " + Size(w, h));
    if (kittiPng) {
      gt.nextDisparity = ReadPrediction(n.nextDisparity16, 256.0, w, h);
    } else {
      // The disparity change: +inf where the point has no disparity at the next frame.
      gt.nextDisparity = ReadPrediction(n.disparityChange, 1.0, w, h);
      for (std::size_t i = 0; i < gt.nextDisparity.values.size(); ++i)
        gt.nextDisparity.values[i] += gt.disparity.values[i];
    }
    for (float& d : gt.nextDisparity.values) {
      if (!ValidDisparity(d)) d = kNaN;
    }
  }
  return gt;
}

void SceneFlowCounts::Merge(const SceneFlowCounts& o) {
  d1Pixels += o.d1Pixels;
  d1 += o.d1;
  d2Pixels += o.d2Pixels;
  d2 += o.d2;
  sfPixels += o.sfPixels;
  sf += o.sf;
}

FlowMetrics FinishFlow(const RegionMetrics& endPoint, const SceneFlowCounts& sceneFlow) {
  const auto share = [](uint64_t part, uint64_t whole) {
    return whole ? 100.0 * static_cast<double>(part) / static_cast<double>(whole) : NAN;
  };
  FlowMetrics m;
  m.epe = endPoint.epe;
  m.fl = endPoint.d1;
  m.density = endPoint.density;
  m.a50 = endPoint.a50;
  m.a90 = endPoint.a90;
  m.a95 = endPoint.a95;
  m.a99 = endPoint.a99;
  m.pixels = endPoint.pixels;
  m.d1 = share(sceneFlow.d1, sceneFlow.d1Pixels);
  m.d2 = share(sceneFlow.d2, sceneFlow.d2Pixels);
  m.sf = share(sceneFlow.sf, sceneFlow.sfPixels);
  m.sfPixels = sceneFlow.sfPixels;
  return m;
}

bool FlowEvalResult::AllRead() const {
  return std::all_of(frames.begin(), frames.end(), [](const FlowFrameResult& f) { return f.error.empty(); });
}

namespace {

// Invalid values replaced by the nearest valid one to the left in the row,
// else to the right, else 0 (u and v together).
void FillInvalidFlow(FlowMap& f) {
  for (int y = 0; y < f.height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(f.width);
    int first = 0;
    while (first < f.width && !ValidFlow(f.u[row + static_cast<std::size_t>(first)], f.v[row + static_cast<std::size_t>(first)])) ++first;
    float lu = first < f.width ? f.u[row + static_cast<std::size_t>(first)] : 0.0f;
    float lv = first < f.width ? f.v[row + static_cast<std::size_t>(first)] : 0.0f;
    for (int x = 0; x < f.width; ++x) {
      const std::size_t i = row + static_cast<std::size_t>(x);
      if (ValidFlow(f.u[i], f.v[i])) {
        lu = f.u[i];
        lv = f.v[i];
      } else {
        f.u[i] = lu;
        f.v[i] = lv;
      }
    }
  }
}

constexpr std::size_t kAll = 0, kNoc = 1, kOcc = 2, kBg = 3, kFg = 4, kRegions = 5;
constexpr const char* kRegionNames[kRegions] = {"all", "nonoccluded", "occluded", "bg", "fg"};

std::size_t RegionIndex(const std::string& name) {
  return static_cast<std::size_t>(std::find(std::begin(kRegionNames), std::end(kRegionNames), name) -
                                  std::begin(kRegionNames));
}

}  // namespace

std::vector<std::pair<std::string, FlowFrameRegion>> AccumulateFlow(const FlowGroundTruth& gt,
                                                                    FlowPrediction prediction, FlowTask task,
                                                                    InvalidRule invalid) {
  const std::size_t n = gt.flow.u.size();
  const bool sceneFlow = task == FlowTask::SceneFlow;
  std::vector<uint8_t> flowValid(n), d0Valid(sceneFlow ? n : 0), d1Valid(sceneFlow ? n : 0);
  for (std::size_t i = 0; i < n; ++i) flowValid[i] = ValidFlow(prediction.flow.u[i], prediction.flow.v[i]);
  const bool fill = invalid == InvalidRule::Fill;
  if (fill) FillInvalidFlow(prediction.flow);
  if (sceneFlow) {
    for (std::size_t i = 0; i < n; ++i) {
      d0Valid[i] = ValidDisparity(prediction.disparity.values[i]);
      d1Valid[i] = ValidDisparity(prediction.nextDisparity.values[i]);
    }
    if (fill) {
      FillInvalid(prediction.disparity.values, prediction.disparity.width, prediction.disparity.height);
      FillInvalid(prediction.nextDisparity.values, prediction.nextDisparity.width, prediction.nextDisparity.height);
    }
  }
  FlowFrameRegion regions[kRegions];
  regions[kAll].endPoint.Reserve(n);
  const bool occlusion = !gt.occlusion.empty(), objects = !gt.foreground.empty();
  for (std::size_t i = 0; i < n; ++i) {
    const float gu = gt.flow.u[i], gv = gt.flow.v[i];
    const bool flowTruth = !std::isnan(gu);
    const bool d0Truth = sceneFlow && !std::isnan(gt.disparity.values[i]);
    const bool d1Truth = sceneFlow && !std::isnan(gt.nextDisparity.values[i]);
    if (!flowTruth && !d0Truth && !d1Truth) continue;
    std::size_t in[3];
    std::size_t count = 0;
    in[count++] = kAll;
    if (occlusion && gt.occlusion[i] != kNoGroundTruth) in[count++] = gt.occlusion[i] == kOccluded ? kOcc : kNoc;
    if (objects) in[count++] = gt.foreground[i] ? kFg : kBg;
    bool flOut = false, d1Out = false, d2Out = false;
    const bool flowCounted = flowTruth && (flowValid[i] || fill);
    double endPointError = 0, trueLength = 0;
    if (flowCounted) {
      endPointError = std::hypot(static_cast<double>(prediction.flow.u[i]) - gu,
                                 static_cast<double>(prediction.flow.v[i]) - gv);
      trueLength = std::hypot(static_cast<double>(gu), static_cast<double>(gv));
      flOut = KittiOutlier(endPointError, trueLength);
    }
    SceneFlowCounts pixel;
    const bool d0Counted = d0Truth && (d0Valid[i] || fill), d1Counted = d1Truth && (d1Valid[i] || fill);
    if (d0Counted) {
      const double t = gt.disparity.values[i];
      d1Out = KittiOutlier(std::fabs(prediction.disparity.values[i] - t), t);
      ++pixel.d1Pixels;
      pixel.d1 = d1Out;
    }
    if (d1Counted) {
      const double t = gt.nextDisparity.values[i];
      d2Out = KittiOutlier(std::fabs(prediction.nextDisparity.values[i] - t), t);
      ++pixel.d2Pixels;
      pixel.d2 = d2Out;
    }
    if (flowCounted && d0Counted && d1Counted) {
      ++pixel.sfPixels;
      pixel.sf = flOut || d1Out || d2Out;
    }
    for (std::size_t k = 0; k < count; ++k) {
      FlowFrameRegion& region = regions[in[k]];
      if (flowTruth) region.endPoint.AddGroundTruth(flowValid[i] != 0);
      if (flowCounted) region.endPoint.Add(endPointError, trueLength);
      if (sceneFlow) region.sceneFlow.Merge(pixel);
    }
  }
  std::vector<std::pair<std::string, FlowFrameRegion>> out;
  for (std::size_t r = 0; r < kRegions; ++r) {
    if (((r == kNoc || r == kOcc) && !occlusion) || ((r == kBg || r == kFg) && !objects)) continue;
    out.emplace_back(kRegionNames[r], std::move(regions[r]));
  }
  return out;
}

FlowEvalResult EvaluateFlow(const Dataset& dataset, const std::string& predictionDir, FlowTask task,
                            const EvalOptions& options, const FlowPictureSink& picture) {
  FlowEvalResult out;
  out.task = task;
  const std::vector<int> frames = FlowFrames(dataset);
  const bool sceneFlow = task == FlowTask::SceneFlow;
  const std::string flowDir = sceneFlow ? (fs::path(predictionDir) / "flow").string() : predictionDir;
  const std::string disp0Dir = (fs::path(predictionDir) / "disp_0").string();
  const std::string disp1Dir = (fs::path(predictionDir) / "disp_1").string();
  const std::map<int, std::string> flows = FindPredictions(flowDir, out.notes, {".flo", ".png", ".pfm"});
  std::map<int, std::string> disp0, disp1;
  if (sceneFlow) {
    disp0 = FindPredictions(disp0Dir, out.notes);
    disp1 = FindPredictions(disp1Dir, out.notes);
  }
  // The foreground: the ids the scene copy's MOVE lines move.
  std::set<int> moving;
  bool haveScene = false;
  {
    const std::string scenePath = (fs::path(dataset.Directory()) / kSceneCopyFileName).string();
    ReadOnlyFile file;
    if (file.Open(scenePath).empty() && file.Size() < (uint64_t{1} << 26)) {
      moving = MovingIds(ReadAll(scenePath, file));
      haveScene = true;
    } else {
      out.notes.push_back("no '" + scenePath + "': no background and foreground regions");
    }
  }
  // The sequence's figures per region, in kRegionNames's order.
  struct SequenceTotal {
    SequenceRegion endPoint;
    SceneFlowCounts sceneFlow;
    bool used = false;
  };
  std::vector<SequenceTotal> total(kRegions);
  for (int frame : frames) {
    FlowFrameResult result;
    result.frame = frame;
    try {
      const auto need = [frame](const std::map<int, std::string>& found, const std::string& dir) {
        const auto it = found.find(frame);
        if (it == found.end())
          throw Error("no prediction for frame " + std::to_string(frame) + " in '" + dir + "'");
        return it->second;
      };
      const std::string flowPath = need(flows, flowDir);
      const std::string d0Path = sceneFlow ? need(disp0, disp0Dir) : "";
      const std::string d1Path = sceneFlow ? need(disp1, disp1Dir) : "";
      const FlowGroundTruth gt = LoadFlowGroundTruth(dataset, frame, task, haveScene ? &moving : nullptr);
      const int w = gt.flow.width, h = gt.flow.height;
      FlowPrediction p;
      p.flow = ReadFlowPrediction(flowPath, w, h);
      if (sceneFlow) {
        p.disparity = ReadPrediction(d0Path, options.pngScale, w, h);
        p.nextDisparity = ReadPrediction(d1Path, options.pngScale, w, h);
      }
      if (picture) picture(gt, p.flow);
      auto regions = AccumulateFlow(gt, std::move(p), task, options.invalid);
      if (regions.front().second.endPoint.Sums().groundTruth == 0 && regions.front().second.sceneFlow.d1Pixels == 0)
        throw Error("no pixel has flow ground truth");
      for (auto& [name, region] : regions) {
        result.regions.emplace_back(name, FinishFlow(region.endPoint.Finish(), region.sceneFlow));
        SequenceTotal& sum = total[RegionIndex(name)];
        sum.endPoint.Merge(region.endPoint);
        sum.sceneFlow.Merge(region.sceneFlow);
        sum.used = true;
      }
    } catch (const std::exception& e) {
      result.regions.clear();
      result.error = dynamic_cast<const std::bad_alloc*>(&e) ? "out of memory while reading the frame's files"
                                                                : std::string(e.what());
    }
    out.frames.push_back(std::move(result));
  }
  // Regions in their fixed order, whatever frame first had them.
  for (std::size_t r = 0; r < kRegions; ++r) {
    if (total[r].used) out.total.emplace_back(kRegionNames[r], FinishFlow(total[r].endPoint.Finish(), total[r].sceneFlow));
  }
  return out;
}

namespace {

struct FlowField {
  const char* name;
  double FlowMetrics::*member;
  bool percent;  // a percentage (2 decimals in the table), else pixels (3 decimals)
};
constexpr FlowField kFlowFields[] = {
    {"epe", &FlowMetrics::epe, false}, {"fl", &FlowMetrics::fl, true},   {"a50", &FlowMetrics::a50, false},
    {"a90", &FlowMetrics::a90, false}, {"a95", &FlowMetrics::a95, false}, {"a99", &FlowMetrics::a99, false},
    {"density", &FlowMetrics::density, true}};
constexpr FlowField kSceneFlowFields[] = {
    {"d1", &FlowMetrics::d1, true},    {"d2", &FlowMetrics::d2, true},   {"fl", &FlowMetrics::fl, true},
    {"sf", &FlowMetrics::sf, true},    {"epe", &FlowMetrics::epe, false}, {"a50", &FlowMetrics::a50, false},
    {"a90", &FlowMetrics::a90, false}, {"a95", &FlowMetrics::a95, false}, {"a99", &FlowMetrics::a99, false},
    {"density", &FlowMetrics::density, true}};

std::vector<FlowField> Fields(FlowTask task) {
  if (task == FlowTask::Flow) return {std::begin(kFlowFields), std::end(kFlowFields)};
  return {std::begin(kSceneFlowFields), std::end(kSceneFlowFields)};
}

std::string JsonFlowRegions(const FlowRegionList& regions, FlowTask task) {
  std::string out = "{";
  for (std::size_t r = 0; r < regions.size(); ++r) {
    out += r ? ", " : "";
    out += JsonString(regions[r].first) + ": {";
    for (const FlowField& f : Fields(task)) out += "\"" + std::string(f.name) + "\": " + JsonNumber(regions[r].second.*f.member) + ", ";
    out += "\"pixels\": " + std::to_string(regions[r].second.pixels);
    if (task == FlowTask::SceneFlow) out += ", \"sfPixels\": " + std::to_string(regions[r].second.sfPixels);
    out += '}';
  }
  return out + "}";
}

const FlowMetrics* FindRegion(const FlowRegionList& regions, const char* name) {
  for (const auto& [n, m] : regions) {
    if (n == name) return &m;
  }
  return nullptr;
}

std::string Cell(const FlowRegionList& regions, const char* name, double FlowMetrics::*member, int decimals,
                 std::size_t width) {
  const FlowMetrics* m = FindRegion(regions, name);
  std::string s = m ? Fixed(m->*member, decimals) : "-";
  s.insert(0, s.size() < width ? width - s.size() : 1, ' ');
  return s;
}

}  // namespace

void PrintFlowTable(const FlowEvalResult& result, std::ostream& out) {
  const bool sceneFlow = result.task == FlowTask::SceneFlow;
  if (sceneFlow) {
    out << "frame   D1-all%  D2-all%  Fl-all%  SF-all%   SF-bg%   SF-fg%      EPE\n";
  } else {
    out << "frame      EPE  EPE-matched  EPE-unmatched  Fl-all%  Fl-noc%   Fl-bg%   Fl-fg%      A90  density%\n";
  }
  for (const FlowFrameResult& f : result.frames) {
    std::string name = FrameNumber(f.frame);
    name.insert(0, name.size() < 5 ? 5 - name.size() : 0, ' ');
    if (!f.error.empty()) {
      out << name << "  not evaluated: " << f.error << "\n";
      continue;
    }
    const FlowRegionList& r = f.regions;
    if (sceneFlow) {
      out << name << Cell(r, "all", &FlowMetrics::d1, 2, 10) << Cell(r, "all", &FlowMetrics::d2, 2, 9)
          << Cell(r, "all", &FlowMetrics::fl, 2, 9) << Cell(r, "all", &FlowMetrics::sf, 2, 9)
          << Cell(r, "bg", &FlowMetrics::sf, 2, 9) << Cell(r, "fg", &FlowMetrics::sf, 2, 9)
          << Cell(r, "all", &FlowMetrics::epe, 3, 9) << "\n";
    } else {
      out << name << Cell(r, "all", &FlowMetrics::epe, 3, 9) << Cell(r, "nonoccluded", &FlowMetrics::epe, 3, 13)
          << Cell(r, "occluded", &FlowMetrics::epe, 3, 15) << Cell(r, "all", &FlowMetrics::fl, 2, 9)
          << Cell(r, "nonoccluded", &FlowMetrics::fl, 2, 9) << Cell(r, "bg", &FlowMetrics::fl, 2, 9)
          << Cell(r, "fg", &FlowMetrics::fl, 2, 9) << Cell(r, "all", &FlowMetrics::a90, 3, 9)
          << Cell(r, "all", &FlowMetrics::density, 2, 10) << "\n";
    }
  }
  out << "\nsequence total\nregion      ";
  for (const FlowField& f : Fields(result.task)) {
    std::string head = f.name;
    for (char& c : head) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    if (f.percent) head += "%";
    head.insert(0, head.size() < 10 ? 10 - head.size() : 1, ' ');
    out << head;
  }
  out << "      pixels\n";
  for (const auto& [name, m] : result.total) {
    std::string label = name;
    label.resize(std::max<std::size_t>(label.size(), 12), ' ');
    out << label;
    for (const FlowField& f : Fields(result.task)) {
      std::string s = Fixed(m.*f.member, f.percent ? 2 : 3);
      s.insert(0, s.size() < 10 ? 10 - s.size() : 1, ' ');
      out << s;
    }
    std::string pixels = std::to_string(m.pixels);
    pixels.insert(0, pixels.size() < 12 ? 12 - pixels.size() : 1, ' ');
    out << pixels << "\n";
  }
  for (const std::string& n : result.notes) out << "note: " << n << "\n";
}

std::string FlowToJson(const FlowEvalResult& result) {
  std::string out = "{\"task\": ";
  out += result.task == FlowTask::Flow ? "\"flow\"" : "\"sceneflow\"";
  out += ", \"frames\": [";
  for (std::size_t i = 0; i < result.frames.size(); ++i) {
    const FlowFrameResult& f = result.frames[i];
    out += i ? ",\n  {\"frame\": " : "\n  {\"frame\": ";
    out += std::to_string(f.frame);
    out += f.error.empty() ? ", \"regions\": " + JsonFlowRegions(f.regions, result.task) : ", \"error\": " + JsonString(f.error);
    out += '}';
  }
  out += "],\n \"total\": {\"regions\": " + JsonFlowRegions(result.total, result.task) + "},\n \"notes\": [";
  for (std::size_t i = 0; i < result.notes.size(); ++i) out += (i ? ", " : "") + JsonString(result.notes[i]);
  return out + "]}\n";
}

std::string FlowToCsv(const FlowEvalResult& result) {
  std::string out = "frame,region";
  for (const FlowField& f : Fields(result.task)) out += std::string(",") + f.name;
  out += result.task == FlowTask::SceneFlow ? ",pixels,sfPixels\n" : ",pixels\n";
  const auto rows = [&](const std::string& frame, const FlowRegionList& regions) {
    for (const auto& [name, m] : regions) {
      out += frame + "," + name;
      for (const FlowField& f : Fields(result.task)) out += "," + JsonNumber(m.*f.member);
      out += "," + std::to_string(m.pixels);
      if (result.task == FlowTask::SceneFlow) out += "," + std::to_string(m.sfPixels);
      out += '\n';
    }
  };
  for (const FlowFrameResult& f : result.frames) {
    if (f.error.empty()) rows(std::to_string(f.frame), f.regions);
  }
  rows("total", result.total);
  return out;
}

}  // namespace tovimar::eval
