// Batch runs of tovimar-render: every scene's files equal a single-scene run
// of that scene whatever ran before it in the process and whichever shard
// renders it; broken scenes are skipped and reported; complete sequences are
// skipped on a second run.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/batch.h"
#include "base/error.h"
#include "io/folder_lock.h"
#include "io/sha256.h"
#include "layout/file_names.h"
#include "scenegen/generator.h"
#include "dataset/output_files.h"
#include "scenegen/textures.h"
#include "tests/support/temp_dir.h"

namespace tovimar::cli {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

using tovimar::testing::TempDir;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The JSON value of text, discarded unless text is valid UTF-8 JSON. The
// parser skips a leading byte order mark, which JSON text must not have.
Json Parse(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) return Json(Json::value_t::discarded);
  return Json::parse(text, nullptr, /*allow_exceptions=*/false);
}

// The items of an array; any other type throws and fails the test (size() would count
// an object's members or give 1 for a scalar).
const Json::array_t& Items(const Json& value) { return value.get_ref<const Json::array_t&>(); }

struct Result {
  int exitCode = -1;
  std::string err;
};

// Runs tovimar-render in dir with the arguments (and environment assignments) given.
Result RunTool(const std::string& dir, const std::string& args, const std::string& env = "") {
  const std::string errPath = dir + "/stderr.txt";
  const std::string cmd = "cd '" + dir + "' && env -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_COUNT " + env + " '" +
                          TOVIMAR_RENDER_BINARY + "' " + args + " 2>'" + errPath + "' >/dev/null";
  const int status = std::system(cmd.c_str());
  Result r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(errPath)};
  fs::remove(errPath);
  return r;
}

// Every file under dir (relative name -> bytes), leaving out the batch's own records.
std::map<std::string, std::string> Files(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name == "meta.json" || name.starts_with("batch")) continue;
    files[fs::relative(e.path(), dir).string()] = ReadText(e.path().string());
  }
  return files;
}

// Five scenes: floors (planes step the shared random state), noise, fog,
// rooms, and the example; small frames keep the runs short.
std::vector<std::string> MakeScenes(const TempDir& t) {
  fs::create_directories(t / "scenes");
  scenegen::GeneratorOptions flying;
  flying.seed = 11;
  flying.frames = 2;
  flying.floorChance = 1.0;
  flying.noise = {1.0, 3.0};
  scenegen::GeneratorOptions room = flying;
  room.preset = scenegen::Preset::Room;
  room.fogChance = 1.0;
  const std::vector<std::string> texts = {scenegen::GenerateScene(flying, 0), scenegen::GenerateScene(room, 0),
                                          scenegen::GenerateScene(flying, 1), scenegen::GenerateScene(room, 1),
                                          ReadText(std::string(TOVIMAR_SOURCE_DIR) + "/examples/sceneexample.txt")};
  std::vector<std::string> names;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    names.push_back("scenes/s" + std::to_string(i) + ".txt");
    WriteText(t / names.back(), texts[i]);
  }
  return names;
}

const char* kSmall = "-q -r 64x48 ";

TEST(BatchRun, EveryScenesFilesEqualASingleRunWhateverTheShardOrOrder) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  std::map<std::string, std::string> expected;
  for (std::size_t k = 0; k < scenes.size(); ++k) {
    ASSERT_EQ(RunTool(t.path(), kSmall + std::string("-o single -s ") + std::to_string(k + 3) + " " + scenes[k]).exitCode,
              0);
  }
  expected = Files(t / "single");
  // Two frames of two cameras, five files each (the example has 5 frames),
  // and per sequence calib.txt, scene.txt and two poses files.
  ASSERT_EQ(expected.size(), scenes.size() * 2 * 2 * 5 - 2 * 2 * 5 + 5 * 2 * 5 + scenes.size() * 4);

  // The whole folder in one process.
  ASSERT_EQ(RunTool(t.path(), kSmall + std::string("-o all -s 3 scenes")).exitCode, 0);
  EXPECT_EQ(Files(t / "all"), expected);
  // Three shards, the last first: each process sees other scenes before its own.
  for (const char* shard : {"2/3", "1/3"}) {
    ASSERT_EQ(RunTool(t.path(), kSmall + std::string("-o shards -s 3 --shard ") + shard + " scenes").exitCode, 0);
  }
  ASSERT_EQ(RunTool(t.path(), kSmall + std::string("-o shards -s 3 scenes"),
                "SLURM_ARRAY_TASK_ID=5 SLURM_ARRAY_TASK_MIN=5 SLURM_ARRAY_TASK_COUNT=3")
                .exitCode,
            0);
  EXPECT_EQ(Files(t / "shards"), expected);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(fs::exists(t / ("shards/batch.shard-" + std::to_string(i) + "-of-3.json")));
  }
  // A list in another order, named folders: the same bytes under other names.
  WriteText(t / "list.txt", "# scenes, last first\n\n" + scenes[4] + "\n" + scenes[2] + "\n" + scenes[0] + "\n");
  ASSERT_EQ(RunTool(t.path(), kSmall + std::string("-o named --name-by-scene --list list.txt")).exitCode, 0);
  const auto named = Files(t / "named");
  EXPECT_EQ(named.size(), 10U * 5 + 2 * 4 * 5 / 2 * 2 + 3 * 4);  // and calib, scene, two poses each
  for (const auto& [name, bytes] : named) {
    const std::string stem = name.substr(0, name.find('/'));  // s4, s2, s0
    const std::string numbered = std::to_string(3 + std::stoi(stem.substr(1))) + name.substr(name.find('/'));
    EXPECT_EQ(bytes, expected.at(numbered)) << name;
  }
}

