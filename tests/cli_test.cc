// The tessul program, run as its users run it: real lists, real requests,
// every output format and every way a run can fail. The expected answers
// come from the engine itself, linked into this test, or from reading the
// bundled lists.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <regex.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter_parser.h"
#include "filter/option_keywords.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::readRequests;

constexpr char kGtmUrl[] = "https://www.googletagmanager.com/gtm.js";

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

::testing::AssertionResult contains(const std::string& text,
                                    const std::string& part) {
  if (text.find(part) != std::string::npos) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "no \"" << part << "\" in:\n" << text;
}

::testing::AssertionResult containsMatch(const std::string& text,
                                         const std::string& pattern) {
  // POSIX extended expressions: <regex> trips GCC's -Wmaybe-uninitialized
  // in sanitizer builds.
  regex_t compiled;
  if (regcomp(&compiled, pattern.c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
    return ::testing::AssertionFailure() << "bad expression " << pattern;
  }
  const bool found = regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&compiled);
  if (found) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "no match for " << pattern << " in:\n"
                                       << text;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t tab; (tab = line.find('\t', start)) != std::string::npos;
       start = tab + 1) {
    result.push_back(line.substr(start, tab - start));
  }
  result.push_back(line.substr(start));
  return result;
}

// ---------------------------------------------------------------------------
// Running the program.

struct Outcome {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
};

// Each test gets a directory of its own for lists, images and the captured
// streams of the program.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessul-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string file(const std::string& name, const std::string& content) {
    writeFile(path(name), content);
    return path(name);
  }

  // Runs the program with `input` on standard input; standard output goes
  // to `stdoutPath` when given, else it is captured.
  Outcome run(const std::vector<std::string>& args,
              const std::string& input = "",
              const std::string& stdoutPath = "") {
    const std::string in = file(".stdin", input);
    const std::string out = stdoutPath.empty() ? path(".stdout") : stdoutPath;
    const std::string err = path(".stderr");
    std::vector<char*> argv = argumentVector(args);
    const pid_t pid = fork();
    if (pid == 0) {
      redirect(in.c_str(), O_RDONLY, STDIN_FILENO);
      redirect(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
      redirect(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, STDERR_FILENO);
      execv(TESSUL_PROGRAM, argv.data());
      _exit(127);
    }
    Outcome result;
    result.status = waitForExit(pid);
    if (stdoutPath.empty()) result.out = readFile(out);
    result.err = readFile(err);
    return result;
  }

  // Runs the program with standard error on a new pseudo-terminal; returns
  // what the terminal received, or nullopt when the system has none.
  std::optional<std::string> runWithTerminal(
      const std::vector<std::string>& args) {
    int terminal = -1, program = -1;
    if (openpty(&terminal, &program, nullptr, nullptr, nullptr) != 0) {
      return std::nullopt;
    }
    std::vector<char*> argv = argumentVector(args);
    const std::string out = path(".stdout");
    const pid_t pid = fork();
    if (pid == 0) {
      redirect(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, STDOUT_FILENO);
      dup2(program, STDERR_FILENO);
      execv(TESSUL_PROGRAM, argv.data());
      _exit(127);
    }
    close(program);
    std::string screen;
    char buffer[4096];
    for (ssize_t count; (count = read(terminal, buffer, sizeof buffer)) > 0;) {
      screen.append(buffer, count);  // ends with EIO once the program is gone
    }
    close(terminal);
    EXPECT_EQ(waitForExit(pid), 0);
    return screen;
  }

  std::string dir_;
  std::vector<std::string> storage_;

 private:
  std::vector<char*> argumentVector(const std::vector<std::string>& args) {
    storage_ = args;
    storage_.insert(storage_.begin(), TESSUL_PROGRAM);
    std::vector<char*> argv;
    for (std::string& arg : storage_) argv.push_back(arg.data());
    argv.push_back(nullptr);
    return argv;
  }

  static void redirect(const char* file, int flags, int target) {
    const int fd = open(file, flags, 0644);
    if (fd < 0 || dup2(fd, target) < 0) _exit(126);
    close(fd);
  }

  static int waitForExit(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
};

// ---------------------------------------------------------------------------
// A strict JSON reader for the objects the program writes: flat objects of
// strings and nulls without white space. Whatever it accepts is valid JSON
// (RFC 8259, with well-formed UTF-8).

using JsonObject = std::map<std::string, std::optional<std::string>>;

// One UTF-8 sequence decoded by value, so that overlong forms, surrogates
// and values past U+10FFFF are caught; 0 when malformed.
size_t decodeUtf8(std::string_view text, size_t at, uint32_t* code) {
  const unsigned char lead = text[at];
  const size_t length = lead >= 0xF0   ? 4
                        : lead >= 0xE0 ? 3
                        : lead >= 0xC0 ? 2
                                       : 0;
  if (length == 0 || lead >= 0xF8 || at + length > text.size()) return 0;
  uint32_t value = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = text[at + i];
    if ((next & 0xC0) != 0x80) return 0;
    value = value << 6 | (next & 0x3F);
  }
  static const uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kSmallest[length] || value > 0x10FFFF ||
      (value >= 0xD800 && value <= 0xDFFF)) {
    return 0;
  }
  *code = value;
  return length;
}

