// Start-up, every default a user sees, and the shut-down of the program.
#include <QFontInfo>
#include <QFontMetrics>
#include <QRegularExpression>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QMessageBox>

#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app/window_placement.h"
#include "app_test_support.h"
#include "render/renderer.h"
#include "layout/output_choice.h"
#include "run/sequence_driver.h"

namespace {

QStringList Lines(const QPlainTextEdit* memo) { return SceneEditor::MemoLines(memo); }

void CheckSpinner(const QSpinBox* spin, int minimum, int maximum, int value) {
  QCOMPARE(spin->minimum(), minimum);
  QCOMPARE(spin->maximum(), maximum);
  QCOMPARE(spin->value(), value);
}

// The designed controls of a window (named like "Button3"; Qt's inner
// widgets carry "qt_" names) and the items of its radio groups.
QList<QWidget*> DesignedControls(QWidget* window) {
  QList<QWidget*> controls;
  const QRegularExpression designed(QStringLiteral("^[A-Z][A-Za-z]*[0-9]*$"));
  for (QWidget* w : window->findChildren<QWidget*>()) {
    // Not those of a window of their own ("Messages"), nor the editor's page, which scrolls.
    if (w->isHidden() || w->window() != window || w->objectName() == QStringLiteral("EditorPage")) continue;
    if (designed.match(w->objectName()).hasMatch() || qobject_cast<tovimar::RadioGroup*>(w->parentWidget()) != nullptr)
      controls << w;
  }
  return controls;
}

// Every shown control lies inside its parent, overlaps none of its shown
// siblings, and has room for its whole caption.
void CheckLayout(QWidget* window) {
  const QList<QWidget*> controls = DesignedControls(window);
  QVERIFY(!controls.isEmpty());
  for (QWidget* w : controls) {
    const QString name = window->objectName() + QLatin1Char('.') + w->objectName() + QLatin1Char(' ') +
                         QString::fromLatin1(w->metaObject()->className());
    QVERIFY2(w->parentWidget()->rect().contains(w->geometry()), qPrintable(name + " outside its parent"));
    for (QWidget* other : controls) {
      if (other != w && other->parentWidget() == w->parentWidget() && other->geometry().intersects(w->geometry()))
        QVERIFY2(false, qPrintable(name + " overlaps " + other->objectName()));
    }
    QString caption;
    QFont font = w->font();
    if (auto* label = qobject_cast<QLabel*>(w)) caption = label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w)) caption = button->text();
    if (auto* group = qobject_cast<QGroupBox*>(w)) {
      caption = group->title();
      font.setBold(false);
    }
    if (caption.isEmpty()) continue;
    if (qobject_cast<QPushButton*>(w) != nullptr) {
      // (a push button's size hint has a minimum width beyond its caption)
      QVERIFY2(QFontMetrics(font).horizontalAdvance(caption) + 8 <= w->width(), qPrintable(name + " clips its caption"));
    } else if (qobject_cast<QAbstractButton*>(w) != nullptr || qobject_cast<QLabel*>(w) != nullptr) {
      QVERIFY2(w->sizeHint().width() <= w->width(), qPrintable(name + " clips its caption"));
    } else {
      QVERIFY2(QFontMetrics(font).horizontalAdvance(caption) + 16 <= w->width(), qPrintable(name + " clips its title"));
    }
  }
}

// What the window system adds around a window's client area.
QMargins FrameOf(const QWidget* window) {
  const QRect outer = window->frameGeometry(), inner = window->geometry();
  return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
          outer.bottom() - inner.bottom()};
}

// A preview run (nothing written) started and stopped on the panel; the
// Start brings `shown` back into view.
void StartAndStopPreview(QWidget* shown) {
  ControlPanelWindow()->CheckBox2->setChecked(true);
  ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Start
  QVERIFY(shown->isVisible());
  ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Stop
  QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
  ControlPanelWindow()->CheckBox2->setChecked(false);
}

}  // namespace

class AppWindowsTest : public QObject {
  Q_OBJECT
  CollectingNotifier notifier_;

 private slots:
  void initTestCase() { StartWindows(notifier_, ','); }
  void cleanupTestCase() { StopWindows(); }

  void startsThreeWindowsInOrder() {
    QVERIFY(ControlPanelWindow() != nullptr && SceneEditorWindow() != nullptr && Viewer() != nullptr);
    QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Tovimar"));
    QVERIFY(ControlPanelWindow()->isVisible() && SceneEditorWindow()->isVisible() && Viewer()->isVisible());
    // The editor drew its chart at creation, reading the panel; the viewer
    // made its context, reading the panel's antialiasing box.
    QCOMPARE(SceneEditorWindow()->Label11->text(), QStringLiteral("--"));
    QCOMPARE(SceneEditorWindow()->Image1->Picture.pixel(6, 5), qRgb(0, 0, 0));
    QVERIFY(Viewer()->GetViewer().HasContext());
    QVERIFY(!Viewer()->GetViewer().SceneReady());  // nothing is prepared at start
    QVERIFY(notifier_.messages.isEmpty());
  }

