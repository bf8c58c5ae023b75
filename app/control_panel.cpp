#include "app/control_panel.h"

#include <QActionGroup>
#include <QMenu>

#include "render/settings.h"

#include <QCloseEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QWhatsThis>

#include "app/app_support.h"
#include "app/evaluation.h"
#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "base/error.h"
#include "dataset/manifest.h"
#include "run/run_session.h"
#include "run/sequence_driver.h"

namespace {

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

QSpinBox* Spinner(QWidget* parent, const char* name, int maximum, int value) {
  auto* spin = Named(new QSpinBox(parent), name);
  spin->setRange(0, maximum);
  spin->setValue(value);
  return spin;
}

}  // namespace

ControlPanel::ControlPanel(PanelHost& host, QWidget* parent) : QWidget(parent), desktop_(host) {
  setObjectName(QStringLiteral("ControlPanel"));
  setWindowTitle(QStringLiteral("Tovimar"));
  setFixedSize(695, 417);

  // Left column: resolution, "Apply", subpixel disparity, about text.
  RadioGroup1 = Named(new tovimar::RadioGroup(QStringLiteral("Choose resolution"),
                                              {QStringLiteral("320 x 240"), QStringLiteral("512 x 384"),
                                               QStringLiteral("800 x 600"), QStringLiteral("1024 x 768")},
                                              this),
                      "RadioGroup1");
  RadioGroup1->setGeometry(8, 8, 185, 128);
  RadioGroup1->SetItemIndex(1);
  RadioGroup1->setToolTip(QStringLiteral("The size of the frames: Apply shows it in the viewer now, Start applies it "
                                         "before a run"));

  Button2 = Named(new QPushButton(QStringLiteral("Apply"), this), "Button2");
  Button2->setGeometry(8, 142, 80, 27);
  Button2->setToolTip(QStringLiteral("Click to change the resolution"));

  ShowEditorButton = Named(new QPushButton(QStringLiteral("Scene editor"), this), "ShowEditorButton");
  ShowEditorButton->setGeometry(96, 142, 97, 27);
  ShowEditorButton->setToolTip(QStringLiteral("Show the scene editor (closing it only hides it; its text is kept)"));

  CheckBox1 = Named(new QCheckBox(QStringLiteral("Subpixel Disparity"), this), "CheckBox1");
  CheckBox1->setGeometry(8, 178, 185, 22);

  Memo1 = Named(new QPlainTextEdit(this), "Memo1");
  Memo1->setGeometry(8, 206, 185, 164);
  Memo1->setReadOnly(true);
  Memo1->setToolTip(QStringLiteral("Information about me"));
  Memo1->setPlainText(QStringLiteral("Tovimar\n"
                                     "Version 1.3.0.0\n"
                                     "Synthetic stereo sequences\n"
                                     "with exact ground truth\n"
                                     "(disparity, segmentation).\n"
                                     "Qt 6 / OpenGL 1.1 edition."));

  // Right: the rendering settings.
  Rendering = Named(new QGroupBox(QStringLiteral("Rendering"), this), "Rendering");
  Rendering->setGeometry(204, 8, 483, 362);

  Label1 = Named(new QLabel(QStringLiteral("Folder"), Rendering), "Label1");
  Label1->setGeometry(14, 24, 200, 18);
  // The default root is made when missing: a run creates only the one
  // numbered folder below it.
  QDir().mkpath(tovimar::DefaultOutputFolder());
  Edit2 = Named(new QLineEdit(tovimar::DefaultOutputFolder(), Rendering), "Edit2");
  Edit2->setGeometry(14, 44, 360, 26);
  Edit2->setToolTip(QStringLiteral("Select folder for images"));
  Button4 = Named(new QPushButton(QStringLiteral("Select"), Rendering), "Button4");
  Button4->setGeometry(384, 44, 85, 27);

  Label2 = Named(new QLabel(QStringLiteral("Sequence no:"), Rendering), "Label2");
  Label2->setGeometry(14, 84, 100, 24);
  Edit1 = Spinner(Rendering, "Edit1", 100, 0);
  Edit1->setGeometry(116, 82, 80, 26);
  Edit1->setToolTip(QStringLiteral("Sequence number. Directory of this number will be created."));
  UpDown1 = Edit1;

  RadioGroup2 = Named(new tovimar::RadioGroup(QStringLiteral("Select camera:"),
                                              {QStringLiteral("Left"), QStringLiteral("Right")}, Rendering),
                      "RadioGroup2");
  RadioGroup2->setGeometry(14, 120, 112, 80);
  RadioGroup2->SetItemIndex(0);
  RadioGroup2->setToolTip(QStringLiteral("Select stereovision camera"));
  BothCameras = Named(new QCheckBox(QStringLiteral("Both cameras"), Rendering), "BothCameras");
  BothCameras->setGeometry(132, 168, 128, 22);
  BothCameras->setToolTip(QStringLiteral("Start runs the left camera, then the right one, into the same folder "
                                         "(as tovimar-render --camera both)"));

  CheckBox2 = Named(new QCheckBox(QStringLiteral("Preview only"), Rendering), "CheckBox2");
  CheckBox2->setGeometry(14, 214, 200, 22);
  CheckBox2->setToolTip(QStringLiteral("Only preview, images will not be saved"));

  Button3 = Named(new QPushButton(QStringLiteral("Start"), Rendering), "Button3");
  Button3->setGeometry(14, 250, 120, 34);

  GroupBox1 = Named(new QGroupBox(QStringLiteral("Background color"), Rendering), "GroupBox1");
  GroupBox1->setGeometry(266, 120, 203, 128);
  Label3 = Named(new QLabel(QStringLiteral("R:"), GroupBox1), "Label3");
  Label4 = Named(new QLabel(QStringLiteral("G:"), GroupBox1), "Label4");
  Label5 = Named(new QLabel(QStringLiteral("B:"), GroupBox1), "Label5");
  Edit3 = Spinner(GroupBox1, "Edit3", 255, tovimar::kDefaultBackground[0]);
  Edit4 = Spinner(GroupBox1, "Edit4", 255, tovimar::kDefaultBackground[1]);
  Edit5 = Spinner(GroupBox1, "Edit5", 255, tovimar::kDefaultBackground[2]);
  UpDown2 = Edit3;
  UpDown3 = Edit4;
  UpDown4 = Edit5;
  QLabel* labels[] = {Label3, Label4, Label5};
  QSpinBox* spins[] = {Edit3, Edit4, Edit5};
  for (int i = 0; i < 3; ++i) {
    labels[i]->setGeometry(16, 28 + i * 32, 24, 26);
    spins[i]->setGeometry(44, 28 + i * 32, 80, 26);
  }

  CheckBox3 = Named(new QCheckBox(QStringLiteral("Color pallete in segmentation"), Rendering), "CheckBox3");
  CheckBox3->setGeometry(240, 260, 235, 22);
  CheckBox4 = Named(new QCheckBox(QStringLiteral("AntiAliasing Filter"), Rendering), "CheckBox4");
  CheckBox4->setGeometry(240, 288, 235, 22);

  DatasetOutputsButton = Named(new QToolButton(Rendering), "DatasetOutputsButton");
  DatasetOutputsButton->setGeometry(14, 300, 200, 28);
  DatasetOutputsButton->setPopupMode(QToolButton::InstantPopup);
  DatasetOutputsButton->setToolTip(QStringLiteral("Dataset outputs: extra files per frame and the folder layout"));
  // The products and layouts are the command line's (--outputs, --layout).
  auto* outputsMenu = new QMenu(DatasetOutputsButton);
  for (const std::string& name : tovimar::OutputNames()) {
    QAction* action = outputsMenu->addAction(tovimar::FromStd(name));
    action->setObjectName(QStringLiteral("output_") + tovimar::FromStd(name));
    action->setCheckable(true);
  }
  outputsMenu->addSeparator();
  auto* layouts = new QActionGroup(outputsMenu);
  for (const tovimar::DatasetLayout layout : tovimar::AllLayouts()) {
    const QString name = QString::fromLatin1(tovimar::LayoutName(layout));
    QAction* action = outputsMenu->addAction(QStringLiteral("layout: ") + name);
    action->setObjectName(QStringLiteral("layout_") + name);
    action->setCheckable(true);
    layouts->addAction(action);
  }
  DatasetOutputsButton->setMenu(outputsMenu);
  connect(outputsMenu, &QMenu::triggered, this, [this] { SetDatasetOutputs(DatasetOutputs()); });
  SetDatasetOutputs(tovimar::OutputChoice{});

  ProgressBar1 = Named(new QProgressBar(this), "ProgressBar1");
  ProgressBar1->setGeometry(8, 380, 250, 26);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  StatusLine = Named(new QLabel(QStringLiteral("Ready"), this), "StatusLine");
  StatusLine->setGeometry(266, 380, 421, 26);
  StatusLine->setFrameShape(QFrame::StyledPanel);
  StatusLine->setTextInteractionFlags(Qt::TextSelectableByMouse);

  ExportAviButton = Named(new QPushButton(QStringLiteral("Export AVI"), Rendering), "ExportAviButton");
  ExportAviButton->setGeometry(142, 250, 92, 34);
  ExportAviButton->setToolTip(
      QStringLiteral("Assemble the camera images of the folder and sequence number into L.avi / P.avi"));

  EvaluateButton = Named(new QPushButton(QStringLiteral("Evaluate"), Rendering), "EvaluateButton");
  EvaluateButton->setGeometry(240, 318, 92, 34);
  EvaluateButton->setToolTip(QStringLiteral(
      "Run OpenCV's SGBM on the last run's stereo pair (both cameras written) and score it against the ground truth"));

  SaveDialog1 = [this]() {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Select Folder"), Edit2->text());
  };
  ModelsFolderDialog = [this]() {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Models folder"), modelsFolder_);
  };
  SequenceFolderDialog = [this]() {
    return QFileDialog::getExistingDirectory(this, QStringLiteral("Open sequence folder"), Edit2->text());
  };

  connect(Button2, &QPushButton::clicked, this, [this] { tovimar::Guarded([&] { Button2Click(Button2); }); });
  connect(Button3, &QPushButton::clicked, this, [this] { tovimar::Guarded([&] { Button3Click(Button3); }); });
  connect(Button4, &QPushButton::clicked, this, [this] { tovimar::Guarded([&] { Button4Click(Button4); }); });
  connect(ExportAviButton, &QPushButton::clicked, this,
          [this] { tovimar::Guarded([&] { ExportAviClick(ExportAviButton); }); });
  connect(EvaluateButton, &QPushButton::clicked, this,
          [this] { tovimar::Guarded([&] { EvaluateClick(EvaluateButton); }); });
  connect(ShowEditorButton, &QPushButton::clicked, this, [this] { desktop_.ShowSceneEditor(); });
  connect(RadioGroup2, &tovimar::RadioGroup::Click, this,
          [this] { tovimar::Guarded([&] { RadioGroup2Click(RadioGroup2); }); });
  connect(CheckBox3, &QCheckBox::toggled, this, [this] { tovimar::Guarded([&] { CheckBox3Click(CheckBox3); }); });

  Messages = new tovimar::MessageLog(this);
  MakeMenuBar();
  AddTips();

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

void ControlPanel::AddTips() {
  // Controls whose specified tips stay as they are keep them; the others say
  // in plain English what they do.
  struct Tip {
    QWidget* control;
    const char* text;
  };
  const Tip tips[] = {
      {Button4, "Choose the folder the numbered sequence folders go into"},
      {CheckBox1, "Subpixel Disparity: kept for compatibility; changes no file (both disparity maps and the "
                  "disparity text are always written)"},
      {Button3, "Start rendering the prepared scene's frames into Folder/Sequence no (F5); Stop ends the run (Esc)"},
      {GroupBox1, "The colour drawn where no object is (0 to 255 each)"},
      {Edit3, "Red of the background colour (0 to 255)"},
      {Edit4, "Green of the background colour (0 to 255)"},
      {Edit5, "Blue of the background colour (0 to 255)"},
      {CheckBox3, "Write the segmentation maps in the palette's colours instead of grey ids"},
      {CheckBox4, "Smooth the edges of the camera images (multisampling)"},
      {ProgressBar1, "The frames of the run made so far"},
      {StatusLine, "The last message; View > Messages (Ctrl+M) lists them all"},
      {Rendering, "Where and how the frames are rendered"},
  };
  for (const Tip& tip : tips)
    if (tip.control->toolTip().isEmpty()) tip.control->setToolTip(QString::fromLatin1(tip.text));
}

void ControlPanel::MakeMenuBar() {
  MenuBar = Named(new QMenuBar(this), "MenuBar");
  // The shortcuts work in the panel, and in the editor, which takes the
  // File and Run actions too (EditorActions); the viewer keeps its own keys
  // (Ctrl+S there saves the picture).
  auto add = [this](QMenu* menu, const QString& text, const QKeySequence& keys, const char* name,
                    std::function<void()> handler) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(name));
    action->setShortcut(keys);
    connect(action, &QAction::triggered, this, [handler = std::move(handler)] { tovimar::Guarded(handler); });
    return action;
  };
  // The platform's keys; Save As and Quit have none on some platforms.
  auto standard = [](QKeySequence::StandardKey key, const QKeySequence& otherwise) {
    const QKeySequence keys(key);
    return keys.isEmpty() ? otherwise : keys;
  };
  auto editor = [this] { return desktop_.SceneEditorWindow(); };
  QMenu* file = MenuBar->addMenu(QStringLiteral("&File"));
  OpenAction = add(file, QStringLiteral("&Open..."), QKeySequence::Open, "OpenAction", [editor] {
    if (editor() == nullptr) return;
    const QString name = editor()->OpenDialog1 ? editor()->OpenDialog1() : QString();
    if (name.isEmpty()) return;
    editor()->Edit1->setText(name);
    editor()->Button2Click(editor()->Button2);  // Load
  });
  SaveAction = add(file, QStringLiteral("&Save"), QKeySequence::Save, "SaveAction", [editor] {
    if (editor() != nullptr) editor()->Button3Click(editor()->Button3);
  });
  SaveAsAction = add(file, QStringLiteral("Save &As..."), standard(QKeySequence::SaveAs, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)), "SaveAsAction", [editor] {
    if (editor() != nullptr) editor()->SaveAs();
  });
  OpenSequenceFolderAction = add(file, QStringLiteral("Open se&quence folder..."), QKeySequence(),
                                 "OpenSequenceFolderAction", [this] { OpenSequenceFolderClick(); });
  OpenSequenceFolderAction->setToolTip(QStringLiteral("Show the frames and ground truth of a folder a run wrote "
                                                      "(any layout), to step through and evaluate"));
  ModelsFolderAction = add(file, QStringLiteral("&Models folder..."), QKeySequence(), "ModelsFolderAction",
                           [this] { ModelsFolderClick(); });
  NoModelsFolderAction = add(file, QStringLiteral("No models folder"), QKeySequence(), "NoModelsFolderAction",
                             [this] { SetModelsFolder(QString()); });
  SetModelsFolder(QString());
  file->addSeparator();
  ExportAviAction = add(file, QStringLiteral("&Export AVI"), QKeySequence(), "ExportAviAction",
                        [this] { ExportAviClick(ExportAviButton); });
  file->addSeparator();
  QuitAction = add(file, QStringLiteral("&Quit"), standard(QKeySequence::Quit, QKeySequence(Qt::CTRL | Qt::Key_Q)),
                   "QuitAction", [this] { close(); });
  QuitAction->setMenuRole(QAction::QuitRole);

  QMenu* run = MenuBar->addMenu(QStringLiteral("&Run"));
  PrepareAction = add(run, QStringLiteral("&Prepare"), QKeySequence(), "PrepareAction", [editor] {
    if (editor() != nullptr) editor()->Button5Click(editor()->Button5);
  });
  StartAction = add(run, QStringLiteral("&Start"), QKeySequence(Qt::Key_F5), "StartAction", [this] {
    if (desktop_.Viewer() != nullptr && !desktop_.Viewer()->Running()) Button3Click(Button3);
  });
  StopAction = add(run, QStringLiteral("S&top"), QKeySequence(Qt::Key_Escape), "StopAction", [this] {
    if (desktop_.Viewer() != nullptr && desktop_.Viewer()->Running()) Button3Click(Button3);
  });
  StopAction->setEnabled(false);  // Esc is only taken while a run goes
  run->addSeparator();
  EvaluateAction = add(run, QStringLiteral("&Evaluate"), QKeySequence(), "EvaluateAction",
                       [this] { EvaluateClick(EvaluateButton); });

  // The viewer's views with their keys (the viewer's own actions, taken when
  // the menu opens), and the message log.
  ViewMenu = MenuBar->addMenu(QStringLiteral("&View"));
  ViewMenu->setObjectName(QStringLiteral("PanelViewMenu"));
  MessagesAction = new QAction(QStringLiteral("&Messages"), this);
  MessagesAction->setObjectName(QStringLiteral("MessagesAction"));
  MessagesAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
  MessagesAction->setToolTip(QStringLiteral("Every status message of this session, with its time"));
  connect(MessagesAction, &QAction::triggered, this, [this] { Messages->ShowInFront(); });
  addAction(MessagesAction);
  auto fillViewMenu = [this] {
    ViewMenu->clear();
    if (desktop_.Viewer() != nullptr) {
      ViewMenu->addActions(desktop_.Viewer()->ViewActions());
      ViewMenu->addSeparator();
    }
    ViewMenu->addAction(MessagesAction);
  };
  fillViewMenu();
  connect(ViewMenu, &QMenu::aboutToShow, this, fillViewMenu);

  QMenu* help = MenuBar->addMenu(QStringLiteral("&Help"));
  // Shift+F1, then a click on any control: what it is for.
  help->addAction(QWhatsThis::createAction(this));
  add(help, QStringLiteral("&Viewer keys"), QKeySequence(), "ViewerKeysAction", [this] {
    if (desktop_.Viewer() != nullptr) desktop_.Viewer()->ShowHelp();
  });
  add(help, QStringLiteral("&About Tovimar"), QKeySequence(), "AboutAction", [this] {
    QMessageBox::about(this, QStringLiteral("About Tovimar"), Memo1->toPlainText());
  })->setMenuRole(QAction::AboutRole);

  // The controls keep their places below the menu bar.
  const int barHeight = MenuBar->sizeHint().height();
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (child != MenuBar) child->move(child->x(), child->y() + barHeight);
  MenuBar->setGeometry(0, 0, width(), barHeight);
  setFixedSize(width(), height() + barHeight);
}

