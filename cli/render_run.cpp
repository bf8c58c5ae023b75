#include "cli/render_run.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "avi/avi_export.h"
#include "avi/avi_writer.h"
#include "io/atomic_file.h"
#include "io/folder_lock.h"
#include "base/number_text.h"
#include "io/text.h"
#include "cli/reports.h"
#include "scene/scene_dump.h"
#include "scene/scene_text.h"
#include "dataset/output_files.h"
#include "run/run_session.h"

namespace tovimar::cli {

namespace {

// The signal of the first stop request (0: none).
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal) {
  // The second request ends the process at once.
  if (g_stopSignal.load() != 0) ::_exit(128 + signal);
  g_stopSignal.store(signal);
}


using Clock = std::chrono::steady_clock;

// Progress of one run on stderr: a redrawn bar on a terminal, plain lines
// otherwise.
class Progress {
 public:
  Progress(std::FILE* err, bool quiet) : err_(err), quiet_(quiet), tty_(isatty(fileno(err)) != 0) {}

  void Begin(const std::string& label, int frames) {
    label_ = label;
    total_ = frames;
    start_ = Clock::now();
    lastDraw_ = start_ - std::chrono::seconds(1);
    shown_ = false;
  }

  void Frame(int done) {
    if (quiet_) return;
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const std::string rate = seconds > 0 ? Fixed(done / seconds, 1) + " frames/s" : "";
    if (!tty_) {
      Print(err_, label_ + ": frame " + std::to_string(done) + "/" + std::to_string(total_) + "\n");
      return;
    }
    if (done < total_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    constexpr int kWidth = 30;
    const int filled = total_ > 0 ? static_cast<int>(static_cast<long long>(done) * kWidth / total_) : kWidth;
    std::string bar = "\r" + label_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kWidth - filled), ' ') + "] " +
                      std::to_string(done) + "/" + std::to_string(total_) + " frames  " + rate + "   ";
    Print(err_, bar);
    shown_ = true;
  }

  void End() {
    if (shown_ && tty_) Print(err_, "\n");
    shown_ = false;
  }

 private:
  std::FILE* err_;
  bool quiet_;
  bool tty_;
  std::string label_;
  int total_ = 0;
  Clock::time_point start_, lastDraw_;
  bool shown_ = false;
};

// The first path from `path` upward that exists ("." for a relative path
// with no existing part).
std::filesystem::path NearestExisting(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path p = path;
  while (!p.empty() && !fs::exists(fs::symlink_status(p, ec))) p = p.parent_path();
  return p.empty() ? fs::path(".") : p;
}

// Checks, before anything is created, that the output root and the sequence
// folder can be used: each either exists as a writable folder or can be made
// inside one. The message names the path that is wrong.
bool CheckOutputPaths(const CliOptions& o, std::FILE* err) {
  namespace fs = std::filesystem;
  const fs::path root = o.outputFolder.empty() ? fs::path(".") : fs::path(o.outputFolder);
  std::string sequence = SequenceDirectory(o, o.sequenceNumber);
  while (sequence.size() > 1 && sequence.back() == '/') sequence.pop_back();
  std::error_code ec;
  for (const fs::path& wanted : {root, fs::path(sequence)}) {
    const fs::path existing = NearestExisting(wanted);
    if (!fs::is_directory(existing, ec)) {
      PrintError(err, existing == wanted ? "'" + wanted.string() + "' exists and is not a folder"
                                         : "cannot make the output folder '" + wanted.string() + "': '" +
                                               existing.string() + "' is not a folder");
      return false;
    }
    if (access(existing.c_str(), W_OK | X_OK) != 0) {
      PrintError(err, "the folder '" + existing.string() + "' is not writable" +
                          (existing == wanted ? "" : " (needed for '" + wanted.string() + "')"));
      return false;
    }
  }
  return true;
}

