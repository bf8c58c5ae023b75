#include "base/check.h"

#include <cstdio>
#include <cstdlib>
#include <string>
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

}  // namespace tovimar
