#include "app/viewer_window.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "avi/avi_export.h"
#include "app/run_worker.h"
#include "app/window_placement.h"
#include "layout/file_names.h"
#include "render/renderer.h"
#include "dataset/manifest.h"
#include "dataset/output_files.h"
#include "run/run_session.h"

namespace {

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

}  // namespace

// Scene lines, fields and counts are used by the preparation, on this
// thread; the worker's drawings read the job's copy and hand the logs over.
class ViewerWindow::EditorForward : public tovimar::EditorLink {
 public:
  explicit EditorForward(ViewerWindow& window) : window_(window) {}
  std::vector<std::string> SceneLines() const override {
    return Editor() != nullptr ? Editor()->SceneLines() : std::vector<std::string>{};
  }
  std::string SceneName() const override {
    if (OnWorker()) return window_.jobSettings_.sceneName;
    return Editor() != nullptr ? Editor()->SceneName() : std::string();
  }
  double FocalLength() override {
    return Editor() != nullptr ? Editor()->FocalLength() : tovimar::kDefaultFocalLength;
  }
  double Baseline() override { return Editor() != nullptr ? Editor()->Baseline() : tovimar::kDefaultBaseline; }
  void ShowCounts(std::size_t objects, std::size_t frames) override {
    if (Editor() != nullptr) Editor()->ShowCounts(objects, frames);
  }
  bool MatrixLogEnabled() const override {
    if (OnWorker()) return window_.jobSettings_.matrixLog;
    return Editor() != nullptr && Editor()->MatrixLogEnabled();
  }
  void AppendMotionLog(const std::string& tableLine, const std::string& plainLine) override {
    window_.OnUi([&desktop = window_.desktop_, tableLine, plainLine] {
      if (desktop.Editor() != nullptr) desktop.Editor()->AppendMotionLog(tableLine, plainLine);
    });
  }
  void AppendMatrixLog(const std::string& line) override {
    window_.OnUi([&desktop = window_.desktop_, line] {
      if (desktop.Editor() != nullptr) desktop.Editor()->AppendMatrixLog(line);
    });
  }
  void ClearMotionLogs() override {
    if (Editor() != nullptr) Editor()->ClearMotionLogs();
  }

 private:
  bool OnWorker() const { return window_.OnWorkerThread(); }
  ViewerEditor* Editor() const { return window_.desktop_.Editor(); }
  ViewerWindow& window_;
};

class ViewerWindow::SettingsRelay : public tovimar::RenderSettings, public tovimar::OutputSettings {
 public:
  explicit SettingsRelay(ViewerWindow& window) : window_(window) {}
  std::array<int, 3> BackgroundColour() const override { return Render().BackgroundColour(); }
  bool AntiAlias() const override { return Render().AntiAlias(); }
  bool RightCamera() const override { return Render().RightCamera(); }
  std::string OutputFolder() const override { return Output().OutputFolder(); }
  int SequenceNumber() const override { return Output().SequenceNumber(); }
  bool PreviewOnly() const override { return Output().PreviewOnly(); }
  bool Palette() const override { return Output().Palette(); }
  tovimar::OutputChoice Outputs() const override { return Output().Outputs(); }
  std::vector<std::pair<std::string, std::string>> Invocation() const override { return Output().Invocation(); }
  std::string PlannedCameras() const override { return Output().PlannedCameras(); }
  std::string SequenceDirectory() const override { return Output().SequenceDirectory(); }

 private:
  bool OnWorker() const { return window_.OnWorkerThread(); }
  const tovimar::RenderSettings& Render() const {
    if (OnWorker()) return window_.jobSettings_.settings;
    return window_;
  }
  const tovimar::OutputSettings& Output() const {
    if (OnWorker()) return window_.jobSettings_.settings;
    return window_;
  }
  ViewerWindow& window_;
};

class ViewerWindow::SceneReports : public tovimar::LineNotifier {
 public:
  explicit SceneReports(ViewerHost& desktop) : desktop_(desktop) {}
  void NotifyLine(int lineNumber, const std::string&, const std::string& text) override {
    if (desktop_.Editor() != nullptr)
      desktop_.Editor()->AddSceneReport(lineNumber, -1, QString(), tovimar::FromStd(text));
  }
  void NotifyFieldLine(int lineNumber, int field, const std::string& written, const std::string&,
                       const std::string& text) override {
    if (desktop_.Editor() != nullptr)
      desktop_.Editor()->AddSceneReport(lineNumber, field, tovimar::FromStd(written), tovimar::FromStd(text));
  }

 private:
  ViewerHost& desktop_;
};

template <class F>
void ViewerWindow::Preparing(F&& prepare) {
  viewer_->SetModelFolders(desktop_.Panel() != nullptr ? desktop_.Panel()->ModelFoldersChosen()
                                                       : std::vector<std::string>{});
  if (desktop_.Editor() != nullptr) desktop_.Editor()->BeginSceneReports();
  struct Shown {
    ViewerHost& desktop;
    ~Shown() {
      if (desktop.Editor() != nullptr) desktop.Editor()->EndSceneReports();
    }
  } shown{desktop_};
  prepare();
}

