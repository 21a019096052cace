#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "filter/filter_parser.h"
#include "filter/unknown_options.h"

namespace tessul {
namespace {

FilterOption optionsOf(const std::string& optionList) {
  Filter rule;
  rule.parseOptions(optionList.c_str());
  return rule.options;
}

// Each option is the keyword it is a prefix of, first in table order.
TEST(FilterOptionsTest, ShortOptionsResolveToTheFirstKeyword) {
  const std::pair<const char*, FilterOption> cases[] = {
      {"", OptScript},           {"s", OptScript},
      {"sc", OptScript},         {"script", OptScript},
      {"st", OptStylesheet},     {"su", OptSubdocument},
      {"sub", OptSubdocument},   {"i", OptImage},
      {"im", OptImage},          {"imp", OptImportant},
      {"o", OptObject},          {"obj", OptObject},
      {"object", OptObject},     {"object-", OptObjectSubrequest},
      {"object-sub", OptObjectSubrequest},
      {"ot", OptOther},          {"x", OptXmlHttpRequest},
      {"xb", OptXbl},            {"d", OptDocument},
      {"do", OptDocument},       {"doc", OptDocument},
      {"don", OptDoNotTrack},
      {"c", OptCollapse},        {"e", OptElemHide},
      {"em", OptEmpty},          {"ex", OptExplicitCancel},
      {"t", OptThirdParty},      {"third", OptThirdParty},
      {"f", OptFirstParty},      {"fo", OptFont},
      {"p", OptPing},            {"po", OptPopup},
      {"m", OptMedia},           {"w", OptWebRtc},
      {"web", OptWebRtc},        {"webs", OptWebSocket},
      {"g", OptGenericHide},     {"generic", OptGenericHide},
      {"genericb", OptGenericBlock},
      {"xmlhttprequest", OptXmlHttpRequest},
      {"csp=anything", OptCsp},  {"redirect=noop.js", OptRedirect},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(optionsOf(c.first), c.second) << "option '" << c.first << "'";
  }
}

TEST(FilterOptionsTest, NegationAndCombination) {
  Filter rule;
  rule.parseOptions("image,~third-party");
  EXPECT_EQ(rule.options, OptImage);
  EXPECT_EQ(rule.negatedOptions, OptThirdParty);
  rule.parseOptions("~script,~image");
  EXPECT_EQ(rule.options, OptNone) << "parseOptions starts afresh";
  EXPECT_EQ(rule.negatedOptions, OptScript | OptImage);
  rule.parseOptions("~");
  EXPECT_EQ(rule.negatedOptions, OptScript);
  rule.parseOptions("image,");
  EXPECT_EQ(rule.options, OptImage | OptScript) << "the empty last option";
  rule.parseOptions("image\nscript");
  EXPECT_EQ(rule.options, OptImage) << "the list ends at the line end";
}

// Keeps what the parser tells of unrecognised options.
struct OptionsTold final : RuleNotes {
  void unknownOption(std::string_view option) override {
    options.emplace_back(option);
  }
  std::vector<std::string> options;
};

// The parser tells each option that no keyword names, as written without
// its '~', and writes nothing itself: where notes go is the engine's
// business.
TEST(FilterOptionsTest, UnrecognisedOptionsAreToldToTheNotes) {
  const char* unknown[] = {"dom", "domain", "ta", "tag", "cs", "csp", "r",
                           "redirect", "scripts", "script=x", "Script",
                           "im age"};
  for (const char* option : unknown) {
    ::testing::internal::CaptureStdout();
    Filter rule;
    OptionsTold told;
    rule.parseOptions(option, &told);
    EXPECT_EQ(rule.options, OptUnknown) << option;
    EXPECT_EQ(told.options, std::vector<std::string>{option});
    Filter silent;
    silent.parseOptions(option);
    EXPECT_EQ(silent.options, OptUnknown) << option;
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  }
  Filter again;
  OptionsTold told;
  again.parseOptions("scripts,image,~Script", &told);
  EXPECT_EQ(told.options, (std::vector<std::string>{"scripts", "Script"}));
  EXPECT_EQ(again.options, OptUnknown | OptImage);
  EXPECT_EQ(again.negatedOptions, OptUnknown);
}

TEST(FilterOptionsTest, ANegatedUnknownOptionIsNotUnsupported) {
  Filter rule;
  OptionsTold told;
  parseFilter("ads$~zzfoo", &rule, nullptr, nullptr, nullptr, nullptr,
              nullptr, false, &told);
  EXPECT_EQ(told.options, std::vector<std::string>{"zzfoo"});
  EXPECT_EQ(rule.options, OptNone);
  EXPECT_EQ(rule.negatedOptions, OptUnknown);
  EXPECT_FALSE(rule.hasUnsupportedOptions());
}

// Engines on several threads report the same options through the
// process-wide set: each is still written exactly once.
TEST(FilterOptionsTest, TheProcessWideReportIsSafeAcrossThreads) {
  ::testing::internal::CaptureStdout();
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 200; ++i) {
        unknownOptions.report("zzthread" + std::to_string(i % 50));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  const std::string output = ::testing::internal::GetCapturedStdout();
  int lines = 0;
  for (char c : output) lines += c == '\n';
  EXPECT_EQ(lines, 50);
  EXPECT_NE(output.find("Unrecognized filter option: zzthread49\n"),
            std::string::npos);
  EXPECT_TRUE(unknownOptions.contains("zzthread0"));
}

TEST(FilterOptionsTest, DomainAndTagValues) {
  Filter rule;
  rule.parseOptions("domain=a.test|~b.test,tag=abc");
  EXPECT_STREQ(rule.domainText, "a.test|~b.test");
  EXPECT_EQ(std::string(rule.tagText, rule.tagLen), "abc");
  EXPECT_EQ(rule.options, OptNone);
  EXPECT_EQ(rule.getDomainCount(false), 1);
  EXPECT_EQ(rule.getDomainCount(true), 1);

  Filter negated;
  negated.parseOptions("~domain=a.test,domain=c.test,tag=");
  EXPECT_STREQ(negated.domainText, "c.test") << "a later domain= replaces";
  EXPECT_EQ(negated.tagLen, 0);
  EXPECT_EQ(negated.negatedOptions, OptNone);

  Filter tilde;
  tilde.parseOptions("~domain=a.test,~tag=t");
  EXPECT_STREQ(tilde.domainText, "a.test") << "'~' means nothing to domain=";
  EXPECT_EQ(std::string(tilde.tagText, tilde.tagLen), "t");
  EXPECT_EQ(tilde.negatedOptions, OptNone);

  Filter empty;
  empty.parseOptions("domain=");
  EXPECT_STREQ(empty.domainText, "");
  EXPECT_EQ(empty.getDomainCount(false), 1);
  EXPECT_FALSE(empty.matches("ws://a.test/", OptNone, "a.test", nullptr,
                             nullptr, 0))
      << "an empty domain list never matches a page";
}

}  // namespace
}  // namespace tessul
