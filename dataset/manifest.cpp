#include "dataset/manifest.h"

#include <algorithm>
#include <filesystem>
#include <charconv>
#include <cctype>
#include <cmath>
#include <string_view>
#include <nlohmann/json.hpp>

#include "base/error.h"
#include "io/bmp.h"
#include "io/bytes.h"
#include "io/file.h"
#include "base/number_text.h"
#include "io/sha256.h"
#include "render/camera.h"
#include "render/painter.h"
#include "truth/frame_truth.h"

#ifndef TOVIMAR_VERSION
#define TOVIMAR_VERSION "unknown"
#endif

namespace tovimar {
namespace {

using Json = nlohmann::ordered_json;

const char* CameraKey(bool right) { return right ? "right" : "left"; }

// Seconds between frames in KITTI's times.txt: the period of the AVI files
// the export makes (avi/avi_export.cpp, two frames a second).
constexpr double kFrameSeconds = 0.5;


// The models as meta.json lists them (none: no "models").
Json ModelsJson(const std::vector<ModelRecord>& models) {
  Json list = Json::array();
  for (const ModelRecord& m : models) list.push_back({{"path", m.path}, {"file", m.file}, {"sha256", m.sha256}});
  return list;
}

bool SameModels(const Json& doc, const RunDescription& run) {
  return doc.value("models", Json::array()) == ModelsJson(run.models);
}

bool SamePair(const Json& a, const RunDescription& run) {
  return a.value("sceneSha256", "") == run.sceneSha256 && SameModels(a, run) && a.value("width", 0) == run.width &&
         a.value("height", 0) == run.height && a.value("focalLength", 0.0) == run.focalLength &&
         a.value("baseline", 0.0) == run.baseline;
}

Json RenderingJson(const RunDescription& run) {
  return {{"background", run.background},
          {"antiAlias", run.antiAlias},
          {"palette", run.palette},
          {"roundSolidMesh", {{"slices", kRoundSolidSlices}, {"stacks", kRoundSolidStacks}}},
          {"textureFolder", run.textureFolder},
          {"texturesSha256", run.texturesSha256}};
}

// What differs between a camera's record in `doc` and the run `run`
// describes, of what decides its files' bytes ("" when nothing does).
std::string RunDifference(const Json& doc, const Json& record, const RunDescription& run) {
  if (doc.value("sceneSha256", "") != run.sceneSha256) return "the scene";
  if (!SameModels(doc, run)) return "a model file";
  if (doc.value("width", 0) != run.width || doc.value("height", 0) != run.height) return "the size";
  if (doc.value("focalLength", 0.0) != run.focalLength) return "the focal length";
  if (doc.value("baseline", 0.0) != run.baseline) return "the baseline";
  if (!record.is_object()) return "the record";
  if (record.value("outputs", "") != OutputListText(run.outputs)) return "the outputs";
  if (record.value("layout", "") != LayoutName(run.outputs.layout)) return "the layout";
  if (run.outputs.layout == DatasetLayout::SceneFlow && record.value("split", "") != run.outputs.split)
    return "the split";
  if (record.value("noiseSigma", -1.0) != run.noiseSigma) return "the noise";
  // Field by field: a record whose keys were reordered is the same.
  const Json& rendering = record.contains("rendering") ? record["rendering"] : Json();
  if (!rendering.is_object() || rendering.value("background", Json()) != Json(run.background) ||
      rendering.value("antiAlias", !run.antiAlias) != run.antiAlias ||
      rendering.value("palette", !run.palette) != run.palette)
    return "the background, antialiasing or palette";
  // Records written before textures were recorded are taken as of the same ones.
  if (rendering.contains("texturesSha256") && rendering["texturesSha256"] != Json(run.texturesSha256))
    return "the texture set";
  return "";
}

// A camera's record in `doc` is of the run `run` describes: what decides its
// files' bytes agrees.
bool SameRun(const Json& doc, const Json& record, const RunDescription& run) {
  return RunDifference(doc, record, run).empty();
}

// ---- checking a manifest read from disk: it is untrusted input, so every
// field that is used is checked for its type before anything reads it.

bool IsCount(const Json& j, int64_t largest) {
  return j.is_number_integer() && j.get<int64_t>() >= 0 && j.get<int64_t>() <= largest;
}

bool IsRandomState(const Json& j) {
  return j.is_object() && j.contains("low") && j.contains("high") && IsCount(j["low"], UINT32_MAX) &&
         IsCount(j["high"], UINT32_MAX);
}

// A file name relative to the sequence folder that stays inside it.
bool IsFolderFile(const Json& j) {
  if (!j.is_string()) return false;
  // The scene-flow layout's files are in the tree beside the folder.
  const std::string& whole = j.get_ref<const std::string&>();
  const std::string name = InSceneFlowTree(whole) ? whole.substr(3) : whole;
  if (name.empty() || name.front() == '/' || name.find('\0') != std::string::npos) return false;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = name.find('/', start);
    const std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

bool IsNumberArray(const Json& j, std::size_t size) {
  if (!j.is_array() || j.size() != size) return false;
  return std::all_of(j.begin(), j.end(), [](const Json& v) { return v.is_number(); });
}

bool IsCountObject(const Json& j) {
  return j.is_object() && std::all_of(j.begin(), j.end(), [](const Json& v) { return v.is_number_integer(); });
}

// "" when `frame` is a frame record as BeginRun and AddFrame write it.
std::string FrameProblem(const Json& f) {
  if (!f.is_object()) return "is not an object";
  if (!f.contains("frame") || !IsCount(f["frame"], INT32_MAX)) return "has no frame number";
  if (!f.contains("pose") || !IsNumberArray(f["pose"], 16)) return "has no pose of 16 numbers";
  if (!f.contains("files") || !f["files"].is_array() ||
      !std::all_of(f["files"].begin(), f["files"].end(), IsFolderFile))
    return "has no list of file names inside the folder";
  if (f.contains("seconds") && !f["seconds"].is_number()) return "has a wall time that is not a number";
  if (f.contains("disparityRange") && !IsNumberArray(f["disparityRange"], 2))
    return "has a disparity range that is not two numbers";
  if (!f.contains("randomStateAtStart") || !IsRandomState(f["randomStateAtStart"]) ||
      !f.contains("randomStateAtEnd") || !IsRandomState(f["randomStateAtEnd"]))
    return "has no random states";
  if (f.contains("notFitting") && !IsCountObject(f["notFitting"])) return "has counts that are not integers";
  if (f.contains("randomCheck") && !f["randomCheck"].is_string()) return "has a random state check that is not text";
  return "";
}

// "" when `doc` is a manifest as this program writes it, else what is wrong.
std::string ManifestProblem(const Json& doc) {
  if (!doc.is_object()) return "it is not a JSON object";
  for (const char* key : {"width", "height"})
    if (!doc.contains(key) || !IsCount(doc[key], INT32_MAX)) return std::string("\"") + key + "\" is not a size";
  for (const char* key : {"focalLength", "baseline"})
    if (!doc.contains(key) || !doc[key].is_number()) return std::string("\"") + key + "\" is not a number";
  if (!doc.contains("sceneSha256") || !doc["sceneSha256"].is_string()) return "\"sceneSha256\" is not a string";
  if (doc.contains("plannedCameras") && !doc["plannedCameras"].is_string()) return "\"plannedCameras\" is not a string";
  if (doc.contains("models") &&
      (!doc["models"].is_array() || !std::all_of(doc["models"].begin(), doc["models"].end(), [](const Json& m) {
        return m.is_object() && m.size() == 3 && m.contains("path") && m["path"].is_string() &&
               m.contains("file") && m["file"].is_string() && m.contains("sha256") && m["sha256"].is_string();
      })))
    return "\"models\" is not a list of model files";
  if (!doc.contains("intrinsics") || !doc["intrinsics"].is_object()) return "\"intrinsics\" is not an object";
  for (const char* key : {"fx", "fy", "cx", "cy"})
    if (!doc["intrinsics"].contains(key) || !doc["intrinsics"][key].is_number())
      return std::string("\"intrinsics\" has no number \"") + key + "\"";
  if (doc.contains("notFitting") && !IsCountObject(doc["notFitting"]))
    return "\"notFitting\" holds other than integers";
  if (!doc.contains("runs") || !doc["runs"].is_object()) return "\"runs\" is not an object";
  for (const auto& [camera, run] : doc["runs"].items()) {
    if (camera != "left" && camera != "right") return "\"runs\" has a run of no camera (\"" + camera + "\")";
    const std::string where = "the " + camera + " camera's run ";
    if (!run.is_object()) return where + "is not an object";
    for (const char* key : {"outputs", "layout"})
      if (!run.contains(key) || !run[key].is_string()) return where + "has no \"" + key + "\"";
    if (!run.contains("noiseSigma") || !run["noiseSigma"].is_number()) return where + "has no noise";
    if (!run.contains("rendering") || !run["rendering"].is_object() ||
        !(run["rendering"].contains("background") && IsNumberArray(run["rendering"]["background"], 3)) ||
        !(run["rendering"].contains("antiAlias") && run["rendering"]["antiAlias"].is_boolean()) ||
        !(run["rendering"].contains("palette") && run["rendering"]["palette"].is_boolean()) ||
        (run["rendering"].contains("texturesSha256") && !run["rendering"]["texturesSha256"].is_string()))
      return where + "has no rendering settings";
    if (!run.contains("randomStateAtStart") || !IsRandomState(run["randomStateAtStart"]))
      return where + "has no random state at its start";
    if (!run.contains("complete") || !run["complete"].is_boolean()) return where + "has no \"complete\" flag";
    if (run.contains("continuedAtFrame") && !IsCount(run["continuedAtFrame"], INT32_MAX))
      return where + "has a \"continuedAtFrame\" that is not a frame number";
    if (!run.contains("frames") || !run["frames"].is_array()) return where + "has no list of frames";
    for (const Json& f : run["frames"]) {
      const std::string problem = FrameProblem(f);
      if (!problem.empty()) return where + "has a frame that " + problem;
    }
  }
  return "";
}

Json RandomJson(const RandomState& r) { return {{"low", r.low}, {"high", r.high}}; }

// A check of a frame's random states, recorded with them: a state edited
// by hand or damaged no longer matches it, and the frame is made again.
// True when the file at path is a regular file that holds as many bytes as
// its own header says (PFM, BMP, .flo), ends as its format ends (PNG's IEND
// chunk, the disparity text's closing empty line), or is of another kind: a
// frame file cut short since it was recorded is not taken as done.
bool FileLooksWhole(const std::string& path) {
  ReadOnlyFile file;
  if (!file.Open(path).empty()) return false;
  const uint64_t size = file.Size();
  constexpr uint64_t kMaxSide = 1u << 20;  // keeps the products below from overflowing
  const std::string extension = std::filesystem::path(path).extension().string();
  auto endsWith = [&](std::string_view tail) {
    std::string last(tail.size(), '\0');
    return size >= tail.size() && file.ReadAt(size - tail.size(), last.data(), tail.size()) && last == tail;
  };
  if (extension == ".png") return endsWith(std::string_view("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
  if (extension == ".dat") return endsWith("\r\n\r\n");
  if (extension == ".bmp") {
    uint8_t head[256];
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(size, sizeof head));
    BmpLayout layout;
    return file.ReadAt(0, head, n) && ParseBmpLayout(head, n, size, layout).empty();
  }
  if (extension == ".flo") {
    uint8_t head[12];
    if (!file.ReadAt(0, head, sizeof head)) return false;
    const uint64_t w = io::Le32(head + 4), h = io::Le32(head + 8);
    return w <= kMaxSide && h <= kMaxSide && size == 12 + w * h * 8;
  }
  if (extension == ".pfm") {
    // "PF" or "Pf", width, height and scale, each ended by one white-space character.
    char head[128];
    const std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(size, sizeof head));
    if (!file.ReadAt(0, head, n) || n < 3 || head[0] != 'P' || (head[1] != 'F' && head[1] != 'f')) return false;
    uint64_t fields[2] = {0, 0};
    std::size_t at = 2;
    for (int field = 0; field < 3; ++field) {
      while (at < n && std::isspace(static_cast<unsigned char>(head[at]))) ++at;
      const std::size_t start = at;
      while (at < n && !std::isspace(static_cast<unsigned char>(head[at]))) ++at;
      if (at == start || at == n) return false;
      if (field < 2 && std::from_chars(head + start, head + at, fields[field]).ptr != head + at) return false;
    }
    if (fields[0] > kMaxSide || fields[1] > kMaxSide) return false;
    const uint64_t channels = head[1] == 'F' ? 3 : 1;
    return size == at + 1 + fields[0] * fields[1] * channels * 4;
  }
  return true;
}

std::string RandomCheck(int64_t frame, const Json& atStart, const Json& atEnd) {
  std::string text = std::to_string(frame);
  for (const Json* state : {&atStart, &atEnd})
    text += " " + std::to_string(state->at("low").get<uint32_t>()) + " " +
            std::to_string(state->at("high").get<uint32_t>());
  return Sha256Hex(text).substr(0, 16);
}

RandomState RandomOf(const Json& j) {
  RandomState r;
  r.low = j.at("low").get<uint32_t>();
  r.high = j.at("high").get<uint32_t>();
  return r;
}

// Reads and checks a manifest: "" when doc holds it, else why not.
std::string ReadManifest(const std::string& path, Json& doc) {
  ReadOnlyFile file;
  if (const std::string why = file.Open(path); !why.empty()) return "it " + why;
  if (file.Size() > SequenceManifest::kMaxFileBytes)
    return "it holds " + std::to_string(file.Size()) + " bytes, more than a manifest may (" +
           std::to_string(SequenceManifest::kMaxFileBytes) + ")";
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  if (!file.ReadAt(0, bytes.data(), bytes.size())) return "it cannot be read";
  doc = Json::parse(bytes, nullptr, false);
  if (doc.is_discarded()) return "it is not valid JSON";
  return ManifestProblem(doc);
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
  const std::string path = directory_ + kFileName;
  if (InspectFile(path) == FileKind::Missing) return;
  Json doc;
  const std::string problem = ReadManifest(path, doc);
  if (problem.empty()) {
    data_->doc = std::move(doc);
  } else {
    readProblem_ = std::string(kFileName) + " is not used: " + problem;
  }
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
  if (!run.models.empty()) fresh["models"] = ModelsJson(run.models);
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
       "the shared random state starts afresh for every scene in tovimar-render and the Python module and goes on "
       "from the process's earlier runs in the desktop program; recorded at the start of each run and before and "
       "after each frame; tovimar-render --random-state LOW,HIGH makes a run again from its randomStateAtStart"}};
  fresh["maskTolerance"] = kMaskTolerance;
  fresh["notFitting"] = Json::object();
  fresh["runs"] = Json::object();
  if (keepOther.is_object()) fresh["runs"][other] = keepOther;
  Json r = Json::object();
  r["outputs"] = OutputListText(run.outputs);
  r["layout"] = LayoutName(run.outputs.layout);
  if (run.outputs.layout == DatasetLayout::SceneFlow) r["split"] = run.outputs.split;
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

bool SequenceManifest::RecordReplacedBy(bool right, const RunDescription& run) const {
  const Json& doc = data_->doc;
  const char* key = CameraKey(right);
  if (!doc.contains("runs") || !doc["runs"].contains(key)) return false;
  return right == run.rightCamera ? !SameRun(doc, doc["runs"][key], run) : !SamePair(doc, run);
}

ResumePoint SequenceManifest::ResumePointOf(const RunDescription& run, int32_t frameCount) const {
  const Json& doc = data_->doc;
  const char* own = CameraKey(run.rightCamera);
  ResumePoint point;
  if (frameCount <= 0 || !doc.contains("runs") || !doc["runs"].contains(own)) return point;
  const Json& record = doc["runs"][own];
  if (const std::string differs = RunDifference(doc, record, run); !differs.empty()) {
    point.note = differs + " differs from the record";
    return point;
  }
  if (!record.contains("frames") || !record["frames"].is_array()) return point;
  try {
    // The complete frames from the first on: listed in order, with their
    // random states and every file they list.
    // A frame's random states must match their recorded check.
    std::vector<const Json*> frames;
    for (const Json& f : record["frames"]) {
      if (f.value("frame", -1) != static_cast<int32_t>(frames.size()) || !f.contains("randomStateAtEnd") ||
          !f.contains("pose") || !f.contains("files")) {
        break;
      }
      const std::string check = RandomCheck(f["frame"].get<int64_t>(), f["randomStateAtStart"], f["randomStateAtEnd"]);
      if (f.value("randomCheck", "") != check) break;
      bool filesThere = true;
      for (const Json& name : f["files"])
        filesThere = filesThere && FileLooksWhole(directory_ + name.get<std::string>());
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
    if (first <= 0) {
      if (!record["frames"].empty()) point.note = "no frame from the first on is complete with its files";
      return point;
    }
    const Json& before = *frames[static_cast<std::size_t>(first - 1)];
    point.random = RandomOf(before.at("randomStateAtEnd"));
    for (int32_t f = 0; f < first; ++f) {
      const std::vector<double> recorded = frames[static_cast<std::size_t>(f)]->at("pose").get<std::vector<double>>();
      if (recorded.size() != Mat4{}.size()) return ResumePoint{};
      std::copy(recorded.begin(), recorded.end(), point.posesBefore.emplace_back().begin());
    }
    point.kind = ResumePoint::Kind::Continue;
    point.frame = first;
  } catch (const Json::exception&) {
    point = ResumePoint{};  // a record that is not as written: start afresh
    point.note = "the record cannot be read";
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
  f["randomCheck"] = RandomCheck(record.frame, f["randomStateAtStart"], f["randomStateAtEnd"]);
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
    // A file made again (the masks of a frame at every run of the other
    // camera) is listed once.
    Json& listed = (*f)["files"];
    for (const std::string& name : files)
      if (std::find(listed.begin(), listed.end(), name) == listed.end()) listed.push_back(name);
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

std::optional<OutputChoice> SequenceManifest::RecordedOutputs(bool right) const {
  const Json& doc = data_->doc;
  if (!doc.contains("runs") || !doc["runs"].contains(CameraKey(right))) return std::nullopt;
  const Json& run = doc["runs"][CameraKey(right)];
  try {
    OutputChoice outputs = ParseOutputList(run.value("outputs", std::string()));
    outputs.layout = ParseLayout(run.value("layout", std::string()));
    if (outputs.layout == DatasetLayout::SceneFlow)
      outputs.split = ParseSplit(run.value("split", std::string(kDefaultSceneFlowSplit)));
    return outputs;
  } catch (const Error&) {
    return std::nullopt;
  }
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
                                        double vmin, double vmax, bool middEval3) {
  const std::string camera = "[" + Shortest(k.fx) + " 0 " + Shortest(k.cx) + "; 0 " + Shortest(k.fy) + " " +
                             Shortest(k.cy) + "; 0 0 1]";
  const std::string head = "cam0=" + camera + "\ncam1=" + camera + "\ndoffs=0\nbaseline=" + Shortest(baseline) +
                           "\nwidth=" + std::to_string(width) + "\nheight=" + std::to_string(height) +
                           "\nndisp=" + std::to_string(ndisp);
  if (middEval3) {
    return head + "\nisint=0\nvmin=" + Shortest(std::floor(vmin)) + "\nvmax=" + Shortest(std::ceil(vmax)) +
           "\ndyavg=0\ndymax=0\n";
  }
  return head + "\nvmin=" + Shortest(vmin) + "\nvmax=" + Shortest(vmax) + "\n";
}

std::string SequenceManifest::KittiCamToCamText(const Intrinsics& k, double baseline, int width, int height) {
  const std::string size = Shortest(width) + " " + Shortest(height);
  const std::string kMatrix =
      Shortest(k.fx) + " 0 " + Shortest(k.cx) + " 0 " + Shortest(k.fy) + " " + Shortest(k.cy) + " 0 0 1";
  std::string text;
  for (const char* camera : {"00", "01", "02", "03"}) {
    const bool right = camera[1] == '1' || camera[1] == '3';
    const std::string c(camera);
    text += "S_" + c + ": " + size + "\n";
    text += "K_" + c + ": " + kMatrix + "\n";
    text += "D_" + c + ": 0 0 0 0 0\n";
    text += "R_" + c + ": 1 0 0 0 1 0 0 0 1\n";
    text += "T_" + c + ": " + (right ? Shortest(-baseline) : std::string("0")) + " 0 0\n";
    text += "S_rect_" + c + ": " + size + "\n";
    text += "R_rect_" + c + ": 1 0 0 0 1 0 0 0 1\n";
    text += "P_rect_" + c + ": " + Shortest(k.fx) + " 0 " + Shortest(k.cx) + " " +
            (right ? Shortest(-k.fx * baseline) : std::string("0")) + " 0 " + Shortest(k.fy) + " " + Shortest(k.cy) +
            " 0 0 0 1 0\n";
  }
  return text;
}

namespace {

constexpr Mat4 kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Mat4 PoseOfRecord(const Json& frame) {
  const std::vector<double> m = frame["pose"].get<std::vector<double>>();
  Mat4 pose{};
  std::copy_n(m.begin(), std::min<std::size_t>(16, m.size()), pose.begin());
  return pose;
}

// The first left camera's camera-to-world pose, which the pose files are
// relative to: the left run's first frame, or the right run's first frame
// moved back by the baseline along its own x axis when only the right camera
// ran (the identity when no frame is recorded).
Mat4 FirstLeftPose(const Json& runs, double baseline) {
  if (runs.contains("left") && !runs["left"]["frames"].empty()) return PoseOfRecord(runs["left"]["frames"][0]);
  if (runs.contains("right") && !runs["right"]["frames"].empty()) {
    const Mat4 shift{1, 0, 0, -baseline, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    return Multiply(PoseOfRecord(runs["right"]["frames"][0]), shift);
  }
  return kIdentity;
}

}  // namespace

void SequenceManifest::Save() const try {
  const Json& doc = data_->doc;
  const double baseline = doc["baseline"].get<double>();
  // The pose files hold each pose relative to the first left camera, as
  // KITTI's odometry poses (the left file's line 0 exactly the identity).
  const Mat4 toFirst = Inverse(FirstLeftPose(doc["runs"], baseline));
  double vmin = INFINITY, vmax = -INFINITY;
  std::string leftPoses;
  for (const auto& [camera, run] : doc["runs"].items()) {
    std::string poses;
    bool first = camera == "left";
    for (const Json& f : run["frames"]) {
      const Mat4 relative = first ? kIdentity : Multiply(toFirst, PoseOfRecord(f));
      first = false;
      for (std::size_t i = 0; i < 12; ++i) poses += (i ? " " : "") + Shortest(relative[i]);
      poses += "\n";
      if (f.contains("disparityRange")) {
        vmin = std::min(vmin, f["disparityRange"][0].get<double>());
        vmax = std::max(vmax, f["disparityRange"][1].get<double>());
      }
    }
    if (camera == "left") leftPoses = poses;
    WriteWholeFile(directory_ + PosesFileName(camera == "right"), poses.data(), poses.size());
  }
  if (!(vmin <= vmax)) vmin = vmax = 0;
  Intrinsics k;
  const Json& in = doc["intrinsics"];
  k.fx = in["fx"].get<double>();
  k.fy = in["fy"].get<double>();
  k.cx = in["cx"].get<double>();
  k.cy = in["cy"].get<double>();
  const int width = doc["width"].get<int>(), height = doc["height"].get<int>();
  const std::string calib = CalibText(k, baseline, width, height,
                                      DisparityLevels(baseline, doc["focalLength"].get<double>()), vmin, vmax);
  bool kitti = false;
  for (const auto& [camera, run] : doc["runs"].items()) kitti = kitti || run.value("layout", "") == "kitti";
  WriteWholeFile(directory_ + (kitti ? kMiddleburyCalibrationFileName : kCalibrationFileName), calib.data(),
                 calib.size());
  if (kitti) {
    // KITTI's odometry files: the projections of cameras 0 to 3 (0 and 2
    // the left camera, 1 and 3 the right) and Tr (scanner to camera 0, here
    // the identity); the left camera's frame times and its poses relative to
    // its first frame.
    const std::string left = "0 " + Shortest(k.fy) + " " + Shortest(k.cy) + " 0 0 0 1 0\n";
    const std::string p0 = Shortest(k.fx) + " 0 " + Shortest(k.cx) + " 0 " + left;
    const std::string p1 = Shortest(k.fx) + " 0 " + Shortest(k.cx) + " " + Shortest(-k.fx * baseline) + " " + left;
    const std::string odometry =
        "P0: " + p0 + "P1: " + p1 + "P2: " + p0 + "P3: " + p1 + "Tr: 1 0 0 0 0 1 0 0 0 0 1 0\n";
    WriteWholeFile(directory_ + kCalibrationFileName, odometry.data(), odometry.size());
    // The left camera's frame times (the time a frame has in the
    // sequence's AVI, two frames a second) and its poses.
    std::string times;
    if (doc["runs"].contains("left"))
      for (const Json& f : doc["runs"]["left"]["frames"]) times += Shortest(f["frame"].get<double>() * kFrameSeconds) + "\n";
    WriteWholeFile(directory_ + kOdometryTimesFileName, times.data(), times.size());
    WriteWholeFile(directory_ + kOdometryPosesFileName, leftPoses.data(), leftPoses.size());
    // The same, as KITTI's odometry names them, beside its one image per frame.
    for (const char* name : {kOdometrySequenceCalibrationFileName, kOdometrySequencePosesFileName}) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(directory_ + name).parent_path(), ec);
    }
    WriteWholeFile(directory_ + kOdometrySequenceCalibrationFileName, odometry.data(), odometry.size());
    WriteWholeFile(directory_ + kOdometrySequenceTimesFileName, times.data(), times.size());
    WriteWholeFile(directory_ + kOdometrySequencePosesFileName, leftPoses.data(), leftPoses.size());
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
