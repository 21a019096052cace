// Generates the built-in bad-fingerprint table (src/filter/bad_fingerprints.cc)
// from real request URLs and the bundled filter lists.
//
// A fingerprint Bloom filter raises a false alarm whenever some six-byte
// window of a URL happens to be a rule's fingerprint. Windows that occur in
// many real URLs are therefore excluded from fingerprints. The table holds
// the windows found in the most request URLs; among equally frequent ones it
// prefers windows that fewer rules could use as their fingerprint, so that
// few rules lose their only one. Ties are broken by byte order, which makes
// the output deterministic.
//
// Usage: gen_bad_fingerprints OUTPUT.cc LIST... -- REQUESTS.tsv...

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "filter/bad_fingerprints.h"
#include "filter/filter_parser.h"
#include "filter/fingerprint.h"

namespace {

using tessul::Filter;

constexpr int kWindow = tessul::kFingerprintSize;

// Entries that every table has, whatever the corpus says.
const char* const kRequiredEntries[] = {"banner", "direct", "advert",
                                        "dverts", "/pixel", "/click",
                                        "/track", "/stati", "300x25"};

// Windows that must stay usable as fingerprints: the engine's tests and
// documentation use them as examples of fingerprints.
const char* const kKeptUsable[] = {"abcdef", "cdefgh", "bcdefg", "ttpabc",
                                   "wwabcd", "anner1", "/qwert"};

bool isTableCharacter(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || strchr("#%&()+,-./:;=?[]_~", c) != nullptr;
}

// A window that could be a table entry: allowed characters only, and no
// "http" or "www" (such windows are never fingerprints anyway).
bool isCandidateWindow(const std::string& window) {
  for (unsigned char c : window) {
    if (!isTableCharacter(c)) return false;
  }
  return window.find("http") == std::string::npos &&
         window.find("www") == std::string::npos;
}

// Windows a fingerprint could be taken from: six bytes without '*', '^',
// '|' and without "http" or "www".
std::set<std::string> fingerprintWindows(const char* text) {
  std::set<std::string> windows;
  const size_t length = strlen(text);
  for (size_t i = 0; i + kWindow <= length; ++i) {
    std::string window(text + i, kWindow);
    if (window.find_first_of("*^|") != std::string::npos) continue;
    if (window.find("http") != std::string::npos ||
        window.find("www") != std::string::npos) {
      continue;
    }
    windows.insert(window);
  }
  return windows;
}

std::string readFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << path << "\n";
    exit(1);
  }
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> readUrls(const std::vector<const char*>& paths) {
  std::vector<std::string> urls;
  for (const char* path : paths) {
    std::istringstream lines(readFile(path));
    std::string line;
    while (std::getline(lines, line)) {
      if (line.empty() || line[0] == '#') continue;
      urls.push_back(line.substr(0, line.find('\t')));
    }
  }
  return urls;
}

// Rules that are kept in a rule array and need a fingerprint to be kept out
// of the arrays scanned for every request: network rules that are neither
// host-only nor regex, and not dropped.
std::vector<std::set<std::string>> ruleWindows(
    const std::vector<const char*>& lists) {
  std::vector<std::set<std::string>> rules;
  for (const char* path : lists) {
    std::istringstream lines(readFile(path));
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      Filter rule;
      tessul::parseFilter(line.c_str(), &rule);
      const uint32_t kind = rule.type;
      const uint32_t notNetwork =
          tessul::TypeElementHide | tessul::TypeElementHideException |
          tessul::TypeComment | tessul::TypeEmpty | tessul::TypeHtmlRule |
          tessul::TypeRegex | tessul::TypeHostOnly;
      if ((kind & notNetwork) || rule.pattern == nullptr ||
          rule.hasUnsupportedOptions()) {
        continue;
      }
      rules.push_back(fingerprintWindows(rule.pattern));
    }
  }
  return rules;
}

int rulesWithoutFingerprint(const std::vector<std::set<std::string>>& rules,
                            const std::set<std::string>& table) {
  int count = 0;
  for (const auto& windows : rules) {
    bool usable = false;
    for (const std::string& window : windows) {
      if (!table.count(window)) {
        usable = true;
        break;
      }
    }
    count += !usable;
  }
  return count;
}

