#include "cli/reports.h"

#include "scene/assembly.h"

namespace tovimar::cli {

void Print(std::FILE* err, const std::string& text) {
  std::fputs(text.c_str(), err);
  std::fflush(err);
}

void PrintError(std::FILE* err, const std::string& message) { Print(err, "tovimar-render: " + message + "\n"); }

void StderrNotifier::Notify(const std::string& caption, const std::string& text) {
  PrintError(err_, caption.empty() ? text : caption + ": " + text);
}

void SceneLineNotifier::Begin(const std::string& scene) {
  scene_ = scene;
  seen_.clear();
}

void SceneLineNotifier::NotifyLine(int lineNumber, const std::string& caption, const std::string& text) {
  // A report repeated by a later run's preparation is printed once.
  if (!seen_.emplace(lineNumber, text).second) return;
  Print(err_, LineLocation(scene_, lineNumber) + (caption.empty() ? "" : caption + ": ") + text + "\n");
}

}  // namespace tovimar::cli
