#include "cli/options.h"

#include <clocale>
#include <langinfo.h>
#include <locale.h>

namespace tovimar::cli {

namespace {

std::vector<OptionSpec> MakeTable() {
  std::vector<OptionSpec> table;
  table.push_back({"help", 'h', nullptr, "show this help and exit",
                   [](CliOptions& o, const std::string&) { o.help = true; }});
  table.push_back({"version", 0, nullptr, "show the version and exit",
                   [](CliOptions& o, const std::string&) { o.version = true; }});
  table.push_back({"dump", 0, nullptr, "print the parsed scene as JSON and exit",
                   [](CliOptions& o, const std::string&) { o.dump = true; }});
  table.push_back({"focal", 0, "TEXT", "the editor's focal-length field; default 389,0",
                   [](CliOptions& o, const std::string& v) { o.focalText = v; }});
  table.push_back({"baseline", 0, "TEXT", "the editor's baseline field; default 0,12",
                   [](CliOptions& o, const std::string& v) { o.baselineText = v; }});
  return table;
}

const OptionSpec* FindLong(const std::string& name) {
  for (const auto& spec : OptionTable()) {
    if (name == spec.longName) return &spec;
  }
  return nullptr;
}

const OptionSpec* FindShort(char name) {
  for (const auto& spec : OptionTable()) {
    if (spec.shortName != 0 && spec.shortName == name) return &spec;
  }
  return nullptr;
}

}  // namespace

const std::vector<OptionSpec>& OptionTable() {
  static const std::vector<OptionSpec> table = MakeTable();
  return table;
}

CliOptions ParseCommandLine(const std::vector<std::string>& args) {
  CliOptions options;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }

    const OptionSpec* spec = nullptr;
    std::string shownName;
    std::string value;
    bool valueAttached = false;
    if (arg[1] == '-') {
      const std::size_t eq = arg.find('=');
      const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      shownName = "--" + name;
      spec = FindLong(name);
      if (spec && eq != std::string::npos) {
        value = arg.substr(eq + 1);
        valueAttached = true;
      }
    } else {
      shownName = arg.substr(0, 2);
      spec = FindShort(arg[1]);
      if (spec && arg.size() > 2) {
        value = arg.substr(2);
        valueAttached = true;
      }
    }
    if (!spec) throw UsageError("unknown option " + shownName);

    if (spec->valueName == nullptr) {
      if (valueAttached) throw UsageError(shownName + " takes no value");
    } else if (!valueAttached) {
      if (i + 1 >= args.size()) throw UsageError(shownName + " needs a value (" + spec->valueName + ")");
      value = args[++i];
    }
    try {
      spec->apply(options, value);
    } catch (const UsageError& e) {
      throw UsageError(shownName + ": " + e.what());
    }
  }

  if (options.help || options.version) return options;
  if (positional.empty()) throw UsageError("no scene file given");
  if (positional.size() > 1) throw UsageError("only one scene file may be given, found also '" + positional[1] + "'");
  options.scenePath = positional[0];
  return options;
}

std::string UsageText() {
  std::string text = "Usage: tovimar-render [options] SCENE\n\nOptions:\n";
  for (const auto& spec : OptionTable()) {
    std::string left = "  ";
    left += spec.shortName != 0 ? std::string("-") + spec.shortName + ", " : std::string("    ");
    left += "--";
    left += spec.longName;
    if (spec.valueName) {
      left += ' ';
      left += spec.valueName;
    }
    if (left.size() < 26) left.resize(26, ' ');
    else left += "  ";
    text += left;
    text += spec.help;
    text += '\n';
  }
  return text;
}

char UserDecimalSeparator() {
  char separator = '.';
  locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user != static_cast<locale_t>(0)) {
    const char* radix = nl_langinfo_l(RADIXCHAR, user);
    if (radix && (radix[0] == '.' || radix[0] == ',') && radix[1] == '\0') separator = radix[0];
    freelocale(user);
  }
  return separator;
}

}  // namespace tovimar::cli
