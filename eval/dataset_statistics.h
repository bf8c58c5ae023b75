#pragma once
// Figures and pictures of a dataset's ground truth, read back from the files
// the runs wrote, for the card of a dataset root: the disparity's range and
// histogram, the shares of pixels without ground truth and of pixels hidden
// in the other view, the flow's lengths; a mosaic of frames (left image,
// disparity and flow in colour) and the histograms as bar plots.
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tovimar::eval {

// Histograms are counted in bins of 1 px from 0; the last bin holds every
// value at and past kHistogramPixels.
inline constexpr int kHistogramPixels = 1024;

struct GroundTruthStatistics {
  uint64_t sequences = 0, frames = 0;
  // The left view's disparity over every frame with ground truth.
  uint64_t pixels = 0;         // every pixel of those frames
  uint64_t withDisparity = 0;  // of them, the pixels with ground truth
  uint64_t maskedPixels = 0;   // of those, the ones in frames with an occlusion mask
  uint64_t occluded = 0;       // of those, hidden in the right view
  double minDisparity = std::numeric_limits<double>::infinity();
  double maxDisparity = -std::numeric_limits<double>::infinity();
  double disparitySum = 0;
  std::vector<uint64_t> disparityHistogram = std::vector<uint64_t>(kHistogramPixels + 1, 0);
  // The left view's flow to the next frame over the frames that have one.
  uint64_t flowFrames = 0, flowPixels = 0, withFlow = 0;
  uint64_t maskedFlow = 0, flowHidden = 0;  // with a flow mask: flow pixels, hidden at the next frame
  double flowLengthSum = 0, maxFlowLength = 0;
  std::vector<uint64_t> flowHistogram = std::vector<uint64_t>(kHistogramPixels + 1, 0);

  // Adds the left camera's frames of a sequence folder (any layout the
  // evaluator reads) and, with flow, its flow frames. Throws Error naming a
  // file that is missing or unreadable.
  void AddSequence(const std::string& directory, bool flow);
};

// A bin width for a histogram of values up to `largest` in at most maxBins
// bins: a power of two pixels (1, 2, 4, ...).
int HistogramBinWidth(double largest, int maxBins);
// 1-px counts summed into bins of `width` px; `bins` of them, the last one
// holding everything past it.
std::vector<uint64_t> MergeBins(const std::vector<uint64_t>& onePixel, int width, int bins);

// One frame of the preview: a sequence folder and a frame of its left camera.
struct PreviewFrame {
  std::string directory;
  int frame = 0;
};

// An RGB PNG at path: one row per frame, each with the left image, the
// disparity in colour (the frame's smallest disparity blue, its largest red,
// black without ground truth) and, with flow, the flow to the next frame in
// Middlebury's colours (relative to the frame's longest vector; black
// without ground truth or on a frame without flow). Pictures are shrunk by a
// whole factor to at most maxWidth px wide. Throws Error naming a file.
void WritePreview(const std::vector<PreviewFrame>& frames, bool flow, const std::string& path, int maxWidth = 256);

// A plot of histograms: the bars of each series side by side per bin, as
// shares of the series' total, in the series' colour.
struct HistogramPlot {
  int binWidth = 1;                               // px
  std::vector<std::vector<uint64_t>> series;      // counts per bin, same length each
  std::vector<std::vector<uint8_t>> colours;      // RGB per series
};
// An RGB PNG at path with the plots one above the other: bars from the
// bottom axis, the x axis labelled with bin edges in px, the top of the
// y axis labelled with its share in percent (grid lines at its quarters).
void WriteHistogramPlots(const std::vector<HistogramPlot>& plots, const std::string& path);

}  // namespace tovimar::eval
