#pragma once
// The ground truth of the frame just written, read back from its files for
// the viewer's views: the disparity (colour map with a scale bar), the
// segmentation map and the occlusion mask. Only reads files; never draws.
#include <QImage>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "layout/output_choice.h"

class QPainter;

namespace tovimar {

enum class ViewMode { Camera = 0, Disparity = 1, Segmentation = 2, Occlusion = 3 };

// The last frame a run wrote: where, which camera, which products.
struct WrittenFrame {
  bool valid = false;
  std::string directory;  // OutputDirectory(folder, sequence number)
  bool rightCamera = false;
  int32_t frame = 0;
  OutputChoice outputs;
};

struct TruthFiles {
  int width = 0, height = 0;
  std::vector<float> disparity;  // top row first; empty when no disparity file was written
  QImage segmentation;           // null when not written
  QImage mask;                   // null when not written
  QImage camera;                 // the stored camera image; null when not written
  std::string disparityFile;     // the file the disparity came from
  // The first file that is there but could not be read, and why ("" when
  // every file there was read).
  std::string problem;
};

// Reads what the frame's run wrote, in any layout: the disparity text
// (classic), else the float disparity PFM, else KITTI's 16-bit disparity;
// the segmentation map, the occlusion mask and the camera image as stored.
// Only products the run wrote (its outputs, or its layout's own set) are
// read, never an earlier run's file left beside them. Missing files leave
// their part empty; a file that is there but cannot be
// read leaves its part empty and is named in `problem`.
TruthFiles ReadWrittenFrame(const WrittenFrame& written);

// The disparity text file: "W", "H", then W*H values, CR LF after each.
// False (and nothing kept) when the file is missing or not of that form.
bool ReadDisparityText(const std::string& path, int& width, int& height, std::vector<float>& values);

// The colour of disparity d on a scale from 0 to maxDisparity (blue, cyan,
// green, yellow, red); black for values that are not finite or not positive.
QRgb DisparityColour(float d, float maxDisparity);
// The largest finite disparity of the frame (at least 1).
float DisparityScaleMax(const std::vector<float>& disparity);

// The colours the viewer shows the object ids 0..254 of one map in: the ids
// present share the colour circle evenly (ascending ids, every other one
// darker), so that ids such as the example's 50 and 160 are told apart
// however close their greys or palette colours are; 255 ("no id") and ids
// not present stay white.
std::array<QRgb, 256> SegmentIdColours(const std::vector<int>& ids);
// The segmentation map as the viewer shows it: a grey map's ids in
// SegmentIdColours of the ids it holds, white kept; a map in the palette's
// colours as written.
QImage SegmentationPicture(const QImage& map);

// The disparity as colours, with a scale bar in pixels along the bottom edge.
QImage DisparityPicture(const TruthFiles& truth);
inline constexpr int kScaleBarHeight = 22;  // rows at the bottom that the scale bar covers
// Draws the scale bar along the bottom of a width x height area (nothing in
// an area too small for it): the picture's own, and the viewer's again at
// screen size over a frame shown scaled down, so that it stays readable.
void DrawScaleBar(QPainter& painter, int width, int height, float maximum);

}  // namespace tovimar
