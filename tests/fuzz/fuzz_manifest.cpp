// Fuzzes the manifest reader with arbitrary meta.json bytes: reading and
// checking it, where a run of either camera can start, and a run recorded
// and saved over it. Any crash, sanitizer report, exception other than a
// file that cannot be written, or broken invariant (a resume point outside
// the run, a listed frame that a fresh read refuses) is a finding.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/error.h"
#include "io/file.h"
#include "layout/file_names.h"
#include "dataset/manifest.h"

namespace {

using namespace tovimar;

[[noreturn]] void Fail() { std::abort(); }

constexpr int32_t kFrames = 4;

// A folder of its own, holding the classic files of the first frames of both
// cameras, so that records listing them are gone on from.
const std::string& Folder() {
  static const std::string folder = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "fuzz-manifest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail();
    const std::string dir = pattern + "/";
    for (const char* prefix : {"left_", "ldisp_", "ldisp_p_", "lbindisp_", "seg_l_", "right_", "disp_", "disp_p_",
                               "bindisp_", "seg_r_"}) {
      for (int frame = 0; frame < 2; ++frame) {
        const std::string extension = std::string(prefix).find("bindisp") != std::string::npos ? ".dat" : ".bmp";
        WriteWholeFile(dir + prefix + FrameNumber(frame) + extension, "x", 1);
      }
    }
    return dir;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string& dir = Folder();
  WriteWholeFile(dir + SequenceManifest::kFileName, data, size);
  SequenceManifest manifest(dir);
  RunDescription run;
  run.width = 8;
  run.height = 6;
  run.focalLength = 389;
  run.baseline = 0.12;
  run.sceneSha256 = "abc";
  run.plannedCameras = "both";
  for (const bool right : {false, true}) {
    run.rightCamera = right;
    const ResumePoint point = manifest.ResumePointOf(run, kFrames);
    if (point.frame < 0 || point.frame > kFrames) Fail();
    if (point.kind == ResumePoint::Kind::Continue && point.frame == 0) Fail();
    manifest.HasFrame(right, 0);
  }
  manifest.HasAnyFrame();
  manifest.Complete();
  // A run of the left camera recorded over what was read, then read back.
  run.rightCamera = false;
  try {
    manifest.BeginRun(run);
    FrameRecord record;
    record.files = {"left_0000.bmp"};
    record.minDisparity = 1;
    record.maxDisparity = 2;
    manifest.AddFrame(false, record);
    manifest.AddFiles(true, 0, {"mask_0000.png"});
    manifest.CountNotFitting(false, 0, "kitti16", 1);
    manifest.EndRun(false, false);
    manifest.Save();
  } catch (const Error&) {
    return 0;  // a file that cannot be written
  }
  const SequenceManifest again(dir);
  if (!again.ReadProblem().empty() || !again.HasFrame(false, 0)) Fail();
  return 0;
}
