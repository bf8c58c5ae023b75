#pragma once
// The control panel, the main window: the settings of a rendering run, the
// Start/Stop command, the progress bar and the about text. The viewer and the
// editor read its controls through the ViewerPanel interface at the moment
// they need them.
#include <QCheckBox>
#include <QToolButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSize>
#include <QSpinBox>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/message_log.h"
#include "app/viewer_window.h"
#include "app/widgets.h"
#include "layout/output_choice.h"
#include "run/run_session.h"

namespace tovimar {
class EvaluationWindow;
}
class SceneEditor;

// What the panel asks of the program around it (Desktop): the other two
// windows (null before they are made and after they are destroyed), their
// placement, and the end of the program.
class PanelHost {
 public:
  virtual ~PanelHost() = default;
  virtual ViewerWindow* Viewer() const = 0;
  virtual SceneEditor* SceneEditorWindow() const = 0;
  virtual void ArrangeWindows(bool viewerOnly) = 0;
  virtual void ShowSceneEditor() = 0;
  virtual void DestroyViewerAndEditor() = 0;
  // Keeps the windows' places and sizes for the next session.
  virtual void SavePlaces() = 0;
};

class ControlPanel : public QWidget, public ViewerPanel {
  Q_OBJECT
 public:
  explicit ControlPanel(PanelHost& host, QWidget* parent = nullptr);
  ~ControlPanel() override;

  // The width and height of the resolution group's item: 1 -> 512 x 384,
  // 2 -> 800 x 600, 3 -> 1024 x 768, 0 or none -> 320 x 240.
  QSize GetResolution() const;

  // Event handlers.
  void Button2Click(QObject* sender);      // "Apply": the viewer's resolution
  void Button3Click(QObject* sender);      // "Start" / "Stop"; no start during an evaluation
  void Button4Click(QObject* sender);      // "Select": the output folder
  void RadioGroup2Click(QObject* sender);  // camera choice: inverts the viewer's CheckBox1
  void CheckBox3Click(QObject* sender);    // palette: redraws the editor's id chart
  void FormClose();                        // shut-down of the program
  void ExportAviClick(QObject* sender);    // "Export AVI": the viewer's AVI export of the last run
  void EvaluateClick(QObject* sender);     // "Evaluate": SGBM on the last run's pair, scored (tovimar-eval)

  // The status line: a run's progress (frame i of N, frames per second,
  // time left) and why it ended. Every message also goes to the message log
  // with its time; one shown during a run stays on the status line over the
  // progress until the run ends (the progress is in the progress bar's tip).
  void ShowStatus(const QString& text) override;
  void ShowRunProgress(const QString& text) override;
  // "Messages" (View menu): the log of every message.
  tovimar::MessageLog* Messages;
  QAction* MessagesAction = nullptr;
  QMenu* ViewMenu = nullptr;

  // The folder dialog: returns the chosen folder, or an empty text when the
  // user cancels. Tests replace it.
  std::function<QString()> SaveDialog1;
  // File > Open sequence folder: a folder a run wrote, shown in the viewer
  // (its frames, ground truth, Evaluate). The dialog returns the folder, or
  // an empty text when the user cancels; tests replace it.
  void OpenSequenceFolderClick();
  std::function<QString()> SequenceFolderDialog;
  QAction* OpenSequenceFolderAction = nullptr;
  // File > Models folder: the folder where MESH files that are not beside the
  // scene are looked for (as tovimar-render --models); the dialog returns
  // it, or an empty text when the user cancels (tests replace it). "No
  // models folder" forgets it. Kept between sessions.
  void ModelsFolderClick();
  void SetModelsFolder(const QString& folder);
  QString ModelsFolder() const { return modelsFolder_; }
  std::vector<std::string> ModelFoldersChosen() const override { return ChosenRunOptions().modelFolders; }
  std::function<QString()> ModelsFolderDialog;
  QAction* ModelsFolderAction = nullptr;
  QAction* NoModelsFolderAction = nullptr;

