#include "eval/dataset_statistics.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

#include "base/error.h"
#include "eval/dataset.h"
#include "eval/flow.h"
#include "eval/flow_pictures.h"
#include "io/png.h"

namespace tovimar::eval {

namespace {

std::size_t BinOf(double value) {
  return static_cast<std::size_t>(std::clamp(std::floor(value), 0.0, static_cast<double>(kHistogramPixels)));
}

// An RGB picture, top row first.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  Picture(int w, int h, uint8_t grey)
      : width(w), height(h), rgb(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3, grey) {}
  uint8_t* At(int x, int y) {
    return &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
  }
  void Fill(int x0, int y0, int x1, int y1, const std::array<uint8_t, 3>& c) {
    for (int y = std::max(y0, 0); y < std::min(y1, height); ++y)
      for (int x = std::max(x0, 0); x < std::min(x1, width); ++x) std::copy(c.begin(), c.end(), At(x, y));
  }
  // src (w x h RGB) shrunk by `factor` (every factor-th pixel) with its top left at (x0, y0).
  void Paste(const std::vector<uint8_t>& src, int w, int h, int factor, int x0, int y0) {
    for (int y = 0; y * factor < h; ++y)
      for (int x = 0; x * factor < w; ++x) {
        const uint8_t* s = &src[(static_cast<std::size_t>(y * factor) * static_cast<std::size_t>(w) +
                                 static_cast<std::size_t>(x * factor)) * 3];
        std::copy(s, s + 3, At(x0 + x, y0 + y));
      }
  }
};

// A 3x5 font for the plots' numbers: each glyph five rows of three bits.
constexpr const char* kGlyphs = "0123456789.%";
constexpr uint8_t kGlyphRows[12][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7},
    {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}, {0, 0, 0, 0, 2}, {5, 1, 2, 4, 5}};
constexpr int kTextScale = 2;
constexpr int kCharAdvance = 4 * kTextScale;

void DrawText(Picture& p, const std::string& text, int x, int y) {
  for (char c : text) {
    const char* at = std::char_traits<char>::find(kGlyphs, 12, c);
    if (at != nullptr) {
      const auto& rows = kGlyphRows[at - kGlyphs];
      for (int r = 0; r < 5; ++r)
        for (int b = 0; b < 3; ++b)
          if (rows[r] & (4 >> b))
            p.Fill(x + b * kTextScale, y + r * kTextScale, x + (b + 1) * kTextScale, y + (r + 1) * kTextScale, {0, 0, 0});
    }
    x += kCharAdvance;
  }
}

// Blue (small) through cyan, green and yellow to red (large).
std::array<uint8_t, 3> DisparityColour(double t) {
  static constexpr double stops[5][3] = {{0, 0, 200}, {0, 200, 255}, {40, 200, 40}, {255, 230, 0}, {220, 0, 0}};
  const double at = std::clamp(t, 0.0, 1.0) * 4;
  const int k = std::min(static_cast<int>(at), 3);
  const double f = at - k;
  std::array<uint8_t, 3> c{};
  for (std::size_t i = 0; i < 3; ++i)
    c[i] = static_cast<uint8_t>(std::lround(stops[k][i] + f * (stops[k + 1][i] - stops[k][i])));
  return c;
}

}  // namespace

void GroundTruthStatistics::AddSequence(const std::string& directory, bool flow) {
  const Dataset dataset = Dataset::Open(directory, Camera::Left);
  ++sequences;
  for (int f : dataset.Frames()) {
    const GroundTruthFrame truth = dataset.Load(f);
    ++frames;
    const std::vector<float>& d = truth.disparity.values;
    pixels += d.size();
    for (std::size_t i = 0; i < d.size(); ++i) {
      if (std::isnan(d[i])) continue;
      ++withDisparity;
      minDisparity = std::min(minDisparity, static_cast<double>(d[i]));
      maxDisparity = std::max(maxDisparity, static_cast<double>(d[i]));
      disparitySum += d[i];
      ++disparityHistogram[BinOf(d[i])];
      if (!truth.occlusion.empty()) {
        ++maskedPixels;
        if (truth.occlusion[i] == kOccluded) ++occluded;
      }
    }
  }
  if (!flow) return;
  for (int f : FlowFrames(dataset)) {
    const FlowGroundTruth truth = LoadFlowGroundTruth(dataset, f, FlowTask::Flow, nullptr);
    ++flowFrames;
    flowPixels += truth.flow.u.size();
    for (std::size_t i = 0; i < truth.flow.u.size(); ++i) {
      if (std::isnan(truth.flow.u[i]) || std::isnan(truth.flow.v[i])) continue;
      const double length = std::hypot(truth.flow.u[i], truth.flow.v[i]);
      ++withFlow;
      flowLengthSum += length;
      maxFlowLength = std::max(maxFlowLength, length);
      ++flowHistogram[BinOf(length)];
      if (!truth.occlusion.empty()) {
        ++maskedFlow;
        if (truth.occlusion[i] == kOccluded) ++flowHidden;
      }
    }
  }
}

