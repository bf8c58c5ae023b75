#pragma once
// A scene's own texture set: eleven 128x128 pictures drawn from the seed and
// the scene's index, each of one family (value noise, checkers or stripes at
// a random angle, bricks, cells, rings, a gradient, rectangles) in a random
// palette. Only exact arithmetic (+, -, *, /, floor, sqrt) and the
// generator's own random numbers are used, so the bytes are the same on
// every machine. The scene's text does not depend on whether its textures
// are drawn.
#include <cstdint>
#include <string>
#include <vector>

#include "io/bmp.h"

namespace tovimar::scenegen {

inline constexpr int kSceneTextureCount = 11;
inline constexpr int kSceneTextureSide = 128;

// The texture set of scene `index` of `seed`: tex0 ... tex10.
std::vector<BmpImage24> GenerateTextureSet(uint64_t seed, int index);

// Writes the set into folder (created when missing) as tex0.bmp ...
// tex10.bmp; returns the paths written. Throws Error naming what cannot be
// made or written.
std::vector<std::string> WriteTextureSet(uint64_t seed, int index, const std::string& folder);

}  // namespace tovimar::scenegen
