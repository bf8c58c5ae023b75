// Writes the eleven textures that ship with Tovimar, tex0.bmp .. tex10.bmp,
// as 128 x 128 24-bit BMP files. Every pattern is high in contrast and rich in
// detail at several scales, so that stereo matchers find something to lock on
// to everywhere, and every one is made from fixed seeds: running the program
// again gives the same bytes.
//
//   make_textures [output folder]   (default: the current directory)
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "io/bmp.h"
#include "base/error.h"

namespace {

constexpr int kSize = 128;

struct Rgb {
  uint8_t r, g, b;
};

using Image = std::vector<Rgb>;  // row 0 at the top

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

Rgb Colour(double r, double g, double b) { return {ToByte(r), ToByte(g), ToByte(b)}; }

Rgb Mix(const Rgb& a, const Rgb& b, double t) {
  auto m = [t](uint8_t x, uint8_t y) { return (x / 255.0) * (1.0 - t) + (y / 255.0) * t; };
  return Colour(m(a.r, b.r), m(a.g, b.g), m(a.b, b.b));
}

// A small deterministic generator (xorshift64*), independent of the library's.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
  uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  double Unit() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }

 private:
  uint64_t state_;
};

// Value noise on a periodic lattice of `cells` cells across the image,
// smoothly interpolated; values 0..1.
class ValueNoise {
 public:
  ValueNoise(int cells, uint64_t seed) : cells_(cells), values_(static_cast<std::size_t>(cells) * cells) {
    Random random(seed);
    for (double& v : values_) v = random.Unit();
  }
  double At(double x, double y) const {
    const double fx = x * cells_ / kSize, fy = y * cells_ / kSize;
    const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
    const double tx = Smooth(fx - x0), ty = Smooth(fy - y0);
    const double a = Lattice(x0, y0), b = Lattice(x0 + 1, y0);
    const double c = Lattice(x0, y0 + 1), d = Lattice(x0 + 1, y0 + 1);
    return (a * (1 - tx) + b * tx) * (1 - ty) + (c * (1 - tx) + d * tx) * ty;
  }

 private:
  static double Smooth(double t) { return t * t * (3 - 2 * t); }
  double Lattice(int x, int y) const {
    const int cx = ((x % cells_) + cells_) % cells_, cy = ((y % cells_) + cells_) % cells_;
    return values_[static_cast<std::size_t>(cy) * cells_ + cx];
  }
  int cells_;
  std::vector<double> values_;
};

// Noise summed over several scales, stretched to use the full range.
std::vector<double> Fractal(const std::vector<int>& cellCounts, uint64_t seed) {
  std::vector<ValueNoise> layers;
  for (std::size_t i = 0; i < cellCounts.size(); ++i) layers.emplace_back(cellCounts[i], seed + i * 7919);
  std::vector<double> out(static_cast<std::size_t>(kSize) * kSize);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      double sum = 0, weight = 0, w = 1;
      for (const ValueNoise& n : layers) {
        sum += w * n.At(x, y);
        weight += w;
        w *= 0.6;
      }
      out[static_cast<std::size_t>(y) * kSize + x] = sum / weight;
    }
  }
  const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
  const double low = *lo, range = std::max(*hi - *lo, 1e-9);
  for (double& v : out) v = (v - low) / range;
  return out;
}

Image Blank() { return Image(static_cast<std::size_t>(kSize) * kSize, Rgb{0, 0, 0}); }
Rgb& Pixel(Image& image, int x, int y) { return image[static_cast<std::size_t>(y) * kSize + x]; }

// 0: fine random dots, black and white with a few colours, 1-pixel grain.
Image RandomDots() {
  Image image = Blank();
  Random random(100);
  for (Rgb& p : image) {
    const int v = random.Below(10);
    if (v < 4) p = {20, 20, 20};
    else if (v < 8) p = {235, 235, 235};
    else if (v == 8) p = {200, 60, 40};
    else p = {40, 90, 200};
  }
  return image;
}

// 1: value noise at several scales in two colours.
Image NoiseOctaves() {
  Image image = Blank();
  const std::vector<double> n = Fractal({4, 8, 16, 32, 64}, 200);
  const std::vector<double> fine = Fractal({64}, 202);
  const Rgb dark{30, 25, 70}, light{250, 210, 90};
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = Mix(dark, light, std::clamp(0.7 * n[i] + 0.6 * (fine[i] - 0.5) + 0.15, 0.0, 1.0));
  }
  return image;
}

