#pragma once
// The OpenGL drawing of every solid kind (the renderer's ObjectPainter).
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "render/rig_state.h"
#include "scene/scene_model.h"
#include "scene/scene_objects.h"

struct GLUquadric;

namespace tovimar {
struct RgbImage;
}

namespace tovimar {

// How the strips of a Plane are laid out. A plane is drawn as 2000 strips,
// one scene unit wide along the strip axis (integer positions -1000 .. 999)
// and running from 40 to -30 along the cross axis; each corner's third
// coordinate comes from solving the plane equation for the solved axis.
// A plane with a != 0 is solved for x (strips along y, cross axis z). A plane
// with a == 0 is solved for the coordinate with the largest coefficient: for
// z (a floor or ceiling) the strips run along y across x, for y (a wall facing
// the camera) they run along x across z. A plane whose normal is all zero, or
// whose numbers are not finite, has no strips.
struct PlaneLayout {
  int solved = 0;  // 0 x, 1 y, 2 z
  int strip = 1;   // axis of the strip index
  int cross = 2;   // axis along which each strip runs from 40 to -30
};
// Spheres, cylinders and cones are drawn as GLU polygon meshes of this many
// slices around their axis and stacks along it (caps: as many rings); their
// ground truth is that of the mesh, as their pictures are.
inline constexpr int kRoundSolidSlices = 32;
inline constexpr int kRoundSolidStacks = 32;

inline constexpr int kPlaneStripFirst = -1000;
inline constexpr int kPlaneStripCount = 2000;
inline constexpr double kPlaneCrossHigh = 40.0;
inline constexpr double kPlaneCrossLow = -30.0;

// False when the plane cannot be drawn (all-zero normal or non-finite numbers).
bool PlaneLayoutFor(const Plane& plane, PlaneLayout& layout);

// A plane that a drawing draws (PlaneLayoutFor accepts it): each drawing of
// it in colour steps the random state once.
bool IsDrawnPlane(const SceneObject& object);
// The drawn planes of the scene's solids: the random steps of one colour
// drawing of the whole scene.
uint64_t DrawnPlaneCount(const SceneModel& scene);

// The four corners of strip u (kPlaneStripFirst <= u < kPlaneStripFirst +
// kPlaneStripCount), in drawing order, with texture coordinates (0,0), (1,0),
// (1,1), (0,1).
std::array<Vec3, 4> PlaneStripCorners(const Plane& plane, const PlaneLayout& layout, int u);

// Unit normal of the face through three points, as planeNormal gives it:
// turned toward the world origin's side, always finite ((0, 0, 1) when the
// points do not span a face).
Vec3 FaceNormal(const Vec3& p1, const Vec3& p2, const Vec3& p3);

class GlPainter final : public ObjectPainter {
 public:
  // random: the runtime's pseudo-random state, stepped by every drawn Plane.
  explicit GlPainter(RandomState& random);
  ~GlPainter() override;
  GlPainter(const GlPainter&) = delete;
  GlPainter& operator=(const GlPainter&) = delete;

  void Paint(const Sphere& o) override;
  void Paint(const Cuboid& o) override;
  void Paint(const Cylinder& o) override;
  void Paint(const Plane& o) override;
  void Paint(const Quad& o) override;
  // A model's triangles with its corner normals and texture coordinates,
  // each corner scaled by o.scale (in double precision, before the GL sees
  // it), then turned and placed as a cuboid; with its own materials (corner
  // colours and each part's texture) when the line keeps them.
  void Paint(const Mesh& o) override;

  // A box with half extents a, b, c centred on the origin, with its face
  // table of normals and texture coordinates.
  static void DrawBox(double a, double b, double c);

  // Ends the drawing of one object: what it drew is handed to the GL as a
  // draw of its own. Mesa gathers the primitives of consecutive glBegin/glEnd
  // pairs with no state change between them into one draw, and llvmpipe
  // clips a draw as a whole: when one primitive of it needs clipping (a quad
  // beyond the far plane, one crossing the near plane), every primitive of
  // it takes the clipping path, whose depths differ in the last bits. An
  // object's depth would then depend on its neighbours in the drawing order,
  // and leaving objects out (the segmentation's redraws) or drawing them
  // without textures (the flat drawings) would change the depth of others.
  // A translation by zero changes no matrix but makes the GL draw what it
  // holds; call it inside the object's matrix push.
  static void EndObject();

  // Forgets the GLU quadric and deletes the models' textures (call while the
  // context that drew is current).
  void Release();

  // Flat mode: the geometry only, in the caller's current colour: no texture
  // binding, no colour calls, and plane drawings leave the random state alone.
  void SetFlat(bool flat) { flat_ = flat; }

 private:
  GLUquadric* Quadric();
  // The GL texture of a model's picture, made in the current context on its
  // first use.
  uint32_t ModelTexture(const std::shared_ptr<const RgbImage>& picture);
  void Colour3d(double r, double g, double b) const;

  RandomState& random_;
  bool flat_ = false;
  GLUquadric* quadric_ = nullptr;
  std::map<const RgbImage*, std::pair<std::shared_ptr<const RgbImage>, uint32_t>> modelTextures_;
  std::vector<float> scaledCorners_;  // a model's corners as drawn, reused across drawings
};

}  // namespace tovimar