void appendUtf8(std::string* out, uint32_t code) {
  if (code < 0x80) {
    *out += static_cast<char>(code);
  } else if (code < 0x800) {
    *out += static_cast<char>(0xC0 | code >> 6);
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out += static_cast<char>(0xE0 | code >> 12);
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | code >> 18);
    *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

class JsonReader {
 public:
  explicit JsonReader(std::string_view text) : text_(text) {}

  std::optional<JsonObject> readObject() {
    JsonObject object;
    if (!take('{')) return std::nullopt;
    do {
      std::string key;
      std::optional<std::string> value;
      if (!readString(&key) || !take(':') || !readValue(&value)) {
        return std::nullopt;
      }
      object[key] = value;
    } while (take(','));
    if (!take('}') || at_ != text_.size()) return std::nullopt;
    return object;
  }

 private:
  bool take(char c) {
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }

  bool readValue(std::optional<std::string>* value) {
    if (text_.substr(at_, 4) == "null") {
      at_ += 4;
      value->reset();
      return true;
    }
    std::string text;
    if (!readString(&text)) return false;
    *value = text;
    return true;
  }

  bool readString(std::string* out) {
    if (!take('"')) return false;
    while (at_ < text_.size()) {
      const unsigned char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++at_;
        if (!readEscape(out)) return false;
      } else if (c < 0x80) {
        *out += static_cast<char>(c);
        ++at_;
      } else {
        uint32_t code = 0;
        const size_t length = decodeUtf8(text_, at_, &code);
        if (length == 0) return false;
        out->append(text_.substr(at_, length));
        at_ += length;
      }
    }
    return false;
  }

  bool readEscape(std::string* out) {
    if (at_ >= text_.size()) return false;
    const char c = text_[at_++];
    static const std::map<char, char> kSimple = {
        {'"', '"'},  {'\\', '\\'}, {'/', '/'},  {'b', '\b'},
        {'f', '\f'}, {'n', '\n'},  {'r', '\r'}, {'t', '\t'}};
    if (kSimple.count(c)) {
      *out += kSimple.at(c);
      return true;
    }
    uint32_t code = 0;
    if (c != 'u' || !readHex4(&code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      uint32_t low = 0;
      if (!take('\\') || !take('u') || !readHex4(&low) || low < 0xDC00 ||
          low > 0xDFFF) {
        return false;
      }
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    appendUtf8(out, code);
    return true;
  }

  bool readHex4(uint32_t* code) {
    if (text_.size() - at_ < 4) return false;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const int digit = isdigit(c)               ? c - '0'
                        : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                        : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                                 : -1;
      if (digit < 0) return false;
      *code = *code << 4 | digit;
    }
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
};

std::vector<JsonObject> readJsonLines(const std::string& text) {
  std::vector<JsonObject> objects;
  for (const std::string& line : lines(text)) {
    std::optional<JsonObject> object = JsonReader(line).readObject();
    EXPECT_TRUE(object.has_value()) << "not valid JSON: " << line;
    if (object) objects.push_back(*object);
  }
  return objects;
}

TEST(JsonReaderTest, AcceptsOnlyValidJson) {
  EXPECT_TRUE(
      JsonReader(R"({"a":"x\u00e9\ud83d\ude00","b":null})").readObject());
  EXPECT_FALSE(JsonReader("{\"a\":\"tab\there\"}").readObject());
  EXPECT_FALSE(JsonReader("{\"a\":\"\xff\"}").readObject());
  EXPECT_FALSE(JsonReader("{\"a\":\"\xc0\xaf\"}").readObject());  // overlong
  EXPECT_FALSE(JsonReader(R"({"a":"\ude00"})").readObject());  // lone low half
  EXPECT_FALSE(JsonReader(R"({"a":"\q"})").readObject());
  EXPECT_FALSE(JsonReader(R"({"a":"x"} )").readObject());
}

// ---------------------------------------------------------------------------
// The README's main job and checks against the bundled lists.

TEST_F(CliTest, ReadmeMainJobAnswersFromTheBundledLists) {
  // EasyPrivacy has the line /gtm.js.
  const Outcome result = run({"check", kGtmUrl});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, std::string("block\t") + kGtmUrl + "\t/gtm.js\t\n");
  // The engine's notes on the bundled lists are not shown.
  EXPECT_EQ(result.err, "");
}

TEST_F(CliTest, PrintsTheRulesThatDecidedEachUrlInOrder) {
  const Outcome result =
      run({"check", "--type", "script", "--page", "foo.com", kGtmUrl,
           "https://gatr.hit.gemius.pl/gstream.js", "https://example.com/",
           "https://rolloid.net/wp-content/plugins/advanced-ads-responsive"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            std::string("block\t") + kGtmUrl + "\t/gtm.js\t\n" +
                "allow\thttps://gatr.hit.gemius.pl/gstream.js\t"
                "||gemius.pl^$third-party\t@@||gemius.pl/gstream.js\n"
                "allow\thttps://example.com/\t\t\n"
                "block\thttps://rolloid.net/wp-content/plugins/"
                "advanced-ads-responsive\t/advanced-ads-$script,stylesheet,"
                "domain=~transinfo.pl|~wordpress.org\t\n");
}

TEST_F(CliTest, TypeAndPageDecideWhichRulesApply) {
  const std::string advancedAds =
      "https://rolloid.net/wp-content/plugins/advanced-ads-responsive";
  // /advanced-ads-$script,stylesheet,... applies to scripts only, and a
  // request of unknown kind meets only rules that name no kind.
  EXPECT_EQ(fields(run({"check", "--type", "image", advancedAds}).out)[0],
            "allow");
  EXPECT_EQ(fields(run({"check", advancedAds}).out)[0], "allow");
  EXPECT_EQ(fields(run({"check", "--type", "script", advancedAds}).out)[0],
            "block");

  // ||clicktale.net^$third-party: the page host decides the party.
  const std::string clicktale =
      "http://cdn.clicktale.net/www/ChangeMonitor-latest.js";
  EXPECT_EQ(run({"check", "--page", "www.zdnet.com", clicktale}).out,
            "block\t" + clicktale + "\t||clicktale.net^$third-party\t\n");
  EXPECT_EQ(run({"check", "--page", "clicktale.net", clicktale}).out,
            "allow\t" + clicktale + "\t\t\n");

  // The exception @@||track.adform.net/...$script,domain=sky.it holds on
  // sky.it pages only.
  const std::string adform =
      "https://track.adform.net/serving/scripts/trackpoint";
  EXPECT_EQ(
      run({"check", "--type", "script", "--page", "www.sky.it", adform}).out,
      "allow\t" + adform +
          "\t||adform.net^\t@@||track.adform.net/serving/scripts/"
          "trackpoint$script,domain=sky.it\n");
  EXPECT_EQ(
      run({"check", "--type", "script", "--page", "news.test", adform}).out,
      "block\t" + adform + "\t||adform.net^\t\n");
}

// Without --page the party and the page's domain are unknown: rules that
// depend on them apply as if their condition held, as the help says.
TEST_F(CliTest, WithoutAPageRulesForThePageApply) {
  const std::string list = file(
      "list.txt",
      "/third-x$third-party\n/first-x$~third-party\n"
      "/on-news-x$domain=news.test\n/off-news-x$domain=~news.test\n");
  const struct {
    std::string page;
    std::string decisions;  // for third, first, on news, off news
  } kCases[] = {
      {"", "block block block block"},
      {"news.test", "block allow block allow"},
      {"a.test", "allow block allow block"},
      {"other.test", "block allow allow block"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.page);
    std::vector<std::string> args = {"check", "--list", list};
    if (!c.page.empty()) args.insert(args.end(), {"--page", c.page});
    for (const char* path : {"third-x", "first-x", "on-news-x", "off-news-x"}) {
      args.push_back(std::string("https://a.test/") + path);
    }
    std::string decisions;
    for (const std::string& answer : lines(run(args).out)) {
      decisions += (decisions.empty() ? "" : " ") + fields(answer)[0];
    }
    EXPECT_EQ(decisions, c.decisions);
  }
}

// ---------------------------------------------------------------------------
// User lists.

TEST_F(CliTest, SeveralListsAddUpInOneEngine) {
  const std::string blocks = file("blocks.txt", "||ads.test^\n");
  const std::string exceptions = file("exceptions.txt", "@@||ads.test/ok^\n");
  const Outcome result =
      run({"check", "--list", blocks, "--list=" + exceptions,
           "https://ads.test/x", "https://ads.test/ok/1", kGtmUrl});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "block\thttps://ads.test/x\t||ads.test^\t\n"
            "allow\thttps://ads.test/ok/1\t||ads.test^\t@@||ads.test/ok^\n"
            "allow\t" +
                std::string(kGtmUrl) + "\t\t\n");  // no bundled lists
}

// Every note names its list and line; a line ending in "\r\n" ends two.
TEST_F(CliTest, NotesOnTheUsersListsGoToStandardErrorWithTheirLines) {
  const std::string first =
      file("first.txt",
           "||a.test^$frobnicate\r\n||b.test^$frobnicate,third-party\n"
           "||c.test^\n");
  const std::string second = file("second.txt", "! x\n||d.test^$~zz,yy\n");
  const Outcome result = run({"check", "--list", first, "--list", second,
                              "https://a.test/", "https://c.test/"});
  EXPECT_EQ(result.status, 0);
  // A rule with an unknown option is dropped.
  EXPECT_EQ(
      result.out,
      "allow\thttps://a.test/\t\t\nblock\thttps://c.test/\t||c.test^\t\n");
  EXPECT_EQ(result.err, first + ":1: unrecognised option 'frobnicate'\n" +
                            first + ":3: unrecognised option 'frobnicate'\n" +
                            second + ":2: unrecognised option 'zz'\n" +
                            second + ":2: unrecognised option 'yy'\n" +
                            "tessul: warning: list " + second +
                            " holds no rule\n");
}

// A list that adds no rule is most likely the wrong file: a warning says
// so, and the run goes on.
TEST_F(CliTest, AListThatHoldsNoRuleIsWarnedAbout) {
  const struct {
    const char* content;
    bool warned;
  } kCases[] = {
      {"", true},
      {"! only a comment\n[Adblock Plus 2.0]\n\n", true},
      {"||a.test^$frobnicate\n", true},  // every rule dropped
      {"||a.test^\n", false},
      {"news.test##.ad\n", false},  // a rule, if of no use to requests
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.content);
    const std::string list = file("list.txt", c.content);
    const Outcome result = run({"check", "--list", list, "https://b.test/"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "allow\thttps://b.test/\t\t\n");
    EXPECT_EQ(contains(result.err, "tessul: warning: list " + list +
                                       " holds no rule\n"),
              c.warned)
        << result.err;
  }
}

// Reads the escapes of a tab-separated field back.
std::string unescapeTsv(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '\\' || i + 1 == field.size()) {
      text += field[i];
      continue;
    }
    switch (const char escaped = field[++i]) {
      case 't': text += '\t'; break;
      case 'n': text += '\n'; break;
      case 'r': text += '\r'; break;
      default: text += escaped;
    }
  }
  return text;
}

