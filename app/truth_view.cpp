#include "app/truth_view.h"

#include <QFile>
#include <QPainter>
#include <algorithm>
#include <charconv>
#include <cmath>

#include "io/disparity_text.h"
#include "base/error.h"
#include "io/pfm.h"
#include "io/png.h"
#include "layout/file_names.h"

namespace tovimar {

namespace {

bool FileThere(const std::string& path) { return !path.empty() && QFile::exists(QString::fromStdString(path)); }

// The picture of a file that is there; a file that does not decode is named in problem.
QImage ReadImage(const std::string& path, std::string& problem) {
  if (!FileThere(path)) return {};
  QImage picture(QString::fromStdString(path));
  if (picture.isNull() && problem.empty()) problem = "'" + path + "' is not a readable image";
  return picture.isNull() ? picture : picture.convertToFormat(QImage::Format_RGB888);
}

}  // namespace

bool ReadDisparityText(const std::string& path, int& width, int& height, std::vector<float>& values) {
  try {
    DisparityText text = ReadDisparityText(path);
    width = text.width;
    height = text.height;
    values = std::move(text.values);
    return true;
  } catch (const Error&) {
    return false;
  }
}

TruthFiles ReadWrittenFrame(const WrittenFrame& written) {
  TruthFiles truth;
  if (!written.valid) return truth;
  const bool classic = written.outputs.classic && written.outputs.layout == DatasetLayout::Classic;
  const FrameFileNames names = MakeFrameFileNames(written.directory, written.rightCamera, written.frame);
  const SceneFlowNaming naming{written.outputs.split, SceneFlowFrameDigits(int64_t{written.frame} + 1)};
  const DatasetFileNames dataset =
      MakeDatasetFileNames(written.directory, written.outputs.layout, written.rightCamera, written.frame, naming);
  auto note = [&truth](const std::exception& e) {
    if (truth.problem.empty()) truth.problem = e.what();
  };
  if (classic && FileThere(names.disparityText)) {
    try {
      DisparityText text = ReadDisparityText(names.disparityText);
      truth.width = text.width;
      truth.height = text.height;
      truth.disparity = std::move(text.values);
      truth.disparityFile = names.disparityText;
    } catch (const std::exception& e) {
      note(e);
    }
  }
  // Only the products the run wrote: a file of an earlier run of other
  // outputs may still be in the folder.
  const bool layoutOwn = written.outputs.layout != DatasetLayout::Classic;
  if (truth.disparity.empty() && (written.outputs.pfm || layoutOwn) && FileThere(dataset.disparityPfm)) {
    try {
      PfmImage pfm = ReadPfm(dataset.disparityPfm);
      if (pfm.channels != 1) throw Error("'" + dataset.disparityPfm + "' has " + std::to_string(pfm.channels) +
                                         " channels, not the one of a disparity");
      truth.width = pfm.width;
      truth.height = pfm.height;
      truth.disparity = std::move(pfm.values);
      truth.disparityFile = dataset.disparityPfm;
    } catch (const std::exception& e) {
      note(e);
    }
  }
  if (truth.disparity.empty() && (written.outputs.kitti || layoutOwn) && FileThere(dataset.disparity16)) {
    // KITTI's encoding: round(256 d) in 16 bits, 0 where there is no ground truth.
    try {
      const PngImage png = ReadPng(dataset.disparity16);
      if (png.channels != 1 || png.bitDepth != 16)
        throw Error("'" + dataset.disparity16 + "' is not a 16-bit grey PNG, as a KITTI disparity is");
      truth.width = png.width;
      truth.height = png.height;
      truth.disparity.resize(png.samples.size());
      for (std::size_t i = 0; i < png.samples.size(); ++i) truth.disparity[i] = static_cast<float>(png.samples[i]) / 256.0f;
      truth.disparityFile = dataset.disparity16;
    } catch (const std::exception& e) {
      note(e);
    }
  }
  if (classic) truth.segmentation = ReadImage(names.segmentation, truth.problem);
  if (written.outputs.masks || layoutOwn) truth.mask = ReadImage(dataset.mask, truth.problem);
  const std::vector<std::string> images =
      StoredCameraImages(written.directory, written.outputs, written.rightCamera, written.frame + 1);
  if (!images.empty()) truth.camera = ReadImage(images.back(), truth.problem);
  if (truth.disparity.empty()) {
    const QImage& any = !truth.segmentation.isNull() ? truth.segmentation : truth.mask;
    truth.width = any.width();
    truth.height = any.height();
  }
  return truth;
}

float DisparityScaleMax(const std::vector<float>& disparity) {
  float maximum = 1.0f;
  for (float d : disparity) {
    if (std::isfinite(d) && d > maximum) maximum = d;
  }
  return maximum;
}

QRgb DisparityColour(float d, float maxDisparity) {
  if (!std::isfinite(d) || d <= 0.0f || maxDisparity <= 0.0f) return qRgb(0, 0, 0);
  const float t = std::min(1.0f, d / maxDisparity) * 4.0f;  // four stretches between five colours
  static const int stops[5][3] = {{0, 0, 255}, {0, 255, 255}, {0, 255, 0}, {255, 255, 0}, {255, 0, 0}};
  const int i = std::min(3, static_cast<int>(t));
  const float f = t - static_cast<float>(i);
  int c[3];
  for (int k = 0; k < 3; ++k)
    c[k] = static_cast<int>(std::lround(static_cast<float>(stops[i][k]) + f * static_cast<float>(stops[i + 1][k] - stops[i][k])));
  return qRgb(c[0], c[1], c[2]);
}

std::array<QRgb, 256> SegmentIdColours(const std::vector<int>& ids) {
  std::vector<int> present;
  for (const int id : ids)
    if (id >= 0 && id < 255) present.push_back(id);
  std::sort(present.begin(), present.end());
  present.erase(std::unique(present.begin(), present.end()), present.end());
  std::array<QRgb, 256> colours{};
  colours.fill(qRgb(255, 255, 255));
  const std::size_t n = present.size();
  for (std::size_t i = 0; i < n; ++i) {
    const double hue = static_cast<double>(i) / static_cast<double>(n);
    // Every other one a little darker, so that neighbours differ in brightness too.
    colours[static_cast<std::size_t>(present[i])] =
        QColor::fromHsvF(static_cast<float>(hue), 0.8f, i % 2 == 0 ? 0.95f : 0.7f).rgb();
  }
  return colours;
}

QImage SegmentationPicture(const QImage& map) {
  if (map.isNull()) return {};
  QImage picture = map.convertToFormat(QImage::Format_RGB888);
  std::vector<bool> seen(256, false);
  for (int y = 0; y < picture.height(); ++y) {
    for (int x = 0; x < picture.width(); ++x) {
      const QRgb c = picture.pixel(x, y);
      if (qRed(c) != qGreen(c) || qGreen(c) != qBlue(c)) return picture;  // the palette's colours
      seen[static_cast<std::size_t>(qRed(c))] = true;
    }
  }
  std::vector<int> ids;
  for (int id = 0; id < 255; ++id)
    if (seen[static_cast<std::size_t>(id)]) ids.push_back(id);
  const std::array<QRgb, 256> colours = SegmentIdColours(ids);
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, colours[static_cast<std::size_t>(qRed(picture.pixel(x, y)))]);
  return picture;
}

