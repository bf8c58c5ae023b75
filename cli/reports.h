#pragma once
// How tovimar-render reports on stderr: its messages, the reports that are
// not tied to a scene line, and the scene's conversion errors with their
// line ("scene.txt:12: Convert error: ..."), each once per scene.
#include <cstdio>
#include <set>
#include <string>
#include <utility>

#include "scene/assembly.h"
#include "scene/notifier.h"

namespace tovimar::cli {

void Print(std::FILE* err, const std::string& text);
// "tovimar-render: message"
void PrintError(std::FILE* err, const std::string& message);

class StderrNotifier : public Notifier {
 public:
  explicit StderrNotifier(std::FILE* err) : err_(err) {}
  void Notify(const std::string& caption, const std::string& text) override;

 private:
  std::FILE* err_;
};

class SceneLineNotifier : public LineNotifier {
 public:
  explicit SceneLineNotifier(std::FILE* err) : err_(err) {}
  // The scene whose lines follow; its reports are new again.
  void Begin(const std::string& scene);
  void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) override;

 private:
  std::FILE* err_;
  std::string scene_;
  std::set<std::pair<int, std::string>> seen_;
};

}  // namespace tovimar::cli
