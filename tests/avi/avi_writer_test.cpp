#include "avi/avi_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <random>

#include "base/error.h"
#include "media_files.h"

namespace tovimar {
namespace {

using avitest::Chunk;
using avitest::Le16;
using avitest::Le32;

std::unique_ptr<Bitmap> Frame24(int w, int h, int frame) {
  const auto file = avitest::Bmp24(avitest::PatternPicture(w, h, frame), w, h);
  return ParseBitmapImage(file.data(), file.size());
}

bool AppendImage(AviFile& w, const std::vector<uint8_t>& bytes) {
  // An exactly sized heap copy: a read outside the image trips the address sanitizer.
  std::unique_ptr<uint8_t[]> copy(new uint8_t[bytes.size() + 1]);
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());
  const WaveImage image{copy.get(), bytes.size()};
  return w.AppendAudio(image);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::vector<uint8_t> Samples(const std::vector<uint8_t>& wave) { return {wave.begin() + 44, wave.end()}; }

#define REQUIRE_FFMPEG() \
  if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffprobe/ffmpeg not installed"

TEST(AviWriter, OtherFormatsAndAMissingSoundFileAreSkipped) {
  avitest::TempDir dir;
  const auto frame = Frame24(8, 6, 0);

  AviFile w(dir.file("a.avi"), 500);
  EXPECT_TRUE(w.AppendFrame(*frame));
  // Another layout than the first frame's is refused; the writer goes on.
  EXPECT_FALSE(w.AppendFrame(*Frame24(9, 6, 0)));
  EXPECT_TRUE(w.AppendFrame(*Frame24(8, 6, 1)));
  EXPECT_EQ(w.FramesWritten(), 2);
  // A sound file that cannot be opened adds nothing and fails nothing.
  EXPECT_FALSE(w.AppendAudioFile(dir.file("none.wav")));
  EXPECT_TRUE(w.AppendFrame(*frame));
  EXPECT_EQ(w.FramesWritten(), 3);
  w.Close();

  const auto file = avitest::ReadFile(dir.file("a.avi"));
  const auto riff = avitest::ParseRiff(file);
  ASSERT_EQ(riff.size(), 1u);
  EXPECT_EQ(riff[0].dataOffset + riff[0].size, file.size());
  ASSERT_NE(riff[0].Find("movi"), nullptr);
  size_t frames = 0;
  for (const Chunk& c : riff[0].Find("movi")->children) frames += c.id == "00db";
  EXPECT_EQ(frames, 3u);
}

TEST(AviWriter, OpenRefusesUnusableFilesAndPeriods) {
  avitest::TempDir dir;
  auto refusal = [](const std::string& path, int32_t period) {
    try {
      AviFile w(path, period);
    } catch (const Error& e) {
      return e.message();
    }
    return std::string("opened");
  };
  EXPECT_NE(refusal(dir.file("no/such/folder.avi"), 500).find("folder.avi"), std::string::npos);
  EXPECT_NE(refusal(dir.path().string(), 500), "opened");  // a folder
  EXPECT_NE(refusal(dir.file("a.avi"), 0).find("a.avi: the frame period 0 ms is not positive"), std::string::npos);
  EXPECT_NE(refusal(dir.file("a.avi"), -500), "opened");
  // Never closed: nothing is left under the name.
  { AviFile w(dir.file("b.avi"), 500); }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(AviWriter, WaveImagesAreReadOnlyWithinTheirBounds) {
  avitest::TempDir dir;
  AviFile w(dir.file("a.avi"), 500);
  const auto good = avitest::Wave16(2, 8000, 10, 3);
  auto with = [&](size_t at, uint32_t value, int bytes) {
    auto f = good;
    for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return f;
  };
  EXPECT_FALSE(AppendImage(w, {}));
  EXPECT_FALSE(AppendImage(w, {good.begin(), good.begin() + 43}));
  EXPECT_FALSE(AppendImage(w, {good.begin(), good.end() - 1}));  // data length past the end
  EXPECT_FALSE(AppendImage(w, with(40, 0xFFFFFFFFu, 4)));
  EXPECT_FALSE(AppendImage(w, with(34, 0, 2)));  // 0 bits per sample
  EXPECT_FALSE(AppendImage(w, with(32, 0, 2)));  // 0 block alignment
  EXPECT_FALSE(AppendImage(w, with(22, 0, 2)));  // 0 channels
  EXPECT_FALSE(AppendImage(w, with(36, 'x', 1)));  // no "data" chunk at 36
  EXPECT_FALSE(AppendImage(w, with(8, 'x', 1)));   // not WAVE
  EXPECT_EQ(w.AudioSamplesWritten(), 0);

  // None of that failed the writer, nor fixed the audio format.
  EXPECT_TRUE(AppendImage(w, good));
  EXPECT_EQ(w.AudioSamplesWritten(), 10);
  // Data shorter than the image (trailing bytes after the data chunk) is fine.
  auto longer = avitest::Wave16(2, 8000, 4, 4);
  longer.resize(longer.size() + 7, 0xEE);
  EXPECT_TRUE(AppendImage(w, longer));
  EXPECT_EQ(w.AudioSamplesWritten(), 14);

  // Random damage, under the sanitizers: never a read outside the image.
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    auto f = good;
    for (int i = 0; i < 3; ++i) f[rng() % 44] = static_cast<uint8_t>(rng());
    if (rng() % 3 == 0) f.resize(rng() % f.size());
    AppendImage(w, f);  // written or refused, and nothing thrown
  }
}

TEST(AviWriter, FormatGivenAtOpeningFixesTheAudioFormat) {
  avitest::TempDir dir;
  WaveFormat format;
  format.formatTag = 1;
  format.channels = 1;
  format.samplesPerSec = 8000;
  format.avgBytesPerSec = 16000;
  format.blockAlign = 2;
  format.bitsPerSample = 16;
  AviFile w(dir.file("a.avi"), 500, &format);
  EXPECT_FALSE(AppendImage(w, avitest::Wave16(2, 8000, 10, 0)));
  EXPECT_FALSE(AppendImage(w, avitest::Wave16(1, 11025, 10, 0)));
  EXPECT_TRUE(AppendImage(w, avitest::Wave16(1, 8000, 10, 0)));
}

TEST(AviWriter, HeadersDescribeTheStreams) {
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  {
    AviFile w(path, 500);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(w.AppendFrame(*Frame24(61, 48, i)));
    ASSERT_TRUE(AppendImage(w, avitest::Wave16(2, 22050, 1001, 0)));
    w.Close();
  }
  const auto f = avitest::ReadFile(path);
  const auto riff = avitest::ParseRiff(f);
  ASSERT_EQ(riff.size(), 1u);
  ASSERT_EQ(riff[0].listType, "AVI ");
  const Chunk* hdrl = riff[0].Find("hdrl");
  const Chunk* movi = riff[0].Find("movi");
  const Chunk* idx1 = riff[0].Find("idx1");
  ASSERT_TRUE(hdrl && movi && idx1);

  const Chunk* avih = hdrl->Find("avih");
  ASSERT_TRUE(avih && avih->size == 56);
  const uint64_t a = avih->dataOffset;
  EXPECT_EQ(Le32(f, a), 500000u);        // microseconds per frame
  EXPECT_EQ(Le32(f, a + 12) & 0x10, 0x10u);  // has an index
  EXPECT_EQ(Le32(f, a + 16), 3u);        // frames
  EXPECT_EQ(Le32(f, a + 24), 2u);        // streams
  EXPECT_EQ(Le32(f, a + 32), 61u);
  EXPECT_EQ(Le32(f, a + 36), 48u);

  std::vector<const Chunk*> strl;
  for (const Chunk& c : hdrl->children)
    if (c.listType == "strl") strl.push_back(&c);
  ASSERT_EQ(strl.size(), 2u);
  const uint64_t v = strl[0]->Find("strh")->dataOffset;
  EXPECT_EQ(std::string(f.begin() + v, f.begin() + v + 4), "vids");
  EXPECT_EQ(Le32(f, v + 20), 500u);   // scale
  EXPECT_EQ(Le32(f, v + 24), 1000u);  // rate
  EXPECT_EQ(Le32(f, v + 32), 3u);     // length
  EXPECT_EQ(Le32(f, v + 36), 184u * 48);  // suggested buffer: the image size
  EXPECT_EQ(Le16(f, v + 52), 61u);
  EXPECT_EQ(Le16(f, v + 54), 48u);
  const Chunk* vf = strl[0]->Find("strf");
  EXPECT_EQ(vf->size, 40u);
  EXPECT_EQ(Le32(f, vf->dataOffset + 20), 184u * 48);

  const uint64_t s = strl[1]->Find("strh")->dataOffset;
  EXPECT_EQ(std::string(f.begin() + s, f.begin() + s + 4), "auds");
  EXPECT_EQ(Le32(f, s + 20), 4u);          // scale: block alignment
  EXPECT_EQ(Le32(f, s + 24), 4u * 22050);  // rate
  EXPECT_EQ(Le32(f, s + 32), 1001u);       // length in blocks
  EXPECT_EQ(Le32(f, s + 40), 0xFFFFFFFFu); // quality
  EXPECT_EQ(Le32(f, s + 44), 4u);          // sample size
  const Chunk* af = strl[1]->Find("strf");
  EXPECT_EQ(af->size, 18u);
  EXPECT_EQ(Le16(f, af->dataOffset + 2), 2u);

  // The classic index lists every chunk as a key frame, at its offset from
  // the 'movi' list type.
  std::vector<const Chunk*> media;
  for (const Chunk& c : movi->children)
    if (c.id == "00db" || c.id == "01wb") media.push_back(&c);
  ASSERT_EQ(media.size(), 4u);
  ASSERT_EQ(idx1->size, 16u * 4);
  for (size_t i = 0; i < media.size(); ++i) {
    const uint64_t e = idx1->dataOffset + 16 * i;
    EXPECT_EQ(std::string(f.begin() + e, f.begin() + e + 4), media[i]->id);
    EXPECT_EQ(Le32(f, e + 4), 0x10u);
    EXPECT_EQ(movi->dataOffset + Le32(f, e + 8), media[i]->dataOffset - 8);
    EXPECT_EQ(Le32(f, e + 12), media[i]->size);
  }
}

TEST(AviWriter, VideoDecodesToTheBitmapsPixels) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  std::vector<uint8_t> expected;
  {
    AviFile w(path, 500);
    for (int i = 0; i < 5; ++i) {
      ASSERT_TRUE(w.AppendFrame(*Frame24(61, 48, i)));
      const auto p = avitest::PatternPicture(61, 48, i);
      expected.insert(expected.end(), p.begin(), p.end());
    }
    w.Close();
  }
  bool ok = false;
  const auto streams = avitest::ProbeStreams(path, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("codec_type"), "video");
  EXPECT_EQ(streams[0].at("codec_name"), "rawvideo");
  EXPECT_EQ(streams[0].at("width"), "61");
  EXPECT_EQ(streams[0].at("height"), "48");
  EXPECT_EQ(streams[0].at("r_frame_rate"), "2/1");
  EXPECT_EQ(streams[0].at("nb_read_frames"), "5");
  EXPECT_TRUE(avitest::DecodeVideoBgr24(path) == expected);
}

TEST(AviWriter, EightBitFramesDecodeThroughTheirColourTable) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  const int w = 10, h = 4;
  std::vector<uint8_t> indices(static_cast<size_t>(w) * h), expected;
  for (size_t i = 0; i < indices.size(); ++i) {
    indices[i] = static_cast<uint8_t>(i * 5);
    expected.insert(expected.end(), {indices[i], static_cast<uint8_t>(255 - indices[i]),
                                     static_cast<uint8_t>(3 * indices[i])});
  }
  const auto file = avitest::Bmp8(indices, w, h, 256);
  {
    AviFile writer(path, 250);
    const auto frame = ParseBitmapImage(file.data(), file.size());
    ASSERT_TRUE(writer.AppendFrame(*frame));
    writer.Close();
  }
  bool ok = false;
  const auto streams = avitest::ProbeStreams(path, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("r_frame_rate"), "4/1");
  EXPECT_TRUE(avitest::DecodeVideoBgr24(path) == expected);
}

