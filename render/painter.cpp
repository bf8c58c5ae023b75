#include "render/painter.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <algorithm>
#include <cmath>

#include "io/texture_image.h"
#include "scene/mesh_model.h"

namespace tovimar {
namespace {

bool Finite(const Vec3& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// Common start of every drawing: the object's texture, or none.
void BindObjectTexture(uint32_t texture) {
  if (texture != 0) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
  } else {
    glDisable(GL_TEXTURE_2D);
  }
}

void PositionAndRotation(const SceneObject& o) {
  glTranslated(o.position[0], o.position[1], o.position[2]);
  glRotated(o.rotation[0], 1.0, 0.0, 0.0);
  glRotated(o.rotation[1], 0.0, 1.0, 0.0);
  glRotated(o.rotation[2], 0.0, 0.0, 1.0);
}

void Vertex(const Vec3& v) { glVertex3d(v[0], v[1], v[2]); }

}  // namespace

bool PlaneLayoutFor(const Plane& plane, PlaneLayout& layout) {
  const Vec3& n = plane.normal;
  if (!Finite(n) || !std::isfinite(plane.offset)) return false;
  if (n[0] != 0.0) {
    layout = PlaneLayout{0, 1, 2};
    return true;
  }
  if (n[1] == 0.0 && n[2] == 0.0) return false;
  if (std::fabs(n[2]) >= std::fabs(n[1])) {
    layout = PlaneLayout{2, 1, 0};  // floor or ceiling: strips along y, across x
  } else {
    layout = PlaneLayout{1, 0, 2};  // wall facing the camera: strips along x, across z
  }
  return true;
}

bool IsDrawnPlane(const SceneObject& object) {
  const auto* plane = dynamic_cast<const Plane*>(&object);
  PlaneLayout layout;
  return plane != nullptr && PlaneLayoutFor(*plane, layout);
}

uint64_t DrawnPlaneCount(const SceneModel& scene) {
  uint64_t planes = 0;
  for (const auto& object : scene.solidObjects)
    if (object && IsDrawnPlane(*object)) ++planes;
  return planes;
}

std::array<Vec3, 4> PlaneStripCorners(const Plane& plane, const PlaneLayout& layout, int u) {
  const Vec3& n = plane.normal;
  const double d = plane.offset;
  auto corner = [&](double along, double across) {
    Vec3 p{};
    p[layout.strip] = along;
    p[layout.cross] = across;
    p[layout.solved] = -(d + n[layout.strip] * along + n[layout.cross] * across) / n[layout.solved];
    return p;
  };
  const double u0 = u;
  const double u1 = u + 1;
  return {corner(u0, kPlaneCrossHigh), corner(u1, kPlaneCrossHigh), corner(u1, kPlaneCrossLow),
          corner(u0, kPlaneCrossLow)};
}

Vec3 FaceNormal(const Vec3& p1, const Vec3& p2, const Vec3& p3) {
  Vec3 n{};
  SceneObject::planeNormal(p1[0], p2[0], p3[0], p1[1], p2[1], p3[1], p1[2], p2[2], p3[2], n[0], n[1], n[2]);
  return n;
}

GlPainter::GlPainter(RandomState& random) : random_(random) {}

void GlPainter::Colour3d(double r, double g, double b) const {
  if (!flat_) glColor3d(r, g, b);
}

// The model textures are not deleted here: another renderer's context may be
// current. They die with their own context.
GlPainter::~GlPainter() {
  if (quadric_ != nullptr) gluDeleteQuadric(quadric_);
}

void GlPainter::Release() {
  for (const auto& [picture, texture] : modelTextures_) {
    const GLuint name = texture.second;
    glDeleteTextures(1, &name);
  }
  modelTextures_.clear();
  if (quadric_ != nullptr) {
    gluDeleteQuadric(quadric_);
    quadric_ = nullptr;
  }
}

// One quadric serves every quadric-based drawing: its settings (texture
// coordinates on, fill, smooth normals, outside orientation) never change.
GLUquadric* GlPainter::Quadric() {
  if (quadric_ == nullptr) {
    quadric_ = gluNewQuadric();
    if (quadric_ != nullptr) {
      gluQuadricTexture(quadric_, GL_TRUE);
      gluQuadricDrawStyle(quadric_, GLU_FILL);
    }
  }
  return quadric_;
}

void GlPainter::Paint(const Sphere& o) {
  if (!flat_) BindObjectTexture(o.texture);
  Colour3d(o.colour[0], o.colour[1], o.colour[2]);
  glTranslated(o.position[0], o.position[1], o.position[2]);
  if (GLUquadric* q = Quadric()) gluSphere(q, o.radius, kRoundSolidSlices, kRoundSolidStacks);
  glDisable(GL_TEXTURE_2D);
}

void GlPainter::Paint(const Cuboid& o) {
  if (!flat_) BindObjectTexture(o.texture);
  Colour3d(o.colour[0], o.colour[1], o.colour[2]);
  PositionAndRotation(o);
  DrawBox(o.halfSize[0], o.halfSize[1], o.halfSize[2]);
  glDisable(GL_TEXTURE_2D);
}

void GlPainter::Paint(const Cylinder& o) {
  if (!flat_) BindObjectTexture(o.texture);
  Colour3d(o.colour[0], o.colour[1], o.colour[2]);
  glPushMatrix();
  PositionAndRotation(o);
  if (GLUquadric* q = Quadric()) {
    gluCylinder(q, o.baseRadius, o.topRadius, o.height, kRoundSolidSlices, kRoundSolidStacks);
    if (o.baseRadius > 0.0) gluDisk(q, 0.0, o.baseRadius, kRoundSolidSlices, kRoundSolidStacks);
    if (o.topRadius > 0.0 && o.height > 0.0) {
      glTranslated(0.0, 0.0, o.height);
      gluDisk(q, 0.0, o.topRadius, kRoundSolidSlices, kRoundSolidStacks);
    }
  }
  glPopMatrix();
  glDisable(GL_TEXTURE_2D);
}

void GlPainter::Paint(const Plane& o) {
  PlaneLayout layout;
  if (!PlaneLayoutFor(o, layout)) return;  // reported when the scene was prepared
  if (!flat_) {
    BindObjectTexture(o.texture);
    const int k = random_.NextPlaneShade();
    glColor4d(k * 0.01, 0.99, 0.1, 0.4);
  }
  for (int i = 0; i < kPlaneStripCount; ++i) {
    const std::array<Vec3, 4> c = PlaneStripCorners(o, layout, kPlaneStripFirst + i);
    const Vec3 n = FaceNormal(c[0], c[1], c[2]);
    glNormal3d(n[0], n[1], n[2]);
    glBegin(GL_QUADS);
    glTexCoord2d(0.0, 0.0);
    Vertex(c[0]);
    glTexCoord2d(1.0, 0.0);
    Vertex(c[1]);
    glTexCoord2d(1.0, 1.0);
    Vertex(c[2]);
    glTexCoord2d(0.0, 1.0);
    Vertex(c[3]);
    glEnd();
  }
}

void GlPainter::Paint(const Quad& o) {
  if (!flat_) {
    BindObjectTexture(o.texture);
    glColor3f(static_cast<float>(o.colour[0]), static_cast<float>(o.colour[1]), static_cast<float>(o.colour[2]));
  }
  const Vec3 n = FaceNormal(o.vertices[0], o.vertices[1], o.vertices[2]);
  glNormal3d(n[0], n[1], n[2]);
  glBegin(GL_QUADS);
  glTexCoord2d(0.0, 0.0);
  Vertex(o.vertices[0]);
  glTexCoord2d(1.0, 0.0);
  Vertex(o.vertices[1]);
  glTexCoord2d(1.0, 1.0);
  Vertex(o.vertices[2]);
  glTexCoord2d(0.0, 1.0);
  Vertex(o.vertices[3]);
  glEnd();
}

void GlPainter::EndObject() { glTranslated(0.0, 0.0, 0.0); }

void GlPainter::Paint(const Mesh& o) {
  if (o.model == nullptr) return;  // not loaded: the preparation refused the scene
  const MeshModel& m = *o.model;
  const bool ownMaterials = o.ownMaterials && !flat_;
  if (!flat_ && !ownMaterials) BindObjectTexture(o.texture);
  if (!ownMaterials) Colour3d(o.colour[0], o.colour[1], o.colour[2]);
  PositionAndRotation(o);
  // The corners scaled in double precision and rounded to float, as the GL
  // rounds a glVertex3d: the values a vertex-by-vertex drawing gives, handed
  // over as arrays. The normals, texture coordinates and colours are the
  // model's own arrays.
  const double s = o.scale;
  scaledCorners_.resize(m.positions.size());
  for (std::size_t k = 0; k < m.positions.size(); ++k) scaledCorners_[k] = static_cast<float>(s * m.positions[k]);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_NORMAL_ARRAY);
  glEnableClientState(GL_TEXTURE_COORD_ARRAY);
  glVertexPointer(3, GL_FLOAT, 0, scaledCorners_.data());
  glNormalPointer(GL_FLOAT, 0, m.normals.data());
  glTexCoordPointer(2, GL_FLOAT, 0, m.texCoords.data());
  if (ownMaterials) {
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(3, GL_FLOAT, 0, m.colours.data());
  }
  for (const ModelPart& part : m.parts) {
    if (ownMaterials) BindObjectTexture(ModelTexture(m.materials[part.material].texture));
    glDrawArrays(GL_TRIANGLES, static_cast<GLint>(part.firstTriangle * 3),
                 static_cast<GLsizei>(part.triangleCount * 3));
  }
  if (ownMaterials) glDisableClientState(GL_COLOR_ARRAY);
  glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  glDisableClientState(GL_NORMAL_ARRAY);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisable(GL_TEXTURE_2D);
}