int HistogramBinWidth(double largest, int maxBins) {
  int width = 1;
  while (width < kHistogramPixels && static_cast<double>(width) * maxBins <= largest) width *= 2;
  return width;
}

std::vector<uint64_t> MergeBins(const std::vector<uint64_t>& onePixel, int width, int bins) {
  std::vector<uint64_t> merged(static_cast<std::size_t>(bins), 0);
  for (std::size_t i = 0; i < onePixel.size(); ++i)
    merged[std::min(i / static_cast<std::size_t>(width), merged.size() - 1)] += onePixel[i];
  return merged;
}

void WritePreview(const std::vector<PreviewFrame>& frames, bool flow, const std::string& path, int maxWidth) {
  if (frames.empty()) throw Error("no frames for the preview " + path);
  const int columns = flow ? 3 : 2, gap = 4;
  struct Row {
    std::vector<std::vector<uint8_t>> pictures;
    int width = 0, height = 0;
  };
  std::vector<Row> rows;
  int tileWidth = 0, tileHeight = 0, factor = 1;
  for (const PreviewFrame& frame : frames) {
    const Dataset dataset = Dataset::Open(frame.directory, Camera::Left);
    const GroundTruthFrame truth = dataset.Load(frame.frame);
    Row row;
    row.width = truth.disparity.width;
    row.height = truth.disparity.height;
    const std::string imagePath = dataset.ImagePair(frame.frame).first;
    const int w = row.width, h = row.height;
    const PngImage image = ReadPng(imagePath, [&](int iw, int ih) {
      if (iw != w || ih != h) throw Error("'" + imagePath + "' is not the size of its disparity");
    });
    if (image.channels != 3 || image.bitDepth != 8) throw Error("'" + imagePath + "' is not an 8-bit RGB PNG");
    row.pictures.emplace_back(image.samples.begin(), image.samples.end());
    // The disparity, from the frame's smallest (blue) to its largest (red).
    const std::vector<float>& d = truth.disparity.values;
    double low = INFINITY, high = -INFINITY;
    for (float v : d)
      if (!std::isnan(v)) low = std::min(low, static_cast<double>(v)), high = std::max(high, static_cast<double>(v));
    std::vector<uint8_t> colour(d.size() * 3, 0);
    for (std::size_t i = 0; i < d.size(); ++i) {
      if (std::isnan(d[i])) continue;
      const auto c = DisparityColour(high > low ? (d[i] - low) / (high - low) : 0.5);
      std::copy(c.begin(), c.end(), &colour[3 * i]);
    }
    row.pictures.push_back(std::move(colour));
    if (flow) {
      const std::vector<int> flowFrames = FlowFrames(dataset);
      if (std::binary_search(flowFrames.begin(), flowFrames.end(), frame.frame)) {
        const FlowGroundTruth gt = LoadFlowGroundTruth(dataset, frame.frame, FlowTask::Flow, nullptr);
        if (gt.flow.width != row.width || gt.flow.height != row.height)
          throw Error("the flow of frame " + std::to_string(frame.frame) + " in " + frame.directory +
                      " is not the disparity's size");
        row.pictures.push_back(FlowPicture(gt.flow, LongestFlow(gt.flow)));
      } else {
        row.pictures.emplace_back(d.size() * 3, 0);
      }
    }
    factor = std::max(factor, (row.width + maxWidth - 1) / maxWidth);
    rows.push_back(std::move(row));
  }
  for (const Row& row : rows) {
    tileWidth = std::max(tileWidth, (row.width + factor - 1) / factor);
    tileHeight = std::max(tileHeight, (row.height + factor - 1) / factor);
  }
  const int rowCount = static_cast<int>(rows.size());
  Picture mosaic(columns * tileWidth + (columns + 1) * gap, rowCount * tileHeight + (rowCount + 1) * gap, 255);
  for (int r = 0; r < rowCount; ++r)
    for (int c = 0; c < columns; ++c)
      mosaic.Paste(rows[static_cast<std::size_t>(r)].pictures[static_cast<std::size_t>(c)],
                   rows[static_cast<std::size_t>(r)].width, rows[static_cast<std::size_t>(r)].height, factor,
                   gap + c * (tileWidth + gap), gap + r * (tileHeight + gap));
  WritePng8(path, mosaic.rgb.data(), mosaic.width, mosaic.height, 3);
}

