// Inputs that the fuzz targets (fuzz/) found to break the engine, kept in
// fuzz/regressions/<target>/ and fed here through the engine's interface.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/tessul_client.h"
#include "engine_answers.h"
#include "image_test_support.h"

namespace tessul {
namespace {

using testing::ask;
using testing::ExactCopy;
using testing::savedImage;

std::string regression(const std::string& name) {
  std::ifstream in(std::string(TESSUL_FUZZ_REGRESSIONS_DIR) + "/" + name,
                   std::ios::binary);
  EXPECT_TRUE(in) << "missing regression input " << name;
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The list of a filter_list input: the bytes after its flags byte.
std::string listOf(const std::string& input) { return input.substr(1); }

// Parses `list`, checks the parsed engine's decision on the request, and
// that the engine loaded from its image answers exactly as it does.
void expectLoadedAnswersAsParsed(const std::string& list, const char* url,
                                 FilterOption type, const char* page,
                                 bool blocked) {
  SCOPED_TRACE(list + " " + url);
  TessulClient parsed;
  parsed.parse(list.c_str());
  const ExactCopy image(savedImage(parsed));
  TessulClient loaded;
  ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
  EXPECT_EQ(parsed.matches(url, type, page), blocked);
  EXPECT_EQ(ask(parsed, url, type, page), ask(loaded, url, type, page));
  EXPECT_EQ(savedImage(loaded), std::string(image.data(), image.size()));
}

// filter_list: the line "|" parsed into a rule with an empty pattern, which
// blocks every request, but an image writes an empty pattern as it writes
// an absent one, and the same rule loaded from it was read without pattern
// and blocked nothing. An empty exception ("@@$script") likewise lost its
// effect in the image. Images now keep empty patterns, and the engine no
// longer keeps rules without pattern, which images cannot tell apart.
TEST(FuzzRegressionTest, EmptyPatternRulesMatchAlikeParsedOrLoaded) {
  struct Case {
    std::string list;
    const char* url;
    FilterOption type;
    bool blocked;
  };
  const Case cases[] = {
      {listOf(regression("filter_list/empty-pattern-rule")),
       "https://example.com/", OptScript, true},
      {"|$image\n", "https://example.com/a.png", OptImage, true},
      {"|$image\n", "https://example.com/a.js", OptScript, false},
      {"||ads.test^\n@@$script\n", "https://ads.test/a.js", OptScript, false},
      {"||ads.test^\n@@$script\n", "https://ads.test/a.png", OptImage, true},
      // An overlong line, abandoned without pattern, must not come back from
      // the image as an empty pattern.
      {std::string(3000, 'a') + "\n", "https://example.com/", OptScript, false},
  };
  for (const Case& c : cases) {
    expectLoadedAnswersAsParsed(c.list, c.url, c.type, "example.com", c.blocked);
  }
}

// filter_list: "$domain=" leaves a rule an empty domain list, one empty
// domain that no page is, so the rule matches only requests without a page.
// An image wrote the empty list as it writes no list, and the loaded rule
// matched every page. Images now write it as a list of empty domains.
TEST(FuzzRegressionTest, EmptyDomainListsSurviveImages) {
  const std::string found = listOf(regression("filter_list/empty-domain-list"));
  expectLoadedAnswersAsParsed(found, "https://e/x", OptScript, "example.com",
                              false);
  expectLoadedAnswersAsParsed(found, "https://e/x", OptScript, nullptr, true);
  for (const char* list : {"||e.test^$domain=\n", "qwerty$domain=\n"}) {
    expectLoadedAnswersAsParsed(list, "https://e.test/qwerty", OptScript,
                                "example.com", false);
    expectLoadedAnswersAsParsed(list, "https://e.test/qwerty", OptScript,
                                nullptr, true);
  }
}

// filter_list: "~#=##" hides elements on the pages of "~#=", a domain text
// that begins with the tag marker "~#": the image reader took it for a tag,
// so the loaded rule wrote another image. The same held for request rules:
// "$domain=~#foo.com" excludes the domain "#foo.com", which no page host can
// be (a host has no '#'), so the rule applies on every page; loaded from its
// image it had a tag instead and applied nowhere. Images now write such a
// domain text after an empty tag, and it reads back as itself.
TEST(FuzzRegressionTest, DomainTextsThatBeginWithTheTagMarkerSurviveImages) {
  const std::string found =
      listOf(regression("filter_list/tag-marker-domain-text"));
  expectLoadedAnswersAsParsed(found, "https://e.test/", OptScript, "e.test",
                              false);
  for (const char* page :
       std::vector<const char*>{"a.test", "foo.com", nullptr}) {
    expectLoadedAnswersAsParsed("||ads.example.com^$domain=~#foo.com\n",
                                "https://ads.example.com/x", OptScript, page,
                                true);
  }
  expectLoadedAnswersAsParsed("/ad.js$domain=~#a|~b.test\n",
                              "https://x.test/ad.js", OptScript, "b.test",
                              false);
  expectLoadedAnswersAsParsed("/ad.js$domain=~#a|~b.test\n",
                              "https://x.test/ad.js", OptScript, "c.test",
                              true);
  expectLoadedAnswersAsParsed("||ads.test^$domain=~#x.test,tag=t\n",
                              "https://ads.test/", OptScript, "a.test", false);
}

// filter_list: "||^" is a host-only rule with an empty anchor host, which
// hashed as that empty host when parsed; an image writes an empty host as
// none, and loaded, the rule hashed as its pattern: it lay outside the
// bucket of its hash, and the image of a parsed engine did not load. An
// empty anchor host now hashes as none does.
TEST(FuzzRegressionTest, HostRulesWithAnEmptyHostLieInTheirBucketWhenLoaded) {
  const std::string found = listOf(regression("filter_list/empty-anchor-host"));
  expectLoadedAnswersAsParsed(found, "https://a.test/x.png", OptImage, nullptr,
                              true);
  expectLoadedAnswersAsParsed(found, "https://b.test/x.png", OptImage, nullptr,
                              false);
}

// engine_image: a header that says a rule array holds more records than
// its section does, in an image whose last byte is a zero byte. The reader
// of record headers relied on that last zero byte to stop its scan, and
// read one byte past the image when the records ran out exactly at its
// end. The image is refused, and nothing outside it is read (the test runs
// under AddressSanitizer too).
TEST(FuzzRegressionTest, RecordsThatRunOutAtTheImagesEndAreRefused) {
  const ExactCopy image(regression("engine_image/array-record-at-the-end"));
  TessulClient engine;
  std::string reason;
  EXPECT_FALSE(engine.deserialize(image.data(), image.size(), &reason));
  EXPECT_NE(reason.find("Rules"), std::string::npos) << reason;
}

}  // namespace
}  // namespace tessul