// Every field reads back as it was, whatever bytes it holds; a backslash
// before a 't' stays apart from an escaped tab.
TEST_F(CliTest, TabSeparatedFieldsRoundTrip) {
  const std::string list = file("list.txt", "/a\"b\\c\n/\\t\\\\\n");
  const std::vector<std::string> urls = {
      "https://x.test/a\"b\\c", "https://x.test/\tx\ny\r",
      "https://x.test/\\t\\\\", "https://x.test/\\\tend\\"};
  std::vector<std::string> args = {"check", "--list", list};
  args.insert(args.end(), urls.begin(), urls.end());
  const Outcome result = run(args);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "block\thttps://x.test/a\"b\\\\c\t/a\"b\\\\c\t\n"
            "allow\thttps://x.test/\\tx\\ny\\r\t\t\n"
            "block\thttps://x.test/\\\\t\\\\\\\\\t/\\\\t\\\\\\\\\t\n"
            "allow\thttps://x.test/\\\\\\tend\\\\\t\t\n");
  const std::vector<std::string> answers = lines(result.out);
  ASSERT_EQ(answers.size(), urls.size());
  for (size_t i = 0; i < urls.size(); ++i) {
    const std::vector<std::string> answer = fields(answers[i]);
    ASSERT_EQ(answer.size(), 4u) << answers[i];
    EXPECT_EQ(unescapeTsv(answer[1]), urls[i]);
  }
  EXPECT_EQ(unescapeTsv(fields(answers[2])[2]), "/\\t\\\\");
}

// ---------------------------------------------------------------------------
// Batches of requests.

// What the engine itself answers for a request file, in the program's
// tab-separated format.
std::string engineAnswers(const std::string& requestFile) {
  static TessulClient* engine = [] {
    auto* parsed = new TessulClient;
    parsed->parse(testing::bundledLists().c_str(), /*preserveRules=*/true);
    return parsed;
  }();
  std::string answers;
  for (const testing::Request& request : readRequests(requestFile)) {
    Filter* rule = nullptr;
    Filter* exception = nullptr;
    const bool blocked = engine->matches(
        request.url.c_str(), testing::requestTypeOption(request.type),
        request.pageHost.empty() ? nullptr : request.pageHost.c_str(), &rule,
        &exception);
    answers += std::string(blocked ? "block" : "allow") + "\t" + request.url +
               "\t" + (rule ? rule->sourceText : "") + "\t" +
               (exception ? exception->sourceText : "") + "\n";
  }
  return answers;
}

TEST_F(CliTest, RequestFilesAreAnsweredLineByLineAsTheEngineAnswers) {
  for (const char* name : {"pageloads.tsv", "peer-dev.tsv"}) {
    SCOPED_TRACE(name);
    const Outcome result =
        run({"check", "--requests", std::string(TESSUL_DATA_DIR) + "/" + name});
    EXPECT_EQ(result.status, 0);
    const std::string expected = engineAnswers(name);
    EXPECT_EQ(lines(result.out).size(), readRequests(name).size());
    EXPECT_TRUE(result.out == expected) << "the answers differ";
    // The summary, and no progress line off a terminal.
    EXPECT_TRUE(contains(
        result.err, std::to_string(readRequests(name).size()) + " requests, "));
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
  }
}

