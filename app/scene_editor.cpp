#include "app/scene_editor.h"

#include <QDir>
#include <QFile>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QMessageBox>
#include <QGuiApplication>
#include <QScreen>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextCursor>

#include "app/app_support.h"
#include "app/id_chart.h"
#include "app/movement_generator.h"
#include "app/scene_file.h"
#include "app/viewer_window.h"
#include "scene/locale_number.h"
#include "scene/notifier.h"
#include "scene/scene_text.h"

namespace {

template <class T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QLatin1String(name));
  return widget;
}

// The example scene the editor starts with (examples/sceneexample.txt).
const char* const kDefaultScene[] = {
    "//Background",
    "FOCALLENGTH;389;",
    "// Gaussian Noise : params: standard deviation",
    "NOISE;2.0;",
    "//FOG;",
    "SPHERE;  id 254; texture: -1; colour: 1.0; 11.0; 11.0; position:  0.0; 0.0;  0.0; 1.0; 0.0; 0.0; dim: 24.65",
    "",
    "SPHERE;  id  25; texture:  9; colour: 1.0;  1.0;  1.0; position:  0.0; 1.0; -0.2; 0.0; 0.0; 0.0; dim:  0.65",
    "CUBOID;  id  40; texture:  5; colour: 1.0;  1.0;  1.0; position: -1.5; 0.5; -0.5; 0.0; 0.0; 0.0; dim:  0.2;  0.2; 2",
    "CUBOID;  id  45; texture:  5; colour: 1.0;  1.0;  1.0; position: -1.5; 2.5; -0.5; 0.0; 0.0; 0.0; dim:  0.2;  0.2; 2",
    "CYLINDER;id  50; texture:  1; colour: 1.0;  1.0;  1.0; position: -0.0; 0.3; -1.4; 0.0; 0.0; 0.0; dim:  0.45; 0.1; 2",
    "",
    "QUAD;    id 100; texture: 10; colour: 1.0;  1.0;  1.0; vertices:  1.6; -2.0; -1.4;   1.6;  6.0; -1.4;   1.6; 6.0;  "
    "2.4;    1.6; -2.0;  2.4;",
    "QUAD;    id 120; texture: 10; colour: 1.0;  1.0;  1.0; vertices: -1.6; -2.0; -1.4;  -1.6;  6.0; -1.4;  -1.6; 6.0;  "
    "2.4;   -1.6; -2.0;  2.4;",
    "QUAD;    id 140; texture: 10; colour: 1.0;  1.0;  1.0; vertices: -1.6;  6.0; -1.4;   1.6;  6.0; -1.4;   1.6; 6.0;  "
    "2.4;   -1.6;  6.0;  2.4;",
    "QUAD;    id 160; texture:  0; colour: 1.0;  1.0;  0.5; vertices: -1.6; -2.0; -1.4;   1.6; -2.0; -1.4;   1.6; 6.0; "
    "-1.4;   -1.6;  6.0; -1.4;",
    "",
    "EGO;  0.0; 0.0; 0.1;  0.1; 0.0; 0.0",
    "EGO;  0.0; 0.0; 0.2;  0.1; 0.0; 0.0",
    "EGO;  0.0; 0.0; 0.3;  0.1; 3.0; 0.0",
    "EGO;  0.0; 0.0; 0.4;  0.1; 3.0; 0.0",
    "EGO;  0.0; 0.0; 0.3;  0.1; 3.0; 0.0",
};

// Courier New where it is installed, else the system's monospace face: a
// family name alone may fall back to a proportional face (which fonts are
// installed differs from machine to machine), so the first candidate that
// really is fixed pitch is taken.
QFont SceneFont() {
  auto styled = [](QFont font) {
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setBold(true);
    font.setPointSize(8);
    return font;
  };
  QFont chosen;
  for (const QFont& candidate : {QFont(QStringLiteral("Courier New")), QFont(QStringLiteral("monospace")),
                                 QFontDatabase::systemFont(QFontDatabase::FixedFont)}) {
    chosen = styled(candidate);
    if (QFontInfo(chosen).fixedPitch()) break;
  }
  return chosen;
}