ViewerWindow::ViewerWindow(ViewerHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinMaxButtonsHint),
      desktop_(host),
      editor_(std::make_unique<EditorForward>(*this)),
      settings_(std::make_unique<SettingsRelay>(*this)),
      sceneReports_(std::make_unique<SceneReports>(host)),
      worker_(std::make_unique<RunWorker>()) {
  setObjectName(QStringLiteral("ViewerWindow"));
  setWindowTitle(QStringLiteral("Stereo Viewer"));
  // Any size: the picture is scaled to fit, its proportions kept.
  resize(512, 384);
  setMinimumSize(tovimar::kLeastViewerSize);
  setAttribute(Qt::WA_OpaquePaintEvent);
  move(1021, 198);

  struct ButtonLayout {
    QPushButton** button;
    const char* name;
    const char* caption;
    int x, y, w;
  };
  const ButtonLayout buttons[] = {
      {&Button1, "Button1", "/\\", 40, 8, 30},   {&Button4, "Button4", "V", 40, 72, 30},
      {&Button2, "Button2", "<", 8, 40, 30},     {&Button3, "Button3", ">", 72, 40, 30},
      {&Button5, "Button5", "-", 112, 8, 30},    {&Button6, "Button6", "+", 112, 40, 30},
      {&Button9, "Button9", "9 - odrysuj", 8, 110, 110},
      {&Button11, "Button11", "11 - przyg. sekw.", 8, 142, 110},
      {&Button7, "Button7", "Start", 8, 174, 110},
      {&Button10, "Button10", "10-DoAvi", 8, 206, 110},
      {&Button13, "Button13", "Button13", 8, 238, 110},
  };
  for (const ButtonLayout& b : buttons) {
    *b.button = Named(new QPushButton(QString::fromLatin1(b.caption), this), b.name);
    (*b.button)->setGeometry(b.x, b.y, b.w, 26);
    (*b.button)->setVisible(false);
  }
  TrackBar1 = Named(new QSlider(Qt::Horizontal, this), "TrackBar1");
  TrackBar1->setRange(-50, 50);
  TrackBar1->setValue(0);
  TrackBar1->setTickInterval(1);
  TrackBar1->setTickPosition(QSlider::TicksBelow);
  TrackBar1->setGeometry(8, 274, 200, 30);
  TrackBar1->setVisible(false);
  CheckBox1 = Named(new QCheckBox(QStringLiteral("wybor lewa pr.k."), this), "CheckBox1");
  CheckBox1->setGeometry(8, 310, 200, 22);
  CheckBox1->setVisible(false);

  Timer1 = Named(new QTimer(this), "Timer1");
  Timer1->setInterval(20);
  Timer2 = Named(new QTimer(this), "Timer2");
  Timer2->setInterval(1000);

  SavePictureDialog1 = [this]() {
    return QFileDialog::getSaveFileName(this, QString(), QString(), QStringLiteral("Bitmaps (*.bmp)"));
  };

  auto on = [this](QPushButton* button, void (ViewerWindow::*handler)(QObject*)) {
    connect(button, &QPushButton::clicked, this,
            [this, button, handler] { tovimar::Guarded([&] { (this->*handler)(button); }); });
  };
  on(Button1, &ViewerWindow::Button1Click);
  on(Button2, &ViewerWindow::Button2Click);
  on(Button3, &ViewerWindow::Button3Click);
  on(Button4, &ViewerWindow::Button4Click);
  on(Button5, &ViewerWindow::Button5Click);
  on(Button6, &ViewerWindow::Button6Click);
  on(Button7, &ViewerWindow::Button7Click);
  on(Button9, &ViewerWindow::Button9Click);
  on(Button10, &ViewerWindow::Button10Click);
  on(Button11, &ViewerWindow::Button11Click);
  on(Button13, &ViewerWindow::Button13Click);
  connect(TrackBar1, &QSlider::valueChanged, this, [this] { tovimar::Guarded([&] { TrackBar1Change(TrackBar1); }); });
  connect(CheckBox1, &QCheckBox::toggled, this, [this] { tovimar::Guarded([&] { CheckBox1Click(CheckBox1); }); });
  connect(Timer1, &QTimer::timeout, this, [this] { tovimar::Guarded([&] { Timer1Timer(Timer1); }); });
  connect(Timer2, &QTimer::timeout, this, [this] { tovimar::Guarded([&] { Timer2Timer(Timer2); }); });

  // The core: scene state, the rendering context and the run session.
  viewer_ = std::make_unique<tovimar::Renderer>(*settings_, *editor_, notifier_, tovimar::AppDecimalSeparator(),
                                              width(), height());
  viewer_->Rig().StartDirectory = tovimar::ToStd(tovimar::TextureDirectory());
  viewer_->SetSceneTexturesPreferred(true);  // a loaded scene's own texture set, when it has one
  viewer_->SetLineNotifier(sceneReports_.get());
  viewer_->onPresented = [this] { Presented(); };

  // The session calls its hooks from the worker during a step: they reach the
  // widgets once the step is done.
  auto onUi = [this](auto hook) {
    return [this, hook](auto... args) { OnUi([hook, args...] { hook(args...); }); };
  };
  tovimar::SequenceObserver hooks;
  hooks.startTimer = onUi([this](int intervalMs) {
    Timer1->setInterval(intervalMs);
    Timer1->start();
  });
  hooks.stopTimer = onUi([this] { Timer1->stop(); });
  hooks.setProgressMax = onUi([this](int maximum) {
    // A maximum of 0 would turn the bar into a busy indicator.
    if (desktop_.Panel() != nullptr) desktop_.Panel()->SetProgressRange(maximum);
    runFrames_ = maximum;
    runClock_.start();
    RunProgress(0);
  });
  hooks.setProgressPosition = onUi([this](int position) {
    if (desktop_.Panel() != nullptr) desktop_.Panel()->SetProgress(position);
    RunProgress(position);
  });
  hooks.runningChanged = onUi([this](bool running) {
    if (desktop_.Panel() != nullptr)
      desktop_.Panel()->SetStartStopCaption(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
  });
  hooks.starting = onUi([this] {
    desktop_.ShowSceneEditor();  // the text being run stays at hand
    BringToFront();
  });
  hooks.prepared = onUi([this] { HideDeveloperControls(); });
  hooks.showError = onUi([this](const std::string& message) {
    RunFailed(message);
    tovimar::AppNotifier().Notify("", message);
  });
  hooks.runEnded = onUi([this] { RunEnded(); });
  session_ = std::make_unique<tovimar::RunSession>(*viewer_, *settings_, std::move(hooks),
                                                  [this] { return stop_.load(); });

  // Keys, mouse and the context menu of the developer controls and views.
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  ProbeLabel = Named(new QLabel(this), "ProbeLabel");
  ProbeLabel->setAutoFillBackground(true);
  ProbeLabel->setVisible(false);
  ViewMenu = Named(new QMenu(this), "ViewMenu");
  auto* views = new QActionGroup(ViewMenu);
  // The key after the tab is shown as the action's key; the keys themselves
  // are taken by keyPressEvent.
  const char* const viewNames[] = {"Camera image\t1", "Disparity\t2", "Segmentation\t3", "Occlusion mask\t4"};
  const char* const viewTips[] = {
      "The camera's drawing: the scene as the chosen camera sees it (drag to orbit, wheel to zoom)",
      "The disparity of the frame shown, read from its file: colours from blue (far) to red (near), scale in pixels",
      "The object ids of the frame shown (the segmentation map), each id in a colour of its own",
      "The occlusion mask of the frame shown: white seen by both cameras, grey hidden from the other camera, black no ground truth"};
  for (int i = 0; i < 4; ++i) {
    QAction* action = ViewMenu->addAction(QString::fromLatin1(viewNames[i]));
    action->setToolTip(QString::fromLatin1(viewTips[i]));
    viewActions_ << action;
    action->setObjectName(QStringLiteral("view_%1").arg(i + 1));
    action->setCheckable(true);
    action->setChecked(i == 0);
    views->addAction(action);
    connect(action, &QAction::triggered, this,
            [this, i] { tovimar::Guarded([&] { SetViewMode(static_cast<tovimar::ViewMode>(i)); }); });
  }
  ViewMenu->addSeparator();
  connect(ViewMenu->addAction(QStringLiteral("Reset view (Home)")), &QAction::triggered, this, [this] {
    tovimar::Guarded([&] {
      if (ViewControlsFree()) FormPaint();
    });
  });
  connect(ViewMenu->addAction(QStringLiteral("Save picture... (Ctrl+S)")), &QAction::triggered, this,
          [this] { tovimar::Guarded([&] { Button13Click(Button13); }); });
  connect(ViewMenu->addAction(QStringLiteral("Keys and mouse (F1)")), &QAction::triggered, this,
          [this] { ShowHelp(); });
  setContextMenuPolicy(Qt::DefaultContextMenu);

  HelpWindow = new QWidget(this, Qt::Tool);
  HelpWindow->setObjectName(QStringLiteral("HelpWindow"));
  HelpWindow->setWindowTitle(QStringLiteral("Stereo Viewer: keys and mouse"));
  auto* helpText = new QLabel(QStringLiteral(
      "<table>"
      "<tr><td><b>Left</b> / <b>Right</b></td><td>orbit around the scene (azimuth)</td></tr>"
      "<tr><td><b>Up</b> / <b>Down</b></td><td>orbit up and down (elevation)</td></tr>"
      "<tr><td>left-drag</td><td>orbit</td></tr>"
      "<tr><td><b>+</b> / <b>-</b>, wheel</td><td>zoom in and out</td></tr>"
      "<tr><td><b>Home</b> or <b>R</b></td><td>reset the view</td></tr>"
      "<tr><td><b>Ctrl+S</b></td><td>save the picture</td></tr>"
      "<tr><td><b>1</b> <b>2</b> <b>3</b> <b>4</b></td><td>camera image, disparity, segmentation, "
      "occlusion mask of the frame just written</td></tr>"
      "<tr><td><b>Left</b> / <b>Right</b>, <b>PgUp</b> / <b>PgDn</b> in views 2-4</td><td>the previous / next "
      "frame of the run</td></tr>"
      "<tr><td><b>F1</b></td><td>this help (<b>Esc</b> closes it)</td></tr>"
      "</table><p>Right-click the picture for the same commands. The view cannot be moved while a run is "
      "going, and only the camera image can be moved.</p>"),
      HelpWindow);
  helpText->setWordWrap(true);
  auto* helpLayout = new QVBoxLayout(HelpWindow);
  helpLayout->addWidget(helpText);
  HelpWindow->resize(440, 300);
  HelpWindow->installEventFilter(this);  // Esc closes it

  FormCreate();
}

ViewerWindow::~ViewerWindow() { FormDestroy(); }

void ViewerWindow::FormCreate() { viewer_->Initialise(); }

void ViewerWindow::FormDestroy() {
  if (!viewer_) return;
  Timer1->stop();
  Timer2->stop();
  stop_ = true;
  worker_->Join();  // the step in hand ends at its next drawing
  worker_.reset();
  viewer_->onPresented = nullptr;
  session_.reset();
  viewer_->Shutdown();
  viewer_.reset();
}

void ViewerWindow::FormPaint() { viewer_->ResetViewAndDraw(); }

void ViewerWindow::ChangeResolution(int width, int height) {
  // A run must not go on in a context of another size.
  InterruptRun(EndReason::Apply);
  renderSize_ = QSize(width, height);
  resize(tovimar::FitInside(renderSize_, displayLimit_));
  shown_ = QImage();
  shownStale_ = false;
  viewer_->ChangeResolution(width, height);
  FormPaint();
}

void ViewerWindow::Button1Click(QObject*) {
  UseViewer([this] { viewer_->ChangeView(0.0f, -2.0f, 0.0); });
}

void ViewerWindow::Button4Click(QObject*) {
  UseViewer([this] { viewer_->ChangeView(0.0f, 2.0f, 0.0); });
}

void ViewerWindow::Button2Click(QObject*) {
  UseViewer([this] { viewer_->ChangeView(2.0f, 0.0f, 0.0); });
}

void ViewerWindow::Button3Click(QObject*) {
  UseViewer([this] { viewer_->ChangeView(-2.0f, 0.0f, 0.0); });
}

void ViewerWindow::Button5Click(QObject*) {
  UseViewer([this] { viewer_->ChangeView(0.0f, 0.0f, 0.2); });
}

void ViewerWindow::Button6Click(QObject*) {
  UseViewer([this] { viewer_->ChangeView(0.0f, 0.0f, -0.2); });
}

void ViewerWindow::Button9Click(QObject*) {
  UseViewer([this] { viewer_->Redraw(); });
}

void ViewerWindow::TrackBar1Change(QObject*) {
  // Moves the light and redraws.
  UseViewer([this, z = TrackBar1->value()] { viewer_->SetLightZ(z); });
}

void ViewerWindow::CheckBox1Click(QObject*) {
  const bool right = CheckBox1->isChecked();
  UseViewer([this, right] { viewer_->CameraSwitch(right); });
  // Between runs the ground-truth views follow the camera chosen, when it
  // has written the frame shown (after a run of both cameras).
  if (!Running()) ShowTruthOfCamera(right);
}

void ViewerWindow::ShowTruthOfCamera(bool right) {
  if (!truthFrame_.valid || truthFrame_.rightCamera == right) return;
  if (!tovimar::SequenceManifest(truthFrame_.directory).HasFrame(right, truthFrame_.frame)) return;
  truthFrame_.rightCamera = right;
  if (viewMode_ != tovimar::ViewMode::Camera) RefreshTruth();
}

void ViewerWindow::Button7Click(QObject*) {
  if (Running()) return;  // a run in hand is never started again under itself
  stop_ = false;
  showingFolder_ = false;
  Preparing([this] { session_->Start(); });
}

void ViewerWindow::StartStop() {
  if (!Running()) {
    stop_ = false;
    showingFolder_ = false;
    // The folder typed on the panel is made with its parents, as the command
    // line makes its output folder; one that cannot be made is reported by
    // the run's first file.
    if (!PreviewOnly()) QDir().mkpath(tovimar::FromStd(OutputFolder()));
    Preparing([this] { session_->StartStop(); });
    return;
  }
  endReason_ = EndReason::User;
  stop_ = true;
  // Between steps the run ends now; a step in hand ends at its next drawing.
  if (!WorkerBusy()) AbortBetweenSteps();
}

bool ViewerWindow::Running() const { return WorkerBusy() || (session_ && session_->Running()); }

bool ViewerWindow::WorkerBusy() const { return worker_ && worker_->Busy(); }

void ViewerWindow::WaitForWorker() { worker_->Wait(); }

bool ViewerWindow::InterruptRun(EndReason reason) {
  if (!Running()) return false;
  endReason_ = reason;
  stop_ = true;
  worker_->Wait();
  AbortBetweenSteps();
  endReason_ = EndReason::None;
  return true;
}

void ViewerWindow::AbortBetweenSteps() {
  // Another job may still be in hand (a camera switch queued during the step).
  worker_->Wait();
  session_->Abort();
}

bool ViewerWindow::OnWorkerThread() const { return worker_ && worker_->OnWorker(); }

void ViewerWindow::OnUi(std::function<void()> task) {
  if (OnWorkerThread()) {
    worker_->Defer([task = std::move(task)] { tovimar::Guarded(task); });
  } else {
    task();
  }
}

void ViewerWindow::UseViewer(std::function<void()> use) {
  if (Running()) {
    PostJob(std::move(use), nullptr);
  } else {
    use();
  }
}

ViewerWindow::JobSettings ViewerWindow::TakeJobSettings() const {
  JobSettings job;
  tovimar::PlainSettings& s = job.settings;
  s.background = BackgroundColour();
  s.antiAlias = AntiAlias();
  s.rightCamera = RightCamera();
  s.outputFolder = OutputFolder();
  s.sequenceNumber = SequenceNumber();
  s.previewOnly = PreviewOnly();
  s.palette = Palette();
  s.outputs = Outputs();
  s.invocation = Invocation();
  s.plannedCameras = PlannedCameras();
  job.matrixLog = desktop_.Editor() != nullptr && desktop_.Editor()->MatrixLogEnabled();
  job.sceneName = desktop_.Editor() != nullptr ? desktop_.Editor()->SceneName() : std::string();
  return job;
}

void ViewerWindow::PostJob(std::function<void()> job, std::function<void()> after) {
  // The picture drawn here is read while the context is still this thread's.
  if (shownStale_) RefreshShownImage();
  viewer_->DetachFromThread();
  worker_->Post([this, job = std::move(job), after = std::move(after), settings = TakeJobSettings()] {
    jobSettings_ = settings;
    presentedInJob_ = false;
    try {
      job();
    } catch (...) {
      worker_->Defer([error = std::current_exception()] { tovimar::ReportHandlerException(error); });
    }
    if (presentedInJob_) {
      worker_->Defer([this, picture = ReadPresented()] {
        shown_ = picture;
        shownStale_ = false;
        update();
      });
    }
    viewer_->DetachFromThread();
    if (after) worker_->Defer([after] { tovimar::Guarded(after); });
  });
}

void ViewerWindow::BringToFront() {
  // Showing again redraws nothing: the picture kept is shown (a drawing
  // would step the random state of the run to come).
  bringing_ = true;
  if (isMinimized() || isHidden()) showNormal();
  show();
  bringing_ = false;
  raise();
  activateWindow();
}

void ViewerWindow::SetDisplayLimit(const QSize& limit) {
  displayLimit_ = limit;
  resize(tovimar::FitInside(renderSize_, displayLimit_));
  update();
}

void ViewerWindow::Button11Click(QObject*) {
  desktop_.ShowSceneEditor();
  BringToFront();
  // The scene being prepared is what the window shows next.
  showingFolder_ = false;
  SetViewMode(tovimar::ViewMode::Camera);
  // A preparation must never overlap a frame: frames drawn from a half-parsed
  // scene would spoil the sequence silently.
  if (InterruptRun(EndReason::Preparation)) {
    tovimar::AppNotifier().Notify("", "The run was stopped because the scene is being prepared again; the frames "
                                      "written so far stay.");
  }
  Preparing([this] { viewer_->PrepareScene(); });
}

void ViewerWindow::Timer1Timer(QObject*) {
  if (WorkerBusy()) return;  // a step never overlaps another
  const int32_t frame = viewer_->Rig().FrameCounter;
  const std::size_t written = session_->FramesWritten();
  tovimar::WrittenFrame next{true, tovimar::OutputDirectory(OutputFolder(), SequenceNumber()), RightCamera(), frame,
                             Outputs()};
  Timer1->stop();  // the step restarts it
  PostJob(
      [this] {
        // Every drawing of the step asks first: a stop waits for one drawing at most.
        struct Asking {
          tovimar::Renderer& viewer;
          ~Asking() { viewer.SetCancelCheck(nullptr); }
        } asking{*viewer_};
        viewer_->SetCancelCheck([this] { return stop_.load(); });
        session_->Step();
        // A step stopped half-way leaves a half-made picture: the last one stays.
        if (session_->Cancelled()) presentedInJob_ = false;
      },
      [this, written, next] {
        if (session_->FramesWritten() != written) {
          lastWritten_ = next;
          truthFrame_ = next;
          cameraTruthOf_ = {};  // the readout's files were rewritten
          if (viewMode_ != tovimar::ViewMode::Camera) RefreshTruth();
        }
        // A stop that came after the step's last drawing.
        if (stop_ && session_->Running()) AbortBetweenSteps();
      });
}

void ViewerWindow::Button10Click(QObject*) { ExportAvi(); }

void ViewerWindow::ExportAvi() {
  const bool right = CheckBox1->isChecked();
  const std::string directory = tovimar::OutputDirectory(OutputFolder(), SequenceNumber());
  // The frames the folder's manifest lists for the camera's last run; an
  // earlier, longer run may have left later images beside them.
  const int32_t listed = tovimar::SequenceManifest(directory).ListedFrameCount(right);
  const int frames = listed >= 0 ? listed : static_cast<int>(viewer_->Scene().egoFrames.size());
  // The images as the chosen outputs and layout store them; shows nothing, whatever happens.
  LastAviExport = tovimar::ExportAvi(directory, right, tovimar::StoredCameraImages(directory, Outputs(), right, frames),
                                     tovimar::kSoundFileName);
  LastAviLeftOut.clear();
  const QDir folder(tovimar::FromStd(directory));
  for (const QString& name : folder.entryList(QDir::Files)) {
    const std::string bare = tovimar::ToStd(name);
    const int64_t frame = tovimar::OutputFrameOfName(bare, right);
    if (frame >= frames && bare == tovimar::CameraImageName(right, static_cast<int32_t>(frame)))
      LastAviLeftOut.push_back(static_cast<int>(frame));
  }
  std::sort(LastAviLeftOut.begin(), LastAviLeftOut.end());
}

void ViewerWindow::Button13Click(QObject*) {
  QString name = SavePictureDialog1 ? SavePictureDialog1() : QString();
  if (name.isEmpty()) return;
  // The picture is a BMP: a name without an extension gets ".bmp".
  if (QFileInfo(name).suffix().isEmpty())
    name += name.endsWith(QLatin1Char('.')) ? QStringLiteral("bmp") : QStringLiteral(".bmp");
  pictureFileName_ = name;
  HideDeveloperControls();
  Timer2->start();
}

void ViewerWindow::Timer2Timer(QObject*) {
  // Disabled first: a picture that cannot be written is reported once.
  Timer2->stop();
  // The picture at the rendered size, whatever size the window shows it at.
  const QImage picture = ShownImage().isNull()
                             ? grab(QRect(0, 0, width(), height())).toImage().convertToFormat(QImage::Format_RGB888)
                             : ShownImage().convertToFormat(QImage::Format_RGB888);
  const int w = picture.width();
  const int h = picture.height();
  std::vector<uint8_t> bgr(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
  for (int y = 0; y < h; ++y) {
    const uchar* src = picture.constScanLine(y);
    uint8_t* dst = bgr.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 3;
    for (int x = 0; x < w; ++x) {
      dst[3 * x] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x];
    }
  }
  tovimar::WriteBmp24(tovimar::ToStd(pictureFileName_), bgr.data(), w, h);
}

void ViewerWindow::HideDeveloperControls() {
  for (QWidget* control : std::initializer_list<QWidget*>{Button1, Button2, Button3, Button4, Button5, Button6,
                                                           Button9, TrackBar1, CheckBox1, Button10, Button11,
                                                           Button13}) {
    control->hide();
  }
}

std::array<int, 3> ViewerWindow::BackgroundColour() const {
  if (desktop_.Panel() == nullptr) return tovimar::kDefaultBackground;
  return desktop_.Panel()->BackgroundChosen();
}

bool ViewerWindow::AntiAlias() const { return desktop_.Panel() != nullptr && desktop_.Panel()->AntiAliasChosen(); }
bool ViewerWindow::RightCamera() const { return CheckBox1->isChecked(); }

std::string ViewerWindow::OutputFolder() const {
  const QString folder = desktop_.Panel() != nullptr ? desktop_.Panel()->OutputFolderText() : tovimar::DefaultOutputFolder();
  return tovimar::ToStd(folder);
}

int ViewerWindow::SequenceNumber() const { return desktop_.Panel() != nullptr ? desktop_.Panel()->SequenceNumberChosen() : 0; }
bool ViewerWindow::PreviewOnly() const { return desktop_.Panel() != nullptr && desktop_.Panel()->PreviewChosen(); }
bool ViewerWindow::Palette() const { return desktop_.Panel() != nullptr && desktop_.Panel()->PaletteChosen(); }

tovimar::OutputChoice ViewerWindow::Outputs() const {
  return desktop_.Panel() != nullptr ? desktop_.Panel()->DatasetOutputs() : tovimar::OutputChoice{};
}

std::string ViewerWindow::PlannedCameras() const {
  return desktop_.Panel() != nullptr && desktop_.Panel()->BothCamerasChosen() ? "both" : "";
}

std::vector<std::pair<std::string, std::string>> ViewerWindow::Invocation() const {
  const std::array<int, 3> bg = BackgroundColour();
  const tovimar::OutputChoice outputs = Outputs();
  return {{"program", "tovimar (desktop)"},
          {"folder", OutputFolder()},
          {"sequenceNumber", std::to_string(SequenceNumber())},
          {"camera", RightCamera() ? "right" : "left"},
          {"resolution", std::to_string(viewer_->ClientWidth()) + "x" + std::to_string(viewer_->ClientHeight())},
          {"background", std::to_string(bg[0]) + "," + std::to_string(bg[1]) + "," + std::to_string(bg[2])},
          {"palette", Palette() ? "yes" : "no"},
          {"antialias", AntiAlias() ? "yes" : "no"},
          {"outputs", tovimar::OutputListText(outputs)},
          {"layout", tovimar::LayoutName(outputs.layout)}};
}

void ViewerWindow::Presented() {
  if (OnWorkerThread()) {
    presentedInJob_ = true;  // read when the job is done
    return;
  }
  shownStale_ = true;
  update();
}

QImage ViewerWindow::ReadPresented() {
  if (!viewer_ || !viewer_->HasContext()) return {};
  const int w = viewer_->ClientWidth();
  const int h = viewer_->ClientHeight();
  if (w <= 0 || h <= 0) return {};
  const std::size_t rowBytes = static_cast<std::size_t>(w) * 3;
  std::vector<uint8_t> rgb(rowBytes * static_cast<std::size_t>(h));
  viewer_->ReadColour(rgb.data());
  QImage picture(w, h, QImage::Format_RGB888);
  for (int y = 0; y < h; ++y) {  // the read-back starts with the bottom row
    std::memcpy(picture.scanLine(h - 1 - y), rgb.data() + static_cast<std::size_t>(y) * rowBytes, rowBytes);
  }
  return picture;
}

void ViewerWindow::RefreshShownImage() {
  shownStale_ = false;
  QImage picture = ReadPresented();
  if (!picture.isNull()) shown_ = std::move(picture);
}

void ViewerWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (shownStale_) RefreshShownImage();
  const bool live = viewMode_ == tovimar::ViewMode::Camera && !showingFolder_;
  if (live && (shown_.isNull() || !viewer_->SceneReady())) {
    painter.fillRect(rect(), palette().window());
    // The first minute: what to do to see something.
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap, kEmptyViewerHint);
    return;
  }
  const QImage& picture = live ? shown_ : truthImage_;
  if (picture.isNull()) {
    painter.fillRect(rect(), Qt::black);
    painter.setPen(Qt::white);
    painter.drawText(rect().adjusted(12, 12, -12, -12), Qt::AlignCenter | Qt::TextWordWrap,
                     truth_.problem.empty() ? QStringLiteral("Nothing of this kind was written for this frame")
                                            : tovimar::FromStd(truth_.problem));
    return;
  }
  const QRect target = PictureRect();
  if (target.size() == picture.size()) {
    painter.drawImage(target.topLeft(), picture);
  } else {
    // Scaled to the window: smoothly when smaller, in whole pixels when larger.
    if (target.width() < picture.width()) painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    if (viewMode_ == tovimar::ViewMode::Disparity && !truth_.disparity.empty()) {
      tovimar::DrawScaleBar(painter, target.width(), target.height(), tovimar::DisparityScaleMax(truth_.disparity));
    }
  }
  painter.fillRect(QRect(target.right() + 1, 0, width() - target.right() - 1, height()), palette().window());
  painter.fillRect(QRect(0, target.bottom() + 1, target.right() + 1, height() - target.bottom() - 1), palette().window());
}

