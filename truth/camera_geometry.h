#pragma once
// The camera of a rendered frame in the conventions of stereo datasets:
// intrinsics K and the camera-to-world pose with OpenCV's camera axes (x
// right, y down, z forward), derived from the matrices the renderer used.
#include <array>

namespace tovimar {

// Row-major 4 x 4 matrix.
using Mat4 = std::array<double, 16>;

Mat4 FromColumnMajor(const std::array<double, 16>& glMatrix);
Mat4 Multiply(const Mat4& a, const Mat4& b);
// General inverse by Gauss-Jordan elimination with partial pivoting; a
// singular matrix gives all NaN.
Mat4 Inverse(const Mat4& m);

// Pixel coordinates: the centre of the top-left pixel is (0, 0), u to the
// right, v down.
struct Intrinsics {
  double fx = 0, fy = 0, cx = 0, cy = 0;
};

// K of a symmetric perspective (as gluPerspective makes it, read back from
// the GL) over a width x height viewport.
Intrinsics IntrinsicsFromPerspective(const std::array<double, 16>& perspectiveGL, int width, int height);

// Camera-to-world pose. projectionGL = perspective * camera motion (the right
// camera's shift and the frames' accumulated motion live on the projection
// stack); modelviewGL is the view. K * inverse(pose) * (X, 1) projects a world
// point X to its pixel.
Mat4 CameraToWorld(const std::array<double, 16>& perspectiveGL, const std::array<double, 16>& projectionGL,
                   const std::array<double, 16>& modelviewGL);

// The rigid motion nearest to a camera-to-world matrix the renderer applied
// (its float matrices are neither exactly orthonormal nor exactly affine):
// the matrix scaled to 1 at the bottom right, its 3 x 3 block replaced by
// the nearest rotation (the orthogonal polar factor), its translation kept,
// bottom row exactly 0 0 0 1. A matrix whose block is singular or a
// reflection has no nearest rotation and is returned unchanged.
Mat4 NearestRigidMotion(const Mat4& m);

// Projects a world point with K and a camera-to-world pose; false when the
// point is not in front of the camera.
bool ProjectPoint(const Intrinsics& k, const Mat4& cameraToWorld, const std::array<double, 3>& world, double& u,
                  double& v, double* depth = nullptr);

}  // namespace tovimar
