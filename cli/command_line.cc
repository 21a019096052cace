#include "cli/command_line.h"

#include <cstring>
#include <set>
#include <string_view>

#include "cli/cli_error.h"
#include "cli/request_types.h"

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
    {"hide", Command::kHide},
};

// Which commands accept an option: a bit per command.
constexpr unsigned commandBit(Command command) {
  return 1u << static_cast<unsigned>(command);
}
constexpr unsigned kCheckBit = commandBit(Command::kCheck);
constexpr unsigned kCompileBit = commandBit(Command::kCompile);
constexpr unsigned kHideBit = commandBit(Command::kHide);
constexpr unsigned kEveryCommand = ~0u;

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
    {"--list", nullptr, kCheckBit | kCompileBit | kHideBit, true, true,
     [](CommandLine* line, std::string value) {
       line->lists.push_back(std::move(value));
     }},
    {"--image", nullptr, kCheckBit | kCompileBit | kHideBit, true, false,
     [](CommandLine* line, std::string value) { line->image = value; }},
    {"--type", nullptr, kCheckBit, true, false,
     [](CommandLine* line, std::string value) { line->type = value; }},
    {"--page", nullptr, kCheckBit | kHideBit, true, false,
     [](CommandLine* line, std::string value) { line->page = value; }},
    {"--requests", nullptr, kCheckBit, true, false,
     [](CommandLine* line, std::string value) { line->requests = value; }},
    {"--json", nullptr, kCheckBit, false, false,
     [](CommandLine* line, std::string) { line->json = true; }},
    {"--quiet", "-q", kCheckBit, false, false,
     [](CommandLine* line, std::string) { line->quiet = true; }},
    {"--stats", nullptr, kCheckBit, false, false,
     [](CommandLine* line, std::string) { line->stats = true; }},
    {"--compatible", nullptr, kCheckBit | kCompileBit, false, false,
     [](CommandLine* line, std::string) { line->compatible = true; }},
    {"--keep-cosmetic", nullptr, kCompileBit, false, false,
     [](CommandLine* line, std::string) { line->keepCosmetic = true; }},
    {"--output", "-o", kCompileBit, true, false,
     [](CommandLine* line, std::string value) { line->output = value; }},
    {"--specific", nullptr, kHideBit, false, false,
     [](CommandLine* line, std::string) { line->specific = true; }},
    {"--css", nullptr, kHideBit, false, false,
     [](CommandLine* line, std::string) { line->css = true; }},
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
    case Command::kHide:
      if (!line.operands.empty()) {
        failUsage(line.command,
                  "unexpected argument '" + line.operands[0] + "'");
      }
      if (line.page.empty()) {
        failUsage(line.command, "no page: give --page URL or --page HOST");
      }
      break;
    case Command::kNone: break;
  }
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  if (argc < 2) failUsage(Command::kNone, "no command given");
  if (isHelpWord(argv[1])) {
    line.help = true;
    // "tessul help COMMAND" is "tessul COMMAND --help".
    if (argc > 2) line.command = findCommand(argv[2]);
    if (argc > 3) {
      failUsage(line.command,
                "unexpected argument '" + std::string(argv[3]) + "'");
    }
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
             "[--compatible] [--type TYPE] [--page HOST] [--json] [-q] [--stats] "
             "(URL... | --requests FILE)";
    case Command::kCompile:
      return "usage: tessul compile [--list FILE]... [--image FILE] "
             "[--compatible] [--keep-cosmetic] -o IMAGE";
    case Command::kInfo: return "usage: tessul info IMAGE";
    case Command::kVersion: return "usage: tessul version | tessul --version";
    case Command::kHide:
      return "usage: tessul hide [--list FILE]... [--image FILE] "
             "--page URL|HOST [--specific] [--css]";
    case Command::kNone: break;
  }
  return "usage: tessul check|compile|info|version|hide [OPTION]... "
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
rule applies. A backslash, tab or line break inside a field is written as
\\, \t, \n or \r, so that each field reads back as it was.

  --list FILE      parse a filter list (repeatable; the lists add up)
  --image FILE     load an engine image first (see tessul compile)
  --compatible     read the lists as mainstream blockers do (letter case,
                   party by site, uBlock Origin's options ...); an image
                   brings its own mode
  --type TYPE      the request type of the URL arguments (below); without
                   it only rules that name no type apply
  --page HOST      the host of the page making the requests, which decides
                   first- or third-party and domain= rules
  --requests FILE  read the requests from FILE ('-': standard input), one a
                   line: url <TAB> type <TAB> page host; '#' starts a comment
  --json           write JSON Lines instead: one JSON object per request,
                   {"decision","url","type","page","rule","exception"}
  -q, --quiet      write nothing; the exit status tells, as grep -q's does:
                   0 when a request is blocked, 1 when none is, 2 on any
                   error. Checking stops at the first block.
  --stats          print the engine's six matching statistics afterwards
  --help           show this text

Request types (--type, and the second field of a requests file):
)" + requestTypeTable(2) +
             R"(