// Makes the output root (with its parents) once the scene is ready; the
// sequence folder is made with the first frame.
bool MakeOutputRoot(const CliOptions& o, std::FILE* err) {
  namespace fs = std::filesystem;
  const std::string root = o.outputFolder.empty() ? std::string(".") : o.outputFolder;
  std::error_code ec;
  if (fs::is_directory(root, ec)) return true;
  fs::create_directories(root, ec);
  if (ec) {
    PrintError(err, "cannot create the output folder '" + root + "': " + ec.message());
    return false;
  }
  return true;
}

// What a command-line run shares between its steps.
struct RenderSession {
  RenderSession(const CliOptions& options, std::FILE* errStream)
      : o(options), err(errStream), notifier(errStream), lineNotifier(errStream),
        progress(errStream, options.quiet), runs(options.ToRunOptions(), notifier) {
    lineNotifier.Begin(options.scenePath);
    runs.SetLineNotifier(&lineNotifier);
  }

  const CliOptions& o;
  std::FILE* err;
  StderrNotifier notifier;
  SceneLineNotifier lineNotifier;
  Progress progress;
  RunSession runs;

  std::size_t framesWritten = 0;
  std::size_t filesWritten = 0;
  std::size_t framesMade = 0;
  std::vector<std::pair<bool, int>> renderedRuns;  // camera (right?), frame count
  std::shared_ptr<FolderLock> lock;               // held from the first run to the AVI export
  double seconds = 0;
  bool interrupted = false;
};

// Reads the scene and checks every input and output path; nothing is
// created. Returns an exit code, or kExitOk to go on.
int CheckInputs(RenderSession& s, std::string& sceneBytes) {
  try {
    sceneBytes = ReadFileBytes(s.o.scenePath);
  } catch (const Error& e) {
    PrintError(s.err, e.message());
    return kExitFailure;
  }
  if (!s.o.textureFolder.empty()) {
    // The renderer falls back to the bundled textures when a folder has no
    // tex0.bmp; a folder named on the command line must have its own.
    std::error_code ec;
    const std::string first = s.o.textureFolder + "/tex0.bmp";
    if (!std::filesystem::is_regular_file(first, ec)) {
      PrintError(s.err, "the texture folder '" + s.o.textureFolder + "' has no tex0.bmp");
      return kExitFailure;
    }
  }
  if (!s.o.preview && !CheckOutputPaths(s.o, s.err)) return kExitFailure;
  return kExitOk;
}

// The scene prepared in a renderer in its starting state.
int OpenScene(RenderSession& s, const std::string& sceneBytes) {
  std::string commandLine = "tovimar-render";
  for (const std::string& a : s.o.arguments) commandLine += " " + a;
  SceneInput scene;
  scene.name = s.o.scenePath;
  scene.bytes = sceneBytes;
  scene.directory = SequenceDirectory(s.o, s.o.sequenceNumber);
  scene.sequenceNumber = s.o.sequenceNumber;
  scene.invocation = {{"program", "tovimar-render"}, {"commandLine", commandLine}};
  if (const std::string why = s.runs.Open(scene); !why.empty()) {
    PrintError(s.err, why);
    return kExitFailure;
  }
  return kExitOk;
}

// One run of one camera.
int RunCamera(RenderSession& s, bool right, bool otherRunFollows) {
  RunObserver observer;
  observer.started = [&s](const CameraRun& run) {
    if (!run.manifestNote.empty())
      Print(s.err, "tovimar-render: note: " + run.manifestNote + "; it is written afresh\n");
    s.progress.Begin(run.right ? "right" : "left ", run.frames);
  };
  observer.progress = [&s](int done) { s.progress.Frame(done); };
  const CameraRun run = s.runs.Run(right, observer);
  s.progress.End();
  s.seconds += run.seconds;
  s.framesWritten += run.framesWritten;
  s.filesWritten += run.filesWritten;
  s.framesMade += run.framesMade;
  if (!run.maskNote.empty() && !otherRunFollows)
    Print(s.err, "tovimar-render: note: " + run.maskNote + "\n");
  if (!run.error.empty()) {
    PrintError(s.err, run.error);
    return kExitFailure;
  }
  if (run.stopped) {
    s.interrupted = true;
    if (!run.prepared) return kExitOk;  // stopped during the preparation: nothing was made
  }
  s.renderedRuns.emplace_back(right, run.frames);
  return kExitOk;
}

