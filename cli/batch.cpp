#include "cli/batch.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <utility>

#include <nlohmann/json.hpp>

#include "cli/render_run.h"
#include "cli/reports.h"
#include "scene/scene_dump.h"
#include "io/file.h"
#include "io/folder_lock.h"
#include "base/number_text.h"
#include "io/text.h"
#include "scene/scene_text.h"
#include "dataset/manifest.h"
#include "dataset/output_files.h"
#include "run/run_session.h"

namespace tovimar::cli {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;


void WriteAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp." + std::to_string(getpid());
  WriteWholeFile(temporary, text.data(), text.size());
  std::error_code ec;
  fs::rename(temporary, path, ec);
  if (ec) {
    fs::remove(temporary, ec);
    throw Error("Cannot create file " + path);
  }
}

// Empties a sequence folder for a new start: only the files runs write go,
// so a folder that is something else too (a named folder that happens to
// hold scenes) keeps its other files.
void ClearSequenceFolder(const std::string& directory) {
  std::error_code ec;
  for (const std::string& path : SequenceRunFiles(directory)) fs::remove(path, ec);
}

struct Failure {
  std::string scene;
  std::string message;
};

// What the scenes of a batch share: one run session (one rendering context).
struct Batch {
  Batch(const CliOptions& options, std::FILE* errStream)
      : o(options), err(errStream), notifier(errStream), lines(errStream), runs(RunOptionsOf(options), notifier) {
    runs.SetLineNotifier(&lines);
    runs.SetStopCheck([] { return StopSignalled(); });
  }
  static RunOptions RunOptionsOf(const CliOptions& o) {
    RunOptions run = o.ToRunOptions();
    run.resume = !o.force;
    return run;
  }

  const CliOptions& o;
  std::FILE* err;
  StderrNotifier notifier;
  SceneLineNotifier lines;
  RunSession runs;
};

// The outcome of one scene.
struct SceneRun {
  std::string error;  // empty: done
  std::size_t frames = 0;
  std::vector<std::pair<bool, int>> cameras;  // right?, frames
  std::vector<std::string> wentOn;             // camera runs that went on from an earlier batch's frames
  std::vector<std::string> notes;              // why records were not gone on from
  bool allComplete = true;                     // every camera run was complete already: nothing made
};

// One scene, with the steps of a single-scene run.
SceneRun RenderScene(Batch& b, const std::string& scene, const std::string& directory, int sequenceNumber) {
  SceneRun run;
  SceneInput input;
  try {
    input.bytes = ReadFileBytes(scene);
  } catch (const Error& e) {
    run.error = e.message();
    return run;
  }
  std::string commandLine = "tovimar-render";
  for (const std::string& a : b.o.arguments) commandLine += " " + a;
  input.name = scene;
  input.directory = directory;
  input.sequenceNumber = sequenceNumber;
  input.invocation = {{"program", "tovimar-render"}, {"commandLine", commandLine}, {"scene", scene}};
  b.lines.Begin(scene);
  if (const std::string why = b.runs.Open(input); !why.empty()) {
    run.error = why;
    return run;
  }
  if (b.runs.FrameCount() == 0) {
    run.error = "the scene has no EGO lines, so it has no frames to render";
    return run;
  }
  for (const bool right : CamerasOf(b.o.camera)) {
    const CameraRun camera = b.runs.Run(right);
    run.frames += b.o.preview ? camera.framesMade : camera.framesWritten;
    if (!camera.error.empty() || !camera.prepared) {
      run.error = camera.error;
      return run;
    }
    const std::string name = right ? "right" : "left";
    if (!camera.manifestNote.empty()) run.notes.push_back(camera.manifestNote);
    if (!camera.resumeNote.empty()) run.notes.push_back(name + " camera made again: " + camera.resumeNote);
    const bool whole = camera.firstFrame >= camera.frames;
    run.allComplete = run.allComplete && whole;
    if (camera.firstFrame > 0) {
      run.wentOn.push_back(name + (whole ? " camera complete"
                                         : " camera went on from frame " + std::to_string(camera.firstFrame)));
    }
    if (StopSignalled()) return run;
    run.cameras.emplace_back(right, camera.frames);
  }
  // A complete sequence whose AVI is missing (its export failed after the
  // frames were recorded complete) gets it now instead of being skipped.
  const bool aviMissing = std::any_of(run.cameras.begin(), run.cameras.end(), [&directory](const auto& camera) {
    return InspectFile(directory + AviFileName(camera.first)) != FileKind::Regular;
  });
  if (b.o.avi && !b.o.preview && (!run.allComplete || aviMissing)) {
    run.error = ExportRunAvis(directory, b.o.outputs, run.cameras, b.o.quiet, b.err);
    run.allComplete = false;
  }
  return run;
}