QSize ViewerWindow::PictureSize() const {
  if ((viewMode_ != tovimar::ViewMode::Camera || showingFolder_) && !truthImage_.isNull()) return truthImage_.size();
  return renderSize_;
}

QRect ViewerWindow::PictureRect() const {
  const QSize picture = PictureSize();
  if (picture.isEmpty()) return {};
  // Shown whole at its own size when the window is that size, else scaled to
  // the window keeping its proportions, top left.
  return QRect(QPoint(0, 0), picture == size() ? picture : picture.scaled(size(), Qt::KeepAspectRatio));
}

void ViewerWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous() || bringing_ || Running()) return;
  tovimar::Guarded([&] { FormPaint(); });
}

void ViewerWindow::closeEvent(QCloseEvent* event) {
  // Only the end of the program closes the viewer.
  if (closeAllowed_) {
    event->accept();
  } else {
    event->ignore();
  }
}

QImage ViewerWindow::ShownImage() {
  if (viewMode_ != tovimar::ViewMode::Camera || showingFolder_) return truthImage_;
  if (shownStale_) RefreshShownImage();
  return shown_;
}

// --- run progress and the status line ---

namespace {

QString Duration(double seconds) {
  const long s = std::lround(seconds);
  if (s < 60) return QStringLiteral("%1 s").arg(s);
  if (s < 3600) return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
  return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s / 60) % 60);
}

