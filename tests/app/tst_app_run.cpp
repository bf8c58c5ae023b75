// Runs from the control panel: a whole run writes what the command-line
// generator writes, Stop between frames ends a run at once; the camera radio
// group, "Apply", the picture save and the AVI export of the viewer.
#include <QDir>
#include <QDirIterator>
#include <QMouseEvent>
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
#include "sequence/run_session.h"

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
  QMouseEvent move(QEvent::MouseMove, QPointF(at), Form1()->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(Form1(), &move);
}

}  // namespace

class AppRunTest : public QObject {
  Q_OBJECT
  CollectingNotifier notifier_;
  QTemporaryDir dir_;

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

  void LoadScene(const char* text) {
    WriteAll(Path(QStringLiteral("scene.txt")), text);
    Form2()->Edit1->setText(Path(QStringLiteral("scene.txt")));
    Form2()->Button2Click(Form2()->Button2);
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
    Form3()->Edit2->setText(Path(QStringLiteral("app")));
    Form3()->UpDown1->setValue(4);
    QDir().mkpath(Path(QStringLiteral("app")));
    QTest::mouseClick(Form3()->Button3, Qt::LeftButton);
    QCOMPARE(Form3()->Button3->text(), QStringLiteral("Stop"));
    QCOMPARE(Form3()->ProgressBar1->maximum(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(Form3()->ProgressBar1->value(), 3);
    QVERIFY2(Form3()->StatusLine->toolTip().startsWith(QStringLiteral("Done: 3 frames written in ")),
             qPrintable(Form3()->StatusLine->toolTip()));
    QCOMPARE(Form1()->GetViewer().Rig().FrameCounter, -1);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    QVERIFY(!Form1()->Timer1->isActive());

    const QStringList appFiles = FilesUnder(Path(QStringLiteral("app")));
    QCOMPARE(appFiles.size(), 15 + 4);  // five files per frame; calib, meta, scene, poses
    QVERIFY(appFiles.contains(QStringLiteral("4/left_0002.bmp")));
    QVERIFY(appFiles.contains(QStringLiteral("4/seg_l_0000.bmp")));

    // The right camera, as a user makes the second half of a stereo pair.
    Form3()->RadioGroup2->Item(1)->click();
    QTest::mouseClick(Form3()->Button3, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    Form3()->RadioGroup2->Item(0)->click();
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
    Form3()->Edit2->setText(Path(QStringLiteral("stop")));
    Form3()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("stop")));
    Form3()->Button3Click(Form3()->Button3);  // Start
    for (int frame = 0; frame < 2; ++frame) {
      Form1()->Timer1Timer(Form1()->Timer1);  // before any timer tick
      Form1()->WaitForWorker();
    }
    QCOMPARE(Form3()->ProgressBar1->value(), 2);
    Form3()->Button3Click(Form3()->Button3);  // Stop
    QCOMPARE(Form3()->Button3->text(), QStringLiteral("Start"));
    QVERIFY(!Form1()->Timer1->isActive());
    // A run that did not reach its last frame resets the bar and says why.
    QCOMPARE(Form3()->ProgressBar1->value(), 0);
    QCOMPARE(Form3()->StatusLine->toolTip(), QStringLiteral("Stopped by the user after 2 of 3 frames."));
    QCOMPARE(Form1()->GetViewer().Rig().FrameCounter, -1);
    const QStringList files = FilesUnder(Path(QStringLiteral("stop")));
    QCOMPARE(files.size(), 10 + 4);
    QVERIFY(files.contains(QStringLiteral("0/left_0001.bmp")));
    QVERIFY(!files.contains(QStringLiteral("0/left_0002.bmp")));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void aviExportOfTheStoppedRun() {
    Form1()->Button10Click(Form1()->Button10);  // reads left_0000.. of the panel's folder and number
    QVERIFY(QFileInfo(Path(QStringLiteral("stop/0/L.avi"))).size() > 0);
    // The panel's button does the same, and says what it wrote.
    QFile::remove(Path(QStringLiteral("stop/0/L.avi")));
    QTest::mouseClick(Form3()->ExportAviButton, Qt::LeftButton);
    QVERIFY(QFileInfo(Path(QStringLiteral("stop/0/L.avi"))).size() > 0);
    QVERIFY2(Form3()->StatusLine->toolTip().startsWith(QStringLiteral("Export AVI: 2 frames into ")),
             qPrintable(Form3()->StatusLine->toolTip()));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // An earlier, longer run left its image of frame 2 beside the stopped run's
  // two frames: the export takes only the frames the last run wrote.
  void aviExportLeavesOutAnEarlierRunsImages() {
    QVERIFY(QFile::copy(Path(QStringLiteral("stop/0/left_0001.bmp")), Path(QStringLiteral("stop/0/left_0002.bmp"))));
    QTest::mouseClick(Form3()->ExportAviButton, Qt::LeftButton);
    const QString status = Form3()->StatusLine->toolTip();
    QVERIFY2(status.startsWith(QStringLiteral("Export AVI: 2 frames into ")), qPrintable(status));
    QVERIFY2(status.contains(QStringLiteral("left out 1 camera image of an earlier run (frame 2)")),
             qPrintable(status));
    QFile::remove(Path(QStringLiteral("stop/0/left_0002.bmp")));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void aFrameThatCannotBeWrittenEndsTheRun() {
    WriteAll(Path(QStringLiteral("plain-file")), "x");
    Form3()->Edit2->setText(Path(QStringLiteral("plain-file")));  // no folder can be made below a file
    Form3()->Button3Click(Form3()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(QStringLiteral("cannot lock the sequence folder ")) &&
                 messages[0].endsWith(QStringLiteral("Not a directory")),
             qPrintable(messages[0]));
    QCOMPARE(Form3()->StatusLine->toolTip(), QStringLiteral("Error: ") + messages[0]);
    QCOMPARE(Form3()->ProgressBar1->value(), 0);
    QVERIFY(!Form1()->Timer1->isActive());
    // The next Start runs again.
    Form3()->Edit2->setText(Path(QStringLiteral("stop")));
    Form3()->CheckBox2->setChecked(true);  // preview only
    Form3()->Button3Click(Form3()->Button3);
    QCOMPARE(Form3()->Button3->text(), QStringLiteral("Stop"));
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(Form3()->ProgressBar1->value(), 3);
    Form3()->CheckBox2->setChecked(false);
    QVERIFY(notifier_.messages.isEmpty());
  }

  // Preparing the scene (Prepare, Load) while a run is going ends the run
  // first and says so: no frame is drawn from a half-prepared scene.
  void preparationDuringARunStopsTheRunFirst() {
    LoadScene(kThreeFrames);
    Form3()->Edit2->setText(Path(QStringLiteral("prepare")));
    Form3()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("prepare")));
    Form3()->Button3Click(Form3()->Button3);  // Start
    Form1()->Timer1Timer(Form1()->Timer1);    // frame 0
    Form1()->WaitForWorker();
    // The box that says the run was stopped comes before the preparation; the
    // run must already be over by then. The conversion error goes to the list.
    Form2()->Memo1->appendPlainText(QStringLiteral("SPHERE; 1x2"));
    bool runningDuringBox = true;
    notifier_.onNotify = [&runningDuringBox] {
      runningDuringBox = Form1()->Session().Running() || Form1()->Timer1->isActive();
    };
    Form2()->Button5Click(Form2()->Button5);  // Prepare
    notifier_.onNotify = nullptr;
    QVERIFY(!runningDuringBox);
    QVERIFY(!Form1()->Session().Running());
    QVERIFY(!Form1()->Timer1->isActive());
    QCOMPARE(Form3()->Button3->text(), QStringLiteral("Start"));
    QCOMPARE(Form3()->StatusLine->toolTip(),
             QStringLiteral("The scene text has 1 problem: see the list in the scene editor"));
    QCOMPARE(Form3()->ProgressBar1->value(), 0);
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(QStringLiteral("run was stopped")), qPrintable(messages[0]));
    // The list names the line, the number and the text as written.
    QCOMPARE(Form2()->SceneErrors->topLevelItemCount(), 1);
    const QTreeWidgetItem* report = Form2()->SceneErrors->topLevelItem(0);
    QCOMPARE(report->text(0) + "|" + report->text(1) + "|" + report->text(2), QStringLiteral("11|1| 1x2"));
    QVERIFY2(report->text(3).startsWith(QStringLiteral("Convert error: ")), qPrintable(report->text(3)));
    // Frame 0 of the left camera only, and calib, meta, scene, poses.
    QCOMPARE(FilesUnder(Path(QStringLiteral("prepare"))).size(), 5 + 4);
    LoadScene(kThreeFrames);  // over the line typed above, which was not saved
    QCOMPARE(notifier_.TakeMessages(), QStringList{"<asked before replacing unsaved text>"});
  }

  void applyDuringARunEndsItAndSaysSo() {
    Form3()->CheckBox2->setChecked(true);  // preview only
    Form3()->Button3Click(Form3()->Button3);  // Start
    Form1()->Timer1Timer(Form1()->Timer1);    // frame 0
    Form1()->WaitForWorker();
    Form3()->Button2Click(Form3()->Button2);  // Apply, the same resolution
    QVERIFY(!Form1()->Session().Running());
    QVERIFY(!Form1()->Timer1->isActive());
    QCOMPARE(Form3()->StatusLine->toolTip(),
             QStringLiteral("Interrupted by Apply (new resolution) after 1 of 3 frames."));
    QCOMPARE(Form3()->ProgressBar1->value(), 0);
    Form3()->CheckBox2->setChecked(false);
    QVERIFY(notifier_.messages.isEmpty());
  }

  void groundTruthViewsShowTheFilesJustWritten() {
    LoadScene(kThreeFrames);
    Form3()->Edit2->setText(Path(QStringLiteral("truth")));
    Form3()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("truth")));
    Form3()->Button3Click(Form3()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(Form1()->LastWrittenFrame().frame, 2);

    // Disparity: the colours of the values in the disparity text file.
    QTest::keyClick(Form1(), Qt::Key_2);
    QCOMPARE(Form1()->GetViewMode(), tovimar::ViewMode::Disparity);
    const QImage shown = Form1()->ShownImage();
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
    const QString probe = Form1()->ProbeText(w / 2, h / 2);
    QVERIFY2(probe.contains(QString::number(static_cast<double>(d[static_cast<std::size_t>(h / 2 * w + w / 2)]), 'f', 3)),
             qPrintable(probe));
    QVERIFY2(probe.contains(QStringLiteral("id %1").arg(qRed(seg.pixel(w / 2, h / 2)))), qPrintable(probe));

    // A frame shown scaled down gets its scale bar again at screen size.
    Form1()->SetDisplayLimit(QSize(256, 192));
    const QImage small = Form1()->grab().toImage();
    QCOMPARE(small.size(), QSize(256, 192));
    const int barY = 192 - tovimar::kScaleBarHeight + 2 + 4;
    QCOMPARE(small.pixel(8 + 256 - 16 - 1, barY), tovimar::DisparityColour(maximum, maximum));
    QCOMPARE(small.pixel(8, barY), tovimar::DisparityColour(maximum / (256 - 16), maximum));
    Form1()->SetDisplayLimit(QSize(16384, 16384));

    // Segmentation: the map's ids in colours far apart; no masks were asked for.
    QTest::keyClick(Form1(), Qt::Key_3);
    const QImage segShown = Form1()->ShownImage();
    QCOMPARE(segShown.size(), seg.size());
    for (int y = 0; y < h; y += 3) {
      for (int x = 0; x < w; x += 3) {
        const QRgb grey = seg.pixel(x, y);
        QCOMPARE(segShown.pixel(x, y), grey == qRgb(255, 255, 255) ? grey : tovimar::SegmentIdColour(qRed(grey)));
      }
    }
    // The cuboid's id 40 and the cylinder's 50, greys 10 apart in the map, are far apart on the screen.
    const QColor c40(tovimar::SegmentIdColour(40)), c50(tovimar::SegmentIdColour(50));
    QVERIFY(std::abs(c40.red() - c50.red()) + std::abs(c40.green() - c50.green()) +
                std::abs(c40.blue() - c50.blue()) > 150);
    QTest::keyClick(Form1(), Qt::Key_4);
    QVERIFY(Form1()->ShownImage().isNull());
    Form1()->ViewMenu->findChild<QAction*>(QStringLiteral("view_1"))->trigger();
    QCOMPARE(Form1()->GetViewMode(), tovimar::ViewMode::Camera);
    QCOMPARE(Form1()->ShownImage().size(), QSize(512, 384));

    // A file that is not a disparity text is refused.
    WriteAll(Path(QStringLiteral("bad.dat")), "3\r\n2\r\n1\r\n2\r\n");
    QVERIFY(!tovimar::ReadDisparityText(tovimar::ToStd(Path(QStringLiteral("bad.dat"))), w, h, d));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // The views say what they show, step through the run's frames, keep the
  // readout off the colour bar, and say when the view has moved.
  void truthViewsSayWhatTheyShowAndStepThroughTheFrames() {
    QCOMPARE(Form1()->LastWrittenFrame().frame, 2);  // the run of the test above
    QTest::keyClick(Form1(), Qt::Key_2);
    QVERIFY(Form1()->ProbeLabel->isVisible());
    QCOMPARE(Form1()->ProbeLabel->text(), QStringLiteral("Disparity, left camera, frame 2"));
    QCOMPARE(Form1()->ProbeLabel->pos(), QPoint(0, 0));  // the colour bar is at the bottom
    int w = 0, h = 0;
    std::vector<float> d;
    QTest::keyClick(Form1(), Qt::Key_Left);
    QCOMPARE(Form1()->TruthFrame().frame, 1);
    QVERIFY(tovimar::ReadDisparityText(tovimar::ToStd(Path(QStringLiteral("truth/0/lbindisp_0001.dat"))), w, h, d));
    QVERIFY(Form1()->Truth().disparity == d);
    QCOMPARE(Form1()->ProbeLabel->text(), QStringLiteral("Disparity, left camera, frame 1"));
    QTest::keyClick(Form1(), Qt::Key_PageUp);
    QTest::keyClick(Form1(), Qt::Key_PageUp);  // no frame before 0
    QCOMPARE(Form1()->TruthFrame().frame, 0);
    for (int i = 0; i < 4; ++i) QTest::keyClick(Form1(), Qt::Key_Right);  // nor after the last one written
    QCOMPARE(Form1()->TruthFrame().frame, 2);
    QCOMPARE(Form1()->LastWrittenFrame().frame, 2);  // what Evaluate scores stays the last frame
    QTest::keyClick(Form1(), Qt::Key_3);
    QVERIFY(Form1()->ProbeLabel->text().startsWith(QStringLiteral("Segmentation, left camera, frame 2")));

    // The camera image: the readout under the pointer, until the view moves.
    QTest::keyClick(Form1(), Qt::Key_1);
    QVERIFY(!Form1()->ProbeLabel->isVisible());
    MovePointer(QPoint(100, 100));
    QVERIFY2(Form1()->ProbeLabel->text().startsWith(QStringLiteral("Camera image, left camera | x 100, y 100")),
             qPrintable(Form1()->ProbeLabel->text()));
    QTest::keyClick(Form1(), Qt::Key_Left);  // orbits
    MovePointer(QPoint(101, 100));
    QVERIFY2(Form1()->ProbeLabel->text().contains(QStringLiteral("the view has moved")),
             qPrintable(Form1()->ProbeLabel->text()));
    QTest::keyClick(Form1(), Qt::Key_Home);
    MovePointer(QPoint(100, 101));
    QVERIFY(Form1()->ProbeLabel->text().contains(QStringLiteral("x 100, y 101")));
    QEvent leave(QEvent::Leave);  // the pointer leaves: the camera image shows alone
    QApplication::sendEvent(Form1(), &leave);
    QVERIFY(!Form1()->ProbeLabel->isVisible());

    // Esc closes the help.
    QTest::keyClick(Form1(), Qt::Key_F1);
    QVERIFY(Form1()->HelpWindow->isVisible());
    QTest::keyClick(Form1()->HelpWindow, Qt::Key_Escape);
    QVERIFY(!Form1()->HelpWindow->isVisible());
    QVERIFY(notifier_.messages.isEmpty());
  }

  void developerKeysMoveTheViewAndResetRestoresIt() {
    LoadScene(kThreeFrames);  // no plane: the same view draws the same picture
    tovimar::Renderer& viewer = Form1()->GetViewer();
    Form1()->FormPaint();
    const QImage before = Form1()->ShownImage();
    QTest::keyClick(Form1(), Qt::Key_Left);
    QTest::keyClick(Form1(), Qt::Key_Up);
    QTest::keyClick(Form1(), Qt::Key_Plus);
    QCOMPARE(viewer.viewAzimuth, 2.0f);
    QCOMPARE(viewer.viewElevation, 88.0f);
    QVERIFY(qAbs(viewer.viewDistance - 2.8) < 1e-9);
    QWheelEvent wheel(QPointF(10, 10), Form1()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(Form1(), &wheel);
    QVERIFY(qAbs(viewer.viewDistance - 3.2) < 1e-9);
    QVERIFY(Form1()->ShownImage() != before);
    QTest::keyClick(Form1(), Qt::Key_Home);
    QCOMPARE(Form1()->ShownImage(), before);
    QTest::keyClick(Form1(), Qt::Key_Right);
    QTest::keyClick(Form1(), Qt::Key_Minus);
    QTest::keyClick(Form1(), Qt::Key_R);
    QCOMPARE(Form1()->ShownImage(), before);

    // During a run the keys move nothing (a drawing would change the frames).
    Form3()->CheckBox2->setChecked(true);
    Form3()->Button3Click(Form3()->Button3);
    QTest::keyClick(Form1(), Qt::Key_Left);
    QCOMPARE(viewer.viewAzimuth, 0.0f);
    Form3()->Button3Click(Form3()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    Form3()->CheckBox2->setChecked(false);

    // Ctrl+S saves the picture; F1 shows the keys.
    Form1()->SavePictureDialog1 = [this] { return Path(QStringLiteral("keys.bmp")); };
    QTest::keyClick(Form1(), Qt::Key_S, Qt::ControlModifier);
    QVERIFY(Form1()->Timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!Form1()->Timer2->isActive(), 10000);
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("keys.bmp"))));
    QTest::keyClick(Form1(), Qt::Key_F1);
    QVERIFY(Form1()->HelpWindow->isVisible());
    Form1()->HelpWindow->hide();
    QVERIFY(notifier_.messages.isEmpty());
  }

