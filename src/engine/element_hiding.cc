#include "engine/element_hiding.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "filter/public_suffix.h"
#include "filter/url_text.h"

namespace tessul {

namespace {

constexpr FilterOption kPageHidingOptions = OptElemHide | OptGenericHide;

// Rules written with an element-hiding marker that hide nothing: their text
// after the marker starts with one of these. Scriptlets (##+js(...)), HTML
// filters (##^...), and the exceptions of procedural (#@?#), style (#@$#,
// #@$?#) and script (#@%#) rules, whose markers the line parser reads as
// #@ followed by the rest.
constexpr std::string_view kNonHidingPrefixes[] = {"+js(", "^",   "?#",
                                                   "$#",   "$?#", "%#"};

bool hidesNothing(std::string_view selector) {
  if (selector.empty()) return true;
  // Most selectors differ from every prefix in their first byte.
  for (std::string_view prefix : kNonHidingPrefixes) {
    if (selector[0] == prefix[0] &&
        selector.substr(0, prefix.size()) == prefix) {
      return true;
    }
  }
  return false;
}

std::string_view textOf(const char* text, int32_t knownLength) {
  if (text == nullptr) return {};
  return {text,
          knownLength >= 0 ? static_cast<size_t>(knownLength) : strlen(text)};
}

// Whether `host` is `domain` or a subdomain of it.
bool isOrIsUnder(std::string_view host, std::string_view domain) {
  if (domain.empty() || host.size() < domain.size()) return false;
  const size_t start = host.size() - domain.size();
  return host.compare(start, domain.size(), domain) == 0 &&
         (start == 0 || host[start - 1] == '.');
}

constexpr std::string_view kEntitySuffix = ".*";

bool isEntity(std::string_view domain) {
  return domain.size() > kEntitySuffix.size() &&
         domain.substr(domain.size() - kEntitySuffix.size()) == kEntitySuffix;
}

// Calls visit(suffix) for the host and each suffix of it that starts after
// a '.'.
template <typename Visit>
void forEachDomainOf(std::string_view host, Visit visit) {
  if (host.empty()) return;
  visit(host);
  for (size_t dot = host.find('.'); dot != std::string_view::npos;
       dot = host.find('.', dot + 1)) {
    if (dot + 1 < host.size()) visit(host.substr(dot + 1));
  }
}

}  // namespace

// The page as the rules see it: its URL with the host in lower case, the
// host, and for "name.*" domains the host without its public suffix (empty
// when it has none).
struct ElementHiding::Page {
  explicit Page(std::string_view text) {
    if (text.find("://") == std::string_view::npos) {
      url = "https://";
      url += text;
      if (text.find('/') == std::string_view::npos) url += '/';
    } else {
      url = text;
    }
    int hostLen = 0;
    const char* hostStart = getUrlHost(url.c_str(), &hostLen);
    for (int i = 0; i < hostLen; ++i) {
      char& c = url[hostStart - url.c_str() + i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    hostText.assign(hostStart, hostLen);
    host = hostText;
    const std::string_view site =
        host.substr(registrableDomainOffset(host.data(), hostLen));
    const size_t dot = site.find('.');
    if (dot != std::string_view::npos) {
      entityHost = host.substr(0, host.size() - (site.size() - dot));
    }
  }

  // host and entityHost point into hostText.
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  bool isUnder(std::string_view domain) const {
    if (isEntity(domain)) {
      return isOrIsUnder(
          entityHost, domain.substr(0, domain.size() - kEntitySuffix.size()));
    }
    return isOrIsUnder(host, domain);
  }

  std::string url;
  std::string hostText;  // NUL-terminated, for the rules' domain= test
  std::string_view host;
  std::string_view entityHost;
};

bool ElementHiding::isPageException(const Filter& rule) {
  const FilterOption others = rule.options & ~kPageHidingOptions;
  const FilterOption types = rule.options & kRequestTypeMask;
  return (rule.type & TypeException) != TypeNone &&
         (rule.options & kPageHidingOptions) != OptNone &&
         (others & kUnsupportedMask) == OptNone && rule.pattern != nullptr &&
         (types == OptNone || (types & OptDocument) != OptNone);
}

// The kept rule asks for document requests, which the page is, and has its
// hiding options in `offAll` instead, so that Filter::matches tries it.
void ElementHiding::keepPageException(Filter* rule) {
  PageException kept{std::make_unique<Filter>(),
                     (rule->options & OptElemHide) != OptNone};
  kept.rule->swapData(rule);
  kept.rule->options = (kept.rule->options & ~kPageHidingOptions) | OptDocument;
  pageExceptions_.push_back(std::move(kept));
}

void ElementHiding::keepLongRule(Filter* rule, int32_t arrayPosition) {
  LongRule kept{std::make_unique<Filter>(), arrayPosition};
  kept.rule->swapData(rule);
  longRules_.push_back(std::move(kept));
}

void ElementHiding::clear() {
  ElementHiding empty;
  std::swap(*this, empty);
}

void ElementHiding::build(const Filter* rules, int32_t count) {
  std::vector<PageException> pageExceptions = std::move(pageExceptions_);
  std::vector<LongRule> longRules = std::move(longRules_);
  clear();
  pageExceptions_ = std::move(pageExceptions);
  longRules_ = std::move(longRules);
  // Without rules, selectorsFor() answers before it looks at anything.
  if (count <= 0 && longRules_.empty()) return;

  // The array's rules and the long ones, in list order.
  std::vector<const Filter*> inOrder;
  inOrder.reserve((count > 0 ? count : 0) + longRules_.size());
  auto longRule = longRules_.begin();
  for (int32_t i = 0; i < count; ++i) {
    for (; longRule != longRules_.end() && longRule->arrayPosition <= i;
         ++longRule) {
      inOrder.push_back(longRule->rule.get());
    }
    inOrder.push_back(&rules[i]);
  }
  for (; longRule != longRules_.end(); ++longRule) {
    inOrder.push_back(longRule->rule.get());
  }

  std::unordered_map<std::string_view, uint32_t> selectorIds;
  selectorIds.reserve(inOrder.size());
  std::vector<std::pair<std::string_view, uint32_t>> named;
  rules_.resize(inOrder.size());
  for (uint32_t i = 0; i < inOrder.size(); ++i) {
    const Filter& filter = *inOrder[i];
    Rule& rule = rules_[i];
    rule.selector = textOf(filter.pattern, filter.patternLen);
    rule.selectorId =
        selectorIds.emplace(rule.selector, selectorIds.size()).first->second;
    rule.exception = filter.type == TypeElementHideException;
    rule.hides = !hidesNothing(rule.selector);
    rule.namesIncluded = false;
    rule.excluded.begin = static_cast<uint32_t>(excluded_.size());
    if (rule.hides) readDomains(filter.domainText, i, &named);
    rule.excluded.end = static_cast<uint32_t>(excluded_.size());
  }

  std::vector<bool> cancelledEverywhere(selectorIds.size());
  for (uint32_t i = 0; i < rules_.size(); ++i) {
    const Rule& rule = rules_[i];
    if (!rule.hides) continue;
    if (rule.exception && rule.namesNoDomain()) {
      cancelledEverywhere[rule.selectorId] = true;
    } else if (!rule.namesIncluded && !rule.namesNoDomain()) {
      excludedOnly_.push_back(i);
    }
  }
  std::vector<bool> listed(selectorIds.size());
  for (uint32_t i = 0; i < rules_.size(); ++i) {
    const Rule& rule = rules_[i];
    if (rule.hides && !rule.exception && rule.namesNoDomain() &&
        !cancelledEverywhere[rule.selectorId] && !listed[rule.selectorId]) {
      listed[rule.selectorId] = true;
      generic_.push_back(i);
    }
  }
  // Rules of a selector cancelled everywhere never apply: leave them out.
  named.erase(std::remove_if(named.begin(), named.end(),
                             [&](const auto& entry) {
                               const Rule& rule = rules_[entry.second];
                               return !rule.exception &&
                                      cancelledEverywhere[rule.selectorId];
                             }),
              named.end());
  indexByDomain(std::move(named));
  emitted_.assign(selectorIds.size(), 0);
  cancelled_.assign(selectorIds.size(), 0);
}

// The domains written before ## or #@#, separated by ','; excluded ones
// start with '~'. Empty entries name nothing.
void ElementHiding::readDomains(
    const char* domainText, uint32_t position,
    std::vector<std::pair<std::string_view, uint32_t>>* named) {
  std::string_view domains = textOf(domainText, -1);
  while (!domains.empty()) {
    const size_t comma = std::min(domains.find(','), domains.size());
    std::string_view domain = domains.substr(0, comma);
    domains.remove_prefix(std::min(comma + 1, domains.size()));
    const bool excluded = !domain.empty() && domain[0] == '~';
    if (excluded) domain.remove_prefix(1);
    if (domain.empty()) continue;
    hasEntityDomains_ = hasEntityDomains_ || isEntity(domain);
    if (excluded) {
      excluded_.push_back(domain);
    } else {
      named->emplace_back(domain, position);
      rules_[position].namesIncluded = true;
    }
  }
}

void ElementHiding::indexByDomain(
    std::vector<std::pair<std::string_view, uint32_t>> named) {
  std::sort(named.begin(), named.end());
  named.erase(std::unique(named.begin(), named.end()), named.end());
  byDomain_.reserve(named.size());
  for (size_t i = 0; i < named.size();) {
    const std::string_view domain = named[i].first;
    Run run{static_cast<uint32_t>(ruleLists_.size()), 0};
    for (; i < named.size() && named[i].first == domain; ++i) {
      ruleLists_.push_back(named[i].second);
    }
    run.end = static_cast<uint32_t>(ruleLists_.size());
    byDomain_.emplace(domain, run);
  }
}

void ElementHiding::checkPageExceptions(
    const Page& page, const std::set<std::string, std::less<>>& tags,
    bool* noHiding, bool* noGeneric) {
  for (const PageException& exception : pageExceptions_) {
    Filter& rule = *exception.rule;
    if (rule.tagLen > 0 &&
        tags.find(std::string_view(rule.tagText, rule.tagLen)) == tags.end()) {
      continue;
    }
    if (!rule.matches(page.url.c_str(), static_cast<int>(page.url.size()),
                      OptDocument | OptFirstParty, page.hostText.c_str(),
                      nullptr, page.host.data(),
                      static_cast<int>(page.host.size()))) {
      continue;
    }
    if (exception.offAll) {
      *noHiding = true;
      return;
    }
    *noGeneric = true;
  }
}

void ElementHiding::findSiteRules(const Page& page) {
  candidates_.clear();
  auto add = [this](std::string_view domain) {
    const auto found = byDomain_.find(domain);
    if (found == byDomain_.end()) return;
    candidates_.insert(candidates_.end(),
                       ruleLists_.begin() + found->second.begin,
                       ruleLists_.begin() + found->second.end);
  };
  forEachDomainOf(page.host, add);
  if (hasEntityDomains_) {
    forEachDomainOf(page.entityHost, [&](std::string_view name) {
      entityKey_.assign(name.data(), name.size());
      entityKey_ += kEntitySuffix;
      add(entityKey_);
    });
  }
  std::sort(candidates_.begin(), candidates_.end());
  candidates_.erase(std::unique(candidates_.begin(), candidates_.end()),
                    candidates_.end());
}

// For a rule that names no domain the page is under, or names excluded
// domains only.
bool ElementHiding::appliesOn(const Rule& rule, const Page& page) const {
  for (uint32_t i = rule.excluded.begin; i < rule.excluded.end; ++i) {
    if (page.isUnder(excluded_[i])) return false;
  }
  return true;
}

void ElementHiding::emit(uint32_t position,
                         std::vector<std::string_view>* selectors) {
  const Rule& rule = rules_[position];
  if (cancelled_[rule.selectorId] == query_ ||
      emitted_[rule.selectorId] == query_) {
    return;
  }
  emitted_[rule.selectorId] = query_;
  selectors->push_back(rule.selector);
}

std::vector<std::string_view> ElementHiding::selectorsFor(
    std::string_view pageUrl, HidingScope scope,
    const std::set<std::string, std::less<>>& enabledTags) {
  std::vector<std::string_view> selectors;
  if (rules_.empty()) return selectors;
  const Page page(pageUrl);
  bool noHiding = false;
  bool noGeneric = false;
  checkPageExceptions(page, enabledTags, &noHiding, &noGeneric);
  if (noHiding) return selectors;
  if (++query_ == 0) {  // the stamps wrapped: none may look current
    std::fill(emitted_.begin(), emitted_.end(), 0);
    std::fill(cancelled_.begin(), cancelled_.end(), 0);
    query_ = 1;
  }

  findSiteRules(page);
  const bool generic = scope == HidingScope::kAll && !noGeneric;
  // The exceptions first: one cancels its selector wherever it applies.
  auto applies = [&](uint32_t position) {
    return appliesOn(rules_[position], page);
  };
  auto cancelBy = [&](uint32_t position) {
    if (rules_[position].exception && applies(position)) {
      cancelled_[rules_[position].selectorId] = query_;
    }
  };
  for (uint32_t position : candidates_) cancelBy(position);
  for (uint32_t position : excludedOnly_) cancelBy(position);
  // Then the candidates become the site's hiding rules that apply.
  size_t kept = 0;
  for (uint32_t position : candidates_) {
    if (!rules_[position].exception && applies(position)) {
      candidates_[kept++] = position;
    }
  }
  candidates_.resize(kept);
  if (generic) {
    for (uint32_t position : excludedOnly_) {
      if (!rules_[position].exception && applies(position)) {
        candidates_.push_back(position);
      }
    }
    std::sort(candidates_.begin(), candidates_.end());
  }

  if (!generic) {
    for (uint32_t position : candidates_) emit(position, &selectors);
    return selectors;
  }
  selectors.reserve(generic_.size() + candidates_.size());
  auto site = candidates_.begin();
  for (uint32_t position : generic_) {
    for (; site != candidates_.end() && *site < position; ++site) {
      emit(*site, &selectors);
    }
    emit(position, &selectors);
  }
  for (; site != candidates_.end(); ++site) emit(*site, &selectors);
  return selectors;
}

}  // namespace tessul
