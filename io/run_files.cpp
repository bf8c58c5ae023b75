#include "io/run_files.h"

#include <charconv>

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

}  // namespace tovimar
