#include "cli/render_run.h"

#include <unistd.h>

#include <charconv>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "avi/avi_export.h"
#include "cli/scene_dump.h"
#include "render/settings.h"
#include "render/viewer.h"
#include "scene/assembly.h"
#include "scene/notifier.h"
#include "scene/prefs.h"
#include "scene/scene_text.h"
#include "sequence/output_files.h"
#include "sequence/sequence_driver.h"

namespace tovimar::cli {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void OnStopSignal(int) { g_stopSignal = 1; }

using Clock = std::chrono::steady_clock;

std::string Fixed(double v, int decimals) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return res.ec == std::errc() ? std::string(buf, res.ptr) : std::string("?");
}

void Print(std::FILE* err, const std::string& text) {
  std::fputs(text.c_str(), err);
  std::fflush(err);
}

void PrintError(std::FILE* err, const std::string& message) {
  Print(err, "tovimar-render: " + message + "\n");
}

// Reports that are not tied to a scene line ("Blad" set-up messages, ...).
class StderrNotifier : public Notifier {
 public:
  explicit StderrNotifier(std::FILE* err) : err_(err) {}
  void Notify(const std::string& caption, const std::string& text) override {
    PrintError(err_, caption.empty() ? text : caption + ": " + text);
  }

 private:
  std::FILE* err_;
};

// Conversion errors of the scene, as "scene.txt:12: Convert error: ...". A
// report repeated by a later run's preparation is printed once.
class SceneLineNotifier : public LineNotifier {
 public:
  SceneLineNotifier(std::FILE* err, std::string sceneName) : err_(err), scene_(std::move(sceneName)) {}
  void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) override {
    if (!seen_.emplace(lineNumber, text).second) return;
    std::string line = scene_ + ":" + std::to_string(lineNumber) + ": ";
    if (!caption.empty()) line += caption + ": ";
    Print(err_, line + text + "\n");
  }

 private:
  std::FILE* err_;
  std::string scene_;
  std::set<std::pair<int, std::string>> seen_;
};

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

// The output root must be a writable folder before the first frame; a
// missing root is created with its parents (the run itself creates only the
// sequence folder, one level, per frame).
bool CheckOutputRoot(const CliOptions& o, std::FILE* err) {
  namespace fs = std::filesystem;
  const std::string root = o.outputFolder.empty() ? std::string(".") : o.outputFolder;
  std::error_code ec;
  if (!fs::exists(root, ec)) {
    fs::create_directories(root, ec);
    if (ec) {
      PrintError(err, "cannot create the output folder '" + root + "': " + ec.message());
      return false;
    }
  }
  if (!fs::is_directory(root, ec)) {
    PrintError(err, "the output folder '" + root + "' is not a folder");
    return false;
  }
  if (access(root.c_str(), W_OK | X_OK) != 0) {
    PrintError(err, "the output folder '" + root + "' is not writable");
    return false;
  }
  const std::string dir = OutputDirectory(o.outputFolder, o.sequenceNumber);
  if (fs::exists(dir, ec)) {
    if (!fs::is_directory(dir, ec)) {
      PrintError(err, "'" + dir + "' exists and is not a folder");
      return false;
    }
    if (access(dir.c_str(), W_OK | X_OK) != 0) {
      PrintError(err, "the output folder '" + dir + "' is not writable");
      return false;
    }
  }
  return true;
}

}  // namespace

void InstallStopSignalHandlers() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

