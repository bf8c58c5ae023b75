#include "app/evaluation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScrollArea>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "layout/file_names.h"

namespace tovimar {

namespace {

const QString kToolName = QStringLiteral("tovimar-eval");

bool IsExecutable(const QString& path) {
  const QFileInfo info(path);
  return info.isFile() && info.isExecutable();
}

// all, nonoccluded, occluded first, then the object ids by number.
int RegionRank(const QString& region) {
  if (region == QLatin1String("all")) return -3;
  if (region == QLatin1String("nonoccluded")) return -2;
  if (region == QLatin1String("occluded")) return -1;
  if (region == QLatin1String("bg")) return -1;  // after "occluded" (a stable sort), before ids
  if (region == QLatin1String("fg")) return -1;
  bool number = false;
  const int id = region.startsWith(QLatin1String("id:")) ? region.mid(3).toInt(&number) : 0;
  return number ? id : std::numeric_limits<int>::max();
}

QString Cell(double v, int decimals) {
  return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

QTableWidget* NewTable(std::span<const EvalColumn> columns, QWidget* parent) {
  auto* table = new QTableWidget(parent);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setColumnCount(static_cast<int>(columns.size()));
  QStringList titles;
  for (const EvalColumn& c : columns) titles << QString::fromLatin1(c.title);
  table->setHorizontalHeaderLabels(titles);
  table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  return table;
}

// The report's rows, each figure kept as the tool wrote it (Qt::UserRole).
void FillTable(QTableWidget* table, const EvalReport& report, std::span<const EvalColumn> columns) {
  table->setRowCount(static_cast<int>(report.total.size()));
  QStringList regions;
  for (int r = 0; r < table->rowCount(); ++r) {
    const EvalRow& row = report.total[static_cast<std::size_t>(r)];
    regions << row.region;
    for (int c = 0; c < table->columnCount(); ++c) {
      const double v = row.values[static_cast<std::size_t>(c)];
      auto* item = new QTableWidgetItem(Cell(v, columns[static_cast<std::size_t>(c)].decimals));
      item->setData(Qt::UserRole, v);
      item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      table->setItem(r, c, item);
    }
  }
  table->setVerticalHeaderLabels(regions);
}

}  // namespace

EvalToolSearch FindEvalTool() {
  EvalToolSearch search;
  const QString forced = qEnvironmentVariable("TOVIMAR_EVAL");
  if (!forced.isEmpty()) {
    search.lookedFor << forced + QStringLiteral(" (TOVIMAR_EVAL)");
    if (IsExecutable(forced)) search.found = forced;
    return search;
  }
  const QString programDir = QCoreApplication::applicationDirPath();
  for (const QString& candidate : {QDir(programDir).filePath(kToolName),
                                   QDir::cleanPath(programDir + QStringLiteral("/../eval/") + kToolName)}) {
    search.lookedFor << candidate;
    if (IsExecutable(candidate)) {
      search.found = candidate;
      return search;
    }
  }
  search.lookedFor << kToolName + QStringLiteral(" on PATH");
  search.found = QStandardPaths::findExecutable(kToolName);
  return search;
}

EvalReport ReadEvalReport(const QString& jsonPath, std::span<const EvalColumn> columns) {
  EvalReport report;
  QFile file(jsonPath);
  if (!file.open(QIODevice::ReadOnly)) {
    report.error = QStringLiteral("cannot read ") + jsonPath;
    return report;
  }
  QJsonParseError parse{};
  const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parse);
  const QJsonObject regions = doc.object().value(QLatin1String("total")).toObject().value(QLatin1String("regions")).toObject();
  if (parse.error != QJsonParseError::NoError || regions.isEmpty()) {
    report.error = jsonPath + QStringLiteral(" holds no sequence total") +
                   (parse.error != QJsonParseError::NoError ? QStringLiteral(" (") + parse.errorString() + ')' : QString());
    return report;
  }
  for (auto it = regions.begin(); it != regions.end(); ++it) {
    const QJsonObject figures = it.value().toObject();
    EvalRow row{it.key(), {}};
    for (const EvalColumn& c : columns) {
      const QJsonValue v = figures.value(QLatin1String(c.key));
      row.values.push_back(v.isDouble() ? v.toDouble() : std::numeric_limits<double>::quiet_NaN());
    }
    report.total.push_back(std::move(row));
  }
  std::stable_sort(report.total.begin(), report.total.end(),
                   [](const EvalRow& a, const EvalRow& b) { return RegionRank(a.region) < RegionRank(b.region); });
  for (const QJsonValue& f : doc.object().value(QLatin1String("frames")).toArray()) {
    const QJsonObject frame = f.toObject();
    if (frame.contains(QLatin1String("regions"))) report.frames.push_back(frame.value(QLatin1String("frame")).toInt());
  }
  return report;
}

EvaluationWindow::EvaluationWindow() : QWidget(nullptr, Qt::Window), process_(new QProcess(this)) {
  setObjectName(QStringLiteral("EvaluationWindow"));
  setWindowTitle(QStringLiteral("Evaluation"));
  Summary = new QLabel(this);
  Summary->setWordWrap(true);
  Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Table = NewTable(kEvalColumns, this);
  FlowSummary = new QLabel(this);
  FlowSummary->setWordWrap(true);
  FlowSummary->hide();
  FlowTable = NewTable(kFlowColumns, this);
  FlowTable->hide();
  FlowPicture = new QLabel(this);
  FlowPicture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  FlowPicture->hide();
  FrameSpin = new QSpinBox(this);
  FrameSpin->setEnabled(false);
  ErrorPicture = new QLabel(this);
  ErrorPicture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  auto* pictureArea = new QScrollArea(this);
  pictureArea->setWidget(ErrorPicture);
  pictureArea->setWidgetResizable(true);
  pictureArea_ = pictureArea;
  pictureArea->viewport()->installEventFilter(this);
  Messages = new QPlainTextEdit(this);
  Messages->setReadOnly(true);
  Messages->setMaximumHeight(120);
  Messages->hide();

  auto* frameRow = new QHBoxLayout;
  frameRow->addWidget(new QLabel(QStringLiteral("Error picture of frame"), this));
  frameRow->addWidget(FrameSpin);
  auto* scale = new QLabel(QStringLiteral("(blue small to red large, black: no ground truth)"), this);
  scale->setToolTip(QStringLiteral("The error against 3 px or 5 % of the true disparity, whichever is larger: blue "
                                   "0 px, white 1.5 px (or 2.5 %), red 3 px (or 5 %) and more, a D1 outlier; grey "
                                   "where the prediction was excluded"));
  frameRow->addWidget(scale);
  frameRow->addWidget(new QLabel(
      QStringLiteral("white: 1.5 px off, red: 3 px off and more (2.5 % and 5 % of a disparity above 60 px)"), this));
  frameRow->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Summary);
  layout->addWidget(Table, 1);
  layout->addWidget(FlowSummary);
  layout->addWidget(FlowTable, 1);
  layout->addLayout(frameRow);
  auto* pictures = new QHBoxLayout;
  pictures->addWidget(pictureArea, 2);
  pictures->addWidget(FlowPicture, 1);
  layout->addLayout(pictures, 2);
  layout->addWidget(Messages);
  resize(900, 560);  // room for every column of the table

