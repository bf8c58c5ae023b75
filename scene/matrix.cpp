#include "scene/matrix.h"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <utility>

namespace tovimar {

namespace {

std::function<void(const std::string&)>& Reporter() {
  static std::function<void(const std::string&)> reporter;
  return reporter;
}

// Only the file's own name: the build machine's folders mean nothing to a user.
const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

}  // namespace

void SetAssertionReporter(std::function<void(const std::string&)> reporter) {
  Reporter() = std::move(reporter);
}

void AssertionFailed(const char* condition, const char* file, int line) {
  std::string message = "Assertion failed: ";
  message += condition;
  message += ", file ";
  message += BaseName(file);
  message += ", line ";
  message += std::to_string(line);
  if (Reporter()) {
    Reporter()(message);
  } else {
    std::fputs(message.c_str(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
  }
  std::abort();
}

Matrix::Matrix(int nR, int nC) : nRow_(nR), nCol_(nC) {
  TOVIMAR_CHECK(nR > 0 && nC > 0);
  // Storage that cannot be had fails the storage check rather than escaping
  // as an exception.
  bool obtained = true;
  try {
    data_.resize(static_cast<std::size_t>(nR) * static_cast<std::size_t>(nC));
  } catch (const std::bad_alloc&) {
    obtained = false;
  } catch (const std::length_error&) {
    obtained = false;
  }
  if (!obtained || data_.data() == nullptr) AssertionFailed("data_ != 0", __FILE__, __LINE__);
  Fill(0.0);
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
  for (double& d : data_) d = value;
}

}  // namespace tovimar