  // A newcomer's first minute: the empty viewer says what to do, the panel's
  // View menu shows the views' keys, and every control has a tip (the
  // specified Polish tip of "Return frame" explained by its What's This).
  void aNewcomerIsToldWhatEachThingDoes() {
    // The hint is drawn over the window's background, below the caption.
    const QImage empty = Viewer()->grab().toImage();
    const QRgb background = Viewer()->palette().color(QPalette::Window).rgb();
    int hintPixels = 0;
    for (int y = Viewer()->ProbeLabel->height(); y < empty.height(); ++y)
      for (int x = 0; x < empty.width(); ++x) hintPixels += empty.pixel(x, y) != background ? 1 : 0;
    QVERIFY2(hintPixels > 200, qPrintable(QString::number(hintPixels)));
    QVERIFY(kEmptyViewerHint.contains(QStringLiteral("Prepare")) && kEmptyViewerHint.contains(QStringLiteral("Start")));

    emit ControlPanelWindow()->ViewMenu->aboutToShow();
    QStringList keys;
    for (const QAction* action : ControlPanelWindow()->ViewMenu->actions())
      if (action->text().contains(QLatin1Char('\t'))) keys << action->text().section(QLatin1Char('\t'), 1);
    QCOMPARE(keys, QStringList({"1", "2", "3", "4"}));
    ControlPanelWindow()->ViewMenu->actions().at(1)->trigger();
    QCOMPARE(Viewer()->GetViewMode(), tovimar::ViewMode::Disparity);
    Viewer()->SetViewMode(tovimar::ViewMode::Camera);

    for (QWidget* window : {static_cast<QWidget*>(ControlPanelWindow()), static_cast<QWidget*>(SceneEditorWindow())}) {
      for (QWidget* w : DesignedControls(window)) {
        if (qobject_cast<QLabel*>(w) != nullptr || qobject_cast<QScrollArea*>(w) != nullptr ||
            w->objectName() == QStringLiteral("EditorPage") || w->objectName() == QStringLiteral("MenuBar"))
          continue;  // what the user reads, not a control
        const bool inRadioGroup = qobject_cast<tovimar::RadioGroup*>(w->parentWidget()) != nullptr;
        QVERIFY2(!w->toolTip().isEmpty() || inRadioGroup, qPrintable(window->objectName() + '.' + w->objectName()));
      }
    }
    QCOMPARE(ControlPanelWindow()->CheckBox1->text(), QStringLiteral("Subpixel Disparity"));
    QVERIFY(ControlPanelWindow()->CheckBox1->toolTip().contains(QStringLiteral("kept for compatibility; changes no file")));
    QVERIFY(SceneEditorWindow()->CheckBox9->whatsThis().contains(QStringLiteral("moves back by the same")));
    QVERIFY(SceneEditorWindow()->CheckBox4->toolTip().startsWith(QStringLiteral("4 - object transformation matrices")));
    for (const QPlainTextEdit* memo : {SceneEditorWindow()->Memo2, SceneEditorWindow()->Memo3, SceneEditorWindow()->Memo4})
      QVERIFY(memo->toolTip().startsWith(memo->objectName() + QStringLiteral(", the ")));
  }

