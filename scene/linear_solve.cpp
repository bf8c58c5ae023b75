#include "scene/linear_solve.h"

#include <array>
#include <cmath>
#include <utility>
#include <vector>

#include "base/check.h"

namespace tovimar {

// Gaussian elimination with scaled partial pivoting. Rows are never moved:
// idx maps a logical row to its row in A. No tolerance anywhere: a tiny pivot
// is divided by like any other, and only an exact zero (or NaN) determinant
// suppresses the back substitution.
double SolveLinearSystem(Matrix A, Matrix b, Matrix& x) {
  const int N = A.nRow();
  TOVIMAR_CHECK(N == A.nCol() && N == b.nRow() && N == x.nRow());

  // Scale factor of each row: its largest absolute element.
  Matrix s(N, 1);
  for (int i = 1; i <= N; ++i) {
    double largest = 0.0;
    for (int j = 1; j <= N; ++j) {
      const double a = std::fabs(A(i, j));
      if (a >= largest) largest = a;
    }
    s(i, 1) = largest;
  }

  // Index array (entry 0 unused); small systems keep it on the stack.
  std::array<int, 10> smallIdx{};
  std::vector<int> largeIdx;
  int* idx = smallIdx.data();
  if (static_cast<std::size_t>(N) + 1 > smallIdx.size()) {
    largeIdx.resize(static_cast<std::size_t>(N) + 1);
    idx = largeIdx.data();
  }
  for (int i = 0; i <= N; ++i) idx[i] = i;
  auto row = [idx](int i) { return idx[i]; };
  double sign = 1.0;

  for (int k = 1; k <= N - 1; ++k) {
    // Pivot: the largest scaled element; ties keep the earliest row, NaN never wins.
    double best = 0.0;
    int winner = k;
    for (int i = k; i <= N; ++i) {
      const double ratio = std::fabs(A(row(i), k)) / s(row(i), 1);
      if (ratio > best) {
        best = ratio;
        winner = i;
      }
    }
    if (winner != k) {
      std::swap(idx[winner], idx[k]);
      sign = -sign;
    }
    for (int i = k + 1; i <= N; ++i) {
      const double factor = A(row(i), k) / A(row(k), k);
      for (int j = k + 1; j <= N; ++j) A(row(i), j) -= A(row(k), j) * factor;
      A(row(i), k) = factor;
      b(row(i), 1) -= factor * b(row(k), 1);
    }
  }

  double determinant = sign;
  for (int i = 1; i <= N; ++i) determinant *= A(row(i), i);

  if (determinant != 0.0 && !std::isnan(determinant)) {
    x(N, 1) = b(row(N), 1) / A(row(N), N);
    for (int i = N - 1; i >= 1; --i) {
      double sum = b(row(i), 1);
      for (int j = i + 1; j <= N; ++j) sum -= A(row(i), j) * x(j, 1);
      x(i, 1) = sum / A(row(i), i);
    }
  }
  return determinant;
}

}  // namespace tovimar
