#pragma once
#include <memory>
#include <vector>

#include "scene/object_motion.h"
#include "scene/scene_objects.h"

namespace tovimar {

// The prepared scene: solids in the order of their lines, one CameraMotion per
// frame, the MOVE lines in file order and the object poses they give.
struct SceneModel {
  std::vector<std::unique_ptr<SceneObject>> solidObjects;
  std::vector<std::unique_ptr<CameraMotion>> egoFrames;
  std::vector<std::unique_ptr<ObjectMove>> objectMoves;
  ObjectMotionTable motion;  // built by ParseScene

  void Clear() {
    solidObjects.clear();
    egoFrames.clear();
    objectMoves.clear();
    motion.Clear();
  }
};

}  // namespace tovimar