void Status(const ViewerHost& desktop, const QString& text) {
  if (desktop.Panel() != nullptr) desktop.Panel()->ShowStatus(text);
}

}  // namespace

void ViewerWindow::RunProgress(int position) {
  if (desktop_.Panel() == nullptr) return;
  if (position <= 0) {
    desktop_.Panel()->ShowRunProgress(QStringLiteral("Frame 0 of %1").arg(runFrames_));
    return;
  }
  const double seconds = std::max(1e-3, static_cast<double>(runClock_.elapsed()) / 1000.0);
  const double fps = position / seconds;
  desktop_.Panel()->ShowRunProgress(QStringLiteral("Frame %1 of %2, %3 frames/s, %4 left")
             .arg(position)
             .arg(runFrames_)
             .arg(fps, 0, 'f', fps < 10 ? 2 : 1)
             .arg(Duration((runFrames_ - position) / fps)));
}

void ViewerWindow::ResetProgress() {
  if (desktop_.Panel() != nullptr) desktop_.Panel()->SetProgress(0);
}

void ViewerWindow::RunEnded() {
  const tovimar::CameraRun run = session_->Finish();
  const std::size_t made = run.framesMade;
  const QString count = QStringLiteral("%1 of %2 frames").arg(made).arg(runFrames_);
  const EndReason reason = endReason_;
  endReason_ = EndReason::None;
  if (desktop_.Panel() != nullptr) desktop_.Panel()->RunFinished(made >= static_cast<std::size_t>(runFrames_));
  if (made >= static_cast<std::size_t>(runFrames_)) {  // whatever came after the last frame
    const double seconds = static_cast<double>(runClock_.elapsed()) / 1000.0;
    // Where the files went, so that a user can find them.
    const QString where =
        run.framesWritten > 0
            ? QStringLiteral(" into ") + QDir::toNativeSeparators(tovimar::FromStd(tovimar::OutputDirectory(OutputFolder(), SequenceNumber())))
            : QString();
    Status(desktop_, QStringLiteral("Done: %1 frames %2 in %3%4")
               .arg(made)
               .arg(run.framesWritten > 0 ? QStringLiteral("written") : QStringLiteral("previewed"))
               .arg(Duration(seconds), where));
    return;
  }
  ResetProgress();
  switch (reason) {
    case EndReason::User: Status(desktop_, QStringLiteral("Stopped by the user after %1.").arg(count)); break;
    case EndReason::Preparation:
      Status(desktop_, QStringLiteral("Interrupted by a preparation of the scene after %1.").arg(count));
      break;
    case EndReason::Apply:
      Status(desktop_, QStringLiteral("Interrupted by Apply (new resolution) after %1.").arg(count));
      break;
    case EndReason::None: Status(desktop_, QStringLiteral("Ended after %1.").arg(count)); break;  // an error follows
  }
}

