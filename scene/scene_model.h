#pragma once
#include <memory>
#include <vector>

#include "scene/scene_objects.h"

namespace tovimar {

// The prepared scene: solids in the order of their lines, one CameraMotion per frame.
struct SceneModel {
  std::vector<std::unique_ptr<SceneObject>> solidObjects;
  std::vector<std::unique_ptr<CameraMotion>> egoFrames;

  void Clear() {
    solidObjects.clear();
    egoFrames.clear();
  }
};

}  // namespace tovimar
