// Runs on the worker: the windows keep repainting during a slow frame step,
// the viewer shows the frames the worker makes, and Stop, Prepare and closing
// end a step at its next drawing instead of after the frame.
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app_test_support.h"
#include "render/renderer.h"

namespace {

// Many spheres, three frames, no noise: every drawing takes a good while.
QByteArray SlowScene() {
  QByteArray text = "FOCALLENGTH;389;\r\n";
  for (int i = 0; i < 800; ++i) {
    text += QStringLiteral("SPHERE; id %1; texture: %2; colour: 1,0; 1,0; 1,0; position: %3; %4; -0,5; 0; 0; 0; "
                           "dim: 0,3\r\n")
                .arg(i % 250 + 1)
                .arg(i % 10)
                .arg(-1.5 + 3.0 * (i % 40) / 39.0, 0, 'f', 2)
                .arg(0.5 + 0.15 * (i / 40), 0, 'f', 2)
                .replace(QLatin1Char('.'), QLatin1Char(','))
                .toLatin1();
  }
  text += "EGO; 0; 0; 0,1; 0,1; 0; 0\r\nEGO; 0; 0; 0,2; 0,1; 0; 0\r\nEGO; 0; 0; 0,3; 0,1; 0; 0";
  return text;
}

// Counts the paint events a widget gets while the worker has a step in hand.
class PaintsDuringStep : public QObject {
 public:
  int count = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint && Viewer() != nullptr && Viewer()->WorkerBusy()) ++count;
    return false;
  }
};

}  // namespace

class AppWorkerTest : public QObject {
  Q_OBJECT
  CollectingNotifier notifier_;
  QTemporaryDir dir_;
  qint64 drawingMs_ = 0;  // one drawing of the scene, on this thread

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }

  // Starts a run into <dir>/<name>/0 and returns once its first step is in hand.
  void StartInto(const QString& name) {
    ControlPanelWindow()->Edit2->setText(Path(name));
    ControlPanelWindow()->UpDown1->setValue(0);
    QDir().mkpath(Path(name));
    ControlPanelWindow()->Button3Click(ControlPanelWindow()->Button3);
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Stop"));
    QTRY_VERIFY_WITH_TIMEOUT(Viewer()->WorkerBusy(), 10000);
  }

  // A stop waits for the drawing in hand and the reading and writing after
  // it: well under three drawings.
  void VerifyWithinOneDrawing(qint64 ms) {
    QVERIFY2(ms < 3 * drawingMs_ + 500,
             qPrintable(QStringLiteral("stopped after %1 ms, a drawing takes %2 ms").arg(ms).arg(drawingMs_)));
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    StartWindows(notifier_, ',');
    WriteAll(Path(QStringLiteral("slow.txt")), SlowScene());
    SceneEditorWindow()->Edit1->setText(Path(QStringLiteral("slow.txt")));
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);  // Load
    QVERIFY(Viewer()->GetViewer().SceneReady());
    QElapsedTimer clock;
    clock.start();
    Viewer()->Button9Click(Viewer()->Button9);  // one drawing, timed
    drawingMs_ = clock.elapsed();
    qInfo("one drawing: %lld ms", drawingMs_);
  }
  void cleanupTestCase() { StopWindows(); }

  void theWindowsRepaintDuringAStepAndShowItsFrame() {
    PaintsDuringStep paints;
    ControlPanelWindow()->installEventFilter(&paints);
    StartInto(QStringLiteral("repaint"));
    QElapsedTimer step;
    step.start();
    ControlPanelWindow()->update();
    QTRY_VERIFY_WITH_TIMEOUT(paints.count > 0, 10000);
    ControlPanelWindow()->removeEventFilter(&paints);
    Viewer()->Button7Click(Viewer()->Button7);  // the developer "Start" during the run: ignored, the run goes on
    // The status line shows frame i of N, the rate and the time left.
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->ProgressBar1->value(), 1, 300000);
    qInfo("first frame step: %lld ms", step.elapsed());
    QVERIFY2(ControlPanelWindow()->StatusLine->toolTip().contains(QRegularExpression(
                 QStringLiteral("^Frame 1 of 3, [0-9.]+ frames/s, [0-9]+ (s|min [0-9]+ s) left$"))),
             qPrintable(ControlPanelWindow()->StatusLine->toolTip()));
    // The viewer shows the picture the worker drew for frame 0, as written.
    const QImage written(Path(QStringLiteral("repaint/0/left_0000.bmp")));
    QCOMPARE(Viewer()->ShownImage(), written.convertToFormat(QImage::Format_RGB888));
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip().left(22), QStringLiteral("Done: 3 frames written"));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void stopDuringAStepEndsItAtTheNextDrawing() {
    StartInto(QStringLiteral("stop"));
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->ProgressBar1->value(), 1, 300000);
    QTRY_VERIFY_WITH_TIMEOUT(Viewer()->WorkerBusy(), 10000);  // frame 1 in hand
    QTest::qWait(static_cast<int>(drawingMs_ / 2));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);  // Stop
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    qInfo("Stop during a step: %lld ms", clock.elapsed());
    VerifyWithinOneDrawing(clock.elapsed());
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip(), QStringLiteral("Stopped by the user after 1 of 3 frames."));
    QCOMPARE(ControlPanelWindow()->ProgressBar1->value(), 0);
    QVERIFY(!Viewer()->Timer1->isActive());
    // Frame 0 whole, nothing of frame 1.
    const QStringList files = FilesUnder(Path(QStringLiteral("stop/0")));
    QVERIFY2(files.contains(QStringLiteral("seg_l_0000.bmp")), qPrintable(files.join(' ')));
    QVERIFY2(files.filter(QStringLiteral("0001")).isEmpty(), qPrintable(files.join(' ')));
    QVERIFY(notifier_.messages.isEmpty());
  }

  void prepareDuringAStepStopsItFirstAndSaysSo() {
    StartInto(QStringLiteral("prepare"));
    QTest::qWait(static_cast<int>(drawingMs_ / 2));
    QElapsedTimer clock;
    clock.start();
    qint64 stoppedAfter = -1;  // when the box says so, before the preparation
    bool runningAtTheBox = true;
    notifier_.onNotify = [&] {
      if (stoppedAfter >= 0) return;
      stoppedAfter = clock.elapsed();
      runningAtTheBox = Viewer()->Running();
    };
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);  // Prepare
    notifier_.onNotify = nullptr;
    qInfo("Prepare during a step: stopped after %lld ms", stoppedAfter);
    QVERIFY(stoppedAfter >= 0);
    VerifyWithinOneDrawing(stoppedAfter);
    QVERIFY(!runningAtTheBox);
    QVERIFY(!Viewer()->Running());
    QCOMPARE(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"));
    QCOMPARE(ControlPanelWindow()->StatusLine->toolTip(),
             QStringLiteral("Interrupted by a preparation of the scene after 0 of 3 frames."));
    const QStringList messages = notifier_.TakeMessages();
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].contains(QStringLiteral("run was stopped")), qPrintable(messages[0]));
    QVERIFY(FilesUnder(Path(QStringLiteral("prepare/0"))).filter(QStringLiteral("_0000")).isEmpty());
  }

  // Closing the program during a step waits for it to end at its next drawing.
  void closingDuringAStep() {
    StartInto(QStringLiteral("close"));
    QElapsedTimer clock;
    clock.start();
    StopWindows();
    VerifyWithinOneDrawing(clock.elapsed());
    QVERIFY(Viewer() == nullptr);
  }
};

QTEST_MAIN(AppWorkerTest)
#include "tst_app_worker.moc"
