#pragma once
// The scene editor: the scene text, its file, the preparation command, the
// movement generator, the id colour chart, and the logs that the drawing
// writes. Scene assembly and the drawing reach it through the ViewerEditor
// interface it implements.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QStringList>
#include <QTreeWidget>
#include <QWidget>
#include <functional>

#include "app/viewer_window.h"
#include "app/widgets.h"
#include "render/settings.h"

// What the editor asks of the program around it (Desktop): the viewer,
// whose "Prepare" the editor's Load and "Prepare" buttons press, and the
// control panel; each null before it is made and after it is destroyed.
class EditorHost {
 public:
  virtual ~EditorHost() = default;
  virtual ViewerWindow* Viewer() const = 0;
  virtual ViewerPanel* Panel() const = 0;
};

class SceneEditor : public QWidget, public ViewerEditor {
  Q_OBJECT
 public:
  explicit SceneEditor(EditorHost& host, QWidget* parent = nullptr);
  ~SceneEditor() override;

  // Event handlers.
  void FormCreate();
  void Button1Click(QObject* sender);  // "Select File"
  void Button2Click(QObject* sender);  // "Load"
  void Button3Click(QObject* sender);  // "Save"
  void Button4Click(QObject* sender);  // "Generate"
  void Button5Click(QObject* sender);  // "Prepare"
  void Image1Rysuj();                  // draws the id colour chart
  void Image1MouseDown(Qt::MouseButton button, int x, int y);

  // The open dialog: returns the chosen file name, or an empty text when the
  // user cancels. Tests replace it.
  std::function<QString()> OpenDialog1;
  // The save dialog that Save shows instead of overwriting the bundled
  // example: returns the chosen file name, or an empty text when the user
  // cancels. Tests replace it.
  std::function<QString()> SaveDialog1;
  // Load's question when the text has unsaved changes: Discard (replace
  // them) or Cancel (keep the text, read nothing). Tests replace it.
  std::function<QMessageBox::StandardButton()> AskReplaceUnsaved;
  // The question before the program ends with unsaved text: Save, Discard
  // or Cancel. Tests replace it; AskSaveUnsavedBox is the message box.
  std::function<QMessageBox::StandardButton()> AskSaveUnsaved;
  QMessageBox::StandardButton AskSaveUnsavedBox();
  // Before the text goes with the program: true when it is unmodified,
  // saved on Save, or discarded; false (keep everything) on Cancel or when
  // the save did not happen.
  bool MayDiscardText();
  // "Save As": the save dialog's name becomes the file, then Save.
  void SaveAs();
  // The text was changed since it was loaded, saved or first shown; the
  // window title then carries Qt's "*" mark.
  bool TextModified() const;
  // The path names the bundled example scene (examples/sceneexample.txt).
  static bool IsBundledExample(const QString& path);
  // The size the editor's controls were laid out for; the window may be
  // smaller on a small screen, and scrolls then; larger, the scene text and
  // the lists below it take the room.
  static QSize DesignedSize() { return {900, 936}; }

  // Lines of a memo, one per text block; a memo's last line break leaves an
  // empty last line here.
  static QStringList MemoLines(const QPlainTextEdit* memo);
  // Appends one line as a memo's line list does: into the empty last line
  // when the text ends with a line break, else as a new line.
  static void AddMemoLine(QPlainTextEdit* memo, const QString& line);

  // The bytes of Memo1 as Save writes them (lines joined with CR LF). Text
  // loaded from a file that is not UTF-8 is written back in Latin-1.
  std::string Memo1FileBytes() const;
  // Replaces Memo1 with the lines of a file's bytes (Load).
  void SetMemo1FromFileBytes(const std::string& bytes);

  // The reports of the last preparation, one row each: line, number (the
  // field's place among the line's numbers, or "keyword"), the field as
  // written, the problem. A click on a row selects that field (or the whole
  // line) in Memo1. Each preparation replaces the rows.
  QTreeWidget* SceneErrors;
  void BeginSceneReports() override;
  // field: as Notifier::NotifyField, -1 for a report about the whole line.
  void AddSceneReport(int line, int field, const QString& written, const QString& text) override;
  void EndSceneReports() override;
  void GoToSceneReport(int line, int field);

  // ViewerEditor (tovimar::EditorLink)
  std::vector<std::string> SceneLines() const override;
  std::string SceneName() const override;  // the file named in Edit1
  // The fields' text normalised to the user's decimal mark, written back,
  // then read (Error naming the text when it does not convert).
  double FocalLength() override;
  double Baseline() override;
  std::string FocalLengthText() const;
  void SetFocalLengthText(const std::string& text);
  std::string BaselineText() const;
  void SetBaselineText(const std::string& text);
  void ShowCounts(std::size_t objects, std::size_t frames) override;
  bool MatrixLogEnabled() const override;
  void AppendMotionLog(const std::string& tableLine, const std::string& plainLine) override;
  void AppendMatrixLog(const std::string& line) override;
  void ClearMotionLogs() override;

  QLineEdit* Edit1;
  QLabel* ModifiedLabel;  // beside the commands: says the text is not saved
  QPushButton* Button1;
  QPushButton* Button2;
  QPushButton* Button3;
  QPushButton* Button5;
  QGroupBox* GroupBox1;
  QCheckBox* CheckBox2;  // X
  QCheckBox* CheckBox3;  // Y
  QCheckBox* CheckBox5;  // Z
  QCheckBox* CheckBox6;  // A
  QCheckBox* CheckBox7;  // B
  QCheckBox* CheckBox8;  // G
  QCheckBox* CheckBox9;  // "Return frame"
  QLabel* Label1;
  QLineEdit* Edit2;  // Start
  QLabel* Label2;
  QLineEdit* Edit3;  // Step
  QLabel* Label3;
  QSpinBox* Edit4;    // No Frames
  QSpinBox* UpDown1;  // the spinner of Edit4 (the same control)
  QLabel* Label6;
  QPushButton* Button4;
  QLabel* Label4;
  QLabel* Label5;
  QLabel* Label7;
  QLabel* Label8;
  QLabel* Label9;
  QLineEdit* Edit5;  // baseline
  QLabel* Label10;
  QLineEdit* Edit6;  // focal length
  tovimar::ImageBox* Image1;
  QLabel* Label11;
  QPlainTextEdit* Memo1;
  QPlainTextEdit* Memo2;
  QPlainTextEdit* Memo3;
  QPlainTextEdit* Memo4;
  QCheckBox* CheckBox4;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  EditorHost& desktop_;  // the other windows
  QWidget* page_ = nullptr;          // the controls, in scroll_
  QScrollArea* scroll_ = nullptr;
  void FitPage();
  void AddTips();
  void ShowModified();
  void ShowTitle();  // "Tovimar Scene editor - <file>[*]"
  bool latin1Text_ = false;  // Memo1 came from a file that is not UTF-8
  // Text goes back to 8-bit Latin-1 when it came from such a file and every
  // character still fits; otherwise it is written as UTF-8.
  bool WriteAsLatin1(const QString& text) const;
};
