#include "scenegen/textures.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "base/error.h"
#include "layout/file_names.h"
#include "scenegen/random.h"

namespace tovimar::scenegen {

namespace {

using Colour = std::array<double, 3>;
constexpr int kSide = kSceneTextureSide;

Colour RandomColour(Pcg32& rng) {
  return {static_cast<double>(rng.Below(256)), static_cast<double>(rng.Below(256)),
          static_cast<double>(rng.Below(256))};
}

Colour Mix(const Colour& a, const Colour& b, double t) {
  return {a[0] + (b[0] - a[0]) * t, a[1] + (b[1] - a[1]) * t, a[2] + (b[2] - a[2]) * t};
}

// A unit direction at a random angle (rejection sampling: no trigonometry).
std::array<double, 2> RandomDirection(Pcg32& rng) {
  for (;;) {
    const double x = rng.Uniform(-1.0, 1.0), y = rng.Uniform(-1.0, 1.0);
    const double length = std::sqrt(x * x + y * y);
    if (length > 0.1 && length <= 1.0) return {x / length, y / length};
  }
}

// Floor of a non-negative or negative double as a whole number.
long long Floor(double v) { return static_cast<long long>(std::floor(v)); }

bool Odd(long long v) { return (v % 2 + 2) % 2 == 1; }

struct Picture {
  std::vector<Colour> pixels = std::vector<Colour>(static_cast<std::size_t>(kSide) * kSide);
  Colour& At(int x, int y) { return pixels[static_cast<std::size_t>(y) * kSide + x]; }
};

template <typename F>
void Fill(Picture& p, F colourAt) {
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) p.At(x, y) = colourAt(x + 0.5, y + 0.5);
}

// Value noise: random values on a lattice, blended with a smooth step, two
// octaves.
void ValueNoise(Picture& p, Pcg32& rng) {
  const Colour a = RandomColour(rng), b = RandomColour(rng);
  const int cells = 2 << rng.Below(4);  // 2, 4, 8 or 16 cells a side
  std::vector<double> coarse(static_cast<std::size_t>(cells + 1) * (cells + 1));
  std::vector<double> fine(static_cast<std::size_t>(2 * cells + 1) * (2 * cells + 1));
  for (double& v : coarse) v = rng.Unit();
  for (double& v : fine) v = rng.Unit();
  auto sample = [](const std::vector<double>& lattice, int n, double u, double v) {
    const long long i = std::min<long long>(Floor(u), n - 1), j = std::min<long long>(Floor(v), n - 1);
    const double fu = u - static_cast<double>(i), fv = v - static_cast<double>(j);
    const double su = fu * fu * (3.0 - 2.0 * fu), sv = fv * fv * (3.0 - 2.0 * fv);
    auto at = [&](long long x, long long y) { return lattice[static_cast<std::size_t>(y * (n + 1) + x)]; };
    const double top = at(i, j) + (at(i + 1, j) - at(i, j)) * su;
    const double bottom = at(i, j + 1) + (at(i + 1, j + 1) - at(i, j + 1)) * su;
    return top + (bottom - top) * sv;
  };
  Fill(p, [&](double x, double y) {
    const double c = sample(coarse, cells, x * cells / kSide, y * cells / kSide);
    const double f = sample(fine, 2 * cells, x * 2 * cells / kSide, y * 2 * cells / kSide);
    return Mix(a, b, (2.0 * c + f) / 3.0);
  });
}

// Checkers (both axes) or stripes (one axis) at a random angle.
void Checkers(Picture& p, Pcg32& rng, bool stripes) {
  const Colour a = RandomColour(rng), b = RandomColour(rng), c = RandomColour(rng);
  const std::array<double, 2> d = RandomDirection(rng);
  const double size = rng.Uniform(4.0, 24.0);
  const bool threeColours = stripes && rng.Chance(0.5);
  Fill(p, [&](double x, double y) {
    const long long u = Floor((x * d[0] + y * d[1]) / size);
    const long long v = Floor((y * d[0] - x * d[1]) / size);
    if (threeColours) {
      const long long k = (u % 3 + 3) % 3;
      return k == 0 ? a : k == 1 ? b : c;
    }
    return Odd(stripes ? u : u + v) ? a : b;
  });
}

// Bricks in rows, every other row shifted by half a brick, with mortar.
void Bricks(Picture& p, Pcg32& rng) {
  const Colour brick = RandomColour(rng), other = RandomColour(rng), mortar = RandomColour(rng);
  const double height = rng.Uniform(8.0, 24.0);
  const double width = height * rng.Uniform(1.5, 3.0);
  const double joint = rng.Uniform(1.0, 3.0);
  std::array<double, 16> shade{};
  for (double& s : shade) s = rng.Unit() * 0.35;
  Fill(p, [&](double x, double y) {
    const long long row = Floor(y / height);
    const double shifted = x + (Odd(row) ? width / 2.0 : 0.0);
    const long long column = Floor(shifted / width);
    const double inRow = y - static_cast<double>(row) * height;
    const double inColumn = shifted - static_cast<double>(column) * width;
    if (inRow < joint || inColumn < joint) return mortar;
    return Mix(brick, other, shade[static_cast<std::size_t>((row * 7 + column * 3) % 16 + 16) % 16]);
  });
}

// Cells: each pixel takes the colour of its nearest of a few random points,
// darkened near the border between two cells.
void Cells(Picture& p, Pcg32& rng) {
  const int count = 6 + static_cast<int>(rng.Below(20));
  std::vector<std::array<double, 2>> points(static_cast<std::size_t>(count));
  std::vector<Colour> colours(static_cast<std::size_t>(count));
  const Colour a = RandomColour(rng), b = RandomColour(rng), edge = RandomColour(rng);
  for (int k = 0; k < count; ++k) {
    points[static_cast<std::size_t>(k)] = {rng.Uniform(0.0, kSide), rng.Uniform(0.0, kSide)};
    colours[static_cast<std::size_t>(k)] = Mix(a, b, rng.Unit());
  }
  Fill(p, [&](double x, double y) {
    double nearest = 1e300, second = 1e300;
    std::size_t which = 0;
    for (std::size_t k = 0; k < points.size(); ++k) {
      const double dx = x - points[k][0], dy = y - points[k][1];
      const double d = std::sqrt(dx * dx + dy * dy);
      if (d < nearest) {
        second = nearest;
        nearest = d;
        which = k;
      } else if (d < second) {
        second = d;
      }
    }
    return second - nearest < 1.5 ? edge : colours[which];
  });
}

// Rings about a random centre, cycling through a small palette.
void Rings(Picture& p, Pcg32& rng) {
  const int count = 2 + static_cast<int>(rng.Below(3));
  std::vector<Colour> palette(static_cast<std::size_t>(count));
  for (Colour& c : palette) c = RandomColour(rng);
  const double cx = rng.Uniform(0.0, kSide), cy = rng.Uniform(0.0, kSide);
  const double width = rng.Uniform(3.0, 16.0);
  Fill(p, [&](double x, double y) {
    const double d = std::sqrt((x - cx) * (x - cx) + (y - cy) * (y - cy));
    return palette[static_cast<std::size_t>(Floor(d / width) % count)];
  });
}

// A linear gradient between two colours along a random direction.
void Gradient(Picture& p, Pcg32& rng) {
  const Colour a = RandomColour(rng), b = RandomColour(rng);
  const std::array<double, 2> d = RandomDirection(rng);
  // The projections of the corners bound the picture's extent along d.
  double lo = 1e300, hi = -1e300;
  for (const double x : {0.0, double{kSide}})
    for (const double y : {0.0, double{kSide}}) {
      lo = std::min(lo, x * d[0] + y * d[1]);
      hi = std::max(hi, x * d[0] + y * d[1]);
    }
  Fill(p, [&](double x, double y) { return Mix(a, b, (x * d[0] + y * d[1] - lo) / (hi - lo)); });
}

// Random axis-aligned rectangles over a background.
void Rectangles(Picture& p, Pcg32& rng) {
  const Colour background = RandomColour(rng);
  Fill(p, [&](double, double) { return background; });
  const int count = 4 + static_cast<int>(rng.Below(12));
  for (int k = 0; k < count; ++k) {
    const Colour c = RandomColour(rng);
    const int x0 = static_cast<int>(rng.Below(kSide)), y0 = static_cast<int>(rng.Below(kSide));
    const int w = 4 + static_cast<int>(rng.Below(kSide / 2)), h = 4 + static_cast<int>(rng.Below(kSide / 2));
    for (int y = y0; y < std::min(kSide, y0 + h); ++y)
      for (int x = x0; x < std::min(kSide, x0 + w); ++x) p.At(x, y) = c;
  }
}

BmpImage24 ToBmp(const Picture& p) {
  BmpImage24 image(kSide, kSide);
  image.SetPixelsPerMetre(2835);
  for (int y = 0; y < kSide; ++y) {
    uint8_t* row = image.Row(y);
    for (int x = 0; x < kSide; ++x) {
      const Colour& c = p.pixels[static_cast<std::size_t>(y) * kSide + x];
      for (int k = 0; k < 3; ++k) {
        // Blue-green-red; values are in 0..255 by construction, clamped all the same.
        const double v = std::clamp(std::floor(c[static_cast<std::size_t>(2 - k)] + 0.5), 0.0, 255.0);
        row[x * 3 + k] = static_cast<uint8_t>(v);
      }
    }
  }
  return image;
}

}  // namespace

