#pragma once
// Synthetic ground truth and predictions for the evaluation tests (and the
// shared temporary folder).
#include <sys/wait.h>

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/bmp.h"
#include "io/pfm.h"
#include "io/png.h"
#include "layout/file_names.h"
#include "tests/support/temp_dir.h"

namespace tovimar::eval::testing {

namespace fs = std::filesystem;

using ::tovimar::testing::TempDir;

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The disparity text file as tovimar-render writes it (shortest round-trip
// text instead of %.18g, which reads back the same).
inline void WriteDat(const std::string& path, const std::vector<float>& v, int w, int h) {
  std::string text = std::to_string(w) + "\r\n" + std::to_string(h) + "\r\n";
  char buf[40];
  for (float f : v) text += std::string(buf, std::to_chars(buf, buf + sizeof buf, static_cast<double>(f)).ptr) + "\r\n";
  WriteText(path, text + "\r\n");
}

// An 8 x 4 classic frame: disparity 10 + x + shift; object 3 in columns 0-3,
// object 7 in columns 4-5, nothing labelled in 6-7; the mask marks column 6
// occluded and column 7 without ground truth.
constexpr int kW = 8, kH = 4;

inline std::vector<float> Truth(float shift = 0) {
  std::vector<float> v(kW * kH);
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) v[static_cast<std::size_t>(y * kW + x)] = 10.0f + static_cast<float>(x) + shift;
  return v;
}

inline int IdOfColumn(int x) { return x < 4 ? 3 : x < 6 ? 7 : 255; }

inline void WriteClassicFrame(const std::string& dir, int frame, const std::vector<float>& truth, bool pfm = true,
                              bool palette = false) {
  const std::string n = FrameNumber(frame);
  if (pfm) {
    WritePfm(dir + "/ldisp_" + n + ".pfm", truth.data(), kW, kH);
  } else {
    WriteDat(dir + "/lbindisp_" + n + ".dat", truth, kW, kH);
  }
  std::vector<uint8_t> mask(kW * kH), seg(kW * kH * 3);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::size_t i = static_cast<std::size_t>(y * kW + x);
      mask[i] = x == 7 ? 0 : x == 6 ? 128 : 255;
      const auto id = static_cast<uint8_t>(IdOfColumn(x));
      seg[3 * i] = seg[3 * i + 1] = seg[3 * i + 2] = id;
      if (palette && id == 7) seg[3 * i] = 40;
    }
  }
  WritePng8(dir + "/lmask_" + n + ".png", mask.data(), kW, kH, 1);
  WriteBmp24(dir + "/seg_l_" + n + ".bmp", seg.data(), kW, kH);
}

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

#ifdef TOVIMAR_EVAL_BINARY
// tovimar-eval run with args: its exit code and what it wrote to stderr.
struct ToolRun {
  int code = -1;
  std::string err;
};

inline ToolRun Eval(const std::string& args, const TempDir& scratch) {
  const std::string errPath = scratch / "stderr.txt";
  const int status =
      std::system((std::string(TOVIMAR_EVAL_BINARY) + " " + args + " >/dev/null 2>" + Quote(errPath)).c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(errPath)};
}
#endif

}  // namespace tovimar::eval::testing
