// Runs from the control panel: a whole run writes what the command-line
// generator writes, Stop between frames ends a run at once; the camera radio
// group, "Apply", the picture save and the AVI export of the viewer.
#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QMouseEvent>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <string>

#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app/truth_view.h"
#include "app_test_support.h"
#include "render/renderer.h"
#include "run/run_session.h"

namespace {

// Three frames of the example scene, noise included.
const char* const kThreeFrames =
    "FOCALLENGTH;389;\r\n"
    "NOISE;2.0;\r\n"
    "SPHERE;  id 254; texture: -1; colour: 1.0; 11.0; 11.0; position:  0.0; 0.0;  0.0; 1.0; 0.0; 0.0; dim: 24.65\r\n"
    "SPHERE;  id  25; texture:  9; colour: 1.0;  1.0;  1.0; position:  0.0; 1.0; -0.2; 0.0; 0.0; 0.0; dim:  0.65\r\n"
    "CUBOID;  id  40; texture:  5; colour: 1.0;  1.0;  1.0; position: -1.5; 0.5; -0.5; 0.0; 0.0; 0.0; dim:  0.2;  "
    "0.2; 2\r\n"
    "CYLINDER;id  50; texture:  1; colour: 1.0;  1.0;  1.0; position: -0.0; 0.3; -1.4; 0.0; 0.0; 0.0; dim:  0.45; "
    "0.1; 2\r\n"
    "QUAD;    id 160; texture:  0; colour: 1.0;  1.0;  0.5; vertices: -1.6; -2.0; -1.4;   1.6; -2.0; -1.4;   1.6; "
    "6.0; -1.4;   -1.6;  6.0; -1.4;\r\n"
    "EGO;  0.0; 0.0; 0.1;  0.1; 0.0; 0.0\r\n"
    "EGO;  0.0; 0.0; 0.2;  0.1; 3.0; 0.0\r\n"
    "EGO;  0.0; 0.0; 0.3;  0.1; 3.0; 0.0";

// The same with a plane: every drawing of a plane steps the random state that
// the noise also draws from, so the desktop and the command line only agree if
// they draw the same number of times.
const std::string kThreeFramesWithPlane =
    std::string(kThreeFrames) + "\r\nPLANE; id 170; texture: 2; colour: 1;1;1; normal: 1.0; 0.0; 0.0; point: 1.55; 0; 0";

// The pointer moving over the viewer, as its mouse tracking receives it.
void MovePointer(const QPoint& at) {
  QMouseEvent move(QEvent::MouseMove, QPointF(at), Viewer()->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(Viewer(), &move);
}

}  // namespace

class AppRunTest : public QObject {
  Q_OBJECT
  CollectingNotifier notifier_;
  QTemporaryDir dir_;

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

  void LoadScene(const char* text) {
    WriteAll(Path(QStringLiteral("scene.txt")), text);
    SceneEditorWindow()->Edit1->setText(Path(QStringLiteral("scene.txt")));
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    StartWindows(notifier_, ',');
  }
  void cleanupTestCase() { StopWindows(); }

