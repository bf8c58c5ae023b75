#include "truth/camera_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tovimar {

Mat4 FromColumnMajor(const std::array<double, 16>& g) {
  Mat4 m{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m[static_cast<std::size_t>(r * 4 + c)] = g[static_cast<std::size_t>(c * 4 + r)];
  return m;
}

Mat4 Multiply(const Mat4& a, const Mat4& b) {
  Mat4 m{};
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) {
      double s = 0;
      for (std::size_t k = 0; k < 4; ++k) s += a[r * 4 + k] * b[k * 4 + c];
      m[r * 4 + c] = s;
    }
  return m;
}

Mat4 Inverse(const Mat4& m) {
  double a[4][8];
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 8; ++c) a[r][c] = c < 4 ? m[r * 4 + c] : (c - 4 == r ? 1.0 : 0.0);
  for (std::size_t col = 0; col < 4; ++col) {
    std::size_t pivot = col;
    for (std::size_t r = col + 1; r < 4; ++r)
      if (std::fabs(a[r][col]) > std::fabs(a[pivot][col])) pivot = r;
    if (a[pivot][col] == 0.0 || !std::isfinite(a[pivot][col])) {
      Mat4 nan;
      nan.fill(std::numeric_limits<double>::quiet_NaN());
      return nan;
    }
    if (pivot != col)
      for (std::size_t c = 0; c < 8; ++c) std::swap(a[pivot][c], a[col][c]);
    const double p = a[col][col];
    for (std::size_t c = 0; c < 8; ++c) a[col][c] /= p;
    for (std::size_t r = 0; r < 4; ++r) {
      if (r == col || a[r][col] == 0.0) continue;
      const double f = a[r][col];
      for (std::size_t c = 0; c < 8; ++c) a[r][c] -= f * a[col][c];
    }
  }
  Mat4 inv{};
  for (std::size_t r = 0; r < 4; ++r)
    for (std::size_t c = 0; c < 4; ++c) inv[r * 4 + c] = a[r][c + 4];
  return inv;
}

Intrinsics IntrinsicsFromPerspective(const std::array<double, 16>& p, int width, int height) {
  // Window x = (ndc x + 1) W / 2 has pixel centres at i + 0.5; ndc x =
  // p[0] X / Z in camera axes, so u = W/2 p[0] X/Z + W/2 - 1/2. Rows count
  // from the top while window y counts from the bottom, which the y-down axis
  // absorbs.
  Intrinsics k;
  k.fx = 0.5 * width * p[0];
  k.fy = 0.5 * height * p[5];
  k.cx = 0.5 * width - 0.5;
  k.cy = 0.5 * height - 0.5;
  return k;
}

Mat4 CameraToWorld(const std::array<double, 16>& perspectiveGL, const std::array<double, 16>& projectionGL,
                   const std::array<double, 16>& modelviewGL) {
  // projection = perspective * motion, so motion = perspective^-1 * projection;
  // world to GL eye = motion * view; OpenCV axes flip y and z.
  const Mat4 motion = Multiply(Inverse(FromColumnMajor(perspectiveGL)), FromColumnMajor(projectionGL));
  Mat4 worldToCamera = Multiply(motion, FromColumnMajor(modelviewGL));
  for (std::size_t c = 0; c < 4; ++c) {
    worldToCamera[4 + c] = -worldToCamera[4 + c];
    worldToCamera[8 + c] = -worldToCamera[8 + c];
  }
  return Inverse(worldToCamera);
}

Mat4 NearestRigidMotion(const Mat4& m) {
  const double scale = m[15];
  if (!(std::isfinite(scale) && scale != 0.0)) return m;
  // Newton's iteration for the polar factor, X <- (X + X^-T) / 2: quadratic
  // convergence from a near-rotation, to rounding within a few steps.
  double x[3][3];
  for (std::size_t r = 0; r < 3; ++r)
    for (std::size_t c = 0; c < 3; ++c) x[r][c] = m[r * 4 + c] / scale;
  for (int step = 0; step < 30; ++step) {
    // X^-T = cofactors / determinant.
    double cof[3][3];
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t c = 0; c < 3; ++c) {
        const std::size_t r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
        cof[r][c] = x[r1][c1] * x[r2][c2] - x[r1][c2] * x[r2][c1];
      }
    }
    const double det = x[0][0] * cof[0][0] + x[0][1] * cof[0][1] + x[0][2] * cof[0][2];
    if (!(std::isfinite(det) && det > 0.0)) return m;
    double change = 0;
    for (std::size_t r = 0; r < 3; ++r) {
      for (std::size_t c = 0; c < 3; ++c) {
        const double next = 0.5 * (x[r][c] + cof[r][c] / det);
        change = std::max(change, std::fabs(next - x[r][c]));
        x[r][c] = next;
      }
    }
    if (change < 1e-15) break;
  }
  Mat4 rigid{};
  for (std::size_t r = 0; r < 3; ++r) {
    for (std::size_t c = 0; c < 3; ++c) rigid[r * 4 + c] = x[r][c];
    rigid[r * 4 + 3] = m[r * 4 + 3] / scale;
  }
  rigid[15] = 1.0;
  return rigid;
}

bool ProjectPoint(const Intrinsics& k, const Mat4& cameraToWorld, const std::array<double, 3>& world, double& u,
                  double& v, double* depth) {
  const Mat4 w = Inverse(cameraToWorld);
  double c[3];
  for (std::size_t r = 0; r < 3; ++r)
    c[r] = w[r * 4] * world[0] + w[r * 4 + 1] * world[1] + w[r * 4 + 2] * world[2] + w[r * 4 + 3];
  if (!(c[2] > 0.0)) return false;
  u = k.fx * c[0] / c[2] + k.cx;
  v = k.fy * c[1] / c[2] + k.cy;
  if (depth) *depth = c[2];
  return true;
}

}  // namespace tovimar