QPlainTextEdit* LogMemo(QWidget* parent, const char* name, bool horizontalScroll) {
  auto* memo = Named(new QPlainTextEdit(QString::fromLatin1(name), parent), name);
  memo->setLineWrapMode(horizontalScroll ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  if (horizontalScroll) memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  return memo;
}

std::string LocalPath(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

SceneEditor::SceneEditor(EditorHost& host, QWidget* parent) : QWidget(parent), desktop_(host) {
  setObjectName(QStringLiteral("SceneEditor"));
  resize(DesignedSize());
  setMinimumSize(320, 240);
  // The controls sit on a page of at least the designed size; the window
  // scrolls it when it is smaller, and a larger window widens and lengthens
  // the scene text and the lists below it (FitPage).
  auto* content = new QWidget;
  content->setObjectName(QStringLiteral("EditorPage"));
  content->setFixedSize(DesignedSize());
  page_ = content;

  // The commands a user needs first (file, Load, Save, Prepare, the counts,
  // baseline and focal length) sit in the left 560 pixels, which a 1280 x
  // 800 screen shows without scrolling; the movement generator is right.
  Edit1 = Named(new QLineEdit(tovimar::ExampleScenePath(), content), "Edit1");
  Edit1->setGeometry(8, 8, 548, 27);
  Edit1->setToolTip(QStringLiteral("The scene file that Load reads and Save writes"));
  Button1 = Named(new QPushButton(QStringLiteral("Select File"), content), "Button1");
  Button1->setGeometry(8, 40, 90, 27);
  Button1->setToolTip(QStringLiteral("Choose the scene file (nothing is read until Load)"));
  Button2 = Named(new QPushButton(QStringLiteral("Load"), content), "Button2");
  Button2->setGeometry(104, 40, 64, 27);
  Button2->setToolTip(QStringLiteral("Replace the text with the file's and prepare the scene"));
  Button3 = Named(new QPushButton(QStringLiteral("Save"), content), "Button3");
  Button3->setGeometry(174, 40, 64, 27);
  Button3->setToolTip(QStringLiteral("Write the text to the file"));
  Button5 = Named(new QPushButton(QStringLiteral("Prepare"), content), "Button5");
  Button5->setGeometry(244, 40, 72, 27);
  Button5->setToolTip(QStringLiteral("Read the text into the scene and draw it in the viewer"));
  ModifiedLabel = Named(new QLabel(content), "ModifiedLabel");
  ModifiedLabel->setGeometry(324, 40, 232, 27);
  ModifiedLabel->setToolTip(QStringLiteral("The text has changes that are not saved to the file"));

  // Movement generator.
  GroupBox1 = Named(new QGroupBox(QStringLiteral("Movement generator"), content), "GroupBox1");
  GroupBox1->setGeometry(332, 70, 560, 112);
  struct Axis {
    QCheckBox** box;
    const char* name;
    const char* caption;
  };
  const Axis axes[] = {{&CheckBox2, "CheckBox2", "X"}, {&CheckBox3, "CheckBox3", "Y"},
                       {&CheckBox5, "CheckBox5", "Z"}, {&CheckBox6, "CheckBox6", "A"},
                       {&CheckBox7, "CheckBox7", "B"}, {&CheckBox8, "CheckBox8", "G"}};
  int x = 12;
  for (const Axis& axis : axes) {
    *axis.box = Named(new QCheckBox(QString::fromLatin1(axis.caption), GroupBox1), axis.name);
    (*axis.box)->setGeometry(x, 24, 44, 22);
    x += 46;
  }
  CheckBox9 = Named(new QCheckBox(QStringLiteral("Return frame"), GroupBox1), "CheckBox9");
  CheckBox9->setGeometry(300, 24, 160, 22);
  CheckBox9->setChecked(true);
  CheckBox9->setToolTip(QStringLiteral("Generuje ramke powrotu, o wektorze ruchu -T i -W"));
  CheckBox9->setWhatsThis(QStringLiteral("Return frame (the tip, in Polish: \"generates a return frame, with the "
                                         "motion vector -T and -W\"): every generated frame is followed by one that "
                                         "moves back by the same translation T and rotation W."));

  // Start and Step are read in the locale's notation, so their default 0.25
  // is shown in it too ("0,25" under a comma locale); a fixed "0,25" would
  // not convert under a point locale.
  const QString quarter = QStringLiteral("0") + QChar(tovimar::AppDecimalSeparator()) + QStringLiteral("25");
  Label1 = Named(new QLabel(QStringLiteral("Start:"), GroupBox1), "Label1");
  Label1->setGeometry(12, 54, 44, 26);
  Edit2 = Named(new QLineEdit(quarter, GroupBox1), "Edit2");
  Edit2->setGeometry(56, 54, 70, 26);
  Label2 = Named(new QLabel(QStringLiteral("Step:"), GroupBox1), "Label2");
  Label2->setGeometry(136, 54, 40, 26);
  Edit3 = Named(new QLineEdit(quarter, GroupBox1), "Edit3");
  Edit3->setGeometry(176, 54, 70, 26);
  Label3 = Named(new QLabel(QStringLiteral("No Frames:"), GroupBox1), "Label3");
  Label3->setGeometry(258, 54, 80, 26);
  Edit4 = Named(new QSpinBox(GroupBox1), "Edit4");
  Edit4->setRange(0, 100);
  Edit4->setValue(20);
  Edit4->setGeometry(338, 54, 70, 26);
  UpDown1 = Edit4;
  Button4 = Named(new QPushButton(QStringLiteral("Generate"), GroupBox1), "Button4");
  Button4->setGeometry(440, 52, 108, 30);
  Label6 = Named(new QLabel(QStringLiteral("Hint: Angles in degrees"), GroupBox1), "Label6");
  Label6->setGeometry(12, 84, 300, 22);

  // Counts and camera values.
  Label4 = Named(new QLabel(QStringLiteral("Number of Frames"), content), "Label4");
  Label4->setGeometry(8, 76, 150, 22);
  Label5 = Named(new QLabel(QString(), content), "Label5");
  Label5->setGeometry(160, 76, 100, 22);
  Label7 = Named(new QLabel(QStringLiteral("Number of Objects:"), content), "Label7");
  Label7->setGeometry(8, 98, 150, 22);
  Label8 = Named(new QLabel(QString(), content), "Label8");
  Label8->setGeometry(160, 98, 100, 22);
  Label9 = Named(new QLabel(QStringLiteral("Baseline"), content), "Label9");
  Label9->setGeometry(8, 122, 110, 26);
  Edit5 = Named(new QLineEdit(QString::fromLatin1(tovimar::kDefaultBaselineText), content), "Edit5");
  Edit5->setGeometry(120, 122, 110, 26);
  Edit5->setToolTip(QStringLiteral("baseline between cameras"));
  Label10 = Named(new QLabel(QStringLiteral("Focal length:"), content), "Label10");
  Label10->setGeometry(8, 152, 110, 26);
  Edit6 = Named(new QLineEdit(QString::fromLatin1(tovimar::kDefaultFocalLengthText), content), "Edit6");
  Edit6->setGeometry(120, 152, 110, 26);
  Edit6->setToolTip(QStringLiteral("Focal length of the cameras"));

  // Id colour chart.
  Image1 = Named(new tovimar::ImageBox(833, 41, content), "Image1");
  Image1->move(8, 188);
  Label11 = Named(new QLabel(QStringLiteral("Label11"), content), "Label11");
  Label11->setGeometry(848, 198, 48, 20);

  // Scene text and logs.
  Memo1 = Named(new QPlainTextEdit(content), "Memo1");
  Memo1->setGeometry(8, 234, 881, 361);
  Memo1->setFont(SceneFont());
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QStringList scene;
  for (const char* line : kDefaultScene) scene << QString::fromLatin1(line);
  Memo1->setPlainText(scene.join(QLatin1Char('\n')));
  Memo1->document()->setModified(false);
  connect(Memo1->document(), &QTextDocument::modificationChanged, this, [this] { ShowModified(); });
  ShowModified();

  SceneErrors = Named(new QTreeWidget(content), "SceneErrors");
  SceneErrors->setGeometry(8, 600, 881, 70);
  SceneErrors->setRootIsDecorated(false);
  SceneErrors->setHeaderLabels({QStringLiteral("Line"), QStringLiteral("Number"), QStringLiteral("As written"),
                                QStringLiteral("Problems of the last preparation (click one to go to its line)")});
  SceneErrors->setColumnWidth(0, 50);
  SceneErrors->setColumnWidth(1, 80);
  SceneErrors->setColumnWidth(2, 150);
  SceneErrors->setToolTip(QStringLiteral("What Prepare, Load or Start found wrong in the scene text; the scene is "
                                         "prepared all the same (a field that does not convert reads as 0)"));
  connect(SceneErrors, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    GoToSceneReport(item->data(0, Qt::UserRole).toInt(), item->data(1, Qt::UserRole).toInt());
  });

  Memo2 = LogMemo(content, "Memo2", true);
  Memo2->setGeometry(8, 674, 881, 76);
  Memo3 = LogMemo(content, "Memo3", true);
  Memo3->setGeometry(8, 754, 881, 74);
  Memo4 = LogMemo(content, "Memo4", false);
  Memo4->setGeometry(8, 832, 881, 72);
  // The matrix log's switch, below the logs.
  CheckBox4 = Named(new QCheckBox(QStringLiteral("4 - macierze transf. obiektow"), content), "CheckBox4");
  CheckBox4->setGeometry(8, 908, 300, 22);

  AddTips();

  scroll_ = new QScrollArea(this);
  scroll_->setFrameShape(QFrame::NoFrame);
  scroll_->setWidget(content);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scroll_);

  // Both dialogs open where the current file is.
  OpenDialog1 = [this]() {
    return QFileDialog::getOpenFileName(this, QString(), QFileInfo(Edit1->text()).absolutePath());
  };
  SaveDialog1 = [this]() {
    return QFileDialog::getSaveFileName(this, QStringLiteral("Save the scene as"),
                                        QDir::homePath() + QLatin1Char('/') + QFileInfo(Edit1->text()).fileName(),
                                        QStringLiteral("Scenes (*.txt);;All files (*)"));
  };

  AskSaveUnsaved = [this]() { return AskSaveUnsavedBox(); };

  // The title names the file and marks unsaved text ("[*]").
  connect(Edit1, &QLineEdit::textChanged, this, [this] { ShowTitle(); });
  ShowTitle();

  AskReplaceUnsaved = [this]() {
    // Only Discard or Cancel: Edit1 may already name the file to be read, so
    // saving here would overwrite it with the text being replaced.
    return QMessageBox::question(this, QStringLiteral("Load"),
                                 QStringLiteral("The scene text has changes that are not saved. Discard them and "
                                                "load %1?")
                                     .arg(QDir::toNativeSeparators(Edit1->text())),
                                 QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Cancel);
  };

  auto on = [this](QPushButton* button, void (SceneEditor::*handler)(QObject*)) {
    connect(button, &QPushButton::clicked, this,
            [this, button, handler] { tovimar::Guarded([&] { (this->*handler)(button); }); });
  };
  on(Button1, &SceneEditor::Button1Click);
  on(Button2, &SceneEditor::Button2Click);
  on(Button3, &SceneEditor::Button3Click);
  on(Button4, &SceneEditor::Button4Click);
  on(Button5, &SceneEditor::Button5Click);
  connect(Image1, &tovimar::ImageBox::MouseDown, this, [this](Qt::MouseButton button, int px, int py) {
    tovimar::Guarded([&] { Image1MouseDown(button, px, py); });
  });

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  FormCreate();
}

