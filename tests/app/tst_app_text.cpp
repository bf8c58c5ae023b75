// The editor's tools without windows: number reading and the generated EGO
// lines, scene file line ends and encodings, the id colour chart.
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "app/id_chart.h"
#include "app/truth_view.h"
#include "io/pfm.h"
#include "io/png.h"
#include "app/movement_generator.h"
#include "app/scene_file.h"
#include "app_test_support.h"
#include "scene/locale_number.h"

using tovimar::GenerateEgoLines;
using tovimar::MovementAxes;
using tovimar::ParseUserNumber;

namespace {

// The six values of a generated line, read back as the scene parser reads them.
std::vector<double> Values(const std::string& line, char separator) {
  std::vector<double> values;
  QString rest = QString::fromStdString(line);
  if (!rest.startsWith(QStringLiteral("EGO; "))) return values;
  const QStringList fields = rest.mid(5).split(QLatin1Char(';'));
  for (int i = 0; i < fields.size() - 1; ++i) {
    auto v = tovimar::ParseLocaleDouble(fields[i].toStdString(), separator);
    values.push_back(v ? *v : -9999.0);
  }
  return values;
}

}  // namespace

class AppTextTest : public QObject {
  Q_OBJECT
 private slots:
  void userNumbersFollowTheLocaleSeparator() {
    QCOMPARE(ParseUserNumber("0,25", ','), std::optional<double>(0.25));
    QCOMPARE(ParseUserNumber("  -1,5 ", ','), std::optional<double>(-1.5));
    QCOMPARE(ParseUserNumber("+2", ','), std::optional<double>(2.0));
    QCOMPARE(ParseUserNumber(",5", ','), std::optional<double>(0.5));
    QCOMPARE(ParseUserNumber("1,5E2", ','), std::optional<double>(150.0));
    QCOMPARE(ParseUserNumber("0.25", '.'), std::optional<double>(0.25));
    // The other mark is no decimal mark; malformed and endless numbers fail.
    for (const char* bad : {"0.25", "", " ", ",", "-", "1,2,3", "1e", "1e+", "abc", "1 2", "0x10", "1e400", "nan"}) {
      QVERIFY2(!ParseUserNumber(bad, ','), bad);
    }
    QVERIFY(!ParseUserNumber("0,25", '.'));
  }

  void workedExampleWithReturnFrames() {
    const MovementAxes onlyZ{false, false, true, false, false, false};
    const auto lines = GenerateEgoLines(0.25, 0.25, 20, true, onlyZ, ',');
    QCOMPARE(lines.size(), std::size_t{20});
    QCOMPARE(lines[0], std::string("EGO; 0,000;0,000;0,250;0,000;0,000;0,000;"));
    QCOMPARE(lines[1], std::string("EGO; 0,000;0,000;-0,250;0,000;0,000;0,000;"));
    QCOMPARE(lines[2], std::string("EGO; 0,000;0,000;0,500;0,000;0,000;0,000;"));
    QCOMPARE(lines[3], std::string("EGO; 0,000;0,000;-0,500;0,000;0,000;0,000;"));
    QCOMPARE(lines[19], std::string("EGO; 0,000;0,000;-2,500;0,000;0,000;0,000;"));
  }

  void runsWithoutReturnFramesAndEdgeCounts() {
    const MovementAxes onlyZ{false, false, true, false, false, false};
    const auto forward = GenerateEgoLines(0.25, 0.25, 20, false, onlyZ, '.');
    QCOMPARE(forward.front(), std::string("EGO; 0.000;0.000;0.250;0.000;0.000;0.000;"));
    QCOMPARE(forward.back(), std::string("EGO; 0.000;0.000;5.000;0.000;0.000;0.000;"));

    QVERIFY(GenerateEgoLines(0.25, 0.25, 0, true, onlyZ, ',').empty());

    const auto none = GenerateEgoLines(1.0, 1.0, 3, true, MovementAxes{}, ',');
    for (const std::string& line : none) QCOMPARE(line, std::string("EGO; 0,000;0,000;0,000;0,000;0,000;0,000;"));

    // Odd count: the last frame is a forward frame without its return.
    const MovementAxes all{true, true, true, true, true, true};
    const auto odd = GenerateEgoLines(1.0, 0.5, 5, true, all, ',');
    QCOMPARE(odd.back(), std::string("EGO; 2,000;2,000;2,000;2,000;2,000;2,000;"));

    // A return frame of 0 has no minus sign; the line stays readable.
    const auto zero = GenerateEgoLines(0.0, 0.0, 2, true, onlyZ, ',');
    QCOMPARE(zero[1], std::string("EGO; 0,000;0,000;0,000;0,000;0,000;0,000;"));
  }