  // First, while the process's random state is fresh as in the command-line tool.
  void startRunsToTheEndAndMatchesTheCommandLine() {
    LoadScene(kThreeFramesWithPlane.c_str());
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("app")));
    ControlPanelWindow()->UpDown1->setValue(4);
    QDir().mkpath(Path(QStringLiteral("app")));
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Stop"));
    QCOMPARE(ControlPanelWindow()->ProgressBar1->maximum(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 3);
    QVERIFY2(ControlPanelWindow()->StatusLine->toolTip().startsWith(QStringLiteral("Done: 3 frames written in ")),
             qPrintable(ControlPanelWindow()->StatusLine->toolTip()));
    QCOMPARE(Viewer()->GetViewer().Rig().FrameCounter, -1);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    QVERIFY(!Viewer()->Timer1->isActive());

    const QStringList appFiles = FilesUnder(Path(QStringLiteral("app")));
    QCOMPARE(appFiles.size(), 15 + 4);  // five files per frame; calib, meta, scene, poses
    QVERIFY(appFiles.contains(QStringLiteral("4/left_0002.bmp")));
    QVERIFY(appFiles.contains(QStringLiteral("4/seg_l_0000.bmp")));

    // The right camera, as a user makes the second half of a stereo pair.
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    const QStringList pairFiles = FilesUnder(Path(QStringLiteral("app")));
    QCOMPARE(pairFiles.size(), 30 + 5);
    QVERIFY(pairFiles.contains(QStringLiteral("4/right_0002.bmp")));

#ifdef TOVIMAR_RENDER_EXE
    QProcess cli;
    cli.start(QStringLiteral(TOVIMAR_RENDER_EXE),
              {"--out", Path(QStringLiteral("cli")), "--seq", "4", "--camera", "both", "--quiet", "--textures",
               QStringLiteral(TOVIMAR_SOURCE_DIR "/assets"), Path(QStringLiteral("scene.txt"))});
    QVERIFY(cli.waitForFinished(300000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(FilesUnder(Path(QStringLiteral("cli"))), pairFiles);
    for (const QString& file : pairFiles) {
      if (file.endsWith(QStringLiteral("meta.json"))) continue;  // how each was asked for, wall times
      QVERIFY2(ReadAll(Path("app/" + file)) == ReadAll(Path("cli/" + file)), qPrintable(file));
    }
#else
    QSKIP("tovimar-render is not built");
#endif
  }

  void stopBetweenFramesEndsTheRunAtOnce() {
    LoadScene(kThreeFrames);
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("stop")));
    ControlPanelWindow()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("stop")));
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Start
    for (int frame = 0; frame < 2; ++frame) {
      Viewer()->Timer1Timer(Viewer()->Timer1);  // before any timer tick
      Viewer()->WaitForWorker();
    }
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 2);
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Stop
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"));
    QVERIFY(!Viewer()->Timer1->isActive());
    // A run that did not reach its last frame resets the bar and says why.
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 0);
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip(), QStringLiteral("Stopped by the user after 2 of 3 frames."));
    QCOMPARE(Viewer()->GetViewer().Rig().FrameCounter, -1);
    const QStringList files = FilesUnder(Path(QStringLiteral("stop")));
    QCOMPARE(files.size(), 10 + 4);
    QVERIFY(files.contains(QStringLiteral("0/left_0001.bmp")));
    QVERIFY(!files.contains(QStringLiteral("0/left_0002.bmp")));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void aviExportOfTheStoppedRun() {
    Viewer()->Button10Click(Viewer()->Button10);  // reads left_0000.. of the panel's folder and number
    QVERIFY(QFileInfo(Path(QStringLiteral("stop/0/L.avi"))).size() > 0);
    // The panel's button does the same, and says what it wrote.
    QFile::remove(Path(QStringLiteral("stop/0/L.avi")));
    QTest::mouseClick(ControlPanelWindow()->ExportAviButton, Qt::LeftButton);
    QVERIFY(QFileInfo(Path(QStringLiteral("stop/0/L.avi"))).size() > 0);
    QVERIFY2(ControlPanelWindow()->StatusLine->toolTip().startsWith(QStringLiteral("Export AVI: 2 frames into ")),
             qPrintable(ControlPanelWindow()->StatusLine->toolTip()));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // An earlier, longer run left its image of frame 2 beside the stopped run's
  // two frames: the export takes only the frames the last run wrote.
  void aviExportLeavesOutAnEarlierRunsImages() {
    QVERIFY(QFile::copy(Path(QStringLiteral("stop/0/left_0001.bmp")), Path(QStringLiteral("stop/0/left_0002.bmp"))));
    QTest::mouseClick(ControlPanelWindow()->ExportAviButton, Qt::LeftButton);
    const QString status = ControlPanelWindow()->StatusLine->toolTip();
    QVERIFY2(status.startsWith(QStringLiteral("Export AVI: 2 frames into ")), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("left out 1 camera image of an earlier run (frame 2)")),
             qPrintable(status));
    QFile::remove(Path(QStringLiteral("stop/0/left_0002.bmp")));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void aFrameThatCannotBeWrittenEndsTheRun() {
    WriteAll(Path(QStringLiteral("plain-file")), "x");
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("plain-file")));  // no folder can be made below a file
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(QStringLiteral("cannot lock the sequence folder ")) &&
                 messages[0].endsWith(QStringLiteral("Not a directory")),
             qPrintable(messages[0]));
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip(), QStringLiteral("Error: ") + messages[0]);
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 0);
    QVERIFY(!Viewer()->Timer1->isActive());
    // The next Start runs again.
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("stop")));
    ControlPanelWindow()->CheckBox2->setChecked(true);  // preview only
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Stop"));
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 3);
    ControlPanelWindow()->CheckBox2->setChecked(false);
    QVERIFY(notifier_.messages.isEmpty());
  }

  // Preparing the scene (Prepare, Load) while a run is going ends the run
  // first and says so: no frame is drawn from a half-prepared scene.
  void preparationDuringARunStopsTheRunFirst() {
    LoadScene(kThreeFrames);
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("prepare")));
    ControlPanelWindow()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("prepare")));
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Start
    Viewer()->Timer1Timer(Viewer()->Timer1);    // frame 0
    Viewer()->WaitForWorker();
    // The box that says the run was stopped comes before the preparation; the
    // run must already be over by then. The conversion error goes to the list.
    SceneEditorWindow()->Memo1->appendPlainText(QStringLiteral("SPHERE; 1x2"));
    bool runningDuringBox = true;
    notifier_.onNotify = [&runningDuringBox] {
      runningDuringBox = Viewer()->Session().Running() || Viewer()->Timer1->isActive();
    };
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);  // Prepare
    notifier_.onNotify = nullptr;
    QVERIFY(!runningDuringBox);
    QVERIFY(!Viewer()->Session().Running());
    QVERIFY(!Viewer()->Timer1->isActive());
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"));
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip(),
             QStringLiteral("The scene text has 1 problem: see the list in the scene editor"));
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 0);
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(QStringLiteral("run was stopped")), qPrintable(messages[0]));
    // The list names the line, the number and the text as written.
    QCOMPARE(SceneEditorWindow()->SceneErrors->topLevelItemCount(), 1);
    const QTreeWidgetItem* report = SceneEditorWindow()->SceneErrors->topLevelItem(0);
    QCOMPARE(report->text(0) + "|" + report->text(1) + "|" + report->text(2), QStringLiteral("11|1| 1x2"));
    QVERIFY2(report->text(3).startsWith(QStringLiteral("Convert error: ")), qPrintable(report->text(3)));
    // Frame 0 of the left camera only, and calib, meta, scene, poses.
    QCOMPARE(FilesUnder(Path(QStringLiteral("prepare"))).size(), 5 + 4);
    LoadScene(kThreeFrames);  // over the line typed above, which was not saved
    QCOMPARE(notifier_.TakeMessages(), QStringList{"<asked before replacing unsaved text>"});
  }

  void applyDuringARunEndsItAndSaysSo() {
    ControlPanelWindow()->CheckBox2->setChecked(true);  // preview only
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Start
    Viewer()->Timer1Timer(Viewer()->Timer1);    // frame 0
    Viewer()->WaitForWorker();
    ControlPanelWindow()->Button2Click(ControlPanelWindow()->Button2);  // Apply, the same resolution
    QVERIFY(!Viewer()->Session().Running());
    QVERIFY(!Viewer()->Timer1->isActive());
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip(),
             QStringLiteral("Interrupted by Apply (new resolution) after 1 of 3 frames."));
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 0);
    ControlPanelWindow()->CheckBox2->setChecked(false);
    QVERIFY(notifier_.messages.isEmpty());
  }

  void groundTruthViewsShowTheFilesJustWritten() {
    LoadScene(kThreeFrames);
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("truth")));
    ControlPanelWindow()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("truth")));
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(Viewer()->LastWrittenFrame().frame, 2);

    // Disparity: the colours of the values in the disparity text file.
    QTest::keyClick(Viewer(), Qt::Key_2);
    QCOMPARE(Viewer()->GetViewMode(), tovimar::ViewMode::Disparity);
    const QImage shown = Viewer()->ShownImage();
    int w = 0, h = 0;
    std::vector<float> d;
    QVERIFY(tovimar::ReadDisparityText(tovimar::ToStd(Path(QStringLiteral("truth/0/lbindisp_0002.dat"))), w, h, d));
    QCOMPARE(shown.size(), QSize(w, h));
    const float maximum = tovimar::DisparityScaleMax(d);
    QVERIFY(maximum > 1.0f);
    QSet<QRgb> colours;
    for (int y = 0; y < h - tovimar::kScaleBarHeight; y += 3) {
      for (int x = 0; x < w; x += 3) {
        const QRgb expected = tovimar::DisparityColour(d[static_cast<std::size_t>(y * w + x)], maximum);
        QCOMPARE(shown.pixel(x, y), expected);
        colours.insert(expected);
      }
    }
    QVERIFY(colours.size() > 20);
    // The status label's text under the pointer: the file's value and id.
    const QImage seg(Path(QStringLiteral("truth/0/seg_l_0002.bmp")));
    const QString probe = Viewer()->ProbeText(w / 2, h / 2);
    QVERIFY2(probe.contains(QString::number(static_cast<double>(d[static_cast<std::size_t>(h / 2 * w + w / 2)]), 'f', 3)),
             qPrintable(probe));
    QVERIFY2(probe.contains(QStringLiteral("id %1").arg(qRed(seg.pixel(w / 2, h / 2)))), qPrintable(probe));

    // A frame shown scaled down gets its scale bar again at screen size.
    Viewer()->SetDisplayLimit(QSize(256, 192));
    const QImage small = Viewer()->grab().toImage();
    QCOMPARE(small.size(), QSize(256, 192));
    const int barY = 192 - tovimar::kScaleBarHeight + 2 + 4;
    QCOMPARE(small.pixel(8 + 256 - 16 - 1, barY), tovimar::DisparityColour(maximum, maximum));
    QCOMPARE(small.pixel(8, barY), tovimar::DisparityColour(maximum / (256 - 16), maximum));
    Viewer()->SetDisplayLimit(QSize(16384, 16384));

    // Segmentation: the map's ids in colours far apart; no masks were asked for.
    QTest::keyClick(Viewer(), Qt::Key_3);
    const QImage segShown = Viewer()->ShownImage();
    QCOMPARE(segShown.size(), seg.size());
    QMap<int, QRgb> shownOf;  // id -> the colour shown for it
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const QRgb grey = seg.pixel(x, y);
        if (grey == qRgb(255, 255, 255)) {
          QCOMPARE(segShown.pixel(x, y), grey);
          continue;
        }
        const auto known = shownOf.constFind(qRed(grey));
        if (known == shownOf.constEnd())
          shownOf.insert(qRed(grey), segShown.pixel(x, y));
        else
          QCOMPARE(segShown.pixel(x, y), *known);  // one colour per id
      }
    }
    // Every two ids present differ clearly, among them the cylinder's 50 and
    // the floor's 160 (one shade of pink apart before).
    QVERIFY(shownOf.contains(50) && shownOf.contains(160));
    for (auto a = shownOf.cbegin(); a != shownOf.cend(); ++a) {
      for (auto b = std::next(a); b != shownOf.cend(); ++b) {
        const int apart = std::abs(qRed(*a) - qRed(*b)) + std::abs(qGreen(*a) - qGreen(*b)) +
                          std::abs(qBlue(*a) - qBlue(*b));
        QVERIFY2(apart > 100, qPrintable(QStringLiteral("ids %1 and %2: %3").arg(a.key()).arg(b.key()).arg(apart)));
      }
    }
    QTest::keyClick(Viewer(), Qt::Key_4);
    QVERIFY(Viewer()->ShownImage().isNull());
    Viewer()->ViewMenu->findChild<QAction*>(QStringLiteral("view_1"))->trigger();
    QCOMPARE(Viewer()->GetViewMode(), tovimar::ViewMode::Camera);
    QCOMPARE(Viewer()->ShownImage().size(), QSize(512, 384));

    // A file that is not a disparity text is refused.
    WriteAll(Path(QStringLiteral("bad.dat")), "3\r\n2\r\n1\r\n2\r\n");
    QVERIFY(!tovimar::ReadDisparityText(tovimar::ToStd(Path(QStringLiteral("bad.dat"))), w, h, d));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // The views say what they show, step through the run's frames, keep the
  // readout off the colour bar, and say when the view has moved.
  void truthViewsSayWhatTheyShowAndStepThroughTheFrames() {
    QCOMPARE(Viewer()->LastWrittenFrame().frame, 2);  // the run of the test above
    QTest::keyClick(Viewer(), Qt::Key_2);
    QVERIFY(Viewer()->ProbeLabel->isVisible());
    QCOMPARE(Viewer()->ProbeLabel->text(), QStringLiteral("Disparity, left camera, frame 2"));
    QCOMPARE(Viewer()->ProbeLabel->pos(), QPoint(0, 0));  // the colour bar is at the bottom
    int w = 0, h = 0;
    std::vector<float> d;
    QTest::keyClick(Viewer(), Qt::Key_Left);
    QCOMPARE(Viewer()->TruthFrame().frame, 1);
    QVERIFY(tovimar::ReadDisparityText(tovimar::ToStd(Path(QStringLiteral("truth/0/lbindisp_0001.dat"))), w, h, d));
    QVERIFY(Viewer()->Truth().disparity == d);
    QCOMPARE(Viewer()->ProbeLabel->text(), QStringLiteral("Disparity, left camera, frame 1"));
    QTest::keyClick(Viewer(), Qt::Key_PageUp);
    QTest::keyClick(Viewer(), Qt::Key_PageUp);  // no frame before 0
    QCOMPARE(Viewer()->TruthFrame().frame, 0);
    for (int i = 0; i < 4; ++i) QTest::keyClick(Viewer(), Qt::Key_Right);  // nor after the last one written
    QCOMPARE(Viewer()->TruthFrame().frame, 2);
    QCOMPARE(Viewer()->LastWrittenFrame().frame, 2);  // what Evaluate scores stays the last frame
    QTest::keyClick(Viewer(), Qt::Key_3);
    QVERIFY(Viewer()->ProbeLabel->text().startsWith(QStringLiteral("Segmentation, left camera, frame 2")));

    // The camera image: its caption at once, the readout under the pointer
    // until the view moves.
    QTest::keyClick(Viewer(), Qt::Key_1);
    QVERIFY(Viewer()->ProbeLabel->isVisible());
    QCOMPARE(Viewer()->ProbeLabel->text(), QStringLiteral("Camera image, left camera"));
    MovePointer(QPoint(100, 100));
    QVERIFY2(Viewer()->ProbeLabel->text().startsWith(QStringLiteral("Camera image, left camera | x 100, y 100")),
             qPrintable(Viewer()->ProbeLabel->text()));
    QTest::keyClick(Viewer(), Qt::Key_Left);  // orbits
    MovePointer(QPoint(101, 100));
    QVERIFY2(Viewer()->ProbeLabel->text().contains(QStringLiteral("the view has moved")),
             qPrintable(Viewer()->ProbeLabel->text()));
    QTest::keyClick(Viewer(), Qt::Key_Home);
    MovePointer(QPoint(100, 101));
    QVERIFY(Viewer()->ProbeLabel->text().contains(QStringLiteral("x 100, y 101")));
    // Enlarged (twice the frame, and wider than its proportions), the picture
    // is scaled and the readout names the frame's pixel under the pointer.
    Viewer()->resize(2 * 512 + 100, 2 * 384);
    MovePointer(QPoint(201, 203));
    QVERIFY2(Viewer()->ProbeLabel->text().contains(QStringLiteral("x 100, y 101")), qPrintable(Viewer()->ProbeLabel->text()));
    MovePointer(QPoint(2 * 512 + 50, 10));  // beside the picture: no readout
    QCOMPARE(Viewer()->ProbeLabel->text(), QStringLiteral("Camera image, left camera"));
    Viewer()->resize(512, 384);
    QEvent leave(QEvent::Leave);  // the pointer leaves: the caption alone
    QApplication::sendEvent(Viewer(), &leave);
    QCOMPARE(Viewer()->ProbeLabel->text(), QStringLiteral("Camera image, left camera"));

    // Esc closes the help.
    QTest::keyClick(Viewer(), Qt::Key_F1);
    QVERIFY(Viewer()->HelpWindow->isVisible());
    QTest::keyClick(Viewer()->HelpWindow, Qt::Key_Escape);
    QVERIFY(!Viewer()->HelpWindow->isVisible());
    QVERIFY(notifier_.messages.isEmpty());
  }

  void developerKeysMoveTheViewAndResetRestoresIt() {
    LoadScene(kThreeFrames);  // no plane: the same view draws the same picture
    tovimar::Renderer& viewer = Viewer()->GetViewer();
    Viewer()->FormPaint();
    const QImage before = Viewer()->ShownImage();
    QTest::keyClick(Viewer(), Qt::Key_Left);
    QTest::keyClick(Viewer(), Qt::Key_Up);
    QTest::keyClick(Viewer(), Qt::Key_Plus);
    QCOMPARE(viewer.viewAzimuth, 2.0f);
    QCOMPARE(viewer.viewElevation, 88.0f);
    QVERIFY(qAbs(viewer.viewDistance - 2.8) < 1e-9);
    QWheelEvent wheel(QPointF(10, 10), Viewer()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Viewer(), &wheel);
    QVERIFY(qAbs(viewer.viewDistance - 3.2) < 1e-9);
    QVERIFY(Viewer()->ShownImage() != before);
    QTest::keyClick(Viewer(), Qt::Key_Home);
    QCOMPARE(Viewer()->ShownImage(), before);
    QTest::keyClick(Viewer(), Qt::Key_Right);
    QTest::keyClick(Viewer(), Qt::Key_Minus);
    QTest::keyClick(Viewer(), Qt::Key_R);
    QCOMPARE(Viewer()->ShownImage(), before);

    // During a run the keys move nothing (a drawing would change the frames).
    ControlPanelWindow()->CheckBox2->setChecked(true);
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QTest::keyClick(Viewer(), Qt::Key_Left);
    QCOMPARE(viewer.viewAzimuth, 0.0f);
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    ControlPanelWindow()->CheckBox2->setChecked(false);

    // Ctrl+S saves the picture; F1 shows the keys.
    Viewer()->SavePictureDialog1 = [this] { return Path(QStringLiteral("keys.bmp")); };
    QTest::keyClick(Viewer(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(Viewer()->Timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!Viewer()->Timer2->isActive(), 10000);
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("keys.bmp"))));
    QTest::keyClick(Viewer(), Qt::Key_F1);
    QVERIFY(Viewer()->HelpWindow->isVisible());
    Viewer()->HelpWindow->hide();
    QVERIFY(notifier_.messages.isEmpty());
  }

  void developerControlsDriveTheView() {
    tovimar::Renderer& viewer = Viewer()->GetViewer();
    Viewer()->FormPaint();
    for (int i = 0; i < 3; ++i) Viewer()->Button5Click(Viewer()->Button5);
    QVERIFY(qAbs(viewer.viewDistance - 3.6) < 1e-9);
    Viewer()->Button1Click(Viewer()->Button1);
    Viewer()->Button2Click(Viewer()->Button2);
    QCOMPARE(viewer.viewElevation, 88.0f);
    QCOMPARE(viewer.viewAzimuth, 2.0f);
    Viewer()->FormPaint();  // a repaint returns to the defaults
    QCOMPARE(viewer.viewDistance, 3.0);
    QCOMPARE(viewer.viewElevation, 90.0f);
    QCOMPARE(viewer.viewAzimuth, 0.0f);
    Viewer()->TrackBar1->setValue(-50);
    QCOMPARE(viewer.Rig().LightPosition[2], -50.0f);
    Viewer()->TrackBar1->setValue(0);
    Viewer()->Button9->show();
    Viewer()->Button7->show();
    Viewer()->HideDeveloperControls();
    QVERIFY(Viewer()->Button9->isHidden());
    QVERIFY(!Viewer()->Button7->isHidden());  // "Start" is not a developer control
    Viewer()->Button7->hide();
  }

  void cameraRadioGroupTogglesTheViewerBox() {
    QVERIFY(!Viewer()->CheckBox1->isChecked());
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    QVERIFY(Viewer()->CheckBox1->isChecked());
    QVERIFY(Viewer()->RightCamera());
    ControlPanelWindow()->RadioGroup2->Item(1)->click();  // no change of selection, no inversion
    QVERIFY(Viewer()->CheckBox1->isChecked());
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    QVERIFY(!Viewer()->CheckBox1->isChecked());
    // The box is what counts: the radio group inverts it whatever it shows.
    Viewer()->CheckBox1->setChecked(true);
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    QVERIFY(!Viewer()->CheckBox1->isChecked());
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    QVERIFY(Viewer()->CheckBox1->isChecked());
    Viewer()->CheckBox1->setChecked(false);
  }

  void cameraSwitchShiftsTheShownPicture() {
    LoadScene(kThreeFrames);
    const QImage left = Viewer()->ShownImage();
    QCOMPARE(left.size(), QSize(512, 384));
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    const QImage right = Viewer()->ShownImage();
    QVERIFY(left != right);
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    QCOMPARE(Viewer()->ShownImage(), left);
    // The window shows the same picture (below the caption at its top).
    const QRect below(0, Viewer()->ProbeLabel->height(), 512, 384 - Viewer()->ProbeLabel->height());
    QCOMPARE(Viewer()->grab().toImage().convertToFormat(QImage::Format_RGB888).copy(below), left.copy(below));
  }

  void pictureSaveWritesOnceOrReportsOnce() {
    Viewer()->SavePictureDialog1 = [this] { return Path(QStringLiteral("view.bmp")); };
    Viewer()->Button13Click(Viewer()->Button13);
    QVERIFY(Viewer()->Timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!Viewer()->Timer2->isActive(), 10000);
    const QByteArray bmp = ReadAll(Path(QStringLiteral("view.bmp")));
    QCOMPARE(bmp.size(), 54 + 512 * 384 * 3);
    QVERIFY(bmp.startsWith("BM"));
    // The file holds the picture the window shows, upright and in its colours.
    const QImage saved(Path(QStringLiteral("view.bmp")), "BMP");
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB888), Viewer()->ShownImage());

    Viewer()->SavePictureDialog1 = [this] { return Path(QStringLiteral("missing/view.bmp")); };
    Viewer()->Button13Click(Viewer()->Button13);
    QTRY_VERIFY_WITH_TIMEOUT(!Viewer()->Timer2->isActive(), 10000);
    QTest::qWait(1200);  // no second attempt
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].startsWith(QStringLiteral("Cannot create file ")));

    Viewer()->SavePictureDialog1 = [] { return QString(); };  // cancelled
    Viewer()->Button13Click(Viewer()->Button13);
    QVERIFY(!Viewer()->Timer2->isActive());
  }

  void applyChangesTheViewerTo320x240() {
    ControlPanelWindow()->RadioGroup1->SetItemIndex(0);
    QTest::mouseClick(ControlPanelWindow()->Button2, Qt::LeftButton);
    QCOMPARE(Viewer()->size(), QSize(320, 240));
    QCOMPARE(Viewer()->GetViewer().ClientWidth(), 320);
    QCOMPARE(Viewer()->GetViewer().ClientHeight(), 240);
    QVERIFY(Viewer()->GetViewer().HasContext());
    QCOMPARE(Viewer()->ShownImage().size(), QSize(320, 240));  // the repaint after the resize
    // Without a selected item, Apply also gives 320 x 240.
    ControlPanelWindow()->RadioGroup1->SetItemIndex(-1);
    ControlPanelWindow()->Button2Click(ControlPanelWindow()->Button2);
    QCOMPARE(Viewer()->size(), QSize(320, 240));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // After Apply the prepared scene is shown as a preparation at the new size
  // shows it: textured, from the camera chosen.
  void applyKeepsTheTexturesOfThePreview() {
    LoadScene(kThreeFrames);
    for (int camera : {0, 1}) {
      ControlPanelWindow()->RadioGroup2->Item(camera)->click();
      ControlPanelWindow()->RadioGroup1->SetItemIndex(camera == 0 ? 0 : 1);
      ControlPanelWindow()->Button2Click(ControlPanelWindow()->Button2);  // Apply
      const QImage applied = Viewer()->ShownImage();
      SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);  // Prepare at the new size
      QCOMPARE(applied.size(), ControlPanelWindow()->GetResolution());
      QVERIFY2(applied == Viewer()->ShownImage(), camera == 0 ? "left camera" : "right camera");
    }
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    QVERIFY(notifier_.messages.isEmpty());
  }

  // A name without an extension gets ".bmp".
  void pictureSaveAddsTheBmpExtension() {
    Viewer()->SavePictureDialog1 = [this] { return Path(QStringLiteral("bare")); };
    Viewer()->Button13Click(Viewer()->Button13);
    QTRY_VERIFY_WITH_TIMEOUT(!Viewer()->Timer2->isActive(), 10000);
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("bare.bmp"))));
    QVERIFY(!QFileInfo::exists(Path(QStringLiteral("bare"))));
    Viewer()->SavePictureDialog1 = [this] { return Path(QStringLiteral("named.BMP")); };  // an extension stays
    Viewer()->Button13Click(Viewer()->Button13);
    QTRY_VERIFY_WITH_TIMEOUT(!Viewer()->Timer2->isActive(), 10000);
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("named.BMP"))));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // A typed folder that does not exist yet is made, parents included.
  void startMakesTheTypedFolder() {
    LoadScene(kThreeFrames);
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("typed/new")));
    ControlPanelWindow()->UpDown1->setValue(0);
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("typed/new/0/left_0002.bmp"))));
  }

  // The resolution shown selected is the one written, Apply pressed or not.
  void startRendersTheSelectedResolution() {
    ControlPanelWindow()->RadioGroup1->SetItemIndex(0);
    ControlPanelWindow()->Button2Click(ControlPanelWindow()->Button2);
    ControlPanelWindow()->RadioGroup1->SetItemIndex(1);  // selected, not applied
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("selected")));
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QVERIFY2(ControlPanelWindow()->StatusLine->toolTip().contains(QStringLiteral("512 x 384 was applied first")),
             qPrintable(ControlPanelWindow()->StatusLine->toolTip()));
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(Viewer()->RenderSize(), QSize(512, 384));
    QCOMPARE(QImage(Path(QStringLiteral("selected/0/left_0000.bmp"))).size(), QSize(512, 384));
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
  }

  // "Both cameras": one Start writes the left run, then the right one, the
  // same files as the command line's "--camera both".
  void bothCamerasInOnePress() {
    LoadScene(kThreeFrames);
    // The random state and the light (moved by the developer slider above) as
    // fresh as the command line's.
    Viewer()->GetViewer().Rig().random = {};
    Viewer()->GetViewer().Rig().LightPosition = tovimar::RigState{}.LightPosition;
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("both")));
    ControlPanelWindow()->UpDown1->setValue(2);
    ControlPanelWindow()->RadioGroup2->Item(1)->click();  // whatever is selected, the left camera comes first
    ControlPanelWindow()->BothCameras->setChecked(true);
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QVERIFY(!Viewer()->RightCamera());
    QVERIFY(ControlPanelWindow()->BothCamerasPending());
    QTRY_VERIFY_WITH_TIMEOUT(!ControlPanelWindow()->BothCamerasPending() && !Viewer()->Running(), 300000);
    QVERIFY(Viewer()->RightCamera());
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    const QStringList files = FilesUnder(Path(QStringLiteral("both")));
    QCOMPARE(files.size(), 30 + 5);
