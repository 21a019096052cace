#include "cli/command_line.h"

#include <cstring>
#include <set>
#include <sstream>
#include <string_view>

#include "cli/cli_error.h"
#include "filter/option_keywords.h"

namespace tessul {
namespace cli {

namespace {

struct CommandName {
  const char* name;
  Command command;
};

constexpr CommandName kCommands[] = {
    {"check", Command::kCheck},
    {"compile", Command::kCompile},
    {"info", Command::kInfo},
    {"version", Command::kVersion},
};

// Which commands accept an option: a bit per command.
enum CommandBits : unsigned {
  kCheckBit = 1,
  kCompileBit = 2,
  kInfoBit = 4,
  kVersionBit = 8,
  kEveryCommand = kCheckBit | kCompileBit | kInfoBit | kVersionBit,
};

unsigned commandBit(Command command) {
  switch (command) {
    case Command::kCheck: return kCheckBit;
    case Command::kCompile: return kCompileBit;
    case Command::kInfo: return kInfoBit;
    case Command::kVersion: return kVersionBit;
    case Command::kNone: break;
  }
  return 0;
}

struct OptionSpec {
  const char* name;
  const char* shortName;  // or null
  unsigned commands;
  bool takesValue;
  bool repeatable;
  void (*store)(CommandLine* line, std::string value);
};

const OptionSpec kOptions[] = {
    {"--help", "-h", kEveryCommand, false, true,
     [](CommandLine* line, std::string) { line->help = true; }},
    {"--list", nullptr, kCheckBit | kCompileBit, true, true,
     [](CommandLine* line, std::string value) {
       line->lists.push_back(std::move(value));
     }},
    {"--image", nullptr, kCheckBit | kCompileBit, true, false,
     [](CommandLine* line, std::string value) { line->image = value; }},
    {"--type", nullptr, kCheckBit, true, false,
     [](CommandLine* line, std::string value) { line->type = value; }},
    {"--page", nullptr, kCheckBit, true, false,
     [](CommandLine* line, std::string value) { line->page = value; }},
    {"--requests", nullptr, kCheckBit, true, false,
     [](CommandLine* line, std::string value) { line->requests = value; }},
    {"--json", nullptr, kCheckBit, false, false,
     [](CommandLine* line, std::string) { line->json = true; }},
    {"--stats", nullptr, kCheckBit, false, false,
     [](CommandLine* line, std::string) { line->stats = true; }},
    {"--compatible", nullptr, kCheckBit | kCompileBit, false, false,
     [](CommandLine* line, std::string) { line->compatible = true; }},
    {"--keep-cosmetic", nullptr, kCompileBit, false, false,
     [](CommandLine* line, std::string) { line->keepCosmetic = true; }},
    {"--output", "-o", kCompileBit, true, false,
     [](CommandLine* line, std::string value) { line->output = value; }},
};

const OptionSpec* findOption(std::string_view name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name ||
        (option.shortName != nullptr && name == option.shortName)) {
      return &option;
    }
  }
  return nullptr;
}

[[noreturn]] void failUsage(Command command, const std::string& problem) {
  throw UsageError(problem, usageLine(command));
}

bool isHelpWord(std::string_view word) {
  return word == "--help" || word == "-h" || word == "help";
}

Command findCommand(std::string_view name) {
  for (const CommandName& entry : kCommands) {
    if (name == entry.name) return entry.command;
  }
  failUsage(Command::kNone, "unknown command '" + std::string(name) + "'");
}

// Reads the options and operands after the command word.
class ArgumentReader {
 public:
  ArgumentReader(int argc, const char* const* argv, CommandLine* line)
      : argc_(argc), argv_(argv), line_(line) {}

  void readAll() {
    bool optionsEnded = false;
    for (index_ = 2; index_ < argc_; ++index_) {
      const std::string_view argument = argv_[index_];
      if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
        line_->operands.emplace_back(argument);
      } else if (argument == "--") {
        optionsEnded = true;
      } else {
        readOption(argument);
      }
    }
  }

 private:
  // "--name", "--name=value" or "--name value"; "-o value" for short names.
  void readOption(std::string_view argument) {
    const size_t equals =
        argument.rfind("--", 0) == 0 ? argument.find('=') : std::string::npos;
    const std::string_view name = argument.substr(0, equals);
    const OptionSpec* option = findOption(name);
    if (option == nullptr || !(option->commands & commandBit(line_->command))) {
      failUsage(line_->command, "unknown option '" + std::string(name) + "'");
    }
    if (!option->repeatable && !seen_.insert(option->name).second) {
      failUsage(line_->command, std::string(option->name) + " is given twice");
    }
    std::string value;
    if (equals != std::string::npos) {
      if (!option->takesValue) {
        failUsage(line_->command,
                  std::string(option->name) + " takes no value");
      }
      value = argument.substr(equals + 1);
    } else if (option->takesValue) {
      if (index_ + 1 >= argc_) {
        failUsage(line_->command, std::string(name) + " needs a value");
      }
      value = argv_[++index_];
    }
    option->store(line_, std::move(value));
  }

  const int argc_;
  const char* const* argv_;
  CommandLine* line_;
  int index_ = 0;
  std::set<std::string> seen_;
};

