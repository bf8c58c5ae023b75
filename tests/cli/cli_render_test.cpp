// tovimar-render's rendering mode: options, errors and exit codes, and its
// output compared byte for byte with a run of the sequence driver.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/options.h"
#include "io/bytes.h"
#include "io/sha256.h"
#include "render/settings.h"
#include "render/renderer.h"
#include "scene/notifier.h"
#include "dataset/output_files.h"
#include "run/sequence_driver.h"
#include "run/render_frame_source.h"
#include "tests/support/collecting_notifier.h"
#include "tests/support/temp_dir.h"

#ifndef TOVIMAR_RENDER_BINARY
#error "TOVIMAR_RENDER_BINARY must name the tovimar-render executable"
#endif

namespace tovimar::cli {
namespace {

namespace fs = std::filesystem;

using tovimar::testing::TempDir;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

struct Result {
  int exitCode = -1;
  std::string err;
};

// Runs the tool with stderr captured (not a terminal: plain progress lines).
Result RunTool(const std::string& args, const std::string& workDir) {
  const std::string errPath = workDir + "/stderr.txt";
  const std::string cmd = "cd " + Quote(workDir) + " && " + Quote(TOVIMAR_RENDER_BINARY) + " " + args +
                          " 2>" + Quote(errPath) + " >/dev/null";
  const int status = std::system(cmd.c_str());
  Result r;
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.err = ReadText(errPath);
  std::remove(errPath.c_str());
  return r;
}

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.insert(e.path().filename().string());
  return names;
}

// ----------------------------------------------------------------- options

TEST(CliOptions, DefaultsAndEveryOption) {
  const CliOptions d = ParseCommandLine({"scene.txt"});
  EXPECT_EQ(d.outputFolder, "./out");
  EXPECT_EQ(d.sequenceNumber, 0);
  EXPECT_EQ(d.camera, CameraChoice::Both);
  EXPECT_EQ(d.width, 512);
  EXPECT_EQ(d.height, 384);
  EXPECT_EQ(d.background, (std::array<int, 3>{0, 255, 255}));
  EXPECT_EQ(d.focalText, "389,0");
  EXPECT_EQ(d.baselineText, "0,12");
  EXPECT_FALSE(d.preview || d.palette || d.antiAlias || d.quiet || d.avi || d.dump);

  const CliOptions o = ParseCommandLine({"-o", "/data/x", "-s3", "--camera=right", "-r", "320x240",
                                         "--preview", "--palette", "--antialias", "--background",
                                         "1,2,3", "--focal", "400.5", "--baseline", "0.2",
                                         "--textures", "tex", "-q", "--avi", "s.txt"});
  EXPECT_EQ(o.outputFolder, "/data/x");
  EXPECT_EQ(o.sequenceNumber, 3);
  EXPECT_EQ(o.camera, CameraChoice::Right);
  EXPECT_EQ(o.width, 320);
  EXPECT_EQ(o.height, 240);
  EXPECT_TRUE(o.preview && o.palette && o.antiAlias && o.quiet && o.avi);
  EXPECT_EQ(o.background, (std::array<int, 3>{1, 2, 3}));
  EXPECT_EQ(o.focalText, "400.5");
  EXPECT_EQ(o.baselineText, "0.2");
  EXPECT_EQ(o.textureFolder, "tex");
  EXPECT_EQ(o.scenePath, "s.txt");
  EXPECT_EQ(ParseCommandLine({"-c", "left", "-r", "1023X767", "x"}).width, 1023);
}

TEST(CliOptions, BadValuesAreUsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {"-r", "0x10", "s"},   {"-r", "512", "s"},        {"-r", "ax3", "s"},     {"-r", "9000x10", "s"},
      {"-r", "5x5x5", "s"},  {"-r", " 5x5", "s"},       {"--background", "1,2", "s"},
      {"--background", "256,0,0", "s"}, {"--background", "-1,0,0", "s"}, {"--background", "1,,2", "s"},
      {"-s", "-1", "s"},     {"-s", "x", "s"},          {"-s", "1.5", "s"},     {"-c", "up", "s"},
      {"--textures", "", "s"}, {"--preview=yes", "s"},  {"-o"},                 {"--dump", "a", "b"},
  };
  for (const auto& args : bad) {
    EXPECT_THROW(ParseCommandLine(args), UsageError) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
  try {
    ParseCommandLine({"--resolution", "12", "s"});
  } catch (const UsageError& e) {
    EXPECT_NE(std::string(e.what()).find("--resolution"), std::string::npos);
  }
}

// ----------------------------------------------------------------- runs

// Noise, a plane (whose drawings advance the noise generator), two ids and
// three frames with motion.
const char* kScene =
    "NOISE;1.5;\r\n"
    "PLANE; id 9; texture: 2; colour: 1; 1; 1; 1; 0; 0; 1.2; 0; 0\r\n"
    "SPHERE; id 25; texture: 9; colour: 1; 1; 1; position: -0.3; 1; 0; 0; 0; 0; dim: 0.4\r\n"
    "CUBOID; id 160; texture: 5; colour: 1; 0.5; 1; position: 0.5; 0.5; -0.3; 0; 0; 20; dim: 0.2; 0.2; 0.4\r\n"
    "EGO; 0; 0; 0.1; 0; 1; 0\r\n"
    "EGO; 0.05; 0; 0.1; 0; 0; 1\r\n"
    "EGO; 0; 0; 0.1; 1; 0; 0\r\n";

// The desktop program's steps in this process: a fresh start, the editor's
// "Load" (which prepares and draws the scene), then per camera the panel's
// camera radio group when the camera changes (the renderer's box handler shifts
// the projection and redraws) and "Start" until the run ends.
void DesktopRuns(const std::string& folder, int sequenceNumber, const std::vector<bool>& cameras) {
  tovimar::testing::QuietNotifier notifier;
  fs::create_directory(folder);
  PlainSettings settings;
  settings.outputFolder = folder;
  settings.sequenceNumber = sequenceNumber;
  settings.palette = true;
  settings.background = {10, 20, 30};
  PlainEditor editor;
  editor.lines = {"NOISE;1.5;",
                  "PLANE; id 9; texture: 2; colour: 1; 1; 1; 1; 0; 0; 1.2; 0; 0",
                  "SPHERE; id 25; texture: 9; colour: 1; 1; 1; position: -0.3; 1; 0; 0; 0; 0; dim: 0.4",
                  "CUBOID; id 160; texture: 5; colour: 1; 0.5; 1; position: 0.5; 0.5; -0.3; 0; 0; 20; dim: 0.2; 0.2; 0.4",
                  "EGO; 0; 0; 0.1; 0; 1; 0",
                  "EGO; 0.05; 0; 0.1; 0; 0; 1",
                  "EGO; 0; 0; 0.1; 1; 0; 0"};
  editor.focalLength = 380.5;  // the fields "380,5" and "0.15"
  editor.baseline = 0.15;
  Renderer renderer(settings, editor, notifier, ',', 96, 64);
  ASSERT_TRUE(renderer.Initialise());
  renderer.ResetViewAndDraw();
  renderer.PrepareScene();
  RenderFrameSource source(renderer, settings);
  SequenceDriver driver(source);
  for (bool right : cameras) {
    if (right != settings.rightCamera) {
      settings.rightCamera = right;
      renderer.CameraSwitch(right);
    }
    ASSERT_TRUE(driver.Run());
  }
}

// Every file but meta.json (it records how the run was asked for and its
// wall times) must be the same.
int DifferingFiles(const std::string& a, const std::string& b, std::size_t expectedCount) {
  const std::set<std::string> names = Listing(b);
  EXPECT_EQ(names.size(), expectedCount);
  EXPECT_EQ(Listing(a), names);
  int differing = 0;
  for (const std::string& n : names) {
    if (n == "meta.json") continue;
    const std::string x = ReadText(a + "/" + n);
    EXPECT_FALSE(x.empty()) << n;
    if (x != ReadText(b + "/" + n) && ++differing < 5) ADD_FAILURE() << n << " differs";
  }
  return differing;
}

TEST(CliRender, RunsEqualTheDesktopStepsByteForByte) {
  TempDir tmp;
  WriteText(tmp.path() + "/scene.txt", kScene);
  const std::string settings = "-o cli -r 96x64 --palette --background 10,20,30 --focal 380,5 --baseline 0.15 ";
  Result r = RunTool(settings + "-s 2 scene.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("left : frame 3/3"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("wrote 6 frames (30 files) to cli/2/"), std::string::npos) << r.err;
  WriteText(tmp.path() + "/one.txt", "EGO;0;0;0;0;0;0\n");
  const Result one = RunTool("-o one -r 16x12 -c left one.txt", tmp.path());
  EXPECT_NE(one.err.find("wrote 1 frame (5 files) to one/0/"), std::string::npos) << one.err;
  r = RunTool(settings + "-s 3 -c right scene.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;

  DesktopRuns(tmp.path() + "/core", 2, {false, true});
  DesktopRuns(tmp.path() + "/core", 3, {true});
  // Frame files, then calib.txt, meta.json, scene.txt and one poses file per camera.
  EXPECT_EQ(DifferingFiles(tmp.path() + "/cli/2", tmp.path() + "/core/2", 30u + 5u), 0);
  EXPECT_EQ(DifferingFiles(tmp.path() + "/cli/3", tmp.path() + "/core/3", 15u + 4u), 0);
  // The plane's shade and the noise of a run depend on the drawings made
  // since start-up: the right run after a left run differs from a right run
  // alone.
  EXPECT_NE(ReadText(tmp.path() + "/cli/2/right_0000.bmp"), ReadText(tmp.path() + "/cli/3/right_0000.bmp"));
  EXPECT_NE(ReadText(tmp.path() + "/cli/2/left_0000.bmp"), ReadText(tmp.path() + "/cli/2/right_0000.bmp"));
}

TEST(CliRender, MissingOutputRootIsCreatedAndPreviewWritesNothing) {
  TempDir tmp;
  WriteText(tmp.path() + "/s.txt", "EGO;0;0;0;0;0;0\nEGO;0;0;0;0;0;0\n");
  Result r = RunTool("-q -c right -r 8x6 -o deep/er/root s.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err, "");  // quiet
  EXPECT_EQ(Listing(tmp.path() + "/deep/er/root/0").size(), 10u + 4u);  // and calib, meta, scene, poses

  r = RunTool("--preview -r 8x6 -o never s.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("previewed 4 frames, nothing written"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(tmp.path() + "/never"));
}

TEST(CliRender, ErrorsExitNonZeroWithAClearMessage) {
  TempDir tmp;
  WriteText(tmp.path() + "/s.txt", "EGO;0;0;0;0;0;0\n");
  WriteText(tmp.path() + "/afile", "x");

  Result r = RunTool("-r 8x6 missing.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;

  r = RunTool("-r 8x6 --background 1,2,300 s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--background"), std::string::npos) << r.err;

  r = RunTool("-r 8x6 --focal abc s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("'abc' is not a valid floating point value"), std::string::npos) << r.err;

  // A focal length that is not positive is a bad value too, refused before
  // the output root is made.
  r = RunTool("-r 8x6 --focal 0,0 -o made s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("'0,0' is not a valid focal length"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(tmp.path() + "/made"));

  // The sequence folder is a file: refused with its name, nothing made.
  fs::create_directory(tmp.path() + "/root");
  WriteText(tmp.path() + "/root/3", "x");
  r = RunTool("-r 8x6 -o root -s 3 s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("'root/3' exists and is not a folder"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(tmp.path() + "/root"), std::set<std::string>{"3"});

  // A root below a file names the file.
  r = RunTool("-r 8x6 -o afile/deeper/root s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("'afile' is not a folder"), std::string::npos) << r.err;

  // A preparation that fails (a texture folder without tex1.bmp) leaves no
  // empty output folder behind.
  fs::create_directory(tmp.path() + "/tex");
  fs::copy_file(std::string(TOVIMAR_SOURCE_DIR) + "/assets/tex0.bmp", tmp.path() + "/tex/tex0.bmp");
  r = RunTool("-r 8x6 --textures tex -o fresh/out s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("tex1.bmp"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(tmp.path() + "/fresh"));

  // The output root is a file: refused before the first frame.
  r = RunTool("-r 8x6 -o afile s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("afile"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("frame"), std::string::npos) << r.err;

  // The sequence folder exists as a file: the first image write fails.
  fs::create_directories(tmp.path() + "/root");
  WriteText(tmp.path() + "/root/0", "x");
  r = RunTool("-r 8x6 -o root s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("root/0"), std::string::npos) << r.err;

  // A missing texture folder.
  r = RunTool("-r 8x6 --textures nowhere -o out s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("tex0.bmp"), std::string::npos) << r.err;
}

TEST(CliRender, ConversionErrorsAreReportedWithLineNumbersOnce) {
  TempDir tmp;
  WriteText(tmp.path() + "/s.txt", "// comment; with words\nSPHERE; id 1x2; dim: 0.2\nEGO;0;0;0;0;0;0\n");
  const Result r = RunTool("-r 8x6 -o out s.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("s.txt:1: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("s.txt:2: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Convert error: "), std::string::npos) << r.err;
  // Both camera runs prepare the scene; each report is printed once.
  EXPECT_EQ(r.err.find("s.txt:2: "), r.err.rfind("s.txt:2: ")) << r.err;
  EXPECT_EQ(Listing(tmp.path() + "/out/0").size(), 10u + 5u);  // and calib, meta, scene, two poses
}

TEST(CliRender, AviOfEachRenderedCameraWithTheSoundTrack) {
  TempDir tmp;
  WriteText(tmp.path() + "/s.txt", "EGO;0;0;0;0;0;0\nEGO;0;0;0.1;0;0;0\nEGO;0;0;0.1;0;0;0\n");
  Result r = RunTool("-r 16x8 -c left --avi -o out s.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("out/0/L.avi (3 frames)"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(tmp.path() + "/out/0/P.avi"));
  const std::string avi = ReadText(tmp.path() + "/out/0/L.avi");
  ASSERT_GT(avi.size(), 12u);
  EXPECT_EQ(avi.substr(0, 4), "RIFF");
  EXPECT_EQ(avi.substr(8, 4), "AVI ");

  // A canonical 8-bit mono PCM WAVE file in the current folder is added.
  std::string wav = "RIFF";
  auto le32 = [](uint32_t v) {
    std::string b(4, '\0');
    io::PutLe32(reinterpret_cast<uint8_t*>(b.data()), v);
    return b;
  };
  auto le16 = [](uint16_t v) {
    std::string b(2, '\0');
    io::PutLe16(reinterpret_cast<uint8_t*>(b.data()), v);
    return b;
  };
  const std::string samples(8000, '\x80');
  wav += le32(36 + static_cast<uint32_t>(samples.size())) + "WAVEfmt " + le32(16) + le16(1) + le16(1) +
         le32(8000) + le32(8000) + le16(1) + le16(8) + "data" + le32(static_cast<uint32_t>(samples.size())) +
         samples;
  WriteText(tmp.path() + "/wav.wav", wav);
  r = RunTool("-r 16x8 --avi -o out s.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("out/0/L.avi (3 frames, with wav.wav)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("out/0/P.avi (3 frames, with wav.wav)"), std::string::npos) << r.err;
  fs::remove(tmp.path() + "/wav.wav");

  // The layouts store PNG camera images: every frame goes in, from where
  // each layout keeps it.
  for (const std::string layout : {"middlebury", "kitti", "sceneflow"}) {
    r = RunTool("-r 16x8 --avi --layout " + layout + " -o " + layout + " s.txt", tmp.path());
    ASSERT_EQ(r.exitCode, 0) << layout << r.err;
    EXPECT_NE(r.err.find(layout + "/0/L.avi (3 frames)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(layout + "/0/P.avi (3 frames)"), std::string::npos) << r.err;
  }
  // Outputs without a camera image: refused before anything is made.
  r = RunTool("-r 16x8 -c left --avi --outputs pfm -o noimages s.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("--avi is made of the camera images: --outputs needs classic or png"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(tmp.path() + "/noimages"));
}

// Each scene-flow split numbers its scenes from 0, as FlyingThings3D does:
// TRAIN/A's sequence 0 keeps DIR/0/, TEST/A's has its own DIR/TEST@A@0/, and
// neither run, nor a --clean of either, touches the other's files.
TEST(CliRender, SceneFlowSplitsKeepTheirOwnSequenceFiles) {
  TempDir tmp;
  WriteText(tmp.path() + "/a.txt", "SPHERE;7;-1;200;40;40;0;4;0;0;0;0;1\nEGO;0;0;0;0;0;0\nEGO;0;0,1;0;0;0;0\n");
  WriteText(tmp.path() + "/b.txt", "CUBOID;3;-1;40;200;40;0;4;0;0;0;0;1;1;1\nEGO;0;0;0;0;0;0\nEGO;0;0;0,1;0;0;0\n");
  const std::string common = "-q -r 24x16 --layout sceneflow --outputs png,pfm,flow -o out ";
  // Every file under the root that is the TEST sequence's, with its bytes.
  auto testFiles = [&] {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(tmp.path() + "/out")) {
      const std::string rel = fs::path(e.path()).lexically_relative(tmp.path() + "/out").generic_string();
      if (e.is_regular_file() && (rel.find("/TEST/") != std::string::npos || rel.starts_with("TEST@A@0/")))
        files[rel] = ReadText(e.path().string());
    }
    return files;
  };
  const Result test = RunTool(common.substr(3) + "--split TEST/A -s 0 b.txt", tmp.path());  // not quiet
  ASSERT_EQ(test.exitCode, 0) << test.err;
  // The summary names the tree's folders, where the frames went.
  EXPECT_NE(test.err.find("wrote 4 frames (28 files) to out/TEST@A@0/ and the scene-flow tree's TEST/A/0000 folders "
                          "in out/,"),
            std::string::npos)
      << test.err;
  const std::map<std::string, std::string> before = testFiles();
  for (const char* name : {"TEST@A@0/meta.json", "TEST@A@0/scene.txt", "TEST@A@0/calib.txt",
                           "TEST@A@0/poses_left.txt", "frames_cleanpass/TEST/A/0000/left/0001.png",
                           "optical_flow/TEST/A/0000/into_past/right/OpticalFlowIntoPast_0001_R.pfm"})
    EXPECT_EQ(before.count(name), 1u) << name;
  const Result train = RunTool(common + "-s 0 a.txt", tmp.path());
  ASSERT_EQ(train.exitCode, 0) << train.err;
  EXPECT_EQ(ReadText(tmp.path() + "/out/0/scene.txt"), ReadText(tmp.path() + "/a.txt"));
  EXPECT_TRUE(fs::exists(tmp.path() + "/out/frames_cleanpass/TRAIN/A/0000/left/0001.png"));
  const Result clean = RunTool(common + "--clean -s 0 a.txt", tmp.path());
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_EQ(clean.err.find("earlier"), std::string::npos) << clean.err;
  EXPECT_EQ(testFiles(), before) << "TRAIN's runs leave TEST's files as they were";
  EXPECT_EQ(ReadText(tmp.path() + "/out/TEST@A@0/scene.txt"), ReadText(tmp.path() + "/b.txt"));
  // And the other way round.
  const std::string trainMeta = ReadText(tmp.path() + "/out/0/meta.json");
  ASSERT_EQ(RunTool(common + "--split TEST/A --clean -s 0 a.txt", tmp.path()).exitCode, 0);
  EXPECT_EQ(ReadText(tmp.path() + "/out/0/meta.json"), trainMeta);
  EXPECT_TRUE(fs::exists(tmp.path() + "/out/frames_cleanpass/TRAIN/A/0000/left/0001.png"));
  EXPECT_EQ(ReadText(tmp.path() + "/out/TEST@A@0/scene.txt"), ReadText(tmp.path() + "/a.txt"));
  // A split folder name with '@' would be read back as another split.
  EXPECT_EQ(RunTool(common + "--split TE@ST/A a.txt", tmp.path()).exitCode, 2);
}

// ------------------------------------------------------------------ meshes

// A cube of half size 1 as an OBJ: each face of a cuboid, in the cuboid's
// order and with its corners, as the two triangles (0 1 2) and (0 2 3).
std::string CubeObj() {
  const int faces[6][4][3] = {{{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
                              {{-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}},
                              {{-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}, {1, 1, -1}},
                              {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}},
                              {{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
                              {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}}};
  std::string obj;
  int first = 1;
  for (const auto& face : faces) {
    for (const auto& v : face)
      obj += "v " + std::to_string(v[0]) + " " + std::to_string(v[1]) + " " + std::to_string(v[2]) + "\n";
    obj += "f " + std::to_string(first) + " " + std::to_string(first + 1) + " " + std::to_string(first + 2) + "\n";
    obj += "f " + std::to_string(first) + " " + std::to_string(first + 2) + " " + std::to_string(first + 3) + "\n";
    first += 4;
  }
  return obj;
}

const std::string kMeshSceneTail =
    "CUBOID;3;2;1;1;1;-1.2;3.5;0.4;0;0;10;0.3;0.3;0.3\n"
    "MOVE;7;0.05;0;0.02;0;0;4\n"
    "EGO;0;0;0.1;0.1;0;0\nEGO;0;0;0.1;0;2;0\n";

TEST(CliRenderMesh, CubeModelGivesTheCuboidsGroundTruthExactly) {
  const TempDir tmp;
  WriteText(tmp / "cube.obj", CubeObj());
  WriteText(tmp / "cuboid.txt", "CUBOID;7;5;1;1;1;0.3;2.5;-0.2;20;30;40;0.5;0.5;0.5\n" + kMeshSceneTail);
  WriteText(tmp / "mesh.txt", "MESH;7;5;1;1;1;0.3;2.5;-0.2;20;30;40;0.5;cube.obj\n" + kMeshSceneTail);
  for (const char* name : {"cuboid", "mesh"}) {
    const Result r = RunTool(std::string("-q -r 320x240 --outputs classic,pfm,depth,masks,flow,ids16 -o out_") +
                                 name + " " + name + ".txt",
                             tmp.path());
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  const std::set<std::string> files = Listing(tmp / "out_cuboid/0");
  ASSERT_EQ(Listing(tmp / "out_mesh/0"), files);
  int compared = 0;
  for (const std::string& f : files) {
    // The camera images differ (the cuboid's faces carry their own texture
    // coordinates, the model's the box projection); the scene text and the
    // manifest name the scene.
    if (f.starts_with("left_") || f.starts_with("right_") || f == "scene.txt" || f == "meta.json") continue;
    EXPECT_EQ(ReadText(tmp / ("out_mesh/0/" + f)), ReadText(tmp / ("out_cuboid/0/" + f))) << f;
    ++compared;
  }
  EXPECT_GT(compared, 40);
  // The cube is in the picture: id 7 in the segmentation.
  const std::string seg = ReadText(tmp / "out_mesh/0/seg_l_0000.bmp");
  EXPECT_NE(seg.find(std::string(3, '\x07')), std::string::npos);
  // The manifest records the model as written, resolved and hashed.
  const auto meta = nlohmann::json::parse(ReadText(tmp / "out_mesh/0/meta.json"));
  ASSERT_TRUE(meta.contains("models"));
  ASSERT_EQ(meta["models"].size(), 1u);
  EXPECT_EQ(meta["models"][0]["path"], "cube.obj");
  EXPECT_EQ(meta["models"][0]["file"], tmp / "cube.obj");
  EXPECT_EQ(meta["models"][0]["sha256"], Sha256Hex(CubeObj()));
  EXPECT_FALSE(nlohmann::json::parse(ReadText(tmp / "out_cuboid/0/meta.json")).contains("models"));
}

TEST(CliRenderMesh, PackagedTestModelsRender) {
  const std::string models = "/usr/share/assimp/models/";
  if (!fs::is_directory(models)) GTEST_SKIP() << "assimp-testmodels is not installed";
  const TempDir tmp;
  std::string scene;
  int id = 10;
  // Texture 3, then the models' own materials: a JPEG beside the OBJ, PNGs
  // held in the GLB files, the PLY's plain material.
  const std::pair<const char*, const char*> lines[] = {
      {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "3"}, {"glTF2/BoxTextured-glTF/BoxTextured.gltf", "3"},
      {"PLY/cube.ply", "3"}, {"STL/Spider_ascii.stl", "3"}, {"OBJ/spider.obj", "3"},
      {"OBJ/spider.obj", "model"}, {"glTF2/BoxTextured-glTF-Binary/BoxTextured.glb", "model"},
      {"glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb", "model"}, {"PLY/Wuson.ply", "model"}};
  for (const auto& [name, texture] : lines) {
    scene += "MESH;" + std::to_string(id) + ";" + texture + ";1;1;1;" + std::to_string(id - 14) + ";4;0;90;0;0;0.4;" +
             models + name + "\n";
    ++id;
  }
  WriteText(tmp / "models.txt", scene + "EGO;0;0;0;0;0;0\n");
  for (const char* layout : {"classic", "middlebury", "kitti", "sceneflow"}) {
    const std::string options = std::string("-q -r 160x120 --layout ") + layout + " -o " + layout + " models.txt";
    const Result r = RunTool(options, tmp.path());
    EXPECT_EQ(r.exitCode, 0) << layout << ": " << r.err;
  }
  const Result r = RunTool("-q -r 160x120 --outputs pfm,ids16 -o out models.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(fs::exists(tmp / "out/0/ldisp_0000.pfm"));
  EXPECT_EQ(nlohmann::json::parse(ReadText(tmp / "out/0/meta.json"))["models"].size(), 9u);
}

TEST(CliRenderMesh, ModelsThatCannotBeUsedStopTheSceneAndWriteNothing) {
  const TempDir tmp;
  std::vector<std::string> bad;
  const std::string invalid = "/usr/share/assimp/models/invalid";
  if (fs::is_directory(invalid))
    for (const auto& e : fs::directory_iterator(invalid)) bad.push_back(e.path().string());
  WriteText(tmp / "text.glb", CubeObj().substr(0, 40));
  WriteText(tmp / "cut.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 ");
  bad.push_back("text.glb");
  bad.push_back("cut.obj");
  bad.push_back("missing.stl");
  for (const std::string& model : bad) {
    SCOPED_TRACE(model);
    WriteText(tmp / "bad.txt", "// a model\nMESH;7;5;1;1;1;0;2;0;0;0;0;1;" + model + "\nEGO;0;0;0;0;0;0\n");
    const Result r = RunTool("-q -o out bad.txt", tmp.path());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("bad.txt:2: MESH: cannot use the model '" + model + "'"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(tmp / "out"));
  }
}

TEST(CliRenderMesh, ModelFoldersAreSearchedInOrderAfterTheScenesFolder) {
  const TempDir tmp;
  for (const char* folder : {"a", "b", "c"}) fs::create_directories(tmp / folder);
  WriteText(tmp / "b/cube.obj", CubeObj());
  WriteText(tmp / "c/cube.obj", CubeObj());
  WriteText(tmp / "scene.txt", "MESH;7;5;1;1;1;0;2;0;0;0;0;0.5;cube.obj\nEGO;0;0;0;0;0;0\n");
  const auto resolved = [&](const std::string& out) {
    return nlohmann::json::parse(ReadText(tmp / (out + "/0/meta.json")))["models"][0]["file"].get<std::string>();
  };
  Result r = RunTool("-q -r 32x24 -c left --models a --models b --models c -o first scene.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(resolved("first"), tmp / "b/cube.obj");
  // The scene's own folder comes first.
  WriteText(tmp / "cube.obj", CubeObj());
  r = RunTool("-q -r 32x24 -c left --models b -o beside scene.txt", tmp.path());
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(resolved("beside"), tmp / "cube.obj");
  fs::remove(tmp / "cube.obj");
  r = RunTool("-q -r 32x24 -c left --models a --models missing -o none scene.txt", tmp.path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("scene.txt:1: MESH: cannot find the model 'cube.obj': it is not at " + (tmp / "cube.obj") +
                       ", " + (tmp / "a/cube.obj") + ", " + (tmp / "missing/cube.obj")),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(tmp / "none"));
}

}  // namespace
}  // namespace tovimar::cli
