// Request types as the program's users write them: the option keywords of
// the filter syntax that name a kind of resource (script, image, document
// ...). Each stands for one FilterOption bit of the request-type group.
#ifndef TESSUL_CLI_REQUEST_TYPE_H_
#define TESSUL_CLI_REQUEST_TYPE_H_

#include <optional>
#include <string>
#include <string_view>

#include "filter/filter.h"

namespace tessul {
namespace cli {

// The option bit of a request type keyword, compared exactly (the rule
// parser's prefix forms such as "stylesh" are not request types); nullopt
// when the keyword names no request type.
std::optional<FilterOption> requestTypeOption(std::string_view keyword);

// Every keyword, comma-separated, for help texts and error messages.
std::string requestTypeKeywords();

}  // namespace cli
}  // namespace tessul

#endif  // TESSUL_CLI_REQUEST_TYPE_H_
