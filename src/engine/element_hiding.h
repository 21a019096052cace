// ElementHiding: which element-hiding selectors apply on a page. It indexes
// the engine's element-hiding rules (##) and their exceptions (#@#) by the
// domains they name, prepares the selectors of the rules that name no domain
// once, and keeps what the engine's stores lack: the exception rules that
// turn hiding off on whole pages ($elemhide, $generichide), which request
// matching drops, and the element-hiding rules of lines too long for the
// line parser (parseLongElementHidingRule).
//
// A rule D##S applies on host H when D names no domain; or when H is or is
// under an included domain of D and under none of its excluded ('~')
// domains; a D of excluded domains only applies everywhere but under them.
// A domain "name.*" stands for name under any public suffix. An exception
// D#@#S that applies on H by the same test cancels every rule of selector S
// there. An exception rule with $elemhide that matches the page's URL as a
// document request turns all hiding off on the page; with $generichide, the
// rules that name no included domain.
#ifndef TESSUL_ENGINE_ELEMENT_HIDING_H_
#define TESSUL_ENGINE_ELEMENT_HIDING_H_

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/tessul_client.h"
#include "filter/filter.h"

namespace tessul {

class ElementHiding {
 public:
  // Whether a rule that parsing drops turns hiding off on the pages it
  // matches: an exception rule with $elemhide or $generichide and no other
  // option the engine cannot honour.
  static bool isPageException(const Filter& rule);

  // Keeps a page exception (isPageException); `rule` is left empty. Kept
  // until clear(); build() indexes it.
  void keepPageException(Filter* rule);

  // Keeps an element-hiding rule or exception that the engine's array
  // lacks; `rule` is left empty. It stands in the list before the rule at
  // `arrayPosition` of the array (after the last when that is the count).
  // Kept until clear().
  void keepLongRule(Filter* rule, int32_t arrayPosition);

  // Indexes `count` element-hiding rules and exceptions, in list order, with
  // the rules and page exceptions kept. The rules must stay where they are
  // until the next build() or clear().
  void build(const Filter* rules, int32_t count);

  // Forgets the index and the page exceptions.
  void clear();

  // The selectors that apply on `pageUrl`, each once, in list order
  // (see TessulClient::hidingSelectors). Rules with a tag= option take
  // part only while `enabledTags` holds their tag.
  std::vector<std::string_view> selectorsFor(
      std::string_view pageUrl, HidingScope scope,
      const std::set<std::string, std::less<>>& enabledTags);

  // How many page exceptions are kept.
  size_t pageExceptionCount() const { return pageExceptions_.size(); }

 private:
  struct Page;
  // A run of positions in one of the vectors below.
  struct Run {
    uint32_t begin;
    uint32_t end;
  };
  struct Rule {
    bool namesNoDomain() const {
      return !namesIncluded && excluded.begin == excluded.end;
    }

    std::string_view selector;
    uint32_t selectorId;  // the same for rules of the same selector
    Run excluded;         // its '~' domains, in excluded_
    bool exception;       // #@#
    bool hides;           // false: a scriptlet or the like, never returned
    bool namesIncluded;   // some domain without '~'
  };
  struct LongRule {
    std::unique_ptr<Filter> rule;
    int32_t arrayPosition;  // of the array rule it stands before
  };
  struct PageException {
    std::unique_ptr<Filter> rule;  // asks for documents, as the page is
    bool offAll;                   // $elemhide; else $generichide
  };

  // Files the rule's domains: included ones into `named`, excluded ones
  // into excluded_.
  void readDomains(const char* domainText, uint32_t position,
                   std::vector<std::pair<std::string_view, uint32_t>>* named);
  // byDomain_ and ruleLists_ from (domain, rule position) pairs.
  void indexByDomain(std::vector<std::pair<std::string_view, uint32_t>> named);
  // What the page exceptions say of a page: no hiding, no generic hiding.
  void checkPageExceptions(const Page& page,
                           const std::set<std::string, std::less<>>& tags,
                           bool* noHiding, bool* noGeneric);
  // The rules that name the page's host or a domain it is under.
  void findSiteRules(const Page& page);
  bool appliesOn(const Rule& rule, const Page& page) const;
  void emit(uint32_t position, std::vector<std::string_view>* selectors);

  std::vector<Rule> rules_;  // in list order: the array and the long rules
  std::vector<std::string_view> excluded_;  // the '~' domains of the rules
  // Rule positions, a sorted run for each domain that rules name.
  std::vector<uint32_t> ruleLists_;
  std::unordered_map<std::string_view, Run> byDomain_;
  bool hasEntityDomains_ = false;  // some rule names a "name.*"
  // Positions of the rules that name no domain (each selector once, the
  // ones that a domain-less exception cancels left out), and of the rules
  // that name excluded domains only.
  std::vector<uint32_t> generic_;
  std::vector<uint32_t> excludedOnly_;
  std::vector<PageException> pageExceptions_;
  std::vector<LongRule> longRules_;  // in list order

  // Scratch of selectorsFor(), kept to spare allocations: the candidate
  // positions and, by selector, the query that last emitted or cancelled it.
  std::vector<uint32_t> candidates_;
  std::vector<uint32_t> emitted_;
  std::vector<uint32_t> cancelled_;
  uint32_t query_ = 0;
  std::string entityKey_;
};

}  // namespace tessul

#endif  // TESSUL_ENGINE_ELEMENT_HIDING_H_
