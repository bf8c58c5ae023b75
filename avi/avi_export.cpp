#include "avi/avi_export.h"

#include "avi/avi_writer.h"
#include "avi/bitmap_file.h"
#include "base/error.h"
#include "io/atomic_file.h"
#include "io/file.h"
#include "io/png.h"
#include "layout/file_names.h"

namespace tovimar {

namespace {
constexpr int32_t kExportPeriodMs = 500;  // 2 frames per second
}  // namespace

std::unique_ptr<Bitmap> LoadPngAsBitmap(const std::string& path) {
  PngImage png;
  try {
    png = ReadPng(path);
  } catch (const Error&) {
    return nullptr;
  }
  if (png.channels != 3 || png.bitDepth != 8) return nullptr;
  auto bitmap = std::make_unique<Bitmap>();
  bitmap->header.width = png.width;
  bitmap->header.height = png.height;
  bitmap->header.bitCount = 24;
  const std::size_t rowBytes = BitmapRowBytes(png.width, 24);
  bitmap->bits.assign(rowBytes * static_cast<std::size_t>(png.height), 0);
  bitmap->header.sizeImage = static_cast<uint32_t>(bitmap->bits.size());
  const auto width = static_cast<std::size_t>(png.width);
  for (int y = 0; y < png.height; ++y) {
    const uint16_t* from = png.samples.data() + static_cast<std::size_t>(y) * width * 3;
    uint8_t* to = bitmap->bits.data() + static_cast<std::size_t>(png.height - 1 - y) * rowBytes;
    for (std::size_t x = 0; x < width; ++x) {
      to[3 * x] = static_cast<uint8_t>(from[3 * x + 2]);
      to[3 * x + 1] = static_cast<uint8_t>(from[3 * x + 1]);
      to[3 * x + 2] = static_cast<uint8_t>(from[3 * x]);
    }
  }
  return bitmap;
}

AviExportSummary ExportAvi(const std::string& directory, bool rightCamera, const std::vector<std::string>& framePaths,
                           const std::string& wavPath) {
  AviExportSummary summary;
  std::string dir = directory;
  if (!dir.empty() && dir.back() != kPathSeparator) dir += kPathSeparator;
  summary.aviPath = dir + AviFileName(rightCamera);

  // A frame that cannot be read or has another layout is skipped; a write
  // error ends the export, and the unfinished file is removed with `avi`.
  try {
    AviFile avi(summary.aviPath, kExportPeriodMs);
    summary.opened = true;
    for (const std::string& path : framePaths) {
      const bool png = path.size() >= 4 && path.compare(path.size() - 4, 4, ".png") == 0;
      const std::unique_ptr<Bitmap> frame = png ? LoadPngAsBitmap(path) : LoadBitmapFile(path);
      if (frame != nullptr && avi.AppendFrame(*frame)) {
        ++summary.framesWritten;
        continue;
      }
      ++summary.framesSkipped;
      if (frame == nullptr) {
        ++(InspectFile(path) == FileKind::Missing ? summary.framesMissing : summary.framesUnreadable);
      } else {
        ++summary.framesOtherSize;
      }
    }
    if (summary.framesWritten == 0) {
      // An AVI without pictures is no export: the unfinished file goes.
      summary.noImages = true;
      summary.writeError = "no " + std::string(rightCamera ? "right" : "left") + " camera image to put in " +
                           summary.aviPath +
                           (framePaths.empty() ? std::string(" (the run stored no camera images)")
                                               : " (the first would be " + framePaths.front() + ")");
      return summary;
    }
    if (!wavPath.empty()) summary.audioAdded = avi.AppendAudioFile(wavPath);
    avi.Close();
  } catch (const Error& e) {
    summary.writeError = e.message();
  }
  return summary;
}

}  // namespace tovimar
