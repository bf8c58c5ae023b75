#include "avi/avi_export.h"

#include "avi/avi_writer.h"
#include "avi/bitmap_file.h"
#include "io/run_files.h"

namespace tovimar {

namespace {
constexpr int32_t kExportPeriodMs = 500;  // 2 frames per second
}  // namespace

AviExportSummary ExportAvi(const std::string& directory, bool rightCamera, int frameCount,
                           const std::string& wavPath) {
  AviExportSummary summary;
  std::string dir = directory;
  if (!dir.empty() && dir.back() != kPathSeparator) dir += kPathSeparator;
  summary.aviPath = dir + (rightCamera ? "P.avi" : "L.avi");

  AviWriter* writer = OpenAviWriter(summary.aviPath, kExportPeriodMs, nullptr);
  summary.opened = writer != nullptr;
  // Like every step below, a writer that could not be opened only makes the
  // appends refuse their input.
  for (int i = 0; i < frameCount; ++i) {
    const std::unique_ptr<Bitmap> frame = LoadBitmapFile(dir + CameraImageName(rightCamera, i));
    if (AppendBitmapFrame(writer, frame.get()) == AVIERR_OK)
      ++summary.framesWritten;
    else
      ++summary.framesSkipped;
  }
  if (!wavPath.empty())
    summary.audioAdded = AppendWaveAudio(writer, wavPath.c_str(), kWaveSourceFile) == AVIERR_OK;
  CloseAviWriter(writer);
  return summary;
}

}  // namespace tovimar
