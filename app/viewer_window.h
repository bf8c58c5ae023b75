#pragma once
// The stereo viewer window: shows every drawing of the viewer core, owns the
// frame timer of its run session, and carries the (hidden) developer
// controls. It answers the core's questions about the settings by reading
// the control panel and its own camera check box at the moment of use.
//
// A run's frame steps go to a worker thread, which holds the OpenGL context
// for each step and reads a copy of the settings taken when the step was
// handed over; the pictures it draws come back to this window, so that the
// windows repaint and Stop takes effect before the next drawing.
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "app/app_support.h"
#include "app/truth_view.h"
#include "avi/avi_export.h"
#include "render/settings.h"
#include "run/output_settings.h"

namespace tovimar {
class Renderer;
class RunSession;
}  // namespace tovimar
class RunWorker;
class QString;

// The scene editor as the viewer uses it: the core's editor link, and the
// list of scene problems a preparation fills (implemented by SceneEditor).
class ViewerEditor : public tovimar::EditorLink {
 public:
  virtual void BeginSceneReports() = 0;
  // field: -1 for a problem of the whole line; written: the field as written.
  virtual void AddSceneReport(int line, int field, const QString& written, const QString& text) = 0;
  virtual void EndSceneReports() = 0;
};

// The control panel as the viewer and the editor use it: the run's settings
// as it shows them, and where a run's progress and status go (implemented by
// ControlPanel).
class ViewerPanel {
 public:
  virtual ~ViewerPanel() = default;
  virtual std::array<int, 3> BackgroundChosen() const = 0;
  virtual bool AntiAliasChosen() const = 0;
  virtual QString OutputFolderText() const = 0;
  virtual int SequenceNumberChosen() const = 0;
  virtual bool PreviewChosen() const = 0;
  virtual bool PaletteChosen() const = 0;
  virtual bool BothCamerasChosen() const = 0;
  virtual tovimar::OutputChoice DatasetOutputs() const = 0;
  // Where MESH files not beside the scene are looked for (RunOptions::modelFolders).
  virtual std::vector<std::string> ModelFoldersChosen() const = 0;
  // A maximum of 0 would turn the bar into a busy indicator: at least 1.
  virtual void SetProgressRange(int maximum) = 0;
  virtual void SetProgress(int position) = 0;
  virtual void SetStartStopCaption(const QString& caption) = 0;
  // A message: kept in the message log, and during a run kept on the status
  // line over the run's progress.
  virtual void ShowStatus(const QString& text) = 0;
  // A run's progress (frame i of N): on the status line unless a message of
  // this run holds it; never logged.
  virtual void ShowRunProgress(const QString& text) = 0;
  virtual void RunFinished(bool complete) = 0;
};

// What the viewer asks of the program around it (Desktop): the other two
// windows, each null before it is made and after it is destroyed.
class ViewerHost {
 public:
  virtual ~ViewerHost() = default;
  virtual ViewerEditor* Editor() const = 0;
  virtual ViewerPanel* Panel() const = 0;
  virtual void ShowSceneEditor() = 0;
};

// What the empty viewer says before anything is drawn.
inline const QString kEmptyViewerHint = QStringLiteral(
    "Nothing to show yet.\nPress Prepare (or Load a scene file) in the scene editor to see the scene here,\nthen "
    "Start on the control panel to render its frames.\nFile > Open sequence folder shows frames written before.");

class ViewerWindow : public QWidget, public tovimar::RenderSettings, public tovimar::OutputSettings {
  Q_OBJECT
 public:
  explicit ViewerWindow(ViewerHost& host, QWidget* parent = nullptr);
  ~ViewerWindow() override;  // FormDestroy

  tovimar::Renderer& GetViewer() { return *viewer_; }
  tovimar::RunSession& Session() { return *session_; }

  // Window events.
  void FormCreate();
  void FormDestroy();
  void FormPaint();  // view defaults, then one drawing (the window was uncovered)

  // The control panel's "Apply": client size, then a new rendering context,
  // then the repaint that follows a resize. A run going on is ended first.
  void ChangeResolution(int width, int height);
  // The largest client size the window may take on the screen: a frame
  // larger than this is shown scaled down (the rendered frame keeps its size).
  void SetDisplayLimit(const QSize& limit);
  QSize RenderSize() const { return renderSize_; }

