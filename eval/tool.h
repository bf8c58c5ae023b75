#pragma once
// tovimar-eval's command line: options, the run, the exit code.
#include <ostream>
#include <string>
#include <vector>

namespace tovimar::eval {

// Exit codes: 0 every frame evaluated, 1 some frames (each named) or the
// sequence could not be read or an output not written, 2 bad options.
int RunEvalTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string EvalUsage();

}  // namespace tovimar::eval
