#include "sequence/manifest.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>

#include "io/error.h"
#include "io/file.h"
#include "render/camera.h"

#ifndef TOVIMAR_VERSION
#define TOVIMAR_VERSION "unknown"
#endif

namespace tovimar {
namespace {

using Json = nlohmann::ordered_json;

const char* CameraKey(bool right) { return right ? "right" : "left"; }

// Shortest text that reads back to the same double.
std::string Number(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

bool SamePair(const Json& a, const RunDescription& run) {
  return a.value("sceneSha256", "") == run.sceneSha256 && a.value("width", 0) == run.width &&
         a.value("height", 0) == run.height && a.value("focalLength", 0.0) == run.focalLength &&
         a.value("baseline", 0.0) == run.baseline;
}

Json RenderingJson(const RunDescription& run) {
  return {{"background", run.background}, {"antiAlias", run.antiAlias}, {"palette", run.palette}};
}

// A camera's record in `doc` is of the run `run` describes: what decides its
// files' bytes agrees.
bool SameRun(const Json& doc, const Json& record, const RunDescription& run) {
  return SamePair(doc, run) && record.is_object() && record.value("outputs", "") == OutputListText(run.outputs) &&
         record.value("layout", "") == LayoutName(run.outputs.layout) &&
         record.value("noiseSigma", -1.0) == run.noiseSigma && record.contains("rendering") &&
         record["rendering"] == RenderingJson(run);
}

Json RandomJson(const RandomState& r) { return {{"low", r.low}, {"high", r.high}}; }

RandomState RandomOf(const Json& j) {
  RandomState r;
  r.low = j.at("low").get<uint32_t>();
  r.high = j.at("high").get<uint32_t>();
  return r;
}

}  // namespace

// A record that cannot be kept (a value JSON cannot hold, a field of another
// type) is this program's error, naming the file; the JSON library's message
// only follows as the detail.
Error SequenceManifest::RecordError(const std::exception& e) const {
  return Error("Cannot record the run in " + directory_ + kFileName + ": " + e.what());
}

struct SequenceManifest::Data {
  Json doc = Json::object();
};

int DisparityLevels(double baseline, double focalLength) {
  const double bound = std::ceil(std::fabs(baseline * focalLength) / kNearPlane);
  return std::isfinite(bound) && bound < 1e6 ? static_cast<int>(bound) : 0;
}

SequenceManifest::SequenceManifest(std::string directory)
    : directory_(std::move(directory)), data_(std::make_unique<Data>()) {
  ReadOnlyFile file;
  if (!file.Open(directory_ + kFileName).empty()) return;
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) return;
  Json doc = Json::parse(bytes, nullptr, false);
  if (doc.is_object() && doc.contains("runs") && doc["runs"].is_object()) data_->doc = std::move(doc);
}

SequenceManifest::~SequenceManifest() = default;

void SequenceManifest::BeginRun(const RunDescription& run) {
  Json& doc = data_->doc;
  Json keepOther;
  const char* other = CameraKey(!run.rightCamera);
  const char* own = CameraKey(run.rightCamera);
  if (doc.contains("runs") && doc["runs"].contains(other) && SamePair(doc, run)) keepOther = doc["runs"][other];
  // A run that goes on keeps the frames before its first, and the state its
  // first run started from.
  Json keptFrames = Json::array();
  Json keptStart;
  if (run.firstFrame > 0 && doc.contains("runs") && doc["runs"].contains(own) &&
      SameRun(doc, doc["runs"][own], run)) {
    for (const Json& f : doc["runs"][own]["frames"])
      if (f.value("frame", -1) < run.firstFrame) keptFrames.push_back(f);
    keptStart = doc["runs"][own]["randomStateAtStart"];
  }
  Json fresh = Json::object();
  fresh["program"] = "tovimar";
  fresh["version"] = TOVIMAR_VERSION;
  fresh["complete"] = false;
  fresh["plannedCameras"] = run.plannedCameras;
  fresh["scene"] = {{"file", kSceneCopyFileName}};
  fresh["sceneSha256"] = run.sceneSha256;
  fresh["width"] = run.width;
  fresh["height"] = run.height;
  fresh["focalLength"] = run.focalLength;
  fresh["baseline"] = run.baseline;
  fresh["near"] = kNearPlane;
  fresh["far"] = kFarPlane;
  fresh["intrinsics"] = {{"fx", run.intrinsics.fx}, {"fy", run.intrinsics.fy}, {"cx", run.intrinsics.cx},
                         {"cy", run.intrinsics.cy}};
  fresh["conventions"] = {
      {"disparity", "d = B * F / z in pixels, positive for both cameras, F the nominal focal length"},
      {"depth", "z, the distance along the viewing axis, in scene units"},
      {"pixelCentres", "the centre of the top-left pixel is (0, 0); u to the right, v down"},
      {"cameraAxes", "x right, y down, z forward (OpenCV, KITTI)"},
      {"pose",
       "camera-to-world 4x4, row-major, rigid (a rotation and a translation, bottom row 0 0 0 1): the nearest to "
       "the matrix of the renderer's float matrices, which is slightly off rigid and which the flow files are "
       "computed with; K * inverse(pose) * (X, 1) projects world point X"},
      {"rightCamera", "the left camera moved by the baseline along its x axis"},
      {"noGroundTruth",
       "where nothing was drawn: far-plane values in the disparity text and classic PFM files, 0 in masks and "
       "KITTI PNGs, inf in the Middlebury layout"},
      {"randomState",
       "the shared random state starts afresh for every scene; recorded at the start of each run and before and "
       "after each frame"}};
  fresh["maskTolerance"] = kMaskTolerance;
  fresh["notFitting"] = Json::object();
  fresh["runs"] = Json::object();
  if (keepOther.is_object()) fresh["runs"][other] = keepOther;
  Json r = Json::object();
  r["outputs"] = OutputListText(run.outputs);
  r["layout"] = LayoutName(run.outputs.layout);
  Json invocation = Json::object();
  for (const auto& [key, value] : run.invocation) invocation[key] = value;
  r["invocation"] = invocation;
  r["noiseSigma"] = run.noiseSigma;
  r["rendering"] = RenderingJson(run);
  r["randomStateAtStart"] = keptStart.is_object() ? keptStart : RandomJson(run.randomAtStart);
  if (!keptFrames.empty()) r["continuedAtFrame"] = run.firstFrame;
  r["complete"] = false;
  r["frames"] = std::move(keptFrames);
  fresh["runs"][own] = r;
  doc = std::move(fresh);
  RecountNotFitting();
}

ResumePoint SequenceManifest::ResumePointOf(const RunDescription& run, int32_t frameCount) const {
  const Json& doc = data_->doc;
  const char* own = CameraKey(run.rightCamera);
  ResumePoint point;
  if (frameCount <= 0 || !doc.contains("runs") || !doc["runs"].contains(own)) return point;
  const Json& record = doc["runs"][own];
  if (!SameRun(doc, record, run) || !record.contains("frames") || !record["frames"].is_array()) return point;
  try {
    // The complete frames from the first on: listed in order, with their
    // random states and every file they list.
    std::vector<const Json*> frames;
    for (const Json& f : record["frames"]) {
      if (f.value("frame", -1) != static_cast<int32_t>(frames.size()) || !f.contains("randomStateAtEnd") ||
          !f.contains("pose") || !f.contains("files")) {
        break;
      }
      bool filesThere = true;
      for (const Json& name : f["files"])
        filesThere = filesThere && InspectFile(directory_ + name.get<std::string>()) == FileKind::Regular;
      if (!filesThere) break;
      frames.push_back(&f);
    }
    const auto listed = static_cast<int32_t>(frames.size());
    if (record.value("complete", false) && listed == frameCount) {
      point.kind = ResumePoint::Kind::Complete;
      point.frame = frameCount;
      point.random = RandomOf(frames.back()->at("randomStateAtEnd"));
      return point;
    }
    int32_t first = listed;
    if (run.outputs.flow && first > 0) --first;  // its flow waits for the next frame
    first = std::min(first, frameCount - 1);      // the end of the run is recorded by a frame made again
    if (first <= 0) return point;
    const Json& before = *frames[static_cast<std::size_t>(first - 1)];
    point.random = RandomOf(before.at("randomStateAtEnd"));
    const std::vector<double> pose = before.at("pose").get<std::vector<double>>();
    if (pose.size() != point.poseBefore.size()) return point;
    std::copy(pose.begin(), pose.end(), point.poseBefore.begin());
    point.kind = ResumePoint::Kind::Continue;
    point.frame = first;
  } catch (const Json::exception&) {
    point = ResumePoint{};  // a record that is not as written: start afresh
  }
  return point;
}

void SequenceManifest::AddFrame(bool right, const FrameRecord& record) try {
  Json& frames = data_->doc["runs"][CameraKey(right)]["frames"];
  Json f = Json::object();
  f["frame"] = record.frame;
  f["pose"] = NearestRigidMotion(record.cameraToWorld);
  f["files"] = record.files;
  f["seconds"] = record.seconds;
  if (record.minDisparity <= record.maxDisparity) f["disparityRange"] = {record.minDisparity, record.maxDisparity};
  f["randomStateAtStart"] = RandomJson(record.randomAtStart);
  f["randomStateAtEnd"] = RandomJson(record.randomAtEnd);
  frames.push_back(std::move(f));
  CountNotFitting(right, record.frame, "kitti16", record.kitti16NotFitting);
} catch (const Json::exception& e) {
  throw RecordError(e);
}

void SequenceManifest::AddFiles(bool right, int32_t frame, const std::vector<std::string>& files) try {
  Json& runs = data_->doc["runs"];
  if (!runs.contains(CameraKey(right))) return;
  // From the back: the frame is one of the last.
  Json& frames = runs[CameraKey(right)]["frames"];
  for (auto f = frames.rbegin(); f != frames.rend(); ++f) {
    if (f->value("frame", -1) != frame) continue;
    for (const std::string& name : files) (*f)["files"].push_back(name);
    break;
  }
} catch (const Json::exception& e) {
  throw RecordError(e);
}

bool SequenceManifest::HasFrame(bool right, int32_t frame) const {
  const Json& doc = data_->doc;
  if (!doc.contains("runs") || !doc["runs"].contains(CameraKey(right))) return false;
  for (const Json& f : doc["runs"][CameraKey(right)]["frames"])
    if (f.value("frame", -1) == frame) return true;
  return false;
}

int32_t SequenceManifest::ListedFrameCount(bool right) const {
  const Json& doc = data_->doc;
  if (!doc.contains("runs") || !doc["runs"].contains(CameraKey(right))) return -1;
  const Json& run = doc["runs"][CameraKey(right)];
  if (!run.is_object() || !run.contains("frames") || !run["frames"].is_array()) return -1;
  int32_t count = 0;
  for (const Json& f : run["frames"]) {
    if (!f.is_object() || f.value("frame", -1) != count) break;
    ++count;
  }
  return count;
}

bool SequenceManifest::HasAnyFrame() const {
  const Json& doc = data_->doc;
  if (!doc.contains("runs")) return false;
  for (const auto& [camera, run] : doc["runs"].items())
    if (run.is_object() && run.contains("frames") && run["frames"].is_array() && !run["frames"].empty()) return true;
  return false;
}

void SequenceManifest::CountNotFitting(bool right, int32_t frame, const std::string& what, long count) try {
  if (count <= 0) return;
  Json& runs = data_->doc["runs"];
  if (!runs.contains(CameraKey(right))) return;
  Json& frames = runs[CameraKey(right)]["frames"];
  for (auto f = frames.rbegin(); f != frames.rend(); ++f) {
    if (f->value("frame", -1) != frame) continue;
    // A frame's own counts start with its first value that did not fit.
    Json& own = (*f)["notFitting"];
    if (!own.is_object()) own = Json::object();
    own[what] = own.value(what, 0L) + count;
    Json& total = data_->doc["notFitting"];
    if (!total.is_object()) total = Json::object();
    total[what] = total.value(what, 0L) + count;
    break;
  }
} catch (const Json::exception& e) {
  throw RecordError(e);
}

void SequenceManifest::RecountNotFitting() {
  Json& doc = data_->doc;
  Json total = Json::object();
  for (const auto& [camera, run] : doc["runs"].items()) {
    for (const Json& f : run["frames"]) {
      if (!f.contains("notFitting") || !f["notFitting"].is_object()) continue;
      for (const auto& [what, count] : f["notFitting"].items())
        if (count.is_number_integer()) total[what] = total.value(what, 0L) + count.get<long>();
    }
  }
  doc["notFitting"] = std::move(total);
}

void SequenceManifest::SetRunNote(bool right, const std::string& key, const std::string& text) try {
  data_->doc["runs"][CameraKey(right)][key] = text;
} catch (const Json::exception& e) {
  throw RecordError(e);
}

void SequenceManifest::EndRun(bool right, bool complete) try {
  Json& doc = data_->doc;
  doc["runs"][CameraKey(right)]["complete"] = complete;
  doc["complete"] = Complete();
} catch (const Json::exception& e) {
  throw RecordError(e);
}

bool SequenceManifest::Complete() const {
  const Json& doc = data_->doc;
  if (!doc.contains("runs") || doc["runs"].empty()) return false;
  const Json& runs = doc["runs"];
  auto done = [&runs](const char* camera) { return runs.contains(camera) && runs[camera].value("complete", false); };
  const std::string planned = doc.value("plannedCameras", "");
  if (planned == "both") return done("left") && done("right");
  if (planned == "left" || planned == "right") return done(planned.c_str());
  for (const auto& [camera, run] : runs.items())
    if (!run.value("complete", false)) return false;
  return true;
}

std::string SequenceManifest::CalibText(const Intrinsics& k, double baseline, int width, int height, int ndisp,
                                        double vmin, double vmax) {
  const std::string camera = "[" + Number(k.fx) + " 0 " + Number(k.cx) + "; 0 " + Number(k.fy) + " " +
                             Number(k.cy) + "; 0 0 1]";
  return "cam0=" + camera + "\ncam1=" + camera + "\ndoffs=0\nbaseline=" + Number(baseline) +
         "\nwidth=" + std::to_string(width) + "\nheight=" + std::to_string(height) +
         "\nndisp=" + std::to_string(ndisp) + "\nvmin=" + Number(vmin) + "\nvmax=" + Number(vmax) + "\n";
}

void SequenceManifest::Save() const try {
  const Json& doc = data_->doc;
  double vmin = INFINITY, vmax = -INFINITY;
  for (const auto& [camera, run] : doc["runs"].items()) {
    std::string poses;
    for (const Json& f : run["frames"]) {
      const std::vector<double> m = f["pose"].get<std::vector<double>>();
      for (std::size_t i = 0; i < 12 && i < m.size(); ++i) poses += (i ? " " : "") + Number(m[i]);
      poses += "\n";
      if (f.contains("disparityRange")) {
        vmin = std::min(vmin, f["disparityRange"][0].get<double>());
        vmax = std::max(vmax, f["disparityRange"][1].get<double>());
      }
    }
    WriteWholeFile(directory_ + PosesFileName(camera == "right"), poses.data(), poses.size());
  }
  if (!(vmin <= vmax)) vmin = vmax = 0;
  Intrinsics k;
  const Json& in = doc["intrinsics"];
  k.fx = in["fx"].get<double>();
  k.fy = in["fy"].get<double>();
  k.cx = in["cx"].get<double>();
  k.cy = in["cy"].get<double>();
  const double baseline = doc["baseline"].get<double>();
  const int width = doc["width"].get<int>(), height = doc["height"].get<int>();
  const std::string calib = CalibText(k, baseline, width, height,
                                      DisparityLevels(baseline, doc["focalLength"].get<double>()), vmin, vmax);
  WriteWholeFile(directory_ + kCalibrationFileName, calib.data(), calib.size());
  bool kitti = false;
  for (const auto& [camera, run] : doc["runs"].items()) kitti = kitti || run.value("layout", "") == "kitti";
  if (kitti) {
    const std::string row = Number(k.fx) + " 0 " + Number(k.cx) + " ";
    const std::string rest = " 0 " + Number(k.fy) + " " + Number(k.cy) + " 0 0 0 1 0\n";
    const std::string text = "S_rect_02: " + std::to_string(width) + " " + std::to_string(height) + "\nP_rect_02: " +
                             row + "0" + rest + "S_rect_03: " + std::to_string(width) + " " +
                             std::to_string(height) + "\nP_rect_03: " + row + Number(-k.fx * baseline) + rest;
    WriteWholeFile(directory_ + kKittiCalibrationFileName, text.data(), text.size());
  }
  // The manifest last: it lists only what is already on disk.
  SaveProgress();
} catch (const Json::exception& e) {
  throw RecordError(e);
}

void SequenceManifest::SaveProgress() const try {
  const std::string json = data_->doc.dump(1) + "\n";
  WriteWholeFile(directory_ + kFileName, json.data(), json.size());
} catch (const Json::exception& e) {
  throw RecordError(e);
}

}  // namespace tovimar
