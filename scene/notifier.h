#pragma once
// Where the core reports what a user must see: the desktop program shows a
// modal message box, the command-line tool prints to stderr, tests collect.
#include <string>

#include "base/error.h"  // Error

namespace tovimar {

class Notifier {
 public:
  virtual ~Notifier() = default;
  // caption: the box's caption ("" = the application's title); text: the message.
  virtual void Notify(const std::string& caption, const std::string& text) = 0;
  // A report about one field of a scene line: field is the number's place
  // among the line's numbers (0: the keyword), written the field's text as
  // the line has it. Notifiers that do not list fields report the text alone.
  virtual void NotifyField(int field, const std::string& written, const std::string& caption,
                           const std::string& text) {
    static_cast<void>(field);
    static_cast<void>(written);
    Notify(caption, text);
  }
};

}  // namespace tovimar