TEST(AviWriter, AudioAppendsContinueTheStream) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  const auto first = avitest::Wave16(2, 8000, 1000, 1);
  const auto second = avitest::Wave16(2, 8000, 501, 2);
  avitest::WriteFile(dir.file("second.wav"), second);
  {
    AviFile w(path, 500);
    ASSERT_TRUE(w.AppendFrame(*Frame24(16, 8, 0)));
    ASSERT_TRUE(AppendImage(w, first));
    ASSERT_TRUE(w.AppendAudioFile(dir.file("second.wav")));
    EXPECT_FALSE(AppendImage(w, avitest::Wave16(2, 44100, 10, 3)));
    EXPECT_FALSE(AppendImage(w, avitest::Wave16(1, 8000, 10, 3)));
    EXPECT_EQ(w.AudioSamplesWritten(), 1501);
    ASSERT_TRUE(w.AppendFrame(*Frame24(16, 8, 1)));  // still writing
    w.Close();
  }
  bool ok = false;
  const auto streams = avitest::ProbeStreams(path, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].at("codec_type"), "video");
  EXPECT_EQ(streams[0].at("nb_read_frames"), "2");
  EXPECT_EQ(streams[1].at("codec_type"), "audio");
  EXPECT_EQ(streams[1].at("sample_rate"), "8000");
  EXPECT_EQ(streams[1].at("channels"), "2");
  EXPECT_TRUE(avitest::DecodeAudioS16(path) == Concat({Samples(first), Samples(second)}));
}

