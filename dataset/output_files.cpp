#include "dataset/output_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "io/atomic_file.h"
#include "base/error.h"
#include "base/parallel_chunks.h"
#include "io/text.h"

namespace tovimar {

void CreateOutputDirectory(const std::string& directory) {
  if (directory.empty()) return;
  (void)::mkdir(directory.c_str(), 0777);
}

namespace {

// Removes a plain file or link at path: true when one was there.
bool RemovedFile(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) return false;
  if (::unlink(path.c_str()) != 0 && errno != ENOENT)
    throw Error("cannot remove " + EscapeForMessage(path) + ": " + FileErrorReason(errno));
  return true;
}

}  // namespace

std::string SceneFlowSceneClash(const std::string& directory, bool sceneFlowRun) {
  const std::string other = SceneFlowSceneSharer(directory);
  if (other.empty() || !(sceneFlowRun || SceneFlowTreeHasScene(directory))) return {};
  std::string own = directory;
  while (own.size() > 1 && own.back() == '/') own.pop_back();
  return "the sequence folder '" + EscapeForMessage(own) + "' and the sequence folder '" + EscapeForMessage(other) +
         "' would share the scene-flow tree's scene folder " + SceneFlowScene(directory) +
         " (a number is written with four digits there); give the sequence another name or another output folder";
}

std::string SceneFlowSceneLockName(const std::string& directory) {
  // TRAIN/A's as before; another split's scene folder has a lock of its own.
  std::string split = SceneFlowSplitOf(directory);
  if (split == kDefaultSceneFlowSplit) return ".tovimar.sceneflow-" + SceneFlowScene(directory) + ".lock";
  std::replace(split.begin(), split.end(), '/', '@');
  return ".tovimar.sceneflow-" + split + "@" + SceneFlowScene(directory) + ".lock";
}

void RemoveSequenceFile(const std::string& path) { (void)RemovedFile(path); }

std::size_t RemoveCameraRunFiles(const std::string& directory, bool rightCamera) {
  std::vector<std::string> doomed = CameraRunFiles(directory, rightCamera, 0);
  doomed.push_back(directory + AviFileName(rightCamera));
  std::size_t removed = 0;
  for (const std::string& path : doomed) {
    if (!RemovedFile(path)) continue;
    ++removed;
    // A layout's frame or product folders that are now empty go too, up to
    // the sequence folder (or, for the scene-flow tree, the output root).
    const std::filesystem::path top = std::filesystem::path(directory).parent_path();
    for (std::filesystem::path folder = std::filesystem::path(path).parent_path();
         folder != top && folder.filename() != ".." && !folder.empty() && ::rmdir(folder.c_str()) == 0;)
      folder = folder.parent_path();
  }
  return removed;
}

// ---------------------------------------------------------------- disparity text

namespace {

__extension__ typedef unsigned __int128 Uint128;

constexpr uint64_t kPow10_17 = 100000000000000000ULL;
constexpr uint64_t kPow10_18 = 1000000000000000000ULL;

constexpr std::array<Uint128, 22> MakePowersOfTen() {
  std::array<Uint128, 22> p{};
  Uint128 v = 1;
  for (auto& e : p) {
    e = v;
    v *= 10u;
  }
  return p;
}
constexpr std::array<Uint128, 22> kPow10 = MakePowersOfTen();

// round(m * 10^k / 2^shift), halves to even, exactly (m < 2^53, k <= 21,
// 0 < shift < 128).
uint64_t ScaledRound(uint64_t m, int k, int shift) {
  const Uint128 p = static_cast<Uint128>(m) * kPow10[static_cast<std::size_t>(k)];
  const Uint128 one = 1;
  Uint128 q = p >> shift;
  const Uint128 r = p & ((one << shift) - 1);
  const Uint128 half = one << (shift - 1);
  if (r > half || (r == half && (q & 1) != 0)) ++q;
  return static_cast<uint64_t>(q);
}

// The eight ASCII digits of n < 10^8, leading zeros kept, as a little-endian
// word (the most significant digit at the lowest address): the two halves
// of four digits are split into pairs and the pairs into digits in all
// lanes at once, by multiplications that divide exactly at these sizes.
uint64_t EightDigits(uint32_t n) {
  uint64_t v = (n / 10000) | (static_cast<uint64_t>(n % 10000) << 32);
  const uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007FULL;  // v / 100 for v < 10^4
  v = hundreds | ((v - hundreds * 100) << 16);
  const uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000FULL;  // v / 10 for v < 100
  v = tens | ((v - tens * 10) << 8);
  return v + 0x3030303030303030ULL;
}

// "%.18g" of a positive double in [1e-4, 1e15): the exact binary value
// rounded to 18 significant digits (halves to even, as the C library does),
// trailing zeros dropped, fixed notation. Returns nullptr outside that range
// so the caller takes the general path.
char* FormatG18Fast(char* out, double v) {
  if (!(v >= 1e-4 && v < 1e15)) return nullptr;
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int shift = 1075 - biased;  // v = m / 2^shift
  if (shift <= 0 || shift >= 128) return nullptr;
  // Decimal exponent X with 10^X <= v < 10^(X+1) after rounding to 18
  // digits: estimated from the binary exponent, then corrected.
  int X = ((biased - 1023) * 1233) >> 12;  // floor(e2 * log10(2)), off by at most one
  uint64_t q = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int k = 17 - X;
    if (k < 0 || k > 21) return nullptr;
    q = ScaledRound(m, k, shift);
    if (q >= kPow10_18) {
      ++X;
    } else if (q < kPow10_17) {
      --X;
    } else {
      break;
    }
  }
  if (q < kPow10_17 || q >= kPow10_18 || X < -4 || X >= 18) return nullptr;
  int significant = 18;  // less the trailing zeros
  for (uint64_t t = q; significant > 1 && t % 10 == 0; t /= 10) --significant;
  char digits[18];
  const uint32_t top = static_cast<uint32_t>(q / 10000000000000000ULL);  // the first two digits
  const uint64_t rest = q % 10000000000000000ULL;
  digits[0] = static_cast<char>('0' + top / 10);
  digits[1] = static_cast<char>('0' + top % 10);
  const uint64_t middle = EightDigits(static_cast<uint32_t>(rest / 100000000));
  const uint64_t last = EightDigits(static_cast<uint32_t>(rest % 100000000));
  std::memcpy(digits + 2, &middle, 8);
  std::memcpy(digits + 10, &last, 8);
  if (X >= 0) {
    std::memcpy(out, digits, 18);
    if (significant <= X + 1) return out + X + 1;
    out[X + 1] = '.';
    std::memcpy(out + X + 2, digits + X + 1, static_cast<std::size_t>(17 - X));
    return out + significant + 1;
  }
  std::memcpy(out, "0.000", 5);
  std::memcpy(out + 1 - X, digits, 18);
  return out + 1 - X + significant;
}

