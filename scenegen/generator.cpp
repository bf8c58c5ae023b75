#include "scenegen/generator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "base/error.h"
#include "io/file.h"
#include "scene/mesh_model.h"
#include "scene/scene_text.h"
#include "scenegen/random.h"
#include "scenegen/textures.h"
#include "layout/file_names.h"

namespace tovimar::scenegen {

namespace {

using Vec = std::array<double, 3>;

// The default view's camera and the renderer's near clipping plane.
constexpr Vec kCameraStart{0.0, -3.0, 0.0};
constexpr double kNearPlane = 0.5;
// Extra room kept between a solid and the camera's region.
constexpr double kClearance = 0.05;
constexpr double kPi = 3.14159265358979323846;
constexpr int kTextureCount = 11;  // tex0.bmp .. tex10.bmp

// ------------------------------------------------------------ number text

// Every number of a scene has four decimals; values are rounded to them
// before use, so what the generator checks is what the renderer reads.
double Q(double v) {
  const double r = std::round(v * 10000.0) / 10000.0;
  return r == 0.0 ? 0.0 : r;  // no "-0.0000"
}

std::string Fixed4(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, Q(v), std::chars_format::fixed, 4);
  return std::string(buf, res.ptr);
}

std::string Shortest(double v) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, res.ptr);
}

// ------------------------------------------------------------ geometry

// Sine and cosine of an angle in degrees by range reduction and a Taylor
// series: plain arithmetic, so every machine makes the same decisions.
double SinRad(double x) {
  x -= 2.0 * kPi * std::round(x / (2.0 * kPi));
  double term = x, sum = x;
  for (int n = 1; n < 12; ++n) {
    term *= -x * x / static_cast<double>((2 * n) * (2 * n + 1));
    sum += term;
  }
  return sum;
}
double SinDeg(double d) { return SinRad(d * (kPi / 180.0)); }
double CosDeg(double d) { return SinRad((d + 90.0) * (kPi / 180.0)); }

struct Rigid {
  double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  Vec t{};
};

// a * b: b applied first.
Rigid Compose(const Rigid& a, const Rigid& b) {
  Rigid out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      out.r[i][j] = a.r[i][0] * b.r[0][j] + a.r[i][1] * b.r[1][j] + a.r[i][2] * b.r[2][j];
    }
    out.t[i] = a.r[i][0] * b.t[0] + a.r[i][1] * b.t[1] + a.r[i][2] * b.t[2] + a.t[i];
  }
  return out;
}

Rigid Rotation(int axis, double degrees) {
  Rigid m;
  const double c = CosDeg(degrees), s = SinDeg(degrees);
  const int p = (axis + 1) % 3, q = (axis + 2) % 3;
  m.r[p][p] = c;
  m.r[p][q] = -s;
  m.r[q][p] = s;
  m.r[q][q] = c;
  return m;
}

// One EGO line as the renderer applies it: 256 times a 256th of the
// translation, then of the rotations about x, y and z.
Rigid Motion(const EgoMotion& m) {
  Rigid step;
  for (int i = 0; i < 3; ++i) step.t[i] = m.t[i] / 256.0;
  for (int axis = 0; axis < 3; ++axis) step = Compose(step, Rotation(axis, m.a[axis] / 256.0));
  Rigid whole;
  for (int k = 0; k < 256; ++k) whole = Compose(whole, step);
  return whole;
}

// The camera of the accumulated eye motion m, in world coordinates.
Vec CameraOf(const Rigid& m) {
  Vec c{};
  for (int i = 0; i < 3; ++i) c[i] = -(m.r[0][i] * m.t[0] + m.r[1][i] * m.t[1] + m.r[2][i] * m.t[2]);
  // Eye x, y, z are world x, z and -y around the default camera.
  return {kCameraStart[0] + c[0], kCameraStart[1] - c[2], kCameraStart[2] + c[1]};
}

// How far p is from the camera's region (a cube of half side roam around the start).
double DistanceToRegion(const Vec& p, double roam) {
  double sum = 0.0;
  for (int i = 0; i < 3; ++i) {
    const double d = std::max(std::fabs(p[i] - kCameraStart[i]) - roam, 0.0);
    sum += d * d;
  }
  return std::sqrt(sum);
}

bool InsideRegion(const Vec& p, double roam) {
  for (int i = 0; i < 3; ++i) {
    if (std::fabs(p[i] - kCameraStart[i]) > roam + 1e-9) return false;
  }
  return true;
}

// ------------------------------------------------------------ scene lines

// A solid as written: for the motions drawn after the scene.
struct Placed {
  int id = 0;
  Vec position{};
  double bound = 0.0;
};

struct Writer {
  std::string text;
  std::vector<Placed> placed;  // the solids written by WriteSolid
  std::vector<int> ids;  // shuffled 1..255, taken from the back
  Pcg32& rng;
  const GeneratorOptions& o;
  const std::vector<ModelChoice>& models;

