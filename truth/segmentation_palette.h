#pragma once
// The colour ramp of the segmentation maps and of the editor's id colour
// chart: one red-green-blue triple per object id 0..255, from dark blue
// (0, 0, 131) through blue, cyan, yellow and red to dark red (127, 0, 0).
#include <array>
#include <cstdint>

namespace tovimar {

using PaletteColour = std::array<uint8_t, 3>;  // red, green, blue

constexpr PaletteColour SegmentationColour(int k) {
  auto b = [](int v) { return static_cast<uint8_t>(v < 0 ? 0 : v); };
  if (k < 32) return {0, 0, b(131 + 4 * k)};
  if (k < 96) return {0, b(4 * (k - 32) + 3), 255};
  if (k < 160) return {b(4 * (k - 96) + 3), 255, b(251 - 4 * (k - 96))};
  if (k < 224) return {255, b(251 - 4 * (k - 160)), 0};
  return {b(251 - 4 * (k - 224)), 0, 0};
}

constexpr std::array<PaletteColour, 256> MakeSegmentationPalette() {
  std::array<PaletteColour, 256> table{};
  for (int k = 0; k < 256; ++k) table[static_cast<std::size_t>(k)] = SegmentationColour(k);
  return table;
}

// SegmentationPalette[k] = colour of id k (k = 0..255).
inline constexpr std::array<PaletteColour, 256> SegmentationPalette = MakeSegmentationPalette();

}  // namespace tovimar