SceneEditor::~SceneEditor() = default;

void SceneEditor::AddTips() {
  // The specified tips stay; the other controls say in plain English what
  // they do, and the captions a newcomer cannot read are explained.
  struct Tip {
    QWidget* control;
    const char* text;
  };
  const Tip tips[] = {
      {GroupBox1, "Appends EGO lines (camera motion per frame) to the scene text for the axes ticked"},
      {CheckBox2, "Move the camera along X"},
      {CheckBox3, "Move the camera along Y"},
      {CheckBox5, "Move the camera along Z"},
      {CheckBox6, "Turn the camera about X (alpha, degrees)"},
      {CheckBox7, "Turn the camera about Y (beta, degrees)"},
      {CheckBox8, "Turn the camera about Z (gamma, degrees)"},
      {Edit2, "The motion of the first generated frame"},
      {Edit3, "How much the motion grows from one generated frame to the next"},
      {Edit4, "How many EGO lines Generate appends"},
      {Button4, "Append the generated EGO lines to the scene text (Ctrl+Z in the text takes them back)"},
      {Image1, "The colours of the object ids 0 to 254 in the segmentation maps; click one to read its id"},
      {Label11, "The id clicked in the chart"},
      {Memo1, "The scene text (scene language); Prepare reads it"},
      {Memo2, "Memo2, the motion log: one table row per camera motion applied while drawing (tx & ty & tz & ax & "
              "ay & az); cleared when a run starts"},
      {Memo3, "Memo3, the motion log: one line per camera motion applied while drawing, the six values each "
              "followed by ';'; cleared when a run starts"},
      {Memo4, "Memo4, the matrix log: while \"4 - macierze transf. obiektow\" is ticked, each drawn object's "
              "transformation (model-view) matrix, 16 values in OpenGL's column order"},
      {CheckBox4, "4 - object transformation matrices: write each drawn object's matrix to the log above (Memo4)"},
      {Label6, "Start and Step of the turning axes A, B and G are in degrees"},
  };
  for (const Tip& tip : tips)
    if (tip.control->toolTip().isEmpty()) tip.control->setToolTip(QString::fromLatin1(tip.text));
}