  Writer(Pcg32& generator, const GeneratorOptions& options, const std::vector<ModelChoice>& modelChoices)
      : rng(generator), o(options), models(modelChoices) {
    for (int id = 1; id <= 255; ++id) ids.push_back(id);
    for (std::size_t i = ids.size() - 1; i > 0; --i) {
      std::swap(ids[i], ids[rng.Below(static_cast<uint32_t>(i + 1))]);
    }
  }

  // The first `whole` numbers (id, texture) are written without decimals;
  // `tail` (text fields) follows the numbers.
  void Line(const std::string& keyword, const std::vector<double>& numbers, std::size_t whole = 0,
            const std::string& tail = std::string()) {
    text += keyword;
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      text += ";" + (i < whole ? std::to_string(static_cast<int>(numbers[i])) : Fixed4(numbers[i]));
    }
    text += tail + ";\n";
  }

  int NextId() {
    const int id = ids.back();
    ids.pop_back();
    return id;
  }

  int Texture(double chance) { return rng.Chance(chance) ? static_cast<int>(rng.Below(kTextureCount)) : -1; }

  // id; texture; r; g; b
  std::vector<double> Head(int texture, double colourLow) {
    return {static_cast<double>(NextId()), static_cast<double>(texture), rng.Uniform(colourLow, 1.0),
            rng.Uniform(colourLow, 1.0), rng.Uniform(colourLow, 1.0)};
  }

  void Quad(int texture, const std::array<Vec, 4>& corners) {
    std::vector<double> n = Head(texture, 0.6);
    for (const Vec& c : corners) n.insert(n.end(), c.begin(), c.end());
    Line("QUAD", n, 2);
  }
};

enum class Kind { Sphere, Cuboid, Cylinder, Model };

// A solid's shape; sizes already rounded to what is written.
struct Shape {
  Kind kind = Kind::Sphere;
  double a = 0, b = 0, c = 0;  // radius | half sizes | base radius, top radius, height | scale, reach
  const ModelChoice* model = nullptr;
  double Bound() const {      // radius of a sphere around the position holding the solid
    switch (kind) {
      case Kind::Sphere: return a;
      case Kind::Cuboid: return std::sqrt(a * a + b * b + c * c);
      case Kind::Cylinder: return std::sqrt(std::max(a, b) * std::max(a, b) + c * c);
      case Kind::Model: return a * b;
    }
    return 0.0;
  }
};

// A model's scale: eight decimals, as models may be far larger than a solid.
std::string ScaleText(double scale) {
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, scale, std::chars_format::fixed, 8);
  return std::string(buf, res.ptr);
}

void WriteSolid(Writer& w, const Shape& s, const Vec& p, const Vec& rotation) {
  std::vector<double> n = w.Head(w.Texture(w.o.textureChance), 0.1);
  w.placed.push_back({static_cast<int>(n[0]), p, s.Bound()});
  n.insert(n.end(), {p[0], p[1], p[2], rotation[0], rotation[1], rotation[2]});
  switch (s.kind) {
    case Kind::Sphere:
      n.push_back(s.a);
      w.Line("SPHERE", n, 2);
      break;
    case Kind::Cuboid:
      n.insert(n.end(), {s.a, s.b, s.c});
      w.Line("CUBOID", n, 2);
      break;
    case Kind::Cylinder:
      n.insert(n.end(), {s.a, s.b, s.c});
      w.Line("CYLINDER", n, 2);
      break;
    case Kind::Model:
      w.Line("MESH", n, 2, ";" + ScaleText(s.a) + ";" + s.model->field);
      break;
  }
}

int DrawCount(Pcg32& rng, const Range& r) {
  const int lo = static_cast<int>(r.lo), hi = static_cast<int>(r.hi);
  return lo + static_cast<int>(rng.Below(static_cast<uint32_t>(hi - lo + 1)));
}

constexpr int kPlacementTries = 40;

