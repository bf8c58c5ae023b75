// Time per generated frame of a scene (default: the example scene) in
// generation mode at 512x384 and 1024x768, split into drawing, read-backs,
// camera image, disparity, segmentation and file writing, for the reference
// paths and the fast paths side by side, the speed-up, the fast paths with
// each frame's files written behind (as tovimar-render writes them) and the
// process's peak memory. Usage: bench_frame [--runs N] [--out DIR] [SCENE]
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stopwatch.h"
#include "render/settings.h"
#include "render/renderer.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"
#include "truth/ground_truth.h"
#include "run/render_frame_source.h"
#include "run/sequence_driver.h"

namespace {

using namespace tovimar;

struct QuietNotifier : Notifier {
  void Notify(const std::string&, const std::string&) override {}
};

std::string Ms(double seconds, int frames) {
  char buf[32];
  const double ms = frames > 0 ? seconds * 1000.0 / frames : 0.0;
  auto r = std::to_chars(buf, buf + sizeof buf, ms, std::chars_format::fixed, 2);
  std::string s(buf, r.ptr);
  return std::string(s.size() < 9 ? 9 - s.size() : 0, ' ') + s;
}

std::string Fixed2(double v) {
  char buf[32];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2).ptr);
}

// User plus system time of the whole process (all threads, llvmpipe's too).
double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; };
  return seconds(u.ru_utime) + seconds(u.ru_stime);
}

long PeakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Phase times and totals of one path, summed over its runs.
struct PathResult {
  CaptureTimings timings;
  double total = 0;
  double cpu = 0;  // process CPU time of the runs
  double preparation = 0;
  int runs = 0;
};

void PrintRow(const char* name, double reference, double fast, int nr, int nf) {
  std::printf("  %-26s%s%s\n", name, Ms(reference, nr).c_str(), Ms(fast, nf).c_str());
}

