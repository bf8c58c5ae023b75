#pragma once
// Where the core reports what a user must see: the desktop program shows a
// modal message box, the command-line tool prints to stderr, tests collect.
#include <exception>
#include <string>
#include <utility>

namespace tovimar {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // caption: the box's caption ("" = the application's title); text: the message.
  virtual void Notify(const std::string& caption, const std::string& text) = 0;
};

// Error raised by core operations whose message the application's top-level
// handler shows ("Cannot create file ...", a conversion error in an edit box).
class Error : public std::exception {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const { return message_; }

 private:
  std::string message_;
};

}  // namespace tovimar