void ViewerWindow::RunFailed(const std::string& message) {
  ResetProgress();
  Status(desktop_, QStringLiteral("Error: ") + tovimar::FromStd(message));
}

// --- ground-truth views ---

void ViewerWindow::SetViewMode(tovimar::ViewMode mode) {
  viewMode_ = mode;
  if (QAction* a = ViewMenu->findChild<QAction*>(QStringLiteral("view_%1").arg(static_cast<int>(mode) + 1)))
    a->setChecked(true);
  if (mode != tovimar::ViewMode::Camera || showingFolder_) RefreshTruth();
  ShowViewLabel(QString());
  update();
}

void ViewerWindow::RefreshTruth() {
  truth_ = tovimar::ReadWrittenFrame(truthFrame_);
  switch (viewMode_) {
    case tovimar::ViewMode::Disparity: truthImage_ = tovimar::DisparityPicture(truth_); break;
    case tovimar::ViewMode::Segmentation: truthImage_ = tovimar::SegmentationPicture(truth_.segmentation); break;
    case tovimar::ViewMode::Occlusion: truthImage_ = truth_.mask; break;
    case tovimar::ViewMode::Camera: truthImage_ = showingFolder_ ? truth_.camera : QImage(); break;
  }
  ShowViewLabel(QString());
  update();
}