Without --page the page is unknown: rules for third- or first-party
requests and domain= rules then apply as if their condition held, both
domain=a and domain=~a, so more is blocked than on any one page.

Without --list and --image the bundled EasyList and EasyPrivacy are used.

A requests file is read one line at a time and each answer is written as
soon as its line is read, so a program can feed one URL and wait for its
answer. A line that is not a request (an unknown type, no URL, more than
three fields) is reported as FILE:LINE: problem and skipped; the other
lines are answered, and the run ends with status 1.

Everything but the answers goes to standard error: notes on your lists
as FILE:LINE: message (rules dropped for an option the engine does not
know), a warning for a list that holds no rule, the statistics, and with
--requests a summary (requests, blocked, time) and, on a terminal, a
progress line.

Exit status: 0 done, 1 failure (a missing file, a damaged image, an unknown
request type, a bad request line, output that cannot be written), 2 bad
usage; with -q, 0 blocked, 1 none blocked, 2 any error.
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

Describes an engine image: its size, whether it loads (and if not, why:
the check of the loader that it fails), its matching mode (exact or
compatible), how many rules it holds in all and of each kind, then the
values of its header by name (a twenty-first, matchingMode, in images of
compatible mode) and the size of each of its sections. Exits with status 1
when the image does not load.
)";
    case Command::kVersion:
      return usageLine(command) + R"(

Prints the version of tessul, e.g. "tessul 1.2.3".
)";
    case Command::kHide:
      return usageLine(command) + R"(

Prints the element-hiding selectors that apply on a page, one a line, each
once, in the order of the lists: those of the rules that name no domain
and those of the rules that name the page's host or a domain above it,
less what exceptions (#@#, $elemhide, $generichide) cancel there.

  --list FILE      parse a filter list (repeatable; the lists add up)
  --image FILE     load an engine image first; only images compiled with
                   --keep-cosmetic hold element-hiding rules, and none holds
                   the $elemhide and $generichide exceptions nor the rules
                   of lines longer than 2047 characters
  --page URL|HOST  the page: its URL, or a host for https://HOST/
  --specific       only the selectors of rules that name a domain
  --css            print a style sheet that hides them instead
  --help           show this text

Without --list and --image the bundled EasyList and EasyPrivacy are used.
)";
    case Command::kNone: break;
  }
  return usageLine(command) + R"(

tessul checks URLs against ad- and tracker-blocking filter lists.

  tessul check URL...           block or allow, and the rules that decided
  tessul check --requests FILE  the same for a file of requests
  tessul check -q URL...        no output: status 0 if one is blocked
  tessul compile -o IMAGE       write an engine image for apps to load
  tessul info IMAGE             describe an engine image
  tessul hide --page URL        the element-hiding selectors of a page
  tessul version                print the version (also: tessul --version)

'tessul help COMMAND' (or 'tessul COMMAND --help') tells more; 'man
tessul' tells all. Exit status: 0 done, 1 failure (a missing file, a
damaged image, an unknown request type, output that cannot be written), 2
bad usage; check -q has grep's: 0 blocked, 1 none blocked, 2 any error.
)";
}

}  // namespace cli
}  // namespace tessul
