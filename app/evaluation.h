#pragma once
// The control panel's "Evaluate": OpenCV's SGBM baseline on the last run's
// stereo pair, scored against the run's ground truth, and when the run wrote
// flow, OpenCV's DIS optical flow scored against the flow. The desktop program
// does not link OpenCV: it runs tovimar-eval as a child process and shows
// what that wrote (the JSON figures and the error pictures) in a small
// window of its own.
#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSpinBox>
#include <QStringList>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QWidget>
#include <memory>
#include <span>
#include <vector>

namespace tovimar {

// Where tovimar-eval is: $TOVIMAR_EVAL when set (and then only there), else
// next to the program, else the build tree's eval/ folder (the program in
// <build>/app/), else on PATH. found is empty when none of these has it.
struct EvalToolSearch {
  QString found;
  QStringList lookedFor;  // every place tried, in order
};
EvalToolSearch FindEvalTool();

// A figure of the tool's JSON: its key, the column title, the decimals shown.
struct EvalColumn {
  const char* key;
  const char* title;
  int decimals;
};
inline constexpr EvalColumn kEvalColumns[] = {
    {"epe", "EPE px", 3},     {"rmse", "RMSE px", 3}, {"bad0.5", "bad-0.5 %", 2}, {"bad1", "bad-1 %", 2},
    {"bad2", "bad-2 %", 2},   {"bad4", "bad-4 %", 2}, {"d1", "D1 %", 2},          {"a50", "A50 px", 3},
    {"a90", "A90 px", 3},     {"a95", "A95 px", 3},   {"a99", "A99 px", 3},       {"density", "density %", 2},
    {"pixels", "pixels", 0},
};

// The flow task's figures.
inline constexpr EvalColumn kFlowColumns[] = {
    {"epe", "EPE px", 3}, {"fl", "Fl %", 2}, {"density", "density %", 2}, {"pixels", "pixels", 0}};

// The sequence total of the tool's JSON, one row per region.
struct EvalRow {
  QString region;
  std::vector<double> values;  // in kEvalColumns order; NaN where the tool wrote null
};
struct EvalReport {
  std::vector<EvalRow> total;  // all, nonoccluded, occluded, then id:N by number
  std::vector<int> frames;     // the frames evaluated
  QString error;               // why the file could not be used; empty when it could
};
// columns: the figures read into each row, in order.
EvalReport ReadEvalReport(const QString& jsonPath, std::span<const EvalColumn> columns = kEvalColumns);

// "Evaluation": the total table, the error picture of one frame and, when
// the tool fails, what it said. Owns the tool's process and the temporary
// folder its predictions, JSON and pictures go to.
class EvaluationWindow : public QWidget {
  Q_OBJECT
 public:
  EvaluationWindow();
  ~EvaluationWindow() override;

  // Runs the tool on a sequence folder for one camera; currentFrame is the
  // frame whose error picture is shown first. Returns at once.
  // withFlow: then also the flow of the frames that have it (DIS).
  void Start(const QString& tool, const QString& sequenceDir, bool rightCamera, int currentFrame,
             bool withFlow = false);
  bool Running() const;
  // Empties the tables and pictures, saying why in their place (the
  // results no longer describe the folder); nothing while the tool runs.
  void Clear(const QString& why);

  QString JsonPath() const;
  QString ImagesDir() const;
  QString FlowJsonPath() const;
  QString FlowImagesDir() const;
  // The error picture shown (null when none).
  QImage ErrorImage() const { return errorImage_; }

  QLabel* Summary;
  QTableWidget* Table;
  QSpinBox* FrameSpin;
  QLabel* ErrorPicture;
  QLabel* FlowSummary;    // the flow's figures, or why there are none
  QTableWidget* FlowTable;
  QLabel* FlowPicture;    // the frame's true flow in the Middlebury colour coding
  QPlainTextEdit* Messages;  // the tool's error output

 signals:
  // The tool has ended: ok when the table holds its figures.
  void Finished(bool ok, const QString& summary);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;  // the picture area's resize

 private:
  // The error picture scaled to the room the window gives it (proportions kept).
  void FitErrorPicture();
  QScrollArea* pictureArea_ = nullptr;
  void ToolEnded(int exitCode, QProcess::ExitStatus status);
  void Fail(const QString& why);
  void ClearResults();
  void ShowReport(const EvalReport& report);
  void StartFlow();
  void FlowEnded(int exitCode, QProcess::ExitStatus status);
  void ShowFrame(int frame);

  QProcess* process_;
  std::unique_ptr<QTemporaryDir> work_;
  QString sequenceDir_;
  QString tool_;
  bool rightCamera_ = false;
  bool withFlow_ = false;
  bool flowPass_ = false;  // the running tool scores the flow
  QString stereoSummary_;
  std::vector<int> flowFrames_;  // the frames whose flow was scored, in order
  int currentFrame_ = 0;
  QImage errorImage_;
};

}  // namespace tovimar