  // The control panel's Start/Stop: a stop asked for here is reported as
  // the user's. Between frames it ends the run at once; during a frame step
  // the step ends before its next drawing (an unfinished frame writes none of its files).
  void StartStop();
  // A run is going, or the worker has a job in hand.
  bool Running() const;
  // The worker has a job in hand (a frame step).
  bool WorkerBusy() const;
  // Blocks until the worker's jobs are done and their results shown.
  void WaitForWorker();
  // Shows the window normally and in front (after a minimise or a hide).
  void BringToFront();
  // Lets closeEvent close the window: the program is ending.
  void AllowClose() { closeAllowed_ = true; }

  // What the window shows: the camera drawing or the ground truth of the
  // frame just written (read from its files).
  void SetViewMode(tovimar::ViewMode mode);
  tovimar::ViewMode GetViewMode() const { return viewMode_; }
  const tovimar::WrittenFrame& LastWrittenFrame() const { return lastWritten_; }
  const tovimar::TruthFiles& Truth() const { return truth_; }
  // The disparity and id at a pixel of the frame, as the status label shows them.
  QString ProbeText(int x, int y) const;
  // What the window shows: the view, the camera, the frame ("Disparity, left
  // camera, frame 2"); ProbeLabel shows it, with the readout under the pointer.
  QString ViewDescription() const;
  // The ground-truth views step through the frames the run wrote (keys Left,
  // Right, PgUp, PgDn); a new frame written shows that one again.
  void StepTruthFrame(int step);
  const tovimar::WrittenFrame& TruthFrame() const { return truthFrame_; }
  // The ground-truth views show the given camera's frame, when the folder's
  // manifest lists that camera's frame of the one shown (the camera choice).
  void ShowTruthOfCamera(bool right);
  // Shows a sequence folder on disk (any layout): its frames from frame 0 in
  // every view, the camera image as stored, of the camera chosen when it has
  // frames there, else of the other; Evaluate then scores it. Returns what the
  // status line says: the frames found, or why the folder is not shown. A
  // preparation or a run returns the window to the scene.
  bool OpenSequenceFolder(const QString& folder, QString& status);
  bool ShowingFolder() const { return showingFolder_; }
  QLabel* ProbeLabel;   // under the pointer: disparity and id
  QWidget* HelpWindow;  // keys and mouse, F1
  QMenu* ViewMenu;      // the context menu: views, reset, save, help
  // The four views' actions (checked: the one shown), for the panel's View menu too.
  QList<QAction*> ViewActions() const { return viewActions_; }
  void ShowHelp();

  // Developer controls and commands.
  void Button1Click(QObject* sender);   // "/\"  elevation - 2
  void Button2Click(QObject* sender);   // "<"   azimuth + 2
  void Button3Click(QObject* sender);   // ">"   azimuth - 2
  void Button4Click(QObject* sender);   // "V"   elevation + 2
  void Button5Click(QObject* sender);   // "-"   distance + 0.2
  void Button6Click(QObject* sender);   // "+"   distance - 0.2
  void Button7Click(QObject* sender);   // "Start": the start of a run
  void Button9Click(QObject* sender);   // "9 - odrysuj": redraw
  void Button10Click(QObject* sender);  // "10-DoAvi": ExportAvi
  void Button11Click(QObject* sender);  // "11 - przyg. sekw.": scene preparation
  void Button13Click(QObject* sender);  // "Button13": save a picture of the view
  void TrackBar1Change(QObject* sender);
  void CheckBox1Click(QObject* sender);  // camera switch
  void Timer1Timer(QObject* sender);     // one frame step, handed to the worker
  void Timer2Timer(QObject* sender);     // the delayed picture save
  void HideDeveloperControls();

  // Assembles the chosen camera's stored images of the panel's folder and
  // sequence number into L.avi / P.avi (the panel's "Export AVI").
  void ExportAvi();
  // What the last AVI export did (ExportAvi), and the frames of the
  // camera images it left out: in the folder, but not of the last run.
  tovimar::AviExportSummary LastAviExport;
  std::vector<int32_t> LastAviLeftOut;

  // The save-picture dialog: returns the chosen file name, or an empty text
  // when the user cancels. Tests replace it.
  std::function<QString()> SavePictureDialog1;

  // The picture the client area shows, at the rendered size: the last
  // presented drawing, or the ground-truth view.
  QImage ShownImage();

