// The scene editor at work: Load and Save with their messages and line ends,
// preparation counts, the movement generator under a comma locale, and the
// id colour chart with the panel's palette box.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app_test_support.h"
#include "render/renderer.h"

namespace {

QStringList Lines(const QPlainTextEdit* memo) { return SceneEditor::MemoLines(memo); }

}  // namespace

class AppEditorTest : public QObject {
  Q_OBJECT
  CollectingNotifier notifier_;
  QTemporaryDir dir_;
  QStringList defaultScene_;

  QString Path(const char* name) const { return dir_.path() + QLatin1Char('/') + QLatin1String(name); }

  // Load then Save of one file's bytes through the editor; returns what Save wrote.
  QByteArray LoadAndSave(const QByteArray& bytes) {
    const QString in = Path("in.txt");
    const QString out = Path("out.txt");
    if (!WriteAll(in, bytes)) return "<cannot write>";
    SceneEditorWindow()->Edit1->setText(in);
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
    SceneEditorWindow()->Edit1->setText(out);
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    return ReadAll(out);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    StartWindows(notifier_, ',');
    defaultScene_ = Lines(SceneEditorWindow()->Memo1);
  }
  void cleanupTestCase() { StopWindows(); }
  void init() {
    notifier_.TakeMessages();
    SceneEditorWindow()->Memo1->setPlainText(defaultScene_.join(QLatin1Char('\n')));
  }