#ifdef TOVIMAR_RENDER_EXE
    QProcess cli;
    cli.start(QStringLiteral(TOVIMAR_RENDER_EXE),
              {"--out", Path(QStringLiteral("both-cli")), "--seq", "2", "--camera", "both", "--quiet", "--textures",
               QStringLiteral(TOVIMAR_SOURCE_DIR "/assets"), Path(QStringLiteral("scene.txt"))});
    QVERIFY(cli.waitForFinished(300000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(FilesUnder(Path(QStringLiteral("both-cli"))), files);
    for (const QString& file : files) {
      if (file.endsWith(QStringLiteral("meta.json"))) continue;  // how each was asked for, wall times
      QVERIFY2(ReadAll(Path("both/" + file)) == ReadAll(Path("both-cli/" + file)), qPrintable(file));
    }
#endif
    // The camera chosen afterwards is the one the ground-truth views show.
    Viewer()->SetViewMode(tovimar::ViewMode::Disparity);
    QVERIFY(Viewer()->TruthFrame().rightCamera);
    const std::vector<float> rightDisparity = Viewer()->Truth().disparity;
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    QVERIFY(!Viewer()->TruthFrame().rightCamera);
    QCOMPARE(Viewer()->ViewDescription(), QStringLiteral("Disparity, left camera, frame 2"));
    tovimar::WrittenFrame left = Viewer()->LastWrittenFrame();
    left.rightCamera = false;
    QVERIFY(!Viewer()->Truth().disparity.empty());
    QVERIFY(Viewer()->Truth().disparity == tovimar::ReadWrittenFrame(left).disparity);
    QVERIFY(Viewer()->Truth().disparity != rightDisparity);
    Viewer()->SetViewMode(tovimar::ViewMode::Camera);
    // Over the camera's drawing the readout is of the camera shown: at a
    // pixel where the two disparities differ, the left one, then the right.
    const tovimar::TruthFiles leftTruth = tovimar::ReadWrittenFrame(left);
    std::size_t at = 0;
    while (at < rightDisparity.size() && std::abs(leftTruth.disparity[at] - rightDisparity[at]) < 0.01f) ++at;
    QVERIFY(at < rightDisparity.size());
    const int x = static_cast<int>(at % static_cast<std::size_t>(leftTruth.width));
    const int y = static_cast<int>(at / static_cast<std::size_t>(leftTruth.width));
    auto disparityText = [](float d) { return QString::number(static_cast<double>(d), 'f', 3) + QStringLiteral(" px"); };
    QVERIFY2(Viewer()->ProbeText(x, y).contains(disparityText(leftTruth.disparity[at])), qPrintable(Viewer()->ProbeText(x, y)));
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    QVERIFY2(Viewer()->ProbeText(x, y).contains(disparityText(rightDisparity[at])), qPrintable(Viewer()->ProbeText(x, y)));
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    // A stop during the left half ends the whole: no right run follows.
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("both-stopped")));
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Start
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);  // Stop
    QTRY_VERIFY_WITH_TIMEOUT(!Viewer()->Running(), 300000);
    QTest::qWait(50);
    QVERIFY(!ControlPanelWindow()->BothCamerasPending() && !Viewer()->Running());
    QVERIFY(!Viewer()->RightCamera());
    ControlPanelWindow()->BothCameras->setChecked(false);
  }

  // Each Start goes on from the random state the process's earlier runs left
  // (the desktop never starts it afresh); the command line makes any such run
  // again from the state its meta.json records, byte for byte.
  void laterStartsAreMadeAgainFromTheirRecordedRandomState() {
#ifdef TOVIMAR_RENDER_EXE
    LoadScene(kThreeFrames);
    Viewer()->GetViewer().Rig().LightPosition = tovimar::RigState{}.LightPosition;
    ControlPanelWindow()->BothCameras->setChecked(true);
    ControlPanelWindow()->UpDown1->setValue(0);
    QStringList states;
    for (const QString& name : {QStringLiteral("again1"), QStringLiteral("again2")}) {
      ControlPanelWindow()->Edit2->setText(Path(name));
      ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
      QTRY_VERIFY_WITH_TIMEOUT(!ControlPanelWindow()->BothCamerasPending() && !Viewer()->Running(), 300000);
      QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
      const QJsonObject start = QJsonDocument::fromJson(ReadAll(Path(name + "/0/meta.json")))
                                    .object()[QStringLiteral("runs")]
                                    .toObject()[QStringLiteral("left")]
                                    .toObject()[QStringLiteral("randomStateAtStart")]
                                    .toObject();
      QVERIFY(start.contains(QStringLiteral("low")) && start.contains(QStringLiteral("high")));
      const QString state = QString::number(static_cast<qint64>(start[QStringLiteral("low")].toDouble())) + "," +
                            QString::number(static_cast<qint64>(start[QStringLiteral("high")].toDouble()));
      states << state;
      QProcess cli;
      cli.start(QStringLiteral(TOVIMAR_RENDER_EXE),
                {"--out", Path(name + "-cli"), "--camera", "both", "--quiet", "--random-state", state, "--textures",
                 QStringLiteral(TOVIMAR_SOURCE_DIR "/assets"), Path(QStringLiteral("scene.txt"))});
      QVERIFY(cli.waitForFinished(300000));
      QCOMPARE(cli.exitCode(), 0);
      const QStringList files = FilesUnder(Path(name));
      QCOMPARE(files.size(), 30 + 5);
      QCOMPARE(FilesUnder(Path(name + "-cli")), files);
      for (const QString& file : files) {
        if (file.endsWith(QStringLiteral("meta.json"))) continue;  // how each was asked for, wall times
        QVERIFY2(ReadAll(Path(name + "/" + file)) == ReadAll(Path(name + "-cli/" + file)), qPrintable(file));
      }
    }
    QVERIFY2(states[0] != states[1], qPrintable(states.join(" ")));  // the second Start went on from the first
    ControlPanelWindow()->BothCameras->setChecked(false);
#else
    QSKIP("tovimar-render is not built");
#endif
  }
};

QTEST_MAIN(AppRunTest)
#include "tst_app_run.moc"
