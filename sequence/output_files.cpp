#include "sequence/output_files.h"

#include <sys/stat.h>

#include <array>
#include <charconv>
#include <cstring>

#include "io/atomic_file.h"

namespace tovimar {

void CreateOutputDirectory(const std::string& directory) {
  if (directory.empty()) return;
  (void)::mkdir(directory.c_str(), 0777);
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

constexpr std::array<char, 200> MakeDigitPairs() {
  std::array<char, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    t[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return t;
}
constexpr std::array<char, 200> kDigitPairs = MakeDigitPairs();

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

// The 18 decimal digits of q (10^17 <= q < 10^18).
void EighteenDigits(uint64_t q, char* digits) {
  uint32_t parts[2] = {static_cast<uint32_t>(q / 1000000000u), static_cast<uint32_t>(q % 1000000000u)};
  for (int h = 0; h < 2; ++h) {
    uint32_t v = parts[h];
    char* d = digits + 9 * h;
    d[8] = static_cast<char>('0' + v % 10);
    v /= 10;
    for (int i = 6; i >= 0; i -= 2) {
      const uint32_t pair = v % 100;
      v /= 100;
      d[i] = kDigitPairs[2 * pair];
      d[i + 1] = kDigitPairs[2 * pair + 1];
    }
  }
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
  char digits[18];
  EighteenDigits(q, digits);
  int last = 17;  // last significant digit kept
  while (last > 0 && digits[last] == '0') --last;
  if (X >= 0) {
    std::memcpy(out, digits, static_cast<std::size_t>(X + 1));
    out += X + 1;
    if (last > X) {
      *out++ = '.';
      std::memcpy(out, digits + X + 1, static_cast<std::size_t>(last - X));
      out += last - X;
    }
  } else {
    *out++ = '0';
    *out++ = '.';
    for (int i = 0; i < -X - 1; ++i) *out++ = '0';
    std::memcpy(out, digits, static_cast<std::size_t>(last + 1));
    out += last + 1;
  }
  return out;
}

// Writes "%.18g" of v at out (room for 27 characters); returns the end.
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
  // Longest value: sign, 18 digits, point, "e-308" = 25 characters.
  constexpr std::size_t kMaxLine = 25 + 2;
  text.resize(kDisparityChunkBytes + kMaxLine);
  char* const begin = text.data();
  char* const end = begin + text.size();
  char* const flushAt = begin + kDisparityChunkBytes;
  char* p = begin;
  auto line_end = [&p] {
    *p++ = '\r';
    *p++ = '\n';
  };
  AtomicFile file;
  file.Create(path);
  p = std::to_chars(p, end, width).ptr;
  line_end();
  p = std::to_chars(p, end, height).ptr;
  line_end();
  for (std::size_t i = 0; i < count; ++i) {
    p = FormatG18(p, end, disparity[i]);
    line_end();
    if (p >= flushAt) {
      file.Write(begin, static_cast<std::size_t>(p - begin));
      p = begin;
    }
  }
  line_end();
  file.Write(begin, static_cast<std::size_t>(p - begin));
  file.Commit();
  return 1;
}

}  // namespace tovimar