  void developerControlsDriveTheView() {
    tovimar::Renderer& viewer = Form1()->GetViewer();
    Form1()->FormPaint();
    for (int i = 0; i < 3; ++i) Form1()->Button5Click(Form1()->Button5);
    QVERIFY(qAbs(viewer.viewDistance - 3.6) < 1e-9);
    Form1()->Button1Click(Form1()->Button1);
    Form1()->Button2Click(Form1()->Button2);
    QCOMPARE(viewer.viewElevation, 88.0f);
    QCOMPARE(viewer.viewAzimuth, 2.0f);
    Form1()->FormPaint();  // a repaint returns to the defaults
    QCOMPARE(viewer.viewDistance, 3.0);
    QCOMPARE(viewer.viewElevation, 90.0f);
    QCOMPARE(viewer.viewAzimuth, 0.0f);
    Form1()->TrackBar1->setValue(-50);
    QCOMPARE(viewer.Rig().LightPosition[2], -50.0f);
    Form1()->TrackBar1->setValue(0);
    Form1()->Button9->show();
    Form1()->Button7->show();
    Form1()->HideDeveloperControls();
    QVERIFY(Form1()->Button9->isHidden());
    QVERIFY(!Form1()->Button7->isHidden());  // "Start" is not a developer control
    Form1()->Button7->hide();
  }

