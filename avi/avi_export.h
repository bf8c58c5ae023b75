#pragma once
// The export command: assembles the stored camera images of one camera's run
// (the classic BMPs or a layout's PNGs) into "L.avi" (left) or "P.avi"
// (right) in the run's output directory at 2 frames per second, with an
// optional WAVE sound track.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/bitmap_file.h"

namespace tovimar {

struct AviExportSummary {
  bool opened = false;      // the AVI file could be created (else writeError says why)
  int framesWritten = 0;    // camera images found and written
  int framesSkipped = 0;    // images not written: the three counts below
  int framesMissing = 0;    // no file of that name
  int framesUnreadable = 0; // not a regular file, or not a readable bitmap
  int framesOtherSize = 0;  // size or pixel format differs from the first frame's
  bool audioAdded = false;  // the sound file was appended
  std::string writeError;   // why the AVI could not be made, naming the file;
                            // then no file was put under aviPath (an earlier
                            // one stays)
  bool noImages = false;    // not one image was found: writeError says so
  std::string aviPath;      // the file written (or attempted)
};

// directory: the run's output directory (a separator is added when missing),
// where "L.avi" or "P.avi" goes. framePaths: the camera image of each frame
// as the run stored it, a BMP or (by its ".png" ending) an 8-bit RGB PNG;
// missing or unreadable images are skipped. Then appends wavPath (if not
// empty and readable) as audio and closes the file. Nothing is thrown: the
// summary tells what happened. A write error (a full disk), or not one image
// to put in, abandons the file: aviPath keeps what it held before.
AviExportSummary ExportAvi(const std::string& directory, bool rightCamera, const std::vector<std::string>& framePaths,
                           const std::string& wavPath);

// An 8-bit RGB PNG as the AVI writer takes a frame: 24 bits per pixel, rows
// bottom-up, blue first. Null for a missing file or another kind of PNG.
std::unique_ptr<Bitmap> LoadPngAsBitmap(const std::string& path);

}  // namespace tovimar
