// Matrix, SolveLinearSystem and planeNormal.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "base/check.h"
#include "scene/linear_solve.h"
#include "scene/matrix.h"
#include "scene/scene_objects.h"

namespace tovimar {
namespace {

Matrix Rows3(std::array<std::array<double, 3>, 3> rows) {
  Matrix m(3, 3);
  for (int i = 1; i <= 3; ++i) {
    for (int j = 1; j <= 3; ++j) m(i, j) = rows[i - 1][j - 1];
  }
  return m;
}

Matrix Column(std::initializer_list<double> values) {
  Matrix m(static_cast<int>(values.size()), 1);
  int i = 1;
  for (double v : values) m(i++, 1) = v;
  return m;
}

TEST(Matrix, StartsAtZeroAndCopiesDeeply) {
  Matrix a(2, 3);
  EXPECT_EQ(a.nRow(), 2);
  EXPECT_EQ(a.nCol(), 3);
  for (int i = 1; i <= 2; ++i) {
    for (int j = 1; j <= 3; ++j) EXPECT_EQ(a(i, j), 0.0);
  }
  a(2, 3) = 7.0;
  a(1, 1) = 1.0;
  Matrix b = a;
  b(2, 3) = 8.0;
  EXPECT_EQ(a(2, 3), 7.0);
  EXPECT_EQ(b(1, 1), 1.0);
  const Matrix& c = a;
  EXPECT_EQ(c(2, 3), 7.0);
  b.Fill(2.5);
  EXPECT_EQ(b(1, 2), 2.5);
  EXPECT_EQ(a(1, 2), 0.0);

  // Small (3 x 3) and large (5 x 4) storage, copied and assigned both ways.
  Matrix small(3, 3);
  small(3, 3) = 9.0;
  Matrix large(5, 4);
  large(5, 4) = 20.0;
  Matrix largeCopy = large;
  largeCopy(5, 4) = 21.0;
  EXPECT_EQ(large(5, 4), 20.0);
  Matrix target = small;
  target = large;
  EXPECT_EQ(target.nRow(), 5);
  EXPECT_EQ(target(5, 4), 20.0);
  target(1, 1) = 1.0;
  EXPECT_EQ(large(1, 1), 0.0);
  target = small;
  EXPECT_EQ(target.nCol(), 3);
  EXPECT_EQ(target(3, 3), 9.0);
  target(3, 3) = 8.0;
  EXPECT_EQ(small(3, 3), 9.0);
  const Matrix& same = target;
  target = same;
  EXPECT_EQ(target(3, 3), 8.0);
  Matrix copyOfCopy = Matrix(target);
  target(3, 3) = 7.0;
  EXPECT_EQ(copyOfCopy(3, 3), 8.0);
}

using MatrixDeathTest = ::testing::Test;

TEST_F(MatrixDeathTest, FailedChecksReportAndEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(Matrix(0, 3), "Assertion failed: nR > 0 && nC > 0, file matrix\\.cpp, line [0-9]+");
  EXPECT_DEATH(Matrix(3, -1), "Assertion failed: nR > 0 && nC > 0");
  // More elements than can ever be stored: the storage check, not an exception.
  EXPECT_DEATH(Matrix(std::numeric_limits<int>::max(), std::numeric_limits<int>::max()),
               "Assertion failed: data_ != 0, file matrix\\.cpp, line [0-9]+");
  Matrix m(3, 2);
  EXPECT_DEATH(m(0, 1), "Assertion failed: i > 0 && i <= nRow_, file matrix\\.cpp");
  EXPECT_DEATH(m(4, 1), "Assertion failed: i > 0 && i <= nRow_");
  EXPECT_DEATH(m(1, 3), "Assertion failed: j > 0 && j <= nCol_");
  const Matrix& cm = m;
  EXPECT_DEATH((void)cm(1, 0), "Assertion failed: j > 0 && j <= nCol_");

  Matrix x(2, 1);
  EXPECT_DEATH(SolveLinearSystem(Matrix(3, 3), Matrix(3, 1), x),
               "Assertion failed: N == A\\.nCol\\(\\) && N == b\\.nRow\\(\\) && N == x\\.nRow\\(\\), file linear_solve\\.cpp, "
               "line [0-9]+");
  Matrix x3(3, 1);
  EXPECT_DEATH(SolveLinearSystem(Matrix(3, 2), Matrix(3, 1), x3), "Assertion failed: N == A\\.nCol");
}

TEST_F(MatrixDeathTest, ReporterReceivesTheMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        SetAssertionReporter([](const std::string& text) { fprintf(stderr, "reported<%s>\n", text.c_str()); });
        Matrix(1, 0);
      },
      "reported<Assertion failed: nR > 0 && nC > 0, file matrix\\.cpp, line [0-9]+>");
}