TEST(BatchRun, BrokenScenesAreReportedAndTheRestRendered) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  const Result r = RunTool(t.path(), kSmall + std::string("-c left -o out ") + scenes[0] + " missing.txt " + scenes[1]);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("missing.txt"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(t / "out/0/meta.json"));
  EXPECT_FALSE(fs::exists(t / "out/1"));
  EXPECT_TRUE(fs::exists(t / "out/2/meta.json"));
  const Json summary = Parse(ReadText(t / "out/batch.json"));
  ASSERT_FALSE(summary.is_discarded());
  EXPECT_EQ(summary.at("scenes").get<double>(), 3);
  EXPECT_EQ(summary.at("rendered").get<double>(), 2);
  EXPECT_EQ(summary.at("failed").get<double>(), 1);
  EXPECT_EQ(summary.at("frames").get<double>(), 4);
  EXPECT_EQ(summary.at("failures").at(0).at("scene").get<std::string>(), "missing.txt");
  EXPECT_NE(summary.at("failures").at(0).at("message").get<std::string>().find("missing.txt"), std::string::npos);
  EXPECT_GT(summary.at("framesPerSecond").get<double>(), 0);

  // A line break or CR in a scene's name is shown escaped: one report a line.
  const Result named = RunTool(t.path(), kSmall + std::string("-c left -o out2 'mis\nsing.txt' 'c\rr.txt'"));
  EXPECT_EQ(named.exitCode, 1);
  EXPECT_NE(named.err.find("[1/2] mis\\nsing.txt: failed: "), std::string::npos) << named.err;
  EXPECT_NE(named.err.find("\n  failed: c\\rr.txt: "), std::string::npos) << named.err;
  EXPECT_EQ(named.err.find("mis\n"), std::string::npos) << named.err;
  EXPECT_EQ(named.err.find('\r'), std::string::npos) << named.err;

  WriteText(t / "still.txt", "SPHERE;1;-1;200;40;40;0;4;0;0;0;0;1\n");
  const Result still = RunTool(t.path(), kSmall + std::string("-o out --shard 0/1 still.txt"));
  EXPECT_EQ(still.exitCode, 1);
  EXPECT_NE(still.err.find("no EGO lines"), std::string::npos) << still.err;
}

TEST(BatchRun, CompleteSequencesAreSkippedIncompleteOnesRedoneForceRedoesAll) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  const std::string args = kSmall + std::string("-c left -o out ") + scenes[0] + " " + scenes[1];
  ASSERT_EQ(RunTool(t.path(), args).exitCode, 0);
  const auto first = Files(t / "out");
  // Sequence 1 was cut short: no meta.json, a stale file from the earlier attempt.
  fs::remove(t / "out/1/meta.json");
  WriteText(t / "out/1/left_0007.bmp", "stale");
  WriteText(t / "out/1/notes.txt", "not a frame file");  // kept: only a run's own files are removed
  Result again = RunTool(t.path(), args.substr(3));  // not quiet
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.err.find("out/0/ is complete, skipped"), std::string::npos) << again.err;
  EXPECT_EQ(again.err.find("out/1/ is complete"), std::string::npos) << again.err;
  EXPECT_EQ(ReadText(t / "out/1/notes.txt"), "not a frame file");
  fs::remove(t / "out/1/notes.txt");
  EXPECT_EQ(Files(t / "out"), first);
  const Json summary = Parse(ReadText(t / "out/batch.json"));
  ASSERT_FALSE(summary.is_discarded());
  EXPECT_EQ(summary.at("skipped").get<double>(), 1);
  EXPECT_EQ(summary.at("rendered").get<double>(), 1);

  WriteText(t / "out/0/left_0007.bmp", "stale");
  ASSERT_EQ(RunTool(t.path(), args + " --force").exitCode, 0);
  EXPECT_EQ(Files(t / "out"), first);
}