void FlyingScene(Writer& w) {
  const GeneratorOptions& o = w.o;
  Pcg32& rng = w.rng;
  // Background: a textured quad beyond the farthest solid, wide enough to
  // fill the view wherever the camera roams.
  const double distance = o.depth.hi + 2.0;
  const double y = Q(kCameraStart[1] + distance);
  const double halfWidth = Q(0.8 * distance + o.roam + 1.0);
  const double halfHeight = Q(0.6 * distance + o.roam + 1.0);
  w.Quad(static_cast<int>(rng.Below(kTextureCount)), {Vec{-halfWidth, y, -halfHeight}, Vec{halfWidth, y, -halfHeight},
                                                      Vec{halfWidth, y, halfHeight}, Vec{-halfWidth, y, halfHeight}});
  if (rng.Chance(o.floorChance)) {
    const double floorZ = Q(-(o.roam + kNearPlane + rng.Uniform(0.5, 2.0)));
    std::vector<double> n = w.Head(w.Texture(o.textureChance), 0.3);
    n.insert(n.end(), {0.0, 0.0, 1.0, 0.0, 0.0, floorZ});
    w.Line("PLANE", n, 2);
  }
  const int count = DrawCount(rng, *o.objects);
  for (int k = 0; k < count; ++k) {
    Shape s;
    const uint32_t kind = w.models.empty() ? rng.Below(3) : 3;
    if (kind == 3) {
      const ModelChoice& m = w.models[rng.Below(static_cast<uint32_t>(w.models.size()))];
      const double size = rng.Uniform(o.size->lo, o.size->hi);
      const double scale = std::round(size / m.halfSize * 1e8) / 1e8;
      if (!(scale > 0.0)) throw Error("--models: the model '" + m.field + "' is too large to scale to --size");
      s = {Kind::Model, scale, m.reach, 0, &m};
    } else if (kind == 0) {
      s = {Kind::Sphere, Q(rng.Uniform(o.size->lo, o.size->hi)), 0, 0};
    } else if (kind == 1) {
      s = {Kind::Cuboid, Q(rng.Uniform(o.size->lo, o.size->hi)), Q(rng.Uniform(o.size->lo, o.size->hi)),
           Q(rng.Uniform(o.size->lo, o.size->hi))};
    } else {
      const double base = Q(rng.Uniform(o.size->lo, o.size->hi));
      const double top = rng.Chance(o.coneChance) ? 0.0 : Q(rng.Uniform(o.size->lo, o.size->hi));
      s = {Kind::Cylinder, base, top, Q(2.0 * rng.Uniform(o.size->lo, o.size->hi))};
    }
    for (int attempt = 0; attempt < kPlacementTries; ++attempt) {
      const double ahead = rng.Uniform(o.depth.lo, o.depth.hi);
      const Vec p{Q(rng.Uniform(-0.6, 0.6) * ahead), Q(kCameraStart[1] + ahead), Q(rng.Uniform(-0.45, 0.45) * ahead)};
      if (DistanceToRegion(p, o.roam) <= s.Bound() + kNearPlane + kClearance) continue;
      const Vec rotation{Q(rng.Uniform(0.0, 360.0)), Q(rng.Uniform(0.0, 360.0)), Q(rng.Uniform(0.0, 360.0))};
      WriteSolid(w, s, p, rotation);
      break;
    }
  }
}

void RoomScene(Writer& w) {
  const GeneratorOptions& o = w.o;
  Pcg32& rng = w.rng;
  const double margin = o.roam + kNearPlane + 0.1;  // camera region to any wall
  const double halfWidth = Q(0.5 * rng.Uniform(o.roomWidth.lo, o.roomWidth.hi));
  const double height = rng.Uniform(o.roomHeight.lo, o.roomHeight.hi);
  const double length = rng.Uniform(o.roomLength.lo, o.roomLength.hi);
  const double eyeLow = std::max(margin, 1.0), eyeHigh = std::max(eyeLow, std::min(height - margin, 1.7));
  const double z0 = Q(-rng.Uniform(eyeLow, eyeHigh));
  const double z1 = Q(z0 + height);
  const double y0 = Q(kCameraStart[1] - margin - 0.2);
  const double y1 = Q(y0 + length);
  const double x0 = -halfWidth, x1 = halfWidth;
  const int wallTexture = static_cast<int>(rng.Below(kTextureCount));
  // Left, right, far and near walls, floor, ceiling.
  w.Quad(wallTexture, {Vec{x0, y0, z0}, Vec{x0, y1, z0}, Vec{x0, y1, z1}, Vec{x0, y0, z1}});
  w.Quad(wallTexture, {Vec{x1, y0, z0}, Vec{x1, y1, z0}, Vec{x1, y1, z1}, Vec{x1, y0, z1}});
  w.Quad(static_cast<int>(rng.Below(kTextureCount)), {Vec{x0, y1, z0}, Vec{x1, y1, z0}, Vec{x1, y1, z1}, Vec{x0, y1, z1}});
  w.Quad(wallTexture, {Vec{x0, y0, z0}, Vec{x1, y0, z0}, Vec{x1, y0, z1}, Vec{x0, y0, z1}});
  w.Quad(static_cast<int>(rng.Below(kTextureCount)), {Vec{x0, y0, z0}, Vec{x1, y0, z0}, Vec{x1, y1, z0}, Vec{x0, y1, z0}});
  w.Quad(w.Texture(0.5), {Vec{x0, y0, z1}, Vec{x1, y0, z1}, Vec{x1, y1, z1}, Vec{x0, y1, z1}});

  const int count = DrawCount(rng, *o.objects);
  for (int k = 0; k < count; ++k) {
    Shape s;
    double footprint = 0.0, lift = 0.0;  // radius on the floor, position above the floor
    const uint32_t kind = rng.Below(20);
    if (kind < 10) {  // a box standing on the floor, turned about the vertical
      const double hz = Q(std::min(rng.Uniform(o.size->lo, 2.0 * o.size->hi), 0.45 * height));
      s = {Kind::Cuboid, Q(rng.Uniform(o.size->lo, o.size->hi)), Q(rng.Uniform(o.size->lo, o.size->hi)), hz};
      footprint = std::sqrt(s.a * s.a + s.b * s.b);
      lift = hz;
    } else if (kind < 17) {  // a column, a table leg, a cone
      const double base = Q(rng.Uniform(o.size->lo, o.size->hi));
      const double top = rng.Chance(o.coneChance) ? 0.0 : Q(rng.Uniform(0.5, 1.0) * base);
      s = {Kind::Cylinder, base, top, Q(std::min(rng.Uniform(2.0 * o.size->lo, 4.0 * o.size->hi), 0.9 * height))};
      footprint = base;
    } else {  // a ball on the floor
      s = {Kind::Sphere, Q(rng.Uniform(o.size->lo, o.size->hi)), 0, 0};
      footprint = s.a;
      lift = s.a;
    }
    const double inset = footprint + kClearance;
    if (x1 - inset <= x0 + inset) continue;
    for (int attempt = 0; attempt < kPlacementTries; ++attempt) {
      const Vec p{Q(rng.Uniform(x0 + inset, x1 - inset)), Q(rng.Uniform(y0 + inset, y1 - inset)), Q(z0 + lift)};
      if (DistanceToRegion(p, o.roam) <= s.Bound() + kNearPlane + kClearance) continue;
      const Vec rotation{0.0, 0.0, s.kind == Kind::Cuboid ? Q(rng.Uniform(0.0, 360.0)) : 0.0};
      WriteSolid(w, s, p, rotation);
      break;
    }
  }
}

