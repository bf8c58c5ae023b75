#pragma once
// Internal checks: a violated precondition is a programming error, reported
// with its condition, file and line.
#include <functional>
#include <string>

namespace tovimar {

// Reports "Assertion failed: <condition>, file <file>, line <line>" and ends the program.
[[noreturn]] void AssertionFailed(const char* condition, const char* file, int line);

// Where a failed check is shown before the program ends (the desktop program
// installs a message box; by default the report goes to stderr).
void SetAssertionReporter(std::function<void(const std::string&)> reporter);

}  // namespace tovimar

#define TOVIMAR_CHECK(cond) ((cond) ? (void)0 : ::tovimar::AssertionFailed(#cond, __FILE__, __LINE__))