QString ViewerWindow::ViewDescription() const {
  const QString camera = RightCamera() ? QStringLiteral("right camera") : QStringLiteral("left camera");
  if (viewMode_ == tovimar::ViewMode::Camera && !showingFolder_) return QStringLiteral("Camera image, ") + camera;
  const char* const names[] = {"Camera image", "Disparity", "Segmentation", "Occlusion mask"};
  if (!truthFrame_.valid)
    return QString::fromLatin1(names[static_cast<int>(viewMode_)]) + QStringLiteral(": no frame written yet");
  return QStringLiteral("%1, %2, frame %3")
      .arg(QString::fromLatin1(names[static_cast<int>(viewMode_)]),
           truthFrame_.rightCamera ? QStringLiteral("right camera") : QStringLiteral("left camera"))
      .arg(truthFrame_.frame);
}

bool ViewerWindow::ViewMoved() const {
  return viewer_->viewAzimuth != 0.0f || viewer_->viewElevation != 90.0f || viewer_->viewDistance != 3.0;
}

void ViewerWindow::ShowViewLabel(const QString& probe) {
  // Every view says what it shows, from the moment it is chosen; the readout
  // under the pointer follows. Top left, clear of the colour bar below.
  ProbeLabel->setText(probe.isEmpty() ? ViewDescription() : ViewDescription() + QStringLiteral(" | ") + probe);
  ProbeLabel->adjustSize();
  ProbeLabel->move(0, 0);
  ProbeLabel->show();
}