// A smooth random walk: velocities and turn rates follow their previous
// values with random nudges; turns are pulled back toward the start heading.
// A step that would take the camera out of its region reverses the offending
// axes, or, failing that, moves halfway back to the start without turning.
void CameraPath(Writer& w) {
  const GeneratorOptions& o = w.o;
  Pcg32& rng = w.rng;
  Vec velocity{}, rate{}, heading{};
  Rigid eye;
  const std::array<double, 3> turnScale{1.0, 1.0, 0.3};  // pitch, yaw, little roll
  for (int frame = 0; frame < o.frames; ++frame) {
    for (int i = 0; i < 3; ++i) {
      velocity[i] = std::clamp(0.8 * velocity[i] + 0.2 * rng.Uniform(-3.0, 3.0) * o.speed, -o.speed, o.speed);
      const double limit = o.turn * turnScale[i];
      rate[i] = std::clamp(0.8 * rate[i] + 0.2 * rng.Uniform(-3.0, 3.0) * limit - 0.1 * heading[i], -limit, limit);
    }
    auto motionFor = [&](const Vec& v, const Vec& r) {
      // World steps x, y, z are eye steps -x, z, -y.
      EgoMotion m;
      m.t = {Q(-v[0]), Q(-v[2]), Q(v[1])};
      m.a = {Q(r[0]), Q(r[1]), Q(r[2])};
      return m;
    };
    EgoMotion m = motionFor(velocity, rate);
    Rigid next = Compose(eye, Motion(m));
    Vec camera = CameraOf(next);
    if (!InsideRegion(camera, o.roam)) {
      for (int i = 0; i < 3; ++i) {
        if (std::fabs(camera[i] - kCameraStart[i]) > o.roam) velocity[i] = -velocity[i];
      }
      m = motionFor(velocity, rate);
      next = Compose(eye, Motion(m));
      camera = CameraOf(next);
    }
    if (!InsideRegion(camera, o.roam)) {
      const Vec now = CameraOf(eye);
      velocity = {0.5 * (kCameraStart[0] - now[0]), 0.5 * (kCameraStart[1] - now[1]), 0.5 * (kCameraStart[2] - now[2])};
      rate = {};
      m = motionFor(velocity, rate);
      next = Compose(eye, Motion(m));
      velocity = {};
    }
    eye = next;
    for (int i = 0; i < 3; ++i) heading[i] += m.a[i];
    w.Line("EGO", {m.t[0], m.t[1], m.t[2], m.a[0], m.a[1], m.a[2]});
  }
}