  void largeValuesStayReadableByTheParser() {
    const MovementAxes onlyA{false, false, false, true, false, false};
    const auto lines = GenerateEgoLines(1234.5, -3000.25, 3, false, onlyA, ',');
    for (const std::string& line : lines) {
      const std::vector<double> values = Values(line, ',');
      QCOMPARE(values.size(), std::size_t{6});
      QVERIFY2(values[3] != -9999.0, line.c_str());
    }
    QCOMPARE(Values(lines[0], ',')[3], 1230.0);  // three significant digits
    QVERIFY_THROWS_EXCEPTION(tovimar::Error, GenerateEgoLines(1e308, 1e308, 3, false, onlyA, ','));
  }

  void fileLinesNormaliseLoneBreaks() {
    using V = std::vector<std::string>;
    QCOMPARE(tovimar::SplitFileLines(""), V{""});
    QCOMPARE(tovimar::SplitFileLines("a\r\nb"), (V{"a", "b"}));
    QCOMPARE(tovimar::SplitFileLines("a\r\n"), (V{"a", ""}));
    QCOMPARE(tovimar::SplitFileLines("a\rb\nc\r\n\r\nd\n"), (V{"a", "b", "c", "", "d", ""}));
    QCOMPARE(tovimar::SplitFileLines("\n\r"), (V{"", "", ""}));
    QCOMPARE(tovimar::SplitFileLines("\r\r\n"), (V{"", "", ""}));
  }

  void utf8IsRecognisedStrictly() {
    QVERIFY(tovimar::IsValidUtf8("plain ASCII;"));
    QVERIFY(tovimar::IsValidUtf8("\xEF\xBB\xBF\xC5\x81\xC3\xB3\x64\xC5\xBA \xF0\x9F\x98\x80"));
    for (const char* bad : {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\xE9t\xE9",
                            "\x80", "\xF8\x88\x80\x80\x80"}) {
      QVERIFY(!tovimar::IsValidUtf8(bad));
    }
  }

  void saveChecksTheFolderThenWrites() {
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString();
    QCOMPARE(tovimar::SaveSceneFile(root + "/missing/scene.txt", "x"), tovimar::SaveResult::FolderMissing);
    QVERIFY(!QFileInfo::exists(dir.path() + "/missing"));
    QCOMPARE(tovimar::SaveSceneFile(root, "x"), tovimar::SaveResult::WriteFailed);  // names a folder
    QCOMPARE(tovimar::SaveSceneFile(root + "/new.txt", "a\r\nb"), tovimar::SaveResult::Saved);
    QCOMPARE(ReadAll(dir.path() + "/new.txt"), QByteArray("a\r\nb"));
    QCOMPARE(tovimar::SaveSceneFile(root + "/new.txt", ""), tovimar::SaveResult::Saved);
    QCOMPARE(ReadAll(dir.path() + "/new.txt"), QByteArray());
  }

