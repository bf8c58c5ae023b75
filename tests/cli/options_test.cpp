// The option parser's mechanics: forms of values, switches, positionals and errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/error.h"
#include "cli/options.h"
#include "run/run_session.h"

namespace tovimar::cli {
namespace {

CliOptions Parse(std::vector<std::string> args) { return ParseCommandLine(args); }

std::string ErrorOf(std::vector<std::string> args) {
  try {
    ParseCommandLine(args);
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(ParseCommandLine, ValueForms) {
  EXPECT_EQ(Parse({"--focal", "400,5", "s.txt"}).focalText, "400,5");
  EXPECT_EQ(Parse({"--focal=400.5", "s.txt"}).focalText, "400.5");
  EXPECT_EQ(Parse({"--focal=", "s.txt"}).focalText, "");
  EXPECT_EQ(Parse({"--baseline", "-0,2", "s.txt"}).baselineText, "-0,2");  // a value may start with '-'
  const CliOptions defaults = Parse({"s.txt"});
  EXPECT_EQ(defaults.focalText, "389,0");
  EXPECT_EQ(defaults.baselineText, "0,12");
  EXPECT_FALSE(defaults.dump);
  EXPECT_EQ(defaults.scenePath, "s.txt");
}

TEST(ParseCommandLine, SwitchesAndPositionals) {
  const CliOptions o = Parse({"s.txt", "--dump"});
  EXPECT_TRUE(o.dump);
  EXPECT_EQ(o.scenePath, "s.txt");
  EXPECT_EQ(Parse({"--dump", "--", "-odd name.txt"}).scenePath, "-odd name.txt");
  EXPECT_EQ(Parse({"-"}).scenePath, "-");
  EXPECT_TRUE(Parse({"-h"}).help);  // no scene needed
  EXPECT_TRUE(Parse({"--help"}).help);
  EXPECT_TRUE(Parse({"--version"}).version);
}

TEST(ParseCommandLine, Errors) {
  EXPECT_EQ(ErrorOf({}), "no scene file given");
  EXPECT_EQ(ErrorOf({"--dump"}), "no scene file given");
  EXPECT_EQ(ErrorOf({"--dump", "a.txt", "b.txt"}), "--dump checks one scene file, found also 'b.txt'");
  EXPECT_EQ(ErrorOf({"--frobnicate", "a.txt"}), "unknown option --frobnicate");
  EXPECT_EQ(ErrorOf({"-Z", "a.txt"}), "unknown option -Z");
  EXPECT_EQ(ErrorOf({"a.txt", "--focal"}), "--focal needs a value (TEXT)");
  EXPECT_EQ(ErrorOf({"--dump=yes", "a.txt"}), "--dump takes no value");
}

// A product a layout has no place for is refused with both named, not dropped.
TEST(CliOptionsCheck, LayoutsRefuseProductsTheyHaveNoPlaceFor) {
  auto refusal = [](std::vector<std::string> args) {
    args.insert(args.end(), {"--camera", "both", "s.txt"});
    try {
      Parse(args).Check();
    } catch (const UsageError& e) {
      return std::string(e.what());
    }
    return std::string("(no error)");
  };
  EXPECT_EQ(refusal({"--layout", "sceneflow", "--outputs", "png,masks"}),
            "--outputs masks: the sceneflow layout has no place for it");
  EXPECT_EQ(refusal({"--outputs", "depth", "--layout", "kitti"}),
            "--outputs depth: the kitti layout has no place for it");
  EXPECT_EQ(refusal({"--layout", "middlebury", "--outputs", "classic"}),
            "--outputs classic: the middlebury layout has no place for it");
  EXPECT_EQ(refusal({"--layout", "kitti", "--outputs", "png,kitti,masks,flow"}), "(no error)");
  EXPECT_EQ(refusal({"--layout", "sceneflow", "--outputs", "png,pfm,flow", "--split", "TEST/B"}), "(no error)");
  EXPECT_EQ(refusal({"--layout", "kitti"}), "(no error)") << "the default outputs are the layout's own set";
  EXPECT_EQ(refusal({"--split", "TEST/B"}), "--split is for --layout sceneflow");
  EXPECT_EQ(ErrorOf({"--split", "TEST", "s.txt"}), "--split: the split 'TEST' is not two folder names such as TRAIN/A");
  EXPECT_EQ(ErrorOf({"--split", "A/../B", "s.txt"}),
            "--split: the split 'A/../B' is not two folder names such as TRAIN/A");
}

// The same rules hold for every host (the desktop fills RunOptions from its
// panel): they live in RunOptions::Check, not in the command line's text.
TEST(RunOptionsCheck, LayoutRulesWithoutTheCommandLine) {
  auto refusal = [](const OutputChoice& outputs, CameraChoice cameras) {
    RunOptions options;
    options.outputs = outputs;
    options.cameras = cameras;
    try {
      options.Check();
    } catch (const Error& e) {
      return e.message();
    }
    return std::string("(no error)");
  };
  OutputChoice outputs;  // classic, as every run starts
  outputs.layout = DatasetLayout::Middlebury;
  EXPECT_EQ(refusal(outputs, CameraChoice::Both), "(no error)") << "the layout writes its own set instead";
  EXPECT_EQ(refusal(outputs, CameraChoice::Left),
            "--layout middlebury needs both cameras (--camera both): its files pair the two views");
  outputs.kitti = true;
  EXPECT_EQ(refusal(outputs, CameraChoice::Both), "--outputs classic: the middlebury layout has no place for it");
  outputs.classic = false;
  EXPECT_EQ(refusal(outputs, CameraChoice::Both), "--outputs kitti: the middlebury layout has no place for it");
  outputs = OutputChoice{};
  outputs.ids16 = true;
  outputs.layout = DatasetLayout::SceneFlow;
  EXPECT_EQ(refusal(outputs, CameraChoice::Both), "(no error)") << "every layout holds the id map";
  outputs.split = "TEST/B";
  EXPECT_EQ(refusal(outputs, CameraChoice::Both), "(no error)");
  outputs.layout = DatasetLayout::Classic;
  EXPECT_EQ(refusal(outputs, CameraChoice::Left), "--split is for --layout sceneflow");
}

// --random-state: the two words of a recorded state, whole and in range; one
// scene, since a batch's scenes each start afresh.
TEST(CliOptionsCheck, RandomStateIsTwoWordsForOneScene) {
  const CliOptions o = Parse({"--random-state", "4294967295,0", "s.txt"});
  ASSERT_TRUE(o.randomState.has_value());
  EXPECT_EQ(o.randomState->low, 4294967295u);
  EXPECT_EQ(o.randomState->high, 0u);
  EXPECT_EQ(o.ToRunOptions().randomAtStart->low, 4294967295u);
  EXPECT_FALSE(Parse({"s.txt"}).ToRunOptions().randomAtStart.has_value());
  for (const char* bad : {"1", "1,2,3", "4294967296,0", "-1,0", "1, 2", "a,b", ","}) {
    EXPECT_EQ(ErrorOf({"--random-state", bad, "s.txt"}),
              std::string("--random-state: '") + bad + "' is not two whole numbers LOW,HIGH from 0 to 4294967295")
        << bad;
  }
  try {
    Parse({"--random-state", "1,0", "a.txt", "b.txt"}).Check();
    ADD_FAILURE() << "a batch was accepted";
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "--random-state makes one recorded run again: give one scene file");
  }
}

TEST(UsageText, ListsEveryOption) {
  const std::string usage = UsageText();
  EXPECT_EQ(usage.rfind("Usage: tovimar-render [options] SCENE", 0), 0u);
  for (const auto& option : OptionTable()) {
    EXPECT_NE(usage.find(std::string("--") + option.longName), std::string::npos) << option.longName;
  }
}

}  // namespace
}  // namespace tovimar::cli
