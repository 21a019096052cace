// Domain lists: the value of a rule's domain= option ("a.test|~b.a.test"),
// or the domains written before ##, #@ or $$.
#ifndef TESSUL_FILTER_DOMAIN_LIST_H_
#define TESSUL_FILTER_DOMAIN_LIST_H_

namespace tessul {

// Calls visit(domain, length, excluded) for every entry of a NUL-terminated
// domain list: the text cut at each '|' and at its end. An entry written
// with a leading '~' is excluded, and the '~' is not part of its domain.
// Empty entries are visited too, so "a.test|" has two.
template <typename Visit>
void forEachListedDomain(const char* text, Visit visit) {
  const char* entry = text;
  for (const char* p = text;; ++p) {
    if (*p != '|' && *p != '\0') continue;
    const bool excluded = p > entry && *entry == '~';
    const char* domain = excluded ? entry + 1 : entry;
    visit(domain, static_cast<int>(p - domain), excluded);
    if (*p == '\0') return;
    entry = p + 1;
  }
}

}  // namespace tessul

#endif  // TESSUL_FILTER_DOMAIN_LIST_H_