  connect(FrameSpin, &QSpinBox::valueChanged, this, [this](int frame) { ShowFrame(frame); });
  connect(process_, &QProcess::finished, this, [this](int exitCode, QProcess::ExitStatus status) {
    if (flowPass_) {
      FlowEnded(exitCode, status);
    } else {
      ToolEnded(exitCode, status);
    }
  });
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    // A crash also ends with finished(); a tool that never started does not.
    if (error == QProcess::FailedToStart)
      Fail(QStringLiteral("Cannot start %1: %2").arg(process_->program(), process_->errorString()));
  });
}

EvaluationWindow::~EvaluationWindow() {
  // No report reaches a window being destroyed.
  process_->disconnect(this);
  if (process_->state() != QProcess::NotRunning) {
    process_->kill();
    process_->waitForFinished(5000);
  }
}

bool EvaluationWindow::Running() const { return process_->state() != QProcess::NotRunning; }

QString EvaluationWindow::JsonPath() const { return work_ ? work_->filePath(QStringLiteral("eval.json")) : QString(); }

QString EvaluationWindow::ImagesDir() const { return work_ ? work_->filePath(QStringLiteral("images")) : QString(); }

QString EvaluationWindow::FlowJsonPath() const {
  return work_ ? work_->filePath(QStringLiteral("flow.json")) : QString();
}

QString EvaluationWindow::FlowImagesDir() const {
  return work_ ? work_->filePath(QStringLiteral("flow-images")) : QString();
}