TEST(SolveLinearSystem, PivotsPastAZeroCorner) {
  Matrix x(3, 1);
  const double det = SolveLinearSystem(Rows3({{{0, 1, 0}, {1, 0, 0}, {0, 0, 1}}}), Column({1, 2, 3}), x);
  EXPECT_EQ(det, -1.0);
  EXPECT_EQ(x(1, 1), 2.0);
  EXPECT_EQ(x(2, 1), 1.0);
  EXPECT_EQ(x(3, 1), 3.0);
}

TEST(SolveLinearSystem, TiesKeepTheEarliestRow) {
  Matrix x(3, 1);
  const double det = SolveLinearSystem(Rows3({{{1, 1, 0}, {1, 0, 0}, {0, 0, 1}}}), Column({-1, -1, -1}), x);
  EXPECT_EQ(det, -1.0);
  EXPECT_EQ(x(1, 1), -1.0);
  EXPECT_EQ(x(2, 1), 0.0);
  EXPECT_EQ(x(3, 1), -1.0);
}

TEST(SolveLinearSystem, ScaledPivotingPicksTheRelativelyLargest) {
  // Unscaled, row 1 (|2| > |1|) would win; scaled, row 2 (1/1 > 2/1e6) does.
  // The sign of the determinant shows which row was taken.
  Matrix A(2, 2);
  A(1, 1) = 2;
  A(1, 2) = 1e6;
  A(2, 1) = 1;
  A(2, 2) = 1;
  Matrix x(2, 1);
  const double det = SolveLinearSystem(A, Column({1e6 + 2, 2}), x);
  EXPECT_DOUBLE_EQ(det, 2 - 1e6);
  EXPECT_DOUBLE_EQ(x(1, 1), 1.0);
  EXPECT_DOUBLE_EQ(x(2, 1), 1.0);
}

TEST(SolveLinearSystem, SingularLeavesXUntouched) {
  Matrix x = Column({7, 8, 9});
  const double det = SolveLinearSystem(Rows3({{{1, 2, 3}, {2, 4, 6}, {1, 1, 1}}}), Column({1, 1, 1}), x);
  EXPECT_EQ(det, 0.0);
  EXPECT_EQ(x(1, 1), 7.0);
  EXPECT_EQ(x(2, 1), 8.0);
  EXPECT_EQ(x(3, 1), 9.0);

  // All zeros: 0/0 pivots make the determinant NaN; x is still untouched.
  Matrix zero(3, 3);
  EXPECT_TRUE(std::isnan(SolveLinearSystem(zero, Column({1, 1, 1}), x)));
  EXPECT_EQ(x(2, 1), 8.0);

  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double detNaN = SolveLinearSystem(Rows3({{{nan, 0, 0}, {0, 1, 0}, {0, 0, 1}}}), Column({1, 1, 1}), x);
  EXPECT_TRUE(std::isnan(detNaN));
  EXPECT_EQ(x(1, 1), 7.0);
}