QList<QAction*> ControlPanel::EditorActions() const {
  return {OpenAction, SaveAction, SaveAsAction, QuitAction, StartAction, StopAction};
}

void ControlPanel::SetStartStopCaption(const QString& caption) {
  Button3->setText(caption);
  const bool running = caption != QStringLiteral("Start");
  StartAction->setEnabled(!running);
  StopAction->setEnabled(running);
}

tovimar::OutputChoice ControlPanel::DatasetOutputs() const {
  const QMenu* menu = DatasetOutputsButton->menu();
  auto checked = [menu](const QString& name) {
    const QAction* a = menu->findChild<QAction*>(name);
    return a != nullptr && a->isChecked();
  };
  std::string ticked;
  for (const std::string& name : tovimar::OutputNames())
    if (checked(QStringLiteral("output_") + tovimar::FromStd(name))) ticked += (ticked.empty() ? "" : ",") + name;
  tovimar::OutputChoice choice = ticked.empty() ? tovimar::OutputChoice{} : tovimar::ParseOutputList(ticked);
  for (const tovimar::DatasetLayout layout : tovimar::AllLayouts())
    if (checked(QStringLiteral("layout_") + QString::fromLatin1(tovimar::LayoutName(layout)))) choice.layout = layout;
  // Nothing ticked in the classic layout would write no frame at all.
  if (choice.layout == tovimar::DatasetLayout::Classic && !choice.classic && !choice.AnyExtra()) choice.classic = true;
  return choice;
}