void EvaluationWindow::Start(const QString& tool, const QString& sequenceDir, bool rightCamera, int currentFrame,
                             bool withFlow) {
  // Predictions, JSON and pictures go to a fresh temporary folder: the
  // sequence folder keeps exactly what the run wrote (its manifest lists it),
  // and the last evaluation's files go when the next one starts.
  work_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tovimar-eval-XXXXXX"));
  sequenceDir_ = sequenceDir;
  tool_ = tool;
  rightCamera_ = rightCamera;
  withFlow_ = withFlow;
  flowPass_ = false;
  flowFrames_.clear();
  currentFrame_ = currentFrame;
  Table->setRowCount(0);
  FlowTable->setRowCount(0);
  FlowTable->setVisible(withFlow);
  FlowSummary->setVisible(withFlow);
  FlowSummary->clear();
  FlowPicture->clear();
  FlowPicture->setVisible(withFlow);
  FrameSpin->setEnabled(false);
  errorImage_ = QImage();
  ErrorPicture->clear();
  Messages->clear();
  Messages->hide();
  Summary->setText(QStringLiteral("Running SGBM and the evaluation on %1 (%2 camera)...")
                       .arg(QDir::toNativeSeparators(sequenceDir), rightCamera ? "right" : "left"));
  show();
  raise();
  if (!work_->isValid()) {
    Fail(QStringLiteral("Cannot create a temporary folder: ") + work_->errorString());
    return;
  }
  const QString pred = work_->filePath(QStringLiteral("pred"));
  QDir().mkpath(pred);
  process_->start(tool, {sequenceDir, pred, QStringLiteral("--match"), QStringLiteral("sgbm"), QStringLiteral("--camera"),
                         rightCamera ? QStringLiteral("right") : QStringLiteral("left"), QStringLiteral("--json"),
                         JsonPath(), QStringLiteral("--images"), ImagesDir()});
}

void EvaluationWindow::ToolEnded(int exitCode, QProcess::ExitStatus status) {
  const QString said = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
  if (!said.isEmpty()) {
    Messages->setPlainText(said);
    Messages->show();
  }
  if (status == QProcess::CrashExit) {
    Fail(QStringLiteral("tovimar-eval crashed"));
    return;
  }
  if (exitCode != 0) {
    // Exit code 1: some frames were not evaluated; the total would leave them out.
    Fail(QStringLiteral("tovimar-eval failed (exit code %1)").arg(exitCode));
    return;
  }
  const EvalReport report = ReadEvalReport(JsonPath());
  if (!report.error.isEmpty()) {
    Fail(report.error);
    return;
  }
  ShowReport(report);
}

void EvaluationWindow::ClearResults() {
  Table->setRowCount(0);
  FlowTable->setRowCount(0);
  FlowSummary->clear();
  FlowPicture->clear();
  FrameSpin->setEnabled(false);
  errorImage_ = QImage();
  ErrorPicture->clear();
}

void EvaluationWindow::Clear(const QString& why) {
  if (Running()) return;
  ClearResults();
  Messages->clear();
  Messages->hide();
  Summary->setText(why.toHtmlEscaped());
}

void EvaluationWindow::Fail(const QString& why) {
  ClearResults();
  Summary->setText(QStringLiteral("<b>No results:</b> ") + why.toHtmlEscaped());
  if (!Messages->toPlainText().isEmpty()) Messages->show();
  emit Finished(false, why);
}

void EvaluationWindow::ShowReport(const EvalReport& report) {
  FillTable(Table, report, kEvalColumns);
  const int frames = static_cast<int>(report.frames.size());
  Summary->setText(QStringLiteral("SGBM on %1 (%2 camera), sequence total over %3 frame%4:")
                       .arg(QDir::toNativeSeparators(sequenceDir_), rightCamera_ ? "right" : "left")
                       .arg(frames)
                       .arg(frames == 1 ? "" : "s"));
  if (!report.frames.empty()) {
    const auto [lo, hi] = std::minmax_element(report.frames.begin(), report.frames.end());
    const QSignalBlocker quiet(FrameSpin);
    FrameSpin->setRange(*lo, *hi);
    FrameSpin->setValue(std::clamp(currentFrame_, *lo, *hi));
    FrameSpin->setEnabled(true);
    ShowFrame(FrameSpin->value());
  }
  const EvalRow& all = report.total.front();
  stereoSummary_ = QStringLiteral("%1 frames, %2: EPE %3 px, bad-2 %4 %")
                       .arg(frames)
                       .arg(all.region, Cell(all.values[0], 3), Cell(all.values[4], 2));  // epe, bad2
  if (withFlow_) {
    StartFlow();
  } else {
    emit Finished(true, stereoSummary_);
  }
}