uint32_t GlPainter::ModelTexture(const std::shared_ptr<const RgbImage>& picture) {
  if (picture == nullptr) return 0;
  if (const auto it = modelTextures_.find(picture.get()); it != modelTextures_.end()) return it->second.second;
  // Rows bottom first, as the GL takes them: a texture coordinate t of 0 is
  // the picture's bottom row (the OBJ convention, which Assimp gives glTF's
  // coordinates in too).
  const std::size_t stride = static_cast<std::size_t>(picture->width) * 3;
  std::vector<uint8_t> rows(picture->rgb.size());
  for (int y = 0; y < picture->height; ++y) {
    std::copy_n(picture->rgb.data() + stride * static_cast<std::size_t>(picture->height - 1 - y), stride,
                rows.data() + stride * static_cast<std::size_t>(y));
  }
  GLuint name = 0;
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);  // models tile their textures
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, picture->width, picture->height, 0, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  modelTextures_.emplace(picture.get(), std::make_pair(picture, name));
  return name;
}

void GlPainter::DrawBox(double a, double b, double c) {
  struct Corner {
    double x, y, z, s, t;
  };
  struct Face {
    double nx, ny, nz;
    Corner corners[4];
  };
  const Face faces[6] = {
      {0, 0, 1, {{-a, -b, c, 0, 0}, {a, -b, c, 1, 0}, {a, b, c, 1, 1}, {-a, b, c, 0, 1}}},          // front
      {0, 0, -1, {{-a, -b, -c, 1, 0}, {-a, b, -c, 1, 1}, {a, b, -c, 0, 1}, {a, -b, -c, 0, 0}}},     // back
      {0, 1, 0, {{-a, b, -c, 0, 1}, {-a, b, c, 0, 0}, {a, b, c, 1, 0}, {a, b, -c, 1, 1}}},          // top
      {0, -1, 0, {{-a, -b, -c, 1, 1}, {a, -b, -c, 0, 1}, {a, -b, c, 0, 0}, {-a, -b, c, 1, 0}}},     // bottom
      {1, 0, 0, {{a, -b, -c, 1, 0}, {a, b, -c, 1, 1}, {a, b, c, 0, 1}, {a, -b, c, 0, 0}}},          // right
      {-1, 0, 0, {{-a, -b, -c, 0, 0}, {-a, -b, c, 1, 0}, {-a, b, c, 1, 1}, {-a, b, -c, 0, 1}}},     // left
  };
  glBegin(GL_QUADS);
  for (const Face& f : faces) {
    glNormal3d(f.nx, f.ny, f.nz);
    for (const Corner& v : f.corners) {
      glTexCoord2d(v.s, v.t);
      glVertex3d(v.x, v.y, v.z);
    }
  }
  glEnd();
}

}  // namespace tovimar
