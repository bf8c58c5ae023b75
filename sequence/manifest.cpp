#include "sequence/manifest.h"

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

}  // namespace

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
  if (doc.contains("runs") && doc["runs"].contains(other) && SamePair(doc, run)) keepOther = doc["runs"][other];
  Json fresh = Json::object();
  fresh["program"] = "tovimar";
  fresh["version"] = TOVIMAR_VERSION;
  fresh["complete"] = false;
  fresh["plannedCameras"] = run.plannedCameras;
  fresh["scene"] = {{"file", "scene.txt"}};
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
      {"pose", "camera-to-world 4x4, row-major; K * inverse(pose) * (X, 1) projects world point X"},
      {"rightCamera", "the left camera moved by the baseline along its x axis"},
      {"noGroundTruth",
       "where nothing was drawn: far-plane values in the disparity text and classic PFM files, 0 in masks and "
       "KITTI PNGs, inf in the Middlebury layout"},
      {"randomState", "the shared random state starts afresh in every process; recorded at the start of each run"}};
  fresh["maskTolerance"] = kMaskTolerance;
  fresh["notFitting"] = doc.contains("notFitting") && keepOther.is_object() ? doc["notFitting"] : Json::object();
  fresh["runs"] = Json::object();
  if (keepOther.is_object()) fresh["runs"][other] = keepOther;
  Json r = Json::object();
  r["outputs"] = OutputListText(run.outputs);
  r["layout"] = LayoutName(run.outputs.layout);
  Json invocation = Json::object();
  for (const auto& [key, value] : run.invocation) invocation[key] = value;
  r["invocation"] = invocation;
  r["noiseSigma"] = run.noiseSigma;
  r["randomStateAtStart"] = {{"low", run.randomAtStart.low}, {"high", run.randomAtStart.high}};
  r["complete"] = false;
  r["frames"] = Json::array();
  fresh["runs"][CameraKey(run.rightCamera)] = r;
  doc = std::move(fresh);
}

void SequenceManifest::AddFrame(bool right, int32_t frame, const Mat4& cameraToWorld,
                                const std::vector<std::string>& files, double seconds, float minDisparity,
                                float maxDisparity) {
  Json& frames = data_->doc["runs"][CameraKey(right)]["frames"];
  Json f = Json::object();
  f["frame"] = frame;
  f["pose"] = cameraToWorld;
  f["files"] = files;
  f["seconds"] = seconds;
  if (minDisparity <= maxDisparity) f["disparityRange"] = {minDisparity, maxDisparity};
  frames.push_back(std::move(f));
}

void SequenceManifest::AddFiles(bool right, int32_t frame, const std::vector<std::string>& files) {
  Json& runs = data_->doc["runs"];
  if (!runs.contains(CameraKey(right))) return;
  for (Json& f : runs[CameraKey(right)]["frames"]) {
    if (f.value("frame", -1) != frame) continue;
    for (const std::string& name : files) f["files"].push_back(name);
  }
}

bool SequenceManifest::HasFrame(bool right, int32_t frame) const {
  const Json& doc = data_->doc;
  if (!doc.contains("runs") || !doc["runs"].contains(CameraKey(right))) return false;
  for (const Json& f : doc["runs"][CameraKey(right)]["frames"])
    if (f.value("frame", -1) == frame) return true;
  return false;
}

void SequenceManifest::CountNotFitting(const std::string& what, long count) {
  if (count <= 0) return;
  Json& n = data_->doc["notFitting"];
  n[what] = n.value(what, 0L) + count;
}

void SequenceManifest::SetRunNote(bool right, const std::string& key, const std::string& text) {
  data_->doc["runs"][CameraKey(right)][key] = text;
}

void SequenceManifest::EndRun(bool right, bool complete) {
  Json& doc = data_->doc;
  doc["runs"][CameraKey(right)]["complete"] = complete;
  doc["complete"] = Complete();
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

void SequenceManifest::Save() const {
  const Json& doc = data_->doc;
  const std::string json = doc.dump(1) + "\n";
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
    WriteWholeFile(directory_ + "poses_" + camera + ".txt", poses.data(), poses.size());
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
  WriteWholeFile(directory_ + "calib.txt", calib.data(), calib.size());
  bool kitti = false;
  for (const auto& [camera, run] : doc["runs"].items()) kitti = kitti || run.value("layout", "") == "kitti";
  if (kitti) {
    const std::string row = Number(k.fx) + " 0 " + Number(k.cx) + " ";
    const std::string rest = " 0 " + Number(k.fy) + " " + Number(k.cy) + " 0 0 0 1 0\n";
    const std::string text = "S_rect_02: " + std::to_string(width) + " " + std::to_string(height) + "\nP_rect_02: " +
                             row + "0" + rest + "S_rect_03: " + std::to_string(width) + " " +
                             std::to_string(height) + "\nP_rect_03: " + row + Number(-k.fx * baseline) + rest;
    WriteWholeFile(directory_ + "calib_cam_to_cam.txt", text.data(), text.size());
  }
  // The manifest last: it lists only what is already on disk.
  WriteWholeFile(directory_ + kFileName, json.data(), json.size());
}

}  // namespace tovimar