TEST(AviWriter, StreamsAreNumberedInCreationOrder) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  const auto wave = avitest::Wave16(1, 11025, 300, 5);
  {
    AviFile w(path, 500);
    ASSERT_TRUE(AppendImage(w, wave));
    ASSERT_TRUE(w.AppendFrame(*Frame24(16, 8, 0)));
    w.Close();
  }
  bool ok = false;
  const auto streams = avitest::ProbeStreams(path, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].at("codec_type"), "audio");
  EXPECT_EQ(streams[1].at("codec_type"), "video");
  EXPECT_TRUE(avitest::DecodeAudioS16(path) == Samples(wave));
  EXPECT_TRUE(avitest::DecodeVideoBgr24(path) == avitest::PatternPicture(16, 8, 0));
}

TEST(AviWriter, WithoutFramesThereIsNoVideoStream) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const auto wave = avitest::Wave16(1, 8000, 800, 6);
  {
    AviFile w(dir.file("sound.avi"), 500);
    ASSERT_TRUE(AppendImage(w, wave));
    w.Close();
  }
  bool ok = false;
  const auto streams = avitest::ProbeStreams(dir.file("sound.avi"), &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0].at("codec_type"), "audio");
  EXPECT_TRUE(avitest::DecodeAudioS16(dir.file("sound.avi")) == Samples(wave));

  // Nothing at all: still a complete RIFF file, with no stream.
  AviFile(dir.file("empty.avi"), 500).Close();
  const auto f = avitest::ReadFile(dir.file("empty.avi"));
  const auto riff = avitest::ParseRiff(f);
  ASSERT_EQ(riff.size(), 1u);
  EXPECT_EQ(riff[0].dataOffset + riff[0].size, f.size());
  EXPECT_EQ(Le32(f, riff[0].Find("hdrl")->Find("avih")->dataOffset + 24), 0u);
  EXPECT_TRUE(avitest::ProbeStreams(dir.file("empty.avi"), &ok).empty());
}

