#pragma once
// The scene check of tovimar-render: a scene parsed as scene assembly parses
// it, printed as one JSON object.
#include <string>
#include <string_view>
#include <vector>

#include "scene/prefs.h"

namespace tovimar {

// Prefs as scene assembly starts them: focal length and baseline from the
// editor's field texts (either '.' or ',' as decimal mark), noise 0, fog off.
// Throws tovimar::Error ("focal length: '...' is not a valid floating point
// value") when a text is not a number, and when the focal length is not a
// positive number of pixels.
Prefs EditorPrefs(const std::string& focalText, const std::string& baselineText, char decimalSeparator);

// Parses lines as scene assembly does and returns the JSON text, ending in a
// line break: {"file", "prefs", "solidObjects", "egoFrames", "errors"}. An
// object's "texture" is the file it uses ("tex9.bmp"), or null when untextured.
std::string SceneDumpJson(const std::string& fileName, const std::vector<std::string>& lines, Prefs prefs,
                          char decimalSeparator);

// A JSON string literal for arbitrary bytes: valid UTF-8 is kept, control
// characters are escaped, and every byte that is not part of valid UTF-8 is
// written as \u00XX (the byte read as Latin-1), so the output is always valid.
std::string JsonString(std::string_view bytes);

// Shortest text that reads back to the same double; null when not finite.
std::string JsonNumber(double value);

}  // namespace tovimar