int RunRender(const CliOptions& o, std::FILE* err) {
  // The editor's fields are checked before anything is done.
  try {
    // A focal length that is not positive is refused here, before the
    // output root is made.
    (void)EditorPrefs(o.focalText, o.baselineText, '.');
  } catch (const Error& e) {
    PrintError(err, e.message());
    return kExitUsage;
  }
  std::string bytes;
  try {
    bytes = ReadFileBytes(o.scenePath);
  } catch (const Error& e) {
    PrintError(err, e.message());
    return kExitFailure;
  }
  if (!o.textureFolder.empty()) {
    // The renderer falls back to the bundled textures when a folder has no
    // tex0.bmp; a folder named on the command line must have its own.
    std::error_code ec;
    const std::string first = o.textureFolder + "/tex0.bmp";
    if (!std::filesystem::is_regular_file(first, ec)) {
      PrintError(err, "the texture folder '" + o.textureFolder + "' has no tex0.bmp");
      return kExitFailure;
    }
  }
  if (!o.preview && !CheckOutputRoot(o, err)) return kExitFailure;

  PlainSettings settings;
  settings.background = o.background;
  settings.antiAlias = o.antiAlias;
  settings.outputFolder = o.outputFolder;
  settings.sequenceNumber = o.sequenceNumber;
  settings.previewOnly = o.preview;
  settings.palette = o.palette;
  PlainEditor editor;
  editor.lines = SplitLines(bytes);
  editor.focalText = o.focalText;
  editor.baselineText = o.baselineText;
  editor.keepLogs = false;

  StderrNotifier notifier(err);
  SceneLineNotifier lineNotifier(err, o.scenePath);
  // The command line reads and writes numbers with a point.
  Viewer viewer(settings, editor, notifier, '.', o.width, o.height);
  viewer.SetLineNotifier(&lineNotifier);
  if (!o.textureFolder.empty()) viewer.Rig().StartDirectory = o.textureFolder;
  if (!viewer.FormCreate()) {
    PrintError(err, "cannot create the OpenGL rendering context");
    return kExitFailure;
  }
  viewer.FormPaint();
  // The desktop steps this mirrors: the editor's "Load" of the scene file
  // (which prepares and draws the scene), the camera radio group, "Start".
  // Every drawing of a plane steps the random state that plane shades and
  // noise come from, so the same steps give the same files byte for byte.
  try {
    viewer.PrepareScene();
  } catch (const Error& e) {
    PrintError(err, e.message());
    return kExitFailure;
  }

  Progress progress(err, o.quiet);
  std::string runError;
  SequenceHooks hooks;
  hooks.setProgressPosition = [&progress](int done) {
    if (done > 0) progress.Frame(done);
  };
  hooks.showError = [&runError](const std::string& message) { runError = message; };
  SequenceDriver driver(viewer, hooks);

  std::vector<bool> cameras;
  if (o.camera != CameraChoice::Right) cameras.push_back(false);
  if (o.camera != CameraChoice::Left) cameras.push_back(true);

  std::size_t framesWritten = 0;
  std::size_t framesMade = 0;
  std::vector<std::pair<bool, int>> renderedRuns;  // camera, frame count
  double seconds = 0;
  bool interrupted = false;
  for (bool right : cameras) {
    if (right != settings.rightCamera) {
      // As the panel's camera radio group does: flip the viewer's camera box,
      // whose handler shifts the projection and redraws.
      settings.rightCamera = right;
      viewer.CameraSwitch(right);
    }
    const auto start = Clock::now();
    driver.StartStop();
    if (driver.GetState() == SequenceDriver::State::Idle) {
      PrintError(err, runError);  // the preparation failed
      return kExitFailure;
    }
    const int frames = static_cast<int>(viewer.Scene().egoFrames.size());
    progress.Begin(right ? "right" : "left ", frames);
    while (driver.TimerEnabled()) {
      if (g_stopSignal && !driver.StopRequested()) driver.StartStop();
      driver.Tick();
    }
    progress.End();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    framesWritten += driver.FramesWritten();
    framesMade += driver.FramesMade();
    if (!runError.empty()) {
      PrintError(err, runError);
      return kExitFailure;
    }
    renderedRuns.emplace_back(right, frames);
    if (g_stopSignal) {
      interrupted = true;
      break;
    }
  }

  const std::string directory = OutputDirectory(o.outputFolder, o.sequenceNumber);
  if (o.avi && !o.preview && !interrupted) {
    std::error_code ec;
    const std::string wav = std::filesystem::is_regular_file("wav.wav", ec) ? "wav.wav" : "";
    for (const auto& [right, frames] : renderedRuns) {
      const AviExportSummary s = ExportAvi(directory, right, frames, wav);
      if (!s.opened) {
        PrintError(err, "cannot create " + s.aviPath);
        return kExitFailure;
      }
      if (!o.quiet) {
        Print(err, "wrote " + s.aviPath + " (" + std::to_string(s.framesWritten) + " frames" +
                       (s.framesSkipped ? ", " + std::to_string(s.framesSkipped) + " missing" : "") +
                       (s.audioAdded ? ", with wav.wav" : "") + ")\n");
      }
    }
  }

  if (!o.quiet) {
    const double perFrame = framesMade ? seconds * 1000.0 / static_cast<double>(framesMade) : 0.0;
    std::string summary;
    if (o.preview) {
      summary = "previewed " + std::to_string(framesMade) + " frames, nothing written";
    } else {
      summary = "wrote " + std::to_string(framesWritten) + " frames (" + std::to_string(framesWritten * 5) +
                " files) to " + directory;
    }
    summary += ", " + Fixed(perFrame, 1) + " ms per frame";
    if (interrupted) summary += " (interrupted)";
    Print(err, summary + "\n");
  }
  return interrupted ? kExitInterrupted : kExitOk;
}

}  // namespace tovimar::cli
