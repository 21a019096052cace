// Truncated and damaged engine images, as a broken or tampered file would
// give them: each loads or fails without reading outside the image (run
// under AddressSanitizer to check that), and leaves an engine that can still
// match, parse and clear.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "engine/tessul_client.h"
#include "engine_answers.h"
#include "hashing/bloom_filter.h"
#include "hashing/hash_fn.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"
#include "image/image_layout.h"
#include "image/record_encoding.h"
#include "image/record_reader.h"
#include "image_test_support.h"
#include "test_support.h"

namespace tessul {
namespace {

using testing::ExactCopy;
using testing::savedImage;

const char* const kUrls[] = {
    "https://ads.example.com/banner/ad.js",
    "https://www.google-analytics.com/analytics.js",
    "https://cdn.example.org/static/app.css",
    "https://pagead2.googlesyndication.com/pagead/js/adsbygoogle.js",
};

// Loads `length` bytes at `image`, which must be a heap block of exactly
// that size, matches a few requests, saves what was loaded when asked to,
// and clears. Returns what the load returned.
bool loadAndUse(const char* image, size_t length, bool save) {
  TessulClient engine;
  const bool loaded = engine.deserialize(image, length);
  for (const char* url : kUrls) {
    engine.matches(url, OptScript, "news.example.com");
    engine.matches(url, OptImage, nullptr);
  }
  if (save) savedImage(engine);
  engine.clear();
  EXPECT_EQ(engine.hostBlockSet, nullptr);
  return loaded;
}

template <typename T>
void shrink(HashSet<T>*& set, unsigned int bucketCount) {
  auto* smaller = new HashSet<T>(set->allowDuplicates);
  smaller->Init(bucketCount);
  for (uint32_t b = 0; b < set->bucketCount; ++b) {
    for (HashItem<T>* item = set->chain(b); item != nullptr; item = item->next) {
      smaller->Add(*item->element, /*rejectEqual=*/false);
    }
  }
  delete set;
  set = smaller;
}

void shrink(BloomFilter*& bloom, const Filter* rules, int count) {
  delete bloom;
  bloom = new BloomFilter(8, 32, fingerprintHashFns, kFingerprintHashFnCount);
  char fingerprint[TessulClient::kFingerprintSize + 1];
  for (int i = 0; i < count; ++i) {
    if (TessulClient::getFingerprint(fingerprint, rules[i])) bloom->add(fingerprint);
  }
}

class ImageDamageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    lists_ = new TessulClient;
    lists_->parse(testing::bundledLists().c_str(), /*preserveRules=*/true);
  }
  static void TearDownTestSuite() { delete lists_; }

  // An engine of about 170 real lines: every 900th line of the bundled
  // lists and the shortest rule of each domain-bound array, with its Bloom
  // filters and sets made small so that every byte of its image can be
  // damaged in turn.
  static std::string smallRealImage() {
    std::istringstream lines(testing::bundledLists());
    std::string sample;
    std::string line;
    for (int i = 0; std::getline(lines, line); ++i) {
      if (i % 900 == 0) sample += line + "\n";
    }
    for (const auto& [rules, count] :
         {std::pair{lists_->includeDomainBlockRules, lists_->includeDomainBlockCount},
          {lists_->excludeDomainBlockRules, lists_->excludeDomainBlockCount},
          {lists_->includeDomainExceptionRules, lists_->includeDomainExceptionCount}}) {
      const Filter* shortest = std::min_element(
          rules, rules + count, [](const Filter& a, const Filter& b) {
            return strlen(a.sourceText) < strlen(b.sourceText);
          });
      sample += std::string(shortest->sourceText) + "\n";
    }
    TessulClient engine;
    engine.parse(sample.c_str());
    EXPECT_GT(engine.hostBlockSet->elementCount, 5u);
    EXPECT_GT(engine.includeDomainExceptionSet->elementCount, 0u);
    shrink(engine.blockFingerprintBloom, engine.fingerprintedBlockRules,
           engine.fingerprintedBlockCount);
    shrink(engine.exceptionFingerprintBloom, engine.fingerprintedExceptionRules,
           engine.fingerprintedExceptionCount);
    shrink(engine.hostBlockSet, 13);
    shrink(engine.hostExceptionSet, 3);
    for (HashSet<NoFingerprintDomain>** set :
         {&engine.includeDomainBlockSet, &engine.excludeDomainBlockSet,
          &engine.includeDomainExceptionSet, &engine.excludeDomainExceptionSet}) {
      shrink(*set, 5);
    }
    return savedImage(engine);
  }

  static TessulClient* lists_;  // EasyList and EasyPrivacy
};

TessulClient* ImageDamageTest::lists_ = nullptr;