  void windowFramesAndPlaces() {
    struct Expect {
      QWidget* window;
      const char* caption;
      int w, h;
    };
    // The panel's controls keep their designed 695 x 417 below the menu bar;
    // the editor is as large as the (offscreen, 800 x 800) screen allows.
    const int bar = ControlPanelWindow()->MenuBar->height();
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QSize editor = tovimar::PlaceWindows(available, ControlPanelWindow()->size(), SceneEditor::DesignedSize(),
                                               Viewer()->RenderSize(), FrameOf(ControlPanelWindow()))
                             .editorSize;
    QVERIFY(editor.width() <= 900 && editor.height() <= 936 && editor.height() > available.height() - 40);
    for (const Expect& e : {Expect{ControlPanelWindow(), "Tovimar", 695, 417 + bar},
                            Expect{SceneEditorWindow(), "Tovimar Scene editor - sceneexample.txt[*]", editor.width(),
                                   editor.height()},
                            Expect{Viewer(), "Stereo Viewer", 512, 384}}) {
      QCOMPARE(e.window->windowTitle(), QString::fromLatin1(e.caption));
      QCOMPARE(e.window->size(), QSize(e.w, e.h));
    }
    // The panel keeps its form; the editor and the viewer can be resized.
    QCOMPARE(ControlPanelWindow()->minimumSize(), ControlPanelWindow()->maximumSize());
    for (QWidget* resizable : {static_cast<QWidget*>(SceneEditorWindow()), static_cast<QWidget*>(Viewer())})
      QVERIFY(resizable->minimumSize().width() <= 320 && resizable->maximumSize().width() >= 2000);
    const Qt::WindowFlags flags = Viewer()->windowFlags();
    QVERIFY(flags.testFlag(Qt::CustomizeWindowHint));
    QVERIFY(!flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint) && flags.testFlag(Qt::WindowMaximizeButtonHint));
    // The offscreen screen is smaller than 1280 x 800: the designed places,
    // with the viewer kept on the screen.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QMargins frame = FrameOf(Viewer());
    const tovimar::WindowPlacement p =
        tovimar::PlaceWindows(screen, ControlPanelWindow()->size(), SceneEditor::DesignedSize(), Viewer()->RenderSize(), frame);
    QCOMPARE(Viewer()->pos(), p.viewerPos);
    for (QWidget* window : {static_cast<QWidget*>(ControlPanelWindow()), static_cast<QWidget*>(SceneEditorWindow()),
                            static_cast<QWidget*>(Viewer())})
      QVERIFY2(screen.contains(window->frameGeometry()), qPrintable(window->objectName()));
  }

  // Every window inside the screen, title bar included, and none covering
  // another, down to 1280 x 720 logical pixels (1366 x 768 with a task bar,
  // 1920 x 1080 at 150 %, with its thinner frame in logical pixels).
  void placementOnCommonScreens() {
    const QSize panel = ControlPanelWindow()->size(), editor = SceneEditor::DesignedSize();
    const QMargins frame(2, 30, 2, 2);
    const QSize resolutions[] = {{320, 240}, {512, 384}, {800, 600}, {1024, 768}};
    for (const QRect& screen : {QRect(0, 0, 1280, 800), QRect(0, 0, 1920, 1080), QRect(0, 28, 1920, 1052),
                                QRect(1920, 0, 2560, 1440), QRect(0, 0, 1366, 740), QRect(0, 0, 1280, 720),
                                QRect(0, 24, 1280, 696)}) {
      for (const QSize& viewer : resolutions) {
        const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen, panel, editor, viewer, frame);
        const QSize shown = tovimar::FitInside(viewer, p.viewerLimit);
        const QRect rects[] = {QRect(p.panelPos, panel).marginsAdded(frame).translated(frame.left(), frame.top()),
                               QRect(p.editorPos, p.editorSize).marginsAdded(frame).translated(frame.left(), frame.top()),
                               QRect(p.viewerPos, shown).marginsAdded(frame).translated(frame.left(), frame.top())};
        const QString where = QStringLiteral("%1x%2 screen, %3x%4 viewer")
                                  .arg(screen.width()).arg(screen.height()).arg(viewer.width()).arg(viewer.height());
        for (int i = 0; i < 3; ++i) {
          QVERIFY2(screen.contains(rects[i]), qPrintable(where + QStringLiteral(": window %1 leaves").arg(i)));
          for (int j = i + 1; j < 3; ++j)
            QVERIFY2(!rects[i].intersects(rects[j]), qPrintable(where + QStringLiteral(": %1 covers %2").arg(i).arg(j)));
        }
        // Reading order: the panel first, the editor right of it.
        QVERIFY(p.panelPos.x() < p.editorPos.x());
      }
    }
    // A screen with room for the three in a row keeps every size.
    const tovimar::WindowPlacement wide = tovimar::PlaceWindows(QRect(0, 0, 2560, 1440), panel, editor, {512, 384}, frame);
    QCOMPARE(wide.editorSize, editor);
    QCOMPARE(tovimar::FitInside({512, 384}, wide.viewerLimit), QSize(512, 384));
    QVERIFY(wide.panelPos.x() < wide.editorPos.x() && wide.editorPos.x() < wide.viewerPos.x());
    // Small screens: every window is still inside, title bar included (they
    // may overlap), the viewer scaled when larger.
    for (const QRect& screen : {QRect(0, 0, 800, 600), QRect(0, 0, 1024, 768)}) {
      for (const QSize& viewer : resolutions) {
        const tovimar::WindowPlacement p = tovimar::PlaceWindows(screen, panel, editor, viewer, frame);
        for (const QRect& client : {QRect(p.panelPos, panel), QRect(p.editorPos, p.editorSize),
                                    QRect(p.viewerPos, tovimar::FitInside(viewer, p.viewerLimit))})
          QVERIFY(screen.contains(client.marginsAdded(frame).translated(frame.left(), frame.top())));
      }
    }
    QCOMPARE(tovimar::FitInside({1024, 768}, {695, 1000}), QSize(695, 521));
    QCOMPARE(tovimar::FitInside({320, 240}, {695, 1000}), QSize(320, 240));
  }

  void controlsFitTheirWindows() {
    CheckLayout(ControlPanelWindow());
    const QSize editorSize = SceneEditorWindow()->size();
    SceneEditorWindow()->resize(SceneEditor::DesignedSize());  // its page whole in view
    QApplication::processEvents();
    CheckLayout(SceneEditorWindow());
    SceneEditorWindow()->resize(editorSize);
    // The editor's controls from top to bottom: chart, scene text, the three
    // logs, then the matrix log's switch.
    const QWidget* column[] = {SceneEditorWindow()->Image1, SceneEditorWindow()->Memo1, SceneEditorWindow()->Memo2, SceneEditorWindow()->Memo3, SceneEditorWindow()->Memo4,
                               SceneEditorWindow()->CheckBox4};
    for (std::size_t i = 1; i < std::size(column); ++i) {
      QVERIFY2(column[i - 1]->geometry().bottom() < column[i]->geometry().top(), qPrintable(column[i]->objectName()));
    }
    QVERIFY(SceneEditorWindow()->Label11->geometry().left() > SceneEditorWindow()->Image1->geometry().right());  // right of the chart
  }

  // On a 1280 x 800 screen the editor is narrower than designed and scrolls:
  // the commands a new user needs first, and the list of problems, are still
  // in view without scrolling.
  void editorCommandsInViewAt1280x800() {
    const tovimar::WindowPlacement p = tovimar::PlaceWindows(QRect(0, 0, 1280, 800), ControlPanelWindow()->size(),
                                                             SceneEditor::DesignedSize(), {512, 384}, QMargins(2, 30, 2, 2));
    QVERIFY(p.editorSize.width() < 600);
    SceneEditorWindow()->resize(p.editorSize);
    QApplication::processEvents();
    const QWidget* view = SceneEditorWindow()->findChild<QScrollArea*>()->viewport();
    for (QWidget* w : std::initializer_list<QWidget*>{
             SceneEditorWindow()->Edit1, SceneEditorWindow()->Button1, SceneEditorWindow()->Button2, SceneEditorWindow()->Button3, SceneEditorWindow()->Button5,
             SceneEditorWindow()->ModifiedLabel, SceneEditorWindow()->Label4, SceneEditorWindow()->Label5, SceneEditorWindow()->Label7, SceneEditorWindow()->Label8,
             SceneEditorWindow()->Label9, SceneEditorWindow()->Edit5, SceneEditorWindow()->Label10, SceneEditorWindow()->Edit6}) {
      const QRect shown(w->mapTo(view, QPoint(0, 0)), w->size());
      QVERIFY2(view->rect().contains(shown), qPrintable(w->objectName()));
    }
    // The scene text and the list of problems start in view.
    for (QWidget* w : std::initializer_list<QWidget*>{SceneEditorWindow()->Memo1, SceneEditorWindow()->SceneErrors}) {
      const QRect shown(w->mapTo(view, QPoint(0, 0)), QSize(100, w->height()));
      QVERIFY2(view->rect().contains(shown), qPrintable(w->objectName()));
    }
    // Widened and lengthened, the scene text and the lists below take the room.
    SceneEditorWindow()->resize(SceneEditor::DesignedSize() + QSize(300, 200));
    QApplication::processEvents();
    QCOMPARE(SceneEditorWindow()->Memo1->size(), QSize(881 + 300, 361 + 200));
    for (QWidget* w : std::initializer_list<QWidget*>{SceneEditorWindow()->SceneErrors, SceneEditorWindow()->Memo2,
                                                      SceneEditorWindow()->Memo4})
      QCOMPARE(w->width(), 881 + 300);
    QCOMPARE(SceneEditorWindow()->CheckBox4->y(), 908 + 200);
    QVERIFY(view->rect().contains(QRect(SceneEditorWindow()->CheckBox4->mapTo(view, QPoint(0, 0)),
                                        SceneEditorWindow()->CheckBox4->size())));
    SceneEditorWindow()->resize(SceneEditor::DesignedSize());
    QApplication::processEvents();
    QCOMPARE(SceneEditorWindow()->Memo1->size(), QSize(881, 361));
  }

  void controlPanelDefaults() {
    ControlPanel* f = ControlPanelWindow();
    QCOMPARE(f->RadioGroup1->title(), QStringLiteral("Choose resolution"));
    QCOMPARE(f->RadioGroup1->ItemCount(), 4);
    QCOMPARE(f->RadioGroup1->Item(0)->text(), QStringLiteral("320 x 240"));
    QCOMPARE(f->RadioGroup1->Item(3)->text(), QStringLiteral("1024 x 768"));
    QCOMPARE(f->RadioGroup1->ItemIndex(), 1);
    QCOMPARE(f->GetResolution(), QSize(512, 384));
    QCOMPARE(f->Button2->text(), QStringLiteral("Apply"));
    QCOMPARE(f->Button2->toolTip(), QStringLiteral("Click to change the resolution"));
    QCOMPARE(f->Rendering->title(), QStringLiteral("Rendering"));
    QCOMPARE(f->Label1->text(), QStringLiteral("Folder"));
    QCOMPARE(f->Edit2->text(), tovimar::DefaultOutputFolder());
    QVERIFY(QFileInfo(f->Edit2->text()).isDir());  // a run with the defaults can make its folder
    QCOMPARE(f->Edit2->toolTip(), QStringLiteral("Select folder for images"));
    QCOMPARE(f->Button4->text(), QStringLiteral("Select"));
    QCOMPARE(f->Label2->text(), QStringLiteral("Sequence no:"));
    CheckSpinner(f->UpDown1, 0, 100, 0);
    QCOMPARE(f->Edit1->toolTip(), QStringLiteral("Sequence number. Directory of this number will be created."));
    QCOMPARE(f->RadioGroup2->title(), QStringLiteral("Select camera:"));
    QCOMPARE(f->RadioGroup2->Item(0)->text(), QStringLiteral("Left"));
    QCOMPARE(f->RadioGroup2->Item(1)->text(), QStringLiteral("Right"));
    QCOMPARE(f->RadioGroup2->ItemIndex(), 0);
    QCOMPARE(f->RadioGroup2->toolTip(), QStringLiteral("Select stereovision camera"));
    QCOMPARE(f->CheckBox2->text(), QStringLiteral("Preview only"));
    QCOMPARE(f->CheckBox2->toolTip(), QStringLiteral("Only preview, images will not be saved"));
    QCOMPARE(f->Button3->text(), QStringLiteral("Start"));
    QCOMPARE(f->GroupBox1->title(), QStringLiteral("Background color"));
    QCOMPARE(f->Label3->text() + f->Label4->text() + f->Label5->text(), QStringLiteral("R:G:B:"));
    CheckSpinner(f->UpDown2, 0, 255, 0);
    CheckSpinner(f->UpDown3, 0, 255, 255);
    CheckSpinner(f->UpDown4, 0, 255, 255);
    QCOMPARE(f->CheckBox3->text(), QStringLiteral("Color pallete in segmentation"));
    QCOMPARE(f->CheckBox4->text(), QStringLiteral("AntiAliasing Filter"));
    QCOMPARE(f->CheckBox1->text(), QStringLiteral("Subpixel Disparity"));
    QVERIFY(!f->CheckBox1->isChecked() && !f->CheckBox2->isChecked() && !f->CheckBox3->isChecked() &&
            !f->CheckBox4->isChecked());
    QCOMPARE(Lines(f->Memo1).mid(0, 2), QStringList({"Tovimar", "Version 1.3.0.0"}));
    QCOMPARE(f->Memo1->toolTip(), QStringLiteral("Information about me"));
    QCOMPARE(f->ProgressBar1->minimum(), 0);
    QCOMPARE(f->ProgressBar1->maximum(), 100);
    QCOMPARE(f->ProgressBar1->value(), 0);
    // Controls keep their designed names.
    QCOMPARE(f->findChild<QSpinBox*>(QStringLiteral("Edit3")), f->UpDown2);
    QCOMPARE(f->findChild<QPushButton*>(QStringLiteral("Button3")), f->Button3);
  }

  void resolutionItems() {
    const QSize expected[] = {{320, 240}, {512, 384}, {800, 600}, {1024, 768}};
    for (int i = 0; i < 4; ++i) {
      ControlPanelWindow()->RadioGroup1->SetItemIndex(i);
      QCOMPARE(ControlPanelWindow()->GetResolution(), expected[i]);
    }
    ControlPanelWindow()->RadioGroup1->SetItemIndex(-1);
    QCOMPARE(ControlPanelWindow()->RadioGroup1->ItemIndex(), -1);
    QCOMPARE(ControlPanelWindow()->GetResolution(), QSize(320, 240));
    ControlPanelWindow()->RadioGroup1->SetItemIndex(1);
  }

  void folderSelection() {
    const QString before = ControlPanelWindow()->Edit2->text();
    ControlPanelWindow()->SaveDialog1 = [] { return QString(); };  // cancelled
    ControlPanelWindow()->Button4Click(ControlPanelWindow()->Button4);
    QCOMPARE(ControlPanelWindow()->Edit2->text(), before);
    ControlPanelWindow()->SaveDialog1 = [] { return QStringLiteral("/srv/frames"); };
    ControlPanelWindow()->Button4Click(ControlPanelWindow()->Button4);
    QCOMPARE(ControlPanelWindow()->Edit2->text(), QStringLiteral("/srv/frames"));
    QCOMPARE(Viewer()->OutputFolder(), std::string("/srv/frames"));
    ControlPanelWindow()->Edit2->setText(before);
  }

  void sceneEditorDefaults() {
    SceneEditor* f = SceneEditorWindow();
    QCOMPARE(f->Edit1->text(), tovimar::ExampleScenePath());
    QVERIFY(QFileInfo::exists(f->Edit1->text()));
    // The memo holds exactly the lines of the bundled example scene.
    const QStringList fileLines =
        QString::fromLatin1(ReadAll(QStringLiteral(TOVIMAR_SOURCE_DIR "/examples/sceneexample.txt")))
            .split(QStringLiteral("\r\n"));
    QCOMPARE(fileLines.size(), 22);
    QCOMPARE(Lines(f->Memo1), fileLines);
    QVERIFY(f->Memo1->font().bold());
    QCOMPARE(f->Memo1->font().pointSize(), 8);
    QVERIFY(QFontInfo(f->Memo1->font()).fixedPitch());
    QCOMPARE(f->Memo1->size(), QSize(881, 361));

    QCOMPARE(f->Button1->text(), QStringLiteral("Select File"));
    QCOMPARE(f->Button2->text(), QStringLiteral("Load"));
    QCOMPARE(f->Button3->text(), QStringLiteral("Save"));
    QCOMPARE(f->Button5->text(), QStringLiteral("Prepare"));
    QCOMPARE(f->GroupBox1->title(), QStringLiteral("Movement generator"));
    QString axes;
    for (QCheckBox* box : {f->CheckBox2, f->CheckBox3, f->CheckBox5, f->CheckBox6, f->CheckBox7, f->CheckBox8}) {
      axes += box->text();
      QVERIFY(!box->isChecked());
    }
    QCOMPARE(axes, QStringLiteral("XYZABG"));
    QCOMPARE(f->CheckBox9->text(), QStringLiteral("Return frame"));
    QVERIFY(f->CheckBox9->isChecked());
    QCOMPARE(f->CheckBox9->toolTip(), QStringLiteral("Generuje ramke powrotu, o wektorze ruchu -T i -W"));
    QCOMPARE(f->Label1->text(), QStringLiteral("Start:"));
    // The generator's defaults are shown in the locale's notation.
    const QString quarter = QStringLiteral("0") + QChar(tovimar::AppDecimalSeparator()) + QStringLiteral("25");
    QCOMPARE(f->Edit2->text(), quarter);
    QCOMPARE(f->Label2->text(), QStringLiteral("Step:"));
    QCOMPARE(f->Edit3->text(), quarter);
    QCOMPARE(f->Label3->text(), QStringLiteral("No Frames:"));
    CheckSpinner(f->UpDown1, 0, 100, 20);
    QCOMPARE(f->Label6->text(), QStringLiteral("Hint: Angles in degrees"));
    QCOMPARE(f->Button4->text(), QStringLiteral("Generate"));
    QCOMPARE(f->Label4->text(), QStringLiteral("Number of Frames"));
    QCOMPARE(f->Label5->text(), QString());
    QCOMPARE(f->Label7->text(), QStringLiteral("Number of Objects:"));
    QCOMPARE(f->Label8->text(), QString());
    QCOMPARE(f->Label9->text(), QStringLiteral("Baseline"));
    QCOMPARE(f->Edit5->text(), QStringLiteral("0,12"));
    QCOMPARE(f->Edit5->toolTip(), QStringLiteral("baseline between cameras"));
    QCOMPARE(f->Label10->text(), QStringLiteral("Focal length:"));
    QCOMPARE(f->Edit6->text(), QStringLiteral("389,0"));
    QCOMPARE(f->Edit6->toolTip(), QStringLiteral("Focal length of the cameras"));
    QCOMPARE(f->Image1->size(), QSize(833, 41));
    QCOMPARE(f->Memo2->toPlainText(), QStringLiteral("Memo2"));
    QCOMPARE(f->Memo3->toPlainText(), QStringLiteral("Memo3"));
    QCOMPARE(f->Memo4->toPlainText(), QStringLiteral("Memo4"));
    QCOMPARE(f->CheckBox4->text(), QStringLiteral("4 - macierze transf. obiektow"));
    QVERIFY(!f->CheckBox4->isChecked());
  }

  void viewerDefaults() {
    ViewerWindow* f = Viewer();
    struct Control {
      QWidget* widget;
      const char* caption;
    };
    for (const Control& c : {Control{f->Button1, "/\\"}, Control{f->Button4, "V"}, Control{f->Button2, "<"},
                             Control{f->Button3, ">"}, Control{f->Button5, "-"}, Control{f->Button6, "+"},
                             Control{f->Button9, "9 - odrysuj"}, Control{f->Button11, "11 - przyg. sekw."},
                             Control{f->Button7, "Start"}, Control{f->Button10, "10-DoAvi"},
                             Control{f->Button13, "Button13"}}) {
      QCOMPARE(static_cast<QPushButton*>(c.widget)->text(), QString::fromLatin1(c.caption));
      QVERIFY(!c.widget->isVisible());
    }
    QCOMPARE(f->CheckBox1->text(), QStringLiteral("wybor lewa pr.k."));
    QVERIFY(!f->CheckBox1->isChecked());
    QVERIFY(!f->CheckBox1->isVisible());
    QCOMPARE(f->TrackBar1->minimum(), -50);
    QCOMPARE(f->TrackBar1->maximum(), 50);
    QCOMPARE(f->TrackBar1->value(), 0);
    QVERIFY(!f->TrackBar1->isVisible());
    QVERIFY(!f->Timer1->isActive());
    QCOMPARE(f->Timer1->interval(), 20);
    QVERIFY(!f->Timer2->isActive());
    QCOMPARE(f->Timer2->interval(), 1000);
    QCOMPARE(f->GetViewer().Rig().FrameCounter, -1);
  }

  void viewerIgnoresACloseAndComesBackForAPreparation() {
    QVERIFY(!Viewer()->close());
    QVERIFY(Viewer()->isVisible());
    Viewer()->showMinimized();
    QVERIFY(Viewer()->isMinimized());
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);  // Prepare
    QVERIFY(!Viewer()->isMinimized());
    Viewer()->hide();
    StartAndStopPreview(Viewer());
    if (QTest::currentTestFailed()) return;
    QVERIFY(notifier_.messages.isEmpty());
  }

  // The panel's folder, resolution, sequence number, camera and outputs come
  // back in the next session.
  void panelRemembersItsSettings() {
    const QString folder = TestSettingsFolder() + QStringLiteral("/frames");
    ControlPanelWindow()->Edit2->setText(folder);
    ControlPanelWindow()->RadioGroup1->SetItemIndex(0);
    ControlPanelWindow()->UpDown1->setValue(7);
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    tovimar::OutputChoice outputs;
    outputs.classic = false;
    outputs.pfm = true;
    outputs.flow = true;
    outputs.ids16 = true;
    outputs.layout = tovimar::DatasetLayout::SceneFlow;  // the last layout (was forgotten)
    ControlPanelWindow()->SetDatasetOutputs(outputs);
    ControlPanelWindow()->SaveSettings();
    StopWindows();
    StartWindows(notifier_, ',');
    QCOMPARE(ControlPanelWindow()->Edit2->text(), folder);
    QCOMPARE(ControlPanelWindow()->RadioGroup1->ItemIndex(), 0);
    QCOMPARE(Viewer()->RenderSize(), QSize(320, 240));  // applied
    QCOMPARE(Viewer()->GetViewer().ClientWidth(), 320);
    QCOMPARE(ControlPanelWindow()->UpDown1->value(), 7);
    QCOMPARE(ControlPanelWindow()->RadioGroup2->ItemIndex(), 1);
    QVERIFY(Viewer()->RightCamera());
    QVERIFY(!ControlPanelWindow()->BothCameras->isChecked());
    QVERIFY(ControlPanelWindow()->DatasetOutputs() == outputs);
    // "Both cameras" is remembered as the camera choice.
    ControlPanelWindow()->BothCameras->setChecked(true);
    // The end of the program keeps the windows' places and sizes too.
    const QRect editorPlace(40, 50, 600, 500), viewerPlace(100, 420, 400, 300);
    SceneEditorWindow()->setGeometry(editorPlace);
    Viewer()->setGeometry(viewerPlace);
    ControlPanelWindow()->FormClose();  // the end of the program saves too
    QVERIFY(Viewer() == nullptr && SceneEditorWindow() == nullptr);
    TestDesktop().DestroyWindows();
    StartWindows(notifier_, ',');
    QVERIFY(ControlPanelWindow()->BothCameras->isChecked());
    QCOMPARE(SceneEditorWindow()->geometry(), editorPlace);
    QCOMPARE(Viewer()->geometry(), viewerPlace);
    // A place whose title bar is on no screen (a screen gone) is not taken back.
    SceneEditorWindow()->move(5000, 5000);
    TestDesktop().SavePlaces();
    StopWindows();
    StartWindows(notifier_, ',');
    QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(SceneEditorWindow()->frameGeometry()));
    // Forgotten settings give the defaults again (for the slots that follow).
    QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovimar"), QStringLiteral("tovimar")).clear();
    StopWindows();
    StartWindows(notifier_, ',');
    QCOMPARE(ControlPanelWindow()->Edit2->text(), tovimar::DefaultOutputFolder());
    QCOMPARE(Viewer()->RenderSize(), QSize(512, 384));
    QVERIFY(!Viewer()->RightCamera() && !ControlPanelWindow()->BothCameras->isChecked());
    QVERIFY(notifier_.messages.isEmpty());
  }

  // The panel offers every product and layout of the command line, and Start
  // refuses what the command line refuses, saying why, before a folder is made.
  void startRefusesWhatTheCommandLineRefuses() {
    const QMenu* menu = ControlPanelWindow()->DatasetOutputsButton->menu();
    for (const std::string& name : tovimar::OutputNames())
      QVERIFY2(menu->findChild<QAction*>(QStringLiteral("output_") + QString::fromStdString(name)), name.c_str());
    for (const tovimar::DatasetLayout layout : tovimar::AllLayouts()) {
      const QString name = QStringLiteral("layout_") + QString::fromLatin1(tovimar::LayoutName(layout));
      QAction* action = menu->findChild<QAction*>(name);
      QVERIFY2(action != nullptr, qPrintable(name));
      action->trigger();
      QCOMPARE(ControlPanelWindow()->DatasetOutputs().layout, layout);
    }
    const QString folder = TestSettingsFolder() + QStringLiteral("/refused");
    ControlPanelWindow()->Edit2->setText(folder);
    auto refusal = [&](const tovimar::OutputChoice& outputs, bool both) {
      ControlPanelWindow()->SetDatasetOutputs(outputs);
      ControlPanelWindow()->BothCameras->setChecked(both);
      ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
      return ControlPanelWindow()->StatusLine->toolTip();
    };
    tovimar::OutputChoice outputs;
    outputs.classic = false;
    outputs.png = true;
    outputs.masks = true;
    outputs.layout = tovimar::DatasetLayout::SceneFlow;
    QCOMPARE(refusal(outputs, true), QStringLiteral("Start: --outputs masks: the sceneflow layout has no place for it"));
    outputs.masks = false;
    outputs.layout = tovimar::DatasetLayout::Kitti;
    QCOMPARE(refusal(outputs, false), QStringLiteral("Start: --layout kitti needs both cameras (--camera both): its "
                                                     "files pair the two views"));
    QVERIFY(!Viewer()->Running());
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"));
    QVERIFY(!QFileInfo::exists(folder));
    QVERIFY(notifier_.messages.isEmpty());
    ControlPanelWindow()->SetDatasetOutputs(tovimar::OutputChoice{});
    ControlPanelWindow()->BothCameras->setChecked(false);
    ControlPanelWindow()->Edit2->setText(tovimar::DefaultOutputFolder());
  }

  // Closing the panel with unsaved scene text asks Save, Discard or Cancel;
  // Cancel keeps the program and the text. The editor's title names the
  // file and marks the unsaved text.
  void closingWithUnsavedTextAsksAndCancelKeepsEverything() {
    SceneEditor* editor = SceneEditorWindow();
    const QString title = QStringLiteral("Tovimar Scene editor - ") + QFileInfo(editor->Edit1->text()).fileName();
    QCOMPARE(editor->windowTitle(), title + QStringLiteral("[*]"));
    QVERIFY(!editor->isWindowModified());
    editor->activateWindow();
    editor->Memo1->setFocus();
    QTest::keyClicks(editor->Memo1, QStringLiteral("// mine"));
    QVERIFY(editor->TextModified() && editor->isWindowModified());
    const QString text = editor->Memo1->toPlainText();
    QVERIFY(text.contains(QStringLiteral("// mine")));
    // The real box, answered Cancel.
    editor->AskSaveUnsaved = [editor] { return editor->AskSaveUnsavedBox(); };
    bool hadAllThree = false;
    QTimer answer;
    answer.setInterval(10);
    connect(&answer, &QTimer::timeout, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      answer.stop();
      hadAllThree = box->button(QMessageBox::Save) != nullptr && box->button(QMessageBox::Discard) != nullptr &&
                    box->button(QMessageBox::Cancel) != nullptr;
      box->button(QMessageBox::Cancel)->click();
    });
    answer.start();
    QVERIFY(!ControlPanelWindow()->close());
    QVERIFY(hadAllThree);
    QVERIFY(Viewer() != nullptr && SceneEditorWindow() != nullptr);
    QVERIFY(ControlPanelWindow()->isVisible());
    QCOMPARE(editor->Memo1->toPlainText(), text);
    // Quit in the menu asks the same.
    int asked = 0;
    editor->AskSaveUnsaved = [&asked] {
      ++asked;
      return QMessageBox::Cancel;
    };
    ControlPanelWindow()->QuitAction->trigger();
    QCOMPARE(asked, 1);
    QVERIFY(Viewer() != nullptr);
    // Save As stores the text under the new name and clears the mark.
    const QString saved = TestSettingsFolder() + QStringLiteral("/saved.txt");
    editor->SaveDialog1 = [saved] { return saved; };
    ControlPanelWindow()->SaveAsAction->trigger();
    QCOMPARE(ReadAll(saved), QByteArray::fromStdString(editor->Memo1FileBytes()));
    QVERIFY(!editor->isWindowModified());
    QCOMPARE(editor->windowTitle(), QStringLiteral("Tovimar Scene editor - saved.txt[*]"));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // The menu's shortcuts reach their actions: Ctrl+O opens and loads a scene
  // in the editor, Ctrl+S saves it, F5 starts a run and Esc stops it.
  void menuShortcutsReachTheirActions() {
    QApplication::setActiveWindow(ControlPanelWindow());
    QTRY_VERIFY(ControlPanelWindow()->isActiveWindow());
    const QString scene = TestSettingsFolder() + QStringLiteral("/menu.txt");
    QVERIFY(WriteAll(scene, ReadAll(tovimar::ExampleScenePath())));
    SceneEditorWindow()->OpenDialog1 = [scene] { return scene; };
    QTest::keyClick(ControlPanelWindow(), Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(SceneEditorWindow()->Edit1->text(), scene);
    SceneEditorWindow()->Memo1->appendPlainText(QStringLiteral("// saved by the key"));
    QVERIFY(SceneEditorWindow()->TextModified());
    QTest::keyClick(ControlPanelWindow(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!SceneEditorWindow()->TextModified());
    QVERIFY(ReadAll(scene).contains("// saved by the key"));
    // In the editor's window too.
    QApplication::setActiveWindow(SceneEditorWindow());
    QTRY_VERIFY(SceneEditorWindow()->isActiveWindow());
    SceneEditorWindow()->Memo1->appendPlainText(QStringLiteral("// saved in the editor"));
    QTest::keyClick(SceneEditorWindow()->Memo1, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(!SceneEditorWindow()->TextModified());
    QVERIFY(ReadAll(scene).contains("// saved in the editor"));
    QApplication::setActiveWindow(ControlPanelWindow());
    QTRY_VERIFY(ControlPanelWindow()->isActiveWindow());
    ControlPanelWindow()->CheckBox2->setChecked(true);  // preview: nothing is written
    QTest::keyClick(ControlPanelWindow(), Qt::Key_F5);
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Stop"));
    QVERIFY(ControlPanelWindow()->StopAction->isEnabled() && !ControlPanelWindow()->StartAction->isEnabled());
    QTest::keyClick(ControlPanelWindow(), Qt::Key_Escape);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QVERIFY(ControlPanelWindow()->StartAction->isEnabled() && !ControlPanelWindow()->StopAction->isEnabled());
    ControlPanelWindow()->CheckBox2->setChecked(false);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
  }

  // The editor comes back after a close: by a preparation, a Start and the
  // panel's button; its text is kept.
  void closedEditorComesBack() {
    SceneEditorWindow()->Memo1->appendPlainText(QStringLiteral("// kept"));
    const QString text = SceneEditorWindow()->Memo1->toPlainText();
    SceneEditorWindow()->close();
    QVERIFY(!SceneEditorWindow()->isVisible());
    Viewer()->Button11Click(nullptr);  // a preparation (Prepare, Load)
    QVERIFY(SceneEditorWindow()->isVisible());
    SceneEditorWindow()->close();
    QTest::mouseClick(ControlPanelWindow()->ShowEditorButton, Qt::LeftButton);
    QVERIFY(SceneEditorWindow()->isVisible());
    SceneEditorWindow()->showMinimized();
    ControlPanelWindow()->ShowEditorButton->click();
    QVERIFY(!SceneEditorWindow()->isMinimized());
    SceneEditorWindow()->close();
    StartAndStopPreview(SceneEditorWindow());
    if (QTest::currentTestFailed()) return;
    QCOMPARE(SceneEditorWindow()->Memo1->toPlainText(), text);
    QVERIFY(notifier_.messages.isEmpty());
  }

  // The keys reach the viewer whenever its window is active (it had no
  // focus widget then, and the keys went nowhere).
  void keysReachTheActiveViewer() {
    QApplication::setActiveWindow(ControlPanelWindow());
    QApplication::setActiveWindow(Viewer());
    QTRY_VERIFY(Viewer()->isActiveWindow());
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Viewer()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
    QVERIFY(Viewer()->HelpWindow->isVisible());
    Viewer()->HelpWindow->hide();
  }

  // Kept last: these end the program's windows.
  void closingTheEditorOnlyHidesIt() {
    SceneEditorWindow()->close();
    QVERIFY(SceneEditorWindow() != nullptr);
    QVERIFY(!SceneEditorWindow()->isVisible());
    Viewer()->close();
    QVERIFY(Viewer() != nullptr);
    QVERIFY(Viewer()->isVisible());  // the viewer is not closed on its own
  }

  void closingThePanelEndsEverythingEvenDuringARun() {
    ControlPanelWindow()->CheckBox2->setChecked(true);  // preview: nothing is written
    SceneEditorWindow()->Button5Click(nullptr);        // prepare the example
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Stop"));
    QVERIFY(Viewer()->Timer1->isActive());
    ControlPanelWindow()->close();
    QVERIFY(Viewer() == nullptr);
    QVERIFY(SceneEditorWindow() == nullptr);
    QVERIFY(notifier_.messages.isEmpty());
    QVERIFY(ControlPanelWindow() != nullptr);  // destroyed by the end of the program
    QTest::qWait(50);           // no tick arrives for the destroyed viewer
    QVERIFY(notifier_.messages.isEmpty());
  }
};

QTEST_MAIN(AppWindowsTest)
#include "tst_app_windows.moc"
