#pragma once
// What the renderer reads from its surroundings at the moment of use. The
// desktop windows implement these; the command-line tool and the tests use
// the plain versions below.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace tovimar {

// Defaults of the scene editor's number fields and of the background colour.
inline constexpr const char* kDefaultFocalLengthText = "389,0";
inline constexpr const char* kDefaultBaselineText = "0,12";
inline constexpr double kDefaultFocalLength = 389.0;  // the fields' defaults as numbers
inline constexpr double kDefaultBaseline = 0.12;
inline constexpr std::array<int, 3> kDefaultBackground{0, 255, 255};

// How the frames are drawn: background, antialiasing and which camera.
class RenderSettings {
 public:
  virtual ~RenderSettings() = default;
  virtual std::array<int, 3> BackgroundColour() const = 0;  // 0..255 each
  virtual bool AntiAlias() const = 0;                       // the antialiasing filter
  virtual bool RightCamera() const = 0;                     // false: left camera
};

// The scene editor as the renderer uses it: the scene text, the starting
// focal length and baseline as numbers (the desktop's editor reads them from
// its fields; the text handling stays there), the object and frame counts and
// the motion logs.
class EditorLink {
 public:
  virtual ~EditorLink() = default;
  virtual std::vector<std::string> SceneLines() const = 0;
  // The file the scene lines came from, for messages ("" when unnamed).
  virtual std::string SceneName() const { return ""; }
  // The starting focal length (pixels, positive) and baseline (scene units)
  // of a preparation, asked in this order; each throws Error when its value
  // cannot be given (the desktop's field text that does not convert).
  virtual double FocalLength() = 0;
  virtual double Baseline() = 0;
  virtual void ShowCounts(std::size_t objects, std::size_t frames) = 0;
  virtual bool MatrixLogEnabled() const = 0;
  // One line per applied camera motion: the table form and the plain form.
  virtual void AppendMotionLog(const std::string& tableLine, const std::string& plainLine) = 0;
  // One line per drawn object when the matrix log is enabled.
  virtual void AppendMatrixLog(const std::string& line) = 0;
  virtual void ClearMotionLogs() = 0;
};

struct PlainRenderSettings : RenderSettings {
  std::array<int, 3> background = kDefaultBackground;
  bool antiAlias = false;
  bool rightCamera = false;

  std::array<int, 3> BackgroundColour() const override { return background; }
  bool AntiAlias() const override { return antiAlias; }
  bool RightCamera() const override { return rightCamera; }
};

struct PlainEditor : EditorLink {
  std::vector<std::string> lines;
  std::string sceneName;
  double focalLength = kDefaultFocalLength;
  double baseline = kDefaultBaseline;
  std::size_t objectCount = 0, frameCount = 0;
  bool matrixLog = false;
  bool keepLogs = false;  // the command-line tool drops the logs
  std::vector<std::string> motionTable, motionPlain, matrixLines;

  std::vector<std::string> SceneLines() const override { return lines; }
  std::string SceneName() const override { return sceneName; }
  double FocalLength() override { return focalLength; }
  double Baseline() override { return baseline; }
  void ShowCounts(std::size_t o, std::size_t f) override { objectCount = o; frameCount = f; }
  bool MatrixLogEnabled() const override { return matrixLog; }
  void AppendMotionLog(const std::string& t, const std::string& p) override {
    if (keepLogs) { motionTable.push_back(t); motionPlain.push_back(p); }
  }
  void AppendMatrixLog(const std::string& l) override { if (keepLogs) matrixLines.push_back(l); }
  void ClearMotionLogs() override { motionTable.clear(); motionPlain.clear(); }
};

}  // namespace tovimar
