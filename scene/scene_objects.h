#pragma once
// The scene objects: five solid kinds and the camera motion of one frame.
// Plain records; the renderer draws a solid through Draw(ObjectPainter&)
// without knowing its kind.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace tovimar {

using Vec3 = std::array<double, 3>;

class Sphere;
class Cuboid;
class Cylinder;
class Plane;
class Quad;
class Mesh;
struct MeshModel;  // scene/mesh_model.h

// Implemented by the renderer: one drawing per solid kind.
class ObjectPainter {
 public:
  virtual ~ObjectPainter() = default;
  virtual void Paint(const Sphere& o) = 0;
  virtual void Paint(const Cuboid& o) = 0;
  virtual void Paint(const Cylinder& o) = 0;
  virtual void Paint(const Plane& o) = 0;
  virtual void Paint(const Quad& o) = 0;
  // Painters that have nothing to do with models leave meshes alone.
  virtual void Paint(const Mesh& o) { static_cast<void>(o); }
};

enum ObjectKind : int32_t {
  kCameraMotion = 0,
  kSphere = 1,
  kCuboid = 2,
  kPlane = 3,
  kQuad = 4,
  kCylinder = 5,
  kObjectMove = 6,
  kMesh = 7,
};

class SceneObject {
 public:
  virtual ~SceneObject() = default;

  // Draws the object; the base version (and CameraMotion's) draws nothing.
  virtual void Draw(ObjectPainter& painter) const { (void)painter; }

  // Unit normal of the plane through three points, coordinates grouped by
  // axis (x1, x2, x3, y1, y2, y3, z1, z2, z3). Reads no field of the object.
  static void planeNormal(double x1, double x2, double x3, double y1, double y2, double y3,
                          double z1, double z2, double z3, double& nx, double& ny, double& nz);

  void SetPosition(double x, double y, double z) { position = {x, y, z}; }
  void SetRotation(double x, double y, double z) { rotation = {x, y, z}; }
  void SetColour(double r, double g, double b) { colour = {r, g, b}; }
  void SetId(int32_t value) { id = value; }
  void SetTexture(uint32_t name) { texture = name; }

  uint32_t texture = 0;  // OpenGL texture name; 0 = untextured
  int32_t id = 0;
  int32_t kind = kCameraMotion;
  Vec3 colour{0, 0, 0};
  Vec3 position{0, 0, 0};
  Vec3 rotation{0, 0, 0};  // degrees about x, y, z

 protected:
  explicit SceneObject(int32_t k) : kind(k) {}
};

class Sphere : public SceneObject {
 public:
  explicit Sphere(double r) : SceneObject(kSphere), radius(r) {}
  void Draw(ObjectPainter& p) const override { p.Paint(*this); }
  double radius;
};

class Cuboid : public SceneObject {
 public:
  Cuboid(double hx, double hy, double hz) : SceneObject(kCuboid), halfSize{hx, hy, hz} {}
  void Draw(ObjectPainter& p) const override { p.Paint(*this); }
  Vec3 halfSize;
};

class Cylinder : public SceneObject {
 public:
  Cylinder(double base, double top, double h)
      : SceneObject(kCylinder), baseRadius(base), topRadius(top), height(h) {}
  void Draw(ObjectPainter& p) const override { p.Paint(*this); }
  double baseRadius;
  double topRadius;
  double height;
};

class Plane : public SceneObject {
 public:
  Plane(double a, double b, double c, double px, double py, double pz)
      : SceneObject(kPlane), normal{a, b, c}, offset(-(a * px + b * py + c * pz)), point{px, py, pz} {}
  void Draw(ObjectPainter& p) const override { p.Paint(*this); }
  Vec3 normal;  // a, b, c of a x + b y + c z + d = 0
  double offset;  // d
  Vec3 point;
};

class Quad : public SceneObject {
 public:
  explicit Quad(const std::array<double, 12>& v)
      : SceneObject(kQuad),
        vertices{{{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, {v[6], v[7], v[8]}, {v[9], v[10], v[11]}}} {}
  void Draw(ObjectPainter& p) const override { p.Paint(*this); }
  std::array<Vec3, 4> vertices;
};

// A model read from a file (MESH line): its triangles, scaled uniformly by
// `scale`, then turned and placed as a cuboid is. The parser fills the
// line's fields; the model is read when the scene is prepared
// (LoadSceneMeshes).
class Mesh : public SceneObject {
 public:
  Mesh(double s, std::string f) : SceneObject(kMesh), scale(s), file(std::move(f)) {}
  void Draw(ObjectPainter& p) const override { p.Paint(*this); }
  double scale;
  std::string file;  // as the line writes it, relative to the scene's folder
  int line = 0;      // scene line it came from, for messages
  std::string resolvedFile;
  std::string sha256;  // of the file's bytes
  std::shared_ptr<const MeshModel> model;  // null until loaded
  // The texture field is the word `model`: the model's own materials (its
  // textures, vertex colours or diffuse colours) instead of a Tovimar
  // texture and the line's colour.
  bool ownMaterials = false;
};

class CameraMotion : public SceneObject {
 public:
  CameraMotion() : SceneObject(kCameraMotion) {}
  int line = 0;  // scene line it came from (0: not from a scene file), for messages
};

// One MOVE line: the motion of the solids with `id` at one frame; position
// holds the translation, rotation the angles in degrees about world x, y, z.
class ObjectMove : public SceneObject {
 public:
  ObjectMove() : SceneObject(kObjectMove) {}
  int line = 0;  // scene line it came from, for messages
};

}  // namespace tovimar