  void cameraRadioGroupTogglesTheViewerBox() {
    QVERIFY(!Form1()->CheckBox1->isChecked());
    Form3()->RadioGroup2->Item(1)->click();
    QVERIFY(Form1()->CheckBox1->isChecked());
    QVERIFY(Form1()->RightCamera());
    Form3()->RadioGroup2->Item(1)->click();  // no change of selection, no inversion
    QVERIFY(Form1()->CheckBox1->isChecked());
    Form3()->RadioGroup2->Item(0)->click();
    QVERIFY(!Form1()->CheckBox1->isChecked());
    // The box is what counts: the radio group inverts it whatever it shows.
    Form1()->CheckBox1->setChecked(true);
    Form3()->RadioGroup2->Item(1)->click();
    QVERIFY(!Form1()->CheckBox1->isChecked());
    Form3()->RadioGroup2->Item(0)->click();
    QVERIFY(Form1()->CheckBox1->isChecked());
    Form1()->CheckBox1->setChecked(false);
  }

  void cameraSwitchShiftsTheShownPicture() {
    LoadScene(kThreeFrames);
    const QImage left = Form1()->ShownImage();
    QCOMPARE(left.size(), QSize(512, 384));
    Form3()->RadioGroup2->Item(1)->click();
    const QImage right = Form1()->ShownImage();
    QVERIFY(left != right);
    Form3()->RadioGroup2->Item(0)->click();
    QCOMPARE(Form1()->ShownImage(), left);
    // The window shows the same picture.
    QCOMPARE(Form1()->grab().toImage().convertToFormat(QImage::Format_RGB888), left);
  }