void SceneEditor::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitPage();
}

void SceneEditor::FitPage() {
  // The room the scroll area gives without scroll bars; the page never
  // shrinks below its designed size (the window scrolls it then).
  if (scroll_ == nullptr) return;  // still being made
  const QSize room = scroll_->maximumViewportSize();
  const QSize designed = DesignedSize();
  const int wider = std::max(0, room.width() - designed.width());
  const int taller = std::max(0, room.height() - designed.height());
  page_->setFixedSize(designed.width() + wider, designed.height() + taller);
  const int width = 881 + wider;
  Memo1->setGeometry(8, 234, width, 361 + taller);
  SceneErrors->setGeometry(8, 600 + taller, width, 70);
  Memo2->setGeometry(8, 674 + taller, width, 76);
  Memo3->setGeometry(8, 754 + taller, width, 74);
  Memo4->setGeometry(8, 832 + taller, width, 72);
  CheckBox4->move(8, 908 + taller);
}

void SceneEditor::FormCreate() { Image1Rysuj(); }

void SceneEditor::Button1Click(QObject*) {
  const QString name = OpenDialog1 ? OpenDialog1() : QString();
  if (!name.isEmpty()) Edit1->setText(name);
}

void SceneEditor::Button2Click(QObject* sender) {
  const QFileInfo info(Edit1->text());
  if (Edit1->text().isEmpty() || !info.exists() || info.isDir()) {
    tovimar::AppNotifier().Notify("", "File does not exist");
    return;
  }
  // Unsaved edits are replaced only when the user says so.
  if (TextModified() && (!AskReplaceUnsaved || AskReplaceUnsaved() != QMessageBox::Discard)) return;
  SetMemo1FromFileBytes(tovimar::ReadFileBytes(LocalPath(Edit1->text())));
  if (desktop_.Viewer() != nullptr) desktop_.Viewer()->Button11Click(sender);
}

