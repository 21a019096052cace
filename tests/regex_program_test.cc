// Regex programs: the syntax filter lists use, every regex rule of the
// bundled lists, the patterns refused and why, letter case, and patterns
// that make a backtracking matcher hang.

#include "filter/regex_program.h"

#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "regex_rules.h"

namespace tessul {
namespace {

RegexProgram compiled(const std::string& pattern, bool matchCase = false) {
  RegexProgram program;
  const char* refusal = nullptr;
  EXPECT_TRUE(RegexProgram::compile(pattern.data(),
                                    static_cast<int>(pattern.size()), matchCase,
                                    &program, &refusal))
      << pattern << ": " << refusal;
  return program;
}

bool found(const RegexProgram& program, const std::string& text) {
  return program.search(text.data(), static_cast<int>(text.size()));
}

struct SearchCase {
  const char* pattern;
  std::string text;
  bool expected;
};

// Letter case is ignored here, as list rules ignore it by default.
TEST(RegexProgramTest, Syntax) {
  const SearchCase cases[] = {
      // Literals, unanchored.
      {"ad", "https://x.test/ad.js", true},
      {"ad", "https://x.test/a.js", false},
      {"", "", true},
      {"", "anything", true},
      {"abc", "ab", false},
      // Escapes.
      {"a\\.b", "a.b", true},
      {"a\\.b", "axb", false},
      {"\\/\\?\\-\\$\\^\\*\\+\\(\\)\\[\\]\\{\\}\\|\\\\", "/?-$^*+()[]{}|\\",
       true},
      {"a\\tb\\nc\\rd", "a\tb\nc\rd", true},
      {"\\x41\\u0062", "ab", true},
      {"\\x2f", "/", true},
      {"a\\0b", std::string("a\0b", 3), true},
      {"\\v\\f", "\v\f", true},
      // Class escapes.
      {"^\\d+$", "2024", true},
      {"^\\d+$", "20x4", false},
      {"^\\D$", "x", true},
      {"^\\D$", "7", false},
      {"^\\w+$", "a_Z9", true},
      {"^\\w$", "-", false},
      {"^\\W$", "-", true},
      {"a\\sb", "a b", true},
      {"a\\sb", "a\tb", true},
      {"a\\Sb", "a b", false},
      {"a\\Sb", "a-b", true},
      // Dot: any byte but line breaks.
      {"a.c", "abc", true},
      {"a.c", "a\nc", false},
      {"a.c", "a\rc", false},
      {"a.z", "a\xC3z", true},
      // Classes.
      {"^[a-c]+$", "abcab", true},
      {"^[a-c]+$", "abd", false},
      {"[^a-c]", "abc", false},
      {"[^a-c]", "abcd", true},
      {"^[-a]$", "-", true},
      {"^[a-]$", "-", true},
      {"^[a\\-z]$", "-", true},
      {"^[a\\-z]$", "m", false},
      {"^[\\d.]+$", "1.2.3", true},
      {"^[\\w-z]+$", "a-b", true},
      {"^[\\]\\\\]+$", "]\\", true},
      {"^[.]$", "x", false},
      {"^[\\b]$", "\b", true},
      {"^[a,0-9]$", ",", true},
      {"[]", "abc", false},
      {"^[^]$", "\n", true},
      {"^[\\x41-\\x43]$", "b", true},
      // Literal ']', '{', '}' where they cannot mean anything else.
      {"a]", "a]", true},
      {"a{", "a{", true},
      {"a{,2}", "a{,2}", true},
      {"x}", "x}", true},
      // Groups and alternation.
      {"^(ab)+$", "ababab", true},
      {"^(ab)+$", "ababa", false},
      {"^(?:ab|cd)+$", "abcdab", true},
      {"^(?:ab|cd)+$", "abce", false},
      {"^(a|b|c)$", "c", true},
      {"^(a|b|c)$", "d", false},
      {"^(a|)$", "", true},
      {"x(|y)z", "xz", true},
      {"^()$", "", true},
      {"^(?:)+x$", "x", true},
      {"\\.(club|xyz)\\/", "https://a.xyz/", true},
      {"\\.(club|xyz)\\/", "https://a.xy/", false},
      {"^(a(b(c|d))|e)$", "acd", false},
      {"^(a(b(c|d))|e)$", "abd", true},
      // Quantifiers, greedy and lazy.
      {"^ab*c$", "ac", true},
      {"^ab*c$", "abbbc", true},
      {"^ab+c$", "ac", false},
      {"^ab?c$", "abbc", false},
      {"^a{3}$", "aaa", true},
      {"^a{3}$", "aa", false},
      {"^a{3}$", "aaaa", false},
      {"^a{2,}$", "a", false},
      {"^a{2,}$", "aaaaaa", true},
      {"^a{2,3}$", "aaa", true},
      {"^a{2,3}$", "aaaa", false},
      {"^a{0,2}$", "", true},
      {"^a{0}b$", "b", true},
      {"^a{0}b$", "ab", false},
      {"^(ab){2}$", "abab", true},
      {"^a*?b+?c??d{1,2}?$", "abd", true},
      {"^a*?b+?c??d{1,2}?$", "acd", false},
      {"^(a*)*$", "aaa", true},
      {"^(a*)+b$", "aab", true},
      {"^(a?){3}a{3}$", "aaa", true},
      // Anchors.
      {"^ab", "abc", true},
      {"^ab", "cab", false},
      {"bc$", "abc", true},
      {"bc$", "abcd", false},
      {"^$", "", true},
      {"^$", "a", false},
      {"a^b", "a^b", false},
      {"a|^b", "cb", false},
      {"a|^b", "bc", true},
      {"(j|x$)", "ax", true},
      {"(k|x$)", "axe", false},
      // Word boundaries.
      {"\\bad\\b", "/ad/", true},
      {"\\bad\\b", "/lead/", false},
      {"\\bad", "ad", true},
      {"ad\\B", "ads", true},
      {"ad\\B", "ad", false},
      {"\\B", "", true},
      {"\\b", "", false},
  };
  for (const SearchCase& c : cases) {
    EXPECT_EQ(found(compiled(c.pattern), c.text), c.expected)
        << "/" << c.pattern << "/ on \"" << c.text << "\"";
  }
}

TEST(RegexProgramTest, LetterCase) {
  struct CaseCase {
    const char* pattern;
    const char* text;
    bool ignoringCase;
    bool matchingCase;
  };
  const CaseCase cases[] = {
      {"logclick\\.js", "/logClick.js", true, false},
      {"PageTracker", "/pagetracker.js", true, false},
      {"PageTracker", "/PageTracker.js", true, true},
      {"^[a-f]+$", "ABCdef", true, false},
      {"^[A-F]+$", "abcDEF", true, false},
      {"^[a-fA-F]+$", "abcDEF", true, true},
      {"[^a]", "A", false, true},
      {"[^a]", "a", false, false},
      {"^[^\\W]$", "Q", true, true},
      {"^\\x61$", "A", true, false},
      {"^\\w+$", "MiXeD", true, true},
      {"\\bAD\\b", "/ad/", true, false},
  };
  for (const CaseCase& c : cases) {
    SCOPED_TRACE(std::string("/") + c.pattern + "/ on " + c.text);
    EXPECT_EQ(found(compiled(c.pattern), c.text), c.ignoringCase);
    EXPECT_EQ(found(compiled(c.pattern, true), c.text), c.matchingCase);
  }
}

struct RealRule {
  std::string body;
  std::string hit;
  std::string miss;
};

// The regex rules of data/easylist.txt and data/easyprivacy.txt, each with a
// URL it is meant to block and a close one it is not.
std::vector<RealRule> realRules() {
  std::vector<RealRule> rules = {
      {"(https?:\\/\\/)\\w{30,}\\.me\\/\\w{30,}\\.",
       "https://" + std::string(30, 'k') + ".me/" + std::string(32, 'q') +
           ".js",
       "https://" + std::string(29, 'k') + ".me/" + std::string(32, 'q') +
           ".js"},
      {"^https?:\\/\\/(35|104)\\.(\\d){1,3}\\.(\\d){1,3}\\.(\\d){1,3}\\/",
       "http://35.12.3.456/pop", "http://35.12.3.4567/pop"},
      {"^https?:\\/\\/146\\.59\\.211\\.(\\d){1,3}.*", "https://146.59.211.7/p",
       "https://146.59.212.7/p"},
      {"^https?:\\/\\/s3\\.*\\.amazonaws\\.com\\/[a-f0-9]{45,}\\/"
       "[a-f,0-9]{8,10}$",
       "https://s3.amazonaws.com/" + std::string(45, 'e') + "/0a1b2c3d",
       "https://s3.amazonaws.com/" + std::string(45, 'e') + "/0a1b2c3d.js"},
      {"^https?:\\/\\/.*\\.(club|bid|biz|xyz|site|pro|info|online|icu|monster|"
       "buzz|website|biz|re|casa|top|one|space|network|live|systems|ml|world|"
       "life|co)\\/.*",
       "https://ads.example.monster/x.js", "https://ads.example.com/x.js"},
      {"^https?:\\/\\/[0-9a-z]{5,}\\.com\\/.*", "https://abc12.com/x",
       "https://abcd.com/x"},
      {"^https?:\\/\\/[0-9a-z]{8,}\\.xyz\\/.*", "https://abcdefgh.xyz/a",
       "https://abcdefg.xyz/a"},
      {"\\/[0-9a-f]{32}\\/invoke\\.js",
       "https://x.test/" + std::string(32, 'c') + "/invoke.js",
       "https://x.test/" + std::string(31, 'c') + "/invoke.js"},
      {"^https?:\\/\\/www\\.[0-9a-z]{8,}\\.com\\/[0-9a-z]{1,4}\\.js$",
       "https://www.abcdefgh.com/ab.js", "https://www.abcdefgh.com/abcde.js"},
      {"^https?:\\/\\/.*\\.(club|xyz|top|casa)\\/", "http://pop.casa/",
       "http://pop.cas/"},
      {"^https?:\\/\\/.*\\.(club|news|live|online|store|tech|guru|cloud|bid|"
       "xyz|site|pro|info|online|icu|monster|buzz|fun|website|photos|re|casa|"
       "top|today|space|network|live|work|systems|ml|world|life)\\/.*",
       "https://a.b.photos/x", "https://a.b.photo/x"},
      {"^https?:\\/\\/.*\\/.*sw[0-9._].*", "https://cdn.test/js/sw.js",
       "https://cdn.test/js/swx.js"},
      {"^https?:\\/\\/.*\\/[a-z0-9A-Z_]{2,15}\\.(php|jx|jsx|1ph|jsf|jz|jsm|j$)",
       "https://x.test/abc.jsx?1", "https://x.test/abc.js"},
      {"about:blank.*", "about:blank", "about:srcdoc"},
      {"^https:\\/\\/cdn\\.jsdelivr\\.net\\/npm\\/[-a-z_]{4,22}@latest\\/"
       "dist\\/"
       "script\\.min\\.js$",
       "https://cdn.jsdelivr.net/npm/some-lib@latest/dist/script.min.js",
       "https://cdn.jsdelivr.net/npm/some-lib@1.2.3/dist/script.min.js"},
      {"^https?:\\/\\/fdts\\.ebay-kleinanzeigen\\.de\\/[a-z0-9]{13,18}\\.js\\?",
       "https://fdts.ebay-kleinanzeigen.de/abcdefghij123.js?x=1",
       "https://fdts.ebay-kleinanzeigen.de/abcdefghij123.js"},
      {"^https?:\\/\\/pov\\.spectrum\\.net\\/[a-zA-Z0-9]{14,}\\.js",
       "https://pov.spectrum.net/AbCdEfGh123456.js",
       "https://pov.spectrum.net/AbCdEfGh12345.js"},
      {"^https?:\\/\\/tjmaxx\\.tjx\\.com\\/libraries\\/[a-z0-9]{20,}",
       "https://tjmaxx.tjx.com/libraries/abcdefghij0123456789",
       "https://tjmaxx.tjx.com/libraries/jquery.js"},
      {"^https?:\\/\\/tmx\\.(td|tdbank)\\.com\\/[a-z0-9]{14,18}\\.js.*",
       "https://tmx.tdbank.com/abcdefgh123456.js?v",
       "https://tmx.tdbank.com/abcdefgh1234.js"},
      {"^https?:\\/\\/www\\.ebay-kleinanzeigen\\.de\\/"
       "[a-z0-9]{8}\\-[0-9a-f]{4}\\-",
       "https://www.ebay-kleinanzeigen.de/abcd1234-0f9e-4a",
       "https://www.ebay-kleinanzeigen.de/abcd1234-0g9e-4a"},
      {"^https?:\\/\\/www\\.kroger\\.com\\/content\\/{20,}",
       "https://www.kroger.com/content" + std::string(20, '/'),
       "https://www.kroger.com/content" + std::string(19, '/') + "x"},
  };
  // Nine rules of one shape: an address prefix and at least 100 more bytes.
  for (const char* prefix :
       {"104.154.", "104.197.", "104.198.", "130.211.", "142.91.159.",
        "213.32.115.", "216.21.", "217.182.11.", "51.195.31."}) {
    std::string body = "(https?:\\/\\/)";
    for (const char* c = prefix; *c != '\0'; ++c) {
      body += *c == '.' ? "\\." : std::string(1, *c);
    }
    const std::string host = std::string("http://") + prefix + "9/";
    rules.push_back({body + ".{100,}", host + std::string(98, 'p'),
                     host + std::string(97, 'p')});
  }
  return rules;
}

TEST(RegexProgramTest, RealRules) {
  std::set<std::string> bodies;
  for (const RealRule& rule : realRules()) {
    SCOPED_TRACE("/" + rule.body + "/");
    bodies.insert(rule.body);
    const RegexProgram program = compiled(rule.body);
    EXPECT_TRUE(found(program, rule.hit)) << rule.hit;
    EXPECT_FALSE(found(program, rule.miss)) << rule.miss;
  }
  // The table holds exactly the lists' regex rules.
  const std::vector<std::string> inLists = testing::bundledRegexBodies();
  EXPECT_EQ(inLists.size(), 30u);
  EXPECT_EQ(bodies, std::set<std::string>(inLists.begin(), inLists.end()));
}

TEST(RegexProgramTest, Refusals) {
  const std::pair<std::string, const char*> cases[] = {
      {"a(?=b)", "look-around is not supported"},
      {"a(?!b)", "look-around is not supported"},
      {"(?<=a)b", "look-around is not supported"},
      {"(?<!a)b", "look-around is not supported"},
      {"(a)\\1", "back-references are not supported"},
      {"(?<x>a)\\k<x>", "named groups are not supported"},
      {"\\k<x>", "back-references are not supported"},
      {"(?i)a", "unsupported group syntax"},
      {"(?", "unsupported group syntax"},
      {"(ab", "unbalanced parenthesis"},
      {"ab)", "unbalanced parenthesis"},
      {"(a))(", "unbalanced parenthesis"},
      {"[ab", "unterminated character class"},
      {"[a\\]", "unterminated character class"},
      {"[z-a]", "character class range out of order"},
      {"*a", "nothing to repeat"},
      {"a|+", "nothing to repeat"},
      {"(?:*)", "nothing to repeat"},
      {"a**", "nothing to repeat"},
      {"a{2}{3}", "nothing to repeat"},
      {"^*", "nothing to repeat"},
      {"a$+", "nothing to repeat"},
      {"\\b?", "nothing to repeat"},
      {"{2}", "nothing to repeat"},
      {"a{3,2}", "quantifier range out of order"},
      {"\\p{L}", "unsupported escape"},
      {"\\cA", "unsupported escape"},
      {"\\a", "unsupported escape"},
      {"\\01", "unsupported escape"},
      {"[\\1]", "unsupported escape"},
      {"[\\B]", "unsupported escape"},
      {"\\x4", "incomplete escape"},
      {"\\u{41}", "incomplete escape"},
      {"[\\u12]", "incomplete escape"},
      {"a\\", "trailing backslash"},
      {"caf\xC3\xA9", "non-ASCII characters are not supported"},
      {"[\xC3\xA9]", "non-ASCII characters are not supported"},
      {"\\xE9", "non-ASCII characters are not supported"},
      {"\\u00e9", "non-ASCII characters are not supported"},
      {"a{4096}", "pattern too large"},
      {"(?:a{64}){64}", "pattern too large"},
      {"(a|b){2000}", "pattern too large"},
      {"a{99999999999}", "pattern too large"},
      {std::string(65, '(') + std::string(65, ')'), "pattern nests too deeply"},
  };
  for (const auto& [pattern, reason] : cases) {
    RegexProgram program = compiled("x");
    const char* refusal = nullptr;
    EXPECT_FALSE(RegexProgram::compile(pattern.data(),
                                       static_cast<int>(pattern.size()), false,
                                       &program, &refusal))
        << pattern;
    EXPECT_STREQ(refusal, reason) << pattern;
    EXPECT_TRUE(found(program, "x")) << "a refusal keeps the program";
  }
  const char* refusal = nullptr;
  RegexProgram program;
  EXPECT_FALSE(RegexProgram::compile("a", -1, false, &program, &refusal));
  EXPECT_STREQ(refusal, "invalid pattern length");
  // Just inside the bounds.
  EXPECT_EQ(compiled("a{4095}").instructionCount(), 4096);
  compiled(std::string(64, '(') + "a" + std::string(64, ')'));
  // A program that was never compiled matches nothing, not even "".
  EXPECT_FALSE(found(RegexProgram(), ""));
  EXPECT_TRUE(found(compiled(""), ""));
  EXPECT_FALSE(compiled("a").search("a", -1));
}

// The literal that every match contains, which lets search() and callers
// pass over texts without it.
TEST(RegexProgramTest, RequiredLiteral) {
  const struct {
    const char* pattern;
    bool matchCase;
    const char* literal;
  } cases[] = {
      {"(https?:\\/\\/)104\\.154\\..{100,}", false, "://104.154."},
      {"\\/[0-9a-f]{32}\\/invoke\\.js", false, "/invoke.js"},
      {"^https?:\\/\\/tmx\\.(td|tdbank)\\.com\\/", false, "://tmx.td"},
      {"PageTracker", false, "pagetracker"},
      {"PageTracker", true, "PageTracker"},
      {"(a+)+b", false, "ab"},
      {"x(abc|abd)y", false, "xab"},
      {"(?:ab){3,}", false, "ababab"},
      {"a{0,2}|b", false, ""},
      {"averyveryverylongliteral", false, "averyveryverylon"},
  };
  for (const auto& c : cases) {
    const RegexProgram program = compiled(c.pattern, c.matchCase);
    int length = -1;
    const char* literal = program.requiredLiteral(&length);
    EXPECT_EQ(std::string(literal, length), c.literal) << c.pattern;
  }
}

std::vector<std::string> requiredLiterals(const RegexProgram& program) {
  std::vector<std::string> literals;
  for (int i = 0; i < program.requiredLiteralCount(); ++i) {
    int length = -1;
    const char* literal = program.requiredLiteral(i, &length);
    literals.emplace_back(literal, length);
  }
  return literals;
}

// Every literal that every match holds, the longest first: a caller may
// choose one rarer in its texts, such as ".me/" where every URL has "http".
TEST(RegexProgramTest, RequiredLiterals) {
  using Literals = std::vector<std::string>;
  const struct {
    const char* pattern;
    Literals literals;
  } cases[] = {
      {"(https?:\\/\\/)\\w{30,}\\.me\\/\\w{30,}\\.",
       {"http", "://", ".me/"}},
      {"(https?:\\/\\/)104\\.154\\..{100,}", {"://104.154.", "http"}},
      {"^https?:\\/\\/[0-9a-z]{5,}\\.com\\/.*", {".com/", "http", "://"}},
      {"Ad[0-9]Banner", {"banner", "ad"}},
      {"x(abc|abd)y", {"xab", "y"}},
      {"(ab|cd)+", {}},
      {"a{0,2}|b", {}},
      {"", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(requiredLiterals(compiled(c.pattern)), c.literals) << c.pattern;
  }
  // Each one is in the text of every match of the lists' rules.
  for (const RealRule& rule : realRules()) {
    std::string hit = rule.hit;
    for (char& ch : hit) ch = static_cast<char>(tolower(ch));
    const Literals literals = requiredLiterals(compiled(rule.body));
    ASSERT_LE(literals.size(),
              static_cast<size_t>(RegexProgram::kMaxRequiredLiterals));
    for (const std::string& literal : literals) {
      EXPECT_NE(hit.find(literal), std::string::npos)
          << rule.body << ": " << literal;
    }
  }
}

// Patterns on which a backtracking matcher takes exponential or high
// polynomial time: here they answer after one pass over the text. Where a
// text starts with the literal that every match needs, the quick rejection
// by that literal passes and the automaton itself runs over the whole text.
TEST(RegexProgramTest, HostilePatterns) {
  const std::string letters(10000, 'a');
  EXPECT_FALSE(found(compiled("(a+)+b"), letters));
  const SearchCase cases[] = {
      {"(a+)+b", "b" + letters, false},
      {"(a+)+b", letters + "b", true},
      {"(a*)*[bc]", letters, false},
      {"^(a|aa)*$", letters + "c", false},
      {"^(a|aa)*$", letters, true},
      {"(.*a){20}x", "x" + letters, false},
      {"^(\\w+\\s?)*$", letters + "!", false},
      {"(a|a?)+?(a{2,}|b)c", "c" + letters, false},
  };
  for (const SearchCase& c : cases) {
    EXPECT_EQ(found(compiled(c.pattern), c.text), c.expected) << c.pattern;
  }
}

// One program searched by several threads at once (ThreadSanitizer checks
// that they share nothing writable) answers as on one thread.
TEST(RegexProgramTest, ConcurrentSearches) {
  const std::vector<RealRule> rules = realRules();
  std::vector<RegexProgram> programs;
  for (const RealRule& rule : rules) programs.push_back(compiled(rule.body));
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        for (size_t i = 0; i < rules.size(); ++i) {
          wrong[t] += !found(programs[i], rules[i].hit) +
                      found(programs[i], rules[i].miss);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
}  // namespace tessul
