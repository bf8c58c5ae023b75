#pragma once
// The scene line parser.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "scene/notifier.h"
#include "scene/scene_objects.h"
#include "scene/prefs.h"

namespace tovimar {

// The warning for a line whose first field looks like a statement's keyword
// but is none ("SPHRE", "sphere", " SPHERE"): the line makes nothing, and
// the text says so; empty for a known keyword, a comment, a blank line or
// any other text.
std::string UnknownKeywordWarning(const std::string& keyword);

// The word a MESH line's texture field takes to keep the model's own
// materials (Mesh::ownMaterials).
inline constexpr std::string_view kOwnMaterialsWord = "model";

class SceneLineParser {
 public:
  // decimalSeparator: the user's locale decimal mark ('.' or ','); both '.' and
  // ',' in the text are read as decimal marks whatever it is, it only shapes
  // the text of conversion messages. notifier receives one "Convert error: "
  // report per field that does not convert (NotifyField, with the field as
  // written), a warning for an unknown keyword, and the other parse reports.
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
