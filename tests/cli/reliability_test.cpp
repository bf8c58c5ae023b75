// tovimar-render as a child process under faults: two runs into one folder,
// signals, kills at random moments, files of earlier runs, a full disk
// during the AVI export, a scene whose motion overflows.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "io/bytes.h"
#include "tests/support/temp_dir.h"

#ifndef TOVIMAR_RENDER_BINARY
#error "TOVIMAR_RENDER_BINARY must name the tovimar-render executable"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

class Work : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = tmp_.path(); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::ofstream(Path(name), std::ios::binary) << text;
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // A scene of `frames` frames with one sphere.
  std::string Scene(int frames, const std::string& extra = "") const {
    std::string text = "SPHERE;7;-1;200;40;40;0;4;0;0;0;0;1\n" + extra;
    for (int i = 0; i < frames; ++i) text += "EGO;0;0,01;0;0;0;0\n";
    return text;
  }
  // Starts the tool in the work folder; stderr goes to `errName`. A file
  // size limit applies to every file the process writes, the graphics
  // driver's shader cache included, so that cache is off under a limit.
  pid_t Start(const std::string& args, const std::string& errName, const rlimit* fileLimit = nullptr) const {
    const std::string cmd = "cd '" + dir_ + "' && " + (fileLimit != nullptr ? "MESA_SHADER_CACHE_DISABLE=true " : "") +
                            "exec '" TOVIMAR_RENDER_BINARY "' " + args + " 2>" + errName;
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (fileLimit != nullptr) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, fileLimit);
      }
      ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }
  // The exit code, or -signal; -1000 when it did not end within `seconds`.
  static int Wait(pid_t pid, double seconds = 120) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (Clock::now() > end) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1000;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
  }
  int Run(const std::string& args, const std::string& errName = "err.txt") const {
    return Wait(Start(args, errName));
  }
  // The folder's files but the sequence's own (calibration, manifest, scene, poses).
  std::set<std::string> Names(const std::string& sub) const {
    static const std::set<std::string> kSequenceFiles = {"calib.txt", "meta.json", "scene.txt", "poses_left.txt",
                                                         "poses_right.txt"};
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(Path(sub))) {
      const std::string name = e.path().filename().string();
      if (!kSequenceFiles.count(name)) names.insert(name);
    }
    return names;
  }

  ::tovimar::testing::TempDir tmp_;
  std::string dir_;
};

TEST_F(Work, ASecondRunIntoABusyFolderIsRefusedAndTheFirstFinishes) {
  Write("s.txt", Scene(60));
  const pid_t first = Start("-r 64x48 -o out s.txt", "first.txt");
  const std::string lock = Path("out/0/.tovimar.lock");
  const auto end = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(lock) && Clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_TRUE(fs::exists(lock)) << Read(Path("first.txt"));
  EXPECT_EQ(Run("-q -r 64x48 -o out s.txt", "second.txt"), 1);
  const std::string refusal = Read(Path("second.txt"));
  EXPECT_NE(refusal.find("the sequence folder 'out/0' is in use by tovimar-render (pid " + std::to_string(first)),
            std::string::npos)
      << refusal;
  EXPECT_EQ(Wait(first), 0) << Read(Path("first.txt"));
  EXPECT_EQ(Names("out/0").size(), 60u * 5 * 2);  // every file of both cameras, and no lock file
  EXPECT_EQ(Read(Path("first.txt")).find("earlier"), std::string::npos);
}

TEST_F(Work, InputsThatNeverEndOrNeverOpenDoNotHang) {
  ASSERT_EQ(::mkfifo(Path("pipe.txt").c_str(), 0600), 0);
  const pid_t pid = Start("-o out pipe.txt", "err.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(pid, SIGINT);
  const int code = Wait(pid, 1.0);
  EXPECT_TRUE(code == 1 || code == 130) << code;
  EXPECT_EQ(Run("-o out /dev/zero"), 1);
  EXPECT_NE(Read(Path("err.txt")).find("Cannot open file /dev/zero: not a regular file"), std::string::npos);
  EXPECT_FALSE(fs::exists(Path("out/0")));
}

// A run stopped by SIGTERM ends with 143 and leaves whole frames only.
TEST_F(Work, SigtermStopsTheRunWithWholeFrames) {
  Write("s.txt", Scene(400));
  const pid_t pid = Start("-c left -r 64x48 -o out s.txt", "err.txt");
  const auto end = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(Path("out/0/seg_l_0002.bmp")) && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 143) << Read(Path("err.txt"));
  std::set<std::string> frames;
  for (const std::string& name : Names("out/0")) frames.insert(name.substr(name.size() - 8, 4));
  EXPECT_EQ(Names("out/0").size(), frames.size() * 5);
}