void ControlPanel::SetDatasetOutputs(const tovimar::OutputChoice& choice) {
  QMenu* menu = DatasetOutputsButton->menu();
  auto set = [menu](const QString& name, bool on) {
    if (QAction* a = menu->findChild<QAction*>(name)) a->setChecked(on);
  };
  const QStringList chosen = tovimar::FromStd(tovimar::OutputListText(choice)).split(QLatin1Char(','));
  for (const std::string& name : tovimar::OutputNames())
    set(QStringLiteral("output_") + tovimar::FromStd(name), chosen.contains(tovimar::FromStd(name)));
  for (const tovimar::DatasetLayout layout : tovimar::AllLayouts())
    set(QStringLiteral("layout_") + QString::fromLatin1(tovimar::LayoutName(layout)), choice.layout == layout);
  QString text = QStringLiteral("Dataset outputs: ") + QString::fromStdString(tovimar::OutputListText(choice));
  if (choice.layout != tovimar::DatasetLayout::Classic)
    text += QStringLiteral(" (") + QString::fromLatin1(tovimar::LayoutName(choice.layout)) + QStringLiteral(")");
  DatasetOutputsButton->setText(DatasetOutputsButton->fontMetrics().elidedText(text, Qt::ElideRight, 190));
  DatasetOutputsButton->setToolTip(text);
}