std::vector<BmpImage24> GenerateTextureSet(uint64_t seed, int index) {
  // A stream apart from the scene text's, so that drawing textures changes
  // nothing in the scene.
  uint64_t mix = seed ^ 0x7465787475726573ULL;  // "textures"
  Pcg32 rng(SplitMix64(mix), static_cast<uint64_t>(index));
  std::vector<BmpImage24> set;
  for (int t = 0; t < kSceneTextureCount; ++t) {
    Picture picture;
    switch (rng.Below(8)) {
      case 0: ValueNoise(picture, rng); break;
      case 1: Checkers(picture, rng, false); break;
      case 2: Checkers(picture, rng, true); break;
      case 3: Bricks(picture, rng); break;
      case 4: Cells(picture, rng); break;
      case 5: Rings(picture, rng); break;
      case 6: Gradient(picture, rng); break;
      default: Rectangles(picture, rng); break;
    }
    set.push_back(ToBmp(picture));
  }
  return set;
}

std::vector<std::string> WriteTextureSet(uint64_t seed, int index, const std::string& folder) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder, ec)) {
    throw Error("cannot make the folder '" + folder + "'" + (ec ? ": " + ec.message() : std::string()));
  }
  const std::vector<BmpImage24> set = GenerateTextureSet(seed, index);
  std::vector<std::string> written;
  for (int t = 0; t < kSceneTextureCount; ++t) {
    const std::string path = (fs::path(folder) / TextureFileName(t)).string();
    set[static_cast<std::size_t>(t)].Save(path);
    written.push_back(path);
  }
  return written;
}

}  // namespace tovimar::scenegen