// flying with `moving`: FlyingThings-style motion, a constant random step
// and turn per frame for a share of the solids (frame 0 as written). From a
// stream of its own, so the lines before are those of a scene without it. A
// solid whose steps would bring it too near the camera's region only turns.
void FlyingMotion(Writer& w, int index) {
  const GeneratorOptions& o = w.o;
  uint64_t mix = o.seed ^ 0x6d6f76656d656e74ULL;  // "movement"
  Pcg32 rng(SplitMix64(mix), static_cast<uint64_t>(index));
  struct Mover {
    int id;
    Vec step, turn;
  };
  std::vector<Mover> movers;
  for (const Placed& solid : w.placed) {
    if (!rng.Chance(o.moving)) continue;
    Mover m{solid.id, {}, {}};
    for (int i = 0; i < 3; ++i) m.step[i] = Q(rng.Uniform(-o.moveSpeed, o.moveSpeed));
    for (int i = 0; i < 3; ++i) m.turn[i] = Q(rng.Uniform(-o.moveTurn, o.moveTurn));
    for (int frame = 1; frame < o.frames; ++frame) {
      const Vec p{solid.position[0] + frame * m.step[0], solid.position[1] + frame * m.step[1],
                  solid.position[2] + frame * m.step[2]};
      if (DistanceToRegion(p, o.roam) <= solid.bound + kNearPlane + kClearance) {
        m.step = {};
        break;
      }
    }
    movers.push_back(m);
  }
  for (int frame = 0; frame < o.frames; ++frame) {
    for (const Mover& m : movers) {
      const Vec& t = frame == 0 ? Vec{} : m.step;
      const Vec& a = frame == 0 ? Vec{} : m.turn;
      w.Line("MOVE", {static_cast<double>(m.id), t[0], t[1], t[2], a[0], a[1], a[2]}, 1);
    }
  }
}

// ------------------------------------------------------------ street

// Metres, with KITTI's camera: 1.65 above the ground, 0.54 baseline, 721.5 px
// focal length. The road runs along +y; the camera drives in the lane at
// x = 0, the oncoming lane is at x = -3.5.
constexpr double kStreetGround = -1.65;
constexpr double kLane = 3.5;
constexpr double kSegment = 10.0;   // length of one road and pavement quad
constexpr double kSkyAhead = 33.0;  // the sky quad, inside the far plane (34)

// The camera's path: a constant step along its heading, with small turns
// that keep it near the lane's centre. Returns the camera position after
// each EGO line (entry 0: the start).
std::vector<Vec> StreetCamera(Writer& w) {
  const GeneratorOptions& o = w.o;
  Pcg32& rng = w.rng;
  Rigid eye;
  std::vector<Vec> positions;
  double heading = 0.0, rate = 0.0;  // degrees, to the right
  for (int frame = 0; frame < o.frames; ++frame) {
    const Vec now = CameraOf(eye);
    EgoMotion m;
    if (frame > 0) {
      rate = std::clamp(0.7 * rate + 0.3 * rng.Uniform(-1.0, 1.0) * o.turn - 0.15 * heading - 0.5 * now[0], -o.turn,
                        o.turn);
      m.a = {0.0, Q(rate), 0.0};
      const double turned = heading + m.a[1];
      const Vec target{now[0] + o.streetSpeed * SinDeg(turned), now[1] + o.streetSpeed * CosDeg(turned), now[2]};
      // The new camera is R^T (c - T) of the old one (eye axes: x, z, -y from
      // the start); T = A t is linear in the line's translation t.
      const Rigid turn = Motion(EgoMotion{{0, 0, 0}, m.a});
      const Vec c{now[0] - kCameraStart[0], now[2] - kCameraStart[2], -(now[1] - kCameraStart[1])};
      const Vec e{target[0] - kCameraStart[0], target[2] - kCameraStart[2], -(target[1] - kCameraStart[1])};
      Vec need{};
      for (int i = 0; i < 3; ++i)
        need[i] = c[i] - (turn.r[i][0] * e[0] + turn.r[i][1] * e[1] + turn.r[i][2] * e[2]) - turn.t[i];
      double a[3][3];
      for (int j = 0; j < 3; ++j) {
        EgoMotion unit{{0, 0, 0}, m.a};
        unit.t[j] = 1.0;
        const Rigid column = Motion(unit);
        for (int i = 0; i < 3; ++i) a[i][j] = column.t[i] - turn.t[i];
      }
      auto det = [](const double (&x)[3][3]) {
        return x[0][0] * (x[1][1] * x[2][2] - x[1][2] * x[2][1]) - x[0][1] * (x[1][0] * x[2][2] - x[1][2] * x[2][0]) +
               x[0][2] * (x[1][0] * x[2][1] - x[1][1] * x[2][0]);
      };
      const double d = det(a);
      for (int j = 0; j < 3; ++j) {
        double b[3][3];
        for (int i = 0; i < 3; ++i)
          for (int k = 0; k < 3; ++k) b[i][k] = k == j ? need[i] : a[i][k];
        m.t[j] = Q(det(b) / d);
      }
    }
    eye = Compose(eye, Motion(m));
    heading += m.a[1];
    positions.push_back(CameraOf(eye));
    w.Line("EGO", {m.t[0], m.t[1], m.t[2], m.a[0], m.a[1], m.a[2]});
  }
  return positions;
}

