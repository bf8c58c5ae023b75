// "Evaluate" on the control panel: refused before any run and during one, a
// missing tool named, then a real stereo pair (left, then right run) scored
// by tovimar-eval, whose JSON and error pictures the window must show as
// written; "Start" waits for an evaluation; a failing tool leaves no table.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <cmath>

#include "app/evaluation.h"
#include "app/viewer_window.h"
#include "app/scene_editor.h"
#include "app/control_panel.h"
#include "app_test_support.h"

namespace {

// Two frames of textured objects in front of a textured wall: SGBM finds
// matches on most of the picture.
const char* const kTwoTexturedFrames =
    "FOCALLENGTH;389;\r\n"
    "SPHERE;  id  30; texture:  9; colour: 1.0; 1.0; 1.0; position:  0.3; 1.2; -0.1; 0.0; 0.0; 0.0; dim: 0.6\r\n"
    "CUBOID;  id  45; texture:  5; colour: 1.0; 1.0; 1.0; position: -0.9; 0.6; -0.4; 0.0; 0.0; 0.0; dim: 0.3; 0.3; 1.5\r\n"
    "QUAD;    id 120; texture:  3; colour: 1.0; 1.0; 1.0; vertices: -4.0; 4.0; -3.0;   4.0; 4.0; -3.0;   4.0; "
    "4.0; 3.0;   -4.0; 4.0; 3.0;\r\n"
    "EGO;  0.0; 0.0; 0.1;  0.1; 0.0; 0.0\r\n"
    "EGO;  0.0; 0.0; 0.2;  0.1; 2.0; 0.0";

QString Status() { return ControlPanelWindow()->StatusLine->toolTip(); }

void UseTool(const QByteArray& path) { qputenv("TOVIMAR_EVAL", path); }

QJsonObject TotalRegions(const QString& jsonPath) {
  const QJsonObject report = QJsonDocument::fromJson(ReadAll(jsonPath)).object();
  return report.value(QStringLiteral("total")).toObject().value(QStringLiteral("regions")).toObject();
}

}  // namespace

class AppEvaluateTest : public QObject {
  Q_OBJECT
  CollectingNotifier notifier_;
  QTemporaryDir dir_;

  QString Path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
  QString Sequence() const { return Path(QStringLiteral("pair/0")); }

  void RunToTheEnd() {
    QTRY_COMPARE_WITH_TIMEOUT(ControlPanelWindow()->Button3->text(), QStringLiteral("Start"), 300000);
    QVERIFY2(Status().startsWith(QStringLiteral("Done: 2 frames written")), qPrintable(Status()));
  }

  // Clicks "Evaluate" and waits for the tool's end.
  void EvaluateToTheEnd() {
    QTest::mouseClick(ControlPanelWindow()->EvaluateButton, Qt::LeftButton);
    QVERIFY2(Status().contains(QStringLiteral("started")), qPrintable(Status()));
    QVERIFY(ControlPanelWindow()->Evaluation() != nullptr && ControlPanelWindow()->Evaluation()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!ControlPanelWindow()->Evaluation()->Running(), 120000);
    QCoreApplication::processEvents();
  }

 private slots:
  void initTestCase() {
    QVERIFY(dir_.isValid());
    StartWindows(notifier_, ',');
    ControlPanelWindow()->RadioGroup1->SetItemIndex(0);  // 320 x 240
    ControlPanelWindow()->Button2Click(ControlPanelWindow()->Button2);
    WriteAll(Path(QStringLiteral("scene.txt")), kTwoTexturedFrames);
    SceneEditorWindow()->Edit1->setText(Path(QStringLiteral("scene.txt")));
    SceneEditorWindow()->Button2Click(SceneEditorWindow()->Button2);  // Load
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
  }
  void cleanupTestCase() { StopWindows(); }

  void refusedBeforeAnyRun() {
    QTest::mouseClick(ControlPanelWindow()->EvaluateButton, Qt::LeftButton);
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: no run has written frames")), qPrintable(Status()));
    QVERIFY(ControlPanelWindow()->Evaluation() == nullptr);
  }