// L.avi / P.avi of the cameras that were rendered.
int ExportAvis(const RenderSession& s) {
  const std::string directory = SequenceDirectory(s.o, s.o.sequenceNumber);
  if (const std::string why = ExportRunAvis(directory, s.o.outputs, s.renderedRuns, s.o.quiet, s.err); !why.empty()) {
    PrintError(s.err, why);
    return kExitFailure;
  }
  return kExitOk;
}

// --clean: removes the camera's files of earlier runs (every frame, and the
// AVI made of them) before it runs.
bool CleanCamera(const RenderSession& s, bool right) {
  const std::string directory = SequenceDirectory(s.o, s.o.sequenceNumber);
  std::size_t removed = 0;
  try {
    removed = RemoveCameraRunFiles(directory, right);
  } catch (const Error& e) {
    PrintError(s.err, "--clean: " + e.message());
    return false;
  }
  if (!s.o.quiet && removed > 0)
    Print(s.err, "removed " + std::to_string(removed) + " files of earlier " + (right ? "right" : "left") +
                     " runs from " + EscapeForMessage(directory) + "\n");
  return true;
}

// After the runs: says when the folder still holds frames of a longer
// earlier run of the same camera.
void ReportFilesOfOtherRuns(const RenderSession& s) {
  const std::string directory = SequenceDirectory(s.o, s.o.sequenceNumber);
  for (const auto& [right, frames] : s.renderedRuns) {
    const std::size_t n = CameraRunFiles(directory, right, frames).size();
    if (n == 0) continue;
    Print(s.err, "tovimar-render: note: " + EscapeForMessage(directory) + " also holds " + std::to_string(n) +
                     " files of earlier " + (right ? "right" : "left") + " runs (frames from " +
                     FrameNumber(frames) + " on, or unfinished files); --clean removes them before a run\n");
  }
}

void PrintSummary(const RenderSession& s) {
  const double perFrame = s.framesMade ? s.seconds * 1000.0 / static_cast<double>(s.framesMade) : 0.0;
  std::string summary;
  if (s.o.preview) {
    summary = "previewed " + std::to_string(s.framesMade) + " frames, nothing written";
  } else {
    const std::string directory = SequenceDirectory(s.o, s.o.sequenceNumber);
    summary = "wrote " + CountOf(s.framesWritten, "frame") + " (" +
              CountOf(s.filesWritten, "file") + ") to " + EscapeForMessage(directory);
    // The frames of the scene-flow layout go into the tree beside the sequence folder.
    if (s.o.outputs.layout == DatasetLayout::SceneFlow)
      summary += " and the scene-flow tree's " + SceneFlowSplitOf(directory) + "/" + SceneFlowScene(directory) +
                 " folders in " + EscapeForMessage(SequenceRoot(directory)) + "/";
  }
  summary += ", " + Fixed(perFrame, 1) + " ms per frame";
  if (s.interrupted) summary += " (interrupted)";
  Print(s.err, summary + "\n");
}

}  // namespace

