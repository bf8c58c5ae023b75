#include "avi/avi_export.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "avi/avi_writer.h"
#include "io/png.h"
#include "layout/file_names.h"

#include "media_files.h"

namespace tovimar {
namespace {

// The classic camera images of frames 0 .. count-1 in a folder.
std::vector<std::string> ClassicImages(const std::string& folder, bool right, int count) {
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) paths.push_back(folder + "/" + CameraImageName(right, i));
  return paths;
}

TEST(AviExport, AssemblesTheCameraImagesSkippingMissingOnes) {
  if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  avitest::TempDir dir;
  std::vector<uint8_t> expected;
  for (int i : {0, 1, 3}) {  // frame 2 is missing
    const auto p = avitest::PatternPicture(64, 48, i);
    avitest::WriteFile(dir.file("right_000" + std::to_string(i) + ".bmp"), avitest::Bmp24(p, 64, 48));
    expected.insert(expected.end(), p.begin(), p.end());
  }
  // The other camera's and other kinds of files stay out.
  avitest::WriteFile(dir.file("left_0002.bmp"), avitest::Bmp24(avitest::PatternPicture(64, 48, 9), 64, 48));
  avitest::WriteFile(dir.file("disp_0002.bmp"), avitest::Bmp24(avitest::PatternPicture(64, 48, 9), 64, 48));
  const auto wave = avitest::Wave16(1, 8000, 4000, 1);
  avitest::WriteFile(dir.file("wav.wav"), wave);

  const AviExportSummary s = ExportAvi(dir.path().string(), true, ClassicImages(dir.path().string(), true, 4), dir.file("wav.wav"));
  EXPECT_TRUE(s.opened);
  EXPECT_EQ(s.framesWritten, 3);
  EXPECT_EQ(s.framesSkipped, 1);
  EXPECT_TRUE(s.audioAdded);
  EXPECT_EQ(s.aviPath, dir.file("P.avi"));

  bool ok = false;
  const auto streams = avitest::ProbeStreams(dir.file("P.avi"), &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].at("r_frame_rate"), "2/1");
  EXPECT_EQ(streams[0].at("nb_read_frames"), "3");
  EXPECT_TRUE(avitest::DecodeVideoBgr24(dir.file("P.avi")) == expected);
  EXPECT_TRUE(avitest::DecodeAudioS16(dir.file("P.avi")) == std::vector<uint8_t>(wave.begin() + 44, wave.end()));
}

TEST(AviExport, LeftCameraWithoutSoundOrFrames) {
  avitest::TempDir dir;
  avitest::WriteFile(dir.file("left_0000.bmp"), avitest::Bmp24(avitest::PatternPicture(8, 8, 0), 8, 8));
  // A missing sound file leaves the video as it is.
  AviExportSummary s =
      ExportAvi(dir.path().string() + "/", false, ClassicImages(dir.path().string(), false, 1), dir.file("wav.wav"));
  EXPECT_TRUE(s.opened);
  EXPECT_EQ(s.framesWritten, 1);
  EXPECT_FALSE(s.audioAdded);
  EXPECT_EQ(s.aviPath, dir.file("L.avi"));

  // Not one picture (a run without frames, or images stored under other
  // names): no AVI is made, and the reason names the first image looked for.
  s = ExportAvi(dir.path().string(), true, {}, "");
  EXPECT_TRUE(s.noImages);
  EXPECT_EQ(s.writeError, "no right camera image to put in " + dir.file("P.avi") + " (the run stored no camera images)");
  s = ExportAvi(dir.path().string(), true, ClassicImages(dir.path().string(), true, 2), "");
  EXPECT_TRUE(s.noImages);
  EXPECT_EQ(s.framesMissing, 2);
  EXPECT_EQ(s.writeError, "no right camera image to put in " + dir.file("P.avi") + " (the first would be " +
                              dir.file("right_0000.bmp") + ")");
  EXPECT_FALSE(std::filesystem::exists(dir.file("P.avi")));

  // A folder that does not exist: nothing is read, and the reason names the file.
  s = ExportAvi(dir.file("missing"), true, ClassicImages(dir.file("missing"), true, 3), dir.file("wav.wav"));
  EXPECT_FALSE(s.opened);
  EXPECT_EQ(s.framesWritten + s.framesSkipped, 0);
  EXPECT_NE(s.writeError.find(dir.file("missing") + "/P.avi"), std::string::npos) << s.writeError;
}

