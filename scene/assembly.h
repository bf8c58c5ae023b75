#pragma once
// The parsing half of scene assembly, shared by the viewer's preparation and
// the command-line scene check.
#include <cstdint>
#include <string>
#include <vector>

#include "scene/notifier.h"
#include "scene/prefs.h"
#include "scene/scene_model.h"

namespace tovimar {

// Receives parser reports together with the 1-based number of the line that
// caused them. The desktop program shows only the text.
class LineNotifier {
 public:
  virtual ~LineNotifier() = default;
  virtual void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) = 0;
};

// Parses every line in order with one Analiza, appending Ego objects to
// model.egoFrames and every other object to model.solidObjects; setting lines
// change prefs. The model is not cleared first. Besides the parser's own
// reports, two problems are reported with their line: a FOCALLENGTH line that
// is not a positive number (ignored: the focal length stays as it was) and a
// PLANE whose normal is all zero (kept, but the renderer cannot draw it).
void ParseScene(const std::vector<std::string>& lines, const std::vector<uint32_t>& textures,
                char decimalSeparator, Prefs& prefs, SceneModel& model, LineNotifier& notifier);

// A LineNotifier that forwards the text only.
class ForwardingLineNotifier : public LineNotifier {
 public:
  explicit ForwardingLineNotifier(Notifier& target) : target_(target) {}
  void NotifyLine(int, const std::string& caption, const std::string& text) override {
    target_.Notify(caption, text);
  }

 private:
  Notifier& target_;
};

}  // namespace tovimar
