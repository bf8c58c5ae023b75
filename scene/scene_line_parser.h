#pragma once
// The scene line parser.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scene/notifier.h"
#include "scene/scene_objects.h"
#include "scene/prefs.h"

namespace tovimar {

class SceneLineParser {
 public:
  // decimalSeparator: the user's locale decimal mark ('.' or ','); both '.' and
  // ',' in the text are read as decimal marks whatever it is, it only shapes
  // the text of conversion messages. notifier receives one "Convert error: "
  // report per field that does not convert (and the other parse reports).
  SceneLineParser(char decimalSeparator, Notifier& notifier);

  // Turns one scene line into a new object, a change of prefs, or nothing.
  // textures: the loaded texture names, indexed by texture number.
  std::unique_ptr<SceneObject> ParseLine(std::string line, const std::vector<uint32_t>& textures,
                                    Prefs& prefs) const;

 private:
  char decimalSeparator_;
  Notifier& notifier_;
};

}  // namespace tovimar