// The layouts store the camera images as PNG: they go into the AVI as the
// same pictures the BMPs would give.
TEST(AviExport, PngCameraImagesGiveTheSamePictures) {
  if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  avitest::TempDir dir;
  std::vector<uint8_t> expected;
  std::vector<std::string> paths;
  for (int i = 0; i < 2; ++i) {
    const auto bgr = avitest::PatternPicture(10, 6, i);  // top row first, blue first
    std::vector<uint8_t> rgb(bgr.size());
    for (std::size_t k = 0; k < bgr.size(); k += 3) {
      rgb[k] = bgr[k + 2];
      rgb[k + 1] = bgr[k + 1];
      rgb[k + 2] = bgr[k];
    }
    paths.push_back(dir.file("im" + std::to_string(i) + ".png"));
    WritePng8(paths.back(), rgb.data(), 10, 6, 3);
    expected.insert(expected.end(), bgr.begin(), bgr.end());
  }
  const AviExportSummary s = ExportAvi(dir.path().string(), false, paths, "");
  EXPECT_EQ(s.framesWritten, 2);
  EXPECT_TRUE(s.writeError.empty()) << s.writeError;
  EXPECT_TRUE(avitest::DecodeVideoBgr24(dir.file("L.avi")) == expected);
  WritePng8(dir.file("grey.png"), expected.data(), 10, 6, 1);
  EXPECT_EQ(LoadPngAsBitmap(dir.file("grey.png")), nullptr);  // not a camera image
}

// Sound files as common tools write them: a LIST (INFO) chunk between "fmt "
// and "data". The samples are found and kept; fields that contradict each
// other are refused with the reason instead of making an unplayable file.
TEST(AviExport, WaveChunksAreWalkedAndInconsistentFieldsRefused) {
  if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
  avitest::TempDir dir;
  avitest::WriteFile(dir.file("left_0000.bmp"), avitest::Bmp24(avitest::PatternPicture(16, 16, 0), 16, 16));
  const auto plain = avitest::Wave16(1, 8000, 2000, 3);
  std::vector<uint8_t> tagged(plain.begin(), plain.begin() + 36);
  const char raw[] = "LIST\x0e\0\0\0INFOISFT\x02\0\0\0x\0";
  const std::string list(raw, sizeof raw - 1);  // 22 bytes
  tagged.insert(tagged.end(), list.begin(), list.end());
  tagged.insert(tagged.end(), plain.begin() + 36, plain.end());
  tagged[4] = static_cast<uint8_t>(tagged.size() - 8);
  tagged[5] = static_cast<uint8_t>((tagged.size() - 8) >> 8);
  avitest::WriteFile(dir.file("tagged.wav"), tagged);
  EXPECT_EQ(CheckWaveFile(dir.file("tagged.wav")), "");
  const AviExportSummary s = ExportAvi(dir.path().string(), false, ClassicImages(dir.path().string(), false, 1), dir.file("tagged.wav"));
  EXPECT_TRUE(s.audioAdded);
  EXPECT_TRUE(avitest::DecodeAudioS16(dir.file("L.avi")) == std::vector<uint8_t>(plain.begin() + 44, plain.end()));

  auto with = [&](size_t at, uint32_t value, int bytes) {
    auto f = plain;
    for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(value >> (8 * i));
    avitest::WriteFile(dir.file("bad.wav"), f);
    return CheckWaveFile(dir.file("bad.wav"));
  };
  EXPECT_EQ(with(32, 3, 2), "block align 3 is not channels x bytes per sample (2)");
  EXPECT_EQ(with(28, 1234, 4), "byte rate 1234 is not sample rate x block align (16000)");
  EXPECT_EQ(with(24, 999, 4), "sample rate 999 is outside 1000..384000");
  EXPECT_EQ(CheckWaveFile("/dev/zero"), "not a regular file");
}

// A full disk while the AVI is written: the export says why, and the AVI of
// an earlier export stays as it was.
TEST(AviExport, WriteFailureKeepsTheEarlierFileAndSaysWhy) {
  avitest::TempDir dir;
  for (int i = 0; i < 40; ++i) {
    avitest::WriteFile(dir.file("left_00" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".bmp"),
                       avitest::Bmp24(avitest::PatternPicture(16, 16, i), 16, 16));
  }
  ASSERT_TRUE(ExportAvi(dir.path().string(), false, ClassicImages(dir.path().string(), false, 1), "").writeError.empty());
  const auto earlier = avitest::ReadFile(dir.file("L.avi"));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{20000, 20000};  // the header fits, 40 frames do not
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const AviExportSummary s = ExportAvi(dir.path().string(), false, ClassicImages(dir.path().string(), false, 40), "");
    ::_exit(s.opened && s.writeError == dir.file("L.avi") + ": file too large" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(avitest::ReadFile(dir.file("L.avi")) == earlier);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 41);  // no temporary file left
}

}  // namespace
}  // namespace tovimar
