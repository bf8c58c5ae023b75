// Output files appear whole or not at all, links at their names are
// replaced rather than followed, and failures say why.
#include "io/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "base/error.h"
#include "io/file.h"
#include "io/folder_lock.h"
#include "io/text.h"
#include "tests/support/temp_dir.h"

namespace tovimar {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = tmp_.path(); }
  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  std::string Read(const std::string& path) const {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename().string());
    return names;
  }
  std::string CreateError(const std::string& path) {
    try {
      WriteWholeFile(path, "x", 1);
    } catch (const Error& e) {
      return e.message();
    }
    return "no error";
  }
  ::tovimar::testing::TempDir tmp_;
  std::string dir_;
};

TEST_F(AtomicFileTest, FinalNameHoldsTheOldBytesUntilCommit) {
  const std::string path = File("a.bmp");
  WriteWholeFile(path, "old", 3);
  {
    AtomicFile f;
    f.Create(path);
    f.Write("new bytes", 9);
    EXPECT_EQ(Read(path), "old");
    std::string final;
    ASSERT_TRUE(IsTemporaryOutputName(fs::path(f.TemporaryPath()).filename().string(), &final));
    EXPECT_EQ(final, "a.bmp");
    f.Commit();
  }
  EXPECT_EQ(Read(path), "new bytes");
  {
    AtomicFile abandoned;  // not committed: the earlier file stays, no leftovers
    abandoned.Create(path);
    abandoned.Write("partial", 7);
  }
  EXPECT_EQ(Read(path), "new bytes");
  EXPECT_EQ(Names(), std::set<std::string>{"a.bmp"});
}

TEST_F(AtomicFileTest, LinkAtTheNameIsReplacedAndItsTargetUntouched) {
  const std::string outside = File("outside.txt");
  WriteWholeFile(outside, "keep me", 7);
  const std::string link = File("left_0000.bmp");
  ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
  WriteWholeFile(link, "frame", 5);
  EXPECT_EQ(Read(outside), "keep me");
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(Read(link), "frame");
}

TEST_F(AtomicFileTest, FailuresKeepTheStartAndGiveTheReason) {
  fs::create_directory(File("folder"));
  EXPECT_EQ(CreateError(File("folder")), "Cannot create file " + File("folder") + ": is a folder");
  EXPECT_EQ(CreateError(File("none/x.bmp")), "Cannot create file " + File("none/x.bmp") + ": the folder does not exist");
  WriteWholeFile(File("plain"), "", 0);
  EXPECT_EQ(CreateError(File("plain/x.bmp")),
            "Cannot create file " + File("plain/x.bmp") + ": a part of the path is not a folder");
  // A FIFO at an output name is neither opened (which would wait for a
  // reader) nor replaced.
  ASSERT_EQ(::mkfifo(File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(CreateError(File("pipe")), "Cannot create file " + File("pipe") + ": is not a regular file");
  struct stat st {};
  ASSERT_EQ(::lstat(File("pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // A control character in a name cannot split the message.
  EXPECT_EQ(CreateError(File("no\nsuch/x")), "Cannot create file " + File("no\\nsuch/x") + ": the folder does not exist");
  EXPECT_EQ(FileErrorReason(ENOSPC), "no space left on the device");
  EXPECT_EQ(FileErrorReason(EACCES), "permission denied");
}

// A lock that cannot be taken refuses the run with the reason; it never
// lets the run go on unlocked.
TEST_F(AtomicFileTest, AFolderLockThatCannotBeTakenIsARefusal) {
  const std::string lock = File(kFolderLockName);
  std::string refusal;
  fs::create_directory(lock);
  EXPECT_EQ(FolderLock::Acquire(dir_, &refusal), nullptr);
  EXPECT_NE(refusal.find("cannot lock the sequence folder"), std::string::npos) << refusal;
  fs::remove(lock);
  fs::create_symlink(File("nowhere"), lock);  // dangling
  EXPECT_EQ(FolderLock::Acquire(dir_, &refusal), nullptr);
  EXPECT_NE(refusal.find(std::string(kFolderLockName) + " is a symbolic link"), std::string::npos) << refusal;
  EXPECT_FALSE(fs::exists(File("nowhere")));
  fs::remove(lock);
  EXPECT_EQ(FolderLock::Acquire(File("missing"), &refusal), nullptr);
  EXPECT_NE(refusal.find("missing"), std::string::npos) << refusal;
  const auto held = FolderLock::Acquire(dir_, &refusal);
  EXPECT_NE(held, nullptr);
  EXPECT_EQ(refusal, "");
}

TEST(MessageText, EscapesControlCharactersAndCutsLongFields) {
  EXPECT_EQ(EscapeForMessage("a\tb\r\n\x01\x7f" "c"), "a\\tb\\r\\n\\x01\\x7fc");
  EXPECT_EQ(EchoField(std::string(80, 'x')), std::string(80, 'x'));
  EXPECT_EQ(EchoField(std::string(300, 'x')), std::string(80, 'x') + "...");
  // Cut before a two-byte character that would straddle the limit.
  EXPECT_EQ(EchoField(std::string(79, 'x') + "\xc3\xa9"), std::string(79, 'x') + "...");
}

TEST(TemporaryNames, OnlyTheWriterPatternMatches) {
  EXPECT_TRUE(IsTemporaryOutputName(".left_0000.bmp.tmpAb12Z9"));
  EXPECT_FALSE(IsTemporaryOutputName("left_0000.bmp.tmpAb12Z9"));
  EXPECT_FALSE(IsTemporaryOutputName(".left_0000.bmp.tmpAb12Z"));
  EXPECT_FALSE(IsTemporaryOutputName(".left_0000.bmp.tmpAb12-9"));
  EXPECT_FALSE(IsTemporaryOutputName(".tovimar.lock"));
}

}  // namespace
}  // namespace tovimar
