#pragma once
// The camera model's arithmetic, kept free of OpenGL so it can be checked on
// its own.
#include <array>
#include <string>

#include "scene/scene_objects.h"

namespace tovimar {

// Near and far clipping planes of the perspective, in scene units. The
// ground truth turns window depth back into distance with the same values.
inline constexpr double kNearPlane = 0.5;
inline constexpr double kFarPlane = 34.0;

// Vertical field of view in degrees for a client height in pixels and a focal
// length in pixels: atan(height / (2 f)) * 2 * 180 * (1 / 3.1415), evaluated in
// extended precision (the constant is pi cut to four decimals, on purpose:
// 512 x 384 with f = 389 gives 52.5410 degrees).
double FieldOfViewY(int height, double focalLength);

// Width / height rounded to a 32-bit float (4/3 gives 1.33333337).
float AspectRatio(int width, int height);

// The two motion log lines of one frame motion: the table line
// ("tx&ty&tz&ax&ay&az&T & T & T & R & R & R \\") and the plain line
// ("tx;ty;tz;ax;ay;az;"), numbers in the three-decimal text.
struct MotionLogLines {
  std::string table;
  std::string plain;
};
MotionLogLines FormatMotionLog(const Vec3& translation, const Vec3& rotation, char decimalSeparator);

// The matrix log line of one drawn object: the 16 values in OpenGL's column-major
// order, each in the three-decimal text followed by "; ".
std::string FormatMatrixLog(const std::array<double, 16>& matrix, char decimalSeparator);

}  // namespace tovimar