  void pictureSaveWritesOnceOrReportsOnce() {
    Form1()->SavePictureDialog1 = [this] { return Path(QStringLiteral("view.bmp")); };
    Form1()->Button13Click(Form1()->Button13);
    QVERIFY(Form1()->Timer2->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(!Form1()->Timer2->isActive(), 10000);
    const QByteArray bmp = ReadAll(Path(QStringLiteral("view.bmp")));
    QCOMPARE(bmp.size(), 54 + 512 * 384 * 3);
    QVERIFY(bmp.startsWith("BM"));
    // The file holds the picture the window shows, upright and in its colours.
    const QImage saved(Path(QStringLiteral("view.bmp")), "BMP");
    QCOMPARE(saved.convertToFormat(QImage::Format_RGB888), Form1()->ShownImage());

    Form1()->SavePictureDialog1 = [this] { return Path(QStringLiteral("missing/view.bmp")); };
    Form1()->Button13Click(Form1()->Button13);
    QTRY_VERIFY_WITH_TIMEOUT(!Form1()->Timer2->isActive(), 10000);
    QTest::qWait(1200);  // no second attempt
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages[0].startsWith(QStringLiteral("Cannot create file ")));

    Form1()->SavePictureDialog1 = [] { return QString(); };  // cancelled
    Form1()->Button13Click(Form1()->Button13);
    QVERIFY(!Form1()->Timer2->isActive());
  }

