#include "avi/avi_export.h"

#include "avi/avi_writer.h"
#include "avi/bitmap_file.h"
#include "base/error.h"
#include "io/atomic_file.h"
#include "io/file.h"
#include "layout/file_names.h"

namespace tovimar {

namespace {
constexpr int32_t kExportPeriodMs = 500;  // 2 frames per second
}  // namespace

AviExportSummary ExportAvi(const std::string& directory, bool rightCamera, int frameCount,
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
    for (int i = 0; i < frameCount; ++i) {
      const std::string path = dir + CameraImageName(rightCamera, i);
      const std::unique_ptr<Bitmap> frame = LoadBitmapFile(path);
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
    if (!wavPath.empty()) summary.audioAdded = avi.AppendAudioFile(wavPath);
    avi.Close();
  } catch (const Error& e) {
    summary.writeError = e.message();
  }
  return summary;
}

}  // namespace tovimar
