#pragma once
// Numbers in user text. Never touched by the process's C locale: the user's
// decimal separator is always an explicit input.
#include <optional>
#include <string>
#include <string_view>

namespace tovimar {

// Converts text in the scene-language grammar: spaces, optional '-', decimal
// digits with at most one decimalSeparator among or around them (a lone
// separator reads 0), spaces. No exponent, no '+'. Returns nullopt when the
// text does not convert or the value is not finite.
std::optional<double> ParseLocaleDouble(std::string_view text, char decimalSeparator);

// The conversion message: "'<text>' is not a valid floating point value".
std::string NotValidFloatMessage(std::string_view text);

// Copy of text with every '.' and then every ',' replaced by decimalSeparator.
std::string NormaliseDecimalText(std::string_view text, char decimalSeparator);

// The scene editor's focal-length and baseline fields as numbers. text: as
// the field holds it after NormaliseDecimalText. Throws Error naming the
// text: NotValidFloatMessage, or for a focal length that is not positive
// "'<text>' is not a valid focal length: it must be a positive number of pixels".
double FocalLengthFieldValue(const std::string& text, char decimalSeparator);
double BaselineFieldValue(const std::string& text, char decimalSeparator);

// Three-decimal number text of the editor's memos: rounded to three
// significant digits or three decimals, whichever is coarser, in fixed notation
// with exactly three digits after decimalSeparator (0.25 -> "0,250",
// 12.345 -> "12,300", 0.0012 -> "0,001").
std::string FormatThreeDecimals(double value, char decimalSeparator);

}  // namespace tovimar