  void applyChangesTheViewerTo320x240() {
    Form3()->RadioGroup1->SetItemIndex(0);
    QTest::mouseClick(Form3()->Button2, Qt::LeftButton);
    QCOMPARE(Form1()->size(), QSize(320, 240));
    QCOMPARE(Form1()->GetViewer().ClientWidth(), 320);
    QCOMPARE(Form1()->GetViewer().ClientHeight(), 240);
    QVERIFY(Form1()->GetViewer().HasContext());
    QCOMPARE(Form1()->ShownImage().size(), QSize(320, 240));  // the repaint after the resize
    // Without a selected item, Apply also gives 320 x 240.
    Form3()->RadioGroup1->SetItemIndex(-1);
    Form3()->Button2Click(Form3()->Button2);
    QCOMPARE(Form1()->size(), QSize(320, 240));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // After Apply the prepared scene is shown as a preparation at the new size
  // shows it: textured, from the camera chosen.
  void applyKeepsTheTexturesOfThePreview() {
    LoadScene(kThreeFrames);
    for (int camera : {0, 1}) {
      Form3()->RadioGroup2->Item(camera)->click();
      Form3()->RadioGroup1->SetItemIndex(camera == 0 ? 0 : 1);
      Form3()->Button2Click(Form3()->Button2);  // Apply
      const QImage applied = Form1()->ShownImage();
      Form2()->Button5Click(Form2()->Button5);  // Prepare at the new size
      QCOMPARE(applied.size(), Form3()->GetResolution());
      QVERIFY2(applied == Form1()->ShownImage(), camera == 0 ? "left camera" : "right camera");
    }
    Form3()->RadioGroup2->Item(0)->click();
    QVERIFY(notifier_.messages.isEmpty());
  }

  // A name without an extension gets ".bmp".
  void pictureSaveAddsTheBmpExtension() {
    Form1()->SavePictureDialog1 = [this] { return Path(QStringLiteral("bare")); };
    Form1()->Button13Click(Form1()->Button13);
    QTRY_VERIFY_WITH_TIMEOUT(!Form1()->Timer2->isActive(), 10000);
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("bare.bmp"))));
    QVERIFY(!QFileInfo::exists(Path(QStringLiteral("bare"))));
    Form1()->SavePictureDialog1 = [this] { return Path(QStringLiteral("named.BMP")); };  // an extension stays
    Form1()->Button13Click(Form1()->Button13);
    QTRY_VERIFY_WITH_TIMEOUT(!Form1()->Timer2->isActive(), 10000);
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("named.BMP"))));
    QVERIFY(notifier_.messages.isEmpty());
  }

  // A typed folder that does not exist yet is made, parents included.
  void startMakesTheTypedFolder() {
    LoadScene(kThreeFrames);
    Form3()->Edit2->setText(Path(QStringLiteral("typed/new")));
    Form3()->UpDown1->setValue(0);
    Form3()->Button3Click(Form3()->Button3);
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
    QVERIFY(QFileInfo::exists(Path(QStringLiteral("typed/new/0/left_0002.bmp"))));
  }

  // The resolution shown selected is the one written, Apply pressed or not.
  void startRendersTheSelectedResolution() {
    Form3()->RadioGroup1->SetItemIndex(0);
    Form3()->Button2Click(Form3()->Button2);
    Form3()->RadioGroup1->SetItemIndex(1);  // selected, not applied
    Form3()->Edit2->setText(Path(QStringLiteral("selected")));
    Form3()->Button3Click(Form3()->Button3);
    QVERIFY2(Form3()->StatusLine->toolTip().contains(QStringLiteral("512 x 384 was applied first")),
             qPrintable(Form3()->StatusLine->toolTip()));
    QTRY_COMPARE_WITH_TIMEOUT(Form3()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(Form1()->RenderSize(), QSize(512, 384));
    QCOMPARE(QImage(Path(QStringLiteral("selected/0/left_0000.bmp"))).size(), QSize(512, 384));
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
  }

  // "Both cameras": one Start writes the left run, then the right one, the
  // same files as the command line's "--camera both".
  void bothCamerasInOnePress() {
    LoadScene(kThreeFrames);
    // The random state and the light (moved by the developer slider above) as
    // fresh as the command line's.
    Form1()->GetViewer().Rig().random = {};
    Form1()->GetViewer().Rig().LightPosition = tovimar::RigState{}.LightPosition;
    Form3()->Edit2->setText(Path(QStringLiteral("both")));
    Form3()->UpDown1->setValue(2);
    Form3()->RadioGroup2->Item(1)->click();  // whatever is selected, the left camera comes first
    Form3()->BothCameras->setChecked(true);
    Form3()->Button3Click(Form3()->Button3);
    QVERIFY(!Form1()->RightCamera());
    QVERIFY(Form3()->BothCamerasPending());
    QTRY_VERIFY_WITH_TIMEOUT(!Form3()->BothCamerasPending() && !Form1()->Running(), 300000);
    QVERIFY(Form1()->RightCamera());
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
    // A stop during the left half ends the whole: no right run follows.
    Form3()->Edit2->setText(Path(QStringLiteral("both-stopped")));
    Form3()->Button3Click(Form3()->Button3);  // Start
    Form3()->Button3Click(Form3()->Button3);  // Stop
    QTRY_VERIFY_WITH_TIMEOUT(!Form1()->Running(), 300000);
    QTest::qWait(50);
    QVERIFY(!Form3()->BothCamerasPending() && !Form1()->Running());
    QVERIFY(!Form1()->RightCamera());
    Form3()->BothCameras->setChecked(false);
  }
};

QTEST_MAIN(AppRunTest)
#include "tst_app_run.moc"