// The record holds the scene's lines, not its line ends: the same scene saved
// with CR LF (as the desktop saves) and with LF is the same sequence, and
// sceneSha256 is the hash of the scene.txt beside it.
TEST(BatchRun, TheSameSceneWithOtherLineEndsIsTheSameRecord) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  const std::string lf = ReadText(t / scenes[0]);
  std::string crlf;
  for (const char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  ASSERT_NE(crlf, lf);
  WriteText(t / scenes[0], crlf);
  const std::string args = kSmall + std::string("-c left --force -o out ") + scenes[0];  // --force: a batch of one
  ASSERT_EQ(RunTool(t.path(), args).exitCode, 0);
  const std::string copy = ReadText(t / "out/0/scene.txt");
  EXPECT_EQ(copy, lf);
  const Json record = Parse(ReadText(t / "out/0/meta.json"));
  ASSERT_FALSE(record.is_discarded());
  EXPECT_EQ(record.at("sceneSha256").get<std::string>(), Sha256Hex(copy));
  WriteText(t / scenes[0], lf);
  const Result again = RunTool(t.path(), std::string("-r 64x48 -c left -o out ") + scenes[0] + " " + scenes[1]);
  EXPECT_NE(again.err.find("out/0/ is complete, skipped"), std::string::npos) << again.err;
}

// A batch that goes on in the scene-flow layout: the frame made again keeps
// its flow into the past in its record, the tree's unfinished files go, and a
// frame whose file was cut short after it was recorded is made again.
TEST(BatchRun, GoingOnInTheSceneFlowTreeTrustsOnlyWholeFiles) {
  TempDir t;
  scenegen::GeneratorOptions options;
  options.frames = 4;
  WriteText(t / "scene.txt", scenegen::GenerateScene(options, 0));
  const std::string args = "-q -r 32x24 --layout sceneflow --outputs png,pfm,flow --shard 0/1 -o out scene.txt";
  ASSERT_EQ(RunTool(t.path(), args).exitCode, 0);
  const auto first = Files(t / "out");
  // Stopped after the right camera's frame 2: frame 2 is made again (its flow waits for frame 3).
  Json record = Parse(ReadText(t / "out/0/meta.json"));
  ASSERT_FALSE(record.is_discarded());
  record["complete"] = false;
  record["runs"]["right"]["complete"] = false;
  Json& frames = record["runs"]["right"]["frames"];
  frames.erase(frames.begin() + 3, frames.end());
  WriteText(t / "out/0/meta.json", record.dump(1));
  const std::string tree = "out/optical_flow/TRAIN/A/0000/into_past/right/";
  WriteText(t / (tree + ".OpticalFlowIntoPast_0003_R.pfm.tmpAb12Cd"), "cut short");
  ASSERT_EQ(RunTool(t.path(), args).exitCode, 0);
  EXPECT_FALSE(fs::exists(t / (tree + ".OpticalFlowIntoPast_0003_R.pfm.tmpAb12Cd")));
  EXPECT_EQ(Files(t / "out"), first);
  record = Parse(ReadText(t / "out/0/meta.json"));
  const Json& remade = record["runs"]["right"]["frames"][2]["files"];
  for (const char* name : {"../optical_flow/TRAIN/A/0000/into_past/right/OpticalFlowIntoPast_0002_R.pfm",
                           "../disparity_change/TRAIN/A/0000/into_past/right/0002.pfm"})
    EXPECT_NE(std::find(remade.begin(), remade.end(), name), remade.end()) << name << " in " << remade.dump();
  EXPECT_TRUE(record["complete"].get<bool>());

  // A recorded file cut short, each kind: the sequence is not complete with it.
  for (const char* name : {"out/frames_finalpass/TRAIN/A/0000/left/0001.png", "out/disparity/TRAIN/A/0000/left/0001.pfm"}) {
    const std::string whole = ReadText(t / name);
    WriteText(t / name, whole.substr(0, whole.size() - 1));
    const Result again = RunTool(t.path(), args.substr(3));
    EXPECT_EQ(again.err.find("is complete, skipped"), std::string::npos) << name << ": " << again.err;
    EXPECT_EQ(ReadText(t / name), whole) << name;
  }
}

