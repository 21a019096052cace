#include "filter/filter_parser.h"

#include <algorithm>
#include <cstring>

#include "filter/fingerprint.h"
#include "filter/list_lines.h"
#include "filter/regex_program.h"
#include "filter/rule_class.h"
#include "filter/unknown_options.h"
#include "filter/url_text.h"
#include "hashing/bloom_filter.h"
#include "hashing/owned_text.h"

namespace tessul {

namespace {

constexpr int kPatternBufferSize = 2048;
// Scan positions beyond this index abandon the line, so the pattern and its
// terminator always fit the buffer.
constexpr int kMaxScanIndex = kPatternBufferSize - 2;

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

const char* findLineEnd(const char* p) {
  while (!isLineEnd(*p)) ++p;
  return p;
}

void lowerAscii(char* text, int length) {
  for (int i = 0; i < length; ++i) {
    if (text[i] >= 'A' && text[i] <= 'Z') text[i] = static_cast<char>(text[i] | 0x20);
  }
}

char* copyLowerText(const char* text, int length) {
  char* copy = copyText(text, length);
  lowerAscii(copy, length);
  return copy;
}

// Where the closing slash of a regex rule that has options after it
// ("/body/$script") lies in [start, end): the last "/$" whose options hold
// no '/'. Null when there is none.
const char* findRegexWithOptions(const char* start, const char* end) {
  for (const char* p = end - 2; p > start; --p) {
    if (*p == '/' && p[1] == '$') return p;
    if (*p == '/') return nullptr;
  }
  return nullptr;
}

// The stores that parseFilter files into; any may be null.
struct Stores {
  BloomFilter* bloomFilter;
  BloomFilter* exceptionBloomFilter;
  HashSet<Filter>* hostSet;
  HashSet<Filter>* exceptionHostSet;
  HashSet<CosmeticFilter>* cosmeticFilters;
};

// Files a host-only rule. A set that allows duplicates keeps every distinct
// rule under a host, so that e.g. ||a.test^$popup does not hide a later
// ||a.test^; a rule identical to a stored one is kept once.
void addHostOnlyRule(HashSet<Filter>* set, const Filter& rule) {
  set->AddUnless(rule,
                 [&](const Filter& stored) { return stored.isSameRule(rule); });
}

// One left-to-right pass over a line, driven by a small state machine.
class LineParser {
 public:
  LineParser(const char* input, const char* end, Filter* filter,
             bool preserveRules, RuleNotes* notes, MatchingMode mode)
      : input_(input),
        end_(end),
        filter_(filter),
        preserveRules_(preserveRules),
        notes_(notes),
        compatible_(mode == MatchingMode::kCompatible),
        position_(input),
        ruleStart_(input) {}

  // Scans the line. Returns false when the line ended the parse early
  // (comment, regex, or too long): the filter then gets no pattern.
  bool scan();

  // Stores the pattern (and rule text). Returns false for an empty line,
  // which has none.
  bool finish();

  // Files the finished rule of class `rule` into the stores;
  // `fingerprint` is the one classifyRule found for a fingerprinted rule.
  void file(const Stores& stores, RuleClass rule, const char* fingerprint);

 private:
  enum State {
    StateStart,           // nothing but blanks yet
    StateAfterException,  // @@ consumed at the start
    StateAfterBar,        // one | consumed at the start
    StateAfterAt,         // one @ consumed at the start
    StatePattern,
    StateVerbatim,        // selector or HTML rule body: copied as is
  };

  bool handle(char c);
  void append(char c) { buffer_[length_++] = c; }
  void appendAndAdvance() { append(*position_++); }
  void beginVerbatim(FilterType kind, int markerLength);
  void beginOptions();
  bool isRegex();
  void checkRegex();
  void lowerCompatibly();
  void lowerDomains();
  void beginHostAnchor();
  void fileSelector(HashSet<CosmeticFilter>* cosmeticFilters);
  bool fileHostOnlyRule(const Stores& stores, RuleSide side);