bool SceneEditor::IsBundledExample(const QString& path) {
  const QString example = QFileInfo(tovimar::ExampleScenePath()).canonicalFilePath();
  return !path.isEmpty() && !example.isEmpty() && QFileInfo(path).canonicalFilePath() == example;
}

void SceneEditor::Button3Click(QObject*) {
  if (IsBundledExample(Edit1->text())) {
    // The bundled example stays as shipped: Save asks where to put the text.
    const QString name = SaveDialog1 ? SaveDialog1() : QString();
    if (name.isEmpty()) return;  // cancelled: nothing is written
    Edit1->setText(name);
  }
  const tovimar::SaveResult result = tovimar::SaveSceneFile(LocalPath(Edit1->text()), Memo1FileBytes());
  if (result != tovimar::SaveResult::Saved) {
    tovimar::AppNotifier().Notify("", "Cannot save file!");
    return;
  }
  Memo1->document()->setModified(false);
}

void SceneEditor::Button4Click(QObject*) {
  const char separator = tovimar::AppDecimalSeparator();
  const std::string stepText = tovimar::ToStd(Edit3->text());
  const std::optional<double> step = tovimar::ParseUserNumber(stepText, separator);
  if (!step) throw tovimar::Error(tovimar::NotValidFloatMessage(stepText));
  const std::string startText = tovimar::ToStd(Edit2->text());
  const std::optional<double> start = tovimar::ParseUserNumber(startText, separator);
  if (!start) throw tovimar::Error(tovimar::NotValidFloatMessage(startText));
  const int count = UpDown1->value();
  const tovimar::MovementAxes axes{CheckBox2->isChecked(), CheckBox3->isChecked(), CheckBox5->isChecked(),
                                   CheckBox6->isChecked(), CheckBox7->isChecked(), CheckBox8->isChecked()};
  const std::vector<std::string> lines =
      tovimar::GenerateEgoLines(*start, *step, count, CheckBox9->isChecked(), axes, separator);
  // The whole run is one step of the text's undo (Ctrl+Z in the editor).
  QTextCursor oneStep(Memo1->document());
  oneStep.beginEditBlock();
  for (const std::string& line : lines) AddMemoLine(Memo1, QString::fromStdString(line));
  oneStep.endEditBlock();
}