// Whatever moment a run is killed at, a final name holds a whole file.
TEST_F(Work, KillAtRandomMomentsLeavesNoTruncatedFile) {
  Write("s.txt", Scene(200));
  std::mt19937 rng(2024);
  for (int round = 0; round < 4; ++round) {
    const pid_t pid = Start("-q -c left -r 160x120 -o out s.txt", "err.txt");
    std::this_thread::sleep_for(std::chrono::milliseconds(300 + rng() % 1500));
    ::kill(pid, SIGKILL);
    Wait(pid);
  }
  int checked = 0;
  for (const auto& e : fs::directory_iterator(Path("out/0"))) {
    const std::string name = e.path().filename().string();
    if (name[0] == '.') continue;  // temporary files and the lock of a killed run
    const std::string bytes = Read(e.path().string());
    const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
    if (name == "meta.json") {
      // Rewritten after every frame: always whole.
      EXPECT_TRUE(nlohmann::json::accept(bytes)) << name;
    } else if (name.ends_with(".txt")) {
      EXPECT_FALSE(bytes.empty()) << name;
    } else if (name.ends_with(".bmp")) {
      ASSERT_GE(bytes.size(), 54u) << name;
      EXPECT_EQ(tovimar::io::Le32(b + 2), bytes.size()) << name;
      EXPECT_EQ(bytes.size(), 54u + 160u * 3 * 120) << name;
    } else {
      EXPECT_EQ(bytes.rfind("160\r\n120\r\n", 0), 0u) << name;
      std::size_t lines = 0;
      for (std::size_t p = 0; (p = bytes.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
      EXPECT_EQ(lines, 2u + 160u * 120 + 1) << name;
    }
    ++checked;
  }
  EXPECT_GT(checked, 0);
}

TEST_F(Work, ShorterRerunReportsEarlierFilesAndCleanRemovesOnlyThose) {
  Write("long.txt", Scene(4));
  Write("short.txt", Scene(2));
  ASSERT_EQ(Run("-q -r 32x24 -o out long.txt"), 0);
  // Files no record accounts for (a record of other settings takes its files with it).
  fs::remove(Path("out/0/meta.json"));
  Write("out/0/notes.txt", "mine");
  ASSERT_EQ(Run("-q -c left -r 32x24 -o out short.txt"), 0);
  EXPECT_NE(Read(Path("err.txt")).find("also holds 10 files of earlier left runs (frames from 0002 on"),
            std::string::npos)
      << Read(Path("err.txt"));
  ASSERT_EQ(Run("-q -c left --clean -r 32x24 -o out short.txt"), 0);
  EXPECT_EQ(Read(Path("err.txt")).find("earlier"), std::string::npos);
  const std::set<std::string> names = Names("out/0");
  EXPECT_EQ(names.size(), 2u * 5 + 4u * 5 + 1);  // new left frames, the right run's, notes.txt
  EXPECT_EQ(names.count("left_0003.bmp"), 0u);
  EXPECT_EQ(names.count("right_0003.bmp"), 1u);
  EXPECT_EQ(names.count("notes.txt"), 1u);
}

// The dataset products and layout folders of a longer earlier run that no
// record accounts for are reported and cleaned like the classic files, and
// only those.
TEST_F(Work, EarlierDatasetFilesAreReportedAndCleaned) {
  Write("long.txt", Scene(4));
  Write("short.txt", Scene(2));
  ASSERT_EQ(Run("-q -r 32x24 -o out --outputs pfm,png,masks,flow long.txt"), 0);
  ASSERT_EQ(Run("-q -r 32x24 -o out --outputs pfm,png,masks,flow -s 1 --layout middlebury long.txt"), 0);
  for (const char* seq : {"0", "1"}) fs::remove(Path(std::string("out/") + seq + "/meta.json"));
  for (const char* seq : {"0", "1"}) {
    const std::string args = std::string(" -r 32x24 -o out --outputs pfm,png,masks,flow -s ") + seq +
                             (seq[0] == '1' ? " --layout middlebury" : "") + " short.txt";
    ASSERT_EQ(Run("-q" + args), 0);
    EXPECT_NE(Read(Path("err.txt")).find("files of earlier left runs (frames from 0002 on"), std::string::npos)
        << seq << ": " << Read(Path("err.txt"));
    ASSERT_EQ(Run("-q --clean" + args), 0);
    EXPECT_EQ(Read(Path("err.txt")).find("earlier"), std::string::npos) << seq << ": " << Read(Path("err.txt"));
  }
  const std::set<std::string> classic = Names("out/0");
  for (const char* gone : {"left_0002.png", "ldisp_0003.pfm", "lmask_0002.png", "lflow_0002.flo", "right_0003.png"})
    EXPECT_EQ(classic.count(gone), 0u) << gone;
  EXPECT_EQ(classic.count("left_0001.png"), 1u);
  EXPECT_FALSE(fs::exists(Path("out/1/trainingF/0002")));
  EXPECT_TRUE(fs::exists(Path("out/1/trainingF/0001/im1.png")));
}

// A single run and a batch (--force) alike.
TEST_F(Work, AviWriteFailureAndABadSoundTrackAreFailures) {
  Write("s.txt", Scene(30));
  for (const char* batch : {"", "--force "}) {
    const rlimit limit{30000, 30000};  // the frames and the manifest (25 kB) fit, the AVI (34 kB) does not
    EXPECT_EQ(Wait(Start(std::string("-q -c left -r 16x16 --avi -o out ") + batch + "s.txt", "err.txt", &limit)), 1)
        << batch << Read(Path("err.txt"));
    EXPECT_NE(Read(Path("err.txt")).find("cannot write out/0/L.avi: file too large"), std::string::npos)
        << batch << Read(Path("err.txt"));
    EXPECT_FALSE(fs::exists(Path("out/0/L.avi")));
  }
  Write("wav.wav", "RIFF....WAVEfmt ");
  for (const char* batch : {"", "--force "}) {
    EXPECT_EQ(Run(std::string("-q -c left -r 16x16 --avi -o out ") + batch + "s.txt"), 1) << batch;
    EXPECT_NE(Read(Path("err.txt")).find("wav.wav cannot be used as the sound track"), std::string::npos)
        << batch << Read(Path("err.txt"));
    EXPECT_FALSE(fs::exists(Path("out/0/L.avi")));
  }
  // The frames were recorded complete before the export failed: the batch
  // again, without --force, makes the missing AVI instead of skipping it.
  fs::remove(Path("wav.wav"));
  EXPECT_EQ(Run("-q -c left -r 16x16 --avi -o out --shard 0/1 s.txt"), 0) << Read(Path("err.txt"));
  EXPECT_TRUE(fs::exists(Path("out/0/L.avi")));
}

TEST_F(Work, MotionThatOverflowsNamesItsLine) {
  Write("s.txt", "SPHERE;7;-1;200;40;40;0;4;0;0;0;0;1\nEGO;0;0;0;0;0;0\n//\nEGO;1" + std::string(300, '0') +
                     ";0;0;0;0;0\nEGO;0;0;0;0;0;0\n");
  EXPECT_EQ(Run("-q -r 32x24 -o out s.txt"), 1);
  EXPECT_NE(Read(Path("err.txt")).find("s.txt:4: EGO: the camera motion is no longer a finite number"),
            std::string::npos)
      << Read(Path("err.txt"));
  // An object's motion beyond the renderer's float matrices stops the run at its frame, naming its line.
  Write("m.txt", "SPHERE;7;-1;200;40;40;0;4;0;0;0;0;1\nEGO;0;0;0;0;0;0\nEGO;0;0;0;0;0;0\nMOVE;7;0;0;0;0;0;0\nMOVE;7;1" +
                     std::string(300, '0') + ";0;0;0;0;0\n");
  EXPECT_EQ(Run("-q -r 32x24 -o out2 m.txt"), 1);
  EXPECT_NE(Read(Path("err.txt")).find("m.txt:5: MOVE: the motion of id 7 is no longer a finite number"),
            std::string::npos)
      << Read(Path("err.txt"));
}

// A scene without EGO lines has no frames: a single run fails as a batch
// does, with or without --avi, and writes nothing; a preview has nothing to show.
TEST_F(Work, ASceneWithoutFramesIsAFailure) {
  Write("s.txt", Scene(0));
  for (const char* avi : {"", "--avi "}) {
    EXPECT_EQ(Run(std::string("-q ") + avi + "-o out s.txt"), 1) << avi;
    EXPECT_NE(Read(Path("err.txt")).find("s.txt has no EGO lines, so it has no frames to render"), std::string::npos)
        << Read(Path("err.txt"));
    EXPECT_FALSE(fs::exists(Path("out")));
  }
  EXPECT_EQ(Run("-q --preview -o out s.txt"), 0);
}

}  // namespace