// Numbers that no image of this size could hold: each fails the load before
// anything of that size is allocated or read.
TEST(ImageHeaderTest, NumbersBeyondTheImageFailBeforeAllocating) {
  const std::string zeros = "0,0,0,0,0,0,0,0,0,0,0,0,";
  const std::string kHeaders[] = {
      "7fffffff,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
      "0,0,0,0,0,0,0,0,0,ffffffff,0,0,0,0,0,0,0,0,0,0",
      zeros + "ffffffff,0,0,0,0,0,0,0",
      zeros + "0,7fffffff,0,0,0,0,0,0",
      zeros + "0,0,ffffffff,0,0,0,0,0",
      zeros + "0,0,0,0,0,0,0,80000000",
  };
  for (const std::string& header : kHeaders) {
    const ExactCopy image(header + std::string(64, '\0'));
    EXPECT_FALSE(loadAndUse(image.data(), image.size(), /*save=*/true)) << header;
  }
  // A host set of one record: it loads with the record's true pattern
  // length, and fails when that length is negative.
  for (const std::string patternLen : {"3", "ffffffff"}) {
    const std::string set = std::string("1,1\0", 4) + patternLen +
                            std::string(",208,0,0\0abcabc\0\0\0", 18);
    char setLength[16];
    snprintf(setLength, sizeof setLength, "%zx", set.size());
    const ExactCopy image("0,0,0,0,0,0,0,0,0,0,1,0,0,0," +
                          std::string(setLength) + ",0,0,0,0,0" +
                          std::string(1, '\0') + set);
    EXPECT_EQ(loadAndUse(image.data(), image.size(), /*save=*/true),
              patternLen == "3")
        << patternLen;
  }
}

TEST_F(ImageDamageTest, EveryTruncationAndByteChangeOfASmallImage) {
  const std::string image = smallRealImage();
  ASSERT_LT(image.size(), 20000u);
  ExactCopy whole(image);
  ASSERT_TRUE(loadAndUse(whole.data(), whole.size(), /*save=*/true));
  for (size_t length = 0; length < image.size(); ++length) {
    ExactCopy cut(image.data(), length);
    ASSERT_FALSE(loadAndUse(cut.data(), cut.size(), /*save=*/true))
        << "a cut image lacks its last section: " << length;
  }
  for (size_t i = 0; i < image.size(); ++i) {
    for (const char replacement : {'\0', '7', ','}) {
      whole.data()[i] = replacement;
      loadAndUse(whole.data(), whole.size(), /*save=*/true);
    }
    whole.data()[i] = image[i];
  }
}

// What a damaged byte of an image may change, by the part it lies in.
enum class ByteRole {
  kStructure,   // headers, lengths, bucket ends, domain records: never loads
  kRuleRecord,  // a rule's own record: loads as that rule, changed
  kBloomBits,   // may only add false alarms, which change no answer
  kHostCount,   // the host rule line counts, which matching never reads
};

void mark(std::vector<ByteRole>* roles, size_t from, size_t to, ByteRole role) {
  std::fill(roles->begin() + from, roles->begin() + to, role);
}

// The role of every byte of a whole image, found by reading it as the
// loader does.
std::vector<ByteRole> byteRoles(const std::string& image) {
  std::vector<ByteRole> roles(image.size(), ByteRole::kStructure);
  RecordReader in(image.data(), image.size());
  uint32_t header[kHeaderValueCount];
  EXPECT_TRUE(in.readHeader(header, kHeaderValueCount));
  for (int side = 0, field = 0, start = 0; side < kRuleSideCount; ++start) {
    if (image[start] != ',') continue;
    if (++field == kHostCountsAt + side) {
      const size_t end = image.find(',', start + 1);
      mark(&roles, start + 1, end, ByteRole::kHostCount);
      ++side;
    }
  }
  for (const ImageSection& section : kImageSections) {
    const uint32_t value = header[section.headerValue];
    switch (section.kind) {
      case SectionKind::kRuleArray:
        for (uint32_t i = 0; i < value; ++i) {
          const size_t start = in.position();
          Filter rule;
          EXPECT_TRUE(readArrayRecords(in, &rule, 1));
          mark(&roles, start, in.position(), ByteRole::kRuleRecord);
        }
        break;
      case SectionKind::kBloomFilter:
        mark(&roles, in.position(), in.position() + value,
             ByteRole::kBloomBits);
        in.skip(value);
        break;
      case SectionKind::kHostSet: {
        RecordReader set(in.current(), value);
        uint32_t setHeader[2];
        EXPECT_TRUE(set.readHeader(setHeader, 2));
        for (uint32_t b = 0; b < setHeader[0]; ++b) {
          while (!set.atZeroByte()) {
            const size_t start = in.position() + set.position();
            Filter rule;
            EXPECT_TRUE(readSetRecord(set, &rule));
            mark(&roles, start, in.position() + set.position(),
                 ByteRole::kRuleRecord);
          }
          set.skip(1);
        }
        in.skip(value);
        break;
      }
      case SectionKind::kDomainSet:
        in.skip(value);
        break;
    }
  }
  EXPECT_EQ(in.remaining(), 0u);
  return roles;
}