void SceneEditor::Button5Click(QObject* sender) {
  if (desktop_.Viewer() != nullptr) desktop_.Viewer()->Button11Click(sender);
}

void SceneEditor::Image1Rysuj() {
  const bool palette = desktop_.Panel() != nullptr && desktop_.Panel()->PaletteChosen();
  Label11->setText(QStringLiteral("--"));
  QImage& picture = Image1->Picture;
  tovimar::DrawIdChart(reinterpret_cast<uint32_t*>(picture.bits()), picture.width(), picture.height(),
                       picture.bytesPerLine() / 4, palette);
  Image1->update();
}

void SceneEditor::Image1MouseDown(Qt::MouseButton, int x, int y) {
  const std::optional<int> id = tovimar::IdChartCellAt(x, y, Image1->Picture.width(), Image1->Picture.height());
  if (id) Label11->setText(QString::number(*id));
}

QStringList SceneEditor::MemoLines(const QPlainTextEdit* memo) {
  QStringList lines;
  const QTextDocument* document = memo->document();
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) lines << block.text();
  return lines;
}

void SceneEditor::AddMemoLine(QPlainTextEdit* memo, const QString& line) {
  QTextCursor cursor(memo->document());
  cursor.movePosition(QTextCursor::End);
  if (cursor.block().text().isEmpty()) {
    // The text is empty or ends with a line break: the line fills the empty
    // last line and gets a line break of its own.
    cursor.insertText(line);
    cursor.insertBlock();
  } else {
    cursor.insertBlock();
    cursor.insertText(line);
  }
}

