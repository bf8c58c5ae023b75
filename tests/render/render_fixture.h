#pragma once
// A headless renderer with plain settings and editor, and helpers to read what
// it drew.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "io/bytes.h"
#include "render/camera.h"
#include "render/settings.h"
#include "render/renderer.h"
#include "scene/assembly.h"
#include "scene/notifier.h"
#include "tests/support/collecting_notifier.h"

namespace tovimar::test {

using testing::CollectingLineNotifier;
using testing::CollectingNotifier;
using testing::LineMessage;
using testing::Message;

// Window depth (0 at the near plane, 1 at the far plane) to the distance
// along the viewing axis.
inline double DepthToDistance(double depth) {
  return kNearPlane * kFarPlane / (kFarPlane - depth * (kFarPlane - kNearPlane));
}

// A read-back picture: bottom row first, as OpenGL gives it.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;
  std::vector<float> depth;

  // (x, y) with y counted from the top of the image.
  std::array<int, 3> Colour(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(height - 1 - y) * width + x) * 3;
    return {rgb[i], rgb[i + 1], rgb[i + 2]};
  }
  float Depth(int x, int y) const { return depth[static_cast<std::size_t>(height - 1 - y) * width + x]; }
  bool Drawn(int x, int y) const { return Depth(x, y) < 1.0f; }

  // Centre of the drawn pixels (y from the top) and their number.
  struct Blob {
    double x = 0, y = 0;
    int count = 0;
  };
  Blob DrawnBlob() const {
    Blob b;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        if (!Drawn(x, y)) continue;
        b.x += x;
        b.y += y;
        ++b.count;
      }
    }
    if (b.count > 0) {
      b.x /= b.count;
      b.y /= b.count;
    }
    return b;
  }
};

class ViewerTest : public ::testing::Test {
 protected:
  void MakeViewer(int width = 512, int height = 384, const std::string& startDirectory = {}) {
    renderer = std::make_unique<Renderer>(settings, editor, notifier, '.', width, height);
    renderer->SetLineNotifier(&lines);
    if (!startDirectory.empty()) renderer->Rig().StartDirectory = startDirectory;
    ASSERT_TRUE(renderer->Initialise()) << (notifier.messages.empty() ? "" : notifier.messages[0].text);
  }

  // Prepares the scene text and paints it with the default view.
  void Show(const std::vector<std::string>& sceneLines) {
    if (!renderer) MakeViewer();
    editor.lines = sceneLines;
    renderer->PrepareScene();
    renderer->ResetViewAndDraw();
  }

  Picture Read() {
    Picture p;
    p.width = renderer->ClientWidth();
    p.height = renderer->ClientHeight();
    p.rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
    p.depth.resize(static_cast<std::size_t>(p.width) * p.height);
    renderer->ReadColour(p.rgb.data());
    renderer->ReadDepth(p.depth.data());
    return p;
  }

  PlainRenderSettings settings;
  PlainEditor editor;
  CollectingNotifier notifier;
  CollectingLineNotifier lines;
  std::unique_ptr<Renderer> renderer;
};

// A fresh, empty temporary folder, removed with the object.
class TempDir {
 public:
  TempDir() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("tovimar-render-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string str() const { return path_.string(); }
  std::filesystem::path path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Writes an uncompressed BMP of 8 (grey palette index = red), 24 or 32 bits;
// pixels given row 0 at the top, 3 bytes each.
inline void WriteBmp(const std::filesystem::path& path, int width, int height, const std::vector<uint8_t>& rgb,
                     int bits = 24) {
  const int bytesPerPixel = bits / 8;
  const int rowBytes = (width * bytesPerPixel + 3) & ~3;
  const int paletteBytes = bits == 8 ? 256 * 4 : 0;
  const int offset = 54 + paletteBytes;
  std::vector<uint8_t> out(static_cast<std::size_t>(offset) + static_cast<std::size_t>(rowBytes) * height, 0);
  auto put = [&out](std::size_t at, uint32_t v, int n) {
    if (n == 2) io::PutLe16(&out.at(at + 1) - 1, v);
    else io::PutLe32(&out.at(at + 3) - 3, v);
  };
  out[0] = 'B';
  out[1] = 'M';
  put(2, static_cast<uint32_t>(out.size()), 4);
  put(10, static_cast<uint32_t>(offset), 4);
  put(14, 40, 4);
  put(18, static_cast<uint32_t>(width), 4);
  put(22, static_cast<uint32_t>(height), 4);
  put(26, 1, 2);
  put(28, static_cast<uint32_t>(bits), 2);
  if (bits == 8) {
    put(46, 256, 4);
    for (uint32_t i = 0; i < 256; ++i) put(54 + i * 4, i | (i << 8) | (i << 16), 4);
  }
  for (int y = 0; y < height; ++y) {
    const std::size_t row = static_cast<std::size_t>(offset) + static_cast<std::size_t>(height - 1 - y) * rowBytes;
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
      uint8_t* q = &out[row + static_cast<std::size_t>(x) * bytesPerPixel];
      if (bits == 8) {
        q[0] = p[0];
      } else {
        q[0] = p[2];
        q[1] = p[1];
        q[2] = p[0];
        if (bits == 32) q[3] = 255;
      }
    }
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                              static_cast<std::streamsize>(out.size()));
}

}  // namespace tovimar::test