tovimar::RunOptions ControlPanel::ChosenRunOptions() const {
  tovimar::RunOptions options;
  const QSize size = GetResolution();
  options.width = size.width();
  options.height = size.height();
  options.background = BackgroundChosen();
  options.antiAlias = AntiAliasChosen();
  options.palette = PaletteChosen();
  options.preview = PreviewChosen();
  options.outputs = DatasetOutputs();
  options.cameras = BothCameras->isChecked()          ? tovimar::CameraChoice::Both
                    : RadioGroup2->ItemIndex() == 1 ? tovimar::CameraChoice::Right
                                                    : tovimar::CameraChoice::Left;
  if (!modelsFolder_.isEmpty()) options.modelFolders.push_back(tovimar::ToStd(modelsFolder_));
  return options;
}

ControlPanel::~ControlPanel() = default;

std::array<int, 3> ControlPanel::BackgroundChosen() const {
  return {UpDown2->value(), UpDown3->value(), UpDown4->value()};
}

QSize ControlPanel::GetResolution() const {
  switch (RadioGroup1->ItemIndex()) {
    case 1: return {512, 384};
    case 2: return {800, 600};
    case 3: return {1024, 768};
    default: return {320, 240};
  }
}

void ControlPanel::Button2Click(QObject*) {
  const QSize size = GetResolution();
  if (desktop_.Viewer() != nullptr) {
    desktop_.Viewer()->ChangeResolution(size.width(), size.height());
    desktop_.ArrangeWindows(true);  // the viewer stays on the screen
  }
}