// A batch takes a sequence folder's lock before it touches anything there:
// a folder that another run writes is neither emptied (--force, or no
// complete frame) nor written, and the batch says so.
TEST(BatchRun, AFolderInUseByAnotherRunIsLeftAlone) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  const std::string args = kSmall + std::string("-c left -o out ") + scenes[0] + " " + scenes[1];
  ASSERT_EQ(RunTool(t.path(), args).exitCode, 0);
  fs::remove(t / "out/1/meta.json");  // out/1 has no complete frame now
  std::string refusal;
  const auto other0 = FolderLock::Acquire(t / "out/0", &refusal);
  const auto other1 = FolderLock::Acquire(t / "out/1", &refusal);
  ASSERT_TRUE(other0 && other1) << refusal;
  const auto before = Files(t / "out");
  for (const std::string& more : {std::string(" --force"), std::string()}) {
    const Result r = RunTool(t.path(), args + more);
    EXPECT_EQ(r.exitCode, 1) << more;
    EXPECT_NE(r.err.find("'out/0' is in use by"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("'out/1' is in use by"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(t / "out/0/meta.json")) << more;
    EXPECT_TRUE(Files(t / "out") == before) << more;
  }
}

// A sequence is skipped only when the record of every camera run is of the
// same scene and settings and complete; otherwise it is made again and the
// batch says why. A damaged meta.json is treated as absent, so the
// sequence starts afresh instead of failing on every run.
TEST(BatchRun, ARecordOfOtherSettingsOrADamagedOneIsMadeAgainNotSkipped) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  const std::string args = "-c left -o out --shard 0/1 " + scenes[0];
  ASSERT_EQ(RunTool(t.path(), kSmall + args).exitCode, 0);
  const auto first = Files(t / "out");
  Result r = RunTool(t.path(), "-r 48x32 " + args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("is complete, skipped"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("left camera made again: the size differs"), std::string::npos) << r.err;
  Json meta = Parse(ReadText(t / "out/0/meta.json"));
  ASSERT_FALSE(meta.is_discarded());
  EXPECT_EQ(meta.at("width").get<double>(), 48);
  EXPECT_TRUE(meta.at("complete").get<bool>());
  r = RunTool(t.path(), "-r 48x32 " + args);
  EXPECT_NE(r.err.find("is complete, skipped"), std::string::npos) << r.err;
  r = RunTool(t.path(), "-r 48x32 --outputs classic,pfm " + args);
  EXPECT_NE(r.err.find("the outputs differs"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(t / "out/0/ldisp_0000.pfm"));
  r = RunTool(t.path(), "-r 48x32 -c both " + args.substr(8));
  EXPECT_EQ(r.err.find("is complete, skipped"), std::string::npos) << r.err;
  EXPECT_TRUE(fs::exists(t / "out/0/right_0001.bmp"));

  // Damaged, in a sequence whose right run stopped: a wrongly typed field,
  // a disparity range of no numbers in the left run's record.
  const std::string damaged = "-c both -o dam --shard 0/1 " + scenes[0];
  ASSERT_EQ(RunTool(t.path(), kSmall + damaged).exitCode, 0);
  const auto whole = Files(t / "dam");
  std::string good = ReadText(t / "dam/0/meta.json");
  for (std::size_t at; (at = good.find("\"complete\": true")) != std::string::npos;)
    good.replace(at, 16, "\"complete\": false");
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"width", "\"64\""}, {"disparityRange", "[]"}}) {
    std::string text = good;
    const std::size_t at = text.find("\"" + key + "\": ");
    ASSERT_NE(at, std::string::npos) << key;
    const std::size_t start = at + key.size() + 4;
    const std::size_t end = text[start] == '[' ? text.find(']', start) + 1 : text.find_first_of(",\n", start);
    text.replace(start, end - start, value);
    WriteText(t / "dam/0/meta.json", text);
    for (int again = 0; again < 2; ++again) {
      r = RunTool(t.path(), kSmall + damaged);
      EXPECT_EQ(r.exitCode, 0) << key << ": " << r.err;
    }
    EXPECT_EQ(Files(t / "dam"), whole) << key;
    meta = Parse(ReadText(t / "dam/0/meta.json"));
    ASSERT_FALSE(meta.is_discarded());
    EXPECT_TRUE(meta.at("complete").get<bool>()) << key;
  }
  WriteText(t / "dam/0/meta.json", "{\"width\": \"64\"");
  r = RunTool(t.path(), "-r 64x48 " + damaged);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("meta.json is not used: it is not valid JSON; the sequence starts afresh"), std::string::npos)
      << r.err;
}

