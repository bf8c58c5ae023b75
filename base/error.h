#pragma once
// The error every layer raises for what a user must see ("Cannot create file
// ...", a file that is not a readable bitmap); the application's top-level
// handler shows its message.
#include <exception>
#include <string>
#include <utility>

namespace tovimar {

class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

// A run stopped on request in the middle of a step (Ctrl-C during the
// segmentation passes): not a failure, the run just ends.
class Cancelled : public Error {
 public:
  using Error::Error;
};

}  // namespace tovimar
