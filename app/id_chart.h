#pragma once
// The editor's id colour chart: 4 rows of 64 cells for the object ids 0..255,
// in the colours the segmentation maps give them. No Qt: the chart is drawn
// into 32-bit 0xAARRGGBB pixels (the layout of QImage::Format_RGB32).
#include <cstddef>
#include <cstdint>
#include <optional>

namespace tovimar {

inline constexpr int kIdChartColumns = 64;
inline constexpr int kIdChartRows = 4;

// The colour of id in the chart: the segmentation palette entry, or the grey
// level id. 0xFFRRGGBB.
uint32_t IdChartColour(int id, bool palette);

// Draws the 256 cells of width / 64 x height / 4 pixels from the top left
// corner: each cell filled with its colour and outlined by a black 1-pixel
// frame inside its edges. Pixels outside the cells are left as they are.
// stride: pixels from one row to the next.
void DrawIdChart(uint32_t* pixels, int width, int height, std::ptrdiff_t stride, bool palette);

// The id of the cell under (x, y): (y div cell height) * 64 + x div cell
// width, not clamped to the chart (the last pixel column of the designed
// image gives column 64). nullopt when the image is too small to hold cells.
std::optional<int> IdChartCellAt(int x, int y, int width, int height);

}  // namespace tovimar