bool SceneEditor::WriteAsLatin1(const QString& text) const {
  if (!latin1Text_) return false;
  for (QChar c : text) {
    if (c.unicode() > 0xFF) return false;
  }
  return true;
}

std::string SceneEditor::Memo1FileBytes() const {
  const QStringList lines = MemoLines(Memo1);
  const QString text = lines.join(QStringLiteral("\r\n"));
  return (WriteAsLatin1(text) ? text.toLatin1() : text.toUtf8()).toStdString();
}

void SceneEditor::SetMemo1FromFileBytes(const std::string& bytes) {
  const std::vector<std::string> lines = tovimar::SplitFileLines(bytes);
  latin1Text_ = !tovimar::IsValidUtf8(bytes);
  // A byte order mark stays in the text, so that it is written back.
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom |
                                                  QStringConverter::Flag::Stateless);
  QStringList text;
  for (const std::string& line : lines) {
    const QByteArrayView bytesOfLine(line.data(), static_cast<qsizetype>(line.size()));
    text << (latin1Text_ ? QString::fromLatin1(bytesOfLine) : QString(utf8.decode(bytesOfLine)));
  }
  Memo1->setPlainText(text.join(QLatin1Char('\n')));
  Memo1->document()->setModified(false);
}

bool SceneEditor::TextModified() const { return Memo1->document()->isModified(); }

