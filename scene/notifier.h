#pragma once
// Where the core reports what a user must see: the desktop program shows a
// modal message box, the command-line tool prints to stderr, tests collect.
#include <string>

#include "io/error.h"  // Error

namespace tovimar {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // caption: the box's caption ("" = the application's title); text: the message.
  virtual void Notify(const std::string& caption, const std::string& text) = 0;
};

}  // namespace tovimar
