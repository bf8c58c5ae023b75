#pragma once
// Command-line options of tovimar-render. The options are one table
// (OptionTable): each row names the option, says whether it takes a value and
// stores that value into CliOptions, throwing UsageError when it is bad.
// A new option is a new field here and a new row in options.cpp.
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tovimar::cli {

struct CliOptions {
  bool help = false;
  bool version = false;
  bool dump = false;                  // --dump: print the parsed scene as JSON and exit
  std::string scenePath;              // the one positional argument
  std::string focalText = "389,0";    // the editor's focal-length field
  std::string baselineText = "0,12";  // the editor's baseline field
};

// A bad command line; the message names the option and what is wrong.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionSpec {
  const char* longName;   // without the leading "--"
  char shortName;         // 0 when the option has no short form
  const char* valueName;  // nullptr for a switch, else the value's name in the help text
  const char* help;
  std::function<void(CliOptions&, const std::string& value)> apply;
};

const std::vector<OptionSpec>& OptionTable();

// Parses the arguments after the program name. Accepts "--name value",
// "--name=value", "-x value" and "-xvalue"; "--" ends the options.
CliOptions ParseCommandLine(const std::vector<std::string>& args);

// The help text: synopsis and one line per option.
std::string UsageText();

// Decimal separator of the user's locale (LC_ALL / LC_NUMERIC / LANG), read
// without changing the process's locale; '.' when it is neither '.' nor ','.
char UserDecimalSeparator();

}  // namespace tovimar::cli