// A sequence made again over a record of other settings keeps no file of the
// earlier run: not its frames past the new length, not the products or the
// layout folders it no longer writes, not the other camera's files of another
// scene. Its folder then holds what a run into an empty folder writes, in a
// batch and in single runs alike.
TEST(BatchRun, ASequenceMadeAgainKeepsNoFileOfTheEarlierRun) {
  TempDir t;
  scenegen::GeneratorOptions flying;
  flying.seed = 3;
  flying.frames = 12;
  const std::string longScene = scenegen::GenerateScene(flying, 0);
  flying.frames = 5;
  WriteText(t / "short.txt", scenegen::GenerateScene(flying, 0));
  const std::string fewer = kSmall + std::string("--outputs classic,pfm ");
  ASSERT_EQ(RunTool(t.path(), fewer + "--shard 0/1 -o fresh short.txt").exitCode, 0);
  ASSERT_EQ(RunTool(t.path(), fewer + "-c left -o fresh -s 1 short.txt").exitCode, 0);
  const auto both = Files(t / "fresh/0"), left = Files(t / "fresh/1");

  // A batch: 12 frames in the KITTI layout with every product, then 5 frames.
  WriteText(t / "scene.txt", longScene);
  const std::string kitti = kSmall + std::string("--outputs png,kitti,masks,flow,ids16 --layout kitti ");
  ASSERT_EQ(RunTool(t.path(), kitti + "--shard 0/1 -o out scene.txt").exitCode, 0);
  ASSERT_TRUE(fs::exists(t / "out/0/image_2/000010_10.png"));  // the last frame is no KITTI index
  fs::copy_file(t / "short.txt", t / "scene.txt", fs::copy_options::overwrite_existing);
  Result r = RunTool(t.path(), fewer + "--shard 0/1 -o out scene.txt");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Files(t / "out/0") == both);
  EXPECT_FALSE(fs::exists(t / "out/0/image_2"));

  // Single runs: the same scene with fewer outputs; the left camera of
  // another scene over a right run.
  const std::string all = kSmall + std::string("--outputs classic,pfm,depth,kitti,png,masks,flow,ids16 ");
  ASSERT_EQ(RunTool(t.path(), all + "-o out -s 1 short.txt").exitCode, 0);
  ASSERT_EQ(RunTool(t.path(), fewer + "-o out -s 1 short.txt").exitCode, 0);
  EXPECT_TRUE(Files(t / "out/1") == both);
  WriteText(t / "scene.txt", longScene);
  ASSERT_EQ(RunTool(t.path(), all + "-c right -o out -s 2 scene.txt").exitCode, 0);
  r = RunTool(t.path(), fewer + "-c left -o out -s 2 short.txt");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Files(t / "out/2") == left);
}

// Sequence folders whose names give one scene folder of the scene-flow tree
// ("5", "05" and "0005": numbers are written with four digits there) never
// share it: a run into the second is refused before it writes or removes
// anything, whatever its layout, and runs of the tree hold its scene folder's
// lock.
TEST(BatchRun, FoldersWhoseNamesGiveOneSceneFlowFolderDoNotShareIt) {
  TempDir t;
  scenegen::GeneratorOptions flying;
  flying.seed = 8;
  flying.frames = 2;
  for (const char* name : {"s.txt", "0005.txt", "05.txt"}) WriteText(t / name, scenegen::GenerateScene(flying, 0));
  const std::string flow = kSmall + std::string("--layout sceneflow --outputs png,pfm ");
  ASSERT_EQ(RunTool(t.path(), flow + "-o out -s 5 s.txt").exitCode, 0);
  ASSERT_TRUE(fs::exists(t / "out/frames_finalpass/TRAIN/A/0005/left/0000.png"));
  const auto before = Files(t / "out");
  for (const std::string& other : {flow + "--name-by-scene 0005.txt", kSmall + std::string("--name-by-scene --force 05.txt")}) {
    const Result r = RunTool(t.path(), other + " -o out");
    EXPECT_EQ(r.exitCode, 1) << other;
    EXPECT_NE(r.err.find("would share the scene-flow tree's scene folder 0005"), std::string::npos) << r.err;
    EXPECT_TRUE(Files(t / "out") == before) << other;
  }
  // Another split's scene 0005 is a scene of its own, with its own sequence
  // folder (TEST@B@05): it shares nothing with TRAIN/A's.
  const Result test = RunTool(t.path(), flow + "--name-by-scene --split TEST/B 05.txt -o out");
  EXPECT_EQ(test.exitCode, 0) << test.err;
  EXPECT_TRUE(fs::exists(t / "out/TEST@B@05/meta.json"));
  const auto after = Files(t / "out");
  for (const auto& [name, bytes] : before) EXPECT_TRUE(after.count(name) && after.at(name) == bytes) << name;
  const Result both = RunTool(t.path(), flow + "-o two --name-by-scene 05.txt 0005.txt");
  EXPECT_EQ(both.exitCode, 2);
  EXPECT_NE(both.err.find("share the scene-flow tree's scene folder 0005"), std::string::npos) << both.err;

  std::string refusal;
  const auto held = FolderLock::Acquire(t / "out", SceneFlowSceneLockName("out/5/"), "the tree", &refusal);
  ASSERT_TRUE(held) << refusal;
  const Result locked = RunTool(t.path(), flow + "-o out -s 5 s.txt");
  EXPECT_EQ(locked.exitCode, 1);
  EXPECT_NE(locked.err.find("the scene-flow folder 0005 in 'out' is in use by"), std::string::npos) << locked.err;
}