struct SweepTally {
  int refused = 0;
  int ruleChanged = 0;  // loaded as the same engine but for one rule
  int sameAnswers = 0;  // Bloom filter bits gained, host counts changed
};

// A large image is checked on two threads at once, yet a load reports the
// fault that comes first in image order: a host set before a host count, a
// host count before the fingerprints. A damaged header that misplaces the
// host set only makes it read in one pass.
TEST_F(ImageDamageTest, LargeImagesReportTheirFirstFault) {
  const std::string image = savedImage(*lists_, true, true);
  std::vector<uint32_t> header;
  RecordReader in(image.data(), image.size());
  header.resize(kHeaderValueCount);
  ASSERT_TRUE(in.readHeader(header.data(), kHeaderValueCount));
  size_t afterArrays = 0;
  for (int i = kHostCountsAt + kRuleSideCount; i < kHeaderValueCount; ++i) {
    afterArrays += header[i];
  }
  const size_t blockBloomAt = image.size() - afterArrays;
  const size_t blockBloomLength = header[kHostCountsAt + kRuleSideCount];
  const size_t hostSetAt = blockBloomAt + blockBloomLength +
                           header[kHostCountsAt + kRuleSideCount + 1];
  const size_t hostSetLength = header[kHostCountsAt + kRuleSideCount + 2];

  auto noBloomBits = [&](std::string& bytes) {
    memset(&bytes[blockBloomAt], 0, blockBloomLength);
  };
  auto tooFewHostLines = [&](std::string& bytes) {
    // hostBlockCount, written in as many digits, now below the set's size.
    const std::string count = [&] {
      std::ostringstream hex;
      hex << std::hex << header[kHostCountsAt];
      return hex.str();
    }();
    const size_t at = image.find("," + count + ",") + 1;
    bytes.replace(at, count.size(), "1" + std::string(count.size() - 1, '0'));
  };
  auto hostInAnotherBucket = [&](std::string& bytes) {
    const size_t host = image.find(std::string(".com\0", 5),
                                   hostSetAt + hostSetLength * 3 / 4);
    ASSERT_LT(host, hostSetAt + hostSetLength);
    bytes[host - 1] ^= 1;
  };
  // A shorter last section moves where the host block set seems to begin
  // by as many bytes; a set header there that counts more buckets than the
  // set has bytes must not be believed before the set is read.
  auto hostSetSeemsLater = [&](std::string& bytes) {
    const size_t headerEnd = image.find('\0');
    std::ostringstream length;
    length << std::hex << header[kHeaderValueCount - 1];
    std::ostringstream shorter;
    shorter << std::hex << header[kHeaderValueCount - 1] - 16;
    ASSERT_EQ(shorter.str().size(), length.str().size());
    bytes.replace(headerEnd - length.str().size(), length.str().size(),
                  shorter.str());
    bytes.replace(hostSetAt + 16, 11, std::string("ffffffff,0\0", 11));
  };
  struct Damage {
    std::vector<std::function<void(std::string&)>> changes;
    const char* reasonStart;
    const char* reasonEnd;
  };
  const Damage damages[] = {
      {{noBloomBits},
       "fingerprintedBlockRules: rule ",
       " has a fingerprint that blockFingerprintBloom lacks"},
      {{noBloomBits, tooFewHostLines}, "header: hostBlockCount is ",
       " rules"},
      {{noBloomBits, tooFewHostLines, hostInAnotherBucket},
       "hostBlockSet: an element lies outside the bucket of its hash", ")"},
      {{hostSetSeemsLater}, "hostBlockSet: ", ")"},
  };
  for (const Damage& damage : damages) {
    std::string bytes = image;
    for (const auto& change : damage.changes) change(bytes);
    const ExactCopy damaged(bytes);
    TessulClient engine;
    std::string reason;
    EXPECT_FALSE(engine.deserialize(damaged.data(), damaged.size(), &reason));
    EXPECT_EQ(reason.rfind(damage.reasonStart, 0), 0u) << reason;
    const std::string end = damage.reasonEnd;
    EXPECT_EQ(reason.substr(reason.size() - std::min(reason.size(), end.size())),
              end)
        << reason;
  }
}