void ControlPanel::Button3Click(QObject*) {
  if (desktop_.Viewer() == nullptr) return;
  // A new run would rewrite the files the evaluation is reading.
  if (!desktop_.Viewer()->Running() && evaluation_ && evaluation_->Running()) {
    ShowStatus(QStringLiteral("Start: wait for the evaluation to end"));
    return;
  }
  const bool starting = !desktop_.Viewer()->Running();
  if (starting) {
    // Refused as the command line refuses it, before a folder is made.
    try {
      ChosenRunOptions().Check();
    } catch (const tovimar::Error& e) {
      ShowStatus(QStringLiteral("Start: ") + tovimar::FromStd(e.message()));
      return;
    }
    SaveSettings();
    bothStage_ = BothCameras->isChecked() ? BothStage::Left : BothStage::None;
    if (bothStage_ == BothStage::Left) SelectCamera(false);
  }
  // The resolution shown selected is the one rendered: Start applies it.
  const bool apply = starting && GetResolution() != desktop_.Viewer()->RenderSize();
  if (apply) Button2Click(Button2);
  desktop_.Viewer()->StartStop();
  if (!desktop_.Viewer()->Running()) bothStage_ = BothStage::None;  // stopped, or the preparation failed
  if (apply && desktop_.Viewer()->Running()) {
    const QSize size = GetResolution();
    ShowStatus(StatusLine->toolTip() + QStringLiteral(" (the selected %1 x %2 was applied first)")
                                           .arg(size.width())
                                           .arg(size.height()));
  }
}

