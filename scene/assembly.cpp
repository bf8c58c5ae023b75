#include "scene/assembly.h"

#include <utility>

#include "scene/analiza.h"

namespace tovimar {

namespace {

// Gives the parser's reports the number of the line being read.
class LineAdapter : public Notifier {
 public:
  explicit LineAdapter(LineNotifier& target) : target_(target) {}
  void SetLine(int lineNumber) { lineNumber_ = lineNumber; }
  void Notify(const std::string& caption, const std::string& text) override {
    target_.NotifyLine(lineNumber_, caption, text);
  }

 private:
  LineNotifier& target_;
  int lineNumber_ = 0;
};

}  // namespace

void ParseScene(const std::vector<std::string>& lines, const std::vector<uint32_t>& textures,
                char decimalSeparator, Prefs& prefs, SceneModel& model, LineNotifier& notifier) {
  LineAdapter adapter(notifier);
  const Analiza parser(decimalSeparator, adapter);
  const std::size_t count = lines.size();
  for (std::size_t i = 0; i < count; ++i) {
    adapter.SetLine(static_cast<int>(i + 1));
    std::unique_ptr<Obiekt> object = parser.ParseLine(lines[i], textures, prefs);
    if (!object) continue;
    if (object->kind == kEgo) {
      // Only Ego objects carry kind 0.
      model.egoFrames.emplace_back(static_cast<Ego*>(object.release()));
    } else {
      model.solidObjects.push_back(std::move(object));
    }
  }
}

}  // namespace tovimar