  // tovimar::RenderSettings and OutputSettings, read from the control panel
  // and CheckBox1.
  std::array<int, 3> BackgroundColour() const override;
  bool AntiAlias() const override;
  bool RightCamera() const override;
  std::string OutputFolder() const override;
  int SequenceNumber() const override;
  bool PreviewOnly() const override;
  bool Palette() const override;
  tovimar::OutputChoice Outputs() const override;
  std::vector<std::pair<std::string, std::string>> Invocation() const override;
  // "both" while the panel's "Both cameras" is ticked (the manifest then
  // calls a sequence complete only with both runs), else "".
  std::string PlannedCameras() const override;

  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button4;
  QPushButton* Button5;
  QPushButton* Button6;
  QPushButton* Button7;
  QPushButton* Button9;
  QPushButton* Button10;
  QPushButton* Button11;
  QPushButton* Button13;
  QSlider* TrackBar1;
  QCheckBox* CheckBox1;
  QTimer* Timer1;
  QTimer* Timer2;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The editor as the core sees it, reached through the desktop at each use.
  class EditorForward;
  // The settings as the core sees them: the controls, or on the worker the
  // copy its job was handed.
  class SettingsRelay;
  // The parser's reports, into the editor's list.
  class SceneReports;
  // Runs a preparation with its reports gathered into one list.
  template <class F>
  void Preparing(F&& prepare);
  // What a job of the worker reads instead of the controls.
  struct JobSettings {
    tovimar::PlainSettings settings;
    bool matrixLog = false;
    std::string sceneName;
  };

  enum class EndReason { None, User, Preparation, Apply };

  void Presented();
  QImage ReadPresented();
  void RefreshShownImage();
  JobSettings TakeJobSettings() const;
  // Hands a job to the worker with a copy of the settings; `after` runs here
  // once the job is done and what it drew is shown.
  void PostJob(std::function<void()> job, std::function<void()> after);
  // Runs now when no run is going, else as a job of the worker (which holds
  // the context then).
  void UseViewer(std::function<void()> use);
  bool OnWorkerThread() const;
  // Runs here now, or, called from the worker, once its job is done.
  void OnUi(std::function<void()> task);
  // Ends a run before the scene or the context changes under it: the step in
  // hand ends at its next drawing. True when a run was going.
  bool InterruptRun(EndReason reason);
  void AbortBetweenSteps();
  void RefreshTruth();
  bool ViewControlsFree() const;  // idle, camera view: the developer controls may draw
  void RunProgress(int position);
  void RunEnded();
  void RunFailed(const std::string& message);
  void ResetProgress();
  bool ViewMoved() const;  // orbited or zoomed away from the frame's view
  void ShowViewLabel(const QString& probe);
  // The frame's pixel under a point of the window; (-1, -1) beside the picture.
  QPoint FramePoint(const QPoint& widgetPoint) const;
  // The size of the picture the view shows, and where it is drawn in the window.
  QSize PictureSize() const;
  QRect PictureRect() const;

  ViewerHost& desktop_;  // the other windows
  std::unique_ptr<EditorForward> editor_;
  std::unique_ptr<SettingsRelay> settings_;
  std::unique_ptr<SceneReports> sceneReports_;
  std::unique_ptr<RunWorker> worker_;
  std::atomic<bool> stop_{false};  // the run's cancel check
  JobSettings jobSettings_;        // the worker's own: set as each job starts
  bool presentedInJob_ = false;    // the worker's own
  tovimar::AppNotifierForwarder notifier_;
  std::unique_ptr<tovimar::Renderer> viewer_;
  std::unique_ptr<tovimar::RunSession> session_;  // the runs, over viewer_ and settings_
  QImage shown_;
  bool shownStale_ = false;
  QString pictureFileName_;
  QSize renderSize_{512, 384};
  QSize displayLimit_{16384, 16384};
  bool closeAllowed_ = false;
  bool bringing_ = false;
  EndReason endReason_ = EndReason::None;
  QElapsedTimer runClock_;
  int runFrames_ = 0;
  tovimar::ViewMode viewMode_ = tovimar::ViewMode::Camera;
  tovimar::WrittenFrame lastWritten_;
  tovimar::WrittenFrame truthFrame_;  // the frame the ground-truth views show
  tovimar::TruthFiles truth_;
  bool showingFolder_ = false;  // the views show a folder opened from disk
  // The readout over the camera's drawing: the files of the camera shown.
  const tovimar::TruthFiles& TruthUnderPointer() const;
  mutable tovimar::WrittenFrame cameraTruthOf_;
  mutable tovimar::TruthFiles cameraTruth_;
  QImage truthImage_;
  QPoint dragFrom_;
  bool dragging_ = false;
  QList<QAction*> viewActions_;
};