int ParseShardInt(const std::string& text, const std::string& what) {
  int value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || ptr != text.data() + text.size()) {
    throw UsageError("'" + text + "' is not " + what);
  }
  return value;
}

Shard CheckedShard(int index, int count, const std::string& shown) {
  if (count < 1 || index < 0 || index >= count) {
    throw UsageError(shown + " is not a shard I/N with 0 <= I < N");
  }
  return {index, count};
}

}  // namespace

bool SequenceComplete(const std::string& dir) {
  const std::string path = (fs::path(dir) / kManifestFileName).string();
  if (InspectFile(path) != FileKind::Regular) return false;
  try {
    const nlohmann::json doc = nlohmann::json::parse(ReadFileBytes(path));
    return doc.is_object() && doc.contains("complete") && doc["complete"] == true;
  } catch (const std::exception&) {
    return false;
  }
}

Shard ResolveShard(const std::string& text, const std::function<const char*(const char*)>& getenv) {
  const char* id = getenv("SLURM_ARRAY_TASK_ID");
  const char* count = getenv("SLURM_ARRAY_TASK_COUNT");
  if (text == "slurm" || (text.empty() && id && count)) {
    if (!id || !count) throw UsageError("--shard slurm: SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT are not set");
    const char* min = getenv("SLURM_ARRAY_TASK_MIN");
    const int index = ParseShardInt(id, "an array task id (SLURM_ARRAY_TASK_ID)") -
                      (min ? ParseShardInt(min, "an array task id (SLURM_ARRAY_TASK_MIN)") : 0);
    const int n = ParseShardInt(count, "a task count (SLURM_ARRAY_TASK_COUNT)");
    return CheckedShard(index, n, "the array task " + std::to_string(index) + "/" + std::to_string(n));
  }
  if (text.empty()) return {};
  const std::size_t slash = text.find('/');
  const std::string what = "a shard I/N with 0 <= I < N";
  if (slash == std::string::npos) throw UsageError("'" + text + "' is not " + what);
  const int index = ParseShardInt(text.substr(0, slash), what);
  const int n = ParseShardInt(text.substr(slash + 1), what);
  return CheckedShard(index, n, "'" + text + "'");
}

std::vector<std::string> CollectScenes(const CliOptions& o) {
  std::vector<std::string> scenes;
  for (const std::string& arg : o.scenePaths) {
    std::error_code ec;
    if (!fs::is_directory(arg, ec)) {
      scenes.push_back(arg);
      continue;
    }
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(arg, ec)) {
      if (entry.path().extension() == ".txt" && entry.is_regular_file(ec)) found.push_back(entry.path().string());
    }
    if (ec) throw Error("cannot read the folder '" + arg + "': " + ec.message());
    if (found.empty()) throw Error("the folder '" + arg + "' holds no .txt scene files");
    std::sort(found.begin(), found.end());
    scenes.insert(scenes.end(), found.begin(), found.end());
  }
  if (!o.listFile.empty()) {
    std::string bytes;
    try {
      bytes = ReadFileBytes(o.listFile);
    } catch (const Error& e) {
      throw Error("cannot read the scene list: " + e.message());
    }
    // A UTF-8 byte order mark (an editor's) is not part of the first path.
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
    for (std::string line : SplitLines(bytes)) {
      while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      scenes.push_back(line);
    }
  }
  return scenes;
}