// A scene's own texture set beside it is used and recorded; a changed set
// makes a complete sequence again, and --textures overrides the scene's own.
TEST(BatchRun, AScenesOwnTexturesAreUsedAndAChangedSetMakesItAgain) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  const std::string args = kSmall + std::string("-c left -o out --shard 0/1 ") + scenes[0];
  ASSERT_EQ(RunTool(t.path(), args).exitCode, 0);
  const std::string bundled = ReadText(t / "out/0/left_0000.bmp");
  scenegen::WriteTextureSet(11, 0, t / SceneTextureFolder(scenes[0]));
  Result r = RunTool(t.path(), args.substr(3));
  EXPECT_NE(r.err.find("left camera made again: the texture set differs"), std::string::npos) << r.err;
  EXPECT_NE(ReadText(t / "out/0/left_0000.bmp"), bundled);
  const Json rendering = Parse(ReadText(t / "out/0/meta.json")).at("runs").at("left").at("rendering");
  EXPECT_TRUE(rendering.at("textureFolder").get<std::string>().ends_with("s0.textures/"));
  EXPECT_EQ(rendering.at("texturesSha256").get<std::string>().size(), 64u);
  EXPECT_NE(RunTool(t.path(), args.substr(3)).err.find("is complete, skipped"), std::string::npos);
  r = RunTool(t.path(), args + " --textures " + TOVIMAR_SOURCE_DIR + "/assets");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadText(t / "out/0/left_0000.bmp"), bundled);
}