void StreetScene(Writer& w) {
  const GeneratorOptions& o = w.o;
  Pcg32& rng = w.rng;
  w.Line("FOCALLENGTH", {721.5});
  w.Line("BASELINE", {0.54});
  const double travel = o.streetSpeed * (o.frames - 1);
  const double y0 = kCameraStart[1] - kSegment;
  const double y1 = kCameraStart[1] + travel + kSkyAhead + kSegment;
  const double roadLeft = -1.5 * kLane, roadRight = 0.5 * kLane;
  const double walk = Q(rng.Uniform(2.5, 4.0));
  const double kerb = kStreetGround + 0.15;
  auto line = [&w](const char* keyword, int id, int texture, const Vec& colour, const std::vector<double>& rest) {
    std::vector<double> n{static_cast<double>(id), static_cast<double>(texture), colour[0], colour[1], colour[2]};
    n.insert(n.end(), rest.begin(), rest.end());
    w.Line(keyword, n, 2);
  };
  auto flat = [&](int id, int texture, const Vec& colour, double xa, double xb, double ya, double yb, double z) {
    line("QUAD", id, texture, colour, {xa, ya, z, xb, ya, z, xb, yb, z, xa, yb, z});
  };
  auto grey = [&rng](double lo, double hi) {
    const double g = Q(rng.Uniform(lo, hi));
    return Vec{g, g, g};
  };
  // Ground, road and pavements (ids 1, 2, 3), in segments so textures keep their scale.
  // Draws in separate statements: the order of a call's arguments is not fixed.
  const int groundTexture = w.Texture(0.5);
  const Vec ground = grey(0.3, 0.6);
  line("PLANE", 1, groundTexture, ground, {0.0, 0.0, 1.0, 0.0, 0.0, kStreetGround});
  const int roadTexture = static_cast<int>(rng.Below(kTextureCount));
  const int walkTexture = static_cast<int>(rng.Below(kTextureCount));
  const Vec road = grey(0.3, 0.5), pavement = grey(0.6, 0.85);
  for (double y = y0; y < y1; y += kSegment) {
    const double ya = Q(y), yb = Q(y + kSegment);
    flat(2, roadTexture, road, roadLeft, roadRight, ya, yb, Q(kStreetGround + 0.01));
    flat(3, walkTexture, pavement, roadRight, Q(roadRight + walk), ya, yb, Q(kerb));
    flat(3, walkTexture, pavement, Q(roadLeft - walk), roadLeft, ya, yb, Q(kerb));
  }
  // The sky (id 4): a quad ahead that moves with the camera.
  const double skyY = Q(kCameraStart[1] + kSkyAhead);
  line("QUAD", 4, -1, {Q(rng.Uniform(0.55, 0.7)), Q(rng.Uniform(0.7, 0.8)), Q(rng.Uniform(0.85, 1.0))},
       {-40.0, skyY, kStreetGround, 40.0, skyY, kStreetGround, 40.0, skyY, 30.0, -40.0, skyY, 30.0});
  int nextId = 5;
  // Vehicles: boxes and cylinders lying along the road, each lane at one
  // speed (so none drives into another), the own lane's no slower than the
  // camera and starting ahead of it.
  struct Vehicle {
    int id;
    double step;
  };
  std::vector<Vehicle> vehicles;
  const double ownSpeed = o.streetSpeed * rng.Uniform(1.0, 1.3);
  const double otherSpeed = -o.streetSpeed * rng.Uniform(0.8, 1.3);
  double ownY = kCameraStart[1] + 8.0, otherY = kCameraStart[1] + 4.0;
  const int count = DrawCount(rng, *o.objects);
  for (int k = 0; k < count; ++k) {
    const bool own = rng.Chance(0.5);
    double& y = own ? ownY : otherY;
    const double x = own ? 0.0 : -kLane;
    const int id = nextId++;
    const int texture = w.Texture(0.5);
    const Vec colour{Q(rng.Uniform(0.1, 1.0)), Q(rng.Uniform(0.1, 1.0)), Q(rng.Uniform(0.1, 1.0))};
    double length = 0.0;
    if (rng.Chance(0.7)) {  // a car or a van
      const double hx = Q(rng.Uniform(0.8, 1.0)), hy = Q(rng.Uniform(1.9, 2.6)), hz = Q(rng.Uniform(0.6, 1.1));
      length = 2.0 * hy;
      line("CUBOID", id, texture, colour, {Q(x), Q(y + hy), Q(kStreetGround + 0.3 + hz), 0.0, 0.0, 0.0, hx, hy, hz});
    } else {  // a tanker: a cylinder lying along the road
      const double r = Q(rng.Uniform(0.9, 1.2));
      length = Q(rng.Uniform(5.0, 8.0));
      line("CYLINDER", id, texture, colour, {Q(x), Q(y), Q(kStreetGround + 0.4 + r), -90.0, 0.0, 0.0, r, r, length});
    }
    y += length + rng.Uniform(6.0, 18.0);
    vehicles.push_back({id, Q(own ? ownSpeed : otherSpeed)});
  }
  // Poles and houses along both sides.
  for (const double side : {1.0, -1.0}) {
    const double edge = side > 0 ? roadRight + walk : roadLeft - walk;
    for (double y = y0 + rng.Uniform(0.0, 10.0); y < y1; y += rng.Uniform(12.0, 25.0)) {
      const double r = Q(rng.Uniform(0.08, 0.14));
      const int texture = w.Texture(0.3);
      const Vec colour = grey(0.3, 0.7);
      const double height = Q(rng.Uniform(4.0, 7.0));
      line("CYLINDER", nextId++, texture, colour,
           {Q(side > 0 ? roadRight + 0.5 : roadLeft - 0.5), Q(y), Q(kerb), 0.0, 0.0, 0.0, r, r, height});
    }
    for (double y = y0; y < y1;) {
      const double length = rng.Uniform(6.0, 14.0), depth = rng.Uniform(6.0, 10.0), height = rng.Uniform(4.0, 12.0);
      const double setback = rng.Uniform(0.0, 2.0);
      const Vec colour{Q(rng.Uniform(0.4, 1.0)), Q(rng.Uniform(0.4, 1.0)), Q(rng.Uniform(0.4, 1.0))};
      const int texture = static_cast<int>(rng.Below(kTextureCount));
      line("CUBOID", nextId++, texture, colour,
           {Q(edge + side * (setback + 0.5 * depth)), Q(y + 0.5 * length), Q(kStreetGround + 0.5 * height), 0.0, 0.0,
            0.0, Q(0.5 * depth), Q(0.5 * length), Q(0.5 * height)});
      y += length + rng.Uniform(0.5, 4.0);
    }
  }
  const std::vector<Vec> camera = StreetCamera(w);
  // Frame 0 as written; then the vehicles drive and the sky keeps its place
  // ahead of the camera.
  for (int frame = 0; frame < o.frames; ++frame) {
    const std::size_t f = static_cast<std::size_t>(frame);
    Vec sky{};
    if (frame > 0) {
      for (int i = 0; i < 3; ++i) sky[i] = Q(camera[f][i] - camera[f - 1][i]);
    }
    w.Line("MOVE", {4.0, sky[0], sky[1], sky[2], 0.0, 0.0, 0.0}, 1);
    for (const Vehicle& v : vehicles)
      w.Line("MOVE", {static_cast<double>(v.id), 0.0, frame == 0 ? 0.0 : v.step, 0.0, 0.0, 0.0, 0.0}, 1);
  }
}

