#pragma once
// What the viewer reads from the other windows at the moment of use. The
// desktop windows implement these; the command-line tool and the tests use
// the plain versions below.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace tovimar {

// Control panel settings and the viewer's camera choice.
class Settings {
 public:
  virtual ~Settings() = default;
  virtual std::array<int, 3> BackgroundColour() const = 0;  // spinner positions, 0..255 each
  virtual bool AntiAlias() const = 0;                       // "AntiAliasing Filter"
  virtual bool RightCamera() const = 0;                     // viewer's CheckBox1 (checked = right)
  virtual std::string OutputFolder() const = 0;             // "Folder"
  virtual int SequenceNumber() const = 0;                   // "Sequence no:"
  virtual bool PreviewOnly() const = 0;                     // "Preview only"
  virtual bool Palette() const = 0;                         // "Color pallete in segmentation"
};

// The scene editor as the viewer uses it.
class EditorLink {
 public:
  virtual ~EditorLink() = default;
  virtual std::vector<std::string> SceneLines() const = 0;  // Memo1
  virtual std::string FocalLengthText() const = 0;          // Edit6
  virtual void SetFocalLengthText(const std::string& text) = 0;
  virtual std::string BaselineText() const = 0;             // Edit5
  virtual void SetBaselineText(const std::string& text) = 0;
  virtual void ShowCounts(std::size_t objects, std::size_t frames) = 0;  // Label8, Label5
  virtual bool MatrixLogEnabled() const = 0;                // CheckBox4
  virtual void AppendMotionLog(const std::string& tableLine, const std::string& plainLine) = 0;  // Memo2, Memo3
  virtual void AppendMatrixLog(const std::string& line) = 0;  // Memo4
  virtual void ClearMotionLogs() = 0;                         // Memo2, Memo3
};

struct PlainSettings : Settings {
  std::array<int, 3> background{0, 255, 255};
  bool antiAlias = false;
  bool rightCamera = false;
  std::string outputFolder;
  int sequenceNumber = 0;
  bool previewOnly = false;
  bool palette = false;

  std::array<int, 3> BackgroundColour() const override { return background; }
  bool AntiAlias() const override { return antiAlias; }
  bool RightCamera() const override { return rightCamera; }
  std::string OutputFolder() const override { return outputFolder; }
  int SequenceNumber() const override { return sequenceNumber; }
  bool PreviewOnly() const override { return previewOnly; }
  bool Palette() const override { return palette; }
};

struct PlainEditor : EditorLink {
  std::vector<std::string> lines;
  std::string focalText = "389,0";
  std::string baselineText = "0,12";
  std::size_t objectCount = 0, frameCount = 0;
  bool matrixLog = false;
  bool keepLogs = false;  // the command-line tool drops the logs
  std::vector<std::string> memo2, memo3, memo4;

  std::vector<std::string> SceneLines() const override { return lines; }
  std::string FocalLengthText() const override { return focalText; }
  void SetFocalLengthText(const std::string& t) override { focalText = t; }
  std::string BaselineText() const override { return baselineText; }
  void SetBaselineText(const std::string& t) override { baselineText = t; }
  void ShowCounts(std::size_t o, std::size_t f) override { objectCount = o; frameCount = f; }
  bool MatrixLogEnabled() const override { return matrixLog; }
  void AppendMotionLog(const std::string& t, const std::string& p) override {
    if (keepLogs) { memo2.push_back(t); memo3.push_back(p); }
  }
  void AppendMatrixLog(const std::string& l) override { if (keepLogs) memo4.push_back(l); }
  void ClearMotionLogs() override { memo2.clear(); memo3.clear(); }
};

}  // namespace tovimar
