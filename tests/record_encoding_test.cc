#include "image/record_encoding.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter/filter.h"
#include "hashing/hash_set.h"
#include "hashing/set_elements.h"
#include "image_test_support.h"

namespace tessul {
namespace {

using testing::ExactCopy;

// Writes the array records of `filters` into a zero-filled buffer of the
// measured size.
std::string arrayRecords(const Filter* filters, int count) {
  const int size = serializeFilters(nullptr, 0, filters, count);
  std::string bytes(size, '\0');
  EXPECT_EQ(serializeFilters(bytes.data(), bytes.size(), filters, count), size);
  return bytes;
}

template <typename Element>
std::string setRecord(const Element& element) {
  std::string bytes(element.Serialize(nullptr), '\0');
  EXPECT_EQ(element.Serialize(bytes.data()), static_cast<int>(bytes.size()));
  return bytes;
}

template <typename T>
std::string section(const HashSet<T>& set) {
  unsigned int size = 0;
  std::unique_ptr<char[]> bytes(set.Serialize(&size));
  EXPECT_EQ(set.SerializeBuckets(nullptr), static_cast<int>(size));
  return std::string(bytes.get(), size);
}

// A filter whose texts are literals, like a loaded one.
Filter rule(FilterType type, FilterOption options, const char* pattern,
            int patternLen, const char* anchorHost, const char* tag = nullptr,
            const char* domainText = nullptr) {
  return Filter(type, options, OptNone, pattern, patternLen, domainText,
                anchorHost, -1, tag, tag ? static_cast<int>(strlen(tag)) : 0);
}

const FilterType kHostOnly = TypeHostAnchor | TypeHostOnly;

TEST(ArrayRecordTest, WritesAndReadsTheTaggedRuleExample) {
  const Filter written = rule(TypeNone, OptImage, "/ad/", -1, nullptr, "t1");
  const std::string expected("0,2,0\0/ad/\0~#t1,\0\0", 18);
  ASSERT_EQ(arrayRecords(&written, 1), expected);

  ExactCopy image(expected);
  Filter read;
  size_t consumed = 0;
  ASSERT_TRUE(deserializeFilters(image.data(), image.size(), &read, 1, &consumed));
  EXPECT_EQ(consumed, 18u);
  EXPECT_TRUE(read.isBorrowed);
  EXPECT_EQ(read.type, TypeNone);
  EXPECT_EQ(read.options, OptImage);
  EXPECT_EQ(read.pattern, image.data() + 6) << "the pattern borrows the image";
  EXPECT_EQ(read.patternLen, -1) << "array records leave it to be measured";
  EXPECT_EQ(read.tagText, image.data() + 13);
  EXPECT_EQ(read.tagLen, 2);
  EXPECT_EQ(read.domainText, nullptr);
  EXPECT_EQ(read.anchorHost, nullptr);
}

TEST(ArrayRecordTest, SeveralRecordsFollowEachOther) {
  const Filter written[] = {
      rule(TypeHostAnchor, OptScript, "ads.test/x", -1, "ads.test", nullptr,
           "a.test|~b.a.test"),
      rule(TypeException, OptNone, "/track?", -1, nullptr)};
  const std::string bytes = arrayRecords(written, 2);
  ExactCopy image(bytes);
  Filter read[2];
  size_t consumed = 0;
  ASSERT_TRUE(deserializeFilters(image.data(), image.size(), read, 2, &consumed));
  EXPECT_EQ(consumed, bytes.size());
  EXPECT_STREQ(read[0].pattern, "ads.test/x");
  EXPECT_STREQ(read[0].anchorHost, "ads.test");
  EXPECT_STREQ(read[0].domainText, "a.test|~b.a.test");
  EXPECT_EQ(read[0].getDomainCount(true), 1) << "domain sets rebuilt on use";
  EXPECT_EQ(read[1].type, TypeException);
  EXPECT_STREQ(read[1].pattern, "/track?");
  EXPECT_EQ(arrayRecords(read, 2), bytes);
}

TEST(ArrayRecordTest, WriterStaysInsideItsBuffer) {
  const Filter written = rule(TypeNone, OptImage, "/ad/", -1, nullptr, "t1");
  ExactCopy buffer(std::string(10, '\0'));
  EXPECT_EQ(serializeFilters(buffer.data(), buffer.size(), &written, 1), 18);
  EXPECT_EQ(std::string(buffer.data(), 10), std::string("0,2,0\0/ad/", 10));
}

TEST(SetRecordTest, WritesAndReadsTheHostRuleExample) {
  const Filter written = rule(kHostOnly, OptNone, "abc^", 4, "abc");
  const std::string expected("4,208,0,0\0abc^abc\0\0", 19);
  ASSERT_EQ(setRecord(written), expected);
  // A measured host length counts, as it does for host lookups.
  const Filter measured(kHostOnly, OptNone, OptNone, "abc^", 4, nullptr,
                        "abcdef", 3, nullptr, 0);
  EXPECT_EQ(setRecord(measured), expected);

  ExactCopy image(expected);
  Filter read;
  ASSERT_EQ(read.Deserialize(image.data(), image.size()), 19u);
  EXPECT_TRUE(read.isBorrowed);
  EXPECT_EQ(read.type, kHostOnly);
  EXPECT_EQ(read.patternLen, 4);
  EXPECT_EQ(read.pattern, image.data() + 10);
  EXPECT_EQ(read.anchorHost, image.data() + 14);
  EXPECT_EQ(read.anchorHostLen, 3) << "known from the record, not measured";
  EXPECT_EQ(read.tagLen, 0);
  EXPECT_EQ(read.domainText, nullptr);
  EXPECT_EQ(setRecord(read), expected);
}

TEST(SetRecordTest, TagAndDomainTextFollowTheAnchorHost) {
  const Filter written =
      rule(kHostOnly, OptThirdParty, "ads.test^", 9, "ads.test", "tg", "a.test");
  const std::string bytes = setRecord(written);
  EXPECT_EQ(bytes, std::string("9,208,2000,0\0ads.test^ads.test\0~#tg,a.test\0", 43));
  ExactCopy image(bytes);
  Filter read;
  ASSERT_EQ(read.Deserialize(image.data(), image.size()), bytes.size());
  EXPECT_EQ(std::string(read.tagText, read.tagLen), "tg");
  EXPECT_STREQ(read.domainText, "a.test");
  EXPECT_EQ(read.getDomainCount(false), 1);
}

// A set that keeps its records only hashes them: it must accept, refuse and
// step over exactly what reading them does, and hash what it would read.
// Every record is also cut short at every length.
TEST(SetRecordTest, HashingARecordChecksItAsReadingItDoes) {
  const std::string hosted =
      setRecord(rule(kHostOnly, OptNone, "ads.example^", 12, "ads.example"));
  const std::string records[] = {
      hosted,
      setRecord(rule(kHostOnly, OptThirdParty, "a.test^", 7, "a.test", "tg",
                     "b.test|~c.test")),
      setRecord(rule(TypeHostAnchor, OptNone, "x.test/path", 11, "x.test",
                     nullptr, "~#odd")),
      setRecord(rule(TypeNone, OptNone, "/no-host-here/", 14, nullptr)),
      setRecord(rule(TypeNone, OptNone, "", 0, nullptr)),
      std::string("3,8,0,0\0a\0bc\0\0", 14),   // a pattern with a zero byte
      std::string("3,8,0,0\0abcabc\0~#,x\0", 20),  // an empty tag, unneeded
      std::string("3,8,0,0\0abcabc\0~#tag\0", 20),  // no comma ends the tag
      std::string("3,08,0,0\0abcabc\0\0", 17),   // a leading zero
      std::string("ffffffff,8,0,0\0abc", 18),   // a negative length
      hosted + hosted,
  };
  for (const std::string& record : records) {
    for (size_t length = 0; length <= record.size(); ++length) {
      ExactCopy image(record.data(), length);
      RecordReader reading(image.data(), image.size());
      Filter element;
      const bool read = readSetRecord(reading, &element);
      RecordReader hashing(image.data(), image.size());
      uint64_t hash = 0;
      ASSERT_EQ(hashSetRecord<Filter>(hashing, &hash), read)
          << length << " bytes of " << record.size();
      if (read) {
        EXPECT_EQ(hashing.position(), reading.position());
        EXPECT_EQ(hash, hashOf(element)) << record;
      } else {
        EXPECT_STREQ(hashing.failure(), reading.failure());
        EXPECT_EQ(hashing.failedAt(), reading.failedAt());
      }
    }
  }
}

// What reading a run of set records one after another gives: each hash
// until the first failure, then the failure.
struct RecordRun {
  std::vector<uint64_t> hashes;
  size_t end;
  std::string failure;
  size_t failedAt;
  bool operator==(const RecordRun& other) const {
    return hashes == other.hashes && end == other.end &&
           failure == other.failure && failedAt == other.failedAt;
  }
};

template <typename Read>
RecordRun readRun(const std::string& bytes, Read read) {
  ExactCopy image(bytes);
  RecordReader in(image.data(), image.size());
  RecordRun run;
  uint64_t hash = 0;
  while (in.remaining() > 0 && read(in, &hash)) run.hashes.push_back(hash);
  run.end = in.position();
  run.failure = in.failure() ? in.failure() : "";
  run.failedAt = in.failedAt();
  return run;
}

// The quicker way through records like those before must accept, refuse and
// hash exactly what reading each record in full does, in a run of records
// of every shape and in every copy of it with one byte changed.
TEST(SetRecordTest, HashingRecordsLikeThoseBeforeReadsThemInFull) {
  std::string run;
  for (const std::string& record : {
           setRecord(rule(kHostOnly, OptNone, "a.example^", 10, "a.example")),
           setRecord(rule(kHostOnly, OptNone, "b.example^", 10, "b.example")),
           setRecord(rule(kHostOnly, OptNone, "tag.test^", 9, "tag.test", "t")),
           setRecord(rule(kHostOnly, OptNone, "d.test^", 7, "d.test", nullptr,
                          "x.test")),
           setRecord(rule(kHostOnly, OptThirdParty, "third.test^", 11,
                          "third.test")),
           setRecord(rule(kHostOnly, OptNone, "c.example^", 10, "c.example")),
           setRecord(rule(kHostOnly, OptNone,
                          "a-host-name-longer-than-sixteen.example^", 40,
                          "a-host-name-longer-than-sixteen.example")),
           setRecord(rule(TypeNone, OptNone, "/no-host/", 9, nullptr)),
           setRecord(rule(kHostOnly, OptNone, "e.example^", 10, "e.example")),
           std::string("0,208,0,0\0f.example\0\0", 22),  // an empty pattern
       }) {
    run += record;
  }
  auto inFull = [](RecordReader& in, uint64_t* hash) {
    return hashSetRecord<Filter>(in, hash);
  };
  auto likeBefore = [](SetRecordHasher<Filter>& hasher) {
    return [&hasher](RecordReader& in, uint64_t* hash) {
      return hasher.hash(in, hash);
    };
  };
  {
    SetRecordHasher<Filter> hasher;
    const RecordRun read = readRun(run, likeBefore(hasher));
    EXPECT_EQ(read.hashes.size(), 10u);
    EXPECT_TRUE(read == readRun(run, inFull));
  }
  for (size_t at = 0; at < run.size(); ++at) {
    for (char value : {'\0', ',', '~', '0', 'a', '\xff'}) {
      if (run[at] == value) continue;
      std::string changed = run;
      changed[at] = value;
      SetRecordHasher<Filter> hasher;
      ASSERT_TRUE(readRun(changed, likeBefore(hasher)) ==
                  readRun(changed, inFull))
          << "byte " << at << " changed to " << static_cast<int>(value);
    }
  }
}

TEST(RecordEncodingTest, EmptyTextsAreWrittenAsZeroBytes) {
  const Filter empty = rule(TypeNone, OptNone, "", 0, "", nullptr, "");
  const std::string array = arrayRecords(&empty, 1);
  // An empty domain list is the list of one empty domain; "|" lists the
  // same and, unlike a lone zero byte, does not read back as no list.
  EXPECT_EQ(array, std::string("0,0,0\0\0|\0\0", 10));
  Filter fromArray;
  size_t consumed = 0;
  ASSERT_TRUE(deserializeFilters(array.data(), array.size(), &fromArray, 1, &consumed));
  // An array rule's empty pattern stays an empty pattern, which matches
  // everything its options allow; other texts read as absent.
  EXPECT_EQ(fromArray.pattern, array.data() + 6);
  EXPECT_STREQ(fromArray.pattern, "");
  EXPECT_STREQ(fromArray.domainText, "|");
  EXPECT_EQ(fromArray.getDomainCount(false), 1);
  EXPECT_EQ(fromArray.anchorHost, nullptr);

  // A set record's pattern of length 0 still points somewhere: at the
  // anchor host's first byte.
  const Filter hostOnly = rule(kHostOnly, OptNone, "", 0, "h");
  const std::string set = setRecord(hostOnly);
  EXPECT_EQ(set, std::string("0,208,0,0\0h\0\0", 13));
  Filter fromSet;
  ASSERT_EQ(fromSet.Deserialize(set.data(), set.size()), 13u);
  EXPECT_EQ(fromSet.pattern, set.data() + 10);
  EXPECT_EQ(fromSet.patternLen, 0);
  // The record a filter is read again from decides its host length too.
  const std::string noHost("0,208,0,0\0\0\0", 12);
  ASSERT_EQ(fromSet.Deserialize(noHost.data(), noHost.size()), 12u);
  EXPECT_EQ(fromSet.anchorHost, nullptr);
  EXPECT_EQ(fromSet.anchorHostLen, -1);

  const NoFingerprintDomain emptyDomain("", 0);
  EXPECT_EQ(setRecord(emptyDomain), std::string("0x\0\0", 4));
  NoFingerprintDomain fromDomain;
  EXPECT_EQ(fromDomain.Deserialize("0x\0\0", 4), 4u);
  EXPECT_EQ(fromDomain.domainLen, 0);
}

// Readers take records only as the writers write them: lower-case numbers
// without leading zeros, every number of a header and nothing more.
TEST(RecordEncodingTest, HeadersHoldExactlyTheirNumbersAsWritten) {
  const std::string tail("\0abcdabc\0\0", 10);
  Filter read;
  ASSERT_EQ(read.Deserialize(("4,2c8,0,0" + tail).data(), 19), 19u);
  EXPECT_EQ(read.type, static_cast<FilterType>(0x2c8));
  for (const char* header :
       {"4,2C8,0,0", "04,2c8,0,0", "4,2c8", "4,2c8,0,0,0", "4,2c8,0,0 ",
        "4,2c8,,0", "4,2c8,0,0,", "4,000002c8,0,0", "4,1000002c8,0,0"}) {
    const std::string record = header + tail;
    Filter damaged;
    EXPECT_EQ(damaged.Deserialize(record.data(), record.size()), 0u) << header;
  }
  Filter fromArray;
  size_t consumed = 0;
  EXPECT_FALSE(deserializeFilters("\0\0\0\0", 4, &fromArray, 1, &consumed));
  EXPECT_FALSE(
      deserializeFilters("0,2,0x\0/ad/\0\0\0", 14, &fromArray, 1, &consumed));

  const std::string text = std::string(11, 'd') + '\0';
  NoFingerprintDomain domain;
  EXPECT_EQ(domain.Deserialize(("bx" + std::string(1, '\0') + text).data(), 15),
            15u);
  EXPECT_EQ(domain.domainLen, 11);
  for (const char* header : {"Bx", "b", "bxx", "0bx", "x"}) {
    const std::string record = header + std::string(1, '\0') + text;
    EXPECT_EQ(NoFingerprintDomain().Deserialize(record.data(), record.size()),
              0u)
        << header;
  }
  // The zero byte that ends a domain record is a zero byte.
  EXPECT_EQ(NoFingerprintDomain().Deserialize("1x\0aZ", 5), 0u);

  // A set header holds the bucket count and a flag of 0 or 1.
  HashSet<NoFingerprintDomain> set;
  EXPECT_TRUE(set.Deserialize("1,1\0\0", 5));
  EXPECT_TRUE(set.allowDuplicates);
  EXPECT_FALSE(set.Deserialize("1\0\0", 3));
  EXPECT_FALSE(set.Deserialize("1,2\0\0", 5));
}

// The tag marker "~#" also begins a domain text whose first entry excludes a
// domain starting with '#'. Written after an empty tag, such a text reads
// back as itself; an empty tag anywhere else is damage, and so is a tag
// without its comma.
TEST(RecordEncodingTest, DomainTextsThatBeginLikeATagReadBackAsThemselves) {
  struct Case {
    const char* tag;
    const char* domainText;
    const char* written;  // tag and domain text, as the record holds them
  };
  const Case cases[] = {
      {nullptr, "~#foo.test", "~#,~#foo.test"},
      {nullptr, "~#a|b.test", "~#,~#a|b.test"},
      {"t", "~#foo.test", "~#t,~#foo.test"},
      {nullptr, "~x.test", "~x.test"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.domainText);
    const Filter arrayRule =
        rule(TypeNone, OptNone, "/ad/", -1, nullptr, c.tag, c.domainText);
    const std::string array = arrayRecords(&arrayRule, 1);
    EXPECT_EQ(array, std::string("0,0,0\0/ad/\0", 11) + c.written +
                         std::string("\0\0", 2));
    ExactCopy arrayImage(array);
    Filter fromArray;
    size_t consumed = 0;
    ASSERT_TRUE(deserializeFilters(arrayImage.data(), arrayImage.size(),
                                   &fromArray, 1, &consumed));
    EXPECT_STREQ(fromArray.domainText, c.domainText);
    EXPECT_EQ(fromArray.tagLen, c.tag ? 1 : 0);
    EXPECT_EQ(fromArray.tagText == nullptr, c.tag == nullptr);
    EXPECT_EQ(arrayRecords(&fromArray, 1), array);

    const Filter hostRule =
        rule(kHostOnly, OptNone, "h^", 2, "h", c.tag, c.domainText);
    const std::string set = setRecord(hostRule);
    ExactCopy setImage(set);
    Filter fromSet;
    ASSERT_EQ(fromSet.Deserialize(setImage.data(), setImage.size()),
              set.size());
    EXPECT_STREQ(fromSet.domainText, c.domainText);
    EXPECT_EQ(setRecord(fromSet), set);
  }
  for (const std::string& damaged :
       {std::string("0,0,0\0/ad/\0~#,x.test\0\0", 23),  // empty tag, no need
        std::string("0,0,0\0/ad/\0~#,\0\0", 17),        // nor here
        std::string("0,0,0\0/ad/\0~#t\0\0\0", 18)}) {   // no comma
    Filter read;
    size_t consumed = 0;
    EXPECT_FALSE(
        deserializeFilters(damaged.data(), damaged.size(), &read, 1, &consumed))
        << damaged;
  }
}

TEST(RecordEncodingTest, RecordsCutShortOrWithImpossibleNumbersFail) {
  const std::string array("0,2,0\0/ad/\0~#t1,\0\0", 18);
  const std::string set("4,208,0,0\0abc^abc\0\0", 19);
  const std::string domain("3x\0abc\0", 7);
  for (size_t length = 0; length < set.size(); ++length) {
    ExactCopy cut(set.data(), length);
    Filter read;
    EXPECT_EQ(read.Deserialize(cut.data(), cut.size()), 0u) << length;
  }
  for (size_t length = 0; length < array.size(); ++length) {
    ExactCopy cut(array.data(), length);
    Filter read;
    size_t consumed = 0;
    EXPECT_FALSE(deserializeFilters(cut.data(), cut.size(), &read, 1, &consumed))
        << length;
  }
  for (size_t length = 0; length < domain.size(); ++length) {
    ExactCopy cut(domain.data(), length);
    NoFingerprintDomain read;
    EXPECT_EQ(read.Deserialize(cut.data(), cut.size()), 0u) << length;
  }
  for (const std::string& damaged :
       {std::string("ffffffff,208,0,0\0abc\0\0", 22),  // negative length
        std::string("100000000,0,0,0\0a\0\0", 19),     // beyond 32 bits
        std::string("7fffffff,208,0,0\0abc\0\0", 22)}) {  // too long
    Filter read;
    EXPECT_EQ(read.Deserialize(damaged.data(), damaged.size()), 0u) << damaged;
  }
  NoFingerprintDomain negative;
  EXPECT_EQ(negative.Deserialize("ffffffffx\0abc\0", 14), 0u);
}

// "abd" hashes to 36979, an odd number: it belongs in bucket 1 of 2.
TEST(HashSetImageTest, WritesAndReadsTheDomainSetExample) {
  const std::string expected(
      "2,0\0\0"
      "3x\0abd\0"
      "\0",
      13);
  ExactCopy image(expected);
  HashSet<NoFingerprintDomain> set;
  ASSERT_TRUE(set.Deserialize(image.data(), image.size()));
  EXPECT_EQ(set.bucketCount, 2u);
  EXPECT_FALSE(set.allowDuplicates);
  EXPECT_EQ(set.elementCount, 1u);
  EXPECT_EQ(set.chain(0), nullptr);
  ASSERT_NE(set.chain(1), nullptr);
  EXPECT_EQ(set.chain(1)->element->domain, image.data() + 8);
  EXPECT_EQ(set.chain(1)->element->domainLen, 3);
  EXPECT_EQ(section(set), expected) << "restored into its written bucket";
}

TEST(HashSetImageTest, LoadedHostSetKeepsChainOrderAndFindsByHost) {
  HashSet<Filter> written(/*allowDuplicates=*/true);
  written.Init(7);
  written.Add(rule(kHostOnly, OptPopup, "ads.test^", 9, "ads.test"), false);
  written.Add(rule(kHostOnly, OptNone, "ads.test^", 9, "ads.test", "t"), false);
  written.Add(rule(kHostOnly, OptNone, "b.test", 6, "b.test"), false);
  const std::string bytes = section(written);
  EXPECT_EQ(bytes.compare(0, 4, std::string("7,1\0", 4)), 0);

  ExactCopy image(bytes);
  HashSet<Filter> read;
  read.Add(rule(kHostOnly, OptNone, "old", 3, "old"), false);  // replaced
  ASSERT_TRUE(read.Deserialize(image.data(), image.size()));
  EXPECT_TRUE(read.allowDuplicates);
  EXPECT_EQ(read.elementCount, 3u);
  Filter probe(nullptr, 0, nullptr, "ads.test", 8, nullptr, 0);
  const Filter* first = read.Find(probe);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->options, OptPopup) << "the chain keeps its written order";
  EXPECT_EQ(read.Find(Filter(nullptr, 0, nullptr, "old", 3, nullptr, 0)), nullptr);
  EXPECT_EQ(section(read), bytes);
}

TEST(HashSetImageTest, DamagedSectionsFailWithinTheirLimit) {
  for (const std::string& damaged :
       {std::string("0,0\0", 4),  // ends after the header
        std::string("5,0\0", 4),
        std::string("0,0\0\0\0", 6),  // no buckets: unusable set
        std::string("4,0\0\0\0", 6),  // fewer buckets than it says
        std::string("1,0\0"
                    "3x\0abc\0",
                    11),  // no bucket terminator
        std::string("2,0\0\0"
                    "7x\0abc\0\0",
                    13),  // record too long
        std::string("2,0\0\0"
                    "3x",
                    7),
        std::string("\0", 1), std::string("2,0", 3),
        std::string("2,0\0\0"
                    "3x\0abc\0"
                    "\0",
                    13),               // abc is in bucket 0
        std::string("1,0\0\0\0", 6),   // a byte after the last bucket
        std::string("1,2\0\0", 5)}) {  // a flag neither 0 nor 1
    ExactCopy image(damaged);
    HashSet<NoFingerprintDomain> set;
    EXPECT_FALSE(set.Deserialize(image.data(), image.size())) << damaged.size();
    set.Find(NoFingerprintDomain("abc", 3));  // usable, whatever it kept
    set.Add(NoFingerprintDomain("new", 3), true);
  }
}

// The letters a, b and c hash to 97, 98 and 99: buckets 1, 2 and 0 of 3.
TEST(HashSetImageTest, FailedSectionKeepsWhatItRead) {
  const std::string bytes(
      "3,0\0"
      "1x\0c\0\0"
      "1x\0a\0"
      "1x",
      17);
  ExactCopy image(bytes);
  HashSet<NoFingerprintDomain> set;
  EXPECT_FALSE(set.Deserialize(image.data(), image.size()));
  EXPECT_EQ(set.bucketCount, 3u);
  EXPECT_EQ(set.elementCount, 2u);

  const std::string empty("3,1\0\0\0\0", 7);
  EXPECT_TRUE(set.Deserialize(empty.data(), empty.size()));
  EXPECT_EQ(set.bucketCount, 3u);
  EXPECT_EQ(set.elementCount, 0u);
  EXPECT_TRUE(set.allowDuplicates);
}

}  // namespace
}  // namespace tessul