TEST(SolveLinearSystem, InputsAreCopiesAndSizesOneAndFourWork) {
  Matrix A = Rows3({{{2, 0, 0}, {0, 4, 0}, {0, 0, 8}}});
  Matrix b = Column({2, 4, 8});
  Matrix x(3, 1);
  EXPECT_EQ(SolveLinearSystem(A, b, x), 64.0);
  EXPECT_EQ(A(2, 2), 4.0);
  EXPECT_EQ(b(3, 1), 8.0);

  Matrix one(1, 1);
  one(1, 1) = 4;
  Matrix x1(1, 1);
  EXPECT_EQ(SolveLinearSystem(one, Column({2}), x1), 4.0);
  EXPECT_EQ(x1(1, 1), 0.5);

  // A 4x4 system with a known integer solution.
  const double rows[4][4] = {{2, 1, -1, 3}, {1, -3, 2, 1}, {4, 0, 1, -2}, {-1, 2, 3, 1}};
  const double solution[4] = {1, -2, 3, 0.5};
  Matrix A4(4, 4);
  Matrix b4(4, 1);
  for (int i = 1; i <= 4; ++i) {
    double sum = 0;
    for (int j = 1; j <= 4; ++j) {
      A4(i, j) = rows[i - 1][j - 1];
      sum += rows[i - 1][j - 1] * solution[j - 1];
    }
    b4(i, 1) = sum;
  }
  Matrix x4(4, 1);
  EXPECT_NE(SolveLinearSystem(A4, b4, x4), 0.0);
  for (int i = 1; i <= 4; ++i) EXPECT_NEAR(x4(i, 1), solution[i - 1], 1e-12);

  // Twelve equations, rows given in reverse order of their pivots.
  const int n = 12;
  Matrix A12(n, n);
  Matrix b12(n, 1);
  for (int i = 1; i <= n; ++i) {
    double sum = 0;
    for (int j = 1; j <= n; ++j) {
      A12(i, j) = (i + j == n + 1) ? 20.0 : 1.0 / (i + j);
      sum += A12(i, j) * j;
    }
    b12(i, 1) = sum;
  }
  Matrix x12(n, 1);
  EXPECT_NE(SolveLinearSystem(A12, b12, x12), 0.0);
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(x12(i, 1), i, 1e-9);
}

struct Normal {
  double x, y, z;
};

Normal NormalOf(const Vec3& p1, const Vec3& p2, const Vec3& p3) {
  Normal n{};
  SceneObject::planeNormal(p1[0], p2[0], p3[0], p1[1], p2[1], p3[1], p1[2], p2[2], p3[2], n.x, n.y, n.z);
  return n;
}

void ExpectUnit(const Normal& n, double x, double y, double z) {
  EXPECT_NEAR(n.x, x, 1e-12);
  EXPECT_NEAR(n.y, y, 1e-12);
  EXPECT_NEAR(n.z, z, 1e-12);
}

TEST(PlaneNormal, PointsTowardTheOriginWhateverTheOrder) {
  const double r = -1.0 / std::sqrt(3.0);
  ExpectUnit(NormalOf({1, 0, 0}, {0, 1, 0}, {0, 0, 1}), r, r, r);
  ExpectUnit(NormalOf({0, 0, 1}, {0, 1, 0}, {1, 0, 0}), r, r, r);

  // The editor scene's right wall x = 1.6 and floor z = -1.4.
  ExpectUnit(NormalOf({1.6, -2, -1.4}, {1.6, 6, -1.4}, {1.6, 6, 2.4}), -1, 0, 0);
  ExpectUnit(NormalOf({1.6, 6, 2.4}, {1.6, -2, -1.4}, {1.6, 6, -1.4}), -1, 0, 0);
  ExpectUnit(NormalOf({-1.6, -2, -1.4}, {1.6, -2, -1.4}, {1.6, 6, -1.4}), 0, 0, 1);
}

TEST(PlaneNormal, DividesTheSolutionByTheRootOfItsSquares) {
  // Bit for bit the solution of A n = (-1, -1, -1) divided by
  // sqrt(nx^2 + ny^2 + nz^2); a differently rounded length (hypot) is off
  // by one unit in the last place for about a third of all point sets.
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> coordinate(-10.0, 10.0);
  int compared = 0;
  for (int round = 0; round < 2000; ++round) {
    std::array<Vec3, 3> p;
    for (auto& point : p) {
      for (double& c : point) c = coordinate(random);
    }
    Matrix x(3, 1);
    Matrix b(3, 1);
    b.Fill(-1.0);
    if (SolveLinearSystem(Rows3({p[0], p[1], p[2]}), b, x) == 0.0) continue;
    const double length = std::sqrt(x(1, 1) * x(1, 1) + x(2, 1) * x(2, 1) + x(3, 1) * x(3, 1));
    const Normal n = NormalOf(p[0], p[1], p[2]);
    ASSERT_EQ(n.x, x(1, 1) / length) << round;
    ASSERT_EQ(n.y, x(2, 1) / length) << round;
    ASSERT_EQ(n.z, x(3, 1) / length) << round;
    ++compared;
  }
  EXPECT_GT(compared, 1900);
}

