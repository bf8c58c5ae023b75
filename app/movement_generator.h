#pragma once
// The scene editor's movement generator: runs of "EGO" lines with a constant
// step along chosen axes, optionally alternating with return frames. No Qt:
// the editor window reads its controls and hands the values in.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tovimar {

// Axes in the order of an "EGO" line: x, y, z translation, then the three
// rotation angles (degrees).
using MovementAxes = std::array<bool, 6>;

// A decimal number in the user's notation: blanks around it, an optional
// sign, digits with at most one decimalSeparator (the other mark is not a
// decimal mark here), an optional exponent (e or E, optional sign, digits).
// nullopt when the text does not convert or the value is not finite.
std::optional<double> ParseUserNumber(std::string_view text, char decimalSeparator);

// The lines of one run: frame i has v = start + i * step, or with return
// frames v = +/-(start + (i div 2) * step) for even / odd i; checked axes get
// v, the others 0. Each line is "EGO; " followed by the six values, each
// ended by ";", written by FormatThreeDecimals. Throws Error when a value
// grows beyond what can be written (not finite).
std::vector<std::string> GenerateEgoLines(double start, double step, int count, bool returnFrames,
                                          const MovementAxes& axes, char decimalSeparator);

}  // namespace tovimar
