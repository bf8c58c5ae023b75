#include "app/id_chart.h"

#include "truth/segmentation_palette.h"

namespace tovimar {

uint32_t IdChartColour(int id, bool palette) {
  uint32_t r, g, b;
  if (palette) {
    const PaletteColour& c = SegmentationPalette[static_cast<std::size_t>(id & 0xFF)];
    r = c[0];
    g = c[1];
    b = c[2];
  } else {
    r = g = b = static_cast<uint32_t>(id & 0xFF);
  }
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

void DrawIdChart(uint32_t* pixels, int width, int height, std::ptrdiff_t stride, bool palette) {
  const int cw = width / kIdChartColumns;
  const int ch = height / kIdChartRows;
  if (cw <= 0 || ch <= 0) return;
  constexpr uint32_t kBlack = 0xFF000000u;
  for (int r = 0; r < kIdChartRows; ++r) {
    for (int c = 0; c < kIdChartColumns; ++c) {
      const uint32_t fill = IdChartColour(r * kIdChartColumns + c, palette);
      const int x0 = c * cw;
      const int y0 = r * ch;
      for (int y = 0; y < ch; ++y) {
        uint32_t* row = pixels + (y0 + y) * stride + x0;
        const bool edgeRow = (y == 0 || y == ch - 1);
        for (int x = 0; x < cw; ++x) {
          row[x] = (edgeRow || x == 0 || x == cw - 1) ? kBlack : fill;
        }
      }
    }
  }
}

std::optional<int> IdChartCellAt(int x, int y, int width, int height) {
  const int cw = width / kIdChartColumns;
  const int ch = height / kIdChartRows;
  if (cw <= 0 || ch <= 0) return std::nullopt;
  return (y / ch) * kIdChartColumns + x / cw;
}

}  // namespace tovimar