// 2: bricks with mortar, each brick its own shade and speckle.
Image Bricks() {
  Image image = Blank();
  Random random(300);
  const std::vector<double> grain = Fractal({32, 64}, 301);
  constexpr int kBrickW = 32, kBrickH = 16, kMortar = 2;
  std::array<double, 64> shade{};
  for (double& s : shade) s = 0.55 + 0.45 * random.Unit();
  for (int y = 0; y < kSize; ++y) {
    const int row = y / kBrickH;
    const int shift = (row % 2) * (kBrickW / 2);
    for (int x = 0; x < kSize; ++x) {
      const int bx = (x + shift) % kSize;
      const int col = bx / kBrickW;
      const bool mortar = (y % kBrickH) < kMortar || (bx % kBrickW) < kMortar;
      const double g = grain[static_cast<std::size_t>(y) * kSize + x];
      if (mortar) {
        Pixel(image, x, y) = Colour(0.85 + 0.1 * g, 0.85 + 0.1 * g, 0.8 + 0.1 * g);
      } else {
        const double s = shade[static_cast<std::size_t>(row * 4 + col) % shade.size()] * (0.7 + 0.3 * g);
        Pixel(image, x, y) = Colour(0.75 * s, 0.28 * s, 0.18 * s);
      }
    }
  }
  return image;
}

// 3: checkers of 8 pixels, alternate squares in varied colours.
Image Checkers() {
  Image image = Blank();
  Random random(400);
  std::array<Rgb, 256> tint{};
  for (Rgb& t : tint) t = Colour(0.3 + 0.7 * random.Unit(), 0.3 + 0.7 * random.Unit(), 0.3 + 0.7 * random.Unit());
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const int cx = x / 8, cy = y / 8;
      Pixel(image, x, y) = ((cx + cy) % 2 == 0) ? Rgb{15, 15, 15} : tint[static_cast<std::size_t>(cy * 16 + cx)];
    }
  }
  return image;
}

// 4: diagonal stripes of irregular widths, with a thin noise overlay.
Image Stripes() {
  Image image = Blank();
  Random random(500);
  std::vector<int> band(3 * kSize);
  int colour = 0;
  for (std::size_t i = 0; i < band.size();) {
    const int width = 2 + random.Below(9);
    for (int k = 0; k < width && i < band.size(); ++k) band[i++] = colour;
    colour = (colour + 1 + random.Below(2)) % 3;
  }
  const std::array<Rgb, 3> colours{Rgb{240, 240, 230}, Rgb{20, 110, 60}, Rgb{25, 25, 30}};
  const std::vector<double> n = Fractal({16, 64}, 501);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const Rgb base = colours[static_cast<std::size_t>(band[static_cast<std::size_t>(x + 2 * y) % band.size()])];
      Pixel(image, x, y) = Mix(base, Rgb{128, 128, 128}, 0.25 * n[static_cast<std::size_t>(y) * kSize + x]);
    }
  }
  return image;
}

// 5: wood-like grain: distorted rings around a far centre, with knots.
Image Wood() {
  Image image = Blank();
  const std::vector<double> warp = Fractal({4, 8, 16}, 600);
  const std::vector<double> fine = Fractal({64}, 601);
  const Rgb dark{90, 45, 15}, light{230, 170, 100};
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * kSize + x;
      const double dx = x - 64.0, dy = (y + 300.0) * 0.15;
      const double r = std::sqrt(dx * dx + dy * dy) + 14.0 * warp[i];
      double ring = 0.5 + 0.5 * std::sin(r * 0.9);
      ring = std::pow(ring, 3.0);
      image[i] = Mix(light, dark, std::clamp(0.75 * ring + 0.35 * fine[i], 0.0, 1.0));
    }
  }
  return image;
}

// 6: coarse blotches in several colours (camouflage).
Image Blotches() {
  Image image = Blank();
  const std::vector<double> a = Fractal({4, 8, 16, 32}, 700);
  const std::vector<double> b = Fractal({4, 8, 16, 32}, 701);
  const std::vector<double> fine = Fractal({64}, 702);
  const std::array<Rgb, 4> colours{Rgb{30, 60, 30}, Rgb{200, 190, 120}, Rgb{110, 80, 50}, Rgb{220, 230, 240}};
  for (std::size_t i = 0; i < image.size(); ++i) {
    const int k = (a[i] > 0.5 ? 1 : 0) + (b[i] > 0.5 ? 2 : 0);
    // a fine grain over the flat patches
    image[i] = Mix(colours[static_cast<std::size_t>(k)], fine[i] > 0.5 ? Rgb{255, 255, 255} : Rgb{0, 0, 0},
                   0.35 * std::fabs(fine[i] - 0.5) * 2.0);
  }
  return image;
}

