// Describes a published filter list: where it comes from and what it is.
// The engine does not use it; applications that manage several lists can.
#ifndef TESSUL_FILTER_FILTER_LIST_H_
#define TESSUL_FILTER_FILTER_LIST_H_

#include <string>
#include <utility>
#include <vector>

namespace tessul {

struct FilterList {
  FilterList(std::string id, std::string url, std::string title,
             std::vector<std::string> languages, std::string homepage,
             std::string license, std::string expires)
      : id(std::move(id)),
        url(std::move(url)),
        title(std::move(title)),
        languages(std::move(languages)),
        homepage(std::move(homepage)),
        license(std::move(license)),
        expires(std::move(expires)) {}

  std::string id;                      // stable identifier chosen by the app
  std::string url;                     // where the list is downloaded from
  std::string title;                   // e.g. "EasyList"
  std::vector<std::string> languages;  // languages of the sites it targets
  std::string homepage;
  std::string license;
  std::string expires;                 // the list's own update period
};

}  // namespace tessul

#endif  // TESSUL_FILTER_FILTER_LIST_H_