  // The left run, with "Evaluate" refused while it goes, then the right run.
  void stereoPairWithEvaluateRefusedDuringTheRun() {
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("pair")));
    ControlPanelWindow()->UpDown1->setValue(0);
    QDir().mkpath(Path(QStringLiteral("pair")));
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);
    QVERIFY(Viewer()->Running());
    UseTool(TOVIMAR_EVAL_EXE);
    QTest::mouseClick(ControlPanelWindow()->EvaluateButton, Qt::LeftButton);
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: not while a run is going")), qPrintable(Status()));
    QVERIFY(ControlPanelWindow()->Evaluation() == nullptr);
    // The refusal stays on the status line over the run's progress, which
    // goes to the progress bar's tip, and is kept in the message log.
    const QString refusal = Status();
    ControlPanelWindow()->ShowRunProgress(QStringLiteral("Frame 1 of 2"));
    QCOMPARE(Status(), refusal);
    QCOMPARE(ControlPanelWindow()->ProgressBar1->toolTip(), QStringLiteral("Frame 1 of 2"));
    const QStringList log = ControlPanelWindow()->Messages->Lines();
    QVERIFY2(!log.filter(QRegularExpression(QStringLiteral("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]  Evaluate: not while a run "
                                                           "is going"))).isEmpty(),
             qPrintable(log.join('\n')));
    QVERIFY(log.filter(QStringLiteral("Frame 1 of 2")).isEmpty());  // progress is not logged
    RunToTheEnd();
    if (QTest::currentTestFailed()) return;
    // "Done" names the folder the files went to.
    QVERIFY2(Status().endsWith(QStringLiteral(" into ") + QDir::toNativeSeparators(Sequence() + QLatin1Char('/'))),
             qPrintable(Status()));
    // One camera's run: Evaluate says which camera to run next.
    QTest::mouseClick(ControlPanelWindow()->EvaluateButton, Qt::LeftButton);
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: the right camera has not written frame 1 here yet; run "
                                                "the right camera")),
             qPrintable(Status()));
    QVERIFY(ControlPanelWindow()->Evaluation() == nullptr);
    ControlPanelWindow()->RadioGroup2->Item(1)->click();
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);
    RunToTheEnd();
    QVERIFY(QFileInfo::exists(Sequence() + QStringLiteral("/left_0001.bmp")));
    QVERIFY(QFileInfo::exists(Sequence() + QStringLiteral("/right_0001.bmp")));
  }

  void aMissingToolIsNamedAndNoWindowOpens() {
    const QByteArray missing = QFile::encodeName(Path(QStringLiteral("nowhere/tovimar-eval")));
    UseTool(missing);
    QTest::mouseClick(ControlPanelWindow()->EvaluateButton, Qt::LeftButton);
    QVERIFY2(Status().contains(QStringLiteral("tovimar-eval not found")) && Status().contains(QString(missing)),
             qPrintable(Status()));
    const QStringList boxes = notifier_.TakeMessages();
    QCOMPARE(boxes.size(), 1);
    QVERIFY2(boxes[0].contains(QString(missing)), qPrintable(boxes[0]));
    QVERIFY(ControlPanelWindow()->Evaluation() == nullptr);
    // The search says where it looked when nothing is forced.
    qunsetenv("TOVIMAR_EVAL");
    const tovimar::EvalToolSearch search = tovimar::FindEvalTool();
    QVERIFY(search.lookedFor.size() == 3);
    QVERIFY(search.lookedFor[0].startsWith(QCoreApplication::applicationDirPath()));
  }

  void theWindowShowsWhatTheToolWrote() {
    const QStringList runFiles = FilesUnder(Sequence());
    UseTool(TOVIMAR_EVAL_EXE);
    EvaluateToTheEnd();
    if (QTest::currentTestFailed()) return;
    tovimar::EvaluationWindow* w = ControlPanelWindow()->Evaluation();
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: done, 2 frames, all: EPE ")), qPrintable(Status()));
    QVERIFY2(w->Summary->text().contains(QStringLiteral("right camera")), qPrintable(w->Summary->text()));
    QVERIFY(w->Messages->isHidden());

    // The last run's camera was scored: the same total as the tool run by
    // hand for the right camera.
    QProcess byHand;
    byHand.start(QStringLiteral(TOVIMAR_EVAL_EXE),
                 {Sequence(), Path(QStringLiteral("pred-right")), QStringLiteral("--match"), QStringLiteral("sgbm"),
                  QStringLiteral("--camera"), QStringLiteral("right"), QStringLiteral("--json"),
                  Path(QStringLiteral("right.json"))});
    QVERIFY(byHand.waitForFinished(120000));
    QCOMPARE(byHand.exitCode(), 0);
    const QJsonObject regions = TotalRegions(w->JsonPath());
    QCOMPARE(regions, TotalRegions(Path(QStringLiteral("right.json"))));

    // The total's rows and figures are the JSON's, "all" first.
    QCOMPARE(w->Table->rowCount(), regions.size());
    QCOMPARE(w->Table->verticalHeaderItem(0)->text(), QStringLiteral("all"));
    for (int r = 0; r < w->Table->rowCount(); ++r) {
      const QJsonObject figures = regions[w->Table->verticalHeaderItem(r)->text()].toObject();
      QVERIFY(!figures.isEmpty());
      for (int c = 0; c < w->Table->columnCount(); ++c) {
        const tovimar::EvalColumn& column = tovimar::kEvalColumns[c];
        const QJsonValue expected = figures[QLatin1String(column.key)];
        const QTableWidgetItem* cell = w->Table->item(r, c);
        if (expected.isNull()) {
          QCOMPARE(cell->text(), QStringLiteral("-"));
          continue;
        }
        QCOMPARE(cell->data(Qt::UserRole).toDouble(), expected.toDouble());
        QCOMPARE(cell->text(), QString::number(expected.toDouble(), 'f', column.decimals));
      }
    }
    const QTableWidgetItem* epe = w->Table->item(0, 0);
    QVERIFY2(epe->data(Qt::UserRole).toDouble() > 0 && epe->data(Qt::UserRole).toDouble() < 20,
             qPrintable(epe->text()));  // SGBM matched something

    // The error picture of the last frame written, and of another frame on request.
    QCOMPARE(w->FrameSpin->value(), 1);
    const QString images = w->ImagesDir() + QLatin1Char('/');
    QCOMPARE(w->ErrorImage().size(), QSize(320, 240));
    QCOMPARE(w->ErrorImage().convertToFormat(QImage::Format_RGB32),
             QImage(images + QStringLiteral("error_0001.png")).convertToFormat(QImage::Format_RGB32));
    w->FrameSpin->setValue(0);
    QCOMPARE(w->ErrorImage().convertToFormat(QImage::Format_RGB32),
             QImage(images + QStringLiteral("error_0000.png")).convertToFormat(QImage::Format_RGB32));
    // The picture fits the room the window gives it, proportions kept.
    w->resize(420, 400);
    QApplication::processEvents();
    const QSize shown = w->ErrorPicture->pixmap().size();
    QVERIFY2(shown.width() < 320 && shown.width() > 0, qPrintable(QString::number(shown.width())));
    QVERIFY(std::abs(shown.width() * 240 - shown.height() * 320) <= 320);
    w->resize(900, 560);

    // The run's folder holds what the runs wrote and nothing else.
    QCOMPARE(FilesUnder(Sequence()), runFiles);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
  }

  void startWaitsForTheEvaluation() {
    QTest::mouseClick(ControlPanelWindow()->EvaluateButton, Qt::LeftButton);
    QVERIFY(ControlPanelWindow()->Evaluation()->Running());
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);
    QVERIFY(!Viewer()->Running());
    QCOMPARE(Status(), QStringLiteral("Start: wait for the evaluation to end"));
    QTRY_VERIFY_WITH_TIMEOUT(!ControlPanelWindow()->Evaluation()->Running(), 120000);
  }

  // The last run was the right camera's; the left one chosen afterwards is
  // the one scored.
  void theChosenCameraIsScored() {
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    EvaluateToTheEnd();
    if (QTest::currentTestFailed()) return;
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: done")), qPrintable(Status()));
    const QString summary = ControlPanelWindow()->Evaluation()->Summary->text();
    QVERIFY2(summary.contains(QStringLiteral("left camera")), qPrintable(summary));
  }

  void aFailingToolLeavesNoTableAndShowsWhatItSaid() {
    QVERIFY(QFile::remove(Sequence() + QStringLiteral("/left_0001.bmp")));
    EvaluateToTheEnd();
    if (QTest::currentTestFailed()) return;
    tovimar::EvaluationWindow* w = ControlPanelWindow()->Evaluation();
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: failed: tovimar-eval failed (exit code 1)")),
             qPrintable(Status()));
    QCOMPARE(w->Table->rowCount(), 0);
    QVERIFY(w->ErrorImage().isNull());
    QVERIFY(!w->FrameSpin->isEnabled());
    QVERIFY(!w->Messages->isHidden());
    QVERIFY2(w->Messages->toPlainText().contains(QStringLiteral("left_0001")), qPrintable(w->Messages->toPlainText()));
    QVERIFY2(w->Summary->text().contains(QStringLiteral("No results")), qPrintable(w->Summary->text()));
  }

  // A run that wrote flow: the flow is scored too (DIS against the run's
  // flow), beside the disparity, with the frame's true flow as a picture.
  void aRunWithFlowHasItsFlowScored() {
    tovimar::OutputChoice outputs;
    outputs.flow = true;
    ControlPanelWindow()->SetDatasetOutputs(outputs);
    ControlPanelWindow()->Edit2->setText(Path(QStringLiteral("flow")));
    ControlPanelWindow()->BothCameras->setChecked(true);
    QDir().mkpath(Path(QStringLiteral("flow")));
    QTest::mouseClick(ControlPanelWindow()->Button3, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!ControlPanelWindow()->BothCamerasPending() && !Viewer()->Running(), 300000);
    ControlPanelWindow()->BothCameras->setChecked(false);
    // The open window's results were of the folder before the runs: cleared, saying why.
    tovimar::EvaluationWindow* w = ControlPanelWindow()->Evaluation();
    QCOMPARE(w->Table->rowCount(), 0);
    QVERIFY2(w->Summary->text().startsWith(QStringLiteral("A run has ended since this evaluation")),
             qPrintable(w->Summary->text()));
    ControlPanelWindow()->RadioGroup2->Item(0)->click();
    EvaluateToTheEnd();
    if (QTest::currentTestFailed()) return;
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: done")) && Status().contains(QStringLiteral("flow EPE")),
             qPrintable(Status()));
    QVERIFY(w->Table->rowCount() > 0);
    QVERIFY(w->FlowTable->rowCount() > 0);
    QCOMPARE(w->FlowTable->verticalHeaderItem(0)->text(), QStringLiteral("all"));
    const double epe = w->FlowTable->item(0, 0)->data(Qt::UserRole).toDouble();
    QCOMPARE(epe, TotalRegions(w->FlowJsonPath())[QStringLiteral("all")].toObject()[QStringLiteral("epe")].toDouble());
    QVERIFY(std::isfinite(epe) && epe < 20);
    QVERIFY(!w->FlowPicture->pixmap().isNull());
    ControlPanelWindow()->SetDatasetOutputs(tovimar::OutputChoice{});
  }

  // After a restart a folder written before is opened: its frames in every
  // view and Evaluate on it; what is no sequence folder is refused, saying why.
  void aFolderOnDiskIsShownAndEvaluatedAfterARestart() {
    StopWindows();
    StartWindows(notifier_, ',');
    QDir().mkpath(Path(QStringLiteral("empty")));
    QDir().mkpath(Path(QStringLiteral("broken")));
    WriteAll(Path(QStringLiteral("broken/meta.json")), "{\"runs\": ");
    const struct {
      const char* folder;
      const char* says;
    } refused[] = {{"missing", "is no folder"},
                   {"empty", "holds no frame Tovimar wrote"},
                   {"broken", "the meta.json of "}};
    for (const auto& r : refused) {
      ControlPanelWindow()->SequenceFolderDialog = [this, &r] { return Path(QString::fromLatin1(r.folder)); };
      ControlPanelWindow()->OpenSequenceFolderAction->trigger();
      QVERIFY2(Status().startsWith(QStringLiteral("Open sequence folder: ")) && Status().contains(QLatin1String(r.says)),
               qPrintable(Status()));
      QVERIFY(!Viewer()->ShowingFolder());
    }
    // The run with flow of both cameras above.
    const QString folder = Path(QStringLiteral("flow/0"));
    ControlPanelWindow()->SequenceFolderDialog = [folder] { return folder; };
    ControlPanelWindow()->OpenSequenceFolderAction->trigger();
    QVERIFY2(Status().contains(QStringLiteral("2 frames of the left camera, 2 of the right")), qPrintable(Status()));
    QVERIFY(Viewer()->ShowingFolder());
    auto stored = [&folder](const char* name) {
      return QImage(folder + QLatin1Char('/') + QLatin1String(name)).convertToFormat(QImage::Format_RGB888);
    };
    QCOMPARE(Viewer()->ShownImage(), stored("left_0000.bmp"));
    QCOMPARE(Viewer()->ProbeLabel->text(), QStringLiteral("Camera image, left camera, frame 0"));
    QTest::keyClick(Viewer(), Qt::Key_Right);
    QCOMPARE(Viewer()->ShownImage(), stored("left_0001.bmp"));
    QTest::keyClick(Viewer(), Qt::Key_2);
    int w = 0, h = 0;
    std::vector<float> d;
    QVERIFY(tovimar::ReadDisparityText(tovimar::ToStd(folder + QStringLiteral("/lbindisp_0001.dat")), w, h, d));
    QVERIFY(Viewer()->Truth().disparity == d);
    EvaluateToTheEnd();
    if (QTest::currentTestFailed()) return;
    QVERIFY2(Status().startsWith(QStringLiteral("Evaluate: done")) && Status().contains(QStringLiteral("flow EPE")),
             qPrintable(Status()));
    QVERIFY(ControlPanelWindow()->Evaluation()->Table->rowCount() > 0);
    // A preparation returns the viewer to the scene's camera view.
    SceneEditorWindow()->Button5Click(SceneEditorWindow()->Button5);
    QVERIFY(!Viewer()->ShowingFolder());
    QCOMPARE(Viewer()->GetViewMode(), tovimar::ViewMode::Camera);
    QVERIFY2(notifier_.messages.isEmpty(), qPrintable(notifier_.messages.join(" | ")));
  }
};

QTEST_MAIN(AppEvaluateTest)
#include "tst_app_evaluate.moc"