// SIGTERM stops a batch at once with 143 (within the frame being made); the
// next batch skips what is complete and goes on from the first missing frame,
// so frames completed before a stop are not made again, and the files equal
// those of a batch that was never stopped. Both cameras, with masks and flow
// (whose frame before the first missing one is made again): a SIGTERM in the
// left run, a SIGKILL in the right run, whose random state follows the left's.
TEST(BatchRun, AStoppedBatchEndsWith143AndGoesOnFromItsFirstMissingFrame) {
  TempDir t;
  fs::create_directories(t / "scenes");
  scenegen::GeneratorOptions flying;
  flying.seed = 5;
  flying.frames = 40;
  flying.noise = {1.0, 2.0};
  std::string list;
  for (int i = 0; i < 3; ++i) {
    WriteText(t / ("scenes/s" + std::to_string(i) + ".txt"), scenegen::GenerateScene(flying, i));
    list += " scenes/s" + std::to_string(i) + ".txt";
  }
  const std::string args = kSmall + std::string("-c both --outputs classic,pfm,masks,flow ") + list;
  ASSERT_EQ(RunTool(t.path(), args + " -o whole").exitCode, 0);

  // Runs the batch into cut/ and stops it with `signal` once `file` is there.
  auto stopAt = [&](const std::string& file, const std::string& signal) {
    const std::string cmd = "cd '" + t.path() + "' || exit 1; env -u SLURM_ARRAY_TASK_ID -u SLURM_ARRAY_TASK_COUNT '" +
                            TOVIMAR_RENDER_BINARY + "' " + args + " -o cut 2>/dev/null & p=$!; n=0; while [ ! -e " +
                            file + " ] && [ $n -lt 6000 ]; do sleep 0.01; n=$((n+1)); done; kill -" + signal + " $p; wait $p; " +
                            "echo $? > '" + t.path() + "/code.txt'";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return ReadText(t / "code.txt");
  };
  auto inode = [&](const std::string& file) {
    struct stat st {};
    return ::stat((t / file).c_str(), &st) == 0 ? static_cast<long long>(st.st_ino) : -1LL;
  };
  ASSERT_EQ(stopAt("cut/0/left_0003.bmp", "TERM"), "143\n");
  EXPECT_FALSE(fs::exists(t / "cut/1/meta.json"));
  const long long left0 = inode("cut/0/left_0000.bmp");
  ASSERT_NE(left0, -1);
  // Killed outright: what is under a final name is complete, and what is
  // not is under a temporary name that the next run removes.
  ASSERT_EQ(stopAt("cut/0/right_0005.bmp", "KILL"), "137\n");
  EXPECT_EQ(inode("cut/0/left_0000.bmp"), left0) << "a frame completed before the stop was made again";
  const long long right1 = inode("cut/0/right_0001.bmp");
  ASSERT_NE(right1, -1);

  const Result resumed = RunTool(t.path(), args.substr(3) + " -o cut");  // not quiet
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("cut/0/: "), std::string::npos) << resumed.err;
  EXPECT_NE(resumed.err.find("(left camera complete; right camera went on from frame "), std::string::npos)
      << resumed.err;
  EXPECT_EQ(inode("cut/0/left_0000.bmp"), left0);
  EXPECT_EQ(inode("cut/0/right_0001.bmp"), right1);
  EXPECT_TRUE(Files(t / "cut") == Files(t / "whole"));
  const Json meta = Parse(ReadText(t / "cut/0/meta.json"));
  ASSERT_FALSE(meta.is_discarded());
  EXPECT_TRUE(meta.at("complete").get<bool>());
  EXPECT_GT(meta.at("runs").at("right").at("continuedAtFrame").get<double>(), 0);
  EXPECT_EQ(Items(meta.at("runs").at("right").at("frames")).size(), 40u);
}

// A stopped run's record whose earlier frame holds a pose the scene's camera
// motion does not give (an edited meta.json) is not gone on from: the
// sequence is made again whole, saying why, so the poses file holds the
// scene's poses and not the record's.
TEST(BatchRun, ARecordedPoseTheMotionDoesNotGiveMakesTheSequenceAgain) {
  TempDir t;
  fs::create_directories(t / "scenes");
  fs::copy_file(std::string(TOVIMAR_SOURCE_DIR) + "/examples/sceneexample.txt", t / "scenes/example.txt");
  const std::string args = "-r 64x48 -c left scenes";
  ASSERT_EQ(RunTool(t.path(), "-q " + args + " -o whole").exitCode, 0);
  for (const bool edited : {false, true}) {
    fs::remove_all(t / "cut");
    ASSERT_EQ(RunTool(t.path(), "-q " + args + " -o cut").exitCode, 0);
    // The record of a run stopped after two frames.
    Json meta = Parse(ReadText(t / "cut/0/meta.json"));
    ASSERT_FALSE(meta.is_discarded());
    meta["complete"] = false;
    Json& run = meta["runs"]["left"];
    run["complete"] = false;
    run["frames"].erase(run["frames"].begin() + 2, run["frames"].end());
    if (edited) run["frames"][0]["pose"][3] = run["frames"][0]["pose"][3].get<double>() + 0.5;
    WriteText(t / "cut/0/meta.json", meta.dump(2));

    const Result again = RunTool(t.path(), args + " -o cut");
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.err.find("made again: the recorded pose of frame 0") != std::string::npos, edited) << again.err;
    EXPECT_EQ(again.err.find("went on from frame 2") != std::string::npos, !edited) << again.err;
    EXPECT_EQ(ReadText(t / "cut/0/poses_left.txt"), ReadText(t / "whole/0/poses_left.txt")) << edited;
  }
}

TEST(BatchParts, SequenceCompleteReadsOnlyTheTopLevelFlag) {
  TempDir t;
  EXPECT_FALSE(SequenceComplete(t.path()));  // no meta.json
  const std::vector<std::pair<std::string, bool>> cases = {
      {"{\"complete\": true}", true},
      {" {\n \"scene\": \"a \\\"complete\\\": true\", \"n\": [1, {\"complete\": false}],\n \"complete\":true }", true},
      {"{\"complete\": false}", false},
      {"{\"complete\": \"true\"}", false},
      {"{\"inner\": {\"complete\": true}}", false},
      {"[\"complete\", true]", false},
      {"{\"complete\": tru", false},
      {"", false},
  };
  for (const auto& [text, complete] : cases) {
    WriteText(t / "meta.json", text);
    EXPECT_EQ(SequenceComplete(t.path()), complete) << text;
  }
}