std::string RangeText(const Range& r) { return Shortest(r.lo) + "," + Shortest(r.hi); }

// The comment lines at the top: no ';' and no keyword, so they never convert.
std::string Header(const GeneratorOptions& o, int index) {
  std::string text = "// tovimar-scenegen preset ";
  text += o.preset == Preset::Flying ? "flying" : o.preset == Preset::Room ? "room" : "street";
  text += " seed " + std::to_string(o.seed) + " scene " + std::to_string(index) + "\n";
  text += "// options --frames " + std::to_string(o.frames) + " --objects " + RangeText(*o.objects) + " --size " +
          RangeText(*o.size) + " --depth " + RangeText(o.depth) + " --noise " + RangeText(o.noise) +
          " --fog-chance " + Shortest(o.fogChance) + " --floor-chance " + Shortest(o.floorChance) +
          " --cone-chance " + Shortest(o.coneChance) + " --texture-chance " + Shortest(o.textureChance) +
          "\n// options --speed " + Shortest(o.speed) + " --turn " + Shortest(o.turn) + " --roam " +
          Shortest(o.roam) + " --room-width " + RangeText(o.roomWidth) + " --room-length " +
          RangeText(o.roomLength) + " --room-height " + RangeText(o.roomHeight) + "\n";
  // Options that older scenes did not have appear only when they act.
  if (o.preset == Preset::Flying && o.moving > 0.0) {
    text += "// options --moving " + Shortest(o.moving) + " --move-speed " + Shortest(o.moveSpeed) +
            " --move-turn " + Shortest(o.moveTurn) + "\n";
  }
  if (o.preset == Preset::Street) text += "// options --street-speed " + Shortest(o.streetSpeed) + "\n";
  if (!o.modelsDir.empty()) text += "// options --models " + o.modelsDir + "\n";
  return text;
}

}  // namespace

GeneratorOptions GeneratorOptions::Resolved() const {
  GeneratorOptions r = *this;
  const bool flying = preset == Preset::Flying;
  if (!r.objects) r.objects = flying ? Range{8, 20} : Range{4, 10};  // street: vehicles
  if (!r.size) r.size = flying ? Range{0.15, 0.7} : Range{0.2, 0.6};
  return r;
}

std::string SceneFileName(int index) {
  std::string digits = std::to_string(index);
  if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
  return "scene_" + digits + ".txt";
}