TEST(PlaneNormal, PlaneThroughTheOriginUsesTheEdges) {
  // z = 0 and y = 0 through the origin: the largest component is positive,
  // in any order of the points.
  ExpectUnit(NormalOf({1, 0, 0}, {0, 1, 0}, {0, 0, 0}), 0, 0, 1);
  ExpectUnit(NormalOf({0, 1, 0}, {1, 0, 0}, {0, 0, 0}), 0, 0, 1);
  ExpectUnit(NormalOf({2, 0, 5}, {0, 0, 0}, {-1, 0, 3}), 0, 1, 0);
  const double h = std::sqrt(0.5);
  ExpectUnit(NormalOf({1, 1, 0}, {0, 0, 1}, {-1, -1, 0}), h, -h, 0);
  ExpectUnit(NormalOf({-1, -1, 0}, {0, 0, 1}, {1, 1, 0}), h, -h, 0);
}

TEST(PlaneNormal, DegenerateAndExtremePointsGiveAUnitNormal) {
  // Collinear and coincident points: the defined fallback.
  ExpectUnit(NormalOf({0, 0, 1}, {1, 1, 1}, {2, 2, 1}), 0, 0, 1);
  ExpectUnit(NormalOf({3, 4, 5}, {3, 4, 5}, {3, 4, 5}), 0, 0, 1);
  ExpectUnit(NormalOf({0, 0, 0}, {0, 0, 0}, {0, 0, 0}), 0, 0, 1);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  ExpectUnit(NormalOf({nan, 0, 0}, {0, 1, 0}, {0, 0, 1}), 0, 0, 1);
  // A point at infinity along x: the limit plane y + z = 1.
  const double h = std::sqrt(0.5);
  ExpectUnit(NormalOf({inf, 0, 0}, {0, 1, 0}, {0, 0, 1}), 0, -h, -h);
  ExpectUnit(NormalOf({inf, 0, 0}, {-inf, 1, 0}, {0, 0, 1}), 0, 0, 1);

  // Far away and very close planes: still unit length and toward the origin.
  ExpectUnit(NormalOf({1e300, 0, 1e300}, {0, 1e300, 1e300}, {-1e300, 0, 1e300}), 0, 0, -1);
  ExpectUnit(NormalOf({1e-300, 0, 1e-300}, {0, 1e-300, 1e-300}, {-1e-300, 0, 1e-300}), 0, 0, -1);
  ExpectUnit(NormalOf({1, 0, 1e-300}, {0, 1, 1e-300}, {-1, 0, 1e-300}), 0, 0, -1);
  ExpectUnit(NormalOf({1e-310, 0, 0}, {0, 1e-310, 0}, {0, 0, 1e-310}), -1 / std::sqrt(3.0), -1 / std::sqrt(3.0),
             -1 / std::sqrt(3.0));

  // Edges whose cross product is subnormal (a few bits only): the result is
  // still of unit length, not the length rounded on the subnormal grid.
  const double big = std::ldexp(1.0, 1000);
  const double l = std::sqrt(17.0 * 17.0 + 31.0 * 31.0);
  ExpectUnit(NormalOf({0, 0, 0}, {big, 0, 0}, {0, std::ldexp(17.0, -74), std::ldexp(31.0, -74)}), 0, 31 / l,
             -17 / l);
  // A plane so far out that its solution n is subnormal.
  const double far = 1.5e308;
  const double s = std::sqrt(0.5);
  ExpectUnit(NormalOf({far, 0, 0}, {0, far, 0}, {far, 0, 1}), -s, -s, 0);
}

}  // namespace
}  // namespace tovimar
