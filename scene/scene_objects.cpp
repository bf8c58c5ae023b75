#include "scene/scene_objects.h"

#include <algorithm>
#include <cmath>

#include "scene/linear_solve.h"
#include "scene/matrix.h"

namespace tovimar {

namespace {

bool Finite(const Vec3& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

double Length(const Vec3& v) { return std::hypot(v[0], v[1], v[2]); }

// Divides v by its length, the square root of the sum of its squared
// components. When the squares would overflow or fall into the subnormal
// range (where they keep too few bits to give a unit result), v is first
// divided by its largest component. False when v is zero or not finite.
bool Normalise(Vec3& v) {
  if (!Finite(v)) return false;
  const double largest = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
  if (!(largest > 0.0) || !std::isfinite(largest)) return false;
  double squares = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (!(squares >= 0x1p-900) || !std::isfinite(squares)) {
    for (double& c : v) c /= largest;
    squares = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  }
  const double length = std::sqrt(squares);
  for (double& c : v) c /= length;
  return true;
}

// Unit normal from the cross product of two edges, for the point sets that the
// plane equation n . p = -1 cannot describe (a plane through the origin) or
// that overflow it. Points on one line, or not finite, give (0, 0, 1).
Vec3 EdgeNormal(const Vec3& p1, const Vec3& p2, const Vec3& p3) {
  const Vec3 fallback{0.0, 0.0, 1.0};
  if (!Finite(p1) || !Finite(p2) || !Finite(p3)) return fallback;

  // Scale the points into [-1, 1] so that neither the edges nor the cross
  // product can overflow or underflow.
  double scale = 0.0;
  for (const Vec3* p : {&p1, &p2, &p3}) {
    for (double c : *p) scale = std::max(scale, std::fabs(c));
  }
  if (scale == 0.0) return fallback;
  Vec3 q1, q2, q3;
  for (int k = 0; k < 3; ++k) {
    q1[k] = p1[k] / scale;
    q2[k] = p2[k] / scale;
    q3[k] = p3[k] / scale;
  }
  const Vec3 e1{q2[0] - q1[0], q2[1] - q1[1], q2[2] - q1[2]};
  const Vec3 e2{q3[0] - q1[0], q3[1] - q1[1], q3[2] - q1[2]};
  Vec3 n{e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
  if (!Normalise(n)) return fallback;

  // Orientation: toward the side of the plane on which the origin lies, as
  // the plane equation gives it. For a plane through the origin (within
  // rounding) the largest component is made positive, ties going to x, then
  // y, then z, so the order of the points never matters.
  const double side = n[0] * q1[0] + n[1] * q1[1] + n[2] * q1[2];
  const double q1Length = Length(q1);
  bool flip;
  if (std::fabs(side) > 1e-12 * q1Length) {
    flip = side > 0.0;
  } else {
    int largest = 0;
    for (int k = 1; k < 3; ++k) {
      if (std::fabs(n[k]) > std::fabs(n[largest])) largest = k;
    }
    flip = n[largest] < 0.0;
  }
  if (flip) {
    for (double& c : n) c = -c;
  }
  for (double& c : n) c += 0.0;  // no negative zeros
  return n;
}

}  // namespace

void SceneObject::planeNormal(double x1, double x2, double x3, double y1, double y2, double y3, double z1,
                         double z2, double z3, double& nx, double& ny, double& nz) {
  // Row r of A is point r; the solution of A n = (-1, -1, -1) is the plane
  // n . p + 1 = 0, with n pointing from the plane toward the origin's side.
  Matrix A(3, 3);
  A(1, 1) = x1;
  A(1, 2) = y1;
  A(1, 3) = z1;
  A(2, 1) = x2;
  A(2, 2) = y2;
  A(2, 3) = z2;
  A(3, 1) = x3;
  A(3, 2) = y3;
  A(3, 3) = z3;
  Matrix b(3, 1);
  b.Fill(-1.0);
  Matrix x(3, 1);

  const double determinant = SolveLinearSystem(A, b, x);
  Vec3 n{x(1, 1), x(2, 1), x(3, 1)};
  const bool solved = determinant != 0.0 && !std::isnan(determinant) && Normalise(n);
  if (!solved) {
    n = EdgeNormal({x1, y1, z1}, {x2, y2, z2}, {x3, y3, z3});
  }
  nx = n[0];
  ny = n[1];
  nz = n[2];
}

}  // namespace tovimar