void ControlPanel::SelectCamera(bool right) {
  if (RadioGroup2->ItemIndex() != (right ? 1 : 0)) RadioGroup2->SetItemIndex(right ? 1 : 0);  // switches the viewer
  ViewerWindow* viewer = desktop_.Viewer();
  if (viewer != nullptr && viewer->CheckBox1->isChecked() != right) viewer->CheckBox1->setChecked(right);
}

void ControlPanel::ClearEvaluation(const QString& why) {
  if (evaluation_) evaluation_->Clear(why + QStringLiteral(" Press Evaluate to score what is there now."));
}

void ControlPanel::OpenSequenceFolderClick() {
  ViewerWindow* viewer = desktop_.Viewer();
  if (viewer == nullptr) return;
  const QString folder = SequenceFolderDialog ? SequenceFolderDialog() : QString();
  if (folder.isEmpty()) return;  // cancelled
  QString status;
  const bool opened = viewer->OpenSequenceFolder(folder, status);
  ShowStatus(status);
  if (!opened) return;
  viewer->BringToFront();
  ClearEvaluation(QStringLiteral("Another sequence folder was opened; these results were of the one before."));
}

void ControlPanel::ModelsFolderClick() {
  const QString folder = ModelsFolderDialog ? ModelsFolderDialog() : QString();
  if (folder.isEmpty()) return;  // cancelled: nothing changes
  SetModelsFolder(folder);
  ShowStatus(QStringLiteral("Models folder: %1 (MESH files not beside the scene are looked for there at the next "
                            "Prepare, Load or Start)")
                 .arg(QDir::toNativeSeparators(folder)));
}

void ControlPanel::SetModelsFolder(const QString& folder) {
  modelsFolder_ = folder;
  const QString where = folder.isEmpty() ? QStringLiteral("none") : QDir::toNativeSeparators(folder);
  ModelsFolderAction->setToolTip(QStringLiteral("Choose the folder where MESH files that are not beside the scene "
                                                "are looked for (as tovimar-render --models); now: ") + where);
  NoModelsFolderAction->setEnabled(!folder.isEmpty());
  NoModelsFolderAction->setToolTip(QStringLiteral("Look for MESH files beside the scene only"));
}

void ControlPanel::RunFinished(bool complete) {
  ClearEvaluation(QStringLiteral("A run has ended since this evaluation; its results may no longer describe the "
                                 "folder."));
  if (bothStage_ == BothStage::Left && complete) {
    bothStage_ = BothStage::Right;
    // Started once the left run's last step has left the stack.
    QTimer::singleShot(0, this, [this] { tovimar::Guarded([&] { StartRightHalf(); }); });
    return;
  }
  bothStage_ = BothStage::None;
}

void ControlPanel::StartRightHalf() {
  if (bothStage_ != BothStage::Right || desktop_.Viewer() == nullptr || desktop_.Viewer()->Running()) {
    bothStage_ = BothStage::None;
    return;
  }
  SelectCamera(true);
  desktop_.Viewer()->StartStop();
  if (!desktop_.Viewer()->Running()) bothStage_ = BothStage::None;
}