bool ViewerWindow::OpenSequenceFolder(const QString& folder, QString& status) {
  const QString refused = QStringLiteral("Open sequence folder: ");
  auto refuse = [&status](const QString& why) {
    status = why;
    return false;
  };
  if (Running()) return refuse(refused + QStringLiteral("not while a run is going; stop it or wait for its end"));
  if (folder.isEmpty() || !QFileInfo(folder).isDir())
    return refuse(refused + QDir::toNativeSeparators(folder) + QStringLiteral(" is no folder"));
  std::string directory = tovimar::ToStd(QDir(folder).absolutePath());
  if (directory.back() != tovimar::kPathSeparator) directory += tovimar::kPathSeparator;
  const QString shown = QDir::toNativeSeparators(tovimar::FromStd(directory));
  const tovimar::SequenceManifest manifest(directory);
  if (!manifest.ReadProblem().empty())
    return refuse(refused + QStringLiteral("the meta.json of %1 cannot be used: %2")
                         .arg(shown, tovimar::FromStd(manifest.ReadProblem())));
  const int32_t left = std::max(0, manifest.ListedFrameCount(false));
  const int32_t right = std::max(0, manifest.ListedFrameCount(true));
  if (left == 0 && right == 0)
    return refuse(refused + shown + QStringLiteral(" holds no frame Tovimar wrote (it has no meta.json listing one)"));
  // The camera chosen on the panel, when it has frames there.
  const bool camera = RightCamera() ? right > 0 : left == 0;
  const std::optional<tovimar::OutputChoice> outputs = manifest.RecordedOutputs(camera);
  if (!outputs)
    return refuse(refused + QStringLiteral("the meta.json of %1 names outputs or a layout this version does not know").arg(shown));
  lastWritten_ = {true, directory, camera, (camera ? right : left) - 1, *outputs};
  truthFrame_ = lastWritten_;
  truthFrame_.frame = 0;
  showingFolder_ = true;
  RefreshTruth();
  status = QStringLiteral("Opened %1 (%2 layout): %3 frames of the left camera, %4 of the right; keys 1-4 choose the "
                        "view, Left and Right the frame")
      .arg(shown, QString::fromLatin1(tovimar::LayoutName(outputs->layout)))
      .arg(left)
      .arg(right);
  return true;
}

void ViewerWindow::StepTruthFrame(int step) {
  if (!truthFrame_.valid || (viewMode_ == tovimar::ViewMode::Camera && !showingFolder_)) return;
  // The frames the folder's manifest lists for the camera's last run.
  const int32_t listed = tovimar::SequenceManifest(truthFrame_.directory).ListedFrameCount(truthFrame_.rightCamera);
  const int32_t last = std::max<int32_t>(listed - 1, 0);
  const int32_t frame = std::clamp<int32_t>(truthFrame_.frame + step, 0, last);
  if (frame == truthFrame_.frame) return;
  truthFrame_.frame = frame;
  RefreshTruth();
}

const tovimar::TruthFiles& ViewerWindow::TruthUnderPointer() const {
  if (viewMode_ != tovimar::ViewMode::Camera || showingFolder_) return truth_;
  // The camera's drawing: the files of the last frame written by the camera
  // shown, when that camera wrote it (after a run of both, either).
  tovimar::WrittenFrame shown = lastWritten_;
  shown.rightCamera = RightCamera();
  const bool same = shown.valid == cameraTruthOf_.valid && shown.directory == cameraTruthOf_.directory &&
                    shown.rightCamera == cameraTruthOf_.rightCamera && shown.frame == cameraTruthOf_.frame;
  if (!same) {
    cameraTruthOf_ = shown;
    const bool written = shown.valid && (shown.rightCamera == lastWritten_.rightCamera ||
                                         tovimar::SequenceManifest(shown.directory).HasFrame(shown.rightCamera, shown.frame));
    cameraTruth_ = written ? tovimar::ReadWrittenFrame(shown) : tovimar::TruthFiles{};
  }
  return cameraTruth_;
}

