#pragma once
// The export command: assembles the stored camera images of one camera in a
// run's output directory into "L.avi" (left) or "P.avi" (right) at 2 frames
// per second, with an optional WAVE sound track.
#include <cstdint>
#include <string>

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
  std::string aviPath;      // the file written (or attempted)
};

// directory: the run's output directory (a separator is added when missing).
// For i = 0 .. frameCount-1 reads directory + ("right_" | "left_") +
// FrameNumber(i) + ".bmp"; missing images are skipped. Then appends wavPath
// (if not empty and readable) as audio and closes the file. Nothing is
// thrown: the summary tells what happened. A write error (a full disk)
// abandons the file: aviPath keeps what it held before.
AviExportSummary ExportAvi(const std::string& directory, bool rightCamera, int frameCount,
                           const std::string& wavPath);

}  // namespace tovimar