std::string ExportRunAvis(const std::string& directory, const OutputChoice& outputs,
                          const std::vector<std::pair<bool, int>>& runs, bool quiet, std::FILE* err) {
  const std::string wav = InspectFile(kSoundFileName) != FileKind::Missing ? kSoundFileName : "";
  if (!wav.empty()) {
    // Checked before any AVI is made: a sound track no player can read
    // would spoil the whole file.
    if (const std::string why = CheckWaveFile(wav); !why.empty())
      return std::string(kSoundFileName) + " cannot be used as the sound track: " + why;
  }
  for (const auto& [right, frames] : runs) {
    const AviExportSummary summary =
        ExportAvi(directory, right, StoredCameraImages(directory, outputs, right, frames), wav);
    if (!summary.opened || summary.noImages) return summary.writeError;
    if (!summary.writeError.empty())
      return "cannot write " + summary.writeError + " (no AVI was written; an earlier one is left as it was)";
    if (!quiet) {
      std::string skipped;
      auto add = [&skipped](int n, const char* what) {
        if (n > 0) skipped += ", " + std::to_string(n) + " " + what;
      };
      add(summary.framesMissing, "missing");
      add(summary.framesUnreadable, "unreadable");
      add(summary.framesOtherSize, "of another size");
      Print(err, "wrote " + EscapeForMessage(summary.aviPath) + " (" + std::to_string(summary.framesWritten) +
                     " frames" + skipped + (summary.audioAdded ? ", with wav.wav" : "") + ")\n");
    }
  }
  return {};
}

bool StopSignalled() { return g_stopSignal.load() != 0; }
int InterruptedExitCode() { return 128 + g_stopSignal.load(); }

void InstallStopSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking call returns, so a stop is never stuck in it
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
}

int RunRender(const CliOptions& o, std::FILE* err) {
  try {
    o.Check();
  } catch (const UsageError& e) {
    PrintError(err, e.what());
    return kExitUsage;
  }
  RenderSession session(o, err);
  std::string sceneBytes;
  if (const int code = CheckInputs(session, sceneBytes); code != kExitOk) return code;
  if (const int code = OpenScene(session, sceneBytes); code != kExitOk) return code;
  if (StopSignalled()) return InterruptedExitCode();  // stopped while preparing: nothing written
  session.runs.SetStopCheck([] { return StopSignalled(); });
  if (o.avi && o.preview) Print(err, "tovimar-render: note: --preview writes nothing, so no AVI is made\n");
  if (!o.preview && session.runs.FrameCount() == 0) {
    // As a batch says of such a scene: nothing would be written but the
    // sequence's own files.
    PrintError(err, "the scene " + EscapeForMessage(o.scenePath) + " has no EGO lines, so it has no frames to render");
    return kExitFailure;
  }
  if (!o.preview && !MakeOutputRoot(o, err)) return kExitFailure;

  const std::vector<bool> cameras = CamerasOf(o.camera);
  if (!o.preview) {
    // One lock for all the runs and the export: a left and a right run of
    // one command are one use of the folder.
    const std::string directory = SequenceDirectory(o, o.sequenceNumber);
    CreateOutputDirectory(directory);
    std::string refusal;
    session.lock = FolderLock::Acquire(directory, &refusal);
    if (!refusal.empty()) {
      PrintError(err, refusal);
      return kExitFailure;
    }
    // Checked before --clean, which would take the other folder's files.
    if (const std::string clash = SceneFlowSceneClash(directory, o.outputs.layout == DatasetLayout::SceneFlow);
        !clash.empty()) {
      PrintError(err, clash);
      return kExitFailure;
    }
    if (o.clean) {
      for (bool right : cameras)
        if (!CleanCamera(session, right)) return kExitFailure;
    }
  }
  for (bool right : cameras) {
    const bool otherRunFollows = right != cameras.back();
    if (const int code = RunCamera(session, right, otherRunFollows); code != kExitOk) return code;
    if (session.interrupted) break;
  }

  if (o.avi && !o.preview && !session.interrupted) {
    if (const int code = ExportAvis(session); code != kExitOk) return code;
  }
  if (!o.preview) ReportFilesOfOtherRuns(session);
  if (!o.quiet) PrintSummary(session);
  return session.interrupted ? InterruptedExitCode() : kExitOk;
}

}  // namespace tovimar::cli