void ControlPanel::SaveSettings() const {
  QSettings settings = tovimar::UserSettings();
  settings.setValue(QStringLiteral("panel/folder"), Edit2->text());
  settings.setValue(QStringLiteral("panel/resolution"), RadioGroup1->ItemIndex());
  settings.setValue(QStringLiteral("panel/sequence"), UpDown1->value());
  settings.setValue(QStringLiteral("panel/camera"), BothCameras->isChecked() ? QStringLiteral("both")
                                                    : RadioGroup2->ItemIndex() == 1 ? QStringLiteral("right")
                                                                                    : QStringLiteral("left"));
  const tovimar::OutputChoice outputs = DatasetOutputs();
  settings.setValue(QStringLiteral("panel/outputs"), QString::fromStdString(tovimar::OutputListText(outputs)));
  settings.setValue(QStringLiteral("panel/layout"), QString::fromLatin1(tovimar::LayoutName(outputs.layout)));
  settings.setValue(QStringLiteral("panel/models"), modelsFolder_);
}

void ControlPanel::RestoreSettings() {
  QSettings settings = tovimar::UserSettings();
  const QString folder = settings.value(QStringLiteral("panel/folder")).toString();
  if (!folder.isEmpty()) Edit2->setText(folder);
  bool ok = false;
  const int resolution = settings.value(QStringLiteral("panel/resolution")).toInt(&ok);
  if (ok && resolution >= 0 && resolution < RadioGroup1->ItemCount()) {
    RadioGroup1->SetItemIndex(resolution);
    const QSize size = GetResolution();
    ViewerWindow* viewer = desktop_.Viewer();
    if (viewer != nullptr && viewer->RenderSize() != size) viewer->ChangeResolution(size.width(), size.height());
  }
  const int sequence = settings.value(QStringLiteral("panel/sequence")).toInt(&ok);
  if (ok) UpDown1->setValue(sequence);
  SetModelsFolder(settings.value(QStringLiteral("panel/models")).toString());
  const QString camera = settings.value(QStringLiteral("panel/camera")).toString();
  BothCameras->setChecked(camera == QStringLiteral("both"));
  if (camera == QStringLiteral("right")) SelectCamera(true);
  // Outputs and layouts that this version does not know are left out, not refused.
  if (settings.contains(QStringLiteral("panel/outputs"))) {
    const QStringList stored = settings.value(QStringLiteral("panel/outputs")).toString().split(QLatin1Char(','));
    std::string known;
    for (const std::string& name : tovimar::OutputNames()) {
      if (stored.contains(tovimar::FromStd(name))) known += (known.empty() ? "" : ",") + name;
    }
    tovimar::OutputChoice outputs = known.empty() ? tovimar::OutputChoice{} : tovimar::ParseOutputList(known);
    const QString layout = settings.value(QStringLiteral("panel/layout")).toString();
    for (const tovimar::DatasetLayout l : tovimar::AllLayouts()) {
      if (layout == QString::fromLatin1(tovimar::LayoutName(l))) outputs.layout = l;
    }
    SetDatasetOutputs(outputs);
  }
}

void ControlPanel::ExportAviClick(QObject*) {
  if (desktop_.Viewer() == nullptr) return;
  desktop_.Viewer()->ExportAvi();
  const tovimar::AviExportSummary& avi = desktop_.Viewer()->LastAviExport;
  const QString path = tovimar::FromStd(avi.aviPath);
  if (!avi.opened || avi.noImages) {
    ShowStatus(QStringLiteral("Export AVI: ") + tovimar::FromStd(avi.writeError));
  } else if (!avi.writeError.empty()) {
    ShowStatus(QStringLiteral("Export AVI: cannot write %1 (no AVI was written)").arg(tovimar::FromStd(avi.writeError)));
  } else {
    const std::vector<int32_t>& leftOut = desktop_.Viewer()->LastAviLeftOut;
    QString note;
    if (!leftOut.empty()) {
      note = QStringLiteral("; left out %1 camera image%2 of an earlier run (frame %3%4), which the last run did not "
                            "write")
                 .arg(leftOut.size())
                 .arg(leftOut.size() == 1 ? QString() : QStringLiteral("s"))
                 .arg(leftOut.front())
                 .arg(leftOut.size() == 1 ? QString() : QStringLiteral(" to %1").arg(leftOut.back()));
    }
    ShowStatus(QStringLiteral("Export AVI: %1 frames into %2%3%4")
                   .arg(avi.framesWritten)
                   .arg(path)
                   .arg(avi.framesSkipped > 0 ? QStringLiteral(" (%1 images missing)").arg(avi.framesSkipped)
                                              : QString())
                   .arg(note));
  }
}

