// bench_eval: time to evaluate 100 frames at 512x384 (ground truth with
// masks and segmentation, PFM predictions), with the ground-truth disparity
// as PFM and as disparity text. Prints figures only.
#include <time.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "base/stopwatch.h"
#include "eval/evaluate.h"
#include "io/bmp.h"
#include "io/file.h"
#include "io/pfm.h"
#include "io/png.h"
#include "layout/file_names.h"

namespace fs = std::filesystem;
using namespace tovimar;

namespace {

constexpr int kW = 512, kH = 384, kFrames = 100;

void WriteDat(const std::string& path, const std::vector<float>& v) {
  std::string text = std::to_string(kW) + "\r\n" + std::to_string(kH) + "\r\n";
  char buf[40];
  for (float f : v) {
    // Doubles of the kind the renderer writes: 17-18 significant digits.
    const double d = static_cast<double>(f) + 1e-9;
    text.append(buf, std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 18).ptr);
    text += "\r\n";
  }
  text += "\r\n";
  WriteWholeFile(path, text.data(), text.size());
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Wall-clock and CPU seconds of one evaluation (the CPU figure is the one to
// compare on a busy machine).
std::pair<double, double> Seconds(const std::string& gt, const std::string& pred) {
  const tovimar::Stopwatch clock;
  const double cpu = CpuSeconds();
  const eval::EvalResult r = eval::Evaluate(eval::Dataset::Open(gt, eval::Camera::Left), pred, eval::EvalOptions{});
  const double s = clock.Seconds();
  if (!r.AllRead() || r.total.empty()) std::printf("evaluation failed\n");
  return {s, CpuSeconds() - cpu};
}

}  // namespace

int main() {
  std::string root = (fs::temp_directory_path() / "tovimar-bench-eval-XXXXXX").string();
  if (mkdtemp(root.data()) == nullptr) return 1;
  const std::string pfmGt = root + "/pfm", datGt = root + "/dat", pred = root + "/pred";
  for (const std::string& d : {pfmGt, datGt, pred}) fs::create_directory(d);
  std::vector<float> truth(kW * kH), prediction(kW * kH);
  std::vector<uint8_t> mask(kW * kH), seg(kW * kH * 3);
  for (int k = 0; k < kFrames; ++k) {
    const std::string n = FrameNumber(k);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * kW + static_cast<std::size_t>(x);
        const bool object = (x - 200 - k) * (x - 200 - k) + (y - 190) * (y - 190) < 80 * 80;
        truth[i] = object ? 20.0f + 0.01f * static_cast<float>(x) : 1.37f;
        prediction[i] = (x * 7 + y * 13 + k) % 50 == 0 ? std::numeric_limits<float>::quiet_NaN() : truth[i] + static_cast<float>((x + y) % 9) * 0.2f;
        mask[i] = x < 20 ? 0 : (object && x > 270 + k) ? 128 : 255;
        seg[3 * i] = seg[3 * i + 1] = seg[3 * i + 2] = object ? 4 : (y > 300 ? 9 : 255);
      }
    }
    WritePfm(pfmGt + "/ldisp_" + n + ".pfm", truth.data(), kW, kH);
    WriteDat(datGt + "/lbindisp_" + n + ".dat", truth);
    for (const std::string& d : {pfmGt, datGt}) {
      WritePng8(d + "/lmask_" + n + ".png", mask.data(), kW, kH, 1);
      WriteBmp24(d + "/seg_l_" + n + ".bmp", seg.data(), kW, kH);
    }
    WritePfm(pred + "/pred_" + n + ".pfm", prediction.data(), kW, kH);
  }
  std::printf("evaluate %d frames at %dx%d (regions all, nonoccluded, occluded, 2 objects)\n", kFrames, kW, kH);
  // The second of two runs, with the files in the page cache.
  Seconds(pfmGt, pred);
  const auto pfm = Seconds(pfmGt, pred);
  std::printf("  ground truth as PFM:            %.3f s (CPU %.3f s)\n", pfm.first, pfm.second);
  Seconds(datGt, pred);
  const auto dat = Seconds(datGt, pred);
  std::printf("  ground truth as disparity text: %.3f s (CPU %.3f s)\n", dat.first, dat.second);
  fs::remove_all(root);
  return 0;
}