TEST(AviWriter, LargeFilesContinueInFurtherRiffListsUntilTheIndexIsFull) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  AviWriterLimits limits;
  limits.riffBytes = 65536;  // about six 64 x 48 frames per list
  limits.riffCount = 5;
  std::vector<uint8_t> expected;
  const auto wave = avitest::Wave16(1, 8000, 40000, 7);  // 80000 bytes: split over chunks and lists
  int written = 0;
  {
    AviFile w(path, 500, nullptr, limits);
    bool full = false;
    for (int i = 0; i < 100 && !full; ++i) {
      if (i == 9) {
        ASSERT_TRUE(AppendImage(w, wave));
      }
      try {
        ASSERT_TRUE(w.AppendFrame(*Frame24(64, 48, i)));
        const auto p = avitest::PatternPicture(64, 48, i);
        expected.insert(expected.end(), p.begin(), p.end());
        ++written;
      } catch (const Error& e) {
        EXPECT_NE(std::string(e.message()).find("largest size"), std::string::npos) << e.message();
        full = true;
      }
    }
    EXPECT_TRUE(full);  // refused, and the writer has failed
    EXPECT_THROW(w.AppendFrame(*Frame24(64, 48, 0)), Error);
    EXPECT_EQ(w.FramesWritten(), written);
    w.Close();
  }
  EXPECT_GT(written, 20);

  const auto f = avitest::ReadFile(path);
  const auto riff = avitest::ParseRiff(f);
  ASSERT_EQ(riff.size(), 5u);
  EXPECT_EQ(riff[0].listType, "AVI ");
  for (size_t i = 0; i < riff.size(); ++i) {
    EXPECT_LE(riff[i].size + 8u, limits.riffBytes);
    if (i > 0) {
      EXPECT_EQ(riff[i].listType, "AVIX");
    }
    ASSERT_NE(riff[i].Find("movi"), nullptr);
    EXPECT_NE(riff[i].Find("movi")->Find("ix00"), nullptr);
  }
  EXPECT_EQ(riff.back().dataOffset + riff.back().size, f.size());

  bool ok = false;
  const auto streams = avitest::ProbeStreams(path, &ok);
  EXPECT_TRUE(ok);
  ASSERT_EQ(streams.size(), 2u);
  EXPECT_EQ(streams[0].at("nb_read_frames"), std::to_string(written));
  EXPECT_TRUE(avitest::DecodeVideoBgr24(path) == expected);
  EXPECT_TRUE(avitest::DecodeAudioS16(path) == Samples(wave));

  // A frame larger than a whole RIFF list can never be written.
  {
    AviFile w(dir.file("b.avi"), 500, nullptr, limits);
    EXPECT_THROW(w.AppendFrame(*Frame24(200, 200, 0)), Error);
    w.Close();
  }
  EXPECT_TRUE(avitest::ProbeStreams(dir.file("b.avi"), &ok).size() <= 1);
  EXPECT_TRUE(ok);
}

