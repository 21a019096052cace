// Inputs that the fuzz targets (fuzz/) found to break the engine, kept in
// fuzz/regressions/<target>/ and fed here through the engine's interface.

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

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
    TessulClient parsed;
    parsed.parse(c.list.c_str());
    const ExactCopy image(savedImage(parsed));
    TessulClient loaded;
    ASSERT_TRUE(loaded.deserialize(image.data(), image.size()));
    EXPECT_EQ(parsed.matches(c.url, c.type, "example.com"), c.blocked)
        << c.list << c.url;
    EXPECT_EQ(ask(parsed, c.url, c.type, "example.com"),
              ask(loaded, c.url, c.type, "example.com"))
        << c.list << c.url;
  }
}

}  // namespace
}  // namespace tessul