std::string BatchSequenceDirectory(const CliOptions& o, const std::string& scene, std::size_t k) {
  if (!o.nameByScene) {
    return SequenceDirectory(o, o.sequenceNumber + static_cast<int>(k));
  }
  std::string dir = o.outputFolder;
  if (!dir.empty() && dir.back() != '/') dir += '/';
  // A sequence folder is a child of the output root: a scene named "..txt"
  // or "...txt" must not make the root or its parent one.
  const std::string name = fs::path(scene).stem().string();
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    throw UsageError("--name-by-scene: the scene '" + EscapeForMessage(scene) + "' gives no folder name ('" +
                     EscapeForMessage(name) + "')");
  }
  if (o.outputs.layout == DatasetLayout::SceneFlow && name.find('@') != std::string::npos) {
    throw UsageError("--name-by-scene: the scene '" + EscapeForMessage(scene) +
                     "' has an '@' in its name, which the sceneflow layout keeps for its split folders");
  }
  return SequenceDirectory(o, dir + name + "/");
}

namespace {

// What a batch did, for its summary and batch.json.
struct BatchTally {
  std::vector<Failure> failures;
  std::size_t mine = 0, rendered = 0, skipped = 0, frames = 0;
  bool interrupted = false;
  double seconds = 0;
};

// Why the batch's scenes cannot be run as asked (an empty message when they
// can), with the exit code: sequence numbers out of range, or named folders
// that two scenes would share.
struct Refusal {
  std::string message;
  int code = kExitOk;
};

Refusal CheckSequenceFolders(const CliOptions& o, const std::vector<std::string>& scenes) {
  if (!o.nameByScene && static_cast<long long>(o.sequenceNumber) + static_cast<long long>(scenes.size()) - 1 >
                            2147483647LL) {
    return {"--seq: the sequence numbers of " + std::to_string(scenes.size()) + " scenes pass 2147483647",
            kExitUsage};
  }
  if (!o.nameByScene) return {};
  std::set<std::string> names, sceneFolders;
  for (std::size_t k = 0; k < scenes.size(); ++k) {
    std::string dir;
    try {
      dir = BatchSequenceDirectory(o, scenes[k], k);
    } catch (const UsageError& e) {
      return {e.what(), kExitUsage};
    }
    if (!names.insert(dir).second)
      return {"--name-by-scene: two scenes would share the folder " + dir + " ('" + scenes[k] + "')", kExitUsage};
    if (o.outputs.layout == DatasetLayout::SceneFlow && !sceneFolders.insert(SceneFlowScene(dir)).second) {
      return {"--name-by-scene: two scenes would share the scene-flow tree's scene folder " + SceneFlowScene(dir) +
                  " ('" + scenes[k] + "'; a number is written with four digits there)",
              kExitUsage};
    }
  }
  return {};
}

// The sequence folder made and locked for a scene's runs (the lock held until
// its last file and manifest are written: nothing in a folder that another
// run writes is touched, not even by --force), and emptied when the sequence
// starts afresh. Null, with `refusal` saying why, when it cannot be used.
std::shared_ptr<FolderLock> OpenSequenceFolder(const CliOptions& o, const std::string& directory,
                                               const std::string& label, std::FILE* err, std::string& refusal) {
  std::shared_ptr<FolderLock> lock;
  try {
    CreateOutputDirectory(directory);
    lock = FolderLock::Acquire(directory, &refusal);
  } catch (const Error& e) {
    refusal = e.message();
  }
  if (!lock) return nullptr;
  // Checked before the folder is emptied, which would take the other folder's files.
  refusal = SceneFlowSceneClash(directory, o.outputs.layout == DatasetLayout::SceneFlow);
  if (!refusal.empty()) return nullptr;
  const SequenceManifest manifest(directory);
  if (!manifest.ReadProblem().empty())
    Print(err, label + ": note: " + manifest.ReadProblem() + "; the sequence starts afresh\n");
  if (o.force || !manifest.HasAnyFrame()) {
    // A forced sequence, or one with no complete frame to go on from,
    // starts again without its old files; otherwise the run goes on from
    // the frames its manifest lists as complete. A complete sequence is
    // not made again when its record is of the same runs.
    ClearSequenceFolder(directory);
  }
  return lock;
}

// Runs the batch's scenes of this shard, reporting each on `err`.
BatchTally RunScenes(const CliOptions& o, const std::vector<std::string>& scenes, const Shard& shard,
                     std::FILE* err) {
  Batch batch(o, err);
  BatchTally t;
  auto failed = [&t, err](const std::string& scene, const std::string& label, const std::string& message) {
    t.failures.push_back({scene, message});
    Print(err, label + ": failed: " + message + "\n");
  };
  const auto start = Clock::now();
  for (std::size_t k = 0; k < scenes.size(); ++k) {
    if (static_cast<int>(k % static_cast<std::size_t>(shard.count)) != shard.index) continue;
    ++t.mine;
    const std::string& scene = scenes[k];
    const std::string directory = BatchSequenceDirectory(o, scene, k);
    // Control characters of a scene's name (a line break, CR) are shown escaped, one report a line.
    const std::string label =
        "[" + std::to_string(k + 1) + "/" + std::to_string(scenes.size()) + "] " + EscapeForMessage(scene);
    std::shared_ptr<FolderLock> lock;
    std::error_code ec;
    const bool newFolder = !o.preview && !fs::exists(directory, ec);
    if (!o.preview) {
      std::string refusal;
      lock = OpenSequenceFolder(o, directory, label, err, refusal);
      if (!lock) {
        failed(scene, label, refusal);
        continue;
      }
    }
    const auto sceneStart = Clock::now();
    const SceneRun run = RenderScene(batch, scene, directory, o.sequenceNumber + static_cast<int>(k));
    t.frames += run.frames;
    const double seconds = std::chrono::duration<double>(Clock::now() - sceneStart).count();
    if (!run.error.empty()) {
      failed(scene, label, run.error);
      lock.reset();
      if (newFolder) fs::remove(directory, ec);  // the folder made for it, when it stayed empty
      if (batch.runs.ContextLost()) break;  // nothing more can be drawn
      continue;
    }
    if (StopSignalled()) {
      t.interrupted = true;
      break;
    }
    // The runs' manifest (meta.json, kept by the frame source) marks the
    // sequence complete once every planned camera run has ended at its last
    // frame; a later batch skips it then.
    if (!o.preview && !SequenceComplete(directory)) {
      failed(scene, label, "the manifest " + directory + "meta.json does not record the sequence as complete");
      continue;
    }
    for (const std::string& note : run.notes) Print(err, label + ": note: " + note + "\n");
    if (!o.preview && run.allComplete) {
      // Every camera run's record is of this scene and these settings and
      // complete with its files.
      ++t.skipped;
      if (!o.quiet) Print(err, label + ": " + EscapeForMessage(directory) + " is complete, skipped\n");
      continue;
    }
    ++t.rendered;
    if (!o.quiet) {
      std::string wentOn;
      for (const std::string& note : run.wentOn) wentOn += (wentOn.empty() ? " (" : "; ") + note;
      Print(err, label + " -> " + (o.preview ? std::string("preview") : EscapeForMessage(directory)) + ": " +
                     std::to_string(run.frames) + " frames, " + Fixed(seconds, 2) + " s" +
                     (wentOn.empty() ? "" : wentOn + ")") + "\n");
    }
  }
  t.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return t;
}

double FramesPerSecond(const BatchTally& t) {
  return t.seconds > 0 ? static_cast<double>(t.frames) / t.seconds : 0.0;
}

std::string SummaryText(const BatchTally& t, const Shard& shard) {
  std::string summary = "batch: " + CountOf(t.mine, "scene");
  if (shard.count > 1) summary += " (shard " + std::to_string(shard.index) + "/" + std::to_string(shard.count) + ")";
  summary += ", " + std::to_string(t.rendered) + " rendered, " + std::to_string(t.skipped) + " skipped, " +
             std::to_string(t.failures.size()) + " failed; " + CountOf(t.frames, "frame") + " in " +
             Fixed(t.seconds, 2) + " s, " + Fixed(FramesPerSecond(t), 2) + " frames/s" +
             (t.interrupted ? " (interrupted)" : "") + "\n";
  for (const Failure& f : t.failures) summary += "  failed: " + EscapeForMessage(f.scene) + ": " + f.message + "\n";
  return summary;
}

std::string SummaryJson(const BatchTally& t, const Shard& shard) {
  std::string json = "{\n  \"scenes\": " + std::to_string(t.mine) + ",\n  \"rendered\": " +
                     std::to_string(t.rendered) + ",\n  \"skipped\": " + std::to_string(t.skipped) +
                     ",\n  \"failed\": " + std::to_string(t.failures.size()) + ",\n  \"frames\": " +
                     std::to_string(t.frames) + ",\n  \"seconds\": " + Fixed(t.seconds, 3) +
                     ",\n  \"framesPerSecond\": " + Fixed(FramesPerSecond(t), 3) + ",\n  \"interrupted\": " +
                     (t.interrupted ? "true" : "false") + ",\n  \"shard\": {\"index\": " +
                     std::to_string(shard.index) + ", \"count\": " + std::to_string(shard.count) +
                     "},\n  \"failures\": [";
  for (std::size_t i = 0; i < t.failures.size(); ++i) {
    json += std::string(i ? "," : "") + "\n    {\"scene\": " + JsonString(t.failures[i].scene) +
            ", \"message\": " + JsonString(t.failures[i].message) + "}";
  }
  json += t.failures.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return json;
}

// batch.json, or the shard's own; a scene-flow split other than TRAIN/A
// keeps a summary of its own, named as its sequence folders are
// ("TEST@A@batch.json"), so that the batches of two splits into one root
// keep both.
std::string SummaryName(const CliOptions& o, const Shard& shard) {
  std::string name = "batch.json";
  if (shard.count > 1)
    name = "batch.shard-" + std::to_string(shard.index) + "-of-" + std::to_string(shard.count) + ".json";
  if (o.outputs.layout == DatasetLayout::SceneFlow && o.outputs.split != kDefaultSceneFlowSplit) {
    std::string split = o.outputs.split;
    std::replace(split.begin(), split.end(), '/', '@');
    name = split + "@" + name;
  }
  return name;
}

}  // namespace