TEST(AviWriter, AWriteFailureKeepsTheFramesBeforeIt) {
  REQUIRE_FFMPEG();
  avitest::TempDir dir;
  const std::string path = dir.file("a.avi");
  std::vector<std::unique_ptr<Bitmap>> frames;
  for (int i = 0; i < 12; ++i) frames.push_back(Frame24(64, 48, i));
  // A child process whose files may not grow beyond 64 KB, as on a full disk.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    int written = 0;
    bool refused = false;
    try {
      AviFile w(path, 500);
      try {
        while (written < 12 && w.AppendFrame(*frames[static_cast<size_t>(written)])) ++written;
      } catch (const Error&) {
        try {
          w.AppendFrame(*frames[0]);
        } catch (const Error&) {
          refused = true;  // failed for good
        }
      }
      w.Close();
    } catch (const Error&) {
      ::_exit(101);
    }
    ::_exit(refused ? written : 100);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  const int written = WEXITSTATUS(status);
  ASSERT_GT(written, 0);
  ASSERT_LT(written, 12);

  const auto f = avitest::ReadFile(path);
  const auto riff = avitest::ParseRiff(f);
  ASSERT_EQ(riff.size(), 1u);
  EXPECT_EQ(riff[0].dataOffset + riff[0].size, f.size());
  std::vector<uint8_t> expected;
  for (int i = 0; i < written; ++i) {
    const auto p = avitest::PatternPicture(64, 48, i);
    expected.insert(expected.end(), p.begin(), p.end());
  }
  EXPECT_TRUE(avitest::DecodeVideoBgr24(path) == expected);
}

}  // namespace
}  // namespace tovimar
