#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filter/public_suffix.h"

namespace tessul {
namespace {

// The hosts are passed in buffers of their exact size (no terminator), so
// that a sanitizer build catches any read past them.
std::vector<char> exactCopy(const std::string& host) {
  return std::vector<char>(host.begin(), host.end());
}

int offsetOf(const std::string& host) {
  const std::vector<char> bytes = exactCopy(host);
  return registrableDomainOffset(bytes.data(), static_cast<int>(bytes.size()));
}

bool thirdParty(const std::string& page, const std::string& request) {
  const std::vector<char> pageBytes = exactCopy(page);
  const std::vector<char> requestBytes = exactCopy(request);
  return isThirdPartySite(pageBytes.data(), static_cast<int>(pageBytes.size()),
                          requestBytes.data(),
                          static_cast<int>(requestBytes.size()));
}

struct SiteCase {
  const char* host;
  const char* site;  // from where the registrable domain starts, to the end
};

const SiteCase kSiteCases[] = {
    // Normal rules, the longest winning.
    {"a.b.co.uk", "b.co.uk"},
    {"b.co.uk", "b.co.uk"},
    {"www.nownews.com", "nownews.com"},
    {"ad2018.nownews.com", "nownews.com"},
    {"kawasaki.jp", "kawasaki.jp"},
    // The private section.
    {"user.github.io", "user.github.io"},
    {"a.user.github.io", "user.github.io"},
    {"x.y.bucket.s3.eu-central-1.amazonaws.com",
     "bucket.s3.eu-central-1.amazonaws.com"},
    // Only suffixes of rules, not rules themselves: com decides.
    {"a.b.amazonaws.com", "amazonaws.com"},
    {"bucket.s3.amazonaws.com", "bucket.s3.amazonaws.com"},
    // Wildcard rules (*.ck, *.kawasaki.jp, *.compute.amazonaws.com).
    {"b.a.ck", "b.a.ck"},
    {"c.b.a.ck", "b.a.ck"},
    {"c.b.a.kawasaki.jp", "b.a.kawasaki.jp"},
    {"x.ec2.us-west-1.compute.amazonaws.com",
     "ec2.us-west-1.compute.amazonaws.com"},
    // Exception rules (!www.ck, !city.kawasaki.jp) win over the wildcards.
    {"www.ck", "www.ck"},
    {"a.b.www.ck", "www.ck"},
    {"a.city.kawasaki.jp", "city.kawasaki.jp"},
    // Letter case, and one trailing dot.
    {"A.B.CO.UK", "B.CO.UK"},
    {"Ads.User.GitHub.IO", "User.GitHub.IO"},
    {"A.B.WWW.CK", "WWW.CK"},
    {"a.b.co.uk.", "b.co.uk."},
    // Names that are not ASCII, as listed and in punycode (xn--).
    {"www.shop.\xE5\x85\xAC\xE5\x8F\xB8.cn",
     "shop.\xE5\x85\xAC\xE5\x8F\xB8.cn"},
    {"www.shop.xn--55qx5d.cn", "shop.xn--55qx5d.cn"},
    {"a.b.xn--gmqw5a.xn--j6w193g", "b.xn--gmqw5a.xn--j6w193g"},
    // Whole hosts: public suffixes themselves ...
    {"co.uk", "co.uk"},
    {"uk", "uk"},
    {"github.io", "github.io"},
    {"a.ck", "a.ck"},
    {"ck", "ck"},
    {"x.compute.amazonaws.com", "x.compute.amazonaws.com"},
    {"s3.amazonaws.com", "s3.amazonaws.com"},
    {"CO.UK.", "CO.UK."},
    // ... unlisted top-level labels ...
    {"a.b.printer.local", "a.b.printer.local"},
    {"www.localhost", "www.localhost"},
    {"example", "example"},
    {"a.b.co.uk..", "a.b.co.uk.."},
    // ... IP addresses ...
    {"192.168.0.1", "192.168.0.1"},
    {"10.0.0.com.1", "10.0.0.com.1"},
    {"[2001:db8::1]", "[2001:db8::1]"},
    {"2001:db8::1", "2001:db8::1"},
    {"::ffff:10.0.0.1", "::ffff:10.0.0.1"},
    {"a.co.uk:8080", "a.co.uk:8080"},
    // ... and the empty host.
    {"", ""},
    {".", "."},
};

TEST(PublicSuffixTest, RegistrableDomainFollowsTheListsRules) {
  for (const SiteCase& c : kSiteCases) {
    const std::string host = c.host;
    const int offset = offsetOf(host);
    ASSERT_GE(offset, 0) << host;
    EXPECT_EQ(host.substr(offset), c.site) << host;
  }
}

TEST(PublicSuffixTest, ReadsOnlyTheGivenBytes) {
  const char buffer[] = "a.b.co.ukx.example.org";
  EXPECT_EQ(registrableDomainOffset(buffer, 9), 2);
  EXPECT_EQ(registrableDomainOffset(nullptr, 0), 0);
  EXPECT_EQ(registrableDomainOffset(nullptr, -1), 0);
  EXPECT_FALSE(isThirdPartySite(buffer, 9, "B.Co.Uk", 7));
  EXPECT_FALSE(isThirdPartySite(nullptr, 0, nullptr, -3));
  // A label longer than any listed one can be, and than 255 bytes.
  const std::string longLabel = std::string(300, 'a') + ".b.co.uk";
  EXPECT_EQ(offsetOf(longLabel), 301);
  EXPECT_EQ(offsetOf(std::string(300, 'a')), 0);
}

TEST(PublicSuffixTest, PartyIsDecidedByRegistrableDomain) {
  const struct {
    const char* page;
    const char* request;
    bool thirdParty;
  } cases[] = {
      {"www.nownews.com", "ad2018.nownews.com", false},
      {"www.blogfa.com", "static.blogfa.com", false},
      {"shop.rozetka.com.ua", "img.rozetka.com.ua", false},
      {"WWW.Example.COM", "cdn.example.com", false},
      {"example.com.", "www.example.com", false},
      {"a.user.github.io", "user.github.io", false},
      {"a.co.uk", "b.co.uk", true},
      {"co.uk", "a.co.uk", true},
      {"co.uk", "CO.UK", false},
      {"user.github.io", "other.github.io", true},
      {"example.com", "example.org", true},
      {"example.com", "xample.com", true},
      {"example.com", "example.com.evil", true},
      {"b.a.ck", "c.a.ck", true},
      {"a.www.ck", "b.www.ck", false},
      {"192.168.0.1", "192.168.0.1", false},
      {"192.168.0.1", "192.168.0.2", true},
      {"a.localhost", "b.localhost", true},
      {"localhost", "LOCALHOST", false},
      {"", "", false},
      {"", "example.com", true},
      {"example.com", "", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(thirdParty(c.page, c.request), c.thirdParty)
        << c.page << " / " << c.request;
    EXPECT_EQ(thirdParty(c.request, c.page), c.thirdParty)
        << c.request << " / " << c.page;
  }
}

std::string lowerSite(std::string host) {
  host = host.substr(offsetOf(host));
  if (!host.empty() && host.back() == '.') host.pop_back();
  for (char& c : host) c = (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
  return host;
}

// The party of every two hosts of the table above is whether their
// registrable domains differ, though most answers need only one lookup.
TEST(PublicSuffixTest, PartyOfAnyTwoHostsComparesTheirSites) {
  std::vector<std::string> hosts;
  for (const SiteCase& c : kSiteCases) hosts.push_back(c.host);
  for (const char* more : {"nownews.com", "www.amazonaws.com", "amazonaws.com",
                           "x.b.a.ck", "b.www.ck", "github.io"}) {
    hosts.push_back(more);
  }
  for (const std::string& page : hosts) {
    for (const std::string& request : hosts) {
      EXPECT_EQ(thirdParty(page, request),
                lowerSite(page) != lowerSite(request))
          << page << " / " << request;
    }
  }
}

// Every host of up to five bytes from an alphabet of the characters that
// steer the lookup: the answer is a label start, and a host is its own site.
TEST(PublicSuffixTest, AnyShortHostHasALabelStartAndIsItsOwnSite) {
  const std::string alphabet = ".aCk1:[";
  std::string host;
  auto check = [&] {
    const int offset = offsetOf(host);
    ASSERT_GE(offset, 0) << host;
    ASSERT_LE(offset, static_cast<int>(host.size())) << host;
    ASSERT_TRUE(offset == 0 || host[offset - 1] == '.') << host;
    ASSERT_FALSE(thirdParty(host, host)) << host;
  };
  for (int length = 0; length <= 5; ++length) {
    std::string digits(length, 0);
    for (;;) {
      host.clear();
      for (char digit : digits) host += alphabet[digit];
      check();
      int i = 0;
      while (i < length && ++digits[i] == static_cast<char>(alphabet.size())) {
        digits[i++] = 0;
      }
      if (i == length) break;
    }
  }
}

}  // namespace
}  // namespace tessul