TEST_F(CliTest, RequestFileSyntax) {
  const std::string requests =
      "# comment\n"
      "\n"
      "https://ads.test/a\tscript\tpage.test\r\n"
      "https://ads.test/b\n"
      "https://ads.test/c\t\tads.test\n"
      "https://ads.test/d\timage";  // no final line break
  const std::string list = file("list.txt", "||ads.test^$third-party,script\n");
  const Outcome result =
      run({"check", "--list", list, "--requests", "-"}, requests);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "block\thttps://ads.test/a\t||ads.test^$third-party,script\t\n"
            "allow\thttps://ads.test/b\t\t\n"
            "allow\thttps://ads.test/c\t\t\n"
            "allow\thttps://ads.test/d\t\t\n");
  EXPECT_TRUE(contains(result.err, "4 requests, 1 blocked"));
}

// Lines longer than the reader's buffer are read whole, the last one too
// without a final line break.
TEST_F(CliTest, LongRequestLinesAreReadWhole) {
  const std::string list = file("list.txt", "||a.test^\n/end-of-long\n");
  const std::string longUrl = "https://b.test/" + std::string(300000, 'x');
  const std::string input = longUrl + "/end-of-long\tscript\tp.test\n" +
                            "https://a.test/\n" + longUrl;
  const Outcome result = run({"check", "--list", list, "--requests", "-"},
                             input);
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(result.out == "block\t" + longUrl + "/end-of-long\t/end-of-long\t\n" +
                                "block\thttps://a.test/\t||a.test^\t\n" +
                                "allow\t" + longUrl + "\t\t\n")
      << result.out.size();
}

// A bad line is reported with its place, and every other line is still
// answered; the run then fails.
TEST_F(CliTest, BadRequestLinesAreReportedAndTheOthersAnswered) {
  const std::string list = file("list.txt", "||a.test^\n");
  const struct {
    std::string line;
    std::string problem;
  } kCases[] = {
      {"https://a.test/\tvideo", "unknown request type 'video'"},
      {"https://a.test/\tscript\tp.test\textra",
       "more than three tab-separated fields"},
      {"\tscript", "no URL before the first tab"},
      {std::string("https://a.test/\0x", 17), "a NUL byte"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.problem);
    const std::string input =
        "https://a.test/1\n" + c.line + "\n# comment\nhttps://b.test/\n";
    const Outcome result = run({"check", "--list", list, "--requests", "-"},
                               input);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "block\thttps://a.test/1\t||a.test^\t\n"
              "allow\thttps://b.test/\t\t\n");
    const std::vector<std::string> messages = lines(result.err);
    ASSERT_EQ(messages.size(), 3u) << result.err;
    EXPECT_EQ(messages[0], "standard input:2: " + c.problem);
    EXPECT_TRUE(contains(messages[1], "tessul: 2 requests, 1 blocked"));
    EXPECT_EQ(messages[2],
              "tessul: 1 line of standard input could not be answered");
  }
  // Named by its path, line numbers counting every line.
  const std::string requests =
      file("requests.tsv", "\n# x\nhttps://a.test/\timg\nhttps://b.test/\tfoo\n");
  const Outcome named = run({"check", "--list", list, "--requests", requests});
  EXPECT_EQ(named.status, 1);
  EXPECT_TRUE(contains(named.err, requests + ":3: unknown request type 'img'\n" +
                                      requests +
                                      ":4: unknown request type 'foo'\n"));
  EXPECT_TRUE(contains(named.err, "tessul: 2 lines of " + requests));
}

// check -q prints nothing and answers as grep -q does: 0 when a request is
// blocked, 1 when none is, 2 on any error (unless a request was blocked).
TEST_F(CliTest, QuietGivesGrepStatuses) {
  const std::string list = file("list.txt", "||a.test^\n@@||a.test/ok\n");
  const struct {
    std::vector<std::string> args;
    std::string input;
    int status;
    bool errorMessage;
  } kCases[] = {
      {{"https://a.test/x"}, "", 0, false},
      {{"https://b.test/", "https://a.test/x"}, "", 0, false},
      {{"https://b.test/", "https://a.test/ok"}, "", 1, false},
      {{"--requests", "-"}, "https://b.test/\nhttps://a.test/\n", 0, false},
      {{"--requests", "-"}, "https://b.test/\n", 1, false},
      {{"--requests", "-"}, "", 1, false},
      {{"--requests", "-"}, "https://b.test/\tvideo\nhttps://c.test/\n", 2,
       true},
      // grep -q: a block found first decides; the bad line is never read.
      {{"--requests", "-"}, "https://a.test/\nhttps://b.test/\tvideo\n", 0,
       false},
      {{"--type", "video", "https://a.test/"}, "", 2, true},
      {{"--requests", path("missing.tsv")}, "", 2, true},
      {{"--image", path("missing.img"), "https://a.test/"}, "", 2, true},
      {{"--frobnicate", "https://a.test/"}, "", 2, true},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = {"check", "-q", "--list", list};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(args.back());
    const Outcome result = run(args, c.input);
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.empty(), !c.errorMessage) << result.err;
  }
  // --quiet is -q; without it, the statuses are those of every command.
  EXPECT_EQ(run({"check", "--quiet", "--list", list, "https://a.test/"}).status,
            0);
  EXPECT_EQ(run({"check", "--list", list, "https://b.test/"}).status, 0);
  EXPECT_EQ(
      run({"check", "--list", list, "--type", "video", "https://a.test/"})
          .status,
      1);
}

