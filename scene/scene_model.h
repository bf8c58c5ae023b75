#pragma once
#include <memory>
#include <vector>

#include "scene/obiekt.h"

namespace tovimar {

// The prepared scene: solids in the order of their lines, one Ego per frame.
struct SceneModel {
  std::vector<std::unique_ptr<Obiekt>> solidObjects;
  std::vector<std::unique_ptr<Ego>> egoFrames;

  void Clear() {
    solidObjects.clear();
    egoFrames.clear();
  }
};

}  // namespace tovimar