void EvaluationWindow::StartFlow() {
  flowPass_ = true;
  FlowSummary->setText(QStringLiteral("Running DIS optical flow and its evaluation..."));
  const QString pred = work_->filePath(QStringLiteral("flow-pred"));
  QDir().mkpath(pred);
  process_->start(tool_, {sequenceDir_, pred, QStringLiteral("--task"), QStringLiteral("flow"), QStringLiteral("--match"),
                          QStringLiteral("dis"), QStringLiteral("--camera"),
                          rightCamera_ ? QStringLiteral("right") : QStringLiteral("left"), QStringLiteral("--json"),
                          FlowJsonPath(), QStringLiteral("--images"), FlowImagesDir()});
}

void EvaluationWindow::FlowEnded(int exitCode, QProcess::ExitStatus status) {
  flowPass_ = false;
  const QString said = QString::fromLocal8Bit(process_->readAllStandardError()).trimmed();
  if (!said.isEmpty()) {
    Messages->setPlainText(said);
    Messages->show();
  }
  const EvalReport report = status == QProcess::CrashExit || exitCode != 0
                                ? EvalReport{{}, {}, QStringLiteral("tovimar-eval --task flow failed (exit code %1)")
                                                         .arg(status == QProcess::CrashExit ? -1 : exitCode)}
                                : ReadEvalReport(FlowJsonPath(), kFlowColumns);
  if (!report.error.isEmpty()) {
    // The disparity's figures stand; the flow says why it has none.
    FlowSummary->setText(QStringLiteral("<b>No flow results:</b> ") + report.error.toHtmlEscaped());
    emit Finished(false, stereoSummary_ + QStringLiteral("; flow: ") + report.error);
    return;
  }
  FillTable(FlowTable, report, kFlowColumns);
  flowFrames_ = report.frames;
  std::sort(flowFrames_.begin(), flowFrames_.end());
  const int frames = static_cast<int>(report.frames.size());
  FlowSummary->setText(QStringLiteral("DIS optical flow, sequence total over %1 frame%2 with flow:")
                           .arg(frames)
                           .arg(frames == 1 ? "" : "s"));
  ShowFrame(FrameSpin->value());
  const EvalRow& all = report.total.front();
  emit Finished(true, stereoSummary_ + QStringLiteral("; flow EPE %1 px, Fl %2 %")
                                           .arg(Cell(all.values[0], 3), Cell(all.values[1], 2)));
}

void EvaluationWindow::ShowFrame(int frame) {
  if (withFlow_ && !flowFrames_.empty()) {
    // The frame's flow, or the nearest before it (the last frame has none).
    auto at = std::upper_bound(flowFrames_.begin(), flowFrames_.end(), frame);
    const int shown = at == flowFrames_.begin() ? flowFrames_.front() : *(at - 1);
    const QImage flow(QDir(FlowImagesDir()).filePath(
        QStringLiteral("flow_gt_%1.png").arg(QString::fromStdString(FrameNumber(shown)))));
    FlowPicture->setToolTip(QStringLiteral("The true flow of frame %1 to the next: hue the direction (right red, "
                                           "down yellow, left cyan, up blue-violet), saturation the length")
                                .arg(shown));
    if (flow.isNull()) {
      FlowPicture->setText(QStringLiteral("No flow picture for frame %1").arg(frame));
    } else {
      FlowPicture->setPixmap(QPixmap::fromImage(flow.width() > 320 ? flow.scaledToWidth(320, Qt::SmoothTransformation)
                                                                    : flow));
    }
  }
  const QString path = QDir(ImagesDir()).filePath(QStringLiteral("error_%1.png").arg(QString::fromStdString(FrameNumber(frame))));
  errorImage_ = QImage(path);
  if (errorImage_.isNull()) {
    ErrorPicture->setText(QStringLiteral("No error picture for frame %1").arg(frame));
  } else {
    FitErrorPicture();
  }
}

void EvaluationWindow::FitErrorPicture() {
  if (errorImage_.isNull()) return;
  const QSize room = pictureArea_->viewport()->size() - QSize(2, 2);
  const QSize shown = errorImage_.size().boundedTo(errorImage_.size().scaled(room, Qt::KeepAspectRatio));
  ErrorPicture->setPixmap(QPixmap::fromImage(
      shown == errorImage_.size() ? errorImage_
                                  : errorImage_.scaled(shown.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio,
                                                       Qt::SmoothTransformation)));
}

bool EvaluationWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == pictureArea_->viewport() && event->type() == QEvent::Resize) FitErrorPicture();
  return QWidget::eventFilter(watched, event);
}

}  // namespace tovimar
