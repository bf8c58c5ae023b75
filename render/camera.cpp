#include "render/camera.h"

#include <cmath>

#include "scene/locale_number.h"

namespace tovimar {

double FieldOfViewY(int height, double focalLength) {
  const long double quotient = static_cast<long double>(height) / (2.0L * static_cast<long double>(focalLength));
  const long double fovy = std::atan(quotient) * 2.0L * 180.0L * (1.0L / 3.1415L);
  return static_cast<double>(fovy);
}

float AspectRatio(int width, int height) {
  return static_cast<float>(static_cast<double>(width) / static_cast<double>(height));
}

MotionLogLines FormatMotionLog(const Vec3& translation, const Vec3& rotation, char decimalSeparator) {
  MotionLogLines lines;
  lines.table.reserve(96);
  lines.plain.reserve(64);
  const double values[6] = {translation[0], translation[1], translation[2], rotation[0], rotation[1], rotation[2]};
  for (double v : values) {
    const std::string text = FormatThreeDecimals(v, decimalSeparator);
    lines.table += text;
    lines.table += '&';
    lines.plain += text;
    lines.plain += ';';
  }
  lines.table += "T & T & T & R & R & R \\\\";
  return lines;
}

std::string FormatMatrixLog(const std::array<double, 16>& matrix, char decimalSeparator) {
  std::string line;
  line.reserve(160);
  for (double v : matrix) {
    line += FormatThreeDecimals(v, decimalSeparator);
    line += "; ";
  }
  return line;
}

}  // namespace tovimar