  tovimar::RadioGroup* RadioGroup1;
  QPushButton* Button2;
  QCheckBox* CheckBox1;
  QPlainTextEdit* Memo1;
  QGroupBox* Rendering;
  QLabel* Label1;
  QLineEdit* Edit2;
  QPushButton* Button4;
  QLabel* Label2;
  QSpinBox* Edit1;
  QSpinBox* UpDown1;  // the spinner of Edit1 (the same control)
  tovimar::RadioGroup* RadioGroup2;
  QCheckBox* CheckBox2;
  QPushButton* Button3;
  QGroupBox* GroupBox1;
  QLabel* Label3;
  QLabel* Label4;
  QLabel* Label5;
  QSpinBox* Edit3;
  QSpinBox* UpDown2;
  QSpinBox* Edit4;
  QSpinBox* UpDown3;
  QSpinBox* Edit5;
  QSpinBox* UpDown4;
  QCheckBox* CheckBox3;
  QCheckBox* CheckBox4;
  QProgressBar* ProgressBar1;
  QLabel* StatusLine;
  QPushButton* ExportAviButton;
  QPushButton* EvaluateButton;
  // "Scene editor": shows the editor again after it was closed.
  QPushButton* ShowEditorButton;
  // "Both cameras": Start runs the left camera, then the right one, into the
  // same folder, as the command line's "--camera both" does.
  QCheckBox* BothCameras;
  // A run of both cameras has its second half still to come or going.
  bool BothCamerasPending() const { return bothStage_ != BothStage::None; }
  // The viewer reports the end of each run: complete when every frame was made.
  void RunFinished(bool complete) override;

  // The folder, resolution, sequence number, camera and outputs are kept
  // between sessions (QSettings, "Tovimar/tovimar.ini" of the user): saved
  // at each Start and when the program ends, restored at start-up (the
  // resolution applied, the camera switched) once all windows exist.
  void SaveSettings() const;
  void RestoreSettings();

  // The "Evaluation" window of the last "Evaluate" (null before the first).
  tovimar::EvaluationWindow* Evaluation() const { return evaluation_.get(); }

  // "Dataset outputs": which files each frame gets beside (or instead of) the
  // classic five, and the folder layout; a menu of check marks.
  QToolButton* DatasetOutputsButton;
  tovimar::OutputChoice DatasetOutputs() const override;
  void SetDatasetOutputs(const tovimar::OutputChoice& choice);
  // The run the panel's controls ask for, as the command line's options
  // would give it; Start refuses what its Check refuses.
  tovimar::RunOptions ChosenRunOptions() const;

  // ViewerPanel: the settings as the controls show them, and the progress.
  std::array<int, 3> BackgroundChosen() const override;
  bool AntiAliasChosen() const override { return CheckBox4->isChecked(); }
  QString OutputFolderText() const override { return Edit2->text(); }
  int SequenceNumberChosen() const override { return UpDown1->value(); }
  bool PreviewChosen() const override { return CheckBox2->isChecked(); }
  bool PaletteChosen() const override { return CheckBox3->isChecked(); }
  bool BothCamerasChosen() const override { return BothCameras->isChecked(); }
  // Also the start of a run: the status line shows its progress again.
  void SetProgressRange(int maximum) override {
    ProgressBar1->setRange(0, maximum > 0 ? maximum : 1);
    messageHeld_ = false;
  }
  void SetProgress(int position) override { ProgressBar1->setValue(position); }
  // Also enables the menu's Start (F5) or Stop (Esc).
  void SetStartStopCaption(const QString& caption) override;

  // The menu bar: File (Open, Save, Save As, Export AVI, Quit), Run
  // (Prepare, Start, Stop, Evaluate), Help. Open, Save and Save As are the
  // scene editor's; Quit closes the panel, which asks about unsaved text.
  QMenuBar* MenuBar = nullptr;
  QAction* OpenAction = nullptr;
  QAction* SaveAction = nullptr;
  QAction* SaveAsAction = nullptr;
  QAction* ExportAviAction = nullptr;
  QAction* QuitAction = nullptr;
  QAction* PrepareAction = nullptr;
  QAction* StartAction = nullptr;
  QAction* StopAction = nullptr;
  QAction* EvaluateAction = nullptr;
  // The actions whose keys also work in the scene editor's window.
  QList<QAction*> EditorActions() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  PanelHost& desktop_;  // the other windows
  void MakeMenuBar();
  void AddTips();
  enum class BothStage { None, Left, Right };
  // Selects the camera on the radio group and the viewer's switch alike.
  void SelectCamera(bool right);
  void StartRightHalf();
  // An open Evaluation window's results no longer describe the folder.
  void ClearEvaluation(const QString& why);
  std::unique_ptr<tovimar::EvaluationWindow> evaluation_;
  BothStage bothStage_ = BothStage::None;
  bool messageHeld_ = false;
  QString modelsFolder_;  // a message of the run going holds the status line
};