void ControlPanel::EvaluateClick(QObject*) {
  if (desktop_.Viewer() == nullptr) return;
  // The tool reads the run's files: not while a run is writing them.
  if (desktop_.Viewer()->Running()) {
    ShowStatus(QStringLiteral("Evaluate: not while a run is going; stop it or wait for its end"));
    return;
  }
  if (evaluation_ && evaluation_->Running()) {
    ShowStatus(QStringLiteral("Evaluate: an evaluation is going already"));
    return;
  }
  tovimar::WrittenFrame last = desktop_.Viewer()->LastWrittenFrame();
  if (!last.valid) {
    ShowStatus(QStringLiteral("Evaluate: no run has written frames yet (run both cameras into one folder first)"));
    return;
  }
  // The tool scores a stereo pair: after one camera's run, say which to run next.
  const tovimar::SequenceManifest manifest(last.directory);
  // The camera chosen on the panel is scored when it has written the frame.
  const bool chosen = desktop_.Viewer()->RightCamera();
  if (chosen != last.rightCamera && manifest.ReadProblem().empty() && manifest.HasFrame(chosen, last.frame))
    last.rightCamera = chosen;
  if (manifest.ReadProblem().empty() && !manifest.HasFrame(!last.rightCamera, last.frame)) {
    const QString other = last.rightCamera ? QStringLiteral("left") : QStringLiteral("right");
    ShowStatus(QStringLiteral("Evaluate: the %1 camera has not written frame %2 here yet; run the %1 camera into "
                              "the same folder and sequence number first")
                   .arg(other)
                   .arg(last.frame));
    return;
  }
  const tovimar::EvalToolSearch tool = tovimar::FindEvalTool();
  if (tool.found.isEmpty()) {
    const QString message = QStringLiteral("Evaluate: tovimar-eval not found; looked for ") +
                            tool.lookedFor.join(QStringLiteral(", "));
    ShowStatus(message);
    tovimar::AppNotifier().Notify("", tovimar::ToStd(message));
    return;
  }
  if (!evaluation_) {
    evaluation_ = std::make_unique<tovimar::EvaluationWindow>();
    connect(evaluation_.get(), &tovimar::EvaluationWindow::Finished, this, [this](bool ok, const QString& summary) {
      ShowStatus(ok ? QStringLiteral("Evaluate: done, ") + summary
                    : QStringLiteral("Evaluate: failed: ") + summary + QStringLiteral(" (see the Evaluation window)"));
    });
  }
  const QString directory = tovimar::FromStd(last.directory);
  // The flow too when the run wrote it.
  const bool flow = last.outputs.flow;
  ShowStatus(QStringLiteral("Evaluate: SGBM%1 and evaluation of %2 (%3 camera) started")
                 .arg(flow ? QStringLiteral(", DIS optical flow") : QString(), QDir::toNativeSeparators(directory),
                      last.rightCamera ? "right" : "left"));
  evaluation_->Start(tool.found, directory, last.rightCamera, last.frame, flow);
}

void ControlPanel::ShowStatus(const QString& text) {
  Messages->Add(text);
  messageHeld_ = desktop_.Viewer() != nullptr && desktop_.Viewer()->Running();
  StatusLine->setToolTip(text);
  StatusLine->setText(StatusLine->fontMetrics().elidedText(text, Qt::ElideMiddle, StatusLine->width() - 8));
}

void ControlPanel::ShowRunProgress(const QString& text) {
  ProgressBar1->setToolTip(text);
  if (messageHeld_) return;
  StatusLine->setToolTip(text);
  StatusLine->setText(StatusLine->fontMetrics().elidedText(text, Qt::ElideMiddle, StatusLine->width() - 8));
}

void ControlPanel::Button4Click(QObject*) {
  const QString folder = SaveDialog1 ? SaveDialog1() : QString();
  if (folder.isEmpty()) return;  // cancelled: nothing changes
  Edit2->setText(folder);
}

void ControlPanel::RadioGroup2Click(QObject*) {
  if (desktop_.Viewer() != nullptr) desktop_.Viewer()->CheckBox1->setChecked(!desktop_.Viewer()->CheckBox1->isChecked());
}

void ControlPanel::CheckBox3Click(QObject*) {
  if (desktop_.SceneEditorWindow() != nullptr) desktop_.SceneEditorWindow()->Image1Rysuj();
}

void ControlPanel::FormClose() {
  SaveSettings();
  desktop_.SavePlaces();
  if (desktop_.Viewer() != nullptr) {
    desktop_.Viewer()->AllowClose();
    desktop_.Viewer()->close();
  }
  if (desktop_.SceneEditorWindow() != nullptr) desktop_.SceneEditorWindow()->close();
  evaluation_.reset();  // ends a tool still going
  desktop_.DestroyViewerAndEditor();
  QCoreApplication::quit();
}

void ControlPanel::closeEvent(QCloseEvent* event) {
  // Unsaved scene text goes only when the user says so.
  if (desktop_.SceneEditorWindow() != nullptr && !desktop_.SceneEditorWindow()->MayDiscardText()) {
    event->ignore();
    return;
  }
  tovimar::Guarded([&] { FormClose(); });
  event->accept();
}