void checkCombination(const CommandLine& line) {
  switch (line.command) {
    case Command::kCheck:
      if (line.requests && !line.operands.empty()) {
        failUsage(line.command, "give URLs or --requests, not both");
      }
      if (!line.requests && line.operands.empty()) {
        failUsage(line.command, "no URL to check");
      }
      if (line.requests && (line.type || !line.page.empty())) {
        failUsage(line.command,
                  "--type and --page apply to URL arguments; a requests file "
                  "gives them on each line");
      }
      break;
    case Command::kCompile:
      if (!line.operands.empty()) {
        failUsage(line.command,
                  "unexpected argument '" + line.operands[0] + "'");
      }
      if (!line.output) {
        failUsage(line.command, "no output file: give -o IMAGE");
      }
      break;
    case Command::kInfo:
      if (line.operands.size() != 1) {
        failUsage(line.command, "info takes exactly one IMAGE");
      }
      break;
    case Command::kVersion:
      if (!line.operands.empty()) {
        failUsage(line.command,
                  "unexpected argument '" + line.operands[0] + "'");
      }
      break;
    case Command::kNone: break;
  }
}

// `text` broken into lines of at most 79 characters at its spaces, each
// line indented by `indent` spaces.
std::string wrapped(const std::string& text, size_t indent) {
  constexpr size_t kWidth = 79;
  std::string result;
  size_t lineLength = 0;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (lineLength > 0 && lineLength + 1 + word.size() > kWidth) {
      result += '\n';
      lineLength = 0;
    }
    if (lineLength == 0) {
      result.append(indent, ' ');
      lineLength = indent;
    } else {
      result += ' ';
      ++lineLength;
    }
    result += word;
    lineLength += word.size();
  }
  return result;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  if (argc < 2) failUsage(Command::kNone, "no command given");
  if (isHelpWord(argv[1])) {
    line.help = true;
    return line;
  }
  // --version is the version command, as in most programs.
  line.command = std::string_view(argv[1]) == "--version"
                     ? Command::kVersion
                     : findCommand(argv[1]);
  ArgumentReader(argc, argv, &line).readAll();
  if (!line.help) checkCombination(line);
  return line;
}

std::string usageLine(Command command) {
  switch (command) {
    case Command::kCheck:
      return "usage: tessul check [--list FILE]... [--image FILE] "
             "[--compatible] [--type TYPE] [--page HOST] [--json] [--stats] "
             "(URL... | --requests FILE)";
    case Command::kCompile:
      return "usage: tessul compile [--list FILE]... [--image FILE] "
             "[--compatible] [--keep-cosmetic] -o IMAGE";
    case Command::kInfo: return "usage: tessul info IMAGE";
    case Command::kVersion: return "usage: tessul version | tessul --version";
    case Command::kNone: break;
  }
  return "usage: tessul check|compile|info|version [OPTION]... "
         "(tessul --help for more)";
}

std::string helpText(Command command) {
  switch (command) {
    case Command::kCheck:
      return usageLine(command) + R"(

Decides for each request whether it is blocked and prints one line for it:
  block|allow <TAB> url <TAB> blocking rule <TAB> exception rule
A rule is shown as its line in the list; a rule from an image, which keeps
no line, is written as the list would have it. A field is empty when no
rule applies. Tabs and line breaks inside a field are written as \t, \n
and \r.

  --list FILE      parse a filter list (repeatable; the lists add up)
  --image FILE     load an engine image first (see tessul compile)
  --compatible     read the lists as mainstream blockers do (letter case,
                   party by site, uBlock Origin's options ...); an image
                   brings its own mode
  --type TYPE      the kind of request of the URL arguments; without it only
                   rules that name no kind apply. One of:
)" + wrapped(requestTypeKeywords(), 19) +
             R"(
  --page HOST      the host of the page making the requests, which decides
                   first- or third-party and domain= rules
  --requests FILE  read the requests from FILE ('-': standard input), one a
                   line: url <TAB> type <TAB> page host; '#' starts a comment
  --json           write one JSON object per request instead
  --stats          print the engine's six matching statistics afterwards
  --help           show this text

Without --list and --image the bundled EasyList and EasyPrivacy are used.
Everything but the answers goes to standard error: notes on your lists
as FILE:LINE: message (rules dropped for an option the engine does not
know), the statistics, and with --requests a summary (requests, blocked,
time) and, on a terminal, a progress line.
)";
    case Command::kCompile:
      return usageLine(command) + R"(

Parses filter lists and writes an engine image that apps load instead of
parsing (TessulClient.deserialize). Like the Java bridge it leaves out the
element-hiding and HTML rules, which request matching never uses.

  --list FILE         parse a filter list (repeatable; the lists add up)
  --image FILE        start from the rules of an engine image
  --compatible        parse in compatible mode, which the image records
  --keep-cosmetic     keep the element-hiding and HTML rules in the image
  -o, --output IMAGE  the file to write ('-': standard output); a file is
                      replaced only once the whole image is written
  --help              show this text

Without --list and --image the bundled EasyList and EasyPrivacy are used.
)";
    case Command::kInfo:
      return usageLine(command) + R"(

Prints the values of an engine image's header by name (a twenty-first,
matchingMode, in images of compatible mode), its matching mode, the size
of each of its sections, and whether it loads. Exits with status 1 when the
image does not load.
)";
    case Command::kVersion:
      return usageLine(command) + R"(

Prints the version of tessul, e.g. "tessul 1.2.3".
)";
    case Command::kNone: break;
  }
  return usageLine(command) + R"(

tessul checks URLs against ad- and tracker-blocking filter lists.

  tessul check URL...           block or allow, and the rules that decided
  tessul check --requests FILE  the same for a file of requests
  tessul compile -o IMAGE       write an engine image for apps to load
  tessul info IMAGE             describe an engine image
  tessul version                print the version (also: tessul --version)

'tessul COMMAND --help' tells more. Exit status: 0 done, 1 failure (a
missing file, a damaged image, an unknown request type, output that cannot
be written), 2 bad usage.
)";
}

}  // namespace cli
}  // namespace tessul