int RunBatch(const CliOptions& o, std::FILE* err) {
  auto fail = [err](const std::string& message, int code) {
    Print(err, "tovimar-render: " + message + "\n");
    return code;
  };
  try {
    o.Check();
  } catch (const UsageError& e) {
    return fail(e.what(), kExitUsage);
  }
  Shard shard;
  try {
    shard = ResolveShard(o.shardText, [](const char* name) { return std::getenv(name); });
  } catch (const UsageError& e) {
    return fail(std::string("--shard: ") + e.what(), kExitUsage);
  }
  std::vector<std::string> scenes;
  try {
    scenes = CollectScenes(o);
  } catch (const Error& e) {
    return fail(e.message(), kExitFailure);
  }
  if (scenes.empty()) return fail("the batch has no scenes", kExitFailure);
  if (const Refusal refusal = CheckSequenceFolders(o, scenes); !refusal.message.empty())
    return fail(refusal.message, refusal.code);
  if (!o.textureFolder.empty()) {
    std::error_code ec;
    if (!fs::is_regular_file(o.textureFolder + "/tex0.bmp", ec)) {
      return fail("the texture folder '" + o.textureFolder + "' has no tex0.bmp", kExitFailure);
    }
  }
  const std::string root = o.outputFolder.empty() ? std::string(".") : o.outputFolder;
  if (!o.preview) {
    std::error_code ec;
    fs::create_directories(root, ec);
    if (!fs::is_directory(root, ec) || access(root.c_str(), W_OK | X_OK) != 0) {
      return fail("cannot use the output folder '" + root + "'", kExitFailure);
    }
  }

  const BatchTally t = RunScenes(o, scenes, shard, err);
  if (!o.quiet || !t.failures.empty()) Print(err, SummaryText(t, shard));
  if (!o.preview) {
    try {
      WriteAtomically((fs::path(root) / SummaryName(o, shard)).string(), SummaryJson(t, shard));
    } catch (const Error& e) {
      return fail(e.message(), kExitFailure);
    }
  }
  if (t.interrupted) return InterruptedExitCode();
  return t.failures.empty() ? kExitOk : kExitFailure;
}

}  // namespace tovimar::cli