// The damage sweep over the real image of EasyList and EasyPrivacy, as
// `tessul compile` and the Java bridge write it: every byte of the header
// and of the 64 bytes after it changed three ways, special files, cuts,
// and a seeded sample of the bytes after those. Nothing may crash or read
// outside the image, and no damaged copy may load as a different engine
// except by a change inside one rule's own record, which images, having no
// checksum, cannot show: a copy that loads writes exactly its own bytes
// again, and one damaged outside the rule records answers every request of
// the request logs as the real image does.
TEST_F(ImageDamageTest, SweepOfTheRealImageLoadsNoSilentlyDifferentEngine) {
  const std::string image = savedImage(*lists_, true, true);
  const std::vector<ByteRole> roles = byteRoles(image);
  std::vector<testing::Request> requests =
      testing::readRequests("pageloads.tsv");
  for (const testing::Request& r : testing::readRequests("peer-dev.tsv")) {
    requests.push_back(r);
  }
  auto answersOf = [&](TessulClient& engine) {
    std::vector<testing::Answer> answers;
    for (const testing::Request& r : requests) {
      answers.push_back(testing::ask(
          engine, r.url.c_str(), testing::requestTypeOption(r.type),
          r.pageHost.empty() ? nullptr : r.pageHost.c_str()));
    }
    return answers;
  };
  const ExactCopy original(image);
  TessulClient real;
  ASSERT_TRUE(real.deserialize(original.data(), original.size()));
  const std::vector<testing::Answer> realAnswers = answersOf(real);

  SweepTally tally;
  ExactCopy damaged(image);
  // Loads the damaged copy whose byte `at` was changed.
  auto tryChange = [&](size_t at) {
    TessulClient engine;
    std::string reason;
    if (!engine.deserialize(damaged.data(), damaged.size(), &reason)) {
      EXPECT_FALSE(reason.empty());
      ++tally.refused;
      return;
    }
    const ByteRole role = roles[at];
    ASSERT_EQ(savedImage(engine, true, true),
              std::string(damaged.data(), damaged.size()))
        << "byte " << at << ": the loaded engine is not what the image says";
    if (role == ByteRole::kRuleRecord) {
      ++tally.ruleChanged;
      return;
    }
    ASSERT_NE(role, ByteRole::kStructure)
        << "byte " << at << " loads as a different engine";
    ASSERT_TRUE(answersOf(engine) == realAnswers)
        << "byte " << at << " changes answers";
    ++tally.sameAnswers;
  };
  auto change = [&](size_t at, char value) {
    if (value == image[at]) return;
    damaged.data()[at] = value;
    tryChange(at);
    damaged.data()[at] = image[at];
  };

  const size_t headerEnd = image.find('\0') + 1;
  const size_t swept = headerEnd + 64;
  for (size_t at = 0; at < swept; ++at) {
    change(at, '\0');
    change(at, static_cast<char>(image[at] ^ 1));
    change(at, ',');
  }
  const int sweptChanges =
      tally.refused + tally.ruleChanged + tally.sameAnswers;

  // Each sample loads an image of 5 MB, most of it, or all: ten seconds
  // for the samples in a Release build.
#ifdef TESSUL_SANITIZED_BUILD
  const int kSamples = 100;  // loads are several times slower
#else
  const int kSamples = 500;
#endif
  std::mt19937 random(20240613);
  std::uniform_int_distribution<size_t> bodyByte(swept, image.size() - 1);
  std::uniform_int_distribution<int> byteValue(0, 255);
  for (int i = 0; i < kSamples; ++i) {
    change(bodyByte(random), static_cast<char>(byteValue(random)));
  }

  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(byteValue(random));
  std::vector<std::string> specialFiles = {"",
                                           std::string(1, '\0'),
                                           std::string(100, '\0'),
                                           noise,
                                           image + "garbage",
                                           image + image,
                                           image.substr(0, image.size() - 1)};
  std::uniform_int_distribution<size_t> cut(0, image.size() - 1);
  for (int i = 0; i < 10; ++i)
    specialFiles.push_back(image.substr(0, cut(random)));
  for (const std::string& file : specialFiles) {
    const ExactCopy copy(file);
    TessulClient engine;
    EXPECT_FALSE(engine.deserialize(copy.data(), copy.size())) << file.size();
  }
  std::printf(
      "damage sweep of a %zu-byte image: %d changes of its first %zu bytes, "
      "%d sampled after them, %zu special files: %d refused, %d loaded as "
      "the engine with one rule's record changed, %d loaded answering as "
      "the real image (Bloom filter bits gained, host rule counts changed)\n",
      image.size(), sweptChanges, swept, kSamples, specialFiles.size(),
      tally.refused, tally.ruleChanged, tally.sameAnswers);
}

}  // namespace
}  // namespace tessul
