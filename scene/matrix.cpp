#include "scene/matrix.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

#include "base/check.h"

namespace tovimar {

Matrix::Matrix(int nR, int nC) : nRow_(nR), nCol_(nC), data_(inline_.data()) {
  TOVIMAR_CHECK(nR > 0 && nC > 0);
  const std::size_t count = static_cast<std::size_t>(nR) * static_cast<std::size_t>(nC);
  if (count > kInlineElements) {
    // Storage that cannot be had fails the storage check rather than
    // escaping as an exception.
    bool obtained = true;
    try {
      heap_.resize(count);
    } catch (const std::bad_alloc&) {
      obtained = false;
    } catch (const std::length_error&) {
      obtained = false;
    }
    data_ = obtained ? heap_.data() : nullptr;
  }
  if (data_ == nullptr) AssertionFailed("data_ != 0", __FILE__, __LINE__);
  Fill(0.0);
}

Matrix::Matrix(const Matrix& other)
    : nRow_(other.nRow_), nCol_(other.nCol_), inline_(other.inline_), heap_(other.heap_) {
  data_ = heap_.empty() ? inline_.data() : heap_.data();
}

Matrix& Matrix::operator=(const Matrix& other) {
  if (this != &other) {
    nRow_ = other.nRow_;
    nCol_ = other.nCol_;
    inline_ = other.inline_;
    heap_ = other.heap_;
    data_ = heap_.empty() ? inline_.data() : heap_.data();
  }
  return *this;
}

double& Matrix::operator()(int i, int j) {
  TOVIMAR_CHECK(i > 0 && i <= nRow_);
  TOVIMAR_CHECK(j > 0 && j <= nCol_);
  return data_[static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(nCol_) + static_cast<std::size_t>(j - 1)];
}

double Matrix::operator()(int i, int j) const {
  TOVIMAR_CHECK(i > 0 && i <= nRow_);
  TOVIMAR_CHECK(j > 0 && j <= nCol_);
  return data_[static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(nCol_) + static_cast<std::size_t>(j - 1)];
}

void Matrix::Fill(double value) {
  const std::size_t count = static_cast<std::size_t>(nRow_) * static_cast<std::size_t>(nCol_);
  for (std::size_t k = 0; k < count; ++k) data_[k] = value;
}

}  // namespace tovimar