QMessageBox::StandardButton SceneEditor::AskSaveUnsavedBox() {
  return QMessageBox::question(this, QStringLiteral("Quit"),
                               QStringLiteral("The scene text has changes that are not saved. Save them to %1?")
                                   .arg(QDir::toNativeSeparators(Edit1->text())),
                               QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
}

bool SceneEditor::MayDiscardText() {
  if (!TextModified()) return true;
  switch (AskSaveUnsaved ? AskSaveUnsaved() : QMessageBox::Cancel) {
    case QMessageBox::Save:
      Button3Click(Button3);
      return !TextModified();  // not saved (cancelled, or the file could not be written): stay
    case QMessageBox::Discard: return true;
    default: return false;
  }
}

void SceneEditor::SaveAs() {
  const QString name = SaveDialog1 ? SaveDialog1() : QString();
  if (name.isEmpty()) return;  // cancelled: nothing is written
  Edit1->setText(name);
  Button3Click(Button3);
}

void SceneEditor::ShowTitle() {
  const QString file = QFileInfo(Edit1->text()).fileName();
  setWindowTitle(QStringLiteral("Tovimar Scene editor - ") + (file.isEmpty() ? QStringLiteral("untitled") : file) +
                 QStringLiteral("[*]"));
}

void SceneEditor::ShowModified() {
  setWindowModified(TextModified());
  ModifiedLabel->setText(TextModified() ? QStringLiteral("<b>*</b> Modified, not saved") : QString());
}

void SceneEditor::BeginSceneReports() { SceneErrors->clear(); }

void SceneEditor::AddSceneReport(int line, int field, const QString& written, const QString& text) {
  auto* item = new QTreeWidgetItem(SceneErrors);
  item->setText(0, QString::number(line));
  item->setText(1, field > 0 ? QString::number(field) : field == 0 ? QStringLiteral("keyword") : QString());
  item->setText(2, written);
  item->setText(3, text);
  item->setToolTip(3, text);
  item->setData(0, Qt::UserRole, line);
  item->setData(1, Qt::UserRole, field);
}

void SceneEditor::EndSceneReports() {
  const int count = SceneErrors->topLevelItemCount();
  if (count > 0) SceneErrors->scrollToItem(SceneErrors->topLevelItem(0));
  if (count > 0 && desktop_.Panel() != nullptr) {
    desktop_.Panel()->ShowStatus(QStringLiteral("The scene text has %1 problem%2: see the list in the scene editor")
                          .arg(count)
                          .arg(count == 1 ? QString() : QStringLiteral("s")));
  }
}

void SceneEditor::GoToSceneReport(int line, int field) {
  const QTextBlock block = Memo1->document()->findBlockByNumber(line - 1);
  if (!block.isValid()) return;
  const QString text = block.text();
  int from = 0, length = static_cast<int>(text.size());
  if (field >= 0) {
    // The field'th non-empty field of the line (the keyword is field 0), as the parser counts them.
    int counter = 0, start = 0;
    while (start <= text.size()) {
      int end = static_cast<int>(text.indexOf(QLatin1Char(';'), start));
      if (end < 0) end = static_cast<int>(text.size());
      if (end > start) {
        if (counter == field) {
          from = start;
          length = end - start;
          break;
        }
        ++counter;
      }
      start = end + 1;
    }
  }
  QTextCursor cursor(Memo1->document());
  cursor.setPosition(block.position() + from);
  cursor.setPosition(block.position() + from + length, QTextCursor::KeepAnchor);
  Memo1->setTextCursor(cursor);
  Memo1->ensureCursorVisible();
  Memo1->setFocus();
}

std::string SceneEditor::SceneName() const { return tovimar::ToStd(Edit1->text()); }

std::vector<std::string> SceneEditor::SceneLines() const {
  QStringList lines = MemoLines(Memo1);
  if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();  // a final line break adds no line
  const bool latin1 = WriteAsLatin1(lines.join(QString()));
  std::vector<std::string> result;
  result.reserve(static_cast<std::size_t>(lines.size()));
  for (const QString& line : lines) result.push_back((latin1 ? line.toLatin1() : line.toUtf8()).toStdString());
  return result;
}

std::string SceneEditor::FocalLengthText() const { return tovimar::ToStd(Edit6->text()); }
void SceneEditor::SetFocalLengthText(const std::string& text) { Edit6->setText(tovimar::FromStd(text)); }
std::string SceneEditor::BaselineText() const { return tovimar::ToStd(Edit5->text()); }
void SceneEditor::SetBaselineText(const std::string& text) { Edit5->setText(tovimar::FromStd(text)); }

double SceneEditor::FocalLength() {
  SetFocalLengthText(tovimar::NormaliseDecimalText(FocalLengthText(), tovimar::AppDecimalSeparator()));
  return tovimar::FocalLengthFieldValue(FocalLengthText(), tovimar::AppDecimalSeparator());
}

double SceneEditor::Baseline() {
  SetBaselineText(tovimar::NormaliseDecimalText(BaselineText(), tovimar::AppDecimalSeparator()));
  return tovimar::BaselineFieldValue(BaselineText(), tovimar::AppDecimalSeparator());
}

void SceneEditor::ShowCounts(std::size_t objects, std::size_t frames) {
  Label8->setText(QString::number(objects));
  Label5->setText(QString::number(frames));
}

bool SceneEditor::MatrixLogEnabled() const { return CheckBox4->isChecked(); }

void SceneEditor::AppendMotionLog(const std::string& tableLine, const std::string& plainLine) {
  AddMemoLine(Memo2, tovimar::FromStd(tableLine));
  AddMemoLine(Memo3, tovimar::FromStd(plainLine));
}

void SceneEditor::AppendMatrixLog(const std::string& line) { AddMemoLine(Memo4, tovimar::FromStd(line)); }

void SceneEditor::ClearMotionLogs() {
  Memo2->clear();
  Memo3->clear();
}
