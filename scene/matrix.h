#pragma once
// Dense matrix of doubles with 1-based, checked indices.
#include <vector>

namespace tovimar {

class Matrix {
 public:
  Matrix(int nR, int nC);
  Matrix(const Matrix& other) = default;
  Matrix& operator=(const Matrix& other) = default;

  int nRow() const { return nRow_; }
  int nCol() const { return nCol_; }
  double& operator()(int i, int j);
  double operator()(int i, int j) const;
  void Fill(double value);

 private:
  int nRow_;
  int nCol_;
  std::vector<double> data_;
};

// Reports "Assertion failed: <condition>, file <file>, line <line>" and ends the program.
[[noreturn]] void AssertionFailed(const char* condition, const char* file, int line);

#define TOVIMAR_CHECK(cond) ((cond) ? (void)0 : ::tovimar::AssertionFailed(#cond, __FILE__, __LINE__))

}  // namespace tovimar

#include <functional>
#include <string>

namespace tovimar {
// Where a failed check is shown before the program ends (the desktop program
// installs a message box; by default the report goes to stderr).
void SetAssertionReporter(std::function<void(const std::string&)> reporter);
}  // namespace tovimar