TEST(BatchParts, ShardsFromTheOptionOrTheSlurmArray) {
  std::map<std::string, std::string> env;
  auto getenv = [&env](const char* name) -> const char* {
    const auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  auto shard = [&](const std::string& text) {
    const Shard s = ResolveShard(text, getenv);
    return std::to_string(s.index) + "/" + std::to_string(s.count);
  };
  EXPECT_EQ(shard(""), "0/1");
  EXPECT_EQ(shard("2/5"), "2/5");
  for (const char* bad : {"5/5", "-1/2", "1/0", "1", "a/b", "1/2/3", "slurm"}) {
    EXPECT_THROW(ResolveShard(bad, getenv), UsageError) << bad;
  }
  env = {{"SLURM_ARRAY_TASK_ID", "4"}, {"SLURM_ARRAY_TASK_COUNT", "3"}, {"SLURM_ARRAY_TASK_MIN", "2"}};
  EXPECT_EQ(shard(""), "2/3");
  EXPECT_EQ(shard("slurm"), "2/3");
  EXPECT_EQ(shard("0/2"), "0/2");  // the option wins
  env["SLURM_ARRAY_TASK_MIN"] = "0";
  EXPECT_THROW(ResolveShard("", getenv), UsageError);  // task 4 of 3
}

TEST(BatchParts, FoldersGiveTheirScenesInNameOrderListsSkipCommentsAndBlanks) {
  TempDir t;
  fs::create_directories(t / "d");
  for (const char* name : {"b.txt", "a.txt", "c.dat", "A.txt"}) WriteText(t / ("d/" + std::string(name)), "");
  WriteText(t / "list", "# comment\r\n\r\nx.txt  \r\ny.txt\r\n");
  CliOptions o;
  o.scenePaths = {t / "d", "z.txt"};
  o.listFile = t / "list";
  EXPECT_EQ(CollectScenes(o),
            (std::vector<std::string>{t / "d/A.txt", t / "d/a.txt", t / "d/b.txt", "z.txt", "x.txt", "y.txt"}));
  WriteText(t / "list", "\xEF\xBB\xBFx.txt\n");  // an editor's byte order mark is no part of the path
  EXPECT_EQ(CollectScenes(o).back(), "x.txt");
  o.listFile = t / "nothing";
  EXPECT_THROW(CollectScenes(o), Error);
  EXPECT_EQ(BatchSequenceDirectory(o, "p/q/scene_000007.txt", 4), OutputDirectory(o.outputFolder, 4));
  o.nameByScene = true;
  o.outputFolder = "out";
  EXPECT_EQ(BatchSequenceDirectory(o, "p/q/scene_000007.txt", 4), "out/scene_000007/");
}

TEST(BatchParts, BadBatchOptionsExitTwo) {
  TempDir t;
  const std::vector<std::string> scenes = MakeScenes(t);
  EXPECT_EQ(RunTool(t.path(), "--shard 3/3 scenes").exitCode, 2);
  EXPECT_EQ(RunTool(t.path(), "--shard slurm scenes").exitCode, 2);
  WriteText(t / "other.txt", "");
  fs::create_directories(t / "more");
  WriteText(t / "more/s0.txt", "");
  const Result clash = RunTool(t.path(), "--name-by-scene scenes/s0.txt more/s0.txt");
  EXPECT_EQ(clash.exitCode, 2);
  EXPECT_NE(clash.err.find("share the folder"), std::string::npos) << clash.err;
  // A sequence folder is a child of the output root: no scene name makes the
  // root or its parent one (whose files a new start would remove).
  fs::create_directories(t / "out");
  WriteText(t / "left_keep.bmp", "not ours");
  WriteText(t / "out/disp_keep.bmp", "not ours");
  for (const char* name : {"...txt", "..txt"}) {
    fs::copy_file(t / scenes[0], t / ("more/" + std::string(name)), fs::copy_options::overwrite_existing);
    const Result r = RunTool(t.path(), kSmall + std::string("-o out --name-by-scene --force more/") + name);
    EXPECT_EQ(r.exitCode, 2) << name;
    EXPECT_NE(r.err.find("gives no folder name"), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadText(t / "left_keep.bmp"), "not ours");
  EXPECT_EQ(ReadText(t / "out/disp_keep.bmp"), "not ours");
}

}  // namespace
}  // namespace tovimar::cli
