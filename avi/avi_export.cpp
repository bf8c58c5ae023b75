#include "avi/avi_export.h"

#include "avi/avi_writer.h"
#include "avi/bitmap_file.h"
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

  AviWriter* writer = OpenAviWriter(summary.aviPath, kExportPeriodMs, nullptr);
  summary.opened = writer != nullptr;
  // Like every step below, a writer that could not be opened only makes the
  // appends refuse their input.
  bool writeFailed = false;
  for (int i = 0; i < frameCount && !writeFailed; ++i) {
    const std::string path = dir + CameraImageName(rightCamera, i);
    const std::unique_ptr<Bitmap> frame = LoadBitmapFile(path);
    const int32_t r = AppendBitmapFrame(writer, frame.get());
    if (r == AVIERR_OK) {
      ++summary.framesWritten;
      continue;
    }
    ++summary.framesSkipped;
    if (frame == nullptr) {
      ++(InspectFile(path) == FileKind::Missing ? summary.framesMissing : summary.framesUnreadable);
    } else if (r == AVIERR_BADFORMAT) {
      ++summary.framesOtherSize;
    } else if (writer != nullptr) {
      writeFailed = true;
    }
  }
  if (!wavPath.empty() && !writeFailed) {
    const int32_t r = AppendWaveAudio(writer, wavPath.c_str(), kWaveSourceFile);
    summary.audioAdded = r == AVIERR_OK;
    writeFailed = r == AVIERR_FILEWRITE || r == AVIERR_ERROR;
  }
  if (writer != nullptr && writeFailed) {
    summary.writeError = FileErrorReason(AviWriterErrno(writer));
    AbandonAviWriter(writer);
  } else if (writer != nullptr && CloseAviWriter(writer) != AVIERR_OK) {
    summary.writeError = "the file could not be completed";
  }
  return summary;
}

}  // namespace tovimar
