#pragma once
// Notifiers for the tests: they keep every report (or drop them all).
#include <string>
#include <vector>

#include "scene/assembly.h"
#include "scene/notifier.h"

namespace tovimar::testing {

struct Message {
  std::string caption;
  std::string text;
};

struct CollectingNotifier : Notifier {
  std::vector<Message> messages;
  void Notify(const std::string& caption, const std::string& text) override { messages.push_back({caption, text}); }
};

struct LineMessage {
  int line;
  std::string text;
};

struct CollectingLineNotifier : LineNotifier {
  std::vector<LineMessage> messages;
  void NotifyLine(int lineNumber, const std::string&, const std::string& text) override {
    messages.push_back({lineNumber, text});
  }
};

struct QuietNotifier : Notifier {
  void Notify(const std::string&, const std::string&) override {}
};

}  // namespace tovimar::testing
