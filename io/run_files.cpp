#include "io/run_files.h"

#include <charconv>
#include <string_view>

namespace tovimar {

namespace {

void AppendInt(std::string& out, long long v) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, res.ptr);
}

}  // namespace

std::string OutputDirectory(const std::string& folder, int sequenceNumber) {
  std::string dir = folder;
  if (!dir.empty() && dir.back() != kPathSeparator) dir += kPathSeparator;
  AppendInt(dir, sequenceNumber);
  dir += kPathSeparator;
  return dir;
}

std::string FrameNumber(int32_t frameCounter) {
  std::string digits;
  AppendInt(digits, frameCounter);
  // "0000" + number, of which the last four characters are kept, or the whole
  // number when it is longer.
  std::string padded = "0000" + digits;
  std::size_t keep = digits.size() > 4 ? digits.size() : 4;
  return padded.substr(padded.size() - keep);
}

std::string CameraImageName(bool rightCamera, int32_t frameCounter) {
  return (rightCamera ? "right_" : "left_") + FrameNumber(frameCounter) + ".bmp";
}

FrameFileNames MakeFrameFileNames(const std::string& directory, bool rightCamera, int32_t frameCounter) {
  const std::string n = FrameNumber(frameCounter);
  FrameFileNames f;
  f.cameraImage = directory + (rightCamera ? "right_" : "left_") + n + ".bmp";
  f.subPixelMap = directory + (rightCamera ? "disp_" : "ldisp_") + n + ".bmp";
  f.pixelMap = directory + (rightCamera ? "disp_p_" : "ldisp_p_") + n + ".bmp";
  f.disparityText = directory + (rightCamera ? "bindisp_" : "lbindisp_") + n + ".dat";
  f.segmentation = directory + (rightCamera ? "seg_r_" : "seg_l_") + n + ".bmp";
  return f;
}

int64_t OutputFrameOfName(const std::string& name, bool rightCamera) {
  struct Pattern {
    const char* prefix;
    const char* suffix;
  };
  static constexpr Pattern kLeft[] = {
      {"left_", ".bmp"}, {"ldisp_", ".bmp"}, {"ldisp_p_", ".bmp"}, {"lbindisp_", ".dat"}, {"seg_l_", ".bmp"}};
  static constexpr Pattern kRight[] = {
      {"right_", ".bmp"}, {"disp_", ".bmp"}, {"disp_p_", ".bmp"}, {"bindisp_", ".dat"}, {"seg_r_", ".bmp"}};
  const std::string_view n(name);
  for (const Pattern& p : rightCamera ? kRight : kLeft) {
    const std::string_view prefix(p.prefix), suffix(p.suffix);
    if (n.size() <= prefix.size() + suffix.size() || !n.starts_with(prefix) || !n.ends_with(suffix)) continue;
    const std::string_view digits = n.substr(prefix.size(), n.size() - prefix.size() - suffix.size());
    int32_t frame = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), frame);
    // Only the spelling FrameNumber gives ("0012", "10000"), not "012" or "+12".
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || frame < 0 ||
        FrameNumber(frame) != digits)
      continue;
    return frame;
  }
  return -1;
}

}  // namespace tovimar
