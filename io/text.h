#pragma once
// Text as the scene files hold it: UTF-8 checks and line splitting.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tovimar {

// Splits text into lines; CR LF, a lone CR and a lone LF each end a line.
// A final line break does not start an extra line ("a\r\n" is one line, "" none).
std::vector<std::string> SplitLines(std::string_view text);

// The editor's lines of a file's bytes: split like SplitLines, but a final
// line break leaves an empty last line, as a memo holding that text shows it
// (at least one line, "" for an empty file).
std::vector<std::string> SplitFileLines(std::string_view bytes);

// Length of the well-formed UTF-8 sequence at the start of s (shortest form,
// no surrogates, at most U+10FFFF), or 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view s);

// True when bytes are well-formed UTF-8 throughout.
bool IsValidUtf8(std::string_view bytes);

// text for a one-line message: control characters (a newline in a file
// name) written as \n, \r, \t or \xNN; cut after maxBytes bytes (at a
// UTF-8 boundary) with "..." appended.
std::string EscapeForMessage(std::string_view text, std::size_t maxBytes = std::string_view::npos);

// How much of a bad option value or scene field a message echoes.
inline constexpr std::size_t kEchoedFieldBytes = 80;

// A field echoed in a message: EscapeForMessage cut at kEchoedFieldBytes.
inline std::string EchoField(std::string_view text) { return EscapeForMessage(text, kEchoedFieldBytes); }

}  // namespace tovimar