  void chartCellsAndOutlines() {
    constexpr int w = 833, h = 41;
    constexpr uint32_t kUntouched = 0xFF123456u;
    for (bool palette : {false, true}) {
      std::vector<uint32_t> pixels(static_cast<std::size_t>(w * h), kUntouched);
      tovimar::DrawIdChart(pixels.data(), w, h, w, palette);
      auto at = [&](int x, int y) { return pixels[static_cast<std::size_t>(y * w + x)]; };
      // Cells are 13 x 10: black frame, colour inside; column 832 and row 40 untouched.
      QCOMPARE(at(0, 0), 0xFF000000u);
      QCOMPARE(at(12, 9), 0xFF000000u);
      QCOMPARE(at(13, 1), 0xFF000000u);
      QCOMPARE(at(832, 5), kUntouched);
      QCOMPARE(at(5, 40), kUntouched);
      const uint32_t first = at(6, 5);
      const uint32_t last = at(63 * 13 + 6, 3 * 10 + 5);
      QCOMPARE(first, palette ? 0xFF000083u : 0xFF000000u);
      QCOMPARE(last, palette ? 0xFF7F0000u : 0xFFFFFFFFu);
      QCOMPARE(at(1 * 13 + 6, 2 * 10 + 5), tovimar::IdChartColour(129, palette));
    }
    QCOMPARE(tovimar::IdChartCellAt(832, 0, w, h), std::optional<int>(64));
    QCOMPARE(tovimar::IdChartCellAt(832, 35, w, h), std::optional<int>(3 * 64 + 64));
    QCOMPARE(tovimar::IdChartCellAt(0, 40, w, h), std::optional<int>(256));
    QCOMPARE(tovimar::IdChartCellAt(100, 40, w, h), std::optional<int>(256 + 7));
    QCOMPARE(tovimar::IdChartCellAt(5, 5, 63, 41), std::nullopt);
  }

  // The viewer reads the disparity of every layout back (a folder opened
  // from disk): the PFM of Middlebury and scene flow, KITTI's 16-bit PNG
  // (round(256 d), 0 where there is none); a damaged file is named.
  void truthOfEveryLayoutIsReadBack() {
    QTemporaryDir dir;
    const std::string folder = tovimar::ToStd(dir.path()) + "/0/";
    const std::vector<float> disparity = {1.5f, 2.25f, 0.0f, 40.0f, 3.0f, 7.5f};  // 3 x 2, multiples of 1/256
    for (const tovimar::DatasetLayout layout :
         {tovimar::DatasetLayout::Middlebury, tovimar::DatasetLayout::Kitti, tovimar::DatasetLayout::SceneFlow}) {
      tovimar::OutputChoice outputs;
      outputs.classic = false;
      outputs.layout = layout;
      const tovimar::DatasetFileNames names = tovimar::MakeDatasetFileNames(folder, layout, false, 0);
      const std::string file = layout == tovimar::DatasetLayout::Kitti ? names.disparity16 : names.disparityPfm;
      QVERIFY(QDir().mkpath(QFileInfo(QString::fromStdString(file)).absolutePath()));
      if (layout == tovimar::DatasetLayout::Kitti) {
        std::vector<uint16_t> samples;
        for (const float d : disparity) samples.push_back(static_cast<uint16_t>(d * 256.0f));
        tovimar::WritePng16(file, samples.data(), 3, 2, 1);
      } else {
        tovimar::WritePfm(file, disparity.data(), 3, 2);
      }
      const tovimar::WrittenFrame frame{true, folder, false, 0, outputs};
      tovimar::TruthFiles truth = tovimar::ReadWrittenFrame(frame);
      const QString where = QString::fromLatin1(tovimar::LayoutName(layout));
      QVERIFY2(truth.problem.empty(), qPrintable(where + ": " + QString::fromStdString(truth.problem)));
      QCOMPARE(truth.width, 3);
      QCOMPARE(truth.height, 2);
      QVERIFY2(truth.disparity == disparity, qPrintable(where));
      QCOMPARE(truth.disparityFile, file);
      QVERIFY(WriteAll(QString::fromStdString(file), "damaged"));
      truth = tovimar::ReadWrittenFrame(frame);
      QVERIFY(truth.disparity.empty());
      QVERIFY2(truth.problem.find(file) != std::string::npos, qPrintable(QString::fromStdString(truth.problem)));
    }
  }
};

QTEST_APPLESS_MAIN(AppTextTest)
#include "tst_app_text.moc"
