// Time per generated frame of a scene (default: the example scene) in
// generation mode at 512x384 and 1024x768, split into drawing, read-backs,
// camera image, disparity, segmentation and file writing, and the process's
// peak memory. Usage: bench_frame [--runs N] [--out DIR] [SCENE]
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "render/settings.h"
#include "render/viewer.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"
#include "sequence/ground_truth.h"
#include "sequence/viewer_frame_source.h"
#include "sequence/sequence_driver.h"

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

long PeakKiB() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

int Bench(const std::vector<std::string>& lines, int width, int height, int runs, const std::string& out) {
  PlainSettings settings;
  settings.outputFolder = out;
  PlainEditor editor;
  editor.lines = lines;
  QuietNotifier notifier;
  Viewer viewer(settings, editor, notifier, '.', width, height);
  if (!viewer.Initialise()) {
    std::fprintf(stderr, "bench_frame: no OpenGL context\n");
    return 1;
  }
  viewer.ResetViewAndDraw();
  ViewerFrameSource source(viewer, settings);
  CaptureTimings warm, timings;
  source.Buffers().timings = &warm;
  // Errors end the run and are reported below (without this hook they would
  // escape the driver as exceptions).
  SequenceHooks hooks;
  hooks.showError = [](const std::string&) {};
  SequenceDriver driver(source, hooks);
  if (!driver.Run()) {  // warm-up run: first texture uploads, page cache, allocations
    std::fprintf(stderr, "bench_frame: %s\n", driver.LastError().c_str());
    return 1;
  }
  source.Buffers().timings = &timings;
  double total = 0;
  double preparation = 0;
  for (int r = 0; r < runs; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    driver.StartStop();
    const auto t1 = std::chrono::steady_clock::now();
    driver.RunToEnd();
    const auto t2 = std::chrono::steady_clock::now();
    preparation += std::chrono::duration<double>(t1 - t0).count();
    total += std::chrono::duration<double>(t2 - t1).count();
    if (!driver.LastError().empty()) {
      std::fprintf(stderr, "bench_frame: %s\n", driver.LastError().c_str());
      return 1;
    }
  }
  const int n = timings.frames;
  const CaptureTimings& t = timings;
  const double accounted = t.drawing + t.readBack + t.cameraImage + t.disparity + t.segmentationDrawing +
                           t.segmentationReadBack + t.segmentationCompare + t.fileWriting;
  std::printf("%dx%d, %d frames (%d runs), ms per frame:\n", width, height, n, runs);
  std::printf("  drawing (2 passes)        %s\n", Ms(t.drawing, n).c_str());
  std::printf("  read-backs (colour+depth) %s\n", Ms(t.readBack, n).c_str());
  std::printf("  camera image (noise)      %s\n", Ms(t.cameraImage, n).c_str());
  std::printf("  disparity (maps, array)   %s\n", Ms(t.disparity, n).c_str());
  std::printf("  segmentation drawing      %s\n", Ms(t.segmentationDrawing, n).c_str());
  std::printf("  segmentation read-backs   %s\n", Ms(t.segmentationReadBack, n).c_str());
  std::printf("  segmentation compare      %s\n", Ms(t.segmentationCompare, n).c_str());
  std::printf("  file writing (5 files)    %s\n", Ms(t.fileWriting, n).c_str());
  std::printf("  other (driver, naming)    %s\n", Ms(total - accounted, n).c_str());
  std::printf("  total per frame           %s\n", Ms(total, n).c_str());
  std::printf("  run preparation           %s ms per run\n", Ms(preparation, runs).c_str());
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
