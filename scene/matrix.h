#pragma once
// Dense matrix of doubles with 1-based, checked indices.
#include <array>
#include <cstddef>
#include <vector>

namespace tovimar {

class Matrix {
 public:
  Matrix(int nR, int nC);
  Matrix(const Matrix& other);
  Matrix& operator=(const Matrix& other);

  int nRow() const { return nRow_; }
  int nCol() const { return nCol_; }
  double& operator()(int i, int j);
  double operator()(int i, int j) const;
  void Fill(double value);

 private:
  // Up to 3 x 3 elements live inside the matrix itself, so the solver's
  // small systems (built for every face normal) never touch the heap.
  static constexpr std::size_t kInlineElements = 9;

  int nRow_;
  int nCol_;
  std::array<double, kInlineElements> inline_{};
  std::vector<double> heap_;  // storage of larger matrices
  double* data_;              // inline_ or heap_
};


}  // namespace tovimar