// 7: random rectangles of many sizes and colours, outlined in black.
Image Rectangles() {
  Image image(static_cast<std::size_t>(kSize) * kSize, Rgb{245, 245, 240});
  Random random(800);
  for (int n = 0; n < 60; ++n) {
    const int w = 4 + random.Below(36), h = 4 + random.Below(36);
    const int x0 = random.Below(kSize), y0 = random.Below(kSize);
    const Rgb c = Colour(random.Unit(), random.Unit(), random.Unit());
    for (int y = y0; y < y0 + h; ++y) {
      for (int x = x0; x < x0 + w; ++x) {
        const bool edge = y == y0 || y == y0 + h - 1 || x == x0 || x == x0 + w - 1;
        Pixel(image, x % kSize, y % kSize) = edge ? Rgb{10, 10, 10} : c;
      }
    }
  }
  return image;
}

// 8: rings around scattered centres over fine noise.
Image Rings() {
  Image image = Blank();
  Random random(900);
  const std::vector<double> n = Fractal({32, 64}, 901);
  struct Centre {
    double x, y, period;
  };
  std::array<Centre, 6> centres{};
  for (Centre& c : centres) c = {random.Unit() * kSize, random.Unit() * kSize, 4.0 + 6.0 * random.Unit()};
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      double v = 0;
      for (const Centre& c : centres) {
        const double r = std::hypot(x - c.x, y - c.y);
        v += std::cos(r * 6.283185307179586 / c.period) / (1.0 + r / 40.0);
      }
      const double t = std::clamp(0.5 + 0.35 * v + 0.3 * (n[static_cast<std::size_t>(y) * kSize + x] - 0.5), 0.0, 1.0);
      Pixel(image, x, y) = Mix(Rgb{20, 40, 120}, Rgb{250, 240, 200}, t);
    }
  }
  return image;
}

// 9: coloured dots of 2 to 4 pixels on a noisy ground (good on a sphere).
Image ColourDots() {
  Image image = Blank();
  const std::vector<double> ground = Fractal({8, 16, 32}, 1000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = Mix(Rgb{40, 40, 50}, Rgb{120, 120, 140}, ground[i]);
  Random random(1001);
  for (int n = 0; n < 700; ++n) {
    const int size = 2 + random.Below(3);
    const int x0 = random.Below(kSize), y0 = random.Below(kSize);
    const Rgb c = Colour(0.3 + 0.7 * random.Unit(), 0.3 + 0.7 * random.Unit(), 0.3 + 0.7 * random.Unit());
    for (int y = y0; y < y0 + size; ++y) {
      for (int x = x0; x < x0 + size; ++x) Pixel(image, x % kSize, y % kSize) = c;
    }
  }
  return image;
}

// 10: stone: fine and coarse noise with sharp, thresholded veins.
Image Stone() {
  Image image = Blank();
  const std::vector<double> coarse = Fractal({4, 8, 16}, 1100);
  const std::vector<double> fine = Fractal({32, 64}, 1101);
  const std::vector<double> vein = Fractal({8, 16, 32}, 1102);
  for (std::size_t i = 0; i < image.size(); ++i) {
    const double base = 0.25 + 0.6 * coarse[i] + 0.3 * (fine[i] - 0.5);
    const bool isVein = std::fabs(vein[i] - 0.5) < 0.03;
    image[i] = isVein ? Rgb{20, 20, 25} : Colour(base * 0.95, base * 0.9, base * 0.85);
  }
  return image;
}

// A 24-bit uncompressed BMP marked 72 dpi; false when it cannot be written.
bool WriteBmp(const std::string& path, const Image& image) {
  tovimar::BmpImage24 bmp(kSize, kSize);
  bmp.SetPixelsPerMetre(2835);  // 72 dpi
  for (int y = 0; y < kSize; ++y) {
    uint8_t* row = bmp.Row(y);
    for (int x = 0; x < kSize; ++x) {
      const Rgb& p = image[static_cast<std::size_t>(y) * kSize + x];
      row[3 * x] = p.b;
      row[3 * x + 1] = p.g;
      row[3 * x + 2] = p.r;
    }
  }
  try {
    bmp.Save(path);
  } catch (const tovimar::Error&) {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : ".";
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const Image images[11] = {RandomDots(), NoiseOctaves(), Bricks(), Checkers(), Stripes(), Wood(),
                            Blotches(),   Rectangles(),   Rings(),  ColourDots(), Stone()};
  for (int n = 0; n < 11; ++n) {
    const std::string path = folder + "tex" + std::to_string(n) + ".bmp";
    if (!WriteBmp(path, images[n])) {
      std::fprintf(stderr, "make_textures: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  std::printf("make_textures: wrote tex0.bmp .. tex10.bmp into %s\n", folder.c_str());
  return 0;
}
