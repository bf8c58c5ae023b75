#pragma once
// Whole-file reads and BMP checks for the sequence tests (and the shared
// temporary folder).
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "io/bmp.h"
#include "io/file.h"
#include "scene/scene_text.h"
#include "tests/support/temp_dir.h"

namespace tovimar {

using ::tovimar::testing::TempDir;

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#ifdef TOVIMAR_SOURCE_DIR
// The lines of a scene file of the source tree.
inline std::vector<std::string> SceneFile(const std::string& relative) {
  return SplitLines(ReadFileBytes(std::string(TOVIMAR_SOURCE_DIR) + "/" + relative));
}
#endif

}  // namespace tovimar

namespace tovimar {

// A 24-bit BMP read back for checks: top-down rows, red-green-blue.
struct TestPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* At(int x, int y) const {
    return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
  }
};

inline TestPicture ReadBmp24(const std::string& path) {
  const std::vector<uint8_t> b = ReadAll(path);
  TestPicture p;
  const MemoryByteSource source(b.data(), b.size());
  BmpLayout layout;
  RgbPicture picture;
  if (!ReadBmpLayout(source, layout).empty() || layout.bitCount != 24 ||
      !DecodeBmpTopLeft(source, layout, kMaxBmpSide, kMaxBmpSide, picture).empty())
    return p;
  p.width = picture.width;
  p.height = picture.height;
  p.rgb = std::move(picture.rgb);
  return p;
}

// The disparity text file read back: W, H and the values, or empty values when
// the layout is wrong.
struct TestDisparity {
  int width = 0;
  int height = 0;
  std::vector<double> values;
  std::vector<std::string> texts;
};

inline TestDisparity ReadDisparityText(const std::string& path) {
  const std::vector<uint8_t> b = ReadAll(path);
  const std::string text(b.begin(), b.end());
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(text.substr(start, at - start));
  TestDisparity d;
  if (start != text.size() || lines.size() < 3 || !lines.back().empty()) return d;
  auto number = [](const std::string& t) {
    double v = -1;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
  };
  d.width = static_cast<int>(number(lines[0]));
  d.height = static_cast<int>(number(lines[1]));
  if (lines.size() != static_cast<std::size_t>(d.width) * d.height + 3) return d;
  for (std::size_t i = 2; i + 1 < lines.size(); ++i) {
    d.texts.push_back(lines[i]);
    d.values.push_back(number(lines[i]));
  }
  return d;
}

}  // namespace tovimar