void WriteHistogramPlots(const std::vector<HistogramPlot>& plots, const std::string& path) {
  constexpr int kPlotWidth = 480, kPlotHeight = 160, kLeft = 48, kRight = 16, kTop = 16, kBottom = 28;
  constexpr int kPanelHeight = kTop + kPlotHeight + kBottom;
  Picture p(kLeft + kPlotWidth + kRight, kPanelHeight * static_cast<int>(plots.size()), 255);
  for (std::size_t k = 0; k < plots.size(); ++k) {
    const HistogramPlot& plot = plots[k];
    const int top = static_cast<int>(k) * kPanelHeight + kTop, bottom = top + kPlotHeight;
    const int bins = plot.series.empty() ? 0 : static_cast<int>(plot.series.front().size());
    // Shares of each series' total; the y axis up to the largest, rounded up to 10 %.
    std::vector<std::vector<double>> shares;
    double largest = 0;
    for (const auto& counts : plot.series) {
      uint64_t total = 0;
      for (uint64_t c : counts) total += c;
      std::vector<double> s;
      for (uint64_t c : counts) s.push_back(total ? static_cast<double>(c) / static_cast<double>(total) : 0.0);
      for (double v : s) largest = std::max(largest, v);
      shares.push_back(std::move(s));
    }
    const int topPercent = std::max(10, static_cast<int>(std::ceil(largest * 10 - 1e-9)) * 10);
    for (int q = 1; q <= 4; ++q) {
      const int y = bottom - q * kPlotHeight / 4;
      p.Fill(kLeft, y, kLeft + kPlotWidth, y + 1, {210, 210, 210});
    }
    DrawText(p, std::to_string(topPercent) + "%", 4, top - 5);
    DrawText(p, "0", kLeft - kCharAdvance - 4, bottom - 5);
    if (bins > 0) {
      const int slot = kPlotWidth / bins, series = static_cast<int>(shares.size());
      const int bar = std::max(1, (slot - 4) / std::max(series, 1));
      for (int b = 0; b < bins; ++b) {
        const int x0 = kLeft + b * slot + 2;
        for (int s = 0; s < series; ++s) {
          const double share = shares[static_cast<std::size_t>(s)][static_cast<std::size_t>(b)];
          const int h = static_cast<int>(std::lround(share * 100 / topPercent * kPlotHeight));
          const auto& c = plot.colours[static_cast<std::size_t>(s)];
          p.Fill(x0 + s * bar, bottom - h, x0 + (s + 1) * bar, bottom, {c[0], c[1], c[2]});
        }
      }
      // Bin edges in px, as many as fit without touching.
      const int widest = static_cast<int>(std::to_string(bins * plot.binWidth).size()) * kCharAdvance + 8;
      const int every = std::max(1, (widest + slot - 1) / slot);
      for (int b = 0; b < bins; b += every) {
        const int x = kLeft + b * slot;
        p.Fill(x, bottom, x + 1, bottom + 4, {0, 0, 0});
        const std::string label = std::to_string(b * plot.binWidth);
        DrawText(p, label, x - static_cast<int>(label.size()) * kCharAdvance / 2, bottom + 8);
      }
    }
    p.Fill(kLeft, top, kLeft + 1, bottom + 1, {0, 0, 0});
    p.Fill(kLeft, bottom, kLeft + kPlotWidth, bottom + 1, {0, 0, 0});
  }
  WritePng8(path, p.rgb.data(), p.width, p.height, 3);
}

}  // namespace tovimar::eval