QString ViewerWindow::ProbeText(int x, int y) const {
  const tovimar::TruthFiles& truth = TruthUnderPointer();  // the files of the picture shown
  if (x < 0 || y < 0 || x >= truth.width || y >= truth.height) return {};
  QStringList parts;
  parts << QStringLiteral("x %1, y %2").arg(x).arg(y);
  if (!truth.disparity.empty()) {
    const float d = truth.disparity[static_cast<std::size_t>(y) * static_cast<std::size_t>(truth.width) +
                                     static_cast<std::size_t>(x)];
    parts << QStringLiteral("disparity %1 px").arg(static_cast<double>(d), 0, 'f', 3);
  }
  if (!truth.segmentation.isNull() && x < truth.segmentation.width() && y < truth.segmentation.height()) {
    const QRgb c = truth.segmentation.pixel(x, y);
    if (c == qRgb(255, 255, 255)) {
      parts << QStringLiteral("no id");
    } else if (qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)) {
      parts << QStringLiteral("id %1").arg(qRed(c));
    } else {
      parts << QStringLiteral("segment colour %1").arg(QColor(c).name());
    }
  }
  return parts.join(QStringLiteral(", "));
}

void ViewerWindow::changeEvent(QEvent* event) {
  // The keys go to the viewer whenever its window is active, whatever had
  // the focus in it before.
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) setFocus(Qt::ActiveWindowFocusReason);
  QWidget::changeEvent(event);
}

bool ViewerWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == HelpWindow && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    HelpWindow->hide();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void ViewerWindow::ShowHelp() {
  HelpWindow->show();
  HelpWindow->raise();
  HelpWindow->activateWindow();  // under a window manager it gets the keys (Esc closes it)
}

// --- keys and mouse ---

bool ViewerWindow::ViewControlsFree() const {
  // A drawing during a run would change the frames: the view stays put.
  return !Running() && viewMode_ == tovimar::ViewMode::Camera && !showingFolder_;
}

QPoint ViewerWindow::FramePoint(const QPoint& p) const {
  const QRect shown = PictureRect();
  const QSize picture = PictureSize();
  if (shown.isEmpty() || !shown.contains(p)) return {-1, -1};  // beside the picture
  return {(p.x() - shown.x()) * picture.width() / shown.width(), (p.y() - shown.y()) * picture.height() / shown.height()};
}

void ViewerWindow::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  if (key == Qt::Key_S && event->modifiers().testFlag(Qt::ControlModifier)) {
    tovimar::Guarded([&] { Button13Click(Button13); });
    return;
  }
  if (key == Qt::Key_F1) {
    ShowHelp();
    return;
  }
  if ((viewMode_ != tovimar::ViewMode::Camera || showingFolder_) &&
      (key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
    tovimar::Guarded([&] { StepTruthFrame(key == Qt::Key_Left || key == Qt::Key_PageUp ? -1 : 1); });
    return;
  }
  if (key >= Qt::Key_1 && key <= Qt::Key_4) {
    tovimar::Guarded([&] { SetViewMode(static_cast<tovimar::ViewMode>(key - Qt::Key_1)); });
    return;
  }
  void (ViewerWindow::*handler)(QObject*) = nullptr;
  switch (key) {
    case Qt::Key_Up: handler = &ViewerWindow::Button1Click; break;
    case Qt::Key_Down: handler = &ViewerWindow::Button4Click; break;
    case Qt::Key_Left: handler = &ViewerWindow::Button2Click; break;
    case Qt::Key_Right: handler = &ViewerWindow::Button3Click; break;
    case Qt::Key_Plus:
    case Qt::Key_Equal: handler = &ViewerWindow::Button6Click; break;
    case Qt::Key_Minus: handler = &ViewerWindow::Button5Click; break;
    case Qt::Key_Home:
    case Qt::Key_R:
      if (ViewControlsFree()) tovimar::Guarded([&] { FormPaint(); });
      return;
    default: QWidget::keyPressEvent(event); return;
  }
  if (ViewControlsFree()) tovimar::Guarded([&] { (this->*handler)(nullptr); });
}

void ViewerWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    dragging_ = true;
    dragFrom_ = event->position().toPoint();
  }
  QWidget::mousePressEvent(event);
}

void ViewerWindow::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  if (dragging_ && event->buttons().testFlag(Qt::LeftButton)) {
    // Two degrees for every 4 pixels of drag, as the buttons step.
    const int dx = (at.x() - dragFrom_.x()) / 4;
    const int dy = (at.y() - dragFrom_.y()) / 4;
    if ((dx != 0 || dy != 0) && ViewControlsFree()) {
      tovimar::Guarded([&] { viewer_->ChangeView(-2.0f * static_cast<float>(dx), -2.0f * static_cast<float>(dy), 0.0); });
      dragFrom_ += QPoint(dx * 4, dy * 4);
    }
  }
  const QPoint p = FramePoint(at);
  QString probe = ProbeText(p.x(), p.y());
  // The readout is of the frame's files: over a camera image seen from
  // elsewhere it would describe something else.
  if (!probe.isEmpty() && viewMode_ == tovimar::ViewMode::Camera && ViewMoved())
    probe = QStringLiteral("the view has moved: Home returns to the frame's view and its readout");
  ShowViewLabel(probe);
  QWidget::mouseMoveEvent(event);
}

void ViewerWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

void ViewerWindow::wheelEvent(QWheelEvent* event) {
  const int steps = event->angleDelta().y() / 120;
  if (steps != 0 && ViewControlsFree()) {
    tovimar::Guarded([&] { viewer_->ChangeView(0.0f, 0.0f, -0.2 * steps); });
  }
  event->accept();
}

void ViewerWindow::leaveEvent(QEvent* event) {
  ShowViewLabel(QString());
  QWidget::leaveEvent(event);
}

void ViewerWindow::contextMenuEvent(QContextMenuEvent* event) { ViewMenu->popup(event->globalPos()); }
