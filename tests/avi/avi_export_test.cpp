#include "avi/avi_export.h"

#include <gtest/gtest.h>

#include "media_files.h"

namespace tovimar {
namespace {

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

  const AviExportSummary s = ExportAvi(dir.path().string(), true, 4, dir.file("wav.wav"));
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
  AviExportSummary s = ExportAvi(dir.path().string() + "/", false, 1, dir.file("wav.wav"));
  EXPECT_TRUE(s.opened);
  EXPECT_EQ(s.framesWritten, 1);
  EXPECT_FALSE(s.audioAdded);
  EXPECT_EQ(s.aviPath, dir.file("L.avi"));

  // A scene without frames and without sound still gives a (streamless) file.
  s = ExportAvi(dir.path().string(), true, 0, "");
  EXPECT_TRUE(s.opened);
  EXPECT_EQ(s.framesWritten + s.framesSkipped, 0);
  EXPECT_TRUE(std::filesystem::exists(dir.file("P.avi")));

  s = ExportAvi(dir.file("missing"), true, 3, dir.file("wav.wav"));
  EXPECT_FALSE(s.opened);
  EXPECT_EQ(s.framesWritten, 0);
  EXPECT_EQ(s.framesSkipped, 3);
}

}  // namespace
}  // namespace tovimar
