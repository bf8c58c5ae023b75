#include "app/movement_generator.h"

#include <charconv>
#include <cmath>

#include "scene/locale_number.h"
#include "scene/notifier.h"

namespace tovimar {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> ParseUserNumber(std::string_view text, char decimalSeparator) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && text[begin] == ' ') ++begin;
  while (end > begin && text[end - 1] == ' ') --end;
  std::string_view s = text.substr(begin, end - begin);

  // Rebuild the number in the notation from_chars reads: '.' as the mark, no '+'.
  std::string canonical;
  canonical.reserve(s.size() + 1);
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') canonical.push_back('-');
    ++i;
  }
  int digits = 0;
  bool separatorSeen = false;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (IsDigit(c)) {
      canonical.push_back(c);
      ++digits;
    } else if (c == decimalSeparator && !separatorSeen) {
      canonical.push_back('.');
      separatorSeen = true;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    canonical.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      if (s[i] == '-') canonical.push_back('-');
      ++i;
    }
    int exponentDigits = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
      canonical.push_back(s[i]);
      ++exponentDigits;
    }
    if (exponentDigits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;

  double value = 0.0;
  const char* first = canonical.data();
  const char* last = first + canonical.size();
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::vector<std::string> GenerateEgoLines(double start, double step, int count, bool returnFrames,
                                          const MovementAxes& axes, char decimalSeparator) {
  std::vector<std::string> lines;
  if (count <= 0) return lines;
  lines.reserve(static_cast<std::size_t>(count));
  std::array<double, 6> values{};  // x, y, z, a, b, g: unchecked axes stay 0
  for (int i = 0; i < count; ++i) {
    double v;
    if (!returnFrames) {
      v = start + i * step;
    } else {
      double magnitude = start + (i / 2) * step;
      v = (i % 2 == 0) ? magnitude : -magnitude;
    }
    if (!std::isfinite(v)) throw Error("The generated value of frame " + std::to_string(i) + " is out of range");
    if (v == 0.0) v = 0.0;  // a return frame of 0 is written without a minus sign
    for (std::size_t axis = 0; axis < values.size(); ++axis) {
      if (axes[axis]) values[axis] = v;
    }
    std::string line = "EGO; ";
    for (double value : values) {
      line += FormatThreeDecimals(value, decimalSeparator);
      line += ';';
    }
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace tovimar