  void loadOfMissingFileChangesNothing() {
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("9"));
    QCOMPARE(SceneEditorWindow()->Label5->text(), QStringLiteral("5"));
    SceneEditorWindow()->Memo1->setPlainText(QStringLiteral("SPHERE; id 1; texture: -1; colour: 1; 1; 1; position: 0; 1; 0; "
                                              "0; 0; 0; dim: 0.5"));
    for (const QString& path : {Path("no-such-file.txt"), dir_.path(), QString()}) {
      SceneEditorWindow()->Edit1->setText(path);
      SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
      QCOMPARE(notifier_.TakeMessages(), QStringList{"File does not exist"});
      QCOMPARE(Lines(SceneEditorWindow()->Memo1).size(), 1);
    }
    // The prepared scene is the one from before.
    QCOMPARE(Viewer()->GetViewer().Scene().solidObjects.size(), std::size_t{9});
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("9"));
  }

  void saveIntoMissingFolderWritesNothing() {
    const QString missing = Path("missing/scene.txt");
    SceneEditorWindow()->Edit1->setText(missing);
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QCOMPARE(notifier_.TakeMessages(), QStringList{"Cannot save file!"});
    QVERIFY(!QFileInfo::exists(Path("missing")));
    // A path naming a folder fails when written.
    SceneEditorWindow()->Edit1->setText(dir_.path());
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QCOMPARE(notifier_.TakeMessages(), QStringList{"Cannot save file!"});
    QCOMPARE(Lines(SceneEditorWindow()->Memo1), defaultScene_);
  }

  void defaultSceneSavesAsTheBundledFile() {
    SceneEditorWindow()->Edit1->setText(Path("saved.txt"));
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QVERIFY(notifier_.messages.isEmpty());
    QCOMPARE(ReadAll(Path("saved.txt")), ReadAll(QStringLiteral(TOVIMAR_SOURCE_DIR "/examples/sceneexample.txt")));
  }

  void saveOfTheBundledExampleAsksForAPath() {
    const QString example = tovimar::ExampleScenePath();
    const QByteArray shipped = ReadAll(example);
    QVERIFY(SceneEditor::IsBundledExample(example));
    SceneEditorWindow()->Edit1->setText(example);
    SceneEditorWindow()->Memo1->appendPlainText(QStringLiteral("// changed"));
    int asked = 0;
    SceneEditorWindow()->SaveDialog1 = [&asked] {
      ++asked;
      return QString();  // cancelled
    };
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QCOMPARE(asked, 1);
    QCOMPARE(ReadAll(example), shipped);
    QCOMPARE(SceneEditorWindow()->Edit1->text(), example);
    SceneEditorWindow()->SaveDialog1 = [&asked, this] {
      ++asked;
      return Path("copy.txt");
    };
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QCOMPARE(asked, 2);
    QCOMPARE(ReadAll(example), shipped);
    QCOMPARE(SceneEditorWindow()->Edit1->text(), Path("copy.txt"));
    QVERIFY(ReadAll(Path("copy.txt")).endsWith("// changed"));
    // Any other file is saved in place without a question.
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QCOMPARE(asked, 2);
    QVERIFY(notifier_.messages.isEmpty());
    SceneEditorWindow()->SaveDialog1 = nullptr;
  }

  void loadAndSaveLineEnds() {
    // Lone CR and lone LF become CR LF; CR LF files come back byte for byte.
    QCOMPARE(LoadAndSave("a\rb\nc\r\n\r\nd\n"), QByteArray("a\r\nb\r\nc\r\n\r\nd\r\n"));
    QCOMPARE(LoadAndSave("x\r\ny\r\n"), QByteArray("x\r\ny\r\n"));
    QCOMPARE(LoadAndSave(""), QByteArray(""));
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("0"));  // Load prepared the empty scene
    QCOMPARE(SceneEditorWindow()->Label5->text(), QStringLiteral("0"));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void loadAndSaveKeepBytes() {
    // UTF-8 with a byte order mark, a no-break space and a non-BMP character.
    const QByteArray utf8("\xEF\xBB\xBF// \xC5\x81\xC3\xB3\x64\xC5\xBA\r\n\xC2\xA0tab\there\r\n\xF0\x9F\x98\x80;");
    QCOMPARE(LoadAndSave(utf8), utf8);
    // 8-bit text that is not UTF-8: every byte but the line breaks survives, NUL included.
    QByteArray latin1("// ");
    for (int b = 0; b < 256; ++b) {
      if (b != '\r' && b != '\n') latin1.append(static_cast<char>(b));
    }
    latin1.append("\r\nSPHERE;  id  25;");
    QCOMPARE(LoadAndSave(latin1), latin1);
    notifier_.TakeMessages();
  }

  void loadPreparesTheScene() {
    WriteAll(Path("two.txt"), "SPHERE; id 7; texture: -1; colour: 1; 1; 1; position: 0; 1; 0; 0; 0; 0; dim: 0.5\n"
                              "EGO; 0; 0; 0.1; 0; 0; 0\nEGO; 0; 0; 0.1; 0; 0; 0\n");
    SceneEditorWindow()->Edit1->setText(Path("two.txt"));
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("1"));
    QCOMPARE(SceneEditorWindow()->Label5->text(), QStringLiteral("2"));
    QVERIFY(Viewer()->GetViewer().SceneReady());
  }

  // A scene with a texture set of its own beside it is drawn with it.
  void loadUsesTheScenesOwnTextureSet() {
    const QString own = Path("own.textures");
    QVERIFY(QDir().mkpath(own));
    for (int n = 0; n < 11; ++n) {
      const QString name = QStringLiteral("tex%1.bmp").arg(n);
      QVERIFY(QFile::copy(QStringLiteral(TOVIMAR_SOURCE_DIR "/assets/") + name, own + QLatin1Char('/') + name));
    }
    const char* text = "SPHERE; id 7; texture: 3; colour: 1; 1; 1; position: 0; 1; 0; 0; 0; 0; dim: 0.5\n";
    WriteAll(Path("own.txt"), text);
    WriteAll(Path("plain.txt"), text);
    for (const char* scene : {"own.txt", "plain.txt"}) {
      SceneEditorWindow()->Edit1->setText(Path(scene));
      SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
      QVERIFY(Viewer()->GetViewer().SceneReady());
      QCOMPARE(QString::fromStdString(Viewer()->GetViewer().TextureDirectory()).startsWith(own),
               scene == std::string("own.txt"));
    }
  }

  // Load replaces edits that are not saved only when the user says so; the
  // editor shows whether the text is saved.
  void loadAsksBeforeReplacingUnsavedText() {
    WriteAll(Path("other.txt"), "SPHERE; id 9; texture: -1; colour: 1; 1; 1; position: 0; 1; 0; 0; 0; 0; dim: 0.5\n");
    SceneEditorWindow()->Edit1->setText(Path("other.txt"));
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);  // a text nobody changed is replaced without a question
    QVERIFY(notifier_.messages.isEmpty());
    QVERIFY(!SceneEditorWindow()->TextModified());
    QVERIFY(SceneEditorWindow()->ModifiedLabel->text().isEmpty());

    QTest::keyClicks(SceneEditorWindow()->Memo1, "// mine");
    QVERIFY(SceneEditorWindow()->TextModified());
    QVERIFY(SceneEditorWindow()->ModifiedLabel->text().contains(QStringLiteral("Modified")));
    const QString edited = SceneEditorWindow()->Memo1->toPlainText();
    int asked = 0;
    QMessageBox::StandardButton answer = QMessageBox::Cancel;
    const auto noting = SceneEditorWindow()->AskReplaceUnsaved;
    SceneEditorWindow()->AskReplaceUnsaved = [&] {
      ++asked;
      return answer;
    };
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
    QCOMPARE(asked, 1);
    QCOMPARE(SceneEditorWindow()->Memo1->toPlainText(), edited);  // cancelled: the text stays
    QVERIFY(SceneEditorWindow()->TextModified());
    answer = QMessageBox::Discard;
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
    QCOMPARE(asked, 2);
    QCOMPARE(Lines(SceneEditorWindow()->Memo1).first(), QStringLiteral("SPHERE; id 9; texture: -1; colour: 1; 1; 1; position: "
                                                         "0; 1; 0; 0; 0; 0; dim: 0.5"));
    QVERIFY(!SceneEditorWindow()->TextModified());
    QVERIFY(SceneEditorWindow()->ModifiedLabel->text().isEmpty());
    // Save marks the text saved; Generate changes it.
    SceneEditorWindow()->Button4Click(SceneEditorWindow()->Button4);
    QVERIFY(SceneEditorWindow()->TextModified());
    SceneEditorWindow()->Edit1->setText(Path("generated.txt"));
    SceneEditorWindow()->Button3Click(SceneEditorWindow()->Button3);
    QVERIFY(!SceneEditorWindow()->TextModified());
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
    QCOMPARE(asked, 2);
    QVERIFY(notifier_.messages.isEmpty());
    SceneEditorWindow()->AskReplaceUnsaved = noting;
  }

  // A preparation's problems in one list, without message boxes; a click
  // selects the field (or the line) in the text.
  void sceneProblemsInOneList() {
    SceneEditorWindow()->Memo1->setPlainText(QStringLiteral("//Background\n"
                                              "SPHERE; id 1x2; texture: -1; colour: 1; 1; 1; dim: 0.5\n"
                                              "SPHRE; id 2\n"
                                              "\n"
                                              "CUBOID; id 3; texture: 99"));
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("2"));  // prepared all the same
    QTreeWidget* list = SceneEditorWindow()->SceneErrors;
    QCOMPARE(list->topLevelItemCount(), 3);
    QStringList rows;
    for (int i = 0; i < 3; ++i) {
      const QTreeWidgetItem* item = list->topLevelItem(i);
      rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
    }
    QCOMPARE(rows, QStringList({"2|1| id 1x2", "3|keyword|SPHRE", "5||"}));
    QVERIFY(list->topLevelItem(0)->text(3).startsWith(QStringLiteral("Convert error: '")));
    QCOMPARE(list->topLevelItem(1)->text(3), QStringLiteral("Warning: unknown keyword 'SPHRE'; the line is ignored"));
    QVERIFY(list->topLevelItem(2)->text(3).startsWith(QStringLiteral("Texture 99 is not loaded")));

    emit list->itemClicked(list->topLevelItem(0), 0);
    QCOMPARE(SceneEditorWindow()->Memo1->textCursor().selectedText(), QStringLiteral(" id 1x2"));
    QCOMPARE(SceneEditorWindow()->Memo1->textCursor().blockNumber(), 1);
    emit list->itemClicked(list->topLevelItem(1), 3);
    QCOMPARE(SceneEditorWindow()->Memo1->textCursor().selectedText(), QStringLiteral("SPHRE"));
    emit list->itemClicked(list->topLevelItem(2), 0);
    QCOMPARE(SceneEditorWindow()->Memo1->textCursor().selectedText(), QStringLiteral("CUBOID; id 3; texture: 99"));
    QVERIFY(SceneEditorWindow()->Memo1->hasFocus() || !SceneEditorWindow()->isActiveWindow());

    // The next preparation replaces the list; a clean scene leaves it empty.
    SceneEditorWindow()->Memo1->setPlainText(defaultScene_.join(QLatin1Char('\n')));
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(notifier_.messages.isEmpty());
  }

  void prepareNormalisesTheFieldsUnderACommaLocale() {
    SceneEditorWindow()->Edit5->setText(QStringLiteral("0.12"));
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);
    QCOMPARE(SceneEditorWindow()->Edit5->text(), QStringLiteral("0,12"));
    QCOMPARE(SceneEditorWindow()->Edit6->text(), QStringLiteral("389,0"));
    QCOMPARE(Viewer()->GetViewer().Rig().RigBaseline, 0.12);
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("9"));
    QCOMPARE(SceneEditorWindow()->Label5->text(), QStringLiteral("5"));
  }

  void generatorWorkedExample() {
    SceneEditorWindow()->CheckBox5->setChecked(true);  // only Z; defaults Start 0,25, Step 0,25, 20 frames, return frames
    SceneEditorWindow()->Button4Click(SceneEditorWindow()->Button4);
    SceneEditorWindow()->CheckBox5->setChecked(false);
    QVERIFY(notifier_.messages.isEmpty());
    const QStringList lines = Lines(SceneEditorWindow()->Memo1);
    QCOMPARE(lines.size(), 22 + 20);
    QCOMPARE(lines.mid(0, 22), defaultScene_);
    QCOMPARE(lines.mid(22, 4), QStringList({"EGO; 0,000;0,000;0,250;0,000;0,000;0,000;",
                                            "EGO; 0,000;0,000;-0,250;0,000;0,000;0,000;",
                                            "EGO; 0,000;0,000;0,500;0,000;0,000;0,000;",
                                            "EGO; 0,000;0,000;-0,500;0,000;0,000;0,000;"}));
    QCOMPARE(lines.last(), QStringLiteral("EGO; 0,000;0,000;-2,500;0,000;0,000;0,000;"));
    // A second press appends another run; nothing is prepared by it.
    SceneEditorWindow()->Button4Click(SceneEditorWindow()->Button4);
    const QStringList twice = Lines(SceneEditorWindow()->Memo1);
    QCOMPARE(twice.size(), 22 + 40);
    // Each press is one step of the editor's undo, and of its redo.
    QTest::keyClick(SceneEditorWindow()->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Lines(SceneEditorWindow()->Memo1), lines);
    QTest::keyClick(SceneEditorWindow()->Memo1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Lines(SceneEditorWindow()->Memo1), defaultScene_);
    QVERIFY(!SceneEditorWindow()->TextModified());  // back to the text as loaded
    SceneEditorWindow()->Memo1->redo();
    SceneEditorWindow()->Memo1->redo();
    QCOMPARE(Lines(SceneEditorWindow()->Memo1), twice);
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);
    QCOMPARE(SceneEditorWindow()->Label5->text(), QStringLiteral("45"));
  }

  void generatorAppendsIntoATrailingEmptyLine() {
    SceneEditorWindow()->Memo1->setPlainText(QStringLiteral("a\n"));
    SceneEditorWindow()->UpDown1->setValue(1);
    SceneEditorWindow()->Button4Click(SceneEditorWindow()->Button4);
    QCOMPARE(Lines(SceneEditorWindow()->Memo1), QStringList({"a", "EGO; 0,000;0,000;0,000;0,000;0,000;0,000;", ""}));
    SceneEditorWindow()->UpDown1->setValue(20);
  }

  void generatorReportsTheTextThatDoesNotConvert() {
    SceneEditorWindow()->Edit3->setText(QStringLiteral("abc"));  // Step is read first
    SceneEditorWindow()->Edit2->setText(QStringLiteral("x"));
    tovimar::Guarded([] { SceneEditorWindow()->Button4Click(SceneEditorWindow()->Button4); });
    QCOMPARE(notifier_.TakeMessages(), QStringList{"'abc' is not a valid floating point value"});
    SceneEditorWindow()->Edit3->setText(QStringLiteral("0,25"));
    SceneEditorWindow()->Edit2->setText(QStringLiteral("0.25"));  // a point is no decimal mark under a comma locale
    tovimar::Guarded([] { SceneEditorWindow()->Button4Click(SceneEditorWindow()->Button4); });
    QCOMPARE(notifier_.TakeMessages(), QStringList{"'0.25' is not a valid floating point value"});
    SceneEditorWindow()->Edit2->setText(QStringLiteral("0,25"));
    QCOMPARE(Lines(SceneEditorWindow()->Memo1), defaultScene_);
    // Through the button, the handler's error is reported and the program goes on.
    SceneEditorWindow()->Edit3->setText(QStringLiteral("?"));
    QTest::mouseClick(SceneEditorWindow()->Button4, Qt::LeftButton);
    QCOMPARE(notifier_.TakeMessages(), QStringList{"'?' is not a valid floating point value"});
    SceneEditorWindow()->Edit3->setText(QStringLiteral("0,25"));
  }

  void chartFollowsThePaletteBox() {
    const QImage& picture = SceneEditorWindow()->Image1->Picture;
    const QPoint first(6, 5), last(63 * 13 + 6, 3 * 10 + 5);
    QCOMPARE(picture.pixel(first), qRgb(0, 0, 0));
    QCOMPARE(picture.pixel(last), qRgb(255, 255, 255));
    SceneEditorWindow()->Image1MouseDown(Qt::LeftButton, 20, 15);
    QCOMPARE(SceneEditorWindow()->Label11->text(), QStringLiteral("65"));
    ControlPanelWindow()->CheckBox3->setChecked(true);  // the panel's palette box redraws the chart
    QCOMPARE(SceneEditorWindow()->Label11->text(), QStringLiteral("--"));
    QCOMPARE(picture.pixel(first), qRgb(0, 0, 131));
    QCOMPARE(picture.pixel(last), qRgb(127, 0, 0));
    ControlPanelWindow()->CheckBox3->setChecked(false);
    QCOMPARE(picture.pixel(first), qRgb(0, 0, 0));
    QCOMPARE(picture.pixel(last), qRgb(255, 255, 255));
  }

  void chartClicksAtTheLastColumnAndRow() {
    struct Click {
      QPoint at;
      Qt::MouseButton button;
      const char* id;
    };
    for (const Click& c : {Click{{832, 5}, Qt::LeftButton, "64"}, Click{{832, 35}, Qt::RightButton, "256"},
                           Click{{0, 40}, Qt::LeftButton, "256"}, Click{{100, 40}, Qt::MiddleButton, "263"},
                           Click{{1, 1}, Qt::LeftButton, "0"}, Click{{831, 39}, Qt::LeftButton, "255"}}) {
      QTest::mouseClick(SceneEditorWindow()->Image1, c.button, {}, c.at);
      QCOMPARE(SceneEditorWindow()->Label11->text(), QString::fromLatin1(c.id));
    }
  }

  // A MESH file that is not beside the scene is found in the panel's models
  // folder (as tovimar-render --models), which is remembered; without it the
  // preparation says the model is not there.
  void aMeshIsFoundInTheModelsFolder() {
    QDir().mkpath(Path("scenes"));
    QDir().mkpath(Path("models"));
    QVERIFY(WriteAll(Path("models/tetra.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nf 1 2 3\nf 1 2 4\nf 1 3 4\nf 2 3 4\n"));
    QByteArray scene = ReadAll(tovimar::ExampleScenePath());
    scene += "\r\nMESH; 77; -1; 1.0; 1.0; 1.0; 0.0; 1.0; -0.2; 0.0; 0.0; 0.0; 0.3; tetra.obj\r\n";
    QVERIFY(WriteAll(Path("scenes/mesh.txt"), scene));
    SceneEditorWindow()->Edit1->setText(Path("scenes/mesh.txt"));
    tovimar::Guarded([] { SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2); });  // Load, as a click
    const QStringList missing = notifier_.TakeMessages();
    QVERIFY2(missing.size() == 1 && missing[0].contains(QStringLiteral("MESH: cannot use the model 'tetra.obj'")),
             qPrintable(missing.join(" | ")));
    ControlPanelWindow()->ModelsFolderDialog = [] { return QString(); };  // cancelled: nothing changes
    ControlPanelWindow()->ModelsFolderClick();
    QVERIFY(ControlPanelWindow()->ModelsFolder().isEmpty());
    ControlPanelWindow()->ModelsFolderDialog = [this] { return Path("models"); };
    ControlPanelWindow()->ModelsFolderClick();
    QCOMPARE(ControlPanelWindow()->ChosenRunOptions().modelFolders, std::vector<std::string>{tovimar::ToStd(Path("models"))});
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);  // Prepare
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    QCOMPARE(SceneEditorWindow()->Label8->text(), QStringLiteral("10"));  // the example's nine and the model
    ControlPanelWindow()->SaveSettings();
    StopWindows();
    StartWindows(notifier_, ',');
    QCOMPARE(ControlPanelWindow()->ModelsFolder(), Path("models"));
    ControlPanelWindow()->NoModelsFolderAction->trigger();
    QVERIFY(ControlPanelWindow()->ChosenRunOptions().modelFolders.empty());
  }
};

QTEST_MAIN(AppEditorTest)
#include "tst_app_editor.moc"
