#include "scene/locale_number.h"

#include "base/error.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "io/text.h"

namespace tovimar {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> ParseLocaleDouble(std::string_view text, char decimalSeparator) {
  std::size_t pos = 0;
  const std::size_t n = text.size();
  while (pos < n && text[pos] == ' ') ++pos;

  bool negative = false;
  if (pos < n && text[pos] == '-') {
    negative = true;
    ++pos;
  }

  // The number itself: digits with at most one separator among or around them.
  std::string_view intDigits;
  std::string_view fracDigits;
  bool separatorSeen = false;
  const std::size_t runStart = pos;
  std::size_t separatorAt = 0;
  while (pos < n) {
    const char c = text[pos];
    if (IsDigit(c)) {
      ++pos;
    } else if (c == decimalSeparator && !separatorSeen) {
      separatorSeen = true;
      separatorAt = pos;
      ++pos;
    } else {
      break;
    }
  }
  if (pos == runStart) return std::nullopt;  // neither a digit nor the separator
  if (separatorSeen) {
    intDigits = text.substr(runStart, separatorAt - runStart);
    fracDigits = text.substr(separatorAt + 1, pos - separatorAt - 1);
  } else {
    intDigits = text.substr(runStart, pos - runStart);
  }

  while (pos < n && text[pos] == ' ') ++pos;
  if (pos != n) return std::nullopt;

  // Canonical form for from_chars: never empty on either side of the point.
  std::string canonical;
  canonical.reserve(intDigits.size() + fracDigits.size() + 3);
  canonical += '0';
  canonical.append(intDigits);
  canonical += '.';
  canonical.append(fracDigits);
  canonical += '0';

  double value = 0.0;
  const char* first = canonical.data();
  const char* last = first + canonical.size();
  const auto result = std::from_chars(first, last, value, std::chars_format::fixed);
  if (result.ec == std::errc::result_out_of_range) {
    // Too large for a double is an error; too small to tell from zero reads as zero.
    bool integerPartNonZero = false;
    for (char c : intDigits) {
      if (c != '0') {
        integerPartNonZero = true;
        break;
      }
    }
    if (integerPartNonZero) return std::nullopt;
    value = 0.0;
  } else if (result.ec != std::errc() || result.ptr != last) {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

std::string NotValidFloatMessage(std::string_view text) {
  std::string message;
  message += '\'';
  message += EchoField(text);
  message += "' is not a valid floating point value";
  return message;
}

std::string NormaliseDecimalText(std::string_view text, char decimalSeparator) {
  std::string result(text);
  for (char& c : result) {
    if (c == '.') c = decimalSeparator;
  }
  for (char& c : result) {
    if (c == ',') c = decimalSeparator;
  }
  return result;
}

std::string FormatThreeDecimals(double value, char decimalSeparator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";

  // Exact decimal expansion of |value|: a double with binary exponent e has at
  // most max(0, 52 - e) fractional binary digits, and as many decimal ones.
  const double magnitude = std::fabs(value);
  int fractionDigits = 0;
  if (magnitude != 0.0) {
    const int exponent = std::ilogb(magnitude);
    fractionDigits = 52 - exponent;
    if (fractionDigits < 0) fractionDigits = 0;
    if (fractionDigits > 1074) fractionDigits = 1074;
  }
  char buffer[1500];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, magnitude, std::chars_format::fixed, fractionDigits);
  const std::string_view exact(buffer, static_cast<std::size_t>(written.ptr - buffer));

  // digits[k] has decimal power (intCount - 1 - k).
  std::string digits;
  digits.reserve(exact.size());
  int intCount = 0;
  bool inFraction = false;
  for (char c : exact) {
    if (c == '.') {
      inFraction = true;
      continue;
    }
    digits += c;
    if (!inFraction) ++intCount;
  }

  std::size_t lead = 0;
  while (lead < digits.size() && digits[lead] == '0') ++lead;
  if (lead == digits.size()) {
    std::string zero = "0";
    zero += decimalSeparator;
    zero += "000";
    return zero;
  }
  const int leadPower = intCount - 1 - static_cast<int>(lead);
  // Three significant digits or three decimals, whichever is coarser.
  const int keepPower = std::max(leadPower - 2, -3);

  // Keep the digits of power >= keepPower, rounding half away from zero on the next one.
  const int keepCount = intCount - keepPower;  // digits with power >= keepPower
  std::string kept = digits.substr(0, static_cast<std::size_t>(keepCount));
  const bool roundUp = static_cast<std::size_t>(keepCount) < digits.size() &&
                       digits[static_cast<std::size_t>(keepCount)] >= '5';
  if (roundUp) {
    int k = keepCount - 1;
    while (k >= 0 && kept[static_cast<std::size_t>(k)] == '9') {
      kept[static_cast<std::size_t>(k)] = '0';
      --k;
    }
    if (k >= 0) {
      ++kept[static_cast<std::size_t>(k)];
    } else {
      kept.insert(kept.begin(), '1');
      ++intCount;
    }
  }
  // kept now holds the integer digits followed by (-keepPower) fractional ones
  // when keepPower < 0, or the leading digits of the integer part otherwise.
  std::string integerPart;
  std::string fractionPart;
  if (keepPower < 0) {
    const std::size_t fracLen = static_cast<std::size_t>(-keepPower);
    integerPart = kept.substr(0, kept.size() - fracLen);
    fractionPart = kept.substr(kept.size() - fracLen);
  } else {
    integerPart = kept + std::string(static_cast<std::size_t>(keepPower), '0');
  }
  while (fractionPart.size() < 3) fractionPart += '0';
  std::size_t firstNonZero = 0;
  while (firstNonZero + 1 < integerPart.size() && integerPart[firstNonZero] == '0') ++firstNonZero;
  integerPart.erase(0, firstNonZero);
  if (integerPart.empty()) integerPart = "0";

  const bool isZero = integerPart == "0" && fractionPart.find_first_not_of('0') == std::string::npos;
  std::string text;
  text.reserve(integerPart.size() + 6);
  if (value < 0 && !isZero) text += '-';
  text += integerPart;
  text += decimalSeparator;
  text += fractionPart;
  return text;
}

double BaselineFieldValue(const std::string& text, char decimalSeparator) {
  const std::optional<double> value = ParseLocaleDouble(text, decimalSeparator);
  if (!value) throw Error(NotValidFloatMessage(text));
  return *value;
}

double FocalLengthFieldValue(const std::string& text, char decimalSeparator) {
  const double focal = BaselineFieldValue(text, decimalSeparator);
  if (!(focal > 0.0)) {
    throw Error("'" + text + "' is not a valid focal length: it must be a positive number of pixels");
  }
  return focal;
}

}  // namespace tovimar