// A program that writes one URL, then waits for its answer, gets it: each
// answer is written out before the next line is waited for.
TEST_F(CliTest, EachRequestIsAnsweredBeforeTheNextIsRead) {
  const std::string list = file("list.txt", "||a.test^\n");
  int toProgram[2], fromProgram[2];
  ASSERT_EQ(pipe(toProgram), 0);
  ASSERT_EQ(pipe(fromProgram), 0);
  std::vector<std::string> args = {TESSUL_PROGRAM, "check", "--list", list,
                                   "--requests", "-"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(toProgram[0], STDIN_FILENO);
    dup2(fromProgram[1], STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(toProgram[1]);
    close(fromProgram[0]);
    execv(TESSUL_PROGRAM, argv.data());
    _exit(127);
  }
  close(toProgram[0]);
  close(fromProgram[1]);
  // Reads up to a line break, giving up after a minute (the program would
  // hang here if it waited for the end of its input).
  auto readLine = [&]() {
    std::string line;
    for (char c = 0; c != '\n';) {
      pollfd ready = {fromProgram[0], POLLIN, 0};
      if (poll(&ready, 1, 60000) != 1 || read(fromProgram[0], &c, 1) != 1) {
        return line + "(no answer)";
      }
      line += c;
    }
    return line;
  };
  const std::pair<std::string, std::string> kExchanges[] = {
      {"https://a.test/1\n", "block\thttps://a.test/1\t||a.test^\t\n"},
      {"https://a.test/1\tvideo\n# comment\n\nhttps://b.test/\n",
       "allow\thttps://b.test/\t\t\n"},
      {"https://a.test/2\n", "block\thttps://a.test/2\t||a.test^\t\n"},
  };
  for (const auto& [request, answer] : kExchanges) {
    ASSERT_EQ(write(toProgram[1], request.data(), request.size()),
              static_cast<ssize_t>(request.size()));
    EXPECT_EQ(readLine(), answer);
  }
  close(toProgram[1]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // the bad line
  close(fromProgram[0]);
}

TEST_F(CliTest, ProgressLineOnATerminal) {
  const std::optional<std::string> screen = runWithTerminal(
      {"check", "--requests", std::string(TESSUL_DATA_DIR) + "/pageloads.tsv"});
  if (!screen) GTEST_SKIP() << "no pseudo-terminal to be had";
  EXPECT_TRUE(contains(*screen, "\rchecking requests: 0"));
  EXPECT_TRUE(contains(*screen, "1940 requests, "));
  EXPECT_EQ(lines(readFile(path(".stdout"))).size(), 1940u);
}

// While a large list parses, a line on the terminal names it; notes on
// the list do not run into that line.
TEST_F(CliTest, ParsingALargeListShowsALineOnATerminal) {
  // Large enough that parsing outlasts the line's first delay (0.3 s) on a
  // fast machine in a Release build.
  const std::string easylist = testing::readDataFile("easylist.txt");
  std::string large;
  for (int copy = 0; copy < 12; ++copy) large += easylist;
  const std::string list = file("large.txt", large);
  const std::string noted = file("noted.txt", "||a.test^$frobnicate\n");
  const std::optional<std::string> screen = runWithTerminal(
      {"check", "--list", list, "--list", noted, "https://a.test/"});
  if (!screen) GTEST_SKIP() << "no pseudo-terminal to be had";
  EXPECT_TRUE(containsMatch(*screen, "\rparsing " + list +
                                         " \\([0-9]+ lines\\): [0-9]+\\.[0-9] s"));
  EXPECT_TRUE(contains(*screen, "\r\033[K" + noted +
                                    ":1: unrecognised option 'frobnicate'"));
  EXPECT_EQ(readFile(path(".stdout")), "allow\thttps://a.test/\t\t\n");
  // -q draws no line (the notes on the list it still writes).
  const std::string blocks = file("blocks.txt", "||a.test^\n");
  const std::optional<std::string> quiet = runWithTerminal(
      {"check", "-q", "--list", list, "--list", blocks, "https://a.test/"});
  ASSERT_TRUE(quiet.has_value());
  EXPECT_EQ(quiet->find("parsing "), std::string::npos);
  EXPECT_EQ(readFile(path(".stdout")), "");
}

TEST_F(CliTest, StatisticsGoToStandardError) {
  const Outcome plain = run({"check", kGtmUrl, "https://example.com/"});
  const Outcome withStats =
      run({"check", "--stats", kGtmUrl, "https://example.com/"});
  EXPECT_EQ(withStats.status, 0);
  EXPECT_EQ(withStats.out, plain.out);
  for (const char* name :
       {"blockBloomFalseHits", "exceptionBloomFalseHits", "blockBloomSkips",
        "exceptionBloomSkips", "blockHostSetSkips", "exceptionHostSetSkips"}) {
    EXPECT_TRUE(containsMatch(withStats.err,
                              std::string("(^|\n)") + name + " +[0-9]+\n"));
  }
}

// ---------------------------------------------------------------------------
// JSON.

TEST_F(CliTest, JsonLinesAreValidAndCarryTheAnswers) {
  const Outcome result =
      run({"check", "--json", "--type", "script", "--page", "foo.com", kGtmUrl,
           "https://gatr.hit.gemius.pl/gstream.js"});
  EXPECT_EQ(result.status, 0);
  const std::vector<JsonObject> objects = readJsonLines(result.out);
  ASSERT_EQ(objects.size(), 2u);
  EXPECT_EQ(objects[0], (JsonObject{{"decision", "block"},
                                    {"url", kGtmUrl},
                                    {"type", "script"},
                                    {"page", "foo.com"},
                                    {"rule", "/gtm.js"},
                                    {"exception", std::nullopt}}));
  EXPECT_EQ(objects[1].at("decision"), "allow");
  EXPECT_EQ(objects[1].at("rule"), "||gemius.pl^$third-party");
  EXPECT_EQ(objects[1].at("exception"), "@@||gemius.pl/gstream.js");
}

TEST_F(CliTest, JsonEscapesEveryByte) {
  // The rule and the URL hold a quote, a backslash, control bytes, UTF-8
  // and bytes that are not UTF-8.
  const std::string tricky = "/q\"b\\s\x01\x1f\x7f\xc3\xa9\xe2\x82\xac\xff\xc0";
  const std::string list = file("list.txt", tricky + "\n");
  const std::string url = "https://x.test" + tricky + "\t\n";
  const Outcome result =
      run({"check", "--json", "--list", list, url, "https://y.test/"});
  EXPECT_EQ(result.status, 0);
  const std::vector<JsonObject> objects = readJsonLines(result.out);
  ASSERT_EQ(objects.size(), 2u);
  const std::string decoded =
      "/q\"b\\s\x01\x1f\x7f\xc3\xa9\xe2\x82\xac\xef\xbf\xbd\xef\xbf\xbd";
  EXPECT_EQ(objects[0].at("decision"), "block");
  EXPECT_EQ(objects[0].at("url"), "https://x.test" + decoded + "\t\n");
  EXPECT_EQ(objects[0].at("rule"), decoded);
  EXPECT_EQ(objects[0].at("type"), std::nullopt);
  EXPECT_EQ(objects[0].at("page"), std::nullopt);
  EXPECT_EQ(objects[1].at("rule"), std::nullopt);
}

// ---------------------------------------------------------------------------
// Engine images.

TEST_F(CliTest, CompileWritesWhatTheJavaBridgeWrites) {
  const Outcome result = run({"compile", "-o", path("lists.img")});
  EXPECT_EQ(result.status, 0) << result.err;
  TessulClient engine;
  engine.parse(testing::bundledLists().c_str());
  int size = 0;
  std::unique_ptr<char[]> image(engine.serialize(&size, true, true));
  EXPECT_TRUE(readFile(path("lists.img")) == std::string(image.get(), size));
}

// A rule parsed from its line in a list.
struct ParsedRule {
  explicit ParsedRule(const std::string& line) {
    parseFilter(line.c_str(), &rule);
  }
  Filter rule;
};

// An image keeps no rule lines: its rules are written as the lists have
// them, and read as the same rules.
TEST_F(CliTest, ImagesAnswerAsTheListsDidWithTheSameRules) {
  ASSERT_EQ(run({"compile", "-o", path("lists.img")}).status, 0);
  const std::string requests = std::string(TESSUL_DATA_DIR) + "/peer-dev.tsv";
  const Outcome fromLists = run({"check", "--requests", requests});
  const Outcome fromImage =
      run({"check", "--image", path("lists.img"), "--requests", requests});
  EXPECT_EQ(fromImage.status, 0);
  const std::vector<std::string> listAnswers = lines(fromLists.out);
  const std::vector<std::string> imageAnswers = lines(fromImage.out);
  ASSERT_EQ(imageAnswers.size(), listAnswers.size());
  int rulesCompared = 0;
  for (size_t i = 0; i < listAnswers.size(); ++i) {
    const std::vector<std::string> expected = fields(listAnswers[i]);
    const std::vector<std::string> actual = fields(imageAnswers[i]);
    EXPECT_EQ(actual[0], expected[0]) << actual[1];
    EXPECT_EQ(actual[1], expected[1]);
    for (int rule : {2, 3}) {
      ASSERT_EQ(actual[rule].empty(), expected[rule].empty()) << actual[1];
      if (expected[rule].empty()) continue;
      EXPECT_TRUE(ParsedRule(actual[rule]).rule.isSameRule(
          ParsedRule(expected[rule]).rule))
          << actual[rule] << " from the image, " << expected[rule]
          << " in the list";
      ++rulesCompared;
    }
  }
  EXPECT_GT(rulesCompared, 100);
  EXPECT_EQ(run({"check", "--image", path("lists.img"), "--type", "script",
                 "--page", "foo.com", "https://gatr.hit.gemius.pl/gstream.js"})
                .out,
            "allow\thttps://gatr.hit.gemius.pl/gstream.js\t"
            "||gemius.pl^$third-party\t@@||gemius.pl/gstream.js\n");
}

TEST_F(CliTest, ListsAddToAnImage) {
  const std::string image = path("small.img");
  ASSERT_EQ(
      run({"compile", "--list", file("a.txt", "||a.test^\n"), "-o", image})
          .status,
      0);
  const Outcome result =
      run({"check", "--image", image, "--list", file("b.txt", "||b.test^\n"),
           "https://a.test/", "https://b.test/"});
  EXPECT_EQ(result.out,
            "block\thttps://a.test/\t||a.test^\t\nblock\thttps://b.test/"
            "\t||b.test^\t\n");
}

TEST_F(CliTest, InfoDescribesAnImage) {
  const std::string list = file(
      "list.txt", "||a.test^\nbanner-ad-x\n@@||a.test/ok\nnews.test##.ad\n");
  ASSERT_EQ(run({"compile", "--list", list, "-o", path("plain.img")}).status,
            0);
  ASSERT_EQ(run({"compile", "--keep-cosmetic", "--list", list, "-o",
                 path("cosmetic.img")})
                .status,
            0);
  const Outcome plain = run({"info", path("plain.img")});
  EXPECT_EQ(plain.status, 0);
  EXPECT_TRUE(containsMatch(plain.out, "\n +3 elementHideCount +0\n"));
  EXPECT_TRUE(containsMatch(plain.out, "\n +11 hostBlockCount +1\n"));
  EXPECT_TRUE(contains(plain.out, "\nloads: yes\n"));
  const Outcome cosmetic = run({"info", path("cosmetic.img")});
  EXPECT_TRUE(containsMatch(cosmetic.out, "\n +3 elementHideCount +1\n"));

  // The sections add up to the image.
  size_t total = 0;
  bool inSections = false;
  for (const std::string& line : lines(plain.out)) {
    if (line == "sections (bytes):") inSections = true;
    if (inSections && line.rfind("     ", 0) == 0) {
      total += std::stoul(line.substr(line.find_last_of(' ') + 1));
    }
  }
  EXPECT_EQ(total, readFile(path("plain.img")).size());
}

// hide prints the selectors of a page from lists or an image that kept
// them; an image compiled without --keep-cosmetic holds none, as info says.
TEST_F(CliTest, HidePrintsTheSelectorsOfAPage) {
  const std::string list = file(
      "list.txt",
      "###ad-carousel\nmail.google.com##.nH.PS\ndez.ro#@##ad-carousel\n");
  ASSERT_EQ(run({"compile", "--keep-cosmetic", "--list", list, "-o",
                 path("cosmetic.img")})
                .status,
            0);
  ASSERT_EQ(run({"compile", "--list", list, "-o", path("plain.img")}).status,
            0);
  const struct {
    std::vector<std::string> args;
    std::string out;
  } kCases[] = {
      {{"--list", list, "--page", "mail.google.com"},
       "#ad-carousel\n.nH.PS\n"},
      {{"--list", list, "--page", "https://mail.google.com/x", "--specific"},
       ".nH.PS\n"},
      {{"--list", list, "--page", "www.dez.ro"}, ""},
      {{"--image", path("cosmetic.img"), "--page", "mail.google.com", "--css"},
       "#ad-carousel,.nH.PS { display: none !important; }\n"},
      {{"--image", path("plain.img"), "--page", "mail.google.com"}, ""},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> args = {"hide"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Outcome result = run(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, c.out) << args.back();
  }
  EXPECT_TRUE(containsMatch(run({"info", path("plain.img")}).out,
                            "\n +3 elementHideCount +0\n"));
  // The bundled lists, with a $generichide site.
  const Outcome gmail = run({"hide", "--page", "gmail.com"});
  EXPECT_EQ(gmail.out, run({"hide", "--page", "gmail.com", "--specific"}).out);
  EXPECT_GT(lines(run({"hide", "--page", "example.org"}).out).size(), 13000u);
}

// info counts the rules of every kind, each kind with a count of its own
// here so that a count in the wrong place shows.
TEST_F(CliTest, InfoCountsTheRulesOfEachKind) {
  const std::string list = file(
      "list.txt",
      "||a.test^\n||b.test^\n@@||ok.test^\n"
      "banner-ad-x\n@@/exception-path\n@@/exception-other\n"
      "/ad*\n@@/ok*\n@@/ko*\n@@/no*\n"
      "ab*c$domain=news.test\n@@ab*c$domain=a.test\n@@ab*c$domain=b.test\n"
      "ab*d$domain=~news.test\n@@ab*d$domain=~a.test\n@@ab*d$domain=~b.test\n"
      "@@ab*d$domain=~c.test\n"
      "news.test##.ad\nnews.test#@#.ad\nexample.com$$script[tag-content=\"x\"]\n"
      "! a comment, and a rule the engine drops\n||c.test^$frobnicate\n");
  ASSERT_EQ(run({"compile", "--keep-cosmetic", "--list", list, "-o",
                 path("kinds.img")})
                .status,
            0);
  const Outcome info = run({"info", path("kinds.img")});
  EXPECT_EQ(info.status, 0);
  const std::pair<std::string, int> kCounts[] = {
      {"rules:", 20},
      {"  blocking, by host (||host^)", 2},
      {"  exceptions, by host (@@||host^)", 1},
      {"  blocking, with a fingerprint", 1},
      {"  exceptions, with a fingerprint", 2},
      {"  blocking, without a fingerprint", 1},
      {"  exceptions, without a fingerprint", 3},
      {"  blocking, on listed domains (domain=a)", 1},
      {"  exceptions, on listed domains (domain=a)", 2},
      {"  blocking, except on domains (domain=~a)", 1},
      {"  exceptions, except on domains (domain=~a)", 3},
      {"  element hiding (## and #@#)", 2},
      {"  HTML filtering ($$)", 1},
  };
  // Each line: the kind, spaces, the count.
  std::map<std::string, std::string> countOf;
  for (const std::string& line : lines(info.out)) {
    const size_t last = line.find_last_of(' ');
    const size_t nameEnd = line.find_last_not_of(' ', last);
    if (last == std::string::npos || nameEnd == std::string::npos) continue;
    countOf[line.substr(0, nameEnd + 1)] = line.substr(last + 1);
  }
  for (const auto& [kind, count] : kCounts) {
    EXPECT_EQ(countOf[kind], std::to_string(count)) << kind;
  }
  EXPECT_EQ(info.out.rfind("image: " + path("kinds.img") + "\nsize: ", 0), 0u);
  EXPECT_TRUE(contains(info.out, " bytes\nloads: yes\nmode: exact\nrules: "));
  const Outcome damaged = run({"info", file("damaged.img", "1,2,3")});
  EXPECT_EQ(damaged.status, 1);
  EXPECT_TRUE(contains(damaged.out, "\nrules: unknown, the header is damaged\n"));
}

// Files that are not whole engine images, as a broken download or a wrong
// path gives them: check refuses to answer and info says why they do not
// load, naming the check each fails.
TEST_F(CliTest, DamagedImagesAreReportedNotLoaded) {
  ASSERT_EQ(run({"compile", "--list", file("list.txt", "||a.test^\n"), "-o",
                 path("good.img")})
                .status,
            0);
  const std::string good = readFile(path("good.img"));
  const std::string notTwentyNumbers =
      "header: not 20 lower-case hexadecimal numbers, separated by commas and "
      "ended by a zero byte";
  const std::string endsAt =
      "image: its last section ends at byte " + std::to_string(good.size());
  std::string noise(300, '\0');
  for (size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<char>(i * 7919 % 251);
  const std::pair<std::string, std::string> files[] = {
      {file("truncated.img", good.substr(0, good.size() - 10)),
       "excludeDomainExceptionSet: its 105 bytes run past the end of the "
       "image"},
      {file("zeros.img", std::string(100, '\0')), notTwentyNumbers},
      {file("zero.img", std::string(1, '\0')), notTwentyNumbers},
      {file("noise.img", noise), notTwentyNumbers},
      {file("garbage.img", "zz,qq\nnot an image at all"), notTwentyNumbers},
      {file("trailing.img", good + "garbage"),
       endsAt + " of " + std::to_string(good.size() + 7)},
      {file("twice.img", good + good),
       endsAt + " of " + std::to_string(2 * good.size())},
  };
  for (const auto& [image, reason] : files) {
    SCOPED_TRACE(image);
    const Outcome info = run({"info", image});
    EXPECT_EQ(info.status, 1);
    EXPECT_TRUE(contains(info.out, "\nloads: no: " + reason + "\n"))
        << info.out;
    EXPECT_EQ(info.err, "tessul: engine image " + image +
                            " is damaged: " + reason + "\n");
    const Outcome check = run({"check", "--image", image, "https://a.test/"});
    EXPECT_EQ(check.status, 1);
    EXPECT_EQ(check.out, "");
    EXPECT_EQ(check.err, info.err);
  }
  const std::string empty = file("empty.img", "");
  const Outcome check = run({"check", "--image", empty, "https://a.test/"});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.err, "tessul: engine image " + empty + " is empty\n");
}

TEST_F(CliTest, CompileReplacesAFileOnlyWithACompleteImage) {
  const std::string image = file("kept.img", "old content");
  const Outcome failed =
      run({"compile", "--list", path("missing.txt"), "-o", image});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(readFile(image), "old content");

  ASSERT_EQ(
      run({"compile", "--list", file("l.txt", "||a.test^\n"), "-o", image})
          .status,
      0);
  EXPECT_EQ(run({"info", image}).status, 0);
  // No temporary file is left beside it.
  size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
    entries += entry.path().filename().string()[0] != '.';
  }
  EXPECT_EQ(entries, 2u);  // l.txt and kept.img

  const Outcome toStdout = run({"compile", "--list", path("l.txt"), "-o", "-"});
  EXPECT_EQ(toStdout.status, 0);
  EXPECT_TRUE(toStdout.out == readFile(image));
}

// ---------------------------------------------------------------------------
// Failures: one line naming the problem, exit status 1, no answers.

TEST_F(CliTest, FailuresNameTheProblem) {
  const std::string good = file("good.txt", "||a.test^\n");
  const std::string withNul =
      file("nul.txt", std::string("||a.test^\n\0\n||b.test^\n", 21));
  const struct {
    std::vector<std::string> args;
    std::string input;
    std::string message;
  } kCases[] = {
      {{"check", "--type", "scripts", "https://a.test/"},
       "",
       "unknown request type 'scripts'"},
      {{"check", "--list", path("missing.txt"), "https://a.test/"},
       "",
       "cannot read list " + path("missing.txt") + ": No such file"},
      {{"check", "--list", dir_, "https://a.test/"},
       "",
       "cannot read list " + dir_ + ": Is a directory"},
      {{"check", "--list", withNul, "https://b.test/"},
       "",
       "list " + withNul + " is not a text file: a NUL byte at offset 10"},
      {{"check", "--image", path("missing.img"), "https://a.test/"},
       "",
       "cannot read image " + path("missing.img")},
      {{"check", "--requests", path("missing.tsv")},
       "",
       "cannot read requests " + path("missing.tsv")},
      {{"compile", "--list", good, "-o", path("no/such/dir.img")},
       "",
       "cannot write image " + path("no/such/dir.img")},
      {{"info", path("missing.img")}, "", "cannot read image"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.message);
    const Outcome result = run(c.args, c.input);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_TRUE(contains(result.err, c.message));
    EXPECT_EQ(result.err.rfind("tessul: ", 0), 0u);
    EXPECT_EQ(lines(result.err).size(), 1u) << result.err;
  }
}

TEST_F(CliTest, AWriteErrorIsAFailure) {
  const Outcome result = run({"check", kGtmUrl}, "", "/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_TRUE(contains(result.err, "cannot write the answers: No space left"));
  EXPECT_EQ(run({"--help"}, "", "/dev/full").status, 1);
}

TEST_F(CliTest, BadUsageShowsTheUsageLine) {
  const std::vector<std::vector<std::string>> kCases = {
      {},
      {"frobnicate"},
      {"check"},
      {"check", "--frobnicate", "https://a.test/"},
      {"check", "--list"},
      {"check", "--json=yes", "https://a.test/"},
      {"check", "--image", "a", "--image", "b", "https://a.test/"},
      {"check", "--requests", "-", "https://a.test/"},
      {"check", "--requests", "-", "--type", "script"},
      {"check", "--keep-cosmetic", "https://a.test/"},
      {"compile"},
      {"compile", "--json", "-o", "x.img"},
      {"compile", "-o", "x.img", "extra"},
      {"info"},
      {"info", "a.img", "b.img"},
      {"version", "extra"},
      {"hide"},
      {"hide", "--page", "a.test", "extra"},
      {"hide", "--page", "a.test", "--css=yes"},
      {"help", "frobnicate"},
      {"help", "check", "extra"},
  };
  for (const std::vector<std::string>& args : kCases) {
    SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
    const Outcome result = run(args);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    const std::vector<std::string> message = lines(result.err);
    ASSERT_EQ(message.size(), 2u) << result.err;
    EXPECT_EQ(message[0].rfind("tessul: ", 0), 0u);
    const std::string command =
        args.empty() || args[0] == "frobnicate" ? "check|compile|info"
        : args[0] == "help" && args.size() < 3  ? "check|compile|info"
        : args[0] == "help"                     ? args[1]
                                                : args[0];
    const std::string usage = "usage: tessul " + command;
    EXPECT_EQ(message[1].rfind(usage, 0), 0u) << message[1];
  }
}

TEST_F(CliTest, VersionIsTheProjectVersion) {
  for (const char* command : {"--version", "version"}) {
    const Outcome result = run({command});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string("tessul ") + TESSUL_VERSION + "\n");
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(CliTest, HelpEverywhere) {
  const struct {
    std::vector<std::string> args;
    std::string start;
  } kCases[] = {
      {{"--help"}, "usage: tessul check|compile|info"},
      {{"help"}, "usage: tessul check|compile|info"},
      {{"help", "check"}, "usage: tessul check"},
      {{"help", "info"}, "usage: tessul info"},
      {{"check", "--help"}, "usage: tessul check"},
      {{"check", "https://a.test/", "-h"}, "usage: tessul check"},
      {{"compile", "--help"}, "usage: tessul compile"},
      {{"info", "--help"}, "usage: tessul info"},
      {{"version", "--help"}, "usage: tessul version"},
      {{"hide", "--help"}, "usage: tessul hide"},
  };
  for (const auto& c : kCases) {
    const Outcome result = run(c.args);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind(c.start, 0), 0u) << result.out;
    EXPECT_EQ(result.err, "");
  }
  EXPECT_TRUE(contains(run({"check", "--help"}).out, "object-subrequest"));
}

// The request types are one table: the program's, which the README and
// the manual page repeat row for row; the manual page names every option
// that the help of check names.
TEST_F(CliTest, DocumentationAgreesWithTheProgram) {
  const std::string help = run({"check", "--help"}).out;
  const std::string source = std::string(TESSUL_DATA_DIR) + "/..";
  const std::string readme = readFile(source + "/README.md");
  const std::string manual = readFile(source + "/doc/tessul.1");
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(manual.empty());
  std::istringstream keywords(requestTypeKeywords());
  int rows = 0;
  for (std::string keyword; std::getline(keywords, keyword, ',');) {
    if (keyword[0] == ' ') keyword.erase(0, 1);
    SCOPED_TRACE(keyword);
    const size_t row = help.find("\n  " + keyword + " ");
    ASSERT_NE(row, std::string::npos);
    const size_t meaningAt = help.find_first_not_of(' ', row + 3 + keyword.size());
    const std::string meaning =
        help.substr(meaningAt, help.find('\n', meaningAt) - meaningAt);
    EXPECT_FALSE(meaning.empty());
    EXPECT_TRUE(contains(readme, "| `" + keyword + "` | " + meaning + " |\n"));
    EXPECT_TRUE(contains(manual, "\n" + keyword + "\t" + meaning + "\n"));
    ++rows;
  }
  EXPECT_EQ(rows, 15);
  for (const std::string& line : lines(help)) {
    if (line.rfind("  -", 0) != 0) continue;
    const std::string option = line.substr(2, line.find_first_of(" ,", 2) - 2);
    std::string escaped;  // as roff writes it
    for (char c : option) escaped += c == '-' ? "\\-" : std::string(1, c);
    EXPECT_TRUE(contains(manual, escaped)) << option;
  }
}

}  // namespace
}  // namespace tessul