// Writes "%.18g" of v at out (room for 27 characters; the fast path may
// scribble past the end it returns); returns the end.
char* FormatG18(char* out, char* end, double v) {
  if (v < 0 && v > -1e15) {
    char* p = FormatG18Fast(out + 1, -v);
    if (p != nullptr) {
      *out = '-';
      return p;
    }
  } else if (char* p = FormatG18Fast(out, v)) {
    return p;
  }
  return std::to_chars(out, end, v, std::chars_format::general, 18).ptr;
}

}  // namespace

void AppendDisparityValue(std::string& out, double v) {
  char buf[40];
  char* end = FormatG18(buf, buf + sizeof buf, v);
  out.append(buf, end);
}

int WriteDisparityFile(const std::string& path, const double* disparity, int width, int height,
                       std::string* buffer) {
  std::string local;
  std::string& text = buffer ? *buffer : local;
  const std::size_t count = static_cast<std::size_t>(width < 0 ? 0 : width) *
                            static_cast<std::size_t>(height < 0 ? 0 : height);
  // Longest line: sign, 18 digits, point, "e-308" = 25 characters, and "\r\n".
  constexpr std::size_t kMaxLine = 25 + 2;
  // The values are formatted a few pieces at a time, the pieces on both
  // threads, into their own parts of the buffer, then written in order.
  constexpr std::size_t kPiecesAtOnce = 4;
  constexpr std::size_t kPieceValues = kDisparityChunkBytes / (kPiecesAtOnce * kMaxLine);
  constexpr std::size_t kPieceBytes = kPieceValues * kMaxLine;
  text.resize(kPiecesAtOnce * kPieceBytes);
  char* const begin = text.data();
  std::array<std::size_t, kPiecesAtOnce> pieceBytes{};

  AtomicFile file;
  file.Create(path);
  auto headerLine = [&file](int value) {
    char line[16];
    char* end = std::to_chars(line, line + sizeof line - 2, value).ptr;
    end[0] = '\r';
    end[1] = '\n';
    file.Write(line, static_cast<std::size_t>(end + 2 - line));
  };
  headerLine(width);
  headerLine(height);
  for (std::size_t first = 0; first < count; first += kPiecesAtOnce * kPieceValues) {
    const std::size_t values = std::min(count - first, kPiecesAtOnce * kPieceValues);
    const int pieces = static_cast<int>((values + kPieceValues - 1) / kPieceValues);
    ForEachChunk(pieces, [&](int piece) {
      const std::size_t from = first + static_cast<std::size_t>(piece) * kPieceValues;
      const std::size_t to = std::min(from + kPieceValues, first + values);
      char* const start = begin + static_cast<std::size_t>(piece) * kPieceBytes;
      char* const end = start + kPieceBytes;
      char* q = start;
      for (std::size_t i = from; i < to; ++i) {
        q = FormatG18(q, end, disparity[i]);
        *q++ = '\r';
        *q++ = '\n';
      }
      pieceBytes[static_cast<std::size_t>(piece)] = static_cast<std::size_t>(q - start);
    });
    for (int piece = 0; piece < pieces; ++piece)
      file.Write(begin + static_cast<std::size_t>(piece) * kPieceBytes, pieceBytes[static_cast<std::size_t>(piece)]);
  }
  file.Write("\r\n", 2);
  file.Commit();
  return 1;
}

void WriteClassicFiles(const FrameFileNames& names, const ClassicProducts& products, std::string& text) {
  products.cameraImage.Save(names.cameraImage);
  products.subPixelMap.Save(names.subPixelMap);
  products.pixelMap.Save(names.pixelMap);
  const int W = products.cameraImage.Width(), H = products.cameraImage.Height();
  WriteDisparityFile(names.disparityText, products.disparity.data(), W, H, &text);
  products.segmentation.Save(names.segmentation);
}

}  // namespace tovimar