  const char* const input_;
  const char* const end_;
  Filter* const filter_;
  const bool preserveRules_;
  RuleNotes* const notes_;
  const bool compatible_;
  const char* position_;
  const char* ruleStart_;        // first non-blank character
  const char* ruleEnd_ = nullptr;
  State state_ = StateStart;
  bool done_ = false;            // options were read
  // Only the first length_ bytes are ever read, so it is not zeroed.
  char buffer_[kPatternBufferSize];
  int length_ = 0;
};

bool LineParser::scan() {
  while (!done_ && position_ < end_) {
    if (position_ - input_ > kMaxScanIndex) return false;
    if (state_ == StateVerbatim) {
      appendAndAdvance();
      continue;
    }
    if (state_ == StateAfterBar) {
      if (*position_ == '|') {
        beginHostAnchor();
        continue;
      }
      filter_->type |= TypeLeftAnchor;
      state_ = StatePattern;
    }
    if (!handle(*position_)) return false;
  }
  if (!done_) ruleEnd_ = position_;
  return true;
}

// Start, after @@, after @ and in the pattern. Returns false at a comment or
// a regex rule, which end the parse.
bool LineParser::handle(char c) {
  const bool atStart = state_ == StateStart || state_ == StateAfterException;
  if (isBlank(c)) {
    if (state_ == StateStart) {
      ruleStart_ = ++position_;
    } else {
      appendAndAdvance();
    }
    return true;
  }
  switch (c) {
    case '!':
    case '[':
      if (atStart) {
        filter_->type = TypeComment;
        return false;
      }
      appendAndAdvance();
      return true;
    case '#': {
      const char next = position_[1];
      if (next == '#' || next == '@') {
        beginVerbatim(next == '#' ? TypeElementHide : TypeElementHideException,
                      2);
        return true;
      }
      if (isBlank(next) && atStart) {
        filter_->type = TypeComment;
        return false;
      }
      appendAndAdvance();
      state_ = StatePattern;
      return true;
    }
    case '$':
      if (position_[1] == '$') {
        beginVerbatim(TypeHtmlRule, 2);
      } else {
        beginOptions();
      }
      return true;
    case '/':
      if (atStart && isRegex()) return false;
      appendAndAdvance();
      if (atStart) state_ = StatePattern;
      return true;
    case '@':
      if (state_ == StatePattern) {
        appendAndAdvance();
      } else if (state_ == StateAfterAt) {
        filter_->type = TypeException;
        ++position_;
        state_ = StateAfterException;
      } else {
        ++position_;
        state_ = StateAfterAt;
      }
      return true;
    case '|':
      ++position_;
      if (atStart) {
        state_ = StateAfterBar;
      } else {
        filter_->type |= TypeRightAnchor;  // never stored in the pattern
        state_ = StatePattern;
      }
      return true;
    default:
      appendAndAdvance();
      state_ = StatePattern;
      return true;
  }
}

// ## #@ $$: what was appended so far is the domain prefix; the rest of the
// line is copied verbatim as the selector or HTML rule body.
void LineParser::beginVerbatim(FilterType kind, int markerLength) {
  if (length_ > 0) filter_->domainText = copyText(buffer_, length_);
  filter_->type = kind;
  position_ += markerLength;
  // The exception marker may be written #@#, like the ## it cancels.
  if (kind == TypeElementHideException && position_ < end_ &&
      *position_ == '#') {
    ++position_;
  }
  length_ = 0;
  state_ = StateVerbatim;
}

void LineParser::beginOptions() {
  ruleEnd_ = findLineEnd(position_);
  filter_->parseOptions(position_ + 1, notes_,
                        compatible_ ? MatchingMode::kCompatible
                                    : MatchingMode::kExact);
  done_ = true;
}

// A '/' at the start of a line that also ends in '/' makes a regex rule; in
// compatible mode, so does one whose closing '/' options follow.
bool LineParser::isRegex() {
  const char* closing = nullptr;
  if (end_ - position_ >= 2 && end_[-1] == '/') {
    closing = end_ - 1;
  } else if (compatible_) {
    closing = findRegexWithOptions(position_, end_);
  }
  if (closing == nullptr) return false;
  const size_t bodyLength = closing - position_ - 1;
  filter_->pattern = copyText(position_ + 1, bodyLength);
  if (preserveRules_) filter_->sourceText = copyText(position_ + 1, bodyLength);
  // Compatible mode keeps the exception side of "@@/body/".
  filter_->type = compatible_ ? TypeRegex | (filter_->type & TypeException)
                              : TypeRegex;
  if (closing + 1 < end_) {
    position_ = closing + 1;
    beginOptions();
  }
  if (compatible_) checkRegex();
  return true;
}

// A regex rule that cannot be compiled is dropped, with a note.
void LineParser::checkRegex() {
  RegexProgram program;
  const char* refusal = nullptr;
  const bool matchCase = (filter_->options & OptMatchCase) != OptNone;
  if (RegexProgram::compile(filter_->pattern,
                            static_cast<int>(strlen(filter_->pattern)),
                            matchCase, &program, &refusal)) {
    lowerDomains();
    return;
  }
  filter_->options |= OptUnknown;
  if (notes_ != nullptr) notes_->refusedRegex(refusal);
}

// At the second '|' of a leading ||: the anchor host runs to the first
// separator. The host is then scanned again as part of the pattern.
void LineParser::beginHostAnchor() {
  filter_->type |= TypeHostAnchor;
  const char* host = position_ + 1;
  int hostLength = findFirstSeparatorChar(host, end_);
  if (hostLength >= 1 && host[hostLength - 1] == '|') --hostLength;
  filter_->anchorHost = compatible_ ? copyLowerText(host, hostLength)
                                    : copyText(host, hostLength);
  const char after = host[hostLength];
  // Compatible mode reads '*' and a trailing '.' in the host as pattern
  // text (yandex.*, adservice.google.), which no host set key can be.
  const bool patternHost =
      compatible_ && hostLength >= 1 &&
      (std::find(host, host + hostLength, '*') != host + hostLength ||
       host[hostLength - 1] == '.');
  const bool hostOnly =
      !patternHost &&
      (isLineEnd(after) || after == '$' ||
       (after == '^' && (isLineEnd(host[hostLength + 1]) ||
                         host[hostLength + 1] == '$')));
  if (hostOnly) filter_->type |= TypeHostOnly;
  position_ = host;
  state_ = StatePattern;
}

// Compatible mode keeps a rule made of options alone ("$ping,third-party"),
// which matches every request its options allow.
bool LineParser::finish() {
  if (state_ == StateStart && !(compatible_ && done_)) {
    filter_->type = TypeEmpty;
    return false;
  }
  if (preserveRules_) {
    filter_->sourceText = copyText(ruleStart_, ruleEnd_ - ruleStart_);
  }
  if (compatible_) lowerCompatibly();
  filter_->pattern = copyText(buffer_, length_);
  return true;
}

// Request rules compare in lower case; element hiding and HTML rules keep
// their text.
void LineParser::lowerCompatibly() {
  constexpr FilterType kVerbatim =
      TypeElementHide | TypeElementHideException | TypeHtmlRule;
  if ((filter_->type & kVerbatim) != TypeNone) return;
  if ((filter_->options & OptMatchCase) == OptNone) lowerAscii(buffer_, length_);
  lowerDomains();
}

void LineParser::lowerDomains() {
  if (filter_->domainText != nullptr) {
    char* lowered = copyLowerText(filter_->domainText,
                                  static_cast<int>(strlen(filter_->domainText)));
    delete[] filter_->domainText;
    filter_->domainText = lowered;
  }
}

// Rules with unsupported options have no place: the engine drops them, and
// they must leave no trace in its stores.
void LineParser::file(const Stores& stores, RuleClass rule,
                      const char* fingerprint) {
  char ownFingerprint[kFingerprintSize + 1];
  switch (rule.place) {
    case RulePlace::kElementHide:
      fileSelector(stores.cosmeticFilters);
      return;
    case RulePlace::kHostOnly:
      if (fileHostOnlyRule(stores, rule.side)) return;
      [[fallthrough]];  // without its host set, filed by its fingerprint
    case RulePlace::kHtml:
      // classifyRule looks for no fingerprint of these, but they have one
      // like any rule.
      if (!findFingerprint(ownFingerprint, *filter_)) return;
      fingerprint = ownFingerprint;
      break;
    case RulePlace::kFingerprinted:
      break;
    default:
      return;
  }
  if (rule.side == RuleSide::kException && stores.exceptionBloomFilter) {
    stores.exceptionBloomFilter->add(fingerprint, kFingerprintSize);
  } else if (stores.bloomFilter) {
    stores.bloomFilter->add(fingerprint, kFingerprintSize);
  }
}

// Generic selectors (no domains) are collected; an exception with domains
// takes its selector out again.
void LineParser::fileSelector(HashSet<CosmeticFilter>* cosmeticFilters) {
  if (cosmeticFilters == nullptr) return;
  if (filter_->type == TypeElementHideException) {
    if (filter_->domainText) {
      cosmeticFilters->Remove(CosmeticFilter(filter_->pattern));
    }
  } else if (!filter_->domainText) {
    cosmeticFilters->Add(CosmeticFilter(filter_->pattern), true);
  }
}

// An exception goes to the exception host set when the caller gave the
// exception stores (the exception Bloom filter says so), any other rule to
// the host set. False when there is no set to file it in.
bool LineParser::fileHostOnlyRule(const Stores& stores, RuleSide side) {
  if (side == RuleSide::kException && stores.exceptionBloomFilter) {
    if (stores.exceptionHostSet) {
      addHostOnlyRule(stores.exceptionHostSet, *filter_);
    }
    return true;
  }
  if (stores.hostSet == nullptr) return false;
  addHostOnlyRule(stores.hostSet, *filter_);
  return true;
}

// The characters of the domain list before an element-hiding marker: any
// byte but those that make a line another kind of rule or end it early.
bool isDomainListByte(char c) {
  return !isBlank(c) && !isLineEnd(c) && std::strchr("!#$/@[|", c) == nullptr;
}

}  // namespace

RuleClass parseFilter(const char* input, const char* end, Filter* filter,
                      BloomFilter* bloomFilter,
                      BloomFilter* exceptionBloomFilter,
                      HashSet<Filter>* hostSet,
                      HashSet<Filter>* exceptionHostSet,
                      HashSet<CosmeticFilter>* cosmeticFilters,
                      bool preserveRules, RuleNotes* notes,
                      MatchingMode mode) {
  LineParser parser(input, end, filter, preserveRules, notes, mode);
  const bool finished = parser.scan() && parser.finish();
  char fingerprint[kFingerprintSize + 1];
  const RuleClass rule = classifyRule(*filter, fingerprint);
  if (finished) {
    parser.file({bloomFilter, exceptionBloomFilter, hostSet, exceptionHostSet,
                 cosmeticFilters},
                rule, fingerprint);
  }
  return rule;
}

RuleClass parseFilter(const char* input, Filter* filter,
                      BloomFilter* bloomFilter,
                      BloomFilter* exceptionBloomFilter,
                      HashSet<Filter>* hostSet,
                      HashSet<Filter>* exceptionHostSet,
                      HashSet<CosmeticFilter>* cosmeticFilters,
                      bool preserveRules, RuleNotes* notes,
                      MatchingMode mode) {
  return parseFilter(input, input + strlen(input), filter, bloomFilter,
                     exceptionBloomFilter, hostSet, exceptionHostSet,
                     cosmeticFilters, preserveRules, notes, mode);
}

bool parseLongElementHidingRule(const char* input, const char* end,
                                Filter* filter) {
  if (end - input <= kMaxScanIndex + 1) return false;
  const char* marker = input;
  while (marker < end && isDomainListByte(*marker)) ++marker;
  if (marker == input || end - marker < 2 || marker[0] != '#' ||
      (marker[1] != '#' && marker[1] != '@')) {
    return false;
  }
  const RuleClass rule = parseFilter(marker, end, filter);
  if (rule.place != RulePlace::kElementHide || filter->domainText != nullptr) {
    return false;
  }
  filter->domainText = copyText(input, marker - input);
  return true;
}

}  // namespace tessul