// Runs of the reference paths (serial noise, one redraw per id) and of the
// fast paths alternate on one renderer, so both see the same machine load.
int Bench(const std::vector<std::string>& lines, int width, int height, int runs, const std::string& out) {
  PlainSettings settings;
  settings.outputFolder = out;
  PlainEditor editor;
  editor.lines = lines;
  QuietNotifier notifier;
  Renderer renderer(settings, editor, notifier, '.', width, height);
  if (!renderer.Initialise()) {
    std::fprintf(stderr, "bench_frame: no OpenGL context\n");
    return 1;
  }
  renderer.ResetViewAndDraw();
  RenderFrameSource source(renderer, settings);
  CaptureTimings warm;
  source.Buffers().timings = &warm;
  // Errors end the run and are reported below (without this hook they would
  // escape the driver as exceptions).
  SequenceObserver hooks;
  hooks.showError = [](const std::string&) {};
  SequenceDriver driver(source, hooks);
  for (bool reference : {true, false}) {  // warm-up: first texture uploads, page cache, allocations
    source.Buffers().referencePaths = reference;
    if (!driver.Run()) {
      std::fprintf(stderr, "bench_frame: %s\n", driver.LastError().c_str());
      return 1;
    }
  }
  // The fast paths also with each frame's files written on a thread of
  // their own while the next frame is made, as tovimar-render runs.
  PathResult results[3];  // reference, fast, fast with the files written behind
  for (int r = 0; r < 3 * runs; ++r) {
    const int path = r % 3;
    const bool reference = path == 0;
    PathResult& result = results[path];
    source.Buffers().referencePaths = reference;
    source.Buffers().timings = &result.timings;
    source.SetWriteBehind(path == 2);
    tovimar::Stopwatch clock;
    driver.StartStop();
    result.preparation += clock.Lap();
    const double cpu0 = ProcessCpuSeconds();
    driver.RunToEnd();
    result.cpu += ProcessCpuSeconds() - cpu0;
    result.total += clock.Lap();
    ++result.runs;
    if (!driver.LastError().empty()) {
      std::fprintf(stderr, "bench_frame: %s\n", driver.LastError().c_str());
      return 1;
    }
  }
  const CaptureTimings& a = results[0].timings;
  const CaptureTimings& b = results[1].timings;
  const int na = a.frames;
  const int nb = b.frames;
  auto accounted = [](const CaptureTimings& t) {
    return t.drawing + t.readBack + t.cameraImage + t.disparity + t.segmentationDrawing + t.segmentationReadBack +
           t.segmentationCompare + t.fileWriting;
  };
  std::printf("%dx%d, %d + %d frames (%d runs each), ms per frame:\n", width, height, na, nb, runs);
  std::printf("  %-26s%9s%9s\n", "", "reference", "fast");
  PrintRow("drawing (2 passes)", a.drawing, b.drawing, na, nb);
  PrintRow("read-backs (colour+depth)", a.readBack, b.readBack, na, nb);
  PrintRow("camera image (noise)", a.cameraImage, b.cameraImage, na, nb);
  PrintRow("disparity (maps, array)", a.disparity, b.disparity, na, nb);
  PrintRow("segmentation drawing", a.segmentationDrawing, b.segmentationDrawing, na, nb);
  PrintRow("segmentation read-backs", a.segmentationReadBack, b.segmentationReadBack, na, nb);
  PrintRow("segmentation compare", a.segmentationCompare, b.segmentationCompare, na, nb);
  PrintRow("file writing (5 files)", a.fileWriting, b.fileWriting, na, nb);
  PrintRow("other (driver, naming)", results[0].total - accounted(a), results[1].total - accounted(b), na, nb);
  PrintRow("total per frame", results[0].total, results[1].total, na, nb);
  PrintRow("CPU time per frame", results[0].cpu, results[1].cpu, na, nb);
  std::printf("  %-26s%s%s ms per run\n", "run preparation", Ms(results[0].preparation, runs).c_str(),
              Ms(results[1].preparation, runs).c_str());
  const double speedUp = results[1].total > 0 && na > 0 && nb > 0
                             ? (results[0].total / na) / (results[1].total / nb)
                             : 0.0;
  std::printf("  speed-up (reference / fast) %sx; fast frames that fell back to the per-id redraws: %d\n",
              Fixed2(speedUp).c_str(), b.segmentationFallbacks);
  // On a machine shared with other work the wall-clock figures depend on the
  // CPU the process gets; the CPU times show the work done.
  const double cpuRatio = results[1].cpu > 0 && na > 0 && nb > 0 ? (results[0].cpu / na) / (results[1].cpu / nb) : 0.0;
  double load[1] = {0};
  const int gotLoad = getloadavg(load, 1);
  std::printf("  CPU time ratio (reference / fast) %sx; load average (1 min) %s\n", Fixed2(cpuRatio).c_str(),
              gotLoad == 1 ? Fixed2(load[0]).c_str() : "unknown");
  const PathResult& behind = results[2];
  const int nc = behind.timings.frames;
  const double behindSpeedUp = behind.total > 0 && na > 0 && nc > 0 ? (results[0].total / na) / (behind.total / nc) : 0.0;
  std::printf("  fast, files written behind (as tovimar-render): %s ms per frame, CPU %s; speed-up %sx\n",
              Ms(behind.total, nc).c_str(), Ms(behind.cpu, nc).c_str(), Fixed2(behindSpeedUp).c_str());
  std::printf("  peak memory so far        %ld KiB\n\n", PeakKiB());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 4;
  std::string scene = TOVIMAR_EXAMPLE_SCENE;
  std::string out;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--runs" && i + 1 < argc) {
      const std::string v = argv[++i];
      if (std::from_chars(v.data(), v.data() + v.size(), runs).ec != std::errc() || runs < 1) {
        std::fprintf(stderr, "bench_frame: bad --runs\n");
        return 2;
      }
    } else if (a == "--out" && i + 1 < argc) {
      out = argv[++i];
    } else {
      scene = a;
    }
  }
  std::vector<std::string> lines;
  try {
    lines = SplitLines(ReadFileBytes(scene));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_frame: %s\n", e.what());
    return 1;
  }
  bool removeOut = false;
  if (out.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "tovimar-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    out = pattern;
    removeOut = true;
  }
  std::printf("scene %s, output %s\n\n", scene.c_str(), out.c_str());
  int rc = 0;
  for (const auto& [w, h] : {std::pair{512, 384}, std::pair{1024, 768}}) {
    rc = Bench(lines, w, h, runs, out);
    if (rc != 0) break;
  }
  if (removeOut) {
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
  }
  return rc;
}
