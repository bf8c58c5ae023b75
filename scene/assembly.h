#pragma once
// The parsing half of scene assembly, shared by the viewer's preparation and
// the command-line scene check.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scene/notifier.h"
#include "scene/prefs.h"
#include "scene/scene_model.h"

namespace tovimar {

// Receives parser reports together with the 1-based number of the line that
// caused them.
class LineNotifier {
 public:
  virtual ~LineNotifier() = default;
  virtual void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) = 0;
  // A report about one field of the line (Notifier::NotifyField); by default
  // the text alone, as NotifyLine.
  virtual void NotifyFieldLine(int lineNumber, int field, const std::string& written, const std::string& caption,
                               const std::string& text) {
    static_cast<void>(field);
    static_cast<void>(written);
    NotifyLine(lineNumber, caption, text);
  }
};

// Parses every line in order with one SceneLineParser, appending CameraMotion objects to
// model.egoFrames and every other object to model.solidObjects; setting lines
// change prefs. The model is not cleared first. A UTF-8 byte order mark at the
// start of the first line is not part of the scene. Besides the parser's own
// reports, two problems are reported with their line: a FOCALLENGTH line that
// is not a positive number (ignored: the focal length stays as it was) and a
// PLANE whose normal is all zero (kept, but the renderer cannot draw it).
void ParseScene(const std::vector<std::string>& lines, const std::vector<uint32_t>& textures,
                char decimalSeparator, Prefs& prefs, SceneModel& model, LineNotifier& notifier);

// Reads the model of every MESH solid (LoadModelFile), its file taken
// relative to the folder of sceneName (the current folder for an unnamed
// scene) unless absolute. Throws Error at the first model that cannot be
// used, naming the scene line and the file:
// "scene.txt:7: MESH: cannot use the model 'car.obj' (/data/car.obj): it is empty".
// A relative file that is not beside the scene is looked for in
// modelFolders, in order; when none has it the error names every place
// looked.
void LoadSceneMeshes(SceneModel& model, const std::string& sceneName,
                     const std::vector<std::string>& modelFolders = {});

// The file a MESH line's `file` names, for a scene read from sceneName.
std::string ResolveModelPath(const std::string& sceneName, const std::string& file);

// Where a report points: "scene.txt:7: ", or "line 7: " for an unnamed scene.
std::string LineLocation(const std::string& sceneName, int lineNumber);

// A LineNotifier that forwards each report to a Notifier with its text led by
// the line's location. sceneName is asked at each report (empty function or
// text: an unnamed scene).
class LocatingLineNotifier : public LineNotifier {
 public:
  explicit LocatingLineNotifier(Notifier& target, std::function<std::string()> sceneName = {})
      : target_(target), sceneName_(std::move(sceneName)) {}
  void NotifyLine(int lineNumber, const std::string& caption, const std::string& text) override {
    target_.Notify(caption, LineLocation(sceneName_ ? sceneName_() : std::string(), lineNumber) + text);
  }

 private:
  Notifier& target_;
  std::function<std::string()> sceneName_;
};

}  // namespace tovimar