std::vector<ModelChoice> FindModels(const std::string& dir, const std::string& sceneDir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw Error("--models: the folder '" + dir + "' does not exist or is not a folder");
  std::vector<fs::path> files;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    std::string extension = it->path().extension().string();
    if (extension.empty()) continue;
    extension.erase(0, 1);
    for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* known : kModelExtensions) {
      if (extension == known) files.push_back(it->path());
    }
  }
  if (ec) throw Error("--models: cannot read the folder '" + dir + "': " + ec.message());
  if (files.empty()) {
    throw Error("--models: the folder '" + dir + "' holds no model file (.obj, .gltf, .glb, .ply or .stl)");
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
  const fs::path base = fs::weakly_canonical(fs::absolute(sceneDir, ec), ec);
  std::vector<ModelChoice> models;
  std::string firstReason;
  for (const fs::path& file : files) {
    LoadedModel loaded;
    try {
      loaded = LoadModelFile(file.string());
    } catch (const std::exception& e) {
      if (firstReason.empty()) firstReason = file.filename().string() + ": " + e.what();
      continue;
    }
    const std::vector<float>& p = loaded.model->positions;
    Vec lo{p[0], p[1], p[2]}, hi = lo;
    for (std::size_t i = 0; i < p.size(); ++i) {
      lo[i % 3] = std::min(lo[i % 3], static_cast<double>(p[i]));
      hi[i % 3] = std::max(hi[i % 3], static_cast<double>(p[i]));
    }
    ModelChoice m;
    double reach2 = 0.0;
    for (int i = 0; i < 3; ++i) {
      m.halfSize = std::max(m.halfSize, 0.5 * (hi[i] - lo[i]));
      const double far = std::max(std::fabs(lo[i]), std::fabs(hi[i]));
      reach2 += far * far;
    }
    m.reach = std::sqrt(reach2);
    if (!(m.halfSize > 0.0)) {
      if (firstReason.empty()) firstReason = file.filename().string() + ": its bounding box has no size";
      continue;
    }
    const fs::path absolute = fs::weakly_canonical(fs::absolute(file, ec), ec);
    const fs::path relative = ec ? fs::path() : absolute.lexically_relative(base);
    m.field = relative.empty() ? absolute.string() : relative.string();
    if (m.field.find_first_of(";\r\n") != std::string::npos || m.field.front() == ' ' || m.field.back() == ' ') {
      if (firstReason.empty()) firstReason = file.filename().string() + ": its path cannot be a MESH file field";
      continue;
    }
    models.push_back(m);
  }
  if (models.empty()) throw Error("--models: no usable model in the folder '" + dir + "' (" + firstReason + ")");
  return models;
}

std::string GenerateScene(const GeneratorOptions& options, int index) {
  return GenerateScene(options, index,
                       options.modelsDir.empty() ? std::vector<ModelChoice>()
                                                 : FindModels(options.modelsDir, options.outDir));
}

std::string GenerateScene(const GeneratorOptions& options, int index, const std::vector<ModelChoice>& models) {
  const GeneratorOptions o = options.Resolved();
  uint64_t mix = o.seed;
  Pcg32 rng(SplitMix64(mix), static_cast<uint64_t>(index));
  Writer w(rng, o, models);
  w.text = Header(o, index);
  w.Line("NOISE", {Q(rng.Uniform(o.noise.lo, o.noise.hi))});
  if (rng.Chance(o.fogChance)) w.text += "FOG;\n";
  if (o.preset == Preset::Street) {
    StreetScene(w);
    return w.text;
  }
  if (o.preset == Preset::Flying) {
    FlyingScene(w);
  } else {
    RoomScene(w);
  }
  CameraPath(w);
  if (o.preset == Preset::Flying && o.moving > 0.0) FlyingMotion(w, index);
  return w.text;
}

std::vector<std::array<double, 3>> CameraPositions(const std::vector<EgoMotion>& path) {
  std::vector<std::array<double, 3>> out;
  Rigid eye;
  for (const EgoMotion& m : path) {
    eye = Compose(eye, Motion(m));
    out.push_back(CameraOf(eye));
  }
  return out;
}

std::vector<std::string> WriteScenes(const GeneratorOptions& options) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(options.outDir, ec);
  if (ec || !fs::is_directory(options.outDir, ec)) {
    throw Error("cannot make the folder '" + options.outDir + "'" + (ec ? ": " + ec.message() : std::string()));
  }
  const std::vector<ModelChoice> models =
      options.modelsDir.empty() ? std::vector<ModelChoice>() : FindModels(options.modelsDir, options.outDir);
  std::vector<std::string> written;
  for (int i = 0; i < options.count; ++i) {
    const std::string path = (fs::path(options.outDir) / SceneFileName(i)).string();
    const std::string text = GenerateScene(options, i, models);
    // tovimar-render refuses larger scene files: writing one would only move the failure to the render.
    if (text.size() > kMaxSceneFileBytes) {
      throw Error("scene " + std::to_string(i) + " would be " + std::to_string(text.size() >> 20) +
                  " MB, more than the " + std::to_string(kMaxSceneFileBytes >> 20) +
                  " MB a scene file may hold; not written (use fewer --frames or --objects)");
    }
    if (options.textures) WriteTextureSet(options.seed, i, SceneTextureFolder(path));
    WriteWholeFile(path, text.data(), text.size());
    written.push_back(path);
  }
  return written;
}

}  // namespace tovimar::scenegen