void DrawScaleBar(QPainter& painter, int width, int height, float maximum) {
  // The scale bar: the colours from 0 to the largest disparity, in pixels.
  if (height <= 3 * kScaleBarHeight || width <= 120) return;
  const QRect bar(8, height - kScaleBarHeight + 2, width - 16, 8);
  for (int x = 0; x < bar.width(); ++x) {
    const float d = maximum * static_cast<float>(x + 1) / static_cast<float>(bar.width());
    painter.setPen(QColor(DisparityColour(d, maximum)));
    painter.drawLine(bar.left() + x, bar.top(), bar.left() + x, bar.bottom());
  }
  QFont font = painter.font();
  font.setPixelSize(10);
  painter.setFont(font);
  painter.setPen(Qt::white);
  const QRect labels(bar.left(), bar.bottom() + 1, bar.width(), 11);
  painter.fillRect(labels, Qt::black);
  painter.drawText(labels, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("0 px"));
  painter.drawText(labels, Qt::AlignHCenter | Qt::AlignVCenter,
                   QString::number(maximum / 2, 'f', 1) + QStringLiteral(" px"));
  painter.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, QString::number(maximum, 'f', 1) + QStringLiteral(" px"));
}

QImage DisparityPicture(const TruthFiles& truth) {
  if (truth.disparity.empty() || truth.width <= 0 || truth.height <= 0) return {};
  QImage picture(truth.width, truth.height, QImage::Format_RGB888);
  const float maximum = DisparityScaleMax(truth.disparity);
  for (int y = 0; y < truth.height; ++y) {
    for (int x = 0; x < truth.width; ++x) {
      picture.setPixel(x, y, DisparityColour(truth.disparity[static_cast<std::size_t>(y) * truth.width + x], maximum));
    }
  }
  QPainter painter(&picture);
  DrawScaleBar(painter, truth.width, truth.height, maximum);
  return picture;
}

}  // namespace tovimar