void writeTable(const char* path, const std::vector<std::string>& table) {
  std::ofstream out(path, std::ios::binary);
  out << "// Generated by scripts/gen-bad-fingerprints from the request logs "
         "and filter\n// lists in data/. Do not edit.\n\n"
         "#include \"filter/bad_fingerprints.h\"\n\nnamespace tessul {\n\n"
         "const char* const badFingerprints[kBadFingerprintCount] = {\n";
  for (size_t i = 0; i < table.size(); i += 6) {
    out << "   ";
    for (size_t j = i; j < std::min(table.size(), i + 6); ++j) {
      out << " \"";
      for (char c : table[j]) {
        if (c == '?') out << '\\';  // no trigraphs
        out << c;
      }
      out << "\",";
    }
    out << "\n";
  }
  out << "};\n\n}  // namespace tessul\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> lists, requestFiles;
  bool afterSeparator = false;
  for (int i = 2; i < argc; ++i) {
    if (strcmp(argv[i], "--") == 0) {
      afterSeparator = true;
    } else {
      (afterSeparator ? requestFiles : lists).push_back(argv[i]);
    }
  }
  if (argc < 2 || lists.empty() || requestFiles.empty()) {
    std::cerr << "usage: gen_bad_fingerprints OUTPUT.cc LIST... -- "
                 "REQUESTS.tsv...\n";
    return 2;
  }

  const std::vector<std::string> urls = readUrls(requestFiles);
  std::map<std::string, int> urlFrequency;  // URLs containing the window
  for (const std::string& url : urls) {
    std::set<std::string> seen;
    for (size_t i = 0; i + kWindow <= url.size(); ++i) {
      std::string window = url.substr(i, kWindow);
      if (isCandidateWindow(window)) seen.insert(window);
    }
    for (const std::string& window : seen) ++urlFrequency[window];
  }

  const std::vector<std::set<std::string>> rules = ruleWindows(lists);
  std::map<std::string, int> ruleUses;  // rules that could use the window
  for (const auto& windows : rules) {
    for (const std::string& window : windows) ++ruleUses[window];
  }

  const std::set<std::string> keptUsable(std::begin(kKeptUsable),
                                         std::end(kKeptUsable));
  std::vector<std::string> table(std::begin(kRequiredEntries),
                                 std::end(kRequiredEntries));
  std::set<std::string> chosen(table.begin(), table.end());
  std::vector<std::string> ranked;
  for (const auto& entry : urlFrequency) {
    if (!chosen.count(entry.first) && !keptUsable.count(entry.first)) {
      ranked.push_back(entry.first);
    }
  }
  std::sort(ranked.begin(), ranked.end(),
            [&](const std::string& a, const std::string& b) {
              const int frequencyA = urlFrequency[a], frequencyB = urlFrequency[b];
              if (frequencyA != frequencyB) return frequencyA > frequencyB;
              const int usesA = ruleUses[a], usesB = ruleUses[b];
              if (usesA != usesB) return usesA < usesB;
              return a < b;
            });
  for (const std::string& window : ranked) {
    if (table.size() == static_cast<size_t>(tessul::kBadFingerprintCount)) break;
    table.push_back(window);
    chosen.insert(window);
  }
  if (table.size() != static_cast<size_t>(tessul::kBadFingerprintCount)) {
    std::cerr << "the corpus has only " << table.size()
              << " distinct windows; need " << tessul::kBadFingerprintCount
              << "\n";
    return 1;
  }

  int urlsHit = 0;
  for (const std::string& url : urls) {
    for (size_t i = 0; i + kWindow <= url.size(); ++i) {
      if (chosen.count(url.substr(i, kWindow))) {
        ++urlsHit;
        break;
      }
    }
  }
  const int lowestFrequency = urlFrequency[table.back()];
  writeTable(argv[1], table);
  printf("request URLs: %zu; with at least one table window: %d (%.1f%%)\n",
         urls.size(), urlsHit, 100.0 * urlsHit / urls.size());
  printf("table windows found in at least %d URLs\n", lowestFrequency);
  printf("rules that need a fingerprint: %zu; left without one: %d "
         "(%d with an empty table)\n",
         rules.size(), rulesWithoutFingerprint(rules, chosen),
         rulesWithoutFingerprint(rules, {}));
  return 0;
}
